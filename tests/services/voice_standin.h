// A SAPI voice served in the test process under CLSID_SpVoice (CoRegisterClassObject), so the
// library's own CoCreateInstance gets it: it records what it is asked to speak and when it is
// released, and names the voice the test chooses. Wine's voice speaks nothing.
#pragma once

#include <windows.h>
#include <objbase.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace korvix::test {

struct VoiceScript {
    bool refuseCreation = false;  // "no voice on this machine": CreateInstance fails
    bool hasToken = true;         // GetVoice answers a token, or fails
    std::optional<std::wstring> description = L"Stand-in Voice";  // the token's default string
};

struct Utterance {
    std::wstring text;
    DWORD flags;
    bool streamNumberAsked;
};

struct VoiceRecord {
    std::vector<Utterance> spoken;  // by every voice, in order
    int creationRequests = 0;
    int voicesMade = 0;
    int voicesReleased = 0;
    int tokensMade = 0;
    int tokensReleased = 0;
};

// Registered in the calling thread's apartment, which must have begun COM, for its lifetime.
class StandInVoiceClass {
public:
    explicit StandInVoiceClass(VoiceScript script = {});
    ~StandInVoiceClass();
    StandInVoiceClass(const StandInVoiceClass&) = delete;
    StandInVoiceClass& operator=(const StandInVoiceClass&) = delete;

    HRESULT registration() const { return registration_; }
    const VoiceRecord& record() const;

    struct Shared;

private:
    std::shared_ptr<Shared> shared_;
    IClassFactory* factory_;
    DWORD cookie_ = 0;
    HRESULT registration_;
};

}  // namespace korvix::test

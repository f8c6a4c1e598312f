// Reading text aloud with the platform's SAPI voice. One voice serves the whole process: made
// on first use, released by stopSpeaking. Speech is best effort, so no failure is reported.
#include "java_strings.h"

#include <tavro/boundary.h>
#include <tavro/com_support.h>
#include <tavro/process_state.h>

#include <com_vyk_util_jni_Korvix.h>

#include <windows.h>
#include <sapi.h>

#include <string>

namespace korvix {

namespace {

static_assert(CLSCTX_ALL == 23, "the voice may come from any server kind");

struct SpeechState {
    tavro::ComPtr<ISpVoice> voice;
    bool comHeld = false;  // a COM initialisation of our own, begun for the voice
};

// The Java side calls the speech exports from one thread, so the state takes no lock. A voice
// still held when the library unloads is not released there (see ProcessState).
tavro::ProcessState<SpeechState> speechState;

// The process's voice, made when there is none; null when it cannot be made.
ISpVoice* voiceInUse() {
    SpeechState* const made = speechState.get();
    if (!made) return nullptr;
    SpeechState& state = *made;
    if (!state.voice) {
        // S_FALSE (COM already begun on this thread) counts as held too: it also needs its
        // CoUninitialize. Any other failure still lets the voice be tried.
        if (!state.comHeld) state.comHeld = SUCCEEDED(::CoInitialize(nullptr));
        // A failure leaves no voice; the next use tries again.
        ::CoCreateInstance(CLSID_SpVoice, nullptr, CLSCTX_ALL, IID_PPV_ARGS(&state.voice));
    }
    return state.voice.Get();
}

void speak(const std::wstring& text) {
    ISpVoice* const voice = voiceInUse();
    if (!voice) return;
    // Asynchronous unless the text is empty; whether the voice could queue it is not asked.
    voice->Speak(text.c_str(), text.empty() ? 0 : SPF_ASYNC, nullptr);
}

void stopSpeaking() {
    SpeechState* const made = speechState.get();
    if (!made) return;
    SpeechState& state = *made;
    state.voice.Reset();  // releasing the voice ends its speech
    if (state.comHeld) {
        ::CoUninitialize();
        state.comHeld = false;
    }
}

// The voice's display name (its token's default string); empty when there is none.
std::wstring voiceDescription() {
    ISpVoice* const voice = voiceInUse();
    if (!voice) return {};
    tavro::ComPtr<ISpObjectToken> token;
    if (FAILED(voice->GetVoice(&token)) || !token) return {};
    wchar_t* text = nullptr;
    const HRESULT read = token->GetStringValue(nullptr, &text);
    const tavro::CoTaskMemPtr<wchar_t> description(text);
    if (FAILED(read) || !description) return {};
    return description.get();
}

}  // namespace

}  // namespace korvix

extern "C" {

JNIEXPORT void JNICALL Java_com_vyk_util_jni_Korvix_startSpeakingString(JNIEnv* env, jclass, jstring text) {
    tavro::guardBoundary([&] {
        const std::wstring words = korvix::javaStringToWide(env, text);
        // Text the VM could not give is not the empty text: speaking "" would block this thread.
        if (env->ExceptionCheck()) return;
        korvix::speak(words);
    });
}

JNIEXPORT void JNICALL Java_com_vyk_util_jni_Korvix_stopSpeaking(JNIEnv*, jclass) {
    tavro::guardBoundary([] { korvix::stopSpeaking(); });
}

JNIEXPORT jstring JNICALL Java_com_vyk_util_jni_Korvix_getDefaultVoice(JNIEnv* env, jclass) {
    return tavro::guardBoundary<jstring>(nullptr, [&]() -> jstring {
        const std::wstring description = korvix::voiceDescription();
        if (description.empty()) return nullptr;
        return korvix::newStringFromWide(env, description);
    });
}

}  // extern "C"

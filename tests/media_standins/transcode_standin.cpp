// Stand-in mf.dll, the transcode half: a recording transcode profile, a topology made by Wine's
// own MFCreateTopology, and a media session whose events come on Wine's own event queue in a real
// session's order.
#define MEDIA_STANDIN_BUILDING
#include "event_generator.h"
#include "media_records.h"
#include "system_library.h"
#include "transcode_control.h"

#include <mferror.h>
#include <mfidl.h>

#include <cstring>
#include <cwchar>
#include <initializer_list>
#include <sstream>

#include <tavro/com_support.h>
#include <tavro/transcode_profile.h>
#include <tavro/win_handles.h>

using tavro::ComPtr;

namespace standin {

namespace {

std::wstring environmentVariable(const wchar_t* name) {
    const DWORD size = GetEnvironmentVariableW(name, nullptr, 0);
    if (size == 0) return {};
    std::wstring value(size, L'\0');
    const DWORD length = GetEnvironmentVariableW(name, value.data(), size);
    value.resize(length < size ? length : 0);
    return value;
}

// The value of "name=hexadecimal" in a comma-separated list, or S_OK.
HRESULT listedStatus(const wchar_t* variable, const char* name) {
    std::wstringstream list(environmentVariable(variable));
    std::wstring item;
    const std::wstring wanted = std::wstring(name, name + std::strlen(name)) + L"=";
    while (std::getline(list, item, L','))
        if (item.compare(0, wanted.size(), wanted) == 0)
            return HRESULT(std::wcstoul(item.c_str() + wanted.size(), nullptr, 16));
    return S_OK;
}

// Where the stand-in topology keeps its output path.
// {5C1D4A57-0E2B-4C39-9A63-7B1A0C5E2F31}
const GUID kOutputPathKey = {0x5c1d4a57, 0x0e2b, 0x4c39, {0x9a, 0x63, 0x7b, 0x1a, 0x0c, 0x5e, 0x2f, 0x31}};

void recordStore(const char* part, IMFAttributes* attributes) {
    if (!attributes) return;
    for (const AttributeRecord& a : describe(attributes).attributes) recordItem(part, attributeText(a));
}

class RecordedProfile final : public tavro::ComObject<IMFTranscodeProfile> {
public:
    ~RecordedProfile() override { recordItem("profileReleased"); }

    STDMETHODIMP SetAudioAttributes(IMFAttributes* attributes) override {
        return set("SetAudioAttributes", audio_, attributes);
    }
    STDMETHODIMP GetAudioAttributes(IMFAttributes** attributes) override { return get(audio_, attributes); }
    STDMETHODIMP SetVideoAttributes(IMFAttributes* attributes) override {
        return set("SetVideoAttributes", video_, attributes);
    }
    STDMETHODIMP GetVideoAttributes(IMFAttributes** attributes) override { return get(video_, attributes); }
    STDMETHODIMP SetContainerAttributes(IMFAttributes* attributes) override {
        return set("SetContainerAttributes", container_, attributes);
    }
    STDMETHODIMP GetContainerAttributes(IMFAttributes** attributes) override {
        return get(container_, attributes);
    }

    void recordContents() const {
        recordStore("audio", audio_.Get());
        recordStore("video", video_.Get());
        recordStore("container", container_.Get());
    }

private:
    static HRESULT set(const char* call, ComPtr<IMFAttributes>& slot, IMFAttributes* attributes) {
        const HRESULT hr = injectedFailure(call);
        if (SUCCEEDED(hr)) slot = attributes;
        return hr;
    }
    static HRESULT get(const ComPtr<IMFAttributes>& slot, IMFAttributes** attributes) {
        if (!attributes) return E_POINTER;
        *attributes = ComPtr<IMFAttributes>(slot).Detach();
        return *attributes ? S_OK : MF_E_ATTRIBUTENOTFOUND;
    }

    ComPtr<IMFAttributes> audio_;
    ComPtr<IMFAttributes> video_;
    ComPtr<IMFAttributes> container_;
};

class ScriptedSession final : public EventGeneratorObject<IMFMediaSession> {
public:
    explicit ScriptedSession(ComPtr<IMFMediaEventQueue> queue) : EventGeneratorObject(std::move(queue)) {}
    ~ScriptedSession() override { recordItem("sessionReleased"); }

    STDMETHODIMP GetEvent(DWORD flags, IMFMediaEvent** event) override {
        const HRESULT hr = injectedFailure("GetEvent");
        return FAILED(hr) ? hr : EventGeneratorObject::GetEvent(flags, event);
    }

    STDMETHODIMP SetTopology(DWORD flags, IMFTopology* topology) override {
        recordItem("setTopology", hexText(flags));
        HRESULT hr = injectedFailure("SetTopology");
        if (SUCCEEDED(hr) && !topology) hr = E_INVALIDARG;
        UINT32 pathLength = 0;
        if (SUCCEEDED(hr) && FAILED(topology->GetStringLength(kOutputPathKey, &pathLength)))
            hr = MF_E_TOPO_UNSUPPORTED;  // not one of this stand-in's transcode topologies
        if (SUCCEEDED(hr)) {
            topology_ = topology;
            hr = send({{"TopologySet", MESessionTopologySet}, {"TopologyStatus", MESessionTopologyStatus}});
        }
        return hr;
    }
    STDMETHODIMP ClearTopologies() override { return S_OK; }
    STDMETHODIMP Start(const GUID* timeFormat, const PROPVARIANT* position) override {
        recordItem("start", guidText(timeFormat ? *timeFormat : GUID_NULL) + " " +
                                std::to_string(position ? position->vt : -1));
        HRESULT hr = injectedFailure("Start");
        if (SUCCEEDED(hr) && !topology_) hr = MF_E_INVALIDREQUEST;
        if (SUCCEEDED(hr))
            hr = send({{"CapabilitiesChanged", MESessionCapabilitiesChanged}, {"Started", MESessionStarted}});
        if (SUCCEEDED(hr)) hr = writeOutput();
        if (SUCCEEDED(hr)) hr = send({{"EndOfPresentation", MEEndOfPresentation}, {"Ended", MESessionEnded}});
        return hr;
    }
    STDMETHODIMP Pause() override { return MF_E_INVALIDREQUEST; }
    STDMETHODIMP Stop() override { return S_OK; }
    STDMETHODIMP Close() override {
        recordItem("close");
        const HRESULT hr = injectedFailure("Close");
        return FAILED(hr) ? hr : send({{"Closed", MESessionClosed}});
    }
    STDMETHODIMP Shutdown() override {
        recordItem("shutdown");
        shutDownQueue();
        topology_.Reset();
        return injectedFailure("Shutdown");
    }
    STDMETHODIMP GetClock(IMFClock** clock) override {
        if (clock) *clock = nullptr;
        return MF_E_NO_CLOCK;
    }
    STDMETHODIMP GetSessionCapabilities(DWORD* capabilities) override {
        if (!capabilities) return E_POINTER;
        *capabilities = MFSESSIONCAP_START;
        return S_OK;
    }
    STDMETHODIMP GetFullTopology(DWORD, TOPOID, IMFTopology** topology) override {
        if (topology) *topology = nullptr;
        return E_NOTIMPL;
    }

private:
    struct Event {
        const char* name;
        MediaEventType type;
    };

    HRESULT send(std::initializer_list<Event> events) {
        HRESULT hr = S_OK;
        for (const Event& e : events)
            if (SUCCEEDED(hr)) hr = queue_->QueueEventParamVar(e.type, GUID_NULL, eventStatus(e.name), nullptr);
        return hr;
    }

    // The movie appears where the topology's path leads, as the real file sink would create it.
    HRESULT writeOutput() {
        WCHAR* path = nullptr;
        UINT32 length = 0;
        HRESULT hr = topology_->GetAllocatedString(kOutputPathKey, &path, &length);
        if (FAILED(hr)) return hr;
        const tavro::CoTaskMemPtr<WCHAR> owned(path);
        const tavro::UniqueHandle file = tavro::adoptFileHandle(
            CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file) return HRESULT_FROM_WIN32(GetLastError());
        static const char kContent[] = "movie written by the stand-in transcode session\n";
        DWORD written = 0;
        if (!WriteFile(file.get(), kContent, sizeof kContent - 1, &written, nullptr))
            return HRESULT_FROM_WIN32(GetLastError());
        recordItem("outputWritten", utf8(path));
        return S_OK;
    }

    ComPtr<IMFTopology> topology_;
};

}  // namespace

HRESULT injectedFailure(const char* call) { return listedStatus(L"TAVRO_MF_FAIL", call); }

HRESULT eventStatus(const char* event) { return listedStatus(L"TAVRO_MF_EVENT_STATUS", event); }

bool aacTypesWithheld() { return environmentVariable(L"TAVRO_MF_AAC_TYPES") == L"none"; }

// Each item is appended and the file closed at once, so a crash loses nothing recorded before.
void recordItem(const std::string& key, const std::string* value) {
    const std::wstring path = environmentVariable(L"TAVRO_MF_RECORD");
    if (path.empty()) return;
    std::string line = key;
    if (value) line += "=" + *value;
    line += '\n';
    const tavro::UniqueCFile file(_wfopen(path.c_str(), L"ab"));
    if (file) std::fwrite(line.data(), 1, line.size(), file.get());
}

}  // namespace standin

using standin::injectedFailure;
using standin::recordItem;

extern "C" {

HRESULT WINAPI MFCreateTranscodeProfile(IMFTranscodeProfile** profile) {
    recordItem("profileCreated");
    if (!profile) return E_POINTER;
    *profile = nullptr;
    const HRESULT hr = injectedFailure("CreateProfile");
    if (SUCCEEDED(hr)) *profile = new standin::RecordedProfile();
    return hr;
}

HRESULT WINAPI MFCreateTranscodeTopology(IMFMediaSource* source, LPCWSTR outputPath, IMFTranscodeProfile* profile,
                                         IMFTopology** topology) {
    recordItem("topology", standin::utf8(outputPath ? outputPath : L""));
    const auto* recorded = dynamic_cast<const standin::RecordedProfile*>(profile);
    if (recorded) recorded->recordContents();
    if (!topology) return E_POINTER;
    *topology = nullptr;
    HRESULT hr = injectedFailure("CreateTopology");
    if (SUCCEEDED(hr) && (!source || !outputPath || !*outputPath || !recorded)) hr = E_INVALIDARG;

    using CreateTopology = HRESULT(WINAPI*)(IMFTopology**);
    const auto create = standin::systemFunction<CreateTopology>(L"mf.dll", "MFCreateTopology");
    if (SUCCEEDED(hr) && !create) hr = E_NOTIMPL;
    ComPtr<IMFTopology> made;
    if (SUCCEEDED(hr)) hr = create(&made);
    if (SUCCEEDED(hr)) hr = made->SetString(standin::kOutputPathKey, outputPath);
    if (SUCCEEDED(hr)) *topology = made.Detach();
    return hr;
}

HRESULT WINAPI MFCreateMediaSession(IMFAttributes* configuration, IMFMediaSession** session) {
    recordItem("sessionCreated", configuration ? "1" : "0");
    if (!session) return E_POINTER;
    *session = nullptr;
    HRESULT hr = injectedFailure("CreateSession");
    ComPtr<IMFMediaEventQueue> queue;
    if (SUCCEEDED(hr)) hr = MFCreateEventQueue(&queue);
    if (SUCCEEDED(hr)) *session = new standin::ScriptedSession(std::move(queue));
    return hr;
}

}  // extern "C"

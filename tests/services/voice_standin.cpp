#include "voice_standin.h"

#include <tavro/com_support.h>

#include <sapi.h>
#include <sperror.h>

#include <cwchar>

namespace korvix::test {

struct StandInVoiceClass::Shared {
    VoiceScript script;
    VoiceRecord record;
};

namespace {

using Shared = StandInVoiceClass::Shared;

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"

// A voice token whose only answer is its default string.
class StandInToken final : public tavro::ComObject<ISpObjectToken> {
public:
    explicit StandInToken(std::shared_ptr<Shared> shared) : shared_(std::move(shared)) { ++shared_->record.tokensMade; }
    ~StandInToken() override { ++shared_->record.tokensReleased; }

    STDMETHODIMP GetStringValue(LPCWSTR valueName, LPWSTR* value) override {
        if (!value) return E_POINTER;
        *value = nullptr;
        const std::optional<std::wstring>& description = shared_->script.description;
        if ((valueName && *valueName) || !description) return SPERR_NOT_FOUND;
        const std::size_t bytes = (description->size() + 1) * sizeof(wchar_t);
        *value = static_cast<LPWSTR>(::CoTaskMemAlloc(bytes));
        if (!*value) return E_OUTOFMEMORY;
        std::wmemcpy(*value, description->c_str(), description->size() + 1);
        return S_OK;
    }

    // ISpDataKey
    STDMETHODIMP SetData(LPCWSTR, ULONG, const BYTE*) override { return E_NOTIMPL; }
    STDMETHODIMP GetData(LPCWSTR, ULONG*, BYTE*) override { return E_NOTIMPL; }
    STDMETHODIMP SetStringValue(LPCWSTR, LPCWSTR) override { return E_NOTIMPL; }
    STDMETHODIMP SetDWORD(LPCWSTR, DWORD) override { return E_NOTIMPL; }
    STDMETHODIMP GetDWORD(LPCWSTR, DWORD*) override { return E_NOTIMPL; }
    STDMETHODIMP OpenKey(LPCWSTR, ISpDataKey**) override { return E_NOTIMPL; }
    STDMETHODIMP CreateKey(LPCWSTR, ISpDataKey**) override { return E_NOTIMPL; }
    STDMETHODIMP DeleteKey(LPCWSTR) override { return E_NOTIMPL; }
    STDMETHODIMP DeleteValue(LPCWSTR) override { return E_NOTIMPL; }
    STDMETHODIMP EnumKeys(ULONG, LPWSTR*) override { return E_NOTIMPL; }
    STDMETHODIMP EnumValues(ULONG, LPWSTR*) override { return E_NOTIMPL; }
    // ISpObjectToken
    STDMETHODIMP SetId(LPCWSTR, LPCWSTR, BOOL) override { return E_NOTIMPL; }
    STDMETHODIMP GetId(LPWSTR*) override { return E_NOTIMPL; }
    STDMETHODIMP GetCategory(ISpObjectTokenCategory**) override { return E_NOTIMPL; }
    STDMETHODIMP CreateInstance(IUnknown*, DWORD, REFIID, void**) override { return E_NOTIMPL; }
    STDMETHODIMP GetStorageFileName(REFCLSID, LPCWSTR, LPCWSTR, ULONG, LPWSTR*) override { return E_NOTIMPL; }
    STDMETHODIMP RemoveStorageFileName(REFCLSID, LPCWSTR, BOOL) override { return E_NOTIMPL; }
    STDMETHODIMP Remove(const CLSID*) override { return E_NOTIMPL; }
    STDMETHODIMP IsUISupported(LPCWSTR, void*, ULONG, IUnknown*, BOOL*) override { return E_NOTIMPL; }
    STDMETHODIMP DisplayUI(HWND, LPCWSTR, LPCWSTR, void*, ULONG, IUnknown*) override { return E_NOTIMPL; }
    STDMETHODIMP MatchesAttributes(LPCWSTR, BOOL*) override { return E_NOTIMPL; }

private:
    std::shared_ptr<Shared> shared_;
};

class StandInVoice final : public tavro::ComObject<ISpVoice> {
public:
    explicit StandInVoice(std::shared_ptr<Shared> shared) : shared_(std::move(shared)) { ++shared_->record.voicesMade; }
    ~StandInVoice() override { ++shared_->record.voicesReleased; }

    STDMETHODIMP Speak(LPCWSTR text, DWORD flags, ULONG* streamNumber) override {
        shared_->record.spoken.push_back({text ? text : L"", flags, streamNumber != nullptr});
        return S_OK;
    }
    STDMETHODIMP GetVoice(ISpObjectToken** token) override {
        if (!token) return E_POINTER;
        *token = shared_->script.hasToken ? new StandInToken(shared_) : nullptr;
        return *token ? S_OK : SPERR_NOT_FOUND;
    }

    // ISpNotifySource
    STDMETHODIMP SetNotifySink(ISpNotifySink*) override { return E_NOTIMPL; }
    STDMETHODIMP SetNotifyWindowMessage(HWND, UINT, WPARAM, LPARAM) override { return E_NOTIMPL; }
    STDMETHODIMP SetNotifyCallbackFunction(SPNOTIFYCALLBACK*, WPARAM, LPARAM) override { return E_NOTIMPL; }
    STDMETHODIMP SetNotifyCallbackInterface(ISpNotifyCallback*, WPARAM, LPARAM) override { return E_NOTIMPL; }
    STDMETHODIMP SetNotifyWin32Event() override { return E_NOTIMPL; }
    STDMETHODIMP WaitForNotifyEvent(DWORD) override { return E_NOTIMPL; }
    STDMETHODIMP_(HANDLE) GetNotifyEventHandle() override { return nullptr; }
    // ISpEventSource
    STDMETHODIMP SetInterest(ULONGLONG, ULONGLONG) override { return E_NOTIMPL; }
    STDMETHODIMP GetEvents(ULONG, SPEVENT*, ULONG*) override { return E_NOTIMPL; }
    STDMETHODIMP GetInfo(SPEVENTSOURCEINFO*) override { return E_NOTIMPL; }
    // ISpVoice
    STDMETHODIMP SetOutput(IUnknown*, BOOL) override { return E_NOTIMPL; }
    STDMETHODIMP GetOutputObjectToken(ISpObjectToken**) override { return E_NOTIMPL; }
    STDMETHODIMP GetOutputStream(ISpStreamFormat**) override { return E_NOTIMPL; }
    STDMETHODIMP Pause() override { return E_NOTIMPL; }
    STDMETHODIMP Resume() override { return E_NOTIMPL; }
    STDMETHODIMP SetVoice(ISpObjectToken*) override { return E_NOTIMPL; }
    STDMETHODIMP SpeakStream(IStream*, DWORD, ULONG*) override { return E_NOTIMPL; }
    STDMETHODIMP GetStatus(SPVOICESTATUS*, LPWSTR*) override { return E_NOTIMPL; }
    STDMETHODIMP Skip(LPCWSTR, LONG, ULONG*) override { return E_NOTIMPL; }
    STDMETHODIMP SetPriority(SPVPRIORITY) override { return E_NOTIMPL; }
    STDMETHODIMP GetPriority(SPVPRIORITY*) override { return E_NOTIMPL; }
    STDMETHODIMP SetAlertBoundary(SPEVENTENUM) override { return E_NOTIMPL; }
    STDMETHODIMP GetAlertBoundary(SPEVENTENUM*) override { return E_NOTIMPL; }
    STDMETHODIMP SetRate(LONG) override { return E_NOTIMPL; }
    STDMETHODIMP GetRate(LONG*) override { return E_NOTIMPL; }
    STDMETHODIMP SetVolume(USHORT) override { return E_NOTIMPL; }
    STDMETHODIMP GetVolume(USHORT*) override { return E_NOTIMPL; }
    STDMETHODIMP WaitUntilDone(ULONG) override { return E_NOTIMPL; }
    STDMETHODIMP SetSyncSpeakTimeout(ULONG) override { return E_NOTIMPL; }
    STDMETHODIMP GetSyncSpeakTimeout(ULONG*) override { return E_NOTIMPL; }
    STDMETHODIMP_(HANDLE) SpeakCompleteEvent() override { return nullptr; }
    STDMETHODIMP IsUISupported(LPCWSTR, void*, ULONG, BOOL*) override { return E_NOTIMPL; }
    STDMETHODIMP DisplayUI(HWND, LPCWSTR, LPCWSTR, void*, ULONG) override { return E_NOTIMPL; }

private:
    std::shared_ptr<Shared> shared_;
};

class VoiceFactory final : public tavro::ComObject<IClassFactory> {
public:
    explicit VoiceFactory(std::shared_ptr<Shared> shared) : shared_(std::move(shared)) {}

    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** object) override {
        if (!object) return E_POINTER;
        *object = nullptr;
        ++shared_->record.creationRequests;
        if (outer) return CLASS_E_NOAGGREGATION;
        if (shared_->script.refuseCreation) return REGDB_E_CLASSNOTREG;
        auto* voice = new StandInVoice(shared_);
        const HRESULT answer = voice->QueryInterface(riid, object);
        voice->Release();
        return answer;
    }
    STDMETHODIMP LockServer(BOOL) override { return S_OK; }

private:
    std::shared_ptr<Shared> shared_;
};

#pragma GCC diagnostic pop

}  // namespace

StandInVoiceClass::StandInVoiceClass(VoiceScript script)
    : shared_(std::make_shared<Shared>(Shared{std::move(script), {}})), factory_(new VoiceFactory(shared_)) {
    registration_ = ::CoRegisterClassObject(CLSID_SpVoice, factory_, CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, &cookie_);
}

StandInVoiceClass::~StandInVoiceClass() {
    if (SUCCEEDED(registration_)) ::CoRevokeClassObject(cookie_);
    factory_->Release();
}

const VoiceRecord& StandInVoiceClass::record() const {
    return shared_->record;
}

}  // namespace korvix::test

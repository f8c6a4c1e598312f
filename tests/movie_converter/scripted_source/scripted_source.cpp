// The scripted byte-stream handler and its media source (see scripted_source.h).
#include "scripted_source.h"

#include <windows.h>
#include <mfapi.h>
#include <mferror.h>
#include <mfidl.h>

#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include <tavro/com_support.h>

#include "event_generator.h"

using tavro::ComPtr;

// The interface Media Foundation's source resolver asks a registered handler for; mingw-w64's
// mfidl.h lacks it.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"
struct IMFByteStreamHandler : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE BeginCreateObject(IMFByteStream* stream, LPCWSTR url, DWORD flags,
                                                        IPropertyStore* properties, IUnknown** cancelCookie,
                                                        IMFAsyncCallback* callback, IUnknown* state) = 0;
    virtual HRESULT STDMETHODCALLTYPE EndCreateObject(IMFAsyncResult* result, MF_OBJECT_TYPE* type,
                                                      IUnknown** object) = 0;
    virtual HRESULT STDMETHODCALLTYPE CancelObjectCreation(IUnknown* cancelCookie) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetMaxNumberOfBytesRequiredForResolution(QWORD* bytes) = 0;
};
#pragma GCC diagnostic pop
// {BB420AA4-765B-4A1F-91FE-D6A8A143924C}
__CRT_UUID_DECL(IMFByteStreamHandler, 0xbb420aa4, 0x765b, 0x4a1f, 0x91, 0xfe, 0xd6, 0xa8, 0xa1, 0x43, 0x92, 0x4c)

namespace {

UINT64 pack(UINT32 high, UINT32 low) { return (UINT64{high} << 32) | low; }

HRESULT videoType(std::istringstream& line, ComPtr<IMFMediaType>& type) {
    UINT32 width = 0, height = 0, rateNum = 0, rateDen = 0, aspectNum = 0, aspectDen = 0;
    line >> width >> height >> rateNum >> rateDen >> aspectNum >> aspectDen;
    HRESULT hr = MFCreateMediaType(&type);
    if (SUCCEEDED(hr)) hr = type->SetGUID(MF_MT_MAJOR_TYPE, MFMediaType_Video);
    if (SUCCEEDED(hr)) hr = type->SetGUID(MF_MT_SUBTYPE, MFVideoFormat_RGB24);
    if (SUCCEEDED(hr) && width) hr = type->SetUINT64(MF_MT_FRAME_SIZE, pack(width, height));
    if (SUCCEEDED(hr) && rateNum) hr = type->SetUINT64(MF_MT_FRAME_RATE, pack(rateNum, rateDen));
    if (SUCCEEDED(hr) && aspectNum) hr = type->SetUINT64(MF_MT_PIXEL_ASPECT_RATIO, pack(aspectNum, aspectDen));
    return hr;
}

HRESULT audioType(ComPtr<IMFMediaType>& type) {
    HRESULT hr = MFCreateMediaType(&type);
    if (SUCCEEDED(hr)) hr = type->SetGUID(MF_MT_MAJOR_TYPE, MFMediaType_Audio);
    if (SUCCEEDED(hr)) hr = type->SetGUID(MF_MT_SUBTYPE, MFAudioFormat_PCM);
    if (SUCCEEDED(hr)) hr = type->SetUINT32(MF_MT_AUDIO_NUM_CHANNELS, 1);
    if (SUCCEEDED(hr)) hr = type->SetUINT32(MF_MT_AUDIO_SAMPLES_PER_SECOND, 8000);
    if (SUCCEEDED(hr)) hr = type->SetUINT32(MF_MT_AUDIO_BITS_PER_SAMPLE, 16);
    return hr;
}

// The presentation the script describes, and what the source's Shutdown answers.
HRESULT presentationFrom(const std::string& script, ComPtr<IMFPresentationDescriptor>& presentation,
                         HRESULT& shutdownAnswer) {
    std::vector<ComPtr<IMFStreamDescriptor>> streams;
    std::vector<bool> selected;
    std::istringstream lines(script);
    HRESULT hr = S_OK;
    for (std::string text; SUCCEEDED(hr) && std::getline(lines, text);) {
        std::istringstream line(text);
        std::string kind;
        if (!(line >> kind)) continue;
        if (kind == "shutdown") {
            std::string answer;
            line >> answer;
            shutdownAnswer = HRESULT(std::strtoul(answer.c_str(), nullptr, 16));
            continue;
        }
        int isSelected = 0;
        if (!(line >> isSelected)) continue;
        ComPtr<IMFMediaType> type;
        if (kind == "audio") {
            hr = audioType(type);
        } else if (kind == "video" || kind == "untyped") {
            hr = videoType(line, type);
        } else {
            hr = E_INVALIDARG;
        }
        ComPtr<IMFStreamDescriptor> stream;
        IMFMediaType* types[] = {type.Get()};
        if (SUCCEEDED(hr)) hr = MFCreateStreamDescriptor(DWORD(streams.size() + 1), 1, types, &stream);
        ComPtr<IMFMediaTypeHandler> handler;
        if (SUCCEEDED(hr) && kind != "untyped") hr = stream->GetMediaTypeHandler(&handler);
        if (SUCCEEDED(hr) && handler) hr = handler->SetCurrentMediaType(type.Get());
        if (SUCCEEDED(hr)) {
            streams.push_back(stream);
            selected.push_back(isSelected != 0);
        }
    }
    std::vector<IMFStreamDescriptor*> list;
    for (const auto& stream : streams) list.push_back(stream.Get());
    if (SUCCEEDED(hr)) hr = MFCreatePresentationDescriptor(DWORD(list.size()), list.data(), &presentation);
    for (DWORD i = 0; SUCCEEDED(hr) && i < selected.size(); ++i)
        hr = selected[i] ? presentation->SelectStream(i) : presentation->DeselectStream(i);
    return hr;
}

// A source that presents its streams and never delivers a sample (the converter's stand-in
// session does not start it).
class ScriptedSource final : public standin::EventGeneratorObject<IMFMediaSource> {
public:
    ScriptedSource(ComPtr<IMFMediaEventQueue> queue, ComPtr<IMFPresentationDescriptor> presentation,
                   HRESULT shutdownAnswer)
        : EventGeneratorObject(std::move(queue)),
          presentation_(std::move(presentation)),
          shutdownAnswer_(shutdownAnswer) {}

    STDMETHODIMP GetCharacteristics(DWORD* characteristics) override {
        if (!characteristics) return E_POINTER;
        *characteristics = 0;
        return isShutDown() ? MF_E_SHUTDOWN : S_OK;
    }
    STDMETHODIMP CreatePresentationDescriptor(IMFPresentationDescriptor** presentation) override {
        if (!presentation) return E_POINTER;
        *presentation = nullptr;
        return isShutDown() ? MF_E_SHUTDOWN : presentation_->Clone(presentation);
    }
    STDMETHODIMP Start(IMFPresentationDescriptor*, const GUID*, const PROPVARIANT*) override { return E_NOTIMPL; }
    STDMETHODIMP Stop() override { return E_NOTIMPL; }
    STDMETHODIMP Pause() override { return E_NOTIMPL; }
    STDMETHODIMP Shutdown() override { return shutDownQueue() ? shutdownAnswer_ : MF_E_SHUTDOWN; }

private:
    ComPtr<IMFPresentationDescriptor> presentation_;
    HRESULT shutdownAnswer_;
};

HRESULT readAll(IMFByteStream* stream, std::string& bytes) {
    QWORD length = 0;
    HRESULT hr = stream->GetLength(&length);
    if (SUCCEEDED(hr) && length > 65536) hr = E_INVALIDARG;
    if (SUCCEEDED(hr)) bytes.resize(size_t(length));
    ULONG read = 0;
    if (SUCCEEDED(hr) && length) hr = stream->Read(reinterpret_cast<BYTE*>(bytes.data()), ULONG(length), &read);
    if (SUCCEEDED(hr)) bytes.resize(read);
    return hr;
}

class ScriptedSourceHandler final : public tavro::ComObject<IMFByteStreamHandler> {
public:
    STDMETHODIMP BeginCreateObject(IMFByteStream* stream, LPCWSTR, DWORD flags, IPropertyStore*, IUnknown** cancel,
                                   IMFAsyncCallback* callback, IUnknown* state) override {
        if (cancel) *cancel = nullptr;
        if (!stream || !callback) return E_INVALIDARG;
        if (!(flags & MF_RESOLUTION_MEDIASOURCE)) return MF_E_UNSUPPORTED_BYTESTREAM_TYPE;
        std::string script;
        ComPtr<IMFPresentationDescriptor> presentation;
        HRESULT shutdownAnswer = S_OK;
        ComPtr<IMFMediaEventQueue> queue;
        HRESULT hr = readAll(stream, script);
        if (SUCCEEDED(hr)) hr = presentationFrom(script, presentation, shutdownAnswer);
        if (SUCCEEDED(hr)) hr = MFCreateEventQueue(&queue);
        ComPtr<IMFMediaSource> source;
        if (SUCCEEDED(hr)) source.Attach(new ScriptedSource(queue, presentation, shutdownAnswer));
        ComPtr<IMFAsyncResult> result;
        if (SUCCEEDED(hr)) hr = MFCreateAsyncResult(source.Get(), callback, state, &result);
        if (SUCCEEDED(hr)) hr = MFInvokeCallback(result.Get());
        return hr;
    }
    STDMETHODIMP EndCreateObject(IMFAsyncResult* result, MF_OBJECT_TYPE* type, IUnknown** object) override {
        if (!result || !type || !object) return E_POINTER;
        *type = MF_OBJECT_INVALID;
        *object = nullptr;
        HRESULT hr = result->GetStatus();
        if (SUCCEEDED(hr)) hr = result->GetObject(object);
        if (SUCCEEDED(hr)) *type = MF_OBJECT_MEDIASOURCE;
        return hr;
    }
    STDMETHODIMP CancelObjectCreation(IUnknown*) override { return E_NOTIMPL; }
    STDMETHODIMP GetMaxNumberOfBytesRequiredForResolution(QWORD* bytes) override {
        if (!bytes) return E_POINTER;
        *bytes = 0;
        return S_OK;
    }
};

class HandlerFactory final : public tavro::ComObject<IClassFactory> {
public:
    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** object) override {
        if (!object) return E_POINTER;
        *object = nullptr;
        if (outer) return CLASS_E_NOAGGREGATION;
        ComPtr<IMFByteStreamHandler> handler;
        handler.Attach(new ScriptedSourceHandler());
        return handler->QueryInterface(riid, object);
    }
    STDMETHODIMP LockServer(BOOL) override { return S_OK; }
};

}  // namespace

extern "C" HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID clsid, REFIID riid, void** object) {
    if (!object) return E_POINTER;
    *object = nullptr;
    if (!IsEqualCLSID(clsid, kScriptedSourceHandlerClsid)) return CLASS_E_CLASSNOTAVAILABLE;
    ComPtr<IClassFactory> factory;
    factory.Attach(new HandlerFactory());
    return factory->QueryInterface(riid, object);
}

// Stays loaded: sources it made may outlive every reference COM counts.
extern "C" HRESULT STDAPICALLTYPE DllCanUnloadNow() { return S_FALSE; }

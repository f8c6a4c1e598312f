#include "WMFConverter.h"

#include <cassert>

#include "converter_output.h"

using tavro::ComPtr;

namespace {

static_assert(MFT_ENUM_FLAG_ALL == 0x3F, "every kind of encoder may offer an AAC output type");

constexpr UINT32 kVideoBitRate = 300'000;
// MF_TRANSCODE_ADJUST_PROFILE_DEFAULT, which mingw-w64's headers lack: the topology builder may
// adjust the profile to what the encoders accept.
constexpr UINT32 kDefaultProfileAdjustment = 0;

// A frame size, frame rate or pixel aspect ratio: width or numerator in the high 32 bits.
struct Ratio {
    UINT32 high;
    UINT32 low;
    UINT64 packed() const { return (UINT64{high} << 32) | low; }
};

// Replaces the value only when the type carries the attribute.
void readRatio(IMFMediaType* type, REFGUID key, Ratio& value) {
    UINT64 packed = 0;
    if (SUCCEEDED(type->GetUINT64(key, &packed))) value = {UINT32(packed >> 32), UINT32(packed)};
}

struct VideoFormat {
    Ratio frameSize{320, 240};
    Ratio frameRate{30, 1};
    Ratio pixelAspectRatio{1, 1};
};

// The values of the first selected stream's current type where it has them. A presentation
// without streams, or a stream without a type, is ordinary (if unusable) input: it fails the
// conversion like any other step.
HRESULT readInputFormat(IMFMediaSource* source, VideoFormat& format) {
    ComPtr<IMFPresentationDescriptor> pPresentationDescriptor;
    HRESULT hr = source->CreatePresentationDescriptor(&pPresentationDescriptor);
    if (SUCCEEDED(hr) && !pPresentationDescriptor) hr = E_POINTER;
    DWORD dwDescriptorCount = 0;
    if (SUCCEEDED(hr)) hr = pPresentationDescriptor->GetStreamDescriptorCount(&dwDescriptorCount);
    if (SUCCEEDED(hr) && dwDescriptorCount == 0) hr = MF_E_INVALIDSTREAMNUMBER;

    bool sizeFound = false;
    for (DWORD index = 0; SUCCEEDED(hr) && !sizeFound && index < dwDescriptorCount; ++index) {
        BOOL selected = FALSE;
        ComPtr<IMFStreamDescriptor> pDescriptor;
        hr = pPresentationDescriptor->GetStreamDescriptorByIndex(index, &selected, &pDescriptor);
        if (SUCCEEDED(hr) && !pDescriptor) hr = E_POINTER;
        if (FAILED(hr) || !selected) continue;

        ComPtr<IMFMediaTypeHandler> pMediaTypeHandler;
        hr = pDescriptor->GetMediaTypeHandler(&pMediaTypeHandler);
        if (SUCCEEDED(hr) && !pMediaTypeHandler) hr = E_POINTER;
        ComPtr<IMFMediaType> pMediaType;
        if (SUCCEEDED(hr)) hr = pMediaTypeHandler->GetCurrentMediaType(&pMediaType);
        if (SUCCEEDED(hr) && !pMediaType) hr = E_POINTER;
        if (SUCCEEDED(hr)) {
            readRatio(pMediaType.Get(), MF_MT_FRAME_SIZE, format.frameSize);
            readRatio(pMediaType.Get(), MF_MT_FRAME_RATE, format.frameRate);
            readRatio(pMediaType.Get(), MF_MT_PIXEL_ASPECT_RATIO, format.pixelAspectRatio);
            // The defaults count as a size: the walk ends here whatever the stream's kind.
            sizeFound = format.frameSize.high != 0 && format.frameSize.low != 0;
        }
    }
    return hr;
}

}  // namespace

WMFConverter::~WMFConverter() { shutdownAll(); }

HRESULT WMFConverter::createSourceFromUrl(const wchar_t* path, IMFMediaSource** source) {
    if (!path) return E_INVALIDARG;
    if (!source) return E_POINTER;
    *source = nullptr;
    ComPtr<IMFSourceResolver> resolver;
    HRESULT hr = MFCreateSourceResolver(&resolver);
    MF_OBJECT_TYPE objectType = MF_OBJECT_INVALID;
    ComPtr<IUnknown> object;
    if (SUCCEEDED(hr))
        hr = resolver->CreateObjectFromURL(path, MF_RESOLUTION_MEDIASOURCE, nullptr, &objectType, &object);
    if (SUCCEEDED(hr)) hr = object->QueryInterface(IID_PPV_ARGS(source));
    return hr;
}

HRESULT WMFConverter::openInput(const wchar_t* inputPath) {
    if (!inputPath) return E_INVALIDARG;
    HRESULT hr = createSourceFromUrl(inputPath, &m_pSource);
    if (SUCCEEDED(hr)) hr = MFCreateMediaSession(nullptr, &m_pSession);
    if (SUCCEEDED(hr)) hr = MFCreateTranscodeProfile(&m_pProfile);
    return hr;
}

HRESULT WMFConverter::selectAudioFormat() {
    assert(m_pProfile);
    ComPtr<IMFCollection> availableTypes;
    HRESULT hr = MFTranscodeGetAudioOutputAvailableTypes(MFAudioFormat_AAC, MFT_ENUM_FLAG_ALL, nullptr,
                                                         &availableTypes);
    DWORD count = 0;
    if (SUCCEEDED(hr)) hr = availableTypes->GetElementCount(&count);
    if (SUCCEEDED(hr) && count == 0) {
        hr = E_UNEXPECTED;
        reelshift::printUnexpectedElementCount(count);
    }
    ComPtr<IUnknown> element;
    if (SUCCEEDED(hr)) hr = availableTypes->GetElement(0, &element);
    ComPtr<IMFMediaType> firstType;
    if (SUCCEEDED(hr)) hr = element.As(&firstType);
    ComPtr<IMFAttributes> audio;
    if (SUCCEEDED(hr)) hr = MFCreateAttributes(&audio, 0);
    if (SUCCEEDED(hr)) hr = firstType->CopyAllItems(audio.Get());
    if (SUCCEEDED(hr)) hr = audio->SetGUID(MF_MT_SUBTYPE, MFAudioFormat_AAC);
    if (SUCCEEDED(hr)) hr = m_pProfile->SetAudioAttributes(audio.Get());
    return hr;
}

HRESULT WMFConverter::selectVideoFormat() {
    assert(m_pProfile);
    VideoFormat format;
    HRESULT hr = readInputFormat(m_pSource.Get(), format);
    ComPtr<IMFAttributes> video;
    if (SUCCEEDED(hr)) hr = MFCreateAttributes(&video, 5);
    if (SUCCEEDED(hr)) hr = video->SetGUID(MF_MT_SUBTYPE, MFVideoFormat_H264);
    if (SUCCEEDED(hr)) hr = video->SetUINT64(MF_MT_FRAME_RATE, format.frameRate.packed());
    if (SUCCEEDED(hr)) hr = video->SetUINT64(MF_MT_FRAME_SIZE, format.frameSize.packed());
    if (SUCCEEDED(hr)) hr = video->SetUINT64(MF_MT_PIXEL_ASPECT_RATIO, format.pixelAspectRatio.packed());
    if (SUCCEEDED(hr)) hr = video->SetUINT32(MF_MT_AVG_BITRATE, kVideoBitRate);
    if (SUCCEEDED(hr)) hr = m_pProfile->SetVideoAttributes(video.Get());
    return hr;
}

HRESULT WMFConverter::selectContainer() {
    assert(m_pProfile);
    ComPtr<IMFAttributes> container;
    HRESULT hr = MFCreateAttributes(&container, 2);
    if (SUCCEEDED(hr)) hr = container->SetGUID(MF_TRANSCODE_CONTAINERTYPE, MFTranscodeContainerType_MPEG4);
    if (SUCCEEDED(hr)) hr = container->SetUINT32(MF_TRANSCODE_ADJUST_PROFILE, kDefaultProfileAdjustment);
    if (SUCCEEDED(hr)) hr = m_pProfile->SetContainerAttributes(container.Get());
    return hr;
}

HRESULT WMFConverter::writeOutput(const wchar_t* outputPath) {
    if (!outputPath) return E_INVALIDARG;
    assert(m_pProfile && m_pSession && m_pSource);
    HRESULT hr = MFCreateTranscodeTopology(m_pSource.Get(), outputPath, m_pProfile.Get(), &m_pTopology);
    if (SUCCEEDED(hr)) hr = m_pSession->SetTopology(0, m_pTopology.Get());
    if (SUCCEEDED(hr)) hr = pumpSessionEvents();
    return hr;
}

HRESULT WMFConverter::pumpSessionEvents() {
    assert(m_pSession);
    MediaEventType type = MEUnknown;
    HRESULT hr = S_OK;
    while (type != MESessionClosed) {
        ComPtr<IMFMediaEvent> event;
        hr = m_pSession->GetEvent(0, &event);
        if (SUCCEEDED(hr)) hr = event->GetType(&type);
        HRESULT status = S_OK;
        if (SUCCEEDED(hr)) hr = event->GetStatus(&status);
        if (FAILED(hr)) break;
        if (FAILED(status)) {
            reelshift::printEventFailure(status);
            hr = status;
            break;
        }
        if (type == MESessionTopologySet) {
            hr = startSession();
        } else if (type == MESessionEnded) {
            hr = m_pSession->Close();
        }
        if (FAILED(hr)) break;
    }
    return hr;
}

HRESULT WMFConverter::startSession() {
    assert(m_pSession);
    PROPVARIANT fromTheBeginning;
    PropVariantInit(&fromTheBeginning);
    const HRESULT hr = m_pSession->Start(&GUID_NULL, &fromTheBeginning);
    if (FAILED(hr)) reelshift::printStartFailure();
    return hr;
}

HRESULT WMFConverter::shutdownAll() {
    HRESULT hr = S_OK;
    if (m_pSource) hr = m_pSource->Shutdown();
    if (SUCCEEDED(hr) && m_pSession) hr = m_pSession->Shutdown();
    if (FAILED(hr)) reelshift::printCloseFailure();
    return hr;
}

// Stand-in mf.dll: the AAC output types a test chooses (Wine's own function aborts the process).
#define MEDIA_STANDIN_BUILDING
#include "mf_standin.h"
#include "transcode_control.h"

#include <vector>

#include <tavro/com_support.h>

using tavro::ComPtr;

namespace {

// The AAC encoder's documented output types: 16-bit, 1 or 2 channels, 44100 or 48000 Hz,
// 12000, 16000, 20000 or 24000 bytes per second.
std::vector<standin::AacTypeSpec> documentedTypes() {
    std::vector<standin::AacTypeSpec> types;
    for (UINT32 channels : {1u, 2u})
        for (UINT32 rate : {44100u, 48000u})
            for (UINT32 bytes : {12000u, 16000u, 20000u, 24000u}) types.push_back({channels, rate, bytes, false});
    return types;
}

std::vector<standin::AacTypeSpec> offered = documentedTypes();
HRESULT failure = S_OK;
standin::AacQueryRecord query;

HRESULT makeType(const standin::AacTypeSpec& offer, ComPtr<IUnknown>& element) {
    if (offer.notAMediaType) {
        ComPtr<IMFAttributes> other;
        HRESULT hr = MFCreateAttributes(&other, 1);
        if (SUCCEEDED(hr)) hr = other.As(&element);
        return hr;
    }
    ComPtr<IMFMediaType> type;
    HRESULT hr = MFCreateMediaType(&type);
    if (SUCCEEDED(hr)) hr = type->SetGUID(MF_MT_MAJOR_TYPE, MFMediaType_Audio);
    if (SUCCEEDED(hr)) hr = type->SetGUID(MF_MT_SUBTYPE, MFAudioFormat_AAC);
    if (SUCCEEDED(hr)) hr = type->SetUINT32(MF_MT_AUDIO_BITS_PER_SAMPLE, 16);
    if (SUCCEEDED(hr) && offer.samplesPerSecond)
        hr = type->SetUINT32(MF_MT_AUDIO_SAMPLES_PER_SECOND, offer.samplesPerSecond);
    if (SUCCEEDED(hr) && offer.channels) hr = type->SetUINT32(MF_MT_AUDIO_NUM_CHANNELS, offer.channels);
    if (SUCCEEDED(hr) && offer.bytesPerSecond)
        hr = type->SetUINT32(MF_MT_AUDIO_AVG_BYTES_PER_SECOND, offer.bytesPerSecond);
    if (SUCCEEDED(hr)) hr = type->SetUINT32(MF_MT_AUDIO_BLOCK_ALIGNMENT, 1);
    if (SUCCEEDED(hr)) hr = type->SetUINT32(MF_MT_AAC_PAYLOAD_TYPE, 0);
    if (SUCCEEDED(hr)) hr = type.As(&element);
    return hr;
}

}  // namespace

extern "C" {

void StandInAacSetTypes(const standin::AacTypeSpec* types, UINT32 count) {
    offered.assign(types, types + count);
}

void StandInAacUseDocumentedTypes() {
    offered = documentedTypes();
    failure = S_OK;
    query = {};
}

void StandInAacFail(HRESULT hr) { failure = hr; }

standin::AacQueryRecord* StandInAacRecord() { return &query; }

HRESULT WINAPI MFTranscodeGetAudioOutputAvailableTypes(REFGUID subtype, DWORD flags, IMFAttributes* configuration,
                                                       IMFCollection** types) {
    ++query.calls;
    query.subtype = subtype;
    query.flags = flags;
    query.configurationGiven = configuration != nullptr;
    standin::recordItem("audioTypes", standin::guidText(subtype) + " " + standin::hexText(flags) + " " +
                                          (configuration ? "1" : "0"));
    if (!types) return E_POINTER;
    *types = nullptr;
    if (FAILED(failure)) return failure;
    if (const HRESULT forced = standin::injectedFailure("AudioTypes"); FAILED(forced)) return forced;

    ComPtr<IMFCollection> list;
    HRESULT hr = MFCreateCollection(&list);
    for (const auto& offer : standin::aacTypesWithheld() ? std::vector<standin::AacTypeSpec>{} : offered) {
        ComPtr<IUnknown> element;
        if (SUCCEEDED(hr)) hr = makeType(offer, element);
        if (SUCCEEDED(hr)) hr = list->AddElement(element.Get());
    }
    if (SUCCEEDED(hr)) *types = list.Detach();
    return hr;
}

}  // extern "C"

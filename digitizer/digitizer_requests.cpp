#include "digitizer_requests.h"

#include <cstring>

#include <quicktime/digitizer_binding.h>
#include <tavro/boundary.h>

#include "capture_digitizer.h"
#include "digitizer_settings.h"
#include "error_box.h"

namespace pramble {

namespace qt = quicktime::digitizer;
using quicktime::ComponentResult;

namespace {

constexpr OSErr kOutOfOrder = -2209;
constexpr quicktime::TimeScale kDeliveryScale = 30;

OSErr setControl(VideoSetting* setting, const std::uint16_t* value) {
    if (!setting || !value) return kParamErr;
    return setting->set(*value);
}

// The value is written even when the refresh fails: a control the device lacks shows its
// placeholder (32767) with -50.
OSErr getControl(VideoSetting* setting, std::uint16_t* value) {
    if (!setting) return kParamErr;
    const OSErr refreshed = setting->refresh();
    if (value) *value = toQuickTimeValue(setting->value, setting->min, setting->range);
    return refreshed;
}

void writeDefault(const std::unique_ptr<VideoSetting>& setting, std::uint16_t* out) {
    if (out && setting) *out = toQuickTimeValue(setting->defaultValue, setting->min, setting->range);
}

}  // namespace

// --- BaseDigitizer ---------------------------------------------------------------------------

void BaseDigitizer::deliveryTime(quicktime::TimeRecord& time) const {
    if (timeBase) {
        qt::GetTimeBaseTime(timeBase, kDeliveryScale, &time);
    } else {
        time = quicktime::TimeRecord{0, kDeliveryScale, nullptr};
    }
}

OSErr BaseDigitizer::CompressDone(quicktime::Boolean* done, quicktime::Ptr*, long*, quicktime::UInt8*,
                                  quicktime::TimeRecord*) {
    if (done) *done = 0;
    return 0;
}

#define PRAMBLE_CONTROL_OPERATIONS(name, field)                                                     \
    OSErr BaseDigitizer::Set##name(const std::uint16_t* value) { return setControl(field.get(), value); } \
    OSErr BaseDigitizer::Get##name(std::uint16_t* value) { return getControl(field.get(), value); }
PRAMBLE_PICTURE_CONTROLS(PRAMBLE_CONTROL_OPERATIONS)
#undef PRAMBLE_CONTROL_OPERATIONS

OSErr BaseDigitizer::GetCompressionTypes(quicktime::Handle list) {
    quicktime::CodecInfo codec{};  // stays zero when QuickTime has no codec information
    qt::GetCodecInfo(&codec, kL555, nullptr);
    const quicktime::VDCompressionList entry = compressionEntryFor(codec);
    qt::SetHandleSize(list, long(sizeof entry));
    if (const OSErr error = qt::MemError()) return error;
    if (!list || !*list) return kMemFullErr;
    std::memcpy(*list, &entry, sizeof entry);
    return 0;
}

OSErr BaseDigitizer::SetCompression(OSType type, short requestedDepth, const Rect* bounds,
                                    quicktime::CodecQ spatial, quicktime::CodecQ temporal, long keyRate) {
    CompressionChoice choice{};
    if (!chooseCompression(type, requestedDepth, bounds ? *bounds : Rect{}, spatial, temporal, std::int32_t(keyRate),
                           limits.minWidth, limits.minHeight, limits.maxWidth, limits.maxHeight, choice)) {
        return kNoCodecErr;
    }
    compressionType = kL555;
    depth = choice.depth;
    compressionBounds = Rect{0, 0, choice.height, choice.width};
    spatialQuality = choice.spatialQuality;
    temporalQuality = choice.temporalQuality;
    keyFrameRate = choice.keyFrameRate;
    releaseCompressionResources();
    const quicktime::ImageDescription built = imageDescriptionFor(choice);
    quicktime::Handle handle = qt::NewHandle(long(sizeof built));
    OSErr error = qt::MemError();
    if (error == 0 && (!handle || !*handle)) error = kMemFullErr;
    if (error != 0) {
        imageDescription = handle;
        releaseCompressionResources();
        return error;
    }
    std::memcpy(*handle, &built, sizeof built);
    imageDescription = handle;
    return 0;
}

OSErr BaseDigitizer::GetVideoDefaults(std::uint16_t* black, std::uint16_t* white, std::uint16_t* bright,
                                      std::uint16_t* hueOut, std::uint16_t* saturationOut, std::uint16_t* contrastOut,
                                      std::uint16_t* sharpnessOut) {
    writeDefault(blackLevel, black);
    writeDefault(whiteLevel, white);
    writeDefault(brightness, bright);
    writeDefault(hue, hueOut);
    writeDefault(saturation, saturationOut);
    writeDefault(contrast, contrastOut);
    writeDefault(sharpness, sharpnessOut);
    return 0;
}

OSErr BaseDigitizer::GetDigitizerInfo(quicktime::DigitizerInfo* info) {
    if (!info) return kParamErr;
    *info = digitizerInfo(limits.minWidth, limits.minHeight, limits.maxWidth, limits.maxHeight);
    currentInputFlags = kInputCurrentFlags;
    currentOutputFlags = kOutputCurrentFlags;
    return 0;
}

OSErr BaseDigitizer::GetCurrentFlags(long* inputFlags, long* outputFlags) {
    if (inputFlags) *inputFlags = currentInputFlags;
    if (outputFlags) *outputFlags = currentOutputFlags;
    return 0;
}

// Negative numbers name no input: they answer -50 like numbers past the last.
OSErr BaseDigitizer::GetInputFormat(short input, short* format) {
    if (input < 0 || input > maxInputIndex) return kParamErr;
    if (format) *format = kCompositeIn;
    return 0;
}

OSErr BaseDigitizer::SetInput(short input) { return input < 0 || input > maxInputIndex ? kParamErr : 0; }

OSErr BaseDigitizer::GetInput(short* input) {
    if (input) *input = 0;
    return 0;
}

// --- CaptureDigitizer ------------------------------------------------------------------------

OSErr CaptureDigitizer::GetInputFormat(short input, short* format) {
    if (input < 0 || input > maxInputIndex) return kParamErr;
    std::int16_t answer = kCompositeIn;
    LONG physicalType = 0;
    if (graph.crossbarRouter && SUCCEEDED(graph.crossbarRouter->inputType(input, &physicalType))) {
        bool known = false;
        answer = inputFormatOf(physicalType, known);
        if (!known) reportInstanceError(instanceName, "Unknown analog video format\n");
    }
    if (format) *format = answer;
    return 0;
}

OSErr CaptureDigitizer::SetInput(short input) {
    if (input < 0 || input > maxInputIndex) return kParamErr;
    if (!graph.crossbarRouter) return 0;
    // Switching off disposes of the image description: QuickTime sets the compression again.
    const bool wasOn = isCompressionOn();
    if (wasOn) compressionOff();
    const HRESULT routed = graph.crossbarRouter->selectRoute(input);
    if (wasOn) compressionOn();
    return SUCCEEDED(routed) ? 0 : kParamErr;
}

OSErr CaptureDigitizer::GetInput(short* input) {
    if (input) *input = short(graph.crossbarRouter ? graph.crossbarRouter->currentRoute() : 0);
    return 0;
}

// --- the handlers ----------------------------------------------------------------------------

namespace {

BaseDigitizer* instanceOf(quicktime::Handle storage) { return reinterpret_cast<BaseDigitizer*>(storage); }

// Runs a request on the instance; a request that throws answers -50.
template <typename Body>
ComponentResult answer(quicktime::Handle storage, Body body) {
    return tavro::guardBoundary<ComponentResult>(kParamErr, [&]() -> ComponentResult {
        BaseDigitizer* instance = instanceOf(storage);
        if (!instance) return kParamErr;
        return body(*instance);
    });
}

extern "C" {

ComponentResult QUICKTIME_CALL getActiveSrcRectRequest(quicktime::Handle storage, short, Rect* rect) {
    return answer(storage, [&](BaseDigitizer& d) -> ComponentResult {
        if (rect) *rect = d.maxSourceRect;
        return 0;
    });
}

ComponentResult QUICKTIME_CALL setDigitizerRectRequest(quicktime::Handle storage, Rect* rect) {
    return answer(storage, [&](BaseDigitizer& d) -> ComponentResult {
        if (!rect || qt::EmptyRect(rect)) return kParamErr;
        Rect section{};
        if (!qt::SectRect(rect, &d.maxSourceRect, &section) || !qt::EqualRect(&section, rect)) return kParamErr;
        d.digitizerRect = *rect;
        return 0;
    });
}

ComponentResult QUICKTIME_CALL getDigitizerRectRequest(quicktime::Handle storage, Rect* rect) {
    return answer(storage, [&](BaseDigitizer& d) -> ComponentResult {
        if (rect) *rect = d.digitizerRect;
        return 0;
    });
}

#define PRAMBLE_CONTROL_HANDLERS(name, field)                                                              \
    ComponentResult QUICKTIME_CALL set##name##Request(quicktime::Handle storage, std::uint16_t* value) {  \
        return answer(storage, [&](BaseDigitizer& d) -> ComponentResult { return d.Set##name(value); }); \
    }                                                                                                      \
    ComponentResult QUICKTIME_CALL get##name##Request(quicktime::Handle storage, std::uint16_t* value) {  \
        return answer(storage, [&](BaseDigitizer& d) -> ComponentResult { return d.Get##name(value); }); \
    }
PRAMBLE_PICTURE_CONTROLS(PRAMBLE_CONTROL_HANDLERS)
#undef PRAMBLE_CONTROL_HANDLERS

ComponentResult QUICKTIME_CALL getVideoDefaultsRequest(quicktime::Handle storage, std::uint16_t* black,
                                                       std::uint16_t* white, std::uint16_t* bright, std::uint16_t* hue,
                                                       std::uint16_t* saturation, std::uint16_t* contrast,
                                                       std::uint16_t* sharpness) {
    return answer(storage, [&](BaseDigitizer& d) -> ComponentResult {
        return d.GetVideoDefaults(black, white, bright, hue, saturation, contrast, sharpness);
    });
}

ComponentResult QUICKTIME_CALL getDigitizerInfoRequest(quicktime::Handle storage, quicktime::DigitizerInfo* info) {
    return answer(storage, [&](BaseDigitizer& d) -> ComponentResult { return d.GetDigitizerInfo(info); });
}

ComponentResult QUICKTIME_CALL getCurrentFlagsRequest(quicktime::Handle storage, long* inputFlags, long* outputFlags) {
    return answer(storage, [&](BaseDigitizer& d) -> ComponentResult { return d.GetCurrentFlags(inputFlags, outputFlags); });
}

ComponentResult QUICKTIME_CALL getInputFormatRequest(quicktime::Handle storage, short input, short* format) {
    return answer(storage, [&](BaseDigitizer& d) -> ComponentResult { return d.GetInputFormat(input, format); });
}

ComponentResult QUICKTIME_CALL setInputRequest(quicktime::Handle storage, short input) {
    return answer(storage, [&](BaseDigitizer& d) -> ComponentResult { return d.SetInput(input); });
}

ComponentResult QUICKTIME_CALL getInputRequest(quicktime::Handle storage, short* input) {
    return answer(storage, [&](BaseDigitizer& d) -> ComponentResult { return d.GetInput(input); });
}

ComponentResult QUICKTIME_CALL setInputStandardRequest(quicktime::Handle storage, short standard) {
    return answer(storage, [&](BaseDigitizer& d) -> ComponentResult { return d.SetInputStandard(standard); });
}

ComponentResult QUICKTIME_CALL setCompressionRequest(quicktime::Handle storage, OSType type, short depth, Rect* bounds,
                                                     quicktime::CodecQ spatial, quicktime::CodecQ temporal,
                                                     long keyFrameRate) {
    return answer(storage, [&](BaseDigitizer& d) -> ComponentResult {
        return d.SetCompression(type, depth, bounds, spatial, temporal, keyFrameRate);
    });
}

ComponentResult QUICKTIME_CALL compressOneFrameAsyncRequest(quicktime::Handle storage) {
    return answer(storage, [&](BaseDigitizer& d) -> ComponentResult { return d.CompressOneFrameAsync(); });
}

ComponentResult QUICKTIME_CALL compressDoneRequest(quicktime::Handle storage, quicktime::Boolean* done,
                                                   quicktime::Ptr* data, long* size, quicktime::UInt8* similarity,
                                                   quicktime::TimeRecord* time) {
    return answer(storage, [&](BaseDigitizer& d) -> ComponentResult {
        return d.CompressDone(done, data, size, similarity, time);
    });
}

// The frame stays in the channel's slot: nothing is freed.
ComponentResult QUICKTIME_CALL releaseCompressBufferRequest(quicktime::Handle storage, quicktime::Ptr) {
    return answer(storage, [&](BaseDigitizer& d) -> ComponentResult { return d.isCompressionOn() ? 0 : kOutOfOrder; });
}

ComponentResult QUICKTIME_CALL getImageDescriptionRequest(quicktime::Handle storage, quicktime::Handle description) {
    return answer(storage, [&](BaseDigitizer& d) -> ComponentResult {
        if (!d.imageDescription) return kOutOfOrder;
        const long size = qt::GetHandleSize(d.imageDescription);
        qt::SetHandleSize(description, size);
        if (const OSErr error = qt::MemError()) return error;
        qt::BlockMoveData(*d.imageDescription, *description, size);
        return 0;
    });
}

ComponentResult QUICKTIME_CALL resetCompressSequenceRequest(quicktime::Handle) { return 0; }

ComponentResult QUICKTIME_CALL setCompressionOnOffRequest(quicktime::Handle storage, quicktime::Boolean on) {
    return answer(storage, [&](BaseDigitizer& d) -> ComponentResult { return on ? d.compressionOn() : d.compressionOff(); });
}

ComponentResult QUICKTIME_CALL getCompressionTypesRequest(quicktime::Handle storage, quicktime::Handle list) {
    return answer(storage, [&](BaseDigitizer& d) -> ComponentResult { return d.GetCompressionTypes(list); });
}

ComponentResult QUICKTIME_CALL setTimeBaseRequest(quicktime::Handle storage, quicktime::TimeBase timeBase) {
    return answer(storage, [&](BaseDigitizer& d) -> ComponentResult {
        d.timeBase = timeBase;
        return 0;
    });
}

}  // extern "C"

template <typename Handler>
quicktime::ComponentFunctionUPP upp(Handler handler) {
    return reinterpret_cast<quicktime::ComponentFunctionUPP>(reinterpret_cast<void*>(handler));
}

}  // namespace

quicktime::ComponentFunctionUPP settingsRequestHandler(Request request) {
    switch (request) {
        case Request::GetActiveSrcRect: return upp(&getActiveSrcRectRequest);
        case Request::SetDigitizerRect: return upp(&setDigitizerRectRequest);
        case Request::GetDigitizerRect: return upp(&getDigitizerRectRequest);
#define PRAMBLE_CONTROL_CASES(name, field)                          \
        case Request::Set##name: return upp(&set##name##Request);   \
        case Request::Get##name: return upp(&get##name##Request);
        PRAMBLE_PICTURE_CONTROLS(PRAMBLE_CONTROL_CASES)
#undef PRAMBLE_CONTROL_CASES
        case Request::GetVideoDefaults: return upp(&getVideoDefaultsRequest);
        case Request::GetDigitizerInfo: return upp(&getDigitizerInfoRequest);
        case Request::GetCurrentFlags: return upp(&getCurrentFlagsRequest);
        case Request::GetInputFormat: return upp(&getInputFormatRequest);
        case Request::SetInput: return upp(&setInputRequest);
        case Request::GetInput: return upp(&getInputRequest);
        case Request::SetInputStandard: return upp(&setInputStandardRequest);
        case Request::SetCompression: return upp(&setCompressionRequest);
        case Request::CompressOneFrameAsync: return upp(&compressOneFrameAsyncRequest);
        case Request::CompressDone: return upp(&compressDoneRequest);
        case Request::ReleaseCompressBuffer: return upp(&releaseCompressBufferRequest);
        case Request::GetImageDescription: return upp(&getImageDescriptionRequest);
        case Request::ResetCompressSequence: return upp(&resetCompressSequenceRequest);
        case Request::SetCompressionOnOff: return upp(&setCompressionOnOffRequest);
        case Request::GetCompressionTypes: return upp(&getCompressionTypesRequest);
        case Request::SetTimeBase: return upp(&setTimeBaseRequest);
        default: return nullptr;
    }
}

}  // namespace pramble

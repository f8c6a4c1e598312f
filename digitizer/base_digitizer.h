// What any digitizer of this design holds and answers without touching a device: its component
// identity, rectangles, frame limits, picture controls and compression state. One instance per
// open component instance; QuickTime keeps it as the instance's storage.
#pragma once

#include <memory>
#include <string>

#include <quicktime/digitizer_binding.h>

#include "capture_graph.h"
#include "quicktime_records.h"
#include "video_setting.h"

namespace pramble {

// The seven picture controls, in their slot order: request name, setting object.
#define PRAMBLE_PICTURE_CONTROLS(X) \
    X(Brightness, brightness)       \
    X(BlackLevelValue, blackLevel)  \
    X(WhiteLevelValue, whiteLevel)  \
    X(Hue, hue)                     \
    X(Saturation, saturation)       \
    X(Contrast, contrast)           \
    X(Sharpness, sharpness)

class BaseDigitizer {
public:
    // Reads the component's identity; constructionResult() is GetComponentInfo's answer.
    explicit BaseDigitizer(quicktime::ComponentInstance self);
    // Deletes the settings and releases the compression resources.
    virtual ~BaseDigitizer();
    BaseDigitizer(const BaseDigitizer&) = delete;
    BaseDigitizer& operator=(const BaseDigitizer&) = delete;

    // The virtual operations, in their slot order; the remaining requests of a digitizer join
    // in theirs as they are answered.
    virtual long registerDevices() { return 0; }
    virtual void initialise() {}
    virtual OSErr CompressOneFrameAsync() { return -2209; }
    virtual OSErr CompressDone(quicktime::Boolean* done, quicktime::Ptr* data, long* size,
                               quicktime::UInt8* similarity, quicktime::TimeRecord* time);
    virtual OSErr compressionOn() { return 0; }
    virtual OSErr compressionOff() { return 0; }
    virtual OSErr GetCompressionTypes(quicktime::Handle list);
    virtual OSErr SetCompression(OSType type, short depth, const Rect* bounds, quicktime::CodecQ spatialQuality,
                                 quicktime::CodecQ temporalQuality, long keyFrameRate);
    virtual OSErr GetMaxSrcRect(short inputStandard, Rect* maxSrcRect);
    virtual OSErr GetVideoDefaults(std::uint16_t* blackLevel, std::uint16_t* whiteLevel, std::uint16_t* brightness,
                                   std::uint16_t* hue, std::uint16_t* saturation, std::uint16_t* contrast,
                                   std::uint16_t* sharpness);
    virtual bool isCompressionOn() const { return compressing != 0; }
    virtual OSErr GetDigitizerInfo(quicktime::DigitizerInfo* info);
    virtual OSErr GetCurrentFlags(long* inputFlags, long* outputFlags);
#define PRAMBLE_CONTROL_OPERATIONS(name, field)          \
    virtual OSErr Set##name(const std::uint16_t* value); \
    virtual OSErr Get##name(std::uint16_t* value);
    PRAMBLE_PICTURE_CONTROLS(PRAMBLE_CONTROL_OPERATIONS)
#undef PRAMBLE_CONTROL_OPERATIONS
    virtual OSErr GetInputFormat(short input, short* format);
    virtual OSErr GetNumberOfInputs(short* inputs);
    virtual OSErr SetInputStandard(short standard) { return standard == 0 ? 0 : kParamErr; }
    virtual OSErr SetInput(short input);
    virtual OSErr GetInput(short* input);
    virtual void releaseCompressionResources();

    OSErr constructionResult() const { return constructionResult_; }

    // The instance record.
    quicktime::ComponentInstance self;
    quicktime::Handle nameHandle = nullptr;
    quicktime::Handle infoHandle = nullptr;
    quicktime::Handle iconHandle = nullptr;
    ComponentDescription description{};
    std::int32_t deviceIndex = 0;
    Rect maxSourceRect{};
    Rect digitizerRect{};
    quicktime::Handle imageDescription = nullptr;
    OSType compressionType = 0;
    std::int16_t depth = 0;
    Rect compressionBounds{};
    quicktime::CodecQ spatialQuality = 0;
    quicktime::CodecQ temporalQuality = 0;
    std::int32_t keyFrameRate = 0;
    quicktime::TimeBase timeBase = nullptr;
    std::int32_t currentInputFlags = 0;
    std::int32_t currentOutputFlags = 0;
    std::uint16_t maxInputIndex = 0;
    std::unique_ptr<VideoSetting> brightness, blackLevel, whiteLevel, hue, saturation, contrast, sharpness;
    FrameLimits limits;
    std::int32_t compressing = 0;  // compression on (1) or off (0)
    std::string instanceName;

protected:
    // The time QuickTime is given with a frame: the time base's now in 1/30 s (zero without one).
    void deliveryTime(quicktime::TimeRecord& time) const;

    OSErr constructionResult_ = 0;
};

}  // namespace pramble

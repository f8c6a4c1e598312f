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
    virtual OSErr compressionOff() { return 0; }
    virtual OSErr GetMaxSrcRect(short inputStandard, Rect* maxSrcRect);
    virtual bool isCompressionOn() const { return compressionOn != 0; }
    virtual OSErr GetNumberOfInputs(short* inputs);
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
    std::uint16_t maxInputIndex = 0;
    std::unique_ptr<VideoSetting> brightness, blackLevel, whiteLevel, hue, saturation, contrast, sharpness;
    FrameLimits limits;
    std::int32_t compressionOn = 0;
    std::string instanceName;

protected:
    OSErr constructionResult_ = 0;
};

}  // namespace pramble

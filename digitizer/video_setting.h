// The digitizer's picture controls: QuickTime's 0..65535 values mapped onto a range, and, for
// the controls the capture device has, onto its DirectShow video processing amplifier.
#pragma once

#include <windows.h>
#include <dshow.h>

#include "digitizer_settings.h"
#include "quicktime_records.h"

namespace pramble {

class VideoSetting {
public:
    VideoSetting() = default;
    virtual ~VideoSetting() = default;
    VideoSetting(const VideoSetting&) = delete;
    VideoSetting& operator=(const VideoSetting&) = delete;

    // Reads range, default and value from the device; -50 without one.
    virtual OSErr refresh() { return kParamErr; }
    // Sends a QuickTime value to the device; -50 without one.
    virtual OSErr set(std::uint16_t) { return kParamErr; }

    double max = 1.0;
    double min = 0.0;
    double value = 0.5;
    double defaultValue = 0.5;
    double range = 1.0;
};

class ProcAmpSetting final : public VideoSetting {
public:
    // property: a VideoProcAmpProperty, or -1 for a control no device has. captureFilter is
    // the instance's, not counted here.
    ProcAmpSetting(long property, IBaseFilter* captureFilter) : property_(property), captureFilter_(captureFilter) {}

    OSErr refresh() override;
    OSErr set(std::uint16_t quickTimeValue) override;

private:
    void hold(const ControlRange& device);

    bool refreshed_ = false;
    long property_;
    IBaseFilter* captureFilter_;
};

}  // namespace pramble

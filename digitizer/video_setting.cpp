#include "video_setting.h"

#include <tavro/com_support.h>

#include "digitizer_settings.h"

namespace pramble {
namespace {

tavro::ComPtr<IAMVideoProcAmp> procAmpOf(IBaseFilter* filter) {
    tavro::ComPtr<IAMVideoProcAmp> procAmp;
    if (filter) filter->QueryInterface(IID_PPV_ARGS(&procAmp));
    return procAmp;
}

ControlRange readRange(IAMVideoProcAmp* procAmp, long property) {
    long low = 0, high = 0, step = 0, fallback = 0, flags = 0;
    const bool read = SUCCEEDED(procAmp->GetRange(property, &low, &high, &step, &fallback, &flags));
    return usableRange(read, low, high, step, fallback);
}

}  // namespace

OSErr ProcAmpSetting::refresh() {
    if (property_ == -1) return kParamErr;
    const auto procAmp = procAmpOf(captureFilter_);
    if (!procAmp) return kParamErr;
    hold(readRange(procAmp.Get(), property_));
    long current = 0;
    long flags = 0;
    if (FAILED(procAmp->Get(property_, &current, &flags))) return kParamErr;
    value = double(current);
    return 0;
}

OSErr ProcAmpSetting::set(std::uint16_t quickTimeValue) {
    if (property_ == -1) return kParamErr;
    const auto procAmp = procAmpOf(captureFilter_);
    if (!procAmp) return kParamErr;
    const ControlRange device = readRange(procAmp.Get(), property_);
    // Before any refresh the held range is a placeholder: use the one just read, so a value
    // reaches the device where QuickTime meant it.
    if (!refreshed_) hold(device);
    const double x = fromQuickTimeValue(quickTimeValue, min, range);
    value = x;
    return SUCCEEDED(procAmp->Set(property_, toDeviceValue(x, device.step), VideoProcAmp_Flags_Manual)) ? 0 : kParamErr;
}

void ProcAmpSetting::hold(const ControlRange& device) {
    min = double(device.min);
    max = double(device.max);
    range = max - min;
    defaultValue = double(device.defaultValue);
    refreshed_ = true;
}

}  // namespace pramble

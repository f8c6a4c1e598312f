#include "video_setting.h"

#include <cmath>

#include <tavro/com_support.h>

namespace pramble {
namespace {

tavro::ComPtr<IAMVideoProcAmp> procAmpOf(IBaseFilter* filter) {
    tavro::ComPtr<IAMVideoProcAmp> procAmp;
    if (filter) filter->QueryInterface(IID_PPV_ARGS(&procAmp));
    return procAmp;
}

}  // namespace

OSErr ProcAmpSetting::refresh() {
    if (property_ == -1) return kParamErr;
    const auto procAmp = procAmpOf(captureFilter_);
    if (!procAmp) return kParamErr;
    long low = 0, high = 0, step = 0, fallback = 0, flags = 0;
    if (FAILED(procAmp->GetRange(property_, &low, &high, &step, &fallback, &flags))) {
        low = 0;
        high = 10000;
        fallback = long(defaultValue);  // no default given: keep the one held
    }
    min = double(low);
    max = double(high);
    range = max - min;
    defaultValue = double(fallback);
    long current = 0;
    if (FAILED(procAmp->Get(property_, &current, &flags))) return kParamErr;
    value = double(current);
    return 0;
}

OSErr ProcAmpSetting::set(std::uint16_t quickTimeValue) {
    if (property_ == -1) return kParamErr;
    const auto procAmp = procAmpOf(captureFilter_);
    if (!procAmp) return kParamErr;
    long low = 0, high = 0, step = 0, fallback = 0, flags = 0;
    procAmp->GetRange(property_, &low, &high, &step, &fallback, &flags);
    if (step <= 0) step = 1;  // a device without a stepping delta takes every value
    const double x = double(quickTimeValue) * range / 65535.0 + min;
    value = x;
    const long truncated = long(std::trunc(x));
    return SUCCEEDED(procAmp->Set(property_, step * (truncated / step), VideoProcAmp_Flags_Manual)) ? 0 : kParamErr;
}

}  // namespace pramble

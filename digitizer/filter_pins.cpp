#include "filter_pins.h"

#include <functional>

#include "auto_releaser.h"

namespace pramble {
namespace {

// Calls visit(pin, its position among pins of that direction) until it answers true.
void forEachPinOfDirection(IBaseFilter* filter, PIN_DIRECTION direction,
                           const std::function<bool(IPin*, int)>& visit) {
    if (!filter) return;
    AutoReleaser<IEnumPins> pins;
    if (FAILED(filter->EnumPins(pins.put())) || !pins) return;
    pins->Reset();
    int position = 0;
    for (;;) {
        AutoReleaser<IPin> pin;
        if (pins->Next(1, pin.put(), nullptr) != S_OK || !pin) return;
        PIN_INFO info{};
        if (FAILED(pin->QueryPinInfo(&info))) continue;
        if (info.pFilter) info.pFilter->Release();
        if (info.dir != direction) continue;
        if (visit(pin.get(), position++)) return;
    }
}

}  // namespace

IPin* pinOfDirection(IBaseFilter* filter, PIN_DIRECTION direction, int index) {
    IPin* found = nullptr;
    forEachPinOfDirection(filter, direction, [&](IPin* pin, int position) {
        if (position != index) return false;
        found = pin;
        found->AddRef();
        return true;
    });
    return found;
}

int positionOfPin(IBaseFilter* filter, IPin* pin, PIN_DIRECTION direction) {
    int found = -1;
    forEachPinOfDirection(filter, direction, [&](IPin* candidate, int position) {
        if (candidate != pin) return false;
        found = position;
        return true;
    });
    return found;
}

}  // namespace pramble

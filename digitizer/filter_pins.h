// Finding a filter's pins by direction, counted in the order the filter enumerates them.
#pragma once

#include <windows.h>
#include <dshow.h>

namespace pramble {

// The index-th pin (from 0) of that direction, AddRef'ed; null when there are fewer.
IPin* pinOfDirection(IBaseFilter* filter, PIN_DIRECTION direction, int index);

// The position (from 0) of `pin` among the filter's pins of that direction; -1 when absent.
int positionOfPin(IBaseFilter* filter, IPin* pin, PIN_DIRECTION direction);

}  // namespace pramble

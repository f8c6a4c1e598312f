// The handlers of the digitizer's settings and frame requests: rectangles, picture controls,
// inputs, capabilities, compression and the time base.
#pragma once

#include <quicktime/types.h>

#include "selector_table.h"

namespace pramble {

// The handler QuickTime calls for one of these requests; null for any other request.
quicktime::ComponentFunctionUPP settingsRequestHandler(Request request);

}  // namespace pramble

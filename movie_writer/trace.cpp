#include "trace.h"

#include <iostream>

#include "frame_math.h"

namespace reelwright {

void traceFailure(const std::string& label, std::int32_t status) {
    if (status >= 0) return;
    // Flushed at once: the library may be stopped by the process without warning.
    std::cout << failureTraceText(label, status) << std::flush;
}

void traceLine(const std::string& text) { std::cout << text << std::endl; }

}  // namespace reelwright

// Diagnostics of the movie writer: plain lines on the process's standard output.
#pragma once

#include <cstdint>
#include <string>

namespace reelwright {

// Writes nothing for a success; for a failure the two lines of failureTraceText.
void traceFailure(const std::string& label, std::int32_t status);

// One message line.
void traceLine(const std::string& text);

}  // namespace reelwright

// QuickTime movie export: a movie QuickTime can open becomes an MPEG-4 file for the iPod,
// through the installation's own 'spit'/'M4VP' export component with its default settings.
#pragma once

#include <string>

namespace korvix {

// Synchronous; true when the export component wrote the destination. Each failure writes one
// line to standard output. The source is a native path, the destination UTF-8 text.
bool convertMovieForIPod(const std::string& source, const std::string& destination);

}  // namespace korvix

// Which Wine runs the suite. Where Wine 10 (the 32-bit suite, WoW64 in the sid root) and
// Wine 8 (the x86_64 suite on the host) measurably differ, a test holds one expectation for
// each, chosen by this; the measurement stands in a comment beside it.
#pragma once

#include <string>

namespace tavro::test {

// ntdll's wine_get_version(), e.g. "10.0"; empty when not running under Wine.
std::string wineVersion();
// Its major number; 0 when not under Wine.
int wineMajorVersion();

}  // namespace tavro::test

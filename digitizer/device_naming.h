// How the component names what it registers and opens: per-device subtypes and names, the
// instance name its messages carry, and which hosts it registers nothing in. Portable.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "quicktime_records.h"

namespace pramble {

// Device names are cut to this many characters (an 80-byte buffer with its terminator).
constexpr std::size_t kDeviceNameLimit = 79;

// 'vd' + tens + units for device number n: 'vd00'..'vd09', 'vd12'; the tens character stops at
// '0' + 78 ('~').
OSType deviceSubtype(std::uint32_t n);

// The registered name of a device component: its friendly name (cut to the limit) + "-WDM".
std::string deviceComponentName(std::string_view friendlyName);

// Only components with such names build a capture graph; the master 'vdsn' does not.
bool namesCaptureDevice(std::string_view componentName);

// deviceIndex in decimal followed by the component's name ("1Cam-WDM").
std::string instanceName(std::int32_t deviceIndex, std::string_view componentName);

// The characters of a length-prefixed string.
std::string_view pascalText(const unsigned char* text);

// What the names of an instance's channel objects end in: "xOx" + deviceIndex ("xOx0").
std::string channelSuffix(std::int32_t deviceIndex);

// QuickTime Player registers the component's devices through its own copy; a host path holding
// "QUICKTIMEPLAYER.EXE" (exactly so, case-sensitive) registers nothing.
bool hostSkipsRegistration(std::string_view hostPath);

}  // namespace pramble

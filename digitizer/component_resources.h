// The component's registration resources and the packed file QuickTime for Windows reads: the
// linked DLL image, then a Macintosh-format resource fork, then a 36-byte trailer locating both.
// Portable: the packing tool runs on the build host.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "quicktime_records.h"

namespace pramble {

struct Resource {
    OSType type;
    std::int16_t id;
    std::uint8_t attributes;
    std::string data;
};

// The master component's resources: 'thng', 'strn', 'stri', 'dlle' and 'STR#'.
std::vector<Resource> componentResources();

// A resource fork holding these resources, types in order of first appearance.
std::string resourceFork(const std::vector<Resource>& resources);

// The last 36 bytes of the packed file.
std::string componentTrailer(std::uint32_t imageLength, std::uint32_t forkLength);

// The DLL image followed by the fork of componentResources(), zero fill and the trailer.
std::string packComponent(std::string_view image);

}  // namespace pramble

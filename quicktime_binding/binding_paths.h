// Path and version rules of the binding that need no platform call.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace quicktime {

constexpr std::string_view kLibraryName = "QuickTime.qts";

bool endsWithSeparator(std::string_view path);  // "\" or "/"

// A folder from a registry value's raw data (`length` bytes, perhaps without a terminator),
// for a caller's buffer of `size` bytes: the text up to its first zero byte with "\" appended
// unless it ends in a separator. "" when the value is empty or its text, separator and
// terminator do not fit in the buffer.
std::string registryFolderText(const char* data, std::size_t length, std::size_t size);

// A file path cut after its last separator; "" when it holds none.
std::string folderOfPath(std::string_view path);

// The low 8 bits of each version part, major in the top byte.
std::uint32_t packedVersion(unsigned major, unsigned minor, unsigned build, unsigned revision);
constexpr std::uint32_t kPackedVersion702 = 0x07000200;

}  // namespace quicktime

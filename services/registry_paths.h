// The registry's text rules as plain values: which root names the Java side may use, how a
// key-or-value path splits, and how much of a queried value becomes text. No platform calls.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace korvix {

// The predefined keys the Java side can reach; the Windows side maps them to HKEY values.
enum class RegistryRoot { classesRoot, currentUser, localMachine, users };

// Data read by getRegistry and keyExists: the size offered to the query.
constexpr std::size_t kRegistryValueBufferBytes = 1024;
// Subkey names read by getSubkeys: characters offered, terminator included.
constexpr std::size_t kSubkeyNameBufferChars = 255;

// Matches the whole name, byte for byte (so "hkcu" and HKEY_CURRENT_CONFIG match nothing).
std::optional<RegistryRoot> lookupRegistryRoot(std::string_view name);

// A path split at its last backslash into a key path and a value name. Without a backslash
// both parts are the whole path.
struct KeyAndValue {
    std::string keyPath;
    std::string valueName;
};
KeyAndValue splitAtLastBackslash(std::string_view path);

// The text a queried value stands for: its bytes up to the first zero byte, or all of the
// returned bytes when the data holds none (a string stored without its terminator, raw data).
std::string registryDataAsText(const char* data, std::size_t returnedBytes);

}  // namespace korvix

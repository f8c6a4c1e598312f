// Registry access for the Java side: byte-form key paths and value names under one of the
// predefined roots that registry_paths.h names. Null arguments and unknown roots give the
// operation's failure result.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace korvix {

// The value's data as text (up to its first zero byte), or nothing when the key or value is
// missing or the data is longer than the query buffer.
std::optional<std::string> readRegistryValue(const char* root, const char* subKey, const char* valueName);

// Stores a REG_SZ value, creating the key path as needed.
bool writeRegistryValue(const char* root, const char* subKey, const char* valueName, const char* value);

// True when path names a key, or its last component names a value of the key before it.
bool registryKeyOrValueExists(const char* root, const char* path);

// The immediate subkeys in enumeration order; a name that cannot be read stays empty.
std::vector<std::string> registrySubkeyNames(const char* root, const char* subKey);

}  // namespace korvix

#include "registry_paths.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace korvix {
namespace {

TEST(RegistryRootLookup, AcceptsExactlyTheTableNames) {
    struct Case {
        const char* name;
        RegistryRoot root;
    };
    const std::vector<Case> accepted = {
        {"HKCR", RegistryRoot::classesRoot},  {"HKEY_CLASSES_ROOT", RegistryRoot::classesRoot},
        {"HKCU", RegistryRoot::currentUser},  {"HKEY_CURRENT_USER", RegistryRoot::currentUser},
        {"HKLM", RegistryRoot::localMachine}, {"HKEY_LOCAL_MACHINE", RegistryRoot::localMachine},
        {"HKU", RegistryRoot::users},         {"HKEY_USERS", RegistryRoot::users},
    };
    for (const Case& c : accepted) {
        EXPECT_EQ(lookupRegistryRoot(c.name), c.root) << c.name;
    }
}

TEST(RegistryRootLookup, RefusesOtherCaseOtherRootsAndPartialNames) {
    for (const char* name : {"hkcu", "Hkcu", "HKEY_Current_User", "HKCC", "HKEY_CURRENT_CONFIG",
                             "HKEY_PERFORMANCE_DATA", "", "HK", "HKCU ", " HKCU", "HKCU\\Software", "HKLMX",
                             "HKEY_USERS\\.DEFAULT"}) {
        EXPECT_FALSE(lookupRegistryRoot(name).has_value()) << '"' << name << '"';
    }
    // The whole string counts, including anything after an embedded zero.
    EXPECT_FALSE(lookupRegistryRoot(std::string("HKCU\0x", 6)).has_value());
}

TEST(KeyAndValueSplit, SplitsAtTheLastBackslash) {
    struct Case {
        const char* path;
        const char* key;
        const char* value;
    };
    const std::vector<Case> cases = {
        {"Software\\Vendor\\Product\\Version", "Software\\Vendor\\Product", "Version"},
        {"Software\\Value", "Software", "Value"},
        {"Software\\Key\\", "Software\\Key", ""},  // trailing backslash: the default value
        {"\\Value", "", "Value"},
        {"NoBackslash", "NoBackslash", "NoBackslash"},  // both parts are the whole path
        {"", "", ""},
    };
    for (const Case& c : cases) {
        const KeyAndValue parts = splitAtLastBackslash(c.path);
        EXPECT_EQ(parts.keyPath, c.key) << c.path;
        EXPECT_EQ(parts.valueName, c.value) << c.path;
    }
}

TEST(RegistryDataText, StopsAtTheFirstZeroOrTheReturnedLength) {
    // A terminated string, a DWORD 0x00636261 ("abc"), a zero DWORD.
    EXPECT_EQ(registryDataAsText("text\0junk", 10), "text");
    EXPECT_EQ(registryDataAsText("abc\0", 4), "abc");
    EXPECT_EQ(registryDataAsText("\0\0\0\0", 4), "");
    EXPECT_EQ(registryDataAsText("", 0), "");
    EXPECT_EQ(registryDataAsText(nullptr, 0), "");
}

TEST(RegistryDataText, UnterminatedDataEndsWithTheReturnedBytes) {
    // Exactly the bytes the query returned, so ASan flags any read past them.
    const std::vector<char> data = {'a', 'b', 'c', 'd'};
    EXPECT_EQ(registryDataAsText(data.data(), data.size()), "abcd");
    EXPECT_EQ(registryDataAsText(data.data(), 2), "ab");
}

}  // namespace
}  // namespace korvix

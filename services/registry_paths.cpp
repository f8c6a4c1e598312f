#include "registry_paths.h"

#include <algorithm>
#include <array>

namespace korvix {

namespace {

struct RootName {
    std::string_view name;
    RegistryRoot root;
};

constexpr std::array<RootName, 8> kRootNames{{
    {"HKCR", RegistryRoot::classesRoot},
    {"HKEY_CLASSES_ROOT", RegistryRoot::classesRoot},
    {"HKCU", RegistryRoot::currentUser},
    {"HKEY_CURRENT_USER", RegistryRoot::currentUser},
    {"HKLM", RegistryRoot::localMachine},
    {"HKEY_LOCAL_MACHINE", RegistryRoot::localMachine},
    {"HKU", RegistryRoot::users},
    {"HKEY_USERS", RegistryRoot::users},
}};

}  // namespace

std::optional<RegistryRoot> lookupRegistryRoot(std::string_view name) {
    for (const RootName& entry : kRootNames) {
        if (entry.name == name) return entry.root;
    }
    return std::nullopt;
}

KeyAndValue splitAtLastBackslash(std::string_view path) {
    const std::size_t separator = path.rfind('\\');
    if (separator == std::string_view::npos) return {std::string(path), std::string(path)};
    return {std::string(path.substr(0, separator)), std::string(path.substr(separator + 1))};
}

std::string registryDataAsText(const char* data, std::size_t returnedBytes) {
    if (!data) return {};
    const char* end = std::find(data, data + returnedBytes, '\0');
    return std::string(data, end);
}

}  // namespace korvix

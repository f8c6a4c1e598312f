#include "device_naming.h"

#include <algorithm>

namespace pramble {

OSType deviceSubtype(std::uint32_t n) {
    const char tens = char('0' + std::min<std::uint32_t>(n / 10, 78));
    const char units = char('0' + n % 10);
    return OSType('v') << 24 | OSType('d') << 16 | OSType(std::uint8_t(tens)) << 8 | OSType(std::uint8_t(units));
}

std::string deviceComponentName(std::string_view friendlyName) {
    return std::string(friendlyName.substr(0, kDeviceNameLimit)) + "-WDM";
}

bool namesCaptureDevice(std::string_view componentName) {
    constexpr std::string_view suffix = "-WDM";
    return componentName.size() >= suffix.size() &&
           componentName.substr(componentName.size() - suffix.size()) == suffix;
}

std::string instanceName(std::int32_t deviceIndex, std::string_view componentName) {
    return std::to_string(deviceIndex) + std::string(componentName);
}

std::string_view pascalText(const unsigned char* text) {
    if (!text) return {};
    return {reinterpret_cast<const char*>(text + 1), text[0]};
}

std::string channelSuffix(std::int32_t deviceIndex) { return "xOx" + std::to_string(deviceIndex); }

bool hostSkipsRegistration(std::string_view hostPath) {
    return hostPath.find("QUICKTIMEPLAYER.EXE") != std::string_view::npos;
}

}  // namespace pramble

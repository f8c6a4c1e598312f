#include "component_resources.h"

#include <map>

namespace pramble {
namespace {

void appendBig16(std::string& out, std::uint16_t value) {
    out += char(value >> 8);
    out += char(value);
}

void appendBig32(std::string& out, std::uint32_t value) {
    appendBig16(out, std::uint16_t(value >> 16));
    appendBig16(out, std::uint16_t(value));
}

void appendResourceSpec(std::string& out, OSType type, std::int16_t id) {
    appendBig32(out, type);
    appendBig16(out, std::uint16_t(id));
}

std::string pascalString(std::string_view text) {
    return char(std::uint8_t(text.size())) + std::string(text);
}

constexpr std::int16_t kResourceId = 200;
constexpr OSType kNone = 0;
constexpr std::uint32_t kDoAutoVersionAndMultiplePlatforms = 9;
constexpr std::uint32_t kWantsRegisterMessage = 0x80000000u;
constexpr std::int16_t kPlatformWin32 = 4;
constexpr std::uint8_t kSystemHeapPurgeable = 0x60;

// The 'thng' record with one platform entry (70 bytes).
std::string thing() {
    std::string out;
    appendBig32(out, fourCharacterCode("vdig"));
    appendBig32(out, fourCharacterCode("vdsn"));
    appendBig32(out, fourCharacterCode("#@Qm"));
    appendBig32(out, 0);  // componentFlags
    appendBig32(out, 0);  // componentFlagsMask
    appendResourceSpec(out, kNone, 0);  // code: found through the platform entry
    appendResourceSpec(out, fourCharacterCode("strn"), kResourceId);
    appendResourceSpec(out, fourCharacterCode("stri"), kResourceId);
    appendResourceSpec(out, kNone, 0);  // icon
    appendBig32(out, 0);  // componentVersion
    appendBig32(out, kDoAutoVersionAndMultiplePlatforms);
    appendBig16(out, 0);  // componentIconFamily
    appendBig32(out, 1);  // platform entries
    appendBig32(out, kWantsRegisterMessage);
    appendResourceSpec(out, fourCharacterCode("dlle"), kResourceId);
    appendBig16(out, std::uint16_t(kPlatformWin32));
    return out;
}

// Room the Resource Manager keeps between the fork header and the data (system and application use).
constexpr std::uint32_t kForkDataOffset = 256;
constexpr std::uint32_t kForkHeaderSize = 16;
constexpr std::uint16_t kMapHeaderSize = 28;
constexpr std::size_t kTypeEntrySize = 8;
constexpr std::size_t kReferenceSize = 12;
constexpr std::size_t kTrailerAlignment = 16;

}  // namespace

std::vector<Resource> componentResources() {
    std::string dispatchName = "vdigComponentDispatch";
    dispatchName += '\0';
    std::string strings;
    appendBig16(strings, 1);
    strings += pascalString(" (WDM)");
    return {
        {fourCharacterCode("thng"), kResourceId, 0, thing()},
        {fourCharacterCode("strn"), kResourceId, 0, pascalString("Pramble")},
        {fourCharacterCode("stri"), kResourceId, 0, pascalString("Direct Show Proxy for QuickTime Digitizers")},
        {fourCharacterCode("dlle"), kResourceId, 0, dispatchName},
        {fourCharacterCode("STR#"), 2302, kSystemHeapPurgeable, strings},
    };
}

std::string resourceFork(const std::vector<Resource>& resources) {
    // Group by type, keeping the order in which types first appear.
    std::vector<OSType> types;
    std::map<OSType, std::vector<std::size_t>> byType;
    for (std::size_t i = 0; i < resources.size(); ++i) {
        auto& list = byType[resources[i].type];
        if (list.empty()) types.push_back(resources[i].type);
        list.push_back(i);
    }

    std::string data;
    std::vector<std::uint32_t> dataOffsets;
    for (const auto& resource : resources) {
        dataOffsets.push_back(std::uint32_t(data.size()));
        appendBig32(data, std::uint32_t(resource.data.size()));
        data += resource.data;
    }

    std::string typeList;
    appendBig16(typeList, std::uint16_t(types.size() - 1));
    std::string references;
    const std::size_t referencesStart = 2 + types.size() * kTypeEntrySize;
    for (OSType type : types) {
        const auto& list = byType[type];
        appendBig32(typeList, type);
        appendBig16(typeList, std::uint16_t(list.size() - 1));
        appendBig16(typeList, std::uint16_t(referencesStart + references.size()));
        for (std::size_t i : list) {
            appendBig16(references, std::uint16_t(resources[i].id));
            appendBig16(references, 0xFFFF);  // no name
            references += char(resources[i].attributes);
            references += char(dataOffsets[i] >> 16);
            appendBig16(references, std::uint16_t(dataOffsets[i]));
            appendBig32(references, 0);  // handle, filled by the Resource Manager
        }
    }

    const std::uint32_t mapOffset = kForkDataOffset + std::uint32_t(data.size());
    const std::uint32_t mapLength = kMapHeaderSize + std::uint32_t(typeList.size() + references.size());
    std::string header;
    appendBig32(header, kForkDataOffset);
    appendBig32(header, mapOffset);
    appendBig32(header, std::uint32_t(data.size()));
    appendBig32(header, mapLength);

    std::string fork = header;
    fork.resize(kForkDataOffset, '\0');
    fork += data;
    fork += header;       // the map starts with a copy of the header
    appendBig32(fork, 0);  // next map
    appendBig16(fork, 0);  // file reference
    appendBig16(fork, 0);  // attributes
    appendBig16(fork, kMapHeaderSize);
    appendBig16(fork, std::uint16_t(mapLength));  // the name list is empty and ends the map
    fork += typeList;
    fork += references;
    return fork;
}

std::string componentTrailer(std::uint32_t imageLength, std::uint32_t forkLength) {
    std::string out = "data";
    appendBig32(out, 0);
    appendBig32(out, imageLength);
    out += "rsrc";
    appendBig32(out, imageLength);
    appendBig32(out, forkLength);
    out += "mkQuickTime";
    out += char(0xAA);
    return out;
}

std::string packComponent(std::string_view image) {
    const std::string fork = resourceFork(componentResources());
    std::string packed(image);
    packed += fork;
    // The trailer starts on a 16-byte boundary.
    packed.resize((packed.size() + kTrailerAlignment - 1) / kTrailerAlignment * kTrailerAlignment, '\0');
    packed += componentTrailer(std::uint32_t(image.size()), std::uint32_t(fork.size()));
    return packed;
}

}  // namespace pramble

#include "binding_paths.h"

#include <algorithm>

namespace quicktime {

bool endsWithSeparator(std::string_view path) {
    return !path.empty() && (path.back() == '\\' || path.back() == '/');
}

std::string registryFolderText(const char* data, std::size_t length, std::size_t size) {
    length = std::min(length, size);
    const std::string_view text(data, static_cast<std::size_t>(std::find(data, data + length, '\0') - data));
    // The text must be terminated inside the buffer; a value that fills it has no room for that.
    if (text.empty() || text.size() >= size) return {};
    std::string folder(text);
    if (!endsWithSeparator(folder)) {
        if (folder.size() + 2 > size) return {};
        folder += '\\';
    }
    return folder;
}

std::string folderOfPath(std::string_view path) {
    const std::size_t separator = path.find_last_of("\\/");
    if (separator == std::string_view::npos) return {};
    return std::string(path.substr(0, separator + 1));
}

std::uint32_t packedVersion(unsigned major, unsigned minor, unsigned build, unsigned revision) {
    return (major & 0xFFu) << 24 | (minor & 0xFFu) << 16 | (build & 0xFFu) << 8 | (revision & 0xFFu);
}

}  // namespace quicktime

#include "dialog_settings.h"

#include <algorithm>

namespace pickora {

std::uint32_t itemOptionsToSet(bool multiSelectionEnabled) {
    std::uint32_t bits = item_option::pickFolders | item_option::forceFileSystem | item_option::noValidate;
    if (multiSelectionEnabled) bits |= item_option::allowMultiSelect;
    return bits;
}

std::uint32_t itemOptionsToClear(bool multiSelectionEnabled) {
    std::uint32_t bits = item_option::pathMustExist | item_option::fileMustExist | item_option::noReadOnlyReturn;
    if (!multiSelectionEnabled) bits |= item_option::allowMultiSelect;
    return bits;
}

std::uint32_t itemDialogOptions(std::uint32_t initialOptions, bool multiSelectionEnabled, bool saveDialog) {
    std::uint32_t options = initialOptions | itemOptionsToSet(multiSelectionEnabled);
    options &= ~itemOptionsToClear(multiSelectionEnabled);
    if (saveDialog) options &= ~item_option::overwritePrompt;
    return options;
}

std::int32_t storedFilterIndex(std::int32_t chooserIndex) {
    // Wraps instead of overflowing for the largest index.
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(chooserIndex) + 1u);
}

ClassicDialogFields classicDialogFields(const ClassicDialogRequest& request) {
    ClassicDialogFields fields;
    fields.flags = classic_flag::explorer | classic_flag::fileMustExist | classic_flag::pathMustExist |
                   classic_flag::hideReadOnly;
    if (request.multiSelectionEnabled) fields.flags |= classic_flag::allowMultiSelect;
    fields.filterIndex = static_cast<std::uint32_t>(request.fileFilterIndex);
    fields.maxFile = kFileBufferUsableUnits;
    fields.maxFileTitle = kFileBufferUsableUnits;
    fields.filter = request.fileFilterString;
    fields.filter.push_back(u'\0');
    fields.useInitialDirectory = !request.currentDirectory.empty();
    fields.useTitle = !request.dialogTitle.empty();
    return fields;
}

void fillFileNameBuffer(char16_t (&buffer)[kFileBufferUnits], const std::u16string& name) {
    // The dialog takes at most maxFile units including the terminating NUL.
    std::size_t length = std::min<std::size_t>(name.size(), kFileBufferUsableUnits - 1);
    const bool cutsSurrogatePair = length < name.size() && length > 0 &&
                                   name[length - 1] >= 0xD800 && name[length - 1] <= 0xDBFF;
    if (cutsSurrogatePair) --length;
    std::copy_n(name.begin(), length, buffer);
    std::fill(buffer + length, buffer + kFileBufferUnits, u'\0');
}

std::vector<std::u16string> parseClassicResult(const char16_t* buffer, std::size_t usableUnits,
                                               std::uint32_t fileOffset) {
    const char16_t* const end = buffer + usableUnits;
    const char16_t* firstNul = std::find(buffer, end, u'\0');
    const std::size_t p = static_cast<std::size_t>(firstNul - buffer);

    std::vector<std::u16string> paths;
    if (p > fileOffset) {
        paths.emplace_back(buffer, p);
        return paths;
    }
    std::u16string directory(buffer, p);
    // A root directory ("C:\") already ends with the separator.
    if (directory.empty() || directory.back() != u'\\') directory.push_back(u'\\');
    const char16_t* name = firstNul == end ? end : firstNul + 1;
    while (name < end) {
        const char16_t* nameEnd = std::find(name, end, u'\0');
        if (nameEnd == end || nameEnd == name) break;
        paths.push_back(directory + std::u16string(name, nameEnd));
        name = nameEnd + 1;
    }
    return paths;
}

}  // namespace pickora

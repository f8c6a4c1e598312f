// What the file dialogs are given and what they hand back, as plain values: the item dialogs'
// option bits, the classic dialog record's field values, and the classic result buffer's parser.
// No platform calls here, so all of it is checked natively.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace pickora {

// The classic dialogs' result and title buffers: 500 units the dialog may fill, one spare.
constexpr std::size_t kFileBufferUnits = 501;
constexpr std::uint32_t kFileBufferUsableUnits = 500;

// The code FolderChooserEvents closes the item save dialog with when the user enters a folder
// that does not exist yet; Show then returns it.
constexpr std::int32_t kNewFolderCloseCode = 11111;

// FILEOPENDIALOGOPTIONS bits (shobjidl.h values).
namespace item_option {
constexpr std::uint32_t overwritePrompt = 0x2;
constexpr std::uint32_t pickFolders = 0x20;
constexpr std::uint32_t forceFileSystem = 0x40;
constexpr std::uint32_t noValidate = 0x100;
constexpr std::uint32_t allowMultiSelect = 0x200;
constexpr std::uint32_t pathMustExist = 0x800;
constexpr std::uint32_t fileMustExist = 0x1000;
constexpr std::uint32_t noReadOnlyReturn = 0x8000;
}  // namespace item_option

// Bits added to the item dialogs' current options, then bits taken away again.
std::uint32_t itemOptionsToSet(bool multiSelectionEnabled);
std::uint32_t itemOptionsToClear(bool multiSelectionEnabled);
// Both steps applied to what the dialog started with (the save dialog clears the overwrite
// prompt afterwards as well).
std::uint32_t itemDialogOptions(std::uint32_t initialOptions, bool multiSelectionEnabled, bool saveDialog);

// OPENFILENAMEW flag bits (commdlg.h values).
namespace classic_flag {
constexpr std::uint32_t hideReadOnly = 0x4;
constexpr std::uint32_t allowMultiSelect = 0x200;
constexpr std::uint32_t pathMustExist = 0x800;
constexpr std::uint32_t fileMustExist = 0x1000;
constexpr std::uint32_t explorer = 0x80000;
}  // namespace classic_flag

// The chooser's filter index is zero-based, the classic dialog's one-based (0 = custom filter).
std::int32_t storedFilterIndex(std::int32_t chooserIndex);

// What the classic record is filled from.
struct ClassicDialogRequest {
    std::u16string currentDirectory;
    std::u16string selectedShortFileName;
    std::u16string dialogTitle;
    std::u16string fileFilterString;
    std::int32_t fileFilterIndex = 0;
    bool multiSelectionEnabled = false;
};

// The classic record's values apart from the window and the buffers' addresses. Open and save
// use the same values.
struct ClassicDialogFields {
    std::uint32_t flags = 0;
    std::uint32_t filterIndex = 0;
    std::uint32_t maxFile = 0;
    std::uint32_t maxFileTitle = 0;
    // The chooser's NUL-separated pairs plus one more NUL; c_str() adds the final one, so the
    // list always ends with two.
    std::u16string filter;
    bool useInitialDirectory = false;  // lpstrInitialDir = currentDirectory, else none
    bool useTitle = false;             // lpstrTitle = dialogTitle, else none
};

ClassicDialogFields classicDialogFields(const ClassicDialogRequest& request);

// Fills the file name buffer with the name the dialog starts with, NUL-terminated. A name that
// does not fit into the usable units is cut at the last whole character that fits.
void fillFileNameBuffer(char16_t (&buffer)[kFileBufferUnits], const std::u16string& name);

// The paths the classic dialog left in its buffer. One file: the text up to the first NUL.
// Several files: the directory, then the names each ended by a NUL, up to an empty name.
// Nothing is read beyond `usableUnits`; a name not ended within them is dropped.
std::vector<std::u16string> parseClassicResult(const char16_t* buffer, std::size_t usableUnits,
                                               std::uint32_t fileOffset);

}  // namespace pickora

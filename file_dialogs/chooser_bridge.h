// The Java side of one dialog call: the chooser's state read through its getters, the window
// that owns the dialog, and the hand-back of the chosen paths.
#pragma once

#include "dialog_settings.h"

#include <jni.h>
#include <windows.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace pickora {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "Windows wide strings are UTF-16");

inline const wchar_t* wide(const std::u16string& text) { return reinterpret_cast<const wchar_t*>(text.c_str()); }
inline wchar_t* wide(char16_t* text) { return reinterpret_cast<wchar_t*>(text); }
inline std::u16string fromWide(const wchar_t* text) { return std::u16string(reinterpret_cast<const char16_t*>(text)); }

struct FileFilter {
    std::u16string filterText;
    std::u16string filterPattern;
};

// One call's state; lives on the calling thread's stack.
struct ChooserContext {
    JNIEnv* env = nullptr;
    jobject chooserObject = nullptr;
    jobject parentComponent = nullptr;
    HWND owner = nullptr;
    char16_t fileNameBuffer[kFileBufferUnits] = {};
    char16_t fileTitleBuffer[kFileBufferUnits] = {};
    std::u16string currentDirectory;
    std::u16string selectedShortFileName;
    std::u16string dialogTitle;
    bool multiSelectionEnabled = false;
    bool directorySelectionEnabled = false;
    std::vector<FileFilter> fileFilters;
    std::u16string fileFilterString;
    std::int32_t fileFilterIndex = 0;
};

// A diagnostic line on standard output, flushed at once (the Java side may read it live).
void writeLine(std::string_view line);
// A UTF-16 text in the 8-bit code page, for diagnostic lines.
std::string narrowForOutput(const std::u16string& text);

// Reads the chooser's getters in order, then finds the owner window.
void readChooserContext(ChooserContext& chooser);
void findOwnerWindow(ChooserContext& chooser);

// Hands the paths to the chooser's setSelectedFiles. False when the array could not be made
// (nothing was delivered then).
bool deliverSelection(ChooserContext& chooser, const std::vector<std::u16string>& paths);

}  // namespace pickora

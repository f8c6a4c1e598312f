// What both variants' binding code shares: the export lookup, the reset to unbound, and the
// platform reads discovery is made of.
#pragma once

#include <quicktime/binding_record.h>

#include <windows.h>

#include <cstddef>
#include <string>

namespace quicktime {

constexpr OSErr kExportMissing = -2094;
constexpr OSErr kLibraryNotLoaded = -2093;
constexpr const char* kQuickTimeKey = "Software\\Apple Computer, Inc.\\QuickTime";

// GetProcAddress of "_CallComponentFunctionWithStorage", "_CallComponent" and
// "theQuickTimeDispatcher" on binding.module, in that order, each stored at once. The first one
// missing answers -2094 (what was found stays stored); all three found clear the hook and answer 0.
OSErr bindEntryPoints(QuickTimeBinding& binding);

// Unbound again: all three entries the not-initialised entry, the hook set.
void resetBinding(QuickTimeBinding& binding, FirstCallHook hook, EntryPoint notInitialised);

// Stores a module this thread has just loaded, unless another thread stored one meanwhile: then
// this thread's reference is given back and the answer is false.
bool storeLoadedModule(QuickTimeBinding& binding, HMODULE loaded);

// LoadLibraryA of folder + "QuickTime.qts"; null for no folder or a path over 259 characters.
HMODULE loadLibraryFrom(const std::string& folder);

// Gives back the binding's reference, if any.
void releaseModule(QuickTimeBinding& binding);

// The full path of a module (the process's own for null); "" when it fails or was cut at `size`.
std::string moduleFileName(HMODULE module, std::size_t size);

// The system folder without a trailing separator; "" when it fails or does not fit in `size`.
std::string systemDirectory(std::size_t size);

// A folder stored in the QuickTime key under `root` (see registryFolderText); "" when the key
// or value cannot be read. The key is always closed.
std::string readQuickTimeFolderValue(HKEY root, REGSAM access, const char* valueName, std::size_t size);

}  // namespace quicktime

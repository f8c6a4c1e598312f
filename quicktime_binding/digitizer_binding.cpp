// The digitizer's binding: the same entries over its own record, bound only lazily, by its own
// load order, and never keeping a reference (QuickTime, its host, holds QuickTime.qts).
#include <quicktime/digitizer_binding.h>

#include "binding_common.h"
#include "binding_paths.h"

#include <tavro/boundary.h>

#include <windows.h>

extern "C" {
// Constant-initialised: the entries may be called before any constructor of this library ran.
quicktime::QuickTimeBinding quickTimeDigitizerBinding =
    quicktime::unboundBinding(&quickTimeDigitizerNotInitialised, &quicktime::digitizer::bindOnFirstCall);
}

namespace quicktime::digitizer {

namespace {

QuickTimeBinding& binding = quickTimeDigitizerBinding;

constexpr std::size_t kPathRoom = MAX_PATH;

std::string registryFolder(HKEY root) {
    return readQuickTimeFolderValue(root, KEY_READ, "QuickTime.qts folder", kPathRoom);
}

std::string systemFolder() {
    const std::string folder = systemDirectory(kPathRoom);
    return folder.empty() ? folder : folder + '\\';
}

}  // namespace

HMODULE loadQuickTimeLibrary() {
    if (const HMODULE loaded = ::GetModuleHandleA(kLibraryName.data())) {
        // A reference of our own to the module already there; nothing else is tried.
        const std::string path = moduleFileName(loaded, kPathRoom);
        if (!path.empty()) return ::LoadLibraryA(path.c_str());
    }
    // Tried in order until one loads; a folder that is not there simply fails to load.
    if (const HMODULE module = loadLibraryFrom(folderOfPath(moduleFileName(nullptr, kPathRoom)))) return module;
    if (const HMODULE module = loadLibraryFrom(registryFolder(HKEY_LOCAL_MACHINE))) return module;
    if (const HMODULE module = loadLibraryFrom(registryFolder(HKEY_CURRENT_USER))) return module;
    return loadLibraryFrom(systemFolder());
}

QUICKTIME_HOOK void bindOnFirstCall() {
    // Called from a forwarding entry: nothing may unwind into it; a failed hook leaves the call
    // to the not-initialised entry.
    tavro::guardBoundary([] {
        bool loadedHere = false;
        if (!binding.module.load()) {
            const HMODULE loaded = loadQuickTimeLibrary();
            if (!loaded) return;  // the call reaches the not-initialised entry
            loadedHere = storeLoadedModule(binding, loaded);
        }
        bindEntryPoints(binding);
        if (loadedHere) releaseModule(binding);
    });
}

}  // namespace quicktime::digitizer

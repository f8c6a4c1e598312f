// The services library's binding: discovery by QuickTime's registry values and folders, the
// lazy hook, the 7.0.2 version test, and the counted, mutex-serialised initialise and terminate.
#include <quicktime/services_binding.h>

#include "binding_common.h"
#include "binding_paths.h"

#include <tavro/boundary.h>
#include <tavro/win_handles.h>

#include <windows.h>

#include <cstdio>
#include <vector>

extern "C" {
// Constant-initialised: the entries may be called before any constructor of this library ran.
quicktime::QuickTimeBinding quickTimeServicesBinding =
    quicktime::unboundBinding(&quickTimeServicesNotInitialised, &quicktime::services::bindOnFirstCall);
}

namespace quicktime::services {

namespace {

QuickTimeBinding& binding = quickTimeServicesBinding;

constexpr std::size_t kPathRoom = MAX_PATH;
constexpr std::size_t kModulePathRoom = MAX_PATH + 1;  // the version test's own buffer
constexpr std::string_view kExtensionSubfolder = "QuickTime\\";

// Existence of a folder text that may end in a separator (which _stat64 refuses).
bool pathExists(const std::string& path) {
    return !path.empty() && ::GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string existingOrEmpty(std::string path) {
    return pathExists(path) ? path : std::string();
}

// The folder of a QuickTime.qts already loaded in the process, separator kept.
std::string loadedModuleFolder(std::size_t size) {
    const HMODULE loaded = ::GetModuleHandleA(kLibraryName.data());
    if (!loaded) return {};
    const std::string path = moduleFileName(loaded, MAX_PATH);
    if (path.size() <= kLibraryName.size() || path.size() - kLibraryName.size() + 1 >= size) return {};
    return path.substr(0, path.size() - kLibraryName.size());
}

std::string withSeparator(std::string folder, std::size_t size) {
    if (folder.empty() || endsWithSeparator(folder)) return folder;
    if (folder.size() + 2 > size) return {};
    return folder + '\\';
}

QUICKTIME_HOOK void bindEntryPointsHook() {
    bindEntryPoints();  // nothing in it throws
}

void resetToUnbound() {
    resetBinding(binding, &bindEntryPointsHook, &quickTimeServicesNotInitialised);
}

// "QTMLInitTermMutex" + the process id in lower-case hexadecimal, held for one initialise or
// terminate; when it cannot be created, the work goes on unserialised.
class InitTermLock {
public:
    InitTermLock() {
        char name[64];
        std::snprintf(name, sizeof name, "QTMLInitTermMutex%lx", static_cast<unsigned long>(::GetCurrentProcessId()));
        mutex_.reset(::CreateMutexA(nullptr, FALSE, name));
        if (mutex_) ::WaitForSingleObject(mutex_.get(), INFINITE);
    }
    ~InitTermLock() {
        if (mutex_) ::ReleaseMutex(mutex_.get());
    }
    InitTermLock(const InitTermLock&) = delete;
    InitTermLock& operator=(const InitTermLock&) = delete;

private:
    tavro::UniqueHandle mutex_;
};

}  // namespace

std::string readQuickTimeRegistryPath(const char* valueName, std::size_t size) {
    return readQuickTimeFolderValue(HKEY_LOCAL_MACHINE, KEY_QUERY_VALUE, valueName, size);
}

std::string locateQuickTimeFolder(std::size_t size) {
    std::string folder = loadedModuleFolder(size);
    if (folder.empty()) folder = existingOrEmpty(readQuickTimeRegistryPath("QTSysDir", size));
    if (folder.empty()) folder = existingOrEmpty(readQuickTimeRegistryPath("QuickTime.qts folder", size));
    if (folder.empty()) folder = existingOrEmpty(systemDirectory(size));
    return withSeparator(std::move(folder), size);
}

std::string locateExtensionFolder(std::size_t size) {
    if (std::string folder = readQuickTimeRegistryPath("QTExtDir", size); !folder.empty()) return folder;
    const std::size_t room = size > kExtensionSubfolder.size() ? size - kExtensionSubfolder.size() : 0;
    const std::string system = withSeparator(systemDirectory(room), room);
    std::string folder = locateQuickTimeFolder(room);
    if (!folder.empty() && folder == system) folder += kExtensionSubfolder;
    return folder;
}

HMODULE loadQuickTimeLibrary() {
    const std::size_t room = kPathRoom - kLibraryName.size();
    const std::string folder = locateQuickTimeFolder(room);
    if (folder.empty()) return nullptr;
    if (const HMODULE module = loadLibraryFrom(folder)) return module;
    return loadLibraryFrom(locateExtensionFolder(room));
}

OSErr bindEntryPoints() {
    return quicktime::bindEntryPoints(binding);
}

bool quickTimeIsAtLeast702() {
    if (binding.versionChecked.load()) return binding.atLeast702.load();
    tavro::UniqueModule loadedForTest;
    HMODULE module = binding.module.load();
    if (!module) {
        loadedForTest.reset(loadQuickTimeLibrary());
        module = loadedForTest.get();
    }
    bool atLeast702 = false;
    const std::string path = module ? moduleFileName(module, kModulePathRoom) : std::string();
    DWORD ignored = 0;
    const DWORD infoSize = path.empty() ? 0 : ::GetFileVersionInfoSizeA(path.c_str(), &ignored);
    if (infoSize != 0) {
        std::vector<BYTE> info(infoSize, 0);
        VS_FIXEDFILEINFO* fixed = nullptr;
        UINT fixedSize = 0;
        if (::GetFileVersionInfoA(path.c_str(), 0, infoSize, info.data()) &&
            ::VerQueryValueA(info.data(), "\\", reinterpret_cast<void**>(&fixed), &fixedSize) && fixed &&
            fixedSize >= sizeof(VS_FIXEDFILEINFO)) {
            const std::uint32_t version =
                packedVersion(HIWORD(fixed->dwFileVersionMS), LOWORD(fixed->dwFileVersionMS),
                              HIWORD(fixed->dwFileVersionLS), LOWORD(fixed->dwFileVersionLS));
            atLeast702 = version >= kPackedVersion702;
        }
    }
    binding.atLeast702.store(atLeast702);
    binding.versionChecked.store(true);
    return atLeast702;
}

namespace {

void bindLazily() {
    bool loadedHere = false;
    if (!binding.module.load()) {
        const HMODULE loaded = loadQuickTimeLibrary();
        if (!loaded) return;  // the call reaches the not-initialised entry
        loadedHere = storeLoadedModule(binding, loaded);
    }
    const OSErr bound = bindEntryPoints();
    if (!loadedHere) return;
    if (bound != 0) {
        // A library without all three exports cannot be called: keeping it would only hold a
        // useless reference behind entries that may point into it.
        resetBinding(binding, &bindOnFirstCall, &quickTimeServicesNotInitialised);
        releaseModule(binding);
        return;
    }
    // From 7.0.2 on, QuickTime tells whether it stays loaded without the reference taken here.
    if (quickTimeIsAtLeast702() && quickTimeReleasesLazyReference() != 0) releaseModule(binding);
}

}  // namespace

QUICKTIME_HOOK void bindOnFirstCall() {
    // Called from a forwarding entry: nothing may unwind into it; a failed hook leaves the call
    // to the not-initialised entry.
    tavro::guardBoundary([] { bindLazily(); });
}

OSErr InitializeQTML(long flags) {
    const InitTermLock lock;
    if (binding.initCount.load() > 0) {
        ++binding.initCount;
        return 0;
    }
    OSErr result = kLibraryNotLoaded;
    if (const HMODULE module = loadQuickTimeLibrary()) {
        binding.module.store(module);
        result = bindEntryPoints();
        if (result == 0) result = quickTimeInitializeQTML(flags);
        if (result == 0) binding.initCount.store(1);
    } else {
        ::GetLastError();  // read and discarded: the answer is -2093 whatever the reason
    }
    if (result != 0) {
        releaseModule(binding);
        resetToUnbound();
    }
    return result;
}

void TerminateQTML() {
    const InitTermLock lock;
    if (binding.initCount.load() <= 0) {
        binding.initCount.store(0);
        return;
    }
    if (--binding.initCount > 0) return;
    quickTimeTerminateQTML();
    resetToUnbound();
    releaseModule(binding);
}

}  // namespace quicktime::services

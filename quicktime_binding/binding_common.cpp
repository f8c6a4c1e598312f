#include "binding_common.h"

#include "binding_paths.h"

#include <tavro/win_handles.h>

#include <vector>

namespace quicktime {

namespace {

EntryPoint lookUp(HMODULE module, const char* name) {
    return reinterpret_cast<EntryPoint>(reinterpret_cast<void*>(::GetProcAddress(module, name)));
}

}  // namespace

OSErr bindEntryPoints(QuickTimeBinding& binding) {
    const HMODULE module = binding.module.load();
    const EntryPoint withStorage = lookUp(module, "_CallComponentFunctionWithStorage");
    if (!withStorage) return kExportMissing;
    binding.componentCallWithStorage.store(withStorage);
    const EntryPoint componentCall = lookUp(module, "_CallComponent");
    if (!componentCall) return kExportMissing;
    binding.componentCall.store(componentCall);
    const EntryPoint dispatcher = lookUp(module, "theQuickTimeDispatcher");
    if (!dispatcher) return kExportMissing;
    binding.dispatcher.store(dispatcher);
    binding.firstCallHook.store(nullptr);
    return 0;
}

void resetBinding(QuickTimeBinding& binding, FirstCallHook hook, EntryPoint notInitialised) {
    binding.firstCallHook.store(hook);
    binding.dispatcher.store(notInitialised);
    binding.componentCall.store(notInitialised);
    binding.componentCallWithStorage.store(notInitialised);
}

bool storeLoadedModule(QuickTimeBinding& binding, HMODULE loaded) {
    HMODULE expected = nullptr;
    if (binding.module.compare_exchange_strong(expected, loaded)) return true;
    ::FreeLibrary(loaded);
    return false;
}

HMODULE loadLibraryFrom(const std::string& folder) {
    if (folder.empty()) return nullptr;
    const std::string path = folder + std::string(kLibraryName);
    if (path.size() >= MAX_PATH) return nullptr;
    return ::LoadLibraryA(path.c_str());
}

void releaseModule(QuickTimeBinding& binding) {
    if (const HMODULE module = binding.module.exchange(nullptr)) ::FreeLibrary(module);
}

std::string moduleFileName(HMODULE module, std::size_t size) {
    std::vector<char> path(size);
    const DWORD length = ::GetModuleFileNameA(module, path.data(), static_cast<DWORD>(size));
    // A path that filled the buffer was cut.
    if (length == 0 || length >= size) return {};
    return std::string(path.data(), length);
}

std::string systemDirectory(std::size_t size) {
    std::vector<char> folder(size);
    const UINT length = ::GetSystemDirectoryA(folder.data(), static_cast<UINT>(size));
    if (length == 0 || length >= size) return {};
    return std::string(folder.data(), length);
}

std::string readQuickTimeFolderValue(HKEY root, REGSAM access, const char* valueName, std::size_t size) {
    HKEY opened = nullptr;
    if (::RegOpenKeyExA(root, kQuickTimeKey, 0, access, &opened) != ERROR_SUCCESS) return {};
    const tavro::UniqueKey key(opened);
    std::vector<char> data(size);
    DWORD length = static_cast<DWORD>(size);
    if (::RegQueryValueExA(key.get(), valueName, nullptr, nullptr, reinterpret_cast<BYTE*>(data.data()), &length) !=
        ERROR_SUCCESS) {
        return {};
    }
    return registryFolderText(data.data(), length, size);
}

}  // namespace quicktime

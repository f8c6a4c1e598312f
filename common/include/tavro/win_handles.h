// Owners for Windows handles and system-allocated memory, one per kind of release call.
#pragma once

#include <windows.h>

#include <memory>
#include <type_traits>

namespace tavro {

template <auto Release>
struct ReleaseWith {
    template <typename T>
    void operator()(T value) const noexcept {
        if (value) Release(value);
    }
};

// unique_ptr over an opaque handle type (HANDLE, HKEY, HMODULE, ... are pointer types).
template <typename Handle, auto Release>
using UniqueWith = std::unique_ptr<std::remove_pointer_t<Handle>, ReleaseWith<Release>>;

using UniqueHandle = UniqueWith<HANDLE, ::CloseHandle>;  // not for INVALID_HANDLE_VALUE results
using UniqueKey = UniqueWith<HKEY, ::RegCloseKey>;
using UniqueModule = UniqueWith<HMODULE, ::FreeLibrary>;
using UniqueIcon = UniqueWith<HICON, ::DestroyIcon>;
using UniqueBitmap = UniqueWith<HBITMAP, ::DeleteObject>;

// A file handle from CreateFile, whose failure value is INVALID_HANDLE_VALUE.
inline UniqueHandle adoptFileHandle(HANDLE file) {
    return UniqueHandle(file == INVALID_HANDLE_VALUE ? nullptr : file);
}

// Memory the system allocated with LocalAlloc (FormatMessage, CommandLineToArgvW, ...).
template <typename T>
using LocalMemory = std::unique_ptr<T, ReleaseWith<::LocalFree>>;

}  // namespace tavro

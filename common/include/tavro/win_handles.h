// Owners for Windows handles and system-allocated memory, one per kind of release call.
#pragma once

#include <windows.h>
#include <winhttp.h>

#include <cstdio>
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

// A directory listing from FindFirstFile, whose failure value is INVALID_HANDLE_VALUE.
using UniqueFindHandle = UniqueWith<HANDLE, ::FindClose>;
inline UniqueFindHandle adoptFindHandle(HANDLE find) {
    return UniqueFindHandle(find == INVALID_HANDLE_VALUE ? nullptr : find);
}

// The environment block from GetEnvironmentStrings.
using EnvironmentStrings = std::unique_ptr<wchar_t, ReleaseWith<::FreeEnvironmentStringsW>>;

// A C runtime stream from fopen.
using UniqueCFile = UniqueWith<std::FILE*, std::fclose>;

// A window's device context from GetDC (the screen's for a null window), given back with
// ReleaseDC to the same window.
class WindowDeviceContext {
public:
    explicit WindowDeviceContext(HWND window) : window_(window), dc_(::GetDC(window)) {}
    ~WindowDeviceContext() {
        if (dc_) ::ReleaseDC(window_, dc_);
    }
    WindowDeviceContext(const WindowDeviceContext&) = delete;
    WindowDeviceContext& operator=(const WindowDeviceContext&) = delete;

    HDC get() const { return dc_; }
    explicit operator bool() const { return dc_ != nullptr; }

private:
    HWND window_;
    HDC dc_;
};

// Memory the system allocated with LocalAlloc (FormatMessage, CommandLineToArgvW, ...).
template <typename T>
using LocalMemory = std::unique_ptr<T, ReleaseWith<::LocalFree>>;

// Memory the system allocated with GlobalAlloc (the strings of WinHTTP's proxy structures).
template <typename T>
using GlobalMemory = std::unique_ptr<T, ReleaseWith<::GlobalFree>>;

// A movable GlobalAlloc block by its handle (the packed images of ICImageDecompress), and its
// lock while the bytes are read.
using UniqueGlobal = UniqueWith<HGLOBAL, ::GlobalFree>;
class GlobalLock {
public:
    explicit GlobalLock(HGLOBAL memory) : memory_(memory), bytes_(memory ? ::GlobalLock(memory) : nullptr) {}
    ~GlobalLock() {
        if (bytes_) ::GlobalUnlock(memory_);
    }
    GlobalLock(const GlobalLock&) = delete;
    GlobalLock& operator=(const GlobalLock&) = delete;

    void* get() const { return bytes_; }
    explicit operator bool() const { return bytes_ != nullptr; }
    SIZE_T size() const { return bytes_ ? ::GlobalSize(memory_) : 0; }

private:
    HGLOBAL memory_;
    void* bytes_;
};

// A WinHTTP session, connection or request handle.
using UniqueInternet = UniqueWith<HINTERNET, ::WinHttpCloseHandle>;

}  // namespace tavro

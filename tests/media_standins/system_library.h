// Wine's own copy of a system DLL that a stand-in of the same name replaces beside a test
// program, loaded by its full path; it stays loaded for the life of the process, as an
// implicitly linked DLL would.
#pragma once

#include <windows.h>

namespace standin {

// The named export of system32's copy of the library, or null.
template <typename Function>
Function systemFunction(const wchar_t* library, const char* name) {
    wchar_t path[MAX_PATH];
    const UINT length = GetSystemDirectoryW(path, MAX_PATH);
    if (length == 0 || length + lstrlenW(library) + 2 >= MAX_PATH) return nullptr;
    lstrcatW(path, L"\\");
    lstrcatW(path, library);
    const HMODULE module = LoadLibraryW(path);
    return module ? reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name))) : nullptr;
}

}  // namespace standin

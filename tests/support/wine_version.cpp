#include <tavro_test/wine_version.h>

#include <windows.h>

#include <cstdlib>

namespace tavro::test {

std::string wineVersion() {
    using GetVersion = const char*(CDECL*)();
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    const auto get = ntdll ? reinterpret_cast<GetVersion>(reinterpret_cast<void*>(
                                 GetProcAddress(ntdll, "wine_get_version")))
                           : nullptr;
    const char* version = get ? get() : nullptr;
    return version ? version : "";
}

int wineMajorVersion() { return std::atoi(wineVersion().c_str()); }

}  // namespace tavro::test

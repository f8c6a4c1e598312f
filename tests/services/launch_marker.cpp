// A program for launchProcess to start: writes its arguments, one per line in UTF-8, to
// "launched.txt" in its working directory, so the test sees both the arguments and the folder.
#include <tavro/win_handles.h>

#include <windows.h>
#include <shellapi.h>

#include <string>

int main() {
    int count = 0;
    const tavro::LocalMemory<LPWSTR> arguments(::CommandLineToArgvW(::GetCommandLineW(), &count));
    if (!arguments) return 1;
    std::wstring lines;
    for (int i = 1; i < count; ++i) {
        lines += arguments.get()[i];
        lines += L'\n';
    }
    std::string utf8(static_cast<std::size_t>(lines.size()) * 4, '\0');
    const int length = ::WideCharToMultiByte(CP_UTF8, 0, lines.data(), static_cast<int>(lines.size()), &utf8[0],
                                             static_cast<int>(utf8.size()), nullptr, nullptr);
    utf8.resize(length > 0 ? static_cast<std::size_t>(length) : 0);

    // Written under another name and renamed, so the test never reads half a file.
    tavro::UniqueHandle file = tavro::adoptFileHandle(
        ::CreateFileW(L"launched.tmp", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return 2;
    DWORD written = 0;
    if (!::WriteFile(file.get(), utf8.data(), static_cast<DWORD>(utf8.size()), &written, nullptr)) return 3;
    file.reset();
    return ::MoveFileExW(L"launched.tmp", L"launched.txt", MOVEFILE_REPLACE_EXISTING) ? 0 : 4;
}

// The webcam suite's entry. Wine binds avicap32.dll to its own copy unless this program's
// override says otherwise (HKCU\Software\Wine\AppDefaults\<program>\DllOverrides, for this
// program only: other processes keep the system's avicap32). Wine reads the key when a
// process starts, so the first run in a fresh prefix writes it and runs itself again.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

namespace {

std::wstring overrideKey() {
    wchar_t path[MAX_PATH] = {};
    ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring program(path);
    program = program.substr(program.find_last_of(L"\\/") + 1);
    return L"Software\\Wine\\AppDefaults\\" + program + L"\\DllOverrides";
}

// True when the override was already in place as this process started.
bool ensureCaptureOverride() {
    const std::wstring key = overrideKey();
    if (::RegGetValueW(HKEY_CURRENT_USER, key.c_str(), L"avicap32", RRF_RT_REG_SZ, nullptr, nullptr, nullptr) ==
        ERROR_SUCCESS) {
        return true;
    }
    const wchar_t order[] = L"native,builtin";
    ::RegSetKeyValueW(HKEY_CURRENT_USER, key.c_str(), L"avicap32", REG_SZ, order, sizeof(order));
    return false;
}

int runAgain() {
    wchar_t path[MAX_PATH] = {};
    ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring commandLine = ::GetCommandLineW();
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = ::GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = ::GetStdHandle(STD_OUTPUT_HANDLE);
    startup.hStdError = ::GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION process{};
    if (!::CreateProcessW(path, commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process)) {
        return 1;
    }
    ::WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 1;
    ::GetExitCodeProcess(process.hProcess, &code);
    ::CloseHandle(process.hThread);
    ::CloseHandle(process.hProcess);
    return int(code);
}

}  // namespace

int main(int argc, char** argv) {
    if (!ensureCaptureOverride()) return runAgain();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

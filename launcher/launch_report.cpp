#include "launch_report.h"

#include "launch_texts.h"

#include <tavro/win_handles.h>

#include <direct.h>
#include <io.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <windows.h>

namespace tavro::launcher {

namespace {

constexpr DWORD kPathBufferSize = 260;

// Read with the platform's own call; a value longer than the usual buffer is read whole
// rather than cut off, so the path built from it is never a truncated, different folder.
std::optional<std::string> systemEnvironmentValue(const char* name) {
    std::string value(kPathBufferSize, '\0');
    for (;;) {
        const DWORD length = ::GetEnvironmentVariableA(name, value.data(), static_cast<DWORD>(value.size()));
        if (length == 0) return std::nullopt;
        if (length < value.size()) {
            value.resize(length);
            return value;
        }
        value.resize(length);  // the size needed, terminator included
    }
}

bool fileExists(const std::string& path) {
    struct __stat64 status;
    return ::_stat64(path.c_str(), &status) == 0;
}

std::string currentAsctime() {
    const __time64_t now = ::_time64(nullptr);
    const std::tm* local = ::_localtime64(&now);
    const char* stamp = local ? std::asctime(local) : nullptr;
    return stamp ? stamp : "\n";
}

void appendSessionLogRecord(const std::string& message, bool fatal) {
    const std::string record = sessionLogRecord(currentAsctime(), message, fatal);
    // Without a profile the folder would be "\Logs" at the root of whatever drive is current.
    const auto profile = environmentValue("USERPROFILE");
    if (!profile) return;
    const std::string folder = *profile + "\\Logs";
    ::_mkdir(folder.c_str());  // an existing folder, or any failure, shows when opening the file
    // Text mode on purpose: the runtime turns every line feed into CR LF, as readers of the
    // log have always seen it.
    UniqueCFile log(std::fopen((folder + "\\" + kApplicationName + " Session Log.txt").c_str(), "a+"));
    if (!log) return;
    std::fwrite(record.data(), 1, record.size(), log.get());
}

}  // namespace

std::optional<std::string> environmentValue(const char* name) {
    const char* value = std::getenv(name);
    if (!value || !*value) return std::nullopt;
    return std::string(value);
}

void reportLaunchError(const std::string& message, bool fatal) {
    if (fatal) reportFatalLaunchError(message);
    appendSessionLogRecord(message, false);
}

void reportFatalLaunchError(const std::string& message) {
    appendSessionLogRecord(message, true);
    ::MessageBoxA(nullptr, launchErrorText(message, true).c_str(), kApplicationName, MB_OK);
    std::exit(1);
}

void showSystemError() {
    const DWORD code = ::GetLastError();
    char* buffer = nullptr;
    ::FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_FROM_SYSTEM,
                     nullptr, code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<char*>(&buffer), 0,
                     nullptr);
    const LocalMemory<char> text(buffer);
    const std::string fallback = "Error " + std::to_string(code);
    ::MessageBoxA(nullptr, text ? text.get() : fallback.c_str(), "Error", MB_OK);
}

std::optional<std::string> writePolicyFile(const std::string& applicationDirectory,
                                           const std::string& libraryFolder) {
    // Without TEMP the path would be "\Tavro.policy" at the root of the current drive.
    const auto temp = systemEnvironmentValue("TEMP");
    if (!temp) return std::nullopt;
    const std::string path = *temp + "\\" + kApplicationName + ".policy";

    if (::_unlink(path.c_str()) != 0) std::remove(path.c_str());
    // A copy that could not be deleted (locked, read-only) stays in force for this run.
    if (fileExists(path)) return path;

    const std::string text = policyFileText(applicationDirectory + "\\", libraryFolder);
    UniqueCFile policy(std::fopen(path.c_str(), "wb"));
    if (!policy) return std::nullopt;
    const bool written = std::fwrite(text.data(), 1, text.size(), policy.get()) == text.size();
    if (std::fclose(policy.release()) != 0 || !written) return std::nullopt;
    return path;
}

}  // namespace tavro::launcher

#include "file_queries.h"

#include "java_strings.h"

#include <tavro/boundary.h>
#include <tavro/com_support.h>
#include <tavro/win_handles.h>

#include <com_vyk_util_jni_Korvix.h>

#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <io.h>
#include <sys/stat.h>
#include <sys/types.h>

#include <array>
#include <cstdio>
#include <new>
#include <vector>

namespace korvix {

namespace {

// The file mode of an existing path; _stat64 so that files over 2 GB are no failure.
std::optional<unsigned> fileMode(const char* path) {
    if (!pathExists(path)) return std::nullopt;
    struct _stat64 status {};
    if (::_stat64(path, &status) != 0) return std::nullopt;
    return static_cast<unsigned>(status.st_mode);
}

// Ends the thread's self-impersonation when the check is over.
class SelfImpersonation {
public:
    SelfImpersonation() : active_(::ImpersonateSelf(SecurityImpersonation) != FALSE) {}
    ~SelfImpersonation() {
        if (active_) ::RevertToSelf();
    }
    SelfImpersonation(const SelfImpersonation&) = delete;
    SelfImpersonation& operator=(const SelfImpersonation&) = delete;

private:
    bool active_;
};

void printTrace(const char* text) {
    std::fputs(text, stdout);
    std::fflush(stdout);
}

bool checkWriteAccess(const char* path) {
    constexpr SECURITY_INFORMATION kWantedParts =
        OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
    DWORD needed = 0;
    const BOOL sizeQuery = ::GetFileSecurityA(path, kWantedParts, nullptr, 0, &needed);
    std::vector<BYTE> descriptor(needed);
    DWORD fetchedLength = 0;
    if (!::GetFileSecurityA(path, kWantedParts, descriptor.empty() ? nullptr : descriptor.data(), needed,
                            &fetchedLength)) {
        const DWORD error = ::GetLastError();
        std::printf("GetFileSecurity: %d %d\n", static_cast<int>(sizeQuery), static_cast<int>(error));
        std::fflush(stdout);
        return false;
    }

    const SelfImpersonation impersonation;
    HANDLE token = nullptr;
    if (!::OpenThreadToken(::GetCurrentThread(), TOKEN_ALL_ACCESS, TRUE, &token)) {
        std::printf("OpenThreadToken: %d\n", static_cast<int>(::GetLastError()));
        std::fflush(stdout);
        return false;
    }
    const tavro::UniqueHandle ownedToken(token);

    // Write data on a file is add-file on a folder: the same bit.
    DWORD desiredAccess = FILE_WRITE_DATA;
    GENERIC_MAPPING mapping{FILE_READ_DATA, FILE_WRITE_DATA, 0, FILE_READ_DATA | FILE_WRITE_DATA};
    ::MapGenericMask(&desiredAccess, &mapping);

    PRIVILEGE_SET privileges{};
    DWORD privilegesLength = sizeof(privileges);
    DWORD granted = 0;
    BOOL accessStatus = FALSE;
    if (!::AccessCheck(descriptor.data(), ownedToken.get(), desiredAccess, &mapping, &privileges,
                       &privilegesLength, &granted, &accessStatus)) {
        std::printf("AccessCheck: %d\n", static_cast<int>(::GetLastError()));
        std::fflush(stdout);
        return false;
    }
    return accessStatus != FALSE;
}

}  // namespace

bool pathExists(const char* path) {
    return path && ::_access(path, 0) == 0;
}

bool pathIsFile(const char* path) {
    const std::optional<unsigned> mode = fileMode(path);
    return mode && (*mode & _S_IFDIR) == 0;
}

bool pathIsDirectory(const char* path) {
    const std::optional<unsigned> mode = fileMode(path);
    return mode && (*mode & _S_IFDIR) != 0;
}

bool fileIsLocked(const char* path, bool forWriting) {
    if (!path) return true;
    if (forWriting) {
        // Opens an existing file only, so nothing is created or truncated. Sharing reading
        // only: another writer, or a reader that does not share writing, makes it fail.
        const tavro::UniqueHandle file = tavro::adoptFileHandle(::CreateFileA(
            path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        return !file;
    }
    FILE* stream = nullptr;
    if (::fopen_s(&stream, path, "r") != 0 || !stream) return true;
    std::fclose(stream);
    return false;
}

bool callerCanWrite(const char* path) {
    if (!path) return false;
    try {
        return checkWriteAccess(path);
    } catch (const std::bad_alloc&) {
        printTrace("bad allocation");
    } catch (...) {
        printTrace("An unknown error has occurred");
    }
    return false;
}

std::int64_t freeBytesForCaller(const char* directory) {
    if (!directory) return -1;
    ULARGE_INTEGER freeToCaller{}, total{}, totalFree{};
    if (!::GetDiskFreeSpaceExA(directory, &freeToCaller, &total, &totalFree)) return -1;
    return static_cast<std::int64_t>(freeToCaller.QuadPart);
}

namespace {

// The target of a shortcut, or nothing; COM is initialised by the caller.
std::optional<std::string> shortcutTarget(const char* linkPath) {
    tavro::ComPtr<IShellLinkA> link;
    if (FAILED(::CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&link)))) {
        return std::nullopt;
    }
    tavro::ComPtr<IPersistFile> file;
    if (FAILED(link.As(&file))) return std::nullopt;
    std::array<wchar_t, MAX_PATH> widePath;
    if (::MultiByteToWideChar(CP_ACP, 0, linkPath, -1, widePath.data(), static_cast<int>(widePath.size())) == 0) {
        return std::nullopt;
    }
    if (FAILED(file->Load(widePath.data(), STGM_READ))) return std::nullopt;
    std::array<char, MAX_PATH> target{};
    // S_FALSE is a link without a file-system target: not resolved.
    if (link->GetPath(target.data(), static_cast<int>(target.size()), nullptr, 0) != S_OK) return std::nullopt;
    target.back() = '\0';
    return std::string(target.data());
}

}  // namespace

ResolvedLink resolveShortcut(const char* linkPath) {
    if (!linkPath) return {LinkResolution::unresolved, {}};
    if (FAILED(::CoInitialize(nullptr))) return {LinkResolution::comUnavailable, {}};
    std::optional<std::string> target = shortcutTarget(linkPath);
    ::CoUninitialize();
    if (!target) return {LinkResolution::unresolved, {}};
    return {LinkResolution::resolved, std::move(*target)};
}

bool shellOpen(const std::wstring& file, const std::wstring& directory, const std::wstring& parameters) {
    SHELLEXECUTEINFOW execute{};
    execute.cbSize = sizeof(execute);
    execute.fMask = 0;
    execute.hwnd = nullptr;
    execute.lpVerb = L"open";
    execute.lpFile = file.c_str();
    execute.lpParameters = parameters.c_str();
    execute.lpDirectory = directory.c_str();
    execute.nShow = SW_SHOW;
    execute.hInstApp = nullptr;
    return ::ShellExecuteExW(&execute) != FALSE;
}

void addToRecentDocuments(const std::wstring& path) {
    ::SHAddToRecentDocs(SHARD_PATHW, path.c_str());
}

}  // namespace korvix

using korvix::ByteFormString;
using korvix::toJava;

extern "C" {

JNIEXPORT jlong JNICALL Java_com_vyk_util_jni_Korvix_getDiskFreeSpace(JNIEnv* env, jclass, jstring directory) {
    return tavro::guardBoundary(jlong{-1}, [&] {
        const ByteFormString path(env, directory);
        return jlong{korvix::freeBytesForCaller(path.get())};
    });
}

JNIEXPORT jboolean JNICALL Java_com_vyk_util_jni_Korvix_launchProcess(JNIEnv* env, jclass, jstring file,
                                                                      jstring directory, jstring parameters) {
    return tavro::guardBoundary(jboolean(JNI_FALSE), [&]() -> jboolean {
        if (!file) return JNI_FALSE;
        const std::wstring fileText = korvix::javaStringToWide(env, file);
        const std::wstring directoryText = korvix::javaStringToWide(env, directory);
        const std::wstring parametersText = korvix::javaStringToWide(env, parameters);
        if (env->ExceptionCheck()) return JNI_FALSE;  // the VM could not give the strings
        return toJava(korvix::shellOpen(fileText, directoryText, parametersText));
    });
}

JNIEXPORT jstring JNICALL Java_com_vyk_util_jni_Korvix_resolveLink(JNIEnv* env, jclass, jstring linkPath) {
    return tavro::guardBoundary<jstring>(nullptr, [&]() -> jstring {
        korvix::ResolvedLink link;
        {
            const ByteFormString path(env, linkPath);
            link = korvix::resolveShortcut(path.get());
        }
        if (link.outcome == korvix::LinkResolution::comUnavailable || env->ExceptionCheck()) return nullptr;
        return korvix::newByteFormString(env, link.target.c_str());
    });
}

JNIEXPORT jboolean JNICALL Java_com_vyk_util_jni_Korvix_fileExists(JNIEnv* env, jclass, jstring path) {
    return tavro::guardBoundary(jboolean(JNI_FALSE), [&] {
        const ByteFormString text(env, path);
        return toJava(korvix::pathExists(text.get()));
    });
}

JNIEXPORT jboolean JNICALL Java_com_vyk_util_jni_Korvix_isFile(JNIEnv* env, jclass, jstring path) {
    return tavro::guardBoundary(jboolean(JNI_FALSE), [&] {
        const ByteFormString text(env, path);
        return toJava(korvix::pathIsFile(text.get()));
    });
}

JNIEXPORT jboolean JNICALL Java_com_vyk_util_jni_Korvix_isDirectory(JNIEnv* env, jclass, jstring path) {
    return tavro::guardBoundary(jboolean(JNI_FALSE), [&] {
        const ByteFormString text(env, path);
        return toJava(korvix::pathIsDirectory(text.get()));
    });
}

// A lock that cannot be checked counts as a lock, as a file that cannot be opened does.
JNIEXPORT jboolean JNICALL Java_com_vyk_util_jni_Korvix_isFileLocked(JNIEnv* env, jclass, jstring path,
                                                                     jboolean forWriting) {
    return tavro::guardBoundary(jboolean(JNI_TRUE), [&] {
        const ByteFormString text(env, path);
        return toJava(korvix::fileIsLocked(text.get(), forWriting != JNI_FALSE));
    });
}

JNIEXPORT jboolean JNICALL Java_com_vyk_util_jni_Korvix_canWrite(JNIEnv* env, jclass, jstring path) {
    return tavro::guardBoundary(jboolean(JNI_FALSE), [&] {
        const ByteFormString text(env, path);
        return toJava(korvix::callerCanWrite(text.get()));
    });
}

JNIEXPORT void JNICALL Java_com_vyk_util_jni_Korvix_addToRecentFiles(JNIEnv* env, jclass, jstring path) {
    tavro::guardBoundary([&] {
        // A null entry would clear the user's whole list instead of adding to it.
        if (!path) return;
        const std::wstring text = korvix::javaStringToWide(env, path);
        if (env->ExceptionCheck()) return;
        korvix::addToRecentDocuments(text);
    });
}

}  // extern "C"

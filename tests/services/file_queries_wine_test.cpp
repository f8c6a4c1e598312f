// Korvix's file and shell exports on Wine's real file system, security and shell.
#include "korvix_test_support.h"

#include <tavro/com_support.h>
#include <tavro/win_handles.h>

#include <shlobj.h>
#include <shobjidl.h>

#include <thread>

namespace korvix::test {
namespace {

using PathQuery = jboolean(JNICALL*)(JNIEnv*, jclass, jstring);
using IsFileLocked = jboolean(JNICALL*)(JNIEnv*, jclass, jstring, jboolean);
using GetDiskFreeSpace = jlong(JNICALL*)(JNIEnv*, jclass, jstring);
using ResolveLink = jstring(JNICALL*)(JNIEnv*, jclass, jstring);
using LaunchProcess = jboolean(JNICALL*)(JNIEnv*, jclass, jstring, jstring, jstring);
using AddToRecentFiles = void(JNICALL*)(JNIEnv*, jclass, jstring);

class KorvixFiles : public KorvixTest {
protected:
    void SetUp() override {
        file_ = folder_.file(L"ordinary.txt");
        ASSERT_TRUE(writeFile(file_, "contents"));
    }

    bool ask(PathQuery query, const std::wstring& path) {
        return query(env, korvixClass, java(narrow(path))) == JNI_TRUE;
    }
    bool locked(const std::wstring& path, bool forWriting) {
        return isFileLocked(env, korvixClass, java(narrow(path)), forWriting ? JNI_TRUE : JNI_FALSE) == JNI_TRUE;
    }

    PathQuery fileExists = korvixExport<PathQuery>("fileExists");
    PathQuery isFile = korvixExport<PathQuery>("isFile");
    PathQuery isDirectory = korvixExport<PathQuery>("isDirectory");
    PathQuery canWrite = korvixExport<PathQuery>("canWrite");
    IsFileLocked isFileLocked = korvixExport<IsFileLocked>("isFileLocked");

    ScratchFolder folder_;
    std::wstring file_;
};

TEST_F(KorvixFiles, ExistenceAndKindOfPaths) {
    struct Case {
        std::wstring path;
        bool exists, file, directory;
    };
    const std::vector<Case> cases = {
        {file_, true, true, false},
        {folder_.path(), true, false, true},
        {folder_.file(L"missing.txt"), false, false, false},
        {folder_.file(L"missing\\below.txt"), false, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(narrow(c.path));
        EXPECT_EQ(ask(fileExists, c.path), c.exists);
        EXPECT_EQ(ask(isFile, c.path), c.file);
        EXPECT_EQ(ask(isDirectory, c.path), c.directory);
    }
    for (PathQuery query : {fileExists, isFile, isDirectory}) {
        EXPECT_FALSE(query(env, korvixClass, nullptr));
    }
}

TEST_F(KorvixFiles, PathsPassAsUnconvertedBytes) {
    // The Java string's modified UTF-8 bytes reach the 8-bit file calls, which read them in
    // the ANSI code page: "Gr\u00FC\u00DFe" names the file whose name those bytes spell there.
    const std::string bytes = "Gr\xC3\xBC\xC3\x9F" "e.txt";
    wchar_t asAnsi[64] = {};
    ASSERT_GT(::MultiByteToWideChar(CP_ACP, 0, bytes.c_str(), -1, asAnsi, 64), 0);
    ASSERT_TRUE(writeFile(folder_.file(asAnsi), "bytes"));
    const std::wstring javaName = folder_.file(L"Gr\u00FC\u00DFe.txt");
    EXPECT_TRUE(fileExists(env, korvixClass, java(javaName)));
    EXPECT_TRUE(isFile(env, korvixClass, java(javaName)));
    if (::GetACP() != CP_UTF8) {
        ::DeleteFileW(folder_.file(asAnsi).c_str());
        ASSERT_TRUE(writeFile(javaName, "unicode name"));
        EXPECT_FALSE(fileExists(env, korvixClass, java(javaName)));
    }
}

TEST_F(KorvixFiles, LockedWhenTheFileCannotBeOpened) {
    const std::wstring missing = folder_.file(L"missing.txt");
    EXPECT_FALSE(locked(file_, false));
    EXPECT_FALSE(locked(file_, true));
    EXPECT_TRUE(locked(missing, false));
    EXPECT_TRUE(locked(missing, true));
    EXPECT_TRUE(locked(folder_.path(), false));
    EXPECT_TRUE(locked(folder_.path(), true));
    EXPECT_TRUE(isFileLocked(env, korvixClass, nullptr, JNI_FALSE));
    EXPECT_TRUE(isFileLocked(env, korvixClass, nullptr, JNI_TRUE));

    {
        // Another writer that shares nothing.
        const tavro::UniqueHandle writer = tavro::adoptFileHandle(
            ::CreateFileW(file_.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        ASSERT_TRUE(writer);
        EXPECT_TRUE(locked(file_, false));
        EXPECT_TRUE(locked(file_, true));
    }
    {
        // A reader that lets others read but not write.
        const tavro::UniqueHandle reader = tavro::adoptFileHandle(::CreateFileW(
            file_.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        ASSERT_TRUE(reader);
        EXPECT_FALSE(locked(file_, false));
        EXPECT_TRUE(locked(file_, true));
    }
    EXPECT_FALSE(locked(file_, false));
}

TEST_F(KorvixFiles, WriteTestNeitherCreatesNorChangesTheFile) {
    const std::wstring missing = folder_.file(L"missing.txt");
    EXPECT_TRUE(locked(missing, true));
    EXPECT_EQ(::GetFileAttributesW(missing.c_str()), INVALID_FILE_ATTRIBUTES);

    FILETIME before{}, after{};
    {
        const tavro::UniqueHandle file = tavro::adoptFileHandle(::CreateFileW(
            file_.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(file && ::GetFileTime(file.get(), nullptr, nullptr, &before));
    }
    ::Sleep(20);
    EXPECT_FALSE(locked(file_, true));
    {
        const tavro::UniqueHandle file = tavro::adoptFileHandle(::CreateFileW(
            file_.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(file && ::GetFileTime(file.get(), nullptr, nullptr, &after));
    }
    EXPECT_EQ(readFile(file_), "contents");
    EXPECT_EQ(::CompareFileTime(&before, &after), 0);
}

TEST_F(KorvixFiles, CanWriteFollowsTheSecurityCheck) {
    struct Case {
        std::wstring path;
        bool writable;
        std::string trace;
    };
    const std::wstring readOnly = folder_.file(L"read-only.txt");
    ASSERT_TRUE(writeFile(readOnly, "fixed"));
    ASSERT_TRUE(::SetFileAttributesW(readOnly.c_str(), FILE_ATTRIBUTE_READONLY));
    const std::vector<Case> cases = {
        {file_, true, ""},
        {folder_.path(), true, ""},  // add-file on a folder is the same access bit
        {readOnly, false, ""},
        // No descriptor to fetch: the size query's result (0) and "file not found".
        {folder_.file(L"missing.txt"), false, "GetFileSecurity: 0 2\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(narrow(c.path));
        StdoutCapture output;
        const bool writable = ask(canWrite, c.path);
        EXPECT_EQ(output.finish(), c.trace);
        EXPECT_EQ(writable, c.writable);
    }
    EXPECT_FALSE(canWrite(env, korvixClass, nullptr));
}

TEST_F(KorvixFiles, CanWriteLeavesTheThreadWithoutImpersonation) {
    ASSERT_TRUE(ask(canWrite, file_));
    HANDLE token = nullptr;
    EXPECT_FALSE(::OpenThreadToken(::GetCurrentThread(), TOKEN_QUERY, TRUE, &token));
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_NO_TOKEN));
    if (token) ::CloseHandle(token);
}

TEST_F(KorvixFiles, FreeSpaceOfTheVolumeOrMinusOne) {
    const auto getDiskFreeSpace = korvixExport<GetDiskFreeSpace>("getDiskFreeSpace");
    ULARGE_INTEGER expected{};
    ASSERT_TRUE(::GetDiskFreeSpaceExW(folder_.path().c_str(), &expected, nullptr, nullptr));
    const jlong free = getDiskFreeSpace(env, korvixClass, java(narrow(folder_.path())));
    EXPECT_GT(free, 0);
    // Other processes write to the same volume meanwhile.
    EXPECT_NEAR(static_cast<double>(free), static_cast<double>(expected.QuadPart), 512.0 * 1024 * 1024);

    // The first drive letter this prefix does not map.
    std::string missingDrive;
    const DWORD drives = ::GetLogicalDrives();
    for (char letter = 'Q'; letter <= 'Y' && missingDrive.empty(); ++letter) {
        if (!(drives & (1u << (letter - 'A')))) missingDrive = std::string(1, letter) + ":\\Folder";
    }
    ASSERT_FALSE(missingDrive.empty());
    EXPECT_EQ(getDiskFreeSpace(env, korvixClass, java(missingDrive)), -1);
    EXPECT_EQ(getDiskFreeSpace(env, korvixClass, nullptr), -1);
}

class KorvixShell : public KorvixFiles {
protected:
    void makeShortcut(const std::wstring& link, const std::wstring& target) {
        ASSERT_TRUE(SUCCEEDED(::CoInitialize(nullptr)));
        {
            tavro::ComPtr<IShellLinkW> shellLink;
            ASSERT_TRUE(SUCCEEDED(
                ::CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&shellLink))));
            ASSERT_TRUE(SUCCEEDED(shellLink->SetPath(target.c_str())));
            tavro::ComPtr<IPersistFile> file;
            ASSERT_TRUE(SUCCEEDED(shellLink.As(&file)));
            ASSERT_TRUE(SUCCEEDED(file->Save(link.c_str(), TRUE)));
        }
        ::CoUninitialize();
    }
    jstring resolve(const std::wstring& path) { return resolveLink(env, korvixClass, java(narrow(path))); }

    ResolveLink resolveLink = korvixExport<ResolveLink>("resolveLink");
};

TEST_F(KorvixShell, ResolvesShortcutsAndTellsUnresolvableLinksApart) {
    const std::wstring link = folder_.file(L"shortcut.lnk");
    makeShortcut(link, file_);
    jstring target = resolve(link);
    ASSERT_NE(target, nullptr);
    EXPECT_EQ(utf8(target), narrow(file_));

    // Not a link, no file, no path: the empty string, not null.
    for (const std::wstring& path : {file_, folder_.file(L"missing.lnk")}) {
        jstring result = resolve(path);
        ASSERT_NE(result, nullptr) << narrow(path);
        EXPECT_EQ(utf8(result), "");
    }
    jstring fromNull = resolveLink(env, korvixClass, nullptr);
    ASSERT_NE(fromNull, nullptr);
    EXPECT_EQ(utf8(fromNull), "");
}

TEST_F(KorvixShell, LeavesTheThreadsComStateAsItWas) {
    const std::wstring link = folder_.file(L"shortcut.lnk");
    makeShortcut(link, file_);
    const std::string linkBytes = narrow(link);
    // Each case runs on a thread of its own, so no apartment leaks between them.
    auto onThread = [&](auto body) { std::thread(body).join(); };

    // A thread without COM has none afterwards: a multithreaded apartment can still be entered.
    onThread([&] {
        tavro::test::JavaVmStandIn threadVm;
        jstring result = resolveLink(threadVm.env(), threadVm.defineClass("com/vyk/util/jni/Korvix"), threadVm.newStringUtf8(linkBytes));
        EXPECT_NE(result, nullptr);
        const HRESULT afterwards = ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        EXPECT_EQ(afterwards, S_OK);
        if (SUCCEEDED(afterwards)) ::CoUninitialize();
    });
    // A thread in a single-threaded apartment keeps it: one CoUninitialize ends it.
    onThread([&] {
        ASSERT_EQ(::CoInitialize(nullptr), S_OK);
        tavro::test::JavaVmStandIn threadVm;
        jstring result = resolveLink(threadVm.env(), threadVm.defineClass("com/vyk/util/jni/Korvix"), threadVm.newStringUtf8(linkBytes));
        ASSERT_NE(result, nullptr);
        EXPECT_EQ(threadVm.stringUtf8(result), narrow(file_));
        EXPECT_EQ(::CoInitialize(nullptr), S_FALSE);  // still initialised
        ::CoUninitialize();
        ::CoUninitialize();
    });
    // A thread in the multithreaded apartment cannot take a single-threaded one: null.
    onThread([&] {
        ASSERT_EQ(::CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
        tavro::test::JavaVmStandIn threadVm;
        EXPECT_EQ(resolveLink(threadVm.env(), threadVm.defineClass("com/vyk/util/jni/Korvix"), threadVm.newStringUtf8(linkBytes)), nullptr);
        EXPECT_EQ(threadVm.outstandingAcquisitions(), 0);
        EXPECT_EQ(::CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_FALSE);  // unchanged
        ::CoUninitialize();
        ::CoUninitialize();
    });
}

// The helper renames its marker into place once it is complete.
bool waitForFile(const std::wstring& path) {
    for (int waited = 0; waited < 100; ++waited) {
        if (::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES) return true;
        ::Sleep(100);
    }
    return false;
}

TEST_F(KorvixShell, LaunchesAProgramWithItsArgumentsInTheGivenFolder) {
    const auto launchProcess = korvixExport<LaunchProcess>("launchProcess");
    const std::string helper = buildFilePath(KORVIX_LAUNCH_MARKER_PATH);
    const std::wstring marker = folder_.file(L"launched.txt");
    // Unicode strings: the arguments arrive as the Java side wrote them.
    ASSERT_TRUE(launchProcess(env, korvixClass, java(helper), java(folder_.path()),
                              java(L"first \"two words\" Gr\u00FC\u00DFe")));
    ASSERT_TRUE(waitForFile(marker));
    EXPECT_EQ(readFile(marker), "first\ntwo words\nGr\xC3\xBC\xC3\x9F" "e\n");

    // Null parameters and folder are passed as empty: no arguments, the caller's folder.
    ASSERT_TRUE(::DeleteFileW(marker.c_str()));
    wchar_t previous[MAX_PATH] = {};
    ::GetCurrentDirectoryW(MAX_PATH, previous);
    ASSERT_TRUE(::SetCurrentDirectoryW(folder_.path().c_str()));
    const bool started = launchProcess(env, korvixClass, java(helper), nullptr, nullptr);
    const bool written = waitForFile(marker);
    ::SetCurrentDirectoryW(previous);
    EXPECT_TRUE(started);
    ASSERT_TRUE(written);
    EXPECT_EQ(readFile(marker), "");

    EXPECT_FALSE(launchProcess(env, korvixClass, nullptr, java(folder_.path()), java("")));
}

TEST_F(KorvixShell, AddsToRecentDocuments) {
    const auto addToRecentFiles = korvixExport<AddToRecentFiles>("addToRecentFiles");
    addToRecentFiles(env, korvixClass, java(file_));
    addToRecentFiles(env, korvixClass, nullptr);

    wchar_t recent[MAX_PATH] = {};
    ASSERT_TRUE(SUCCEEDED(::SHGetFolderPathW(nullptr, CSIDL_RECENT, nullptr, 0, recent)));
    const std::wstring shortcut = std::wstring(recent) + L"\\ordinary.txt.lnk";
    EXPECT_NE(::GetFileAttributesW(shortcut.c_str()), INVALID_FILE_ATTRIBUTES) << narrow(shortcut);
    ::DeleteFileW(shortcut.c_str());
}

}  // namespace
}  // namespace korvix::test

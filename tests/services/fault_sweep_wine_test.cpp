// Every failure point of Korvix's registry and file exports survived: each allocation the
// library makes, each platform call it imports and each Java VM call that can fail is made to
// fail in turn. Every run must answer a failure value its export allows (or the true answer),
// never claim work it did not do, leave nothing pending in the VM, and give back every handle,
// string and block it took.
#include "korvix_test_support.h"

#include <tavro/com_support.h>
#include <tavro_test/fault_sweep.h>
#include <tavro_test/soak.h>
#include <tavro_test/vm_fault_points.h>

#include <shellapi.h>
#include <shlobj.h>
#include <shobjidl.h>
#include <sys/stat.h>

#include <io.h>

#include <optional>

namespace korvix::test {
namespace {

using tavro::test::AllocationFaults;
using tavro::test::failedPoint;
using tavro::test::ImportFaults;
using tavro::test::sweepFaults;

using GetRegistry = jstring(JNICALL*)(JNIEnv*, jclass, jstring, jstring, jstring);
using PutRegistry = jboolean(JNICALL*)(JNIEnv*, jclass, jstring, jstring, jstring, jstring);
using KeyExists = jboolean(JNICALL*)(JNIEnv*, jclass, jstring, jstring);
using GetSubkeys = jobjectArray(JNICALL*)(JNIEnv*, jclass, jstring, jstring);
using PathQuery = jboolean(JNICALL*)(JNIEnv*, jclass, jstring);
using IsFileLocked = jboolean(JNICALL*)(JNIEnv*, jclass, jstring, jboolean);
using GetDiskFreeSpace = jlong(JNICALL*)(JNIEnv*, jclass, jstring);
using ResolveLink = jstring(JNICALL*)(JNIEnv*, jclass, jstring);
using AddToRecentFiles = void(JNICALL*)(JNIEnv*, jclass, jstring);
using GetFileIcon = jintArray(JNICALL*)(JNIEnv*, jclass, jstring, jint);
using ExtractIcon = jintArray(JNICALL*)(JNIEnv*, jclass, jstring, jint, jint);

// The platform calls of these exports, each failing as the platform fails when it runs out of
// memory or is refused.
std::vector<tavro::test::FailingImportEntry> platformFailures() {
    constexpr const char* advapi = "advapi32.dll";
    constexpr const char* kernel = "kernel32.dll";
    return {
        TAVRO_FAILING_IMPORT(advapi, RegOpenKeyExA, ERROR_ACCESS_DENIED, ERROR_ACCESS_DENIED),
        TAVRO_FAILING_IMPORT(advapi, RegQueryValueExA, ERROR_NOT_ENOUGH_MEMORY, ERROR_NOT_ENOUGH_MEMORY),
        TAVRO_FAILING_IMPORT(advapi, RegCreateKeyExA, ERROR_ACCESS_DENIED, ERROR_ACCESS_DENIED),
        TAVRO_FAILING_IMPORT(advapi, RegSetValueExA, ERROR_NOT_ENOUGH_MEMORY, ERROR_NOT_ENOUGH_MEMORY),
        TAVRO_FAILING_IMPORT(advapi, RegQueryInfoKeyA, ERROR_NOT_ENOUGH_MEMORY, ERROR_NOT_ENOUGH_MEMORY),
        TAVRO_FAILING_IMPORT(advapi, RegEnumKeyExA, ERROR_NOT_ENOUGH_MEMORY, ERROR_NOT_ENOUGH_MEMORY),
        TAVRO_FAILING_IMPORT(advapi, GetFileSecurityA, FALSE, ERROR_NOT_ENOUGH_MEMORY),
        TAVRO_FAILING_IMPORT(advapi, ImpersonateSelf, FALSE, ERROR_NOT_ENOUGH_MEMORY),
        TAVRO_FAILING_IMPORT(advapi, OpenThreadToken, FALSE, ERROR_NO_TOKEN),
        TAVRO_FAILING_IMPORT(advapi, AccessCheck, FALSE, ERROR_NOT_ENOUGH_MEMORY),
        TAVRO_FAILING_IMPORT(kernel, CreateFileA, INVALID_HANDLE_VALUE, ERROR_SHARING_VIOLATION),
        TAVRO_FAILING_IMPORT(kernel, GetDiskFreeSpaceExA, FALSE, ERROR_NOT_READY),
        TAVRO_FAILING_IMPORT(kernel, GetFileAttributesA, INVALID_FILE_ATTRIBUTES, ERROR_ACCESS_DENIED),
        TAVRO_FAILING_IMPORT(kernel, MultiByteToWideChar, 0, ERROR_INSUFFICIENT_BUFFER),
        TAVRO_FAILING_IMPORT("ole32.dll", CoInitialize, E_OUTOFMEMORY, 0),
        TAVRO_FAILING_IMPORT("ole32.dll", CoCreateInstance, E_OUTOFMEMORY, 0),
        TAVRO_FAILING_IMPORT("msvcrt.dll", _stat64, -1, ERROR_ACCESS_DENIED),
        TAVRO_FAILING_IMPORT("msvcrt.dll", _access, -1, ERROR_ACCESS_DENIED),
        TAVRO_FAILING_IMPORT("shell32.dll", SHGetFileInfoA, 0, ERROR_NOT_ENOUGH_MEMORY),
        TAVRO_FAILING_IMPORT("shell32.dll", ExtractIconA, nullptr, ERROR_NOT_ENOUGH_MEMORY),
        TAVRO_FAILING_IMPORT("user32.dll", GetIconInfo, FALSE, ERROR_NOT_ENOUGH_MEMORY),
        TAVRO_FAILING_IMPORT("user32.dll", GetDC, nullptr, ERROR_NOT_ENOUGH_MEMORY),
        TAVRO_FAILING_IMPORT("gdi32.dll", GetDIBits, 0, ERROR_NOT_ENOUGH_MEMORY),
        TAVRO_FAILING_IMPORT(kernel, GetProcAddress, nullptr, ERROR_PROC_NOT_FOUND),
    };
}

// The VM stand-in keeps every string a cycle makes: a few kilobytes a cycle that are not the
// library's (whose own blocks the soak counts exactly).
tavro::test::SoakTolerance vmKeepsEverything() {
    tavro::test::SoakTolerance tolerance;
    tolerance.privateBytesPerCycle = 16 * 1024;
    return tolerance;
}

class KorvixFaultSweep : public KorvixTest {
protected:
    void SetUp() override {
        ASSERT_TRUE(allocations_.active());
        keyPath_ = "Software\\TavroKorvixSweep\\" + std::to_string(::GetCurrentProcessId());
        const std::string text(100, 'v');
        ASSERT_EQ(::RegSetKeyValueA(HKEY_CURRENT_USER, keyPath_.c_str(), "text", REG_SZ, text.c_str(),
                                    static_cast<DWORD>(text.size() + 1)),
                  ERROR_SUCCESS);
        for (const char* name : {"first", "second", "third"}) {
            ASSERT_EQ(::RegSetKeyValueA(HKEY_CURRENT_USER, (keyPath_ + "\\" + name).c_str(), "", REG_SZ, "", 1),
                      ERROR_SUCCESS);
        }
    }
    void TearDown() override {
        ::RegDeleteTreeA(HKEY_CURRENT_USER, keyPath_.c_str());
        KorvixTest::TearDown();
    }

    // After each export: nothing pending in the VM but its own error for a call it refused;
    // at the end of a run every string and array given back.
    template <typename Answer>
    Answer settled(Answer answer) {
        settle();
        return answer;
    }
    void settle() { vmFaults_.settle(); }
    void expectVmClean() { EXPECT_EQ(vm.outstandingAcquisitions(), 0) << "after " << failedPoint(); }

    std::optional<std::string> stored(const std::string& keyPath, const char* name) {
        char data[256] = {};
        DWORD length = sizeof(data);
        if (::RegGetValueA(HKEY_CURRENT_USER, keyPath.c_str(), name, RRF_RT_REG_SZ, nullptr, data, &length) !=
            ERROR_SUCCESS) {
            return std::nullopt;
        }
        return std::string(data);
    }

    AllocationFaults allocations_{korvixLibrary()};
    ImportFaults imports_{korvixLibrary(), platformFailures()};
    std::string keyPath_;
    tavro::test::VmFaultPoints vmFaults_{vm};
};

TEST_F(KorvixFaultSweep, TheTableReachesTheLibrarysImports) {
    EXPECT_TRUE(imports_.missing().empty()) << "not imported: " << ::testing::PrintToString(imports_.missing());
}

TEST_F(KorvixFaultSweep, RegistryExports) {
    const auto getRegistry = korvixExport<GetRegistry>("getRegistry");
    const auto putRegistry = korvixExport<PutRegistry>("putRegistry");
    const auto keyExists = korvixExport<KeyExists>("keyExists");
    const auto getSubkeys = korvixExport<GetSubkeys>("getSubkeys");
    const std::string written = keyPath_ + "\\written";
    int run = 0;

    const auto summary = tavro::test::sweepThenSoak("registry exports", [&] {
        // Each run writes a value of its own, so a true answer of an earlier run cannot hide a
        // false one now.
        const std::string data = "run " + std::to_string(++run);
        const jstring root = java("HKCU");

        const jstring value = settled(getRegistry(env, korvixClass, root, java(keyPath_), java("text")));
        if (value) {
            EXPECT_EQ(utf8(value), std::string(100, 'v')) << failedPoint();
        }

        if (settled(putRegistry(env, korvixClass, root, java(written), java("name"), java(data)))) {
            EXPECT_EQ(stored(written, "name"), data) << "reported written, but not stored, at " << failedPoint();
        }

        // The key exists: false is the failure answer, true the truth.
        settled(keyExists(env, korvixClass, root, java(keyPath_ + "\\text")));
        EXPECT_FALSE(settled(keyExists(env, korvixClass, root, java(keyPath_ + "\\missing\\value")))) << failedPoint();

        // Never null: each element is a subkey's name, or empty where its name could not be read.
        const jobjectArray names = getSubkeys(env, korvixClass, root, java(keyPath_));
        const bool vmFailed = vmFaults_.refused();  // then Java sees the VM's error, not the answer
        settle();
        if (names) {
            const auto elements = vm.nullableStringArrayValue(names);
            EXPECT_LE(elements.size(), 4u) << failedPoint();
            for (const auto& element : elements) {
                ASSERT_TRUE(element.has_value()) << "a null element at " << failedPoint();
                const std::string name = tavro::test::utf16ToUtf8(*element);
                EXPECT_TRUE(name.empty() || name == "first" || name == "second" || name == "third" || name == "written")
                    << name << " at " << failedPoint();
            }
        } else {
            EXPECT_TRUE(vmFailed) << "getSubkeys answered null at " << failedPoint();
        }
        expectVmClean();
    }, {}, vmKeepsEverything());
    EXPECT_GT(summary.points, 20);
}

TEST_F(KorvixFaultSweep, FileAndShellExports) {
    const auto fileExists = korvixExport<PathQuery>("fileExists");
    const auto isFile = korvixExport<PathQuery>("isFile");
    const auto isDirectory = korvixExport<PathQuery>("isDirectory");
    const auto canWrite = korvixExport<PathQuery>("canWrite");
    const auto isFileLocked = korvixExport<IsFileLocked>("isFileLocked");
    const auto getDiskFreeSpace = korvixExport<GetDiskFreeSpace>("getDiskFreeSpace");
    const auto resolveLink = korvixExport<ResolveLink>("resolveLink");
    const auto addToRecentFiles = korvixExport<AddToRecentFiles>("addToRecentFiles");

    ScratchFolder folder;
    const std::wstring file = folder.file(L"ordinary.txt");
    ASSERT_TRUE(writeFile(file, "contents"));
    const std::wstring link = folder.file(L"ordinary.lnk");
    {
        ASSERT_TRUE(SUCCEEDED(::CoInitialize(nullptr)));
        tavro::ComPtr<IShellLinkW> shellLink;
        tavro::ComPtr<IPersistFile> persist;
        ASSERT_TRUE(SUCCEEDED(::CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&shellLink))));
        ASSERT_TRUE(SUCCEEDED(shellLink->SetPath(file.c_str())));
        ASSERT_TRUE(SUCCEEDED(shellLink.As(&persist)));
        ASSERT_TRUE(SUCCEEDED(persist->Save(link.c_str(), TRUE)));
        persist.Reset();
        shellLink.Reset();
        ::CoUninitialize();
    }
    const std::string missing = narrow(folder.file(L"missing.txt"));

    const auto summary = tavro::test::sweepThenSoak("file and shell exports", [&] {
        const std::string path = narrow(file);
        // True answers must be true of the file; a failure may only answer false.
        settled(fileExists(env, korvixClass, java(path)));
        settled(isFile(env, korvixClass, java(path)));
        EXPECT_FALSE(settled(isDirectory(env, korvixClass, java(path)))) << failedPoint();
        EXPECT_FALSE(settled(fileExists(env, korvixClass, java(missing)))) << failedPoint();
        EXPECT_FALSE(settled(isFile(env, korvixClass, java(missing)))) << failedPoint();
        // A file that cannot be opened counts as locked; the ordinary one is not locked.
        settled(isFileLocked(env, korvixClass, java(path), JNI_TRUE));
        EXPECT_TRUE(settled(isFileLocked(env, korvixClass, java(missing), JNI_FALSE))) << failedPoint();
        {
            StdoutCapture traces;  // its traces are its own business
            settled(canWrite(env, korvixClass, java(path)));
            EXPECT_FALSE(settled(canWrite(env, korvixClass, java(missing)))) << failedPoint();
        }
        const jlong free = settled(getDiskFreeSpace(env, korvixClass, java(narrow(folder.path()))));
        EXPECT_TRUE(free == -1 || free > 0) << free << " at " << failedPoint();
        // The target, the empty string for a link that could not be resolved, or null for a
        // thread without COM (or a VM without memory for the answer).
        if (const jstring target = settled(resolveLink(env, korvixClass, java(narrow(link))))) {
            const std::string answer = utf8(target);
            EXPECT_TRUE(answer.empty() || ::_stricmp(answer.c_str(), path.c_str()) == 0) << answer << " at " << failedPoint();
        }
        addToRecentFiles(env, korvixClass, java(path));
        settle();
        expectVmClean();
    }, {}, vmKeepsEverything());
    EXPECT_GT(summary.points, 20);
}

TEST_F(KorvixFaultSweep, IconExports) {
    const auto getFileIcon = korvixExport<GetFileIcon>("getFileIcon");
    const auto getFileIconOnXpOrVista = korvixExport<GetFileIcon>("getFileIconOnXpOrVista");
    const auto extractIcon = korvixExport<ExtractIcon>("extractIcon");
    char system[MAX_PATH] = {};
    ASSERT_GT(::GetSystemDirectoryA(system, MAX_PATH), 0u);
    const std::string shell = std::string(system) + "\\shell32.dll";

    // An icon is size x size pixels, or null.
    auto expectIcon = [&](jintArray icon, jint size) {
        const bool vmFailed = vmFaults_.refused();
        settle();
        if (icon && !vmFailed) {
            EXPECT_EQ(vm.intArrayValue(icon).size(), std::size_t(size) * std::size_t(size)) << failedPoint();
        }
    };
    const auto summary = tavro::test::sweepThenSoak("icon exports", [&] {
        expectIcon(getFileIcon(env, korvixClass, java(shell), 32), 32);
        expectIcon(getFileIconOnXpOrVista(env, korvixClass, java(shell), 48), 48);
        expectIcon(extractIcon(env, korvixClass, java(shell), 0, 32), 32);
        expectVmClean();
    }, {}, vmKeepsEverything());
    EXPECT_GT(summary.points, 10);
}

}  // namespace
}  // namespace korvix::test

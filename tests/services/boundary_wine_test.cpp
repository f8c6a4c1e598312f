// Every Korvix export is a boundary: memory that runs out inside the library becomes the
// export's failure answer, with no exception left pending and every string given back.
#include "korvix_test_support.h"

#include <tavro_test/import_patch.h>

#include <shellapi.h>

#include <atomic>
#include <optional>

namespace korvix::test {
namespace {

using GetRegistry = jstring(JNICALL*)(JNIEnv*, jclass, jstring, jstring, jstring);
using GetSubkeys = jobjectArray(JNICALL*)(JNIEnv*, jclass, jstring, jstring);
using LaunchProcess = jboolean(JNICALL*)(JNIEnv*, jclass, jstring, jstring, jstring);

// Blocks this large are refused inside Korvix: the strings and lists below need more.
constexpr size_t kRefusedBytes = 256;

// Korvix's calls to start a program, seen at its import of ShellExecuteExW.
std::atomic<int> shellExecutes{0};
BOOL WINAPI countingShellExecuteExW(SHELLEXECUTEINFOW*) {
    ++shellExecutes;
    return FALSE;
}

class KorvixWithoutMemory : public KorvixTest {
protected:
    void SetUp() override {
        keyPath_ = "Software\\TavroKorvixBoundary\\" + std::to_string(::GetCurrentProcessId());
        const std::string text(1000, 'v');  // more than the refused size
        ASSERT_EQ(::RegSetKeyValueA(HKEY_CURRENT_USER, keyPath_.c_str(), "long", REG_SZ, text.c_str(),
                                    static_cast<DWORD>(text.size() + 1)),
                  ERROR_SUCCESS);
        for (int n = 0; n < 20; ++n) {  // twenty names take more than the refused size
            HKEY key = nullptr;
            const std::string name = keyPath_ + "\\subkey " + std::to_string(n);
            ASSERT_EQ(::RegCreateKeyExA(HKEY_CURRENT_USER, name.c_str(), 0, nullptr, 0,
                                        KEY_ALL_ACCESS, nullptr, &key, nullptr),
                      ERROR_SUCCESS);
            ::RegCloseKey(key);
        }
    }
    void TearDown() override {
        noMemory_.reset();
        ::RegDeleteTreeA(HKEY_CURRENT_USER, keyPath_.c_str());
        KorvixTest::TearDown();
    }

    // The next large block the library asks for is refused.
    void starve() {
        if (!noMemory_) noMemory_.emplace(korvixLibrary(), kRefusedBytes);
        ASSERT_TRUE(noMemory_->active());
        noMemory_->arm();
    }
    bool refused() const { return noMemory_ && noMemory_->refused(); }

    std::string keyPath_;
    ScratchFolder folder_;
    std::optional<tavro::test::AllocationFailure> noMemory_;
};

TEST_F(KorvixWithoutMemory, ExportsThatAllocateAnswerTheirFailureValue) {
    const auto getRegistry = korvixExport<GetRegistry>("getRegistry");
    const auto getSubkeys = korvixExport<GetSubkeys>("getSubkeys");
    const auto launchProcess = korvixExport<LaunchProcess>("launchProcess");
    auto readValue = [&] { return getRegistry(env, korvixClass, java("HKCU"), java(keyPath_), java("long")); };
    auto listSubkeys = [&] { return getSubkeys(env, korvixClass, java("HKCU"), java(keyPath_)); };

    // With memory, each of them answers.
    ASSERT_NE(readValue(), nullptr);
    ASSERT_NE(listSubkeys(), nullptr);

    starve();
    EXPECT_EQ(readValue(), nullptr);
    EXPECT_TRUE(refused());
    // The list is never null: without memory for the names it lists none.
    starve();
    const jobjectArray listed = listSubkeys();
    ASSERT_NE(listed, nullptr);
    EXPECT_TRUE(vm.arrayElements(listed).empty());
    EXPECT_TRUE(refused());
    // The program is never started: its parameters alone need more than the refused size.
    const tavro::test::ImportPatch shellExecute(korvixLibrary(), "shell32.dll", "ShellExecuteExW",
                                                reinterpret_cast<void*>(&countingShellExecuteExW));
    ASSERT_TRUE(shellExecute.active());
    shellExecutes = 0;
    const std::wstring command = L"/c rem " + std::wstring(200, L'x');
    starve();
    EXPECT_EQ(launchProcess(env, korvixClass, java(L"cmd.exe"), java(folder_.path()), java(command)), JNI_FALSE);
    EXPECT_TRUE(refused());
    EXPECT_FALSE(vm.exceptionPending());
    EXPECT_EQ(shellExecutes.load(), 0) << "the program was started";
}

}  // namespace
}  // namespace korvix::test

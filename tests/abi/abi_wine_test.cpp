// The facts in which the 32-bit product differs from its x86_64 twin, asserted where each
// build runs: the process and its Wine, the record the services library hands to the shell,
// the AWT accessor's export name, and, in the 32-bit build, the stack discipline of every kind
// of boundary: the libraries' JNI exports, the Java VM stand-in's slots and invocation entry,
// jvm.dll's JNI_CreateJavaVM and jawt.dll's accessor each take exactly their own arguments
// off the stack, as a __stdcall callee must (a __cdecl one leaves them and corrupts its caller).
#include "stdcall_probe.h"

#include <com_vyk_util_jni_Korvix.h>
#include <com_vyk_win_jni_Reelwright.h>
#include <java_vm_standin.h>
#include <jawt_md.h>
#include <tavro_test/import_patch.h>
#include <tavro_test/scratch.h>
#include <tavro_test/wine_version.h>

#include <windows.h>
#include <shellapi.h>

#include <gtest/gtest.h>

#include <string>

namespace tavro::test {
namespace {

constexpr bool kProduct = sizeof(void*) == 4;

// A library of the build, its own imports found beside it.
HMODULE loadLibrary(const char* unixPath) {
    const HMODULE module =
        ::LoadLibraryExA(buildFilePath(unixPath).c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    EXPECT_NE(module, nullptr) << unixPath << ": " << ::GetLastError();
    return module;
}

template <typename Function>
Function exported(HMODULE module, const char* name) {
    const FARPROC function = module ? ::GetProcAddress(module, name) : nullptr;
    EXPECT_NE(function, nullptr) << name;
    return reinterpret_cast<Function>(reinterpret_cast<void*>(function));
}

TEST(ProductProcess, RunsAsItsBuildsArchitectureUnderItsWine) {
    BOOL wow64 = FALSE;
    ASSERT_TRUE(::IsWow64Process(::GetCurrentProcess(), &wow64));
    ASSERT_FALSE(wineVersion().empty());
    if (kProduct) {
        // Wine 10's WoW64 mode: a 32-bit process on the 64-bit system.
        EXPECT_TRUE(wow64);
        EXPECT_GE(wineMajorVersion(), 10) << wineVersion();
    } else {
        EXPECT_FALSE(wow64);
    }
}

SHELLEXECUTEINFOW shellRecord{};
int shellCalls = 0;

BOOL WINAPI recordShellExecute(SHELLEXECUTEINFOW* info) {
    ++shellCalls;
    shellRecord = *info;
    ::SetLastError(ERROR_FILE_NOT_FOUND);
    return FALSE;
}

TEST(ProductRecords, TheShellGetsTheTargetsOwnExecuteRecord) {
    const HMODULE korvix = loadLibrary(KORVIX_DLL_PATH);
    const ImportPatch patch(korvix, "shell32.dll", "ShellExecuteExW", reinterpret_cast<void*>(recordShellExecute));
    ASSERT_TRUE(patch.active());
    JavaVmStandIn vm;
    const jclass korvixClass = vm.defineClass("com/vyk/util/jni/Korvix");
    const auto launchProcess = exported<decltype(&Java_com_vyk_util_jni_Korvix_launchProcess)>(
        korvix, "Java_com_vyk_util_jni_Korvix_launchProcess");
    ASSERT_NE(launchProcess, nullptr);
    EXPECT_FALSE(launchProcess(vm.env(), korvixClass, vm.newStringUtf8("C:\\missing.exe"), vm.newStringUtf8("C:\\"),
                               vm.newStringUtf8("")));
    ASSERT_EQ(shellCalls, 1);
    EXPECT_EQ(shellRecord.cbSize, kProduct ? 60u : 112u);
}

TEST(ProductNames, TheAwtAccessorHasTheRuntimesOwnName) {
    const HMODULE jawt = loadLibrary(JAWT_STANDIN_PATH);
    ASSERT_NE(jawt, nullptr);
    // The 32-bit runtime exports it decorated as __stdcall with 8 argument bytes.
    const char* const own = kProduct ? "_JAWT_GetAWT@8" : "JAWT_GetAWT";
    const char* const other = kProduct ? "JAWT_GetAWT" : "_JAWT_GetAWT@8";
    EXPECT_NE(::GetProcAddress(jawt, own), nullptr);
    EXPECT_EQ(::GetProcAddress(jawt, other), nullptr);
}

#if defined(__i386__)

template <typename R>
void expectTakesItsArguments(const StdcallOutcome<R>& call, std::uint32_t argumentBytes) {
    EXPECT_EQ(call.argumentBytes, argumentBytes);
    EXPECT_EQ(call.bytesLeft, 0) << "the callee left argument bytes on the stack (not __stdcall)";
}

extern "C" int __cdecl addCdecl(int a, int b) { return a + b; }
extern "C" int __stdcall addStdcall(int a, int b) { return a + b; }

// The probe itself: it must tell the two conventions apart, or every case below proves nothing.
TEST(StdcallProbe, TellsACdeclCalleeFromAStdcallOne) {
    const auto stdcallCall = callAsStdcall(&addStdcall, 2, 3);
    EXPECT_EQ(stdcallCall.result, 5);
    EXPECT_EQ(stdcallCall.bytesLeft, 0);
    const auto cdeclCall = callAsStdcall(reinterpret_cast<int(__stdcall*)(int, int)>(reinterpret_cast<void*>(&addCdecl)), 2, 3);
    EXPECT_EQ(cdeclCall.result, 5);
    EXPECT_EQ(cdeclCall.bytesLeft, 8);
}

class StdcallBoundaries : public ::testing::Test {
protected:
    jstring java(const std::string& utf8) { return vm.newStringUtf8(utf8); }

    JavaVmStandIn vm;
    JNIEnv* env = vm.env();
    ScratchFolder folder{L"abi"};
};

TEST_F(StdcallBoundaries, KorvixExportsTakeExactlyTheirArguments) {
    const HMODULE korvix = loadLibrary(KORVIX_DLL_PATH);
    const jclass korvixClass = vm.defineClass("com/vyk/util/jni/Korvix");

    const auto onLoad = callAsStdcall(exported<jint(JNICALL*)(JavaVM*, void*)>(korvix, "JNI_OnLoad"), vm.vm(), nullptr);
    expectTakesItsArguments(onLoad, 8);
    EXPECT_EQ(onLoad.result, JNI_VERSION_1_4);

    const std::wstring file = folder.file(L"present.txt");
    ASSERT_TRUE(writeFile(file, "x"));
    const std::string path(file.begin(), file.end());
    const auto exists = callAsStdcall(exported<decltype(&Java_com_vyk_util_jni_Korvix_fileExists)>(
                                          korvix, "Java_com_vyk_util_jni_Korvix_fileExists"),
                                      env, korvixClass, java(path));
    expectTakesItsArguments(exists, 12);
    EXPECT_EQ(exists.result, JNI_TRUE);

    // The flag is a jboolean, pushed in a slot of its own.
    const auto locked = callAsStdcall(exported<decltype(&Java_com_vyk_util_jni_Korvix_isFileLocked)>(
                                          korvix, "Java_com_vyk_util_jni_Korvix_isFileLocked"),
                                      env, korvixClass, java(path), JNI_FALSE);
    expectTakesItsArguments(locked, 16);
    EXPECT_EQ(locked.result, JNI_FALSE);

    // The value's name is the last of five arguments: read from the wrong place, it finds nothing.
    const char* key = "Software\\Tavro\\AbiTest";
    ASSERT_EQ(::RegSetKeyValueA(HKEY_CURRENT_USER, key, "Name", REG_SZ, "value", 6), ERROR_SUCCESS);
    const auto value = callAsStdcall(exported<decltype(&Java_com_vyk_util_jni_Korvix_getRegistry)>(
                                         korvix, "Java_com_vyk_util_jni_Korvix_getRegistry"),
                                     env, korvixClass, java("HKCU"), java(key), java("Name"));
    expectTakesItsArguments(value, 20);
    ASSERT_NE(value.result, nullptr);
    EXPECT_EQ(vm.stringUtf8(value.result), "value");
    ::RegDeleteTreeA(HKEY_CURRENT_USER, key);
}

TEST_F(StdcallBoundaries, ReelwrightExportsTakeTheirEightByteArgumentsWhole) {
    const HMODULE reelwright = loadLibrary(REELWRIGHT_DLL_PATH);
    const jclass reelwrightClass = vm.defineClass("com/vyk/win/jni/Reelwright");
    // Without a frame size or a path both refuse; what matters is that two and four 4-byte
    // slots of jlong times were taken off.
    const auto frame = callAsStdcall(exported<decltype(&Java_com_vyk_win_jni_Reelwright_addFrameN)>(
                                         reelwright, "Java_com_vyk_win_jni_Reelwright_addFrameN"),
                                     env, reelwrightClass, nullptr, jlong{400000});
    expectTakesItsArguments(frame, 20);
    EXPECT_EQ(frame.result, JNI_FALSE);
    const auto track = callAsStdcall(exported<decltype(&Java_com_vyk_win_jni_Reelwright_addAudioTrackN)>(
                                         reelwright, "Java_com_vyk_win_jni_Reelwright_addAudioTrackN"),
                                     env, reelwrightClass, nullptr, jlong{0}, jlong{10000000});
    expectTakesItsArguments(track, 28);
    EXPECT_EQ(track.result, JNI_FALSE);
}

TEST_F(StdcallBoundaries, TheJavaVmStandInsSlotsTakeExactlyTheirArguments) {
    const auto version = callAsStdcall(env->functions->GetVersion, env);
    expectTakesItsArguments(version, 4);
    EXPECT_EQ(version.result, JNI_VERSION_1_8);
    const auto text = callAsStdcall(env->functions->NewStringUTF, env, "abc");
    expectTakesItsArguments(text, 8);
    ASSERT_NE(text.result, nullptr);
    const auto length = callAsStdcall(env->functions->GetStringUTFLength, env, text.result);
    expectTakesItsArguments(length, 8);
    EXPECT_EQ(length.result, 3);
    JNIEnv* attached = nullptr;
    const auto got = callAsStdcall(vm.vm()->functions->GetEnv, vm.vm(), reinterpret_cast<void**>(&attached),
                                   jint{JNI_VERSION_1_4});
    expectTakesItsArguments(got, 12);
    EXPECT_EQ(got.result, JNI_OK);
    EXPECT_EQ(attached, env);
}

TEST_F(StdcallBoundaries, JvmDllCreatesTheVmAsAStdcallEntry) {
    const HMODULE jvm = loadLibrary(JVM_STANDIN_PATH);
    JavaVMInitArgs args{};
    args.version = JNI_VERSION_1_4;
    args.ignoreUnrecognized = JNI_TRUE;
    JavaVM* created = nullptr;
    void* createdEnv = nullptr;
    const auto create = callAsStdcall(exported<decltype(&JNI_CreateJavaVM)>(jvm, "JNI_CreateJavaVM"), &created,
                                      &createdEnv, static_cast<void*>(&args));
    expectTakesItsArguments(create, 12);
    ASSERT_EQ(create.result, JNI_OK);
    ASSERT_NE(created, nullptr);
    JavaVM* listed = nullptr;
    jsize count = 0;
    const auto list = callAsStdcall(exported<decltype(&JNI_GetCreatedJavaVMs)>(jvm, "JNI_GetCreatedJavaVMs"), &listed,
                                    jsize{1}, &count);
    expectTakesItsArguments(list, 12);
    EXPECT_EQ(count, 1);
    EXPECT_EQ(listed, created);
    const auto destroy = callAsStdcall(created->functions->DestroyJavaVM, created);
    expectTakesItsArguments(destroy, 4);
    EXPECT_EQ(destroy.result, JNI_OK);
}

TEST_F(StdcallBoundaries, JawtsAccessorAndSurfaceSlotsTakeExactlyTheirArguments) {
    const HMODULE jawt = loadLibrary(JAWT_STANDIN_PATH);
    JAWT awt{};
    awt.version = JAWT_VERSION_1_4;
    const auto access =
        callAsStdcall(exported<decltype(&JAWT_GetAWT)>(jawt, "_JAWT_GetAWT@8"), env, &awt);
    expectTakesItsArguments(access, 8);
    ASSERT_EQ(access.result, JNI_TRUE);
    const jobject component = vm.newObject("java/awt/Canvas");
    const auto surface = callAsStdcall(awt.GetDrawingSurface, env, component);
    expectTakesItsArguments(surface, 8);
    ASSERT_NE(surface.result, nullptr);
    const auto lock = callAsStdcall(surface.result->Lock, surface.result);
    expectTakesItsArguments(lock, 4);
    const auto unlock = callAsStdcall(surface.result->Unlock, surface.result);
    expectTakesItsArguments(unlock, 4);
    const auto freed = callAsStdcall(awt.FreeDrawingSurface, surface.result);
    expectTakesItsArguments(freed, 4);
}

#endif

}  // namespace
}  // namespace tavro::test

// The library as the Java VM loads it: the load entry and the export names javac derives.
#include "korvix_test_support.h"

namespace korvix::test {
namespace {

TEST(KorvixLibrary, LoadEntryDeclaresJni14AndTouchesNothing) {
    ASSERT_NE(exportOf("getRegistry"), nullptr);  // loads the library
    const HMODULE module = ::GetModuleHandleA("Korvix.dll");
    ASSERT_NE(module, nullptr);
    using OnLoad = jint(JNICALL*)(JavaVM*, void*);
    const auto onLoad = reinterpret_cast<OnLoad>(reinterpret_cast<void (*)()>(::GetProcAddress(module, "JNI_OnLoad")));
    ASSERT_NE(onLoad, nullptr);
    tavro::test::JavaVmStandIn vm;
    const std::size_t objectsBefore = vm.objectCount();
    EXPECT_EQ(onLoad(vm.vm(), nullptr), 0x10004);
    EXPECT_EQ(vm.objectCount(), objectsBefore);
}

TEST(KorvixLibrary, ExportsEveryNativeMethodByItsJniName) {
    for (const char* method :
         {"getRegistry", "putRegistry", "keyExists", "getSubkeys", "getDiskFreeSpace", "launchProcess", "resolveLink",
          "fileExists", "isFile", "isDirectory", "isFileLocked", "canWrite", "addToRecentFiles", "getFileIcon",
          "getFileIconOnXpOrVista", "extractIcon",
          "startSpeakingString", "stopSpeaking", "getDefaultVoice", "getProxyForURL",
          "openWebcam", "getImageWidth", "getImageHeight", "readWebcamFrame", "closeWebcam",
          "showVideoSourceDialog", "isVideoSourceDialogAvailable", "convertForIPod"}) {
        EXPECT_NE(exportOf(method), nullptr) << method;
    }
}

class KorvixStrings : public KorvixTest {};

TEST_F(KorvixStrings, TextTheVmCannotHandOutGivesEachFailureResult) {
    using Text3 = jstring(JNICALL*)(JNIEnv*, jclass, jstring, jstring, jstring);
    using Bool4 = jboolean(JNICALL*)(JNIEnv*, jclass, jstring, jstring, jstring, jstring);
    using Bool3 = jboolean(JNICALL*)(JNIEnv*, jclass, jstring, jstring, jstring);
    using Bool2 = jboolean(JNICALL*)(JNIEnv*, jclass, jstring, jstring);
    using Array2 = jobjectArray(JNICALL*)(JNIEnv*, jclass, jstring, jstring);
    using Bool1 = jboolean(JNICALL*)(JNIEnv*, jclass, jstring);
    using Text1 = jstring(JNICALL*)(JNIEnv*, jclass, jstring);
    using Long1 = jlong(JNICALL*)(JNIEnv*, jclass, jstring);
    using Icon = jintArray(JNICALL*)(JNIEnv*, jclass, jstring, jint);
    jstring root = java("HKCU");
    jstring key = java("Software");
    jstring path = java("C:\\windows");
    // The VM answers null and leaves OutOfMemoryError pending; the export must make no
    // further JNI call but the releases, and answer its failure result.
    vm.failStringChars(true);
    auto expectVmFailure = [&](const char* method) {
        EXPECT_EQ(vm.pendingExceptionClass(), "java/lang/OutOfMemoryError") << method;
        vm.clearException();
    };

    EXPECT_EQ(korvixExport<Text3>("getRegistry")(env, korvixClass, root, key, key), nullptr);
    expectVmFailure("getRegistry");
    EXPECT_FALSE(korvixExport<Bool4>("putRegistry")(env, korvixClass, root, key, key, key));
    expectVmFailure("putRegistry");
    EXPECT_FALSE(korvixExport<Bool2>("keyExists")(env, korvixClass, root, key));
    expectVmFailure("keyExists");
    EXPECT_EQ(korvixExport<Array2>("getSubkeys")(env, korvixClass, root, key), nullptr);
    expectVmFailure("getSubkeys");
    EXPECT_FALSE(korvixExport<Bool1>("isDirectory")(env, korvixClass, path));
    expectVmFailure("isDirectory");
    EXPECT_EQ(korvixExport<Long1>("getDiskFreeSpace")(env, korvixClass, path), -1);
    expectVmFailure("getDiskFreeSpace");
    EXPECT_EQ(korvixExport<Text1>("resolveLink")(env, korvixClass, path), nullptr);
    expectVmFailure("resolveLink");
    EXPECT_FALSE(korvixExport<Bool3>("launchProcess")(env, korvixClass, path, path, path));
    expectVmFailure("launchProcess");
    EXPECT_EQ(korvixExport<Icon>("getFileIcon")(env, korvixClass, path, 32), nullptr);
    expectVmFailure("getFileIcon");
    using Proxy = jstring(JNICALL*)(JNIEnv*, jclass, jstring, jstring, jboolean, jboolean);
    EXPECT_EQ(korvixExport<Proxy>("getProxyForURL")(env, korvixClass, path, path, JNI_TRUE, JNI_TRUE), nullptr);
    expectVmFailure("getProxyForURL");
    using Void1 = void(JNICALL*)(JNIEnv*, jclass, jstring);
    korvixExport<Void1>("startSpeakingString")(env, korvixClass, path);
    expectVmFailure("startSpeakingString");
}

}  // namespace
}  // namespace korvix::test

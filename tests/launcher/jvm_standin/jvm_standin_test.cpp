// The jvm.dll stand-in driven the way the launcher drives a real one: loaded by path, one
// VM per process (each test runs in a process of its own), its record read back.
#include <jni.h>
#include <tavro/win_handles.h>
#include <tavro_test/scratch.h>

#include <windows.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

namespace {

using CreateJavaVm = jint(JNICALL*)(JavaVM**, void**, void*);
using GetCreatedJavaVms = jint(JNICALL*)(JavaVM**, jsize, jsize*);

std::vector<std::string> readLines(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<std::string> lines;
    std::string line;
    while (std::getline(in, line)) lines.push_back(line);
    return lines;
}

std::vector<std::string> valuesOf(const std::vector<std::string>& record, const std::string& key) {
    std::vector<std::string> values;
    for (const auto& line : record) {
        if (line.rfind(key + "=", 0) == 0) values.push_back(line.substr(key.size() + 1));
    }
    return values;
}

bool has(const std::vector<std::string>& record, const std::string& line) {
    return std::find(record.begin(), record.end(), line) != record.end();
}

class JvmStandInTest : public ::testing::Test {
protected:
    void SetUp() override {
        // A death test's child process runs this again: it inherits the parent's folder.
        wchar_t inherited[MAX_PATH] = {};
        if (::GetEnvironmentVariableW(L"TAVRO_JVM_TEST_DIR", inherited, MAX_PATH) > 0) {
            dir_ = inherited;
        } else {
            dir_ = fs::temp_directory_path() / ("jvm_standin_" + std::to_string(::GetCurrentProcessId()) + "_" +
                                                std::to_string(::GetTickCount()));
            fs::create_directories(dir_);
            ::SetEnvironmentVariableW(L"TAVRO_JVM_TEST_DIR", dir_.c_str());
            ownsDir_ = true;
        }
        ::SetEnvironmentVariableW(L"TAVRO_JVM_RECORD", recordPath().c_str());
        ::SetEnvironmentVariableW(L"TAVRO_JVM_MODE", nullptr);
        jvm_.reset(::LoadLibraryA(tavro::test::buildFilePath(TAVRO_JVM_DLL).c_str()));
        ASSERT_TRUE(jvm_) << ::GetLastError();
        create_ = reinterpret_cast<CreateJavaVm>(
            reinterpret_cast<void*>(::GetProcAddress(jvm_.get(), "JNI_CreateJavaVM")));
        created_ = reinterpret_cast<GetCreatedJavaVms>(
            reinterpret_cast<void*>(::GetProcAddress(jvm_.get(), "JNI_GetCreatedJavaVMs")));
        ASSERT_TRUE(create_ && created_);
    }
    void TearDown() override {
        if (!ownsDir_) return;
        std::error_code ignored;
        fs::remove_all(dir_, ignored);
    }

    fs::path recordPath() const { return dir_ / "record.txt"; }
    std::vector<std::string> record() const { return readLines(recordPath()); }

    // Creates the VM as the launcher does: JNI 1.4, the given options, unknown ones ignored.
    jint create(const std::vector<std::string>& options) {
        std::vector<JavaVMOption> vmOptions;
        for (const auto& option : options) vmOptions.push_back({const_cast<char*>(option.c_str()), nullptr});
        JavaVMInitArgs args{};
        args.version = JNI_VERSION_1_4;
        args.nOptions = static_cast<jint>(vmOptions.size());
        args.options = vmOptions.data();
        args.ignoreUnrecognized = JNI_TRUE;
        void* env = nullptr;
        const jint result = create_(&vm_, &env, &args);
        env_ = static_cast<JNIEnv*>(env);
        return result;
    }

    // Calls main with these arguments; false when the class or method is missing.
    bool callMain(const std::vector<std::wstring>& arguments) {
        jclass mainClass = env_->FindClass("com/vyk/ov/tavro/Tavro");
        if (!mainClass) return false;
        jmethodID main = env_->GetStaticMethodID(mainClass, "main", "([Ljava/lang/String;)V");
        if (!main) return false;
        jobjectArray array =
            env_->NewObjectArray(static_cast<jsize>(arguments.size()), env_->FindClass("java/lang/String"), nullptr);
        for (std::size_t i = 0; i < arguments.size(); ++i) {
            jstring text = env_->NewString(reinterpret_cast<const jchar*>(arguments[i].data()),
                                           static_cast<jsize>(arguments[i].size()));
            env_->SetObjectArrayElement(array, static_cast<jsize>(i), text);
        }
        env_->CallStaticVoidMethod(mainClass, main, array);
        return true;
    }

    fs::path dir_;
    bool ownsDir_ = false;
    tavro::UniqueModule jvm_;
    CreateJavaVm create_ = nullptr;
    GetCreatedJavaVms created_ = nullptr;
    JavaVM* vm_ = nullptr;
    JNIEnv* env_ = nullptr;
};

TEST_F(JvmStandInTest, RecordsTheLaunchAndRunsMain) {
    ASSERT_TRUE(::SetCurrentDirectoryW(dir_.c_str()));
    ASSERT_EQ(create({"-Djava.class.path=C:\\app\\Tavro.jar;", "-Xms256m", "-Djava.library.path=\".;C:\\app\""}),
              JNI_OK);
    ASSERT_NE(env_, nullptr);
    EXPECT_EQ(env_->GetVersion(), 0x00010008);

    JavaVM* listed[2] = {};
    jsize count = 0;
    EXPECT_EQ(created_(listed, 2, &count), JNI_OK);
    EXPECT_EQ(count, 1);
    EXPECT_EQ(listed[0], vm_);
    // the options became system properties
    jclass system = env_->FindClass("java/lang/System");
    jmethodID getProperty = env_->GetStaticMethodID(system, "getProperty", "(Ljava/lang/String;)Ljava/lang/String;");
    auto libraryPath = static_cast<jstring>(
        env_->CallStaticObjectMethod(system, getProperty, env_->NewStringUTF("java.library.path")));
    ASSERT_NE(libraryPath, nullptr);
    const char* chars = env_->GetStringUTFChars(libraryPath, nullptr);
    EXPECT_STREQ(chars, "\".;C:\\app\"");
    env_->ReleaseStringUTFChars(libraryPath, chars);

    tavro::test::StdoutCapture capture;
    ASSERT_TRUE(callMain({L"Gr\u00fc\u00dfe", L"", L"\U0001F600 x"}));
    const std::string output = capture.finish();
    EXPECT_EQ(env_->ExceptionOccurred(), nullptr);
    EXPECT_EQ(vm_->DestroyJavaVM(), JNI_OK);

    const auto lines = record();
    EXPECT_THAT(valuesOf(lines, "version"), ElementsAre("0x00010004"));
    EXPECT_THAT(valuesOf(lines, "option"), ElementsAre("-Djava.class.path=C:\\app\\Tavro.jar;", "-Xms256m",
                                                       "-Djava.library.path=\".;C:\\app\""));
    EXPECT_THAT(valuesOf(lines, "ignoreUnrecognized"), ElementsAre("1"));
    EXPECT_THAT(valuesOf(lines, "cwd"), ElementsAre(::testing::EndsWith(dir_.filename().string())));
    EXPECT_THAT(valuesOf(lines, "findClass"),
                ElementsAre("java/lang/System", "com/vyk/ov/tavro/Tavro", "java/lang/String"));
    EXPECT_THAT(valuesOf(lines, "method"),
                ElementsAre("getProperty (Ljava/lang/String;)Ljava/lang/String;", "main ([Ljava/lang/String;)V"));
    EXPECT_THAT(valuesOf(lines, "arg"), ElementsAre("Gr\xc3\xbc\xc3\x9f" "e", "", "\xf0\x9f\x98\x80 x"));
    EXPECT_THAT(valuesOf(lines, "jniMisuse"), ElementsAre("0"));
    EXPECT_TRUE(has(lines, "mainReturned"));
    EXPECT_EQ(lines.back(), "destroyed");
    EXPECT_EQ(output, "Tavro main: 3 argument(s)\nGr\xc3\xbc\xc3\x9f" "e\n\n\xf0\x9f\x98\x80 x\n");
}

TEST_F(JvmStandInTest, OneVmPerProcess) {
    ASSERT_EQ(create({}), JNI_OK);
    JavaVM* first = vm_;
    EXPECT_EQ(create({}), JNI_EEXIST);
    EXPECT_THAT(valuesOf(record(), "createFailed"), ElementsAre(std::to_string(JNI_EEXIST)));
    jsize count = 0;
    created_(nullptr, 0, &count);
    EXPECT_EQ(count, 1);
    EXPECT_NE(first, nullptr);
}

TEST_F(JvmStandInTest, FailCreateAnswersMinusSix) {
    ::SetEnvironmentVariableW(L"TAVRO_JVM_MODE", L"fail-create");
    EXPECT_EQ(create({"-Xmx512m"}), -6);
    const auto lines = record();
    EXPECT_THAT(valuesOf(lines, "option"), ElementsAre("-Xmx512m"));
    EXPECT_THAT(valuesOf(lines, "createFailed"), ElementsAre("-6"));
    EXPECT_FALSE(has(lines, "created"));
    jsize count = 5;
    created_(nullptr, 0, &count);
    EXPECT_EQ(count, 0);
}

TEST_F(JvmStandInTest, NoMainClassLeavesNoClassDefFoundError) {
    ::SetEnvironmentVariableW(L"TAVRO_JVM_MODE", L"no-main-class");
    ASSERT_EQ(create({}), JNI_OK);
    EXPECT_FALSE(callMain({}));
    ASSERT_NE(env_->ExceptionOccurred(), nullptr);
    env_->ExceptionDescribe();
    EXPECT_FALSE(env_->ExceptionCheck());
    EXPECT_THAT(valuesOf(record(), "described"),
                ElementsAre("java.lang.NoClassDefFoundError: com/vyk/ov/tavro/Tavro"));
}

TEST_F(JvmStandInTest, MainThrowsLeavesTheExceptionPending) {
    ::SetEnvironmentVariableW(L"TAVRO_JVM_MODE", L"main-throws");
    ASSERT_EQ(create({}), JNI_OK);
    tavro::test::StdoutCapture capture;
    ASSERT_TRUE(callMain({L"a"}));
    EXPECT_EQ(capture.finish(), "");
    EXPECT_TRUE(env_->ExceptionCheck());
    env_->ExceptionDescribe();
    vm_->DestroyJavaVM();
    const auto lines = record();
    EXPECT_THAT(valuesOf(lines, "mainThrew"), ElementsAre("java/lang/IllegalStateException"));
    EXPECT_THAT(valuesOf(lines, "described"), ElementsAre("java.lang.IllegalStateException: Tavro main failed"));
    EXPECT_TRUE(has(lines, "mainReturned"));
    EXPECT_TRUE(has(lines, "destroyed"));
}

TEST_F(JvmStandInTest, MissingMainMethodAndFatalErrorEndTheProcess) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    ::SetEnvironmentVariableW(L"TAVRO_JVM_MODE", L"no-main-method");
    EXPECT_EXIT(
        {
            if (create({}) == JNI_OK && !callMain({}) && env_->ExceptionCheck()) {
                env_->ExceptionDescribe();
                env_->FatalError("Failed to find jmethodID of 'main'");
            }
            std::exit(0);  // not reached when FatalError ends the process
        },
        ::testing::ExitedWithCode(3), "FATAL ERROR in native method: Failed to find jmethodID of 'main'");
    const auto lines = record();
    EXPECT_THAT(valuesOf(lines, "described"),
                ElementsAre("java.lang.NoSuchMethodError: main"));
    EXPECT_THAT(valuesOf(lines, "fatal"), ElementsAre("Failed to find jmethodID of 'main'"));
    EXPECT_FALSE(has(lines, "mainReturned"));
}

}  // namespace

// The real Tavro.exe started as a process, in an application directory laid out per test:
// a stand-in jvm.dll records what the launcher handed the VM; the test checks that record,
// the traces on standard output, the session log, the policy file and the error boxes.
#include "launch_texts.h"

#include <tavro/win_handles.h>
#include <tavro_test/box_dismisser.h>
#include <tavro_test/scratch.h>
#include <tavro_test/wine_version.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

namespace tavro::launcher {
namespace {

// Build outputs arrive as Unix paths; Wine maps the Unix root to drive Z:.
fs::path buildOutput(const char* unixPath) {
    return fs::path(tavro::test::buildFilePath(unixPath));
}

// The launcher's own view of a path: ANSI. Every path the tests build is ASCII.
std::string ansi(const fs::path& path) {
    std::string result;
    for (wchar_t c : path.wstring()) result += static_cast<char>(c);
    return result;
}

std::string readBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

void writeBytes(const fs::path& path, const std::string& bytes) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << bytes;
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> result;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        result.push_back(line);
    }
    return result;
}

using tavro::test::Box;
using tavro::test::BoxDismisser;

struct LaunchResult {
    DWORD exitCode = 0;
    std::string output;               // standard output and error, as written
    std::vector<std::string> record;  // what the stand-in VM received, line by line
    std::vector<Box> boxes;
    std::time_t started = 0;
    std::time_t ended = 0;

    std::vector<std::string> valuesOf(const std::string& key) const {
        std::vector<std::string> values;
        for (const auto& line : record) {
            if (line.rfind(key + "=", 0) == 0) values.push_back(line.substr(key.size() + 1));
        }
        return values;
    }
    bool has(const std::string& line) const {
        return std::find(record.begin(), record.end(), line) != record.end();
    }
};

// The asctime texts of every second in [from, to], as the launcher stamps its records.
std::set<std::string> stampsBetween(std::time_t from, std::time_t to) {
    std::set<std::string> stamps;
    for (std::time_t t = from; t <= to; ++t) stamps.insert(std::asctime(std::localtime(&t)));
    return stamps;
}

// What text mode leaves on disk: each line feed written becomes CR LF.
std::string textModeBytes(const std::string& written) {
    std::string stored;
    for (char c : written) {
        if (c == '\n') stored += '\r';
        stored += c;
    }
    return stored;
}

struct Report {
    std::string message;
    bool fatal;
};

class LauncherTest : public ::testing::Test {
protected:
    void SetUp() override {
        wchar_t temp[MAX_PATH + 1] = {};
        ::GetTempPathW(MAX_PATH + 1, temp);
        static int counter = 0;
        root_ = fs::path(temp) / ("tavro-launcher-" + std::to_string(::GetCurrentProcessId()) + "-" +
                                  std::to_string(++counter));
        fs::remove_all(root_);
        // A space and a percent sign: the URL form escapes one and must keep the other.
        appDir_ = root_ / "My Apps 100% Tavro";
        profile_ = root_ / "profile dir";
        temp_ = root_ / "temp dir";
        for (const auto& folder : {appDir_, profile_, temp_}) fs::create_directories(folder);
        fs::copy_file(buildOutput(TAVRO_LAUNCHER_EXE), appDir_ / "Tavro.exe");
        fs::create_directories(appDir_ / "Java" / "bin" / "client");
        fs::copy_file(buildOutput(TAVRO_JVM_STANDIN_DLL), jvmDll());
        fs::create_directories(libDir());
        environment_ = {{L"USERPROFILE", profile_.wstring()},
                        {L"TEMP", temp_.wstring()},
                        {L"TMP", temp_.wstring()},
                        {L"PATH", L"C:\\windows\\system32;C:\\windows"},
                        {L"TAVRO_JVM_RECORD", recordPath().wstring()}};
    }

    void TearDown() override {
        std::error_code ignored;
        if (!HasFailure()) fs::remove_all(root_, ignored);
    }

    // Lays the launcher and the runtime out in `folder` instead, which the build prepared
    // (and which stays after the test).
    void useApplicationFolder(const fs::path& folder) {
        appDir_ = folder;
        fs::create_directories(jvmDll().parent_path());
        // CopyFileW: the mingw library's overwriting copy_file fails on a file that exists.
        ASSERT_TRUE(::CopyFileW(buildOutput(TAVRO_LAUNCHER_EXE).c_str(), (appDir_ / "Tavro.exe").c_str(), FALSE));
        ASSERT_TRUE(::CopyFileW(buildOutput(TAVRO_JVM_STANDIN_DLL).c_str(), jvmDll().c_str(), FALSE));
    }

    fs::path jvmDll() const { return appDir_ / "Java" / "bin" / "client" / "jvm.dll"; }
    fs::path libDir() const { return appDir_ / "lib"; }
    fs::path recordPath() const { return root_ / "vm-record.txt"; }
    fs::path logPath() const { return profile_ / "Logs" / "Tavro Session Log.txt"; }
    fs::path policyPath() const { return temp_ / "Tavro.policy"; }
    std::string app() const { return ansi(appDir_); }

    // Sets (or, with nullopt, removes) a variable of the launcher's environment.
    void setEnvironment(const std::wstring& name, std::optional<std::wstring> value) {
        environment_[name] = std::move(value);
    }

    // The test process's environment (Wine's own variables included) with the test's changes.
    std::wstring environmentBlock() const {
        std::map<std::wstring, std::wstring> variables;
        std::vector<std::wstring> hidden;  // "=C:=C:\..." entries keep their order, first
        const EnvironmentStrings strings(::GetEnvironmentStringsW());
        for (const wchar_t* entry = strings.get(); *entry; entry += std::wcslen(entry) + 1) {
            const std::wstring text(entry);
            if (text[0] == L'=') {
                hidden.push_back(text);
                continue;
            }
            const auto equals = text.find(L'=');
            std::wstring name = text.substr(0, equals);
            bool overridden = false;
            for (const auto& [key, value] : environment_) overridden |= _wcsicmp(key.c_str(), name.c_str()) == 0;
            if (!overridden) variables[name] = text.substr(equals + 1);
        }
        for (const auto& [key, value] : environment_) {
            if (value) variables[key] = *value;
        }
        std::wstring block;
        for (const auto& entry : hidden) block += entry + L'\0';
        for (const auto& [name, value] : variables) block += name + L'=' + value + L'\0';
        block += L'\0';
        return block;
    }

    LaunchResult launch(const std::vector<std::wstring>& arguments = {}) {
        std::error_code ignored;
        fs::remove(recordPath(), ignored);
        const fs::path outputPath = root_ / "stdout.txt";
        SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
        UniqueHandle output(adoptFileHandle(::CreateFileW(outputPath.c_str(), GENERIC_WRITE,
                                                          FILE_SHARE_READ | FILE_SHARE_WRITE, &inheritable,
                                                          CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr)));
        EXPECT_TRUE(output);

        std::wstring commandLine = L"\"" + (appDir_ / "Tavro.exe").wstring() + L"\"";
        for (const auto& argument : arguments) commandLine += L" \"" + argument + L"\"";
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdOutput = output.get();
        startup.hStdError = output.get();
        std::wstring environment = environmentBlock();
        PROCESS_INFORMATION process{};
        LaunchResult run;
        run.started = std::time(nullptr);
        // The extended form lets the system start a program whose path exceeds MAX_PATH.
        const std::wstring program = L"\\\\?\\" + (appDir_ / "Tavro.exe").wstring();
        const BOOL created = ::CreateProcessW(program.c_str(), commandLine.data(), nullptr,
                                              nullptr, TRUE, CREATE_UNICODE_ENVIRONMENT, environment.data(),
                                              root_.c_str(), &startup, &process);
        EXPECT_TRUE(created) << "CreateProcessW failed: " << ::GetLastError();
        if (!created) return run;
        const UniqueHandle processHandle(process.hProcess);
        const UniqueHandle threadHandle(process.hThread);
        output.reset();
        {
            BoxDismisser dismisser(process.dwProcessId);
            if (::WaitForSingleObject(process.hProcess, 30000) != WAIT_OBJECT_0) {
                ADD_FAILURE() << "the launcher did not end";
                ::TerminateProcess(process.hProcess, 99);
                ::WaitForSingleObject(process.hProcess, 5000);
            }
            run.boxes = dismisser.boxes();
        }
        run.ended = std::time(nullptr);
        ::GetExitCodeProcess(process.hProcess, &run.exitCode);
        run.output = readBytes(outputPath);
        run.record = lines(readBytes(recordPath()));
        return run;
    }

    // The session log holds exactly these records, stamped while the run lasted.
    void expectSessionLog(const LaunchResult& run, const std::vector<Report>& reports) {
        ASSERT_TRUE(fs::exists(logPath()));
        const std::string log = readBytes(logPath());
        const auto stamps = stampsBetween(run.started, run.ended);
        std::size_t at = 0;
        for (const auto& report : reports) {
            // Text mode turns each LF written into CR LF, those of the explicit CR LF pairs too.
            const std::string head = "\r\r\n##### ";
            const std::string prefix = report.fatal ? "Fatal Error Launching: " : "Error Launching: ";
            const std::string tail = "\r\r\n" + prefix + report.message +
                                     "\r\r\n\r\r\n##############################\r\r\n\r\r\n";
            ASSERT_EQ(log.compare(at, head.size(), head), 0) << "record head at " << at << " in:\n" << log;
            at += head.size();
            const std::size_t stampEnd = log.find("\r\n", at);
            ASSERT_NE(stampEnd, std::string::npos);
            const std::string stamp = log.substr(at, stampEnd - at) + "\n";
            EXPECT_EQ(stamps.count(stamp), 1u) << "stamp " << stamp << " not within the run";
            at = stampEnd + 2;
            ASSERT_EQ(log.compare(at, tail.size(), tail), 0) << "record tail at " << at << " in:\n" << log;
            at += tail.size();
        }
        EXPECT_EQ(at, log.size()) << log;
    }

    fs::path root_;
    fs::path appDir_;
    fs::path profile_;
    fs::path temp_;
    std::map<std::wstring, std::optional<std::wstring>> environment_;
};

std::vector<std::string> expectedOptions(const std::string& app, const std::string& path,
                                         const std::string& policy, const std::string& profile) {
    return {"-Djava.class.path=" + app + "\\Tavro.jar;" + app + "\\lib\\QTJava.zip;;" + app + "\\;" + app +
                "\\lib\\;",
            "-Djava.library.path=\".;" + app + "\\lib;" + path + "\"",
            "-Djava.security.manager",
            "-Djava.security.policy=file:/" + policy,
            "-XX:ErrorFile=" + profile + "\\Logs\\Tavro_error%p.log",
            "-Xms256m",
            "-Xmx512m",
            "-Dsun.awt.disableMixing=true",
            "-Djava.net.preferIPv4Stack=true"};
}

TEST_F(LauncherTest, StartsTheVmWithTheNineOptionsInOrderAndRunsMain) {
    // Trailing backslashes go, quotes become spaces.
    setEnvironment(L"PATH", L"C:\\windows\\system32;\"C:\\Quoted Dir\";C:\\tools\\\\");
    const LaunchResult run = launch();
    EXPECT_EQ(run.exitCode, 0u) << run.output;
    EXPECT_THAT(run.boxes, IsEmpty());
    EXPECT_THAT(run.valuesOf("version"), ElementsAre("0x00010004"));
    EXPECT_THAT(run.valuesOf("ignoreUnrecognized"), ElementsAre("1"));
    EXPECT_THAT(run.valuesOf("option"),
                ElementsAreArray(expectedOptions(app(), "C:\\windows\\system32; C:\\Quoted Dir ;C:\\tools",
                                                 toPolicyUrl(ansi(policyPath())), ansi(profile_))));
    EXPECT_THAT(run.valuesOf("cwd"), ElementsAre(ansi(profile_)));
    EXPECT_THAT(run.valuesOf("findClass"), ElementsAre("com/vyk/ov/tavro/Tavro", "java/lang/String"));
    EXPECT_THAT(run.valuesOf("method"), ElementsAre("main ([Ljava/lang/String;)V"));
    EXPECT_THAT(run.valuesOf("mainArgs"), ElementsAre("0"));
    EXPECT_TRUE(run.has("mainReturned"));
    EXPECT_TRUE(run.has("destroyed"));
    EXPECT_THAT(run.valuesOf("fatal"), IsEmpty());
    EXPECT_THAT(run.valuesOf("described"), IsEmpty());
    EXPECT_THAT(run.valuesOf("jniMisuse"), ElementsAre("0"));
    // No runtime library beside the VM is no error.
    EXPECT_FALSE(fs::exists(logPath()));
}

TEST_F(LauncherTest, WritesThePolicyFileThatTheOptionNames) {
    const LaunchResult run = launch();
    ASSERT_EQ(run.exitCode, 0u) << run.output;
    const std::string appUrl = toPolicyUrl(app());
    EXPECT_THAT(appUrl, HasSubstr("My%20Apps%20100%%20Tavro"));
    EXPECT_EQ(readBytes(policyPath()),
              "//Give this directory security permissions\r\n"
              "grant codeBase \"file:/" + appUrl + "/-\" {\r\n"
              "\tpermission java.security.AllPermission;\r\n"
              "};\r\n"
              "\r\n"
              "//Give QuickTime security permissions\r\n"
              "grant codeBase \"file:/" + appUrl + "/lib/-\" {\r\n"
              "\tpermission java.security.AllPermission;\r\n"
              "};\r\n");
    const auto options = run.valuesOf("option");
    ASSERT_EQ(options.size(), 9u);
    EXPECT_EQ(options[3], "-Djava.security.policy=file:/" + toPolicyUrl(ansi(policyPath())));
}

TEST_F(LauncherTest, ReplacesAnOldPolicyButKeepsOneThatCannotBeDeleted) {
    writeBytes(policyPath(), "stale");
    LaunchResult run = launch();
    EXPECT_THAT(readBytes(policyPath()), HasSubstr("grant codeBase"));

    // Held open without delete sharing, as another program might.
    writeBytes(policyPath(), "// kept\r\n");
    const UniqueHandle holder(adoptFileHandle(::CreateFileW(policyPath().c_str(), GENERIC_READ, FILE_SHARE_READ,
                                                            nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr)));
    ASSERT_TRUE(holder);
    run = launch();
    EXPECT_EQ(run.exitCode, 0u) << run.output;
    EXPECT_EQ(readBytes(policyPath()), "// kept\r\n");
    EXPECT_EQ(run.valuesOf("option").at(3), "-Djava.security.policy=file:/" + toPolicyUrl(ansi(policyPath())));
    EXPECT_FALSE(fs::exists(logPath()));
}

TEST_F(LauncherTest, ClassPathListsArchivesBelowTheLibraryFolderDepthFirst) {
    writeBytes(libDir() / "QTJava.zip", "PK");
    writeBytes(libDir() / "DATA.ZIP", "PK");
    writeBytes(libDir() / "notes.jar.txt", "text");
    writeBytes(libDir() / "readme.txt", "text");
    writeBytes(libDir() / "old.jar" / "inner.jar", "PK");
    writeBytes(libDir() / "extras" / "sample.jar", "PK");
    writeBytes(libDir() / "extras" / "deeper" / "deep.zip", "PK");
    writeBytes(libDir() / "z.jar", "PK");
    const LaunchResult run = launch();
    ASSERT_EQ(run.exitCode, 0u) << run.output;
    const std::string lib = app() + "\\lib\\";
    // The listing comes sorted case-insensitively; each folder is scanned where it is met.
    EXPECT_EQ(run.valuesOf("option").at(0),
              "-Djava.class.path=" + app() + "\\Tavro.jar;" + lib + "QTJava.zip;;" + app() + "\\;" + lib + ";" +
                  lib + "extras\\deeper\\deep.zip;" + lib + "extras\\sample.jar;" + lib + "notes.jar.txt;" + lib +
                  "old.jar\\inner.jar;" + lib + "QTJava.zip;" + lib + "z.jar;");
}

// The build prepares an application folder whose lib holds "back", a symbolic link to the
// application folder itself (Wine shows it as a folder that is a reparse point): followed, it
// would lead to lib\\back\\lib\\back\\... without end.
TEST_F(LauncherTest, ALinkBackAboveTheLibraryFolderIsNotFollowed) {
    useApplicationFolder(buildOutput(TAVRO_LOOPED_APPLICATION));
    ASSERT_NE(::GetFileAttributesW((libDir() / "back").c_str()) & FILE_ATTRIBUTE_REPARSE_POINT, 0u);
    writeBytes(libDir() / "a.jar", "PK");
    writeBytes(libDir() / "sub" / "b.zip", "PK");
    const LaunchResult run = launch();
    ASSERT_EQ(run.exitCode, 0u) << run.output;
    const std::string lib = app() + "\\lib\\";
    EXPECT_EQ(run.valuesOf("option").at(0), "-Djava.class.path=" + app() + "\\Tavro.jar;" + lib + "QTJava.zip;;" +
                                                 app() + "\\;" + lib + ";" + lib + "a.jar;" + lib + "sub\\b.zip;");
}

TEST_F(LauncherTest, TracesEveryStepOnStandardOutput) {
    setEnvironment(L"PATH", L"C:\\windows");
    const LaunchResult run = launch({L"first", L"second"});
    ASSERT_EQ(run.exitCode, 0u) << run.output;
    const std::string a = app();
    const std::string policy = "-Djava.security.policy=file:/" + toPolicyUrl(ansi(policyPath()));
    const std::string expected = textModeBytes(
        "Arguments: \"first\" \"second\" \n"
        "jreCurrent: " + a + "\\Java \n"
        "dllCurrent: " + a + "\\Java\\bin\\msvcr100.dll \n"
        "dllCurrent stat: -1 \n"
        "dllCurrent loaded! \n"
        "runtimeLib: " + a + "\\Java\\bin\\client\\jvm.dll \n"
        "JNI_GetCreatedJavaVMs \n"
        "JNI_CreateJavaVM \n"
        "qtHome: " + a + "\\lib\\ \n"
        "Error loading QTJNative.dll: " + a + "\\lib\\QTJNative.dll \n"
        "Error loading QTJavaNative.dll: " + a + "\\lib\\QTJavaNative.dll \n"
        "securityParam: -Djava.security.manager \n"
        "polParam: " + policy + " \n"
        "libPath: -Djava.library.path=\".;" + a + "\\lib;C:\\windows\" \n"
        "classPath: -Djava.class.path=" + a + "\\Tavro.jar;" + a + "\\lib\\QTJava.zip;;" + a + "\\;" + a +
        "\\lib\\; \n");
    EXPECT_EQ(run.output.substr(0, expected.size()), expected);
}

TEST_F(LauncherTest, ArgumentsReachMainWithTheirExactCharacters) {
    const struct {
        std::vector<std::wstring> arguments;
        std::vector<std::string> received;
    } cases[] = {
        {{}, {}},
        {{L"Gr\u00fc\u00dfe", L"\u65e5\u672c \u8a9e", L"\U0001F600", L"plain"},
         {"Gr\xc3\xbc\xc3\x9f" "e", "\xe6\x97\xa5\xe6\x9c\xac \xe8\xaa\x9e", "\xf0\x9f\x98\x80", "plain"}},
        {{L""}, {""}},
    };
    for (const auto& c : cases) {
        const LaunchResult run = launch(c.arguments);
        EXPECT_EQ(run.exitCode, 0u) << run.output;
        EXPECT_THAT(run.valuesOf("mainArgs"), ElementsAre(std::to_string(c.received.size())));
        EXPECT_THAT(run.valuesOf("arg"), ElementsAreArray(c.received));
        EXPECT_TRUE(run.has("mainReturned"));
    }
}

TEST_F(LauncherTest, RefusesToStartWhileAnotherInstanceHoldsTheGuard) {
    const UniqueHandle guard(::CreateMutexA(nullptr, TRUE, "Tavro.jar"));
    ASSERT_TRUE(guard);
    const LaunchResult run = launch({L"x"});
    EXPECT_EQ(run.exitCode, 1u);
    EXPECT_EQ(run.output, "");
    EXPECT_THAT(run.record, IsEmpty());
    EXPECT_THAT(run.boxes, IsEmpty());
    EXPECT_FALSE(fs::exists(logPath()));
    EXPECT_FALSE(fs::exists(policyPath()));
}

TEST_F(LauncherTest, AMissingRuntimeLibraryIsNoErrorAndAnUnloadableOneOnlyLogged) {
    writeBytes(appDir_ / "Java" / "bin" / "msvcr100.dll", "not a library");
    const LaunchResult run = launch();
    EXPECT_EQ(run.exitCode, 0u) << run.output;
    EXPECT_THAT(run.boxes, IsEmpty());
    EXPECT_THAT(run.output, HasSubstr(textModeBytes("dllCurrent stat: 0 \ndllCurrent loaded! \n")));
    EXPECT_TRUE(run.has("mainReturned"));
    expectSessionLog(run, {{"Error loading msvcr100.dll", false}});
}

TEST_F(LauncherTest, TwoReportsInOneRunLeaveTwoRecords) {
    writeBytes(appDir_ / "Java" / "bin" / "msvcr100.dll", "not a library");
    setEnvironment(L"TAVRO_JVM_MODE", L"fail-create");
    const LaunchResult run = launch();
    EXPECT_EQ(run.exitCode, 1u);
    ASSERT_EQ(run.boxes.size(), 1u);
    EXPECT_EQ(run.boxes[0].text, "Fatal Error Launching: Can't create Java VM ");
    expectSessionLog(run, {{"Error loading msvcr100.dll", false}, {"Can't create Java VM ", true}});
    // The log is appended to, never truncated.
    const LaunchResult second = launch();
    EXPECT_EQ(second.exitCode, 1u);
    LaunchResult both = run;
    both.ended = second.ended;
    expectSessionLog(both, {{"Error loading msvcr100.dll", false},
                            {"Can't create Java VM ", true},
                            {"Error loading msvcr100.dll", false},
                            {"Can't create Java VM ", true}});
}

struct FatalCase {
    const char* name;
    void (*prepare)(const fs::path& appDir, const fs::path& jvmDll);
    const wchar_t* vmMode;
    const char* message;
    bool vmCreated;
};

void PrintTo(const FatalCase& c, std::ostream* out) { *out << c.name; }

class LauncherFatalTest : public LauncherTest, public ::testing::WithParamInterface<FatalCase> {};

TEST_P(LauncherFatalTest, LogsShowsTheBoxAndExitsWithOne) {
    const FatalCase& c = GetParam();
    c.prepare(appDir_, jvmDll());
    if (c.vmMode) setEnvironment(L"TAVRO_JVM_MODE", c.vmMode);
    const LaunchResult run = launch();
    EXPECT_EQ(run.exitCode, 1u) << run.output;
    ASSERT_EQ(run.boxes.size(), 1u) << run.output;
    EXPECT_EQ(run.boxes[0].caption, "Tavro");
    EXPECT_EQ(run.boxes[0].text, std::string("Fatal Error Launching: ") + c.message);
    expectSessionLog(run, {{c.message, true}});
    EXPECT_EQ(!run.valuesOf("version").empty(), c.vmCreated);
    EXPECT_FALSE(run.has("mainReturned"));
}

const FatalCase kFatalCases[] = {
    {"NoJavaFolder", [](const fs::path& app, const fs::path&) { fs::remove_all(app / "Java"); }, nullptr,
     "Can't locate JRE", false},
    {"NoJvmDll", [](const fs::path&, const fs::path& jvm) { fs::remove(jvm); }, nullptr, "Could not load jvm.dll",
     false},
    {"UnloadableJvmDll", [](const fs::path&, const fs::path& jvm) { writeBytes(jvm, "MZ not a library"); },
     nullptr, "Error loading JVM", false},
    {"JvmDllWithoutEntryPoint",
     [](const fs::path&, const fs::path& jvm) {
         fs::copy_file(buildOutput(TAVRO_DLL_WITHOUT_JVM_ENTRY), jvm, fs::copy_options::overwrite_existing);
     },
     nullptr, "Error loading JVM", false},
    {"VmCreationFails", [](const fs::path&, const fs::path&) {}, L"fail-create", "Can't create Java VM ", true},
    {"NoMainClass", [](const fs::path&, const fs::path&) {}, L"no-main-class", "Failed to find main class", true},
};

INSTANTIATE_TEST_SUITE_P(Launcher, LauncherFatalTest, ::testing::ValuesIn(kFatalCases),
                         [](const ::testing::TestParamInfo<FatalCase>& test) { return test.param.name; });

TEST_F(LauncherTest, VmCreationFailureTracesItsCode) {
    setEnvironment(L"TAVRO_JVM_MODE", L"fail-create");
    const LaunchResult run = launch();
    EXPECT_EQ(run.exitCode, 1u);
    EXPECT_THAT(run.valuesOf("createFailed"), ElementsAre("-6"));
    EXPECT_THAT(run.output, HasSubstr(textModeBytes("Can't create Java VM [Code:-6]\n")));
}

TEST_F(LauncherTest, AMissingMainClassTracesThePaths) {
    setEnvironment(L"TAVRO_JVM_MODE", L"no-main-class");
    const LaunchResult run = launch();
    EXPECT_EQ(run.exitCode, 1u);
    const std::string a = app();
    EXPECT_THAT(run.output,
                HasSubstr(textModeBytes("Failed to find class:\n   mainClass: com/vyk/ov/tavro/Tavro\n   classPath: "
                                        "-Djava.class.path=" + a + "\\Tavro.jar;")));
    EXPECT_THAT(run.output, HasSubstr(textModeBytes("\n   libPath: -Djava.library.path=\".;" + a + "\\lib;")));
    EXPECT_THAT(run.valuesOf("described"), ElementsAre(HasSubstr("java.lang.NoClassDefFoundError")));
}

TEST_F(LauncherTest, AMissingMainMethodEndsInTheVmsFatalError) {
    setEnvironment(L"TAVRO_JVM_MODE", L"no-main-method");
    const LaunchResult run = launch();
    EXPECT_EQ(run.exitCode, 3u);  // the stand-in VM's FatalError exit
    EXPECT_THAT(run.valuesOf("described"), ElementsAre(HasSubstr("java.lang.NoSuchMethodError")));
    EXPECT_THAT(run.valuesOf("fatal"), ElementsAre("Failed to find jmethodID of 'main'"));
    EXPECT_FALSE(run.has("mainReturned"));
    EXPECT_THAT(run.boxes, IsEmpty());
}

TEST_F(LauncherTest, AnExceptionFromMainStillDestroysTheVm) {
    setEnvironment(L"TAVRO_JVM_MODE", L"main-throws");
    const LaunchResult run = launch();
    EXPECT_EQ(run.exitCode, 0u) << run.output;
    EXPECT_THAT(run.valuesOf("described"), ElementsAre("java.lang.IllegalStateException: Tavro main failed"));
    EXPECT_TRUE(run.has("destroyed"));
    EXPECT_THAT(run.valuesOf("jniMisuse"), ElementsAre("0"));
    EXPECT_FALSE(fs::exists(logPath()));
}

// --- environments a user may have broken -------------------------------------------------------

TEST_F(LauncherTest, WithoutPathTheLibraryPathEndsAfterTheLibraryFolder) {
    setEnvironment(L"PATH", std::nullopt);
    const LaunchResult run = launch();
    EXPECT_EQ(run.exitCode, 0u) << run.output;
    EXPECT_EQ(run.valuesOf("option").at(1), "-Djava.library.path=\".;" + app() + "\\lib;\"");
}

TEST_F(LauncherTest, WithoutTempNoPolicyIsWrittenAndTheLaunchFails) {
    setEnvironment(L"TEMP", std::nullopt);
    setEnvironment(L"TMP", std::nullopt);
    const LaunchResult run = launch();
    EXPECT_EQ(run.exitCode, 1u);
    ASSERT_EQ(run.boxes.size(), 1u);
    EXPECT_EQ(run.boxes[0].text, "Fatal Error Launching: Can't write policy file");
    expectSessionLog(run, {{"Can't write policy file", true}});
    EXPECT_FALSE(fs::exists(root_.root_path() / "Tavro.policy"));
    EXPECT_FALSE(fs::exists(root_ / "Tavro.policy"));
    EXPECT_THAT(run.record, IsEmpty());
}

TEST_F(LauncherTest, WithoutAProfileTheLaunchGoesOnAndNoLogLandsAtTheDriveRoot) {
    setEnvironment(L"USERPROFILE", std::nullopt);
    LaunchResult run = launch();
    EXPECT_EQ(run.exitCode, 0u) << run.output;
    EXPECT_EQ(run.valuesOf("option").at(4), "-XX:ErrorFile=\\Logs\\Tavro_error%p.log");
    // The current directory stays where the launcher was started.
    EXPECT_THAT(run.valuesOf("cwd"), ElementsAre(ansi(root_)));

    const fs::path rootLog = root_.root_path() / "Logs" / "Tavro Session Log.txt";
    const bool rootLogExisted = fs::exists(rootLog);
    fs::remove_all(appDir_ / "Java");
    run = launch();
    EXPECT_EQ(run.exitCode, 1u);
    ASSERT_EQ(run.boxes.size(), 1u);
    EXPECT_EQ(run.boxes[0].text, "Fatal Error Launching: Can't locate JRE");
    EXPECT_EQ(fs::exists(rootLog), rootLogExisted);
    EXPECT_FALSE(fs::exists(root_ / "Logs"));
}

// A program beyond MAX_PATH cannot be started at all; the paths the launcher builds from its
// folder can exceed it. Such a runtime is reported as a fatal launch error rather than looked
// for under a cut-off path. Measured: Wine 8's _stat64 stops at MAX_PATH, as Windows does, so
// the runtime is "not there"; Wine 10's _stat64 finds it (both builds), and LoadLibraryA then
// refuses the path, so the load is what fails.
TEST_F(LauncherTest, ARuntimeBeyondMaxPathIsReported) {
    fs::path longDir = root_;
    while (longDir.wstring().size() + 60 < 240) longDir /= std::wstring(50, L'd');
    longDir /= std::wstring(240 - longDir.wstring().size() - 1, L'a');
    fs::create_directories(longDir.parent_path());
    fs::rename(appDir_, longDir);
    appDir_ = longDir;
    ASSERT_LT(ansi(appDir_ / "Tavro.exe").size(), static_cast<std::size_t>(MAX_PATH));
    ASSERT_GT(ansi(jvmDll()).size(), static_cast<std::size_t>(MAX_PATH));
    const LaunchResult run = launch();
    EXPECT_EQ(run.exitCode, 1u) << run.output;
    ASSERT_EQ(run.boxes.size(), 1u);
    // Chosen by the Wine that runs the suite; a Wine newer than 10 is held to Wine 10's answer.
    const std::string error = tavro::test::wineMajorVersion() >= 10 ? "Error loading JVM" : "Could not load jvm.dll";
    EXPECT_EQ(run.boxes[0].text, "Fatal Error Launching: " + error);
    expectSessionLog(run, {{error, true}});
}

}  // namespace
}  // namespace tavro::launcher

#include "launch_texts.h"

#include <gtest/gtest.h>

#include <string>

namespace tavro::launcher {
namespace {

struct TextCase {
    std::string input;
    std::string expected;
};

TEST(LaunchPolicyUrl, EscapesOnlySpacesAndTurnsBackslashesIntoSlashes) {
    const TextCase cases[] = {
        {"C:\\Program Files\\Tavro\\", "C:/Program%20Files/Tavro/"},
        {"C:\\Apps\\100% Tavro\\lib\\", "C:/Apps/100%%20Tavro/lib/"},
        {"\\\\server\\share\\a  b", "//server/share/a%20%20b"},
        {"Z:\\x#y&z+\xe9", "Z:/x#y&z+\xe9"},
        {"", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(toPolicyUrl(c.input), c.expected) << c.input;
}

TEST(LaunchPolicyFile, GrantsTheApplicationFolderAndTheLibraryFolder) {
    EXPECT_EQ(policyFileText("C:\\Program Files\\Tavro\\", "C:\\Program Files\\Tavro\\lib\\"),
              "//Give this directory security permissions\r\n"
              "grant codeBase \"file:/C:/Program%20Files/Tavro/-\" {\r\n"
              "\tpermission java.security.AllPermission;\r\n"
              "};\r\n"
              "\r\n"
              "//Give QuickTime security permissions\r\n"
              "grant codeBase \"file:/C:/Program%20Files/Tavro/lib/-\" {\r\n"
              "\tpermission java.security.AllPermission;\r\n"
              "};\r\n");
}

TEST(LaunchPolicyFile, OptionNamesThePolicyFileAsUrl) {
    EXPECT_EQ(policyOption("C:\\Users\\A B\\Temp\\Tavro.policy"),
              "-Djava.security.policy=file:/C:/Users/A%20B/Temp/Tavro.policy");
}

TEST(LaunchPathVariable, LosesTrailingBackslashesAndQuotes) {
    const TextCase cases[] = {
        {"C:\\Windows;C:\\Tools\\\\", "C:\\Windows;C:\\Tools"},
        {"C:\\Windows\\", "C:\\Windows"},
        {"\"C:\\Program Files\\Java\\bin\";C:\\x", " C:\\Program Files\\Java\\bin ;C:\\x"},
        // Quotes go after the backslashes: a backslash before a closing quote stays.
        {"C:\\a\\\"", "C:\\a\\ "},
        {"\\\\\\", ""},
        {"", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(cleanPathVariable(c.input), c.expected) << c.input;
}

TEST(LaunchVmOptions, LibraryPathQuotesTheWholeList) {
    EXPECT_EQ(libraryPathOption("C:\\App Dir", "C:\\Windows;C:\\Tools"),
              "-Djava.library.path=\".;C:\\App Dir\\lib;C:\\Windows;C:\\Tools\"");
    EXPECT_EQ(libraryPathOption("C:\\App", ""), "-Djava.library.path=\".;C:\\App\\lib;\"");
}

TEST(LaunchVmOptions, ClassPathStartsWithTheFixedElements) {
    EXPECT_EQ(classPathPrefix("C:\\App Dir", "C:\\App Dir\\lib\\"),
              "-Djava.class.path=C:\\App Dir\\Tavro.jar;C:\\App Dir\\lib\\QTJava.zip;;C:\\App Dir\\;"
              "C:\\App Dir\\lib\\;");
}

TEST(LaunchVmOptions, ErrorFileGoesToTheProfileLogs) {
    EXPECT_EQ(errorFileOption("C:\\Users\\Ann"), "-XX:ErrorFile=C:\\Users\\Ann\\Logs\\Tavro_error%p.log");
    EXPECT_EQ(errorFileOption(""), "-XX:ErrorFile=\\Logs\\Tavro_error%p.log");
}

TEST(LaunchClassPathScan, ArchivesAreRecognisedAnywhereInThePathCaseSensitively) {
    const struct {
        const char* path;
        bool archive;
    } cases[] = {
        {"C:\\App\\lib\\QTJava.zip", true},
        {"C:\\App\\lib\\sample.jar", true},
        {"C:\\App\\lib\\notes.jar.txt", true},
        {"C:\\App\\lib.zip\\readme.txt", true},
        {"C:\\App\\lib\\DATA.ZIP", false},
        {"C:\\App\\lib\\x.JAR", false},
        {"C:\\App\\lib\\jar", false},
        {"C:\\App\\lib\\a.ja", false},
    };
    for (const auto& c : cases) EXPECT_EQ(isArchivePath(c.path), c.archive) << c.path;
    EXPECT_TRUE(isSelfOrParentEntry("."));
    EXPECT_TRUE(isSelfOrParentEntry(".."));
    EXPECT_FALSE(isSelfOrParentEntry("..."));
    EXPECT_FALSE(isSelfOrParentEntry(".hidden"));
}

TEST(LaunchSessionLog, RecordFramesTheTextWithStampAndRow) {
    const std::string stamp = "Thu Dec 10 03:25:56 2026\n";
    EXPECT_EQ(sessionLogRecord(stamp, "Can't locate JRE", true),
              "\r\n##### Thu Dec 10 03:25:56 2026\n\r\nFatal Error Launching: Can't locate JRE\r\n\r\n"
              "##############################\r\n\r\n");
    EXPECT_EQ(sessionLogRecord(stamp, "Error loading msvcr100.dll", false),
              "\r\n##### Thu Dec 10 03:25:56 2026\n\r\nError Launching: Error loading msvcr100.dll\r\n\r\n"
              "##############################\r\n\r\n");
    EXPECT_EQ(launchErrorText("Can't create Java VM ", true), "Fatal Error Launching: Can't create Java VM ");
}

}  // namespace
}  // namespace tavro::launcher

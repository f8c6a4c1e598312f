// The binding's path and version rules, natively.
#include "binding_paths.h"

#include <gtest/gtest.h>

#include <string>

namespace quicktime {
namespace {

TEST(RegistryFolderText, TerminatesAndAppendsTheSeparatorWithinTheBuffer) {
    struct Case {
        std::string data;  // the value's raw bytes, terminator included only where written
        std::size_t size;  // the caller's buffer
        std::string folder;
    };
    const Case cases[] = {
        {std::string("C:\\QT\0", 6), 260, "C:\\QT\\"},
        {std::string("C:\\QT\\\0", 7), 260, "C:\\QT\\"},
        {std::string("C:/QT/\0", 7), 260, "C:/QT/"},
        {"C:\\QT", 260, "C:\\QT\\"},                        // stored without a terminator
        {"C:\\QT", 5, ""},                                  // no room left to terminate it
        {std::string("C:\\QT\0", 6), 6, ""},                // the appended separator does not fit
        {std::string("C:\\QT\0", 6), 7, "C:\\QT\\"},        // exactly fits
        {std::string("C:\\QT\\\0", 7), 7, "C:\\QT\\"},
        {std::string("\0C:\\QT", 6), 260, ""},              // empty text
        {std::string("C:\\A\0junk", 9), 260, "C:\\A\\"},    // text ends at the first zero byte
    };
    for (const Case& c : cases) {
        EXPECT_EQ(registryFolderText(c.data.data(), c.data.size(), c.size), c.folder)
            << c.data << " in " << c.size;
    }
}

TEST(FolderOfPath, CutsAfterTheLastSeparatorOfEitherKind) {
    EXPECT_EQ(folderOfPath("C:\\Program Files\\App\\app.exe"), "C:\\Program Files\\App\\");
    EXPECT_EQ(folderOfPath("Z:/build/tests\\test.exe"), "Z:/build/tests\\");
    EXPECT_EQ(folderOfPath("Z:\\dir/app.exe"), "Z:\\dir/");
    EXPECT_EQ(folderOfPath("app.exe"), "");
}

TEST(PackedVersion, KeepsTheLowByteOfEachPartAndComparesUnsigned) {
    EXPECT_EQ(packedVersion(7, 0, 2, 0), kPackedVersion702);
    EXPECT_LT(packedVersion(7, 0, 1, 255), kPackedVersion702);
    EXPECT_GE(packedVersion(7, 0, 2, 1), kPackedVersion702);
    EXPECT_GE(packedVersion(7, 1, 0, 0), kPackedVersion702);
    EXPECT_LT(packedVersion(6, 5, 2, 0), kPackedVersion702);
    EXPECT_EQ(packedVersion(0x107, 0, 2, 0), kPackedVersion702);  // only the low 8 bits count
    EXPECT_GT(packedVersion(0xFF, 0, 0, 0), kPackedVersion702);   // major 255: unsigned compare
}

}  // namespace
}  // namespace quicktime

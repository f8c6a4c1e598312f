#include "dialog_settings.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace pickora {
namespace {

TEST(PickoraItemOptions, AddsFolderBitsAndClearsTheMustExistChecks) {
    struct Case {
        std::uint32_t initial;
        bool multi;
        bool save;
        std::uint32_t expected;
    } cases[] = {
        // Wine/Windows start an open dialog with PATHMUSTEXIST|FILEMUSTEXIST|NOCHANGEDIR.
        {0x1808, false, false, 0x8 | 0x20 | 0x40 | 0x100},
        {0x1808, true, false, 0x8 | 0x20 | 0x40 | 0x100 | 0x200},
        // A save dialog starts with OVERWRITEPROMPT|NOREADONLYRETURN|PATHMUSTEXIST|NOCHANGEDIR.
        {0x880A, false, true, 0x8 | 0x20 | 0x40 | 0x100},
        // A multi-select bit already there goes when the chooser does not allow it.
        {0x200, false, false, 0x20 | 0x40 | 0x100},
        // The open dialog keeps an overwrite prompt it was given; only the save dialog drops it.
        {0x2, false, false, 0x2 | 0x20 | 0x40 | 0x100},
        {0xFFFFFFFF, true, true, 0xFFFFFFFF & ~0x2u & ~0x800u & ~0x1000u & ~0x8000u},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(itemDialogOptions(c.initial, c.multi, c.save), c.expected)
            << std::hex << "initial 0x" << c.initial << " multi " << c.multi << " save " << c.save;
    }
}

TEST(PickoraFilterIndex, ShiftsToTheClassicDialogsOneBasedIndex) {
    EXPECT_EQ(storedFilterIndex(0), 1);
    EXPECT_EQ(storedFilterIndex(-1), 0);
    EXPECT_EQ(storedFilterIndex(4), 5);
    EXPECT_EQ(storedFilterIndex(INT32_MAX), INT32_MIN);  // wraps, no overflow
}

TEST(PickoraClassicRecord, FillsTheRecordTheSameForOpenAndSave) {
    ClassicDialogRequest request;
    request.currentDirectory = u"C:\\Users";
    request.dialogTitle = u"Pick";
    request.fileFilterString = std::u16string(u"Text\0*.txt\0All\0*.*", 19);
    request.fileFilterIndex = 2;

    ClassicDialogFields fields = classicDialogFields(request);
    EXPECT_EQ(fields.flags, 0x81804u);
    EXPECT_EQ(fields.filterIndex, 2u);
    EXPECT_EQ(fields.maxFile, 500u);
    EXPECT_EQ(fields.maxFileTitle, 500u);
    EXPECT_TRUE(fields.useInitialDirectory);
    EXPECT_TRUE(fields.useTitle);
    // The pairs unchanged, then one NUL of ours and the string's own: a double-NUL end.
    ASSERT_EQ(fields.filter.size(), 20u);
    EXPECT_EQ(fields.filter.substr(0, 19), request.fileFilterString);
    EXPECT_EQ(fields.filter[19], u'\0');
    EXPECT_EQ(fields.filter.c_str()[20], u'\0');

    request.multiSelectionEnabled = true;
    request.currentDirectory.clear();
    request.dialogTitle.clear();
    request.fileFilterString.clear();
    fields = classicDialogFields(request);
    EXPECT_EQ(fields.flags, 0x81A04u);
    EXPECT_FALSE(fields.useInitialDirectory);
    EXPECT_FALSE(fields.useTitle);
    EXPECT_EQ(fields.filter, std::u16string(1, u'\0'));
}

TEST(PickoraFileNameBuffer, HoldsTheStartingNameAndNeverMoreThanTheDialogMayTake) {
    char16_t buffer[kFileBufferUnits];
    std::fill(std::begin(buffer), std::end(buffer), u'x');
    fillFileNameBuffer(buffer, u"report.txt");
    EXPECT_EQ(std::u16string(buffer), u"report.txt");
    EXPECT_TRUE(std::all_of(buffer + 10, buffer + kFileBufferUnits, [](char16_t c) { return c == 0; }));

    fillFileNameBuffer(buffer, u"");
    EXPECT_EQ(buffer[0], u'\0');

    // Longer than the buffer: cut to 499 units plus the NUL, within the 500 the dialog gets.
    fillFileNameBuffer(buffer, std::u16string(800, u'a'));
    EXPECT_EQ(std::u16string(buffer), std::u16string(499, u'a'));
    EXPECT_EQ(buffer[kFileBufferUnits - 1], u'\0');

    // A cut through a surrogate pair drops its first half too.
    std::u16string withPair(498, u'a');
    withPair += u"\U0001F600tail";
    fillFileNameBuffer(buffer, withPair);
    EXPECT_EQ(std::u16string(buffer), std::u16string(498, u'a'));
}

std::u16string bufferOf(const std::u16string& text) {
    std::u16string buffer(text);
    buffer.resize(kFileBufferUsableUnits, u'\0');
    return buffer;
}

TEST(PickoraClassicResult, TurnsTheBufferIntoPaths) {
    using Paths = std::vector<std::u16string>;
    struct Case {
        const char* what;
        std::u16string buffer;  // exactly 500 units
        std::uint32_t fileOffset;
        Paths expected;
    } cases[] = {
        {"one file", bufferOf(u"C:\\dir\\a.txt"), 7, {u"C:\\dir\\a.txt"}},
        {"several files in order", bufferOf(std::u16string(u"C:\\dir\0b.txt\0a.txt\0c\0\0", 22)), 7,
         {u"C:\\dir\\b.txt", u"C:\\dir\\a.txt", u"C:\\dir\\c"}},
        {"several files in a root directory", bufferOf(std::u16string(u"C:\\\0a\0b\0\0", 9)), 4,
         {u"C:\\a", u"C:\\b"}},
        {"non-ASCII names", bufferOf(std::u16string(u"C:\\\u00e9t\u00e9\0\u65e5\u672c.txt\0\0", 14)), 7,
         {u"C:\\\u00e9t\u00e9\\\u65e5\u672c.txt"}},
        {"an empty buffer", bufferOf(u""), 0, {}},
        {"no NUL at all: one file up to the buffer's end", std::u16string(500, u'z'), 3,
         {std::u16string(500, u'z')}},
    };
    for (const Case& c : cases) {
        ASSERT_EQ(c.buffer.size(), kFileBufferUsableUnits) << c.what;
        EXPECT_EQ(parseClassicResult(c.buffer.data(), c.buffer.size(), c.fileOffset), c.expected) << c.what;
    }
}

TEST(PickoraClassicResult, StopsAtTheBuffersEnd) {
    // The directory, one whole name, then a name still running at the last unit: that
    // unterminated name is dropped and nothing past the 500 units is looked at.
    std::u16string text(u"C:\\d\0one\0", 9);
    text += std::u16string(kFileBufferUsableUnits - text.size(), u'q');
    std::vector<char16_t> exact(text.begin(), text.end());  // no spare unit for ASan to allow
    EXPECT_EQ(parseClassicResult(exact.data(), exact.size(), 5), std::vector<std::u16string>{u"C:\\d\\one"});

    // The directory itself fills the buffer and its offset claims several files.
    std::vector<char16_t> full(kFileBufferUsableUnits, u'd');
    EXPECT_TRUE(parseClassicResult(full.data(), full.size(), 600).empty());
}

}  // namespace
}  // namespace pickora

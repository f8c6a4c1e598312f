// The settings' arithmetic and records: picture control values both ways, input formats, the
// compression choice with its image description bytes, the types list entry and the slot count.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "digitizer_settings.h"

namespace {

using namespace pramble;

TEST(PictureControls, QuickTimeValuesFromHeldValues) {
    struct Case {
        double value, min, range;
        std::uint16_t expected;
    };
    const Case cases[] = {
        {128, 0, 255, 32896},                       // trunc(128 * 65535 / 255)
        {0.5, 0.0, 1.0, 32767},                     // before any refresh
        {255, 0, 255, 65535},
        {-10, -10, 20, 0},
        {300, 0, 255, 65535},                       // a device value above its own range
        {-1, 0, 255, 0},                            // and below it
        {7, 7, 0, 0},                               // a range of no width
        {5, 10, -5, 0},                             // a range upside down
        {std::nan(""), 0, 255, 0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(toQuickTimeValue(c.value, c.min, c.range), c.expected) << c.value << " in " << c.min << "+" << c.range;
    }
}

TEST(PictureControls, DeviceValuesFromQuickTimeValues) {
    struct Case {
        std::uint16_t quickTime;
        double min, range;
        long step, expected;
    };
    const Case cases[] = {
        {32768, 0, 255, 10, 120},    // 127.5 truncated, then down to the step
        {65535, 0, 255, 10, 250},
        {32768, 0, 255, 1, 127},
        {65535, 0, 10000, 0, 10000},  // a stepping delta of 0 takes every value
        {0, -100, 200, 5, -100},
        {32768, 0, 1, 1, 0},          // the range held before any refresh
    };
    for (const auto& c : cases) {
        EXPECT_EQ(toDeviceValue(fromQuickTimeValue(c.quickTime, c.min, c.range), c.step), c.expected) << c.quickTime;
    }
    EXPECT_EQ(toDeviceValue(1e300, 1), std::numeric_limits<long>::max()) << "no conversion out of range";
    EXPECT_EQ(toDeviceValue(-1e300, 1), std::numeric_limits<long>::min());
    EXPECT_EQ(toDeviceValue(std::nan(""), 3), 0);
}

TEST(PictureControls, UsableRanges) {
    const ControlRange read = usableRange(true, 0, 255, 0, 128);
    EXPECT_EQ(read.step, 1) << "a stepping delta of 0 steps by 1";
    EXPECT_EQ(read.max, 255);
    EXPECT_EQ(read.defaultValue, 128);
    const ControlRange fallback = usableRange(false, 99, 99, 99, 99);
    EXPECT_EQ(fallback.min, 0);
    EXPECT_EQ(fallback.max, 10000);
    EXPECT_EQ(fallback.step, 1);
    EXPECT_EQ(fallback.defaultValue, 5000);
}

TEST(InputFormats, PhysicalTypesMapOntoQuickTimesFormats) {
    const std::pair<long, std::int16_t> known[] = {{1, kTvTunerIn}, {2, kCompositeIn}, {3, kSVideoIn},
                                                   {4, kRgbComponentIn}, {5, kYuvComponentIn}, {6, kSdiIn},
                                                   {10, kSdiIn}, {14, kSdiIn}};
    for (const auto& [type, format] : known) {
        bool isKnown = false;
        EXPECT_EQ(inputFormatOf(type, isKnown), format) << type;
        EXPECT_TRUE(isKnown) << type;
    }
    for (long type : {0L, 15L, -1L, 0x1000L}) {
        bool isKnown = true;
        EXPECT_EQ(inputFormatOf(type, isKnown), kCompositeIn) << type;
        EXPECT_FALSE(isKnown) << type;
    }
}

TEST(Compression, TypeZeroTakesTheDefaultsAtTheConnectedSize) {
    CompressionChoice choice{};
    const Rect bounds{0, 0, 240, 320};
    ASSERT_TRUE(chooseCompression(0, 8, bounds, 1023, 77, 5, 640, 480, 640, 480, choice));
    EXPECT_EQ(choice.depth, 16);
    EXPECT_EQ(choice.spatialQuality, 512u);
    EXPECT_EQ(choice.temporalQuality, 0u);
    EXPECT_EQ(choice.keyFrameRate, 0);
    EXPECT_EQ(choice.width, 640);
    EXPECT_EQ(choice.height, 480);

    ASSERT_TRUE(chooseCompression(kL555, 24, {10, 10, 1000, 2000}, 1023, 77, 5, 160, 120, 640, 480, choice));
    EXPECT_EQ(choice.depth, 24);
    EXPECT_EQ(choice.spatialQuality, 1023u);
    EXPECT_EQ(choice.temporalQuality, 77u);
    EXPECT_EQ(choice.keyFrameRate, 5);
    EXPECT_EQ(choice.width, 640) << "lowered to the maximum";
    EXPECT_EQ(choice.height, 480);

    CompressionChoice untouched{1, 2, 3, 4, 5, 6};
    EXPECT_FALSE(chooseCompression(fourCharacterCode("jpeg"), 16, bounds, 0, 0, 0, 640, 480, 640, 480, untouched));
    EXPECT_EQ(untouched.width, 5);
}

// The description as QuickTime reads it from the handle, written from the record's format.
TEST(Compression, ImageDescriptionBytes) {
    CompressionChoice choice{16, 512, 0, 0, 640, 480};
    const quicktime::ImageDescription description = imageDescriptionFor(choice);
    unsigned char bytes[86];
    std::memcpy(bytes, &description, sizeof bytes);
    const unsigned char expected[86] = {
        86, 0, 0, 0,                  // idSize
        '5', '5', '5', 'L',           // cType 'L555' (a 32-bit number, little-endian)
        0, 0, 0, 0, 0, 0, 0, 0,       // resvd1, resvd2, dataRefIndex
        1, 0, 1, 0,                   // version, revisionLevel
        'l', 'p', 'p', 'a',           // vendor 'appl'
        0, 0, 0, 0, 0, 2, 0, 0,       // temporal 0, spatial 512
        0x80, 2, 0xE0, 1,             // 640 x 480
        0, 0, 0x48, 0, 0, 0, 0x48, 0, // 72 dpi twice
        0, 0, 0, 0, 1, 0,             // dataSize, frameCount
        13, 'S', 'k', 'e', 'l', 'l', 'i', 't', ' ', 'V', 'i', 'd', 'e', 'o',
        0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,  // rest of the Str31
        16, 0, 0xFF, 0xFF,            // depth, clutID -1
    };
    EXPECT_EQ(std::vector<unsigned char>(bytes, bytes + 86), std::vector<unsigned char>(expected, expected + 86));
}

TEST(Compression, TypesEntryAppendsVdigToABoundedCodecName) {
    quicktime::CodecInfo codec{};
    codec.typeName[0] = 13;
    std::memcpy(codec.typeName + 1, "RGB 555 Video", 13);
    codec.formatFlags = 0x11;
    codec.compressFlags = 0x22;
    quicktime::VDCompressionList entry = compressionEntryFor(codec);
    EXPECT_EQ(entry.cType, kL555);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(entry.typeName) + 1, entry.typeName[0]), "RGB 555 Video VDIG");
    EXPECT_EQ(std::memcmp(entry.typeName, entry.name, 64), 0);
    EXPECT_EQ(entry.formatFlags, 0x11);
    EXPECT_EQ(entry.compressFlags, 0x22);

    std::memset(codec.typeName, 'x', sizeof codec.typeName);
    codec.typeName[0] = 255;  // a length byte past its field
    entry = compressionEntryFor(codec);
    EXPECT_EQ(entry.typeName[0], 31 + 5);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(entry.typeName) + 32, 5), " VDIG");

    entry = compressionEntryFor(quicktime::CodecInfo{});  // no codec information: the suffix alone
    EXPECT_EQ(std::string(reinterpret_cast<char*>(entry.typeName) + 1, entry.typeName[0]), " VDIG");
}

TEST(FrameSlot, CountsNeverReachPastTheView) {
    struct Case {
        std::uint32_t written;
        std::size_t view;
        std::uint32_t expected;
    };
    const Case cases[] = {
        {153600, 4096 * 38, 153600}, {153600, 12 + 153600, 153600}, {153601, 12 + 153600, 153600},
        {0xFFFFFFFFu, 4096, 4084},   {100, 12, 0},                   {100, 0, 0},
    };
    for (const auto& c : cases) EXPECT_EQ(frameBytesInView(c.written, c.view), c.expected) << c.written << " in " << c.view;
}

}  // namespace

#include "webcam_pixels.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

namespace korvix {
namespace {

using Bytes = std::vector<std::uint8_t>;

TEST(WebcamFourCc, FirstCharacterIsTheLowestByte) {
    EXPECT_EQ(kFourCcYuy2, 0x32595559u);
    EXPECT_EQ(kFourCcDv, 0x64737664u);
    EXPECT_EQ(kFourCcJpeg, 0x47504A57u);
    EXPECT_EQ(kFourCcI420, 0x30323449u);
}

TEST(WebcamFrameBuffer, SizesThatFitOneJavaArray) {
    struct Case {
        int width, height;
        std::optional<std::size_t> bytes;
    };
    for (const Case& c : {Case{640, 480, 921600u}, Case{1, 1, 3u}, Case{715827882, 1, 2147483646u},
                          Case{715827883, 1, std::nullopt}, Case{65536, 65536, std::nullopt},
                          Case{0, 480, std::nullopt}, Case{640, -480, std::nullopt},
                          Case{INT32_MIN, INT32_MIN, std::nullopt}}) {
        EXPECT_EQ(frameBufferBytes(c.width, c.height), c.bytes) << c.width << " x " << c.height;
    }
    EXPECT_EQ(bitmapRowBytes24(640), 1920u);
    EXPECT_EQ(bitmapRowBytes24(5), 16u);
}

// A 3 x 2 bottom-up BGR image: memory holds the bottom row first.
const Bytes kBottomUp = {
    // bottom row: (B,G,R) per pixel
    31, 32, 33, 41, 42, 43, 51, 52, 53,
    // top row
    1, 2, 3, 11, 12, 13, 21, 22, 23};
const Bytes kTopDownRgb = {3, 2, 1, 13, 12, 11, 23, 22, 21, 33, 32, 31, 43, 42, 41, 53, 52, 51};

TEST(WebcamRgbRows, BottomUpRowsAreFlippedAndSwappedToRgb) {
    Bytes frame(18, 0xEE);
    copyBgrRows(bottomUpRows(kBottomUp.data(), 9, 3, 2), frame.data(), 3, 2);
    EXPECT_EQ(frame, kTopDownRgb);

    // A top-down source with padded rows reads each row at its stride.
    const Bytes padded = {1, 2, 3, 11, 12, 13, 21, 22, 23, 0, 0, 0, 31, 32, 33, 41, 42, 43, 51, 52, 53, 0, 0, 0};
    Bytes fromPadded(18, 0xEE);
    copyBgrRows({padded.data(), 12, 3, 2}, fromPadded.data(), 3, 2);
    EXPECT_EQ(fromPadded, (Bytes{3, 2, 1, 13, 12, 11, 23, 22, 21, 33, 32, 31, 43, 42, 41, 53, 52, 51}));
}

TEST(WebcamRgbRows, ImageOfAnotherSizeWritesOnlyTheOverlap) {
    const BgrRows source = bottomUpRows(kBottomUp.data(), 9, 3, 2);
    Bytes narrow(2 * 1 * 3, 0xEE);  // frame 2 x 1: the top row's first two pixels
    copyBgrRows(source, narrow.data(), 2, 1);
    EXPECT_EQ(narrow, (Bytes{3, 2, 1, 13, 12, 11}));
    Bytes wide(4 * 3 * 3, 0xEE);  // frame 4 x 3: columns and rows beyond the image untouched
    copyBgrRows(source, wide.data(), 4, 3);
    Bytes expected(36, 0xEE);
    std::memcpy(&expected[0], &kTopDownRgb[0], 9);
    std::memcpy(&expected[12], &kTopDownRgb[9], 9);
    EXPECT_EQ(wide, expected);
}

TEST(WebcamRgbRows, StillSceneIsFoundAndAChangeAnywhereIsConverted) {
    // Wider than one comparison span, with an odd width so spans cross rows.
    constexpr int kWidth = 301, kHeight = 15;
    Bytes image(std::size_t(kWidth) * kHeight * 3);
    for (std::size_t i = 0; i < image.size(); ++i) image[i] = std::uint8_t(i * 7 + 1);
    const BgrRows source = bottomUpRows(image.data(), kWidth * 3, kWidth, kHeight);
    Bytes converted(image.size());
    copyBgrRows(source, converted.data(), kWidth, kHeight);

    Bytes frame = converted;
    EXPECT_FALSE(copyBgrRowsIfChanged(source, frame.data()));
    EXPECT_EQ(frame, converted);
    for (std::size_t changed : {std::size_t(0), std::size_t(2048 * 3 + 1), image.size() - 1}) {
        Bytes stale = converted;
        stale[changed] ^= 0x40;  // one byte of the frame differs from the new image
        EXPECT_TRUE(copyBgrRowsIfChanged(source, stale.data())) << changed;
        EXPECT_EQ(stale, converted) << changed;
    }
}

struct YuvCase {
    std::uint8_t y, u, v;
    std::uint8_t red, green, blue;
};

TEST(WebcamYuy2, PixelsFollowTheFixedPointFormulaWithClamping) {
    for (const YuvCase& c : {
             YuvCase{16, 128, 128, 0, 0, 0},         // black
             YuvCase{235, 128, 128, 255, 255, 255},  // white
             YuvCase{128, 128, 128, 130, 130, 130},  // (298 * 112 + 128) >> 8
             YuvCase{0, 128, 128, 0, 0, 0},          // below black clamps to 0
             YuvCase{255, 128, 128, 255, 255, 255},  // above white clamps to 255
             YuvCase{81, 90, 240, 255, 0, 0},        // red: R saturates, G and B clamp at 0
             YuvCase{144, 53, 34, 0, 255, 0},        // green
             YuvCase{41, 240, 110, 0, 0, 255},       // blue: B = (298 * 25 + 516 * 112 + 128) >> 8 = 255
             YuvCase{100, 0, 255, 255, 45, 0},       // extreme chroma: R above 255, G inside, B below 0
         }) {
        const Bytes group = {c.y, c.u, c.y, c.v};
        Bytes frame(6, 0xEE);
        convertYuy2(group.data(), frame.data(), 2);
        EXPECT_EQ(frame, (Bytes{c.red, c.green, c.blue, c.red, c.green, c.blue}))
            << int(c.y) << "," << int(c.u) << "," << int(c.v);
    }
}

TEST(WebcamYuy2, TwoPixelsShareChromaAndAnOddCountWritesOnlyItsPixels) {
    const Bytes yuy2 = {16, 128, 235, 128, 235, 128, 16, 128};
    Bytes frame(3 * 3 + 4, 0xEE);  // three pixels and guard bytes
    convertYuy2(yuy2.data(), frame.data(), 3);
    EXPECT_EQ(frame, (Bytes{0, 0, 0, 255, 255, 255, 255, 255, 255, 0xEE, 0xEE, 0xEE, 0xEE}));
    EXPECT_EQ(yuy2BytesFor(3), 8u);
    EXPECT_EQ(yuy2BytesFor(640 * 480), 640u * 480 * 2);
}

TEST(WebcamYuy2, StillSceneIsFoundAndAChangeIsConverted) {
    constexpr std::size_t kPixels = 4501;  // several comparison spans and an odd tail
    Bytes yuy2(yuy2BytesFor(kPixels));
    for (std::size_t i = 0; i < yuy2.size(); ++i) yuy2[i] = std::uint8_t(i * 13 + 5);
    Bytes converted(kPixels * 3);
    convertYuy2(yuy2.data(), converted.data(), kPixels);

    Bytes frame = converted;
    EXPECT_FALSE(convertYuy2IfChanged(yuy2.data(), frame.data(), kPixels));
    for (std::size_t changed : {std::size_t(0), std::size_t(2100 * 3), converted.size() - 1}) {
        Bytes stale = converted;
        stale[changed] ^= 0x01;
        EXPECT_TRUE(convertYuy2IfChanged(yuy2.data(), stale.data(), kPixels)) << changed;
        EXPECT_EQ(stale, converted) << changed;
    }
}

TEST(WebcamStillFrames, RepeatsAreFoundByTheirBytesOrTheirImageAndChangesAnywhereConvert) {
    constexpr int kWidth = 64, kHeight = 40;  // more than one comparison span
    Bytes still(std::size_t(kWidth) * kHeight * 3);
    for (std::size_t i = 0; i < still.size(); ++i) still[i] = std::uint8_t(i * 5 + 3);
    Bytes moved = still;
    moved[5] ^= 0x10;  // in the bottom row, which is the image's last: the leading spans stay equal
    auto converted = [&](const Bytes& source) {
        Bytes rgb(source.size());
        copyBgrRows(bottomUpRows(source.data(), kWidth * 3, kWidth, kHeight), rgb.data(), kWidth, kHeight);
        return rgb;
    };
    StillFrameFilter filter;
    Bytes frame(still.size(), 0xEE);
    struct Step {
        const Bytes& source;
        bool first;
        bool changed;
    };
    int index = 0;
    for (const Step& step : {Step{still, true, true}, Step{still, false, false}, Step{moved, false, true},
                             Step{moved, false, false}, Step{still, false, true}, Step{still, false, false}}) {
        EXPECT_EQ(filter.deliverRgb24(step.source.data(), frame.data(), kWidth, kHeight, step.first), step.changed)
            << "step " << index;
        EXPECT_EQ(frame, converted(step.source)) << "step " << index;
        ++index;
    }
}

TEST(WebcamStillFrames, YuyvOfOtherBytesButTheSameImageIsStill) {
    constexpr std::size_t kPixels = 4100;
    Bytes brighter(yuy2BytesFor(kPixels), 128), brightest(yuy2BytesFor(kPixels), 128);
    for (std::size_t i = 0; i < brighter.size(); i += 2) {
        brighter[i] = 250;  // both clamp to white
        brightest[i] = 255;
    }
    Bytes grey = brighter;
    grey[grey.size() - 2] = 128;  // the last pixel only
    StillFrameFilter filter;
    Bytes frame(kPixels * 3);
    EXPECT_TRUE(filter.deliverYuy2(brighter.data(), frame.data(), kPixels, true));
    EXPECT_FALSE(filter.deliverYuy2(brightest.data(), frame.data(), kPixels, false));
    EXPECT_FALSE(filter.deliverYuy2(brighter.data(), frame.data(), kPixels, false));
    EXPECT_EQ(frame, Bytes(kPixels * 3, 255));
    EXPECT_TRUE(filter.deliverYuy2(grey.data(), frame.data(), kPixels, false));
    EXPECT_EQ(frame[kPixels * 3 - 1], 130);
    EXPECT_TRUE(filter.deliverYuy2(brighter.data(), frame.data(), kPixels, false));  // back again
    EXPECT_EQ(frame, Bytes(kPixels * 3, 255));
    // A first frame after an open converts whatever the frame held.
    EXPECT_TRUE(filter.deliverYuy2(brighter.data(), frame.data(), kPixels, true));
}

TEST(WebcamDecodedPixels, RedAndBlueSwapInPlace) {
    Bytes pixels = {1, 2, 3, 4, 5, 6};
    swapRedAndBlue(pixels.data(), 2);
    EXPECT_EQ(pixels, (Bytes{3, 2, 1, 6, 5, 4}));
}

Bytes packedBitmap(std::int32_t headerSize, std::int32_t width, std::int32_t height, std::uint16_t bits,
                   std::int32_t compression, std::size_t pixelBytes) {
    Bytes packed(40 + pixelBytes, 0);
    auto put32 = [&packed](std::size_t at, std::int32_t value) { std::memcpy(&packed[at], &value, 4); };
    put32(0, headerSize);
    put32(4, width);
    put32(8, height);
    packed[12] = 1;
    std::memcpy(&packed[14], &bits, 2);
    put32(16, compression);
    return packed;
}

TEST(WebcamPackedBitmap, PixelsOnlyForTheExpectedHeaderAndEveryRow) {
    // Width 5: rows padded to 16 bytes.
    const Bytes good = packedBitmap(40, 5, 2, 24, 0, 32);
    EXPECT_EQ(packedBitmapPixels(good.data(), good.size(), 5, 2), good.data() + 40);
    struct Case {
        const char* what;
        Bytes packed;
    };
    for (const Case& c : {Case{"header size", packedBitmap(44, 5, 2, 24, 0, 32)},
                          Case{"width", packedBitmap(40, 4, 2, 24, 0, 32)},
                          Case{"top-down", packedBitmap(40, 5, -2, 24, 0, 32)},
                          Case{"height", packedBitmap(40, 5, 3, 24, 0, 48)},
                          Case{"bit count", packedBitmap(40, 5, 2, 32, 0, 48)},
                          Case{"compressed", packedBitmap(40, 5, 2, 24, 1, 32)},
                          Case{"last row short", packedBitmap(40, 5, 2, 24, 0, 31)}}) {
        EXPECT_EQ(packedBitmapPixels(c.packed.data(), c.packed.size(), 5, 2), nullptr) << c.what;
    }
    EXPECT_EQ(packedBitmapPixels(good.data(), 39, 5, 2), nullptr);
    EXPECT_EQ(packedBitmapPixels(nullptr, 0, 5, 2), nullptr);
}

}  // namespace
}  // namespace korvix

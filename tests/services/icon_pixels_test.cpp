#include "icon_pixels.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace korvix {
namespace {

constexpr std::uint32_t kTransparentMask = 0x00FFFFFFu;  // white, alpha 0

TEST(IconPixelCount, ServesOnlyPositiveSizesUpToTheLargest) {
    EXPECT_EQ(iconPixelCount(32, kLargestFixedBufferIconSize), 1024u);
    EXPECT_EQ(iconPixelCount(1, kLargestFixedBufferIconSize), 1u);
    EXPECT_EQ(iconPixelCount(64, kLargestFixedBufferIconSize), kFixedIconBufferPixels);
    for (int refused : {0, -1, -64, 65, 1 << 16, INT32_MIN, INT32_MAX}) {
        EXPECT_FALSE(iconPixelCount(refused, kLargestFixedBufferIconSize).has_value()) << refused;
    }
    EXPECT_EQ(iconPixelCount(256, kLargestAllocatedIconSize), 65536u);
    EXPECT_FALSE(iconPixelCount(257, kLargestAllocatedIconSize).has_value());
}

TEST(AlphaFromMask, IconWithoutAlphaTakesTransparencyFromTheMask) {
    std::vector<std::uint32_t> colour = {0x00112233u, 0x00FFFFFFu, 0x00000000u, 0x00ABCDEFu};
    const std::vector<std::uint32_t> mask = {kOpaqueMaskPixel, kTransparentMask, kOpaqueMaskPixel,
                                             kTransparentMask};
    combineAlphaFromMask(colour.data(), mask.data(), colour.size());
    // Opaque pixels get alpha 0xFF; transparent ones keep alpha 0 and their colour bytes.
    EXPECT_EQ(colour, (std::vector<std::uint32_t>{0xFF112233u, 0x00FFFFFFu, 0xFF000000u, 0x00ABCDEFu}));
}

TEST(AlphaFromMask, AnyAlphaOfItsOwnKeepsEveryPixelUnchanged) {
    // One pixel with alpha 1 at the very end is enough.
    std::vector<std::uint32_t> colour = {0x00112233u, 0x00445566u, 0x00000000u, 0x01000000u};
    const std::vector<std::uint32_t> before = colour;
    const std::vector<std::uint32_t> mask = {kOpaqueMaskPixel, kTransparentMask, kOpaqueMaskPixel,
                                             kOpaqueMaskPixel};
    combineAlphaFromMask(colour.data(), mask.data(), colour.size());
    EXPECT_EQ(colour, before);
}

TEST(AlphaFromMask, OnlyTheCountedPixelsAreExamined) {
    // The alpha beyond `count` belongs to another read-out and must not switch the rule.
    std::vector<std::uint32_t> colour = {0x00112233u, 0x80FFFFFFu};
    const std::vector<std::uint32_t> mask = {kOpaqueMaskPixel, kOpaqueMaskPixel};
    combineAlphaFromMask(colour.data(), mask.data(), 1);
    EXPECT_EQ(colour[0], 0xFF112233u);
    EXPECT_EQ(colour[1], 0x80FFFFFFu);
}

TEST(WhiteFromMask, TransparentPixelsTurnWhiteAndAlphaIsUntouched) {
    std::vector<std::uint32_t> colour = {0x00112233u, 0x00112233u, 0x80102030u, 0x80102030u};
    const std::vector<std::uint32_t> mask = {kOpaqueMaskPixel, kTransparentMask, kOpaqueMaskPixel,
                                             kTransparentMask};
    combineWhiteFromMask(colour.data(), mask.data(), colour.size());
    EXPECT_EQ(colour, (std::vector<std::uint32_t>{0x00112233u, 0x00FFFFFFu, 0x80102030u, 0x80FFFFFFu}));
}

}  // namespace
}  // namespace korvix

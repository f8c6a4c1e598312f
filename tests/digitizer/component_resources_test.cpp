// The packer against the component bytes written out by hand from the formats.
#include <gtest/gtest.h>

#include <string>

#include "component_resources.h"
#include "golden_component_bytes.h"

namespace {

using pramble_test::kFork;
using pramble_test::kThing;

TEST(ComponentResources, ThingRecordHasItsSeventyByteLayout) {
    const auto resources = pramble::componentResources();
    ASSERT_FALSE(resources.empty());
    EXPECT_EQ(resources[0].type, pramble::fourCharacterCode("thng"));
    EXPECT_EQ(resources[0].id, 200);
    EXPECT_EQ(resources[0].data.size(), 70u);
    EXPECT_EQ(resources[0].data, kThing);
}

TEST(ComponentResources, ForkMatchesTheFormatByteForByte) {
    EXPECT_EQ(pramble::resourceFork(pramble::componentResources()), kFork);
}

TEST(ComponentResources, PackedFileIsImageForkFillAndTrailer) {
    struct Case {
        std::string image;
        std::size_t fill;  // zero bytes before the trailer, which starts on a 16-byte boundary
    };
    const Case cases[] = {
        {"MZ-fake-image", 5},             // 13 + 558 = 571
        {std::string(18, 'x'), 0},        // 18 + 558 = 576
        {std::string(19, 'y'), 15},       // 577
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.image.size());
        const std::string packed = pramble::packComponent(c.image);
        const std::string expected =
            c.image + kFork + std::string(c.fill, '\0') + pramble_test::trailer(std::uint32_t(c.image.size()));
        EXPECT_EQ(packed, expected);
        EXPECT_EQ(packed.size() % 16, 36u % 16);
    }
}

}  // namespace

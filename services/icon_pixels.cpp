#include "icon_pixels.h"

#include <algorithm>

namespace korvix {

std::optional<std::size_t> iconPixelCount(int size, int largest) {
    if (size <= 0 || size > largest) return std::nullopt;
    return static_cast<std::size_t>(size) * static_cast<std::size_t>(size);
}

void combineAlphaFromMask(std::uint32_t* colour, const std::uint32_t* mask, std::size_t count) {
    const bool hasOwnAlpha =
        std::any_of(colour, colour + count, [](std::uint32_t pixel) { return (pixel & kAlphaMask) != 0; });
    if (hasOwnAlpha) return;
    for (std::size_t i = 0; i < count; ++i) {
        if (mask[i] == kOpaqueMaskPixel) colour[i] |= kAlphaMask;
    }
}

void combineWhiteFromMask(std::uint32_t* colour, const std::uint32_t* mask, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) colour[i] |= mask[i];
}

}  // namespace korvix

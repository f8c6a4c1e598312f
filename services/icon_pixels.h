// Icon pixel arithmetic: which sizes a read-out can serve and how an icon's colour and mask
// pixels combine into the 0xAARRGGBB values handed to Java. No platform calls.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

namespace korvix {

// getFileIcon and extractIcon read into fixed buffers of this many pixels (64 x 64).
constexpr std::size_t kFixedIconBufferPixels = 4096;
constexpr int kLargestFixedBufferIconSize = 64;
// getFileIconOnXpOrVista allocates per call; its edge is bounded so the allocation is too.
constexpr int kLargestAllocatedIconSize = 256;

// Pixels of a size x size read-out, or nothing when the size is not positive or above `largest`.
std::optional<std::size_t> iconPixelCount(int size, int largest);

// In the mask read-out an opaque pixel is 0 and a transparent one white with alpha 0.
constexpr std::uint32_t kOpaqueMaskPixel = 0x00000000u;
constexpr std::uint32_t kAlphaMask = 0xFF000000u;

// Shell icons: an icon with any alpha of its own keeps its pixels unchanged; otherwise the
// mask decides, opaque pixels getting alpha 0xFF and the rest keeping alpha 0.
void combineAlphaFromMask(std::uint32_t* colour, const std::uint32_t* mask, std::size_t count);

// Extracted icons: each colour pixel ORed with its mask value, so transparent pixels turn
// white and alpha stays as the colour bitmap had it.
void combineWhiteFromMask(std::uint32_t* colour, const std::uint32_t* mask, std::size_t count);

}  // namespace korvix

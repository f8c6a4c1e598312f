// Webcam pixel arithmetic: how each delivery format turns into the frame buffer Java reads
// (width x height pixels of red, green, blue; rows top-down and packed), how a still scene is
// told from a changed one, and the sizes that bound every read and write. No platform calls.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace korvix {

// Video format codes of the capture driver: the first character in the lowest byte.
constexpr std::uint32_t captureFourCc(char a, char b, char c, char d) {
    return std::uint32_t(std::uint8_t(a)) | std::uint32_t(std::uint8_t(b)) << 8 |
           std::uint32_t(std::uint8_t(c)) << 16 | std::uint32_t(std::uint8_t(d)) << 24;
}
constexpr std::uint32_t kFourCcYuy2 = captureFourCc('Y', 'U', 'Y', '2');
constexpr std::uint32_t kFourCcI420 = captureFourCc('I', '4', '2', '0');
constexpr std::uint32_t kFourCcDv = captureFourCc('d', 'v', 's', 'd');
constexpr std::uint32_t kFourCcJpeg = captureFourCc('W', 'J', 'P', 'G');
constexpr std::uint32_t kFourCcVideoCodec = captureFourCc('v', 'i', 'd', 'c');

// Bytes of a frame buffer of this size, or nothing when a side is not positive or the buffer
// would not fit in one Java array.
std::optional<std::size_t> frameBufferBytes(int width, int height);
// Bytes of one row of a 24-bit device-independent bitmap: padded to 4 bytes.
constexpr std::size_t bitmapRowBytes24(std::size_t width) { return (width * 3 + 3) & ~std::size_t(3); }

// Rows of 24-bit pixels in blue, green, red order, from the top of the image: `top` is the
// top row and `stride` the step to the next one (negative for a bottom-up bitmap).
struct BgrRows {
    const std::uint8_t* top;
    std::ptrdiff_t stride;
    int width;
    int height;
};
// A bottom-up bitmap (its last row in memory is the top of the image).
BgrRows bottomUpRows(const std::uint8_t* pixels, std::size_t rowBytes, int width, int height);

// Copies the image into the frame buffer as red, green, blue. When the sizes differ only the
// overlap (from the top left) is written; the rest of the frame keeps what it held.
void copyBgrRows(const BgrRows& source, std::uint8_t* frame, int width, int height);
// The same conversion for an image of exactly the frame's size, written only when the result
// differs from what the frame holds. Answers whether it did.
bool copyBgrRowsIfChanged(const BgrRows& source, std::uint8_t* frame);

// YUY2 (Y0 U Y1 V per two pixels) to red, green, blue, in order without a row flip, with
// 8-bit fixed-point BT.601 arithmetic clamped to 0..255.
// Source bytes that `pixels` pixels need: whole 4-byte groups.
constexpr std::size_t yuy2BytesFor(std::size_t pixels) { return (pixels + 1) / 2 * 4; }
// Writes exactly pixels x 3 bytes (an odd count uses half of the last group).
void convertYuy2(const std::uint8_t* yuy2, std::uint8_t* frame, std::size_t pixels);
// Writes only when the converted image differs from the frame's; answers whether it did.
bool convertYuy2IfChanged(const std::uint8_t* yuy2, std::uint8_t* frame, std::size_t pixels);

// One grabbed frame of modes 1 and 2 into the frame buffer, the way the frame callback takes
// it: the first frame after an open is converted; a later one only when its image differs
// from what the frame holds (each converted pixel compared). The source bytes behind the frame
// are kept, so a frame identical to them is known unchanged after one comparison of its bytes
// (the conversion being a function of them); the frame must not be written by anything else.
class StillFrameFilter {
public:
    // Answers whether the frame was written (false: the same image again).
    bool deliverRgb24(const std::uint8_t* bottomUpBgr, std::uint8_t* frame, int width, int height, bool first);
    bool deliverYuy2(const std::uint8_t* yuy2, std::uint8_t* frame, std::size_t pixels, bool first);

private:
    bool repeated(const std::uint8_t* source, std::size_t bytes, bool first) const;
    void keep(const std::uint8_t* source, std::size_t bytes);

    std::vector<std::uint8_t> lastSource_;
};

// Swaps the first and third byte of every 3-byte pixel.
void swapRedAndBlue(std::uint8_t* pixels, std::size_t count);

// The pixels of a packed bitmap (a 40-byte header, then the rows) of `size` bytes, when its
// header says it is an uncompressed 24-bit image of exactly width x height and all its rows
// are there; null otherwise.
const std::uint8_t* packedBitmapPixels(const std::uint8_t* packed, std::size_t size, int width, int height);

// The plain kernels of the conversions above, one pixel at a time: what the vector forms that
// the processor's features select at run time must equal byte for byte.
namespace scalar {
void bgrToRgb(const std::uint8_t* bgr, std::uint8_t* rgb, std::size_t pixels);
// From the start of a group; an odd count uses half of the last one.
void yuy2ToRgb(const std::uint8_t* yuy2, std::uint8_t* rgb, std::size_t pixels);
}  // namespace scalar

}  // namespace korvix

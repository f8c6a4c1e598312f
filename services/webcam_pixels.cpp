#include "webcam_pixels.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <limits>

namespace korvix {

namespace {

// --- compare while converting ------------------------------------------------------------
// A still scene is found by converting small spans into scratch memory and comparing them
// with the frame; at the first difference the span is kept and the rest converted straight
// into the frame. Equal leading pixels need no second pass: they already hold the result.
constexpr std::size_t kSpanPixels = 256;  // even, so YUY2 spans start on a group

template <typename ConvertSpan>  // convert(first, count, out) writes pixels [first, first + count)
bool convertIfChanged(std::size_t pixels, std::uint8_t* frame, ConvertSpan convert) {
    std::uint8_t scratch[kSpanPixels * 3];
    for (std::size_t first = 0; first < pixels; first += kSpanPixels) {
        const std::size_t count = std::min(kSpanPixels, pixels - first);
        convert(first, count, scratch);
        std::uint8_t* target = frame + first * 3;
        if (std::memcmp(scratch, target, count * 3) != 0) {
            std::memcpy(target, scratch, count * 3);
            convert(first + count, pixels - first - count, target + count * 3);
            return true;
        }
    }
    return false;
}

// --- 24-bit rows -------------------------------------------------------------------------
void bgrToRgb(const std::uint8_t* in, std::uint8_t* out, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i, in += 3, out += 3) {
        const std::uint8_t blue = in[0];
        out[0] = in[2];
        out[1] = in[1];
        out[2] = blue;
    }
}

// Pixels [first, first + count) of the image, counted row by row from the top left.
void bgrSpan(const BgrRows& source, std::size_t first, std::size_t count, std::uint8_t* out) {
    const std::size_t width = std::size_t(source.width);
    std::size_t row = first / width;
    std::size_t column = first % width;
    while (count) {
        const std::size_t n = std::min(count, width - column);
        bgrToRgb(source.top + std::ptrdiff_t(row) * source.stride + column * 3, out, n);
        out += n * 3;
        count -= n;
        ++row;
        column = 0;
    }
}

// --- YUY2 --------------------------------------------------------------------------------
// Each term of the conversion for every byte value, and a clamp over every reachable sum.
constexpr int kClampOffset = 512;
struct Yuy2Tables {
    std::int32_t luma[256];    // 298 (Y - 16) + 128, the rounding included once
    std::int32_t redV[256];    // 409 (V - 128)
    std::int32_t greenU[256];  // -100 (U - 128)
    std::int32_t greenV[256];  // -208 (V - 128)
    std::int32_t blueU[256];   // 516 (U - 128)
    std::uint8_t clamp[2 * kClampOffset + 256];
};

constexpr Yuy2Tables makeYuy2Tables() {
    Yuy2Tables t{};
    for (int i = 0; i < 256; ++i) {
        t.luma[i] = 298 * (i - 16) + 128;
        t.redV[i] = 409 * (i - 128);
        t.greenU[i] = -100 * (i - 128);
        t.greenV[i] = -208 * (i - 128);
        t.blueU[i] = 516 * (i - 128);
    }
    for (int i = 0; i < 2 * kClampOffset + 256; ++i) {
        t.clamp[i] = std::uint8_t(std::clamp(i - kClampOffset, 0, 255));
    }
    return t;
}
constexpr Yuy2Tables kYuy2 = makeYuy2Tables();
// The extremes of every channel's sum, shifted, stay inside the clamp table.
static_assert((298 * (255 - 16) + 128 + 516 * 127) >> 8 < kClampOffset + 256);
static_assert((298 * (0 - 16) + 128 + 516 * -128) >> 8 >= -kClampOffset);

inline void yuvPixel(int luma, int red, int green, int blue, std::uint8_t* out) {
    out[0] = kYuy2.clamp[((luma + red) >> 8) + kClampOffset];
    out[1] = kYuy2.clamp[((luma + green) >> 8) + kClampOffset];
    out[2] = kYuy2.clamp[((luma + blue) >> 8) + kClampOffset];
}

// Pixels [first, first + count) with `first` even.
void yuy2Span(const std::uint8_t* yuy2, std::size_t first, std::size_t count, std::uint8_t* out) {
    const std::uint8_t* group = yuy2 + first * 2;
    for (; count >= 2; count -= 2, group += 4, out += 6) {
        const int red = kYuy2.redV[group[3]];
        const int green = kYuy2.greenU[group[1]] + kYuy2.greenV[group[3]];
        const int blue = kYuy2.blueU[group[1]];
        yuvPixel(kYuy2.luma[group[0]], red, green, blue, out);
        yuvPixel(kYuy2.luma[group[2]], red, green, blue, out + 3);
    }
    if (count) {
        yuvPixel(kYuy2.luma[group[0]], kYuy2.redV[group[3]], kYuy2.greenU[group[1]] + kYuy2.greenV[group[3]],
                 kYuy2.blueU[group[1]], out);
    }
}

std::int32_t readInt32(const std::uint8_t* bytes) {
    std::uint32_t value = 0;
    for (int i = 3; i >= 0; --i) value = value << 8 | bytes[i];
    return std::int32_t(value);
}

std::uint16_t readUint16(const std::uint8_t* bytes) { return std::uint16_t(bytes[0] | bytes[1] << 8); }

}  // namespace

std::optional<std::size_t> frameBufferBytes(int width, int height) {
    if (width <= 0 || height <= 0) return std::nullopt;
    const std::uint64_t bytes = std::uint64_t(width) * std::uint64_t(height) * 3;
    // Java arrays are indexed by a signed 32-bit count.
    if (bytes > std::uint64_t(std::numeric_limits<std::int32_t>::max())) return std::nullopt;
    return std::size_t(bytes);
}

BgrRows bottomUpRows(const std::uint8_t* pixels, std::size_t rowBytes, int width, int height) {
    const std::ptrdiff_t stride = std::ptrdiff_t(rowBytes);
    return {pixels + (height > 0 ? std::ptrdiff_t(height - 1) * stride : 0), -stride, width, height};
}

void copyBgrRows(const BgrRows& source, std::uint8_t* frame, int width, int height) {
    if (source.width <= 0 || source.height <= 0 || width <= 0 || height <= 0) return;
    const std::size_t columns = std::size_t(std::min(source.width, width));
    const int rows = std::min(source.height, height);
    for (int row = 0; row < rows; ++row) {
        bgrToRgb(source.top + std::ptrdiff_t(row) * source.stride, frame + std::size_t(row) * std::size_t(width) * 3,
                 columns);
    }
}

bool copyBgrRowsIfChanged(const BgrRows& source, std::uint8_t* frame) {
    if (source.width <= 0 || source.height <= 0) return false;
    const std::size_t pixels = std::size_t(source.width) * std::size_t(source.height);
    return convertIfChanged(pixels, frame, [&source](std::size_t first, std::size_t count, std::uint8_t* out) {
        bgrSpan(source, first, count, out);
    });
}

void convertYuy2(const std::uint8_t* yuy2, std::uint8_t* frame, std::size_t pixels) {
    yuy2Span(yuy2, 0, pixels, frame);
}

bool convertYuy2IfChanged(const std::uint8_t* yuy2, std::uint8_t* frame, std::size_t pixels) {
    return convertIfChanged(pixels, frame, [yuy2](std::size_t first, std::size_t count, std::uint8_t* out) {
        yuy2Span(yuy2, first, count, out);
    });
}

void swapRedAndBlue(std::uint8_t* pixels, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i, pixels += 3) std::swap(pixels[0], pixels[2]);
}

const std::uint8_t* packedBitmapPixels(const std::uint8_t* packed, std::size_t size, int width, int height) {
    constexpr std::size_t kHeaderBytes = 40;
    if (!packed || size < kHeaderBytes || width <= 0 || height <= 0) return nullptr;
    const bool described = readInt32(packed) == std::int32_t(kHeaderBytes) && readInt32(packed + 4) == width &&
                           readInt32(packed + 8) == height && readUint16(packed + 14) == 24 &&
                           readInt32(packed + 16) == 0;
    if (!described) return nullptr;
    const std::uint64_t pixelBytes = std::uint64_t(bitmapRowBytes24(std::size_t(width))) * std::uint64_t(height);
    if (pixelBytes > size - kHeaderBytes) return nullptr;
    return packed + kHeaderBytes;
}

}  // namespace korvix

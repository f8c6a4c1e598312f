#include "webcam_pixels.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <limits>

#if defined(__i386__) || defined(__x86_64__)
#include <immintrin.h>
#define KORVIX_VECTOR_KERNELS 1
// SSSE3 and AVX2 only where the processor has them; the 32-bit product's callers (a capture
// driver's callback among them) may give a stack aligned to 4 bytes only, so the kernels
// realign it.
#define KORVIX_SSSE3 __attribute__((target("ssse3"), force_align_arg_pointer))
#define KORVIX_AVX2 __attribute__((target("avx2"), force_align_arg_pointer))
#endif

namespace korvix {

namespace {

// Every kernel runs in one of two passes over the same arithmetic: writing its pixels, or
// comparing them with what the frame holds (writing nothing, and answering whether all were
// equal). A still scene is found by the comparing pass, span by span; at the first span that
// differs the writing pass converts from there to the end (the equal spans before it already
// hold the result).
enum class Pass { write, compare };

// Three converted bytes against the frame's, or into it.
template <Pass P>
inline bool put(std::uint8_t* out, std::uint8_t red, std::uint8_t green, std::uint8_t blue) {
    if constexpr (P == Pass::compare) {
        return out[0] == red && out[1] == green && out[2] == blue;
    } else {
        out[0] = red;
        out[1] = green;
        out[2] = blue;
        return true;
    }
}

constexpr std::size_t kSpanPixels = 2048;  // even, so YUY2 spans start on a group

template <typename Span>  // span(pass, first, count, out) for pixels [first, first + count)
bool convertIfChanged(std::size_t pixels, std::uint8_t* frame, Span span) {
    for (std::size_t first = 0; first < pixels; first += kSpanPixels) {
        const std::size_t count = std::min(kSpanPixels, pixels - first);
        if (!span(Pass::compare, first, count, frame + first * 3)) {
            span(Pass::write, first, pixels - first, frame + first * 3);
            return true;
        }
    }
    return false;
}

// --- plain kernels -------------------------------------------------------------------------
template <Pass P>
bool bgrPlain(const std::uint8_t* in, std::uint8_t* out, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i, in += 3, out += 3) {
        if (!put<P>(out, in[2], in[1], in[0])) return false;
    }
    return true;
}

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

template <Pass P>
inline bool yuvPixel(int luma, int red, int green, int blue, std::uint8_t* out) {
    return put<P>(out, kYuy2.clamp[((luma + red) >> 8) + kClampOffset],
                  kYuy2.clamp[((luma + green) >> 8) + kClampOffset], kYuy2.clamp[((luma + blue) >> 8) + kClampOffset]);
}

// From the start of a group; an odd count uses half of the last one. The writing pass also
// copies the groups it reads to `keep` when given.
template <Pass P>
bool yuy2Plain(const std::uint8_t* group, std::uint8_t* out, std::size_t count, std::uint8_t* keep = nullptr) {
    if (keep) std::memcpy(keep, group, yuy2BytesFor(count));
    for (; count >= 2; count -= 2, group += 4, out += 6) {
        const int red = kYuy2.redV[group[3]];
        const int green = kYuy2.greenU[group[1]] + kYuy2.greenV[group[3]];
        const int blue = kYuy2.blueU[group[1]];
        if (!yuvPixel<P>(kYuy2.luma[group[0]], red, green, blue, out) ||
            !yuvPixel<P>(kYuy2.luma[group[2]], red, green, blue, out + 3)) {
            return false;
        }
    }
    if (count) {
        return yuvPixel<P>(kYuy2.luma[group[0]], kYuy2.redV[group[3]], kYuy2.greenU[group[1]] + kYuy2.greenV[group[3]],
                           kYuy2.blueU[group[1]], out);
    }
    return true;
}

// --- vector kernels ----------------------------------------------------------------------
#ifdef KORVIX_VECTOR_KERNELS
// AVX2 counts only where the system saves the wide registers too (libgcc checks both).
enum class VectorLevel { unknown, none, ssse3, avx2 };
// Asked of the processor on first use; threads that ask at once all find the same answer, so
// a plain atomic holds it (no guarded local static: its guard may allocate).
std::atomic<VectorLevel> knownVectorLevel{VectorLevel::unknown};
VectorLevel vectorLevel() {
    VectorLevel level = knownVectorLevel.load(std::memory_order_relaxed);
    if (level != VectorLevel::unknown) return level;
    __builtin_cpu_init();
    level = __builtin_cpu_supports("avx2")    ? VectorLevel::avx2
            : __builtin_cpu_supports("ssse3") ? VectorLevel::ssse3
                                              : VectorLevel::none;
    knownVectorLevel.store(level, std::memory_order_relaxed);
    return level;
}

// The first 12 bytes of `pixels` into `out`, or their differences from it gathered into
// `differences` (tested once per call: a still frame is compared whole, and a changed one at
// most one span too far). Bytes 12 to 15 of `out` are written too (the next pixels' place,
// rewritten by the next step) or read, so they must lie inside the frame.
template <Pass P>
KORVIX_SSSE3 inline void put12(std::uint8_t* out, __m128i pixels, __m128i& differences) {
    if constexpr (P == Pass::compare) {
        const __m128i held = _mm_loadu_si128(reinterpret_cast<const __m128i*>(out));
        const __m128i first12 = _mm_setr_epi32(-1, -1, -1, 0);
        differences = _mm_or_si128(differences, _mm_and_si128(_mm_xor_si128(pixels, held), first12));
    } else {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out), pixels);
    }
}

KORVIX_SSSE3 inline bool noDifferences(__m128i differences) {
    return _mm_movemask_epi8(_mm_cmpeq_epi8(differences, _mm_setzero_si128())) == 0xFFFF;
}

// Four pixels per 16-byte step; a step reads and writes 16 bytes, so 6 pixels must be left.
template <Pass P>
KORVIX_SSSE3 bool bgrSsse3(const std::uint8_t* in, std::uint8_t* out, std::size_t count) {
    const __m128i swap = _mm_setr_epi8(2, 1, 0, 5, 4, 3, 8, 7, 6, 11, 10, 9, 12, 13, 14, 15);
    __m128i differences = _mm_setzero_si128();
    std::size_t i = 0;
#pragma GCC unroll 4
    for (; i + 6 <= count; i += 4) {
        const __m128i pixels = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i * 3));
        put12<P>(out + i * 3, _mm_shuffle_epi8(pixels, swap), differences);
    }
    return noDifferences(differences) && bgrPlain<P>(in + i * 3, out + i * 3, count - i);
}

// YUY2 groups to RGB, exactly the plain kernel's arithmetic in 16-bit lanes. With
// C = Y - 16, D = U - 128, E = V - 128, splitting each factor above 256 into 256 and the rest
// keeps every sum inside 16 bits, and the shifts stay exact (floor((256k + x) / 256) is
// k + floor(x / 256)):
//   red   = C + E      + ((42 C + 153 E + 128) >> 8)          (298 = 256 + 42, 409 = 256 + 153)
//   green = C - E      + ((42 C - 100 D + 48 E + 128) >> 8)   (-208 = -256 + 48)
//   blue  = C + 2 D    + ((42 C + 4 D + 128) >> 8)            (516 = 512 + 4)
// and the saturating pack to bytes is the clamp. Written once for both register widths (P is
// _mm or _mm256, SI si128 or si256; every step stays inside its 128-bit lane): each lane turns
// 16 bytes of `groups` (8 pixels) into two registers of 4 pixels in their first 12 bytes.
#define KORVIX_YUY2_TO_RGB_LANES(P, SI, V, groups, first, second)                                        \
    do {                                                                                                     \
        const V c = P##_sub_epi16(P##_shuffle_epi8(groups, lumaOfPixel), P##_set1_epi16(16));          \
        const V d = P##_sub_epi16(P##_shuffle_epi8(groups, uOfPixel), P##_set1_epi16(128));        \
        const V e = P##_sub_epi16(P##_shuffle_epi8(groups, vOfPixel), P##_set1_epi16(128));        \
        const V base = P##_add_epi16(P##_mullo_epi16(c, times42), P##_set1_epi16(128));                      \
        const V red =                                                                                        \
            P##_add_epi16(P##_add_epi16(c, e), P##_srai_epi16(P##_add_epi16(base, P##_mullo_epi16(e, times153)), 8)); \
        const V green = P##_add_epi16(                                                                       \
            P##_sub_epi16(c, e),                                                                             \
            P##_srai_epi16(                                                                                  \
                P##_add_epi16(base, P##_add_epi16(P##_mullo_epi16(d, timesMinus100), P##_mullo_epi16(e, times48))), \
                8));                                                                                         \
        const V blue = P##_add_epi16(P##_add_epi16(c, P##_add_epi16(d, d)),                                  \
                                     P##_srai_epi16(P##_add_epi16(base, P##_slli_epi16(d, 2)), 8));          \
        const V zeroBytes = P##_setzero_##SI();                                                                   \
        const V redGreen = P##_unpacklo_epi8(P##_packus_epi16(red, red), P##_packus_epi16(green, green));    \
        const V blueZero = P##_unpacklo_epi8(P##_packus_epi16(blue, blue), zeroBytes);                            \
        first = P##_shuffle_epi8(P##_unpacklo_epi16(redGreen, blueZero), packPixels);             \
        second = P##_shuffle_epi8(P##_unpackhi_epi16(redGreen, blueZero), packPixels);            \
    } while (false)

// Per lane: each pixel's Y, U and V as 16-bit words, RGBx pixels packed to RGB, and the
// factors, hidden from the compiler: it would otherwise trade each multiplication for a longer
// run of shifts and additions.
#define KORVIX_YUY2_LANE_CONSTANTS(V, set, set16)                                                            \
    const V lumaOfPixel = set(0, -1, 2, -1, 4, -1, 6, -1, 8, -1, 10, -1, 12, -1, 14, -1);                    \
    const V uOfPixel = set(1, -1, 1, -1, 5, -1, 5, -1, 9, -1, 9, -1, 13, -1, 13, -1);                        \
    const V vOfPixel = set(3, -1, 3, -1, 7, -1, 7, -1, 11, -1, 11, -1, 15, -1, 15, -1);                      \
    const V packPixels = set(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1);                        \
    V times42 = set16(42), times153 = set16(153), times48 = set16(48), timesMinus100 = set16(-100);          \
    __asm__("" : "+x"(times42), "+x"(times153), "+x"(times48), "+x"(timesMinus100))

// Eight pixels per step; the second 12 bytes go out as 16, so 10 pixels must be left.
template <Pass P>
KORVIX_SSSE3 bool yuy2Ssse3(const std::uint8_t* yuy2, std::uint8_t* out, std::size_t pixels,
                            std::uint8_t* keep = nullptr) {
#define KORVIX_SET128(...) _mm_setr_epi8(__VA_ARGS__)
    KORVIX_YUY2_LANE_CONSTANTS(__m128i, KORVIX_SET128, _mm_set1_epi16);
#undef KORVIX_SET128
    __m128i differences = _mm_setzero_si128();
    std::size_t i = 0;
    for (; i + 10 <= pixels; i += 8) {
        const __m128i groups = _mm_loadu_si128(reinterpret_cast<const __m128i*>(yuy2 + i * 2));
        if (keep) _mm_storeu_si128(reinterpret_cast<__m128i*>(keep + i * 2), groups);
        __m128i first, second;
        KORVIX_YUY2_TO_RGB_LANES(_mm, si128, __m128i, groups, first, second);
        put12<P>(out + i * 3, first, differences);
        put12<P>(out + i * 3 + 12, second, differences);
    }
    return noDifferences(differences) &&
           yuy2Plain<P>(yuy2 + i * 2, out + i * 3, pixels - i, keep ? keep + i * 2 : nullptr);
}

// Sixteen pixels per step (lane 0 pixels 0-7, lane 1 pixels 8-15), so 18 must be left.
template <Pass P>
KORVIX_AVX2 bool yuy2Avx2(const std::uint8_t* yuy2, std::uint8_t* out, std::size_t pixels, std::uint8_t* keep) {
#define KORVIX_SET256(...) _mm256_setr_epi8(__VA_ARGS__, __VA_ARGS__)
    KORVIX_YUY2_LANE_CONSTANTS(__m256i, KORVIX_SET256, _mm256_set1_epi16);
#undef KORVIX_SET256
    __m128i differences = _mm_setzero_si128();
    std::size_t i = 0;
    for (; i + 18 <= pixels; i += 16) {
        const __m256i groups = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(yuy2 + i * 2));
        if (keep) _mm256_storeu_si256(reinterpret_cast<__m256i*>(keep + i * 2), groups);
        __m256i first, second;
        KORVIX_YUY2_TO_RGB_LANES(_mm256, si256, __m256i, groups, first, second);
        std::uint8_t* target = out + i * 3;
        put12<P>(target, _mm256_castsi256_si128(first), differences);
        put12<P>(target + 12, _mm256_castsi256_si128(second), differences);
        put12<P>(target + 24, _mm256_extracti128_si256(first, 1), differences);
        put12<P>(target + 36, _mm256_extracti128_si256(second, 1), differences);
    }
    return noDifferences(differences) &&
           yuy2Ssse3<P>(yuy2 + i * 2, out + i * 3, pixels - i, keep ? keep + i * 2 : nullptr);
}
#endif

// --- the kernel the processor can run ------------------------------------------------------
template <Pass P>
bool bgrRun(const std::uint8_t* in, std::uint8_t* out, std::size_t count) {
#ifdef KORVIX_VECTOR_KERNELS
    if (vectorLevel() != VectorLevel::none) return bgrSsse3<P>(in, out, count);
#endif
    return bgrPlain<P>(in, out, count);
}

// `keep`: where the writing pass also copies the groups it reads (or null).
template <Pass P>
bool yuy2Run(const std::uint8_t* yuy2, std::uint8_t* out, std::size_t pixels, std::uint8_t* keep = nullptr) {
#ifdef KORVIX_VECTOR_KERNELS
    if (vectorLevel() == VectorLevel::avx2) return yuy2Avx2<P>(yuy2, out, pixels, keep);
    if (vectorLevel() == VectorLevel::ssse3) return yuy2Ssse3<P>(yuy2, out, pixels, keep);
#endif
    return yuy2Plain<P>(yuy2, out, pixels, keep);
}

// Pixels [first, first + count) of the image, counted row by row from the top left. `kept`,
// when given, is the top row of a copy of the source's rows at the same stride, where the
// writing pass copies what it reads.
bool bgrSpan(Pass pass, const BgrRows& source, std::uint8_t* kept, std::size_t first, std::size_t count,
             std::uint8_t* out) {
    const std::size_t width = std::size_t(source.width);
    std::size_t row = first / width;
    std::size_t column = first % width;
    while (count) {
        const std::size_t n = std::min(count, width - column);
        const std::ptrdiff_t at = std::ptrdiff_t(row) * source.stride + std::ptrdiff_t(column * 3);
        const std::uint8_t* in = source.top + at;
        if (pass == Pass::compare) {
            if (!bgrRun<Pass::compare>(in, out, n)) return false;
        } else {
            if (kept) std::memcpy(kept + at, in, n * 3);  // while the row is at hand
            bgrRun<Pass::write>(in, out, n);
        }
        out += n * 3;
        count -= n;
        ++row;
        column = 0;
    }
    return true;
}

// `kept` as for bgrSpan.
bool copyBgrRowsIfChangedKeeping(const BgrRows& source, std::uint8_t* frame, std::uint8_t* kept) {
    if (source.width <= 0 || source.height <= 0) return false;
    const std::size_t pixels = std::size_t(source.width) * std::size_t(source.height);
    return convertIfChanged(pixels, frame, [&source, kept](Pass pass, std::size_t first, std::size_t count,
                                                           std::uint8_t* out) {
        return bgrSpan(pass, source, kept, first, count, out);
    });
}

std::int32_t readInt32(const std::uint8_t* bytes) {
    std::uint32_t value = 0;
    for (int i = 3; i >= 0; --i) value = value << 8 | bytes[i];
    return std::int32_t(value);
}

std::uint16_t readUint16(const std::uint8_t* bytes) { return std::uint16_t(bytes[0] | bytes[1] << 8); }

}  // namespace

namespace scalar {

void bgrToRgb(const std::uint8_t* bgr, std::uint8_t* rgb, std::size_t pixels) {
    bgrPlain<Pass::write>(bgr, rgb, pixels);
}

void yuy2ToRgb(const std::uint8_t* yuy2, std::uint8_t* rgb, std::size_t pixels) {
    yuy2Plain<Pass::write>(yuy2, rgb, pixels);
}

}  // namespace scalar

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
        bgrRun<Pass::write>(source.top + std::ptrdiff_t(row) * source.stride,
                            frame + std::size_t(row) * std::size_t(width) * 3, columns);
    }
}

bool copyBgrRowsIfChanged(const BgrRows& source, std::uint8_t* frame) {
    return copyBgrRowsIfChangedKeeping(source, frame, nullptr);
}

void convertYuy2(const std::uint8_t* yuy2, std::uint8_t* frame, std::size_t pixels) {
    yuy2Run<Pass::write>(yuy2, frame, pixels);
}

// `keep`: where the groups of the pixels written are copied too (or null).
static bool convertYuy2IfChangedKeeping(const std::uint8_t* yuy2, std::uint8_t* frame, std::size_t pixels,
                                 std::uint8_t* keep) {
    // Spans start on even pixels, so on whole groups.
    return convertIfChanged(pixels, frame, [yuy2, keep](Pass pass, std::size_t first, std::size_t count,
                                                        std::uint8_t* out) {
        const std::uint8_t* groups = yuy2 + first * 2;
        return pass == Pass::compare ? yuy2Run<Pass::compare>(groups, out, count)
                                     : yuy2Run<Pass::write>(groups, out, count, keep ? keep + first * 2 : nullptr);
    });
}

bool convertYuy2IfChanged(const std::uint8_t* yuy2, std::uint8_t* frame, std::size_t pixels) {
    return convertYuy2IfChangedKeeping(yuy2, frame, pixels, nullptr);
}

bool StillFrameFilter::repeated(const std::uint8_t* source, std::size_t bytes, bool first) const {
    return !first && lastSource_.size() == bytes && std::memcmp(lastSource_.data(), source, bytes) == 0;
}

void StillFrameFilter::keep(const std::uint8_t* source, std::size_t bytes) {
    lastSource_.assign(source, source + bytes);
}

bool StillFrameFilter::deliverRgb24(const std::uint8_t* bottomUpBgr, std::uint8_t* frame, int width, int height,
                                    bool first) {
    const std::size_t bytes = std::size_t(width) * std::size_t(height) * 3;
    if (repeated(bottomUpBgr, bytes, first)) return false;
    const BgrRows rows = bottomUpRows(bottomUpBgr, std::size_t(width) * 3, width, height);
    if (first || lastSource_.size() != bytes) {
        copyBgrRows(rows, frame, width, height);
        keep(bottomUpBgr, bytes);
        return true;
    }
    // Kept as converted, as for YUY2 (a change of these bytes always changes the image).
    std::uint8_t* keptTop = lastSource_.data() + (rows.top - bottomUpBgr);
    return copyBgrRowsIfChangedKeeping(rows, frame, keptTop);
}

bool StillFrameFilter::deliverYuy2(const std::uint8_t* yuy2, std::uint8_t* frame, std::size_t pixels, bool first) {
    const std::size_t bytes = yuy2BytesFor(pixels);
    if (repeated(yuy2, bytes, first)) return false;
    if (first || lastSource_.size() != bytes) {
        yuy2Run<Pass::write>(yuy2, frame, pixels);
        keep(yuy2, bytes);
        return true;
    }
    // The groups are kept as they are converted. Spans found equal keep their old groups,
    // which give the same pixels; other bytes giving the same image keep all of them.
    return convertYuy2IfChangedKeeping(yuy2, frame, pixels, lastSource_.data());
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

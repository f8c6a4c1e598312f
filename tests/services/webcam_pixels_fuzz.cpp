// Random images of odd sizes and strides through the webcam conversions, each in buffers of
// exactly the size the conversion may touch (the sanitizers catch any byte beyond): the fast
// kernels must give the plain kernels' bytes (every pixel's definition for RGB rows), the
// compare-while-converting forms must answer "changed" exactly when the plain conversion
// would change the frame, and leave the same bytes; a packed bitmap of any header and length
// either gives pixels whose every row lies inside it or none.
//
// With clang, -fsanitize=fuzzer,address -DKORVIX_LIBFUZZER makes LLVMFuzzerTestOneInput the
// entry of a libFuzzer program; otherwise the program is its own driver:
// `webcam_pixels_fuzz <cases> <seed>`.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

#include "webcam_pixels.h"

using namespace korvix;

namespace {

class Input {
public:
    Input(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    std::uint32_t take(std::uint32_t below) {
        std::uint32_t value = 0;
        for (int i = 0; i < 4; ++i) value = (value << 8) | (at_ < size_ ? data_[at_++] : 0);
        return below ? value % below : value;
    }
    std::uint8_t byte() { return at_ < size_ ? data_[at_++] : 0; }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t at_ = 0;
};

void fail(const char* what, long long a, long long b) {
    std::fprintf(stderr, "webcam pixels fuzz: %s (%lld, %lld)\n", what, a, b);
    std::abort();
}

std::vector<std::uint8_t> randomBytes(Input& in, std::size_t count, bool sparse) {
    std::vector<std::uint8_t> bytes(count);
    for (auto& b : bytes) b = sparse ? std::uint8_t(in.take(3) == 0) : in.byte();
    return bytes;
}

// A frame that equals `converted` or differs from it in a few random places.
std::vector<std::uint8_t> staleFrame(Input& in, const std::vector<std::uint8_t>& converted) {
    std::vector<std::uint8_t> frame = converted;
    const std::uint32_t edits = in.take(3);
    for (std::uint32_t i = 0; i < edits && !frame.empty(); ++i) frame[in.take(std::uint32_t(frame.size()))] ^= 1;
    return frame;
}

void checkRgbRows(Input& in) {
    const int width = 1 + int(in.take(40));
    const int height = 1 + int(in.take(120));  // past one comparison span
    const std::size_t stride = std::size_t(width) * 3 + in.take(5);
    const bool bottomUp = in.take(2);
    const std::vector<std::uint8_t> image = randomBytes(in, stride * std::size_t(height - 1) + std::size_t(width) * 3,
                                                        in.take(2));
    const BgrRows rows = bottomUp ? bottomUpRows(image.data(), stride, width, height)
                                  : BgrRows{image.data(), std::ptrdiff_t(stride), width, height};
    std::vector<std::uint8_t> converted(std::size_t(width) * std::size_t(height) * 3);
    copyBgrRows(rows, converted.data(), width, height);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const std::uint8_t* in3 = rows.top + std::ptrdiff_t(y) * rows.stride + x * 3;
            const std::uint8_t* out3 = &converted[(std::size_t(y) * std::size_t(width) + std::size_t(x)) * 3];
            if (out3[0] != in3[2] || out3[1] != in3[1] || out3[2] != in3[0]) fail("rgb pixel", x, y);
        }
    }
    std::vector<std::uint8_t> frame = staleFrame(in, converted);
    const bool differed = frame != converted;
    if (copyBgrRowsIfChanged(rows, frame.data()) != differed) fail("rgb change answer", differed, width);
    if (frame != converted) fail("rgb frame after compare", width, height);

    // Another frame size: only the overlap is written, nothing beyond the frame.
    const int frameWidth = 1 + int(in.take(50));
    const int frameHeight = 1 + int(in.take(15));
    std::vector<std::uint8_t> other(std::size_t(frameWidth) * std::size_t(frameHeight) * 3, 0xA5);
    copyBgrRows(rows, other.data(), frameWidth, frameHeight);
    for (int y = 0; y < frameHeight; ++y) {
        for (int x = 0; x < frameWidth; ++x) {
            const std::uint8_t* out3 = &other[(std::size_t(y) * std::size_t(frameWidth) + std::size_t(x)) * 3];
            const bool inside = x < width && y < height;
            const std::uint8_t want =
                inside ? converted[(std::size_t(y) * std::size_t(width) + std::size_t(x)) * 3] : std::uint8_t(0xA5);
            if (out3[0] != want) fail("overlap pixel", x, y);
        }
    }
}

void checkYuy2(Input& in) {
    const std::size_t pixels = 1 + in.take(5000);  // odd counts, several comparison spans
    const std::vector<std::uint8_t> yuy2 = randomBytes(in, yuy2BytesFor(pixels), in.take(2));
    std::vector<std::uint8_t> converted(pixels * 3);
    convertYuy2(yuy2.data(), converted.data(), pixels);
    // The kernel the processor's features chose gives the plain kernel's bytes.
    std::vector<std::uint8_t> plain(pixels * 3);
    scalar::yuy2ToRgb(yuy2.data(), plain.data(), pixels);
    if (converted != plain) fail("yuy2 kernels differ", long(pixels), 0);
    std::vector<std::uint8_t> frame = staleFrame(in, converted);
    const bool differed = frame != converted;
    if (convertYuy2IfChanged(yuy2.data(), frame.data(), pixels) != differed) fail("yuy2 change answer", differed, 0);
    if (frame != converted) fail("yuy2 frame after compare", long(pixels), 0);
}

// A run of frames through the callback's filter, each a variant of a few earlier ones: its
// answer and the frame must be what converting every frame and comparing the images give.
void checkStillFrames(Input& in) {
    const bool rgb = in.take(2);
    const int width = 1 + int(in.take(50));
    const int height = 1 + int(in.take(60));
    const std::size_t pixels = std::size_t(width) * std::size_t(height);
    const std::size_t bytes = rgb ? pixels * 3 : yuy2BytesFor(pixels);
    std::vector<std::vector<std::uint8_t>> seen{randomBytes(in, bytes, in.take(2))};
    StillFrameFilter filter;
    std::vector<std::uint8_t> frame(pixels * 3), expected(pixels * 3);
    for (int step = 0; step < 8; ++step) {
        std::vector<std::uint8_t> source = seen[in.take(std::uint32_t(seen.size()))];
        const std::uint32_t edits = in.take(3);
        for (std::uint32_t i = 0; i < edits; ++i) source[in.take(std::uint32_t(bytes))] = in.byte();
        seen.push_back(source);
        std::vector<std::uint8_t> before = expected;
        if (rgb) {
            copyBgrRows(bottomUpRows(source.data(), std::size_t(width) * 3, width, height), expected.data(), width,
                        height);
        } else {
            convertYuy2(source.data(), expected.data(), pixels);
        }
        const bool first = step == 0;
        const bool changed = rgb ? filter.deliverRgb24(source.data(), frame.data(), width, height, first)
                                 : filter.deliverYuy2(source.data(), frame.data(), pixels, first);
        if (changed != (first || before != expected)) fail("still frame answer", step, rgb);
        if (frame != expected) fail("still frame image", step, rgb);
    }
}

void checkPackedBitmap(Input& in) {
    const int width = 1 + int(in.take(20));
    const int height = 1 + int(in.take(20));
    std::vector<std::uint8_t> packed = randomBytes(in, in.take(40 + 64 * 21 * 3), false);
    if (packed.size() >= 40 && in.take(2)) {  // often a plausible header, to reach the size check
        const std::int32_t fields[] = {40, width, height};
        std::memcpy(packed.data(), fields, sizeof(fields));
        packed[14] = 24;
        packed[15] = 0;
        std::memset(&packed[16], 0, 4);
    }
    const std::uint8_t* pixels = packedBitmapPixels(packed.data(), packed.size(), width, height);
    if (!pixels) return;
    std::vector<std::uint8_t> frame(std::size_t(width) * std::size_t(height) * 3);
    copyBgrRows(bottomUpRows(pixels, bitmapRowBytes24(std::size_t(width)), width, height), frame.data(), width,
                height);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Input in(data, size);
    checkRgbRows(in);
    checkYuy2(in);
    checkStillFrames(in);
    checkPackedBitmap(in);
    return 0;
}

#ifndef KORVIX_LIBFUZZER
int main(int argc, char** argv) {
    const long cases = argc > 1 ? std::atol(argv[1]) : 200;
    const unsigned long seed = argc > 2 ? std::strtoul(argv[2], nullptr, 10) : 1;
    std::mt19937 random(seed);
    for (long c = 0; c < cases; ++c) {
        std::vector<std::uint8_t> input(std::uniform_int_distribution<std::size_t>(0, 8192)(random));
        for (auto& b : input) b = std::uint8_t(random());
        LLVMFuzzerTestOneInput(input.data(), input.size());
    }
    std::printf("%ld random cases from seed %lu passed\n", cases, seed);
    return 0;
}
#endif

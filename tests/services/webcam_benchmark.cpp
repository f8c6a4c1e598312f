// Not a test: microseconds per 640 x 480 frame through the webcam's callback conversions
// (modes 1 and 2, with a changed and with an unchanged image), side by side with one memcpy of
// the frame and with libyuv's nearest conversions on the same frame. Built optimised, without
// the sanitizers. `webcam_benchmark [repeats]`.
#include "webcam_pixels.h"

#include <libyuv.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <functional>
#include <random>
#include <vector>

using namespace korvix;

namespace {

constexpr int kWidth = 640;
constexpr int kHeight = 480;
constexpr std::size_t kPixels = std::size_t(kWidth) * kHeight;

using Bytes = std::vector<std::uint8_t>;

Bytes noise(std::size_t size, unsigned seed) {
    std::mt19937 random(seed);
    Bytes bytes(size);
    for (auto& b : bytes) b = std::uint8_t(random());
    return bytes;
}

volatile std::uint8_t sink;

// The calling thread's processor time: the machine is shared, and waiting for a processor is
// not the conversion's cost.
double threadMicroseconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) * 1e6 + double(now.tv_nsec) / 1e3;
}

struct Case {
    const char* name;
    std::function<void(int)> body;
    double best = 1e300;
};

// Microseconds per call for every case: rounds of `repeats` calls, the cases taking turns so
// that a slow spell of the machine hits them alike; the best round counts.
void measure(std::vector<Case>& cases, int repeats, int rounds) {
    for (int round = 0; round < rounds; ++round) {
        for (Case& c : cases) {
            const double start = threadMicroseconds();
            for (int i = 0; i < repeats; ++i) c.body(i);
            c.best = std::min(c.best, (threadMicroseconds() - start) / repeats);
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    const int repeats = argc > 1 ? std::atoi(argv[1]) : 100;
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 9;
    const Bytes rgbA = noise(kPixels * 3, 1), rgbB = noise(kPixels * 3, 2);
    const Bytes yuy2A = noise(kPixels * 2, 3), yuy2B = noise(kPixels * 2, 4);
    const Bytes* rgb[2] = {&rgbA, &rgbB};
    const Bytes* yuy2[2] = {&yuy2A, &yuy2B};
    // The frame each case starts from: the other image for a changed frame, the same for a
    // still one (the unchanged cases leave it as it is).
    Bytes rgbFrame(kPixels * 3), rgbStill(kPixels * 3), yuy2Frame(kPixels * 3), yuy2Still(kPixels * 3);
    Bytes argb(kPixels * 4);
    // The callback path as the frame callback takes it: each filter after its first frame.
    StillFrameFilter rgbChanging, rgbStilled, yuy2Changing, yuy2Stilled;
    rgbChanging.deliverRgb24(rgbB.data(), rgbFrame.data(), kWidth, kHeight, true);
    rgbStilled.deliverRgb24(rgbA.data(), rgbStill.data(), kWidth, kHeight, true);
    yuy2Changing.deliverYuy2(yuy2B.data(), yuy2Frame.data(), kPixels, true);
    yuy2Stilled.deliverYuy2(yuy2A.data(), yuy2Still.data(), kPixels, true);
    // Two YUY2 frames of other bytes that decode to one image (Y 250 and 255 both clamp to
    // white): only comparing the converted pixels finds the second unchanged.
    Bytes whiteA(kPixels * 2, 128), whiteB(kPixels * 2, 128), white(kPixels * 3);
    for (std::size_t i = 0; i < whiteA.size(); i += 2) {
        whiteA[i] = 250;
        whiteB[i] = 255;
    }
    StillFrameFilter yuy2Clamped;
    yuy2Clamped.deliverYuy2(whiteA.data(), white.data(), kPixels, true);
    const auto rows = [](const Bytes& image) { return bottomUpRows(image.data(), kWidth * 3, kWidth, kHeight); };

    std::vector<Case> cases = {
        {"memcpy of the RGB frame",
         [&](int i) {
             std::memcpy(rgbFrame.data(), rgb[i & 1]->data(), rgbFrame.size());
             sink = rgbFrame[0];
         }},
        {"mode 1, changed: compare and convert",
         [&](int i) {
             if (!rgbChanging.deliverRgb24(rgb[i & 1]->data(), rgbFrame.data(), kWidth, kHeight, false)) std::abort();
         }},
        {"mode 1, unchanged: detected",
         [&](int) {
             if (rgbStilled.deliverRgb24(rgbA.data(), rgbStill.data(), kWidth, kHeight, false)) std::abort();
         }},
        {"mode 1, plain conversion",
         [&](int i) {
             copyBgrRows(rows(*rgb[i & 1]), rgbFrame.data(), kWidth, kHeight);
             sink = rgbFrame[0];
         }},
        {"libyuv RGB24ToRAW, negative height",
         [&](int i) {
             libyuv::RGB24ToRAW(rgb[i & 1]->data(), kWidth * 3, rgbFrame.data(), kWidth * 3, kWidth, -kHeight);
             sink = rgbFrame[0];
         }},
        {"mode 2, changed: compare and convert",
         [&](int i) {
             if (!yuy2Changing.deliverYuy2(yuy2[i & 1]->data(), yuy2Frame.data(), kPixels, false)) std::abort();
         }},
        {"mode 2, unchanged: detected",
         [&](int) {
             if (yuy2Stilled.deliverYuy2(yuy2A.data(), yuy2Still.data(), kPixels, false)) std::abort();
         }},
        {"mode 2, unchanged image of other bytes",
         [&](int) {
             if (yuy2Clamped.deliverYuy2(whiteB.data(), white.data(), kPixels, false)) std::abort();
         }},
        {"mode 2, plain conversion",
         [&](int i) {
             convertYuy2(yuy2[i & 1]->data(), yuy2Frame.data(), kPixels);
             sink = yuy2Frame[0];
         }},
        {"libyuv YUY2ToARGB",
         [&](int i) {
             libyuv::YUY2ToARGB(yuy2[i & 1]->data(), kWidth * 2, argb.data(), kWidth * 4, kWidth, kHeight);
             sink = argb[0];
         }},
    };
    measure(cases, repeats, rounds);

    std::printf("one %d x %d frame, microseconds of processor time (best of %d rounds of %d)\n", kWidth, kHeight,
                rounds, repeats);
    for (const Case& c : cases) std::printf("  %-40s %8.1f\n", c.name, c.best);
    std::printf("ratios\n");
    std::printf("  mode 1 changed / libyuv RGB24ToRAW        %8.2f\n", cases[1].best / cases[4].best);
    std::printf("  mode 1 unchanged / mode 1 conversion      %8.2f\n", cases[2].best / cases[3].best);
    std::printf("  mode 2 changed / libyuv YUY2ToARGB        %8.2f\n", cases[5].best / cases[9].best);
    std::printf("  mode 2 unchanged / mode 2 conversion      %8.2f\n", cases[6].best / cases[8].best);
    std::printf("  mode 2 other bytes / mode 2 conversion    %8.2f\n", cases[7].best / cases[8].best);
    return 0;
}

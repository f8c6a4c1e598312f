// What the webcam and video-source dialog suites share: Korvix's seven exports, the scripted
// capture driver of the stand-in avicap32.dll, the stand-in codec registered for dvsd and
// I420, a temporary folder of the case's own, and cameras and pictures to feed them.
#pragma once

#include "avicap32_standin/capture_driver_script.h"
#include "codec_standin/codec_script.h"
#include "korvix_test_support.h"

#include <vfw.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace korvix::test {

using Bytes = std::vector<std::uint8_t>;
using capture_standin::CaptureDriverScript;
using capture_standin::VideoFormat;

constexpr std::uint32_t fourCc(char a, char b, char c, char d) {  // first character lowest
    return std::uint32_t(std::uint8_t(a)) | std::uint32_t(std::uint8_t(b)) << 8 |
           std::uint32_t(std::uint8_t(c)) << 16 | std::uint32_t(std::uint8_t(d)) << 24;
}

// A picture as the Java side receives it: width x height pixels of red, green, blue, top-down.
struct Picture {
    int width = 0;
    int height = 0;
    Bytes rgb;
    const std::uint8_t* at(int x, int y) const { return &rgb[(std::size_t(y) * width + x) * 3]; }
};
// Every pixel a function of its place, so that a flip, shift or swap shows.
Picture patternPicture(int width, int height, int seed = 0);
// The same picture as a driver delivers it: bottom-up rows of blue, green, red, packed.
Bytes bottomUpBgr(const Picture& picture);
// Top-down packed blue, green, red rows: the stand-in codec's "DV" frame.
Bytes topDownBgr(const Picture& picture);
// A JPEG of the picture, made with GDI+.
std::string jpegOf(const Picture& picture);

// A format record with the fields named and every other one zero.
VideoFormat videoFormat(int width, int height, WORD bitCount, DWORD compression, DWORD sizeImage);
// The format record a camera reports: one more field set, which must survive into a decoder's.
VideoFormat cameraFormat(int width, int height, WORD bitCount, DWORD compression, DWORD sizeImage);

// Public helpers: the cases' tables of scripts reach them through the fixture.
class WebcamTest : public KorvixTest {
protected:
    void SetUp() override;
    void TearDown() override;

public:
    int open() { return openExport(env, korvixClass); }
    int read(jbyteArray buffer) { return readExport(env, korvixClass, buffer); }
    int close() { return closeExport(env, korvixClass); }
    int width() { return widthExport(env, korvixClass); }
    int height() { return heightExport(env, korvixClass); }
    bool dialogAvailable() { return availableExport(env, korvixClass) == JNI_TRUE; }
    bool showDialog() { return showExport(env, korvixClass) == JNI_TRUE; }

    // A Java array of `size` bytes, each `fill`.
    jbyteArray javaBytes(std::size_t size, std::uint8_t fill = 0x5A);
    Bytes bytesOf(jbyteArray array) const;
    // Reads one frame into an array of the open size; fails the test when the read fails.
    Bytes readFrame();

    void queueFrame(const Bytes& frame) { queueFrame(frame, frame.size()); }
    void queueFrame(const Bytes& frame, std::size_t bufferLength);

    // Cameras: what the driver reports and which formats it accepts.
    void rgbCamera();                  // native 320 x 240, accepts 24-bit RGB
    void yuy2Camera();                 // accepts only YUY2
    void i420Camera();                 // accepts only I420
    void dvCamera(int width, int height);
    void jpegCamera(int width, int height);

    CaptureDriverScript* driver = nullptr;
    codec_standin::CodecScript* codec = nullptr;
    std::wstring temporary;  // TEMP and TMP of this case

private:
    using Int0 = jint(JNICALL*)(JNIEnv*, jclass);
    using Bool0 = jboolean(JNICALL*)(JNIEnv*, jclass);
    using Read = jint(JNICALL*)(JNIEnv*, jclass, jbyteArray);
    Int0 openExport = korvixExport<Int0>("openWebcam");
    Read readExport = korvixExport<Read>("readWebcamFrame");
    Int0 closeExport = korvixExport<Int0>("closeWebcam");
    Int0 widthExport = korvixExport<Int0>("getImageWidth");
    Int0 heightExport = korvixExport<Int0>("getImageHeight");
    Bool0 availableExport = korvixExport<Bool0>("isVideoSourceDialogAvailable");
    Bool0 showExport = korvixExport<Bool0>("showVideoSourceDialog");
    QueueFrameFunction queue = nullptr;
    std::unique_ptr<ScratchFolder> folder;
};

}  // namespace korvix::test

// Korvix's webcam under Wine: the real library against the scripted capture driver and the
// stand-in codec, with GDI+ decoding the JPEG frames for real. Each case is a process of its
// own, so the module-wide webcam state starts fresh every time.
#include "webcam_test_support.h"

#include <cstdlib>
#include <functional>

namespace korvix::test {
namespace {

constexpr int kWidth = 640;
constexpr int kHeight = 480;
constexpr std::size_t kFrameBytes = std::size_t(kWidth) * kHeight * 3;

static_assert(sizeof(BITMAPINFOHEADER) == 40);
// The headers the library must ask for, in this order: 40-byte header, one plane, bottom-up.
const VideoFormat kRgbRequest = videoFormat(kWidth, kHeight, 24, BI_RGB, 921600);
const VideoFormat kYuy2Request = videoFormat(kWidth, kHeight, 16, fourCc('Y', 'U', 'Y', '2'), 614400);
const VideoFormat kI420Request = videoFormat(kWidth, kHeight, 12, fourCc('I', '4', '2', '0'), 460800);

void expectFormat(const VideoFormat& actual, const VideoFormat& expected, const char* what) {
    EXPECT_EQ(std::memcmp(&actual, &expected, sizeof(VideoFormat)), 0)
        << what << ": " << actual.header.biWidth << " x " << actual.header.biHeight << ", "
        << actual.header.biBitCount << " bits, compression " << std::hex << actual.header.biCompression << ", "
        << std::dec << actual.header.biSizeImage << " bytes";
}

// YUY2 frame: every group mid grey except the first (white, black) and last (black, white).
Bytes yuy2Frame() {
    Bytes frame(std::size_t(kWidth) * kHeight * 2);
    for (std::size_t i = 0; i < frame.size(); i += 4) {
        frame[i] = 128;
        frame[i + 1] = 128;
        frame[i + 2] = 128;
        frame[i + 3] = 128;
    }
    frame[0] = 235;
    frame[2] = 16;
    frame[frame.size() - 4] = 0;    // below black
    frame[frame.size() - 2] = 255;  // above white
    return frame;
}

// I420 planes whose every sample tells its place; the stand-in codec decodes a pixel to
// blue = Y, green = U, red = V.
Bytes i420Frame(int seed) {
    Bytes frame(std::size_t(kWidth) * kHeight * 3 / 2);
    std::uint8_t* luma = frame.data();
    std::uint8_t* u = luma + kWidth * kHeight;
    std::uint8_t* v = u + (kWidth / 2) * (kHeight / 2);
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x) luma[y * kWidth + x] = std::uint8_t(x + 2 * y + seed);
    for (int j = 0; j < kHeight / 2; ++j) {
        for (int i = 0; i < kWidth / 2; ++i) {
            u[j * (kWidth / 2) + i] = std::uint8_t(i + 7 * j);
            v[j * (kWidth / 2) + i] = std::uint8_t(5 * i + j);
        }
    }
    return frame;
}

Picture i420Expected(int seed) {
    Picture picture{kWidth, kHeight, Bytes(kFrameBytes)};
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            std::uint8_t* p = &picture.rgb[(std::size_t(y) * kWidth + x) * 3];
            p[0] = std::uint8_t(5 * (x / 2) + y / 2);
            p[1] = std::uint8_t(x / 2 + 7 * (y / 2));
            p[2] = std::uint8_t(x + 2 * y + seed);
        }
    }
    return picture;
}

// Four flat quadrants, which JPEG keeps to within a few levels away from their edges.
Picture quadrants(int width, int height) {
    Picture picture{width, height, Bytes(std::size_t(width) * height * 3)};
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            static const std::uint8_t colours[4][3] = {{220, 30, 30}, {30, 200, 40}, {40, 40, 210}, {240, 240, 240}};
            const std::uint8_t* c = colours[(y >= height / 2 ? 2 : 0) + (x >= width / 2 ? 1 : 0)];
            std::memcpy(&picture.rgb[(std::size_t(y) * width + x) * 3], c, 3);
        }
    }
    return picture;
}

// The quadrants' pixels within JPEG's tolerance, away from the colour edges that its
// subsampled chroma blurs.
void expectQuadrants(const Bytes& frame, int width, int height, int frameWidth) {
    const Picture expected = quadrants(width, height);
    for (int y = 0; y < height; ++y) {
        if (std::abs(y - height / 2) < 9) continue;
        for (int x = 0; x < width; ++x) {
            if (std::abs(x - width / 2) < 9) continue;
            for (int c = 0; c < 3; ++c) {
                const int got = frame[(std::size_t(y) * frameWidth + x) * 3 + c];
                ASSERT_NEAR(got, expected.at(x, y)[c], 12) << x << "," << y << " channel " << c;
            }
        }
    }
}

class Webcam : public WebcamTest {};

TEST_F(Webcam, OpensAHiddenCaptureWindowOnDriverZeroAndReportsTheSizeOnlyOnceOpened) {
    EXPECT_EQ(width(), -1);
    EXPECT_EQ(height(), -1);
    rgbCamera();  // native 320 x 240
    ASSERT_EQ(open(), 0);
    EXPECT_STREQ(driver->lastTitle, "My Capture Window");
    EXPECT_EQ(driver->lastStyle, 0u);
    EXPECT_EQ(driver->lastX, 0);
    EXPECT_EQ(driver->lastY, 0);
    EXPECT_EQ(driver->lastWidth, kWidth);
    EXPECT_EQ(driver->lastHeight, kHeight);
    EXPECT_EQ(driver->lastParent, nullptr);
    EXPECT_EQ(driver->lastId, 0);
    EXPECT_FALSE(::IsWindowVisible(driver->lastWindow));
    EXPECT_EQ(driver->connects, 1);
    EXPECT_EQ(driver->connectedIndex, 0);
    EXPECT_EQ(width(), kWidth);
    EXPECT_EQ(height(), kHeight);

    EXPECT_EQ(close(), 0);
    EXPECT_EQ(driver->disconnects, 1);
    EXPECT_FALSE(::IsWindow(driver->lastWindow));
    EXPECT_EQ(width(), kWidth);  // kept after close
    EXPECT_EQ(height(), kHeight);
    EXPECT_EQ(read(javaBytes(kFrameBytes)), -1);
    EXPECT_EQ(close(), -1);
}

TEST_F(Webcam, RgbFramesAreFlippedAndSwappedIntoTopDownRgb) {
    rgbCamera();
    const Picture picture = patternPicture(kWidth, kHeight);
    queueFrame(bottomUpBgr(picture));
    ASSERT_EQ(open(), 0);
    ASSERT_EQ(driver->formatsSet, 1);
    expectFormat(driver->setFormats[0], kRgbRequest, "mode 1 header");
    EXPECT_EQ(driver->lastSetSize, sizeof(VideoFormat));
    EXPECT_EQ(readFrame(), picture.rgb);
}

TEST_F(Webcam, YuyvFramesAreConvertedWithoutFlipWhenRgbIsRefused) {
    yuy2Camera();
    queueFrame(yuy2Frame());
    ASSERT_EQ(open(), 0);
    ASSERT_EQ(driver->formatsSet, 2);
    expectFormat(driver->setFormats[0], kRgbRequest, "mode 1 header");
    expectFormat(driver->setFormats[1], kYuy2Request, "mode 2 header");
    EXPECT_EQ(width(), kWidth);  // whatever the camera's own size
    const Bytes frame = readFrame();
    ASSERT_EQ(frame.size(), kFrameBytes);
    EXPECT_EQ(Bytes(frame.begin(), frame.begin() + 9), (Bytes{255, 255, 255, 0, 0, 0, 130, 130, 130}));
    EXPECT_EQ(Bytes(frame.end() - 9, frame.end()), (Bytes{130, 130, 130, 0, 0, 0, 255, 255, 255}));
}

TEST_F(Webcam, I420FramesGoThroughTheDecompressorAndAreFlipped) {
    i420Camera();
    queueFrame(i420Frame(0));
    ASSERT_EQ(open(), 0);
    ASSERT_EQ(driver->formatsSet, 3);
    expectFormat(driver->setFormats[0], kRgbRequest, "mode 1 header");
    expectFormat(driver->setFormats[1], kYuy2Request, "mode 2 header");
    expectFormat(driver->setFormats[2], kI420Request, "mode 5 header");
    // The decoder's output: the input header as 24-bit RGB, still bottom-up.
    BITMAPINFOHEADER output = kI420Request.header;
    output.biBitCount = 24;
    output.biCompression = BI_RGB;
    output.biSizeImage = DWORD(kFrameBytes);
    EXPECT_EQ(std::memcmp(&codec->lastQueryOutput, &output, sizeof(output)), 0);
    EXPECT_EQ(readFrame(), i420Expected(0).rgb);
    EXPECT_GT(codec->openInstances, 0);
    EXPECT_EQ(close(), 0);
    EXPECT_EQ(codec->openInstances, 0);
}

TEST_F(Webcam, DvCameraDeliversItsOwnSizeThroughTheDecompressorEvenWhenRgbWouldDo) {
    struct Case {
        int width, height;  // 15 pixels: rows padded to 48 bytes in the decoder's bitmap
    };
    for (const Case& c : {Case{64, 48}, Case{15, 10}}) {
        SCOPED_TRACE(c.width);
        dvCamera(c.width, c.height);
        driver->acceptRgb24 = TRUE;
        driver->formatsSet = 0;
        const Picture picture = patternPicture(c.width, c.height, 3);
        queueFrame(topDownBgr(picture));
        ASSERT_EQ(open(), 0);
        EXPECT_EQ(driver->formatsSet, 0);
        EXPECT_EQ(width(), c.width);
        EXPECT_EQ(height(), c.height);
        // The camera's format made 24-bit top-down RGB, its other fields kept.
        BITMAPINFOHEADER output = driver->current.header;
        output.biHeight = -c.height;
        output.biBitCount = 24;
        output.biCompression = BI_RGB;
        output.biSizeImage = DWORD(((c.width * 3 + 3) & ~3) * c.height);
        EXPECT_EQ(std::memcmp(&codec->lastQueryOutput, &output, sizeof(output)), 0);
        EXPECT_EQ(codec->lastQueryOutput.biXPelsPerMeter, 1234);
        EXPECT_EQ(readFrame(), picture.rgb);
        EXPECT_EQ(close(), 0);
        EXPECT_EQ(codec->openInstances, 0);
    }
}

TEST_F(Webcam, JpegCameraDecodesEachFrameFromTheTemporaryFile) {
    jpegCamera(64, 48);
    const std::string jpeg = jpegOf(quadrants(64, 48));
    ASSERT_FALSE(jpeg.empty());
    const std::size_t padded = jpeg.size() + 3000;  // drivers deliver WJPG buffers with padding
    queueFrame(Bytes(jpeg.begin(), jpeg.end()), padded);
    ASSERT_EQ(open(), 0);
    EXPECT_EQ(driver->formatsSet, 0);
    EXPECT_EQ(width(), 64);
    EXPECT_EQ(height(), 48);
    const Bytes frame = readFrame();
    expectQuadrants(frame, 64, 48, 64);
    EXPECT_EQ(close(), 0);
    // The whole buffer was written, and the file stays.
    const std::string written = readFile(temporary + L"\\Glimmo_Capture.jpg");
    EXPECT_EQ(written.size(), padded);
    EXPECT_EQ(written.substr(0, jpeg.size()), jpeg);
}

TEST_F(Webcam, JpegThatCannotBeDecodedOrWrittenKeepsThePreviousImage) {
    jpegCamera(64, 48);
    const std::string jpeg = jpegOf(quadrants(64, 48));
    queueFrame(Bytes(jpeg.begin(), jpeg.end()));
    queueFrame(Bytes(500, 0x11));  // no image
    ASSERT_EQ(open(), 0);
    const Bytes first = readFrame();
    expectQuadrants(first, 64, 48, 64);
    EXPECT_EQ(readFrame(), first);

    // A folder in the file's place: the frame cannot be written.
    ASSERT_EQ(close(), 0);
    ASSERT_TRUE(::DeleteFileW((temporary + L"\\Glimmo_Capture.jpg").c_str()));
    ASSERT_TRUE(::CreateDirectoryW((temporary + L"\\Glimmo_Capture.jpg").c_str(), nullptr));
    queueFrame(Bytes(jpeg.begin(), jpeg.end()));
    ASSERT_EQ(open(), 0);
    EXPECT_EQ(readFrame(), first);  // the same size: the buffer is reused as it was
}

TEST_F(Webcam, FirstImageOfAFreshBufferIsBlackWhenTheFrameCannotBeWritten) {
    ASSERT_TRUE(::CreateDirectoryW((temporary + L"\\Glimmo_Capture.jpg").c_str(), nullptr));
    jpegCamera(64, 48);
    const std::string jpeg = jpegOf(quadrants(64, 48));
    queueFrame(Bytes(jpeg.begin(), jpeg.end()));
    ASSERT_EQ(open(), 0);
    EXPECT_EQ(readFrame(), Bytes(64 * 48 * 3, 0));
}

TEST_F(Webcam, JpegOfAnotherSizeFillsOnlyTheOverlap) {
    jpegCamera(64, 48);
    const std::string small = jpegOf(quadrants(32, 24));
    const std::string large = jpegOf(quadrants(96, 72));
    queueFrame(Bytes(small.begin(), small.end()));
    queueFrame(Bytes(large.begin(), large.end()));
    ASSERT_EQ(open(), 0);
    const Bytes frame = readFrame();
    expectQuadrants(frame, 32, 24, 64);
    EXPECT_EQ(frame[(std::size_t(30) * 64 + 50) * 3], 0);  // outside the small image: untouched
    const Bytes second = readFrame();  // the large one's top-left 64 x 48
    EXPECT_NEAR(second[(std::size_t(10) * 64 + 10) * 3], 220, 12);
    EXPECT_NEAR(second[(std::size_t(40) * 64 + 10) * 3 + 2], 210, 12);
}

TEST_F(Webcam, StillSceneFailsOnTheHundredAndFirstIdenticalGrabUntilTheImageChanges) {
    rgbCamera();
    const Picture still = patternPicture(kWidth, kHeight, 1);
    queueFrame(bottomUpBgr(still));
    ASSERT_EQ(open(), 0);
    jbyteArray array = javaBytes(kFrameBytes);
    for (int grab = 1; grab <= 100; ++grab) ASSERT_EQ(read(array), 0) << grab;
    EXPECT_EQ(read(javaBytes(kFrameBytes)), -1);
    EXPECT_EQ(read(javaBytes(kFrameBytes)), -1);
    const Picture moved = patternPicture(kWidth, kHeight, 2);
    queueFrame(bottomUpBgr(moved));
    EXPECT_EQ(readFrame(), moved.rgb);
    EXPECT_EQ(readFrame(), moved.rgb);
}

TEST_F(Webcam, StillYuyvSceneIsCountedToo) {
    yuy2Camera();
    queueFrame(yuy2Frame());
    ASSERT_EQ(open(), 0);
    jbyteArray array = javaBytes(kFrameBytes);
    for (int grab = 1; grab <= 100; ++grab) ASSERT_EQ(read(array), 0) << grab;
    EXPECT_EQ(read(array), -1);
    Bytes changed = yuy2Frame();
    changed[4] = 235;  // the third pixel turns white
    queueFrame(changed);
    EXPECT_EQ(readFrame()[6], 255);
}

TEST_F(Webcam, DecodedModesNeverCountRepeats) {
    struct Case {
        const char* mode;
        void (*camera)(Webcam&);
    };
    for (const Case& c : {Case{"jpeg", [](Webcam& t) {
                               t.jpegCamera(32, 24);
                               const std::string jpeg = jpegOf(quadrants(32, 24));
                               t.queueFrame(Bytes(jpeg.begin(), jpeg.end()));
                           }},
                          Case{"dv", [](Webcam& t) {
                               t.dvCamera(32, 24);
                               t.queueFrame(topDownBgr(patternPicture(32, 24)));
                           }},
                          Case{"i420", [](Webcam& t) {
                               t.i420Camera();
                               t.queueFrame(i420Frame(0));
                           }}}) {
        c.camera(*this);
        ASSERT_EQ(open(), 0) << c.mode;
        jbyteArray array = javaBytes(std::size_t(width()) * std::size_t(height()) * 3);
        for (int grab = 1; grab <= 102; ++grab) ASSERT_EQ(read(array), 0) << c.mode << " grab " << grab;
        ASSERT_EQ(close(), 0) << c.mode;
    }
}

TEST_F(Webcam, ShortFramesAreSkippedAndTheLastImageStays) {
    rgbCamera();
    const Picture picture = patternPicture(kWidth, kHeight);
    queueFrame(bottomUpBgr(picture));
    queueFrame(Bytes(kFrameBytes - 1, 0x33));  // one byte short of a whole image
    ASSERT_EQ(open(), 0);
    EXPECT_EQ(readFrame(), picture.rgb);
    EXPECT_EQ(readFrame(), picture.rgb);
}

TEST_F(Webcam, ReadRefusesAMissingOrShortArrayAndEveryFailedGrab) {
    jbyteArray array = javaBytes(kFrameBytes);
    EXPECT_EQ(read(array), -1);  // never opened
    rgbCamera();
    queueFrame(bottomUpBgr(patternPicture(kWidth, kHeight)));
    ASSERT_EQ(open(), 0);
    EXPECT_EQ(read(nullptr), -1);
    jbyteArray shortArray = javaBytes(kFrameBytes - 1);
    EXPECT_EQ(read(shortArray), -1);
    EXPECT_EQ(bytesOf(shortArray), Bytes(kFrameBytes - 1, 0x5A));
    EXPECT_EQ(driver->grabs, 0);  // nothing was grabbed for them
    driver->failGrab = TRUE;
    EXPECT_EQ(read(array), -1);
    EXPECT_EQ(bytesOf(array), Bytes(kFrameBytes, 0x5A));
    driver->failGrab = FALSE;
    jbyteArray longer = javaBytes(kFrameBytes + 10);
    EXPECT_EQ(read(longer), 0);
    EXPECT_EQ(bytesOf(longer)[kFrameBytes], 0x5A);  // only the image's bytes are copied
}

TEST_F(Webcam, EveryFailedOpenAnswersMinusOneAndLeavesNothingBehind) {
    struct Case {
        const char* what;
        void (*script)(Webcam&);
    };
    for (const Case& c : {
             Case{"window not created", [](Webcam& t) { t.driver->failCreate = TRUE; }},
             Case{"driver not connected", [](Webcam& t) {
                      t.rgbCamera();
                      t.driver->failConnect = TRUE;
                  }},
             Case{"DV of width 0", [](Webcam& t) { t.dvCamera(0, 480); }},
             Case{"DV of negative height", [](Webcam& t) { t.dvCamera(720, -480); }},
             Case{"JPEG of width 0", [](Webcam& t) { t.jpegCamera(0, 480); }},
             Case{"JPEG of negative height", [](Webcam& t) { t.jpegCamera(640, -1); }},
             Case{"DV beyond a Java array", [](Webcam& t) { t.dvCamera(50000, 50000); }},
             Case{"JPEG beyond a Java array", [](Webcam& t) { t.jpegCamera(30000, 30000); }},
             Case{"DV without decompressor", [](Webcam& t) {
                      t.dvCamera(64, 48);
                      t.codec->refuse = TRUE;
                  }},
             Case{"no format accepted", [](Webcam& t) { t.driver->current = cameraFormat(320, 240, 24, BI_RGB, 0); }},
             Case{"I420 without decompressor", [](Webcam& t) {
                      t.i420Camera();
                      t.codec->refuse = TRUE;
                  }},
             Case{"callback refused", [](Webcam& t) {
                      t.dvCamera(64, 48);  // with a decompressor to give back
                      t.driver->failSetCallback = TRUE;
                  }},
         }) {
        SCOPED_TRACE(c.what);
        *driver = CaptureDriverScript{};
        codec->refuse = FALSE;
        c.script(*this);
        const int windowsBefore = driver->windowsCreated;
        EXPECT_EQ(open(), -1);
        if (driver->windowsCreated > windowsBefore) {
            EXPECT_FALSE(::IsWindow(driver->lastWindow));
        }
        EXPECT_EQ(codec->openInstances, 0);
        EXPECT_EQ(read(javaBytes(kFrameBytes)), -1);
        EXPECT_EQ(close(), -1);
    }
}

TEST_F(Webcam, CloseFailsWhileTheDriverHoldsOnAndSucceedsOnceItLetsGo) {
    dvCamera(64, 48);
    ASSERT_EQ(open(), 0);
    driver->failDisconnect = TRUE;
    EXPECT_EQ(close(), -1);
    EXPECT_TRUE(::IsWindow(driver->lastWindow));
    EXPECT_GT(codec->openInstances, 0);
    driver->failDisconnect = FALSE;
    EXPECT_EQ(close(), 0);
    EXPECT_FALSE(::IsWindow(driver->lastWindow));
    EXPECT_EQ(codec->openInstances, 0);
}

TEST_F(Webcam, CloseFailsWhenTheWindowCannotBeDestroyed) {
    rgbCamera();
    driver->foreignWindow = TRUE;
    ASSERT_EQ(open(), 0);
    EXPECT_EQ(close(), -1);
    EXPECT_EQ(driver->disconnects, 1);
    EXPECT_TRUE(::IsWindow(driver->lastWindow));
}

TEST_F(Webcam, SecondOpenClosesTheFirstWebcamInsteadOfLosingIt) {
    dvCamera(64, 48);
    ASSERT_EQ(open(), 0);
    const HWND first = driver->lastWindow;
    rgbCamera();
    driver->current = cameraFormat(320, 240, 24, BI_RGB, 0);
    ASSERT_EQ(open(), 0);
    EXPECT_FALSE(::IsWindow(first));
    EXPECT_EQ(driver->disconnects, 1);
    EXPECT_EQ(codec->openInstances, 0);  // the DV decompressor went with it
    EXPECT_EQ(width(), kWidth);
    EXPECT_EQ(close(), 0);
}

// Each allocation the library makes while opening, reading and closing the webcam is refused in
// turn, on a fresh library whose first uses all run again: every export answers 0 or -1 (a read
// of 0 with the whole image), no capture window stays, and with memory again the same library
// opens, reads the image and closes.
class WebcamWithoutMemory : public WebcamTest {
protected:
    // The camera is prepared and its one frame queued (every grab delivers it again).
    void sweep(int imageWidth, int imageHeight, const std::function<void(const Bytes&)>& expectImage) {
        using IntExport = jint(JNICALL*)(JNIEnv*, jclass);
        using ReadExport = jint(JNICALL*)(JNIEnv*, jclass, jbyteArray);
        sweepAllocations(vm, [&](const FreshKorvix& korvix, bool starved) {
            const auto openWebcam = korvix.method<IntExport>("openWebcam");
            const auto readWebcamFrame = korvix.method<ReadExport>("readWebcamFrame");
            const auto closeWebcam = korvix.method<IntExport>("closeWebcam");
            const auto widthOf = korvix.method<IntExport>("getImageWidth");
            ASSERT_TRUE(openWebcam && readWebcamFrame && closeWebcam && widthOf);
            const jint opened = openWebcam(env, korvixClass);
            const jbyteArray buffer = javaBytes(kFrameBytes);  // the largest of the cameras' images
            const jint read = readWebcamFrame(env, korvixClass, buffer);
            const jint closed = closeWebcam(env, korvixClass);
            EXPECT_FALSE(::IsWindow(driver->lastWindow)) << "a capture window stayed";
            if (starved) {
                for (const jint answer : {opened, read, closed}) EXPECT_TRUE(answer == 0 || answer == -1) << answer;
                if (opened != 0) {
                    EXPECT_EQ(read, -1);
                }
            } else {
                ASSERT_EQ(opened, 0);
                ASSERT_EQ(read, 0);
                EXPECT_EQ(closed, 0);
            }
            if (read == 0) {
                EXPECT_EQ(widthOf(env, korvixClass), imageWidth);
                const Bytes image = bytesOf(buffer);
                expectImage(Bytes(image.begin(), image.begin() + std::size_t(imageWidth) * imageHeight * 3));
            }
        });
    }
};

TEST_F(WebcamWithoutMemory, RgbCameraAnswersItsFailureValuesAndWorksAgain) {
    rgbCamera();
    const Picture picture = patternPicture(kWidth, kHeight);
    queueFrame(bottomUpBgr(picture));
    sweep(kWidth, kHeight, [&](const Bytes& image) { EXPECT_EQ(image, picture.rgb); });
}

TEST_F(WebcamWithoutMemory, JpegCameraAnswersItsFailureValuesAndWorksAgain) {
    jpegCamera(64, 48);
    const std::string jpeg = jpegOf(quadrants(64, 48));
    ASSERT_FALSE(jpeg.empty());
    queueFrame(Bytes(jpeg.begin(), jpeg.end()), jpeg.size() + 3000);
    sweep(64, 48, [](const Bytes& image) { expectQuadrants(image, 64, 48, 64); });
}

}  // namespace
}  // namespace korvix::test

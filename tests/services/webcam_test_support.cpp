#include "webcam_test_support.h"

#include <tavro/video_refs.h>

#include <objidl.h>
#include <gdiplus.h>

namespace korvix::test {

namespace {

constexpr char kDrivers32[] = "Software\\Microsoft\\Windows NT\\CurrentVersion\\Drivers32";

// The codec's entries are the same for every case, so writing them again races nothing.
void registerCodec(const std::string& path) {
    HKEY key = nullptr;
    ASSERT_EQ(::RegCreateKeyExA(HKEY_LOCAL_MACHINE, kDrivers32, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    const tavro::UniqueKey owner(key);
    for (const char* name : {"vidc.dvsd", "vidc.I420"}) {
        ASSERT_EQ(::RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(path.c_str()),
                                   DWORD(path.size() + 1)),
                  ERROR_SUCCESS);
    }
}

}  // namespace

Picture patternPicture(int width, int height, int seed) {
    Picture picture{width, height, Bytes(std::size_t(width) * height * 3)};
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            std::uint8_t* p = &picture.rgb[(std::size_t(y) * width + x) * 3];
            p[0] = std::uint8_t(x * 3 + y + seed);
            p[1] = std::uint8_t(y * 5 + 7 + seed);
            p[2] = std::uint8_t((x ^ y) + 2 * seed);
        }
    }
    return picture;
}

Bytes bottomUpBgr(const Picture& picture) {
    Bytes bgr(picture.rgb.size());
    for (int y = 0; y < picture.height; ++y) {
        for (int x = 0; x < picture.width; ++x) {
            const std::uint8_t* p = picture.at(x, y);
            std::uint8_t* out = &bgr[(std::size_t(picture.height - 1 - y) * picture.width + x) * 3];
            out[0] = p[2];
            out[1] = p[1];
            out[2] = p[0];
        }
    }
    return bgr;
}

Bytes topDownBgr(const Picture& picture) {
    Bytes bgr(picture.rgb);
    for (std::size_t i = 0; i < bgr.size(); i += 3) std::swap(bgr[i], bgr[i + 2]);
    return bgr;
}

std::string jpegOf(const Picture& picture) {
    tavro::GdiplusSession session;
    EXPECT_TRUE(session.start());
    const std::size_t stride = (std::size_t(picture.width) * 3 + 3) & ~std::size_t(3);
    Bytes rows(stride * picture.height);
    for (int y = 0; y < picture.height; ++y) {
        for (int x = 0; x < picture.width; ++x) {
            const std::uint8_t* p = picture.at(x, y);
            std::uint8_t* out = &rows[std::size_t(y) * stride + std::size_t(x) * 3];  // B, G, R in memory
            out[0] = p[2];
            out[1] = p[1];
            out[2] = p[0];
        }
    }
    Gdiplus::GpBitmap* made = nullptr;
    EXPECT_EQ(Gdiplus::DllExports::GdipCreateBitmapFromScan0(picture.width, picture.height, INT(stride),
                                                             PixelFormat24bppRGB, rows.data(), &made),
              Gdiplus::Ok);
    const tavro::UniqueGdiplusBitmap bitmap(made);
    const ScratchFolder scratch(L"jpeg");
    const std::wstring path = scratch.file(L"picture.jpg");
    static const CLSID kJpegEncoder = {0x557CF401, 0x1A04, 0x11D3, {0x9A, 0x73, 0x00, 0x00, 0xF8, 0x1E, 0xF3, 0x2E}};
    EXPECT_EQ(Gdiplus::DllExports::GdipSaveImageToFile(bitmap.get(), path.c_str(), &kJpegEncoder, nullptr),
              Gdiplus::Ok);
    return readFile(path);
}

VideoFormat videoFormat(int width, int height, WORD bitCount, DWORD compression, DWORD sizeImage) {
    VideoFormat format{};
    format.header.biSize = sizeof(BITMAPINFOHEADER);
    format.header.biWidth = width;
    format.header.biHeight = height;
    format.header.biPlanes = 1;
    format.header.biBitCount = bitCount;
    format.header.biCompression = compression;
    format.header.biSizeImage = sizeImage;
    return format;
}

VideoFormat cameraFormat(int width, int height, WORD bitCount, DWORD compression, DWORD sizeImage) {
    VideoFormat format = videoFormat(width, height, bitCount, compression, sizeImage);
    format.header.biXPelsPerMeter = 1234;  // a field the library must keep as the camera gave it
    return format;
}

void WebcamTest::SetUp() {
    KorvixTest::SetUp();
    ASSERT_NE(openExport, nullptr);  // Korvix is loaded, and with it avicap32.dll
    const HMODULE capture = ::GetModuleHandleA("avicap32.dll");
    ASSERT_NE(capture, nullptr);
    const auto scriptOf =
        reinterpret_cast<ScriptFunction>(reinterpret_cast<void (*)()>(::GetProcAddress(capture, "captureDriverScript")));
    queue = reinterpret_cast<QueueFrameFunction>(
        reinterpret_cast<void (*)()>(::GetProcAddress(capture, "captureDriverQueueFrame")));
    ASSERT_NE(scriptOf, nullptr) << "Korvix bound the system's avicap32.dll, not the stand-in";
    ASSERT_NE(queue, nullptr);
    driver = scriptOf();

    const std::string codecPath = buildFilePath(WEBCAM_CODEC_PATH);
    registerCodec(codecPath);
    const HMODULE codecModule = ::LoadLibraryA(codecPath.c_str());  // the module ICOpen will use
    ASSERT_NE(codecModule, nullptr);
    const auto codecScriptOf =
        reinterpret_cast<CodecScriptFunction>(reinterpret_cast<void (*)()>(::GetProcAddress(codecModule, "codecScript")));
    ASSERT_NE(codecScriptOf, nullptr);
    codec = codecScriptOf();

    folder = std::make_unique<ScratchFolder>(L"webcam");
    temporary = folder->path();
    ::SetEnvironmentVariableW(L"TEMP", temporary.c_str());
    ::SetEnvironmentVariableW(L"TMP", temporary.c_str());
}

void WebcamTest::TearDown() {
    KorvixTest::TearDown();
    folder.reset();
}

jbyteArray WebcamTest::javaBytes(std::size_t size, std::uint8_t fill) {
    return vm.newByteArray(std::vector<jbyte>(size, jbyte(fill)));
}

Bytes WebcamTest::bytesOf(jbyteArray array) const {
    const std::vector<jbyte> bytes = vm.byteArrayValue(array);
    return Bytes(bytes.begin(), bytes.end());
}

Bytes WebcamTest::readFrame() {
    jbyteArray array = javaBytes(std::size_t(width()) * std::size_t(height()) * 3);
    EXPECT_EQ(read(array), 0);
    return bytesOf(array);
}

void WebcamTest::queueFrame(const Bytes& frame, std::size_t bufferLength) {
    queue(frame.data(), DWORD(frame.size()), DWORD(bufferLength));
}

void WebcamTest::rgbCamera() {
    driver->current = cameraFormat(320, 240, 24, BI_RGB, 320 * 240 * 3);
    driver->acceptRgb24 = TRUE;
}

void WebcamTest::yuy2Camera() {
    driver->current = cameraFormat(320, 240, 16, fourCc('Y', 'U', 'Y', '2'), 320 * 240 * 2);
    driver->acceptYuy2 = TRUE;
}

void WebcamTest::i420Camera() {
    driver->current = cameraFormat(320, 240, 12, fourCc('I', '4', '2', '0'), 320 * 240 * 3 / 2);
    driver->acceptI420 = TRUE;
}

void WebcamTest::dvCamera(int width, int height) {
    driver->current = cameraFormat(width, height, 24, fourCc('d', 'v', 's', 'd'), DWORD(width) * DWORD(height) * 3);
}

void WebcamTest::jpegCamera(int width, int height) {
    driver->current = cameraFormat(width, height, 24, fourCc('W', 'J', 'P', 'G'), DWORD(width) * DWORD(height) * 3);
}

}  // namespace korvix::test

#include "webcam.h"

#include "webcam_pixels.h"

#include <tavro/boundary.h>
#include <tavro/process_state.h>
#include <tavro/video_refs.h>
#include <tavro/win_handles.h>

#include <com_vyk_util_jni_Korvix.h>

#include <windows.h>
#include <vfw.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

namespace korvix {

namespace {

// The format record of the capture messages: a bitmap header and one colour entry.
struct CaptureFormat {
    BITMAPINFOHEADER header;
    RGBQUAD colour;
};
static_assert(sizeof(CaptureFormat) == 44, "the capture driver's format record");

enum class DeliveryMode { none, rgb24, yuy2, jpeg, dv, i420 };

constexpr int kDefaultWidth = 640;
constexpr int kDefaultHeight = 480;
// Grabs of the same image in a row after which the device counts as stuck.
constexpr std::uint32_t kStillFrameLimit = 100;

struct WebcamState {
    HWND window = nullptr;
    DeliveryMode mode = DeliveryMode::none;
    int width = -1;
    int height = -1;
    std::vector<std::uint8_t> frame;  // width x height x 3, kept between opens
    std::uint32_t frameCount = 0;
    std::uint32_t repeatCount = 0;
    CaptureFormat input{};
    CaptureFormat output{};
    tavro::UniqueDecompressor decoder;
    tavro::GdiplusSession imaging;
    StillFrameFilter stillFrames;          // modes 1 and 2
    std::vector<std::uint8_t> paddedRows;  // a DV decode whose rows are padded
};

// Never destroyed: nothing may be shut down from the loader lock at process exit.
tavro::ProcessState<WebcamState> webcamState;

std::size_t frameBytes(const WebcamState& state) {
    return std::size_t(state.width) * std::size_t(state.height) * 3;
}

// Forgets the decompressor and the imaging session of the last open.
void releaseDecoders(WebcamState& state) {
    state.decoder.reset();
    state.imaging.stop();
    state.mode = DeliveryMode::none;
}

void destroyCaptureWindow(WebcamState& state) {
    if (state.window && ::IsWindow(state.window)) ::DestroyWindow(state.window);
    state.window = nullptr;
}

bool setVideoFormat(HWND window, CaptureFormat& format) {
    return sendCaptureMessage(window, WM_CAP_SET_VIDEOFORMAT, sizeof(format), reinterpret_cast<LPARAM>(&format)) != 0;
}

// A DV or JPEG camera's own size, when it is positive and its frame fits one Java array
// (DV rows padded to 4 bytes included).
bool takeCameraSize(WebcamState& state, const BITMAPINFOHEADER& camera) {
    const LONG width = camera.biWidth;
    const LONG height = camera.biHeight;
    if (!frameBufferBytes(width, height)) return false;
    if (std::uint64_t(bitmapRowBytes24(std::size_t(width))) * std::uint64_t(height) > std::uint64_t(INT32_MAX)) {
        return false;
    }
    state.width = width;
    state.height = height;
    return true;
}

bool chooseDeliveryMode(WebcamState& state) {
    CaptureFormat current{};
    sendCaptureMessage(state.window, WM_CAP_GET_VIDEOFORMAT, sizeof(current), reinterpret_cast<LPARAM>(&current));

    if (current.header.biCompression == kFourCcDv) {
        if (!takeCameraSize(state, current.header)) return false;
        state.input = current;
        state.output = current;
        BITMAPINFOHEADER& out = state.output.header;
        out.biWidth = state.width;
        out.biHeight = -state.height;  // top-down
        out.biBitCount = 24;
        out.biCompression = BI_RGB;
        out.biSizeImage = DWORD(bitmapRowBytes24(std::size_t(state.width)) * std::size_t(state.height));
        state.decoder.reset(
            ::ICLocate(kFourCcVideoCodec, kFourCcDv, &state.input.header, &state.output.header, ICMODE_DECOMPRESS));
        if (!state.decoder) return false;
        state.mode = DeliveryMode::dv;
        return true;
    }
    if (current.header.biCompression == kFourCcJpeg) {
        if (!takeCameraSize(state, current.header)) return false;
        // Without the imaging library no JPEG frame could ever be decoded.
        if (!state.imaging.start()) return false;
        state.mode = DeliveryMode::jpeg;
        return true;
    }

    CaptureFormat request{};
    BITMAPINFOHEADER& header = request.header;
    header.biSize = sizeof(BITMAPINFOHEADER);
    header.biWidth = state.width;
    header.biHeight = state.height;  // bottom-up
    header.biPlanes = 1;
    header.biBitCount = 24;
    header.biCompression = BI_RGB;
    header.biSizeImage = DWORD(frameBytes(state));
    if (setVideoFormat(state.window, request)) {
        state.mode = DeliveryMode::rgb24;
        return true;
    }
    header.biBitCount = 16;
    header.biCompression = kFourCcYuy2;
    header.biSizeImage = DWORD(std::size_t(state.width) * std::size_t(state.height) * 2);
    if (setVideoFormat(state.window, request)) {
        state.mode = DeliveryMode::yuy2;
        return true;
    }
    header.biBitCount = 12;
    header.biCompression = kFourCcI420;
    header.biSizeImage = DWORD(std::size_t(state.width) * std::size_t(state.height) * 3 / 2);
    if (!setVideoFormat(state.window, request)) return false;
    state.input = request;
    state.output = request;
    state.output.header.biBitCount = 24;
    state.output.header.biCompression = BI_RGB;
    state.output.header.biSizeImage = DWORD(frameBytes(state));
    state.decoder.reset(
        ::ICLocate(kFourCcVideoCodec, kFourCcI420, &state.input.header, &state.output.header, ICMODE_DECOMPRESS));
    if (!state.decoder) return false;
    state.mode = DeliveryMode::i420;
    return true;
}

// --- frame conversions -------------------------------------------------------------------

// Bytes a grabbed frame must hold for the mode to read it whole.
std::size_t bytesNeeded(const WebcamState& state) {
    const std::size_t pixels = std::size_t(state.width) * std::size_t(state.height);
    switch (state.mode) {
        case DeliveryMode::rgb24: return pixels * 3;
        case DeliveryMode::yuy2: return yuy2BytesFor(pixels);
        case DeliveryMode::dv:
        case DeliveryMode::i420: return std::max<std::size_t>(1, state.input.header.biSizeImage);
        case DeliveryMode::jpeg: return 1;
        case DeliveryMode::none: break;
    }
    return 0;
}

// The JPEG goes through a file in the temporary folder, which the imaging library decodes.
void convertJpeg(WebcamState& state, const VIDEOHDR& frame) {
    char folder[512];
    const DWORD folderLength = ::GetTempPathA(sizeof(folder), folder);
    // A length of the buffer's size or more is the size it would need: nothing was written.
    if (folderLength == 0 || folderLength >= sizeof(folder)) return;
    char path[512];
    const int pathLength = std::snprintf(path, sizeof(path), "%sGlimmo_Capture.jpg", folder);
    if (pathLength < 0 || std::size_t(pathLength) >= sizeof(path)) return;

    tavro::UniqueCFile file(std::fopen(path, "wb"));
    if (!file) return;
    // The whole buffer, as drivers pad it: the decoder ignores what follows the image.
    const std::size_t written = std::fwrite(frame.lpData, 1, frame.dwBufferLength, file.get());
    const bool closed = std::fclose(file.release()) == 0;
    if (written != frame.dwBufferLength || !closed) return;

    wchar_t widePath[512];
    if (!::MultiByteToWideChar(CP_ACP, 0, path, -1, widePath, 512)) return;
    Gdiplus::GpBitmap* loaded = nullptr;
    if (Gdiplus::DllExports::GdipCreateBitmapFromFile(widePath, &loaded) != Gdiplus::Ok || !loaded) return;
    const tavro::UniqueGdiplusBitmap bitmap(loaded);
    UINT width = 0;
    UINT height = 0;
    Gdiplus::DllExports::GdipGetImageWidth(bitmap.get(), &width);
    Gdiplus::DllExports::GdipGetImageHeight(bitmap.get(), &height);
    if (width == 0 || height == 0 || width > INT32_MAX || height > INT32_MAX) return;
    const Gdiplus::Rect whole(0, 0, INT(width), INT(height));
    Gdiplus::BitmapData locked{};
    if (Gdiplus::DllExports::GdipBitmapLockBits(bitmap.get(), &whole, Gdiplus::ImageLockModeRead,
                                                 PixelFormat24bppRGB, &locked) != Gdiplus::Ok) {
        return;
    }
    // An image of another size than the opened one fills only the overlap.
    copyBgrRows({static_cast<const std::uint8_t*>(locked.Scan0), locked.Stride, int(width), int(height)},
                state.frame.data(), state.width, state.height);
    Gdiplus::DllExports::GdipBitmapUnlockBits(bitmap.get(), &locked);
}

void convertDv(WebcamState& state, const VIDEOHDR& frame) {
    const std::size_t rowBytes = bitmapRowBytes24(std::size_t(state.width));
    const bool packed = rowBytes == std::size_t(state.width) * 3;
    // Padded rows are decoded aside: the decoder writes whole bitmap rows.
    if (!packed) state.paddedRows.resize(rowBytes * std::size_t(state.height));
    std::uint8_t* target = packed ? state.frame.data() : state.paddedRows.data();
    if (::ICDecompress(state.decoder.get(), 0, &state.input.header, frame.lpData, &state.output.header, target) !=
        ICERR_OK) {
        return;
    }
    if (packed) {
        swapRedAndBlue(state.frame.data(), std::size_t(state.width) * std::size_t(state.height));
    } else {
        copyBgrRows({target, std::ptrdiff_t(rowBytes), state.width, state.height}, state.frame.data(), state.width,
                    state.height);
    }
}

void convertI420(WebcamState& state, const VIDEOHDR& frame) {
    const tavro::UniqueGlobal image(::ICImageDecompress(state.decoder.get(), 0,
                                                        reinterpret_cast<BITMAPINFO*>(&state.input), frame.lpData,
                                                        reinterpret_cast<BITMAPINFO*>(&state.output)));
    if (!image) return;
    const tavro::GlobalLock bytes(image.get());
    if (!bytes) return;
    const std::uint8_t* pixels =
        packedBitmapPixels(static_cast<const std::uint8_t*>(bytes.get()), bytes.size(), state.width, state.height);
    if (!pixels) return;
    copyBgrRows(bottomUpRows(pixels, bitmapRowBytes24(std::size_t(state.width)), state.width, state.height),
                state.frame.data(), state.width, state.height);
}

void deliverFrame(WebcamState& state, const VIDEOHDR* frame) {
    if (!frame || !frame->lpData || state.mode == DeliveryMode::none) return;
    if (state.frame.size() != frameBytes(state)) return;
    // A frame shorter than its format says is skipped: nothing reads past its buffer.
    if (frame->dwBufferLength < bytesNeeded(state)) return;

    // Modes 1 and 2 tell a still scene from a changed one; an unchanged frame is not converted
    // again. The other modes count every frame as changed.
    if (state.mode == DeliveryMode::rgb24 || state.mode == DeliveryMode::yuy2) {
        const bool first = state.frameCount == 0;
        const bool changed =
            state.mode == DeliveryMode::rgb24
                ? state.stillFrames.deliverRgb24(frame->lpData, state.frame.data(), state.width, state.height, first)
                : state.stillFrames.deliverYuy2(frame->lpData, state.frame.data(),
                                                std::size_t(state.width) * std::size_t(state.height), first);
        if (!changed) {
            ++state.repeatCount;
            return;
        }
        state.repeatCount = 0;
        ++state.frameCount;
        return;
    }

    state.repeatCount = 0;
    ++state.frameCount;
    switch (state.mode) {
        case DeliveryMode::jpeg: convertJpeg(state, *frame); break;
        case DeliveryMode::dv: convertDv(state, *frame); break;
        case DeliveryMode::i420: convertI420(state, *frame); break;
        default: break;
    }
}

LRESULT CALLBACK frameCallback(HWND /*window*/, LPVIDEOHDR frame) {
    // The capture window always gets 1, whatever became of the frame.
    tavro::guardBoundary([frame] {
        if (WebcamState* const state = webcamState.get()) deliverFrame(*state, frame);
    });
    return 1;
}

void pumpMessages() {
    MSG message;
    while (::PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        ::TranslateMessage(&message);
        ::DispatchMessageA(&message);
    }
}

}  // namespace

LRESULT sendCaptureMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (!window || !::IsWindow(window)) return 0;
    return ::SendMessageA(window, message, wParam, lParam);
}

HWND createCaptureWindow() {
    return ::capCreateCaptureWindowA("My Capture Window", 0, 0, 0, kDefaultWidth, kDefaultHeight, nullptr, 0);
}

HWND captureWindow() {
    const WebcamState* const state = webcamState.get();
    return state ? state->window : nullptr;
}

bool setCaptureWindow(HWND window) {
    WebcamState* const state = webcamState.get();
    if (!state) return false;
    state->window = window;
    return true;
}

void abandonWebcam() {
    WebcamState* const made = webcamState.get();
    if (!made) return;
    WebcamState& state = *made;
    sendCaptureMessage(state.window, WM_CAP_DRIVER_DISCONNECT, 0, 0);
    destroyCaptureWindow(state);
    releaseDecoders(state);
}

int openWebcam() {
    WebcamState* const made = webcamState.get();
    if (!made) return -1;
    WebcamState& state = *made;
    // A second open replaces the first one, which is closed rather than left unreachable.
    abandonWebcam();
    state.window = createCaptureWindow();
    if (!state.window) return -1;

    // Whatever this open started is given back unless it succeeds.
    struct Attempt {
        WebcamState& state;
        bool succeeded = false;
        ~Attempt() {
            if (succeeded) return;
            destroyCaptureWindow(state);
            releaseDecoders(state);
        }
    } attempt{state};

    if (!sendCaptureMessage(state.window, WM_CAP_DRIVER_CONNECT, 0, 0)) return -1;
    state.width = kDefaultWidth;
    state.height = kDefaultHeight;
    if (!chooseDeliveryMode(state)) return -1;
    if (state.frame.size() != frameBytes(state)) {
        state.frame = std::vector<std::uint8_t>();  // the old buffer goes before the new one comes
        state.frame.resize(frameBytes(state));      // zeroed
    }
    if (!sendCaptureMessage(state.window, WM_CAP_SET_CALLBACK_FRAME, 0, reinterpret_cast<LPARAM>(&frameCallback))) {
        return -1;
    }
    state.frameCount = 0;
    state.repeatCount = 0;
    attempt.succeeded = true;
    return 0;
}

int readWebcamFrame(JNIEnv* env, jbyteArray buffer) {
    WebcamState* const made = webcamState.get();
    if (!made) return -1;
    WebcamState& state = *made;
    // The whole image or nothing: a missing or short array is refused before any grab.
    const std::optional<std::size_t> bytes = frameBufferBytes(state.width, state.height);
    if (!bytes || !buffer || std::size_t(env->GetArrayLength(buffer)) < *bytes) return -1;

    pumpMessages();
    if (!sendCaptureMessage(state.window, WM_CAP_GRAB_FRAME, 0, 0)) return -1;
    if (state.repeatCount >= kStillFrameLimit) return -1;
    if (state.frame.size() < *bytes) return -1;
    env->SetByteArrayRegion(buffer, 0, jsize(*bytes), reinterpret_cast<const jbyte*>(state.frame.data()));
    return 0;
}

int closeWebcam() {
    WebcamState* const made = webcamState.get();
    if (!made) return -1;
    WebcamState& state = *made;
    if (!state.window || !::IsWindow(state.window)) return -1;
    if (!sendCaptureMessage(state.window, WM_CAP_DRIVER_DISCONNECT, 0, 0)) return -1;
    if (!::DestroyWindow(state.window)) return -1;
    state.window = nullptr;
    releaseDecoders(state);
    return 0;
}

int webcamImageWidth() {
    const WebcamState* const state = webcamState.get();
    return state ? state->width : -1;
}

int webcamImageHeight() {
    const WebcamState* const state = webcamState.get();
    return state ? state->height : -1;
}

}  // namespace korvix

extern "C" {

JNIEXPORT jint JNICALL Java_com_vyk_util_jni_Korvix_openWebcam(JNIEnv*, jclass) {
    return tavro::guardBoundary<jint>(-1, [] { return korvix::openWebcam(); });
}

JNIEXPORT jint JNICALL Java_com_vyk_util_jni_Korvix_getImageWidth(JNIEnv*, jclass) {
    return tavro::guardBoundary<jint>(-1, [] { return korvix::webcamImageWidth(); });
}

JNIEXPORT jint JNICALL Java_com_vyk_util_jni_Korvix_getImageHeight(JNIEnv*, jclass) {
    return tavro::guardBoundary<jint>(-1, [] { return korvix::webcamImageHeight(); });
}

JNIEXPORT jint JNICALL Java_com_vyk_util_jni_Korvix_readWebcamFrame(JNIEnv* env, jclass, jbyteArray buffer) {
    return tavro::guardBoundary<jint>(-1, [env, buffer] { return korvix::readWebcamFrame(env, buffer); });
}

JNIEXPORT jint JNICALL Java_com_vyk_util_jni_Korvix_closeWebcam(JNIEnv*, jclass) {
    return tavro::guardBoundary<jint>(-1, [] { return korvix::closeWebcam(); });
}

}  // extern "C"

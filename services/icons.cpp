#include "icons.h"

#include "icon_pixels.h"
#include "java_strings.h"

#include <tavro/boundary.h>
#include <tavro/com_support.h>
#include <tavro/win_handles.h>

#include <com_vyk_util_jni_Korvix.h>

#include <windows.h>
#include <commctrl.h>
#include <commoncontrols.h>
#include <shellapi.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <memory>
#include <new>

namespace korvix {

namespace {

enum class Transparency { alphaFromMask, whiteFromMask };

// Pixel buffers of a read-out: colour and mask, `capacity` pixels each.
struct PixelBuffers {
    std::uint32_t* colour;
    std::uint32_t* mask;
    std::size_t capacity;
};

// Reads size rows of a bitmap as top-down 32-bit pixels size wide; false when nothing was read.
bool readBitmapPixels(HDC screen, HBITMAP bitmap, int size, std::uint32_t* pixels) {
    BITMAPINFO format{};
    format.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    format.bmiHeader.biWidth = size;
    format.bmiHeader.biHeight = -size;
    format.bmiHeader.biPlanes = 1;
    format.bmiHeader.biBitCount = 32;
    format.bmiHeader.biCompression = BI_RGB;
    return ::GetDIBits(screen, bitmap, 0, static_cast<UINT>(size), pixels, &format, DIB_RGB_COLORS) > 0;
}

// The icon's colour and mask bitmaps combined into buffers.colour; false on any failure.
bool readIcon(HICON icon, int size, const PixelBuffers& buffers, Transparency rule) {
    const std::size_t count = static_cast<std::size_t>(size) * static_cast<std::size_t>(size);
    if (count > buffers.capacity) return false;
    ICONINFO info{};
    if (!::GetIconInfo(icon, &info)) return false;
    const tavro::UniqueBitmap colourBitmap(info.hbmColor);
    const tavro::UniqueBitmap maskBitmap(info.hbmMask);
    // A monochrome icon has no colour pixels to read.
    if (!colourBitmap || !maskBitmap) return false;
    const tavro::WindowDeviceContext screen(nullptr);
    if (!screen) return false;

    // Rows the bitmap does not have stay zero rather than whatever the buffer held.
    std::fill(buffers.colour, buffers.colour + count, 0u);
    std::fill(buffers.mask, buffers.mask + count, 0u);
    if (!readBitmapPixels(screen.get(), colourBitmap.get(), size, buffers.colour) ||
        !readBitmapPixels(screen.get(), maskBitmap.get(), size, buffers.mask)) {
        return false;
    }
    if (rule == Transparency::alphaFromMask) {
        combineAlphaFromMask(buffers.colour, buffers.mask, count);
    } else {
        combineWhiteFromMask(buffers.colour, buffers.mask, count);
    }
    return true;
}

jintArray newPixelArray(JNIEnv* env, const std::uint32_t* pixels, int size) {
    const jsize count = static_cast<jsize>(size) * static_cast<jsize>(size);
    jintArray result = env->NewIntArray(count);
    if (!result) return nullptr;
    env->SetIntArrayRegion(result, 0, count, reinterpret_cast<const jint*>(pixels));
    return result;
}

// Read-out into fixed buffers on the stack: no heap memory for these exports.
jintArray fixedBufferIconPixels(JNIEnv* env, HICON icon, int size, Transparency rule) {
    std::array<std::uint32_t, kFixedIconBufferPixels> colour;
    std::array<std::uint32_t, kFixedIconBufferPixels> mask;
    if (!readIcon(icon, size, {colour.data(), mask.data(), colour.size()}, rule)) return nullptr;
    return newPixelArray(env, colour.data(), size);
}

using GetImageListFunction = HRESULT(WINAPI*)(int, REFIID, void**);

// The shell exports SHGetImageList by number on the systems that predate its name.
GetImageListFunction shellGetImageList() {
    constexpr WORD kGetImageListOrdinal = 727;
    const HMODULE shell = ::GetModuleHandleW(L"shell32.dll");
    if (!shell) return nullptr;
    const FARPROC function = ::GetProcAddress(shell, MAKEINTRESOURCEA(kGetImageListOrdinal));
    return reinterpret_cast<GetImageListFunction>(reinterpret_cast<void (*)()>(function));
}

}  // namespace

jintArray fileIconPixels(JNIEnv* env, const char* path, int size) {
    if (!path || !iconPixelCount(size, kLargestFixedBufferIconSize)) return nullptr;
    SHFILEINFOA file{};
    if (!::SHGetFileInfoA(path, 0, &file, sizeof(file), SHGFI_ICON) || !file.hIcon) return nullptr;
    const tavro::UniqueIcon icon(file.hIcon);
    return fixedBufferIconPixels(env, icon.get(), size, Transparency::alphaFromMask);
}

jintArray imageListIconPixels(JNIEnv* env, const char* path, int size) {
    const std::optional<std::size_t> count = iconPixelCount(size, kLargestAllocatedIconSize);
    if (!path || !count) return nullptr;
    SHFILEINFOA file{};
    if (!::SHGetFileInfoA(path, static_cast<DWORD>(-1), &file, sizeof(file), SHGFI_SYSICONINDEX)) return nullptr;

    const GetImageListFunction getImageList = shellGetImageList();
    if (!getImageList) return nullptr;
    tavro::ComPtr<IImageList> imageList;
    if (FAILED(getImageList(SHIL_EXTRALARGE, __uuidof(IImageList), reinterpret_cast<void**>(imageList.GetAddressOf())))) {
        return nullptr;
    }
    if (FAILED(imageList->SetIconSize(size, size))) return nullptr;
    HICON drawn = nullptr;
    if (FAILED(imageList->GetIcon(file.iIcon, ILD_TRANSPARENT | ILD_SCALE, &drawn)) || !drawn) return nullptr;
    const tavro::UniqueIcon icon(drawn);

    const std::unique_ptr<std::uint32_t[]> colour(new (std::nothrow) std::uint32_t[*count]);
    const std::unique_ptr<std::uint32_t[]> mask(new (std::nothrow) std::uint32_t[*count]);
    if (!colour || !mask) return nullptr;
    if (!readIcon(icon.get(), size, {colour.get(), mask.get(), *count}, Transparency::alphaFromMask)) return nullptr;
    return newPixelArray(env, colour.get(), size);
}

jintArray extractedIconPixels(JNIEnv* env, const char* file, int index, int size) {
    // Index -1 asks for the number of icons, which is no icon handle.
    if (!file || index == -1 || !iconPixelCount(size, kLargestFixedBufferIconSize)) return nullptr;
    const HICON extracted = ::ExtractIconA(nullptr, file, static_cast<UINT>(index));
    // 1 means the file is no executable, library or icon file: nothing to destroy.
    if (!extracted || extracted == reinterpret_cast<HICON>(1)) return nullptr;
    const tavro::UniqueIcon icon(extracted);
    return fixedBufferIconPixels(env, icon.get(), size, Transparency::whiteFromMask);
}

}  // namespace korvix

extern "C" {

JNIEXPORT jintArray JNICALL Java_com_vyk_util_jni_Korvix_getFileIcon(JNIEnv* env, jclass, jstring path, jint size) {
    return tavro::guardBoundary<jintArray>(nullptr, [&] {
        const korvix::ByteFormString text(env, path);
        return korvix::fileIconPixels(env, text.get(), size);
    });
}

JNIEXPORT jintArray JNICALL Java_com_vyk_util_jni_Korvix_getFileIconOnXpOrVista(JNIEnv* env, jclass, jstring path,
                                                                               jint size) {
    return tavro::guardBoundary<jintArray>(nullptr, [&] {
        const korvix::ByteFormString text(env, path);
        return korvix::imageListIconPixels(env, text.get(), size);
    });
}

JNIEXPORT jintArray JNICALL Java_com_vyk_util_jni_Korvix_extractIcon(JNIEnv* env, jclass, jstring file, jint index,
                                                                    jint size) {
    return tavro::guardBoundary<jintArray>(nullptr, [&] {
        const korvix::ByteFormString text(env, file);
        return korvix::extractedIconPixels(env, text.get(), index, size);
    });
}

}  // extern "C"

// Owners for what Video for Windows and GDI+ hand out: decompressors, an imaging library
// session and its bitmaps (the packed images of ICImageDecompress are tavro::UniqueGlobal).
#pragma once

#include <windows.h>
#include <objidl.h>  // IStream, which gdiplus.h needs under WIN32_LEAN_AND_MEAN
#include <vfw.h>
#include <gdiplus.h>

#include <tavro/win_handles.h>

#include <utility>

namespace tavro {

// A video decompressor from ICLocate or ICOpen.
using UniqueDecompressor = UniqueWith<HIC, ::ICClose>;

// One GdiplusStartup, ended by GdiplusShutdown with its token (on stop() or destruction).
class GdiplusSession {
public:
    GdiplusSession() = default;
    ~GdiplusSession() { stop(); }
    GdiplusSession(const GdiplusSession&) = delete;
    GdiplusSession& operator=(const GdiplusSession&) = delete;

    // Version 1, no debug callback, with its background thread and external codecs.
    bool start() {
        stop();
        const Gdiplus::GdiplusStartupInput input(nullptr, FALSE, FALSE);
        ULONG_PTR token = 0;
        if (Gdiplus::GdiplusStartup(&token, &input, nullptr) != Gdiplus::Ok) return false;
        token_ = token;
        return true;
    }
    void stop() {
        if (token_) Gdiplus::GdiplusShutdown(std::exchange(token_, 0));
    }
    bool started() const { return token_ != 0; }

private:
    ULONG_PTR token_ = 0;
};

inline void disposeGdiplusBitmap(Gdiplus::GpBitmap* bitmap) { Gdiplus::DllExports::GdipDisposeImage(bitmap); }
using UniqueGdiplusBitmap = UniqueWith<Gdiplus::GpBitmap*, disposeGdiplusBitmap>;

}  // namespace tavro

// Owners for what Video for Windows and GDI+ hand out: decompressors, movable global memory
// (the packed images of ICImageDecompress), an imaging library session and its bitmaps.
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

// Memory from GlobalAlloc, and its lock while the bytes are read.
using UniqueGlobal = UniqueWith<HGLOBAL, ::GlobalFree>;
class GlobalLock {
public:
    explicit GlobalLock(HGLOBAL memory) : memory_(memory), bytes_(memory ? ::GlobalLock(memory) : nullptr) {}
    ~GlobalLock() {
        if (bytes_) ::GlobalUnlock(memory_);
    }
    GlobalLock(const GlobalLock&) = delete;
    GlobalLock& operator=(const GlobalLock&) = delete;

    void* get() const { return bytes_; }
    explicit operator bool() const { return bytes_ != nullptr; }
    SIZE_T size() const { return bytes_ ? ::GlobalSize(memory_) : 0; }

private:
    HGLOBAL memory_;
    void* bytes_;
};

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

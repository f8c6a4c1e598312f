// Scoped use of an AWT drawing surface (the AWT native interface): each owner gives back what
// it took, in the reverse order, so a lookup can stop at any step.
#pragma once

#include <jawt_md.h>

namespace tavro {

// A drawing surface from JAWT::GetDrawingSurface, freed with FreeDrawingSurface.
class JawtDrawingSurface {
public:
    JawtDrawingSurface(JAWT& awt, JNIEnv* env, jobject component)
        : awt_(awt), surface_(awt.GetDrawingSurface(env, component)) {}
    ~JawtDrawingSurface() {
        if (surface_) awt_.FreeDrawingSurface(surface_);
    }
    JawtDrawingSurface(const JawtDrawingSurface&) = delete;
    JawtDrawingSurface& operator=(const JawtDrawingSurface&) = delete;

    JAWT_DrawingSurface* get() const { return surface_; }
    explicit operator bool() const { return surface_ != nullptr; }

private:
    JAWT& awt_;
    JAWT_DrawingSurface* surface_;
};

// Holds a surface's lock; unlocks it on the way out.
class JawtSurfaceLock {
public:
    explicit JawtSurfaceLock(JAWT_DrawingSurface* surface) : surface_(surface), result_(surface->Lock(surface)) {}
    ~JawtSurfaceLock() { surface_->Unlock(surface_); }
    JawtSurfaceLock(const JawtSurfaceLock&) = delete;
    JawtSurfaceLock& operator=(const JawtSurfaceLock&) = delete;

    jint result() const { return result_; }

private:
    JAWT_DrawingSurface* surface_;
    jint result_;
};

// A locked surface's information, freed with FreeDrawingSurfaceInfo.
class JawtSurfaceInfo {
public:
    explicit JawtSurfaceInfo(JAWT_DrawingSurface* surface)
        : surface_(surface), info_(surface->GetDrawingSurfaceInfo(surface)) {}
    ~JawtSurfaceInfo() {
        if (info_) surface_->FreeDrawingSurfaceInfo(info_);
    }
    JawtSurfaceInfo(const JawtSurfaceInfo&) = delete;
    JawtSurfaceInfo& operator=(const JawtSurfaceInfo&) = delete;

    JAWT_DrawingSurfaceInfo* get() const { return info_; }
    explicit operator bool() const { return info_ != nullptr; }

private:
    JAWT_DrawingSurface* surface_;
    JAWT_DrawingSurfaceInfo* info_;
};

}  // namespace tavro

/* Windows drawing-surface record of the AWT native interface. */
#ifndef TAVRO_JAWT_MD_H
#define TAVRO_JAWT_MD_H

#include <windows.h>
#include "jawt.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct jawt_Win32DrawingSurfaceInfo {
    union {
        HWND hwnd;
        HBITMAP hbitmap;
        void* pbits;
    };
    HDC hdc;
    HPALETTE hpalette;
} JAWT_Win32DrawingSurfaceInfo;

#ifdef __cplusplus
}
#endif

#endif

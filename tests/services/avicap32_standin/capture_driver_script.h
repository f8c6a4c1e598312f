// The capture driver that the stand-in avicap32.dll plays, as a test scripts it: what each
// capture-window message answers, the frames a grab delivers, the video-source dialog, and
// a record of what the library asked. The test reaches it through the stand-in's exports.
#pragma once

#include <windows.h>

namespace capture_standin {

// The 44-byte format record of WM_CAP_GET_VIDEOFORMAT and WM_CAP_SET_VIDEOFORMAT.
struct VideoFormat {
    BITMAPINFOHEADER header;
    RGBQUAD colour;
};

constexpr int kMaxRecordedFormats = 8;
constexpr int kMaxTabs = 6;
constexpr int kTabControlId = 1201;

struct CaptureDriverScript {
    // --- what the driver does -------------------------------------------------------------
    BOOL failCreate;        // capCreateCaptureWindowA answers null
    BOOL failConnect;       // WM_CAP_DRIVER_CONNECT answers FALSE
    BOOL failDisconnect;    // WM_CAP_DRIVER_DISCONNECT answers FALSE
    BOOL failSetCallback;   // WM_CAP_SET_CALLBACK_FRAME answers FALSE
    BOOL failGrab;          // WM_CAP_GRAB_FRAME answers FALSE without calling back
    BOOL failCaps;          // WM_CAP_DRIVER_GET_CAPS answers FALSE
    BOOL foreignWindow;     // the window belongs to a thread of the driver: the caller cannot destroy it
    BOOL hasSourceDialog;   // the capabilities' fHasDlgVideoSource
    VideoFormat current;    // WM_CAP_GET_VIDEOFORMAT; replaced by every accepted SET
    // Compressions WM_CAP_SET_VIDEOFORMAT accepts (BI_RGB as 24 bits, YUY2, I420).
    BOOL acceptRgb24;
    BOOL acceptYuy2;
    BOOL acceptI420;

    // The video-source dialog: a top-level window "Video Source" with a tab control.
    RECT dialogFrame;             // where it first appears
    int tabCount;
    char tabs[kMaxTabs][32];
    int initialTab;

    // --- what the library asked -----------------------------------------------------------
    int windowsCreated;
    HWND lastWindow;
    char lastTitle[64];
    DWORD lastStyle;
    int lastX, lastY, lastWidth, lastHeight;
    HWND lastParent;
    int lastId;
    int connects;
    int connectedIndex;
    int disconnects;
    int formatsSet;  // every WM_CAP_SET_VIDEOFORMAT, accepted or not, in order
    VideoFormat setFormats[kMaxRecordedFormats];
    WPARAM lastSetSize;
    WPARAM lastCapsSize;
    int grabs;

    // The dialog while and after it is shown.
    HWND dialog;
    HWND tabControl;
    int selectionNotices;  // WM_NOTIFY TCN_SELCHANGE from the tab control with its id
    int otherNotices;      // any other WM_NOTIFY
};

}  // namespace capture_standin

// The stand-in's exports for the test (found with GetProcAddress on "avicap32.dll"):
// "captureDriverScript" gives the script, zero-initialised when the DLL loads;
// "captureDriverQueueFrame" appends a frame: each grab delivers the next one, and the last one
// again once none is left; bufferLength bytes are delivered (padding beyond bytesUsed).
using ScriptFunction = capture_standin::CaptureDriverScript*(WINAPI*)();
using QueueFrameFunction = void(WINAPI*)(const void* bytes, DWORD bytesUsed, DWORD bufferLength);

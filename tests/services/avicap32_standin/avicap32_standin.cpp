// avicap32.dll for the suites: Wine's capture window never opens, and there is no camera.
// capCreateCaptureWindowA makes a real window whose procedure plays capture driver 0 as the
// test scripts it (capture_driver_script.h): connection, formats, the frame callback fed by
// grabs, the capabilities and a real top-level video-source dialog with a tab control.
#include "capture_driver_script.h"

#include <windows.h>
#include <commctrl.h>
#include <vfw.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

using capture_standin::CaptureDriverScript;
using capture_standin::VideoFormat;

namespace {

CaptureDriverScript script{};
struct QueuedFrame {
    std::string bytes;  // bufferLength bytes
    DWORD bytesUsed;
};
std::vector<QueuedFrame> frames;
std::size_t nextFrame = 0;
CAPVIDEOCALLBACK frameCallback = nullptr;
HINSTANCE module = nullptr;

constexpr char kCaptureClass[] = "TavroCaptureStandIn";
constexpr char kDialogClass[] = "TavroVideoSourceStandIn";
// A dialog a broken test never closes ends by itself.
constexpr UINT_PTR kDialogTimeout = 1;

bool accepts(const BITMAPINFOHEADER& h) {
    if (h.biCompression == BI_RGB && h.biBitCount == 24) return script.acceptRgb24;
    if (h.biCompression == mmioFOURCC('Y', 'U', 'Y', '2') && h.biBitCount == 16) return script.acceptYuy2;
    if (h.biCompression == mmioFOURCC('I', '4', '2', '0') && h.biBitCount == 12) return script.acceptI420;
    return false;
}

LRESULT setFormat(WPARAM size, LPARAM format) {
    script.lastSetSize = size;
    if (!format || size < sizeof(BITMAPINFOHEADER)) return FALSE;
    VideoFormat requested{};
    std::memcpy(&requested, reinterpret_cast<const void*>(format), std::min<std::size_t>(size, sizeof(requested)));
    if (script.formatsSet < capture_standin::kMaxRecordedFormats) script.setFormats[script.formatsSet] = requested;
    ++script.formatsSet;
    if (!accepts(requested.header)) return FALSE;
    script.current = requested;
    return TRUE;
}

LRESULT grab(HWND window) {
    ++script.grabs;
    if (script.failGrab || !frameCallback || frames.empty()) return FALSE;
    QueuedFrame& frame = frames[std::min(nextFrame, frames.size() - 1)];
    ++nextFrame;
    VIDEOHDR header{};
    header.lpData = reinterpret_cast<LPBYTE>(frame.bytes.data());
    header.dwBufferLength = DWORD(frame.bytes.size());
    header.dwBytesUsed = frame.bytesUsed;
    header.dwFlags = VHDR_DONE | VHDR_KEYFRAME;
    frameCallback(window, &header);
    return TRUE;
}

LRESULT CALLBACK dialogProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_NOTIFY: {
            const NMHDR* notice = reinterpret_cast<const NMHDR*>(lParam);
            if (notice && notice->code == UINT(TCN_SELCHANGE) && notice->hwndFrom == script.tabControl &&
                notice->idFrom == UINT_PTR(capture_standin::kTabControlId) && wParam == notice->idFrom) {
                ++script.selectionNotices;
            } else {
                ++script.otherNotices;
            }
            return 0;
        }
        case WM_TIMER:
        case WM_CLOSE:
            ::DestroyWindow(window);
            return 0;
        default: return ::DefWindowProcA(window, message, wParam, lParam);
    }
}

// Modal, as a driver's dialog is: returns when the window is closed.
LRESULT showSourceDialog() {
    const RECT& frame = script.dialogFrame;
    // The title comes last: a watcher may find the window by it before it is complete.
    const HWND dialog = ::CreateWindowExA(0, kDialogClass, "", WS_OVERLAPPEDWINDOW | WS_VISIBLE, frame.left,
                                          frame.top, frame.right - frame.left, frame.bottom - frame.top, nullptr,
                                          nullptr, module, nullptr);
    if (!dialog) return FALSE;
    const HWND tabs = ::CreateWindowExA(0, WC_TABCONTROLA, "", WS_CHILD | WS_VISIBLE, 4, 4, 200, 40, dialog,
                                        reinterpret_cast<HMENU>(INT_PTR(capture_standin::kTabControlId)), module,
                                        nullptr);
    for (int i = 0; tabs && i < script.tabCount && i < capture_standin::kMaxTabs; ++i) {
        TCITEMA item{};
        item.mask = TCIF_TEXT;
        item.pszText = script.tabs[i];
        ::SendMessageA(tabs, TCM_INSERTITEMA, WPARAM(i), reinterpret_cast<LPARAM>(&item));
    }
    if (tabs) ::SendMessageA(tabs, TCM_SETCURSEL, WPARAM(script.initialTab), 0);
    script.tabControl = tabs;
    script.dialog = dialog;
    ::SetTimer(dialog, kDialogTimeout, 15000, nullptr);
    ::SetWindowTextA(dialog, "Video Source");

    MSG message;
    while (::IsWindow(dialog) && ::GetMessageA(&message, nullptr, 0, 0) > 0) {
        ::TranslateMessage(&message);
        ::DispatchMessageA(&message);
    }
    return TRUE;
}

LRESULT CALLBACK captureProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_CAP_DRIVER_CONNECT:
            ++script.connects;
            script.connectedIndex = int(wParam);
            return script.failConnect ? FALSE : TRUE;
        case WM_CAP_DRIVER_DISCONNECT:
            ++script.disconnects;
            return script.failDisconnect ? FALSE : TRUE;
        case WM_CAP_GET_VIDEOFORMAT:
            if (lParam) {
                std::memcpy(reinterpret_cast<void*>(lParam), &script.current,
                            std::min<std::size_t>(wParam, sizeof(script.current)));
            }
            return sizeof(script.current);
        case WM_CAP_SET_VIDEOFORMAT: return setFormat(wParam, lParam);
        case WM_CAP_SET_CALLBACK_FRAME:
            if (script.failSetCallback) return FALSE;
            frameCallback = reinterpret_cast<CAPVIDEOCALLBACK>(lParam);
            return TRUE;
        case WM_CAP_GRAB_FRAME: return grab(window);
        case WM_CAP_DRIVER_GET_CAPS: {
            script.lastCapsSize = wParam;
            if (script.failCaps || !lParam || wParam < sizeof(CAPDRIVERCAPS)) return FALSE;
            CAPDRIVERCAPS capabilities{};
            capabilities.fHasDlgVideoSource = script.hasSourceDialog;
            std::memcpy(reinterpret_cast<void*>(lParam), &capabilities, sizeof(capabilities));
            return TRUE;
        }
        case WM_CAP_DLG_VIDEOSOURCE: return script.hasSourceDialog ? showSourceDialog() : FALSE;
        default: return ::DefWindowProcA(window, message, wParam, lParam);
    }
}

void registerClasses() {
    WNDCLASSA capture{};
    capture.lpfnWndProc = captureProcedure;
    capture.hInstance = module;
    capture.lpszClassName = kCaptureClass;
    ::RegisterClassA(&capture);
    WNDCLASSA dialog{};
    dialog.lpfnWndProc = dialogProcedure;
    dialog.hInstance = module;
    dialog.lpszClassName = kDialogClass;
    dialog.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    ::RegisterClassA(&dialog);
    INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_TAB_CLASSES};
    ::InitCommonControlsEx(&controls);
}

}  // namespace

extern "C" {

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) module = instance;
    return TRUE;
}

HWND WINAPI capCreateCaptureWindowA(LPCSTR title, DWORD style, int x, int y, int width, int height, HWND parent,
                                    int id) {
    static const bool registered = (registerClasses(), true);
    (void)registered;
    if (script.failCreate) return nullptr;
    auto create = [=] {
        return ::CreateWindowExA(0, kCaptureClass, title, style, x, y, width, height, parent,
                                 reinterpret_cast<HMENU>(INT_PTR(id)), module, nullptr);
    };
    HWND window = nullptr;
    if (script.foreignWindow) {
        // A thread of its own answers the window's messages until the process ends.
        const HANDLE created = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
        std::thread([&window, created, create] {
            window = create();
            ::SetEvent(created);
            MSG message;
            while (::GetMessageA(&message, nullptr, 0, 0) > 0) ::DispatchMessageA(&message);
        }).detach();
        ::WaitForSingleObject(created, INFINITE);
        ::CloseHandle(created);
    } else {
        window = create();
    }
    ++script.windowsCreated;
    script.lastWindow = window;
    std::strncpy(script.lastTitle, title ? title : "", sizeof(script.lastTitle) - 1);
    script.lastStyle = style;
    script.lastX = x;
    script.lastY = y;
    script.lastWidth = width;
    script.lastHeight = height;
    script.lastParent = parent;
    script.lastId = id;
    return window;
}

HWND WINAPI capCreateCaptureWindowW(LPCWSTR, DWORD, int, int, int, int, HWND, int) { return nullptr; }

BOOL WINAPI capGetDriverDescriptionA(UINT, LPSTR, int, LPSTR, int) { return FALSE; }

BOOL WINAPI capGetDriverDescriptionW(UINT, LPWSTR, int, LPWSTR, int) { return FALSE; }

capture_standin::CaptureDriverScript* WINAPI captureDriverScript() { return &script; }

void WINAPI captureDriverQueueFrame(const void* bytes, DWORD bytesUsed, DWORD bufferLength) {
    QueuedFrame frame{std::string(bufferLength, '\0'), bytesUsed};
    if (bytes) std::memcpy(frame.bytes.data(), bytes, std::min(bytesUsed, bufferLength));
    frames.push_back(std::move(frame));
}

}  // extern "C"

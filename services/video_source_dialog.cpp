// The capture driver's video-source dialog, shown through a capture window of its own, and
// the watcher thread that keeps it centred, on its "Capture Source" page and in front of
// the application's windows while it is shown.
#include "webcam.h"

#include <tavro/boundary.h>

#include <com_vyk_util_jni_Korvix.h>

#include <windows.h>
#include <commctrl.h>
#include <vfw.h>

#include <algorithm>
#include <atomic>
#include <cstring>

namespace korvix {

namespace {

// Set while the dialog is shown; the watcher ends once it is clear. The generation tells a
// watcher left over from an earlier dialog (it ends within one pass) from the current one.
std::atomic<bool> dialogShown{false};
std::atomic<unsigned> dialogGeneration{0};

#if defined(__i386__)
static_assert(sizeof(CAPDRIVERCAPS) == 44, "the driver capabilities record of the 32-bit product");
#endif

constexpr DWORD kWatchIntervalMs = 100;
constexpr char kDialogTitle[] = "Video Source";
constexpr char kCaptureSourceTab[] = "Capture Source";
constexpr char kApplicationTitlePrefix[] = "Glimmo";

// Turns the tab control to its "Capture Source" page, as a click on that tab would.
void selectCaptureSourceTab(HWND dialog, HWND tabs) {
    const LRESULT count = ::SendMessageA(tabs, TCM_GETITEMCOUNT, 0, 0);
    for (LRESULT index = 0; index < count; ++index) {
        char text[255] = {};
        TCITEMA item{};
        item.mask = TCIF_TEXT;
        item.pszText = text;
        item.cchTextMax = sizeof(text);
        if (!::SendMessageA(tabs, TCM_GETITEMA, WPARAM(index), reinterpret_cast<LPARAM>(&item))) return;
        if (std::strcmp(text, kCaptureSourceTab) != 0) continue;
        if (::SendMessageA(tabs, TCM_SETCURSEL, WPARAM(index), 0) != -1) {
            NMHDR notice{};
            notice.hwndFrom = tabs;
            notice.idFrom = UINT_PTR(::GetDlgCtrlID(tabs));
            notice.code = UINT(TCN_SELCHANGE);
            ::SendMessageA(dialog, WM_NOTIFY, notice.idFrom, reinterpret_cast<LPARAM>(&notice));
        }
        return;
    }
}

// Once, when the dialog is first found: centre it, bring it forward, turn to its page.
void arrangeDialog(HWND dialog) {
    RECT frame{};
    if (::GetWindowRect(dialog, &frame)) {
        const int width = frame.right - frame.left + 1;
        const int height = frame.bottom - frame.top + 1;
        // A dialog larger than the screen keeps its title bar on the screen.
        const int x = std::max(0, (::GetSystemMetrics(SM_CXSCREEN) - width) / 2);
        const int y = std::max(0, (::GetSystemMetrics(SM_CYSCREEN) - height) / 2);
        ::MoveWindow(dialog, x, y, width, height, TRUE);
    }
    ::SetForegroundWindow(dialog);
    if (const HWND tabs = ::FindWindowExA(dialog, nullptr, "SysTabControl32", nullptr)) {
        selectCaptureSourceTab(dialog, tabs);
    }
}

bool applicationIsInFront() {
    const HWND front = ::GetForegroundWindow();
    if (!front) return false;
    char title[256] = {};
    ::GetWindowTextA(front, title, sizeof(title));
    return std::strncmp(title, kApplicationTitlePrefix, sizeof(kApplicationTitlePrefix) - 1) == 0;
}

DWORD WINAPI watchDialog(LPVOID generationValue) {
    const unsigned generation = unsigned(reinterpret_cast<UINT_PTR>(generationValue));
    tavro::guardBoundary([generation] {
        HWND dialog = nullptr;
        while (dialogShown.load() && dialogGeneration.load() == generation) {
            if (!dialog) {
                if (const HWND found = ::FindWindowA(nullptr, kDialogTitle)) {
                    arrangeDialog(found);
                    dialog = found;
                }
            }
            if (dialog && applicationIsInFront()) ::SetForegroundWindow(dialog);
            ::Sleep(kWatchIntervalMs);
        }
    });
    return 0;
}

void startWatcher() {
    const unsigned generation = ++dialogGeneration;
    dialogShown.store(true);
    // Never joined: it ends by itself within one pass after the flag is cleared.
    const HANDLE thread =
        ::CreateThread(nullptr, 0, watchDialog, reinterpret_cast<LPVOID>(UINT_PTR(generation)), 0, nullptr);
    if (thread) ::CloseHandle(thread);
}

}  // namespace

bool isVideoSourceDialogAvailable() {
    CAPDRIVERCAPS capabilities{};
    if (!sendCaptureMessage(captureWindow(), WM_CAP_DRIVER_GET_CAPS, sizeof(capabilities),
                            reinterpret_cast<LPARAM>(&capabilities))) {
        return false;
    }
    return capabilities.fHasDlgVideoSource != FALSE;
}

bool showVideoSourceDialog() {
    // An open webcam is closed first: the dialog's window takes over the field.
    abandonWebcam();
    const HWND window = createCaptureWindow();
    if (!window) return false;
    if (!setCaptureWindow(window)) {
        ::DestroyWindow(window);
        return false;
    }
    if (!sendCaptureMessage(window, WM_CAP_DRIVER_CONNECT, 0, 0)) {
        ::DestroyWindow(window);
        setCaptureWindow(nullptr);
        return false;  // no dialog was shown, whether or not the window went
    }

    startWatcher();
    sendCaptureMessage(window, WM_CAP_DLG_VIDEOSOURCE, 0, 0);  // modal: returns when it is closed
    dialogShown.store(false);

    const bool disconnected = sendCaptureMessage(window, WM_CAP_DRIVER_DISCONNECT, 0, 0) != 0;
    const bool destroyed = ::IsWindow(window) && ::DestroyWindow(window);
    // A window the driver would not let go of is destroyed all the same: none stays behind.
    setCaptureWindow(nullptr);
    return disconnected && destroyed;
}

}  // namespace korvix

extern "C" {

JNIEXPORT jboolean JNICALL Java_com_vyk_util_jni_Korvix_showVideoSourceDialog(JNIEnv*, jclass) {
    return tavro::guardBoundary<jboolean>(JNI_FALSE,
                                          [] { return korvix::showVideoSourceDialog() ? JNI_TRUE : JNI_FALSE; });
}

JNIEXPORT jboolean JNICALL Java_com_vyk_util_jni_Korvix_isVideoSourceDialogAvailable(JNIEnv*, jclass) {
    return tavro::guardBoundary<jboolean>(JNI_FALSE,
                                          [] { return korvix::isVideoSourceDialogAvailable() ? JNI_TRUE : JNI_FALSE; });
}

}  // extern "C"

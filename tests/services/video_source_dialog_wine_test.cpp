// The video-source dialog under Wine and Xvfb: the stand-in driver shows a real top-level
// "Video Source" window with a tab control; a thread of the test watches it as a user would,
// raises windows of its own over it and closes it.
#include "webcam_test_support.h"

#include <commctrl.h>
#include <tlhelp32.h>

#include <tavro/win_handles.h>
#include <tavro_test/import_patch.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace korvix::test {
namespace {

// Polls `done` for up to `milliseconds`, answering this thread's messages meanwhile (the
// library's watcher reads the titles of windows this thread owns).
template <typename Done>
bool waitUntil(Done done, int milliseconds) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    while (true) {
        MSG message;
        while (::PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageA(&message);
        if (done()) return true;
        if (std::chrono::steady_clock::now() > end) return false;
        ::Sleep(10);
    }
}

// Each pass of the library's watcher asks which window is in front: counted at Korvix's import.
std::atomic<int> watcherLooks{0};
decltype(&::GetForegroundWindow) realGetForegroundWindow = nullptr;
HWND WINAPI countingGetForegroundWindow() {
    ++watcherLooks;
    return realGetForegroundWindow();
}

// What the watching thread saw while the dialog was shown.
struct Observation {
    bool found = false;
    RECT frame{};
    bool framed = false;  // the frame reached the expected one
    int selectedTab = -1;
    bool inFront = false;
    bool otherWindowKeptFront = false;
    bool glimmoWasFront = false;
    bool broughtBack = false;
    bool watched = true;       // the library's watcher made its passes where nothing was to change
    bool watchedOther = false;
};

RECT centred(int width, int height) {
    const int x = (::GetSystemMetrics(SM_CXSCREEN) - width) / 2;
    const int y = (::GetSystemMetrics(SM_CYSCREEN) - height) / 2;
    return {x, y, x + width, y + height};
}

int threadsOfThisProcess() {
    const tavro::UniqueHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
    THREADENTRY32 entry{};
    entry.dwSize = sizeof(entry);
    int count = 0;
    for (BOOL more = ::Thread32First(snapshot.get(), &entry); more; more = ::Thread32Next(snapshot.get(), &entry)) {
        if (entry.th32OwnerProcessID == ::GetCurrentProcessId()) ++count;
    }
    return count;
}

bool sameRect(const RECT& a, const RECT& b) {
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

class VideoSourceDialog : public WebcamTest {
protected:
    void SetUp() override {
        WebcamTest::SetUp();
        driver->hasSourceDialog = TRUE;
        driver->dialogFrame = {30, 40, 330, 240};  // 300 x 200, off centre
    }

    void tabs(std::initializer_list<const char*> names, int initial) {
        driver->tabCount = 0;
        for (const char* name : names) std::strncpy(driver->tabs[driver->tabCount++], name, 31);
        driver->initialTab = initial;
    }

    // Shows the dialog while another thread watches it, raises a window titled `otherTitle`
    // and then one titled "Glimmo Studio" over it, and closes it.
    Observation showAndWatch(const RECT& expectedFrame, bool expectSelection) {
        return showAndWatch([expectedFrame](const RECT& frame) { return sameRect(frame, expectedFrame); },
                            expectSelection);
    }
    Observation showAndWatch(const std::function<bool(const RECT&)>& framed, bool expectSelection) {
        Observation seen;
        realGetForegroundWindow = reinterpret_cast<decltype(realGetForegroundWindow)>(
            reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"user32.dll"), "GetForegroundWindow")));
        EXPECT_NE(realGetForegroundWindow, nullptr);
        const tavro::test::ImportPatch looks(korvixLibrary(), "user32.dll", "GetForegroundWindow",
                                             reinterpret_cast<void*>(&countingGetForegroundWindow));
        EXPECT_TRUE(looks.active());
        // Two more looks: the pass that began after now has ended and acted on what it saw.
        auto twoWatcherPasses = [] {
            const int start = watcherLooks.load();
            return waitUntil([start] { return watcherLooks.load() >= start + 2; }, 3000);
        };
        std::thread watcher([&] {
            HWND dialog = nullptr;
            seen.found = waitUntil([&] { return (dialog = ::FindWindowA(nullptr, "Video Source")) != nullptr; }, 5000);
            if (!seen.found) return;
            seen.framed = waitUntil([&] { return ::GetWindowRect(dialog, &seen.frame) && framed(seen.frame); },
                                    3000);
            if (expectSelection) waitUntil([&] { return driver->selectionNotices > 0; }, 3000);
            else seen.watched = twoWatcherPasses();
            seen.selectedTab = int(::SendMessageA(driver->tabControl, TCM_GETCURSEL, 0, 0));
            seen.inFront = waitUntil([&] { return ::GetForegroundWindow() == dialog; }, 3000);

            const HWND other = ::CreateWindowExA(0, "STATIC", "Untitled - Notepad", WS_OVERLAPPEDWINDOW | WS_VISIBLE,
                                                 100, 100, 200, 100, nullptr, nullptr, nullptr, nullptr);
            ::SetForegroundWindow(other);
            seen.watchedOther = twoWatcherPasses();
            seen.otherWindowKeptFront = ::GetForegroundWindow() == other;
            ::SetWindowTextA(other, "Glimmo Studio - untitled");
            ::SetForegroundWindow(other);
            seen.glimmoWasFront = ::GetForegroundWindow() == other;
            seen.broughtBack = waitUntil([&] { return ::GetForegroundWindow() == dialog; }, 3000);
            ::DestroyWindow(other);
            ::PostMessageA(dialog, WM_CLOSE, 0, 0);
        });
        const bool shown = showDialog();
        watcher.join();
        EXPECT_TRUE(shown);
        if (seen.found) {
            EXPECT_TRUE(seen.watched) << "the library's watcher made no passes over the dialog";
            EXPECT_TRUE(seen.watchedOther) << "the library's watcher made no passes over the other window";
        }
        return seen;
    }
};

TEST_F(VideoSourceDialog, AvailableOnlyWhenTheOpenDriverOffersIt) {
    EXPECT_FALSE(dialogAvailable());  // no capture window yet
    rgbCamera();
    ASSERT_EQ(open(), 0);
    EXPECT_TRUE(dialogAvailable());
    EXPECT_EQ(driver->lastCapsSize, sizeof(CAPDRIVERCAPS));
    driver->hasSourceDialog = FALSE;
    EXPECT_FALSE(dialogAvailable());
    driver->hasSourceDialog = TRUE;
    driver->failCaps = TRUE;
    EXPECT_FALSE(dialogAvailable());
    driver->failCaps = FALSE;
    ASSERT_EQ(close(), 0);
    EXPECT_FALSE(dialogAvailable());
}

TEST_F(VideoSourceDialog, IsCentredTurnedToCaptureSourceAndKeptInFrontOfTheApplication) {
    tabs({"Video Format", "Picture", "Capture Source"}, 0);
    const int threadsBefore = threadsOfThisProcess();
    Observation seen = showAndWatch(centred(301, 201), true);  // one pixel larger each way
    // The library's watcher ends by itself within a pass of the dialog's end.
    EXPECT_TRUE(waitUntil([&] { return threadsOfThisProcess() <= threadsBefore; }, 2000))
        << threadsOfThisProcess() << " threads, " << threadsBefore << " before";
    EXPECT_TRUE(seen.found);
    EXPECT_TRUE(seen.framed) << seen.frame.left << "," << seen.frame.top << " - " << seen.frame.right << ","
                             << seen.frame.bottom;
    EXPECT_EQ(seen.selectedTab, 2);
    EXPECT_EQ(driver->selectionNotices, 1);
    EXPECT_EQ(driver->otherNotices, 0);
    EXPECT_TRUE(seen.inFront);
    EXPECT_TRUE(seen.otherWindowKeptFront) << "only the application's windows give way";
    EXPECT_TRUE(seen.glimmoWasFront);
    EXPECT_TRUE(seen.broughtBack);

    // Its own capture window on driver 0, gone afterwards with the driver let go.
    EXPECT_STREQ(driver->lastTitle, "My Capture Window");
    EXPECT_EQ(driver->connects, 1);
    EXPECT_EQ(driver->disconnects, 1);
    EXPECT_FALSE(::IsWindow(driver->lastWindow));
    EXPECT_FALSE(dialogAvailable());
    EXPECT_EQ(read(javaBytes(640 * 480 * 3)), -1);
    EXPECT_EQ(close(), -1);
}

TEST_F(VideoSourceDialog, WithoutACaptureSourceTabKeepsItsPage) {
    tabs({"Video Format", "Picture", "Capture source"}, 1);  // the case differs
    Observation seen = showAndWatch(centred(301, 201), false);
    EXPECT_TRUE(seen.framed);
    EXPECT_EQ(seen.selectedTab, 1);
    EXPECT_EQ(driver->selectionNotices + driver->otherNotices, 0);
    EXPECT_TRUE(seen.broughtBack);
}

TEST_F(VideoSourceDialog, LargerThanTheScreenStaysOnIt) {
    tabs({"Capture Source"}, 0);
    driver->dialogFrame = {10, 10, 10 + ::GetSystemMetrics(SM_CXSCREEN) + 100, 300};
    // The window system may trim the size; the place is the library's.
    const int top = (::GetSystemMetrics(SM_CYSCREEN) - 291) / 2;
    const Observation seen =
        showAndWatch([top](const RECT& frame) { return frame.left == 0 && frame.top == top; }, true);
    EXPECT_TRUE(seen.framed) << seen.frame.left << "," << seen.frame.top;
}

TEST_F(VideoSourceDialog, ClosesAnOpenWebcamFirst) {
    tabs({"Capture Source"}, 0);
    dvCamera(64, 48);
    ASSERT_EQ(open(), 0);
    const HWND webcamWindow = driver->lastWindow;
    showAndWatch(centred(301, 201), true);
    EXPECT_FALSE(::IsWindow(webcamWindow));
    EXPECT_EQ(driver->disconnects, 2);
    EXPECT_EQ(codec->openInstances, 0);
    EXPECT_EQ(read(javaBytes(64 * 48 * 3)), -1);
    ASSERT_EQ(open(), 0);  // a new open works as before
    EXPECT_EQ(close(), 0);
}

TEST_F(VideoSourceDialog, FailuresAnswerFalseAndLeaveNoWindow) {
    struct Case {
        const char* what;
        void (*script)(CaptureDriverScript&);
        bool dialogShown;
    };
    for (const Case& c : {
             Case{"window not created", [](CaptureDriverScript& d) { d.failCreate = TRUE; }, false},
             Case{"driver not connected", [](CaptureDriverScript& d) { d.failConnect = TRUE; }, false},
             Case{"driver not let go", [](CaptureDriverScript& d) { d.failDisconnect = TRUE; }, true},
             Case{"window not destroyed", [](CaptureDriverScript& d) { d.foreignWindow = TRUE; }, true},
         }) {
        SCOPED_TRACE(c.what);
        *driver = CaptureDriverScript{};
        driver->hasSourceDialog = TRUE;
        driver->dialogFrame = {30, 40, 330, 240};
        c.script(*driver);
        std::thread closer;
        if (c.dialogShown) {
            closer = std::thread([] {
                HWND dialog = nullptr;
                waitUntil([&] { return (dialog = ::FindWindowA(nullptr, "Video Source")) != nullptr; }, 5000);
                ::PostMessageA(dialog, WM_CLOSE, 0, 0);
            });
        }
        EXPECT_FALSE(showDialog());
        if (closer.joinable()) closer.join();
        EXPECT_EQ(driver->dialog != nullptr, c.dialogShown);
        if (driver->lastWindow && !driver->foreignWindow) {
            EXPECT_FALSE(::IsWindow(driver->lastWindow));
        }
        EXPECT_FALSE(dialogAvailable());
    }
}

}  // namespace
}  // namespace korvix::test

// What the dialog suites share: the chooser object in the Java VM stand-in, the library's
// stdout lines, windows to own dialogs, and a driver thread that works a dialog as a user would.
#pragma once

#include <com_vyk_io_VistaFileChooser.h>
#include <java_vm_standin.h>
#include <tavro_test/import_patch.h>
#include <tavro_test/scratch.h>

#include <windows.h>
#include <objbase.h>
#include <shlwapi.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace pickora::test {

using tavro::test::JavaVmStandIn;

// The Java chooser's state as its getters answer it, and what setSelectedFiles received.
struct ChooserState {
    std::optional<std::u16string> currentDirectory;
    std::optional<std::u16string> selectedShortFileName;
    std::optional<std::u16string> dialogTitle;
    bool multiSelectionEnabled = false;
    bool directorySelectionEnabled = false;
    jint fileFilterIndex = 0;
    // nullopt: getFileFilters answers null; a null inner row is an empty optional too.
    std::optional<std::vector<std::optional<std::vector<std::u16string>>>> fileFilters =
        std::vector<std::optional<std::vector<std::u16string>>>{};
    std::optional<std::u16string> fileFilterString;

    std::vector<std::string> calls;  // the chooser's methods in the order they were called
    int setSelectedFilesCalls = 0;
    std::vector<std::u16string> selectedFiles;
};

// Defines com/vyk/io/VistaFileChooser in the VM, answering from `state`; returns an instance.
jobject defineChooser(JavaVmStandIn& vm, ChooserState& state);

// Everything the library writes to stdout while `run` runs, as lines.
std::vector<std::string> captureStdoutLines(const std::function<void()>& run);

// A visible top-level window of the test (owner candidates); destroyed with the object.
class TestWindow {
public:
    explicit TestWindow(const wchar_t* title);
    ~TestWindow();
    TestWindow(const TestWindow&) = delete;
    TestWindow& operator=(const TestWindow&) = delete;
    HWND get() const { return window_; }
    void bringToForeground() const;

private:
    HWND window_;
};

std::wstring hexHandle(HWND window);

// What the driver saw of the dialog it worked.
struct DialogSeen {
    bool found = false;
    HWND owner = nullptr;
    std::wstring title;
    std::vector<std::string> problems;  // steps that did not work as a user's would
};

// The dialog's controls as a user sees them.
HWND fileNameEdit(HWND dialog);
void typeText(HWND control, const std::wstring& text);
// Selects the named entry in the dialog's file list and presses Enter on it.
// `beforeEntering` runs once the entry is listed, before it is entered.
bool openListItem(HWND dialog, const std::wstring& name, const std::function<void()>& beforeEntering = {});
void pressOk(HWND dialog);
void pressCancel(HWND dialog);
// Waits (bounded) until `dialog` is gone; false when it is still there.
bool waitUntilClosed(HWND dialog, std::chrono::milliseconds limit);
// Waits (bounded) for a visible dialog (class #32770) of this process other than `except`.
HWND waitForDialog(std::chrono::milliseconds limit, HWND except = nullptr);

// Runs `act` on another thread once a dialog of this process appears. Every wait is bounded:
// when no dialog appears, or the dialog outlives the script, whatever dialog is found gets
// cancelled so the call under test returns.
class DialogDriver {
public:
    using Script = std::function<void(HWND dialog, DialogSeen& seen)>;
    explicit DialogDriver(Script act);
    ~DialogDriver();
    DialogDriver(const DialogDriver&) = delete;
    DialogDriver& operator=(const DialogDriver&) = delete;
    // Joins the thread and answers what it saw.
    DialogSeen finish();

private:
    DialogSeen seen_;  // before the thread, which writes it from its first moment
    std::thread thread_;
};

// Directory of the test program (where Pickora.dll and the stand-in jawt.dll lie).
std::wstring programDirectory();

// The library's exports, found in Pickora.dll beside the program by their plain JNI names as
// the Java VM finds them, and called through the header's JNICALL types (stdcall on i686).
struct PickoraExports {
    HMODULE library;
    decltype(&Java_com_vyk_io_VistaFileChooser_handleOpenDialog) handleOpenDialog;
    decltype(&Java_com_vyk_io_VistaFileChooser_handleSaveDialog) handleSaveDialog;
};
const PickoraExports& pickora();
// A scratch folder in which a test lays out files and folders.
class TempFolder : public tavro::test::ScratchFolder {
public:
    TempFolder() : ScratchFolder(L"pickora") {}
    std::wstring make(const std::wstring& relative, bool folder) const;  // creates a file or folder
};

// Points one import of a module at a replacement until destroyed.
using tavro::test::ImportPatch;

std::u16string u16(const std::wstring& text);
std::string narrow(const std::wstring& text);  // ACP, as the library writes paths

}  // namespace pickora::test

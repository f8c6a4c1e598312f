#include "dialog_test_support.h"

#include <commctrl.h>
#include <shellapi.h>

#include <cstdio>
#include <cstdlib>
#include <sstream>

namespace pickora::test {

std::u16string u16(const std::wstring& text) { return std::u16string(text.begin(), text.end()); }

std::string narrow(const std::wstring& text) {
    if (text.empty()) return {};
    const int bytes = WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(bytes), '\0');
    WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), out.data(), bytes, nullptr, nullptr);
    return out;
}

jobject defineChooser(JavaVmStandIn& vm, ChooserState& state) {
    const std::string cls = "com/vyk/io/VistaFileChooser";
    auto stringGetter = [&state](std::optional<std::u16string> ChooserState::*field, const char* name) {
        return [&state, field, name](JavaVmStandIn& v, jobject, const std::vector<jvalue>&) {
            state.calls.push_back(name);
            jvalue result{};
            result.l = (state.*field) ? v.newString(*(state.*field)) : nullptr;
            return result;
        };
    };
    vm.defineMethod(cls, "getCurrentDirectoryString", "()Ljava/lang/String;", stringGetter(&ChooserState::currentDirectory, "getCurrentDirectoryString"));
    vm.defineMethod(cls, "getSelectedShortFileName", "()Ljava/lang/String;",
                    stringGetter(&ChooserState::selectedShortFileName, "getSelectedShortFileName"));
    vm.defineMethod(cls, "getDialogTitle", "()Ljava/lang/String;", stringGetter(&ChooserState::dialogTitle, "getDialogTitle"));
    vm.defineMethod(cls, "getFileFilterString", "()Ljava/lang/String;", stringGetter(&ChooserState::fileFilterString, "getFileFilterString"));
    vm.defineMethod(cls, "isMultiSelectionEnabled", "()Z", [&state](JavaVmStandIn&, jobject, const std::vector<jvalue>&) {
        state.calls.push_back("isMultiSelectionEnabled");
                        jvalue result{};
        result.z = state.multiSelectionEnabled ? JNI_TRUE : JNI_FALSE;
        return result;
    });
    vm.defineMethod(cls, "isDirectorySelectionEnabled", "()Z",
                    [&state](JavaVmStandIn&, jobject, const std::vector<jvalue>&) {
                        state.calls.push_back("isDirectorySelectionEnabled");
                        jvalue result{};
                        result.z = state.directorySelectionEnabled ? JNI_TRUE : JNI_FALSE;
                        return result;
                    });
    vm.defineMethod(cls, "getFileFilterIndex", "()I", [&state](JavaVmStandIn&, jobject, const std::vector<jvalue>&) {
        state.calls.push_back("getFileFilterIndex");
                        jvalue result{};
        result.i = state.fileFilterIndex;
        return result;
    });
    vm.defineMethod(cls, "getFileFilters", "()[[Ljava/lang/String;",
                    [&state](JavaVmStandIn& v, jobject, const std::vector<jvalue>&) {
                        state.calls.push_back("getFileFilters");
                        jvalue result{};
                        if (!state.fileFilters) return result;
                        std::vector<jobject> rows;
                        for (const auto& row : *state.fileFilters) rows.push_back(row ? v.newStringArray(*row) : nullptr);
                        result.l = v.newObjectArray("[Ljava/lang/String;", rows);
                        return result;
                    });
    vm.defineMethod(cls, "setSelectedFiles", "([Ljava/lang/String;)V",
                    [&state](JavaVmStandIn& v, jobject, const std::vector<jvalue>& args) {
                        state.calls.push_back("setSelectedFiles");
                        ++state.setSelectedFilesCalls;
                        state.selectedFiles = v.stringArrayValue(static_cast<jobjectArray>(args.at(0).l));
                        return jvalue{};
                    });
    return vm.newObject(cls);
}

std::vector<std::string> captureStdoutLines(const std::function<void()>& run) {
    tavro::test::StdoutCapture capture;
    run();
    std::istringstream text(capture.finish());
    std::vector<std::string> lines;
    std::string line;
    while (std::getline(text, line)) lines.push_back(line);
    return lines;
}

TestWindow::TestWindow(const wchar_t* title) {
    static const ATOM windowClass = [] {
        WNDCLASSW wc{};
        wc.lpfnWndProc = DefWindowProcW;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = L"PickoraTestOwner";
        return RegisterClassW(&wc);
    }();
    (void)windowClass;
    window_ = CreateWindowExW(0, L"PickoraTestOwner", title, WS_OVERLAPPEDWINDOW | WS_VISIBLE, 40, 40, 300, 200,
                              nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
}

TestWindow::~TestWindow() {
    if (window_) DestroyWindow(window_);
}

void TestWindow::bringToForeground() const {
    SetForegroundWindow(window_);
    MSG msg;
    for (int i = 0; i < 20 && GetForegroundWindow() != window_; ++i) {
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
        Sleep(10);
    }
}

std::wstring hexHandle(HWND window) {
    wchar_t text[32];
    swprintf(text, 32, L"%llx", static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(window)));
    return text;
}

namespace {

struct DialogSearch {
    HWND except;
    HWND found;
};

BOOL CALLBACK findDialog(HWND window, LPARAM param) {
    auto* search = reinterpret_cast<DialogSearch*>(param);
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    wchar_t className[32] = {};
    GetClassNameW(window, className, 32);
    if (process == GetCurrentProcessId() && window != search->except && IsWindowVisible(window) &&
        wcscmp(className, L"#32770") == 0) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

struct EditSearch {
    HWND found;
};

BOOL CALLBACK findEdit(HWND window, LPARAM param) {
    auto* search = reinterpret_cast<EditSearch*>(param);
    wchar_t className[32] = {};
    GetClassNameW(window, className, 32);
    if (_wcsicmp(className, L"Edit") == 0 && IsWindowVisible(window)) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

}  // namespace

HWND waitForDialog(std::chrono::milliseconds limit, HWND except) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    do {
        DialogSearch search{except, nullptr};
        EnumWindows(findDialog, reinterpret_cast<LPARAM>(&search));
        if (search.found) return search.found;
        Sleep(50);
    } while (std::chrono::steady_clock::now() < deadline);
    return nullptr;
}

HWND fileNameEdit(HWND dialog) {
    // The classic dialog's name box is combo cmb13 (0x47c) or edit edt1 (0x480); the item
    // dialogs have one visible edit for the name.
    HWND combo = GetDlgItem(dialog, 0x47c);
    if (combo) {
        EditSearch search{nullptr};
        EnumChildWindows(combo, findEdit, reinterpret_cast<LPARAM>(&search));
        if (search.found) return search.found;
    }
    if (HWND edit = GetDlgItem(dialog, 0x480)) return edit;
    EditSearch search{nullptr};
    EnumChildWindows(dialog, findEdit, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

namespace {
struct ClassSearch {
    const wchar_t* className;
    HWND found;
};

BOOL CALLBACK findByClass(HWND window, LPARAM param) {
    auto* search = reinterpret_cast<ClassSearch*>(param);
    wchar_t className[64] = {};
    GetClassNameW(window, className, 64);
    if (_wcsicmp(className, search->className) == 0 && IsWindowVisible(window)) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}
}  // namespace

bool openListItem(HWND dialog, const std::wstring& name, const std::function<void()>& beforeEntering) {
    ClassSearch search{L"SysListView32", nullptr};
    EnumChildWindows(dialog, findByClass, reinterpret_cast<LPARAM>(&search));
    if (!search.found) return false;
    LVFINDINFOW find{};
    find.flags = LVFI_STRING;
    find.psz = name.c_str();
    // The view fills itself in the background: wait for the entry (up to 10 s).
    LRESULT index = -1;
    for (int attempt = 0; attempt < 200 && index < 0; ++attempt) {
        index = SendMessageW(search.found, LVM_FINDITEMW, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(&find));
        if (index < 0) Sleep(50);
    }
    if (index < 0) return false;
    if (beforeEntering) beforeEntering();
    LVITEMW item{};
    item.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    item.state = LVIS_SELECTED | LVIS_FOCUSED;
    SendMessageW(search.found, LVM_SETITEMSTATE, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&item));
    SendMessageW(search.found, WM_KEYDOWN, VK_RETURN, 0);
    SendMessageW(search.found, WM_KEYUP, VK_RETURN, 0);
    return true;
}

void typeText(HWND control, const std::wstring& text) {
    SendMessageW(control, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

void pressOk(HWND dialog) {
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDOK)));
}

void pressCancel(HWND dialog) {
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDCANCEL)));
}

bool waitUntilClosed(HWND dialog, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (IsWindow(dialog) && IsWindowVisible(dialog)) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        Sleep(30);
    }
    return true;
}

DialogDriver::DialogDriver(Script act)
    : thread_([this, act = std::move(act)] {
          using namespace std::chrono_literals;
          HWND dialog = waitForDialog(8s);
          if (!dialog) {
              seen_.problems.push_back("no dialog appeared");
              // One that turns up late is still closed, so the call under test ends.
              if (HWND late = waitForDialog(20s)) {
                  pressCancel(late);
                  PostMessageW(late, WM_CLOSE, 0, 0);
              }
              return;
          }
          seen_.found = true;
          seen_.owner = GetWindow(dialog, GW_OWNER);
          wchar_t title[256] = {};
          GetWindowTextW(dialog, title, 256);
          seen_.title = title;
          act(dialog, seen_);
          // The script's last step may still be on its way to the dialog.
          waitUntilClosed(dialog, 3s);
          // Whatever the script left open is cancelled, so the call under test ends.
          for (int attempt = 0; attempt < 50; ++attempt) {
              HWND left = waitForDialog(200ms);
              if (!left) return;
              seen_.problems.push_back("a dialog was still open after the script");
              pressCancel(left);
              PostMessageW(left, WM_CLOSE, 0, 0);
              waitUntilClosed(left, 1s);
          }
      }) {}

DialogDriver::~DialogDriver() {
    if (thread_.joinable()) thread_.join();
}

DialogSeen DialogDriver::finish() {
    if (thread_.joinable()) thread_.join();
    return seen_;
}

std::wstring programDirectory() {
    wchar_t path[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring directory(path, length);
    return directory.substr(0, directory.find_last_of(L'\\'));
}

const PickoraExports& pickora() {
    static const PickoraExports exports = [] {
        // Stays loaded, as under the Java VM.
        const HMODULE library = LoadLibraryW((programDirectory() + L"\\Pickora.dll").c_str());
        const auto find = [library](const char* name) {
            const FARPROC function = library ? GetProcAddress(library, name) : nullptr;
            if (!function) {
                std::fprintf(stderr, "Pickora.dll has no export %s\n", name);
                std::abort();
            }
            return reinterpret_cast<void*>(function);
        };
        return PickoraExports{
            library,
            reinterpret_cast<decltype(&Java_com_vyk_io_VistaFileChooser_handleOpenDialog)>(
                find("Java_com_vyk_io_VistaFileChooser_handleOpenDialog")),
            reinterpret_cast<decltype(&Java_com_vyk_io_VistaFileChooser_handleSaveDialog)>(
                find("Java_com_vyk_io_VistaFileChooser_handleSaveDialog"))};
    }();
    return exports;
}

std::wstring TempFolder::make(const std::wstring& relative, bool folder) const {
    const std::wstring path = file(relative);
    if (folder) {
        CreateDirectoryW(path.c_str(), nullptr);
    } else {
        HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    }
    return path;
}

}  // namespace pickora::test

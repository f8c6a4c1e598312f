// Item dialogs served in the test process under the real class ids (CoRegisterClassObject),
// so the library's CoCreateInstance gets them: they record what the library set and answer
// Show and the result queries as the test scripted, including failures a real dialog never
// gives after a successful Show.
#pragma once

#include <windows.h>
#include <shobjidl.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace pickora::test {

struct FakeDialogScript {
    HRESULT createResult = S_OK;  // what creating a dialog answers when it fails
    FILEOPENDIALOGOPTIONS initialOptions = 0;
    HRESULT showResult = S_OK;
    // Runs inside Show with the advised events (null when none), before Show answers.
    std::function<void(IFileDialogEvents*, IFileDialog*)> duringShow;
    HRESULT getResultsResult = S_OK;  // IFileOpenDialog::GetResults
    HRESULT getCountResult = S_OK;
    // The chosen items; nullopt: GetDisplayName fails for that item.
    std::vector<std::optional<std::wstring>> items;
    std::vector<DWORD> failingItemIndexes;  // GetItemAt fails for these
};

struct FakeDialogRecord {
    bool created = false;
    std::vector<FILEOPENDIALOGOPTIONS> setOptionsCalls;
    std::optional<std::wstring> folder, fileName, title;
    bool fileTypesSet = false;
    HWND showOwner = nullptr;
    int showCalls = 0;
    int adviseCalls = 0, unadviseCalls = 0;
    std::optional<HRESULT> closeCode;
    LONG liveObjects = 0;  // dialogs, arrays and items not yet released
};

// Registers both fake classes for the current thread's apartment until destroyed.
class FakeItemDialogs {
public:
    explicit FakeItemDialogs(FakeDialogScript script);
    ~FakeItemDialogs();
    FakeItemDialogs(const FakeItemDialogs&) = delete;
    FakeItemDialogs& operator=(const FakeItemDialogs&) = delete;

    const FakeDialogRecord& record() const;
    bool registered() const { return openCookie_ != 0 && saveCookie_ != 0; }

private:
    DWORD openCookie_ = 0;
    DWORD saveCookie_ = 0;
};

// A shell item whose file-system path is `path` (nullopt: GetDisplayName fails).
IShellItem* newFakeShellItem(std::optional<std::wstring> path);

}  // namespace pickora::test

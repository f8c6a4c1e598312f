#include "dialog_routines.h"

#include <tavro/boundary.h>
#include <tavro/com_support.h>

#include <commdlg.h>
#include <shlwapi.h>

#include <string>

namespace pickora {
namespace {

using tavro::ComPtr;
using tavro::CoTaskMemPtr;

void writeCodeLine(const char* prefix, long code) { writeLine(std::string(prefix) + std::to_string(code)); }

// An item's file-system path; empty when it has none.
std::u16string fileSystemPath(IShellItem* item) {
    wchar_t* raw = nullptr;
    if (FAILED(item->GetDisplayName(SIGDN_FILESYSPATH, &raw))) return {};
    CoTaskMemPtr<wchar_t> path(raw);
    return path ? fromWide(path.get()) : std::u16string();
}

void setUpItemDialog(IFileDialog* dialog, const ChooserContext& chooser) {
    if (!chooser.currentDirectory.empty()) {
        ComPtr<IShellItem> directoryItem;
        if (SUCCEEDED(::SHCreateItemFromParsingName(wide(chooser.currentDirectory), nullptr,
                                                    IID_PPV_ARGS(&directoryItem)))) {
            dialog->SetFolder(directoryItem.Get());
        }
    }
    if (!chooser.selectedShortFileName.empty()) dialog->SetFileName(wide(chooser.selectedShortFileName));
    if (!chooser.dialogTitle.empty()) dialog->SetTitle(wide(chooser.dialogTitle));

    FILEOPENDIALOGOPTIONS currentOptions = 0;
    dialog->GetOptions(&currentOptions);
    dialog->SetOptions(currentOptions | itemOptionsToSet(chooser.multiSelectionEnabled));
    currentOptions = 0;
    dialog->GetOptions(&currentOptions);
    dialog->SetOptions(currentOptions & ~itemOptionsToClear(chooser.multiSelectionEnabled));
}

std::int32_t runClassicDialog(ChooserContext& chooser, BOOL(APIENTRY* showDialog)(LPOPENFILENAMEW)) {
    ClassicDialogRequest request;
    request.currentDirectory = chooser.currentDirectory;
    request.selectedShortFileName = chooser.selectedShortFileName;
    request.dialogTitle = chooser.dialogTitle;
    request.fileFilterString = chooser.fileFilterString;
    request.fileFilterIndex = chooser.fileFilterIndex;
    request.multiSelectionEnabled = chooser.multiSelectionEnabled;
    const ClassicDialogFields fields = classicDialogFields(request);

    fillFileNameBuffer(chooser.fileNameBuffer, chooser.selectedShortFileName);
    chooser.fileTitleBuffer[0] = u'\0';

    OPENFILENAMEW openFilenameParams{};
    openFilenameParams.lStructSize = sizeof(OPENFILENAMEW);
    openFilenameParams.hwndOwner = chooser.owner;
    openFilenameParams.lpstrFilter = wide(fields.filter);
    openFilenameParams.nFilterIndex = fields.filterIndex;
    openFilenameParams.lpstrFile = wide(chooser.fileNameBuffer);
    openFilenameParams.nMaxFile = fields.maxFile;
    openFilenameParams.lpstrFileTitle = wide(chooser.fileTitleBuffer);
    openFilenameParams.nMaxFileTitle = fields.maxFileTitle;
    openFilenameParams.lpstrInitialDir = fields.useInitialDirectory ? wide(chooser.currentDirectory) : nullptr;
    openFilenameParams.lpstrTitle = fields.useTitle ? wide(chooser.dialogTitle) : nullptr;
    openFilenameParams.Flags = fields.flags;

    if (!showDialog(&openFilenameParams)) {
        const DWORD error = ::CommDlgExtendedError();
        if (error != 0) writeLine("An error occurred in Dialquist:" + std::to_string(error));
        return 1;
    }
    const std::vector<std::u16string> resultString =
        parseClassicResult(chooser.fileNameBuffer, kFileBufferUsableUnits, openFilenameParams.nFileOffset);
    return deliverSelection(chooser, resultString) ? 0 : 1;
}

}  // namespace

IFACEMETHODIMP FolderChooserEvents::QueryInterface(REFIID riid, void** object) {
    if (!object) return E_POINTER;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IFileDialogEvents)) {
        *object = static_cast<IFileDialogEvents*>(this);
        return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

IFACEMETHODIMP FolderChooserEvents::OnFolderChanging(IFileDialog*, IShellItem* folder) {
    // Called from inside the shell's dialog: whatever goes wrong here lets the navigation go on.
    return tavro::guardBoundary(HRESULT(S_OK), [&]() -> HRESULT {
        if (!folder) return S_OK;
        const std::u16string displayName = fileSystemPath(folder);
        if (displayName.empty()) return S_OK;
        lastFolderPath_ = displayName;
        writeLine("Folder is changing: " + narrowForOutput(displayName));
        if (::PathFileExistsW(wide(displayName))) {
            writeLine("Allowing.");
            return S_OK;
        }
        writeLine("Resetting!");
        dialog_->Close(kNewFolderCloseCode);
        return E_ABORT;
    });
}

std::int32_t runItemOpenDialog(ChooserContext& chooser) {
    ComPtr<IFileOpenDialog> openDialog;
    HRESULT hr = ::CoCreateInstance(CLSID_FileOpenDialog, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&openDialog));
    if (FAILED(hr)) {
        writeCodeLine("An error occurred launching open dialog: ", hr);
        return hr;
    }
    setUpItemDialog(openDialog.Get(), chooser);
    hr = openDialog->Show(chooser.owner);
    if (FAILED(hr)) return hr;

    ComPtr<IShellItemArray> selectedFiles;
    hr = openDialog->GetResults(&selectedFiles);
    if (FAILED(hr) || !selectedFiles) return FAILED(hr) ? hr : E_UNEXPECTED;
    DWORD numFiles = 0;
    hr = selectedFiles->GetCount(&numFiles);
    if (FAILED(hr)) return hr;

    std::vector<std::u16string> chosenFiles;
    for (DWORD i = 0; i < numFiles; ++i) {
        ComPtr<IShellItem> item;
        // An item without a file-system path cannot be handed to the chooser: skip it.
        if (FAILED(selectedFiles->GetItemAt(i, &item)) || !item) continue;
        std::u16string filename = fileSystemPath(item.Get());
        if (!filename.empty()) chosenFiles.push_back(std::move(filename));
    }
    selectedFiles.Reset();
    openDialog.Reset();
    return deliverSelection(chooser, chosenFiles) ? S_OK : E_OUTOFMEMORY;
}

std::int32_t runItemSaveDialog(ChooserContext& chooser) {
    ComPtr<IFileSaveDialog> saveDialog;
    HRESULT hr = ::CoCreateInstance(CLSID_FileSaveDialog, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&saveDialog));
    if (FAILED(hr)) {
        writeCodeLine("An error occurred launching save dialog: ", hr);
        return hr;
    }
    setUpItemDialog(saveDialog.Get(), chooser);
    FILEOPENDIALOGOPTIONS currentOptions = 0;
    saveDialog->GetOptions(&currentOptions);
    saveDialog->SetOptions(currentOptions & ~FOS_OVERWRITEPROMPT);

    FolderChooserEvents events(saveDialog.Get());
    DWORD adviseCookie = 0;
    const bool advised = SUCCEEDED(saveDialog->Advise(&events, &adviseCookie));
    hr = saveDialog->Show(chooser.owner);
    if (advised) saveDialog->Unadvise(adviseCookie);

    std::vector<std::u16string> chosen;
    if (hr == kNewFolderCloseCode) {
        chosen.push_back(events.lastFolderPath());
        hr = S_OK;
    } else if (SUCCEEDED(hr)) {
        ComPtr<IShellItem> chosenFile;
        const HRESULT resultHr = saveDialog->GetResult(&chosenFile);
        std::u16string path;
        if (SUCCEEDED(resultHr) && chosenFile) path = fileSystemPath(chosenFile.Get());
        if (!path.empty()) {
            chosen.push_back(std::move(path));
        } else {
            // No path to hand over: answer as a failed dialog does (an empty selection).
            hr = FAILED(resultHr) ? resultHr : E_FAIL;
        }
    }
    saveDialog.Reset();
    if (!deliverSelection(chooser, chosen) && hr == S_OK) return E_OUTOFMEMORY;
    return hr;
}

std::int32_t runClassicOpenDialog(ChooserContext& chooser) { return runClassicDialog(chooser, ::GetOpenFileNameW); }

std::int32_t runClassicSaveDialog(ChooserContext& chooser) { return runClassicDialog(chooser, ::GetSaveFileNameW); }

}  // namespace pickora

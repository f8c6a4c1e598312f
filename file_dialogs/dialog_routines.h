// The four dialogs one chooser call can show. Each returns 0 after delivering a selection,
// otherwise the item dialogs' failing COM code or the classic dialogs' 1.
#pragma once

#include "chooser_bridge.h"

#include <shobjidl.h>

namespace pickora {

std::int32_t runItemOpenDialog(ChooserContext& chooser);
std::int32_t runItemSaveDialog(ChooserContext& chooser);
std::int32_t runClassicOpenDialog(ChooserContext& chooser);
std::int32_t runClassicSaveDialog(ChooserContext& chooser);

// Watches the item save dialog: entering a folder that does not exist yet ends the dialog with
// kNewFolderCloseCode, and that folder becomes the choice. Lives on the routine's stack, so
// its reference count is nominal.
// COM objects are never deleted through their interface, which has no virtual destructor.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"
class FolderChooserEvents final : public IFileDialogEvents {
public:
    explicit FolderChooserEvents(IFileDialog* dialog) : dialog_(dialog) {}

    const std::u16string& lastFolderPath() const { return lastFolderPath_; }

    IFACEMETHODIMP QueryInterface(REFIID riid, void** object) override;
    IFACEMETHODIMP_(ULONG) AddRef() override { return 1; }
    IFACEMETHODIMP_(ULONG) Release() override { return 0; }

    IFACEMETHODIMP OnFileOk(IFileDialog*) override { return E_NOTIMPL; }
    IFACEMETHODIMP OnFolderChanging(IFileDialog* dialog, IShellItem* folder) override;
    IFACEMETHODIMP OnFolderChange(IFileDialog*) override { return E_NOTIMPL; }
    IFACEMETHODIMP OnSelectionChange(IFileDialog*) override { return E_NOTIMPL; }
    IFACEMETHODIMP OnShareViolation(IFileDialog*, IShellItem*, FDE_SHAREVIOLATION_RESPONSE*) override {
        return E_NOTIMPL;
    }
    IFACEMETHODIMP OnTypeChange(IFileDialog*) override { return E_NOTIMPL; }
    IFACEMETHODIMP OnOverwrite(IFileDialog*, IShellItem*, FDE_OVERWRITE_RESPONSE*) override { return E_NOTIMPL; }

private:
    IFileDialog* dialog_;  // not reference-counted: the routine owns the dialog
    std::u16string lastFolderPath_;
};
#pragma GCC diagnostic pop

}  // namespace pickora

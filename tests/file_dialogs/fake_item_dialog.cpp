#include "fake_item_dialog.h"

#include <algorithm>
#include <cstring>

namespace pickora::test {
namespace {

FakeDialogScript theScript;
FakeDialogRecord theRecord;

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"

// Reference counting shared by the fakes; `theRecord.liveObjects` shows leaks.
template <typename Interface>
class Counted : public Interface {
public:
    Counted() { ++theRecord.liveObjects; }
    virtual ~Counted() { --theRecord.liveObjects; }
    IFACEMETHODIMP_(ULONG) AddRef() override { return ++references_; }
    IFACEMETHODIMP_(ULONG) Release() override {
        const ULONG left = --references_;
        if (left == 0) delete this;
        return left;
    }

protected:
    HRESULT answer(REFIID riid, void** object, std::initializer_list<IID> ids) {
        if (!object) return E_POINTER;
        for (const IID& id : ids) {
            if (IsEqualIID(riid, id)) {
                *object = static_cast<Interface*>(this);
                AddRef();
                return S_OK;
            }
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }

private:
    ULONG references_ = 1;
};

wchar_t* coTaskCopy(const std::wstring& text) {
    auto* copy = static_cast<wchar_t*>(CoTaskMemAlloc((text.size() + 1) * sizeof(wchar_t)));
    std::memcpy(copy, text.c_str(), (text.size() + 1) * sizeof(wchar_t));
    return copy;
}

class FakeShellItem final : public Counted<IShellItem> {
public:
    explicit FakeShellItem(std::optional<std::wstring> path) : path_(std::move(path)) {}
    IFACEMETHODIMP QueryInterface(REFIID riid, void** object) override {
        return answer(riid, object, {IID_IUnknown, IID_IShellItem});
    }
    IFACEMETHODIMP BindToHandler(IBindCtx*, REFGUID, REFIID, void**) override { return E_NOTIMPL; }
    IFACEMETHODIMP GetParent(IShellItem**) override { return E_NOTIMPL; }
    IFACEMETHODIMP GetDisplayName(SIGDN kind, LPWSTR* name) override {
        *name = nullptr;
        if (!path_ || kind != SIGDN_FILESYSPATH) return E_INVALIDARG;
        *name = coTaskCopy(*path_);
        return S_OK;
    }
    IFACEMETHODIMP GetAttributes(SFGAOF, SFGAOF*) override { return E_NOTIMPL; }
    IFACEMETHODIMP Compare(IShellItem*, SICHINTF, int*) override { return E_NOTIMPL; }

private:
    std::optional<std::wstring> path_;
};

class FakeItemArray final : public Counted<IShellItemArray> {
public:
    IFACEMETHODIMP QueryInterface(REFIID riid, void** object) override {
        return answer(riid, object, {IID_IUnknown, IID_IShellItemArray});
    }
    IFACEMETHODIMP BindToHandler(IBindCtx*, REFGUID, REFIID, void**) override { return E_NOTIMPL; }
    IFACEMETHODIMP GetPropertyStore(GETPROPERTYSTOREFLAGS, REFIID, void**) override { return E_NOTIMPL; }
    IFACEMETHODIMP GetPropertyDescriptionList(REFPROPERTYKEY, REFIID, void**) override { return E_NOTIMPL; }
    IFACEMETHODIMP GetAttributes(SIATTRIBFLAGS, SFGAOF, SFGAOF*) override { return E_NOTIMPL; }
    IFACEMETHODIMP GetCount(DWORD* count) override {
        *count = static_cast<DWORD>(theScript.items.size());
        return theScript.getCountResult;
    }
    IFACEMETHODIMP GetItemAt(DWORD index, IShellItem** item) override {
        *item = nullptr;
        const auto& failing = theScript.failingItemIndexes;
        if (index >= theScript.items.size() || std::find(failing.begin(), failing.end(), index) != failing.end()) {
            return E_FAIL;
        }
        *item = new FakeShellItem(theScript.items[index]);
        return S_OK;
    }
    IFACEMETHODIMP EnumItems(IEnumShellItems**) override { return E_NOTIMPL; }
};

std::optional<std::wstring> pathOf(IShellItem* item) {
    wchar_t* name = nullptr;
    if (!item || FAILED(item->GetDisplayName(SIGDN_FILESYSPATH, &name))) return std::nullopt;
    std::wstring path(name);
    CoTaskMemFree(name);
    return path;
}

// Everything IFileDialog has, for both the open and the save dialog.
template <typename Interface>
class FakeDialogBase : public Counted<Interface> {
public:
    FakeDialogBase() { theRecord.created = true; }
    IFACEMETHODIMP Show(HWND owner) override {
        ++theRecord.showCalls;
        theRecord.showOwner = owner;
        if (theScript.duringShow) theScript.duringShow(events_, this);
        if (theRecord.closeCode) return *theRecord.closeCode;
        return theScript.showResult;
    }
    IFACEMETHODIMP SetFileTypes(UINT, const COMDLG_FILTERSPEC*) override {
        theRecord.fileTypesSet = true;
        return S_OK;
    }
    IFACEMETHODIMP SetFileTypeIndex(UINT) override { return S_OK; }
    IFACEMETHODIMP GetFileTypeIndex(UINT*) override { return E_NOTIMPL; }
    IFACEMETHODIMP Advise(IFileDialogEvents* events, DWORD* cookie) override {
        ++theRecord.adviseCalls;
        events_ = events;
        *cookie = 7;
        return S_OK;
    }
    IFACEMETHODIMP Unadvise(DWORD cookie) override {
        if (cookie != 7) return E_INVALIDARG;
        ++theRecord.unadviseCalls;
        events_ = nullptr;
        return S_OK;
    }
    IFACEMETHODIMP SetOptions(FILEOPENDIALOGOPTIONS options) override {
        theRecord.setOptionsCalls.push_back(options);
        options_ = options;
        return S_OK;
    }
    IFACEMETHODIMP GetOptions(FILEOPENDIALOGOPTIONS* options) override {
        *options = options_;
        return S_OK;
    }
    IFACEMETHODIMP SetDefaultFolder(IShellItem*) override { return S_OK; }
    IFACEMETHODIMP SetFolder(IShellItem* folder) override {
        theRecord.folder = pathOf(folder);
        return S_OK;
    }
    IFACEMETHODIMP GetFolder(IShellItem**) override { return E_NOTIMPL; }
    IFACEMETHODIMP GetCurrentSelection(IShellItem**) override { return E_NOTIMPL; }
    IFACEMETHODIMP SetFileName(LPCWSTR name) override {
        theRecord.fileName = name;
        return S_OK;
    }
    IFACEMETHODIMP GetFileName(LPWSTR*) override { return E_NOTIMPL; }
    IFACEMETHODIMP SetTitle(LPCWSTR title) override {
        theRecord.title = title;
        return S_OK;
    }
    IFACEMETHODIMP SetOkButtonLabel(LPCWSTR) override { return S_OK; }
    IFACEMETHODIMP SetFileNameLabel(LPCWSTR) override { return S_OK; }
    IFACEMETHODIMP GetResult(IShellItem** item) override {
        *item = nullptr;
        if (FAILED(theScript.getResultsResult)) return theScript.getResultsResult;
        if (theScript.items.empty()) return E_UNEXPECTED;
        *item = new FakeShellItem(theScript.items[0]);
        return S_OK;
    }
    IFACEMETHODIMP AddPlace(IShellItem*, FDAP) override { return S_OK; }
    IFACEMETHODIMP SetDefaultExtension(LPCWSTR) override { return S_OK; }
    IFACEMETHODIMP Close(HRESULT code) override {
        theRecord.closeCode = code;
        return S_OK;
    }
    IFACEMETHODIMP SetClientGuid(REFGUID) override { return S_OK; }
    IFACEMETHODIMP ClearClientData() override { return S_OK; }
    IFACEMETHODIMP SetFilter(IShellItemFilter*) override { return S_OK; }

private:
    FILEOPENDIALOGOPTIONS options_ = theScript.initialOptions;
    IFileDialogEvents* events_ = nullptr;
};

class FakeOpenDialog final : public FakeDialogBase<IFileOpenDialog> {
public:
    IFACEMETHODIMP QueryInterface(REFIID riid, void** object) override {
        return answer(riid, object, {IID_IUnknown, IID_IModalWindow, IID_IFileDialog, IID_IFileOpenDialog});
    }
    IFACEMETHODIMP GetResults(IShellItemArray** items) override {
        *items = nullptr;
        if (FAILED(theScript.getResultsResult)) return theScript.getResultsResult;
        *items = new FakeItemArray();
        return S_OK;
    }
    IFACEMETHODIMP GetSelectedItems(IShellItemArray**) override { return E_NOTIMPL; }
};

class FakeSaveDialog final : public FakeDialogBase<IFileSaveDialog> {
public:
    IFACEMETHODIMP QueryInterface(REFIID riid, void** object) override {
        return answer(riid, object, {IID_IUnknown, IID_IModalWindow, IID_IFileDialog, IID_IFileSaveDialog});
    }
    IFACEMETHODIMP SetSaveAsItem(IShellItem*) override { return S_OK; }
    IFACEMETHODIMP SetProperties(IPropertyStore*) override { return S_OK; }
    IFACEMETHODIMP SetCollectedProperties(IPropertyDescriptionList*, BOOL) override { return S_OK; }
    IFACEMETHODIMP GetProperties(IPropertyStore**) override { return E_NOTIMPL; }
    IFACEMETHODIMP ApplyProperties(IShellItem*, IPropertyStore*, HWND, IFileOperationProgressSink*) override {
        return E_NOTIMPL;
    }
};

template <typename Dialog>
class DialogFactory final : public IClassFactory {
public:
    IFACEMETHODIMP QueryInterface(REFIID riid, void** object) override {
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IClassFactory)) {
            *object = static_cast<IClassFactory*>(this);
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    IFACEMETHODIMP_(ULONG) AddRef() override { return 2; }
    IFACEMETHODIMP_(ULONG) Release() override { return 1; }
    IFACEMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** object) override {
        *object = nullptr;
        if (outer) return CLASS_E_NOAGGREGATION;
        if (FAILED(theScript.createResult)) return theScript.createResult;
        auto* dialog = new Dialog();
        const HRESULT hr = dialog->QueryInterface(riid, object);
        dialog->Release();
        return hr;
    }
    IFACEMETHODIMP LockServer(BOOL) override { return S_OK; }
};

#pragma GCC diagnostic pop

DialogFactory<FakeOpenDialog> openFactory;
DialogFactory<FakeSaveDialog> saveFactory;

}  // namespace

FakeItemDialogs::FakeItemDialogs(FakeDialogScript newScript) {
    theScript = std::move(newScript);
    theRecord = FakeDialogRecord{};
    CoRegisterClassObject(CLSID_FileOpenDialog, &openFactory, CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, &openCookie_);
    CoRegisterClassObject(CLSID_FileSaveDialog, &saveFactory, CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, &saveCookie_);
}

FakeItemDialogs::~FakeItemDialogs() {
    if (openCookie_) CoRevokeClassObject(openCookie_);
    if (saveCookie_) CoRevokeClassObject(saveCookie_);
}

const FakeDialogRecord& FakeItemDialogs::record() const { return theRecord; }

IShellItem* newFakeShellItem(std::optional<std::wstring> path) { return new FakeShellItem(std::move(path)); }

}  // namespace pickora::test

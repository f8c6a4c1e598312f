// The library's bridge to the Java chooser and its item dialog routines, with item dialogs
// served by the test (exact option bits, scripted outcomes and failures) and the stand-in
// jawt.dll for the owner window.
#include "dialog_test_support.h"
#include "fake_item_dialog.h"
#include "jawt_standin/jawt_standin.h"

#include <com_vyk_io_VistaFileChooser.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <commdlg.h>

#include <algorithm>

namespace pickora::test {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

const std::string kFallback = "Dialquist: Using foreground window as fallback";
const std::string kEasyWayFailed = "Dialquist: Failed to load jawt.dll the easy way.  Trying the hard way.";
const std::string kJavaWindowError = "Dialquist: an error occurred initializing Java window";
constexpr HRESULT kCancelled = HRESULT_FROM_WIN32(ERROR_CANCELLED);

void unloadJawt() {
    for (int i = 0; i < 16; ++i) {
        HMODULE jawt = GetModuleHandleW(L"jawt.dll");
        if (!jawt || !FreeLibrary(jawt)) return;
    }
}

JawtStandInCounts jawtCounts() {
    JawtStandInCounts counts{};
    auto read = reinterpret_cast<JawtStandInCountsFunction>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"jawt.dll"), "jawtStandInCounts")));
    if (read) read(&counts);
    return counts;
}

class PickoraCall : public ::testing::Test {
protected:
    void SetUp() override {
        CoInitialize(nullptr);
        unloadJawt();
        foreground.bringToForeground();
        ASSERT_EQ(GetForegroundWindow(), foreground.get());
        chooser = defineChooser(vm, state);
        SetEnvironmentVariableW(L"TAVRO_JAWT_WINDOW", hexHandle(component.get()).c_str());
    }
    void TearDown() override {
        unloadJawt();
        SetEnvironmentVariableW(L"TAVRO_JAWT_WINDOW", nullptr);
        SetEnvironmentVariableW(L"TAVRO_JAWT_FAIL", nullptr);
        EXPECT_FALSE(vm.exceptionPending()) << vm.pendingExceptionClass();
        EXPECT_EQ(vm.callsWithPendingException(), 0);
        EXPECT_EQ(vm.outstandingAcquisitions(), 0);
    }

    jint call(bool save, jobject parent = nullptr) {
        jint result = -1;
        lines = captureStdoutLines([&] {
            result = save ? pickora().handleSaveDialog(vm.env(), chooser, parent)
                          : pickora().handleOpenDialog(vm.env(), chooser, parent);
        });
        return result;
    }
    jint openFolders(jobject parent = nullptr) {
        state.directorySelectionEnabled = true;
        return call(false, parent);
    }
    jint saveFolders(jobject parent = nullptr) {
        state.directorySelectionEnabled = true;
        return call(true, parent);
    }
    jobject newComponent() { return vm.newObject("java/awt/Canvas"); }

    JavaVmStandIn vm;
    ChooserState state;
    jobject chooser = nullptr;
    TestWindow foreground{L"Pickora test foreground"};
    TestWindow component{L"Pickora test component"};
    TempFolder temp;
    std::vector<std::string> lines;
};

// --- reading the chooser, setting up the item dialogs --------------------------------------

using PickoraBridge = PickoraCall;

TEST_F(PickoraBridge, ReadsTheChooserInOrderAndSetsUpTheFolderDialog) {
    FakeItemDialogs dialogs({});
    ASSERT_TRUE(dialogs.registered());
    state.currentDirectory = u16(temp.path());
    state.selectedShortFileName = u"draft";
    state.dialogTitle = u"Pick a folder";
    state.fileFilters = std::vector<std::optional<std::vector<std::u16string>>>{std::vector<std::u16string>{u"Text", u"*.txt"}};
    state.fileFilterString = std::u16string(u"Text\0*.txt", 10);

    EXPECT_EQ(openFolders(), 0);
    EXPECT_THAT(state.calls, ElementsAre("getCurrentDirectoryString", "getSelectedShortFileName", "getDialogTitle",
                                         "isMultiSelectionEnabled", "isDirectorySelectionEnabled",
                                         "getFileFilterIndex", "getFileFilters", "getFileFilterString",
                                         "setSelectedFiles"));
    const FakeDialogRecord& record = dialogs.record();
    EXPECT_EQ(record.folder, temp.path());
    EXPECT_EQ(record.fileName, L"draft");
    EXPECT_EQ(record.title, L"Pick a folder");
    EXPECT_FALSE(record.fileTypesSet);
    EXPECT_EQ(record.showOwner, foreground.get());
    EXPECT_THAT(lines, ElementsAre(kFallback));
}

TEST_F(PickoraBridge, EmptyOrUnusableSettingsAreLeftUnset) {
    FakeItemDialogs dialogs({});
    state.currentDirectory = u16(temp.path() + L"\\missing");
    EXPECT_EQ(openFolders(), 0);
    EXPECT_FALSE(dialogs.record().folder.has_value());  // a folder that does not exist
    EXPECT_FALSE(dialogs.record().fileName.has_value());
    EXPECT_FALSE(dialogs.record().title.has_value());
}

TEST_F(PickoraBridge, OptionBitsOfBothFolderDialogs) {
    struct Case {
        bool save;
        bool multi;
        FILEOPENDIALOGOPTIONS initial;
        std::vector<FILEOPENDIALOGOPTIONS> expectedCalls;
    } cases[] = {
        // Added first (folders, file system, no validation, multi-select by the chooser),
        // then the must-exist and read-only checks removed.
        {false, false, 0x1808, {0x1968, 0x0168}},
        {false, true, 0x1808, {0x1B68, 0x0368}},
        {false, false, 0x0200, {0x0360, 0x0160}},
        // The save dialog also drops the overwrite prompt.
        {true, false, 0x880A, {0x896A, 0x016A, 0x0168}},
        {true, true, 0x880A, {0x8B6A, 0x036A, 0x0368}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "save " << c.save << " multi " << c.multi << " initial " << c.initial);
        FakeDialogScript script;
        script.initialOptions = c.initial;
        script.items = {L"C:\\x"};
        FakeItemDialogs dialogs(script);
        state.multiSelectionEnabled = c.multi;
        c.save ? saveFolders() : openFolders();
        EXPECT_EQ(dialogs.record().setOptionsCalls, c.expectedCalls);
    }
}

TEST_F(PickoraBridge, FilterRowsThatAreNotPairsAreReportedAndSkipped) {
    FakeItemDialogs dialogs({});
    using Rows = std::vector<std::optional<std::vector<std::u16string>>>;
    state.fileFilters = Rows{std::vector<std::u16string>{u"Text", u"*.txt"}, std::vector<std::u16string>{u"only"},
                             std::nullopt, std::vector<std::u16string>{}, std::vector<std::u16string>{u"a", u"b", u"c"}};
    EXPECT_EQ(openFolders(), 0);
    const std::string error = "Dialog: error reading filters (C)";
    EXPECT_THAT(lines, ElementsAre(error, error, error, error, kFallback));

    state.fileFilters.reset();
    EXPECT_EQ(openFolders(), 0);
    EXPECT_THAT(lines, ElementsAre(error, kFallback));
}

TEST_F(PickoraBridge, FailingGettersLeaveTheirSettingsEmpty) {
    FakeItemDialogs dialogs({});
    vm.defineMethod("com/vyk/io/VistaFileChooser", "getDialogTitle", "()Ljava/lang/String;",
                    [](JavaVmStandIn& v, jobject, const std::vector<jvalue>&) {
                        v.throwNew("java/lang/IllegalStateException", "no title");
                        return jvalue{};
                    });
    state.selectedShortFileName = u"kept";
    EXPECT_EQ(openFolders(), 0);
    EXPECT_FALSE(dialogs.record().title.has_value());
    EXPECT_EQ(dialogs.record().fileName, L"kept");
}

// --- the item open routine ------------------------------------------------------------------

TEST_F(PickoraBridge, FolderOpenDeliversEveryItemWithAPathInOrder) {
    FakeDialogScript script;
    script.items = {L"C:\\first", std::nullopt, L"C:\\skipped by GetItemAt", L"Z:\\\u00e9t\u00e9\\\u65e5\u672c \U0001F600"};
    script.failingItemIndexes = {2};
    FakeItemDialogs dialogs(script);
    state.multiSelectionEnabled = true;

    EXPECT_EQ(openFolders(), 0);
    EXPECT_EQ(state.setSelectedFilesCalls, 1);
    EXPECT_THAT(state.selectedFiles, ElementsAre(u"C:\\first", u"Z:\\\u00e9t\u00e9\\\u65e5\u672c \U0001F600"));
    EXPECT_EQ(dialogs.record().liveObjects, 0);
}

TEST_F(PickoraBridge, FolderOpenOutcomes) {
    struct Case {
        const char* what;
        HRESULT show, getResults, getCount;
        std::vector<std::optional<std::wstring>> items;
        jint expected;
        bool delivered;
    } cases[] = {
        {"cancelled", kCancelled, S_OK, S_OK, {L"C:\\a"}, kCancelled, false},
        {"results unavailable", S_OK, E_FAIL, S_OK, {L"C:\\a"}, E_FAIL, false},
        {"count unavailable", S_OK, S_OK, E_OUTOFMEMORY, {L"C:\\a"}, E_OUTOFMEMORY, false},
        {"nothing chosen", S_OK, S_OK, S_OK, {}, 0, true},
        {"no item has a path", S_OK, S_OK, S_OK, {std::nullopt}, 0, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        FakeDialogScript script;
        script.showResult = c.show;
        script.getResultsResult = c.getResults;
        script.getCountResult = c.getCount;
        script.items = c.items;
        FakeItemDialogs dialogs(script);
        state.setSelectedFilesCalls = 0;
        state.selectedFiles = {u"stale"};
        EXPECT_EQ(openFolders(), c.expected);
        EXPECT_EQ(state.setSelectedFilesCalls, c.delivered ? 1 : 0);
        if (c.delivered) {
            EXPECT_THAT(state.selectedFiles, IsEmpty());
        }
        EXPECT_THAT(lines, ElementsAre(kFallback));
        EXPECT_EQ(dialogs.record().liveObjects, 0);
    }
}

TEST_F(PickoraBridge, ADialogThatCannotBeCreatedIsReported) {
    FakeDialogScript script;
    script.createResult = E_OUTOFMEMORY;
    FakeItemDialogs dialogs(script);
    EXPECT_EQ(openFolders(), E_OUTOFMEMORY);
    EXPECT_THAT(lines, ElementsAre(kFallback, "An error occurred launching open dialog: -2147024882"));
    EXPECT_EQ(saveFolders(), E_OUTOFMEMORY);
    EXPECT_THAT(lines, ElementsAre(kFallback, "An error occurred launching save dialog: -2147024882"));
    EXPECT_EQ(state.setSelectedFilesCalls, 0);
}

TEST_F(PickoraBridge, ASelectionThatCannotBeHandedOverIsAFailure) {
    FakeDialogScript script;
    script.items = {L"C:\\a"};
    FakeItemDialogs dialogs(script);
    state.directorySelectionEnabled = true;
    vm.failNewObjects(true);  // the VM is out of memory for the result array
    EXPECT_EQ(call(false), E_OUTOFMEMORY);
    EXPECT_EQ(state.setSelectedFilesCalls, 0);
    EXPECT_FALSE(vm.exceptionPending());
}

// --- the item save routine ------------------------------------------------------------------

TEST_F(PickoraBridge, FolderSaveOutcomes) {
    struct Case {
        const char* what;
        HRESULT show, getResult;
        std::vector<std::optional<std::wstring>> items;
        jint expected;
        std::vector<std::u16string> delivered;
    } cases[] = {
        {"chosen", S_OK, S_OK, {L"C:\\out"}, 0, {u"C:\\out"}},
        // A cancelled save dialog still hands over an empty selection.
        {"cancelled", kCancelled, S_OK, {L"C:\\out"}, kCancelled, {}},
        {"result unavailable", S_OK, E_FAIL, {L"C:\\out"}, E_FAIL, {}},
        {"result without a path", S_OK, S_OK, {std::nullopt}, E_FAIL, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        FakeDialogScript script;
        script.showResult = c.show;
        script.getResultsResult = c.getResult;
        script.items = c.items;
        FakeItemDialogs dialogs(script);
        state.setSelectedFilesCalls = 0;
        EXPECT_EQ(saveFolders(), c.expected);
        EXPECT_EQ(state.setSelectedFilesCalls, 1);
        EXPECT_EQ(state.selectedFiles, c.delivered);
        EXPECT_EQ(dialogs.record().adviseCalls, 1);
        EXPECT_EQ(dialogs.record().unadviseCalls, 1);
        EXPECT_EQ(dialogs.record().liveObjects, 0);
    }
}

TEST_F(PickoraBridge, EnteringAFolderThatDoesNotExistEndsTheSaveDialogWithIt) {
    const std::wstring existing = temp.make(L"existing", true);
    const std::wstring fresh = temp.path() + L"\\new folder \u00e9";
    HRESULT answers[5] = {};
    FakeDialogScript script;
    script.duringShow = [&](IFileDialogEvents* events, IFileDialog* dialog) {
        ASSERT_NE(events, nullptr);
        void* same = nullptr;
        answers[0] = events->QueryInterface(IID_IFileDialogEvents, &same);
        EXPECT_EQ(same, static_cast<void*>(events));
        void* other = reinterpret_cast<void*>(1);
        answers[1] = events->QueryInterface(IID_IShellItem, &other);
        EXPECT_EQ(other, nullptr);
        IShellItem* noPath = newFakeShellItem(std::nullopt);
        IShellItem* into = newFakeShellItem(existing);
        IShellItem* create = newFakeShellItem(fresh);
        answers[2] = events->OnFolderChanging(dialog, noPath);
        answers[3] = events->OnFolderChanging(dialog, into);
        answers[4] = events->OnFolderChanging(dialog, create);
        noPath->Release();
        into->Release();
        create->Release();
        EXPECT_EQ(events->OnFileOk(dialog), E_NOTIMPL);
    };
    FakeItemDialogs dialogs(script);

    EXPECT_EQ(saveFolders(), 0);
    EXPECT_EQ(answers[0], S_OK);
    EXPECT_EQ(answers[1], E_NOINTERFACE);
    EXPECT_EQ(answers[2], S_OK);
    EXPECT_EQ(answers[3], S_OK);
    EXPECT_EQ(answers[4], E_ABORT);
    EXPECT_EQ(dialogs.record().closeCode, 11111);
    EXPECT_THAT(state.selectedFiles, ElementsAre(u16(fresh)));
    EXPECT_THAT(lines, ElementsAre(kFallback, "Folder is changing: " + narrow(existing), "Allowing.",
                                   "Folder is changing: " + narrow(fresh), "Resetting!"));
}

TEST_F(PickoraBridge, ACallbackThatRunsOutOfMemoryLetsTheNavigationGoOn) {
    // A path of more characters than the refused size has bytes.
    const std::wstring folder = temp.make(L"a folder " + std::wstring(150, L'f'), true);
    HRESULT answer = E_PENDING;
    FakeDialogScript script;
    script.items = {L"C:\\out"};
    script.duringShow = [&](IFileDialogEvents* events, IFileDialog* dialog) {
        ASSERT_NE(events, nullptr);
        IShellItem* into = newFakeShellItem(folder);
        {
            // Only the callback runs without memory; the export around it has its own.
            tavro::test::AllocationFailure noMemory(pickora().library, 256);
            ASSERT_TRUE(noMemory.active());
            noMemory.arm();
            answer = events->OnFolderChanging(dialog, into);
            EXPECT_TRUE(noMemory.refused());
        }
        into->Release();
    };
    FakeItemDialogs dialogs(script);

    EXPECT_EQ(saveFolders(), 0);
    // Nothing unwound into the dialog: it was told to go on, and the save went on as chosen.
    EXPECT_EQ(answer, S_OK);
    EXPECT_FALSE(dialogs.record().closeCode.has_value());
    EXPECT_THAT(state.selectedFiles, ElementsAre(u"C:\\out"));
}

// --- the owner window -----------------------------------------------------------------------

using PickoraOwner = PickoraCall;

TEST_F(PickoraOwner, NoComponentMeansTheForegroundWindowAndNoJawt) {
    FakeItemDialogs dialogs({});
    EXPECT_EQ(openFolders(), 0);
    EXPECT_EQ(dialogs.record().showOwner, foreground.get());
    EXPECT_THAT(lines, ElementsAre(kFallback));
    EXPECT_EQ(GetModuleHandleW(L"jawt.dll"), nullptr);
}

TEST_F(PickoraOwner, ALoadedJawtGivesTheComponentsWindow) {
    ASSERT_NE(LoadLibraryW((programDirectory() + L"\\jawt.dll").c_str()), nullptr);
    FakeItemDialogs dialogs({});
    EXPECT_EQ(openFolders(newComponent()), 0);
    EXPECT_EQ(dialogs.record().showOwner, component.get());
    EXPECT_THAT(lines, IsEmpty());
    const JawtStandInCounts counts = jawtCounts();
    EXPECT_EQ(counts.accessorCalls, 1);
    EXPECT_EQ(counts.lastRequestedVersion, 0x00010004);
    EXPECT_EQ(counts.surfacesGiven, 1);
    EXPECT_EQ(counts.surfacesFreed, 1);
    EXPECT_EQ(counts.locks, 1);
    EXPECT_EQ(counts.unlocks, 1);
    EXPECT_EQ(counts.infosGiven, 1);
    EXPECT_EQ(counts.infosFreed, 1);
}

TEST_F(PickoraOwner, AJawtFailingAtEachStepFallsBackToTheForegroundWindow) {
    struct Case {
        const wchar_t* failure;
        std::vector<std::string> expectedLines;
        int surfacesGiven, infosGiven;
    } cases[] = {
        {L"access", {"Dialquist: Failed to access JAWT", kFallback}, 0, 0},
        {L"surface", {kFallback}, 0, 0},
        {L"info", {kFallback}, 1, 0},
        {L"throw", {kJavaWindowError, kFallback}, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(narrow(c.failure));
        unloadJawt();
        ASSERT_NE(LoadLibraryW((programDirectory() + L"\\jawt.dll").c_str()), nullptr);
        SetEnvironmentVariableW(L"TAVRO_JAWT_FAIL", c.failure);
        FakeItemDialogs dialogs({});
        EXPECT_EQ(openFolders(newComponent()), 0);
        EXPECT_EQ(dialogs.record().showOwner, foreground.get());
        EXPECT_EQ(lines, c.expectedLines);
        EXPECT_FALSE(vm.exceptionPending());
        const JawtStandInCounts counts = jawtCounts();
        EXPECT_EQ(counts.surfacesGiven, c.surfacesGiven);
        EXPECT_EQ(counts.surfacesFreed, c.surfacesGiven);
        EXPECT_EQ(counts.locks, counts.unlocks);
        EXPECT_EQ(counts.infosGiven, c.infosGiven);
        EXPECT_EQ(counts.infosFreed, c.infosGiven);
    }
}

TEST_F(PickoraOwner, AJawtNotLoadedYetIsLoadedFromTheBootLibraryPath) {
    const std::wstring directory = programDirectory();
    const std::wstring noAccessor = directory + L"\\no_accessor";
    TempFolder empty;
    struct Case {
        const char* what;
        std::optional<std::wstring> bootLibraryPath;
        bool failFindSystem;
        HWND expectedOwner;
        std::vector<std::string> expectedLines;
    } cases[] = {
        {"loaded", directory, false, component.get(),
         {kEasyWayFailed, narrow(directory + L"\\jawt.dll"), "loaded for bear!"}},
        {"no property", std::nullopt, false, foreground.get(),
         {kEasyWayFailed, "Dialquist: Failed to find java boot library path.  Bailing.", kFallback}},
        {"empty property", L"", false, foreground.get(),
         {kEasyWayFailed, "Dialquist: Failed to find java boot library path (1).  Bailing.", kFallback}},
        {"no jawt.dll there", empty.path(), false, foreground.get(),
         {kEasyWayFailed, narrow(empty.path() + L"\\jawt.dll"), "VistaFileChooser: Failed to load jawt.dll.  Bummer.",
          kFallback}},
        {"a jawt.dll without the accessor", noAccessor, false, foreground.get(),
         {kEasyWayFailed, narrow(noAccessor + L"\\jawt.dll"), "loaded for bear!",
          "Dialquist: Failed to locate JAWT accessor", kFallback}},
        {"System class missing", directory, true, foreground.get(), {kEasyWayFailed, kJavaWindowError, kFallback}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        unloadJawt();
        ASSERT_EQ(GetModuleHandleW(L"jawt.dll"), nullptr);
        JavaVmStandIn caseVm;
        ChooserState caseState;
        caseState.directorySelectionEnabled = true;
        jobject caseChooser = defineChooser(caseVm, caseState);
        caseVm.setSystemProperty("sun.boot.library.path",
                                 c.bootLibraryPath ? std::optional<std::string>(narrow(*c.bootLibraryPath)) : std::nullopt);
        if (c.failFindSystem) caseVm.failFindClass("java/lang/System");
        FakeItemDialogs dialogs({});
        jobject parent = caseVm.newObject("java/awt/Canvas");
        jint result = -1;
        lines = captureStdoutLines(
            [&] { result = pickora().handleOpenDialog(caseVm.env(), caseChooser, parent); });
        EXPECT_EQ(result, 0);
        EXPECT_EQ(dialogs.record().showOwner, c.expectedOwner);
        EXPECT_EQ(lines, c.expectedLines);
        EXPECT_FALSE(caseVm.exceptionPending()) << caseVm.pendingExceptionClass();
        EXPECT_EQ(caseVm.callsWithPendingException(), 0);
    }
}

// --- the classic dialogs' record and result ---------------------------------------------
// GetOpenFileNameW/GetSaveFileNameW stand in through the library's import table: the record
// is read exactly as the library filled it, and results and failures a real dialog under Wine
// cannot be made to give are handed back.

struct ClassicCall {
    int calls = 0;
    bool save = false;
    OPENFILENAMEW record{};
    std::wstring filter;  // up to and including the double NUL
    std::wstring file, fileTitle, initialDir, title;
    wchar_t fileUnits[501] = {};
    // What the dialog answers: filled into lpstrFile (at most nMaxFile units) on success.
    BOOL answer = FALSE;
    std::wstring result;
    WORD fileOffset = 0;
    DWORD extendedError = 0;
};
ClassicCall classicCall;

BOOL showClassic(LPOPENFILENAMEW ofn, bool save) {
    ClassicCall& c = classicCall;
    ++c.calls;
    c.save = save;
    c.record = *ofn;
    c.filter.clear();
    if (ofn->lpstrFilter) {
        const wchar_t* p = ofn->lpstrFilter;
        while (p[0] || p[1]) c.filter.push_back(*p++);
        c.filter += std::wstring(2, L'\0');
    }
    c.file = ofn->lpstrFile ? ofn->lpstrFile : L"";
    std::copy_n(ofn->lpstrFile, 501, c.fileUnits);
    c.fileTitle = ofn->lpstrFileTitle ? ofn->lpstrFileTitle : L"<none>";
    c.initialDir = ofn->lpstrInitialDir ? ofn->lpstrInitialDir : L"<none>";
    c.title = ofn->lpstrTitle ? ofn->lpstrTitle : L"<none>";
    if (c.answer) {
        const std::size_t units = std::min<std::size_t>(c.result.size(), ofn->nMaxFile);
        std::copy_n(c.result.begin(), units, ofn->lpstrFile);
        ofn->nFileOffset = c.fileOffset;
    }
    return c.answer;
}

BOOL WINAPI fakeGetOpenFileNameW(LPOPENFILENAMEW ofn) { return showClassic(ofn, false); }
BOOL WINAPI fakeGetSaveFileNameW(LPOPENFILENAMEW ofn) { return showClassic(ofn, true); }
DWORD WINAPI fakeCommDlgExtendedError() { return classicCall.extendedError; }

class PickoraClassic : public PickoraCall {
protected:
    void SetUp() override {
        PickoraCall::SetUp();
        classicCall = ClassicCall{};
        ASSERT_TRUE(openPatch.active());
        ASSERT_TRUE(savePatch.active());
        ASSERT_TRUE(errorPatch.active());
    }
    static HMODULE pickora() { return ::pickora::test::pickora().library; }

    ImportPatch openPatch{pickora(), "comdlg32.dll", "GetOpenFileNameW", reinterpret_cast<void*>(fakeGetOpenFileNameW)};
    ImportPatch savePatch{pickora(), "comdlg32.dll", "GetSaveFileNameW", reinterpret_cast<void*>(fakeGetSaveFileNameW)};
    ImportPatch errorPatch{pickora(), "comdlg32.dll", "CommDlgExtendedError",
                           reinterpret_cast<void*>(fakeCommDlgExtendedError)};
};

TEST_F(PickoraClassic, FillsTheRecordForOpenAndSave) {
    struct Case {
        bool save, multi;
        jint chooserFilterIndex;
        DWORD expectedFilterIndex, expectedFlags;
    } cases[] = {
        {false, false, 0, 1, 0x81804},   // the first filter
        {true, false, -1, 0, 0x81804},   // no filter chosen
        {false, true, 2, 3, 0x81A04},
        {true, true, 1, 2, 0x81A04},     // no overwrite prompt for saving
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "save " << c.save << " multi " << c.multi);
        state.currentDirectory = u"C:\\start here";
        state.selectedShortFileName = u"name.txt";
        state.dialogTitle = u"Export the movie";
        state.fileFilterString = std::u16string(u"Text\0*.txt\0All\0*.*", 19);
        state.fileFilterIndex = c.chooserFilterIndex;
        state.multiSelectionEnabled = c.multi;
        EXPECT_EQ(call(c.save), 1);  // cancelled
        ASSERT_EQ(classicCall.calls, 1);
        classicCall.calls = 0;
        const OPENFILENAMEW& r = classicCall.record;
        EXPECT_EQ(classicCall.save, c.save);
        EXPECT_EQ(r.lStructSize, sizeof(void*) == 4 ? 88u : 152u);  // the target's own record size
        EXPECT_EQ(r.hwndOwner, foreground.get());
        EXPECT_EQ(r.hInstance, nullptr);
        EXPECT_EQ(classicCall.filter, std::wstring(L"Text\0*.txt\0All\0*.*\0\0", 20));
        EXPECT_EQ(r.lpstrCustomFilter, nullptr);
        EXPECT_EQ(r.nMaxCustFilter, 0u);
        EXPECT_EQ(r.nFilterIndex, c.expectedFilterIndex);
        EXPECT_EQ(classicCall.file, L"name.txt");
        EXPECT_EQ(r.nMaxFile, 500u);
        EXPECT_EQ(classicCall.fileTitle, L"");
        EXPECT_EQ(r.nMaxFileTitle, 500u);
        EXPECT_EQ(classicCall.initialDir, L"C:\\start here");
        EXPECT_EQ(classicCall.title, L"Export the movie");
        EXPECT_EQ(r.Flags, c.expectedFlags);
        EXPECT_EQ(r.nFileOffset, 0);
        EXPECT_EQ(r.nFileExtension, 0);
        EXPECT_EQ(r.lpstrDefExt, nullptr);
        EXPECT_EQ(r.lCustData, 0);
        EXPECT_EQ(r.lpfnHook, nullptr);
        EXPECT_EQ(r.lpTemplateName, nullptr);
        EXPECT_EQ(r.FlagsEx, 0u);
        EXPECT_THAT(lines, ElementsAre(kFallback));
        EXPECT_EQ(state.setSelectedFilesCalls, 0);
    }
}

TEST_F(PickoraClassic, EmptySettingsAreLeftOut) {
    EXPECT_EQ(call(false), 1);
    EXPECT_EQ(classicCall.initialDir, L"<none>");
    EXPECT_EQ(classicCall.title, L"<none>");
    EXPECT_EQ(classicCall.file, L"");
    EXPECT_EQ(classicCall.filter, std::wstring(2, L'\0'));
}

TEST_F(PickoraClassic, AStartingNameLongerThanTheBufferIsCut) {
    state.selectedShortFileName = std::u16string(800, u'a');
    EXPECT_EQ(call(false), 1);
    EXPECT_EQ(classicCall.file, std::wstring(499, L'a'));
    EXPECT_EQ(classicCall.fileUnits[499], L'\0');
    EXPECT_EQ(classicCall.fileUnits[500], L'\0');
}

TEST_F(PickoraClassic, AFailedDialogReportsItsCode) {
    for (bool save : {false, true}) {
        classicCall.extendedError = 12291;  // a name too long for the buffer
        EXPECT_EQ(call(save), 1);
        EXPECT_THAT(lines, ElementsAre(kFallback, "An error occurred in Dialquist:12291"));
        classicCall.extendedError = 0;  // cancelled
        EXPECT_EQ(call(save), 1);
        EXPECT_THAT(lines, ElementsAre(kFallback));
    }
    EXPECT_EQ(state.setSelectedFilesCalls, 0);
}

TEST_F(PickoraClassic, TheResultBufferBecomesThePaths) {
    using Paths = std::vector<std::u16string>;
    std::wstring unterminatedName(L"C:\\d\0one\0", 9);
    unterminatedName += std::wstring(500 - unterminatedName.size(), L'q');
    struct Case {
        const char* what;
        std::wstring buffer;
        WORD fileOffset;
        Paths expected;
    } cases[] = {
        {"one file", L"C:\\d\\one.txt", 5, {u"C:\\d\\one.txt"}},
        {"several files", std::wstring(L"C:\\d\0b.txt\0a.txt\0\0", 18), 5, {u"C:\\d\\b.txt", u"C:\\d\\a.txt"}},
        {"non-ASCII", std::wstring(L"C:\\\u00e9t\u00e9\0\u65e5\u672c.txt\0\0", 15), 7,
         {u"C:\\\u00e9t\u00e9\\\u65e5\u672c.txt"}},
        {"no NUL in the 500 units", std::wstring(500, L'z'), 3, {std::u16string(500, u'z')}},
        {"a last name running off the end", unterminatedName, 5, {u"C:\\d\\one"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        for (bool save : {false, true}) {
            classicCall.answer = TRUE;
            classicCall.result = c.buffer;
            classicCall.fileOffset = c.fileOffset;
            state.setSelectedFilesCalls = 0;
            EXPECT_EQ(call(save), 0);
            EXPECT_EQ(state.setSelectedFilesCalls, 1);
            EXPECT_EQ(state.selectedFiles, c.expected);
        }
    }
}

}  // namespace
}  // namespace pickora::test

// The library's four dialogs as Wine shows them, worked by a driver thread as a user would.
#include "dialog_test_support.h"

#include <com_vyk_io_VistaFileChooser.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <thread>

namespace pickora::test {
namespace {

using namespace std::chrono_literals;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

const std::string kFallback = "Dialquist: Using foreground window as fallback";
constexpr jint kCancelled = static_cast<jint>(HRESULT_FROM_WIN32(ERROR_CANCELLED));

class PickoraDialogs : public ::testing::Test {
protected:
    void SetUp() override {
        CoInitialize(nullptr);
        foreground.bringToForeground();
        chooser = defineChooser(vm, state);
    }
    void TearDown() override {
        EXPECT_FALSE(vm.exceptionPending());
        EXPECT_EQ(vm.outstandingAcquisitions(), 0);
    }

    // Runs one export while `act` works the dialog; answers the export's result. On a fresh
    // thread, which has not begun COM, the library has to begin it itself.
    jint run(bool save, DialogDriver::Script act, bool onFreshThread = false) {
        jint result = -1;
        DialogDriver driver(std::move(act));
        auto call = [&] {
            result = save ? pickora().handleSaveDialog(vm.env(), chooser, nullptr)
                          : pickora().handleOpenDialog(vm.env(), chooser, nullptr);
        };
        lines = captureStdoutLines([&] {
            if (onFreshThread) {
                std::atomic<bool> done{false};
                std::thread caller([&] {
                    call();
                    done = true;
                });
                // The owner window is this thread's: its messages keep flowing while the
                // dialog runs, or disabling it would wait for this thread for ever.
                while (!done) {
                    MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
                    MSG message;
                    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
                }
                caller.join();
            } else {
                call();
            }
        });
        seen = driver.finish();
        EXPECT_TRUE(seen.found);
        EXPECT_THAT(seen.problems, IsEmpty());
        return result;
    }

    JavaVmStandIn vm;
    ChooserState state;
    jobject chooser = nullptr;
    TestWindow foreground{L"Pickora dialogs foreground"};
    TempFolder temp;
    std::vector<std::string> lines;
    DialogSeen seen;
};

void cancel(HWND dialog, DialogSeen&) { pressCancel(dialog); }

DialogDriver::Script typeAndConfirm(std::wstring text) {
    return [text](HWND dialog, DialogSeen& seen) {
        HWND edit = fileNameEdit(dialog);
        if (!edit) {
            seen.problems.push_back("no file name box");
            return;
        }
        typeText(edit, text);
        pressOk(dialog);
        if (!waitUntilClosed(dialog, 5s)) seen.problems.push_back("the dialog stayed open after OK");
    };
}

// --- item dialogs (folders) ------------------------------------------------------------------

TEST_F(PickoraDialogs, CancelledFolderOpenDeliversNothing) {
    state.directorySelectionEnabled = true;
    state.currentDirectory = u16(temp.path());
    EXPECT_EQ(run(false, cancel), kCancelled);
    EXPECT_EQ(seen.owner, foreground.get());
    EXPECT_EQ(state.setSelectedFilesCalls, 0);
    EXPECT_THAT(lines, ElementsAre(kFallback));
}

TEST_F(PickoraDialogs, FolderOpenDeliversATypedFolderWithItsNameUnchanged) {
    const std::wstring folder = temp.make(L"Dossier \u00e9t\u00e9 \u65e5\u672c", true);
    state.directorySelectionEnabled = true;
    state.currentDirectory = u16(temp.path());
    EXPECT_EQ(run(false, typeAndConfirm(folder)), 0);
    EXPECT_EQ(state.setSelectedFilesCalls, 1);
    EXPECT_THAT(state.selectedFiles, ElementsAre(u16(folder)));
}

TEST_F(PickoraDialogs, CancelledFolderSaveDeliversAnEmptySelection) {
    state.directorySelectionEnabled = true;
    EXPECT_EQ(run(true, cancel), kCancelled);
    EXPECT_EQ(state.setSelectedFilesCalls, 1);
    EXPECT_THAT(state.selectedFiles, IsEmpty());
}

TEST_F(PickoraDialogs, FolderSaveNavigatesIntoAFolderThenTakesANewOne) {
    const std::wstring existing = temp.make(L"existing", true);
    const std::wstring fresh = existing + L"\\brand new";
    state.directorySelectionEnabled = true;
    state.currentDirectory = u16(temp.path());
    bool stayedOpen = false;
    const jint result = run(true, [&](HWND dialog, DialogSeen& s) {
        if (!openListItem(dialog, L"existing")) {
            s.problems.push_back("no list entry to open");
            return;
        }
        // Entering an existing folder only navigates: the dialog stays.
        stayedOpen = !waitUntilClosed(dialog, 1000ms);
        typeAndConfirm(fresh)(dialog, s);
    });
    EXPECT_EQ(result, 0);
    EXPECT_TRUE(stayedOpen);
    EXPECT_THAT(state.selectedFiles, ElementsAre(u16(fresh)));
    EXPECT_FALSE(PathFileExistsW(fresh.c_str()));  // choosing it does not create it
    // Wine reports the move to the starting folder first. A typed new folder is Wine's own
    // result (it does not try to enter it), so the last lines are the navigation.
    EXPECT_THAT(lines, ElementsAre(kFallback, "Folder is changing: " + narrow(temp.path()), "Allowing.",
                                   "Folder is changing: " + narrow(existing), "Allowing."));
}

TEST_F(PickoraDialogs, FolderSaveEndsWithAFolderThatIsGoneWhenEntered) {
    const std::wstring doomed = temp.make(L"doomed", true);
    state.directorySelectionEnabled = true;
    state.currentDirectory = u16(temp.path());
    const jint result = run(true, [&](HWND dialog, DialogSeen& s) {
        // The list still shows the folder; by the time the user enters it, it is gone.
        if (!openListItem(dialog, L"doomed", [&] { RemoveDirectoryW(doomed.c_str()); })) {
            s.problems.push_back("no list entry to open");
        }
        if (!waitUntilClosed(dialog, 5s)) s.problems.push_back("the dialog stayed open");
    });
    EXPECT_EQ(result, 0);
    EXPECT_THAT(state.selectedFiles, ElementsAre(u16(doomed)));
    EXPECT_THAT(lines, ElementsAre(kFallback, "Folder is changing: " + narrow(temp.path()), "Allowing.",
                                   "Folder is changing: " + narrow(doomed), "Resetting!"));
}

TEST_F(PickoraDialogs, BothFolderDialogsRunOnAThreadThatHasNotBegunCom) {
    state.directorySelectionEnabled = true;
    state.currentDirectory = u16(temp.path());
    EXPECT_EQ(run(false, cancel, true), kCancelled);
    EXPECT_THAT(lines, ElementsAre(kFallback));
    EXPECT_EQ(run(true, cancel, true), kCancelled);
    EXPECT_EQ(state.setSelectedFilesCalls, 1);  // the save dialog's empty selection
}

// --- classic dialogs (files) -----------------------------------------------------------------

TEST_F(PickoraDialogs, CancelledClassicDialogsAnswerOneAndWriteNothing) {
    state.dialogTitle = u"Open a movie";
    EXPECT_EQ(run(false, cancel), 1);
    EXPECT_EQ(seen.title, L"Open a movie");
    EXPECT_EQ(seen.owner, foreground.get());
    EXPECT_EQ(state.setSelectedFilesCalls, 0);
    EXPECT_THAT(lines, ElementsAre(kFallback));

    EXPECT_EQ(run(true, cancel), 1);
    EXPECT_EQ(state.setSelectedFilesCalls, 0);
    EXPECT_THAT(lines, ElementsAre(kFallback));
}

TEST_F(PickoraDialogs, ClassicOpenStartsWithTheChoosersFolderNameAndFilter) {
    temp.make(L"a.txt", false);
    state.currentDirectory = u16(temp.path());
    state.selectedShortFileName = u"a.txt";
    state.fileFilterString = std::u16string(u"Movies\0*.mov\0Text\0*.txt", 24);
    state.fileFilterIndex = 1;  // the second filter
    std::wstring typed;
    LRESULT filter = -1;
    const jint result = run(false, [&](HWND dialog, DialogSeen&) {
        wchar_t text[600] = {};
        GetWindowTextW(fileNameEdit(dialog), text, 600);
        typed = text;
        filter = SendMessageW(GetDlgItem(dialog, 0x470), CB_GETCURSEL, 0, 0);
        pressOk(dialog);
    });
    EXPECT_EQ(result, 0);
    EXPECT_EQ(typed, L"a.txt");
    EXPECT_EQ(filter, 1);
    EXPECT_THAT(state.selectedFiles, ElementsAre(u16(temp.path() + L"\\a.txt")));
}

TEST_F(PickoraDialogs, ClassicOpenDeliversSeveralFilesJoinedToTheirFolder) {
    temp.make(L"one.txt", false);
    temp.make(L"two \u00e9.txt", false);
    state.currentDirectory = u16(temp.path());
    state.multiSelectionEnabled = true;
    EXPECT_EQ(run(false, typeAndConfirm(L"\"one.txt\" \"two \u00e9.txt\"")), 0);
    std::vector<std::u16string> files = state.selectedFiles;
    std::sort(files.begin(), files.end());
    EXPECT_THAT(files, ElementsAre(u16(temp.path() + L"\\one.txt"), u16(temp.path() + L"\\two \u00e9.txt")));
}

TEST_F(PickoraDialogs, ClassicSaveTakesAnExistingFileWithoutAsking) {
    const std::wstring existing = temp.make(L"keep.txt", false);
    state.currentDirectory = u16(temp.path());
    EXPECT_EQ(run(true, typeAndConfirm(L"keep.txt")), 0);
    EXPECT_THAT(state.selectedFiles, ElementsAre(u16(existing)));
    EXPECT_THAT(lines, ElementsAre(kFallback));
}

}  // namespace
}  // namespace pickora::test

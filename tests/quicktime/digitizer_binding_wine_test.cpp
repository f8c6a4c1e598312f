// The digitizer's binding against the stand-in QuickTime.qts: its hook never keeps a reference,
// and its load order reaches the program folder, both registry roots and the system folder.
#include "quicktime_test_support.h"

#include <quicktime/digitizer_binding.h>

#include <tavro_test/scratch.h>

#include <cwctype>
#include <optional>

namespace quicktime::test {
namespace {

using namespace quicktime::digitizer;
using tavro::test::ScratchFolder;

QuickTimeBinding& binding = quickTimeDigitizerBinding;
const EntryPoint notInitialised = &quickTimeDigitizerNotInitialised;

class DigitizerBinding : public QuickTimeSuite {
protected:
    ScratchFolder folder{L"quicktime"};
};

TEST_F(DigitizerBinding, ForwardedCallWithoutQuickTimeAnswers2095AndChangesNothing) {
    for (int call = 0; call < 2; ++call) {
        EXPECT_EQ(MemError(), -2095);
        EXPECT_EQ(reinterpret_cast<std::intptr_t>(NewHandle(16)), -2095);  // the whole register
        EXPECT_EQ(CallComponentFunctionWithStorage(nullptr, nullptr, nullptr), -2095);
        EXPECT_EQ(binding.module.load(), nullptr);
        EXPECT_EQ(binding.dispatcher.load(), notInitialised);
        EXPECT_EQ(binding.firstCallHook.load(), &bindOnFirstCall);
    }
}

// QuickTime, the host, holds QuickTime.qts; the hook binds to it through a reference of its own
// and gives that back at once.
TEST_F(DigitizerBinding, HookBindsToTheLoadedLibraryAndKeepsNoReference) {
    const PlacedStandIn placed(StandInVariant::version702, folder.path());
    const HMODULE host = ::LoadLibraryW(placed.path().c_str());
    ASSERT_NE(host, nullptr);
    EXPECT_EQ(MemError(), 0);
    EXPECT_EQ(binding.firstCallHook.load(), nullptr);
    EXPECT_EQ(binding.module.load(), nullptr);
    EXPECT_EQ(reinterpret_cast<void*>(binding.dispatcher.load()),
              reinterpret_cast<void*>(::GetProcAddress(host, "theQuickTimeDispatcher")));
    EXPECT_EQ(reinterpret_cast<void*>(binding.componentCallWithStorage.load()),
              reinterpret_cast<void*>(::GetProcAddress(host, "_CallComponentFunctionWithStorage")));
    EXPECT_EQ(standIn.state().loads, 1);
    ::FreeLibrary(host);
    EXPECT_EQ(::GetModuleHandleA("QuickTime.qts"), nullptr) << "the hook kept a reference";
}

TEST_F(DigitizerBinding, EveryEntryPassesItsRoutineCodeAndItsArguments) {
    struct Entry {
        const char* name;
        void* entry;
        std::uint32_t code;
    };
#define QUICKTIME_TEST_ENTRY(name, code, result, parameters) {#name, reinterpret_cast<void*>(&name), code},
    const Entry entries[] = {QUICKTIME_DIGITIZER_ROUTINES(QUICKTIME_TEST_ENTRY)};
#undef QUICKTIME_TEST_ENTRY
    const PlacedStandIn placed(StandInVariant::version702, folder.path());
    const HMODULE host = ::LoadLibraryW(placed.path().c_str());
    ASSERT_NE(host, nullptr);
    standIn.control().probe = 1;
    for (const Entry& entry : entries) {
        standIn.clearCalls();
        const auto probe = reinterpret_cast<qs::ProbeFunction>(entry.entry);
        EXPECT_EQ(probe(-1, 1LL << 40, 0.5, 3, 2.0f, -5, -8.25, 9), -1 + (1LL << 40) + 3 - 5 + 9) << entry.name;
        const std::vector<qs::Call> calls = standIn.calls();
        ASSERT_EQ(calls.size(), 1u) << entry.name;
        EXPECT_EQ(calls[0].code, entry.code) << entry.name;
        EXPECT_EQ(calls[0].arguments[1], 1ULL << 40) << entry.name;
        EXPECT_EQ(calls[0].arguments[7], 9u) << entry.name;
    }

    standIn.clearCalls();
    Handle storage = reinterpret_cast<Handle>(static_cast<std::uintptr_t>(0x1000));
    auto* parameters = reinterpret_cast<ComponentParameters*>(static_cast<std::uintptr_t>(0x20000));
    const auto handler = reinterpret_cast<ComponentFunctionUPP>(static_cast<std::uintptr_t>(0x300000));
    EXPECT_EQ(CallComponentFunctionWithStorage(storage, parameters, handler), 0x321000);
    const std::optional<qs::Call> call = standIn.lastCall(qs::kCallComponentFunctionWithStorageCode);
    ASSERT_TRUE(call);
    EXPECT_EQ(call->arguments[0], 0x1000u);
    EXPECT_EQ(call->arguments[1], 0x20000u);
    EXPECT_EQ(call->arguments[2], 0x300000u);
    ::FreeLibrary(host);
}

// Candidates 2 to 5, each placed or not: the first placed one in the order loads. A registry
// folder that does not exist is tried and passed over.
TEST_F(DigitizerBinding, LoadOrderIsProgramFolderThenMachineThenUserThenSystem) {
    enum Place { programFolderPlace = 1, machinePlace = 2, userPlace = 4, systemPlace = 8 };
    ScratchFolder machine(L"quicktime-hklm"), user(L"quicktime-hkcu");
    const std::wstring missing = folder.file(L"gone");
    struct Case {
        int placed;
        std::optional<std::wstring> winner;  // the folder it loads from
    };
    const Case cases[] = {
        {programFolderPlace | machinePlace | userPlace | systemPlace, programFolder()},
        {machinePlace | userPlace | systemPlace, machine.path()},
        {userPlace | systemPlace, user.path()},
        {systemPlace, systemFolder()},
        {0, std::nullopt},
    };
    const auto lower = [](std::wstring text) {
        for (wchar_t& c : text) c = static_cast<wchar_t>(std::towlower(c));
        return text;
    };
    for (const Case& c : cases) {
        std::optional<PlacedStandIn> inProgramFolder, inMachine, inUser, inSystem;
        if (c.placed & programFolderPlace) inProgramFolder.emplace(StandInVariant::version702, programFolder());
        if (c.placed & machinePlace) inMachine.emplace(StandInVariant::version702, machine.path());
        if (c.placed & userPlace) inUser.emplace(StandInVariant::version702, user.path());
        if (c.placed & systemPlace) inSystem.emplace(StandInVariant::version702, systemFolder());
        registry.set(HKEY_LOCAL_MACHINE, "QuickTime.qts folder",
                     narrow(c.placed & machinePlace ? machine.path() : missing));
        registry.set(HKEY_CURRENT_USER, "QuickTime.qts folder", narrow(user.path()) + "\\");

        const HMODULE loaded = loadQuickTimeLibrary();
        if (c.winner) {
            ASSERT_NE(loaded, nullptr) << c.placed;
            EXPECT_EQ(lower(loadedPathOf(loaded)), lower(*c.winner + L"\\QuickTime.qts")) << c.placed;
            ::FreeLibrary(loaded);
        } else {
            EXPECT_EQ(loaded, nullptr);
        }
    }
}

TEST_F(DigitizerBinding, HookLoadingTheLibraryItselfGivesItBackAtOnce) {
    const PlacedStandIn placed(StandInVariant::version702, folder.path());
    registry.set(HKEY_CURRENT_USER, "QuickTime.qts folder", narrow(folder.path()));
    bindOnFirstCall();  // called directly: a forwarded call would now reach an unloaded library
    EXPECT_EQ(binding.firstCallHook.load(), nullptr);
    EXPECT_EQ(binding.module.load(), nullptr);
    EXPECT_EQ(::GetModuleHandleA("QuickTime.qts"), nullptr);
    EXPECT_EQ(standIn.state().loads, 1);
    EXPECT_EQ(standIn.state().unloads, 1);
    EXPECT_EQ(std::string(standIn.state().loadedFrom), narrow(placed.path()));
}

}  // namespace
}  // namespace quicktime::test

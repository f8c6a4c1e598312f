// The services library's binding against the stand-in QuickTime.qts and the prefix's registry.
#include "quicktime_test_support.h"

#if defined(__i386__)
#include "stdcall_probe.h"
#endif

#include <quicktime/services_binding.h>

#include <tavro_test/import_patch.h>
#include <tavro_test/scratch.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <thread>

namespace quicktime::test {
namespace {

using namespace quicktime::services;
using tavro::test::ScratchFolder;

QuickTimeBinding& binding = quickTimeServicesBinding;
const EntryPoint notInitialised = &quickTimeServicesNotInitialised;

// Whether the watched thread has entered an unbounded wait through this program's import of
// WaitForSingleObject (the binding is linked into it).
std::atomic<DWORD> watchedThread{0};
std::atomic<bool> watchedThreadWaits{false};
decltype(&::WaitForSingleObject) realWaitForSingleObject = nullptr;
DWORD WINAPI watchingWaitForSingleObject(HANDLE handle, DWORD milliseconds) {
    if (milliseconds == INFINITE && ::GetCurrentThreadId() == watchedThread.load()) watchedThreadWaits = true;
    return realWaitForSingleObject(handle, milliseconds);
}

class ServicesBinding : public QuickTimeSuite {
protected:
    // A stand-in where the binding finds it: the registry's "QuickTime.qts folder".
    void installStandIn(StandInVariant variant = StandInVariant::version702) {
        placed.emplace(variant, folder.path());
        registry.set(HKEY_LOCAL_MACHINE, "QuickTime.qts folder", narrow(folder.path()));
    }

    // A reference the binding kept (a lazy binding is never counted) is given back, so the
    // placed copy can go.
    void TearDown() override {
        if (const HMODULE kept = binding.module.exchange(nullptr)) ::FreeLibrary(kept);
    }

    ScratchFolder folder{L"quicktime"};
    std::optional<PlacedStandIn> placed;
};

TEST_F(ServicesBinding, ForwardedCallWithoutQuickTimeAnswers2095AndChangesNothing) {
    for (int call = 0; call < 2; ++call) {
        EXPECT_EQ(EnterMovies(), -2095);
        // The whole return register carries it, whatever the caller reads.
        const auto wide = reinterpret_cast<std::intptr_t (*)()>(reinterpret_cast<void*>(&GetMovieDuration));
        EXPECT_EQ(wide(), -2095);
        EXPECT_EQ(binding.module.load(), nullptr);
        EXPECT_EQ(binding.dispatcher.load(), notInitialised);
        EXPECT_EQ(binding.componentCallWithStorage.load(), notInitialised);
        EXPECT_EQ(binding.firstCallHook.load(), &bindOnFirstCall);
    }
    EXPECT_EQ(InitializeQTML(0), -2093);
    EXPECT_EQ(binding.initCount.load(), 0);
}

TEST_F(ServicesBinding, LibraryWithoutDispatcherAnswers2094AndIsUnloaded) {
    installStandIn(StandInVariant::withoutDispatcher);
    EXPECT_EQ(InitializeQTML(0), -2094);
    EXPECT_EQ(::GetModuleHandleA("QuickTime.qts"), nullptr);
    EXPECT_EQ(binding.module.load(), nullptr);
    EXPECT_EQ(binding.componentCallWithStorage.load(), notInitialised);
    EXPECT_EQ(EnterMovies(), -2095);
    EXPECT_EQ(standIn.state().loads, standIn.state().unloads);
}

TEST_F(ServicesBinding, LazyBindingToALibraryWithoutDispatcherKeepsNoReference) {
    installStandIn(StandInVariant::withoutDispatcher);
    EXPECT_EQ(EnterMovies(), -2095);
    EXPECT_EQ(::GetModuleHandleA("QuickTime.qts"), nullptr);
    EXPECT_EQ(binding.module.load(), nullptr);
    EXPECT_EQ(binding.componentCallWithStorage.load(), notInitialised);
    EXPECT_EQ(binding.firstCallHook.load(), &bindOnFirstCall);
}

TEST_F(ServicesBinding, QuickTimeRefusingInitialisationGivesItsErrorAndResets) {
    installStandIn();
    standIn.failRoutine(0x001D0008, -2096);
    EXPECT_EQ(InitializeQTML(0x44), -2096);
    ASSERT_TRUE(standIn.lastCall(0x001D0008));
    EXPECT_EQ(standIn.lastCall(0x001D0008)->arguments[0], 0x44u);
    EXPECT_EQ(::GetModuleHandleA("QuickTime.qts"), nullptr);
    EXPECT_EQ(binding.module.load(), nullptr);
    EXPECT_EQ(binding.dispatcher.load(), notInitialised);
    EXPECT_EQ(binding.initCount.load(), 0);
    EXPECT_EQ(EnterMovies(), -2095);
    EXPECT_EQ(standIn.count(0x00020001), 0);
}

TEST_F(ServicesBinding, InitialisationIsCountedAndTheLastTerminateUnbinds) {
    installStandIn();
    EXPECT_EQ(InitializeQTML(0), 0);
    EXPECT_EQ(InitializeQTML(0), 0);
    EXPECT_EQ(standIn.count(0x001D0008), 1);
    EXPECT_EQ(standIn.state().loads, 1);
    EXPECT_EQ(binding.initCount.load(), 2);

    TerminateQTML();
    EXPECT_EQ(binding.initCount.load(), 1);
    EXPECT_NE(binding.module.load(), nullptr);
    EXPECT_NE(::GetModuleHandleA("QuickTime.qts"), nullptr);
    EXPECT_EQ(binding.firstCallHook.load(), nullptr);
    EXPECT_EQ(EnterMovies(), 0);
    EXPECT_EQ(standIn.count(0x001D0009), 0);

    TerminateQTML();
    EXPECT_EQ(standIn.count(0x001D0009), 1);
    EXPECT_EQ(binding.initCount.load(), 0);
    EXPECT_EQ(binding.module.load(), nullptr);
    EXPECT_EQ(::GetModuleHandleA("QuickTime.qts"), nullptr);
    EXPECT_EQ(binding.dispatcher.load(), notInitialised);
    EXPECT_NE(binding.firstCallHook.load(), nullptr);

    TerminateQTML();
    EXPECT_EQ(standIn.count(0x001D0009), 1);
    EXPECT_EQ(binding.initCount.load(), 0);
}

TEST_F(ServicesBinding, LazyBindingIsNotCountedAndSurvivesTerminate) {
    installStandIn(StandInVariant::version701);  // 7.0.1: the lazily taken reference is kept
    EXPECT_EQ(EnterMovies(), 0);
    const HMODULE bound = binding.module.load();
    ASSERT_NE(bound, nullptr);
    TerminateQTML();
    EXPECT_EQ(binding.module.load(), bound);
    EXPECT_EQ(binding.firstCallHook.load(), nullptr);
    EXPECT_EQ(standIn.count(0x001D0009), 0);
    EXPECT_EQ(EnterMovies(), 0);
    EXPECT_EQ(standIn.count(0x00020001), 2);
}

TEST_F(ServicesBinding, NarrowResultsIgnoreGarbageAboveThem) {
    installStandIn();
    standIn.control().garbageInHighBits = 1;
    standIn.control().releaseAnswer = 1;
    standIn.failRoutine(0x00020001, -108);
    EXPECT_EQ(InitializeQTML(0), 0);
    EXPECT_EQ(EnterMovies(), -108);
    EXPECT_EQ(quickTimeReleasesLazyReference(), 1);
    TerminateQTML();

    standIn.failRoutine(0x001D0008, -50);
    EXPECT_EQ(InitializeQTML(0), -50);
}

TEST_F(ServicesBinding, FirstCallsRacingOnSeveralThreadsBindOnceWithoutLeakingAReference) {
    installStandIn(StandInVariant::version701);
    std::atomic<bool> go{false};
    std::atomic<int> failures{0};
    std::vector<std::thread> callers;
    for (int i = 0; i < 4; ++i) {
        callers.emplace_back([&] {
            while (!go.load()) std::this_thread::yield();
            failures += EnterMovies() != 0;
        });
    }
    go = true;
    for (std::thread& caller : callers) caller.join();
    EXPECT_EQ(failures.load(), 0);
    EXPECT_EQ(standIn.count(0x00020001), 4);
    EXPECT_EQ(binding.firstCallHook.load(), nullptr);
    ASSERT_NE(binding.module.load(), nullptr);
    ::FreeLibrary(binding.module.exchange(nullptr));
    EXPECT_EQ(::GetModuleHandleA("QuickTime.qts"), nullptr) << "a racing first call kept a second reference";
}

// The frame the entries make around the hook unwinds: an exception thrown inside the hook
// reaches the forwarded call's caller (as a fault inside it reaches the caller's handlers).
struct HookFailure {};
QUICKTIME_HOOK void throwingHook() {
    throw HookFailure{};
}

TEST_F(ServicesBinding, FrameAroundTheHookUnwindsToTheCaller) {
    binding.firstCallHook.store(&throwingHook);
    bool caught = false;
    try {
        EnterMovies();
    } catch (const HookFailure&) {
        caught = true;
    }
    binding.firstCallHook.store(&bindOnFirstCall);
    EXPECT_TRUE(caught);
}

// Every entry of the table, called with the probe's prototype: the stand-in must see the
// entry's own routine code.
TEST_F(ServicesBinding, EveryEntryPassesItsRoutineCode) {
    struct Entry {
        const char* name;
        void* entry;
        std::uint32_t code;
    };
#define QUICKTIME_TEST_ENTRY(name, code, result, parameters) {#name, reinterpret_cast<void*>(&name), code},
    const Entry entries[] = {QUICKTIME_SERVICES_ROUTINES(QUICKTIME_TEST_ENTRY)};
#undef QUICKTIME_TEST_ENTRY
    installStandIn(StandInVariant::version701);  // kept: the probe answers 001D/0059 too
    standIn.control().probe = 1;
    for (const Entry& entry : entries) {
        standIn.clearCalls();
        reinterpret_cast<qs::ProbeFunction>(entry.entry)(1, 2, 3.0, 4, 5.0f, 6, 7.0, 8);
        const std::vector<std::uint32_t> codes = standIn.codes();
        ASSERT_FALSE(codes.empty()) << entry.name;
        EXPECT_EQ(codes.back(), entry.code) << entry.name;
    }
}

double asDouble(std::uint64_t bits) {
    double value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

TEST_F(ServicesBinding, ArgumentsAndResultPassUnchangedOnTheBindingCallAndLater) {
    installStandIn(StandInVariant::version701);
    standIn.control().probe = 1;
    const auto probe = reinterpret_cast<qs::ProbeFunction>(reinterpret_cast<void*>(&NewMovieFromFile));
    struct Arguments {
        std::int32_t a;
        std::int64_t b;
        double c;
        std::int32_t d;
        float e;
        std::int64_t f;
        double g;
        std::int32_t h;
    };
    const Arguments cases[] = {
        {-7, 0x123456789ABCDEF0, 2.5, 0x7FFFFFFF, -0.125f, -0x100000001, 1e300, -1},
        {11, -2, -3.75, INT32_MIN, 1e30f, 0x7FFFFFFFFFFFFFFF, -0.0, 42},
    };
    for (const Arguments& c : cases) {
        const bool binds = binding.firstCallHook.load() != nullptr;
        EXPECT_EQ(binds, &c == &cases[0]);
        standIn.clearCalls();
        const std::int64_t result = probe(c.a, c.b, c.c, c.d, c.e, c.f, c.g, c.h);
        EXPECT_EQ(result, c.b + c.f + c.a + c.d + c.h) << "binding call: " << binds;
        const std::optional<qs::Call> call = standIn.lastCall(0x000200F0);
        ASSERT_TRUE(call);
        EXPECT_EQ(static_cast<std::int64_t>(call->arguments[0]), c.a);
        EXPECT_EQ(static_cast<std::int64_t>(call->arguments[1]), c.b);
        EXPECT_EQ(asDouble(call->arguments[2]), c.c);
        EXPECT_EQ(static_cast<std::int64_t>(call->arguments[3]), c.d);
        EXPECT_EQ(asDouble(call->arguments[4]), static_cast<double>(c.e));
        EXPECT_EQ(static_cast<std::int64_t>(call->arguments[5]), c.f);
        EXPECT_EQ(std::signbit(asDouble(call->arguments[6])), std::signbit(c.g));
        EXPECT_EQ(asDouble(call->arguments[6]), c.g);
        EXPECT_EQ(static_cast<std::int64_t>(call->arguments[7]), c.h);
    }
    EXPECT_EQ(binding.firstCallHook.load(), nullptr);
}

#if defined(__i386__)
// QuickTime's routines are cdecl: the entry, on the call that runs the hook as on later ones,
// leaves every argument byte on the stack for the caller, as QuickTime's handler does.
TEST_F(ServicesBinding, ForwardedCallsLeaveTheirArgumentsToTheCaller) {
    installStandIn(StandInVariant::version701);
    standIn.control().probe = 1;
    using Pushed = std::int32_t(__stdcall*)(std::int32_t, std::int64_t, double, std::int32_t, float, std::int64_t,
                                            double, std::int32_t);
    const auto entry = reinterpret_cast<Pushed>(reinterpret_cast<void*>(&OpenMovieFile));
    for (int call = 0; call < 2; ++call) {
        const auto outcome = tavro::test::callAsStdcall(entry, 1, std::int64_t{2}, 3.0, 4, 5.0f, std::int64_t{6}, 7.0, 8);
        EXPECT_EQ(outcome.argumentBytes, 48u);
        EXPECT_EQ(outcome.bytesLeft, 48) << "call " << call;
        EXPECT_EQ(outcome.result, 1 + 2 + 4 + 6 + 8);
    }
}
#endif

TEST_F(ServicesBinding, InitialisationHoldsTheProcessMutexWhileAnotherCallerWaits) {
    installStandIn();
    standIn.blockIn(0x001D0008);
    std::atomic<OSErr> first{1}, second{1};
    std::thread initialising([&] { first = InitializeQTML(0); });
    ASSERT_TRUE(standIn.waitUntilBlocked(10000));

    char name[64];
    std::snprintf(name, sizeof name, "QTMLInitTermMutex%lx", static_cast<unsigned long>(::GetCurrentProcessId()));
    const tavro::UniqueHandle mutex(::OpenMutexA(SYNCHRONIZE, FALSE, name));
    ASSERT_NE(mutex, nullptr) << name;
    EXPECT_EQ(::WaitForSingleObject(mutex.get(), 0), static_cast<DWORD>(WAIT_TIMEOUT));

    realWaitForSingleObject = reinterpret_cast<decltype(realWaitForSingleObject)>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "WaitForSingleObject")));
    ASSERT_NE(realWaitForSingleObject, nullptr);
    const tavro::test::ImportPatch waits(::GetModuleHandleW(nullptr), "kernel32.dll", "WaitForSingleObject",
                                         reinterpret_cast<void*>(&watchingWaitForSingleObject));
    ASSERT_TRUE(waits.active());
    watchedThreadWaits = false;
    std::thread waiting([&] {
        watchedThread = ::GetCurrentThreadId();
        second = InitializeQTML(0);
    });
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!watchedThreadWaits.load() && second.load() == 1 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_TRUE(watchedThreadWaits.load()) << "the second caller never waited for the mutex";
    EXPECT_EQ(second.load(), 1) << "the second caller did not wait";
    standIn.release();
    initialising.join();
    waiting.join();
    EXPECT_EQ(first.load(), 0);
    EXPECT_EQ(second.load(), 0);
    EXPECT_EQ(binding.initCount.load(), 2);
    EXPECT_EQ(standIn.count(0x001D0008), 1);
    TerminateQTML();
    TerminateQTML();
}

TEST_F(ServicesBinding, WithoutItsMutexInitialisationProceedsUnserialised) {
    installStandIn();
    char name[64];
    std::snprintf(name, sizeof name, "QTMLInitTermMutex%lx", static_cast<unsigned long>(::GetCurrentProcessId()));
    const tavro::UniqueHandle squatter(::CreateEventA(nullptr, TRUE, FALSE, name));  // the name is taken
    ASSERT_EQ(::CreateMutexA(nullptr, FALSE, name), nullptr);
    EXPECT_EQ(InitializeQTML(0), 0);
    TerminateQTML();
    EXPECT_EQ(standIn.count(0x001D0009), 1);
}

// --- discovery against the prefix's registry ----------------------------------------------

constexpr std::size_t kRoom = MAX_PATH - 13;

std::string withSeparator(const std::wstring& folder) {
    return narrow(folder) + "\\";
}

TEST_F(ServicesBinding, LoadedModuleWinsDiscovery) {
    ScratchFolder other(L"quicktime-other");
    const PlacedStandIn placedHere(StandInVariant::version702, folder.path());
    registry.set(HKEY_LOCAL_MACHINE, "QTSysDir", narrow(other.path()));
    const HMODULE held = ::LoadLibraryW(placedHere.path().c_str());
    ASSERT_NE(held, nullptr);
    EXPECT_EQ(locateQuickTimeFolder(kRoom), withSeparator(folder.path()));
    // The folder must fit the caller's room: path length - 13 + 1 below it.
    const std::size_t folderLength = withSeparator(folder.path()).size();
    EXPECT_EQ(locateQuickTimeFolder(folderLength + 2), withSeparator(folder.path()));
    EXPECT_NE(locateQuickTimeFolder(folderLength + 1), withSeparator(folder.path()));
    ::FreeLibrary(held);
}

TEST_F(ServicesBinding, RegistryFoldersAreTakenOnlyWhenTheyExist) {
    ScratchFolder sysDir(L"quicktime-sysdir"), qtsFolder(L"quicktime-qts");
    const std::string missing = narrow(folder.path()) + "\\gone";
    const std::string system = narrow(systemFolder()) + "\\";
    struct Case {
        std::optional<std::string> qtSysDir, qtsFolderValue;
        std::string expected;
    };
    const Case cases[] = {
        {narrow(sysDir.path()), narrow(qtsFolder.path()), withSeparator(sysDir.path())},
        {narrow(sysDir.path()) + "\\", std::nullopt, withSeparator(sysDir.path())},
        {missing, narrow(qtsFolder.path()), withSeparator(qtsFolder.path())},
        {std::nullopt, narrow(qtsFolder.path()) + "/", narrow(qtsFolder.path()) + "/"},
        {missing, missing, system},
        {std::nullopt, std::nullopt, system},
    };
    for (const Case& c : cases) {
        registry.remove(HKEY_LOCAL_MACHINE, "QTSysDir");
        registry.remove(HKEY_LOCAL_MACHINE, "QuickTime.qts folder");
        if (c.qtSysDir) registry.set(HKEY_LOCAL_MACHINE, "QTSysDir", *c.qtSysDir);
        if (c.qtsFolderValue) registry.set(HKEY_LOCAL_MACHINE, "QuickTime.qts folder", *c.qtsFolderValue);
        EXPECT_EQ(locateQuickTimeFolder(kRoom), c.expected)
            << c.qtSysDir.value_or("-") << " / " << c.qtsFolderValue.value_or("-");
    }
}

TEST_F(ServicesBinding, RegistryValueIsTerminatedAndMustFitWithItsSeparator) {
    const std::string path = narrow(folder.path());
    registry.setRaw(HKEY_LOCAL_MACHINE, "QTSysDir", path);  // stored without a terminator
    EXPECT_EQ(readQuickTimeRegistryPath("QTSysDir", kRoom), path + "\\");
    EXPECT_EQ(readQuickTimeRegistryPath("QTSysDir", path.size() + 2), path + "\\");
    EXPECT_EQ(readQuickTimeRegistryPath("QTSysDir", path.size() + 1), "");
    EXPECT_EQ(readQuickTimeRegistryPath("QTSysDir", path.size()), "");
    EXPECT_EQ(readQuickTimeRegistryPath("QTExtDir", kRoom), "");
}

TEST_F(ServicesBinding, ExtensionFolderRule) {
    ScratchFolder extensions(L"quicktime-ext");
    const std::string system = narrow(systemFolder()) + "\\";
    // QuickTime found in the system folder: its extensions live in a subfolder of it.
    EXPECT_EQ(locateExtensionFolder(kRoom), system + "QuickTime\\");
    registry.set(HKEY_LOCAL_MACHINE, "QuickTime.qts folder", narrow(folder.path()));
    EXPECT_EQ(locateExtensionFolder(kRoom), withSeparator(folder.path()));
    registry.set(HKEY_LOCAL_MACHINE, "QTExtDir", narrow(extensions.path()));
    EXPECT_EQ(locateExtensionFolder(kRoom), withSeparator(extensions.path()));
}

TEST_F(ServicesBinding, LibraryMissingFromTheQuickTimeFolderIsLoadedFromTheExtensionFolder) {
    ScratchFolder extensions(L"quicktime-ext");
    const PlacedStandIn placedThere(StandInVariant::version702, extensions.path());
    registry.set(HKEY_LOCAL_MACHINE, "QuickTime.qts folder", narrow(folder.path()));
    registry.set(HKEY_LOCAL_MACHINE, "QTExtDir", narrow(extensions.path()));
    EXPECT_EQ(InitializeQTML(0), 0);
    EXPECT_EQ(std::string(standIn.state().loadedFrom), narrow(placedThere.path()));
    TerminateQTML();
}

// --- the 7.0.2 rule for a lazily taken reference --------------------------------------------

struct LazyReferenceCase {
    const char* name;
    StandInVariant variant;
    std::uint32_t releaseAnswer;
    bool released;
    bool asked;  // whether 001D/0059 is called
};

void PrintTo(const LazyReferenceCase& c, std::ostream* out) {
    *out << c.name;
}

class LazyReference : public ServicesBinding, public ::testing::WithParamInterface<LazyReferenceCase> {};

TEST_P(LazyReference, IsReleasedOnlyFrom702WhenQuickTimeSaysSo) {
    const LazyReferenceCase& c = GetParam();
    installStandIn(c.variant);
    standIn.control().releaseAnswer = c.releaseAnswer;
    // The reference QuickTime's own users would hold, so a released one leaves it loaded.
    const HMODULE held = ::LoadLibraryW(placed->path().c_str());
    ASSERT_NE(held, nullptr);

    EXPECT_EQ(EnterMovies(), 0);
    EXPECT_EQ(binding.firstCallHook.load(), nullptr);
    EXPECT_EQ(binding.module.load(), c.released ? nullptr : held);
    EXPECT_EQ(standIn.count(0x001D0059), c.asked ? 1 : 0);
    EXPECT_EQ(EnterMovies(), 0);  // the bound entries stay in place either way
    EXPECT_EQ(quickTimeIsAtLeast702(), c.variant == StandInVariant::version702);

    ::FreeLibrary(held);
    EXPECT_EQ(::GetModuleHandleA("QuickTime.qts") != nullptr, !c.released);
}

INSTANTIATE_TEST_SUITE_P(
    Versions, LazyReference,
    ::testing::Values(LazyReferenceCase{"v702_release", StandInVariant::version702, 1, true, true},
                      LazyReferenceCase{"v702_keep", StandInVariant::version702, 0, false, true},
                      LazyReferenceCase{"v701", StandInVariant::version701, 1, false, false},
                      LazyReferenceCase{"unversioned", StandInVariant::unversioned, 1, false, false}),
    [](const ::testing::TestParamInfo<LazyReferenceCase>& param) { return std::string(param.param.name); });

}  // namespace
}  // namespace quicktime::test

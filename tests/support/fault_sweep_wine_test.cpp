// The sweep itself: it fails each point once, in order, and tells a leak on a failure path
// from state that is made once for good.
#include <tavro_test/fault_sweep.h>

#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tavro::test {
namespace {

// This program's own two imports are the points.
std::vector<FailingImportEntry> twoCalls() {
    return {
        TAVRO_FAILING_IMPORT("kernel32.dll", CreateEventA, nullptr, ERROR_NOT_ENOUGH_MEMORY),
        TAVRO_FAILING_IMPORT("kernel32.dll", CreateSemaphoreA, nullptr, ERROR_NOT_ENOUGH_MEMORY),
    };
}

struct TwoHandles {
    HANDLE event = nullptr;
    HANDLE semaphore = nullptr;
    bool open() {
        event = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
        if (!event) return false;
        semaphore = ::CreateSemaphoreA(nullptr, 0, 1, nullptr);
        return semaphore != nullptr;
    }
};

TEST(FaultSweep, FailsEachPointOnceInOrder) {
    const ImportFaults faults(::GetModuleHandleW(nullptr), twoCalls());
    ASSERT_TRUE(faults.missing().empty());
    std::vector<std::string> failures;
    const SweepSummary summary = sweepFaults([&] {
        TwoHandles handles;
        const bool opened = handles.open();
        if (!opened) {
            failures.push_back(failedPoint());
            EXPECT_EQ(::GetLastError(), DWORD(ERROR_NOT_ENOUGH_MEMORY));
        }
        if (handles.event) ::CloseHandle(handles.event);
        if (handles.semaphore) ::CloseHandle(handles.semaphore);
    });
    EXPECT_EQ(summary.points, 2);
    EXPECT_EQ(summary.runs, 2);
    EXPECT_EQ(failures, (std::vector<std::string>{"CreateEventA", "CreateSemaphoreA"}));
}

TEST(FaultSweep, FindsAHandleLeftOnAFailurePath) {
    const ImportFaults faults(::GetModuleHandleW(nullptr), twoCalls());
    EXPECT_NONFATAL_FAILURE(sweepFaults([] {
                                TwoHandles handles;
                                if (!handles.open()) return;  // forgets the event
                                ::CloseHandle(handles.event);
                                ::CloseHandle(handles.semaphore);
                            }),
                            "failing point 2 (CreateSemaphoreA) leaks");
}

TEST(FaultSweep, StateMadeOnceIsNotALeak) {
    const ImportFaults faults(::GetModuleHandleW(nullptr), twoCalls());
    static HANDLE keptForGood = nullptr;
    sweepFaults([] {
        TwoHandles handles;
        if (!handles.open() && !keptForGood) keptForGood = ::CreateMutexA(nullptr, FALSE, nullptr);
        if (handles.event) ::CloseHandle(handles.event);
        if (handles.semaphore) ::CloseHandle(handles.semaphore);
    });
    EXPECT_NE(keptForGood, nullptr);
    ::CloseHandle(keptForGood);
}

}  // namespace
}  // namespace tavro::test

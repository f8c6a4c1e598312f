// Frames end to end: the digitizer names the dump filter's sink, runs the graph, maps the
// filter's slot and publishes each frame from its capture thread; QuickTime asks and polls.
#include <windows.h>
#include <tlhelp32.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <thread>

#include <tavro_test/box_dismisser.h>

#include "digitizer_session.h"

namespace {

using namespace pramble_test;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using quicktime::ComponentResult;

constexpr std::int16_t kSetCompression = 68, kCompressOneFrameAsync = 69, kCompressDone = 70,
                       kReleaseCompressBuffer = 71, kSetCompressionOnOff = 74, kSetTimeBase = 76;
constexpr LONG kWidth = 160, kHeight = 120;
constexpr std::uint32_t kFrameBytes = kWidth * kHeight * 2;

// Whether a thread of this process with this id is listed in a snapshot (Wine's graph starts and
// ends threads of its own, so counts say little: the capture thread is known by the id it
// announced to QuickTime).
bool threadListed(DWORD id) {
    const tavro::UniqueHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
    THREADENTRY32 entry{sizeof entry};
    for (BOOL more = ::Thread32First(snapshot.get(), &entry); more; more = ::Thread32Next(snapshot.get(), &entry)) {
        if (entry.th32OwnerProcessID == ::GetCurrentProcessId() && entry.th32ThreadID == id) return true;
    }
    return false;
}

DWORD handlesOfThisProcess() {
    DWORD count = 0;
    ::GetProcessHandleCount(::GetCurrentProcess(), &count);
    return count;
}

bool exists(const char* event) { return tavro::UniqueHandle(::OpenEventA(SYNCHRONIZE, FALSE, event)) != nullptr; }

template <typename Condition>
bool waitFor(Condition condition) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

struct Delivered {
    quicktime::Boolean done = 0;
    quicktime::Ptr data = nullptr;
    long size = 0;
    quicktime::TimeRecord time{};
};

class FrameChannelTest : public DigitizerSession {
protected:
    // One RGB 555 device behind the stand-in dump filter, registered and opened.
    void openCapture(DumpMode mode = DumpMode::frames, int devices = 1) {
        job = std::make_shared<DumpOutsideJob>(mode);
        DumpConfig dumpConfig;
        dumpConfig.outsideJob = job;
        dumpRecord = dumpConfig.record;
        addDump(dumpConfig);
        CaptureConfig device;
        device.formats = {{MEDIASUBTYPE_RGB555, kWidth, kHeight}};
        for (int n = 0; n < devices; ++n) {
            addDevice(L"dev" + std::to_wstring(n / 10) + std::to_wstring(n % 10), L"Cam", device);
        }
        ASSERT_EQ(registerDevices(), std::uint32_t(devices));
        ComponentResult opened = 1;
        openDevice(std::uint32_t(devices - 1), &opened);
        ASSERT_EQ(opened, 0);
        const quicktime::Rect bounds{0, 0, 240, 320};
        ASSERT_EQ(request(kSetCompression, {0, 16, arg(&bounds), 0, 0, 0}), 0);
    }

    ComponentResult compression(bool on) { return request(kSetCompressionOnOff, {on ? 1 : 0}); }

    Delivered poll() {
        Delivered frame;
        EXPECT_EQ(request(kCompressDone, {arg(&frame.done), arg(&frame.data), arg(&frame.size), 0, arg(&frame.time)}), 0);
        return frame;
    }
    Delivered nextFrame() {
        Delivered frame;
        EXPECT_TRUE(waitFor([&] { return (frame = poll()).done != 0; })) << "no frame came";
        return frame;
    }

    // The thread that last announced itself to QuickTime (0 for none).
    DWORD announcedThread() { return DWORD(host().announcedThreadId); }

    std::shared_ptr<DumpOutsideJob> job;
    std::shared_ptr<DumpRecord> dumpRecord;
};

TEST_F(FrameChannelTest, AWholeCaptureDeliversTheDevicesFramesAndLeavesNothingBehind) {
    openCapture();
    ASSERT_EQ(request(kSetTimeBase, {7}), 0);
    ASSERT_EQ(compression(true), 0);
    ASSERT_TRUE(waitFor([&] { return announcedThread() != 0; })) << "the capture thread announces itself";
    const DWORD captureThread = announcedThread();
    EXPECT_NE(captureThread, ::GetCurrentThreadId());
    EXPECT_TRUE(threadListed(captureThread));
    EXPECT_THAT(dumpRecord->fileNames, ElementsAre(L"xOx0.dat"));
    EXPECT_EQ(job->suffix(), "xOx0");
    quicktime::Ptr slot = nullptr;
    for (std::uint32_t n = 0; n < 5; ++n) {
        SCOPED_TRACE(n);
        EXPECT_EQ(poll().done, 0) << "nothing before it is asked for";
        ASSERT_EQ(request(kCompressOneFrameAsync), 0);
        const Delivered frame = nextFrame();
        ASSERT_EQ(frame.size, long(kFrameBytes));
        std::vector<std::uint16_t> expected(kFrameBytes / 2);
        for (std::uint32_t i = 0; i < expected.size(); ++i) expected[i] = patternWord(n, i);
        EXPECT_EQ(std::memcmp(frame.data, expected.data(), kFrameBytes), 0) << "the slot's bytes, unchanged";
        EXPECT_EQ(frame.time.value, 7 * 30) << "the time base's now, in 1/30 s";
        EXPECT_EQ(frame.time.scale, 30);
        EXPECT_EQ(request(kReleaseCompressBuffer, {arg(frame.data)}), 0);
        slot = frame.data;
    }
    EXPECT_EQ(compression(false), 0);
    EXPECT_EQ(request(kReleaseCompressBuffer, {arg(slot)}), -2209);
    EXPECT_EQ(request(kCompressOneFrameAsync), -2209);
    EXPECT_FALSE(threadListed(captureThread)) << "the capture thread is gone";
    MEMORY_BASIC_INFORMATION region{};
    ASSERT_NE(::VirtualQuery(slot, &region, sizeof region), 0u);
    EXPECT_EQ(region.State, DWORD(MEM_FREE)) << "the view is unmapped";
    EXPECT_FALSE(tavro::UniqueHandle(::OpenFileMappingA(FILE_MAP_READ, FALSE, "Qm_MapxOx0"))) << "the mapping is closed";
    EXPECT_EQ(closeDevice(), 0);
    EXPECT_FALSE(exists("Qm_StartxOx0") || exists("Qm_ReadyxOx0"));
}

TEST_F(FrameChannelTest, OnAndOffCyclesKeepHandlesAndThreadsSteady) {
    openCapture();
    ASSERT_EQ(compression(true), 0);
    ASSERT_EQ(compression(false), 0);
    const DWORD handles = handlesOfThisProcess();
    for (int cycle = 0; cycle < 50; ++cycle) {
        ASSERT_EQ(compression(true), 0) << cycle;
        ASSERT_EQ(request(kCompressOneFrameAsync), 0);
        nextFrame();
        ASSERT_EQ(compression(false), 0) << cycle;
        ASSERT_FALSE(threadListed(announcedThread())) << cycle;
    }
    EXPECT_EQ(handlesOfThisProcess(), handles);
    ASSERT_EQ(compression(true), 0);
    const DWORD last = announcedThread();
    EXPECT_EQ(closeDevice(), 0) << "close while compression is on";
    EXPECT_FALSE(threadListed(last));
    EXPECT_FALSE(tavro::UniqueHandle(::OpenFileMappingA(FILE_MAP_READ, FALSE, "Qm_MapxOx0")));
}

TEST_F(FrameChannelTest, DeviceTwelvesChannelCarriesItsNumber) {
    openCapture(DumpMode::frames, 13);
    EXPECT_TRUE(exists("Qm_StartxOx12") && exists("Qm_ReadyxOx12"));
    ASSERT_EQ(compression(true), 0);
    EXPECT_THAT(dumpRecord->fileNames, ElementsAre(L"xOx12.dat"));
    EXPECT_TRUE(tavro::UniqueHandle(::OpenFileMappingA(FILE_MAP_READ, FALSE, "Qm_MapxOx12")));
    ASSERT_EQ(request(kCompressOneFrameAsync), 0);
    EXPECT_EQ(nextFrame().size, long(kFrameBytes));
    EXPECT_EQ(compression(false), 0);
}

TEST_F(FrameChannelTest, WithoutTheFiltersMappingCompressionStaysOnUntilSwitchedOff) {
    openCapture(DumpMode::noMapping);
    tavro::test::BoxDismisser boxes;
    EXPECT_EQ(compression(true), -50);
    EXPECT_THAT(boxes.texts(), ElementsAre("0Cam-WDM : Could not open file-mapping object."));
    EXPECT_EQ(announcedThread(), 0u) << "no capture thread without a view";
    EXPECT_EQ(compression(true), -2209) << "still on";
    EXPECT_EQ(request(kReleaseCompressBuffer, {0}), 0);
    EXPECT_EQ(compression(false), -50);
    EXPECT_THAT(boxes.texts(), ElementsAre("0Cam-WDM : Could not open file-mapping object.",
                                           "0Cam-WDM : Could not unmap view of file.",
                                           "0Cam-WDM : Could not close map file handle."));
    EXPECT_EQ(compression(false), -2209);
    EXPECT_EQ(closeDevice(), 0);
}

// The start event is auto-reset: requests while the filter is busy leave one signal pending. The
// filter then serves its second frame before QuickTime has taken the first: the slot is
// published again and one frame, the newer, is delivered.
TEST_F(FrameChannelTest, TwoRequestsWhileTheFilterIsBusyGetOneFrame) {
    openCapture();
    ASSERT_EQ(compression(true), 0);
    job->hold();
    ASSERT_EQ(request(kCompressOneFrameAsync), 0);
    ASSERT_TRUE(waitFor([&] { return job->startSignalsSeen() == 1; }));
    ASSERT_EQ(request(kCompressOneFrameAsync), 0);
    ASSERT_EQ(request(kCompressOneFrameAsync), 0);
    job->release();
    ASSERT_TRUE(waitFor([&] { return job->idleAfterFrames() >= 2; })) << "the filter never went idle";
    EXPECT_EQ(job->framesServed(), 2) << "two requests, one more frame";
    EXPECT_EQ(job->idleAfterFrames(), 2);
    const Delivered frame = poll();
    ASSERT_EQ(frame.done, 1);
    std::uint16_t first = 0;
    std::memcpy(&first, frame.data + 2, 2);
    EXPECT_EQ(first, patternWord(1, 1)) << "the newer frame";
    EXPECT_EQ(poll().done, 0) << "one frame for both ready signals";
    EXPECT_EQ(compression(false), 0);
}

TEST_F(FrameChannelTest, AFrameUnclaimedAtOffIsNeverDelivered) {
    openCapture();
    ASSERT_EQ(compression(true), 0);
    ASSERT_EQ(request(kCompressOneFrameAsync), 0);
    ASSERT_TRUE(waitFor([&] { return job->framesServed() == 1; }));
    const tavro::UniqueHandle ready(::OpenEventA(SYNCHRONIZE | EVENT_MODIFY_STATE, FALSE, "Qm_ReadyxOx0"));
    ASSERT_NE(ready, nullptr);
    // The capture thread is the ready signal's only other waiter: once the signal is gone, the
    // thread took it and publishes the frame before off can end the thread. A signal this test
    // takes instead is given back.
    ASSERT_TRUE(waitFor([&] {
        if (::WaitForSingleObject(ready.get(), 0) == WAIT_TIMEOUT) return true;
        ::SetEvent(ready.get());
        return false;
    })) << "the capture thread never took the ready signal";
    EXPECT_EQ(compression(false), 0);
    ::InterlockedExchange(&host().announcedThreadId, 0);
    ASSERT_EQ(compression(true), 0);
    // A new capture thread waits for the filter; what could deliver the old frame is a ready
    // flag or signal left over from before off.
    ASSERT_TRUE(waitFor([&] { return announcedThread() != 0; })) << "no capture thread announced itself";
    EXPECT_EQ(::WaitForSingleObject(ready.get(), 0), static_cast<DWORD>(WAIT_TIMEOUT)) << "a stale ready signal";
    EXPECT_EQ(poll().done, 0);
    EXPECT_EQ(compression(false), 0);
}

// The count comes from the filter's process: what QuickTime is handed stays inside the view.
class CountClampTest : public FrameChannelTest, public ::testing::WithParamInterface<std::pair<DumpMode, long>> {};

TEST_P(CountClampTest, CountsPastTheViewAreClampedToIt) {
    openCapture(GetParam().first);
    ASSERT_EQ(compression(true), 0);
    ASSERT_EQ(request(kCompressOneFrameAsync), 0);
    const Delivered frame = nextFrame();
    EXPECT_EQ(frame.size, GetParam().second);
    EXPECT_EQ(frame.time.value, 0) << "no time base set: zero";
    EXPECT_EQ(frame.time.scale, 30);
    EXPECT_EQ(std::memcmp(frame.data, "\0\0\3\0\6\0", 6), 0) << "the frame's first pixels";
    EXPECT_EQ(compression(false), 0);
}

INSTANTIATE_TEST_SUITE_P(Modes, CountClampTest,
                         ::testing::Values(std::make_pair(DumpMode::oversizedCount,
                                                          long((12 + kFrameBytes + 4095) / 4096 * 4096 - 12)),
                                           std::make_pair(DumpMode::smallMapping, long(8192 - 12))));

}  // namespace

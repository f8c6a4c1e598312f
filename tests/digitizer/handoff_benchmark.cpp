// Not a test: the frame channel's hand-off, per frame, beside a bare event ping-pong between the
// same two threads. The hand-off: QuickTime's thread sets the start event, the filter's thread
// writes the count and sets the ready event, the capture thread publishes, and QuickTime's
// thread sees the frame through the poll VDCompressDone makes (takeFrame).
//
//   handoff_benchmark [frames]
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include <tavro/win_handles.h>

#include "frame_channel.h"

namespace {

constexpr char kSuffix[] = "xOxBench";
constexpr DWORD kSlotBytes = 12 + 160 * 120 * 2;

// The dump filter's side: one count per start signal, then ready. Ends on a null count request.
class Filter {
public:
    Filter(HANDLE start, HANDLE ready, void* slot) : start_(start), ready_(ready), slot_(slot) {
        ::SetThreadPriority(::GetCurrentThread(), THREAD_PRIORITY_NORMAL);
    }
    void serve(const volatile bool& stop) {
        const std::uint32_t count = kSlotBytes - 12;
        while (::WaitForSingleObject(start_, INFINITE) == WAIT_OBJECT_0 && !stop) {
            std::memcpy(slot_, &count, 4);
            ::SetEvent(ready_);
        }
    }

private:
    HANDLE start_, ready_;
    void* slot_;
};

double microsecondsPerFrame(std::chrono::steady_clock::duration elapsed, int frames) {
    return std::chrono::duration<double, std::micro>(elapsed).count() / frames;
}

}  // namespace

int main(int argc, char** argv) {
    const int frames = argc > 1 ? std::atoi(argv[1]) : 20000;
    const tavro::UniqueHandle start(::CreateEventA(nullptr, FALSE, FALSE, (std::string("Qm_Start") + kSuffix).c_str()));
    const tavro::UniqueHandle ready(::CreateEventA(nullptr, FALSE, FALSE, (std::string("Qm_Ready") + kSuffix).c_str()));
    const tavro::UniqueHandle mapping(::CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, kSlotBytes,
                                                           (std::string("Qm_Map") + kSuffix).c_str()));
    void* slot = mapping ? ::MapViewOfFile(mapping.get(), FILE_MAP_ALL_ACCESS, 0, 0, 0) : nullptr;
    if (!start || !ready || !slot) {
        std::fprintf(stderr, "cannot create the channel objects\n");
        return 1;
    }

    // The reference: start and ready bounced between this thread and the filter's.
    volatile bool stop = false;
    Filter filter(start.get(), ready.get(), slot);
    std::thread filterThread([&] { filter.serve(stop); });
    const auto pingPongStart = std::chrono::steady_clock::now();
    for (int i = 0; i < frames; ++i) {
        ::SetEvent(start.get());
        ::WaitForSingleObject(ready.get(), INFINITE);
    }
    const auto pingPong = std::chrono::steady_clock::now() - pingPongStart;

    // The hand-off through the channel: the capture thread now waits on ready.
    pramble::FrameChannel channel;
    if (channel.open(kSuffix, start.get(), ready.get(), "benchmark") != 0) {
        std::fprintf(stderr, "the channel did not open\n");
        return 1;
    }
    const char* data = nullptr;
    std::uint32_t size = 0;
    long long polls = 0;
    const auto handOffStart = std::chrono::steady_clock::now();
    for (int i = 0; i < frames; ++i) {
        channel.requestFrame();
        // QuickTime polls from its idle loop: the poll itself is one load, the loop gives the
        // processor up between polls so the filter and capture threads can run.
        while (!channel.takeFrame(data, size)) {
            ++polls;
            ::SwitchToThread();
        }
    }
    const auto handOff = std::chrono::steady_clock::now() - handOffStart;
    channel.close("benchmark");

    stop = true;
    ::SetEvent(start.get());
    filterThread.join();
    ::UnmapViewOfFile(slot);

    const double reference = microsecondsPerFrame(pingPong, frames);
    const double measured = microsecondsPerFrame(handOff, frames);
    std::printf("frames                 %d\n", frames);
    std::printf("event ping-pong        %8.2f us per frame\n", reference);
    std::printf("channel hand-off       %8.2f us per frame (%lld empty polls)\n", measured, polls);
    std::printf("ratio                  %8.2f\n", measured / reference);
    return size == kSlotBytes - 12 ? 0 : 1;
}

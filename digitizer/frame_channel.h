// The frame channel's own side: the dump filter's file mapping viewed whole, and the
// time-critical thread that publishes each frame the filter signals as ready. One per open
// digitizer; open and close run under its instance lock, requestFrame and takeFrame take none.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <string>

#include <tavro/win_handles.h>

#include "quicktime_records.h"

namespace pramble {

class FrameChannel {
public:
    FrameChannel() = default;
    // Stops a thread still running; the caller closes the channel first in every ordinary path.
    ~FrameChannel();
    FrameChannel(const FrameChannel&) = delete;
    FrameChannel& operator=(const FrameChannel&) = delete;

    // Opens and maps "Qm_Map" + suffix, resets both events and starts the capture thread at
    // time-critical priority. 0, or -50 after the message (a failed mapping or view starts no
    // thread; a failed view leaves the mapping open for close to give back).
    OSErr open(const std::string& suffix, HANDLE startEvent, HANDLE readyEvent, const std::string& instanceName);
    // Stops the thread and waits for it, then unmaps the view and closes the mapping and the
    // thread's handle; every step runs and reports its failure. 0 or -50.
    OSErr close(const std::string& instanceName);

    // Asks the dump filter for one frame.
    void requestFrame() const { ::SetEvent(startEvent_); }
    // The frame published since the last take, if any: its address in the slot and byte count.
    bool takeFrame(const char*& data, std::uint32_t& size);

    bool threadRunning() const { return captureThread_ != nullptr; }

private:
    static DWORD WINAPI captureThreadMain(void* channel);
    void capture();
    void stopThread();

    HANDLE startEvent_ = nullptr;  // the instance's; not owned
    HANDLE readyEvent_ = nullptr;
    HANDLE mappingHandle_ = nullptr;
    void* mappedView_ = nullptr;
    std::size_t viewSize_ = 0;
    HANDLE captureThread_ = nullptr;
    DWORD captureThreadId_ = 0;
    tavro::UniqueHandle stopEvent_;  // private: tells the thread to end

    // The capture thread writes data and size, then sets frameReady_ (release); takeFrame reads
    // them after seeing it set (acquire) and clears it by exchange.
    std::atomic<bool> frameReady_{false};
    std::atomic<const char*> frameData_{nullptr};
    std::atomic<std::uint32_t> frameSize_{0};
};

}  // namespace pramble

#include "frame_channel.h"

#include <cstring>

#include <quicktime/digitizer_binding.h>

#include "digitizer_settings.h"
#include "error_box.h"

namespace pramble {
namespace {

// How long close waits for the capture thread to see its stop signal before ending it by force.
constexpr DWORD kThreadStopTimeoutMs = 2000;

}  // namespace

FrameChannel::~FrameChannel() {
    stopThread();
    if (captureThread_) ::CloseHandle(captureThread_);
    if (mappedView_) ::UnmapViewOfFile(mappedView_);
    if (mappingHandle_) ::CloseHandle(mappingHandle_);
}

OSErr FrameChannel::open(const std::string& suffix, HANDLE startEvent, HANDLE readyEvent,
                         const std::string& instanceName) {
    startEvent_ = startEvent;
    readyEvent_ = readyEvent;
    mappingHandle_ = ::OpenFileMappingA(FILE_MAP_ALL_ACCESS, FALSE, ("Qm_Map" + suffix).c_str());
    if (!mappingHandle_) {
        reportInstanceError(instanceName, "Could not open file-mapping object.");
        return kParamErr;
    }
    mappedView_ = ::MapViewOfFile(mappingHandle_, FILE_MAP_ALL_ACCESS, 0, 0, 0);
    if (!mappedView_) {
        reportInstanceError(instanceName, "Could not map view of file.");
        return kParamErr;
    }
    // The filter chose the mapping's size: the view's region is what may be read.
    MEMORY_BASIC_INFORMATION region{};
    viewSize_ = ::VirtualQuery(mappedView_, &region, sizeof region) ? region.RegionSize : 0;

    ::ResetEvent(startEvent_);
    ::ResetEvent(readyEvent_);
    frameReady_.store(false, std::memory_order_relaxed);
    stopEvent_.reset(::CreateEventA(nullptr, TRUE, FALSE, nullptr));
    if (!stopEvent_) return kParamErr;
    captureThread_ = ::CreateThread(nullptr, 0, &FrameChannel::captureThreadMain, this, 0, &captureThreadId_);
    if (!captureThread_) {
        captureThreadId_ = 0;
        return kParamErr;
    }
    ::SetThreadPriority(captureThread_, THREAD_PRIORITY_TIME_CRITICAL);
    return 0;
}

OSErr FrameChannel::close(const std::string& instanceName) {
    OSErr answer = 0;
    // The thread reads the view: it ends before the view goes.
    const HANDLE thread = captureThread_;
    stopThread();
    if (!::UnmapViewOfFile(mappedView_)) {
        reportInstanceError(instanceName, "Could not unmap view of file.");
        answer = kParamErr;
    }
    mappedView_ = nullptr;
    viewSize_ = 0;
    if (!::CloseHandle(mappingHandle_)) {
        reportInstanceError(instanceName, "Could not close map file handle.");
        answer = kParamErr;
    }
    mappingHandle_ = nullptr;
    if (thread) {
        if (!::CloseHandle(thread)) {
            reportInstanceError(instanceName, "Could not close thread handle.");
            answer = kParamErr;
        }
        captureThread_ = nullptr;
        captureThreadId_ = 0;
    }
    stopEvent_.reset();
    frameReady_.store(false, std::memory_order_relaxed);
    return answer;
}

bool FrameChannel::takeFrame(const char*& data, std::uint32_t& size) {
    // The poll that finds nothing is one load.
    if (!frameReady_.load(std::memory_order_acquire)) return false;
    if (!frameReady_.exchange(false, std::memory_order_acquire)) return false;
    data = frameData_.load(std::memory_order_relaxed);
    size = frameSize_.load(std::memory_order_relaxed);
    return true;
}

DWORD WINAPI FrameChannel::captureThreadMain(void* channel) {
    static_cast<FrameChannel*>(channel)->capture();
    return 0;
}

void FrameChannel::capture() {
    quicktime::digitizer::announceThreadToQuickTime(::GetCurrentThreadId(), ::GetCurrentThread());
    const char* const slot = static_cast<const char*>(mappedView_);
    const HANDLE waits[] = {stopEvent_.get(), readyEvent_};  // a stop outranks a frame
    while (::WaitForMultipleObjects(2, waits, FALSE, INFINITE) == WAIT_OBJECT_0 + 1) {
        std::uint32_t written = 0;
        std::memcpy(&written, slot, sizeof written);
        // The count comes from another process: never past the view.
        frameSize_.store(frameBytesInView(written, viewSize_), std::memory_order_relaxed);
        frameData_.store(slot + kFrameHeaderSize, std::memory_order_relaxed);
        frameReady_.store(true, std::memory_order_release);
    }
}

void FrameChannel::stopThread() {
    if (!captureThread_) return;
    if (stopEvent_) ::SetEvent(stopEvent_.get());
    if (::WaitForSingleObject(captureThread_, kThreadStopTimeoutMs) != WAIT_OBJECT_0) {
        // A thread stuck outside its wait (in QuickTime's announcement) is ended as before.
        ::TerminateThread(captureThread_, 0);
        ::WaitForSingleObject(captureThread_, kThreadStopTimeoutMs);
    }
}

}  // namespace pramble

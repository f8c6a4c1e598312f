// The outside job of the stand-in dump filter "QmDump": what the real filter does for the
// digitizer through the named channel objects. It learns the suffix from the sink file name,
// creates "Qm_Map" + suffix when the graph runs, and for each "Qm_Start" signal writes one frame
// (count at offset 0, data from 12) and sets "Qm_Ready". The frames carry the capture device's
// known RGB 555 pattern, so a test can tell which frame it was given.
#pragma once

#include <windows.h>
#include <dshow.h>

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>

#include <tavro/win_handles.h>

namespace pramble_test {

enum class DumpMode {
    frames,          // a mapping for the header and one frame, one frame per start signal
    noMapping,       // never creates the mapping
    smallMapping,    // a mapping of two pages; the count still claims the whole frame
    oversizedCount,  // the count claims 0xFFFFFFFF bytes
};

// Pixel `index` of frame `frame` (frames numbered from 0): 15-bit RGB 555 words.
std::uint16_t patternWord(std::uint32_t frame, std::uint32_t index);

class DumpOutsideJob {
public:
    explicit DumpOutsideJob(DumpMode mode = DumpMode::frames) : mode_(mode) {}
    ~DumpOutsideJob() { stop(); }
    DumpOutsideJob(const DumpOutsideJob&) = delete;
    DumpOutsideJob& operator=(const DumpOutsideJob&) = delete;

    // IFileSinkFilter::SetFileName: "xOx<n>.dat" and the dump connection's type.
    void fileName(const wchar_t* name, const AM_MEDIA_TYPE* type);
    // The filter runs: the mapping is created before Run returns, then frames are served.
    void start();
    // The filter stops: the worker ends, the mapping handle is closed.
    void stop();

    // While held, a woken worker waits before it writes (to let start signals pile up).
    void hold();
    void release();

    std::string suffix() const { return suffix_; }
    std::uint32_t frameBytes() const { return frameBytes_; }
    std::size_t mappingSize() const;
    int framesServed() const { return served_.load(); }
    int startSignalsSeen() const { return woken_.load(); }
    // Frames served when the worker last found no start signal pending and went back to its
    // wait (-1 before that): the sign that every request so far has been answered.
    int idleAfterFrames() const { return idleAfter_.load(); }

private:
    void serve();

    DumpMode mode_;
    std::string suffix_;
    std::uint32_t frameBytes_ = 0;
    tavro::UniqueHandle mapping_;
    void* view_ = nullptr;
    tavro::UniqueHandle stop_;
    tavro::UniqueHandle gate_{::CreateEventA(nullptr, TRUE, TRUE, nullptr)};  // open unless held
    std::thread worker_;
    std::atomic<int> served_{0};
    std::atomic<int> woken_{0};
    std::atomic<int> idleAfter_{-1};
};

}  // namespace pramble_test

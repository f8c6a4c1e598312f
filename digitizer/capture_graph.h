// The capture graph of one open digitizer: its device's capture filter feeding the outside dump
// filter "QmDump", optionally behind a crossbar, with the device asked for RGB 555 frames.
#pragma once

#include <windows.h>
#include <dshow.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include <tavro/com_support.h>

#include "auto_releaser.h"
#include "crossbar_router.h"
#include "quicktime_records.h"

namespace pramble {

// The frame size limits of a digitizer (until a graph connects, 320 x 240).
struct FrameLimits {
    std::int32_t maxHeight = 240;
    std::int32_t maxWidth = 320;
    std::int32_t minHeight = 240;
    std::int32_t minWidth = 320;
};

struct CaptureGraph {
    tavro::ComPtr<IGraphBuilder> graph;
    tavro::ComPtr<IMediaControl> mediaControl;
    tavro::ComPtr<IAMStreamConfig> streamConfig;
    tavro::ComPtr<IBaseFilter> captureFilter;
    tavro::ComPtr<IBaseFilter> dumpFilter;
    tavro::ComPtr<IPin> dumpInputPin;
    tavro::ComPtr<IPin> captureOutputPin;
    // These two and the router stay when the rest of the graph is released.
    AutoReleaser<IPin> captureInputPin;
    AutoReleaser<IBaseFilter> crossbarFilter;
    std::unique_ptr<CrossbarRouter> crossbarRouter;
    tavro::ComPtr<IMemInputPin> memInputPin;
    tavro::ComPtr<IBasicVideo> basicVideo;
};

// What a build reports to and sets in its digitizer.
struct GraphOwner {
    std::string instanceName;       // prefixes every message
    FrameLimits* limits;            // set from the dump connection
    std::function<void()> countInputs;  // the digitizer's input count, once the router is known
};

// 0, or -50 after releasing what was built.
OSErr buildCaptureGraph(CaptureGraph& graph, std::int32_t deviceIndex, const GraphOwner& owner);
OSErr runCaptureGraph(CaptureGraph& graph, const std::string& instanceName);
OSErr stopCaptureGraph(CaptureGraph& graph, const std::string& instanceName);
// Releases the graph's references except crossbarFilter, captureInputPin and the router.
void releaseCaptureGraph(CaptureGraph& graph);

// The dump input connection's media type; on failure "GetDumpInputFormat failed.".
HRESULT getDumpInputFormat(CaptureGraph& graph, const std::string& instanceName, AM_MEDIA_TYPE* type);

// Asks the device for 16-bit RGB 555 on FORMAT_VideoInfo; other formats are left alone (-50).
OSErr requestRgb555(IAMStreamConfig* streamConfig);

// The frame size of a FORMAT_VideoInfo or FORMAT_VideoInfo2 type whose block holds its header;
// the height as a magnitude (bottom-up and top-down frames are the same size).
bool frameSizeOf(const AM_MEDIA_TYPE& type, std::int32_t& width, std::int32_t& height);

}  // namespace pramble

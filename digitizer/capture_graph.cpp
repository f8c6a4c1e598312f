#include "capture_graph.h"

#include <dvdmedia.h>
#include <ks.h>
#include <ksmedia.h>

#include <cstdlib>

#include <tavro/media_type.h>

#include "device_enumeration.h"
#include "error_box.h"
#include "filter_pins.h"

namespace pramble {
namespace {

constexpr char kDumpFilterName[] = "QmDump";
constexpr LONG kStateTimeoutMs = 5000;

// The first filter of the graph that is a DV decoder: S_OK, E_NOINTERFACE (none is), or E_FAIL
// (no filters, or they cannot be listed).
HRESULT findDvDecoder(IGraphBuilder* graph, tavro::ComPtr<IIPDVDec>& decoder) {
    AutoReleaser<IEnumFilters> filters;
    if (FAILED(graph->EnumFilters(filters.put())) || !filters) return E_FAIL;
    HRESULT result = E_FAIL;
    for (;;) {
        AutoReleaser<IBaseFilter> filter;
        if (filters->Next(1, filter.put(), nullptr) != S_OK || !filter) return result;
        result = filter->QueryInterface(IID_IIPDVDec, reinterpret_cast<void**>(decoder.ReleaseAndGetAddressOf()));
        if (SUCCEEDED(result)) return S_OK;
    }
}

OSErr failBuild(CaptureGraph& graph, const GraphOwner& owner, const char* message) {
    if (message) reportInstanceError(owner.instanceName, message);
    releaseCaptureGraph(graph);
    return kParamErr;
}

// Selects the route of the crossbar output 0's related pin.
void selectInitialRoute(CaptureGraph& graph) {
    tavro::ComPtr<IAMCrossbar> crossbar;
    if (FAILED(graph.crossbarFilter->QueryInterface(IID_PPV_ARGS(&crossbar)))) return;
    LONG related = -1;
    LONG type = 0;
    if (SUCCEEDED(crossbar->get_CrossbarPinInfo(FALSE, 0, &related, &type))) {
        graph.crossbarRouter->selectRoute(int(related));
    }
}

}  // namespace

bool frameSizeOf(const AM_MEDIA_TYPE& type, std::int32_t& width, std::int32_t& height) {
    const BITMAPINFOHEADER* header = nullptr;
    if (!type.pbFormat) return false;
    if (IsEqualGUID(type.formattype, FORMAT_VideoInfo) && type.cbFormat >= sizeof(VIDEOINFOHEADER)) {
        header = &reinterpret_cast<const VIDEOINFOHEADER*>(type.pbFormat)->bmiHeader;
    } else if (IsEqualGUID(type.formattype, FORMAT_VideoInfo2) && type.cbFormat >= sizeof(VIDEOINFOHEADER2)) {
        header = &reinterpret_cast<const VIDEOINFOHEADER2*>(type.pbFormat)->bmiHeader;
    } else {
        return false;
    }
    if (header->biHeight == LONG(0x80000000)) return false;  // no magnitude
    width = header->biWidth;
    height = std::abs(header->biHeight);
    return true;
}

OSErr requestRgb555(IAMStreamConfig* streamConfig) {
    AM_MEDIA_TYPE* current = nullptr;
    if (FAILED(streamConfig->GetFormat(&current)) || !current) return kParamErr;
    const tavro::UniqueMediaType type(current);
    if (!IsEqualGUID(type->formattype, FORMAT_VideoInfo) || type->cbFormat < sizeof(VIDEOINFOHEADER) ||
        !type->pbFormat) {
        return kParamErr;
    }
    auto* info = reinterpret_cast<VIDEOINFOHEADER*>(type->pbFormat);
    info->bmiHeader.biCompression = BI_RGB;
    info->bmiHeader.biBitCount = 16;
    type->subtype = MEDIASUBTYPE_RGB555;
    return SUCCEEDED(streamConfig->SetFormat(type.get())) ? 0 : kParamErr;
}

HRESULT getDumpInputFormat(CaptureGraph& graph, const std::string& instanceName, AM_MEDIA_TYPE* type) {
    const HRESULT result = graph.dumpInputPin ? graph.dumpInputPin->ConnectionMediaType(type) : E_POINTER;
    if (FAILED(result)) reportInstanceError(instanceName, "GetDumpInputFormat failed.");
    return result;
}

OSErr buildCaptureGraph(CaptureGraph& graph, std::int32_t deviceIndex, const GraphOwner& owner) {
    if (FAILED(::CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&graph.graph)))) {
        return failBuild(graph, owner, nullptr);
    }
    graph.graph.As(&graph.mediaControl);

    tavro::adopt(graph.dumpFilter, findFilterInRegistry(CLSID_LegacyAmFilterCategory, kDumpFilterName, -1));
    if (!graph.dumpFilter) {
        return failBuild(graph, owner,
                         "Problem finding Skellit Video Renderer. Did you install as administrator?");
    }
    if (FAILED(graph.graph->AddFilter(graph.dumpFilter.Get(), nullptr))) {
        return failBuild(graph, owner, "Problem adding Video Renderer to the graph");
    }

    // The system's first crossbar, whichever device it belongs to.
    graph.crossbarFilter = AutoReleaser<IBaseFilter>(findFilterInRegistry(AM_KSCATEGORY_CROSSBAR, nullptr, 0));
    if (graph.crossbarFilter && FAILED(graph.graph->AddFilter(graph.crossbarFilter.get(), nullptr))) {
        return failBuild(graph, owner, "Problem adding Crossbar to the graph");
    }

    tavro::adopt(graph.captureFilter, findFilterInRegistry(CLSID_VideoInputDeviceCategory, nullptr, deviceIndex));
    if (!graph.captureFilter || FAILED(graph.graph->AddFilter(graph.captureFilter.Get(), nullptr))) {
        return failBuild(graph, owner, nullptr);
    }

    tavro::adopt(graph.dumpInputPin, pinOfDirection(graph.dumpFilter.Get(), PINDIR_INPUT, 0));
    if (!graph.dumpInputPin) return failBuild(graph, owner, "Problem finding QmDump Input pin");
    tavro::adopt(graph.captureOutputPin, pinOfDirection(graph.captureFilter.Get(), PINDIR_OUTPUT, 0));
    if (!graph.captureOutputPin) return failBuild(graph, owner, "Problem finding Video Capture output pin");
    graph.captureInputPin = AutoReleaser<IPin>(pinOfDirection(graph.captureFilter.Get(), PINDIR_INPUT, 0));

    if (FAILED(graph.captureOutputPin.As(&graph.streamConfig)) || !graph.streamConfig) {
        return failBuild(graph, owner, "Problem getting output pin stream config interface");
    }
    requestRgb555(graph.streamConfig.Get());  // a device that refuses keeps its own format

    if (FAILED(graph.dumpInputPin.As(&graph.memInputPin)) || !graph.memInputPin) {
        return failBuild(graph, owner, "Problem getting input pin stream MemInputPin interface");
    }
    if (FAILED(graph.graph->Connect(graph.captureOutputPin.Get(), graph.dumpInputPin.Get()))) {
        return failBuild(graph, owner, "Problem connecting Video Output to Video Renderer");
    }

    if (graph.crossbarFilter) {
        // The first crossbar may belong to another device; then this one has no router.
        AutoReleaser<IPin> crossbarOutput(pinOfDirection(graph.crossbarFilter.get(), PINDIR_OUTPUT, 0));
        if (crossbarOutput && graph.captureInputPin &&
            SUCCEEDED(graph.graph->Connect(crossbarOutput.get(), graph.captureInputPin.get()))) {
            graph.crossbarRouter = std::make_unique<CrossbarRouter>(graph.captureInputPin.get());
        }
    }
    if (graph.crossbarRouter) selectInitialRoute(graph);
    if (owner.countInputs) owner.countInputs();

    if (graph.graph->QueryInterface(IID_IBasicVideo, reinterpret_cast<void**>(graph.basicVideo.ReleaseAndGetAddressOf())) != S_OK) {
        return failBuild(graph, owner, "Cannot get Basic Video Interface");
    }

    tavro::ComPtr<IIPDVDec> dvDecoder;
    const HRESULT dv = findDvDecoder(graph.graph.Get(), dvDecoder);
    if (dv == S_OK) {
        dvDecoder->put_IPDisplay(DVRESOLUTION_FULL);
    } else if (dv != E_NOINTERFACE) {
        reportInstanceError(owner.instanceName, "Some other error occured getting DV interface.");
    }

    tavro::MediaType connected;
    if (FAILED(getDumpInputFormat(graph, owner.instanceName, connected.get()))) return failBuild(graph, owner, nullptr);
    std::int32_t width = 0;
    std::int32_t height = 0;
    if (!frameSizeOf(*connected, width, height)) {
        return failBuild(graph, owner, "GetDumpInputFormat failed.");
    }
    owner.limits->maxWidth = owner.limits->minWidth = width;
    owner.limits->maxHeight = owner.limits->minHeight = height;
    return 0;
}

namespace {

// Asks the graph to change state, then waits up to 5 s for it to get there. A state still in
// transition (VFW_S_STATE_INTERMEDIATE) is a success code and counts as one.
OSErr changeState(IMediaControl* control, HRESULT (STDMETHODCALLTYPE IMediaControl::*change)(),
                  const std::string& instanceName, const char* refused, const char* timedOut) {
    if (!control || FAILED((control->*change)())) {
        reportInstanceError(instanceName, refused);
        return kParamErr;
    }
    OAFilterState state = State_Stopped;
    if (FAILED(control->GetState(kStateTimeoutMs, &state))) {
        reportInstanceError(instanceName, timedOut);
        return kParamErr;
    }
    return 0;
}

}  // namespace

OSErr runCaptureGraph(CaptureGraph& graph, const std::string& instanceName) {
    return changeState(graph.mediaControl.Get(), &IMediaControl::Run, instanceName, "Problem starting streaming",
                       "Timeout transitioning into running state");
}

OSErr stopCaptureGraph(CaptureGraph& graph, const std::string& instanceName) {
    if (!graph.mediaControl) return 0;
    return changeState(graph.mediaControl.Get(), &IMediaControl::StopWhenReady, instanceName,
                       "Problem stopping streaming", "Timeout transitioning into stopped state");
}

void releaseCaptureGraph(CaptureGraph& graph) {
    graph.graph.Reset();
    graph.memInputPin.Reset();
    graph.mediaControl.Reset();
    graph.streamConfig.Reset();
    graph.captureOutputPin.Reset();
    graph.dumpInputPin.Reset();
    graph.captureFilter.Reset();
    graph.dumpFilter.Reset();
    graph.basicVideo.Reset();
}

}  // namespace pramble

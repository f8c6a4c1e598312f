#include "crossbar_router.h"

#include <algorithm>

#include "auto_releaser.h"
#include "filter_pins.h"

namespace pramble {
namespace {

// A crossbar loop would otherwise recurse until the stack runs out; real chains are 1 or 2 deep.
constexpr LONG kMaxCrossbarDepth = 16;

}  // namespace

CrossbarRouter::CrossbarRouter(IPin* captureInput) {
    std::vector<RoutingEntry> path;
    search(captureInput, 0, path);
}

HRESULT CrossbarRouter::search(IPin* input, LONG depth, std::vector<RoutingEntry>& path) {
    const HRESULT terminal = depth == 0 ? E_FAIL : S_FALSE;
    if (depth >= kMaxCrossbarDepth) return S_OK;  // no route through a loop

    AutoReleaser<IPin> upstream;
    if (FAILED(input->ConnectedTo(upstream.put())) || !upstream) return terminal;
    PIN_INFO info{};
    if (FAILED(upstream->QueryPinInfo(&info)) || !info.pFilter) return terminal;
    AutoReleaser<IBaseFilter> filter(info.pFilter);
    tavro::ComPtr<IAMCrossbar> crossbar;
    if (FAILED(filter->QueryInterface(IID_PPV_ARGS(&crossbar)))) return terminal;

    LONG outputs = 0;
    LONG inputs = 0;
    if (FAILED(crossbar->get_PinCounts(&outputs, &inputs))) return terminal;
    const LONG output = positionOfPin(filter.get(), upstream.get(), PINDIR_OUTPUT);
    LONG outputRelated = -1;
    LONG outputType = 0;
    crossbar->get_CrossbarPinInfo(FALSE, output, &outputRelated, &outputType);

    path.resize(std::size_t(depth) + 1);
    for (LONG k = 0; k < inputs; ++k) {
        LONG inputRelated = -1;
        LONG inputType = 0;
        if (FAILED(crossbar->get_CrossbarPinInfo(TRUE, k, &inputRelated, &inputType))) continue;
        if (inputType >= PhysConn_Audio_Tuner) continue;
        if (crossbar->CanRoute(output, k) != S_OK) continue;

        path[std::size_t(depth)] = {k, output, inputRelated, outputRelated, crossbar, inputType, outputType, depth};
        AutoReleaser<IPin> crossbarInput(pinOfDirection(filter.get(), PINDIR_INPUT, int(k)));
        if (!crossbarInput) continue;
        if (search(crossbarInput.get(), depth + 1, path) == S_FALSE) {
            // Complete: this crossbar's input is the origin; the route runs from here down to depth 0.
            Route route(path.begin(), path.begin() + depth + 1);
            std::reverse(route.begin(), route.end());
            routingList_.push_back(std::move(route));
        }
        path.resize(std::size_t(depth) + 1);
    }
    return S_OK;
}

HRESULT CrossbarRouter::inputType(int route, LONG* physicalType) const {
    if (route < 0 || route >= inputCount() || routingList_[std::size_t(route)].empty()) return E_FAIL;
    *physicalType = routingList_[std::size_t(route)].front().inputPhysicalType;
    return S_OK;
}

HRESULT CrossbarRouter::selectRoute(int route) {
    if (route < 0 || route >= inputCount()) return E_FAIL;
    HRESULT result = S_OK;
    for (const RoutingEntry& entry : routingList_[std::size_t(route)]) {
        result = entry.crossbar->Route(entry.videoOutputIndex, entry.videoInputIndex);
        if (entry.audioOutputIndex != -1 && entry.audioInputIndex != -1) {
            entry.crossbar->Route(entry.audioOutputIndex, entry.audioInputIndex);
        }
    }
    currentIndex_ = route;
    return result;
}

}  // namespace pramble

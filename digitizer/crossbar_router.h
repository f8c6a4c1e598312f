// The routes from the capture filter's analog input back through one or more crossbars to an
// unconnected video input; each route is one of the digitizer's inputs.
#pragma once

#include <windows.h>
#include <dshow.h>

#include <vector>

#include <tavro/com_support.h>

namespace pramble {

// One crossbar on a route: route videoOutputIndex to videoInputIndex (and the audio pins
// related to them, when both exist).
struct RoutingEntry {
    LONG videoInputIndex = 0;
    LONG videoOutputIndex = 0;
    LONG audioInputIndex = -1;
    LONG audioOutputIndex = -1;
    tavro::ComPtr<IAMCrossbar> crossbar;
    LONG inputPhysicalType = 0;
    LONG outputPhysicalType = 0;
    LONG depth = 0;  // 0 next to the capture filter, +1 per crossbar upstream
};

// First entry: the crossbar farthest upstream, whose input is the route's origin.
using Route = std::vector<RoutingEntry>;

class CrossbarRouter {
public:
    // Searches the routes upstream of `captureInput`, depth-first, inputs in ascending order.
    explicit CrossbarRouter(IPin* captureInput);

    int inputCount() const { return int(routingList_.size()); }
    // PhysicalConnectorType of the route's origin; E_FAIL for a route that does not exist.
    HRESULT inputType(int route, LONG* physicalType) const;
    // Issues the route's Route calls, first entry to last; E_FAIL and nothing changed for a
    // route that does not exist. Answers the last video Route call's result.
    HRESULT selectRoute(int route);
    int currentRoute() const { return currentIndex_; }
    const std::vector<Route>& routes() const { return routingList_; }

private:
    HRESULT search(IPin* input, LONG depth, std::vector<RoutingEntry>& path);

    std::vector<Route> routingList_;  // the "RoutingList"
    int currentIndex_ = 0;
};

}  // namespace pramble

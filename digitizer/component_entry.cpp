// The component's two exports: DllMain (ordinal 1) and vdigComponentDispatch (ordinal 50), the
// one entry through which QuickTime's Component Manager sends every request. Each request's
// handler is called by QuickTime with the instance storage followed by the request's parameters.
#include "component_entry.h"

#include <windows.h>

#include <memory>
#include <new>

#include <quicktime/digitizer_binding.h>
#include <tavro/boundary.h>

#include "capture_digitizer.h"
#include "digitizer_requests.h"
#include "selector_table.h"

namespace {

using pramble::BaseDigitizer;
using pramble::Request;
using quicktime::ComponentResult;
using quicktime::Handle;
namespace qt = quicktime::digitizer;

BaseDigitizer* instanceOf(Handle storage) { return reinterpret_cast<BaseDigitizer*>(storage); }

constexpr ComponentResult kVersion = 0x00020001;
constexpr ComponentResult kUnsupportedFrameRate = -2201;
constexpr quicktime::TimeScale kPreferredTimeScale = 2997;
constexpr ComponentResult kNoDevice = -200;

extern "C" {

// One instance per component at a time: the count includes the instance being opened.
ComponentResult QUICKTIME_CALL openRequest(Handle, quicktime::ComponentInstance self) {
    return tavro::guardBoundary<ComponentResult>(pramble::kMemFullErr, [&]() -> ComponentResult {
        if (qt::CountComponentInstances(reinterpret_cast<quicktime::Component>(self)) > 1) return -1;
        // Owned here until it is stored: memory that runs out in initialise() must not leave
        // the instance, its graph and its events behind.
        std::unique_ptr<pramble::CaptureDigitizer> instance(new (std::nothrow) pramble::CaptureDigitizer(self));
        if (!instance) return pramble::kMemFullErr;
        const ComponentResult result = instance->constructionResult();
        instance->initialise();
        // Stored even after a failure, so that the close request destroys it.
        qt::SetComponentInstanceStorage(self, reinterpret_cast<Handle>(instance.release()));
        return result;
    });
}

ComponentResult QUICKTIME_CALL closeRequest(Handle storage, quicktime::ComponentInstance) {
    tavro::guardBoundary([&] { delete instanceOf(storage); });
    return 0;
}

ComponentResult QUICKTIME_CALL canDoRequest(Handle, short selector) { return pramble::canDo(selector) ? 1 : 0; }

ComponentResult QUICKTIME_CALL versionRequest(Handle) { return kVersion; }

// A non-zero answer withdraws the master: only the device components stay registered.
ComponentResult QUICKTIME_CALL registerRequest(Handle storage) {
    tavro::guardBoundary([&] {
        if (storage) instanceOf(storage)->registerDevices();
    });
    return 1;
}

ComponentResult QUICKTIME_CALL getMaxSrcRectRequest(Handle storage, short inputStandard, quicktime::Rect* rect) {
    return tavro::guardBoundary<ComponentResult>(pramble::kParamErr,
                                                 [&] { return instanceOf(storage)->GetMaxSrcRect(inputStandard, rect); });
}

ComponentResult QUICKTIME_CALL getNumberOfInputsRequest(Handle storage, short* inputs) {
    return tavro::guardBoundary<ComponentResult>(kNoDevice,
                                                 [&] { return instanceOf(storage)->GetNumberOfInputs(inputs); });
}

ComponentResult QUICKTIME_CALL preflightDestinationRequest(Handle) { return 0; }

ComponentResult QUICKTIME_CALL setFrameRateRequest(Handle, quicktime::Fixed) { return kUnsupportedFrameRate; }

ComponentResult QUICKTIME_CALL getPreferredTimeScaleRequest(Handle, quicktime::TimeScale* preferred) {
    if (preferred) *preferred = kPreferredTimeScale;
    return 0;
}

}  // extern "C"

// The handler of a request; null for the requests whose answers are not built yet.
quicktime::ComponentFunctionUPP handlerOf(Request request) {
    const auto upp = [](auto handler) {
        return reinterpret_cast<quicktime::ComponentFunctionUPP>(reinterpret_cast<void*>(handler));
    };
    switch (request) {
        case Request::Open: return upp(&openRequest);
        case Request::Close: return upp(&closeRequest);
        case Request::CanDo: return upp(&canDoRequest);
        case Request::Version: return upp(&versionRequest);
        case Request::Register: return upp(&registerRequest);
        case Request::GetMaxSrcRect: return upp(&getMaxSrcRectRequest);
        case Request::GetNumberOfInputs: return upp(&getNumberOfInputsRequest);
        case Request::PreflightDestination: return upp(&preflightDestinationRequest);
        case Request::SetFrameRate: return upp(&setFrameRateRequest);
        case Request::GetPreferredTimeScale: return upp(&getPreferredTimeScaleRequest);
        default: return pramble::settingsRequestHandler(request);
    }
}

}  // namespace

extern "C" {

BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }

ComponentResult QUICKTIME_CALL vdigComponentDispatch(quicktime::ComponentParameters* params, Handle storage) {
    if (!params) return pramble::kBadComponentSelector;
    const pramble::SelectorEntry entry = pramble::lookUpSelector(params->what);
    if (entry.request == Request::None || entry.descriptor == 0) return pramble::kBadComponentSelector;
    const quicktime::ComponentFunctionUPP handler = handlerOf(entry.request);
    if (!handler) return pramble::kBadComponentSelector;
    return qt::CallComponentFunctionWithStorage(storage, params, handler);
}

}  // extern "C"

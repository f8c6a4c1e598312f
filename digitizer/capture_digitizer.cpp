#include "capture_digitizer.h"

#include <objbase.h>

#include <array>
#include <new>

#include "component_entry.h"
#include "device_enumeration.h"
#include "device_naming.h"
#include "error_box.h"
#include "lock_held.h"

namespace pramble {

namespace qt = quicktime::digitizer;

namespace {

// Registers one device component like the master, with the device's subtype, name and number.
void registerDeviceComponent(const BaseDigitizer& master, const std::string& friendlyName, std::uint32_t number) {
    ComponentDescription description = master.description;
    description.componentSubType = deviceSubtype(number);
    const std::string name = deviceComponentName(friendlyName);
    quicktime::Handle nameHandle = nullptr;
    if (qt::PtrToHand(name.c_str(), &nameHandle, long(name.size() + 1)) != 0 || !nameHandle) return;
    qt::c2pstr(*nameHandle);
    const quicktime::Component registered =
        qt::RegisterComponent(&description, &vdigComponentDispatch, 1,
                              nameHandle, master.infoHandle, master.iconHandle);
    qt::SetComponentRefcon(registered, long(number));
    qt::DisposeHandle(nameHandle);
}

}  // namespace

CaptureDigitizer::CaptureDigitizer(quicktime::ComponentInstance instance) : BaseDigitizer(instance) {
    ::InitializeCriticalSection(&lock_);
    comInitialised = SUCCEEDED(::CoInitialize(nullptr));
    comThread_ = ::GetCurrentThreadId();
    const LockHeld held(lock_);
    if (constructionResult_ != 0) return;
    // Memory that runs out part way leaves a whole instance with the open's failure answer, so
    // that its destructor, run by the close request, gives back what was already made.
    try {
        instanceName = pramble::instanceName(deviceIndex, pascalText(reinterpret_cast<const unsigned char*>(*nameHandle)));
        createChannelEvents();
        if (constructionResult_ == 0 && namesCaptureDevice(pascalText(reinterpret_cast<const unsigned char*>(*nameHandle)))) {
            constructionResult_ =
                buildCaptureGraph(graph, deviceIndex, {instanceName, &limits, [this] { GetNumberOfInputs(nullptr); }});
        }
    } catch (const std::bad_alloc&) {
        constructionResult_ = kMemFullErr;
    }
}

void CaptureDigitizer::createChannelEvents() {
    const std::string suffix = channelSuffix(deviceIndex);
    // Auto-reset, not signalled; an existing event of that name is opened instead.
    startEvent = ::CreateEventA(nullptr, FALSE, FALSE, ("Qm_Start" + suffix).c_str());
    if (!startEvent) {
        reportInstanceError(instanceName, "Failed to create start capture event");
        constructionResult_ = kMemFullErr;
    }
    readyEvent = ::CreateEventA(nullptr, FALSE, FALSE, ("Qm_Ready" + suffix).c_str());
    if (!readyEvent) {
        reportInstanceError(instanceName, "Failed to create data ready event");
        constructionResult_ = kMemFullErr;
    }
}

CaptureDigitizer::~CaptureDigitizer() {
    graph.crossbarRouter.reset();
    if (isCompressionOn()) compressionOff();
    releaseCaptureGraph(graph);
    // The crossbar and the capture input go while COM is still up.
    graph.crossbarFilter.reset();
    graph.captureInputPin.reset();
    if (startEvent) ::CloseHandle(startEvent);
    if (readyEvent) ::CloseHandle(readyEvent);
    if (comInitialised && ::GetCurrentThreadId() == comThread_) ::CoUninitialize();
    ::DeleteCriticalSection(&lock_);
}

void CaptureDigitizer::initialise() {
    IBaseFilter* capture = graph.captureFilter.Get();
    brightness = std::make_unique<ProcAmpSetting>(VideoProcAmp_Brightness, capture);
    blackLevel = std::make_unique<ProcAmpSetting>(-1, capture);
    whiteLevel = std::make_unique<ProcAmpSetting>(-1, capture);
    hue = std::make_unique<ProcAmpSetting>(VideoProcAmp_Hue, capture);
    saturation = std::make_unique<ProcAmpSetting>(VideoProcAmp_Saturation, capture);
    contrast = std::make_unique<ProcAmpSetting>(VideoProcAmp_Contrast, capture);
    sharpness = std::make_unique<ProcAmpSetting>(VideoProcAmp_Sharpness, capture);
    GetMaxSrcRect(0, &maxSourceRect);
    digitizerRect = maxSourceRect;
}

OSErr CaptureDigitizer::GetNumberOfInputs(short* inputs) {
    maxInputIndex = 0;
    if (!graph.captureFilter) return -200;
    if (graph.crossbarRouter && graph.crossbarRouter->inputCount() > 0) {
        maxInputIndex = std::uint16_t(graph.crossbarRouter->inputCount() - 1);
    }
    if (inputs) *inputs = short(maxInputIndex);
    return 0;
}

long CaptureDigitizer::registerDevices() {
    std::array<char, 260> host{};
    ::GetModuleFileNameA(nullptr, host.data(), DWORD(host.size()));
    if (hostSkipsRegistration(host.data())) return 1;
    std::uint32_t number = 0;
    forEachDevice(CLSID_VideoInputDeviceCategory, [&](IMoniker* device) {
        if (const auto name = friendlyName(device)) registerDeviceComponent(*this, *name, number++);
        return false;
    });
    return 1;
}

}  // namespace pramble

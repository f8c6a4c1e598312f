// DirectShow stand-ins for the digitizer's suites: a capture device, crossbars and the outside
// dump filter "QmDump", on one small filter and pin base in the manner of Wine's own test
// filters, plus their registration in the device categories where the system device enumerator
// lists them. Wine's real filter graph connects, runs and stops them.
#pragma once

#include <windows.h>
#include <dshow.h>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include <tavro/com_support.h>
#include <tavro/media_type.h>

#include "standins/dump_outside_job.h"

namespace pramble_test {

using tavro::ComPtr;

// Filters (and with them their pins) alive right now, across every stand-in.
int liveFilters();

// A media type the stand-ins offer: a video frame of this size, FORMAT_VideoInfo or
// FORMAT_VideoInfo2, with the subtype given.
struct VideoFormat {
    GUID subtype;
    LONG width;
    LONG height;
    bool videoInfo2 = false;
    WORD bitCount = 16;
};
// An owned copy of the media type for a format.
struct OwnedMediaType {
    AM_MEDIA_TYPE type{};
    explicit OwnedMediaType(const VideoFormat& format);
    OwnedMediaType(const AM_MEDIA_TYPE& from);
    OwnedMediaType(const OwnedMediaType& other);
    OwnedMediaType& operator=(const OwnedMediaType& other);
    ~OwnedMediaType();
};

// The analog signal between crossbars and the card they belong to: a private type whose subtype
// names the card, so a capture input accepts only its own card's crossbar.
OwnedMediaType analogType(const GUID& card);

class Filter;

// A pin: IPin, reference counted with its filter (as DirectShow pins are).
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"
template <typename... Interfaces>
class FilterPart : public tavro::ComObject<Interfaces...> {
public:
    explicit FilterPart(IBaseFilter* owner) : owner_(owner) {}
    STDMETHODIMP_(ULONG) AddRef() override { return owner_->AddRef(); }
    STDMETHODIMP_(ULONG) Release() override { return owner_->Release(); }
    ~FilterPart() override = default;

protected:
    IBaseFilter* owner_;
};

// One more interface of a filter or pin, answered by it: every IUnknown call goes to the owner,
// so the facet shares its identity and its count.
template <typename Interface>
class Facet : public Interface {
public:
    explicit Facet(IUnknown* owner) : owner_(owner) {}
    virtual ~Facet() = default;
    STDMETHODIMP QueryInterface(REFIID riid, void** out) override { return owner_->QueryInterface(riid, out); }
    STDMETHODIMP_(ULONG) AddRef() override { return owner_->AddRef(); }
    STDMETHODIMP_(ULONG) Release() override { return owner_->Release(); }

protected:
    IUnknown* owner_;
};
#pragma GCC diagnostic pop

class Pin : public FilterPart<IPin> {
public:
    Pin(IBaseFilter* owner, PIN_DIRECTION direction, std::wstring name);

    // Output pins offer these, in order, when connecting; input pins accept what `accepts` allows.
    std::vector<OwnedMediaType> offered;
    std::function<bool(const AM_MEDIA_TYPE&)> accepts = [](const AM_MEDIA_TYPE&) { return true; };
    bool failConnectionMediaType = false;

    STDMETHODIMP Connect(IPin* receivePin, const AM_MEDIA_TYPE* type) override;
    STDMETHODIMP ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* type) override;
    STDMETHODIMP Disconnect() override;
    STDMETHODIMP ConnectedTo(IPin** pin) override;
    STDMETHODIMP ConnectionMediaType(AM_MEDIA_TYPE* type) override;
    STDMETHODIMP QueryPinInfo(PIN_INFO* info) override;
    STDMETHODIMP QueryDirection(PIN_DIRECTION* direction) override;
    STDMETHODIMP QueryId(LPWSTR* id) override;
    STDMETHODIMP QueryAccept(const AM_MEDIA_TYPE* type) override;
    STDMETHODIMP EnumMediaTypes(IEnumMediaTypes** types) override;
    STDMETHODIMP QueryInternalConnections(IPin** pins, ULONG* count) override;
    STDMETHODIMP EndOfStream() override { return S_OK; }
    STDMETHODIMP BeginFlush() override { return S_OK; }
    STDMETHODIMP EndFlush() override { return S_OK; }
    STDMETHODIMP NewSegment(REFERENCE_TIME, REFERENCE_TIME, double) override { return S_OK; }

    bool connected() const { return connectedTo_ != nullptr; }
    const AM_MEDIA_TYPE* connection() const { return connectedTo_ ? &connectionType_->type : nullptr; }

    // Extra interfaces of this pin (IAMStreamConfig, IMemInputPin), answered when non-null.
    std::vector<std::pair<IID, void*>> facets;

protected:
    void* findInterface(REFIID riid) override;

private:
    PIN_DIRECTION direction_;
    std::wstring name_;
    ComPtr<IPin> connectedTo_;
    std::unique_ptr<OwnedMediaType> connectionType_;
};

// What a filter answers the graph; tests set failures in it before the filter is created.
struct FilterBehaviour {
    HRESULT joinGraph = S_OK;
    HRESULT run = S_OK;
    HRESULT stop = S_OK;
    HRESULT getState = S_OK;  // VFW_S_STATE_INTERMEDIATE: still in transition
};

// IBaseFilter over a list of pins; `Derived` adds interfaces.
class Filter : public tavro::ComObject<IBaseFilter> {
public:
    Filter(const CLSID& clsid, FilterBehaviour behaviour);
    ~Filter() override;

    STDMETHODIMP GetClassID(CLSID* clsid) override;
    STDMETHODIMP Stop() override;
    STDMETHODIMP Pause() override;
    STDMETHODIMP Run(REFERENCE_TIME start) override;
    STDMETHODIMP GetState(DWORD milliseconds, FILTER_STATE* state) override;
    STDMETHODIMP SetSyncSource(IReferenceClock* clock) override;
    STDMETHODIMP GetSyncSource(IReferenceClock** clock) override;
    STDMETHODIMP EnumPins(IEnumPins** pins) override;
    STDMETHODIMP FindPin(LPCWSTR id, IPin** pin) override;
    STDMETHODIMP QueryFilterInfo(FILTER_INFO* info) override;
    STDMETHODIMP JoinFilterGraph(IFilterGraph* graph, LPCWSTR name) override;
    STDMETHODIMP QueryVendorInfo(LPWSTR* info) override { return info ? (*info = nullptr, E_NOTIMPL) : E_POINTER; }

    FILTER_STATE state() const { return state_; }

    // Pins are owned here and listed in the order added.
    Pin& addPin(PIN_DIRECTION direction, const std::wstring& name);
    // Extra interfaces of the filter, answered when non-null.
    std::vector<std::pair<IID, void*>> facets;

protected:
    void* findInterface(REFIID riid) override;
    std::vector<std::unique_ptr<Pin>> pins_;

private:
    CLSID clsid_;
    FilterBehaviour behaviour_;
    FILTER_STATE state_ = State_Stopped;
    IFilterGraph* graph_ = nullptr;  // not counted, as DirectShow filters hold their graph
    std::wstring name_;
    ComPtr<IReferenceClock> clock_;
};

// --- the capture device --------------------------------------------------------------------------

// One control of the device's video processing amplifier.
struct ProcAmpControl {
    long property;
    long min, max, step, defaultValue, value;
    bool rangeFails = false;
};

struct CaptureRecord {
    std::mutex lock;
    std::vector<OwnedMediaType> setFormats;               // every IAMStreamConfig::SetFormat
    std::vector<std::pair<long, long>> procAmpSets;       // IAMVideoProcAmp::Set(property, value)
    std::vector<long> dvDisplays;                         // IIPDVDec::put_IPDisplay
};

struct CaptureConfig {
    std::vector<VideoFormat> formats{{MEDIASUBTYPE_YUY2, 640, 480}};  // the first is current
    bool outputPin = true;
    bool streamConfig = true;
    bool refuseSetFormat = false;
    bool inputPin = false;
    GUID card = GUID_NULL;  // the crossbar type its input accepts
    bool procAmp = false;   // offers IAMVideoProcAmp with these controls
    std::vector<ProcAmpControl> controls;
    bool dvDecoder = false;  // offers IIPDVDec
    FilterBehaviour behaviour;
    std::shared_ptr<CaptureRecord> record = std::make_shared<CaptureRecord>();
};

IBaseFilter* createCaptureDevice(const CLSID& clsid, const CaptureConfig& config);

// --- crossbars --------------------------------------------------------------------------------

struct CrossbarPinConfig {
    LONG physicalType;
    LONG related = -1;
};

struct CrossbarRecord {
    std::mutex lock;
    std::vector<std::pair<LONG, LONG>> routes;  // Route(output, input), in call order
};

struct CrossbarConfig {
    std::vector<CrossbarPinConfig> inputs;
    std::vector<CrossbarPinConfig> outputs;
    std::function<bool(LONG output, LONG input)> canRoute = [](LONG, LONG) { return true; };
    GUID card = GUID_NULL;  // the analog type its pins carry
    FilterBehaviour behaviour;
    std::shared_ptr<CrossbarRecord> record = std::make_shared<CrossbarRecord>();
};

IBaseFilter* createCrossbar(const CLSID& clsid, const CrossbarConfig& config);

// --- the dump filter ------------------------------------------------------------------------

struct DumpRecord {
    std::mutex lock;
    std::vector<std::wstring> fileNames;
};

struct DumpConfig {
    bool inputPin = true;
    bool memInputPin = true;
    bool fileSink = true;
    bool failConnectionMediaType = false;
    std::function<bool(const AM_MEDIA_TYPE&)> accepts = [](const AM_MEDIA_TYPE& type) {
        return IsEqualGUID(type.majortype, MEDIATYPE_Video) != 0;
    };
    FilterBehaviour behaviour;
    std::shared_ptr<DumpRecord> record = std::make_shared<DumpRecord>();
    std::shared_ptr<DumpOutsideJob> outsideJob;  // the channel's side, when the test wants frames
};

IBaseFilter* createDumpFilter(const CLSID& clsid, const DumpConfig& config);

// --- registration -----------------------------------------------------------------------------

// A stand-in served under its own CLSID in this process (CoRegisterClassObject) and listed in a
// device category under an Instance key (HKLM\Software\Classes\CLSID\{category}\Instance\name)
// with FriendlyName (unless none is given) and CLSID. Removed again when it goes.
class RegisteredFilter {
public:
    RegisteredFilter(const GUID& category, const std::wstring& instance, const wchar_t* friendlyName,
                     std::function<IBaseFilter*(const CLSID&)> create);
    ~RegisteredFilter();
    RegisteredFilter(const RegisteredFilter&) = delete;
    RegisteredFilter& operator=(const RegisteredFilter&) = delete;

    const CLSID& clsid() const { return clsid_; }
    // How often the class object created the filter.
    int created() const;

    // Removes the Instance keys the stand-ins use under these categories (leftovers of a run that
    // ended early).
    static void removeLeftovers();

private:
    GUID category_;
    std::wstring instance_;
    CLSID clsid_;
    IClassFactory* factory_ = nullptr;
    DWORD cookie_ = 0;
};

// Serves CLSID_FilterGraph in this process around Wine's own graph, which always offers
// IBasicVideo and lists its filters: this one can refuse either.
class WrappedFilterGraph {
public:
    WrappedFilterGraph(bool basicVideo, bool listFilters);
    ~WrappedFilterGraph();
    WrappedFilterGraph(const WrappedFilterGraph&) = delete;
    WrappedFilterGraph& operator=(const WrappedFilterGraph&) = delete;

private:
    IClassFactory* factory_ = nullptr;
    DWORD cookie_ = 0;
};

// Serves CLSID_FilterGraph in this process with a class object whose creation fails.
class FailingFilterGraph {
public:
    FailingFilterGraph();
    ~FailingFilterGraph();
    FailingFilterGraph(const FailingFilterGraph&) = delete;
    FailingFilterGraph& operator=(const FailingFilterGraph&) = delete;

private:
    IClassFactory* factory_ = nullptr;
    DWORD cookie_ = 0;
};

}  // namespace pramble_test

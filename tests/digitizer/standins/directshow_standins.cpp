#include "directshow_standins.h"

#include <dvdmedia.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <map>

namespace pramble_test {
namespace {

std::atomic<int> filtersAlive{0};

void* findFacet(const std::vector<std::pair<IID, void*>>& facets, REFIID riid) {
    for (const auto& [iid, facet] : facets) {
        if (facet && IsEqualIID(iid, riid)) return facet;
    }
    return nullptr;
}

// A media type handed out to a caller that frees it with DeleteMediaType.
AM_MEDIA_TYPE* allocatedCopy(const AM_MEDIA_TYPE& type) {
    auto* copy = static_cast<AM_MEDIA_TYPE*>(::CoTaskMemAlloc(sizeof(AM_MEDIA_TYPE)));
    if (copy && FAILED(tavro::copyMediaType(*copy, type))) {
        ::CoTaskMemFree(copy);
        return nullptr;
    }
    return copy;
}

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"
// A DirectShow enumerator over a copied list; `give` hands out one item as the caller owns it.
template <typename Enumerator, typename Out, typename Item, Out (*give)(const Item&)>
class ListEnumerator final : public tavro::ComObject<Enumerator> {
public:
    ListEnumerator(std::vector<Item> items, std::size_t next) : items_(std::move(items)), next_(next) {}
    STDMETHODIMP Next(ULONG count, Out* out, ULONG* fetched) override {
        ULONG given = 0;
        for (; given < count && next_ < items_.size(); ++given, ++next_) out[given] = give(items_[next_]);
        if (fetched) *fetched = given;
        return given == count ? S_OK : S_FALSE;
    }
    STDMETHODIMP Skip(ULONG count) override {
        next_ = std::min<std::size_t>(items_.size(), next_ + count);
        return next_ < items_.size() ? S_OK : S_FALSE;
    }
    STDMETHODIMP Reset() override {
        next_ = 0;
        return S_OK;
    }
    STDMETHODIMP Clone(Enumerator** out) override {
        *out = new ListEnumerator(items_, next_);
        return S_OK;
    }

private:
    std::vector<Item> items_;
    std::size_t next_;
};

IPin* givePin(const ComPtr<IPin>& pin) {
    pin->AddRef();
    return pin.Get();
}
AM_MEDIA_TYPE* giveMediaType(const OwnedMediaType& type) { return allocatedCopy(type.type); }

using PinList = ListEnumerator<IEnumPins, IPin*, ComPtr<IPin>, &givePin>;
using MediaTypeList = ListEnumerator<IEnumMediaTypes, AM_MEDIA_TYPE*, OwnedMediaType, &giveMediaType>;
#pragma GCC diagnostic pop

}  // namespace

int liveFilters() { return filtersAlive.load(); }

// --- media types ------------------------------------------------------------------------------

OwnedMediaType::OwnedMediaType(const VideoFormat& format) {
    type.majortype = MEDIATYPE_Video;
    type.subtype = format.subtype;
    type.bFixedSizeSamples = TRUE;
    type.lSampleSize = ULONG(format.width * std::abs(format.height) * format.bitCount / 8);
    BITMAPINFOHEADER header{};
    header.biSize = sizeof(BITMAPINFOHEADER);
    header.biWidth = format.width;
    header.biHeight = format.height;
    header.biPlanes = 1;
    header.biBitCount = format.bitCount;
    header.biCompression = IsEqualGUID(format.subtype, MEDIASUBTYPE_YUY2) ? MAKEFOURCC('Y', 'U', 'Y', '2') : BI_RGB;
    header.biSizeImage = type.lSampleSize;
    if (format.videoInfo2) {
        VIDEOINFOHEADER2 info{};
        info.AvgTimePerFrame = 333333;
        info.bmiHeader = header;
        type.formattype = FORMAT_VideoInfo2;
        type.cbFormat = sizeof(info);
        type.pbFormat = static_cast<BYTE*>(::CoTaskMemAlloc(sizeof(info)));
        std::memcpy(type.pbFormat, &info, sizeof(info));
    } else {
        VIDEOINFOHEADER info{};
        info.AvgTimePerFrame = 333333;
        info.bmiHeader = header;
        type.formattype = FORMAT_VideoInfo;
        type.cbFormat = sizeof(info);
        type.pbFormat = static_cast<BYTE*>(::CoTaskMemAlloc(sizeof(info)));
        std::memcpy(type.pbFormat, &info, sizeof(info));
    }
}

OwnedMediaType::OwnedMediaType(const AM_MEDIA_TYPE& from) { tavro::copyMediaType(type, from); }
OwnedMediaType::OwnedMediaType(const OwnedMediaType& other) { tavro::copyMediaType(type, other.type); }
OwnedMediaType& OwnedMediaType::operator=(const OwnedMediaType& other) {
    if (this != &other) {
        tavro::freeMediaTypeContents(type);
        tavro::copyMediaType(type, other.type);
    }
    return *this;
}
OwnedMediaType::~OwnedMediaType() { tavro::freeMediaTypeContents(type); }

// {6A2F51E0-1D3B-4C8E-9B7A-5E1F0C2D4000}: the analog signal's private major type.
const GUID kAnalogSignal = {0x6a2f51e0, 0x1d3b, 0x4c8e, {0x9b, 0x7a, 0x5e, 0x1f, 0x0c, 0x2d, 0x40, 0x00}};

OwnedMediaType analogType(const GUID& card) {
    AM_MEDIA_TYPE type{};
    type.majortype = kAnalogSignal;
    type.subtype = card;
    type.formattype = FORMAT_None;
    return OwnedMediaType(type);
}

// --- pins -------------------------------------------------------------------------------------

Pin::Pin(IBaseFilter* owner, PIN_DIRECTION direction, std::wstring name)
    : FilterPart(owner), direction_(direction), name_(std::move(name)) {}

void* Pin::findInterface(REFIID riid) { return findFacet(facets, riid); }

STDMETHODIMP Pin::Connect(IPin* receivePin, const AM_MEDIA_TYPE* type) {
    if (!receivePin) return E_POINTER;
    if (connectedTo_) return VFW_E_ALREADY_CONNECTED;
    if (direction_ != PINDIR_OUTPUT) return E_UNEXPECTED;
    const auto attempt = [&](const AM_MEDIA_TYPE& candidate) {
        if (receivePin->ReceiveConnection(this, &candidate) != S_OK) return false;
        connectedTo_ = receivePin;
        connectionType_ = std::make_unique<OwnedMediaType>(candidate);
        return true;
    };
    const bool complete = type && !IsEqualGUID(type->majortype, GUID_NULL) && !IsEqualGUID(type->formattype, GUID_NULL);
    if (complete) return attempt(*type) ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
    for (const auto& candidate : offered) {
        if (type && !IsEqualGUID(type->majortype, GUID_NULL) && !IsEqualGUID(type->majortype, candidate.type.majortype)) {
            continue;
        }
        if (attempt(candidate.type)) return S_OK;
    }
    return VFW_E_NO_ACCEPTABLE_TYPES;
}

STDMETHODIMP Pin::ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* type) {
    if (!connector || !type) return E_POINTER;
    if (direction_ != PINDIR_INPUT) return E_UNEXPECTED;
    if (connectedTo_) return VFW_E_ALREADY_CONNECTED;
    if (!accepts(*type)) return VFW_E_TYPE_NOT_ACCEPTED;
    connectedTo_ = connector;
    connectionType_ = std::make_unique<OwnedMediaType>(*type);
    return S_OK;
}

STDMETHODIMP Pin::Disconnect() {
    if (!connectedTo_) return S_FALSE;
    connectedTo_.Reset();
    connectionType_.reset();
    return S_OK;
}

STDMETHODIMP Pin::ConnectedTo(IPin** pin) {
    if (!pin) return E_POINTER;
    *pin = connectedTo_.Get();
    if (!*pin) return VFW_E_NOT_CONNECTED;
    (*pin)->AddRef();
    return S_OK;
}

STDMETHODIMP Pin::ConnectionMediaType(AM_MEDIA_TYPE* type) {
    if (!type) return E_POINTER;
    *type = AM_MEDIA_TYPE{};
    if (!connectedTo_) return VFW_E_NOT_CONNECTED;
    if (failConnectionMediaType) return E_FAIL;
    return tavro::copyMediaType(*type, connectionType_->type);
}

STDMETHODIMP Pin::QueryPinInfo(PIN_INFO* info) {
    if (!info) return E_POINTER;
    info->pFilter = owner_;
    owner_->AddRef();
    info->dir = direction_;
    lstrcpynW(info->achName, name_.c_str(), MAX_PIN_NAME);
    return S_OK;
}

STDMETHODIMP Pin::QueryDirection(PIN_DIRECTION* direction) {
    if (!direction) return E_POINTER;
    *direction = direction_;
    return S_OK;
}

STDMETHODIMP Pin::QueryId(LPWSTR* id) {
    if (!id) return E_POINTER;
    const std::size_t bytes = (name_.size() + 1) * sizeof(wchar_t);
    *id = static_cast<LPWSTR>(::CoTaskMemAlloc(bytes));
    if (!*id) return E_OUTOFMEMORY;
    std::memcpy(*id, name_.c_str(), bytes);
    return S_OK;
}

STDMETHODIMP Pin::QueryAccept(const AM_MEDIA_TYPE* type) {
    if (!type) return E_POINTER;
    if (direction_ == PINDIR_INPUT) return accepts(*type) ? S_OK : S_FALSE;
    for (const auto& candidate : offered) {
        if (IsEqualGUID(candidate.type.majortype, type->majortype) && IsEqualGUID(candidate.type.subtype, type->subtype)) {
            return S_OK;
        }
    }
    return S_FALSE;
}

STDMETHODIMP Pin::EnumMediaTypes(IEnumMediaTypes** types) {
    if (!types) return E_POINTER;
    *types = new MediaTypeList(offered, 0);
    return S_OK;
}

STDMETHODIMP Pin::QueryInternalConnections(IPin**, ULONG*) { return E_NOTIMPL; }

// --- filters ------------------------------------------------------------------------------------

Filter::Filter(const CLSID& clsid, FilterBehaviour behaviour) : clsid_(clsid), behaviour_(behaviour) { ++filtersAlive; }
Filter::~Filter() { --filtersAlive; }

void* Filter::findInterface(REFIID riid) {
    if (IsEqualIID(riid, IID_IPersist) || IsEqualIID(riid, IID_IMediaFilter)) return static_cast<IBaseFilter*>(this);
    return findFacet(facets, riid);
}

Pin& Filter::addPin(PIN_DIRECTION direction, const std::wstring& name) {
    pins_.push_back(std::make_unique<Pin>(this, direction, name));
    return *pins_.back();
}

STDMETHODIMP Filter::GetClassID(CLSID* clsid) {
    if (!clsid) return E_POINTER;
    *clsid = clsid_;
    return S_OK;
}

STDMETHODIMP Filter::Stop() {
    if (FAILED(behaviour_.stop)) return behaviour_.stop;
    state_ = State_Stopped;
    return S_OK;
}

STDMETHODIMP Filter::Pause() {
    if (FAILED(behaviour_.run)) return behaviour_.run;  // a filter that cannot run cannot cue either
    state_ = State_Paused;
    return S_OK;
}

STDMETHODIMP Filter::Run(REFERENCE_TIME) {
    if (FAILED(behaviour_.run)) return behaviour_.run;
    state_ = State_Running;
    return S_OK;
}

STDMETHODIMP Filter::GetState(DWORD, FILTER_STATE* state) {
    if (!state) return E_POINTER;
    *state = state_;
    return behaviour_.getState;
}

STDMETHODIMP Filter::SetSyncSource(IReferenceClock* clock) {
    clock_ = clock;
    return S_OK;
}

STDMETHODIMP Filter::GetSyncSource(IReferenceClock** clock) {
    if (!clock) return E_POINTER;
    *clock = clock_.Get();
    if (*clock) (*clock)->AddRef();
    return S_OK;
}

STDMETHODIMP Filter::EnumPins(IEnumPins** pins) {
    if (!pins) return E_POINTER;
    std::vector<ComPtr<IPin>> list;
    for (const auto& pin : pins_) list.emplace_back(pin.get());
    *pins = new PinList(std::move(list), 0);
    return S_OK;
}

STDMETHODIMP Filter::FindPin(LPCWSTR id, IPin** pin) {
    if (!id || !pin) return E_POINTER;
    for (const auto& candidate : pins_) {
        LPWSTR name = nullptr;
        candidate->QueryId(&name);
        const bool match = name && std::wcscmp(name, id) == 0;
        ::CoTaskMemFree(name);
        if (match) {
            *pin = candidate.get();
            (*pin)->AddRef();
            return S_OK;
        }
    }
    *pin = nullptr;
    return VFW_E_NOT_FOUND;
}

STDMETHODIMP Filter::QueryFilterInfo(FILTER_INFO* info) {
    if (!info) return E_POINTER;
    lstrcpynW(info->achName, name_.c_str(), MAX_FILTER_NAME);
    info->pGraph = graph_;
    if (graph_) graph_->AddRef();
    return S_OK;
}

STDMETHODIMP Filter::JoinFilterGraph(IFilterGraph* graph, LPCWSTR name) {
    if (graph && FAILED(behaviour_.joinGraph)) return behaviour_.joinGraph;
    graph_ = graph;
    name_ = name ? name : L"";
    return S_OK;
}

// --- the capture device ------------------------------------------------------------------------

namespace {

class StreamConfig final : public Facet<IAMStreamConfig> {
public:
    StreamConfig(IUnknown* pin, Pin& output, const CaptureConfig& config)
        : Facet(pin), output_(output), refuse_(config.refuseSetFormat), record_(config.record) {}
    STDMETHODIMP SetFormat(AM_MEDIA_TYPE* type) override {
        if (!type) return E_POINTER;
        {
            std::lock_guard<std::mutex> lock(record_->lock);
            record_->setFormats.emplace_back(*type);
        }
        if (refuse_) return E_FAIL;
        // The set format is the one the pin connects with from now on.
        output_.offered.insert(output_.offered.begin(), OwnedMediaType(*type));
        return S_OK;
    }
    STDMETHODIMP GetFormat(AM_MEDIA_TYPE** type) override {
        if (!type) return E_POINTER;
        *type = output_.offered.empty() ? nullptr : allocatedCopy(output_.offered.front().type);
        return *type ? S_OK : E_FAIL;
    }
    STDMETHODIMP GetNumberOfCapabilities(int* count, int* size) override {
        if (!count || !size) return E_POINTER;
        *count = 0;
        *size = sizeof(VIDEO_STREAM_CONFIG_CAPS);
        return S_OK;
    }
    STDMETHODIMP GetStreamCaps(int, AM_MEDIA_TYPE**, BYTE*) override { return E_NOTIMPL; }

private:
    Pin& output_;
    bool refuse_;
    std::shared_ptr<CaptureRecord> record_;
};

class ProcAmp final : public Facet<IAMVideoProcAmp> {
public:
    ProcAmp(IBaseFilter* filter, const CaptureConfig& config)
        : Facet(filter), controls_(config.controls), record_(config.record) {}
    STDMETHODIMP GetRange(long property, long* min, long* max, long* step, long* defaultValue, long* flags) override {
        const ProcAmpControl* c = find(property);
        if (!c || c->rangeFails) return E_PROP_ID_UNSUPPORTED;
        *min = c->min;
        *max = c->max;
        *step = c->step;
        *defaultValue = c->defaultValue;
        *flags = VideoProcAmp_Flags_Manual;
        return S_OK;
    }
    STDMETHODIMP Set(long property, long value, long) override {
        {
            std::lock_guard<std::mutex> lock(record_->lock);
            record_->procAmpSets.emplace_back(property, value);
        }
        ProcAmpControl* c = find(property);
        if (!c) return E_PROP_ID_UNSUPPORTED;
        c->value = value;
        return S_OK;
    }
    STDMETHODIMP Get(long property, long* value, long* flags) override {
        const ProcAmpControl* c = find(property);
        if (!c) return E_PROP_ID_UNSUPPORTED;
        *value = c->value;
        *flags = VideoProcAmp_Flags_Manual;
        return S_OK;
    }

private:
    ProcAmpControl* find(long property) {
        for (auto& c : controls_) {
            if (c.property == property) return &c;
        }
        return nullptr;
    }
    std::vector<ProcAmpControl> controls_;
    std::shared_ptr<CaptureRecord> record_;
};

class DvDecoder final : public Facet<IIPDVDec> {
public:
    DvDecoder(IBaseFilter* filter, std::shared_ptr<CaptureRecord> record) : Facet(filter), record_(std::move(record)) {}
    STDMETHODIMP get_IPDisplay(int* display) override {
        if (!display) return E_POINTER;
        *display = DVRESOLUTION_HALF;
        return S_OK;
    }
    STDMETHODIMP put_IPDisplay(int display) override {
        std::lock_guard<std::mutex> lock(record_->lock);
        record_->dvDisplays.push_back(display);
        return S_OK;
    }

private:
    std::shared_ptr<CaptureRecord> record_;
};

class CaptureDevice final : public Filter {
public:
    CaptureDevice(const CLSID& clsid, const CaptureConfig& config)
        : Filter(clsid, config.behaviour), procAmp_(this, config), dvDecoder_(this, config.record) {
        if (config.procAmp) facets.emplace_back(IID_IAMVideoProcAmp, static_cast<IAMVideoProcAmp*>(&procAmp_));
        if (config.dvDecoder) facets.emplace_back(IID_IIPDVDec, static_cast<IIPDVDec*>(&dvDecoder_));
        if (config.inputPin) {
            Pin& input = addPin(PINDIR_INPUT, L"Analog Video In");
            const GUID card = config.card;
            input.accepts = [card](const AM_MEDIA_TYPE& type) { return IsEqualGUID(type.subtype, card) != 0; };
        }
        if (config.outputPin) {
            Pin& output = addPin(PINDIR_OUTPUT, L"Capture");
            for (const auto& format : config.formats) output.offered.emplace_back(format);
            streamConfig_ = std::make_unique<StreamConfig>(static_cast<IPin*>(&output), output, config);
            if (config.streamConfig) output.facets.emplace_back(IID_IAMStreamConfig, static_cast<IAMStreamConfig*>(streamConfig_.get()));
        }
    }

private:
    std::unique_ptr<StreamConfig> streamConfig_;
    ProcAmp procAmp_;
    DvDecoder dvDecoder_;
};

// --- crossbars --------------------------------------------------------------------------------

class Crossbar final : public Filter {
public:
    Crossbar(const CLSID& clsid, const CrossbarConfig& config) : Filter(clsid, config.behaviour), crossbar_(this, config) {
        for (std::size_t i = 0; i < config.inputs.size(); ++i) {
            Pin& input = addPin(PINDIR_INPUT, L"In" + std::to_wstring(i));
            const GUID card = config.card;
            input.accepts = [card](const AM_MEDIA_TYPE& type) { return IsEqualGUID(type.subtype, card) != 0; };
        }
        for (std::size_t i = 0; i < config.outputs.size(); ++i) {
            addPin(PINDIR_OUTPUT, L"Out" + std::to_wstring(i)).offered.push_back(analogType(config.card));
        }
        facets.emplace_back(IID_IAMCrossbar, static_cast<IAMCrossbar*>(&crossbar_));
    }

private:
    class Matrix final : public Facet<IAMCrossbar> {
    public:
        Matrix(IBaseFilter* filter, const CrossbarConfig& config) : Facet(filter), config_(config) {}
        STDMETHODIMP get_PinCounts(LONG* outputs, LONG* inputs) override {
            if (!outputs || !inputs) return E_POINTER;
            *outputs = LONG(config_.outputs.size());
            *inputs = LONG(config_.inputs.size());
            return S_OK;
        }
        STDMETHODIMP CanRoute(LONG output, LONG input) override {
            return valid(output, input) && config_.canRoute(output, input) ? S_OK : S_FALSE;
        }
        STDMETHODIMP Route(LONG output, LONG input) override {
            {
                std::lock_guard<std::mutex> lock(config_.record->lock);
                config_.record->routes.emplace_back(output, input);
            }
            if (!valid(output, input)) return E_INVALIDARG;
            routed_[output] = input;
            return S_OK;
        }
        STDMETHODIMP get_IsRoutedTo(LONG output, LONG* input) override {
            if (!input) return E_POINTER;
            const auto found = routed_.find(output);
            *input = found == routed_.end() ? -1 : found->second;
            return S_OK;
        }
        STDMETHODIMP get_CrossbarPinInfo(BOOL isInput, LONG index, LONG* related, LONG* physicalType) override {
            if (!related || !physicalType) return E_POINTER;
            const auto& pins = isInput ? config_.inputs : config_.outputs;
            if (index < 0 || index >= LONG(pins.size())) return E_INVALIDARG;
            *related = pins[std::size_t(index)].related;
            *physicalType = pins[std::size_t(index)].physicalType;
            return S_OK;
        }

    private:
        bool valid(LONG output, LONG input) const {
            return output >= 0 && output < LONG(config_.outputs.size()) && input >= 0 && input < LONG(config_.inputs.size());
        }
        CrossbarConfig config_;
        std::map<LONG, LONG> routed_;
    };
    Matrix crossbar_;
};

// --- the dump filter ------------------------------------------------------------------------

class MemInput final : public Facet<IMemInputPin> {
public:
    using Facet::Facet;
    STDMETHODIMP GetAllocator(IMemAllocator** allocator) override {
        if (!allocator) return E_POINTER;
        *allocator = nullptr;
        return VFW_E_NO_ALLOCATOR;
    }
    STDMETHODIMP NotifyAllocator(IMemAllocator*, BOOL) override { return S_OK; }
    STDMETHODIMP GetAllocatorRequirements(ALLOCATOR_PROPERTIES*) override { return E_NOTIMPL; }
    STDMETHODIMP Receive(IMediaSample*) override { return S_OK; }
    STDMETHODIMP ReceiveMultiple(IMediaSample**, LONG count, LONG* processed) override {
        if (processed) *processed = count;
        return S_OK;
    }
    STDMETHODIMP ReceiveCanBlock() override { return S_FALSE; }
};

class FileSink final : public Facet<IFileSinkFilter> {
public:
    FileSink(IBaseFilter* filter, std::shared_ptr<DumpRecord> record, std::shared_ptr<DumpOutsideJob> job)
        : Facet(filter), record_(std::move(record)), job_(std::move(job)) {}
    STDMETHODIMP SetFileName(LPCOLESTR name, const AM_MEDIA_TYPE* type) override {
        if (!name) return E_POINTER;
        if (job_) job_->fileName(name, type);
        std::lock_guard<std::mutex> lock(record_->lock);
        record_->fileNames.emplace_back(name);
        return S_OK;
    }
    STDMETHODIMP GetCurFile(LPOLESTR* name, AM_MEDIA_TYPE*) override {
        if (!name) return E_POINTER;
        *name = nullptr;
        return E_FAIL;
    }

private:
    std::shared_ptr<DumpRecord> record_;
    std::shared_ptr<DumpOutsideJob> job_;
};

class DumpFilter final : public Filter {
public:
    DumpFilter(const CLSID& clsid, const DumpConfig& config)
        : Filter(clsid, config.behaviour), fileSink_(this, config.record, config.outsideJob), job_(config.outsideJob) {
        if (config.inputPin) {
            Pin& input = addPin(PINDIR_INPUT, L"Input");
            input.accepts = config.accepts;
            input.failConnectionMediaType = config.failConnectionMediaType;
            memInput_ = std::make_unique<MemInput>(static_cast<IPin*>(&input));
            if (config.memInputPin) input.facets.emplace_back(IID_IMemInputPin, static_cast<IMemInputPin*>(memInput_.get()));
        }
        if (config.fileSink) facets.emplace_back(IID_IFileSinkFilter, static_cast<IFileSinkFilter*>(&fileSink_));
    }

    STDMETHODIMP Run(REFERENCE_TIME start) override {
        const HRESULT result = Filter::Run(start);
        if (SUCCEEDED(result) && job_) job_->start();
        return result;
    }
    STDMETHODIMP Stop() override {
        if (job_) job_->stop();
        return Filter::Stop();
    }

private:
    std::unique_ptr<MemInput> memInput_;
    FileSink fileSink_;
    std::shared_ptr<DumpOutsideJob> job_;
};

}  // namespace

IBaseFilter* createCaptureDevice(const CLSID& clsid, const CaptureConfig& config) { return new CaptureDevice(clsid, config); }
IBaseFilter* createCrossbar(const CLSID& clsid, const CrossbarConfig& config) { return new Crossbar(clsid, config); }
IBaseFilter* createDumpFilter(const CLSID& clsid, const DumpConfig& config) { return new DumpFilter(clsid, config); }

// --- registration -----------------------------------------------------------------------------

namespace {

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"
class ClassObject final : public tavro::ComObject<IClassFactory> {
public:
    ClassObject(CLSID clsid, std::function<IBaseFilter*(const CLSID&)> create) : clsid_(clsid), create_(std::move(create)) {}
    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (outer) return CLASS_E_NOAGGREGATION;
        if (!create_) return E_OUTOFMEMORY;  // a class that cannot be created
        IBaseFilter* filter = create_(clsid_);
        ++created;
        const HRESULT result = filter->QueryInterface(riid, out);
        filter->Release();
        return result;
    }
    STDMETHODIMP LockServer(BOOL) override { return S_OK; }
    std::atomic<int> created{0};

private:
    CLSID clsid_;
    std::function<IBaseFilter*(const CLSID&)> create_;
};
#pragma GCC diagnostic pop

std::wstring guidText(const GUID& guid) {
    wchar_t text[40] = {};
    ::StringFromGUID2(guid, text, 40);
    return text;
}

std::wstring instanceFolder(const GUID& category) {
    return L"Software\\Classes\\CLSID\\" + guidText(category) + L"\\Instance";
}

constexpr wchar_t kInstancePrefix[] = L"tavro-pramble-";

// One CLSID per registration: {5C0A7E10-3F2B-4A61-8D4E-2B7C9A00xxxx}.
CLSID nextClsid() {
    static std::atomic<unsigned> counter{0};
    CLSID clsid = {0x5c0a7e10, 0x3f2b, 0x4a61, {0x8d, 0x4e, 0x2b, 0x7c, 0x9a, 0x00, 0x00, 0x00}};
    const unsigned n = ++counter;
    clsid.Data4[6] = BYTE(n >> 8);
    clsid.Data4[7] = BYTE(n);
    return clsid;
}

}  // namespace

RegisteredFilter::RegisteredFilter(const GUID& category, const std::wstring& instance, const wchar_t* friendlyName,
                                   std::function<IBaseFilter*(const CLSID&)> create)
    : category_(category), instance_(kInstancePrefix + instance), clsid_(nextClsid()) {
    factory_ = new ClassObject(clsid_, std::move(create));
    ::CoRegisterClassObject(clsid_, factory_, CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, &cookie_);
    HKEY key = nullptr;
    const std::wstring path = instanceFolder(category_) + L"\\" + instance_;
    if (::RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr) == ERROR_SUCCESS) {
        const std::wstring clsidText = guidText(clsid_);
        ::RegSetValueExW(key, L"CLSID", 0, REG_SZ, reinterpret_cast<const BYTE*>(clsidText.c_str()),
                         DWORD((clsidText.size() + 1) * sizeof(wchar_t)));
        if (friendlyName) {
            ::RegSetValueExW(key, L"FriendlyName", 0, REG_SZ, reinterpret_cast<const BYTE*>(friendlyName),
                             DWORD((std::wcslen(friendlyName) + 1) * sizeof(wchar_t)));
        }
        ::RegCloseKey(key);
    }
}

RegisteredFilter::~RegisteredFilter() {
    ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, (instanceFolder(category_) + L"\\" + instance_).c_str());
    if (cookie_) ::CoRevokeClassObject(cookie_);
    factory_->Release();
}

int RegisteredFilter::created() const { return static_cast<ClassObject*>(factory_)->created.load(); }

void RegisteredFilter::removeLeftovers() {
    for (const GUID& category : {CLSID_VideoInputDeviceCategory, CLSID_LegacyAmFilterCategory, AM_KSCATEGORY_CROSSBAR}) {
        HKEY folder = nullptr;
        if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, instanceFolder(category).c_str(), 0, KEY_ALL_ACCESS, &folder) != ERROR_SUCCESS) {
            continue;
        }
        std::vector<std::wstring> ours;
        wchar_t name[256];
        for (DWORD i = 0;; ++i) {
            DWORD length = 256;
            if (::RegEnumKeyExW(folder, i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
            if (std::wcsncmp(name, kInstancePrefix, std::wcslen(kInstancePrefix)) == 0) ours.emplace_back(name);
        }
        for (const auto& key : ours) ::RegDeleteTreeW(folder, key.c_str());
        ::RegCloseKey(folder);
    }
}

namespace {

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"
// Wine's graph behind a front that forwards every call, except that it may hide IBasicVideo and
// refuse to list its filters.
class GraphFront final : public tavro::ComObject<IGraphBuilder> {
public:
    GraphFront(ComPtr<IGraphBuilder> inner, bool basicVideo, bool listFilters)
        : inner_(std::move(inner)), basicVideo_(basicVideo), listFilters_(listFilters) {}

    STDMETHODIMP QueryInterface(REFIID riid, void** out) override {
        if (!out) return E_POINTER;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IFilterGraph) || IsEqualIID(riid, IID_IGraphBuilder)) {
            return ComObject::QueryInterface(riid, out);
        }
        if (!basicVideo_ && IsEqualIID(riid, IID_IBasicVideo)) {
            *out = nullptr;
            return E_NOINTERFACE;
        }
        return inner_->QueryInterface(riid, out);
    }
    STDMETHODIMP AddFilter(IBaseFilter* filter, LPCWSTR name) override { return inner_->AddFilter(filter, name); }
    STDMETHODIMP RemoveFilter(IBaseFilter* filter) override { return inner_->RemoveFilter(filter); }
    STDMETHODIMP EnumFilters(IEnumFilters** filters) override {
        if (!listFilters_) return E_UNEXPECTED;
        return inner_->EnumFilters(filters);
    }
    STDMETHODIMP FindFilterByName(LPCWSTR name, IBaseFilter** filter) override {
        return inner_->FindFilterByName(name, filter);
    }
    STDMETHODIMP ConnectDirect(IPin* out, IPin* in, const AM_MEDIA_TYPE* type) override {
        return inner_->ConnectDirect(out, in, type);
    }
    STDMETHODIMP Reconnect(IPin* pin) override { return inner_->Reconnect(pin); }
    STDMETHODIMP Disconnect(IPin* pin) override { return inner_->Disconnect(pin); }
    STDMETHODIMP SetDefaultSyncSource() override { return inner_->SetDefaultSyncSource(); }
    STDMETHODIMP Connect(IPin* out, IPin* in) override { return inner_->Connect(out, in); }
    STDMETHODIMP Render(IPin* out) override { return inner_->Render(out); }
    STDMETHODIMP RenderFile(LPCWSTR file, LPCWSTR playList) override { return inner_->RenderFile(file, playList); }
    STDMETHODIMP AddSourceFilter(LPCWSTR file, LPCWSTR name, IBaseFilter** filter) override {
        return inner_->AddSourceFilter(file, name, filter);
    }
    STDMETHODIMP SetLogFile(DWORD_PTR file) override { return inner_->SetLogFile(file); }
    STDMETHODIMP Abort() override { return inner_->Abort(); }
    STDMETHODIMP ShouldOperationContinue() override { return inner_->ShouldOperationContinue(); }

protected:
    void* findInterface(REFIID riid) override {
        return IsEqualIID(riid, IID_IFilterGraph) ? static_cast<IGraphBuilder*>(this) : nullptr;
    }

private:
    ComPtr<IGraphBuilder> inner_;
    bool basicVideo_;
    bool listFilters_;
};

class GraphFrontFactory final : public tavro::ComObject<IClassFactory> {
public:
    GraphFrontFactory(ComPtr<IClassFactory> wine, bool basicVideo, bool listFilters)
        : wine_(std::move(wine)), basicVideo_(basicVideo), listFilters_(listFilters) {}
    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (outer) return CLASS_E_NOAGGREGATION;
        ComPtr<IGraphBuilder> inner;
        const HRESULT created = wine_->CreateInstance(nullptr, IID_IGraphBuilder, reinterpret_cast<void**>(inner.GetAddressOf()));
        if (FAILED(created)) return created;
        auto* front = new GraphFront(std::move(inner), basicVideo_, listFilters_);
        const HRESULT result = front->QueryInterface(riid, out);
        front->Release();
        return result;
    }
    STDMETHODIMP LockServer(BOOL) override { return S_OK; }

private:
    ComPtr<IClassFactory> wine_;
    bool basicVideo_;
    bool listFilters_;
};
#pragma GCC diagnostic pop

}  // namespace

WrappedFilterGraph::WrappedFilterGraph(bool basicVideo, bool listFilters) {
    ComPtr<IClassFactory> wine;
    ::CoGetClassObject(CLSID_FilterGraph, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory,
                       reinterpret_cast<void**>(wine.GetAddressOf()));
    factory_ = new GraphFrontFactory(wine, basicVideo, listFilters);
    ::CoRegisterClassObject(CLSID_FilterGraph, factory_, CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, &cookie_);
}

WrappedFilterGraph::~WrappedFilterGraph() {
    if (cookie_) ::CoRevokeClassObject(cookie_);
    factory_->Release();
}

FailingFilterGraph::FailingFilterGraph() {
    factory_ = new ClassObject(CLSID_FilterGraph, nullptr);
    ::CoRegisterClassObject(CLSID_FilterGraph, factory_, CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, &cookie_);
}

FailingFilterGraph::~FailingFilterGraph() {
    if (cookie_) ::CoRevokeClassObject(cookie_);
    factory_->Release();
}

}  // namespace pramble_test

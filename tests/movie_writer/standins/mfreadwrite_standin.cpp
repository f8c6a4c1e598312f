// Stand-in mfreadwrite.dll: a recording sink writer and a pass-through to Wine's source reader.
#define MEDIA_STANDIN_BUILDING
#include "media_standins.h"
#include "system_library.h"

#include <array>

#include <tavro/com_support.h>

using standin::SinkCall;
using standin::describe;
using tavro::ComPtr;

namespace {

standin::SinkWriterRecord record;

struct Failure {
    HRESULT hr = S_OK;
    int skip = 0;
    int times = 0;  // -1: every call after the skipped ones
};
std::array<Failure, static_cast<size_t>(SinkCall::Count)> failures;
bool (*failureDecider)(const char* call) = nullptr;
HRESULT decidedFailure = S_OK;

// The injected failure for this call, or S_OK.
HRESULT injected(SinkCall call) {
    if (failureDecider && failureDecider(standin::sinkCallName(call))) return decidedFailure;
    Failure& f = failures[static_cast<size_t>(call)];
    if (f.times == 0) return S_OK;
    if (f.skip > 0) {
        --f.skip;
        return S_OK;
    }
    if (f.times > 0) --f.times;
    return f.hr;
}

HRESULT logged(SinkCall call, DWORD stream, HRESULT hr) {
    record.calls.push_back({call, stream, hr});
    return hr;
}

class RecordingSinkWriter final : public tavro::ComObject<IMFSinkWriter> {
public:
    RecordingSinkWriter() { ++record.writersAlive; }
    ~RecordingSinkWriter() override {
        --record.writersAlive;
    }

    STDMETHODIMP AddStream(IMFMediaType* type, DWORD* index) override {
        HRESULT hr = injected(SinkCall::AddStream);
        if (SUCCEEDED(hr) && (!type || !index)) hr = E_INVALIDARG;
        if (SUCCEEDED(hr) && (began_ || finalized_)) hr = MF_E_INVALIDREQUEST;
        DWORD stream = DWORD(streams_.size());
        if (SUCCEEDED(hr)) {
            streams_.push_back({});
            record.outputTypes.push_back(describe(type));
            *index = stream;
        }
        return logged(SinkCall::AddStream, stream, hr);
    }
    STDMETHODIMP SetInputMediaType(DWORD stream, IMFMediaType* type, IMFAttributes*) override {
        HRESULT hr = injected(SinkCall::SetInputMediaType);
        if (SUCCEEDED(hr) && !type) hr = E_INVALIDARG;
        if (SUCCEEDED(hr) && stream >= streams_.size()) hr = MF_E_INVALIDSTREAMNUMBER;
        if (SUCCEEDED(hr) && finalized_) hr = MF_E_INVALIDREQUEST;
        if (SUCCEEDED(hr)) {
            streams_[stream].hasInput = true;
            record.inputTypes.emplace_back(stream, describe(type));
        }
        return logged(SinkCall::SetInputMediaType, stream, hr);
    }
    STDMETHODIMP BeginWriting() override {
        HRESULT hr = injected(SinkCall::BeginWriting);
        if (SUCCEEDED(hr) && (began_ || finalized_ || streams_.empty())) hr = MF_E_INVALIDREQUEST;
        for (const auto& s : streams_)
            if (SUCCEEDED(hr) && !s.hasInput) hr = MF_E_INVALIDMEDIATYPE;
        if (SUCCEEDED(hr)) began_ = true;
        return logged(SinkCall::BeginWriting, 0, hr);
    }
    STDMETHODIMP WriteSample(DWORD stream, IMFSample* sample) override {
        HRESULT hr = injected(SinkCall::WriteSample);
        if (SUCCEEDED(hr) && !sample) hr = E_INVALIDARG;
        if (SUCCEEDED(hr) && stream >= streams_.size()) hr = MF_E_INVALIDSTREAMNUMBER;
        if (SUCCEEDED(hr) && (!began_ || finalized_)) hr = MF_E_INVALIDREQUEST;
        if (SUCCEEDED(hr)) hr = recordSample(stream, sample);
        return logged(SinkCall::WriteSample, stream, hr);
    }
    STDMETHODIMP SendStreamTick(DWORD stream, LONGLONG) override {
        return simple(SinkCall::SendStreamTick, stream);
    }
    STDMETHODIMP PlaceMarker(DWORD stream, void*) override { return simple(SinkCall::PlaceMarker, stream); }
    STDMETHODIMP NotifyEndOfSegment(DWORD stream) override {
        HRESULT hr = injected(SinkCall::NotifyEndOfSegment);
        if (SUCCEEDED(hr) && stream != MF_SINK_WRITER_ALL_STREAMS && stream >= streams_.size())
            hr = MF_E_INVALIDSTREAMNUMBER;
        if (SUCCEEDED(hr) && finalized_) hr = MF_E_INVALIDREQUEST;
        if (SUCCEEDED(hr)) record.notifications.push_back(stream);
        return logged(SinkCall::NotifyEndOfSegment, stream, hr);
    }
    STDMETHODIMP Flush(DWORD stream) override { return simple(SinkCall::Flush, stream); }
    STDMETHODIMP Finalize() override {
        HRESULT hr = injected(SinkCall::Finalize);
        if (SUCCEEDED(hr) && (!began_ || finalized_)) hr = MF_E_INVALIDREQUEST;
        if (SUCCEEDED(hr)) finalized_ = true;
        return logged(SinkCall::Finalize, 0, hr);
    }
    STDMETHODIMP GetServiceForStream(DWORD stream, REFGUID, REFIID, void** out) override {
        if (out) *out = nullptr;
        const HRESULT hr = injected(SinkCall::GetServiceForStream);
        return logged(SinkCall::GetServiceForStream, stream, FAILED(hr) ? hr : E_NOTIMPL);
    }
    STDMETHODIMP GetStatistics(DWORD stream, MF_SINK_WRITER_STATISTICS*) override {
        const HRESULT hr = injected(SinkCall::GetStatistics);
        return logged(SinkCall::GetStatistics, stream, FAILED(hr) ? hr : E_NOTIMPL);
    }

private:
    struct Stream {
        bool hasInput = false;
    };

    HRESULT simple(SinkCall call, DWORD stream) {
        HRESULT hr = injected(call);
        if (SUCCEEDED(hr) && stream >= streams_.size()) hr = MF_E_INVALIDSTREAMNUMBER;
        return logged(call, stream, hr);
    }

    static HRESULT recordSample(DWORD stream, IMFSample* sample) {
        standin::SampleRecord s;
        s.stream = stream;
        s.hasTime = SUCCEEDED(sample->GetSampleTime(&s.time));
        s.hasDuration = SUCCEEDED(sample->GetSampleDuration(&s.duration));
        HRESULT hr = sample->GetBufferCount(&s.bufferCount);
        for (DWORD i = 0; SUCCEEDED(hr) && i < s.bufferCount; ++i) {
            ComPtr<IMFMediaBuffer> buffer;
            hr = sample->GetBufferByIndex(i, &buffer);
            BYTE* data = nullptr;
            DWORD length = 0;
            if (SUCCEEDED(hr)) hr = buffer->Lock(&data, nullptr, &length);
            if (SUCCEEDED(hr)) {
                s.totalLength += length;
                if (record.keepSampleBytes) s.bytes.insert(s.bytes.end(), data, data + length);
                buffer->Unlock();
            }
        }
        if (SUCCEEDED(hr)) record.samples.push_back(std::move(s));
        if (SUCCEEDED(hr) && record.retainSamples) {
            sample->AddRef();
            record.retained.push_back(sample);
        }
        return hr;
    }

    std::vector<Stream> streams_;
    bool began_ = false;
    bool finalized_ = false;
};

// Wine's own reader behind a front that counts it while it lives: a test sees whether the
// library let go of every reader it opened.
class CountedSourceReader final : public tavro::ComObject<IMFSourceReader> {
public:
    explicit CountedSourceReader(IMFSourceReader* real) : real_(real) { ++record.sourceReadersAlive; }
    ~CountedSourceReader() override {
        real_->Release();
        --record.sourceReadersAlive;
    }

    STDMETHODIMP GetStreamSelection(DWORD stream, BOOL* selected) override {
        return real_->GetStreamSelection(stream, selected);
    }
    STDMETHODIMP SetStreamSelection(DWORD stream, BOOL selected) override {
        return real_->SetStreamSelection(stream, selected);
    }
    STDMETHODIMP GetNativeMediaType(DWORD stream, DWORD index, IMFMediaType** type) override {
        return real_->GetNativeMediaType(stream, index, type);
    }
    STDMETHODIMP GetCurrentMediaType(DWORD stream, IMFMediaType** type) override {
        return real_->GetCurrentMediaType(stream, type);
    }
    STDMETHODIMP SetCurrentMediaType(DWORD stream, DWORD* reserved, IMFMediaType* type) override {
        return real_->SetCurrentMediaType(stream, reserved, type);
    }
    STDMETHODIMP SetCurrentPosition(REFGUID format, REFPROPVARIANT position) override {
        return real_->SetCurrentPosition(format, position);
    }
    STDMETHODIMP ReadSample(DWORD stream, DWORD flags, DWORD* actualStream, DWORD* streamFlags, LONGLONG* timestamp,
                            IMFSample** sample) override {
        return real_->ReadSample(stream, flags, actualStream, streamFlags, timestamp, sample);
    }
    STDMETHODIMP Flush(DWORD stream) override { return real_->Flush(stream); }
    STDMETHODIMP GetServiceForStream(DWORD stream, REFGUID service, REFIID riid, void** object) override {
        return real_->GetServiceForStream(stream, service, riid, object);
    }
    STDMETHODIMP GetPresentationAttribute(DWORD stream, REFGUID attribute, PROPVARIANT* value) override {
        return real_->GetPresentationAttribute(stream, attribute, value);
    }

private:
    IMFSourceReader* real_;  // owned: released with the front
};

// A source reader made by Wine's own library (opened from a URL, a byte stream or a media source),
// counted so a test can see how many readers were made.
template <typename Source>
HRESULT createSystemReader(const char* name, Source source, IMFAttributes* attributes, IMFSourceReader** reader) {
    using Function = HRESULT(WINAPI*)(Source, IMFAttributes*, IMFSourceReader**);
    const auto real = standin::systemFunction<Function>(L"mfreadwrite.dll", name);
    if (!real) return E_NOTIMPL;
    if (!reader) return E_POINTER;
    IMFSourceReader* made = nullptr;
    const HRESULT hr = real(source, attributes, &made);
    *reader = nullptr;
    if (SUCCEEDED(hr) && made) {
        ++record.sourceReadersCreated;
        *reader = new CountedSourceReader(made);
    }
    return hr;
}

}  // namespace

extern "C" {

standin::SinkWriterRecord* StandInSinkWriterRecord() { return &record; }

void StandInSinkWriterReset() {
    for (IMFSample* sample : record.retained) sample->Release();
    const int writersAlive = record.writersAlive;
    const int readersAlive = record.sourceReadersAlive;
    record = standin::SinkWriterRecord{};
    record.writersAlive = writersAlive;
    record.sourceReadersAlive = readersAlive;
    failures = {};
    failureDecider = nullptr;
}

void StandInSinkWriterFailWhen(bool (*decide)(const char* call), HRESULT hr) {
    failureDecider = decide;
    decidedFailure = hr;
}

void StandInSinkWriterFail(SinkCall call, HRESULT hr, int skip, int times) {
    const auto index = static_cast<size_t>(call);
    if (index < failures.size()) failures[index] = {hr, skip, times};
}

HRESULT WINAPI MFCreateSinkWriterFromURL(LPCWSTR url, IMFByteStream* byteStream, IMFAttributes* attributes,
                                         IMFSinkWriter** writer) {
    record.urls.push_back(url ? url : L"");
    record.byteStreamGiven = byteStream != nullptr;
    record.attributesGiven = attributes != nullptr;
    if (!writer) return logged(SinkCall::CreateWriter, 0, E_POINTER);
    *writer = nullptr;
    HRESULT hr = injected(SinkCall::CreateWriter);
    if (SUCCEEDED(hr) && (!url || !*url)) hr = E_INVALIDARG;
    if (SUCCEEDED(hr)) {
        // The movie file appears where the path leads, as the real writer would create it.
        HANDLE file = CreateFileW(url, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE) {
            hr = HRESULT_FROM_WIN32(GetLastError());
        } else {
            CloseHandle(file);
        }
    }
    if (SUCCEEDED(hr)) *writer = new RecordingSinkWriter();
    return logged(SinkCall::CreateWriter, 0, hr);
}

HRESULT WINAPI MFCreateSinkWriterFromMediaSink(IMFMediaSink*, IMFAttributes*, IMFSinkWriter** writer) {
    if (writer) *writer = nullptr;
    return E_NOTIMPL;
}

HRESULT WINAPI MFCreateSourceReaderFromURL(LPCWSTR url, IMFAttributes* attributes, IMFSourceReader** reader) {
    return createSystemReader("MFCreateSourceReaderFromURL", url, attributes, reader);
}

HRESULT WINAPI MFCreateSourceReaderFromByteStream(IMFByteStream* stream, IMFAttributes* attributes,
                                                  IMFSourceReader** reader) {
    return createSystemReader("MFCreateSourceReaderFromByteStream", stream, attributes, reader);
}

HRESULT WINAPI MFCreateSourceReaderFromMediaSource(IMFMediaSource* source, IMFAttributes* attributes,
                                                   IMFSourceReader** reader) {
    return createSystemReader("MFCreateSourceReaderFromMediaSource", source, attributes, reader);
}

}  // extern "C"

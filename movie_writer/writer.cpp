#include "writer.h"

#include <string>
#include <utility>

#include <tavro/boundary.h>

#include "audio_mixer.h"
#include "trace.h"

using reelwright::traceFailure;
using reelwright::traceLine;

namespace reelwright {
bool beganWriting = false;
}  // namespace reelwright

namespace {

static_assert(MF_VERSION == 0x20070, "the writer starts the media platform of Windows 7");

constexpr UINT32 kVideoBitRate = 3'200'000;
constexpr int kBufferAttempts = 101;  // the first one and 100 more, 100 ms apart
constexpr DWORD kBufferRetryPauseMs = 100;

// A byte string in the ANSI code page as UTF-16; empty when it cannot be converted.
std::wstring ansiToWide(const char* text) {
    const int length = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
    if (length <= 0) return {};
    std::wstring wide(static_cast<size_t>(length), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text, -1, wide.data(), length);
    wide.resize(static_cast<size_t>(length - 1));
    return wide;
}

UINT64 packHighLow(UINT32 high, UINT32 low) { return (UINT64{high} << 32) | low; }

// Attributes both video types share, after their subtype (and bit rate) in the set order.
HRESULT setFrameAttributes(IMFMediaType* type, UINT32 width, UINT32 height, int frameRate) {
    HRESULT hr = type->SetUINT32(MF_MT_INTERLACE_MODE, MFVideoInterlace_Progressive);
    if (SUCCEEDED(hr)) hr = type->SetUINT64(MF_MT_FRAME_SIZE, packHighLow(width, height));
    if (SUCCEEDED(hr)) hr = type->SetUINT64(MF_MT_FRAME_RATE, packHighLow(UINT32(frameRate), 1));
    if (SUCCEEDED(hr)) hr = type->SetUINT64(MF_MT_PIXEL_ASPECT_RATIO, packHighLow(1, 1));
    return hr;
}

// The encoded stream: H.264 at a fixed bit rate. No stride is given: rows go to the encoder
// in the order the caller supplied them.
HRESULT makeOutputType(UINT32 width, UINT32 height, int frameRate, tavro::ComPtr<IMFMediaType>& type) {
    HRESULT hr = MFCreateMediaType(&type);
    if (SUCCEEDED(hr)) hr = type->SetGUID(MF_MT_MAJOR_TYPE, MFMediaType_Video);
    if (SUCCEEDED(hr)) hr = type->SetGUID(MF_MT_SUBTYPE, MFVideoFormat_H264);
    if (SUCCEEDED(hr)) hr = type->SetUINT32(MF_MT_AVG_BITRATE, kVideoBitRate);
    if (SUCCEEDED(hr)) hr = setFrameAttributes(type.Get(), width, height, frameRate);
    return hr;
}

// The frames as handed in: uncompressed RGB32.
HRESULT makeInputType(UINT32 width, UINT32 height, int frameRate, tavro::ComPtr<IMFMediaType>& type) {
    HRESULT hr = MFCreateMediaType(&type);
    if (SUCCEEDED(hr)) hr = type->SetGUID(MF_MT_MAJOR_TYPE, MFMediaType_Video);
    if (SUCCEEDED(hr)) hr = type->SetGUID(MF_MT_SUBTYPE, MFVideoFormat_RGB32);
    if (SUCCEEDED(hr)) hr = setFrameAttributes(type.Get(), width, height, frameRate);
    return hr;
}

// Every operation is a boundary of the exported class: memory that cannot be had becomes
// E_OUTOFMEMORY like any other failure status, and no exception leaves the library.
template <typename Body>
HRESULT withoutThrowing(Body&& body) noexcept {
    return tavro::guardBoundary(HRESULT(E_OUTOFMEMORY), std::forward<Body>(body));
}

void configureVideoStream(VideoStream& stream, UINT32 width, UINT32 height, IMFSinkWriter* sinkWriter) {
    stream.width = width;
    stream.height = height;
    stream.sinkWriter = sinkWriter;
    stream.nextSampleTime = 0;
}

}  // namespace

Writer::Writer() : audioPacer_(reelwright::audioChunkDuration(audioChunkSeconds)) {
    withoutThrowing([] {
        traceLine("WMF: in writer constructor");
        return S_OK;
    });
}

Writer::~Writer() = default;

HRESULT Writer::initialize(const char* path) {
    return withoutThrowing([&]() -> HRESULT {
        // A movie whose caller never closed it is abandoned for the new one: everything it held
        // is let go (its file stays as the platform leaves an unfinished one) and its start of
        // the platform is undone, so nothing leaks and the counts stay balanced.
        releaseAll();
        shutDownPlatform();

        const HRESULT comStatus = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        if (FAILED(comStatus)) return comStatus;
        comThread_ = GetCurrentThreadId();
        if (!path) return E_POINTER;

        const std::wstring widePath = ansiToWide(path);
        notifyInterval = frameRate;

        HRESULT hr = MFStartup(MF_VERSION, MFSTARTUP_FULL);
        if (FAILED(hr)) return hr;
        mediaStarted_ = true;
        tavro::ComPtr<IMFSinkWriter> opened;
        hr = MFCreateSinkWriterFromURL(widePath.c_str(), nullptr, nullptr, &opened);
        if (SUCCEEDED(hr)) sinkWriter = std::move(opened);
        return hr;
    });
}

HRESULT Writer::initializeVideo(UINT32 width, UINT32 height) {
    return withoutThrowing([&]() -> HRESULT {
        if (!sinkWriter) return MF_E_NOT_INITIALIZED;

        video = std::make_unique<VideoStream>();
        configureVideoStream(*video, width, height, sinkWriter.Get());
        // A frame whose bytes a buffer cannot hold could never be written.
        const auto layout = reelwright::frameLayoutFor(width, height);
        if (!layout) return MF_E_INVALIDMEDIATYPE;
        video->buffers = FrameBufferPool::create(layout->size);
        if (!video->buffers) return E_OUTOFMEMORY;

        tavro::ComPtr<IMFMediaType> outputType;
        tavro::ComPtr<IMFMediaType> inputType;
        HRESULT hr = makeOutputType(width, height, frameRate, outputType);
        if (SUCCEEDED(hr)) hr = sinkWriter->AddStream(outputType.Get(), &video->streamIndex);
        if (SUCCEEDED(hr)) hr = makeInputType(width, height, frameRate, inputType);
        if (SUCCEEDED(hr)) hr = sinkWriter->SetInputMediaType(video->streamIndex, inputType.Get(), nullptr);
        video->ready = SUCCEEDED(hr);
        return hr;
    });
}

HRESULT Writer::initializeAudio() {
    return withoutThrowing([&]() -> HRESULT {
        // Without a sink writer there is nothing for the audio stream to go to.
        if (!sinkWriter) return S_OK;
        mixer = std::make_unique<AudioMixer>(sinkWriter.Get(), audioSampleRate, audioChunkSeconds);
        audioPacer_.reset();
        return S_OK;
    });
}

HRESULT Writer::addAudioTrack(const char* path, UINT64 start, UINT64 end) {
    return withoutThrowing([&]() -> HRESULT {
        if (!mixer) return MF_E_NOT_INITIALIZED;
        if (!path) return E_POINTER;
        // Negative only when the file cannot be opened at all; the caller may want to know.
        return mixer->openTrack(path, start, end);
    });
}

HRESULT Writer::beginWritingOnce() {
    if (reelwright::beganWriting) return S_OK;
    const HRESULT hr = sinkWriter->BeginWriting();
    traceFailure("begun writing", hr);
    reelwright::beganWriting = SUCCEEDED(hr);
    return hr;
}

HRESULT Writer::addFrame(const UINT32* pixels, UINT64 duration, bool /*flag*/) {
    return withoutThrowing([&]() -> HRESULT {
        if (!sinkWriter) return MF_E_NOT_INITIALIZED;
        // Refused before anything is written or counted.
        if (duration > reelwright::kLongestFrameDuration) return E_INVALIDARG;

        HRESULT status = beginWritingOnce();
        if (video) status = writeVideoFrame(*video, pixels, duration);
        if (mixer) {
            const UINT64 chunks = audioPacer_.chunksForFrame(duration);
            status = S_OK;
            for (UINT64 i = 0; i < chunks && SUCCEEDED(status); ++i) status = mixer->writeAudioChunk(true);
        }
        if (++framesSinceNotify == notifyInterval) {
            status = sinkWriter->NotifyEndOfSegment(MF_SINK_WRITER_ALL_STREAMS);
            framesSinceNotify = 0;
        }
        return status;
    });
}

HRESULT Writer::writeVideoFrame(VideoStream& stream, const UINT32* pixels, UINT64 duration) {
    if (!pixels) {
        traceLine("Reelwright: No frame buffer to write.");
        return -1;
    }
    const auto layout = reelwright::frameLayoutFor(stream.width, stream.height);
    if (!stream.ready || !stream.buffers || !layout) return MF_E_INVALIDREQUEST;

    // A short shortage of memory should not cost a frame: wait for it for about 10 seconds.
    tavro::ComPtr<IMFMediaBuffer> buffer;
    HRESULT hr = reelwright::retryWithPause(
        kBufferAttempts, [&] { return stream.buffers->createBuffer(buffer.ReleaseAndGetAddressOf()); },
        [] { Sleep(kBufferRetryPauseMs); });
    traceFailure("Failed creating video sample buffer", hr);
    if (FAILED(hr)) return hr;

    BYTE* data = nullptr;
    hr = buffer->Lock(&data, nullptr, nullptr);
    if (SUCCEEDED(hr)) {
        const LONG stride = static_cast<LONG>(layout->stride);
        hr = MFCopyImage(data, stride, reinterpret_cast<const BYTE*>(pixels), stride, layout->stride,
                         stream.height);
        const HRESULT unlocked = buffer->Unlock();
        if (SUCCEEDED(hr)) hr = unlocked;
    }
    if (SUCCEEDED(hr)) hr = buffer->SetCurrentLength(layout->size);

    tavro::ComPtr<IMFSample> sample;
    if (SUCCEEDED(hr)) hr = MFCreateSample(&sample);
    if (SUCCEEDED(hr)) hr = sample->AddBuffer(buffer.Get());
    if (SUCCEEDED(hr)) hr = sample->SetSampleTime(static_cast<LONGLONG>(stream.nextSampleTime));
    if (SUCCEEDED(hr)) hr = sample->SetSampleDuration(static_cast<LONGLONG>(duration));
    if (SUCCEEDED(hr)) hr = stream.sinkWriter->WriteSample(stream.streamIndex, sample.Get());
    // Only a written frame takes time on the video time line.
    if (SUCCEEDED(hr)) stream.nextSampleTime += duration;
    return hr;
}

HRESULT Writer::writeAllAudio() {
    return withoutThrowing([&]() -> HRESULT {
        if (!sinkWriter) return MF_E_NOT_INITIALIZED;
        HRESULT status = beginWritingOnce();
        if (!mixer || FAILED(status)) return status;
        return mixer->writeRemainingChunks();
    });
}

HRESULT Writer::notify() {
    if (!sinkWriter) return MF_E_NOT_INITIALIZED;
    return sinkWriter->NotifyEndOfSegment(MF_SINK_WRITER_ALL_STREAMS);
}

HRESULT Writer::closeup() {
    // Finalize's own failure is not reported: the shut-down below still has to happen.
    if (sinkWriter) sinkWriter->Finalize();
    releaseAll();
    return shutDownPlatform();
}

void Writer::releaseAll() {
    mixer.reset();  // its tracks and their source readers first
    video.reset();
    sinkWriter.Reset();
    framesSinceNotify = 0;
    audioPacer_.reset();
    reelwright::beganWriting = false;
}

HRESULT Writer::shutDownPlatform() {
    HRESULT hr = S_OK;
    if (mediaStarted_) hr = MFShutdown();
    mediaStarted_ = false;
    // COM is ended only on the thread that started it here: on any other thread the call would
    // end an apartment this writer never began.
    if (comThread_ != 0 && comThread_ == GetCurrentThreadId()) CoUninitialize();
    comThread_ = 0;
    return hr;
}

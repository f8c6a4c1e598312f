#include "audio_mixer.h"

#include <mferror.h>

#include <cstring>
#include <iostream>
#include <string>

#include "audio_math.h"
#include "trace.h"

using tavro::ComPtr;

namespace {

// A source reader that keeps answering something other than "no such stream" is not walked
// past this many streams.
constexpr DWORD kMostStreamsWalked = 1024;

std::wstring ansiToWide(const char* text) {
    const int count = ::MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
    if (count <= 0) return {};
    std::wstring wide(std::size_t(count), L'\0');
    ::MultiByteToWideChar(CP_ACP, 0, text, -1, wide.data(), count);
    wide.resize(std::size_t(count - 1));
    return wide;
}

UINT32 uint32Or0(IMFAttributes* type, REFGUID key) {
    UINT32 value = 0;
    if (!type || FAILED(type->GetUINT32(key, &value))) return 0;
    return value;
}

std::optional<std::uint32_t> optionalUint32(IMFAttributes* type, REFGUID key) {
    UINT32 value = 0;
    if (!type || FAILED(type->GetUINT32(key, &value))) return std::nullopt;
    return value;
}

reelwright::AudioTypeFacts audioTypeFacts(IMFAttributes* type) {
    return {optionalUint32(type, MF_MT_AUDIO_NUM_CHANNELS),
            optionalUint32(type, MF_MT_AUDIO_SAMPLES_PER_SECOND),
            optionalUint32(type, MF_MT_AUDIO_AVG_BYTES_PER_SECOND)};
}

std::string describeType(const char* prefix, DWORD streamIndex, IMFAttributes* type) {
    return reelwright::describeAudioType(prefix, streamIndex,
                                         uint32Or0(type, MF_MT_AUDIO_NUM_CHANNELS),
                                         uint32Or0(type, MF_MT_AUDIO_SAMPLES_PER_SECOND),
                                         uint32Or0(type, MF_MT_AUDIO_BITS_PER_SAMPLE));
}

// The dump's fragment of one type: its description and the first 32 bits of its subtype.
std::string dumpType(const char* prefix, DWORD streamIndex, IMFAttributes* type) {
    GUID subtype = GUID_NULL;
    if (type) type->GetGUID(MF_MT_SUBTYPE, &subtype);
    return describeType(prefix, streamIndex, type) + ", subtype: " +
           std::to_string(static_cast<unsigned long>(subtype.Data1));
}

// The mix's input to the audio stream: 16-bit mono PCM at the mix rate.
HRESULT buildMixInputType(int sampleRate, ComPtr<IMFMediaType>& type) {
    HRESULT hr = MFCreateMediaType(&type);
    if (SUCCEEDED(hr)) hr = type->SetGUID(MF_MT_MAJOR_TYPE, MFMediaType_Audio);
    if (SUCCEEDED(hr)) hr = type->SetGUID(MF_MT_SUBTYPE, MFAudioFormat_PCM);
    if (SUCCEEDED(hr)) hr = type->SetUINT32(MF_MT_AUDIO_NUM_CHANNELS, 1);
    if (SUCCEEDED(hr)) hr = type->SetUINT32(MF_MT_AUDIO_SAMPLES_PER_SECOND, UINT32(sampleRate));
    if (SUCCEEDED(hr)) hr = type->SetUINT32(MF_MT_AUDIO_BLOCK_ALIGNMENT, 2);
    if (SUCCEEDED(hr))
        hr = type->SetUINT32(MF_MT_AUDIO_AVG_BYTES_PER_SECOND, UINT32(sampleRate * 16 / 8));
    if (SUCCEEDED(hr)) hr = type->SetUINT32(MF_MT_AUDIO_BITS_PER_SAMPLE, 16);
    if (SUCCEEDED(hr)) hr = type->SetUINT32(MF_MT_ALL_SAMPLES_INDEPENDENT, 1);
    return hr;
}

// The AAC output type for the movie: the encoders' first offer, replaced by every later offer
// that suits the first track's decoded type and the mix.
HRESULT chooseAacType(int mixRate, IMFMediaType* current, ComPtr<IMFMediaType>& chosen) {
    ComPtr<IMFCollection> offers;
    DWORD count = 0;
    HRESULT hr = MFTranscodeGetAudioOutputAvailableTypes(MFAudioFormat_AAC, MFT_ENUM_FLAG_ALL,
                                                         nullptr, &offers);
    if (FAILED(hr) || !offers || FAILED(offers->GetElementCount(&count)) || count == 0)
        return MF_E_INVALIDMEDIATYPE;

    std::vector<ComPtr<IMFMediaType>> types(count);
    std::vector<std::optional<reelwright::AudioTypeFacts>> facts(count);
    for (DWORD index = 0; index < count; ++index) {
        ComPtr<IUnknown> element;
        if (FAILED(offers->GetElement(index, &element)) || !element) continue;
        if (FAILED(element.As(&types[index]))) continue;
        facts[index] = audioTypeFacts(types[index].Get());
    }
    const std::vector<std::size_t> picks =
        reelwright::chooseAacCandidates(facts, audioTypeFacts(current), mixRate);
    for (std::size_t index : picks) reelwright::traceLine("chose: " + std::to_string(index));
    if (picks.empty()) return MF_E_INVALIDMEDIATYPE;
    chosen = types[picks.back()];
    return S_OK;
}

}  // namespace

AudioMixer::AudioMixer(IMFSinkWriter* writer, int rate, double seconds)
    : sinkWriter(writer), sampleRate(rate), chunkSeconds(seconds) {}

AudioMixer::~AudioMixer() = default;

UINT64 AudioMixer::chunkDuration() const {
    return reelwright::audioChunkLayout(sampleRate, chunkSeconds).duration;
}

HRESULT AudioMixer::openTrack(const char* path, UINT64 start, UINT64 end) {
    if (!path) return E_POINTER;
    reelwright::traceLine(std::string("creating source reader for: ") + path);
    const std::wstring widePath = ansiToWide(path);
    ComPtr<IMFSourceReader> reader;
    const HRESULT opened = MFCreateSourceReaderFromURL(widePath.c_str(), nullptr, &reader);
    reelwright::traceFailure("Couldn't create source reader", opened);
    if (FAILED(opened)) return opened;

    for (DWORD stream = 0; stream < kMostStreamsWalked; ++stream) {
        BOOL selected = FALSE;
        HRESULT hr = reader->GetStreamSelection(stream, &selected);
        if (hr == MF_E_INVALIDSTREAMNUMBER) break;
        if (FAILED(hr) || !selected) continue;

        ComPtr<IMFMediaType> native;
        GUID major = GUID_NULL;
        hr = reader->GetNativeMediaType(stream, 0, &native);
        reelwright::traceFailure("fail 1", hr);
        if (SUCCEEDED(hr)) {
            hr = native->GetMajorType(&major);
            reelwright::traceFailure("faile 2", hr);
        }
        if (FAILED(hr) || major != MFMediaType_Audio) {
            reelwright::traceFailure("Couldn't set stream selection",
                                     reader->SetStreamSelection(stream, FALSE));
            continue;
        }

        // Integer PCM, leaving the depth to the decoder unless the source is deeper than 16 bits.
        ComPtr<IMFMediaType> partial;
        hr = MFCreateMediaType(&partial);
        reelwright::traceFailure("fail 3", hr);
        if (SUCCEEDED(hr)) {
            hr = partial->SetGUID(MF_MT_MAJOR_TYPE, major);
            reelwright::traceFailure("fail 4", hr);
        }
        if (SUCCEEDED(hr)) {
            hr = partial->SetGUID(MF_MT_SUBTYPE, MFAudioFormat_PCM);
            reelwright::traceFailure("fail 4.a", hr);
        }
        if (SUCCEEDED(hr) &&
            reelwright::asksForSixteenBits(optionalUint32(native.Get(), MF_MT_AUDIO_BITS_PER_SAMPLE)))
            hr = partial->SetUINT32(MF_MT_AUDIO_BITS_PER_SAMPLE, 16);
        if (SUCCEEDED(hr)) hr = reader->SetCurrentMediaType(stream, nullptr, partial.Get());
        reelwright::traceFailure("Failed setting codec for audio track.", hr);
        const bool decodes = SUCCEEDED(hr);
        if (!decodes) {
            reelwright::traceLine(describeType("Native Info:  ", stream, native.Get()));
            reelwright::traceLine(describeType("Desired Info: ", stream, partial.Get()));
        }

        ComPtr<IMFMediaType> decoded;
        reader->GetCurrentMediaType(stream, &decoded);
        const UINT32 bits = uint32Or0(decoded.Get(), MF_MT_AUDIO_BITS_PER_SAMPLE);
        const UINT32 rate = uint32Or0(decoded.Get(), MF_MT_AUDIO_SAMPLES_PER_SECOND);
        const UINT32 channels = uint32Or0(decoded.Get(), MF_MT_AUDIO_NUM_CHANNELS);

        if (!decodes) {
            // Nobody reads it: left selected, the reader would hold its data.
            reader->SetStreamSelection(stream, FALSE);
            continue;
        }

        auto track = std::make_unique<AudioTrack>();
        track->streamIndex = stream;
        track->reader = reader;
        track->start = start;
        track->end = end;
        track->sampleRate = rate;
        track->bitsPerSample = bits;
        track->channels = channels;
        reelwright::traceLine("entry bitdepth: " + std::to_string(bits) +
                              ", channels: " + std::to_string(channels));
        tracks.push_back(std::move(track));
        if (tracks.size() == 1) addAudioStream(*tracks.front());
    }
    return S_OK;
}

HRESULT AudioMixer::addAudioStream(AudioTrack& firstTrack) {
    reelwright::traceLine("Adding audio stream to movie.");
    ComPtr<IMFMediaType> current;
    ComPtr<IMFMediaType> target;
    HRESULT hr = firstTrack.reader->GetCurrentMediaType(firstTrack.streamIndex, &current);
    reelwright::traceFailure("Couldn't obtain current media type of first audio stream.", hr);
    if (SUCCEEDED(hr)) {
        hr = chooseAacType(sampleRate, current.Get(), target);
        reelwright::traceFailure("Couldn't make target audio type for sink writer", hr);
    }
    if (SUCCEEDED(hr)) {
        DWORD index = 0;
        hr = sinkWriter ? sinkWriter->AddStream(target.Get(), &index) : E_POINTER;
        reelwright::traceFailure("failed adding audio output stream", hr);
        if (SUCCEEDED(hr)) audioStreamIndex = index;
    }
    ComPtr<IMFMediaType> input;
    const HRESULT built = buildMixInputType(sampleRate, input);
    if (SUCCEEDED(hr)) {
        hr = FAILED(built) ? built : sinkWriter->SetInputMediaType(audioStreamIndex, input.Get(), nullptr);
        reelwright::traceFailure("failed setting stream input media type", hr);
    }
    if (FAILED(hr)) {
        ComPtr<IMFMediaType> native;
        firstTrack.reader->GetNativeMediaType(firstTrack.streamIndex, 0, &native);
        const DWORD stream = firstTrack.streamIndex;
        std::cout << dumpType("outputC: ", stream, current.Get())
                  << dumpType("outputT: ", stream, target.Get())
                  << dumpType("outputN: ", stream, native.Get())
                  << dumpType("input  : ", stream, input.Get()) << std::flush;
    }
    audioStreamReady = SUCCEEDED(hr);
    return hr;
}

void AudioMixer::analyseOverlaps() {
    std::vector<reelwright::TimeSpan> spans;
    spans.reserve(tracks.size());
    for (const auto& track : tracks) spans.push_back({track->start, track->end});
    maxOverlap = reelwright::largestOverlap(spans);
    prepared = true;
}

void AudioMixer::collectChunks(bool silenceOnly, std::vector<std::vector<std::int16_t>>& chunks) {
    const reelwright::AudioChunkLayout layout = reelwright::audioChunkLayout(sampleRate, chunkSeconds);
    std::vector<std::int16_t> source;
    chunks.clear();
    for (const auto& track : tracks) {
        // A track that has not begun adds silence, which adds nothing to the sum.
        if (track->start > nextSampleTime) continue;
        const std::uint32_t n = reelwright::trackSamplesPerChunk(track->sampleRate, chunkSeconds);
        source.assign(n, 0);
        if (FAILED(track->readTrackChunk(n, silenceOnly, source.data()))) continue;
        chunks.emplace_back(layout.samples);
        reelwright::resampleToMix(source.data(), n, track->sampleRate, UINT32(sampleRate),
                                  chunks.back().data(), layout.samples);
    }
}

HRESULT AudioMixer::writeMixedChunk(const std::vector<std::vector<std::int16_t>>& chunks) {
    const reelwright::AudioChunkLayout layout = reelwright::audioChunkLayout(sampleRate, chunkSeconds);
    std::vector<const std::int16_t*> sources;
    sources.reserve(chunks.size());
    for (const auto& chunk : chunks) sources.push_back(chunk.data());
    std::vector<std::int16_t> mix(layout.samples);
    reelwright::mixChunks(sources, maxOverlap, mix.data(), mix.size());

    ComPtr<IMFMediaBuffer> buffer;
    ComPtr<IMFSample> sample;
    HRESULT hr = MFCreateMemoryBuffer(layout.bytes, &buffer);
    if (SUCCEEDED(hr)) {
        BYTE* data = nullptr;
        hr = buffer->Lock(&data, nullptr, nullptr);
        if (SUCCEEDED(hr)) {
            // Little-endian 16-bit samples, as the platform's PCM is.
            std::memcpy(data, mix.data(), mix.size() * sizeof(std::int16_t));
            buffer->SetCurrentLength(DWORD(mix.size() * sizeof(std::int16_t)));
            hr = buffer->Unlock();
        }
    }
    if (SUCCEEDED(hr)) hr = MFCreateSample(&sample);
    if (SUCCEEDED(hr)) hr = sample->AddBuffer(buffer.Get());
    if (SUCCEEDED(hr)) {
        hr = sample->SetSampleTime(LONGLONG(nextSampleTime));
        nextSampleTime += layout.duration;
    }
    if (SUCCEEDED(hr)) hr = sample->SetSampleDuration(LONGLONG(layout.duration));
    if (SUCCEEDED(hr)) hr = sinkWriter->WriteSample(audioStreamIndex, sample.Get());
    reelwright::traceFailure("Failed to write audio sample", hr);
    return hr;
}

HRESULT AudioMixer::writeAudioChunk(bool forFrame) {
    if (!prepared) analyseOverlaps();
    if (allFinished && !forFrame) return S_OK;

    std::vector<std::vector<std::int16_t>> chunks;
    collectChunks(allFinished, chunks);

    HRESULT hr = S_OK;
    if (audioStreamReady && sinkWriter) {
        hr = writeMixedChunk(chunks);
    } else {
        // No audio stream to write to: the clock and the tracks still keep time with the video.
        nextSampleTime += chunkDuration();
    }

    allFinished = true;
    for (const auto& track : tracks) allFinished = allFinished && track->finished;
    return hr;
}

HRESULT AudioMixer::writeRemainingChunks() {
    HRESULT hr = S_OK;
    while (!allFinished && SUCCEEDED(hr)) hr = writeAudioChunk(false);
    return hr;
}

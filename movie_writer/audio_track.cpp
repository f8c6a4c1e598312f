#include "audio_track.h"

#include <algorithm>
#include <string>

#include "audio_math.h"
#include "trace.h"

namespace {

// A track whose reads fail this many chunks in a row (about a second of sound) is given up,
// so that writing the remaining audio comes to an end.
constexpr int kFailedReadsBeforeGivingUp = 100;

// Successful reads without a sample (stream ticks, type changes) in a row before a read is
// treated as a failure rather than waited on for ever.
constexpr int kEmptyReadsBeforeGivingUp = 10000;

void finishTrack(AudioTrack& track) {
    track.finished = true;
    reelwright::traceLine("Finished with sample starting at: " + std::to_string(track.start));
}

}  // namespace

bool AudioTrack::readable() const {
    return reelwright::isReadableFormat({sampleRate, bitsPerSample, channels});
}

HRESULT AudioTrack::readNextSample() {
    currentSample.Reset();
    if (finished) return S_OK;
    if (!reader) return E_POINTER;

    DWORD actualStream = 0;
    DWORD flags = 0;
    for (int emptyReads = 0;; ++emptyReads) {
        if (emptyReads == kEmptyReadsBeforeGivingUp) return E_UNEXPECTED;
        LONGLONG timestamp = 0;
        // Each track reads its own stream, so a file with several audio streams gives each
        // track its own sound.
        const HRESULT hr =
            reader->ReadSample(streamIndex, 0, &actualStream, &flags, &timestamp, &currentSample);
        if (FAILED(hr)) return hr;
        lastTimestamp = timestamp;
        if (flags & MF_SOURCE_READERF_ERROR) {
            // The reader takes no further request after an error.
            currentSample.Reset();
            finishTrack(*this);
            return E_FAIL;
        }
        if ((flags & MF_SOURCE_READERF_ENDOFSTREAM) || currentSample) break;
    }

    if ((flags & MF_SOURCE_READERF_CURRENTMEDIATYPECHANGED) && currentSample) {
        // The decoder changed its output: the samples from here on are in the new format.
        tavro::ComPtr<IMFMediaType> decoded;
        if (SUCCEEDED(reader->GetCurrentMediaType(streamIndex, &decoded))) {
            UINT32 value = 0;
            sampleRate = SUCCEEDED(decoded->GetUINT32(MF_MT_AUDIO_SAMPLES_PER_SECOND, &value)) ? value : 0;
            bitsPerSample = SUCCEEDED(decoded->GetUINT32(MF_MT_AUDIO_BITS_PER_SAMPLE, &value)) ? value : 0;
            channels = SUCCEEDED(decoded->GetUINT32(MF_MT_AUDIO_NUM_CHANNELS, &value)) ? value : 0;
        }
    }

    if (actualStream == streamIndex) {
        const bool ended = (flags & MF_SOURCE_READERF_ENDOFSTREAM) != 0;
        const bool tick = (flags & MF_SOURCE_READERF_STREAMTICK) != 0;
        if (ended || (!tick && reelwright::isPastTrackEnd(lastTimestamp, start, end)))
            finishTrack(*this);
    }
    return S_OK;
}

HRESULT AudioTrack::readTrackChunk(std::uint32_t n, bool silenceOnly, std::int16_t* out) {
    std::uint32_t written = 0;
    HRESULT status = S_OK;
    if (!finished && !silenceOnly && !readable()) finishTrack(*this);  // nothing to decode

    while (written < n && SUCCEEDED(status)) {
        if (finished || silenceOnly) break;
        if (!currentSample) {
            readPosition = 0;
            status = readNextSample();
        }
        if (SUCCEEDED(status) && currentSample) {
            DWORD total = 0;
            if (FAILED(currentSample->GetTotalLength(&total)) || total <= DWORD(readPosition)) {
                readPosition = 0;
                status = readNextSample();
            }
        }
        if (FAILED(status) || !currentSample) continue;
        if (!readable()) {
            finishTrack(*this);
            continue;
        }
        const reelwright::PcmFormat format{sampleRate, bitsPerSample, channels};

        tavro::ComPtr<IMFMediaBuffer> buffer;
        status = currentSample->ConvertToContiguousBuffer(&buffer);
        if (FAILED(status)) break;
        BYTE* data = nullptr;
        DWORD length = 0;
        status = buffer->Lock(&data, nullptr, &length);
        if (FAILED(status)) break;
        std::size_t position = std::size_t(readPosition);
        const std::size_t got =
            reelwright::downmixFrames(data, length, position, format, out + written, n - written);
        // Fewer samples than asked for: the sample is used up (a trailing partial frame is
        // dropped), so the next pass takes the next sample.
        if (written + got < n) position = length;
        readPosition = INT32(position);
        written += std::uint32_t(got);
        buffer->Unlock();
    }

    if (finished || silenceOnly) std::fill(out + written, out + n, std::int16_t{0});

    if (FAILED(status)) {
        if (++failedReadsInARow >= kFailedReadsBeforeGivingUp && !finished) finishTrack(*this);
    } else {
        failedReadsInARow = 0;
    }
    return status;
}

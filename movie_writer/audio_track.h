// One audio stream of a file, decoded by the platform's source reader to integer PCM and
// read chunk by chunk as 16-bit mono samples at the file's own rate.
#pragma once

#include <windows.h>
#include <mfapi.h>
#include <mfidl.h>
#include <mfreadwrite.h>

#include <cstdint>

#include <tavro/com_support.h>

struct AudioTrack {
    DWORD streamIndex = 0;                      // the audio stream in the source file
    tavro::ComPtr<IMFSourceReader> reader;      // shared by every track of one file
    UINT64 start = 0;                           // movie time at which the track sounds
    UINT64 end = 0;                             // movie time at which it stops
    LONGLONG lastTimestamp = 0;                 // of the latest decoded sample, in file time
    bool finished = false;
    tavro::ComPtr<IMFSample> currentSample;     // decoded data being consumed
    INT32 readPosition = 0;                     // byte offset of the next frame in currentSample
    UINT32 sampleRate = 0;                      // of the decoded PCM; 0 when unknown
    UINT32 bitsPerSample = 0;                   // 8 or 16; 0 when unknown
    UINT32 channels = 0;                        // 0 when unknown
    int failedReadsInARow = 0;                  // readTrackChunk failures since the last success

    // Fills out[0..n) with the next n mono samples. A finished track (or silenceOnly) gives
    // zeros after whatever it still had. After a negative status out[] is not to be used; the
    // track is not finished by a failure and is asked again next time.
    HRESULT readTrackChunk(std::uint32_t n, bool silenceOnly, std::int16_t* out);

    // Replaces currentSample with the next decoded sample of the reader's first audio stream
    // and finishes the track at the end of the stream or past its length.
    HRESULT readNextSample();

    // Whether samples of this format can be turned into mono 16-bit at all.
    bool readable() const;
};

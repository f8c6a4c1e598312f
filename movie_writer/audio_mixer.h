// The movie's sound: audio tracks decoded from files, placed on the movie's time line and
// mixed into 10 ms chunks of 16-bit mono PCM that go to the sink writer's one audio stream.
#pragma once

#include <windows.h>
#include <mfapi.h>
#include <mfidl.h>
#include <mfreadwrite.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "audio_track.h"

class AudioMixer {
public:
    // sinkWriter is the Writer's and stays owned by it; it may be null (no movie open), and
    // then no audio stream is added and no chunk is written.
    AudioMixer(IMFSinkWriter* sinkWriter, int sampleRate, double chunkSeconds);
    ~AudioMixer();
    AudioMixer(const AudioMixer&) = delete;
    AudioMixer& operator=(const AudioMixer&) = delete;

    // Opens the file and adds one track per audio stream that decodes to integer PCM; the
    // first track ever added also adds the audio stream to the sink writer. start and end are
    // movie times (100-ns units). Negative only when the file cannot be opened at all; every
    // other failure shows as a trace line and leaves the file without a track.
    HRESULT openTrack(const char* path, UINT64 start, UINT64 end);

    // Writes one chunk at nextSampleTime and advances the clock by one chunk. forFrame: the
    // chunk belongs to a video frame (after every track finished it is still written, silent);
    // otherwise nothing is written once every track finished and the answer is 0.
    HRESULT writeAudioChunk(bool forFrame);

    // Chunks until every track has finished; the status of the last chunk, 0 when none was due.
    HRESULT writeRemainingChunks();

    // Length of one chunk in reference time (100000 with the library's settings).
    UINT64 chunkDuration() const;

    IMFSinkWriter* const sinkWriter;  // not owned
    const int sampleRate;             // of the mix: 22050
    const double chunkSeconds;        // 0.01
    UINT64 nextSampleTime = 0;        // movie time of the next chunk: the audio clock
    bool prepared = false;            // the overlap count was taken
    std::vector<std::unique_ptr<AudioTrack>> tracks;  // in the order they were added
    DWORD audioStreamIndex = 0;       // in the sink writer; valid only when audioStreamReady
    int maxOverlap = 1;               // divisor of the mix
    bool allFinished = false;
    // The audio stream was added and took its input type: only then do chunks reach the sink
    // writer (never the video stream, whose index may equal audioStreamIndex's initial 0).
    bool audioStreamReady = false;

private:
    void analyseOverlaps();
    HRESULT addAudioStream(AudioTrack& firstTrack);
    // Each track's chunk, resampled to sampleRate; a track whose read fails gives none.
    void collectChunks(bool silenceOnly, std::vector<std::vector<std::int16_t>>& chunks);
    HRESULT writeMixedChunk(const std::vector<std::vector<std::int16_t>>& chunks);
};

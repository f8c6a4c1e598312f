// The movie writer: one MP4 movie (H.264 video, AAC audio) written through the platform's
// sink writer from RGB32 frames handed in one at a time, each with its own duration.
// The class is exported from Reelwright.dll for native callers; the Java bridge drives one
// shared instance.
#pragma once

#include <windows.h>
#include <mfapi.h>
#include <mferror.h>
#include <mfidl.h>
#include <mfreadwrite.h>

#include <cstdint>
#include <memory>

#include <tavro/com_support.h>

#include "frame_buffer_pool.h"
#include "frame_math.h"

#ifdef REELWRIGHT_BUILDING_DLL
#define REELWRIGHT_API __declspec(dllexport)
#else
#define REELWRIGHT_API __declspec(dllimport)
#endif

class AudioMixer;

// The movie's video stream inside the sink writer.
struct VideoStream {
    DWORD streamIndex = 0;  // as AddStream gave it
    UINT32 width = 0;
    UINT32 height = 0;
    IMFSinkWriter* sinkWriter = nullptr;  // the Writer's; not owned
    UINT64 nextSampleTime = 0;            // 100-ns units
    // True once the stream was added and took its input type: only then may samples go to it.
    bool ready = false;
    // Memory for the frames' buffers, used again once the sink writer is done with a frame.
    std::shared_ptr<FrameBufferPool> buffers;
};

class REELWRIGHT_API Writer {
public:
    Writer();
    ~Writer();
    Writer(const Writer&) = delete;
    Writer& operator=(const Writer&) = delete;

    // Every operation answers an HRESULT: negative is a failure.
    HRESULT initialize(const char* path);  // path in the ANSI code page
    HRESULT initializeVideo(UINT32 width, UINT32 height);
    HRESULT initializeAudio();
    HRESULT addAudioTrack(const char* path, UINT64 start, UINT64 end);
    // pixels: width × height RGB32 words, first row first; may be null. The flag has no effect.
    HRESULT addFrame(const UINT32* pixels, UINT64 duration, bool flag);
    HRESULT writeAllAudio();
    HRESULT notify();
    HRESULT closeup();

    // Fixed settings of the library.
    const int frameRate = 25;
    const int audioSampleRate = 22050;
    const double audioChunkSeconds = 0.01;

    tavro::ComPtr<IMFSinkWriter> sinkWriter;
    std::unique_ptr<VideoStream> video;
    std::unique_ptr<AudioMixer> mixer;
    int framesSinceNotify = 0;
    int notifyInterval = 0;

private:
    HRESULT beginWritingOnce();
    HRESULT writeVideoFrame(VideoStream& stream, const UINT32* pixels, UINT64 duration);
    void releaseAll();
    // Undoes what initialize started and nothing else; answers MFShutdown's status (S_OK when
    // the media platform was not started here).
    HRESULT shutDownPlatform();

    // What initialize started, so that only that is shut down: the media platform, and COM on
    // the thread whose CoInitializeEx succeeded (0: none).
    bool mediaStarted_ = false;
    DWORD comThread_ = 0;

    // The part of each frame's duration too short for a whole audio chunk, carried over.
    reelwright::AudioChunkPacer audioPacer_;
};

namespace reelwright {
// True once a sink writer of this library began writing; shared by every Writer.
extern bool beganWriting;
}  // namespace reelwright

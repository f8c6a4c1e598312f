// Stand-ins for the Media Foundation pieces Wine 8 lacks, placed beside the test programs:
//
//  mfreadwrite.dll  A sink writer that checks and records every call (streams and their media
//                   types attribute by attribute, input types, BeginWriting, each sample's
//                   stream, time, duration and bytes, end-of-segment notifications, Finalize)
//                   and can be told to fail any call with a chosen code. It creates the file at
//                   the URL it is given (empty), so path handling is visible on disk. The source
//                   reader functions pass through to Wine's own mfreadwrite.dll in system32,
//                   which decodes WAV/MP3/AAC.
//  mf.dll           shared with the converter's suite: see tests/media_standins/mf_standin.h.
//
// Tests link both import libraries and read the records in-process (the same toolchain builds
// both sides, so the C++ records can be shared as they are). Not thread-safe: one test at a time.
#pragma once

#include <windows.h>
#include <mfapi.h>
#include <mferror.h>
#include <mfidl.h>
#include <mfreadwrite.h>

#include <string>
#include <vector>

#include "media_records.h"
#include "mf_standin.h"

namespace standin {

// Every operation of the stand-in sink writer, for the call log and failure injection.
enum class SinkCall : int {
    CreateWriter,  // MFCreateSinkWriterFromURL
    AddStream,
    SetInputMediaType,
    BeginWriting,
    WriteSample,
    SendStreamTick,
    PlaceMarker,
    NotifyEndOfSegment,
    Flush,
    Finalize,
    GetServiceForStream,
    GetStatistics,
    Count
};

inline const char* sinkCallName(SinkCall call) {
    static const char* const names[] = {"CreateWriter",  "AddStream",          "SetInputMediaType",
                                        "BeginWriting",  "WriteSample",        "SendStreamTick",
                                        "PlaceMarker",   "NotifyEndOfSegment", "Flush",
                                        "Finalize",      "GetServiceForStream", "GetStatistics"};
    const int index = static_cast<int>(call);
    return index >= 0 && index < static_cast<int>(SinkCall::Count) ? names[index] : "?";
}

struct SampleRecord {
    DWORD stream = 0;
    bool hasTime = false;
    LONGLONG time = 0;
    bool hasDuration = false;
    LONGLONG duration = 0;
    DWORD bufferCount = 0;
    DWORD totalLength = 0;   // bytes in all buffers (current lengths)
    std::vector<BYTE> bytes; // those bytes, unless keepSampleBytes is off
};

struct CallRecord {
    SinkCall call;
    DWORD stream;  // the stream argument where the call has one, else 0
    HRESULT result;
};

struct SinkWriterRecord {
    std::vector<std::wstring> urls;  // every MFCreateSinkWriterFromURL, successful or not
    bool byteStreamGiven = false;
    bool attributesGiven = false;
    int writersAlive = 0;            // sink writers not yet released (not cleared by reset)
    std::vector<MediaTypeRecord> outputTypes;  // by stream index, as AddStream got them
    std::vector<std::pair<DWORD, MediaTypeRecord>> inputTypes;  // SetInputMediaType in order
    std::vector<CallRecord> calls;
    std::vector<SampleRecord> samples;    // successful WriteSample calls
    std::vector<DWORD> notifications;     // stream argument of each successful NotifyEndOfSegment
    int sourceReadersCreated = 0;         // through the pass-through
    int sourceReadersAlive = 0;           // of those, not yet released (not cleared by reset)
    bool keepSampleBytes = true;          // off: samples are checked and counted, bytes dropped
    // On: the writer keeps a reference to every sample written, as an encoder with frames in
    // flight does; they are released by the next reset.
    bool retainSamples = false;
    std::vector<IMFSample*> retained;

    int count(SinkCall call) const {
        int n = 0;
        for (const auto& c : calls) n += c.call == call;
        return n;
    }
    std::vector<const SampleRecord*> samplesOf(DWORD stream) const {
        std::vector<const SampleRecord*> found;
        for (const auto& s : samples)
            if (s.stream == stream) found.push_back(&s);
        return found;
    }
};

}  // namespace standin

extern "C" {
// mfreadwrite.dll
MEDIA_STANDIN_API standin::SinkWriterRecord* StandInSinkWriterRecord();
// Clears the record (but not the live counts) and every failure; bytes of samples are kept again.
MEDIA_STANDIN_API void StandInSinkWriterReset();
// The calls of this kind after the first `skip` ones fail with hr, `times` of them (-1: all).
MEDIA_STANDIN_API void StandInSinkWriterFail(standin::SinkCall call, HRESULT hr, int skip, int times);
// Every call also fails with hr when `decide`, asked with the call's name, says so (a fault
// sweep's point); null stops it. Reset stops it too.
MEDIA_STANDIN_API void StandInSinkWriterFailWhen(bool (*decide)(const char* call), HRESULT hr);
}

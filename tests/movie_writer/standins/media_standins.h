// Stand-ins for the Media Foundation pieces Wine 8 lacks, placed beside the test programs:
//
//  mfreadwrite.dll  A sink writer that checks and records every call (streams and their media
//                   types attribute by attribute, input types, BeginWriting, each sample's
//                   stream, time, duration and bytes, end-of-segment notifications, Finalize)
//                   and can be told to fail any call with a chosen code. It creates the file at
//                   the URL it is given (empty), so path handling is visible on disk. The source
//                   reader functions pass through to Wine's own mfreadwrite.dll in system32,
//                   which decodes WAV/MP3/AAC.
//  mf.dll           MFTranscodeGetAudioOutputAvailableTypes, answering the list of AAC output
//                   types a test chooses; by default the AAC encoder's documented list.
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

#ifdef MEDIA_STANDIN_BUILDING
#define MEDIA_STANDIN_API __declspec(dllexport)
#else
#define MEDIA_STANDIN_API __declspec(dllimport)
#endif

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

// One attribute as it was set, with the value in the member its type uses.
struct AttributeRecord {
    GUID key{};
    MF_ATTRIBUTE_TYPE type = MF_ATTRIBUTE_UINT32;
    UINT32 u32 = 0;
    UINT64 u64 = 0;
    double f64 = 0;
    GUID guid{};
    std::wstring text;
    std::vector<BYTE> blob;
};

// A media type's attributes in the order they were set.
struct MediaTypeRecord {
    std::vector<AttributeRecord> attributes;
    const AttributeRecord* find(REFGUID key) const {
        for (const auto& a : attributes)
            if (IsEqualGUID(a.key, key)) return &a;
        return nullptr;
    }
};

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

// One AAC output type of the list mf.dll answers. A zero value leaves that attribute out;
// notAMediaType puts an object into the list that is no media type.
struct AacTypeSpec {
    UINT32 channels;
    UINT32 samplesPerSecond;
    UINT32 bytesPerSecond;
    bool notAMediaType;
};

struct AacQueryRecord {
    int calls = 0;
    GUID subtype{};
    DWORD flags = 0;
    bool configurationGiven = false;
};

}  // namespace standin

extern "C" {
// mfreadwrite.dll
MEDIA_STANDIN_API standin::SinkWriterRecord* StandInSinkWriterRecord();
// Clears the record (but not the live counts) and every failure; bytes of samples are kept again.
MEDIA_STANDIN_API void StandInSinkWriterReset();
// The calls of this kind after the first `skip` ones fail with hr, `times` of them (-1: all).
MEDIA_STANDIN_API void StandInSinkWriterFail(standin::SinkCall call, HRESULT hr, int skip, int times);

// mf.dll
MEDIA_STANDIN_API void StandInAacSetTypes(const standin::AacTypeSpec* types, UINT32 count);
MEDIA_STANDIN_API void StandInAacUseDocumentedTypes();  // and no failure; the starting state
MEDIA_STANDIN_API void StandInAacFail(HRESULT hr);      // 0: answer the list again
MEDIA_STANDIN_API standin::AacQueryRecord* StandInAacRecord();
}

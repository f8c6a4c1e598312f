// Stand-in mf.dll, placed beside the test programs (Wine's own transcode functions abort the
// process): MFTranscodeGetAudioOutputAvailableTypes answers the list of AAC output types a test
// chooses; by default the AAC encoder's documented list. The transcode profile, topology and media
// session that a program started by a test uses are steered through the environment and leave a
// record file: transcode_control.h. Not thread-safe: one test at a time.
#pragma once

#include "media_records.h"

namespace standin {

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
MEDIA_STANDIN_API void StandInAacSetTypes(const standin::AacTypeSpec* types, UINT32 count);
MEDIA_STANDIN_API void StandInAacUseDocumentedTypes();  // and no failure; the starting state
MEDIA_STANDIN_API void StandInAacFail(HRESULT hr);      // 0: answer the list again
MEDIA_STANDIN_API standin::AacQueryRecord* StandInAacRecord();
}

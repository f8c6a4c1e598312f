// How a test that starts a program (not one that loads mf.dll itself) steers the stand-in and
// reads what it saw: the environment and a record file, read and written by the stand-in.
//
// TAVRO_MF_RECORD       the record file: UTF-8 text, appended, one "key=value" (or "key") item
//                       per line ending in LF, in order of events:
//   audioTypes=<subtype> <flags> <attributes given: 0|1>   MFTranscodeGetAudioOutputAvailableTypes
//   profileCreated                                          MFCreateTranscodeProfile
//   sessionCreated=<configuration given: 0|1>               MFCreateMediaSession
//   topology=<output path>                                  MFCreateTranscodeTopology, then the
//   audio=<attribute> / video=<attribute> / container=<attribute>   profile it was given, each
//                       attribute as standin::attributeText writes it, in the store's order
//   setTopology=<flags>, start=<time format> <variant type>, close, shutdown   session calls
//   outputWritten=<path>                                    the started session wrote the file
//   profileReleased, sessionReleased                        the last reference went
// TAVRO_MF_FAIL         comma-separated "call=hresult" (hexadecimal): that call fails with it.
//                       Calls: AudioTypes, CreateProfile, CreateTopology, CreateSession,
//                       SetAudioAttributes, SetVideoAttributes, SetContainerAttributes,
//                       SetTopology, GetEvent, Start, Close, Shutdown.
// TAVRO_MF_EVENT_STATUS comma-separated "event=hresult": the session's event of that kind
//                       carries this status. Events, in the order a session sends them:
//                       TopologySet, TopologyStatus (after SetTopology); CapabilitiesChanged,
//                       Started, EndOfPresentation, Ended (after Start); Closed (after Close).
// TAVRO_MF_AAC_TYPES    "none": no AAC output type is offered.
#pragma once

#include <windows.h>

#include <string>

namespace standin {

// The failure TAVRO_MF_FAIL asks of this call, or S_OK.
HRESULT injectedFailure(const char* call);
// The status TAVRO_MF_EVENT_STATUS gives this event, or S_OK.
HRESULT eventStatus(const char* event);
bool aacTypesWithheld();
// Appends one item to the record file, when there is one.
void recordItem(const std::string& key, const std::string* value = nullptr);
inline void recordItem(const std::string& key, const std::string& value) { recordItem(key, &value); }

}  // namespace standin

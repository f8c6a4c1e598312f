// What the stand-in QuickTime.qts shares with the test that drives it: a named file mapping per
// process, created by whichever side comes first and outliving every load of the library, so a
// test reads what happened after the binding has unloaded it again. It holds the switches that
// steer the stand-in and a record of every call (routine code and arguments).
//
// A later host of the stand-in (a Component Manager for the digitizer) extends State at its end;
// both sides are compiled from this header.
#pragma once

#include <windows.h>

#include <cstdint>
#include <cwchar>
#include <string>

namespace quicktime_standin {

constexpr std::uint32_t kMaxCalls = 256;
constexpr std::uint32_t kMaxArguments = 12;
constexpr std::uint32_t kTextSize = 520;
constexpr std::uint32_t kMaxFailures = 8;

// Codes recorded for the two exports besides the dispatcher (they take no routine code).
constexpr std::uint32_t kCallComponentCode = 0xFFFF0001;
constexpr std::uint32_t kCallComponentFunctionWithStorageCode = 0xFFFF0002;

// What the probe answers: every routine code is dispatched to it while State::control.probe is set.
// Its prototype: (int32, int64, double, int32, float, int64, double, int32) -> int64.
using ProbeFunction = std::int64_t(__cdecl*)(std::int32_t, std::int64_t, double, std::int32_t, float, std::int64_t,
                                             double, std::int32_t);

struct Call {
    std::uint32_t code;
    std::uint32_t threadId;
    std::uint32_t argumentCount;
    // Integer and pointer arguments widened (signed ones sign-extended); floating ones as the bits
    // of a double. Some routines add what their arguments point to (see the stand-in).
    std::uint64_t arguments[kMaxArguments];
    char text[kTextSize];  // the routine's string argument, when it takes one
};

struct Failure {
    std::uint32_t code;  // 0: unused
    std::int32_t result;
};

struct Control {
    Failure failures[kMaxFailures];  // the routine answers `result` (null for a reference) and does nothing
    std::uint32_t blockCode;         // this routine waits for the release event (after signalling blocked)
    std::uint32_t releaseAnswer;     // the byte 001D/0059 answers
    std::uint32_t garbageInHighBits; // 16-bit and byte answers come with garbage above them
    std::uint32_t noExporter;        // no 'spit'/'M4VP' component is installed
    std::uint32_t probe;             // every routine code reaches the probe
};

// --- the Component Manager host, for the video digitizer's suites ----------------------------
// Components are referred to as kComponentBase + index, instances as kInstanceBase + index.
constexpr std::uint32_t kMaxComponents = 16;
constexpr std::uint32_t kMaxInstances = 16;
constexpr std::uintptr_t kComponentBase = 0x10000;
constexpr std::uintptr_t kInstanceBase = 0x20000;

struct HostComponent {
    std::uint32_t description[5];  // type, subtype, manufacturer, flags, mask
    unsigned char name[256];       // length-prefixed, as the name handle held it
    unsigned char info[256];
    std::uint64_t entry;           // the component's entry point
    std::uint64_t infoHandle;      // the handles handed to RegisterComponent
    std::uint64_t iconHandle;
    std::int32_t global;
    std::int32_t refcon;
    std::int32_t openInstances;
};

struct HostInstance {
    std::uint32_t component;  // index into components
    std::int32_t open;
    std::uint64_t storage;    // set by SetComponentInstanceStorage
};

struct Host {
    std::uint32_t enabled;  // _CallComponentFunctionWithStorage calls the handler
    std::uint32_t componentCount;
    HostComponent components[kMaxComponents];
    std::uint32_t instanceCount;
    HostInstance instances[kMaxInstances];
    volatile LONG liveHandles;  // handles made by NewHandle or PtrToHand and not disposed
    std::int32_t memError;      // what MemError answers
    volatile LONG announcedThreadId;  // the thread that last announced itself (001D/0013)
};

struct State {
    Control control;
    volatile LONG callCount;  // may exceed kMaxCalls; only the first kMaxCalls are kept
    volatile LONG loads;
    volatile LONG unloads;
    char loadedFrom[kTextSize];  // the library's path at its last load
    Call calls[kMaxCalls];
    Host host;
};

inline std::wstring objectName(const wchar_t* what, DWORD processId = ::GetCurrentProcessId()) {
    wchar_t name[64];
    std::swprintf(name, 64, L"TavroQuickTimeStandIn-%ls-%lx", what, static_cast<unsigned long>(processId));
    return name;
}
inline std::wstring stateMappingName() { return objectName(L"state"); }
inline std::wstring blockedEventName() { return objectName(L"blocked"); }   // set by the stand-in
inline std::wstring releaseEventName() { return objectName(L"release"); }   // set by the test

}  // namespace quicktime_standin

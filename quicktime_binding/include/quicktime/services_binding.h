// The services library's binding to QuickTime.qts: a forwarding entry for each routine of its
// list, the counted InitializeQTML / TerminateQTML, and the discovery they rely on.
//
// Include it and call QuickTime by its routine names (quicktime::services::EnterMovies(), ...):
// the first forwarded call binds lazily, InitializeQTML binds and holds QuickTime.qts until the
// matching TerminateQTML.
#pragma once

#include <quicktime/binding_record.h>

#include <string>

#define QUICKTIME_DECLARE_SERVICES_ENTRY(name, code, result, parameters) \
    result QUICKTIME_CALL name parameters __asm__(QUICKTIME_ENTRY_SYMBOL(qt_services_, name));

namespace quicktime::services {

QUICKTIME_SERVICES_ROUTINES(QUICKTIME_DECLARE_SERVICES_ENTRY)

// Counted and serialised within the process by the mutex "QTMLInitTermMutex<process id>".
// 0 when QuickTime is ready; -2093 when QuickTime.qts cannot be loaded, -2094 when it lacks an
// export, otherwise QuickTime's own answer.
OSErr InitializeQTML(long flags);
void TerminateQTML();

// Discovery. Each answer is a folder with its trailing separator, or "" when not found;
// `size` is the room of the caller's buffer, terminator included.
std::string locateQuickTimeFolder(std::size_t size);
std::string readQuickTimeRegistryPath(const char* valueName, std::size_t size);
std::string locateExtensionFolder(std::size_t size);
// QuickTime.qts from the QuickTime folder, else from the extension folder; null when neither.
HMODULE loadQuickTimeLibrary();

// Looks up the three exports of the bound module; 0, or -2094 at the first one missing.
OSErr bindEntryPoints();
// The hook set at load: binds lazily, and lets a reference taken here go when QuickTime says so.
QUICKTIME_HOOK void bindOnFirstCall();
// Whether the bound (or found) QuickTime.qts is version 7.0.2.0 or later; computed once.
bool quickTimeIsAtLeast702();

}  // namespace quicktime::services

extern "C" {
// The binding record of the services library.
extern quicktime::QuickTimeBinding quickTimeServicesBinding;
}
// What every entry slot holds while unbound: answers -2095 through the whole return register.
void QUICKTIME_CALL quickTimeServicesNotInitialised() __asm__(QUICKTIME_ENTRY_SYMBOL(qt_services_, notInitialised));

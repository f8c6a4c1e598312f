// The video digitizer's binding to QuickTime.qts: its own record and forwarding entries for the
// routines of its list, the component-call-with-storage entry, and only the lazy path: QuickTime
// itself loads the digitizer, so it is running (and holds QuickTime.qts) before the first call.
//
// Include it and call QuickTime by its routine names (quicktime::digitizer::NewHandle(0), ...).
#pragma once

#include <quicktime/binding_record.h>

#define QUICKTIME_DECLARE_DIGITIZER_ENTRY(name, code, result, parameters) \
    result QUICKTIME_CALL name parameters __asm__(QUICKTIME_ENTRY_SYMBOL(qt_digitizer_, name));

namespace quicktime::digitizer {

QUICKTIME_DIGITIZER_ROUTINES(QUICKTIME_DECLARE_DIGITIZER_ENTRY)

// Calls `handler` with `storage` followed by the request's parameters from `parameters`
// (QuickTime's _CallComponentFunctionWithStorage), answering the handler's result.
ComponentResult QUICKTIME_CALL CallComponentFunctionWithStorage(Handle storage, ComponentParameters* parameters,
                                                                ComponentFunctionUPP handler)
    __asm__(QUICKTIME_ENTRY_SYMBOL(qt_digitizer_, CallComponentFunctionWithStorage));

// QuickTime.qts by the digitizer's order: the loaded module, the host program's folder, the
// registry value "QuickTime.qts folder" under HKLM then HKCU, the system folder. Null when none.
HMODULE loadQuickTimeLibrary();
// The hook set at load: binds, and never keeps a reference of its own.
QUICKTIME_HOOK void bindOnFirstCall();

}  // namespace quicktime::digitizer

extern "C" {
// The binding record of the digitizer.
extern quicktime::QuickTimeBinding quickTimeDigitizerBinding;
}
void QUICKTIME_CALL quickTimeDigitizerNotInitialised() __asm__(QUICKTIME_ENTRY_SYMBOL(qt_digitizer_, notInitialised));

// The component's two exports: DllMain (ordinal 1) and vdigComponentDispatch (ordinal 50), the
// one entry through which QuickTime's Component Manager sends every request.
#include <windows.h>

#include "quicktime_records.h"
#include "selector_table.h"

extern "C" {

BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }

// QuickTime's C calling convention; exported by the .def file.
quicktime::ComponentResult QUICKTIME_CALL vdigComponentDispatch(quicktime::ComponentParameters* params, quicktime::Handle) {
    if (!params || !pramble::canDo(params->what)) return pramble::kBadComponentSelector;
    // The handlers reach QuickTime through the binding's component-call-with-storage entry,
    // which joins this component with the binding's digitizer variant; until then every request
    // is answered as one without a handler.
    return pramble::kBadComponentSelector;
}

}  // extern "C"

// The stand-in jawt.dll's controls, for the suite that loads it. The stand-in reads its
// environment at every call, so a test can change it between calls:
//   TAVRO_JAWT_WINDOW  the window handle (hex) its drawing surfaces report
//   TAVRO_JAWT_FAIL    "access" (the accessor answers false), "surface" (no drawing surface),
//                      "info" (no surface information), "throw" (GetDrawingSurface raises a
//                      Java exception and answers null)
#pragma once

struct JawtStandInCounts {
    int accessorCalls;
    int lastRequestedVersion;
    int surfacesGiven;
    int surfacesFreed;
    int locks;
    int unlocks;
    int infosGiven;
    int infosFreed;
};

// Exported by the stand-in as "jawtStandInCounts".
using JawtStandInCountsFunction = void (*)(JawtStandInCounts*);

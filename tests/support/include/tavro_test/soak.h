// A soak: one cycle of a scenario repeated many times (TAVRO_SOAK_CYCLES: 100 in the suites,
// 10,000 from tools/soak.sh; bounded by TAVRO_SOAK_SECONDS, 300 unless set), with the process's handles, GDI and USER
// objects and private bytes measured after a warm-up and at the end. The figures are printed
// and must stay within the stated tolerances.
#pragma once

#include "fault_sweep.h"

#include <cstddef>
#include <functional>

namespace tavro::test {

struct ResourceFigures {
    unsigned long handles = 0;
    unsigned long gdiObjects = 0;
    unsigned long userObjects = 0;
    std::size_t privateBytes = 0;
    std::size_t ownHandles = 0;  // the library's own, booked through its handle-opening imports
    std::size_t libraryBlocks = 0;  // the library's live allocations (with AllocationFaults installed)
};

ResourceFigures measureResources();

struct SoakTolerance {
    long handles = 0;                 // growth allowed over the whole soak
    long objects = 0;                 // GDI and USER objects, each
    std::size_t privateBytes = 1 << 20;
    // Added per cycle where the test side keeps what each cycle makes (the Java VM stand-in
    // keeps every string and array for its whole life).
    std::size_t privateBytesPerCycle = 0;
    bool processHandles = true;       // off where a platform piece keeps handles on every use
};

// Runs `cycle` 50 times to warm up, then repeatedly; prints one line of figures and checks the
// growth against `tolerance`. Answers the cycles run.
long soak(const char* name, const std::function<void()>& cycle, SoakTolerance tolerance = {});

// A scenario swept (every failure point in turn), then soaked with nothing failing; prints
// its count of points.
SweepSummary sweepThenSoak(const char* name, const std::function<void()>& scenario, SweepOptions options = {},
                           SoakTolerance tolerance = {});

}  // namespace tavro::test

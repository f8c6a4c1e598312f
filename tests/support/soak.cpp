#include <tavro_test/soak.h>

#include <tavro_test/fault_sweep.h>

#include <windows.h>
#include <psapi.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>

namespace tavro::test {

namespace {

long setting(const char* name, long fallback) {
    const char* text = std::getenv(name);
    return text && *text ? std::atol(text) : fallback;
}

}  // namespace

ResourceFigures measureResources() {
    ResourceFigures figures;
    figures.handles = openHandleCount();
    figures.gdiObjects = ::GetGuiResources(::GetCurrentProcess(), GR_GDIOBJECTS);
    figures.userObjects = ::GetGuiResources(::GetCurrentProcess(), GR_USEROBJECTS);
    PROCESS_MEMORY_COUNTERS_EX memory{};
    memory.cb = sizeof memory;
    if (::GetProcessMemoryInfo(::GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&memory), sizeof memory)) {
        // Wine leaves PrivateUsage at 0; the commit charge it does report is the same measure.
        figures.privateBytes = memory.PrivateUsage ? memory.PrivateUsage : memory.PagefileUsage;
    }
    figures.ownHandles = libraryHandleCount();
    figures.libraryBlocks = AllocationFaults::outstanding();
    return figures;
}

long soak(const char* name, const std::function<void()>& cycle, SoakTolerance tolerance) {
    const long cycles = setting("TAVRO_SOAK_CYCLES", 100);
    const auto bound = std::chrono::seconds(setting("TAVRO_SOAK_SECONDS", 300));
    for (int n = 0; n < 50; ++n) cycle();
    const ResourceFigures before = measureResources();
    const auto start = std::chrono::steady_clock::now();
    long done = 0;
    while (done < cycles && std::chrono::steady_clock::now() - start < bound && !::testing::Test::HasFailure()) {
        cycle();
        ++done;
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const ResourceFigures after = measureResources();
    std::printf("soak %s: %ld cycles in %.1f s; handles %lu -> %lu (own %zu -> %zu), GDI %lu -> %lu, USER %lu -> %lu, "
                "private bytes %zu -> %zu, library blocks %zu -> %zu\n",
                name, done, seconds, before.handles, after.handles, before.ownHandles, after.ownHandles,
                before.gdiObjects, after.gdiObjects, before.userObjects, after.userObjects, before.privateBytes,
                after.privateBytes, before.libraryBlocks, after.libraryBlocks);
    std::fflush(stdout);
    if (tolerance.processHandles) {
        EXPECT_LE(long(after.handles) - long(before.handles), tolerance.handles) << name;
    }
    EXPECT_LE(long(after.ownHandles) - long(before.ownHandles), tolerance.handles) << name;
    EXPECT_LE(long(after.gdiObjects) - long(before.gdiObjects), tolerance.objects) << name;
    EXPECT_LE(long(after.userObjects) - long(before.userObjects), tolerance.objects) << name;
    EXPECT_LE(after.libraryBlocks, before.libraryBlocks) << name;
    EXPECT_LE(after.privateBytes,
              before.privateBytes + tolerance.privateBytes + tolerance.privateBytesPerCycle * std::size_t(done))
        << name;
    return done;
}

SweepSummary sweepThenSoak(const char* name, const std::function<void()>& scenario, SweepOptions options,
                           SoakTolerance tolerance) {
    const SweepSummary summary = sweepFaults(scenario, options);
    std::printf("sweep %s: %d fault points, %d runs\n", name, summary.points, summary.runs);
    tolerance.processHandles = tolerance.processHandles && options.processHandles;
    soak(name, scenario, tolerance);
    return summary;
}

}  // namespace tavro::test

// A fault sweep, as the most trusted C libraries are tested: a scenario runs once to count the
// fault points it passes (an allocation of the library under test, a platform call it imports,
// a stand-in's method), then once for every point with that point, and only that one, failing.
// After every run the process must be as it was: the same handles, the same GDI and USER
// objects, and the library holding no more memory than before.
//
// A point counts only on the thread that runs the scenario, so every run of a scenario passes
// the same points in the same order.
#pragma once

#include "import_patch.h"

#include <windows.h>

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace tavro::test {

// Every fault point asks this as it is passed: true when this pass is the one to fail.
// `point` names it in the sweep's messages ("RegOpenKeyExA", "malloc").
bool faultPointFails(const char* point);

// What one sweep saw.
struct SweepSummary {
    int points = 0;  // fault points of one run of the scenario
    int runs = 0;    // runs with a failing point
};

// Runs `scenario` once so that whatever the library makes once for all is made, once to count
// its points, then once per point with that point failing. Each run is traced with the point
// that failed; afterwards the handle, GDI and USER counts of the process and the library's
// outstanding allocations (when an AllocationFaults is installed) must be where they began.
SweepSummary sweepFaults(const std::function<void()>& scenario);

// The name of the point that failed in the current run; empty when none has failed (yet).
std::string failedPoint();

// Makes every allocation of `module` a fault point: malloc, calloc, realloc and _strdup through
// its import table, which the C and C++ runtimes linked into it use as well. A refused block
// answers null as the C runtime does when memory runs out. Also counts the module's blocks
// that are still allocated. One at a time per process.
class AllocationFaults {
public:
    explicit AllocationFaults(HMODULE module);
    ~AllocationFaults();
    AllocationFaults(const AllocationFaults&) = delete;
    AllocationFaults& operator=(const AllocationFaults&) = delete;

    bool active() const;
    // Blocks the module allocated through its imports and has not freed.
    static std::size_t outstanding();

private:
    std::vector<std::unique_ptr<ImportPatch>> patches_;
};

namespace detail {
template <typename Function, typename Tag>
struct FailingImport;

// The failing twin of one imported platform call: the real call until its point fails, then
// the failure answer with the last error set as the platform sets it.
#define TAVRO_FAILING_IMPORT_BODY(CONVENTION)                                              \
    template <typename Result, typename... Arguments, typename Tag>                        \
    struct FailingImport<Result(CONVENTION*)(Arguments...), Tag> {                         \
        static inline Result(CONVENTION* real)(Arguments...) = nullptr;                    \
        static inline Result failure{};                                                    \
        static inline DWORD error = 0;                                                     \
        static inline const char* name = "";                                               \
        static Result CONVENTION call(Arguments... arguments) {                            \
            if (faultPointFails(name)) {                                                   \
                ::SetLastError(error);                                                     \
                return failure;                                                            \
            }                                                                              \
            return real(arguments...);                                                     \
        }                                                                                  \
    };
TAVRO_FAILING_IMPORT_BODY(WINAPI)
#if defined(__i386__)
TAVRO_FAILING_IMPORT_BODY(__cdecl)
#endif
#undef TAVRO_FAILING_IMPORT_BODY
}  // namespace detail

// One entry of an ImportFaults table: write it with TAVRO_FAILING_IMPORT.
struct FailingImportEntry {
    const char* dll;
    const char* function;
    void* replacement;
    void** real;
};

template <typename Function, typename Tag, typename Failure>
FailingImportEntry failingImport(const char* dll, const char* function, Failure failure, DWORD lastError) {
    using Twin = detail::FailingImport<Function, Tag>;
    Twin::failure = static_cast<decltype(Twin::failure)>(failure);
    Twin::error = lastError;
    Twin::name = function;
    return {dll, function, reinterpret_cast<void*>(&Twin::call), reinterpret_cast<void**>(&Twin::real)};
}

// The table entry for `function` imported from `dll`, answering `failure` with last error
// `lastError` when its point fails, e.g.
//   TAVRO_FAILING_IMPORT("kernel32.dll", CreateEventA, nullptr, ERROR_NOT_ENOUGH_MEMORY)
#define TAVRO_FAILING_IMPORT(dll, function, failure, lastError)                                   \
    ::tavro::test::failingImport<decltype(&::function), struct tavro_failing_##function>(dll, #function, \
                                                                                         failure, lastError)

// Makes each platform call of the table a fault point in `module` until destroyed. Calls the
// module does not import are left out (missing()).
class ImportFaults {
public:
    ImportFaults(HMODULE module, const std::vector<FailingImportEntry>& table);
    ImportFaults(const ImportFaults&) = delete;
    ImportFaults& operator=(const ImportFaults&) = delete;

    // The table's functions the module does not import.
    const std::vector<std::string>& missing() const { return missing_; }

private:
    std::vector<std::unique_ptr<ImportPatch>> patches_;
    std::vector<std::string> missing_;
};

}  // namespace tavro::test

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
#include <type_traits>
#include <vector>

namespace tavro::test {

// Every fault point asks this as it is passed: true when this pass is the one to fail.
// `point` names it in the sweep's messages ("RegOpenKeyExA", "malloc").
bool faultPointFails(const char* point);

// What a sweep compares after every run besides the library's blocks and the handles it opened
// through its handle-opening imports (TAVRO_HANDLE_OPENING_IMPORT).
struct SweepOptions {
    // The whole process's handles. Off where a platform piece the scenario goes through keeps
    // handles of its own for good on every use (Wine's device enumerator does).
    bool processHandles = true;
};

// What one sweep saw.
struct SweepSummary {
    int points = 0;  // fault points of one run of the scenario
    int runs = 0;    // runs with a failing point
};

// Runs `scenario` once so that whatever the library makes once for all is made, once to count
// its points, then once per point with that point failing. Each run is traced with the point
// that failed; afterwards the handle, GDI and USER counts of the process and the library's
// outstanding allocations (when an AllocationFaults is installed) must be where they began.
SweepSummary sweepFaults(const std::function<void()>& scenario, SweepOptions options = {});

// The handles this process holds open, from the system's handle table (Wine answers
// GetProcessHandleCount with 0).
unsigned long openHandleCount();
// The handles the library opened through its handle-opening imports and has not closed.
std::size_t libraryHandleCount();

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
// The book of handles the library opened through its opening imports and has not closed.
void rememberHandle(void* handle);
void forgetHandle(void* handle);

template <typename Function, typename Tag>
struct FailingImport;
template <typename Function, typename Tag>
struct ClosingImport;

// The failing twin of one imported platform call: the real call until its point fails, then
// the failure answer with the last error set as the platform sets it.
#define TAVRO_FAILING_IMPORT_BODY(CONVENTION)                                              \
    template <typename Result, typename... Arguments, typename Tag>                        \
    struct FailingImport<Result(CONVENTION*)(Arguments...), Tag> {                         \
        static inline Result(CONVENTION* real)(Arguments...) = nullptr;                    \
        static inline Result failure{};                                                    \
        static inline DWORD error = 0;                                                     \
        static inline const char* name = "";                                               \
        static inline bool opensHandle = false;                                            \
        static Result CONVENTION call(Arguments... arguments) {                            \
            if (faultPointFails(name)) {                                                   \
                ::SetLastError(error);                                                     \
                return failure;                                                            \
            }                                                                              \
            const Result result = real(arguments...);                                      \
            if constexpr (std::is_convertible_v<Result, const void*>) {                    \
                if (opensHandle && result != failure) {                                    \
                    rememberHandle(const_cast<void*>(static_cast<const void*>(result)));   \
                }                                                                          \
            }                                                                              \
            return result;                                                                 \
        }                                                                                  \
    };                                                                                     \
    template <typename Result, typename Handle, typename... Rest, typename Tag>            \
    struct ClosingImport<Result(CONVENTION*)(Handle, Rest...), Tag> {                      \
        static inline Result(CONVENTION* real)(Handle, Rest...) = nullptr;                 \
        static Result CONVENTION call(Handle handle, Rest... rest) {                       \
            forgetHandle(const_cast<void*>(static_cast<const void*>(handle)));             \
            return real(handle, rest...);                                                  \
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
FailingImportEntry failingImport(const char* dll, const char* function, Failure failure, DWORD lastError,
                                 bool opensHandle = false) {
    using Twin = detail::FailingImport<Function, Tag>;
    Twin::failure = static_cast<decltype(Twin::failure)>(failure);
    Twin::error = lastError;
    Twin::name = function;
    Twin::opensHandle = opensHandle;
    return {dll, function, reinterpret_cast<void*>(&Twin::call), reinterpret_cast<void**>(&Twin::real)};
}

// The closing twin: the handle leaves the book, the call is the real one, no point fails.
template <typename Function, typename Tag>
FailingImportEntry closingImport(const char* dll, const char* function) {
    using Twin = detail::ClosingImport<Function, Tag>;
    return {dll, function, reinterpret_cast<void*>(&Twin::call), reinterpret_cast<void**>(&Twin::real)};
}

// The table entry for `function` imported from `dll`, answering `failure` with last error
// `lastError` when its point fails, e.g.
//   TAVRO_FAILING_IMPORT("kernel32.dll", CreateEventA, nullptr, ERROR_NOT_ENOUGH_MEMORY)
#define TAVRO_FAILING_IMPORT(dll, function, failure, lastError)                                   \
    ::tavro::test::failingImport<decltype(&::function), struct tavro_failing_##function>(dll, #function, \
                                                                                         failure, lastError)

// The same for a call that opens a handle (answering `failure` when it cannot): what it opens
// goes into the book of the library's handles until a TAVRO_HANDLE_CLOSING_IMPORT closes it,
// and every run must leave the book as it found it.
#define TAVRO_HANDLE_OPENING_IMPORT(dll, function, failure, lastError)                                  \
    ::tavro::test::failingImport<decltype(&::function), struct tavro_failing_##function>(dll, #function, \
                                                                                         failure, lastError, true)
// A call that closes a handle its first argument names (CloseHandle, UnmapViewOfFile).
#define TAVRO_HANDLE_CLOSING_IMPORT(dll, function) \
    ::tavro::test::closingImport<decltype(&::function), struct tavro_closing_##function>(dll, #function)

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

// Points one import of a loaded module at a replacement: how a test stands in for a system
// call that a real run cannot be made to fail, or watches what a library hands to it.
#pragma once

#include <windows.h>

#include <cstddef>

namespace tavro::test {

// Points the import of `function` from `dll` in `module` at `replacement` until destroyed.
// The replacement must have the import's exact type, calling convention included (WINAPI).
class ImportPatch {
public:
    ImportPatch(HMODULE module, const char* dll, const char* function, void* replacement);
    ~ImportPatch();
    ImportPatch(const ImportPatch&) = delete;
    ImportPatch& operator=(const ImportPatch&) = delete;
    bool active() const { return slot_ != nullptr; }
    // What the slot held before: the real function.
    void* original() const { return original_; }

private:
    void** slot_ = nullptr;
    void* original_ = nullptr;
};

// Stands in for `module`'s C runtime allocations (malloc, calloc and realloc through its import
// table, which the C++ runtime and threading library linked into it use too) until destroyed,
// and counts them. Each refusal is a null answer once; everything else is given as usual, since
// the runtime needs memory to throw. One at a time per process.
//
// A fault sweep runs a scenario once with failAt(0) to count its allocations, then once per
// point k in 1..count with failAt(k).
class AllocationFailure {
public:
    // Only blocks of at least `bytes` are refused (every block counts).
    explicit AllocationFailure(HMODULE module, size_t bytes = 0);
    ~AllocationFailure();
    AllocationFailure(const AllocationFailure&) = delete;
    AllocationFailure& operator=(const AllocationFailure&) = delete;
    bool active() const;
    // From now on, the `point`-th allocation that may be refused is refused (0: none), and the
    // count starts again.
    void failAt(size_t point);
    // The next block that may be refused is refused: failAt(1).
    void arm() { failAt(1); }
    // Whether the refusal failAt asked for has happened.
    bool refused() const;
    // Allocations asked for since the last failAt, the refused one included.
    size_t allocations() const;

private:
    ImportPatch malloc_;
    ImportPatch calloc_;
    ImportPatch realloc_;
};

}  // namespace tavro::test

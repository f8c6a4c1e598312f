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

// Stands in for `module`'s C runtime malloc until destroyed: after each arm(), the next block
// of at least `bytes` is refused once (so operator new throws std::bad_alloc inside the module)
// and everything else is given as usual, since the runtime needs memory to throw. One at a
// time per process.
class AllocationFailure {
public:
    AllocationFailure(HMODULE module, size_t bytes);
    bool active() const { return patch_.active(); }
    void arm();
    // Whether the armed refusal has happened.
    bool refused() const;

private:
    ImportPatch patch_;
};

}  // namespace tavro::test

// Points one import of a loaded module at a replacement: how a test stands in for a system
// call that a real run cannot be made to fail, or watches what a library hands to it.
#pragma once

#include <windows.h>

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

private:
    void** slot_ = nullptr;
    void* original_ = nullptr;
};

}  // namespace tavro::test

#include <tavro_test/import_patch.h>

#include <cstring>

namespace tavro::test {

namespace {

size_t refusedFrom = 0;
bool refusalArmed = false;

void* __cdecl refusingMalloc(size_t bytes) {
    using Malloc = void*(__cdecl*)(size_t);
    static const auto realMalloc = reinterpret_cast<Malloc>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"msvcrt.dll"), "malloc")));
    if (refusalArmed && bytes >= refusedFrom) {
        refusalArmed = false;
        return nullptr;
    }
    return realMalloc(bytes);
}

void writeSlot(void** slot, void* value) {
    DWORD previous = 0;
    VirtualProtect(slot, sizeof(void*), PAGE_READWRITE, &previous);
    *slot = value;
    VirtualProtect(slot, sizeof(void*), previous, &previous);
}
}  // namespace

ImportPatch::ImportPatch(HMODULE module, const char* dll, const char* function, void* replacement) {
    auto* base = reinterpret_cast<BYTE*>(module);
    if (!base) return;
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& imports = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (!imports.VirtualAddress) return;
    for (auto* entry = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress); entry->Name; ++entry) {
        if (::_stricmp(reinterpret_cast<const char*>(base + entry->Name), dll) != 0) continue;
        auto* names = reinterpret_cast<IMAGE_THUNK_DATA*>(base + entry->OriginalFirstThunk);
        auto* addresses = reinterpret_cast<IMAGE_THUNK_DATA*>(base + entry->FirstThunk);
        for (; names->u1.AddressOfData; ++names, ++addresses) {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
            const auto* byName = reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
            if (std::strcmp(reinterpret_cast<const char*>(byName->Name), function) != 0) continue;
            slot_ = reinterpret_cast<void**>(&addresses->u1.Function);
            original_ = *slot_;
            writeSlot(slot_, replacement);
            return;
        }
    }
}

ImportPatch::~ImportPatch() {
    if (slot_) writeSlot(slot_, original_);
}

AllocationFailure::AllocationFailure(HMODULE module, size_t bytes)
    : patch_((refusedFrom = bytes, refusalArmed = false, module), "msvcrt.dll", "malloc",
             reinterpret_cast<void*>(refusingMalloc)) {}

void AllocationFailure::arm() { refusalArmed = true; }

bool AllocationFailure::refused() const { return !refusalArmed; }

}  // namespace tavro::test

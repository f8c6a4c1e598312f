#include <tavro_test/import_patch.h>

#include <atomic>
#include <cstdint>
#include <cstring>

namespace tavro::test {

namespace {

// The state of the one AllocationFailure; the allocators may be called from any thread.
std::atomic<size_t> refusableFrom{0};
std::atomic<size_t> refusalPoint{0};  // 0: nothing is refused
std::atomic<size_t> refusableSeen{0};
std::atomic<size_t> allocationsSeen{0};
std::atomic<bool> refusalDone{false};

using Malloc = void*(__cdecl*)(size_t);
using Calloc = void*(__cdecl*)(size_t, size_t);
using Realloc = void*(__cdecl*)(void*, size_t);
std::atomic<Malloc> realMalloc{nullptr};
std::atomic<Calloc> realCalloc{nullptr};
std::atomic<Realloc> realRealloc{nullptr};

// Counts one allocation of `bytes` and answers whether it is the one to refuse.
bool refuseThis(size_t bytes) {
    allocationsSeen.fetch_add(1);
    const size_t point = refusalPoint.load();
    if (point == 0 || bytes < refusableFrom.load()) return false;
    if (refusableSeen.fetch_add(1) + 1 != point) return false;
    refusalDone.store(true);
    return true;
}

void* __cdecl refusingMalloc(size_t bytes) { return refuseThis(bytes) ? nullptr : realMalloc.load()(bytes); }

void* __cdecl refusingCalloc(size_t count, size_t size) {
    const size_t bytes = size && count > SIZE_MAX / size ? SIZE_MAX : count * size;
    return refuseThis(bytes) ? nullptr : realCalloc.load()(count, size);
}

// A refused realloc leaves the block as it was, as the real one does.
void* __cdecl refusingRealloc(void* block, size_t bytes) {
    return refuseThis(bytes) ? nullptr : realRealloc.load()(block, bytes);
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
    : malloc_((refusalPoint = 0, refusableFrom = bytes, module), "msvcrt.dll", "malloc",
              reinterpret_cast<void*>(refusingMalloc)),
      calloc_(module, "msvcrt.dll", "calloc", reinterpret_cast<void*>(refusingCalloc)),
      realloc_(module, "msvcrt.dll", "realloc", reinterpret_cast<void*>(refusingRealloc)) {
    // The module's own imports are the real functions (a test's runtime may be another copy).
    realMalloc = reinterpret_cast<Malloc>(malloc_.original());
    realCalloc = reinterpret_cast<Calloc>(calloc_.original());
    realRealloc = reinterpret_cast<Realloc>(realloc_.original());
    failAt(0);
}

AllocationFailure::~AllocationFailure() { refusalPoint = 0; }

// calloc and realloc are stood in for wherever the module imports them.
bool AllocationFailure::active() const { return malloc_.active(); }

void AllocationFailure::failAt(size_t point) {
    refusalPoint = 0;
    refusableSeen = 0;
    allocationsSeen = 0;
    refusalDone = false;
    refusalPoint = point;
}

bool AllocationFailure::refused() const { return refusalDone.load(); }

size_t AllocationFailure::allocations() const { return allocationsSeen.load(); }

}  // namespace tavro::test

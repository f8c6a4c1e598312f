#include "component_manager.h"

#include <quicktime_standin/state.h>

#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <set>

using namespace quicktime;
namespace qs = quicktime_standin;

namespace {

qs::State* sharedState() {
    static qs::State* state = [] {
        const HANDLE mapping = ::OpenFileMappingW(FILE_MAP_ALL_ACCESS, FALSE, qs::stateMappingName().c_str());
        return mapping ? static_cast<qs::State*>(::MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, sizeof(qs::State)))
                       : nullptr;
    }();
    return state;
}
qs::Host& host() { return sharedState()->host; }

// The answer the test set for this routine, if any.
bool failing(std::uint32_t code, std::int32_t& result) {
    for (const qs::Failure& f : sharedState()->control.failures) {
        if (f.code == code) {
            result = f.result;
            return true;
        }
    }
    return false;
}

// --- handles ------------------------------------------------------------------------------

struct HostHandle {
    char* master;  // what the Handle points at
    long size;
};
std::mutex handleLock;
std::set<Handle> hostHandles;

Handle newHandle(long size) {
    auto* made = new HostHandle{static_cast<char*>(std::calloc(std::size_t(std::max(size, 1L)), 1)), size};
    const std::lock_guard<std::mutex> lock(handleLock);
    hostHandles.insert(&made->master);
    ::InterlockedIncrement(&host().liveHandles);
    return &made->master;
}

HostHandle* hostHandle(Handle handle) {
    const std::lock_guard<std::mutex> lock(handleLock);
    return hostHandles.count(handle) ? reinterpret_cast<HostHandle*>(handle) : nullptr;
}

void setSize(Handle handle, long size) {
    if (HostHandle* h = hostHandle(handle)) {
        h->master = static_cast<char*>(std::realloc(h->master, std::size_t(std::max(size, 1L))));
        if (size > h->size) std::memset(h->master + h->size, 0, std::size_t(size - h->size));
        h->size = size;
    }
}

void setPascal(Handle handle, const unsigned char* text) {
    if (!handle) return;
    setSize(handle, text[0] + 1);
    if (HostHandle* h = hostHandle(handle)) std::memcpy(h->master, text, std::size_t(text[0]) + 1);
}

// --- components ---------------------------------------------------------------------------

qs::HostComponent* componentOf(const void* reference) {
    const auto value = reinterpret_cast<std::uintptr_t>(reference);
    std::uint32_t index = 0xFFFFFFFF;
    if (value >= qs::kInstanceBase && value < qs::kInstanceBase + qs::kMaxInstances) {
        index = host().instances[value - qs::kInstanceBase].component;
    } else if (value >= qs::kComponentBase && value < qs::kComponentBase + qs::kMaxComponents) {
        index = std::uint32_t(value - qs::kComponentBase);
    }
    return index < host().componentCount ? &host().components[index] : nullptr;
}

constexpr long kInvalidComponentId = -3000;
constexpr long kMemFullError = -108;

// Handlers answer whole registers; OSErr callers read the low 16 bits.
extern "C" {

Component QUICKTIME_CALL hostRegisterComponent(ComponentDescription* cd, ComponentRoutineUPP entry, short global,
                                               Handle name, Handle info, Handle icon) {
    std::int32_t ignored = 0;
    if (failing(0x00010001, ignored) || !cd || host().componentCount >= qs::kMaxComponents) return nullptr;
    qs::HostComponent& c = host().components[host().componentCount];
    c = qs::HostComponent{};
    c.description[0] = cd->componentType;
    c.description[1] = cd->componentSubType;
    c.description[2] = cd->componentManufacturer;
    c.description[3] = cd->componentFlags;
    c.description[4] = cd->componentFlagsMask;
    if (name && *name) std::memcpy(c.name, *name, std::size_t(static_cast<unsigned char>(**name)) + 1);
    if (info && *info) std::memcpy(c.info, *info, std::size_t(static_cast<unsigned char>(**info)) + 1);
    c.entry = reinterpret_cast<std::uintptr_t>(entry);
    c.infoHandle = reinterpret_cast<std::uintptr_t>(info);
    c.iconHandle = reinterpret_cast<std::uintptr_t>(icon);
    c.global = global;
    return reinterpret_cast<Component>(qs::kComponentBase + host().componentCount++);
}

long QUICKTIME_CALL hostGetComponentInfo(Component component, ComponentDescription* cd, Handle name, Handle info,
                                         Handle icon) {
    std::int32_t result = 0;
    if (failing(0x00010005, result)) return result;
    const qs::HostComponent* c = componentOf(component);
    if (!c) return kInvalidComponentId;
    if (cd) {
        cd->componentType = c->description[0];
        cd->componentSubType = c->description[1];
        cd->componentManufacturer = c->description[2];
        cd->componentFlags = c->description[3];
        cd->componentFlagsMask = c->description[4];
    }
    setPascal(name, c->name);
    setPascal(info, c->info);
    if (icon) setSize(icon, 0);
    return 0;
}

void QUICKTIME_CALL hostSetComponentInstanceStorage(ComponentInstance instance, Handle storage) {
    const auto value = reinterpret_cast<std::uintptr_t>(instance);
    if (value >= qs::kInstanceBase && value < qs::kInstanceBase + qs::kMaxInstances) {
        host().instances[value - qs::kInstanceBase].storage = reinterpret_cast<std::uintptr_t>(storage);
    }
}

long QUICKTIME_CALL hostGetComponentRefcon(Component component) {
    const qs::HostComponent* c = componentOf(component);
    return c ? c->refcon : 0;
}

void QUICKTIME_CALL hostSetComponentRefcon(Component component, long refcon) {
    if (qs::HostComponent* c = componentOf(component)) c->refcon = std::int32_t(refcon);
}

long QUICKTIME_CALL hostCountComponentInstances(Component component) {
    const qs::HostComponent* c = componentOf(component);
    return c ? c->openInstances : 0;
}

long QUICKTIME_CALL hostMemError() { return host().memError; }

Handle QUICKTIME_CALL hostNewHandle(long size) {
    std::int32_t result = 0;
    if (failing(0x00150008, result)) {
        host().memError = result;
        return nullptr;
    }
    host().memError = 0;
    return newHandle(size);
}

void QUICKTIME_CALL hostSetHandleSize(Handle handle, long size) {
    std::int32_t result = 0;
    if (failing(0x00150033, result)) {
        host().memError = result;
        return;
    }
    host().memError = hostHandle(handle) ? 0 : -109;  // nilHandleErr
    setSize(handle, size);
}

long QUICKTIME_CALL hostGetHandleSize(Handle handle) {
    const HostHandle* h = hostHandle(handle);
    return h ? h->size : 0;
}

void QUICKTIME_CALL hostBlockMoveData(const void* source, void* destination, long size) {
    if (source && destination && size > 0) std::memmove(destination, source, std::size_t(size));
}

long QUICKTIME_CALL hostPtrToHand(const void* source, Handle* destination, long size) {
    std::int32_t result = 0;
    if (failing(0x0015005D, result)) return result;
    if (!destination || size < 0) return kMemFullError;
    *destination = newHandle(size);
    if (source && size > 0) std::memcpy(**destination ? **destination : nullptr, source, std::size_t(size));
    return 0;
}

StringPtr QUICKTIME_CALL hostC2pstr(char* text) {
    if (!text) return nullptr;
    const std::size_t length = std::min<std::size_t>(std::strlen(text), 255);
    std::memmove(text + 1, text, length);
    text[0] = char(length);
    return reinterpret_cast<StringPtr>(text);
}

void QUICKTIME_CALL hostSetRect(Rect* r, short left, short top, short right, short bottom) {
    if (r) *r = Rect{top, left, bottom, right};
}

long QUICKTIME_CALL hostEmptyRect(const Rect* r) { return !r || r->bottom <= r->top || r->right <= r->left; }

long QUICKTIME_CALL hostSectRect(const Rect* a, const Rect* b, Rect* out) {
    Rect section{std::max(a->top, b->top), std::max(a->left, b->left), std::min(a->bottom, b->bottom),
                 std::min(a->right, b->right)};
    const bool empty = hostEmptyRect(&section);
    if (empty) section = Rect{0, 0, 0, 0};
    if (out) *out = section;
    return !empty;
}

long QUICKTIME_CALL hostEqualRect(const Rect* a, const Rect* b) {
    return a->top == b->top && a->left == b->left && a->bottom == b->bottom && a->right == b->right;
}

long QUICKTIME_CALL hostGetCodecInfo(void* info, CodecType, CodecComponent) {
    std::int32_t result = 0;
    if (failing(0x00030003, result)) return result;
    // CodecInfo: a 32-byte type name first, then the numbers (left zero here).
    if (info) {
        std::memset(info, 0, 72);
        static const unsigned char kTypeName[] = "\x0dRGB 555 Video";
        std::memcpy(info, kTypeName, sizeof kTypeName - 1);
    }
    return 0;
}

long QUICKTIME_CALL hostGetTimeBaseTime(TimeBase base, long scale, void* record) {
    // TimeRecord: a 64-bit value, the scale, the base. A base's time is its own number of
    // seconds, so a test tells the scale and the base from the value.
    if (record) {
        const std::int64_t value = std::int64_t(reinterpret_cast<std::uintptr_t>(base)) * scale;
        std::memcpy(record, &value, 8);
        std::memcpy(static_cast<char*>(record) + 8, &scale, 4);
        std::memcpy(static_cast<char*>(record) + 12, &base, sizeof base);
    }
    return 0;
}

long QUICKTIME_CALL hostAnnounceThread(unsigned long threadId, void*) {
    ::InterlockedExchange(&host().announcedThreadId, LONG(threadId));
    return 0;
}

}  // extern "C"

}  // namespace

void* hostRoutine(std::uint32_t code) {
    if (!sharedState()) return nullptr;
    switch (code) {
        case 0x00010001: return reinterpret_cast<void*>(&hostRegisterComponent);
        case 0x00010005: return reinterpret_cast<void*>(&hostGetComponentInfo);
        case 0x0001000D: return reinterpret_cast<void*>(&hostSetComponentInstanceStorage);
        case 0x00010010: return reinterpret_cast<void*>(&hostGetComponentRefcon);
        case 0x00010011: return reinterpret_cast<void*>(&hostSetComponentRefcon);
        case 0x00010013: return reinterpret_cast<void*>(&hostCountComponentInstances);
        case 0x00150006: return reinterpret_cast<void*>(&hostMemError);
        case 0x00150008: return reinterpret_cast<void*>(&hostNewHandle);
        case 0x00150033: return reinterpret_cast<void*>(&hostSetHandleSize);
        case 0x00150034: return reinterpret_cast<void*>(&hostGetHandleSize);
        case 0x0015003E: return reinterpret_cast<void*>(&hostBlockMoveData);
        case 0x0015005D: return reinterpret_cast<void*>(&hostPtrToHand);
        case 0x00280017: return reinterpret_cast<void*>(&hostC2pstr);
        case 0x001E0025: return reinterpret_cast<void*>(&hostSetRect);
        case 0x001E0028: return reinterpret_cast<void*>(&hostSectRect);
        case 0x001E002A: return reinterpret_cast<void*>(&hostEqualRect);
        case 0x001E002B: return reinterpret_cast<void*>(&hostEmptyRect);
        case 0x00030003: return reinterpret_cast<void*>(&hostGetCodecInfo);
        case 0x000200A6: return reinterpret_cast<void*>(&hostGetTimeBaseTime);
        case 0x001D0013: return reinterpret_cast<void*>(&hostAnnounceThread);
        default: return nullptr;
    }
}

void hostDisposeHandle(Handle handle) {
    HostHandle* h = hostHandle(handle);
    if (!h) return;
    {
        const std::lock_guard<std::mutex> lock(handleLock);
        hostHandles.erase(handle);
    }
    std::free(h->master);
    delete h;
    ::InterlockedDecrement(&host().liveHandles);
}

long hostCallWithStorage(Handle storage, ComponentParameters* parameters, ComponentFunctionUPP handler) {
    // Every handler is called with the storage and eight parameter slots: a cdecl callee reads
    // those it declares, and the caller removes them all.
    using Handler = long(QUICKTIME_CALL*)(Handle, std::intptr_t, std::intptr_t, std::intptr_t, std::intptr_t,
                                          std::intptr_t, std::intptr_t, std::intptr_t, std::intptr_t);
    std::intptr_t slots[8] = {};
    const std::size_t count = std::min<std::size_t>(parameters->paramSize / sizeof(std::intptr_t), 8);
    for (std::size_t i = 0; i < count; ++i) slots[i] = parameters->params[i];
    const auto call = reinterpret_cast<Handler>(reinterpret_cast<void*>(handler));
    return call(storage, slots[0], slots[1], slots[2], slots[3], slots[4], slots[5], slots[6], slots[7]);
}

// The process-wide record each library keeps of its binding to QuickTime.qts, and how the
// forwarding entries of a routine list are declared. Shared by both variants.
#pragma once

#include <quicktime/routines.h>
#include <quicktime/types.h>

#include <windows.h>

#include <atomic>
#include <cstddef>

namespace quicktime {

// An entry point of QuickTime.qts (or the not-initialised entry), called only by the forwarding
// entries with the caller's own arguments.
using EntryPoint = void (*)();
// Run before every forwarded call while set; its result, if any, is ignored.
using FirstCallHook = void (*)();

// Atomics, so that first calls racing on two threads store the same values without a data race
// and without a lock; the forwarding entries read the slots with plain aligned loads.
struct QuickTimeBinding {
    std::atomic<HMODULE> module;                      // null when the binding holds no reference
    std::atomic<EntryPoint> dispatcher;               // theQuickTimeDispatcher
    std::atomic<EntryPoint> componentCall;            // _CallComponent: looked up, never called
    std::atomic<EntryPoint> componentCallWithStorage; // _CallComponentFunctionWithStorage
    std::atomic<FirstCallHook> firstCallHook;
    // The services library's counted initialisation and cached version answer.
    std::atomic<int> initCount;
    std::atomic<bool> versionChecked;
    std::atomic<bool> atLeast702;
};

// A record as at load: no module, every entry the not-initialised one, the hook set.
constexpr QuickTimeBinding unboundBinding(EntryPoint notInitialised, FirstCallHook hook) {
    return {nullptr, notInitialised, notInitialised, notInitialised, hook, 0, false, false};
}

static_assert(offsetof(QuickTimeBinding, dispatcher) == QUICKTIME_BINDING_DISPATCHER_OFFSET);
static_assert(offsetof(QuickTimeBinding, componentCallWithStorage) == QUICKTIME_BINDING_WITH_STORAGE_OFFSET);
static_assert(offsetof(QuickTimeBinding, firstCallHook) == QUICKTIME_BINDING_HOOK_OFFSET);
static_assert(sizeof(std::atomic<EntryPoint>) == sizeof(void*) && std::atomic<EntryPoint>::is_always_lock_free);

// Hooks run on the caller's stack, which on i686 may be only 4-byte aligned.
#if defined(__i386__)
#define QUICKTIME_HOOK __attribute__((force_align_arg_pointer))
#else
#define QUICKTIME_HOOK
#endif

#define QUICKTIME_STRINGIFY_(x) #x
#define QUICKTIME_STRINGIFY(x) QUICKTIME_STRINGIFY_(x)
// The assembly symbol of a forwarding entry (C symbols carry a leading underscore on i686).
#define QUICKTIME_ENTRY_SYMBOL(prefix, name) QUICKTIME_STRINGIFY(__USER_LABEL_PREFIX__) #prefix #name

}  // namespace quicktime

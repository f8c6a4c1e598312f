// The forwarding entries for 32-bit x86, one per routine of the variant's list
// (QUICKTIME_ROUTINES, symbols QUICKTIME_PREFIX + name, record QUICKTIME_RECORD).
//
// An entry runs the first-call hook while one is set, then puts its routine code in EAX and
// jumps through the dispatcher slot, read after the hook: the caller's arguments and return
// address are untouched, so QuickTime's result goes straight back to the caller. Bound, that is
// one compare, one load and an indirect jump.
#include <quicktime/routines.h>

#define PASTE_(a, b) a##b
#define PASTE(a, b) PASTE_(a, b)
#define CSYMBOL(name) PASTE(__USER_LABEL_PREFIX__, name)
#define ENTRY(name) CSYMBOL(PASTE(QUICKTIME_PREFIX, name))
#define RECORD CSYMBOL(QUICKTIME_RECORD)

        .intel_syntax noprefix
        .text

.macro forwarding_entry symbol, code
        .globl \symbol
        .def \symbol; .scl 2; .type 32; .endef
        .p2align 4
\symbol:
        .cfi_startproc
        cmp dword ptr [RECORD + QUICKTIME_BINDING_HOOK_OFFSET], 0
        jne 1f
2:      mov eax, \code
        jmp dword ptr [RECORD + QUICKTIME_BINDING_DISPATCHER_OFFSET]
1:      call run_first_call_hook
        jmp 2b
        .cfi_endproc
.endm

// The hook is cdecl and takes nothing: it may change EAX, ECX and EDX, none of which carries
// an argument of a cdecl call. It is read again here, as another thread may have cleared it.
// Neither this nor the entries move the stack pointer, so their unwind information (for the
// DWARF unwinder of this target) is the default: the return address on top of the stack.
        .p2align 4
run_first_call_hook:
        .cfi_startproc
        mov eax, dword ptr [RECORD + QUICKTIME_BINDING_HOOK_OFFSET]
        test eax, eax
        jz 1f
        call eax
1:      ret
        .cfi_endproc

#define EMIT_ENTRY(name, code, result, parameters) forwarding_entry ENTRY(name), code;
QUICKTIME_ROUTINES(EMIT_ENTRY)

#ifdef QUICKTIME_WITH_STORAGE_ENTRY
// The component-call-with-storage entry: the same, without a routine code.
        .globl ENTRY(CallComponentFunctionWithStorage)
        .def ENTRY(CallComponentFunctionWithStorage); .scl 2; .type 32; .endef
        .p2align 4
ENTRY(CallComponentFunctionWithStorage):
        .cfi_startproc
        cmp dword ptr [RECORD + QUICKTIME_BINDING_HOOK_OFFSET], 0
        jne 1f
2:      jmp dword ptr [RECORD + QUICKTIME_BINDING_WITH_STORAGE_OFFSET]
1:      call run_first_call_hook
        jmp 2b
        .cfi_endproc
#endif

// The not-initialised entry: -2095 through the whole of EAX.
        .globl ENTRY(notInitialised)
        .def ENTRY(notInitialised); .scl 2; .type 32; .endef
        .p2align 4
ENTRY(notInitialised):
        mov eax, QUICKTIME_NOT_INITIALISED_ERROR
        ret

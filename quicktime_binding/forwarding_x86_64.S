// The x86_64 twin of the forwarding entries (see forwarding_i686.S), for the Windows x64
// convention: the routine code goes in EAX and the entry jumps through the dispatcher slot,
// read after the hook, with the caller's registers, stack and return address untouched.
//
// The entries themselves never touch the stack, so they need no unwind data: while the hook
// runs, the unwinder leaves run_first_call_hook by its own data and finds the caller's return
// address on top of the stack, as for any leaf function.
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
        cmp qword ptr [rip + RECORD + QUICKTIME_BINDING_HOOK_OFFSET], 0
        jne 1f
2:      mov eax, \code
        jmp qword ptr [rip + RECORD + QUICKTIME_BINDING_DISPATCHER_OFFSET]
1:      call run_first_call_hook
        jmp 2b
.endm

// Keeps the four argument registers (RCX, RDX, R8, R9; XMM0-XMM3 for floating arguments) across
// the hook, which is free to change them. Entered with RSP 16-byte aligned (the caller's call
// and the entry's call), it makes a frame of 32 bytes of shadow space for the hook plus the
// saves, keeping the alignment; the caller's own shadow space is left alone.
        .def run_first_call_hook; .scl 3; .type 32; .endef
        .p2align 4
        .seh_proc run_first_call_hook
run_first_call_hook:
        sub rsp, 0x80
        .seh_stackalloc 0x80
        .seh_endprologue
        mov qword ptr [rsp + 0x20], rcx
        mov qword ptr [rsp + 0x28], rdx
        mov qword ptr [rsp + 0x30], r8
        mov qword ptr [rsp + 0x38], r9
        movaps xmmword ptr [rsp + 0x40], xmm0
        movaps xmmword ptr [rsp + 0x50], xmm1
        movaps xmmword ptr [rsp + 0x60], xmm2
        movaps xmmword ptr [rsp + 0x70], xmm3
        mov rax, qword ptr [rip + RECORD + QUICKTIME_BINDING_HOOK_OFFSET]
        test rax, rax
        jz 1f
        call rax
1:      mov rcx, qword ptr [rsp + 0x20]
        mov rdx, qword ptr [rsp + 0x28]
        mov r8, qword ptr [rsp + 0x30]
        mov r9, qword ptr [rsp + 0x38]
        movaps xmm0, xmmword ptr [rsp + 0x40]
        movaps xmm1, xmmword ptr [rsp + 0x50]
        movaps xmm2, xmmword ptr [rsp + 0x60]
        movaps xmm3, xmmword ptr [rsp + 0x70]
        add rsp, 0x80
        ret
        .seh_endproc

#define EMIT_ENTRY(name, code, result, parameters) forwarding_entry ENTRY(name), code;
QUICKTIME_ROUTINES(EMIT_ENTRY)

#ifdef QUICKTIME_WITH_STORAGE_ENTRY
// The component-call-with-storage entry: the same, without a routine code.
        .globl ENTRY(CallComponentFunctionWithStorage)
        .def ENTRY(CallComponentFunctionWithStorage); .scl 2; .type 32; .endef
        .p2align 4
ENTRY(CallComponentFunctionWithStorage):
        cmp qword ptr [rip + RECORD + QUICKTIME_BINDING_HOOK_OFFSET], 0
        jne 1f
2:      jmp qword ptr [rip + RECORD + QUICKTIME_BINDING_WITH_STORAGE_OFFSET]
1:      call run_first_call_hook
        jmp 2b
#endif

// The not-initialised entry: -2095 through the whole of RAX.
        .globl ENTRY(notInitialised)
        .def ENTRY(notInitialised); .scl 2; .type 32; .endef
        .p2align 4
ENTRY(notInitialised):
        mov rax, QUICKTIME_NOT_INITIALISED_ERROR
        ret

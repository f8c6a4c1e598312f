// The stand-in's theQuickTimeDispatcher for 32-bit x86: asks which handler serves the routine
// code in EAX (recording the call) and jumps to it, so the handler meets the caller's own
// arguments and returns straight to the caller.
        .intel_syntax noprefix
        .text
        .globl _standinDispatcher
        .def _standinDispatcher; .scl 2; .type 32; .endef
        .p2align 4
_standinDispatcher:
        push eax
        call _standinHandlerFor
        add esp, 4
        jmp eax

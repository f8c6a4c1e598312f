// The stand-in's theQuickTimeDispatcher for x86_64: asks which handler serves the routine code
// in EAX (recording the call), keeping the four argument registers and XMM0-XMM3 around that
// question, and jumps to it with the caller's arguments, stack and return address.
        .intel_syntax noprefix
        .text
        .globl standinDispatcher
        .def standinDispatcher; .scl 2; .type 32; .endef
        .p2align 4
        .seh_proc standinDispatcher
standinDispatcher:
        sub rsp, 0x88
        .seh_stackalloc 0x88
        .seh_endprologue
        mov qword ptr [rsp + 0x20], rcx
        mov qword ptr [rsp + 0x28], rdx
        mov qword ptr [rsp + 0x30], r8
        mov qword ptr [rsp + 0x38], r9
        movaps xmmword ptr [rsp + 0x40], xmm0
        movaps xmmword ptr [rsp + 0x50], xmm1
        movaps xmmword ptr [rsp + 0x60], xmm2
        movaps xmmword ptr [rsp + 0x70], xmm3
        mov ecx, eax
        call standinHandlerFor
        mov rcx, qword ptr [rsp + 0x20]
        mov rdx, qword ptr [rsp + 0x28]
        mov r8, qword ptr [rsp + 0x30]
        mov r9, qword ptr [rsp + 0x38]
        movaps xmm0, xmmword ptr [rsp + 0x40]
        movaps xmm1, xmmword ptr [rsp + 0x50]
        movaps xmm2, xmmword ptr [rsp + 0x60]
        movaps xmm3, xmmword ptr [rsp + 0x70]
        add rsp, 0x88
        jmp rax
        .seh_endproc

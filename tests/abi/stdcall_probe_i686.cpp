// tavroCallPushed(function, words, bytes, result): copies `bytes` of argument words onto the
// stack, calls `function`, stores its eax in *result and answers the bytes the callee left on
// the stack. __cdecl itself; the stack it was entered with is restored whatever the callee did.
asm(R"(
    .text
    .globl _tavroCallPushed
    .def _tavroCallPushed; .scl 2; .type 32; .endef
_tavroCallPushed:
    pushl %ebp
    movl  %esp, %ebp
    pushl %esi
    pushl %edi
    pushl %ebx
    movl  %esp, %ebx
    movl  16(%ebp), %ecx
    subl  %ecx, %esp
    movl  %esp, %edi
    movl  12(%ebp), %esi
    cld
    rep movsb
    call  *8(%ebp)
    movl  20(%ebp), %ecx
    movl  %eax, (%ecx)
    movl  %ebx, %eax
    subl  %esp, %eax
    movl  %ebx, %esp
    popl  %ebx
    popl  %edi
    popl  %esi
    popl  %ebp
    ret
)");

# uint32_t harness_call(const void* fn, const uint32_t* args, uint32_t count, int32_t* removed)
# cdecl. Pushes args[count-1] .. args[0], calls fn, stores how many bytes the
# callee popped, and restores the stack whatever the callee did.
        .text
        .globl  _harness_call
_harness_call:
        pushl   %ebp
        movl    %esp, %ebp
        pushl   %ebx
        pushl   %esi
        pushl   %edi
        movl    8(%ebp), %eax
        movl    12(%ebp), %esi
        movl    16(%ebp), %ecx
        movl    %esp, %edi
1:      testl   %ecx, %ecx
        jz      2f
        pushl   -4(%esi,%ecx,4)
        decl    %ecx
        jmp     1b
2:      movl    %esp, %ebx
        call    *%eax
        movl    %esp, %ecx
        subl    %ebx, %ecx
        movl    20(%ebp), %edx
        movl    %ecx, (%edx)
        movl    %edi, %esp
        popl    %edi
        popl    %esi
        popl    %ebx
        popl    %ebp
        ret

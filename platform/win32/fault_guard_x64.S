# The guarded call of the 64-bit flavour. x64 Windows finds exception
# handlers through each function's unwind table, not a chain on the stack, so
# this frame declares its handler in its own unwind data: a fault that no
# inner frame handles reaches vostGuardHandler (fault_guard_x64.cpp), which
# unwinds the inner frames and resumes at vostGuardResume with rax = 0.
#
#   bool vostRunGuardedX64(void (*fn)(void*), void* argument)

    .text
    .p2align 4
    .globl vostRunGuardedX64
    .def vostRunGuardedX64; .scl 2; .type 32; .endef
    .seh_proc vostRunGuardedX64
vostRunGuardedX64:
    subq $40, %rsp              # shadow space for the call, 16-byte aligned
    .seh_stackalloc 40
    .seh_endprologue
    .seh_handler vostGuardHandler, @except
    movq %rcx, %rax
    movq %rdx, %rcx
    callq *%rax
    movl $1, %eax               # returned normally
    .globl vostGuardResume
vostGuardResume:                # after a fault: rax = 0, rsp = this frame's
    addq $40, %rsp
    ret
    .seh_endproc

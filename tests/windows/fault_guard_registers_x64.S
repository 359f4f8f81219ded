# Helpers for the 64-bit fault guard's test: a caught fault must hand the
# caller back its non-volatile registers (rbx, rbp, rsi, rdi, r12-r15,
# xmm6-xmm15), as every call must on x64.
#
#   bool vostGuardedCallKeeping(const RegisterValues* in, RegisterValues* out,
#                               void (*fn)(void*), void* argument)
#     loads each of those registers from `in`, calls runGuarded(fn, argument)
#     through vostTestRunGuarded, and stores them as they came back in `out`.
#   void vostClobberAndFault(void*)
#     overwrites each of them, then reads address zero.
#
# RegisterValues: rbx, rbp, rsi, rdi, r12-r15 (8 bytes each), then
# xmm6-xmm15 (16 bytes each). Both functions save the registers in their
# prologues with unwind data that says so, as a compiler's code does: the
# unwind run by the guard's handler restores them from there.

# Pushes the general registers, then stores xmm6-xmm15 at 48(%rsp) and on,
# above 32 bytes of shadow space and an 8-byte slot at 32(%rsp).
.macro SAVE_NON_VOLATILE
    .irp reg, rbp, rbx, rsi, rdi, r12, r13, r14, r15
    pushq %\reg
    .seh_pushreg %\reg
    .endr
    subq $216, %rsp                 # keeps %rsp 16-byte aligned for calls
    .seh_stackalloc 216
    .irp n, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15
    movups %xmm\n, 48+16*(\n-6)(%rsp)
    .seh_savexmm %xmm\n, 48+16*(\n-6)
    .endr
    .seh_endprologue
.endm

# Loads rbx, rbp, rsi, rdi, r12-r15 from (%rcx) on, or stores them there.
.macro GENERAL_REGISTERS op, way
    .set at, 0
    .irp reg, rbx, rbp, rsi, rdi, r12, r13, r14, r15
    .ifc \way, load
    \op at(%rcx), %\reg
    .else
    \op %\reg, at(%rcx)
    .endif
    .set at, at + 8
    .endr
.endm

.macro RESTORE_NON_VOLATILE
    .irp n, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15
    movups 48+16*(\n-6)(%rsp), %xmm\n
    .endr
    addq $216, %rsp
    .irp reg, r15, r14, r13, r12, rdi, rsi, rbx, rbp
    popq %\reg
    .endr
    ret
.endm

    .text
    .p2align 4
    .globl vostGuardedCallKeeping
    .def vostGuardedCallKeeping; .scl 2; .type 32; .endef
    .seh_proc vostGuardedCallKeeping
vostGuardedCallKeeping:
    SAVE_NON_VOLATILE
    movq %rdx, 32(%rsp)             # `out`, kept in this frame across the call
    movq %r8, %rax
    movq %r9, %rdx
    GENERAL_REGISTERS movq, load
    .irp n, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15
    movups 64+16*(\n-6)(%rcx), %xmm\n
    .endr
    movq %rax, %rcx
    callq vostTestRunGuarded        # eax: its answer, returned as is
    movq 32(%rsp), %rcx
    GENERAL_REGISTERS movq, store
    .irp n, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15
    movups %xmm\n, 64+16*(\n-6)(%rcx)
    .endr
    RESTORE_NON_VOLATILE
    .seh_endproc

    .p2align 4
    .globl vostClobberAndFault
    .def vostClobberAndFault; .scl 2; .type 32; .endef
    .seh_proc vostClobberAndFault
vostClobberAndFault:
    SAVE_NON_VOLATILE
    .irp reg, rbx, rbp, rsi, rdi, r12, r13, r14, r15
    movq $-1, %\reg
    .endr
    .irp n, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15
    pcmpeqd %xmm\n, %xmm\n          # all ones
    .endr
    xorl %eax, %eax
    movl (%rax), %eax               # faults: the guard resumes in its own frame
    RESTORE_NON_VOLATILE
    .seh_endproc

#include "platform/win32/fault_guard.h"

#include <windows.h>

namespace vost {

namespace {

// The head of the calling thread's exception chain, at fs:[0].
EXCEPTION_REGISTRATION_RECORD* chainHead() {
    EXCEPTION_REGISTRATION_RECORD* head;
    __asm__ __volatile__("movl %%fs:0, %0" : "=r"(head) : : "memory");
    return head;
}

void setChainHead(EXCEPTION_REGISTRATION_RECORD* head) {
    __asm__ __volatile__("movl %0, %%fs:0" : : "r"(head) : "memory");
}

// The exception registration record on the stack, with the resume point
// after it. The handler finds the record as its establisher frame.
struct GuardFrame {
    EXCEPTION_REGISTRATION_RECORD record;
    void* resume[5];  // __builtin_setjmp buffer
};

extern "C" EXCEPTION_DISPOSITION __cdecl guardHandler(EXCEPTION_RECORD* exception, void* establisher,
                                                      CONTEXT*, void*) {
    // Unwind passes (our own RtlUnwind, or an outer one) go on searching.
    if (exception->ExceptionFlags & (EXCEPTION_UNWINDING | EXCEPTION_EXIT_UNWIND))
        return ExceptionContinueSearch;
    GuardFrame* frame = static_cast<GuardFrame*>(establisher);
    // Pops every frame inside ours, letting each clean up, and leaves ours as
    // the head of the chain; then resume after the guarded call.
    RtlUnwind(&frame->record, nullptr, exception, nullptr);
    __builtin_longjmp(frame->resume, 1);
}

}  // namespace

__attribute__((noinline)) bool runGuarded(void (*fn)(void* argument), void* argument) {
    GuardFrame frame;
    frame.record.Handler = reinterpret_cast<PEXCEPTION_ROUTINE>(&guardHandler);
    frame.record.Next = chainHead();
    volatile bool completed = false;
    if (__builtin_setjmp(frame.resume) == 0) {
        setChainHead(&frame.record);
        fn(argument);
        completed = true;
    }
    // Both ways our record is the head of the chain here.
    setChainHead(frame.record.Next);
    return completed;
}

}  // namespace vost

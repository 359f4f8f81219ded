// The handler of the 64-bit guarded call (fault_guard_x64.S). It is found
// through the guard frame's unwind data only for exceptions that no frame
// inside the guarded call has handled, and only on the faulting thread.
#include "platform/win32/fault_guard.h"

#include <windows.h>

extern "C" {
bool vostRunGuardedX64(void (*fn)(void*), void* argument);
void vostGuardResume();

EXCEPTION_DISPOSITION vostGuardHandler(EXCEPTION_RECORD* exception, void* establisherFrame,
                                       CONTEXT*, DISPATCHER_CONTEXT* dispatch) {
    // Unwind passes (ours, or an outer handler's) go on.
    if (exception->ExceptionFlags & (EXCEPTION_UNWINDING | EXCEPTION_EXIT_UNWIND))
        return ExceptionContinueSearch;
    // Unwinds every frame inside the guard, letting each clean up, and
    // resumes in the guard frame at the resume point with rax = 0 (false).
    RtlUnwindEx(establisherFrame, reinterpret_cast<void*>(&vostGuardResume), exception, nullptr,
                dispatch->ContextRecord, dispatch->HistoryTable);
    return ExceptionContinueSearch;  // not reached
}
}

namespace vost {

bool runGuarded(void (*fn)(void* argument), void* argument) {
    return vostRunGuardedX64(fn, argument);
}

}  // namespace vost

// Runs a piece of code with the platform's faults caught, on the calling
// thread only.
//
// The cross compiler has no structured exception handling (__try/__except),
// so the guard is built by hand for each processor. On x86 it installs a
// frame-based handler on the thread's own exception chain for the length of
// one call; on x64, where handlers are found through unwind tables, the
// guarding frame is a small assembly function whose unwind data names the
// handler. Either way a fault that no inner frame handles lands there: the
// handler unwinds the inner frames and resumes after the guarded call, which
// then reports the fault. Other threads and the process's other handlers are
// not affected, unlike a vectored handler, which would see every thread's
// faults and could not resume the right one.
//
// The guarded function must not throw C++ exceptions and must not own
// objects with destructors: a fault abandons its frame without running them.
#pragma once

namespace vost {

// Calls fn(argument). True when it returned normally, false when a fault or
// other exception was raised inside it and caught here.
bool runGuarded(void (*fn)(void* argument), void* argument);

}  // namespace vost

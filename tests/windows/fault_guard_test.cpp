// The frame-based fault guard: a fault inside the guarded call is caught on
// the faulting thread, the thread's exception chain is whole afterwards, and
// normal calls are unaffected.
#include "platform/win32/fault_guard.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <thread>

namespace vost {
namespace {

void readNull(void*) {
    volatile int* nowhere = nullptr;
    (void)*nowhere;
}

void raise(void* code) { RaiseException(*static_cast<DWORD*>(code), 0, 0, nullptr); }

void setFlag(void* flag) { *static_cast<bool*>(flag) = true; }

// A fault inside a callback from the system, with the system's own frames
// between the guard and the fault.
BOOL CALLBACK faultingEnum(LPSTR) {
    readNull(nullptr);
    return TRUE;
}
void faultInsideSystemCall(void*) { EnumSystemCodePagesA(&faultingEnum, CP_INSTALLED); }

void nestedGuard(void* inner) {
    *static_cast<bool*>(inner) = runGuarded(&readNull, nullptr);
    readNull(nullptr);  // the outer guard catches this one
}

// The head of the thread's exception chain on x86, where the guard links
// itself into it; x64 has no such chain (handlers come from unwind tables).
void* chainHead() {
#if defined(__i386__)
    void* head;
    __asm__ __volatile__("movl %%fs:0, %0" : "=r"(head));
    return head;
#else
    return nullptr;
#endif
}

int codePages = 0;
BOOL CALLBACK countCodePage(LPSTR) {
    ++codePages;
    return TRUE;
}

TEST(FaultGuard, ReturnsTrueAndRunsTheCallWhenNothingFaults) {
    bool ran = false;
    void* before = chainHead();
    EXPECT_TRUE(runGuarded(&setFlag, &ran));
    EXPECT_TRUE(ran);
    EXPECT_EQ(before, chainHead());
}

TEST(FaultGuard, CatchesFaultsAndRaisedExceptionsAndLeavesTheChainWhole) {
    void* before = chainHead();
    EXPECT_FALSE(runGuarded(&readNull, nullptr));
    EXPECT_EQ(before, chainHead());
    DWORD code = 0xE0564F53;
    EXPECT_FALSE(runGuarded(&raise, &code));
    EXPECT_FALSE(runGuarded(&faultInsideSystemCall, nullptr));
    EXPECT_EQ(before, chainHead());
    // Still usable, and the system calls that were interrupted still work.
    EXPECT_FALSE(runGuarded(&readNull, nullptr));
    EXPECT_TRUE(EnumSystemCodePagesA(&countCodePage, CP_INSTALLED));
    EXPECT_GT(codePages, 0);
    bool ran = false;
    EXPECT_TRUE(runGuarded(&setFlag, &ran));
}

#if defined(__x86_64__)
// rbx, rbp, rsi, rdi, r12-r15, then xmm6-xmm15 (fault_guard_registers_x64.S).
struct RegisterValues {
    std::uint64_t general[8];
    std::uint64_t xmm[10][2];
};
extern "C" {
bool vostGuardedCallKeeping(const RegisterValues* in, RegisterValues* out, void (*fn)(void*), void* argument);
void vostClobberAndFault(void*);
bool vostTestRunGuarded(void (*fn)(void*), void* argument) { return runGuarded(fn, argument); }
}

// The caller's non-volatile registers come back from a guarded call whose
// callee overwrote all of them before it faulted, and from one that ran
// through.
TEST(FaultGuard, ACaughtFaultGivesTheCallerBackItsNonVolatileRegisters) {
    RegisterValues in{};
    for (int i = 0; i < 8; ++i) in.general[i] = 0x0123456789ABCDEFull ^ (std::uint64_t(i + 1) << 56);
    for (int i = 0; i < 10; ++i) {
        in.xmm[i][0] = 0x1111111111111111ull * std::uint64_t(i + 1);
        in.xmm[i][1] = ~in.xmm[i][0];
    }
    bool ran = false;
    const struct {
        void (*fn)(void*);
        void* argument;
        bool returns;
    } cases[] = {{&vostClobberAndFault, nullptr, false}, {&readNull, nullptr, false}, {&setFlag, &ran, true}};
    for (const auto& c : cases) {
        RegisterValues out{};
        EXPECT_EQ(c.returns, vostGuardedCallKeeping(&in, &out, c.fn, c.argument));
        for (int i = 0; i < 8; ++i) EXPECT_EQ(in.general[i], out.general[i]) << "general register " << i;
        for (int i = 0; i < 10; ++i) {
            EXPECT_EQ(in.xmm[i][0], out.xmm[i][0]) << "xmm" << i + 6;
            EXPECT_EQ(in.xmm[i][1], out.xmm[i][1]) << "xmm" << i + 6;
        }
    }
}
#endif

TEST(FaultGuard, NestsAndWorksOnOtherThreads) {
    bool innerCompleted = true;
    EXPECT_FALSE(runGuarded(&nestedGuard, &innerCompleted));
    EXPECT_FALSE(innerCompleted);

    int caught = 0;
    std::thread worker([&] {
        for (int i = 0; i < 3; ++i) caught += runGuarded(&readNull, nullptr) ? 0 : 1;
    });
    worker.join();
    EXPECT_EQ(3, caught);
}

}  // namespace
}  // namespace vost

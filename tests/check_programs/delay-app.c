/* Built by clang and lld-link without a C runtime: lld-link writes the
   delay-load directory itself. The helper is never called. */
int d1(void);
int d2(void);
void* __stdcall __delayLoadHelper2(const void* descriptor, void** slot) {
    (void)descriptor;
    return *slot;
}
int start(void) { return d1() + d2(); }

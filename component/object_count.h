// The process-wide count of live class factories, extension objects and
// Dependencies pages; the library may be unloaded when it is 0.
#pragma once

#include <windows.h>

namespace vost {

// Also the pages' reference-count cell (PROPSHEETPAGEW::pcRefParent).
// Changed with interlocked operations: an extension object may be destroyed
// by its scan worker's final release, on the worker's thread.
extern LONG objectCount;

inline void raiseObjectCount() { InterlockedIncrement(&objectCount); }
inline void lowerObjectCount() { InterlockedDecrement(&objectCount); }

}  // namespace vost

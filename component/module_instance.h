// The component's own module handle, from which every resource is loaded.
//
// The module entry stores it once, at process attach, before anything else of
// the component runs; the headless build leaves it null.
#pragma once

namespace vost {

// An opaque module handle (HINSTANCE on Windows).
using ModuleHandle = void*;

inline ModuleHandle moduleInstance = nullptr;

}  // namespace vost

// The strip of the page's marks (none, will not load, something below will
// not load, delay-loaded, fails on first use, something below fails on first
// use, the managed forms of the first three: page/check_marks.h; and after a
// run, loaded at run time and not loaded in the run: page/run_merge.h) as an
// image list, for the page's tree and list and for the Functions dialog's
// imports.
#pragma once

#include <windows.h>
#include <commctrl.h>

namespace vost {

constexpr int kStateImageCount = 11;

// At the system's small-icon size, as the module icons beside the marks:
// larger than 16 pixels at a higher DPI, where the 16-pixel strip is
// stretched (each pixel copied, never blended, so the mask colour stays
// exact). Null when the list cannot be made; the caller destroys it.
HIMAGELIST createStateImages();

}  // namespace vost

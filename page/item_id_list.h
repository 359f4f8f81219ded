// Stepping through and copying shell item-ID lists (Windows only). Each item
// begins with its 16-bit byte count, count included; a count of 0 ends the list.
#pragma once

#include <shlobj.h>

namespace vost {

// The item after `item`, or null when `item` is the terminator.
LPCITEMIDLIST nextItem(LPCITEMIDLIST item);

// The number of items before the terminator.
int countItems(LPCITEMIDLIST list);

// A new one-item list holding a copy of `item`, from `allocator`; null for the
// terminator or when the allocation fails. Free it with the same allocator.
LPITEMIDLIST copyItem(IMalloc* allocator, LPCITEMIDLIST item);

}  // namespace vost

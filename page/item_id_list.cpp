#include "page/item_id_list.h"

#include <cstring>

namespace vost {

namespace {
// Items are byte-packed: their counts may stand at odd addresses.
USHORT itemSize(LPCITEMIDLIST item) {
    USHORT size;
    std::memcpy(&size, item, sizeof size);
    return size;
}
}  // namespace

LPCITEMIDLIST nextItem(LPCITEMIDLIST item) {
    const USHORT size = itemSize(item);
    if (size == 0) return nullptr;
    return reinterpret_cast<LPCITEMIDLIST>(reinterpret_cast<const BYTE*>(item) + size);
}

int countItems(LPCITEMIDLIST list) {
    int count = 0;
    for (LPCITEMIDLIST item = list; item && itemSize(item) != 0; item = nextItem(item)) ++count;
    return count;
}

LPITEMIDLIST copyItem(IMalloc* allocator, LPCITEMIDLIST item) {
    const USHORT size = itemSize(item);
    if (size == 0) return nullptr;
    BYTE* copy = static_cast<BYTE*>(allocator->Alloc(size + sizeof(USHORT)));
    if (!copy) return nullptr;
    std::memcpy(copy, item, size);
    const USHORT terminator = 0;
    std::memcpy(copy + size, &terminator, sizeof terminator);
    return reinterpret_cast<LPITEMIDLIST>(copy);
}

}  // namespace vost

// The identifier of the component's one COM class. The installer registers
// the same value (installer/vost.reg, installer/vost.nsi).
#pragma once

#include <windows.h>

namespace vost {

// {9D8E02B9-0DEB-407B-B384-99B202999193}
inline const GUID kExtensionClassId = {
    0x9d8e02b9, 0x0deb, 0x407b, {0xb3, 0x84, 0x99, 0xb2, 0x02, 0x99, 0x91, 0x93}};

}  // namespace vost

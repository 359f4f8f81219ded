// "Copy all to Folder" for the headless scanner: every listed module file
// copied into one folder, in list order, never overwriting a file.
#pragma once

#include <ostream>
#include <string>

#include "page/controls.h"
#include "page/page_platform.h"

namespace vost {

// The name tried for the n-th copy of `name` (n from 1): the name itself,
// then "Copy of NAME", "Copy (2) of NAME", "Copy (3) of NAME", ... as the
// Windows shell names copies that would collide.
std::string copyCandidateName(const std::string& name, int attempt);

// Copies the file of every row's Path cell into `folder`. A row whose path is
// the not-found text or cannot be read is reported on `err` and not copied;
// an empty path, and a path listed before, are passed over. Files are read through the platform (as the
// scan found them) and written only under a name that is not taken yet.
// False when any copy failed for a reason other than a module not found.
bool copyListedModules(ListControl& list, PagePlatform& platform, const std::string& folder,
                       std::ostream& err);

}  // namespace vost

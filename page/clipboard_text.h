// The module list as tab-separated text, as the page puts it on the clipboard.
#pragma once

#include <string>
#include <unordered_set>

#include "page/controls.h"

namespace vost {

// A header line of the five titles, each followed by a tab, then CR LF CR LF;
// then one line per row in the list's current order: its five cells, each
// followed by a tab, then CR LF. Titles are cut to 259 characters, as read
// through a 260-character buffer; cells come so from the list. The result
// holds no terminating zero of its own (c_str() gives one). The Module cell
// of a row whose module `delayLoaded` names (lower-cased, as
// delayLoadedModules gives them) is followed by kDelayLoadMarker.
std::string clipboardText(ListControl& list, const char* const (&titles)[5],
                          const std::unordered_set<std::string>& delayLoaded = {});

}  // namespace vost

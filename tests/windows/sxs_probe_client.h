// Runs sxs_probe.exe (see there) and reads its answers.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace vost::test {

// sxs_probe.exe of folder `probe`, started in `folder` with `arguments`, then
// a file listing `lines` and the answers file; each answer line as its two
// tab-separated fields.
std::vector<std::pair<std::string, std::string>> runSxsProbe(const std::string& probe, const std::string& folder,
                                                             const std::string& arguments,
                                                             const std::vector<std::string>& lines);

}  // namespace vost::test

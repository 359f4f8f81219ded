// File times between the POSIX clock and the FILETIME count the analysis
// keeps (100-nanosecond intervals since 1 January 1601, UTC).
#pragma once

#include <cstdint>
#include <ctime>
#include <string>

#include "analysis/module_node.h"

namespace vost {

// Seconds from 1601-01-01 to 1970-01-01.
constexpr std::int64_t kEpochDifferenceSeconds = 11644473600LL;

// The FILETIME of a POSIX time, nanoseconds truncated to 100 ns. False when
// the time lies before 1601 or beyond what the count holds.
bool fileTimeFromTimespec(const timespec& time, FileTime& out);

// The UTC calendar date of `time` as M/d/yyyy (the en-US short date);
// empty when the value is out of the platform's range (above 0x7FFFFFFFFFFFFFFF).
std::string formatUtcShortDate(FileTime time);

}  // namespace vost

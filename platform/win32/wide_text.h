// The one place where texts change form: UTF-8 inside the analysis, the page
// and the scanner, UTF-16 at every Windows call.
//
// A path that is not valid in the other form names no file we could reach, so
// the checked conversions refuse it (false) rather than pass on a look-alike;
// their callers say so to the user. The plain ones are for texts that we own
// or only show (labels, messages, resource strings): an invalid sequence there
// becomes U+FFFD, which is visibly wrong, never another file's name.
#pragma once

#include <string>
#include <string_view>

namespace vost {

// UTF-8 to UTF-16; false (and `out` empty) when `utf8` is not valid UTF-8.
bool toWide(std::string_view utf8, std::wstring& out);
// UTF-16 to UTF-8; false (and `out` empty) on an unpaired surrogate.
bool toUtf8(std::wstring_view wide, std::string& out);

// The same for shown texts: invalid sequences become U+FFFD.
std::wstring wideText(std::string_view utf8);
std::string utf8Text(std::wstring_view wide);

// A UTF-8 path as the file functions take it: UTF-16, and for an absolute
// path of MAX_PATH characters or more the "\\?\" form (separators made
// '\\'), which those functions need past MAX_PATH. False when the path is
// not valid UTF-8.
bool toSystemPath(std::string_view utf8, std::wstring& out);
// The same, for the few calls that ask for a null-terminated path; empty
// (which names no file) when the path is not valid UTF-8.
std::wstring systemPath(std::string_view utf8);

}  // namespace vost

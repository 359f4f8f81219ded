// The scanner's three outputs of one scanned file.
#pragma once

#include <ostream>
#include <string>

#include "scanner/scan_session.h"

namespace vost {
struct RunMerge;
struct RunOutput;
}  // namespace vost

namespace vost {

// The tree, one item per line, two spaces of indent per level; with
// `functions` holding imports, each item followed by the functions its
// parent imports from it, one level deeper.
// With `run`, each item's label is followed by " [run-time]" or " [not
// loaded]" as the run found it.
void writeTreeText(MemoryTree& tree, std::ostream& out, const FunctionTables* functions = nullptr,
                   const RunMerge* run = nullptr);

// The list as the clipboard text, byte for byte (without its zero).
void writeListText(ScannedFile& scanned, std::ostream& out);

// One JSON document on one line, ended by a line feed. Texts are bytes of the
// system code page: valid UTF-8 sequences pass through, every other byte of
// 0x80 or more is written as the character of that code (\u0080 to \u00ff).
// With `foundBy`, each item but the root says how its file was found
// ("foundBy", and "assembly" for a side-by-side module).
// With `run` (vostscan --run), each item says what the run found of it
// ("run") and the document ends with the run ("run").
void writeJson(ScannedFile& scanned, std::ostream& out, bool foundBy = false, const RunOutput* run = nullptr);

std::string jsonString(const std::string& text);

}  // namespace vost

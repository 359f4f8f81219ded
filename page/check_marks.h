// Will it load? The check's answer as the page shows it: state images on the
// tree's items and the list's rows, each with the text of its info tip, and
// the findings as the clipboard gets them. Labels and row texts stay as the
// scan made them.
#pragma once

#include <cstddef>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "page/closure_check.h"

namespace vost {

// State images. A failure at start-up keeps the program from starting: the
// item's reference fails (a red disc), or one below it does (a red ring). A
// failure on first use lies in what the program loads only when it first
// calls it (a delay-loaded module, or a module only such a module brings
// in): the program starts and fails later (an amber disc and ring). A
// delay-loaded module that loads has a mark of its own. A managed item (a
// managed module, or an assembly reference) has the managed mark, alone when
// it loads, or with the start-up disc or ring.
constexpr int kWillNotLoadImage = 1;
constexpr int kBelowWillNotLoadImage = 2;
constexpr int kDelayLoadedImage = 3;
constexpr int kFailsOnFirstUseImage = 4;
constexpr int kBelowFailsOnFirstUseImage = 5;
constexpr int kManagedImage = 6;
constexpr int kManagedWillNotLoadImage = 7;
constexpr int kManagedBelowWillNotLoadImage = 8;

// A tip is cut past this many characters or lines (about a screenful); the
// window then ends it with an ellipsis.
constexpr std::size_t kTipCharacters = 1500;
constexpr std::size_t kTipLines = 24;

struct Tip {
    std::string text;  // lines separated by "\r\n"
    bool cut = false;
};

struct ItemMark {
    TreeItem item;
    int image;  // one of the state images above
    Tip tip;
};

struct RowMark {
    std::string module;  // the row's Module text, upper case
    int image;           // kWillNotLoadImage, kFailsOnFirstUseImage, kDelayLoadedImage, a managed one, or a run's (page/run_merge.h)
    Tip tip;
};

struct CheckMarks {
    std::vector<ItemMark> items;  // in the tree's pre-order
    std::vector<RowMark> rows;    // in the order the tree first shows each module failing
    std::size_t findingCount = 0;
    std::string problems;  // writeCheckText's lines, each ended by "\r\n"

    // The tips by item and by Module text (any letter case); null when unmarked.
    const Tip* itemTip(TreeItem item) const;
    const Tip* rowTip(const std::string& module) const;
    void index();  // builds the lookups once the marks are complete

private:
    std::unordered_map<TreeItem, std::size_t> itemIndex_;
    std::unordered_map<std::string, std::size_t> rowIndex_;
};

// Marks `tree` (as the scan recorded it) from `check` (its check). An item
// fails when its module was not found, when its parent's check has a
// finding about the module as the parent names it (another machine, no PE
// image, functions missing), or when its module's own check says what kept
// its activation context from being built (the root's for the process's
// context, a DLL's for its own). It fails at start-up when the program loads
// the reference as it starts: the reference is no delay-load and its
// importer is a module the program loads at start (reached from the root
// through imports alone, by any of its occurrences); otherwise on first use.
// Every ancestor of a failing item that does not fail itself gets a ring,
// red when a start-up failure lies below. A delay-loaded item that does not
// fail and has no failure below gets the delay-loaded image.
// Managed items get the managed forms of the images, and the managed mark
// alone, with a tip of how the runtime bound them, when nothing fails.
CheckMarks markCheckedTree(const TreeRecord& tree, const ClosureCheck& check);

// The modules (lower-cased names) that only delay-load directories name in
// `nodes`: every node of the name is delay-loaded. Their rows are marked in
// the list and in its copied text.
std::unordered_set<std::string> delayLoadedModules(const NodeStore& nodes);

// The text that follows a delay-loaded module's name in the copied list.
constexpr const char* kDelayLoadMarker = " [delay-load]";

// Cuts `text` to the tip's bounds, at a line or ", " where it can.
Tip cutTip(std::string text);

}  // namespace vost

// Will it load? The check's answer as the page shows it: state images on the
// tree's items and the list's rows, each with the text of its info tip, and
// the findings as the clipboard gets them. Labels and row texts stay as the
// scan made them.
#pragma once

#include <cstddef>
#include <string>
#include <unordered_map>
#include <vector>

#include "page/closure_check.h"

namespace vost {

// State images: the item's reference fails, or one below it does.
constexpr int kWillNotLoadImage = 1;
constexpr int kBelowWillNotLoadImage = 2;

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
    int image;  // kWillNotLoadImage or kBelowWillNotLoadImage
    Tip tip;
};

struct RowMark {
    std::string module;  // the row's Module text, upper case
    Tip tip;
    int image = kWillNotLoadImage;  // a run's marks add others (page/run_merge.h)
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
// context, a DLL's for its own); delay-loaded items are never marked. Every
// ancestor of a failing item that does not fail itself gets the other image.
CheckMarks markCheckedTree(const TreeRecord& tree, const ClosureCheck& check);

// Cuts `text` to the tip's bounds, at a line or ", " where it can.
Tip cutTip(std::string text);

}  // namespace vost

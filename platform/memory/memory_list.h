// An in-memory list with the list-view control's behaviour as the page uses
// it: insertion at a position (at or past the end appends), cell texts read
// whole, the case-ignoring prefix search from the
// first row, and sorting of all rows by a comparison.
#pragma once

#include <cstddef>
#include <map>
#include <string>
#include <vector>

#include "page/controls.h"

namespace vost {

class MemoryList : public ListControl {
public:
    static constexpr int kColumns = 5;

    int insertRow(int position, const char* moduleText, ModuleNode* node) override;
    void setCellText(int row, int column, const char* text) override;
    // Letter case is folded for the ASCII letters only, as module names are.
    // Answered from an index of the module cells, so that a scan that asks
    // once per tree item stays linear in the closure.
    int findPrefix(const char* text) override;
    // A stable merge sort: rows that compare equal keep their order, and a
    // comparison that is not a consistent order still ends in some order of
    // the same rows.
    void sort(RowComparison compare, void* parameter) override;
    int rowCount() override { return static_cast<int>(rows_.size()); }
    std::string cellText(int row, int column) override;
    ModuleNode* rowNode(int row) override;
    int selectedRow() override;
    void fitColumn(int column) override;
    // The first row whose Module text equals `moduleText` (ASCII case folded).
    void setRowStateImage(const char* moduleText, int image) override;
    int rowStateImage(int row) override;

    // For tests and callers that stand in for the user: selects one row
    // (single selection), or none for -1. The selection moves with its row.
    void select(int row);
    int fitCount(int column) const;

private:
    struct Row {
        std::string cells[kColumns];
        ModuleNode* node = nullptr;
        bool selected = false;
        int stateImage = 0;
        std::size_t id = 0;  // stable while the row moves
    };
    bool validCell(int row, int column) const {
        return row >= 0 && row < static_cast<int>(rows_.size()) && column >= 0 && column < kColumns;
    }

    void indexModule(const Row& row);
    void unindexModule(const Row& row);
    void placeRowsFrom(std::size_t index);  // positions_ of rows_[index..] after a move

    std::vector<Row> rows_;
    std::vector<std::size_t> positions_;                  // by row id: its index in rows_
    std::multimap<std::string, std::size_t> byModule_;  // lower-cased module cell -> row id
    int fitCounts_[kColumns] = {};
};

}  // namespace vost

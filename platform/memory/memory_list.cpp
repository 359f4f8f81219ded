#include "platform/memory/memory_list.h"

#include <algorithm>
#include <utility>

#include "analysis/text.h"

namespace vost {

namespace {
}  // namespace

void MemoryList::indexModule(const Row& row) { byModule_.emplace(lowerAscii(row.cells[0]), row.id); }

void MemoryList::unindexModule(const Row& row) {
    auto [first, last] = byModule_.equal_range(lowerAscii(row.cells[0]));
    for (auto it = first; it != last; ++it) {
        if (it->second == row.id) {
            byModule_.erase(it);
            return;
        }
    }
}

void MemoryList::placeRowsFrom(std::size_t index) {
    for (std::size_t i = index; i < rows_.size(); ++i) positions_[rows_[i].id] = i;
}

int MemoryList::insertRow(int position, const char* moduleText, ModuleNode* node) {
    if (position < 0) return -1;
    Row row;
    row.cells[0] = moduleText ? moduleText : "";
    row.node = node;
    row.id = positions_.size();
    const int index = position < rowCount() ? position : rowCount();
    positions_.push_back(std::size_t(index));
    indexModule(row);
    rows_.insert(rows_.begin() + index, std::move(row));
    if (std::size_t(index) + 1 < rows_.size()) placeRowsFrom(std::size_t(index) + 1);
    return index;
}

void MemoryList::setCellText(int row, int column, const char* text) {
    if (!validCell(row, column)) return;
    if (column == 0) unindexModule(rows_[row]);
    rows_[row].cells[column] = text ? text : "";
    if (column == 0) indexModule(rows_[row]);
}

int MemoryList::findPrefix(const char* text) {
    if (!text) return -1;
    // Every module cell that begins with the text sorts at or after it and
    // before the first that does not; the first of those rows in list order
    // is the answer.
    const std::string prefix = lowerAscii(text);
    std::size_t first = rows_.size();
    for (auto it = byModule_.lower_bound(prefix);
         it != byModule_.end() && it->first.compare(0, prefix.size(), prefix) == 0; ++it)
        first = std::min(first, positions_[it->second]);
    return first < rows_.size() ? static_cast<int>(first) : -1;
}

void MemoryList::sort(RowComparison compare, void* parameter) {
    // Bottom-up merge sort; only the comparison's sign is used, and each
    // merge step moves forward whatever it answers.
    std::vector<Row> buffer(rows_.size());
    const std::size_t n = rows_.size();
    for (std::size_t width = 1; width < n; width *= 2) {
        for (std::size_t start = 0; start < n; start += 2 * width) {
            const std::size_t middle = std::min(start + width, n);
            const std::size_t end = std::min(start + 2 * width, n);
            std::size_t left = start, right = middle, out = start;
            while (left < middle && right < end) {
                const bool takeRight = compare(rows_[right].node, rows_[left].node, parameter) < 0;
                buffer[out++] = std::move(takeRight ? rows_[right++] : rows_[left++]);
            }
            while (left < middle) buffer[out++] = std::move(rows_[left++]);
            while (right < end) buffer[out++] = std::move(rows_[right++]);
        }
        rows_.swap(buffer);
    }
    placeRowsFrom(0);
}

int MemoryList::selectedRow() {
    for (std::size_t row = 0; row < rows_.size(); ++row)
        if (rows_[row].selected) return static_cast<int>(row);
    return -1;
}

void MemoryList::select(int row) {
    for (std::size_t i = 0; i < rows_.size(); ++i) rows_[i].selected = static_cast<int>(i) == row;
}

std::string MemoryList::cellText(int row, int column) {
    if (!validCell(row, column)) return std::string();
    return rows_[row].cells[column];
}

ModuleNode* MemoryList::rowNode(int row) {
    return validCell(row, 0) ? rows_[row].node : nullptr;
}

void MemoryList::setRowStateImage(const char* moduleText, int image) {
    if (!moduleText) return;
    std::size_t first = rows_.size();
    const auto [from, to] = byModule_.equal_range(lowerAscii(moduleText));
    for (auto it = from; it != to; ++it) first = std::min(first, positions_[it->second]);
    if (first < rows_.size()) rows_[first].stateImage = image;
}

int MemoryList::rowStateImage(int row) { return validCell(row, 0) ? rows_[row].stateImage : 0; }

void MemoryList::fitColumn(int column) {
    if (column >= 0 && column < kColumns) ++fitCounts_[column];
}

int MemoryList::fitCount(int column) const {
    return column >= 0 && column < kColumns ? fitCounts_[column] : 0;
}

}  // namespace vost

#include "platform/memory/memory_list.h"

#include <algorithm>
#include <utility>

#include "analysis/text.h"

namespace vost {

namespace {
constexpr std::size_t kReadCapacity = 260;  // the callers' text buffers, terminator included

bool beginsWithIgnoringCase(const std::string& text, const char* prefix) {
    std::size_t i = 0;
    for (; prefix[i]; ++i)
        if (i >= text.size() || asciiLower(text[i]) != asciiLower(prefix[i])) return false;
    return true;
}
}  // namespace

int MemoryList::insertRow(int position, const char* moduleText, ModuleNode* node) {
    if (position < 0) return -1;
    Row row;
    row.cells[0] = moduleText ? moduleText : "";
    row.node = node;
    const int index = position < rowCount() ? position : rowCount();
    rows_.insert(rows_.begin() + index, std::move(row));
    return index;
}

void MemoryList::setCellText(int row, int column, const char* text) {
    if (validCell(row, column)) rows_[row].cells[column] = text ? text : "";
}

int MemoryList::findPrefix(const char* text) {
    if (!text) return -1;
    for (std::size_t row = 0; row < rows_.size(); ++row)
        if (beginsWithIgnoringCase(rows_[row].cells[0], text)) return static_cast<int>(row);
    return -1;
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
    const std::string& text = rows_[row].cells[column];
    return text.size() < kReadCapacity ? text : text.substr(0, kReadCapacity - 1);
}

ModuleNode* MemoryList::rowNode(int row) {
    return validCell(row, 0) ? rows_[row].node : nullptr;
}

void MemoryList::fitColumn(int column) {
    if (column >= 0 && column < kColumns) ++fitCounts_[column];
}

int MemoryList::fitCount(int column) const {
    return column >= 0 && column < kColumns ? fitCounts_[column] : 0;
}

}  // namespace vost

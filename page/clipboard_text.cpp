#include "page/clipboard_text.h"

#include "analysis/text.h"
#include "page/check_marks.h"

namespace vost {

namespace {
constexpr std::size_t kCellBufferCapacity = 260;
}

std::string clipboardText(ListControl& list, const char* const (&titles)[5],
                          const std::unordered_set<std::string>& delayLoaded) {
    std::string text;
    for (const char* title : titles) {
        std::size_t length = 0;
        while (length + 1 < kCellBufferCapacity && title[length]) ++length;
        text.append(title, length);
        text += '\t';
    }
    text += "\r\n\r\n";
    const int rows = list.rowCount();
    for (int row = 0; row < rows; ++row) {
        for (int column = 0; column < 5; ++column) {
            const std::string cell = list.cellText(row, column);
            text += cell;
            if (column == 0 && !delayLoaded.empty() && delayLoaded.count(lowerAscii(cell))) text += kDelayLoadMarker;
            text += '\t';
        }
        text += "\r\n";
    }
    return text;
}

}  // namespace vost

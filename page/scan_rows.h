// The Module texts of the rows one scan has added, for the walk's question
// whether a module already has a row (findModuleRow(...) != -1), answered
// without asking the list: the page's list would answer each question with a
// search through its rows, a message away. The scan adds every row of its
// list, so the texts it noted are the list's; they live as long as the scan.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "component/dependency_extension.h"
#include "page/controls.h"

namespace vost {

class ScanRows {
public:
    // Starts with the rows the list holds already (the root's).
    explicit ScanRows(ListControl& list);

    // A row was added with this Module text.
    void noteRow(const char* moduleText);
    // addModuleRow, noted.
    void addRow(DependencyExtension& ext, ModuleNode& node);
    // Whether a row's Module text begins with `name`, letter case ignored. A
    // text outside ASCII (asked, or noted before) is left to the list, whose
    // case-blind comparison may reach beyond ASCII.
    bool hasRow(const char* name);

private:
    // The first noted text, in their order, that does not sort before `key`.
    std::vector<std::uint32_t>::iterator firstNotBefore(const std::string& key);

    ListControl& list_;
    // The ASCII texts, lower-cased, each with its zero, back to back, and
    // where each starts in their order.
    std::string texts_;
    std::vector<std::uint32_t> order_;
    bool onlyAscii_ = true;
};

}  // namespace vost

#include "scanner/output.h"

#include <cstdio>
#include <vector>

#include "analysis/text.h"
#include "page/check_marks.h"
#include "page/clipboard_text.h"
#include "page/module_list.h"
#include "scanner/run_scan.h"

namespace vost {

namespace {
// Length of the valid UTF-8 sequence at `i`, or 0 when there is none.
std::size_t utf8Length(const std::string& s, std::size_t i) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
    const unsigned char lead = byte(i);
    std::size_t length;
    unsigned minimum;
    unsigned value;
    if (lead >= 0xC2 && lead <= 0xDF) { length = 2; value = lead & 0x1F; minimum = 0x80; }
    else if (lead >= 0xE0 && lead <= 0xEF) { length = 3; value = lead & 0x0F; minimum = 0x800; }
    else if (lead >= 0xF0 && lead <= 0xF4) { length = 4; value = lead & 0x07; minimum = 0x10000; }
    else return 0;
    if (i + length > s.size()) return 0;
    for (std::size_t k = 1; k < length; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80) return 0;
        value = (value << 6) | (byte(i + k) & 0x3F);
    }
    if (value < minimum || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return 0;
    return length;
}

// Which optional fields each item carries: `delayLoads` when the scan read
// delay-load directories (whether the module was delay-loaded), `foundBy`
// when the scan followed the loader's own rules (how the file was found).
struct ItemFields {
    bool delayLoads = false;
    bool foundBy = false;
    const RunMerge* run = nullptr;
};

void writeItem(MemoryTree& tree, TreeItem item, ItemFields fields, const ItemImports* imports, bool undecorate,
               std::ostream& out) {
    const ModuleNode* node = tree.itemNode(item);
    out << "{\"label\":" << jsonString(tree.itemLabel(item))
        << ",\"module\":" << jsonString(node ? node->moduleName : "")
        << ",\"path\":" << jsonString(node ? node->fullPath : "")
        << ",\"fileVersion\":" << jsonString(node ? node->fileVersion : "")
        << ",\"productVersion\":" << jsonString(node ? node->productVersion : "")
        << ",\"hasChildren\":" << tree.itemHasChildren(item);
    if (fields.delayLoads) out << ",\"delayLoad\":" << (node && node->delayLoaded ? "true" : "false");
    if (fields.run) out << ",\"run\":" << jsonString(itemRunState(*fields.run, node));
    // The root was given, not found: it says nothing of how.
    if (fields.foundBy && node && node->parent) {
        out << ",\"foundBy\":" << jsonString(foundByName(node->foundBy));
        if (node->foundBy == FoundBy::sideBySide) out << ",\"assembly\":" << jsonString(node->assembly);
    }
    // Managed code, only where the scan met it: a native tree is written as before.
    if (node && node->managed()) out << ",\"managed\":true";
    if (node && node->role != NodeRole::module) {
        out << ",\"reference\":" << jsonString(nodeRoleName(node->role));
        if (node->role == NodeRole::assembly && node->reference) {
            const ManagedReference& reference = *node->reference;
            out << ",\"assemblyName\":" << jsonString(reference.wanted.displayName());
            if (!reference.policy.empty())
                out << ",\"boundVersion\":" << jsonString(reference.bound.text())
                    << ",\"policy\":" << jsonString(reference.policy);
            if (!reference.where.empty()) out << ",\"boundFrom\":" << jsonString(reference.where);
        }
    }
    if (imports) writeImportsJson(*imports, undecorate, out);
    out << ",\"children\":[";
}
}  // namespace

std::string jsonString(const std::string& text) {
    std::string out = "\"";
    char escape[8];
    for (std::size_t i = 0; i < text.size();) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20 || c == 0x7F) {
            std::snprintf(escape, sizeof escape, "\\u%04x", c);
            out += escape;
        } else if (c >= 0x80) {
            if (const std::size_t length = utf8Length(text, i)) {
                out.append(text, i, length);
                i += length;
                continue;
            }
            // A byte that is no part of valid UTF-8 (a Linux file name is
            // bytes) as the lone surrogate U+DC00 + byte, as Python's
            // os.fsdecode does: no other text decodes to it, so every
            // path names its own file again (os.fsencode).
            std::snprintf(escape, sizeof escape, "\\udc%02x", c);
            out += escape;
        } else {
            out += static_cast<char>(c);
        }
        ++i;
    }
    return out + "\"";
}

void writeTreeText(MemoryTree& tree, std::ostream& out, const FunctionTables* functions, const RunMerge* run) {
    std::size_t index = 0;
    visitInPreOrder(tree, [&](TreeItem item, std::size_t depth) {
        out << std::string(2 * depth, ' ') << tree.itemLabel(item);
        const ModuleNode* node = tree.itemNode(item);
        if (node && node->delayLoaded) out << " [delay-load]";
        if (run) out << run->suffix(node);
        out << '\n';
        if (functions && index < functions->items.size())
            writeImportLines(functions->items[index], functions->undecorate, 2 * (depth + 1), out);
        ++index;
        return true;
    });
}

void writeListText(ScannedFile& scanned, std::ostream& out) {
    out << clipboardText(*scanned.list, kColumnTitles, delayLoadedModules(*scanned.ext.nodes));
}

void writeJson(ScannedFile& scanned, std::ostream& out, bool foundBy, const RunOutput* run) {
    MemoryTree& tree = *scanned.tree;
    const ItemFields fields{scanned.ext.delayLoads, foundBy, run ? &run->merge : nullptr};
    // Each item's imports, by its place in pre-order (the order written).
    const FunctionTables* functions = scanned.functions.get();
    std::size_t index = 0;
    const auto importsOf = [&]() -> const ItemImports* {
        const std::size_t i = index++;
        return functions && i < functions->items.size() ? &functions->items[i] : nullptr;
    };
    const bool undecorate = functions && functions->undecorate;
    out << "{\"file\":" << jsonString(scanned.file) << ",\"tree\":";
    if (const TreeItem root = tree.rootItem()) {
        std::vector<TreeItem> open;
        writeItem(tree, root, fields, importsOf(), undecorate, out);
        open.push_back(root);
        TreeItem next = tree.firstChild(root);
        bool first = true;
        while (!open.empty()) {
            if (next) {
                if (!first) out << ',';
                writeItem(tree, next, fields, importsOf(), undecorate, out);
                open.push_back(next);
                next = tree.firstChild(next);
                first = true;
            } else {
                out << "]}";
                const TreeItem done = open.back();
                open.pop_back();
                if (open.empty()) break;
                next = tree.nextSibling(done);
                first = false;
            }
        }
    } else {
        out << "null";
    }
    out << ",\"list\":[";
    MemoryList& list = *scanned.list;
    const std::unordered_set<std::string> delayLoaded = delayLoadedModules(*scanned.ext.nodes);
    for (int row = 0; row < list.rowCount(); ++row) {
        const ModuleNode* node = list.rowNode(row);
        if (row) out << ',';
        out << "{\"module\":" << jsonString(list.cellText(row, kModuleColumn))
            << ",\"date\":" << jsonString(list.cellText(row, kDateColumn))
            << ",\"fileVersion\":" << jsonString(list.cellText(row, kFileVersionColumn))
            << ",\"productVersion\":" << jsonString(list.cellText(row, kProductVersionColumn))
            << ",\"path\":" << jsonString(list.cellText(row, kPathColumn))
            << ",\"lastWriteTime\":" << (node ? node->lastWriteTime.value() : 0);
        if (fields.delayLoads)
            out << ",\"delayLoad\":" << (delayLoaded.count(lowerAscii(list.cellText(row, kModuleColumn))) ? "true" : "false");
        out << '}';
    }
    out << "],\"messages\":[";
    for (std::size_t i = 0; i < scanned.messages.size(); ++i) {
        if (i) out << ',';
        out << "{\"text\":" << jsonString(scanned.messages[i].text)
            << ",\"caption\":" << jsonString(scanned.messages[i].caption) << '}';
    }
    out << ']';
    if (scanned.check) {
        out << ",\"check\":";
        writeCheckJson(*scanned.check, out);
    }
    if (functions && functions->exportsAsked) writeExportsJson(*functions, out);
    if (run) {
        out << ",\"run\":";
        writeRunJson(*run, out);
    }
    out << "}\n";
}

}  // namespace vost

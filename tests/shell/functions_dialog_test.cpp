// The Functions dialog in a real property sheet, read back from its list
// views and held against vostscan.exe --imports --exports --json for the
// same module: the rows, their order and marks, the filter, the sort, the
// section per importer of a list row, Copy and the remembered setting.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <array>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "platform/win32/wide_text.h"
#include "resources/resource_ids.h"
#include "tests/shell/page_host_fixture.h"
#include "tests/shell/scanner_compare.h"
#include "tests/support/hostile_names.h"

namespace vost::test {
namespace {

struct DialogContents {
    std::string caption;
    std::vector<std::string> sections;
    std::vector<std::array<std::string, 3>> imports;
    std::vector<int> importImages;
    std::vector<std::array<std::string, 5>> exports;
    std::string copied;  // what Copy placed on the clipboard
};

template <std::size_t Columns>
std::vector<std::array<std::string, Columns>> readRows(HWND list, std::vector<int>* images = nullptr) {
    std::vector<std::array<std::string, Columns>> rows(std::size_t(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0)));
    for (std::size_t row = 0; row < rows.size(); ++row) {
        for (std::size_t column = 0; column < Columns; ++column) {
            wchar_t buffer[4096] = {};
            LVITEMW item{};
            item.iSubItem = int(column);
            item.pszText = buffer;
            item.cchTextMax = 4096;
            SendMessageW(list, LVM_GETITEMTEXTW, row, reinterpret_cast<LPARAM>(&item));
            rows[row][column] = utf8Text(buffer);
        }
        if (images) {
            LVITEMW item{};
            item.mask = LVIF_IMAGE;
            item.iItem = int(row);
            SendMessageW(list, LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item));
            images->push_back(item.iImage);
        }
    }
    return rows;
}

DialogContents readDialog(HWND dialog) {
    DialogContents contents;
    contents.caption = windowText(dialog);
    HWND sections = GetDlgItem(dialog, IDC_IMPORT_SECTION);
    for (int i = 0, n = int(SendMessageW(sections, CB_GETCOUNT, 0, 0)); i < n; ++i) {
        std::wstring text(std::size_t(SendMessageW(sections, CB_GETLBTEXTLEN, i, 0)) + 1, L'\0');
        SendMessageW(sections, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(&text[0]));
        contents.sections.push_back(utf8Text(text.c_str()));
    }
    contents.imports = readRows<3>(GetDlgItem(dialog, IDC_IMPORT_LIST), &contents.importImages);
    contents.exports = readRows<5>(GetDlgItem(dialog, IDC_EXPORT_LIST));
    return contents;
}

std::string jsonNumberOrEmpty(const JsonValue& value) {
    return value.kind == JsonValue::number ? std::to_string(value.integer) : std::string();
}

// The scanner's imports of `module` under the root, as the dialog's rows.
std::vector<std::array<std::string, 3>> scannerImports(const JsonValue& tree, const std::string& module,
                                                       std::vector<int>* images, std::string* path) {
    std::vector<std::array<std::string, 3>> rows;
    for (const JsonValue& child : tree["children"].items) {
        if (lstrcmpiA(child["module"].text.c_str(), module.c_str()) != 0) continue;
        *path = child["path"].text;
        for (const JsonValue& f : child["imports"].items) {
            const std::string name = f["name"].kind == JsonValue::string ? f["name"].text
                                                                          : "#" + std::to_string(f["ordinal"].integer);
            rows.push_back({name, jsonNumberOrEmpty(f["hint"]), f["resolution"].text});
            images->push_back(f["resolved"].integer ? 0 : 1);
        }
        break;
    }
    return rows;
}

// The user's remembered "Undecorate C++ names"; -1 when never saved.
long undecorateValue() {
    DWORD value = 0, size = sizeof value;
    if (RegGetValueW(HKEY_CURRENT_USER, L"Software\\VOST", L"UndecorateNames", RRF_RT_REG_DWORD, nullptr, &value,
                     &size) != ERROR_SUCCESS)
        return -1;
    return long(value);
}

// The tables here hold no decorated names: the rows read the same either way.
class FunctionsDialogTest : public PageHostTest {};

// For a tree item: the dialog's rows are the scanner's, in its order, with
// the page's mark on the imports that do not resolve; the exports are the
// scanner's export table of the module, those the parent names marked.
TEST_F(FunctionsDialogTest, ListsEqualTheScannersTables) {
    const struct {
        std::string file;
        const char* module;
    } cases[] = {
        {programFolder() + "check_programs\\one\\app.exe", "VOSTLIB.DLL"},
        {programFolder() + "check_programs\\two\\app.exe", "VOSTLIB.DLL"},
        {prefixProgram("notepad.exe"), "KERNEL32.DLL"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file + " " + c.module);
        OpenedPage opened = openPage(c.file);
        ASSERT_NE(opened.page, nullptr);
        const JsonValue scan = scannerOutput(c.file, "--imports");
        std::vector<int> wantImages;
        std::string path;
        const auto wantImports = scannerImports(scan["tree"], c.module, &wantImages, &path);
        ASSERT_FALSE(path.empty());
        const JsonValue table = scannerOutput(path, "--exports");

        ASSERT_TRUE(selectModule(opened.page, c.module, false));
        DialogContents got;
        ASSERT_TRUE(withFunctionsDialog(opened.page, [&](HWND dialog) { got = readDialog(dialog); }));
        EXPECT_EQ(got.caption, std::string("Functions of ") + c.module);
        ASSERT_EQ(got.sections.size(), 1u);
        EXPECT_NE(got.sections[0].find(std::string(" from ") + c.module), std::string::npos);
        EXPECT_EQ(got.imports, wantImports);
        EXPECT_EQ(got.importImages, wantImages);

        // An entry is marked when an import names it, by name or ordinal,
        // whether or not the entry then resolves.
        std::set<std::string> imported;
        for (const auto& row : wantImports) imported.insert(row[0]);
        const JsonValue& entries = table["exports"]["entries"];
        ASSERT_EQ(got.exports.size(), entries.items.size());
        for (std::size_t i = 0; i < entries.items.size(); ++i) {
            const JsonValue& e = entries.items[i];
            const std::string name = e["name"].kind == JsonValue::string ? e["name"].text : std::string();
            const std::string ordinal = std::to_string(e["ordinal"].integer);
            char rva[16] = {};
            snprintf(rva, sizeof rva, "0x%08llX", e["rva"].integer);
            const std::string target = e["forwarder"].kind == JsonValue::string ? e["forwarder"].text : rva;
            const bool named = (!name.empty() && imported.count(name)) || imported.count("#" + ordinal);
            const std::array<std::string, 5> want = {ordinal, jsonNumberOrEmpty(e["hint"]), name, target,
                                                     named ? "yes" : ""};
            EXPECT_EQ(got.exports[i], want) << i;
        }
    }
}

// Every file whose imports name `module` in the scanner's tree, once each.
void importersIn(const JsonValue& item, const std::string& module, std::set<std::string>& paths) {
    for (const JsonValue& child : item["children"].items) {
        if (lstrcmpiA(child["module"].text.c_str(), module.c_str()) == 0) paths.insert(item["path"].text);
        importersIn(child, module, paths);
    }
}

bool holdsCritical(std::string name) {
    CharLowerA(&name[0]);
    return name.find("critical") != std::string::npos;
}

// A list row has one section per importer; the filter narrows both lists
// as it is typed, a column click sorts and a second reverses, Copy takes
// the shown rows, and "Undecorate C++ names" is remembered for the user.
TEST_F(FunctionsDialogTest, SectionsFilterSortCopyAndTheRememberedSetting) {
    const std::string file = prefixProgram("notepad.exe");
    OpenedPage opened = openPage(file);
    ASSERT_NE(opened.page, nullptr);
    std::set<std::string> importers;
    importersIn(scannerOutput(file)["tree"], "KERNEL32.DLL", importers);
    ASSERT_TRUE(selectModule(opened.page, "KERNEL32.DLL", true));

    DialogContents all, filtered, sorted, reversed;
    bool checkedAtOpen = true;
    long flipped = -1, restored = -1;
    ASSERT_TRUE(withFunctionsDialog(opened.page, [&](HWND dialog) {
        checkedAtOpen = IsDlgButtonChecked(dialog, IDC_UNDECORATE) == BST_CHECKED;
        all = readDialog(dialog);
        SetDlgItemTextW(dialog, IDC_FUNCTION_FILTER, L"critical");
        filtered = readDialog(dialog);
        clickColumn(dialog, 2, IDC_EXPORT_LIST);  // the function's name
        sorted = readDialog(dialog);
        clickColumn(dialog, 2, IDC_EXPORT_LIST);
        reversed = readDialog(dialog);
        // Copy takes the list that last had the focus.
        NMHDR focus{GetDlgItem(dialog, IDC_EXPORT_LIST), IDC_EXPORT_LIST, UINT(NM_SETFOCUS)};
        SendMessageW(dialog, WM_NOTIFY, IDC_EXPORT_LIST, reinterpret_cast<LPARAM>(&focus));
        SendMessageW(dialog, WM_COMMAND, IDC_COPY_FUNCTIONS, 0);
        reversed.copied = clipboardText();
        for (long* saved : {&flipped, &restored}) {
            const bool checked = IsDlgButtonChecked(dialog, IDC_UNDECORATE) == BST_CHECKED;
            CheckDlgButton(dialog, IDC_UNDECORATE, checked ? BST_UNCHECKED : BST_CHECKED);
            SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDC_UNDECORATE, BN_CLICKED), 0);
            *saved = undecorateValue();
        }
    }));
    EXPECT_EQ(all.sections.size(), importers.size());
    EXPECT_EQ(flipped, checkedAtOpen ? 0 : 1);
    EXPECT_EQ(restored, checkedAtOpen ? 1 : 0);

    ASSERT_FALSE(filtered.exports.empty());
    EXPECT_LT(filtered.exports.size(), all.exports.size());
    std::size_t wantImports = 0, wantExports = 0;
    for (const auto& row : all.imports) wantImports += holdsCritical(row[0]);
    for (const auto& row : all.exports) wantExports += holdsCritical(row[2]);
    EXPECT_EQ(filtered.imports.size(), wantImports);
    EXPECT_EQ(filtered.exports.size(), wantExports);

    ASSERT_EQ(sorted.exports.size(), filtered.exports.size());
    for (std::size_t i = 1; i < sorted.exports.size(); ++i) EXPECT_LE(sorted.exports[i - 1][2], sorted.exports[i][2]);
    const std::vector<std::array<std::string, 5>> back(reversed.exports.rbegin(), reversed.exports.rend());
    EXPECT_EQ(back, sorted.exports);

    std::string want = "Ordinal\tHint\tFunction\tEntry point\tImported\r\n";
    for (const auto& row : reversed.exports)
        want += row[0] + "\t" + row[1] + "\t" + row[2] + "\t" + row[3] + "\t" + row[4] + "\r\n";
    EXPECT_EQ(reversed.copied, want);
}

// A module exporting names whose readings would take gigabytes, among
// thousands of ordinary decorated names: the sheet answers at once while the
// dialog makes the readable names; a sort by name asked meanwhile and Copy
// come out whole once they are made, hostile names as they are.
TEST_F(FunctionsDialogTest, TheSheetAnswersWhileHostileNamesAreRead) {
    std::vector<std::string> names;
    std::map<std::string, bool> hostile;
    for (const HostileName& name : hostileNames()) {
        names.push_back(name.name);
        hostile[name.name] = name.read;
    }
    for (int i = 0; i < 5000; ++i) names.push_back("?f" + std::to_string(i) + "@ns@@YAHH@Z");
    const auto bytes = [](const PeImageLayout& layout) {
        const Bytes image = buildPe(layout).bytes;
        return std::string(image.begin(), image.end());
    };
    TempFolder folder;
    folder.write("hostile.dll", bytes(exportingNames("hostile.dll", names)));
    const std::string app = folder.write("app.exe", bytes(importingNames("hostile.dll", {names[0], names[1]})));
    OpenedPage opened = openPage(app);
    ASSERT_NE(opened.page, nullptr);
    ASSERT_TRUE(selectModule(opened.page, "HOSTILE.DLL", false));
    if (OpenClipboard(nullptr)) {
        EmptyClipboard();
        CloseClipboard();
    }

    bool answered = false;
    std::string copied;
    ASSERT_TRUE(withFunctionsDialog(opened.page, [&](HWND dialog) {
        DWORD_PTR result = 0;
        answered = SendMessageTimeoutW(GetParent(opened.page), WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 10000, &result) != 0;
        clickColumn(dialog, 2, IDC_EXPORT_LIST);
        NMHDR focus{GetDlgItem(dialog, IDC_EXPORT_LIST), IDC_EXPORT_LIST, UINT(NM_SETFOCUS)};
        SendMessageW(dialog, WM_NOTIFY, IDC_EXPORT_LIST, reinterpret_cast<LPARAM>(&focus));
        SendMessageW(dialog, WM_COMMAND, IDC_COPY_FUNCTIONS, 0);
        // Copy waits for the names: the clipboard fills when they are made.
        for (int tries = 0; tries < 600; ++tries, Sleep(100))
            if (copied = clipboardText(); !copied.empty() && copied != "<busy>") break;
    }));
    EXPECT_TRUE(answered);

    // Ordinal, hint, name, entry point, imported: the names in order.
    std::vector<std::string> shown;
    for (std::size_t line = copied.find("\r\n"); line != std::string::npos && line + 2 < copied.size();) {
        const std::size_t end = copied.find("\r\n", line + 2);
        const std::string row = copied.substr(line + 2, end - line - 2);
        const std::size_t name = row.find('\t', row.find('\t') + 1) + 1;
        shown.push_back(row.substr(name, row.find('\t', name) - name));
        line = end;
    }
    ASSERT_EQ(shown.size(), names.size());
    EXPECT_TRUE(std::is_sorted(shown.begin(), shown.end()));
    std::size_t read = 0;
    for (const std::string& name : shown) {
        const auto known = hostile.find(name);
        if (known != hostile.end()) EXPECT_FALSE(known->second) << name.substr(0, 60) << " was not read";
        if (name.find("int __cdecl ns::f") == 0) ++read;
    }
    EXPECT_EQ(read, 5000u);

    // Closed while its worker is at work: the worker stops with it (the
    // fixture then finds every object of the component gone).
    ASSERT_TRUE(withFunctionsDialog(opened.page, [](HWND) {}));
}

}  // namespace
}  // namespace vost::test

// The resources the component carries, read back from vost.dll as the
// platform reads them.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <cstring>
#include <string>
#include <vector>

#include "analysis/pe_exports.h"
#include "analysis/pe_headers.h"
#include "resources/resource_ids.h"
#include "tests/shell/shell_host.h"
#include "tests/windows/temp_folder.h"

namespace vost::test {
namespace {

struct Control {
    DWORD exStyle, style;
    short x, y, cx, cy;
    DWORD id;
    std::string windowClass, text;
};

struct DialogTemplate {
    DWORD style = 0;
    short cx = 0, cy = 0;
    std::string caption, font;
    WORD pointSize = 0, weight = 0;
    BYTE italic = 0, charset = 0;
    std::vector<Control> controls;
};

// Reads DLGTEMPLATEEX and its DLGITEMTEMPLATEEX records.
class TemplateReader {
public:
    explicit TemplateReader(const BYTE* data) : p_(data), start_(data) {}
    WORD word() { WORD v; std::memcpy(&v, p_, 2); p_ += 2; return v; }
    DWORD dword() { DWORD v; std::memcpy(&v, p_, 4); p_ += 4; return v; }
    std::string string() {  // sz_Or_Ord as text; an ordinal gives "#n"
        WORD first = word();
        if (first == 0xFFFF) return "#" + std::to_string(word());
        std::string out;
        for (WORD c = first; c != 0; c = word()) out += char(c);
        return out;
    }
    void align() { p_ = start_ + ((p_ - start_ + 3) & ~3); }

private:
    const BYTE* p_;
    const BYTE* start_;
};

DialogTemplate readDialog(HMODULE module, int id) {
    DialogTemplate dialog;
    HRSRC found = FindResourceA(module, MAKEINTRESOURCEA(id), MAKEINTRESOURCEA(5));
    if (!found) return dialog;
    TemplateReader r(static_cast<const BYTE*>(LockResource(LoadResource(module, found))));
    EXPECT_EQ(r.word(), 1);       // dlgVer
    EXPECT_EQ(r.word(), 0xFFFF);  // signature: DIALOGEX
    r.dword();                    // helpID
    r.dword();                    // exStyle
    dialog.style = r.dword();
    const WORD count = r.word();
    r.word(), r.word();
    dialog.cx = short(r.word());
    dialog.cy = short(r.word());
    EXPECT_EQ(r.string(), "");  // menu
    EXPECT_EQ(r.string(), "");  // class
    dialog.caption = r.string();
    dialog.pointSize = r.word();
    dialog.weight = r.word();
    const WORD italicCharset = r.word();
    dialog.italic = BYTE(italicCharset & 0xFF);
    dialog.charset = BYTE(italicCharset >> 8);
    dialog.font = r.string();
    for (WORD i = 0; i < count; ++i) {
        r.align();
        Control c;
        r.dword();  // helpID
        c.exStyle = r.dword();
        c.style = r.dword();
        c.x = short(r.word());
        c.y = short(r.word());
        c.cx = short(r.word());
        c.cy = short(r.word());
        c.id = r.dword();
        c.windowClass = r.string();
        c.text = r.string();
        const WORD extra = r.word();
        EXPECT_EQ(extra, 0);
        dialog.controls.push_back(c);
    }
    return dialog;
}

TEST(Resources, PageTemplateHasItsLayout) {
    HMODULE module = Component::get().module;
    ASSERT_NE(module, nullptr);
    DialogTemplate dialog = readDialog(module, IDD_DEPENDENCIES_PAGE);
    EXPECT_EQ(dialog.style, DWORD(WS_CHILD | WS_DISABLED | WS_CAPTION | DS_SETFONT));
    EXPECT_EQ(dialog.cx, 235);
    EXPECT_EQ(dialog.cy, 198);
    EXPECT_EQ(dialog.caption, "Dependencies");
    EXPECT_EQ(dialog.font, "MS Sans Serif");
    EXPECT_EQ(dialog.pointSize, 8);
    EXPECT_EQ(dialog.weight, 0);
    EXPECT_EQ(dialog.italic, 0);
    EXPECT_EQ(dialog.charset, DEFAULT_CHARSET);

    // Class names may be stored as text or as the predefined ordinals.
    const DWORD child = WS_CHILD;
    const std::vector<Control> expected = {
        {0, child | WS_VISIBLE | WS_BORDER | WS_GROUP | WS_TABSTOP | TVS_HASBUTTONS | TVS_HASLINES |
                TVS_LINESATROOT,
         7, 22, 221, 117, 1000, "SysTreeView32", "Tree1"},
        {0, child | WS_VISIBLE | WS_GROUP | SS_LEFT, 7, 143, 221, 21, 1010, "#130",
         "This list shows the direct and indirect dependencies of the selected Module."},
        {0, child | WS_VISIBLE | BS_AUTORADIOBUTTON | BS_NOTIFY | WS_GROUP | WS_TABSTOP, 7, 7, 31, 10,
         1003, "#128", "&Tree"},
        {0, child | WS_VISIBLE | BS_AUTORADIOBUTTON, 44, 7, 26, 10, 1004, "#128", "&List"},
        {WS_EX_CLIENTEDGE, child | WS_BORDER | WS_TABSTOP | LVS_REPORT | LVS_SINGLESEL, 7, 22, 221, 117,
         1012, "SysListView32", "List1"},
    };
    ASSERT_EQ(dialog.controls.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        const Control& got = dialog.controls[i];
        const Control& want = expected[i];
        SCOPED_TRACE(want.id);
        EXPECT_EQ(got.id, want.id);
        EXPECT_EQ(got.style, want.style);
        EXPECT_EQ(got.exStyle, want.exStyle);
        EXPECT_EQ(got.x, want.x);
        EXPECT_EQ(got.y, want.y);
        EXPECT_EQ(got.cx, want.cx);
        EXPECT_EQ(got.cy, want.cy);
        const std::string textClass = want.windowClass == "#128" ? "BUTTON"
                                      : want.windowClass == "#130" ? "STATIC" : want.windowClass;
        EXPECT_TRUE(got.windowClass == want.windowClass || lstrcmpiA(got.windowClass.c_str(),
                                                                     textClass.c_str()) == 0)
            << got.windowClass;
        EXPECT_EQ(got.text, want.text);
    }
}

TEST(Resources, MenuStringsAndIcon) {
    HMODULE module = Component::get().module;
    ASSERT_NE(module, nullptr);

    HMENU menu = LoadMenuA(module, MAKEINTRESOURCEA(IDR_MODULE_MENU));
    ASSERT_NE(menu, nullptr);
    char title[64] = {};
    GetMenuStringA(menu, 0, title, sizeof title, MF_BYPOSITION);
    EXPECT_STREQ(title, "VOST");
    HMENU popup = GetSubMenu(menu, 0);
    ASSERT_NE(popup, nullptr);
    const std::vector<std::pair<UINT, std::string>> items = {
        {IDM_EXPLORE_MODULE, "&Explore selected Module"}, {IDM_COPY_TO_CLIPBOARD, "&Copy to Clipboard"},
        {IDM_COPY_PROBLEMS, "Copy &Problems to Clipboard"}, {IDM_COPY_ALL_TO_FOLDER, "Copy &all to Folder"},
        {IDM_SHOW_FUNCTIONS, "&Functions..."},              {IDM_RUN_AND_RECORD, "&Run and Record..."},
        {IDM_SHOW_DELAY_LOADED, "Show &Delay-Loaded Modules"},
        {0, ""},
        {IDM_SEND_FEEDBACK, "&Send me feedback"},         {IDM_OPEN_HOME_PAGE, "&Meet me in Cyberspace"}};
    ASSERT_EQ(GetMenuItemCount(popup), int(items.size()));
    for (int i = 0; i < int(items.size()); ++i) {
        char text[64] = {};
        MENUITEMINFOA info{};
        info.cbSize = sizeof info;
        info.fMask = MIIM_ID | MIIM_FTYPE | MIIM_STRING;
        info.dwTypeData = text;
        info.cch = sizeof text;
        ASSERT_TRUE(GetMenuItemInfoA(popup, i, TRUE, &info));
        EXPECT_EQ(bool(info.fType & MFT_SEPARATOR), items[i].first == 0) << i;
        if (items[i].first == 0) continue;
        EXPECT_EQ(info.wID, items[i].first);
        EXPECT_EQ(std::string(text), items[i].second);
    }
    DestroyMenu(menu);

    const char* headings[] = {"Module", "Date", "Fileversion", "Productversion", "Path"};
    for (int id = 1; id <= 5; ++id) {
        char text[100] = {};
        LoadStringA(module, id, text, sizeof text);
        EXPECT_STREQ(text, headings[id - 1]);
    }

    // The icon group holds a 16x16 and a 32x32 image, and both load.
    HRSRC group = FindResourceA(module, MAKEINTRESOURCEA(IDI_PAGE_ICON), MAKEINTRESOURCEA(14));
    ASSERT_NE(group, nullptr);
    const BYTE* directory = static_cast<const BYTE*>(LockResource(LoadResource(module, group)));
    const WORD count = WORD(directory[4] | directory[5] << 8);
    std::vector<int> widths;
    for (WORD i = 0; i < count; ++i) widths.push_back(directory[6 + 14 * i]);
    EXPECT_EQ(widths, (std::vector<int>{16, 32}));
    for (int size : {16, 32}) {
        HICON icon = static_cast<HICON>(
            LoadImageA(module, MAKEINTRESOURCEA(IDI_PAGE_ICON), IMAGE_ICON, size, size, 0));
        EXPECT_NE(icon, nullptr) << size;
        DestroyIcon(icon);
    }
}

// Exactly the two entry points, undecorated, in either bitness; the loader
// finds both by name.
TEST(Resources, ExportsExactlyTheTwoEntryPoints) {
    const std::string bytes = readWholeFile(programFolder() + "vost.dll");
    const ByteView image(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
    std::uint32_t newHeader = 0;
    ASSERT_TRUE(image.readU32(0x3C, newHeader));
    EXPECT_EQ(isPe32Plus(image, newHeader), sizeof(void*) == 8);
    const PeExports exports = readPeExports(image, newHeader);
    std::vector<std::string> names;
    for (const ExportName& name : exports.names) names.emplace_back(exports.nameOf(name));
    EXPECT_EQ(names, (std::vector<std::string>{"DllCanUnloadNow", "DllGetClassObject"}));
    EXPECT_EQ(exports.addresses.size(), 2u);
    for (const char* name : {"DllCanUnloadNow", "DllGetClassObject"})
        EXPECT_NE(GetProcAddress(static_cast<HMODULE>(Component::get().module), name), nullptr) << name;
}

}  // namespace
}  // namespace vost::test

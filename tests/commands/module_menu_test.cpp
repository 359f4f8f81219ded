// The module context menu: item-ID list stepping, the merged menu, where the
// choices go, and that every way through releases what it obtained.
#include <windows.h>
#include <shlobj.h>

#include <cstring>
#include <memory>

#include "component/dependency_extension.h"
#include "page/check_marks.h"
#include "page/commands.h"
#include "page/item_id_list.h"
#include "page/module_menu.h"
#include "platform/win32/wide_text.h"
#include "resources/resource_ids.h"
#include "tests/commands/menu_driver.h"
#include "tests/commands/test_page.h"
#include "tests/support/path_table.h"

namespace vost::test {
namespace {

// --- Item-ID lists ----------------------------------------------------------

// A task allocator that can be told to fail, counting what it hands out.
class CountingAllocator : public IMalloc {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** out) override {
        *out = this;
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 1; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    void* STDMETHODCALLTYPE Alloc(SIZE_T size) override {
        lastSize = size;
        if (fail) return nullptr;
        ++live;
        return CoTaskMemAlloc(size);
    }
    void* STDMETHODCALLTYPE Realloc(void* block, SIZE_T size) override { return CoTaskMemRealloc(block, size); }
    void STDMETHODCALLTYPE Free(void* block) override {
        if (block) --live;
        CoTaskMemFree(block);
    }
    SIZE_T STDMETHODCALLTYPE GetSize(void*) override { return 0; }
    int STDMETHODCALLTYPE DidAlloc(void*) override { return -1; }
    void STDMETHODCALLTYPE HeapMinimize() override {}
    bool fail = false;
    int live = 0;
    SIZE_T lastSize = 0;
};

TEST(ItemIdList, StepsCountsAndCopiesPackedItems) {
    // Three items of 5, 2 and 7 bytes (odd sizes put later counts at odd
    // addresses), then the terminator; one byte of offset to misalign the start.
    const unsigned char bytes[] = {0xEE, 5, 0, 'a', 'b', 'c', 2, 0, 7, 0, 1, 2, 3, 4, 5, 0, 0};
    auto list = reinterpret_cast<LPCITEMIDLIST>(bytes + 1);
    EXPECT_EQ(countItems(list), 3);
    LPCITEMIDLIST second = nextItem(list);
    EXPECT_EQ(reinterpret_cast<const unsigned char*>(second), bytes + 6);
    LPCITEMIDLIST third = nextItem(second);
    EXPECT_EQ(reinterpret_cast<const unsigned char*>(third), bytes + 8);
    LPCITEMIDLIST end = nextItem(third);
    EXPECT_EQ(reinterpret_cast<const unsigned char*>(end), bytes + 15);
    EXPECT_EQ(nextItem(end), nullptr);
    EXPECT_EQ(countItems(end), 0);

    CountingAllocator allocator;
    LPITEMIDLIST copy = copyItem(&allocator, third);
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(allocator.lastSize, 9u);  // its 7 bytes and a 16-bit zero
    EXPECT_EQ(std::memcmp(copy, bytes + 8, 7), 0);
    EXPECT_EQ(countItems(copy), 1);
    allocator.Free(copy);

    EXPECT_EQ(copyItem(&allocator, end), nullptr);
    allocator.fail = true;
    EXPECT_EQ(copyItem(&allocator, list), nullptr);
    EXPECT_EQ(allocator.live, 0);
}

// --- The menu -----------------------------------------------------------------

std::string dropListOnClipboard() {
    std::string files;
    if (!openClipboardSoon(nullptr)) return "<busy>";
    if (HANDLE drop = GetClipboardData(CF_HDROP)) {
        const UINT count = DragQueryFileW(static_cast<HDROP>(drop), 0xFFFFFFFF, nullptr, 0);
        for (UINT i = 0; i < count; ++i) {
            std::wstring path(DragQueryFileW(static_cast<HDROP>(drop), i, nullptr, 0) + 1, L'\0');
            path.resize(DragQueryFileW(static_cast<HDROP>(drop), i, &path[0], UINT(path.size())));
            files += utf8Text(path) + ";";
        }
    }
    CloseClipboard();
    return files;
}

size_t positionOf(const std::vector<MenuItem>& items, const char* text) {
    for (size_t i = 0; i < items.size(); ++i)
        if (items[i].text == text) return i;
    return items.size();
}

class ModuleMenuTest : public PageTest {
protected:
    void SetUp() override {
        // The shell's own entries must act on the file whatever script names it.
        folder = freshFolder("menu " + pathTable()[1].folder + " " + pathTable()[4].folder);
        for (const char* level : {"\\one", "\\one\\two", "\\one\\two\\three"})
            CreateDirectoryW(wideText(folder + level).c_str(), nullptr);
        modulePath = folder + "\\one\\two\\three\\deep module.dll";
        writeFile(modulePath, "MZ");
        module = page->node(modulePath.c_str(), "DEEP MODULE.DLL");
        moduleItem = page->addTreeItem(nullptr, module);
        page->selectTreeItem(moduleItem);
        page->pump();
    }
    void TearDown() override { DeleteFileW(wideText(modulePath).c_str()); }

    // Opens the menu at (x, y) as the page does, with `keys` pressed once it is up.
    MenuSnapshot openMenu(std::function<void(MenuDriver&)> keys, int x = 300, int y = 200, bool* shown = nullptr) {
        MenuDriver driver(std::move(keys));
        showModuleMenu(page->extension(), x, y);
        driver.finish();
        if (shown) *shown = driver.menuSeen();
        return driver.snapshot;
    }

    std::string folder, modulePath;
    ModuleNode* module = nullptr;
    TreeItem moduleItem = nullptr;
};

TEST_F(ModuleMenuTest, VostComesFirstWithTheFiveCommandsAboveTheShellsItems) {
    const MenuSnapshot menu = openMenu([](MenuDriver& d) { d.press(VK_ESCAPE); }, 320, 240);

    ASSERT_GE(menu.items.size(), 2u);
    EXPECT_EQ(menu.items[0].text, "Vost");
    EXPECT_NE(menu.items[0].submenu, nullptr);
    EXPECT_FALSE(menu.items[1].separator);  // the shell's first item follows directly
    for (size_t i = 1; i < menu.items.size(); ++i)
        if (!menu.items[i].separator) {
            EXPECT_TRUE(menu.items[i].id >= 1 && menu.items[i].id <= 0x7FFF) << menu.items[i].text;
        }

    const std::vector<MenuItem>& own = menu.firstSubmenuItems;
    ASSERT_EQ(own.size(), 10u);
    const struct {
        UINT id;
        const char* text;
    } expected[] = {{IDM_EXPLORE_MODULE, "&Explore selected Module"},
                    {IDM_COPY_TO_CLIPBOARD, "&Copy to Clipboard"},
                    {IDM_COPY_PROBLEMS, "Copy &Problems to Clipboard"},
                    {IDM_COPY_ALL_TO_FOLDER, "Copy &all to Folder"},
                    {IDM_SHOW_FUNCTIONS, "&Functions..."},
                    {IDM_RUN_AND_RECORD, "&Run and Record..."},
                    {IDM_SHOW_DELAY_LOADED, "Show &Delay-Loaded Modules"},
                    {0, ""},
                    {IDM_SEND_FEEDBACK, "&Send me feedback"},
                    {IDM_OPEN_HOME_PAGE, "&Meet me in Cyberspace"}};
    for (size_t i = 0; i < 10; ++i) {
        EXPECT_EQ(own[i].separator, i == 7) << i;
        if (i != 7) {
            // This page has no finished scan: nothing to copy of it, no functions to read, nothing to run,
            // nothing to scan again without its delay-loaded modules.
            EXPECT_EQ(own[i].grayed, expected[i].id == IDM_COPY_PROBLEMS || expected[i].id == IDM_SHOW_FUNCTIONS ||
                                         expected[i].id == IDM_RUN_AND_RECORD ||
                                         expected[i].id == IDM_SHOW_DELAY_LOADED)
                << i;
            // The page shows delay-loaded modules unless the user turned them off.
            EXPECT_EQ(own[i].checked, expected[i].id == IDM_SHOW_DELAY_LOADED && page->extension().delayLoads) << i;
            EXPECT_EQ(own[i].id, expected[i].id) << i;
            EXPECT_EQ(own[i].text, expected[i].text) << i;
        }
    }
    // Its top-left corner at the point given.
    EXPECT_EQ(menu.rect.left, 320);
    EXPECT_EQ(menu.rect.top, 240);
    // Escape: no command, and both menus are gone.
    page->pump();
    EXPECT_TRUE(page->commands.empty());
    EXPECT_FALSE(IsMenu(menu.menu));
    EXPECT_FALSE(IsMenu(menu.items[0].submenu));
}

// Once the check has finished and found something, its problems can be copied;
// the functions can be read once it has finished.
TEST_F(ModuleMenuTest, CopyProblemsIsOfferedOnceTheCheckFoundSomething) {
    DependencyExtension& ext = page->extension();
    auto marks = std::make_shared<CheckMarks>();
    marks->problems = "not-found APP.EXE -> GONE.DLL\r\n";
    ext.checkMarks = marks;
    ext.scanState = kScanFinished;
    const MenuSnapshot menu = openMenu([](MenuDriver& d) { d.press(VK_ESCAPE); });
    ext.checkMarks = nullptr;
    ASSERT_EQ(menu.firstSubmenuItems.size(), 10u);
    EXPECT_EQ(menu.firstSubmenuItems[2].id, UINT(IDM_COPY_PROBLEMS));
    EXPECT_FALSE(menu.firstSubmenuItems[2].grayed);
    EXPECT_EQ(menu.firstSubmenuItems[4].id, UINT(IDM_SHOW_FUNCTIONS));
    EXPECT_FALSE(menu.firstSubmenuItems[4].grayed);
    // A run is of the page's program, from its root item only.
    EXPECT_EQ(menu.firstSubmenuItems[5].id, UINT(IDM_RUN_AND_RECORD));
    EXPECT_TRUE(menu.firstSubmenuItems[5].grayed);
    // The delay-load switch can be turned once the scan is done, and shows how it stands.
    const bool before = ext.delayLoads;
    for (const bool shown : {true, false}) {
        ext.delayLoads = shown;
        const MenuSnapshot again = openMenu([](MenuDriver& d) { d.press(VK_ESCAPE); });
        ASSERT_EQ(again.firstSubmenuItems.size(), 10u);
        EXPECT_EQ(again.firstSubmenuItems[6].id, UINT(IDM_SHOW_DELAY_LOADED));
        EXPECT_FALSE(again.firstSubmenuItems[6].grayed);
        EXPECT_EQ(again.firstSubmenuItems[6].checked, shown);
    }
    ext.delayLoads = before;
}

TEST_F(ModuleMenuTest, CopyToClipboardArrivesOnceAsAPostedCommandAfterTheMenuHasClosed) {
    openMenu([](MenuDriver& d) {
        d.press(VK_DOWN);      // "Vost"
        d.press(VK_RIGHT);     // opens it on "&Explore selected Module"
        d.press(VK_DOWN, 2);   // "&Copy to Clipboard"
        d.press(VK_RETURN, 2);
    });
    // Posted, not sent: nothing has arrived while the menu was up.
    EXPECT_TRUE(page->commands.empty());

    page->pump();
    EXPECT_EQ(page->commands, std::vector<WPARAM>{MAKEWPARAM(IDM_COPY_TO_CLIPBOARD, 0)});
    page->pump();
    EXPECT_EQ(page->commands.size(), 1u);
}

TEST_F(ModuleMenuTest, AShellCommandIsInvokedAtItsOffsetFromTheFirstId) {
    // The shell's "&Copy" puts the module's file on the clipboard.
    ASSERT_TRUE(openClipboardSoon(page->window()));
    EmptyClipboard();
    CloseClipboard();
    MenuSnapshot menu = openMenu([](MenuDriver& d) {
        const size_t copy = positionOf(d.snapshot.items, "&Copy");
        if (copy < d.snapshot.items.size()) d.choose(d.snapshot.items, copy);
    });
    ASSERT_LT(positionOf(menu.items, "&Copy"), menu.items.size());
    page->pump();
    EXPECT_TRUE(page->commands.empty());
    const std::string dropped = dropListOnClipboard();
    EXPECT_EQ(lstrcmpiA(dropped.c_str(), (modulePath + ";").c_str()), 0) << dropped;
}

// A module that was not found (the page's red disc), or whose path the shell
// cannot parse, still gets the component's submenu, so Copy Problems and
// Copy to Clipboard are reached from it; only the shell's entries are left
// out, and Explore is greyed where there is no file.
TEST_F(ModuleMenuTest, NoSelectionOrAnEmptyPathShowsNoMenuAModuleWithoutAFileGetsVostAlone) {
    bool shown = true;
    page->selectTreeItem(nullptr);
    openMenu({}, 300, 200, &shown);
    EXPECT_FALSE(shown);

    const struct {
        const char* path;
        bool found;
        bool menu;
    } cases[] = {{"", true, false}, {"file not found", false, true}, {"c:\\no such folder\\x.dll", true, true}};
    for (const auto& c : cases) {
        ModuleNode* node = page->node(c.path, "X.DLL");
        node->found = c.found;
        page->selectTreeItem(page->addTreeItem(moduleItem, node));
        shown = !c.menu;
        const MenuSnapshot menu = openMenu([](MenuDriver& d) { d.press(VK_ESCAPE); }, 300, 200, &shown);
        EXPECT_EQ(shown, c.menu) << c.path;
        if (!c.menu) continue;
        ASSERT_EQ(menu.items.size(), 1u) << c.path;
        EXPECT_EQ(menu.items[0].text, "Vost");
        ASSERT_EQ(menu.firstSubmenuItems.size(), 10u);
        EXPECT_EQ(menu.firstSubmenuItems[0].grayed, !c.found) << c.path;  // Explore
        EXPECT_FALSE(menu.firstSubmenuItems[1].grayed);                   // Copy to Clipboard
    }
    // The list's selection is not consulted while the tree shows.
    page->addRow(module);
    page->selectRow(0);
    page->selectTreeItem(nullptr);
    openMenu({}, 300, 200, &shown);
    EXPECT_FALSE(shown);
}

// A byte test for UTF-16 takes a name beginning with the bytes FF FE ("ÿþ"
// in the Western code page, where the file is written) for UTF-16 text with
// a byte order mark; the name, UTF-8 in the page, must still reach the shell
// as the file it names. A relative name is parsed on the desktop, as a
// one-item list: no folder is bound.
TEST_F(ModuleMenuTest, AnAnsiPathThatLooksLikeUtf16StillGetsItsMenu) {
    wchar_t desktop[MAX_PATH] = {};
    ASSERT_TRUE(SHGetSpecialFolderPathW(nullptr, desktop, CSIDL_DESKTOPDIRECTORY, FALSE));
    const char name[] = "\xFF\xFE" "ab.dll";
    ASSERT_TRUE(IsTextUnicode(name, lstrlenA(name), nullptr));  // the misjudgement
    const std::wstring onDesktop = std::wstring(desktop) + L"\\\u00FF\u00FEab.dll";
    const HANDLE file = CreateFileW(onDesktop.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    WriteFile(file, "MZ", 2, &written, nullptr);
    CloseHandle(file);

    ModuleNode* node = page->node("\xC3\xBF\xC3\xBE" "ab.dll", "\xC3\xBF\xC3\xBE" "AB.DLL");
    page->selectTreeItem(page->addTreeItem(moduleItem, node));
    bool shown = false;
    const MenuSnapshot menu = openMenu([](MenuDriver& d) { d.press(VK_ESCAPE); }, 300, 200, &shown);
    DeleteFileW(onDesktop.c_str());

    ASSERT_TRUE(shown);
    EXPECT_EQ(menu.items.front().text, "Vost");
    EXPECT_LT(positionOf(menu.items, "&Copy"), menu.items.size());
}

// Shift+F10 on the page: the platform turns the key into WM_CONTEXTMENU with
// lParam -1, and the menu opens at the mouse cursor, not at the selected item.
// (Wine's tree view does not pass the key on to its parent, so the key goes
// to the page window itself here.)
TEST_F(ModuleMenuTest, ShiftF10OpensTheMenuAtTheCursor) {
    SetCursorPos(410, 330);
    POINT cursor = {};
    GetCursorPos(&cursor);
    BYTE keys[256] = {};
    GetKeyboardState(keys);
    keys[VK_SHIFT] = 0x80;
    SetKeyboardState(keys);
    PostMessageA(page->window(), WM_SYSKEYDOWN, VK_F10, 1);

    MenuDriver driver([](MenuDriver& d) { d.press(VK_ESCAPE); });
    page->pump();  // the key becomes WM_CONTEXTMENU, which shows the menu
    driver.finish();
    keys[VK_SHIFT] = 0;
    SetKeyboardState(keys);

    ASSERT_TRUE(driver.menuSeen());
    EXPECT_EQ(driver.snapshot.rect.left, cursor.x);
    EXPECT_EQ(driver.snapshot.rect.top, cursor.y);
}

}  // namespace
}  // namespace vost::test

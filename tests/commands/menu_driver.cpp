#include "tests/commands/menu_driver.h"

#include "tests/commands/test_page.h"

namespace vost::test {

std::vector<MenuItem> menuItems(HMENU menu) {
    std::vector<MenuItem> items;
    const int count = GetMenuItemCount(menu);
    for (int position = 0; position < count; ++position) {
        char text[128] = {};
        MENUITEMINFOA info = {};
        info.cbSize = sizeof info;
        info.fMask = MIIM_FTYPE | MIIM_ID | MIIM_SUBMENU | MIIM_STRING | MIIM_STATE;
        info.dwTypeData = text;
        info.cch = sizeof text;
        GetMenuItemInfoA(menu, position, TRUE, &info);
        MenuItem item;
        item.id = info.wID;
        item.text = text;
        item.separator = (info.fType & MFT_SEPARATOR) != 0;
        item.submenu = info.hSubMenu;
        item.grayed = (info.fState & MFS_GRAYED) != 0;
        item.checked = (info.fState & MFS_CHECKED) != 0;
        items.push_back(item);
    }
    return items;
}

MenuDriver::MenuDriver(std::function<void(MenuDriver&)> keys) : thread_([this, keys] { run(keys); }) {}

MenuDriver::~MenuDriver() { finish(); }

void MenuDriver::finish() {
    done_ = true;
    if (thread_.joinable()) thread_.join();
}

void MenuDriver::run(const std::function<void(MenuDriver&)>& keys) {
    // Waits until the menu is up or the caller has gone on without one.
    HWND window = nullptr;
    while (!done_ && !window) {
        std::vector<HWND> menus = visibleWindows("#32768");
        if (!menus.empty()) window = menus.front();
        else Sleep(5);
    }
    if (!window) return;
    seen_ = true;
    snapshot.window = window;
    GetWindowRect(window, &snapshot.rect);
    snapshot.menu = reinterpret_cast<HMENU>(SendMessageA(window, MN_GETHMENU, 0, 0));
    snapshot.items = menuItems(snapshot.menu);
    if (!snapshot.items.empty() && snapshot.items[0].submenu)
        snapshot.firstSubmenuItems = menuItems(snapshot.items[0].submenu);
    if (keys) keys(*this);
    // Closes whatever is still open, until the caller has returned.
    while (!done_) {
        for (HWND menu : visibleWindows("#32768")) PostMessageA(menu, WM_KEYDOWN, VK_ESCAPE, 0);
        Sleep(20);
    }
}

void MenuDriver::press(UINT key, size_t menus) {
    HWND target = nullptr;
    for (int attempt = 0; attempt < 500 && !target; ++attempt) {
        std::vector<HWND> open = visibleWindows("#32768");
        if (!open.empty() && open.size() >= menus) target = open.front();
        else Sleep(10);
    }
    if (!target) return;
    PostMessageA(target, WM_KEYDOWN, key, 1);
    Sleep(30);
}

void MenuDriver::choose(const std::vector<MenuItem>& items, size_t position) {
    for (size_t i = 0; i <= position && i < items.size(); ++i)
        if (!items[i].separator) press(VK_DOWN);
    press(VK_RETURN);
}

}  // namespace vost::test

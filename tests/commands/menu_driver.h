// Drives a popup menu of the page's thread from a second thread: waits for
// the menu window ("#32768"), records the menu's items, then presses keys by
// posting WM_KEYDOWN to the newest menu window. Whatever happens, the menu is
// closed with Escape before the driver lets go.
#pragma once

#include <windows.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace vost::test {

struct MenuItem {
    UINT id = 0;
    std::string text;
    bool separator = false;
    bool grayed = false;
    bool checked = false;
    HMENU submenu = nullptr;
};

struct MenuSnapshot {
    HWND window = nullptr;
    RECT rect = {};
    HMENU menu = nullptr;
    std::vector<MenuItem> items;
    std::vector<MenuItem> firstSubmenuItems;  // of the first item's submenu
};

std::vector<MenuItem> menuItems(HMENU menu);

class MenuDriver {
public:
    // `keys` runs once the menu is up; it presses keys through press().
    explicit MenuDriver(std::function<void(MenuDriver&)> keys);
    ~MenuDriver();
    void finish();  // after the menu call has returned

    // Posts a key to the newest menu window; with `menus`, first waits until
    // that many menu windows are visible.
    void press(UINT key, size_t menus = 0);
    // Presses Down until the item at `position` of the top menu is selected
    // (separators are skipped by the menu), then Return.
    void choose(const std::vector<MenuItem>& items, size_t position);

    bool menuSeen() const { return seen_; }
    MenuSnapshot snapshot;

private:
    void run(const std::function<void(MenuDriver&)>& keys);
    std::atomic<bool> done_{false};
    std::atomic<bool> seen_{false};
    std::thread thread_;
};

}  // namespace vost::test

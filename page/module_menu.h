// The module context menu: the shell's own context menu for the selected
// module's file, with the component's submenu "Vost" (menu 137) on top.
//
// Windows only (see page/commands.h for the build); contextMenuPoint is plain
// arithmetic and can be used anywhere.
#pragma once

#include <cstdint>

namespace vost {

struct DependencyExtension;

struct ScreenPoint {
    int x = 0;
    int y = 0;
};

// The point at which WM_CONTEXTMENU opens the menu: the cursor position for a
// keyboard request (lParam 0 or -1), else the signed 16-bit x (low word) and
// y (high word) packed in lParam; negative coordinates are left or above the
// primary monitor.
inline ScreenPoint contextMenuPoint(std::intptr_t lParam, ScreenPoint cursor) {
    const std::uint32_t packed = static_cast<std::uint32_t>(lParam);
    if (packed == 0 || packed == 0xFFFFFFFFu) return cursor;
    ScreenPoint point;
    point.x = static_cast<std::int16_t>(packed & 0xFFFFu);
    point.y = static_cast<std::int16_t>((packed >> 16) & 0xFFFFu);
    return point;
}

// Shows the menu with its top-left corner at the screen point (x, y), waits
// for the choice and acts on it: the component's own commands are posted to
// the page as WM_COMMAND, the shell's are invoked on the shell's object. No
// selection: no menu. A module without a file (not found), or whose path the
// shell cannot parse, gets the component's submenu alone (Explore greyed
// when it was not found).
void showModuleMenu(DependencyExtension& ext, int x, int y);

}  // namespace vost

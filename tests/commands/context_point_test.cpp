// Where WM_CONTEXTMENU opens the menu.
#include <windows.h>
#include <windowsx.h>

#include <gtest/gtest.h>

#include "page/module_menu.h"

namespace vost {
namespace {

TEST(ContextMenuPoint, KeyboardRequestsUseTheCursorAndClicksTheirSignedPoint) {
    const ScreenPoint cursor{321, 654};
    for (LPARAM keyboard : {LPARAM(0), LPARAM(-1), LPARAM(0xFFFFFFFF)}) {
        const ScreenPoint point = contextMenuPoint(keyboard, cursor);
        EXPECT_EQ(point.x, 321);
        EXPECT_EQ(point.y, 654);
    }
    struct Case {
        int x, y;
    };
    // Left of and above the primary monitor, the extremes, and a point whose
    // packed form has a zero word.
    for (Case c : {Case{-5, -7}, Case{-1280, 40}, Case{200, -1}, Case{-32768, 32767}, Case{0, 5}, Case{5, 0}}) {
        const LPARAM packed = MAKELPARAM(c.x, c.y);
        const ScreenPoint point = contextMenuPoint(packed, cursor);
        EXPECT_EQ(point.x, c.x);
        EXPECT_EQ(point.y, c.y);
        EXPECT_EQ(point.x, GET_X_LPARAM(packed));
        EXPECT_EQ(point.y, GET_Y_LPARAM(packed));
    }
}

}  // namespace
}  // namespace vost

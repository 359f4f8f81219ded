// What the scan's worker changes in the page's controls without waiting for
// an answer (list rows, has-children flags), held by the worker and carried
// out by the page's thread together with the next request that goes there
// anyway: each message from the worker to the page's thread is a round trip
// through the window system, and under Wine two trips through its server.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <array>
#include <string>
#include <vector>

#include "analysis/module_node.h"

namespace vost {

// Carries out a PageUpdates (the message's lParam) on the page's thread.
constexpr UINT kPageUpdatesMessage = WM_APP + 0x5604;

class PageUpdates {
public:
    // `page` answers kPageUpdatesMessage (answerPageRequest), and owns the controls.
    explicit PageUpdates(HWND page) : page_(page), pageThread_(GetWindowThreadProcessId(page, nullptr)) {}

    // Whether the caller is the worker (not the page's thread): only its
    // changes are held; the page's thread makes its own at once.
    bool fromWorker() const { return GetCurrentThreadId() != pageThread_; }
    // Held; on the worker's thread only.
    void addRow(HWND list, int position, const char* const (&cells)[5], ModuleNode* node);
    void setHasChildren(HWND tree, HTREEITEM item, int hasChildren);

    // Whether the caller may hand the held changes on: it is not the page's
    // thread (which only reads, as a sort does) and there are some.
    bool pending() const { return fromWorker() && (!rows_.empty() || !flags_.empty() || !held_.empty()); }
    // Sends them to the page's thread now (a reading of the controls must
    // see them); carried out here when the page does not answer.
    void flush();
    // Carries them out and forgets them: on the page's thread, inside a
    // request of the worker (which waits for it).
    void apply();

    // While the worker fills the controls, they are drawn a few times a
    // second, not after every request: each drawing of a control costs more
    // than the items it adds. On the page's thread, inside a request.
    void holdDrawing(HWND control);
    // Draws what was held, when the last drawing is long enough ago (or
    // `now`: the worker is about to read the controls, or is done).
    void drawHeld(bool now);

private:
    struct Row {
        HWND list;
        int position;
        std::array<std::string, 5> cells;
        ModuleNode* node;
    };
    struct Flag {
        HWND tree;
        HTREEITEM item;
        int hasChildren;
    };
    HWND page_;
    DWORD pageThread_;
    std::vector<Row> rows_;
    std::vector<Flag> flags_;
    std::vector<HWND> held_;  // controls whose drawing is held
    DWORD lastDrawn_ = GetTickCount();
};

// How long drawing is held at most while the worker fills the controls.
constexpr DWORD kDrawingHeldMs = 250;

}  // namespace vost

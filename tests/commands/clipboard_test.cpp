// The module list on the clipboard: exact bytes, order, and what is left
// behind when the clipboard or the memory is not to be had.
#include <windows.h>
#include <commctrl.h>

#include <cstring>
#include <thread>

#include "component/dependency_extension.h"
#include "page/check_marks.h"
#include "page/commands.h"
#include "tests/commands/import_hook.h"
#include "tests/commands/test_page.h"

namespace vost::test {
namespace {

std::string clipboardTextNow(HWND owner) {
    std::string text;
    if (!openClipboardSoon(owner)) return "<clipboard busy>";
    if (HANDLE data = GetClipboardData(CF_TEXT)) {
        if (const char* bytes = static_cast<const char*>(GlobalLock(data))) {
            text.assign(bytes, strnlen(bytes, GlobalSize(data)));
            GlobalUnlock(data);
        }
    } else {
        text = "<no text>";
    }
    CloseClipboard();
    return text;
}

void putText(HWND owner, const char* text) {
    ASSERT_TRUE(openClipboardSoon(owner));
    EmptyClipboard();
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, std::strlen(text) + 1);
    std::memcpy(GlobalLock(block), text, std::strlen(text) + 1);
    GlobalUnlock(block);
    SetClipboardData(CF_TEXT, block);
    CloseClipboard();
}

std::vector<HCURSOR> cursorsSet;
HCURSOR(WINAPI* realSetCursor)(HCURSOR) = nullptr;
HCURSOR WINAPI recordSetCursor(HCURSOR cursor) {
    cursorsSet.push_back(cursor);
    return realSetCursor(cursor);
}

class ClipboardTest : public PageTest {
protected:
    void SetUp() override {
        page->addRow(page->node("c:\\work\\view.exe", "VIEW.EXE"),
                     {"VIEW.EXE", "3/14/2021", "1.2.3.4", "1.2.0.0", "c:\\work\\view.exe"});
        page->addRow(page->node("c:\\work\\plain.dll", "PLAIN.DLL"),
                     {"PLAIN.DLL", "1/2/2003", "", "", "c:\\work\\plain.dll"});
        cursorsSet.clear();
        realSetCursor = reinterpret_cast<decltype(realSetCursor)>(cursorHook.original());
        ASSERT_TRUE(cursorHook.installed());
        SetCursor(LoadCursorA(nullptr, IDC_CROSS));
        cursorsSet.clear();
    }
    ImportHook cursorHook{"user32.dll", "SetCursor", reinterpret_cast<void*>(recordSetCursor)};
    const HCURSOR cross = LoadCursorA(nullptr, IDC_CROSS);
    const HCURSOR wait = LoadCursorA(nullptr, IDC_WAIT);
};

constexpr char kHeader[] = "Module\tDate\tFileversion\tProductversion\tPath\t\r\n\r\n";

TEST_F(ClipboardTest, HoldsHeaderEmptyLineAndTabTerminatedCellsInTheListsCurrentOrder) {
    copyToClipboard(page->extension());
    EXPECT_EQ(clipboardTextNow(page->window()), std::string(kHeader) +
                                                    "VIEW.EXE\t3/14/2021\t1.2.3.4\t1.2.0.0\tc:\\work\\view.exe\t\r\n"
                                                    "PLAIN.DLL\t1/2/2003\t\t\tc:\\work\\plain.dll\t\r\n");
    // The wait cursor while the text is made, then the cursor from before.
    EXPECT_EQ(cursorsSet, (std::vector<HCURSOR>{wait, cross}));

    // Sorted by module name, ascending: the clipboard follows the new order.
    page->list().sort(
        [](ModuleNode* first, ModuleNode* second, void*) { return lstrcmpiA(first->moduleName.c_str(), second->moduleName.c_str()); },
        nullptr);
    copyToClipboard(page->extension());
    EXPECT_EQ(clipboardTextNow(page->window()), std::string(kHeader) +
                                                    "PLAIN.DLL\t1/2/2003\t\t\tc:\\work\\plain.dll\t\r\n"
                                                    "VIEW.EXE\t3/14/2021\t1.2.3.4\t1.2.0.0\tc:\\work\\view.exe\t\r\n");
}

TEST_F(ClipboardTest, AnEmptyListGivesTheHeaderAlone) {
    SendMessageA(page->listWindow(), LVM_DELETEALLITEMS, 0, 0);
    copyToClipboard(page->extension());
    EXPECT_EQ(clipboardTextNow(page->window()), kHeader);
}

TEST_F(ClipboardTest, AClipboardHeldElsewhereKeepsItsContentsAndTheCursorComesBack) {
    putText(page->window(), "before");
    HANDLE held = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE release = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    std::thread holder([&] {
        HWND owner = CreateWindowExA(0, "STATIC", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
        openClipboardSoon(owner);
        SetEvent(held);
        WaitForSingleObject(release, 10000);
        CloseClipboard();
        DestroyWindow(owner);
    });
    WaitForSingleObject(held, 10000);

    copyToClipboard(page->extension());

    SetEvent(release);
    holder.join();
    CloseHandle(held);
    CloseHandle(release);
    EXPECT_EQ(clipboardTextNow(page->window()), "before");
    EXPECT_EQ(cursorsSet, (std::vector<HCURSOR>{wait, cross}));
    EXPECT_EQ(GetCursor(), cross);
}

HGLOBAL WINAPI failGlobalAlloc(UINT, SIZE_T) { return nullptr; }

TEST_F(ClipboardTest, NoMemoryForTheTextStillClosesTheClipboardAndRestoresTheCursor) {
    putText(page->window(), "before");
    {
        ImportHook noMemory("kernel32.dll", "GlobalAlloc", reinterpret_cast<void*>(failGlobalAlloc));
        ASSERT_TRUE(noMemory.installed());
        copyToClipboard(page->extension());
    }
    // Closed again: another window can open it. It was emptied, as the copy began.
    HWND other = CreateWindowExA(0, "STATIC", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    EXPECT_EQ(clipboardTextNow(other), "<no text>");
    DestroyWindow(other);
    EXPECT_EQ(cursorsSet, (std::vector<HCURSOR>{wait, cross}));
}

TEST_F(ClipboardTest, ProblemsAreCopiedOnlyOnceTheCheckIsDoneAndFoundSome) {
    DependencyExtension& ext = page->extension();
    const std::string lines = "unresolved APP.EXE -> LIB.DLL!g (not exported)\r\nnot-found APP.EXE -> GONE.DLL\r\n";
    const struct {
        std::uint8_t state;
        const char* problems;  // null: no check at all
        std::string clipboard;
    } cases[] = {
        {kScanRunning, lines.c_str(), "before"},  // the check's findings are not final yet
        {kScanFinished, nullptr, "before"},       // the page closed before its check
        {kScanFinished, "", "before"},            // nothing found
        {kScanFinished, lines.c_str(), lines},
    };
    for (const auto& c : cases) {
        putText(page->window(), "before");
        ext.scanState = c.state;
        auto marks = std::make_shared<CheckMarks>();
        if (c.problems) marks->problems = c.problems;
        ext.checkMarks = c.problems ? marks : nullptr;
        EXPECT_EQ(hasProblems(ext), c.clipboard != "before");
        copyProblemsToClipboard(ext);
        EXPECT_EQ(clipboardTextNow(page->window()), c.clipboard);
    }
    ext.checkMarks = nullptr;
}

}  // namespace
}  // namespace vost::test

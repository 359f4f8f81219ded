#include "tests/commands/test_page.h"

#include <commctrl.h>
#include <ole2.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "component/module_instance.h"
#include "page/commands.h"
#include "page/module_menu.h"
#include "platform/platform_factory.h"
#include "platform/win32/wide_text.h"
#include "resources/resource_ids.h"

namespace vost::test {

namespace {

constexpr char kClassName[] = "VostCommandsTestPage";
TestPage* current = nullptr;

HWND child(HWND parent, const char* className, const char* text, DWORD style, int id, int x, int y, int w,
           int h) {
    return CreateWindowExA(0, className, text, WS_CHILD | style, x, y, w, h, parent,
                           reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), GetModuleHandleA(nullptr),
                           nullptr);
}

}  // namespace

TestPage::TestPage() {
    current = this;
    window_ = CreateWindowExA(0, kClassName, "Dependencies", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 100, 100, 500,
                              420, nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
    child(window_, "BUTTON", "&Tree", WS_VISIBLE | BS_AUTORADIOBUTTON | BS_NOTIFY | WS_GROUP | WS_TABSTOP,
          IDC_SHOW_TREE, 10, 10, 60, 20);
    child(window_, "BUTTON", "&List", WS_VISIBLE | BS_AUTORADIOBUTTON, IDC_SHOW_LIST, 80, 10, 60, 20);
    tree_ = WindowTreeControl(child(window_, WC_TREEVIEWA, "Tree1",
                                    WS_VISIBLE | WS_BORDER | WS_TABSTOP | TVS_HASBUTTONS | TVS_HASLINES |
                                        TVS_LINESATROOT | TVS_SHOWSELALWAYS,
                                    IDC_MODULE_TREE, 10, 40, 460, 300));
    list_ = WindowListControl(child(window_, WC_LISTVIEWA, "List1",
                                    WS_BORDER | WS_TABSTOP | LVS_REPORT | LVS_SINGLESEL | LVS_SHOWSELALWAYS,
                                    IDC_MODULE_LIST, 10, 40, 460, 300));
    for (int column = 0; column < 5; ++column) {
        char heading[16] = {};
        LoadStringA(GetModuleHandleA(nullptr), IDS_COLUMN_MODULE + column, heading, sizeof heading);
        LVCOLUMNA record = {};
        record.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT | LVCF_SUBITEM;
        record.cx = 90;
        record.pszText = heading;
        record.iSubItem = column;
        SendMessageA(list_.window(), LVM_INSERTCOLUMNA, column, reinterpret_cast<LPARAM>(&record));
    }
    SendDlgItemMessageA(window_, IDC_SHOW_TREE, BM_SETCHECK, BST_CHECKED, 0);
    ext_.pageWindow = window_;
    platform_ = createPlatform(PlatformOptions{});
    pump();
}

TestPage::~TestPage() {
    DestroyWindow(window_);
    pump();
    current = nullptr;
}

ModuleNode* TestPage::node(const char* path, const char* name) {
    return nodes_.create(*platform_, path, name, nullptr, 0);
}

int TestPage::addRow(ModuleNode* node, const RowTexts& texts) {
    const int row = list_.insertRow(list_.rowCount(), texts.module, node);
    list_.setCellText(row, 1, texts.date);
    list_.setCellText(row, 2, texts.fileVersion);
    list_.setCellText(row, 3, texts.productVersion);
    list_.setCellText(row, 4, texts.path);
    return row;
}

int TestPage::addRow(ModuleNode* node) {
    return addRow(node, {node->moduleName.c_str(), "", node->fileVersion.c_str(), node->productVersion.c_str(), node->fullPath.c_str()});
}

TreeItem TestPage::addTreeItem(TreeItem parent, ModuleNode* node) {
    if (!parent) return tree_.insertRoot(node->moduleName.c_str(), 0, node);
    return tree_.insertSorted(parent, node->moduleName.c_str(), nullptr, node);
}

void TestPage::selectTreeItem(TreeItem item) {
    SendMessageA(tree_.window(), TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(item));
}

void TestPage::selectRow(int row) {
    LVITEMA state = {};
    state.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    state.state = 0;
    SendMessageA(list_.window(), LVM_SETITEMSTATE, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(&state));
    if (row < 0) return;
    state.state = LVIS_SELECTED | LVIS_FOCUSED;
    SendMessageA(list_.window(), LVM_SETITEMSTATE, row, reinterpret_cast<LPARAM>(&state));
}

void TestPage::showTree() {
    CheckRadioButton(window_, IDC_SHOW_TREE, IDC_SHOW_LIST, IDC_SHOW_TREE);
    ShowWindow(tree_.window(), SW_SHOW);
    ShowWindow(list_.window(), SW_HIDE);
}

void TestPage::showList() {
    CheckRadioButton(window_, IDC_SHOW_TREE, IDC_SHOW_LIST, IDC_SHOW_LIST);
    ShowWindow(list_.window(), SW_SHOW);
    ShowWindow(tree_.window(), SW_HIDE);
}

void TestPage::pump() {
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
}

LRESULT CALLBACK TestPage::procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    TestPage* page = current;
    if (!page || page->window_ != window) return DefWindowProcA(window, message, wParam, lParam);
    DependencyExtension& ext = page->ext_;
    switch (message) {
    case WM_CONTEXTMENU: {
        POINT cursor = {};
        GetCursorPos(&cursor);
        const ScreenPoint point = contextMenuPoint(lParam, ScreenPoint{cursor.x, cursor.y});
        showModuleMenu(ext, point.x, point.y);
        return 0;
    }
    case WM_COMMAND:
        if (lParam != 0) break;  // notifications of the radio buttons
        page->commands.push_back(wParam);
        if (page->onCommand) page->onCommand(wParam);
        switch (LOWORD(wParam)) {
        case IDM_SEND_FEEDBACK: sendFeedback(ext); break;
        case IDM_OPEN_HOME_PAGE: openHomePage(ext); break;
        case IDM_EXPLORE_MODULE: exploreSelectedModule(ext); break;
        case IDM_COPY_TO_CLIPBOARD: copyToClipboard(ext); break;
        case IDM_COPY_PROBLEMS: copyProblemsToClipboard(ext); break;
        case IDM_COPY_ALL_TO_FOLDER: copyAllToFolder(ext); break;
        }
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

std::string freshFolder(const std::string& name) {
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    const std::string folder =
        utf8Text(temp) + "vost-commands-" + std::to_string(GetCurrentProcessId()) + "-" + name;
    // Left over from an earlier run of this process id: empty it.
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(wideText(folder + "\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
                DeleteFileW(wideText(folder + "\\" + utf8Text(found.cFileName)).c_str());
        } while (FindNextFileW(search, &found));
        FindClose(search);
    }
    CreateDirectoryW(wideText(folder).c_str(), nullptr);
    return folder;
}

void writeFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(std::filesystem::path(wideText(path)), std::ios::binary | std::ios::trunc);
    out << bytes;
}

std::string readFile(const std::string& path) {
    std::ifstream in(std::filesystem::path(wideText(path)), std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

bool fileExists(const std::string& path) {
    return GetFileAttributesW(wideText(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool openClipboardSoon(HWND owner) {
    for (int attempt = 0; attempt < 500; ++attempt) {
        if (OpenClipboard(owner)) return true;
        Sleep(10);
    }
    return false;
}

std::string programFolder() {
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string folder(path);
    return folder.substr(0, folder.find_last_of('\\') + 1);
}

namespace {
struct WindowSearch {
    const char* className;
    const char* title;
    std::vector<HWND> found;
};

BOOL CALLBACK collectWindow(HWND window, LPARAM parameter) {
    auto& search = *reinterpret_cast<WindowSearch*>(parameter);
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    if (process != GetCurrentProcessId() || !IsWindowVisible(window)) return TRUE;
    char name[64] = {};
    GetClassNameA(window, name, sizeof name);
    if (lstrcmpiA(name, search.className) != 0) return TRUE;
    if (search.title) {
        char text[128] = {};
        GetWindowTextA(window, text, sizeof text);
        if (lstrcmpA(text, search.title) != 0) return TRUE;
    }
    search.found.push_back(window);
    return TRUE;
}
}  // namespace

std::vector<HWND> visibleWindows(const char* className, const char* title) {
    WindowSearch search{className, title, {}};
    EnumWindows(collectWindow, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

HWND waitForWindow(const char* className, const char* title, size_t count) {
    for (int attempt = 0; attempt < 1000; ++attempt) {
        std::vector<HWND> found = visibleWindows(className, title);
        if (found.size() >= count) return found.front();
        Sleep(10);
    }
    return nullptr;
}

}  // namespace vost::test

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    OleInitialize(nullptr);
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_TREEVIEW_CLASSES | ICC_LISTVIEW_CLASSES};
    InitCommonControlsEx(&controls);
    // The page's resources (menu 137, strings 1 to 5) are linked into this program.
    vost::moduleInstance = GetModuleHandleA(nullptr);
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = vost::test::TestPage::procedure;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    windowClass.lpszClassName = vost::test::kClassName;
    RegisterClassA(&windowClass);
    const int result = RUN_ALL_TESTS();
    OleUninitialize();
    return result;
}

#include "tests/shell/shell_host.h"

#include <commctrl.h>
#include <prsht.h>

#include <algorithm>
#include <atomic>
#include <thread>

#include "component/class_id.h"
#include "platform/win32/wide_text.h"
#include "resources/resource_ids.h"

namespace vost::test {

std::string programFolder() {
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string folder = path;
    return folder.substr(0, folder.find_last_of('\\') + 1);
}

Component& Component::get() {
    static Component component = [] {
        Component c;
        c.module = LoadLibraryA((programFolder() + "vost.dll").c_str());
        if (c.module) {
            c.getClassObject = reinterpret_cast<decltype(c.getClassObject)>(
                reinterpret_cast<void*>(GetProcAddress(c.module, "DllGetClassObject")));
            c.canUnloadNow = reinterpret_cast<decltype(c.canUnloadNow)>(
                reinterpret_cast<void*>(GetProcAddress(c.module, "DllCanUnloadNow")));
        }
        return c;
    }();
    return component;
}

namespace {
// Paths are UTF-8, as the component keeps them.
std::wstring wide(const std::string& text) { return wideText(text); }

// Item-ID lists from the shell's allocator.
struct IdList {
    LPITEMIDLIST p = nullptr;
    ~IdList() { CoTaskMemFree(p); }
};
}  // namespace

ComPtr<IDataObject> shellDataObject(const std::vector<std::string>& files) {
    ComPtr<IShellFolder> desktop;
    if (FAILED(SHGetDesktopFolder(desktop.put()))) return {};
    std::vector<IdList> full(files.size());
    std::vector<LPCITEMIDLIST> children;
    ComPtr<IShellFolder> parent;
    for (std::size_t i = 0; i < files.size(); ++i) {
        std::wstring name = wide(files[i]);
        if (FAILED(desktop->ParseDisplayName(nullptr, nullptr, &name[0], nullptr, &full[i].p,
                                             nullptr)))
            return {};
        LPCITEMIDLIST child = nullptr;
        ComPtr<IShellFolder> folder;
        if (FAILED(SHBindToParent(full[i].p, IID_IShellFolder, folder.putVoid(), &child))) return {};
        if (i == 0) parent = std::move(folder);
        children.push_back(child);
    }
    ComPtr<IDataObject> data;
    if (FAILED(parent->GetUIObjectOf(nullptr, UINT(children.size()), children.data(),
                                     IID_IDataObject, nullptr, data.putVoid())))
        return {};
    return data;
}

ComPtr<IShellExtInit> createExtension() {
    ComPtr<IClassFactory> factory;
    if (FAILED(Component::get().getClassObject(kExtensionClassId, IID_IClassFactory,
                                               factory.putVoid())))
        return {};
    ComPtr<IShellExtInit> ext;
    factory->CreateInstance(nullptr, IID_IShellExtInit, ext.putVoid());
    return ext;
}

namespace {
struct Collected {
    std::vector<HPROPSHEETPAGE> pages;
    BOOL accept;
};
BOOL CALLBACK collectPage(HPROPSHEETPAGE page, LPARAM lParam) {
    auto* collected = reinterpret_cast<Collected*>(lParam);
    if (collected->accept) collected->pages.push_back(page);
    return collected->accept;
}

// A blank dialog template for the sheet's first page.
struct BlankTemplate {
    DLGTEMPLATE header;
    WORD menu, windowClass, title;
};
const BlankTemplate kBlankTemplate = {
    {WS_CHILD | WS_DISABLED | WS_CAPTION, 0, 0, 0, 0, 235, 198}, 0, 0, 0};

INT_PTR CALLBACK blankPageProc(HWND, UINT message, WPARAM, LPARAM) {
    return message == WM_INITDIALOG;
}
}  // namespace

std::vector<HPROPSHEETPAGE> addPages(IShellExtInit* ext, BOOL accept) {
    ComPtr<IShellPropSheetExt> sheetExt;
    if (FAILED(ext->QueryInterface(IID_IShellPropSheetExt, sheetExt.putVoid()))) return {};
    Collected collected{{}, accept};
    sheetExt->AddPages(collectPage, reinterpret_cast<LPARAM>(&collected));
    return collected.pages;
}

Sheet::Sheet(const std::vector<HPROPSHEETPAGE>& pages, int startPage) {
    PROPSHEETPAGEA blank{};
    blank.dwSize = sizeof blank;
    blank.dwFlags = PSP_DLGINDIRECT | PSP_USETITLE;
    blank.pResource = &kBlankTemplate.header;
    blank.pszTitle = "First";
    blank.pfnDlgProc = blankPageProc;
    std::vector<HPROPSHEETPAGE> all{CreatePropertySheetPageA(&blank)};
    all.insert(all.end(), pages.begin(), pages.end());

    PROPSHEETHEADERA header{};
    header.dwSize = sizeof header;
    header.dwFlags = PSH_MODELESS | PSH_NOAPPLYNOW;
    header.pszCaption = "Properties";
    header.nPages = UINT(all.size());
    header.nStartPage = UINT(startPage);
    header.phpage = all.data();
    sheet_ = reinterpret_cast<HWND>(PropertySheetA(&header));
    if (sheet_ == reinterpret_cast<HWND>(-1)) sheet_ = nullptr;
}

Sheet::~Sheet() { close(); }

HWND Sheet::page(int index) const {
    return reinterpret_cast<HWND>(SendMessageA(sheet_, PSM_INDEXTOHWND, index, 0));
}

void Sheet::select(int index) { SendMessageA(sheet_, PSM_SETCURSEL, index, 0); }

void Sheet::close() {
    if (sheet_) DestroyWindow(sheet_);
    sheet_ = nullptr;
    pumpFor(0);
}

int Sheet::tabImage(int index) const {
    HWND tab = reinterpret_cast<HWND>(SendMessageA(sheet_, PSM_GETTABCONTROL, 0, 0));
    TCITEMA item{};
    item.mask = TCIF_IMAGE;
    item.iImage = -1;
    SendMessageA(tab, TCM_GETITEMA, index, reinterpret_cast<LPARAM>(&item));
    return item.iImage;
}

bool pumpUntil(const std::function<bool()>& done, DWORD timeoutMs) {
    const DWORD start = GetTickCount();
    for (;;) {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        if (done()) return true;
        if (GetTickCount() - start > timeoutMs) return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    }
}

void pumpFor(DWORD ms) {
    const DWORD start = GetTickCount();
    pumpUntil([&] { return GetTickCount() - start >= ms; }, ms + 1000);
}

namespace {
struct BoxSearch {
    const char* caption;
    std::vector<HWND> boxes;
};
BOOL CALLBACK findBox(HWND window, LPARAM lParam) {
    auto* search = reinterpret_cast<BoxSearch*>(lParam);
    char className[64] = {}, title[256] = {};
    GetClassNameA(window, className, sizeof className);
    GetWindowTextA(window, title, sizeof title);
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    if (process == GetCurrentProcessId() && std::string(className) == "#32770" &&
        std::string(title) == search->caption && IsWindowVisible(window))
        search->boxes.push_back(window);
    return TRUE;
}
BOOL CALLBACK collectStatic(HWND child, LPARAM lParam) {
    char className[64] = {}, text[512] = {};
    GetClassNameA(child, className, sizeof className);
    if (lstrcmpiA(className, "Static") == 0 && GetWindowTextA(child, text, sizeof text) > 0)
        *reinterpret_cast<std::string*>(lParam) += text;
    return TRUE;
}
}  // namespace

std::vector<std::string> closeMessageBoxes(const char* caption) {
    BoxSearch search{caption, {}};
    EnumWindows(findBox, reinterpret_cast<LPARAM>(&search));
    std::vector<std::string> texts;
    // A box stays on screen until its thread takes the posted IDOK.
    static std::vector<HWND> closing;
    for (HWND box : search.boxes) {
        if (std::find(closing.begin(), closing.end(), box) != closing.end()) continue;
        closing.push_back(box);
        std::string text;
        EnumChildWindows(box, collectStatic, reinterpret_cast<LPARAM>(&text));
        texts.push_back(std::string(caption) + "|" + text);
        PostMessageA(box, WM_COMMAND, IDOK, 0);
    }
    return texts;
}

OpenedPage openPage(const std::string& file) {
    OpenedPage opened;
    ComPtr<IDataObject> data = shellDataObject({file});
    opened.ext = createExtension();
    if (!data || !opened.ext) return opened;
    opened.ext->Initialize(nullptr, data.get(), nullptr);
    std::vector<HPROPSHEETPAGE> pages = addPages(opened.ext.get());
    if (pages.size() != 1) return opened;
    opened.sheet = std::make_unique<Sheet>(pages, 1);
    opened.page = opened.sheet->page(1);
    DependencyExtension& record = recordOf(opened.ext.get());
    pumpUntil([&] {
        for (const char* caption : {"VOST", "Quillon"})
            for (const std::string& text : closeMessageBoxes(caption)) opened.messages.push_back(text);
        return record.scanState == kScanFinished;
    });
    return opened;
}

std::string itemText(HWND tree, HTREEITEM item, int* hasChildren) {
    std::wstring text(4096, L'\0');
    TVITEMW record{};
    record.mask = TVIF_TEXT | TVIF_CHILDREN | TVIF_HANDLE;
    record.hItem = item;
    record.pszText = &text[0];
    record.cchTextMax = int(text.size());
    SendMessageW(tree, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&record));
    *hasChildren = record.cChildren;
    return utf8Text(text.c_str());
}

namespace {
std::vector<TreeEntry> readSiblings(HWND tree, HTREEITEM first) {
    std::vector<TreeEntry> entries;
    for (HTREEITEM item = first; item;
         item = reinterpret_cast<HTREEITEM>(
             SendMessageA(tree, TVM_GETNEXTITEM, TVGN_NEXT, reinterpret_cast<LPARAM>(item)))) {
        TreeEntry entry;
        entry.label = itemText(tree, item, &entry.hasChildren);
        TVITEMA image{};
        image.mask = TVIF_IMAGE | TVIF_HANDLE;
        image.hItem = item;
        if (SendMessageA(tree, TVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&image))) entry.image = image.iImage;
        entry.stateImage = int(SendMessageA(tree, TVM_GETITEMSTATE, reinterpret_cast<WPARAM>(item),
                                            TVIS_STATEIMAGEMASK) >> 12);
        if (entry.stateImage) {
            // Asked of the page as the control asks when the mouse rests on the item.
            char text[INFOTIPSIZE] = {};
            NMTVGETINFOTIPA ask{};
            ask.hdr = NMHDR{tree, UINT_PTR(GetDlgCtrlID(tree)), UINT(TVN_GETINFOTIPA)};
            ask.pszText = text;
            ask.cchTextMax = sizeof text;
            ask.hItem = item;
            SendMessageA(GetParent(tree), WM_NOTIFY, ask.hdr.idFrom, reinterpret_cast<LPARAM>(&ask));
            entry.tip = text;
        }
        entry.children = readSiblings(
            tree, reinterpret_cast<HTREEITEM>(
                      SendMessageA(tree, TVM_GETNEXTITEM, TVGN_CHILD, reinterpret_cast<LPARAM>(item))));
        entries.push_back(std::move(entry));
    }
    return entries;
}
}  // namespace

std::vector<TreeEntry> readTree(HWND page) {
    HWND tree = GetDlgItem(page, 1000);
    return readSiblings(tree, reinterpret_cast<HTREEITEM>(
                                  SendMessageA(tree, TVM_GETNEXTITEM, TVGN_ROOT, 0)));
}

std::vector<ListRow> readList(HWND page) {
    HWND list = GetDlgItem(page, 1012);
    std::vector<ListRow> rows(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0));
    for (std::size_t row = 0; row < rows.size(); ++row) {
        for (int column = 0; column < 5; ++column) {
            std::wstring text(4096, L'\0');
            LVITEMW item{};
            item.iSubItem = column;
            item.pszText = &text[0];
            item.cchTextMax = int(text.size());
            SendMessageW(list, LVM_GETITEMTEXTW, row, reinterpret_cast<LPARAM>(&item));
            rows[row][column] = utf8Text(text.c_str());
        }
    }
    return rows;
}

std::vector<std::pair<int, std::string>> readRowMarks(HWND page) {
    HWND list = GetDlgItem(page, 1012);
    std::vector<std::pair<int, std::string>> rows(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0));
    for (std::size_t row = 0; row < rows.size(); ++row) {
        rows[row].first = int(SendMessageA(list, LVM_GETITEMSTATE, row, LVIS_STATEIMAGEMASK) >> 12);
        if (!rows[row].first) continue;
        char text[INFOTIPSIZE] = {};
        NMLVGETINFOTIPA ask{};
        ask.hdr = NMHDR{list, UINT_PTR(GetDlgCtrlID(list)), UINT(LVN_GETINFOTIPA)};
        ask.dwFlags = LVGIT_UNFOLDED;
        ask.pszText = text;
        ask.cchTextMax = sizeof text;
        ask.iItem = int(row);
        SendMessageA(page, WM_NOTIFY, ask.hdr.idFrom, reinterpret_cast<LPARAM>(&ask));
        rows[row].second = text;
    }
    return rows;
}

bool isVisible(HWND page, int id) {
    return (GetWindowLongA(GetDlgItem(page, id), GWL_STYLE) & WS_VISIBLE) != 0;
}

void click(HWND page, int id, WORD code) {
    SendMessageA(page, WM_COMMAND, MAKEWPARAM(id, code), reinterpret_cast<LPARAM>(GetDlgItem(page, id)));
}

void clickColumn(HWND window, int column, int listId) {
    NMLISTVIEW notice{};
    notice.hdr.hwndFrom = GetDlgItem(window, listId);
    notice.hdr.idFrom = UINT_PTR(listId);
    notice.hdr.code = LVN_COLUMNCLICK;
    notice.iItem = -1;
    notice.iSubItem = column;
    SendMessageA(window, WM_NOTIFY, WPARAM(listId), reinterpret_cast<LPARAM>(&notice));
}

std::string clipboardText(HWND owner) {
    std::string text;
    if (!OpenClipboard(owner)) return "<busy>";
    if (HANDLE data = GetClipboardData(CF_UNICODETEXT)) {
        text = utf8Text(static_cast<const wchar_t*>(GlobalLock(data)));
        GlobalUnlock(data);
    }
    CloseClipboard();
    return text;
}

std::string windowText(HWND window) {
    std::wstring text(std::size_t(GetWindowTextLengthW(window)) + 1, L'\0');
    text.resize(std::size_t(GetWindowTextW(window, &text[0], int(text.size()))));
    return utf8Text(text);
}

namespace {
// The visible "Functions of ..." window of `thread`; null when none.
BOOL CALLBACK takeFunctionsDialog(HWND window, LPARAM out) {
    if (!IsWindowVisible(window) || windowText(window).rfind("Functions of ", 0) != 0) return TRUE;
    *reinterpret_cast<HWND*>(out) = window;
    return FALSE;
}
HWND functionsDialogOf(DWORD thread) {
    HWND found = nullptr;
    EnumThreadWindows(thread, takeFunctionsDialog, reinterpret_cast<LPARAM>(&found));
    return found;
}
}  // namespace

bool withFunctionsDialog(HWND page, const std::function<void(HWND)>& use) {
    const DWORD thread = GetCurrentThreadId();
    std::atomic<bool> opened{false}, returned{false}, done{false};
    std::thread reader([&] {
        HWND dialog = nullptr;
        for (int tries = 0; tries < 600 && !returned && !(dialog = functionsDialogOf(thread)); ++tries) Sleep(50);
        if (dialog) {
            opened = true;
            use(dialog);
            PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
        }
        done = true;
    });
    SendMessageW(page, WM_COMMAND, MAKEWPARAM(IDM_SHOW_FUNCTIONS, 0), 0);
    returned = true;
    pumpUntil([&] { return done.load(); });
    reader.join();
    return opened;
}

bool selectModule(HWND page, const std::string& module, bool inList) {
    const int view = inList ? IDC_SHOW_LIST : IDC_SHOW_TREE;
    CheckRadioButton(page, IDC_SHOW_TREE, IDC_SHOW_LIST, view);
    click(page, view);
    if (inList) {
        HWND list = GetDlgItem(page, IDC_MODULE_LIST);
        const std::vector<ListRow> rows = readList(page);
        for (std::size_t row = 0; row < rows.size(); ++row) {
            if (lstrcmpiA(rows[row][0].c_str(), module.c_str()) != 0) continue;
            LVITEMA state{};
            state.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
            state.state = LVIS_SELECTED | LVIS_FOCUSED;
            SendMessageA(list, LVM_SETITEMSTATE, row, reinterpret_cast<LPARAM>(&state));
            return true;
        }
        return false;
    }
    HWND tree = GetDlgItem(page, IDC_MODULE_TREE);
    auto root = reinterpret_cast<HTREEITEM>(SendMessageA(tree, TVM_GETNEXTITEM, TVGN_ROOT, 0));
    for (auto item = reinterpret_cast<HTREEITEM>(SendMessageA(tree, TVM_GETNEXTITEM, TVGN_CHILD, LPARAM(root)));
         item; item = reinterpret_cast<HTREEITEM>(SendMessageA(tree, TVM_GETNEXTITEM, TVGN_NEXT, LPARAM(item)))) {
        int hasChildren = 0;
        const std::string label = itemText(tree, item, &hasChildren);
        if (label.compare(0, module.size(), module) != 0 || label[module.size()] != ' ') continue;
        SendMessageA(tree, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(item));
        return true;
    }
    return false;
}


}  // namespace vost::test

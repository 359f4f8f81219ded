#include "component/extension_object.h"

#include <cstddef>
#include <new>

#include <shellapi.h>
#include <shlobj.h>

#include "component/module_instance.h"
#include "component/object_count.h"
#include "page/page_dialog.h"
#include "platform/win32/registry_text.h"
#include "platform/win32/system_folders.h"
#include "platform/win32/wide_text.h"
#include "resources/resource_ids.h"

namespace vost {
namespace {

// Interface tables in slot order. The first slot's `self` is the address of
// the table pointer inside the record.
struct ShellExtInitTable {
    HRESULT(STDMETHODCALLTYPE* QueryInterface)(const void**, REFIID, void**);
    ULONG(STDMETHODCALLTYPE* AddRef)(const void**);
    ULONG(STDMETHODCALLTYPE* Release)(const void**);
    HRESULT(STDMETHODCALLTYPE* Initialize)(const void**, LPCITEMIDLIST, IDataObject*, HKEY);
};

struct PropSheetExtTable {
    HRESULT(STDMETHODCALLTYPE* QueryInterface)(const void**, REFIID, void**);
    ULONG(STDMETHODCALLTYPE* AddRef)(const void**);
    ULONG(STDMETHODCALLTYPE* Release)(const void**);
    HRESULT(STDMETHODCALLTYPE* AddPages)(const void**, LPFNADDPROPSHEETPAGE, LPARAM);
    HRESULT(STDMETHODCALLTYPE* ReplacePage)(const void**, UINT, LPFNADDPROPSHEETPAGE, LPARAM);
};

// The record begins with the two table pointers (standard layout).
DependencyExtension* fromPrimary(const void** self) {
    return reinterpret_cast<DependencyExtension*>(self);
}
DependencyExtension* fromSecondary(const void** self) {
    return reinterpret_cast<DependencyExtension*>(self - 1);
}

IDataObject* heldDataObject(DependencyExtension* self) {
    return static_cast<IDataObject*>(self->dataObject);
}

LONG* refCountCell(DependencyExtension* self) {
    static_assert(sizeof(self->refCount) == sizeof(LONG), "refCount is one 32-bit cell");
    return reinterpret_cast<LONG*>(&self->refCount);
}

HRESULT STDMETHODCALLTYPE primaryQueryInterface(const void** self, REFIID riid, void** ppv) {
    return extensionQueryInterface(fromPrimary(self), riid, ppv);
}
ULONG STDMETHODCALLTYPE primaryAddRef(const void** self) {
    return extensionAddRef(fromPrimary(self));
}
ULONG STDMETHODCALLTYPE primaryRelease(const void** self) {
    return extensionRelease(fromPrimary(self));
}
HRESULT STDMETHODCALLTYPE secondaryQueryInterface(const void** self, REFIID riid, void** ppv) {
    return extensionQueryInterface(fromSecondary(self), riid, ppv);
}
ULONG STDMETHODCALLTYPE secondaryAddRef(const void** self) {
    return extensionAddRef(fromSecondary(self));
}
ULONG STDMETHODCALLTYPE secondaryRelease(const void** self) {
    return extensionRelease(fromSecondary(self));
}

HRESULT STDMETHODCALLTYPE initialize(const void** selfTable, LPCITEMIDLIST, IDataObject* data, HKEY) {
    DependencyExtension* self = fromPrimary(selfTable);
    if (IDataObject* previous = heldDataObject(self)) {
        self->dataObject = nullptr;
        previous->Release();
    }
    if (data != nullptr) {
        self->dataObject = data;
        data->AddRef();
    }
    return S_OK;
}

// Releases a storage medium that GetData filled.
class MediumGuard {
public:
    STGMEDIUM medium{};
    bool filled = false;
    ~MediumGuard() {
        if (filled) ReleaseStgMedium(&medium);
    }
};

// Takes the single selected file from the data object, as UTF-8 of any
// length. False when no page is to be added: no CF_HDROP data, more than one
// file, or a name that is no valid UTF-16 (an unpaired surrogate: it could
// only be passed on as another file's name).
bool takeSelectedFile(DependencyExtension* self, MediumGuard& guard) {
    IDataObject* data = heldDataObject(self);
    if (data == nullptr) return true;
    FORMATETC format = {CF_HDROP, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
    if (FAILED(data->GetData(&format, &guard.medium))) return false;
    guard.filled = true;
    if (guard.medium.tymed != TYMED_HGLOBAL || guard.medium.hGlobal == nullptr) return true;
    HDROP drop = static_cast<HDROP>(guard.medium.hGlobal);
    UINT count = DragQueryFileW(drop, 0xFFFFFFFF, nullptr, 0);
    if (count >= 2) return false;
    if (count == 1) {
        const UINT length = DragQueryFileW(drop, 0, nullptr, 0);
        if (length == 0) return false;
        std::wstring wide(std::size_t(length) + 1, L'\0');
        if (DragQueryFileW(drop, 0, &wide[0], length + 1) != length) return false;
        wide.resize(length);
        if (!toUtf8(wide, self->selectedPath)) return false;
    }
    return true;
}

HRESULT STDMETHODCALLTYPE addPages(const void** selfTable, LPFNADDPROPSHEETPAGE addPage,
                                   LPARAM lParam) {
    DependencyExtension* self = fromSecondary(selfTable);
    MediumGuard medium;
    if (!takeSelectedFile(self, medium)) return S_OK;
    // Without a file there is nothing to show: no data object was given, or
    // its drop list was empty.
    if (self->selectedPath.empty()) return S_OK;

    const bool withIcon = usePageIcon();
    // A Unicode page: its controls then send the ...W notifications, whose
    // texts (the tips) hold any character.
    PROPSHEETPAGEW page{};
    // The form with header-title fields: 48 bytes in the 32-bit build, 88 in
    // the 64-bit one (the platform refuses a size it does not know).
    constexpr UINT kPageRecordSize = offsetof(PROPSHEETPAGEW, pszHeaderSubTitle) + sizeof(LPCWSTR);
    static_assert(kPageRecordSize == (sizeof(void*) == 8 ? 88 : 48),
                  "the page record with header-title fields");
    page.dwSize = kPageRecordSize;
    page.dwFlags = PSP_USETITLE | PSP_USEREFPARENT | PSP_USECALLBACK;
    page.hInstance = static_cast<HINSTANCE>(moduleInstance);
    page.pszTemplate = MAKEINTRESOURCEW(IDD_DEPENDENCIES_PAGE);
    if (withIcon) {
        page.dwFlags |= PSP_USEHICON;
        page.hIcon = LoadIconW(static_cast<HINSTANCE>(moduleInstance),
                               MAKEINTRESOURCEW(IDI_PAGE_ICON));
    }
    page.pszTitle = L"Dependencies";
    page.pfnDlgProc = pageDialogProc;
    page.lParam = reinterpret_cast<LPARAM>(self);
    page.pfnCallback = pageCallback;
    page.pcRefParent = reinterpret_cast<UINT*>(&objectCount);

    HPROPSHEETPAGE handle = CreatePropertySheetPageW(&page);
    if (handle == nullptr) return S_OK;
    extensionAddRef(self);  // the page's reference, dropped by pageCallback
    if (!addPage(handle, lParam)) DestroyPropertySheetPage(handle);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE replacePage(const void**, UINT, LPFNADDPROPSHEETPAGE, LPARAM) {
    return E_FAIL;
}

const ShellExtInitTable kShellExtInitTable = {primaryQueryInterface, primaryAddRef,
                                              primaryRelease, initialize};
const PropSheetExtTable kPropSheetExtTable = {secondaryQueryInterface, secondaryAddRef,
                                              secondaryRelease, addPages, replacePage};

// A 64-bit process, or a 32-bit one on 64-bit Windows.
bool settingsIn64BitView() { return sizeof(void*) == 8 || systemFolders().redirected(); }

}  // namespace

DependencyExtension* newDependencyExtension() {
    DependencyExtension* extension = new (std::nothrow) DependencyExtension;
    if (extension == nullptr) return nullptr;
    extension->shellExtInitTable = &kShellExtInitTable;
    extension->propSheetExtTable = &kPropSheetExtTable;
    raiseObjectCount();
    return extension;
}

void deleteDependencyExtension(DependencyExtension* extension) {
    if (IDataObject* data = heldDataObject(extension)) data->Release();
    delete extension;
    lowerObjectCount();
}

HRESULT STDMETHODCALLTYPE extensionQueryInterface(DependencyExtension* self, REFIID riid, void** ppv) {
    if (ppv == nullptr) return E_POINTER;
    *ppv = nullptr;
    if (IsEqualIID(riid, IID_IShellExtInit) || IsEqualIID(riid, IID_IUnknown))
        *ppv = &self->shellExtInitTable;
    else if (IsEqualIID(riid, IID_IShellPropSheetExt))
        *ppv = &self->propSheetExtTable;
    else
        return E_NOINTERFACE;
    extensionAddRef(self);
    return S_OK;
}

ULONG STDMETHODCALLTYPE extensionAddRef(DependencyExtension* self) {
    return ULONG(InterlockedIncrement(refCountCell(self)));
}

ULONG STDMETHODCALLTYPE extensionRelease(DependencyExtension* self) {
    LONG count = InterlockedDecrement(refCountCell(self));
    if (count != 0) return ULONG(count);
    deleteDependencyExtension(self);
    return 0;
}

bool usePageIcon() {
    // On 64-bit Windows the 32-bit and the 64-bit DLL read the setting from
    // the same place, the 64-bit registry view, so that one value serves the
    // pages of both.
    // Read access only: a user who is no administrator (an Explorer under
    // UAC) may read HKLM but not write it. A missing key is no setting.
    const REGSAM access = KEY_READ | (settingsIn64BitView() ? KEY_WOW64_64KEY : 0);
    // A value that does not fit the setting's 10 bytes, its end included, is
    // no setting either.
    std::string value;
    if (!readRegistryText(HKEY_LOCAL_MACHINE, "Software\\Aldervane\\VOST", L"MiniIcon", value, access) ||
        value.size() + 1 > 10)
        return true;
    return value.empty() || value[0] != '0';
}

UINT CALLBACK pageCallback(HWND, UINT message, LPPROPSHEETPAGEW page) {
    if (message == PSPCB_RELEASE && page != nullptr)
        extensionRelease(reinterpret_cast<DependencyExtension*>(page->lParam));
    return 1;
}

}  // namespace vost

// The component's COM boundary as a shell meets it: the exported functions,
// the class factory, the extension object and AddPages.
#include <gtest/gtest.h>

#include <windows.h>
#include <shlobj.h>

#include <cstring>
#include <string>
#include <vector>

#include "component/class_id.h"
#include "tests/shell/shell_host.h"
#include "tests/windows/temp_folder.h"

namespace vost::test {
namespace {

class ComponentTest : public testing::Test {
protected:
    void SetUp() override {
        CoInitialize(nullptr);
        ASSERT_NE(component.module, nullptr);
    }
    void TearDown() override { CoUninitialize(); }
    HRESULT canUnload() { return component.canUnloadNow(); }
    Component& component = Component::get();
};

TEST_F(ComponentTest, FactoryKeepsTheLibraryUntilReleased) {
    EXPECT_EQ(canUnload(), S_OK);  // at load
    IClassFactory* factory = nullptr;
    ASSERT_EQ(component.getClassObject(kExtensionClassId, IID_IClassFactory,
                                       reinterpret_cast<void**>(&factory)),
              S_OK);
    EXPECT_EQ(canUnload(), S_FALSE);
    EXPECT_EQ(factory->AddRef(), 2u);
    EXPECT_EQ(factory->Release(), 1u);
    EXPECT_EQ(factory->LockServer(TRUE), S_OK);  // not counted
    EXPECT_EQ(factory->Release(), 0u);
    EXPECT_EQ(canUnload(), S_OK);
}

TEST_F(ComponentTest, RefusedRequestsLeaveNothingBehind) {
    void* out = reinterpret_cast<void*>(1);
    EXPECT_EQ(component.getClassObject(IID_IShellExtInit, IID_IClassFactory, &out),
              CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(out, nullptr);

    out = reinterpret_cast<void*>(1);
    EXPECT_EQ(component.getClassObject(kExtensionClassId, IID_IShellExtInit, &out), E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(canUnload(), S_OK);

    ComPtr<IClassFactory> factory;
    ASSERT_EQ(component.getClassObject(kExtensionClassId, IID_IUnknown, factory.putVoid()), S_OK);
    ComPtr<IUnknown> outer;
    factory->QueryInterface(IID_IUnknown, outer.putVoid());
    out = reinterpret_cast<void*>(1);
    EXPECT_EQ(factory->CreateInstance(outer.get(), IID_IUnknown, &out), CLASS_E_NOAGGREGATION);
    EXPECT_EQ(out, nullptr);
    out = reinterpret_cast<void*>(1);
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_IContextMenu, &out), E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);
    outer.reset();
    factory.reset();
    EXPECT_EQ(canUnload(), S_OK);  // neither a refused nor an aggregated object survives
}

TEST_F(ComponentTest, ExtensionInterfacesShareOneObject) {
    ComPtr<IShellExtInit> init = createExtension();
    ASSERT_TRUE(init);
    const DependencyExtension& record = recordOf(init.get());
    EXPECT_EQ(record.selectedPath[0], '\0');
    EXPECT_EQ(record.dataObject, nullptr);
    EXPECT_EQ(record.sortColumn, -1);
    EXPECT_EQ(record.sortAscending, 1);
    EXPECT_EQ(record.refCount, 1u);

    ComPtr<IUnknown> unknown;
    ASSERT_EQ(init->QueryInterface(IID_IUnknown, unknown.putVoid()), S_OK);
    EXPECT_EQ(static_cast<void*>(unknown.get()), static_cast<void*>(init.get()));
    ComPtr<IUnknown> other;
    EXPECT_EQ(init->QueryInterface(IID_IContextMenu, other.putVoid()), E_NOINTERFACE);
    EXPECT_FALSE(other);
    EXPECT_EQ(record.refCount, 2u);

    IShellPropSheetExt* sheetExt = nullptr;
    ASSERT_EQ(init->QueryInterface(IID_IShellPropSheetExt, reinterpret_cast<void**>(&sheetExt)), S_OK);
    EXPECT_NE(static_cast<void*>(sheetExt), static_cast<void*>(init.get()));
    EXPECT_EQ(sheetExt->ReplacePage(0, nullptr, 0), E_FAIL);
    ComPtr<IShellExtInit> back;
    ASSERT_EQ(sheetExt->QueryInterface(IID_IShellExtInit, back.putVoid()), S_OK);
    EXPECT_EQ(back.get(), init.get());
    back.reset();

    unknown.reset();
    init.reset();
    EXPECT_EQ(canUnload(), S_FALSE);
    EXPECT_EQ(sheetExt->Release(), 0u);  // the last reference, through the second interface
    EXPECT_EQ(canUnload(), S_OK);
}

TEST_F(ComponentTest, AddPagesAddsOnePageForOneFile) {
    TempFolder folder;
    const std::string one = folder.write("One.exe", "MZ");
    const std::string two = folder.write("Two.exe", "MZ");

    {  // one file: one page, which holds its own reference
        ComPtr<IShellExtInit> ext = createExtension();
        ComPtr<IDataObject> data = shellDataObject({one});
        ASSERT_TRUE(data);
        EXPECT_EQ(ext->Initialize(nullptr, data.get(), nullptr), S_OK);
        data.reset();
        std::vector<HPROPSHEETPAGE> pages = addPages(ext.get());
        ASSERT_EQ(pages.size(), 1u);
        EXPECT_EQ(recordOf(ext.get()).selectedPath, one);
        EXPECT_EQ(recordOf(ext.get()).refCount, 2u);
        IShellExtInit* raw = ext.get();
        ext.reset();  // the shell lets go; the page keeps the object alive
        EXPECT_EQ(canUnload(), S_FALSE);
        EXPECT_EQ(recordOf(raw).refCount, 1u);
        DestroyPropertySheetPage(pages[0]);
        EXPECT_EQ(canUnload(), S_OK);
    }
    {  // two files: no page
        ComPtr<IShellExtInit> ext = createExtension();
        ComPtr<IDataObject> data = shellDataObject({one, two});
        ASSERT_TRUE(data);
        ext->Initialize(nullptr, data.get(), nullptr);
        EXPECT_TRUE(addPages(ext.get()).empty());
        EXPECT_EQ(recordOf(ext.get()).refCount, 1u);
    }
    {  // a page the host refuses is destroyed at once and drops its reference
        ComPtr<IShellExtInit> ext = createExtension();
        ComPtr<IDataObject> data = shellDataObject({one});
        ext->Initialize(nullptr, data.get(), nullptr);
        EXPECT_TRUE(addPages(ext.get(), FALSE).empty());
        EXPECT_EQ(recordOf(ext.get()).refCount, 1u);
    }
    {  // no selection at all: nothing to show
        ComPtr<IShellExtInit> ext = createExtension();
        EXPECT_TRUE(addPages(ext.get()).empty());
        EXPECT_EQ(ext->Initialize(nullptr, nullptr, nullptr), S_OK);
        EXPECT_TRUE(addPages(ext.get()).empty());
    }
    EXPECT_EQ(canUnload(), S_OK);
}

// A data object that offers no CF_HDROP and counts its references.
struct EmptyDataObject : IDataObject {
    LONG refs = 1;
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        *ppv = (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDataObject)) ? this : nullptr;
        if (!*ppv) return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ULONG(++refs); }
    ULONG STDMETHODCALLTYPE Release() override { return ULONG(--refs); }
    HRESULT STDMETHODCALLTYPE GetData(FORMATETC*, STGMEDIUM*) override { return DV_E_FORMATETC; }
    HRESULT STDMETHODCALLTYPE GetDataHere(FORMATETC*, STGMEDIUM*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE QueryGetData(FORMATETC*) override { return DV_E_FORMATETC; }
    HRESULT STDMETHODCALLTYPE GetCanonicalFormatEtc(FORMATETC*, FORMATETC*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetData(FORMATETC*, STGMEDIUM*, BOOL) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE EnumFormatEtc(DWORD, IEnumFORMATETC**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE DAdvise(FORMATETC*, DWORD, IAdviseSink*, DWORD*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE DUnadvise(DWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE EnumDAdvise(IEnumSTATDATA**) override { return E_NOTIMPL; }
};

// A data object whose CF_HDROP lists exactly the given paths, not checked
// against the disk.
struct DropDataObject : EmptyDataObject {
    std::vector<std::string> paths;
    HRESULT STDMETHODCALLTYPE GetData(FORMATETC* format, STGMEDIUM* medium) override {
        if (format->cfFormat != CF_HDROP || !(format->tymed & TYMED_HGLOBAL)) return DV_E_FORMATETC;
        std::string list;
        for (const std::string& path : paths) list += path + '\0';
        list += '\0';
        HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, sizeof(DROPFILES) + list.size());
        auto* drop = static_cast<DROPFILES*>(GlobalLock(block));
        *drop = DROPFILES{};
        drop->pFiles = sizeof(DROPFILES);
        std::memcpy(drop + 1, list.data(), list.size());
        GlobalUnlock(block);
        *medium = STGMEDIUM{};
        medium->tymed = TYMED_HGLOBAL;
        medium->hGlobal = block;
        return S_OK;
    }
};

TEST_F(ComponentTest, APathOfAnyLengthGivesAPageWithThePathWhole) {
    for (std::size_t length : {259u, 260u, 300u, 1000u}) {
        SCOPED_TRACE(length);
        DropDataObject data;
        data.paths = {"c:\\" + std::string(length - 7, 'a') + ".dll"};
        ASSERT_EQ(data.paths[0].size(), length);
        ComPtr<IShellExtInit> ext = createExtension();
        ext->Initialize(nullptr, &data, nullptr);
        std::vector<HPROPSHEETPAGE> pages = addPages(ext.get());
        ASSERT_EQ(pages.size(), 1u);
        EXPECT_EQ(recordOf(ext.get()).selectedPath, data.paths[0]);
        DestroyPropertySheetPage(pages[0]);
    }
    EXPECT_EQ(canUnload(), S_OK);
}

TEST_F(ComponentTest, DataObjectIsHeldOnceAndWithoutFilesGivesNoPage) {
    EmptyDataObject first, second;
    {
        ComPtr<IShellExtInit> ext = createExtension();
        ext->Initialize(nullptr, &first, nullptr);
        EXPECT_EQ(first.refs, 2);
        ext->Initialize(nullptr, &second, nullptr);  // the earlier one is let go
        EXPECT_EQ(first.refs, 1);
        EXPECT_EQ(second.refs, 2);
        EXPECT_TRUE(addPages(ext.get()).empty());
    }
    EXPECT_EQ(second.refs, 1);  // released with the object
}

}  // namespace
}  // namespace vost::test

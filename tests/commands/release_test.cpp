// Every way through showModuleMenu releases what it obtained: run each many
// times and count what is left. GetGuiResources and GetProcessHandleCount are
// stubs under Wine 8, so the counts are taken directly: live menu handles,
// live blocks of the shell's task allocator (through a malloc spy), and busy
// blocks of the process heap, where Wine's shell objects live.
#include <windows.h>
#include <objbase.h>

#include <cstdio>

#include "page/module_menu.h"
#include "tests/commands/menu_driver.h"
#include "tests/commands/test_page.h"

namespace vost::test {
namespace {

// Menu handles of this process. A handle whose high word is 0xFFFF names its
// slot in the handle table whatever the slot's generation.
int liveMenus() {
    int count = 0;
    for (UINT_PTR slot = 0x20; slot < 0xFFFF; slot += 2)
        if (IsMenu(reinterpret_cast<HMENU>(0xFFFF0000u | slot))) ++count;
    return count;
}

int busyHeapBlocks() {
    HANDLE heap = GetProcessHeap();
    int count = 0;
    HeapLock(heap);
    PROCESS_HEAP_ENTRY entry = {};
    while (HeapWalk(heap, &entry))
        if (entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) ++count;
    HeapUnlock(heap);
    return count;
}

// Counts the task allocator's blocks handed out and not yet freed.
class LiveBlockSpy : public IMallocSpy {
public:
    LONG live = 0;
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (iid == IID_IUnknown || iid == IID_IMallocSpy) {
            *out = this;
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    SIZE_T STDMETHODCALLTYPE PreAlloc(SIZE_T size) override { return size; }
    void* STDMETHODCALLTYPE PostAlloc(void* block) override {
        if (block) InterlockedIncrement(&live);
        return block;
    }
    void* STDMETHODCALLTYPE PreFree(void* block, BOOL spied) override {
        if (block && spied) InterlockedDecrement(&live);
        return block;
    }
    void STDMETHODCALLTYPE PostFree(BOOL) override {}
    SIZE_T STDMETHODCALLTYPE PreRealloc(void* block, SIZE_T size, void** newBlock, BOOL) override {
        *newBlock = block;
        return size;
    }
    void* STDMETHODCALLTYPE PostRealloc(void* block, BOOL) override { return block; }
    void* STDMETHODCALLTYPE PreGetSize(void* block, BOOL) override { return block; }
    SIZE_T STDMETHODCALLTYPE PostGetSize(SIZE_T size, BOOL) override { return size; }
    void* STDMETHODCALLTYPE PreDidAlloc(void* block, BOOL) override { return block; }
    int STDMETHODCALLTYPE PostDidAlloc(void*, BOOL, int actual) override { return actual; }
    void STDMETHODCALLTYPE PreHeapMinimize() override {}
    void STDMETHODCALLTYPE PostHeapMinimize() override {}
};

struct Counts {
    int menus, taskBlocks, heapBlocks;
};

TEST_F(PageTest, EveryWayThroughTheMenuReleasesWhatItObtained) {
    // The counters see what they are meant to see.
    const int menusBefore = liveMenus();
    HMENU probe = CreatePopupMenu();
    ASSERT_EQ(liveMenus(), menusBefore + 1);
    DestroyMenu(probe);
    ASSERT_EQ(liveMenus(), menusBefore);
    LiveBlockSpy spy;
    ASSERT_EQ(CoRegisterMallocSpy(&spy), S_OK);
    void* block = CoTaskMemAlloc(8);
    ASSERT_EQ(spy.live, 1);
    CoTaskMemFree(block);
    ASSERT_EQ(spy.live, 0);

    const std::string folder = freshFolder("release");
    CreateDirectoryA((folder + "\\a").c_str(), nullptr);
    CreateDirectoryA((folder + "\\a\\b").c_str(), nullptr);
    const std::string path = folder + "\\a\\b\\module.dll";
    writeFile(path, "MZ");
    ModuleNode* deep = page->node(path.c_str(), "MODULE.DLL");
    ModuleNode* missing = page->node("file not found", "MISSING.DLL");
    missing->found = false;
    ModuleNode* noFolder = page->node((folder + "\\no such folder\\x.dll").c_str(), "X.DLL");
    TreeItem root = page->addTreeItem(nullptr, deep);
    TreeItem missingItem = page->addTreeItem(root, missing);
    TreeItem noFolderItem = page->addTreeItem(root, noFolder);

    int menusShown = 0;
    auto round = [&] {
        page->selectTreeItem(root);
        {  // dismissed
            MenuDriver driver([](MenuDriver& d) { d.press(VK_ESCAPE); });
            showModuleMenu(page->extension(), 200, 200);
            driver.finish();
            menusShown += driver.menuSeen();
        }
        {  // an own command chosen: posted, then carried out
            MenuDriver driver([](MenuDriver& d) {
                d.press(VK_DOWN);
                d.press(VK_RIGHT);
                d.press(VK_DOWN, 2);
                d.press(VK_RETURN, 2);
            });
            showModuleMenu(page->extension(), 200, 200);
            driver.finish();
            menusShown += driver.menuSeen();
            page->pump();
        }
        // No file, or a path that does not parse: the component's submenu
        // alone, dismissed; nothing selected: no menu.
        for (TreeItem item : {missingItem, noFolderItem}) {
            page->selectTreeItem(item);
            MenuDriver driver([](MenuDriver& d) { d.press(VK_ESCAPE); });
            showModuleMenu(page->extension(), 200, 200);
            driver.finish();
            menusShown += driver.menuSeen();
        }
        page->selectTreeItem(nullptr);
        showModuleMenu(page->extension(), 200, 200);
    };
    auto counts = [&] { return Counts{liveMenus(), static_cast<int>(spy.live), busyHeapBlocks()}; };

    for (int i = 0; i < 3; ++i) round();  // the shell's one-time caches
    const Counts before = counts();
    constexpr int kRounds = 25;
    for (int i = 0; i < kRounds; ++i) round();
    const Counts after = counts();
    CoRevokeMallocSpy();
    DeleteFileA(path.c_str());

    std::printf("menus %d -> %d, task blocks %d -> %d, heap blocks %d -> %d\n", before.menus, after.menus,
                before.taskBlocks, after.taskBlocks, before.heapBlocks, after.heapBlocks);
    EXPECT_EQ(menusShown, 4 * (kRounds + 3));
    EXPECT_EQ(after.menus, before.menus);
    EXPECT_EQ(after.taskBlocks, before.taskBlocks);
    // Not one object per round: a leaked folder, menu object or ID list
    // would leave at least kRounds blocks behind.
    EXPECT_LT(after.heapBlocks - before.heapBlocks, kRounds);
    EXPECT_EQ(page->commands.size(), size_t(kRounds + 3));
}

}  // namespace
}  // namespace vost::test

// Lifetimes under Wine: the Properties dialog opened and closed a hundred
// times while its scan is still running, closed at varied moments, and pages
// on different folders scanning at the same time. Nothing may crash, every
// worker must end and let the library go, the process must hold no more
// handles, threads or heap than before, and the host's current directory
// must never change.
//
// Handle counts: GetProcessHandleCount answers 0 under Wine 8, so handles
// are counted by probing every handle value with GetHandleInformation.
// Memory: the busy bytes of every heap of the process (HeapWalk), where both
// the C runtime's allocations (nodes, records) and Wine's own objects live.
#include <gtest/gtest.h>

#include <random>

#include "tests/lifetime/page_probe.h"
#include "tests/windows/temp_folder.h"

namespace vost::test {
namespace {

class LifetimeTest : public testing::Test {
protected:
    void SetUp() override {
        CoInitialize(nullptr);
        ASSERT_NE(Component::get().module, nullptr);
        directory_ = currentDirectory();
    }
    void TearDown() override {
        EXPECT_TRUE(waitForWorkers());
        EXPECT_EQ(Component::get().canUnloadNow(), S_OK);
        EXPECT_EQ(currentDirectory(), directory_);
        CoUninitialize();
    }

    // Every worker has ended and released its object: the library may go.
    static bool waitForWorkers() {
        return pumpUntil([] { return Component::get().canUnloadNow() == S_OK; }, 120000);
    }

    // A worker releases its object and only then leaves through
    // FreeLibraryAndExitThread, so its thread may outlive the release by a
    // moment: counts are taken once the threads are back to `threads`, or
    // after `timeoutMs` (a thread left behind then fails the comparison).
    static void settleThreads(DWORD threads, DWORD timeoutMs) {
        pumpUntil([threads] { return countThreads() <= threads; }, timeoutMs);
    }

    // Pumps until `done`, checking the current directory at every turn.
    bool pumpWatching(const std::function<bool()>& done, DWORD timeoutMs = 600000) {
        return pumpUntil([&] {
            if (currentDirectory() != directory_) directoryChanged_ = true;
            return done();
        }, timeoutMs);
    }

    std::string directory_;
    bool directoryChanged_ = false;
};

// What 100 dialogs may leave behind after the warm-up (see the test).
constexpr DWORD kHandleSlack = 4;
constexpr std::size_t kHeapSlack = 100 * sizeof(DependencyExtension);
constexpr std::size_t kBlockSlack = 100;

// One dialog: opened on the file, closed after `delayMs` of serving
// messages (0: before the worker has started walking). True when its scan
// was still running when the dialog closed.
bool openAndClose(const std::string& file, DWORD delayMs) {
    PageOnFile opened = openPageOn(file);
    EXPECT_NE(opened.page(), nullptr);
    if (delayMs) pumpFor(delayMs);
    const bool inFlight = !opened.finished();
    opened.sheet.reset();  // the page's window goes, then the shell's reference
    opened.ext.reset();
    return inFlight;
}

TEST_F(LifetimeTest, HundredDialogsClosedDuringTheirScansLeaveNothingBehind) {
    TempFolder folder;
    const std::string file = writeGeneratedClosure(folder.path(), generateClosure(1500, 11));
    std::mt19937 random(2024);
    std::uniform_int_distribution<DWORD> delay(0, 1500);

    // Warm-up: the first dialogs make what a process makes once (window
    // classes, the shell's image list, COM's apartment, heap growth).
    const DWORD threadsBefore = countThreads();
    for (int i = 0; i < 10; ++i) openAndClose(file, delay(random));
    ASSERT_TRUE(waitForWorkers());
    settleThreads(threadsBefore, 5000);
    const ProcessCounts warm = processCounts();

    int inFlight = 0;
    ProcessCounts half;
    for (int i = 0; i < 100; ++i) {
        const DWORD wait = i % 5 == 0 ? 0 : delay(random);
        if (openAndClose(file, wait)) ++inFlight;
        EXPECT_EQ(currentDirectory(), directory_);
        if (i == 49) {
            ASSERT_TRUE(waitForWorkers());
            settleThreads(warm.threads, 30000);
            half = processCounts();
        }
    }
    ASSERT_TRUE(waitForWorkers());
    settleThreads(warm.threads, 30000);
    const ProcessCounts after = processCounts();
    EXPECT_GT(inFlight, 80);

    std::printf("%d of 100 dialogs closed during their scan\n", inFlight);
    std::printf("warm-up: heap %u bytes in %u blocks, %lu handles (%lu reported), %lu threads, "
                "private %u\n", unsigned(warm.heapBytes), unsigned(warm.heapBlocks), warm.handles,
                warm.reportedHandles, warm.threads, unsigned(warm.privateBytes));
    std::printf("after 50: heap %u bytes in %u blocks, %lu handles, %lu threads, private %u\n",
                unsigned(half.heapBytes), unsigned(half.heapBlocks), half.handles, half.threads,
                unsigned(half.privateBytes));
    std::printf("after 100: heap %u bytes in %u blocks, %lu handles, %lu threads, private %u\n",
                unsigned(after.heapBytes), unsigned(after.heapBlocks), after.handles, after.threads,
                unsigned(after.privateBytes));

    ASSERT_GT(warm.handles, 0u) << "the handle probe sees nothing";
    ASSERT_GT(warm.heapBytes, 0u) << "HeapWalk sees nothing";
    EXPECT_LE(after.handles, warm.handles + kHandleSlack);
    EXPECT_LE(after.threads, warm.threads);
    // One extension record left behind per dialog would already exceed this.
    EXPECT_LE(after.heapBytes, warm.heapBytes + kHeapSlack);
    EXPECT_LE(after.heapBlocks, warm.heapBlocks + kBlockSlack);
    EXPECT_FALSE(directoryChanged_);
}

struct PageView {
    std::vector<FlatItem> tree;
    std::vector<ListRow> list;
};
PageView viewOf(HWND page) { return PageView{readFlatTree(page), readList(page)}; }

// Three folders holding modules of the same names with different imports:
// a scan that searched another page's folder would show other children.
TEST_F(LifetimeTest, PagesScanningSideBySideShowWhatEachShowsAlone) {
    TempFolder folders[3];
    std::string files[3];
    const int sizes[3] = {400, 700, 1000};
    for (int i = 0; i < 3; ++i)
        files[i] = writeGeneratedClosure(folders[i].path(), generateClosure(sizes[i], unsigned(100 + i)));

    PageView alone[3];
    for (int i = 0; i < 3; ++i) {
        PageOnFile opened = openPageOn(files[i]);
        ASSERT_NE(opened.page(), nullptr);
        ASSERT_TRUE(pumpWatching([&] { return opened.finished(); }));
        alone[i] = viewOf(opened.page());
        ASSERT_GT(alone[i].list.size(), std::size_t(sizes[i]));
    }
    ASSERT_NE(alone[0].tree, alone[1].tree);

    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        PageOnFile pages[3];
        for (int i = 0; i < 3; ++i) {
            pages[i] = openPageOn(files[i]);
            ASSERT_NE(pages[i].page(), nullptr);
        }
        if (round == 1) {
            // The middle dialog closes while all three scan; the others go on.
            pumpWatching([] { return false; }, 300);
            EXPECT_FALSE(pages[1].finished());
            pages[1].sheet.reset();
            pages[1].ext.reset();
        }
        ASSERT_TRUE(pumpWatching([&] {
            for (int i = 0; i < 3; ++i)
                if (pages[i].ext && !pages[i].finished()) return false;
            return true;
        }));
        for (int i = 0; i < 3; ++i) {
            if (!pages[i].ext) continue;
            const PageView view = viewOf(pages[i].page());
            EXPECT_TRUE(view.tree == alone[i].tree) << "page " << i;
            EXPECT_TRUE(view.list == alone[i].list) << "page " << i;
        }
    }
    EXPECT_FALSE(directoryChanged_);
}

}  // namespace
}  // namespace vost::test

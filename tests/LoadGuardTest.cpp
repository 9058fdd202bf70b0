// Guards against loading and typing going quadratic again, without timing
// anything: a load must reserve the component's buffers once instead of
// regrowing and copying them block after block, and the per-change work that
// grows with the document must stay off while no screen reader is active, and
// a screen reader must never switch on what QScintilla answers by counting
// from the start of the document.
#include <QAccessible>
#include <QAccessibleInterface>
#include <QApplication>
#include <atomic>
#include <cstdlib>
#include <new>
#include <thread>

#include "editor/EditorWindow.h"
#include "tests/TestSupport.h"

namespace {

std::atomic<int> largeAllocations{0};
constexpr size_t large = 1 << 20;
// Allocations of the program's own thread; the journal's writer thread has
// buffers of its own.
const std::thread::id mainThread = std::this_thread::get_id();

void* Allocate(size_t size) {
    if (size >= large && std::this_thread::get_id() == mainThread)
        ++largeAllocations;
    if (void* p = std::malloc(size ? size : 1))
        return p;
    throw std::bad_alloc();
}

} // namespace

void* operator new(size_t size) {
    return Allocate(size);
}
void* operator new[](size_t size) {
    return Allocate(size);
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete[](void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, size_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, size_t) noexcept {
    std::free(p);
}

namespace {

using LoadGuardTest = EditorTest;

TEST_F(LoadGuardTest, ALoadReservesTheBuffersOnceInsteadOfRegrowingThem) {
    // 8 MiB in 64 blocks, with lines of ordinary length.
    std::string line = "<p class=\"x\">some text &amp; more</p>\n";
    std::string bytes;
    while (bytes.size() < (8u << 20))
        bytes += line;
    const std::string path = dir.Path("big.html");
    WriteBytes(path, bytes);

    largeAllocations = 0;
    theApp.LoadFile(path);
    const int allocations = largeAllocations;
    ASSERT_EQ(theApp.SendEditor(SCI_GETLENGTH), long(bytes.size()));
    // The text and its style bytes, each allocated once. Growing block by
    // block would allocate and copy each of them again and again.
    EXPECT_LE(allocations, 3);
    EXPECT_GE(allocations, 1) << "the counting itself does not work";
}

// The recovery journal records a keystroke as a few bytes read back from the
// component, wherever it is typed: never a copy of the document.
TEST_F(LoadGuardTest, KeystrokesCostTheJournalNoCopyOfTheDocument) {
    std::string bytes;
    while (bytes.size() < (8u << 20))
        bytes += "<p class=\"x\">some text &amp; more</p>\n";
    const std::string path = dir.Path("big.html");
    WriteBytes(path, bytes);
    theApp.LoadFile(path);
    const long length = theApp.SendEditor(SCI_GETLENGTH);
    TypeText("a");
    ASSERT_TRUE(theApp.SyncJournal(30000)); // the journal's first batch, and its copy of the file

    largeAllocations = 0;
    for (const long position : {0L, length / 2, length}) {
        theApp.SendEditor(SCI_GOTOPOS, static_cast<unsigned long>(position));
        TypeText("<b>typed</b>");
        theApp.FlushJournal();
    }
    Command(IDM_UNDO);
    theApp.FlushJournal();
    EXPECT_EQ(largeAllocations, 0);
    ASSERT_TRUE(theApp.SyncJournal(30000));
}

TEST_F(LoadGuardTest, NoPerChangeWorkWithoutAScreenReader) {
    ASSERT_FALSE(QAccessible::isActive());
    // Only the notices before each change (the insertion check, and those the
    // styler and the recovery journal keep account of), which cost the same
    // whatever the document's size.
    auto expectNothingPerChange = [&](const char* when) {
        // No change notifications but those, no character index in the
        // component.
        EXPECT_EQ(theApp.SendEditor(SCI_GETMODEVENTMASK),
                  SC_MOD_INSERTCHECK | SC_MOD_BEFOREINSERT | SC_MOD_BEFOREDELETE)
            << when;
        EXPECT_EQ(theApp.SendEditor(SCI_GETLINECHARACTERINDEX), 0) << when;
    };
    // Nor any reading of the text for screen readers.
    const long long bytesRead = ScreenReaderBytesRead();
    expectNothingPerChange("at start-up");
    TypeText("<p>typed</p>");
    expectNothingPerChange("after typing");
    const std::string path = dir.Path("page.html");
    WriteBytes(path, "<html></html>\n");
    theApp.LoadFile(path);
    QApplication::processEvents();
    expectNothingPerChange("after a load");
    EXPECT_EQ(ScreenReaderBytesRead(), bytesRead);

    // A screen reader that comes and goes leaves nothing behind.
    { ActiveAccessibility reader; }
    const long long afterReader = ScreenReaderBytesRead();
    TypeText("<p>more</p>");
    QApplication::processEvents();
    expectNothingPerChange("after a screen reader left");
    EXPECT_EQ(ScreenReaderBytesRead(), afterReader);
}

TEST_F(LoadGuardTest, AScreenReaderNeverGetsTheNotificationsThatCountFromTheStart) {
    // QScintilla answers the notifications sent after an insertion or a
    // deletion by counting characters from the start of the document.
    ActiveAccessibility reader;
    const long mask = theApp.SendEditor(SCI_GETMODEVENTMASK);
    EXPECT_NE(mask, 0) << "the screen reader hears of no change at all";
    EXPECT_EQ(mask & (SC_MOD_INSERTTEXT | SC_MOD_DELETETEXT), 0);
}

} // namespace

// The component's cache of measured runs (qscintilla/scintilla/src/
// PositionCache.h), on its own: runs as long as the layout makes are found
// again, the table grows with them, and whatever the text the cache
// stays within its 64 MiB, counted by the allocator itself.
#include <algorithm>
#include <gtest/gtest.h>
#include <malloc.h>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

// The component's headers, in the order its own sources include them.
// clang-format off
#include "Platform.h"
#include "ILoader.h"
#include "ILexer.h"
#include "Scintilla.h"
#include "Position.h"
#include "UniqueString.h"
#include "SplitVector.h"
#include "Partitioning.h"
#include "RunStyles.h"
#include "ContractionState.h"
#include "CellBuffer.h"
#include "KeyMap.h"
#include "Indicator.h"
#include "LineMarker.h"
#include "Style.h"
#include "ViewStyle.h"
#include "CharClassify.h"
#include "Decoration.h"
#include "CaseFolder.h"
#include "Document.h"
#include "UniConversion.h"
#include "Selection.h"
#include "PositionCache.h"
// clang-format on

using namespace Scintilla;

namespace {

// Measures every byte as 7 units wide and counts what it measures; draws
// nothing.
class CountingSurface : public Surface {
  public:
    long measured = 0; // runs measured

    void MeasureWidths(Font&, const char*, int len, XYPOSITION* positions) override {
        ++measured;
        for (int i = 0; i < len; ++i)
            positions[i] = XYPOSITION(7 * (i + 1));
    }

    void Init(WindowID) override {}
    void Init(SurfaceID, WindowID) override {}
    void InitPixMap(int, int, Surface*, WindowID) override {}
    void Release() override {}
    bool Initialised() override { return true; }
    void PenColour(ColourDesired) override {}
    int LogPixelsY() override { return 96; }
    int DeviceHeightFont(int points) override { return points; }
    void MoveTo(int, int) override {}
    void LineTo(int, int) override {}
    void Polygon(Point*, size_t, ColourDesired, ColourDesired) override {}
    void RectangleDraw(PRectangle, ColourDesired, ColourDesired) override {}
    void FillRectangle(PRectangle, ColourDesired) override {}
    void FillRectangle(PRectangle, Surface&) override {}
    void RoundedRectangle(PRectangle, ColourDesired, ColourDesired) override {}
    void AlphaRectangle(PRectangle, int, ColourDesired, int, ColourDesired, int, int) override {}
    void GradientRectangle(PRectangle, const std::vector<ColourStop>&, GradientOptions) override {}
    void DrawRGBAImage(PRectangle, int, int, const unsigned char*) override {}
    void Ellipse(PRectangle, ColourDesired, ColourDesired) override {}
    void Copy(PRectangle, Point, Surface&) override {}
    void DrawTextNoClip(PRectangle, Font&, XYPOSITION, const char*, int, ColourDesired,
                        ColourDesired) override {}
    void DrawTextClipped(PRectangle, Font&, XYPOSITION, const char*, int, ColourDesired,
                         ColourDesired) override {}
    void DrawTextTransparent(PRectangle, Font&, XYPOSITION, const char*, int,
                             ColourDesired) override {}
    XYPOSITION WidthText(Font&, const char*, int len) override { return XYPOSITION(7 * len); }
    XYPOSITION Ascent(Font&) override { return 10; }
    XYPOSITION Descent(Font&) override { return 3; }
    XYPOSITION InternalLeading(Font&) override { return 0; }
    XYPOSITION Height(Font&) override { return 13; }
    XYPOSITION AverageCharWidth(Font&) override { return 7; }
    void SetClip(PRectangle) override {}
    void FlushCachedState() override {}
    void SetUnicodeMode(bool) override {}
    void SetDBCSMode(int) override {}
    void Init(QPainter*) override {}
    void DrawXPM(PRectangle, const XPM*) override {}
};

// A run of the given length that no other number gives.
std::string RunOf(long number, size_t length) {
    std::string run = std::to_string(number) + ":";
    run.resize(length, char('a' + number % 26));
    return run;
}

class PositionCacheTest : public ::testing::Test {
  protected:
    // Measures a run through the cache; true when the cache had it.
    bool Found(const std::string& run, unsigned int style = 0) {
        const long before = surface.measured;
        positions.resize(run.size());
        cache.MeasureWidths(&surface, style_, style, run.data(), unsigned(run.size()),
                            positions.data(), nullptr);
        return surface.measured == before;
    }

    CountingSurface surface;
    ViewStyle style_;
    PositionCache cache;
    std::vector<XYPOSITION> positions;
};

TEST_F(PositionCacheTest, RunsAsLongAsTheLayoutMakesAreFoundAgain) {
    cache.SetSize(1 << 20);
    // 29 bytes were the most kept before; 256 and more need a length of more
    // than 8 bits; the layout makes runs of up to 299.
    for (const size_t length : {1u, 29u, 30u, 100u, 255u, 256u, 299u}) {
        const std::string run = RunOf(long(length), length);
        EXPECT_FALSE(Found(run)) << length;
        EXPECT_TRUE(Found(run)) << length;
        EXPECT_EQ(positions.back(), XYPOSITION(7 * length)) << length;
        EXPECT_FALSE(Found(run, 1)) << "another style is measured apart";
    }
    // The same bytes, shorter: measured apart, not taken for the longer.
    EXPECT_FALSE(Found(RunOf(256, 256).substr(0, 200)));
}

// Two slots for each run lose a few runs to others as the table fills, which
// the next layout measures again; growing loses next to none.
TEST_F(PositionCacheTest, TheTableGrowsWithTheRunsItHolds) {
    cache.SetSize(1 << 20);
    constexpr long runs = 100000; // a hundred times what the table starts with
    auto layOut = [this] {
        long found = 0;
        for (long i = 0; i < runs; ++i)
            found += Found(RunOf(i, 20 + i % 60));
        return found;
    };
    EXPECT_EQ(layOut(), 0);
    EXPECT_GT(layOut(), runs * 90 / 100);
    EXPECT_GT(layOut(), runs * 99 / 100);
}

// Runs of 299 bytes that never repeat, in three times the budget: measured as
// the allocator counts it, the cache never holds more than 64 MiB, and it still
// finds what it measured last.
TEST_F(PositionCacheTest, NoTextTakesMoreThanTheBudget) {
    const size_t heapBefore = mallinfo2().uordblks;
    cache.SetSize(1 << 20);
    const long runs = long(3 * PositionCache::maxBytes / PositionCacheEntry::BytesFor(299));
    size_t mostUsed = 0;
    size_t mostHeap = 0;
    for (long i = 0; i < runs; ++i) {
        Found(RunOf(i, 299));
        if (i % 1000 == 0) {
            mostUsed = std::max(mostUsed, cache.MemoryUsed());
            mostHeap = std::max(mostHeap, mallinfo2().uordblks - heapBefore);
        }
    }
    EXPECT_LE(mostUsed, PositionCache::maxBytes);
    EXPECT_GT(mostUsed, PositionCache::maxBytes * 3 / 4) << "the budget is used";
#if !defined(__SANITIZE_ADDRESS__)
    // Without the sanitizer's allocator, the heap itself says what it holds.
    EXPECT_LE(mostHeap, PositionCache::maxBytes + (1 << 20));
#endif
    EXPECT_TRUE(Found(RunOf(runs - 1, 299)));
}

} // namespace

// The search module on its own: what matches in bytes that are not all UTF-8,
// forward and backward, the limits that keep an expression from running away
// on a 10 MiB line, and what a Replace All plan does to the text.
#include <gtest/gtest.h>
#include <string>

#include "editor/Search.h"

namespace {

SearchOptions Plain() {
    return SearchOptions();
}
SearchOptions Cased() {
    SearchOptions options;
    options.matchCase = true;
    return options;
}
SearchOptions Word() {
    SearchOptions options;
    options.wholeWord = true;
    return options;
}
SearchOptions Expression() {
    SearchOptions options;
    options.regularExpression = true;
    return options;
}

std::unique_ptr<SearchPattern> Compiled(const std::string& what, const SearchOptions& options) {
    std::string error;
    auto pattern = SearchPattern::Compile(what, options, error);
    EXPECT_TRUE(pattern) << what << ": " << error;
    return pattern;
}

// A plan's edits made on a copy of the text, as the editor makes them.
std::string Applied(const std::string& text, const ReplacementPlan& plan) {
    std::string result;
    Position at = 0;
    for (const ReplacementPlan::Edit& edit : plan.edits) {
        result.append(text, size_t(at), size_t(edit.start - at));
        result.append(plan.Text(edit));
        at = edit.end;
    }
    return result + text.substr(size_t(at));
}

struct FindCase {
    const char* name;
    std::string text;
    std::string what;
    SearchOptions options;
    Position from;
    Position start; // -1: no match
    Position end;
};

// Searches the case's text forward from its place, or backward from it.
void Check(const FindCase& c, bool forward) {
    auto pattern = Compiled(c.what, c.options);
    ASSERT_TRUE(pattern);
    TextSearch search(*pattern, c.text);
    Match match;
    const SearchOutcome outcome = forward ? search.Forward(c.from, search.Length(), match)
                                          : search.Backward(0, c.from, match);
    if (c.start < 0) {
        EXPECT_EQ(outcome, SearchOutcome::notFound) << c.name;
        return;
    }
    ASSERT_EQ(outcome, SearchOutcome::found) << c.name;
    EXPECT_EQ(match.start, c.start) << c.name;
    EXPECT_EQ(match.end, c.end) << c.name;
}

TEST(SearchTest, FindsForwardInBytesAsTheyAre) {
    const std::string nul("a\0b", 3);
    const FindCase cases[] = {
        {"any case", "xABCx", "abc", Plain(), 0, 1, 4},
        {"case matched", "xABCabc", "abc", Cased(), 0, 4, 7},
        {"punctuation is plain text", "axb a.b*(c", "a.b*(c", Plain(), 0, 4, 10},
        {"a tab and a backslash", "a \tb\\c", " \tb\\", Plain(), 0, 1, 5},
        {"whole words only", "foobar foo_ foo.", "foo", Word(), 0, 12, 15},
        {"a letter that is not ASCII is part of a word", "caf\xc3\xa9 caf", "caf", Word(), 0, 6, 9},
        {"UTF-8 in either case", "x\xc3\x89t\xc3\xa9", "\xc3\xa9t\xc3\xa9", Plain(), 0, 1, 6},
        {"a Latin-1 byte is not the character", "caf\xe9 caf\xc3\xa9", "caf\xc3\xa9", Plain(), 0, 5,
         10},
        {"after a NUL", nul, "b", Plain(), 0, 2, 3},
        {"^ after CRLF", "a\r\nb", "^b", Expression(), 0, 3, 4},
        {"^ after a lone CR", "a\rb", "^b", Expression(), 0, 2, 3},
        {"$ before CRLF", "xa\r\nb", "a$", Expression(), 0, 1, 2},
        {"a dot stops at line ends", "ab\r\ncd", "b.", Expression(), 0, -1, -1},
        {"a line end matched as typed", "ab\r\ncd", "b\\r\\nc", Expression(), 0, 1, 5},
        {"a Unicode word character", "\xc3\xa9x", "\\w+", Expression(), 0, 0, 3},
    };
    for (const FindCase& c : cases)
        Check(c, true);
}

// Backward finds what forward would, the nearest first, wholly before the
// place it starts from.
TEST(SearchTest, FindsBackwardTheNearestMatchThatEndsBeforeThePlace) {
    const FindCase cases[] = {
        {"the nearest", "abc abc abc", "abc", Plain(), 8, 4, 7},
        {"not past the place", "aaaa", "aa", Plain(), 4, 2, 4},
        {"not overlapping it", "aaaa", "aa", Plain(), 2, 0, 2},
        {"a greedy expression cut at the place", "aaaa", "a+", Expression(), 3, 2, 3},
        {"a whole word cut short at the place is no word", "foo foox", "foo", Word(), 7, 0, 3},
        {"$ only at a real line end", "abc", "b$", Expression(), 2, -1, -1},
        {"$ at a line end", "ab\ncd", "b$", Expression(), 2, 1, 2},
        {"far back", std::string("x") + std::string(300000, '.'), "x", Plain(), 300001, 0, 1},
    };
    for (const FindCase& c : cases)
        Check(c, false);
}

TEST(SearchTest, SaysWhatIsWrongWithAnExpressionOrAReplacement) {
    std::string error;
    EXPECT_FALSE(SearchPattern::Compile("\xc3\xa9(a", Expression(), error));
    EXPECT_EQ(error, "The regular expression is not valid: missing closing parenthesis "
                     "(at character 4).");
    // The same text is plain when not an expression.
    EXPECT_TRUE(SearchPattern::Compile("\xc3\xa9(a", Plain(), error));

    auto pattern = Compiled("(b)", Expression());
    TextSearch search(*pattern, "abc");
    Match match;
    ASSERT_EQ(search.Forward(0, 3, match), SearchOutcome::found);
    std::string replacement;
    EXPECT_FALSE(search.Replacement("$2", replacement));
    EXPECT_EQ(search.Error().rfind("The replacement is not valid: ", 0), 0u) << search.Error();
}

// The engine's limits on a line of 10 MiB: what would recurse per character
// or backtrack for ever fails with its reason, at once; what is merely slow
// goes in slices that can be stopped; plain expressions just work.
TEST(SearchTest, NoExpressionOverflowsTheStackOrRunsForEverOnALongLine) {
    const std::string line = std::string(10 << 20, 'a') + "b\n";
    struct Case {
        const char* what;
        SearchOutcome outcome;
        const char* error;
        Position start;
    };
    const Position b = 10 << 20;
    const Case cases[] = {
        {"(a+)+$", SearchOutcome::failed, "takes too many steps", 0},
        {"(a|b)*c", SearchOutcome::failed, "needs too much memory", 0},
        {"(.)*c", SearchOutcome::failed, "needs too much memory", 0},
        {"a*b$", SearchOutcome::found, "", 0},
        {".*", SearchOutcome::found, "", 0},
        {"ab\\n", SearchOutcome::found, "", b - 1},
    };
    for (const Case& c : cases) {
        auto pattern = Compiled(c.what, Expression());
        ASSERT_TRUE(pattern);
        TextSearch search(*pattern, line);
        Match match;
        EXPECT_EQ(search.Forward(0, search.Length(), match), c.outcome) << c.what;
        EXPECT_NE(search.Error().find(c.error), std::string::npos) << c.what << search.Error();
        if (c.outcome == SearchOutcome::found) {
            EXPECT_EQ(match.start, c.start) << c.what;
        }
    }

    // Each start position costs a thousand steps here: a long search whose
    // progress is heard between slices, and stops when told.
    auto slow = Compiled("a.{0,1000}c", Expression());
    TextSearch search(*slow, line);
    Match match;
    int heard = 0;
    EXPECT_EQ(search.Forward(0, search.Length(), match, [&](Position) { return ++heard < 3; }),
              SearchOutcome::stopped);
    EXPECT_EQ(heard, 3);
    heard = 0;
    EXPECT_EQ(search.Backward(0, search.Length(), match, [&](Position) { return ++heard < 3; }),
              SearchOutcome::stopped);
}

struct PlanCase {
    const char* name;
    std::string text;
    std::string what;
    SearchOptions options;
    std::string with;
    std::string result;
    size_t count;
};

TEST(SearchTest, APlanReplacesExactlyTheMatchedBytes) {
    const std::string bytes("\0\xff\r\n\r", 5);
    const PlanCase cases[] = {
        {"bytes around the matches stay", bytes + "ab" + bytes + "AB", "ab", Plain(), "x\r\n",
         bytes + "x\r\n" + bytes + "x\r\n", 2},
        {"the replacement as typed, dollars and all", "a.b", ".", Plain(), "$1\\n", "a$1\\nb", 1},
        {"groups and escapes in an expression", "k=v\r\nx=y", "(\\w)=(\\w)$", Expression(),
         "$2:$1\\t", "v:k\t\r\ny:x\t", 2},
        {"empty matches between characters", "axb", "x*", Expression(), "-", "-a--b-", 4},
        {"CRLF is one place for an empty match", "a\r\nb", "(?=\\n)|$", Expression(), "|",
         "a|\r\nb|", 2},
        {"whole words", "cat catalog cat", "cat", Word(), "dog", "dog catalog dog", 2},
    };
    for (const PlanCase& c : cases) {
        auto pattern = Compiled(c.what, c.options);
        ASSERT_TRUE(pattern);
        TextSearch search(*pattern, c.text);
        ReplacementPlan plan;
        const SearchOutcome outcome = PlanReplaceAll(search, c.with, plan);
        EXPECT_EQ(outcome, c.count ? SearchOutcome::found : SearchOutcome::notFound) << c.name;
        EXPECT_EQ(plan.edits.size(), c.count) << c.name;
        EXPECT_EQ(Applied(c.text, plan), c.result) << c.name;
        EXPECT_EQ(Position(c.text.size()) + plan.growth, Position(c.result.size())) << c.name;
    }
}

// How far the text grows on the way, so that a plan can be refused before
// anything changes; and where positions go: "a.aa" without its a's is ".".
TEST(SearchTest, APlanKnowsItsGrowthOnTheWayAndWherePositionsMove) {
    auto pattern = Compiled("(a+)|b", Expression());
    TextSearch search(*pattern, "aaaa.b.aa");
    ReplacementPlan plan;
    ASSERT_EQ(PlanReplaceAll(search, "${1}x$1", plan), SearchOutcome::found);
    EXPECT_EQ(Applied("aaaa.b.aa", plan), "aaaaxaaaa.x.aaxaa");
    EXPECT_EQ(plan.peakGrowth, 8);

    auto a = Compiled("a", Plain());
    TextSearch shrink(*a, "a.aa");
    ASSERT_EQ(PlanReplaceAll(shrink, "", plan), SearchOutcome::found);
    EXPECT_EQ(plan.growth, -3);
    EXPECT_EQ(plan.peakGrowth, 0);
    const Position moved[] = {0, 0, 1, 1, 1};
    for (Position before = 0; before <= 4; ++before)
        EXPECT_EQ(plan.Moved(before), moved[before]) << before;
}

} // namespace

// Finding text in the document's bytes, and planning what Replace All changes.
//
// What is looked for is UTF-8, as typed, matched against the bytes as they
// are. Bytes that are not UTF-8 match nothing typed, and NULs and line ends
// of every kind (CR, LF, CRLF) are text like any other; nothing here changes
// the text, and a plan replaces exactly the bytes of each match.
//
// Every search is a regular expression for PCRE2 (plain text is escaped
// first), compiled by its JIT where the machine has one. PCRE2 keeps its
// backtracking on the heap or in a JIT stack of bounded size, never on the
// machine's stack, and gives up on a start position after a bounded number
// of steps, so no expression overflows the stack or runs for ever on a long
// line: it fails with a sentence that says why. Long searches go in slices of
// start positions; between slices the caller hears how far the work has come
// and may stop it.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "editor/EditorMessages.h"

struct SearchOptions {
    bool matchCase = false;
    bool wholeWord = false; // no letter, digit or underscore just before or after
    bool regularExpression = false;
};

struct Match {
    Position start = 0;
    Position end = 0;
};

enum class SearchOutcome { found, notFound, stopped, failed };

// Hears, between slices of the work, how many of its units are done; returns
// false to stop the work there.
using SearchProgress = std::function<bool(Position done)>;

class SearchPattern {
  public:
    // The pattern, or null with error set to a sentence for people.
    static std::unique_ptr<SearchPattern> Compile(const std::string& what,
                                                  const SearchOptions& options, std::string& error);
    ~SearchPattern();
    SearchPattern(const SearchPattern&) = delete;
    SearchPattern& operator=(const SearchPattern&) = delete;

    bool IsExpression() const { return expression; }
    bool WholeWord() const { return wholeWord; }

  private:
    friend class TextSearch;
    SearchPattern() = default;

    struct Code;
    std::unique_ptr<Code> code;
    bool expression = false;
    bool wholeWord = false;
};

// Searches one text, which must not change while the object lives.
class TextSearch {
  public:
    TextSearch(const SearchPattern& pattern, std::string_view text);
    ~TextSearch();
    TextSearch(const TextSearch&) = delete;
    TextSearch& operator=(const TextSearch&) = delete;

    // The first match that starts in [from, last]; it may end anywhere.
    // Progress counts the start positions tried.
    SearchOutcome Forward(Position from, Position last, Match& match,
                          const SearchProgress& progress = {});
    // The last match that starts at or after first and lies wholly before end,
    // an empty one at end aside. Progress counts the positions before end
    // looked at.
    SearchOutcome Backward(Position first, Position end, Match& match,
                           const SearchProgress& progress = {});
    // Whether [start, end) is what the pattern matches at start.
    bool IsMatchAt(Position start, Position end);
    // What takes the place of the match Forward() or IsMatchAt() found last:
    // the text as given, or for an expression the text with $1, ${name}, \n
    // and the like filled in.
    // False, with Error() set, when the replacement cannot be made.
    bool Replacement(const std::string& with, std::string& replacement);
    // Why the last search failed, as a sentence for people.
    const std::string& Error() const { return error; }
    Position Length() const { return Position(text.size()); }

    // Where a search goes on after a match, so that an empty match does not
    // stop it: its end, or the next character after an empty one (CR LF
    // counts as one).
    Position After(const Match& match) const;

  private:
    int Run(Position start, Position lastStart, Position subjectEnd);
    Match Found() const;
    bool FitsWord(const Match& match, Position subjectEnd) const;
    SearchOutcome Failed(int code);

    const SearchPattern& pattern;
    std::string_view text;
    struct State;
    std::unique_ptr<State> state;
    Position subjectEnd = 0; // of the last match found
    std::string error;
};

// What Replace All does: each match in order, with what takes its place.
struct ReplacementPlan {
    struct Edit {
        Position start;
        Position end;
        size_t offset; // the replacement is texts[offset, offset + length)
        size_t length;
    };
    std::vector<Edit> edits;
    std::string texts;
    Position growth = 0;     // the length after the edits less the length before
    Position peakGrowth = 0; // the most the text has grown at any point, edits made in order

    std::string_view Text(const Edit& edit) const {
        return std::string_view(texts).substr(edit.offset, edit.length);
    }
    // Where a position of the text before the edits is after them: moved by
    // what the edits before it changed, or to the start of the replacement
    // of a match it was inside.
    Position Moved(Position position) const;
};

// Every match of the search's text, from its start, the way Find Next would
// go through them, with its replacement. Progress counts the text's bytes.
SearchOutcome PlanReplaceAll(TextSearch& search, const std::string& with, ReplacementPlan& plan,
                             const SearchProgress& progress = {});

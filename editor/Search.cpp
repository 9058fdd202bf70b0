// Searching the document's bytes with PCRE2 (see Search.h for the promise).
#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>

#include "editor/Search.h"

#include <algorithm>
#include <chrono>
#include <cstdio>

namespace {

// Steps of backtracking allowed from one start position. Ordinary searches
// take a few hundred at most; nested repeats over a long line take billions.
constexpr uint32_t matchLimit = 10000000;
// Memory for backtracking: the interpreter's on the heap, the JIT's stack.
constexpr uint32_t heapLimitKiB = 64 * 1024;
constexpr size_t jitStackStart = 32 * 1024;
constexpr size_t jitStackMost = 8 << 20;

// Every pattern: UTF-8 that the subject need not be, Unicode classes for \w,
// \d and \b and for case, ^ and $ at each line, and a bound on where a match
// may start, which the slices of a long search use.
constexpr uint32_t compileOptions = PCRE2_UTF | PCRE2_MATCH_INVALID_UTF | PCRE2_UCP |
                                    PCRE2_MULTILINE | PCRE2_USE_OFFSET_LIMIT |
                                    PCRE2_NEVER_BACKSLASH_C;

// What is typed, matched as itself: ASCII punctuation is quoted, control
// characters written as codes, and letters and all of UTF-8 left as they are.
std::string Quoted(const std::string& what) {
    std::string pattern;
    for (const char c : what) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7f) {
            char code[8];
            std::snprintf(code, sizeof code, "\\x{%02x}", byte);
            pattern += code;
            continue;
        }
        const bool asciiLetterOrDigit = (byte >= '0' && byte <= '9') ||
                                        (byte >= 'A' && byte <= 'Z') ||
                                        (byte >= 'a' && byte <= 'z');
        if (byte < 0x80 && !asciiLetterOrDigit)
            pattern += '\\';
        pattern += c;
    }
    return pattern;
}

const char wordStart[] = "(?<!\\w)(?:";
const char wordEnd[] = ")(?!\\w)";

std::string Message(int code) {
    PCRE2_UCHAR text[256];
    if (pcre2_get_error_message(code, text, sizeof text) < 0)
        return "error " + std::to_string(code);
    return reinterpret_cast<const char*>(text);
}

// Characters (not bytes) of UTF-8 text before a byte offset, counted from 1.
size_t CharacterNumber(const std::string& text, size_t offset) {
    size_t characters = 1;
    for (size_t i = 0; i < std::min(offset, text.size()); ++i) {
        if ((static_cast<unsigned char>(text[i]) & 0xc0) != 0x80)
            ++characters;
    }
    return characters - (offset > 0 ? 1 : 0);
}

bool IsLineEnd(char c) {
    return c == '\n' || c == '\r';
}

using Clock = std::chrono::steady_clock;

// Slices of start positions sized so that each takes a few milliseconds,
// whatever the pattern costs: the caller hears of the work often enough to
// keep its window answering and to stop at once.
class Slices {
  public:
    explicit Slices(Position first) : size(first), started(Clock::now()) {}
    Position Size() const { return size; }
    void Done() {
        const auto now = Clock::now();
        const auto took = std::chrono::duration_cast<std::chrono::microseconds>(now - started);
        started = now;
        if (took.count() < 4000 && size < (Position(8) << 20))
            size *= 2;
        else if (took.count() > 16000 && size > 1)
            size /= 2;
    }

  private:
    Position size;
    Clock::time_point started;
};

} // namespace

struct SearchPattern::Code {
    pcre2_code* compiled = nullptr;
    ~Code() { pcre2_code_free(compiled); }
};

SearchPattern::~SearchPattern() = default;

std::unique_ptr<SearchPattern>
SearchPattern::Compile(const std::string& what, const SearchOptions& options, std::string& error) {
    std::string body = options.regularExpression ? what : Quoted(what);
    size_t prefix = 0;
    if (options.wholeWord) {
        body = wordStart + body + wordEnd;
        prefix = sizeof wordStart - 1;
    }
    pcre2_compile_context* context = pcre2_compile_context_create(nullptr);
    pcre2_set_newline(context, PCRE2_NEWLINE_ANYCRLF);
    int code = 0;
    PCRE2_SIZE offset = 0;
    const uint32_t caseOption = options.matchCase ? 0 : PCRE2_CASELESS;
    pcre2_code* compiled = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(body.data()), body.size(),
                                         compileOptions | caseOption, &code, &offset, context);
    pcre2_compile_context_free(context);
    if (!compiled) {
        const size_t at = offset > prefix ? offset - prefix : 0;
        error = "The regular expression is not valid: " + Message(code) + " (at character " +
                std::to_string(CharacterNumber(what, std::min(at, what.size())) + 1) + ").";
        return nullptr;
    }
    // Without a JIT for this machine, the interpreter runs it, more slowly.
    pcre2_jit_compile(compiled, PCRE2_JIT_COMPLETE);
    std::unique_ptr<SearchPattern> pattern(new SearchPattern);
    pattern->code = std::make_unique<Code>();
    pattern->code->compiled = compiled;
    pattern->expression = options.regularExpression;
    pattern->wholeWord = options.wholeWord;
    return pattern;
}

// The match data, limits and JIT stack of one text's searches.
struct TextSearch::State {
    pcre2_match_data* data = nullptr;
    pcre2_match_context* context = nullptr;
    pcre2_jit_stack* stack = nullptr;
    ~State() {
        pcre2_match_data_free(data);
        pcre2_match_context_free(context);
        pcre2_jit_stack_free(stack);
    }
};

TextSearch::TextSearch(const SearchPattern& pattern, std::string_view text)
    : pattern(pattern), text(text), state(std::make_unique<State>()) {
    state->data = pcre2_match_data_create_from_pattern(pattern.code->compiled, nullptr);
    state->context = pcre2_match_context_create(nullptr);
    pcre2_set_match_limit(state->context, matchLimit);
    pcre2_set_depth_limit(state->context, matchLimit);
    pcre2_set_heap_limit(state->context, heapLimitKiB);
    state->stack = pcre2_jit_stack_create(jitStackStart, jitStackMost, nullptr);
    if (state->stack)
        pcre2_jit_stack_assign(state->context, nullptr, state->stack);
}

TextSearch::~TextSearch() = default;

// One call of the matcher on the text cut at subjectEnd, for a match that
// starts between start and lastStart. Where the cut is not at a line end, $
// does not match there.
int TextSearch::Run(Position start, Position lastStart, Position end) {
    uint32_t options = 0;
    if (end < Length() && !IsLineEnd(text[size_t(end)]))
        options |= PCRE2_NOTEOL;
    pcre2_set_offset_limit(state->context, PCRE2_SIZE(lastStart));
    subjectEnd = end;
    return pcre2_match(pattern.code->compiled, reinterpret_cast<PCRE2_SPTR>(text.data()),
                       PCRE2_SIZE(end), PCRE2_SIZE(start), options, state->data, state->context);
}

Match TextSearch::Found() const {
    const PCRE2_SIZE* found = pcre2_get_ovector_pointer(state->data);
    return {Position(found[0]), Position(found[1])};
}

SearchOutcome TextSearch::Failed(int code) {
    switch (code) {
    case PCRE2_ERROR_MATCHLIMIT:
    case PCRE2_ERROR_DEPTHLIMIT:
        error = "The regular expression takes too many steps on this text; "
                "try one without repeats inside repeats.";
        break;
    case PCRE2_ERROR_HEAPLIMIT:
    case PCRE2_ERROR_JIT_STACKLIMIT:
    case PCRE2_ERROR_NOMEMORY:
        error = "The regular expression needs too much memory on this text, such as a "
                "repeated group over a very long line; try one without the group.";
        break;
    default:
        error = "The search failed: " + Message(code) + ".";
        break;
    }
    return SearchOutcome::failed;
}

// A whole word also needs no word character just after it. The pattern says
// so itself, but cannot see past the cut a backward search makes.
bool TextSearch::FitsWord(const Match& match, Position end) const {
    if (!pattern.WholeWord() || match.end != end || end >= Length())
        return true;
    static const std::unique_ptr<SearchPattern> word = [] {
        std::string ignored;
        SearchOptions options;
        options.regularExpression = options.matchCase = true;
        return SearchPattern::Compile("\\w", options, ignored);
    }();
    TextSearch after(*word, text);
    return after.Run(end, end, Length()) < 0;
}

Position TextSearch::After(const Match& match) const {
    if (match.end > match.start)
        return match.end;
    const auto size = Position(text.size());
    Position next = match.start + 1;
    if (match.start >= size)
        return next;
    const auto lead = static_cast<unsigned char>(text[size_t(match.start)]);
    if (lead == '\r' && next < size && text[size_t(next)] == '\n')
        return next + 1;
    int following = lead >= 0xf0 ? 3 : lead >= 0xe0 ? 2 : lead >= 0xc0 ? 1 : 0;
    while (following-- > 0 && next < size &&
           (static_cast<unsigned char>(text[size_t(next)]) & 0xc0) == 0x80)
        ++next;
    return next;
}

SearchOutcome TextSearch::Forward(Position from, Position last, Match& match,
                                  const SearchProgress& progress) {
    last = std::min(last, Length());
    Slices slices(Position(64) << 10);
    for (Position start = from; start <= last;) {
        const Position sliceLast = std::min(last, start + slices.Size() - 1);
        const int result = Run(start, sliceLast, Length());
        if (result > 0) {
            match = Found();
            return SearchOutcome::found;
        }
        if (result != PCRE2_ERROR_NOMATCH)
            return Failed(result);
        start = sliceLast + 1;
        slices.Done();
        if (progress && start <= last && !progress(start - from))
            return SearchOutcome::stopped;
    }
    return SearchOutcome::notFound;
}

// In blocks from end backwards, each searched on the text cut at end, so that
// no match reaches past it: the last match that starts in the nearest block
// holding one.
SearchOutcome TextSearch::Backward(Position first, Position end, Match& match,
                                   const SearchProgress& progress) {
    end = std::min(end, Length());
    first = std::max<Position>(first, 0);
    Slices slices(4096);
    for (Position blockEnd = end; blockEnd > first;) {
        const Position blockStart = std::max(first, blockEnd - slices.Size());
        bool found = false;
        for (Position start = blockStart; start < blockEnd;) {
            const int result = Run(start, blockEnd - 1, end);
            if (result == PCRE2_ERROR_NOMATCH)
                break;
            if (result < 0)
                return Failed(result);
            const Match candidate = Found();
            if (FitsWord(candidate, end)) {
                match = candidate;
                found = true;
            }
            start = After({candidate.start, candidate.start});
        }
        if (found)
            return SearchOutcome::found;
        blockEnd = blockStart;
        slices.Done();
        if (progress && blockEnd > first && !progress(end - blockEnd))
            return SearchOutcome::stopped;
    }
    return SearchOutcome::notFound;
}

bool TextSearch::IsMatchAt(Position start, Position end) {
    if (start < 0 || start > Length() || Run(start, start, Length()) <= 0)
        return false;
    const Match found = Found();
    return found.start == start && found.end == end;
}

bool TextSearch::Replacement(const std::string& with, std::string& replacement) {
    if (!pattern.IsExpression()) {
        replacement = with;
        return true;
    }
    const uint32_t options = PCRE2_SUBSTITUTE_MATCHED | PCRE2_SUBSTITUTE_REPLACEMENT_ONLY |
                             PCRE2_SUBSTITUTE_EXTENDED | PCRE2_SUBSTITUTE_UNSET_EMPTY |
                             PCRE2_SUBSTITUTE_OVERFLOW_LENGTH;
    replacement.resize(std::max<size_t>(replacement.capacity(), with.size() + 64));
    for (int attempt = 0; attempt < 2; ++attempt) {
        PCRE2_SIZE length = replacement.size();
        const int result =
            pcre2_substitute(pattern.code->compiled, reinterpret_cast<PCRE2_SPTR>(text.data()),
                             PCRE2_SIZE(subjectEnd), 0, options, state->data, state->context,
                             reinterpret_cast<PCRE2_SPTR>(with.data()), with.size(),
                             reinterpret_cast<PCRE2_UCHAR*>(replacement.data()), &length);
        if (result >= 0) {
            replacement.resize(length);
            return true;
        }
        if (result != PCRE2_ERROR_NOMEMORY) {
            error = "The replacement is not valid: " + Message(result) + ".";
            return false;
        }
        replacement.resize(length); // the length needed, with room for a NUL
    }
    error = "The replacement could not be made.";
    return false;
}

SearchOutcome PlanReplaceAll(TextSearch& search, const std::string& with, ReplacementPlan& plan,
                             const SearchProgress& progress) {
    plan = ReplacementPlan();
    const Position length = search.Length();
    std::string replacement;
    Position from = 0;
    const SearchProgress tried = [&](Position done) { return !progress || progress(from + done); };
    for (size_t count = 0; from <= length; ++count) {
        Match match;
        const SearchOutcome outcome = search.Forward(from, length, match, tried);
        if (outcome == SearchOutcome::notFound)
            break;
        if (outcome != SearchOutcome::found)
            return outcome;
        if (!search.Replacement(with, replacement))
            return SearchOutcome::failed;
        // A replacement of plain text is the same each time, and kept once.
        const bool same = !plan.edits.empty() && replacement == plan.Text(plan.edits.back());
        const size_t offset = same ? plan.edits.back().offset : plan.texts.size();
        if (!same)
            plan.texts += replacement;
        plan.edits.push_back({match.start, match.end, offset, replacement.size()});
        plan.growth += Position(replacement.size()) - (match.end - match.start);
        plan.peakGrowth = std::max(plan.peakGrowth, plan.growth);
        from = search.After(match);
        if (count % 4096 == 4095 && progress && !progress(from))
            return SearchOutcome::stopped;
    }
    return plan.edits.empty() ? SearchOutcome::notFound : SearchOutcome::found;
}

Position ReplacementPlan::Moved(Position position) const {
    Position shift = 0;
    for (const Edit& edit : edits) {
        if (edit.start >= position)
            break;
        if (edit.end > position)
            return edit.start + shift;
        shift += Position(edit.length) - (edit.end - edit.start);
    }
    return position + shift;
}

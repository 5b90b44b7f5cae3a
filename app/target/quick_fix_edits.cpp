#include "app/target/quick_fix_edits.h"

#include <unicode/uchar.h>

#include <algorithm>
#include <chrono>
#include <iterator>

#include "core/text/unicode.h"

namespace ravlin {
namespace {

using Result = QNQuickFixCommitResult;
using Token = QNQuickFixElementToken;
using Driver = std::shared_ptr<QNQuickFixHostDriver>;
using text::Utf16Range;

// Checks that a selection written, or a change typed, shows in the field: this many, this far
// apart (a browser answers from its copy of the page, late under load: a second at most).
constexpr int shownChecks = 40;
constexpr auto shownCheckInterval = std::chrono::milliseconds(25);
// How often the take-back of a change that did not come out is typed, each time over what the
// field then reads (a browser may drop a typed key once).
constexpr int takeBackAttempts = 3;

// A word (letters, digits and the marks on them) or any other single character.
struct Token16 {
    std::size_t at = 0;
    std::size_t size = 0;
};

std::vector<Token16> tokensOf(std::u16string_view text) {
    std::vector<Token16> tokens;
    const auto isWordPart = [](char32_t c) {
        return u_isalnum(static_cast<UChar32>(c)) || u_getCombiningClass(static_cast<UChar32>(c)) != 0 ||
               u_charType(static_cast<UChar32>(c)) == U_NON_SPACING_MARK;
    };
    for (std::size_t at = 0; at < text.size();) {
        const auto width = [&](std::size_t i) {
            return text::codePointAt(text, static_cast<std::int64_t>(i)) > 0xFFFF ? 2u : 1u;
        };
        std::size_t end = at + width(at);
        if (isWordPart(text::codePointAt(text, static_cast<std::int64_t>(at)))) {
            while (end < text.size() &&
                   isWordPart(text::codePointAt(text, static_cast<std::int64_t>(end)))) {
                end += width(end);
            }
        }
        tokens.push_back({at, end - at});
        at = end;
    }
    return tokens;
}

// The pairs of tokens the two texts share, in order (Myers' shortest edit script); none beyond
// `maxSteps` insertions and deletions.
std::optional<std::vector<std::pair<std::size_t, std::size_t>>> sharedTokens(
    std::u16string_view a, const std::vector<Token16>& as, std::u16string_view b,
    const std::vector<Token16>& bs, std::size_t maxSteps) {
    const auto n = static_cast<std::ptrdiff_t>(as.size());
    const auto m = static_cast<std::ptrdiff_t>(bs.size());
    const auto same = [&](std::ptrdiff_t i, std::ptrdiff_t j) {
        return a.substr(as[i].at, as[i].size) == b.substr(bs[j].at, bs[j].size);
    };
    const auto most = std::min<std::ptrdiff_t>(n + m, static_cast<std::ptrdiff_t>(maxSteps));
    const std::ptrdiff_t offset = most + 1;
    std::vector<std::ptrdiff_t> v(static_cast<std::size_t>(2 * offset + 1), 0);
    std::vector<std::vector<std::ptrdiff_t>> trace;
    const auto at = [&](std::vector<std::ptrdiff_t>& row, std::ptrdiff_t k) -> std::ptrdiff_t& {
        return row[static_cast<std::size_t>(k + offset)];
    };
    std::optional<std::ptrdiff_t> steps;
    for (std::ptrdiff_t d = 0; d <= most && !steps; ++d) {
        trace.push_back(v);
        for (std::ptrdiff_t k = -d; k <= d; k += 2) {
            std::ptrdiff_t x = (k == -d || (k != d && at(v, k - 1) < at(v, k + 1)))
                                   ? at(v, k + 1)
                                   : at(v, k - 1) + 1;
            std::ptrdiff_t y = x - k;
            while (x < n && y < m && same(x, y)) {
                ++x;
                ++y;
            }
            at(v, k) = x;
            if (x >= n && y >= m) {
                steps = d;
                break;
            }
        }
    }
    if (!steps) {
        return std::nullopt;
    }
    std::vector<std::pair<std::size_t, std::size_t>> shared;
    std::ptrdiff_t x = n;
    std::ptrdiff_t y = m;
    for (std::ptrdiff_t d = *steps; d >= 0; --d) {
        auto& row = trace[static_cast<std::size_t>(d)];
        const std::ptrdiff_t k = x - y;
        const std::ptrdiff_t previousK =
            (k == -d || (k != d && at(row, k - 1) < at(row, k + 1))) ? k + 1 : k - 1;
        const std::ptrdiff_t previousX = at(row, previousK);
        const std::ptrdiff_t previousY = previousX - previousK;
        while (x > previousX && y > previousY) {
            --x;
            --y;
            shared.emplace_back(static_cast<std::size_t>(x), static_cast<std::size_t>(y));
        }
        if (d > 0) {
            x = previousX;
            y = previousY;
        }
    }
    std::ranges::reverse(shared);
    return shared;
}

bool holdsLineBreak(std::u16string_view text) {
    return std::ranges::any_of(text, [](char16_t c) {
        return c == u'\n' || c == u'\r' || c == 0x2028 || c == 0x2029 || c == 0x0B || c == 0x0C;
    });
}

// A field may show a typed space as a no-break space.
std::u16string spacesPlain(std::u16string text) {
    std::ranges::replace(text, u'\u00A0', u' ');
    return text;
}

// Selects `range` in the element and waits until it reads so, the target in front throughout.
QCoro::Task<bool> selectAlone(Driver driver, Token token, platform::RunningApplication app,
                              Utf16Range range, std::stop_token stop) {
    if (!driver->isFrontmostOther(app) || !driver->setSelectedTextRange(range, token)) {
        co_return false;
    }
    for (int check = 0; check < shownChecks; ++check) {
        if (!driver->isFrontmostOther(app) || stop.stop_requested()) {
            co_return false;
        }
        if (driver->selectedTextRange(token) == std::optional(range)) {
            co_return true;
        }
        co_await driver->sleep(shownCheckInterval, stop);
    }
    co_return false;
}

QCoro::Task<bool> valueShows(Driver driver, Token token, std::u16string expected,
                             std::stop_token stop) {
    const auto wanted = spacesPlain(std::move(expected));
    for (int check = 0; check < shownChecks; ++check) {
        if (check > 0) {
            co_await driver->sleep(shownCheckInterval, stop);
        }
        if (const auto value = driver->value(token); value && spacesPlain(*value) == wanted) {
            co_return true;
        }
    }
    co_return false;
}

// The caret and selection `before` (none: left as they are) where they stand after `edits`.
QCoro::Task<> putBack(Driver driver, Token token, platform::RunningApplication app,
                      std::optional<Utf16Range> before, std::vector<QNTextEdit> edits) {
    if (!before) {
        co_return;
    }
    const auto start = placeAfterEdits(edits, before->location);
    const auto end = placeAfterEdits(edits, before->end());
    (void)co_await selectAlone(std::move(driver), token, std::move(app),
                               Utf16Range{start, std::max<std::int64_t>(end - start, 0)},
                               std::stop_token());
}

// The changes to type that make `corrected` of `original`; none where one would take in or
// write a line break (between paragraphs: no one part of a field holds it) or the texts are too
// different.
std::optional<std::vector<QNTextEdit>> writableEdits(std::u16string_view original,
                                                     std::u16string_view corrected) {
    auto edits = textEdits(original, corrected);
    if (!edits || edits->empty() ||
        std::ranges::any_of(*edits, [&](const QNTextEdit& edit) {
            return holdsLineBreak(edit.replacement) ||
                   holdsLineBreak(original.substr(static_cast<std::size_t>(edit.range.location),
                                                  static_cast<std::size_t>(edit.range.length)));
        })) {
        return std::nullopt;
    }
    return edits;
}

// `edits` of `value` (the field's text, each range in it) typed, last first (the places of the
// earlier ones stay as they were): each range selected alone and typed over, and seen in the
// field before the next. How many came out so (from the last), up to the first that did not.
QCoro::Task<std::size_t> typeEdits(Driver driver, Token token, platform::RunningApplication app,
                                   std::u16string value, std::vector<QNTextEdit> edits,
                                   std::stop_token stop) {
    std::size_t shown = 0;
    for (auto last = edits.rbegin(); last != edits.rend(); ++last, ++shown) {
        const QNTextEdit& edit = *last;
        bool sent = co_await selectAlone(driver, token, app, edit.range, stop) &&
                    driver->isFrontmostOther(app);
        // (a text typed in parts may stop after some: the caller takes every change back)
        if (sent && edit.replacement.empty()) {
            sent = driver->postBackSpace();
        } else if (sent) {
            sent = co_await driver->typeText(edit.replacement, app, stop) ==
                   edit.replacement.size();
        }
        if (!sent) {
            co_return shown;
        }
        value.replace(static_cast<std::size_t>(edit.range.location),
                      static_cast<std::size_t>(edit.range.length), edit.replacement);
        if (!co_await valueShows(driver, token, value, stop)) {
            co_return shown;
        }
    }
    co_return shown;
}

// `text` with `edits` (ranges of it, in order of place) made.
std::u16string withEdits(std::u16string text, const std::vector<QNTextEdit>& edits) {
    for (auto last = edits.rbegin(); last != edits.rend(); ++last) {
        text.replace(static_cast<std::size_t>(last->range.location),
                     static_cast<std::size_t>(last->range.length), last->replacement);
    }
    return text;
}

// Whether the differences `touching` (of the field's text from `expected`, in order of place,
// each touching `failed`, a change of `expected` typed that did not come out) are what typing
// it could have left: its range replaced by its replacement with keys of it dropped (none to
// all). Anything else there is a key of the person's, typed beside or over it.
bool onlyOwnKeysAt(std::u16string_view expected, const QNTextEdit& failed,
                   const std::vector<QNTextEdit>& touching) {
    if (touching.empty()) {
        return true;
    }
    std::int64_t from = failed.range.location;
    std::int64_t to = failed.range.end();
    for (const auto& other : touching) {
        from = std::min(from, other.range.location);
        to = std::max(to, other.range.end());
    }
    std::u16string region(expected.substr(static_cast<std::size_t>(from),
                                          static_cast<std::size_t>(to - from)));
    for (auto last = touching.rbegin(); last != touching.rend(); ++last) {
        region.replace(static_cast<std::size_t>(last->range.location - from),
                       static_cast<std::size_t>(last->range.length), last->replacement);
    }
    const auto head = expected.substr(static_cast<std::size_t>(from),
                                      static_cast<std::size_t>(failed.range.location - from));
    const auto tail = expected.substr(static_cast<std::size_t>(failed.range.end()),
                                      static_cast<std::size_t>(to - failed.range.end()));
    if (!std::u16string_view(region).starts_with(head) ||
        !std::u16string_view(region).ends_with(tail) || region.size() < head.size() + tail.size()) {
        return false;
    }
    const std::u16string_view typed =
        std::u16string_view(region).substr(head.size(), region.size() - head.size() - tail.size());
    // (in order, each a key of the replacement's)
    std::size_t next = 0;
    for (const char16_t unit : typed) {
        next = failed.replacement.find(unit, next);
        if (next == std::u16string::npos) {
            return false;
        }
        ++next;
    }
    return true;
}

// The changes that take back, in `now`, only what this write typed of `edits` (of `before`, in
// order of place; the last `shown` of them seen whole in the field, the one before them perhaps
// in part): whatever else `now` holds beside them (keys the person typed meanwhile) stays. None
// where that cannot be told apart (the person typed inside a change of ours, or at the one
// that did not come out).
std::optional<std::vector<QNTextEdit>> ownChangesBack(std::u16string_view before,
                                                      const std::vector<QNTextEdit>& edits,
                                                      std::size_t shown, std::u16string_view now) {
    const std::size_t firstShown = edits.size() - shown;
    const std::vector<QNTextEdit> typed(edits.begin() + static_cast<std::ptrdiff_t>(firstShown),
                                        edits.end());
    const std::u16string expected = withEdits(std::u16string(before), typed);
    // Where the field differs from what the edits seen make of it: the person's keys, and what
    // came out of the edit that did not show (at its own place, below every edit seen).
    auto others = textEdits(expected, now);
    if (!others) {
        return std::nullopt;
    }
    std::vector<QNTextEdit> person;
    std::vector<QNTextEdit> back;
    const auto* failed = firstShown > 0 ? &edits[firstShown - 1] : nullptr;
    const auto touchesFailed = [&](const QNTextEdit& other) {
        return failed != nullptr && other.range.location <= failed->range.end() &&
               other.range.end() >= failed->range.location;
    };
    // A key of the person's at the change that did not come out is theirs: the take-back would
    // type over it.
    std::vector<QNTextEdit> touching;
    std::ranges::copy_if(*others, std::back_inserter(touching), touchesFailed);
    if (failed != nullptr && !onlyOwnKeysAt(expected, *failed, touching)) {
        return std::nullopt;
    }
    for (const auto& other : *others) {
        if (!touchesFailed(other)) {
            person.push_back(other);
            continue;
        }
        // (below every edit seen: its place in `now` moves only with the person's keys before it)
        const auto at = placeAfterEdits(person, other.range.location);
        back.push_back({Utf16Range{at, static_cast<std::int64_t>(other.replacement.size())},
                        expected.substr(static_cast<std::size_t>(other.range.location),
                                        static_cast<std::size_t>(other.range.length))});
        person.push_back(other);
    }
    std::int64_t grown = 0;  // by the edits seen before this one, in `expected`
    for (const auto& edit : typed) {
        const auto length = static_cast<std::int64_t>(edit.replacement.size());
        const auto at = placeAfterEdits(person, edit.range.location + grown);
        if (now.substr(static_cast<std::size_t>(std::clamp<std::int64_t>(
                           at, 0, static_cast<std::int64_t>(now.size()))),
                       static_cast<std::size_t>(length)) != edit.replacement) {
            return std::nullopt;
        }
        back.push_back({Utf16Range{at, length},
                        std::u16string(before.substr(static_cast<std::size_t>(edit.range.location),
                                                     static_cast<std::size_t>(edit.range.length)))});
        grown += length - edit.range.length;
    }
    std::ranges::sort(back, {}, [](const QNTextEdit& edit) { return edit.range.location; });
    return back;
}

// The changes of `edits` (of `base`, in order of place) still to make in `now`, where the last
// `shown` of them were seen made whole and the one before them did not come out: that one
// over whatever it left at its place (a key dropped, another typed late), the earlier ones where
// they stand now. None where `now` holds anything else (a key the person typed meanwhile, at
// that change or anywhere): it is not typed over, and the write ends there.
std::optional<std::vector<QNTextEdit>> changesStillToMake(std::u16string_view base,
                                                          const std::vector<QNTextEdit>& edits,
                                                          std::size_t shown,
                                                          std::u16string_view now) {
    const std::size_t failedAt = edits.size() - shown - 1;
    const QNTextEdit& failed = edits[failedAt];
    const std::vector<QNTextEdit> made(edits.begin() + static_cast<std::ptrdiff_t>(failedAt) + 1,
                                       edits.end());
    const std::u16string expected = withEdits(std::u16string(base), made);
    const auto others = textEdits(expected, now);
    if (!others) {
        return std::nullopt;
    }
    // What the failed change left, in `expected`: the stretch its own range and the differences
    // touching it cover, and how much longer `now` is there.
    std::int64_t from = failed.range.location;
    std::int64_t to = failed.range.end();
    std::int64_t grown = 0;
    std::vector<QNTextEdit> person;
    std::vector<QNTextEdit> touching;
    for (const auto& other : *others) {
        if (other.range.location <= failed.range.end() &&
            other.range.end() >= failed.range.location) {
            from = std::min(from, other.range.location);
            to = std::max(to, other.range.end());
            grown += static_cast<std::int64_t>(other.replacement.size()) - other.range.length;
            touching.push_back(other);
        } else {
            person.push_back(other);
        }
    }
    // Typed again only over what this write typed: a key the person typed meanwhile, beside
    // the change or anywhere else, ends the write where it is (the key stays).
    if (!person.empty() || !onlyOwnKeysAt(expected, failed, touching)) {
        return std::nullopt;
    }
    std::vector<QNTextEdit> rest;
    for (std::size_t i = 0; i < failedAt; ++i) {
        const auto& edit = edits[i];
        if (std::ranges::any_of(person, [&](const QNTextEdit& key) {
                return key.range.location < edit.range.end() &&
                       key.range.end() > edit.range.location;
            })) {
            return std::nullopt;
        }
        rest.push_back({Utf16Range{placeAfterEdits(person, edit.range.location), edit.range.length},
                        edit.replacement});
    }
    const std::u16string_view around(expected);
    std::u16string intended(around.substr(static_cast<std::size_t>(from),
                                          static_cast<std::size_t>(failed.range.location - from)));
    intended += failed.replacement;
    intended += around.substr(static_cast<std::size_t>(failed.range.end()),
                              static_cast<std::size_t>(to - failed.range.end()));
    rest.push_back({Utf16Range{placeAfterEdits(person, from), to - from + grown}, intended});
    return rest;
}

// The field's text once it has stopped changing (the keys of a step that did not show may
// still be on their way): read until it reads the same a few times running, at most as long
// as a change is waited for. None when it cannot be read.
QCoro::Task<std::optional<std::u16string>> settledValue(Driver driver, Token token) {
    constexpr int sameReads = 4;
    std::optional<std::u16string> last = driver->value(token);
    int same = 1;
    for (int check = 1; check < shownChecks && same < sameReads; ++check) {
        co_await driver->sleep(shownCheckInterval, std::stop_token());
        auto now = driver->value(token);
        same = now == last ? same + 1 : 1;
        last = std::move(now);
    }
    co_return last;
}

// What this write typed of `edits` (of `before`, the field's text, in order of place; the last
// `shown` seen whole) taken back, typed as the correction was, and nothing else: a key the
// person typed meanwhile stays. A part of the take-back that does not come out is typed again
// over what the field then reads (`takeBackAttempts` in all). True once the field reads as
// `before` with only the person's keys beside it. Runs whatever stops the flow: the field is
// not left half changed.
QCoro::Task<bool> bringBack(Driver driver, Token token, platform::RunningApplication app,
                            std::u16string before, std::vector<QNTextEdit> edits,
                            std::size_t shown) {
    auto now = co_await settledValue(driver, token);
    if (!now) {
        co_return false;
    }
    // (compared with the spaces a field may show as no-break ones made plain, one for one)
    now = spacesPlain(std::move(*now));
    for (auto& edit : edits) {
        edit.replacement = spacesPlain(std::move(edit.replacement));
    }
    auto changes = ownChangesBack(spacesPlain(std::move(before)), edits, shown, *now);
    const auto crossesParts = [](std::u16string_view text, const std::vector<QNTextEdit>& at) {
        return std::ranges::any_of(at, [&](const QNTextEdit& edit) {
            return holdsLineBreak(edit.replacement) ||
                   holdsLineBreak(text.substr(static_cast<std::size_t>(edit.range.location),
                                              static_cast<std::size_t>(edit.range.length)));
        });
    };
    // Typed, and where one does not come out, what is still to take back typed again over what
    // the field then reads; each time read back.
    for (int attempt = 1; changes && !crossesParts(*now, *changes); ++attempt) {
        std::erase_if(*changes, [&](const QNTextEdit& edit) {
            return now->substr(static_cast<std::size_t>(edit.range.location),
                               static_cast<std::size_t>(edit.range.length)) == edit.replacement;
        });
        if (changes->empty()) {
            co_return true;
        }
        const auto made =
            co_await typeEdits(driver, token, app, *now, *changes, std::stop_token());
        if (made == changes->size()) {
            co_return true;
        }
        if (attempt == takeBackAttempts) {
            break;
        }
        auto after = co_await settledValue(driver, token);
        if (!after) {
            break;
        }
        auto read = spacesPlain(std::move(*after));
        changes = changesStillToMake(*now, *changes, made, read);
        now = std::move(read);
    }
    co_return false;
}

}  // namespace

std::optional<std::vector<QNTextEdit>> textEdits(std::u16string_view original,
                                                 std::u16string_view corrected,
                                                 std::size_t maxSteps) {
    const auto as = tokensOf(original);
    const auto bs = tokensOf(corrected);
    const auto shared = sharedTokens(original, as, corrected, bs, maxSteps);
    if (!shared) {
        return std::nullopt;
    }
    const auto startA = [&](std::size_t i) { return i < as.size() ? as[i].at : original.size(); };
    const auto startB = [&](std::size_t j) { return j < bs.size() ? bs[j].at : corrected.size(); };
    std::vector<QNTextEdit> edits;
    const auto addEdit = [&](std::size_t i0, std::size_t i1, std::size_t j0, std::size_t j1) {
        if (i0 == i1 && j0 == j1) {
            return;
        }
        std::size_t from = startA(i0);
        std::size_t to = startA(i1);
        std::u16string_view replaced = original.substr(from, to - from);
        std::u16string_view replacement =
            corrected.substr(startB(j0), startB(j1) - startB(j0));
        // Cut down to the characters that differ, at character boundaries of both.
        std::size_t head = 0;
        while (head < replaced.size() && head < replacement.size() &&
               replaced[head] == replacement[head]) {
            ++head;
        }
        while (head > 0 && !(text::isCharacterBoundary(replaced, static_cast<std::int64_t>(head)) &&
                             text::isCharacterBoundary(replacement,
                                                       static_cast<std::int64_t>(head)))) {
            --head;
        }
        replaced.remove_prefix(head);
        replacement.remove_prefix(head);
        from += head;
        std::size_t tail = 0;
        while (tail < replaced.size() && tail < replacement.size() &&
               replaced[replaced.size() - 1 - tail] == replacement[replacement.size() - 1 - tail]) {
            ++tail;
        }
        while (tail > 0 &&
               !(text::isCharacterBoundary(replaced,
                                           static_cast<std::int64_t>(replaced.size() - tail)) &&
                 text::isCharacterBoundary(
                     replacement, static_cast<std::int64_t>(replacement.size() - tail)))) {
            --tail;
        }
        replaced.remove_suffix(tail);
        replacement.remove_suffix(tail);
        edits.push_back({Utf16Range{static_cast<std::int64_t>(from),
                                    static_cast<std::int64_t>(replaced.size())},
                         std::u16string(replacement)});
    };
    std::size_t i = 0;
    std::size_t j = 0;
    for (const auto& [si, sj] : *shared) {
        addEdit(i, si, j, sj);
        i = si + 1;
        j = sj + 1;
    }
    addEdit(i, as.size(), j, bs.size());
    return edits;
}

QCoro::Task<QNQuickFixCommitResult> commitChangedText(QNQuickFixHostSession session,
                                                      std::u16string correctedText,
                                                      std::shared_ptr<QNQuickFixHostDriver> driver,
                                                      std::stop_token stop) {
    const auto refused = Result::failed(QNQuickFixCommitFailure::restoreTargetSelection);
    Token token = session.elementToken;
    if (const auto focused = driver->focusedElement(session.app);
        focused && !focused->isSecure && focused->role == session.role) {
        token = focused->token;
    }
    const auto& original = session.originalText;
    const auto base = session.strategy.range.value_or(
        Utf16Range{0, static_cast<std::int64_t>(original.size())});
    // The field as it was captured, or nothing is written: the person may have typed since.
    const auto value = driver->value(token);
    if (!value || QNQuickFixHostLiveDriver::substring(*value, base.location, base.length) !=
                      std::optional(original)) {
        co_return refused;
    }
    auto edits = writableEdits(original, correctedText);
    if (!edits) {
        co_return refused;
    }
    for (auto& edit : *edits) {
        edit.range.location += base.location;
    }
    const auto before = driver->selectedTextRange(token);
    // Each range selectable alone before anything is typed: one part of the field holds it.
    for (const auto& edit : *edits) {
        if (!co_await selectAlone(driver, token, session.app, edit.range, stop)) {
            co_await putBack(driver, token, session.app, before, {});
            co_return refused;
        }
    }
    const auto shown = co_await typeEdits(driver, token, session.app, *value, *edits, stop);
    if (shown == edits->size()) {
        co_await putBack(driver, token, session.app, before, *edits);
        co_return Result::committed(QNQuickFixReplacementMethod::typed);
    }
    // A change that did not come out exactly as typed: every change is taken back, the same
    // way, so that the field is as it was (with what the person typed meanwhile); else it is
    // said to hold part of the correction.
    const bool asItWas = co_await bringBack(driver, token, session.app, *value, *edits, shown);
    co_await putBack(driver, token, session.app, before, {});
    if (asItWas) {
        co_return refused;
    }
    // (also where the field can no longer be read: it may hold part of a change all the same)
    co_return Result::partial("change-not-seen", QNQuickFixReplacementMethod::typed);
}

}  // namespace ravlin

#include "app/target/paste_check.h"

#include <algorithm>
#include <vector>

#include "app/target/paste_bounds.h"
#include "core/text/search.h"
#include "core/text/unicode.h"

namespace ravlin {
namespace {

// What the person may type beside the text while the paste is checked (about two seconds), in
// the compared form's units.
constexpr std::size_t typedAllowance = 32;

bool isLineBreak(char32_t c) {
    return c == u'\n' || c == u'\r' || c == 0x0B || c == 0x0C || c == 0x85 || c == 0x2028 ||
           c == 0x2029;
}

// Characters a field adds or leaves out without that being a change of the text.
bool isShapingOnly(char32_t c) {
    return text::isWhitespaceOrNewline(c) || c == 0x200B || c == 0x2060 || c == 0xFEFF ||
           c == 0xFFFC || c == 0x00AD || c == 0x180E;
}

char16_t quoteOrDash(char32_t c) {
    switch (c) {
        case u'"':
        case 0x201C:
        case 0x201D:
        case 0x201E:
        case 0x201F:
        case 0x00AB:
        case 0x00BB:
        case 0x2033:
        case 0x301D:
        case 0x301E:
        case 0xFF02:
            return u'"';
        case u'\'':
        case 0x2018:
        case 0x2019:
        case 0x201A:
        case 0x201B:
        case 0x2039:
        case 0x203A:
        case 0x2032:
        case u'`':
        case 0x00B4:
        case 0xFF07:
            return u'\'';
        case u'-':
        case 0x2010:
        case 0x2011:
        case 0x2012:
        case 0x2013:
        case 0x2014:
        case 0x2015:
        case 0x2212:
        case 0xFE58:
        case 0xFE63:
        case 0xFF0D:
            return u'-';
        default:
            return 0;
    }
}

// The compared form of `text`; with `lineEnds`, the form's length at each line break of the
// text, in order.
std::u16string shaped(std::u16string_view text, std::vector<std::size_t>* lineEnds = nullptr) {
    const std::u16string decomposed = text::nfd(text);
    std::u16string out;
    out.reserve(decomposed.size());
    for (std::size_t at = 0; at < decomposed.size();) {
        const char32_t c = text::codePointAt(decomposed, static_cast<std::int64_t>(at));
        at += c > 0xFFFF ? 2 : 1;
        if (lineEnds && isLineBreak(c)) {
            lineEnds->push_back(out.size());
        }
        if (isShapingOnly(c)) {
            continue;
        }
        if (const char16_t mapped = quoteOrDash(c)) {
            if (!(mapped == u'-' && !out.empty() && out.back() == u'-')) {
                out.push_back(mapped);
            }
        } else if (c == 0x2026) {
            out += u"...";
        } else if (c > 0xFFFF) {
            out.push_back(static_cast<char16_t>(0xD7C0 + (c >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(c));
        }
    }
    return out;
}

std::size_t occurrences(std::u16string_view text, std::u16string_view part) {
    std::size_t found = 0;
    (void)text::findFirstAccepted(text, part, [&](std::size_t) {
        ++found;
        return false;
    });
    return found;
}

bool contains(std::u16string_view text, std::u16string_view part) {
    return !part.empty() && text::findFirst(text, part).has_value();
}

}  // namespace

std::u16string shapeInsensitive(std::u16string_view text) {
    return shaped(text);
}

QNPastedText pastedText(std::u16string_view before, text::Utf16Range selection,
                        std::u16string_view after, std::u16string_view pasted) {
    const auto size = static_cast<std::int64_t>(before.size());
    const auto start = static_cast<std::size_t>(std::clamp<std::int64_t>(selection.location, 0, size));
    const auto end = start + static_cast<std::size_t>(std::clamp<std::int64_t>(
                                 selection.length, 0, size - static_cast<std::int64_t>(start)));
    std::vector<std::size_t> lineEnds;
    const std::u16string text = shaped(pasted, &lineEnds);
    const std::u16string replaced = shaped(before.substr(start, end - start));
    if (after == before) {
        return replaced == text ? QNPastedText::arrived : QNPastedText::notArrived;
    }
    if (text.empty()) {
        // Nothing to recognise it by (only white space and the like): the field changed.
        return QNPastedText::mayHaveArrived;
    }
    const std::u16string head = shaped(before.substr(0, start));
    const std::u16string tail = shaped(before.substr(end));
    const std::u16string now = shaped(after);
    const auto endsALine = [&](std::size_t length) {
        return std::ranges::find(lineEnds, length) != lineEnds.end();
    };

    if (now.starts_with(head)) {
        const std::u16string_view rest = std::u16string_view(now).substr(head.size());
        if (rest.size() >= tail.size() && rest.ends_with(tail)) {
            const std::u16string_view middle = rest.substr(0, rest.size() - tail.size());
            if (middle == text) {
                return QNPastedText::arrived;
            }
            // The text with a little beside it that the person typed meanwhile; never with the
            // text it was to replace still there.
            const auto at = text::findFirst(middle, text);
            if (at) {
                const auto typedBefore = middle.substr(0, *at);
                const auto typedAfter = middle.substr(*at + text.size());
                if (typedBefore.size() + typedAfter.size() <= typedAllowance &&
                    !contains(typedBefore, replaced) && !contains(typedAfter, replaced)) {
                    return QNPastedText::arrived;
                }
                return QNPastedText::mayHaveArrived;
            }
            if (!middle.empty() && text.starts_with(middle)) {
                // Cut short, unless it stops where a line of the text ends: the rest may stand
                // in the next paragraph, beyond what the field shows.
                return endsALine(middle.size()) ? QNPastedText::mayHaveArrived
                                                 : QNPastedText::arrivedInPart;
            }
            // The text with its letters' case changed where it went (an editor that capitalises
            // a sentence's first letter): it is there, perhaps, and never to be pasted again.
            if (!middle.empty() && text::lowercased(middle) == text::lowercased(text)) {
                return QNPastedText::mayHaveArrived;
            }
        }
        // The field ends with a whole line of the text, what followed moved on with the rest.
        if (!rest.empty() && rest.size() < text.size() && text.starts_with(rest) &&
            endsALine(rest.size())) {
            return QNPastedText::mayHaveArrived;
        }
    }
    return occurrences(now, text) > occurrences(shaped(before), text) ? QNPastedText::mayHaveArrived
                                                                      : QNPastedText::notArrived;
}

std::string_view toString(QNPasteCheck check) {
    switch (check) {
        case QNPasteCheck::seen:
            return "seen";
        case QNPasteCheck::delivered:
            return "delivered";
        case QNPasteCheck::partial:
            return "paste-cut-short";
        case QNPasteCheck::misplaced:
            return "paste-misplaced";
        case QNPasteCheck::unconfirmed:
        case QNPasteCheck::unattributed:
            return "arrival-unconfirmed";
        case QNPasteCheck::notSeen:
            return "paste-not-seen";
        case QNPasteCheck::notFetched:
            return "paste-not-fetched";
        case QNPasteCheck::targetGone:
            return "target-gone";
    }
    return "paste-not-seen";
}

QNPasteWitness QNPasteTarget::witness() const {
    QNPasteWitness witness;
    witness.window = window();
    if (value && selection) {
        witness.value = value();
        witness.selection = selection();
    }
    return witness;
}

QNPasteLook QNPasteTarget::look(const QNPasteWitness& before) const {
    QNPasteLook look;
    look.inFront = inFront();
    look.window = window();
    look.fetch = fetch();
    if (value && before.readable()) {
        look.value = value();
        if (look.value && runOn) {
            look.runOn = runOn();
        }
    }
    return look;
}

bool pasteGuardMayHold(bool terminal, std::u16string_view text) {
    return terminal && std::ranges::any_of(text, [](char16_t c) { return c < 0x20 || c == 0x7F; });
}

QNPasteCheck judgePaste(const QNPasteWitness& before, const QNPasteLook& now,
                        std::u16string_view text, bool mayBeHeld) {
    using platform::WriteFetch;
    const bool moved = !now.inFront || (before.window && now.window != before.window);
    const bool taken = now.fetch == WriteFetch::byTarget;
    if (before.readable() && now.value) {
        auto shape = pastedText(*before.value, *before.selection, *now.value, text);
        // (never where the field itself is as it was: the focus may just have moved on)
        if (shape != QNPastedText::arrived && now.runOn && *now.value != *before.value &&
            pastedText(*before.value, *before.selection, *now.value + *now.runOn, text) ==
                QNPastedText::arrived) {
            shape = QNPastedText::arrived;
        }
        switch (shape) {
            case QNPastedText::arrived:
                return QNPasteCheck::seen;
            case QNPastedText::arrivedInPart:
                return QNPasteCheck::partial;
            case QNPastedText::mayHaveArrived:
                return QNPasteCheck::misplaced;
            case QNPastedText::notArrived:
                break;
        }
        if (moved) {
            // Taken, then the focus went on: it may have landed in the window that has it now.
            return taken ? QNPasteCheck::unconfirmed : QNPasteCheck::targetGone;
        }
        return now.fetch == WriteFetch::none || now.fetch == WriteFetch::byOthers
                   ? QNPasteCheck::notFetched
                   : QNPasteCheck::notSeen;
    }
    switch (now.fetch) {
        case WriteFetch::byTarget:
            return moved || mayBeHeld ? QNPasteCheck::unconfirmed : QNPasteCheck::delivered;
        case WriteFetch::unknown:
            return QNPasteCheck::unattributed;
        case WriteFetch::none:
        case WriteFetch::byOthers:
            break;
    }
    return moved ? QNPasteCheck::targetGone : QNPasteCheck::notFetched;
}

QCoro::Task<QNPasteCheck> checkPaste(QNPasteWitness before, std::u16string text, bool mayBeHeld,
                                     std::function<QNPasteLook()> look,
                                     std::function<QCoro::Task<>()> pause) {
    auto check = judgePaste(before, look(), text, mayBeHeld);
    const auto unsettled = [&] {
        return before.readable() &&
               (check == QNPasteCheck::notSeen || check == QNPasteCheck::partial ||
                check == QNPasteCheck::misplaced);
    };
    for (int again = 1; again < pasteBounds.looks && unsettled(); ++again) {
        co_await pause();
        check = judgePaste(before, look(), text, mayBeHeld);
    }
    co_return check;
}

}  // namespace ravlin

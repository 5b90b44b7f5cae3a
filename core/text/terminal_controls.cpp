#include "core/text/terminal_controls.h"

namespace ravlin::text {
namespace {

constexpr char16_t kEscape = 0x1B;
constexpr char16_t kBell = 0x07;
constexpr char16_t kControlSequenceIntroducer = 0x9B;

bool isControl(char16_t unit) {
    return unit < 0x20 || unit == 0x7F || (unit >= 0x80 && unit <= 0x9F);
}

// The end of a control sequence whose parameters start at `at`: after its final character.
std::size_t endOfControlSequence(std::u16string_view text, std::size_t at) {
    while (at < text.size()) {
        const char16_t unit = text[at++];
        if (unit >= 0x40 && unit <= 0x7E) {
            return at;
        }
    }
    return at;
}

// The end of an operating-system command whose text starts at `at`: after BEL or ESC "\".
std::size_t endOfCommand(std::u16string_view text, std::size_t at) {
    while (at < text.size()) {
        const char16_t unit = text[at++];
        if (unit == kBell) {
            return at;
        }
        if (unit == kEscape && at < text.size() && text[at] == u'\\') {
            return at + 1;
        }
    }
    return at;
}

}  // namespace

std::u16string withoutTerminalControls(std::u16string_view text) {
    std::u16string plain;
    plain.reserve(text.size());
    std::size_t at = 0;
    while (at < text.size()) {
        const char16_t unit = text[at];
        if (unit == kControlSequenceIntroducer) {
            at = endOfControlSequence(text, at + 1);
            continue;
        }
        if (unit == kEscape) {
            const std::size_t next = at + 1;
            if (next >= text.size()) {
                break;
            }
            if (text[next] == u'[') {
                at = endOfControlSequence(text, next + 1);
            } else if (text[next] == u']') {
                at = endOfCommand(text, next + 1);
            } else {
                // Intermediate characters, then one final character.
                std::size_t end = next;
                while (end < text.size() && text[end] >= 0x20 && text[end] <= 0x2F) {
                    ++end;
                }
                const bool final = end < text.size() && text[end] >= 0x30 && text[end] <= 0x7E;
                at = final ? end + 1 : end;
            }
            continue;
        }
        if (isControl(unit) && unit != u'\t' && unit != u'\n' && unit != u'\r') {
            ++at;
            continue;
        }
        plain.push_back(unit);
        ++at;
    }
    return plain;
}

}  // namespace ravlin::text

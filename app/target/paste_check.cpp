#include "app/target/paste_check.h"

#include <algorithm>

namespace ravlin {

std::string_view toString(QNPasteCheck check) {
    switch (check) {
        case QNPasteCheck::seen:
            return "seen";
        case QNPasteCheck::delivered:
            return "delivered";
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
    look.fetched = fetched();
    if (value && before.readable()) {
        look.value = value();
    }
    return look;
}

bool pastedTextSeen(std::u16string_view before, text::Utf16Range selection,
                    std::u16string_view after, std::u16string_view text) {
    const auto size = static_cast<std::int64_t>(before.size());
    const auto start = std::clamp<std::int64_t>(selection.location, 0, size);
    const auto length = std::clamp<std::int64_t>(selection.length, 0, size - start);
    const auto replaced = before.substr(static_cast<std::size_t>(start),
                                        static_cast<std::size_t>(length));
    if (after == before) {
        return replaced == text;
    }
    // A field may drop newlines that end the text (a single line) or add one after it.
    auto core = text;
    while (!core.empty() && (core.back() == u'\n' || core.back() == u'\r')) {
        core.remove_suffix(1);
    }
    return static_cast<std::int64_t>(after.size()) >= start &&
           after.substr(static_cast<std::size_t>(start)).starts_with(core);
}

QNPasteCheck judgePaste(const QNPasteWitness& before, const QNPasteLook& now,
                        std::u16string_view text) {
    if (!now.inFront || (before.window && now.window != before.window)) {
        return QNPasteCheck::targetGone;
    }
    if (!now.fetched) {
        return QNPasteCheck::notFetched;
    }
    if (!before.readable()) {
        return QNPasteCheck::delivered;
    }
    return now.value && pastedTextSeen(*before.value, *before.selection, *now.value, text)
               ? QNPasteCheck::seen
               : QNPasteCheck::notSeen;
}

QCoro::Task<QNPasteCheck> checkPaste(QNPasteWitness before, std::u16string text,
                                     std::function<QNPasteLook()> look,
                                     std::function<QCoro::Task<>()> pause) {
    auto check = judgePaste(before, look(), text);
    for (int again = 1; again < pasteLooks && check == QNPasteCheck::notSeen; ++again) {
        co_await pause();
        check = judgePaste(before, look(), text);
    }
    co_return check;
}

}  // namespace ravlin

#include "app/target/target_seams.h"

#include "app/target/quick_fix_pasteboard_manager.h"

namespace ravlin {

TargetSeams TargetSeams::from(const platform::Seams& seams, std::shared_ptr<Executor> executor,
                              std::weak_ptr<QNQuickFixPasteboardManager> manager) {
    return TargetSeams{.accessibility = seams.accessibility,
                       .pasteboard = seams.pasteboard,
                       .keySynthesis = seams.keySynthesis,
                       .workspace = seams.workspace,
                       .secureInput = seams.secureInput,
                       .screens = seams.screens,
                       .hotKeys = seams.hotKeys,
                       .executor = std::move(executor),
                       .pasteboardManager = std::move(manager)};
}

TargetSeams TargetSeams::from(const AppContext& context,
                              std::weak_ptr<QNQuickFixPasteboardManager> manager) {
    return from(context.seams, context.executor, std::move(manager));
}

WaitUntilAwaiter waitForKeysUp(const TargetSeams& seams, std::stop_token stop) {
    return waitUntil(
        *seams.executor,
        [hotKeys = seams.hotKeys, keys = seams.keySynthesis] {
            return !(hotKeys && hotKeys->isHeld()) && !keys->modifiersHeld();
        },
        pasteBounds.keysUpPoll, pasteBounds.keysUpLimit, std::move(stop));
}

QCoro::Task<std::size_t> typeText(TargetSeams seams, std::u16string text,
                                  std::function<bool()> stillThere, std::stop_token stop) {
    std::size_t typed = 0;
    while (typed < text.size()) {
        const std::u16string_view rest = std::u16string_view(text).substr(typed);
        const auto room = seams.keySynthesis->textRoom(rest);
        if (room.units == 0 && room.moreIn > std::chrono::nanoseconds::zero()) {
            co_await sleepFor(*seams.executor, room.moreIn, stop);
            if (stop.stop_requested() || seams.ending.stop_requested() || !stillThere()) {
                break;
            }
            continue;
        }
        // No room and nothing to wait for: postText says why it cannot.
        const auto part = rest.substr(0, room.units == 0 ? rest.size() : room.units);
        if (!seams.keySynthesis->postText(part).ok()) {
            break;
        }
        typed += part.size();
    }
    co_return typed;
}

std::optional<TargetSeams> TargetSeams::primarySelection() const {
    auto primary = pasteboard->primarySelection();
    if (!primary) {
        return std::nullopt;
    }
    TargetSeams seams = *this;
    seams.pasteboard = std::move(primary);
    const auto manager = pasteboardManager.lock();
    seams.pasteboardManager = manager ? manager->primarySelection() : nullptr;
    return seams;
}

}  // namespace ravlin

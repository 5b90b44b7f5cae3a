#include "app/target/paste_sequence.h"

#include <utility>

namespace ravlin {

std::function<std::optional<std::u16string>()> QNPasteSteps::runOn(const QNPasteWitness&,
                                                                   std::u16string_view) {
    return {};
}

QCoro::Task<QNPasteVerdict> pasteAndCheck(QNPasteSteps& steps, QNPasteRequest request,
                                          std::stop_token stop) {
    using Kind = QNPasteVerdict::Kind;
    const std::u16string& text = request.text;
    // A copy the user made since the save is theirs and newer: nothing is written over it. The
    // write itself goes only over what was saved, as the desktop orders events.
    if (!steps.stillSaved()) {
        co_return QNPasteVerdict{.kind = Kind::clipboardChanged};
    }
    const auto written = steps.write(text);
    if (!written.ok()) {
        co_return QNPasteVerdict{.kind =
                                     written.error().code == platform::ErrorCode::invalidArgument
                                         ? Kind::clipboardChanged
                                         : Kind::writeFailed};
    }
    if (!request.chordKnown) {
        co_return QNPasteVerdict{.kind = Kind::noChord, .written = true};
    }
    co_await steps.waitForKeysUp(stop);
    // The chord goes to whatever has the focus: never to a window the person has moved to, nor
    // while the pasteboard holds anything but our text (a copy made meanwhile would be pasted in
    // its place; it stands).
    if (stop.stop_requested() || !steps.inFront()) {
        co_return QNPasteVerdict{.kind = Kind::notSent, .written = true};
    }
    if (!steps.holdsOwnChange()) {
        co_return QNPasteVerdict{.kind = Kind::clipboardChanged, .written = true};
    }
    const auto taker = steps.taker();
    auto target = steps.target(taker);
    QNPasteVerdict verdict{.kind = Kind::notSent, .written = true, .witness = target.witness()};
    if (verdict.witness.readable()) {
        target.runOn = steps.runOn(verdict.witness, text);
    }
    if (!steps.postChord()) {
        co_return verdict;
    }
    // The chord is out: the target reads the pasteboard from its own event loop, and on X11
    // fetches the text from us. Nothing is put back before it has (nor stops this wait).
    co_await steps.waitForFetch(taker);
    verdict.check = co_await checkPaste(
        verdict.witness, text, request.mayBeHeld, [&] { return target.look(verdict.witness); },
        [&] { return steps.pause(pasteBounds.lookInterval); });
    if (arrived(verdict.check)) {
        verdict.kind = Kind::arrived;
    } else if (mayHaveArrived(verdict.check)) {
        verdict.kind = Kind::mayHaveArrived;
    } else if (steps.fetchedBy(taker) != platform::WriteFetch::byTarget &&
               !steps.holdsOwnChange()) {
        // Another program copied before the target fetched our text (the server's order: its
        // copy took the pasteboard from us first): the target was given theirs.
        verdict.kind = Kind::clipboardChanged;
    } else {
        verdict.kind = Kind::notPasted;
    }
    co_return verdict;
}

}  // namespace ravlin

#include "app/target/paste_sequence.h"

#include <utility>

namespace ravlin {

std::function<std::optional<std::u16string>()> QNPasteSteps::runOn(const QNPasteWitness&,
                                                                   std::u16string_view) {
    return {};
}

QNChordPost postChordOverOwnWrite(platform::Pasteboard& pasteboard, platform::KeySynthesis& keys,
                                  platform::KeyChord chord, std::optional<std::uint64_t> focusIn) {
    auto condition = pasteboard.ownWriteCondition();
    if (!condition) {
        return QNChordPost::notOurs;
    }
    condition->focusIn = focusIn;
    pasteboard.markFetches();
    const auto posted = keys.postKeyPressIf(chord, *condition);
    if (posted.ok()) {
        return QNChordPost::sent;
    }
    switch (posted.error().code) {
        case platform::ErrorCode::invalidArgument:
            return QNChordPost::notOurs;
        case platform::ErrorCode::notFound:
            return QNChordPost::elsewhere;
        default:
            return QNChordPost::failed;
    }
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
    co_await steps.waitForKeyboardFocus(stop);
    // A target that watches the clipboard may ignore a chord that comes before it knows what our
    // text offers.
    co_await steps.waitForLook(steps.taker(), stop);
    // The chord goes to whatever has the focus: never to a window the person has moved to, nor
    // while the pasteboard holds anything but our text (a copy made meanwhile would be pasted in
    // its place; it stands).
    if (stop.stop_requested()) {
        co_return QNPasteVerdict{.kind = Kind::notSent, .written = true};
    }
    if (!steps.inFront()) {
        co_return QNPasteVerdict{
            .kind = Kind::misplaced, .written = true, .place = QNChordPlace::otherApplication};
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
    // Where the keys will go, read after every other look (each takes a while, and a page, a
    // dialog or another program may take the keyboard meanwhile): then nothing but the chord.
    if (const auto place = steps.chordPlace(); place != QNChordPlace::target) {
        verdict.kind = Kind::misplaced;
        verdict.place = place;
        co_return verdict;
    }
    // Checked once more with the chord itself, in the desktop's order: a copy made, or a put-back
    // of ours begun (the program ending), since the look above keeps the chord in; and the
    // keyboard's focus, where the desktop will send the keys.
    switch (steps.postChord()) {
        case QNChordPost::sent:
            break;
        case QNChordPost::notOurs:
            verdict.kind = steps.holdsOwnChange() ? Kind::notSent : Kind::clipboardChanged;
            co_return verdict;
        case QNChordPost::elsewhere:
            // (where to, as far as the desktop says by now)
            verdict.kind = Kind::misplaced;
            verdict.place = steps.chordPlace();
            if (verdict.place == QNChordPlace::target) {
                verdict.place = QNChordPlace::elsewhere;
            }
            co_return verdict;
        case QNChordPost::failed:
            co_return verdict;
    }
    // The chord is out: the target reads the pasteboard from its own event loop, and on X11
    // fetches the text from us. Nothing is put back before it has (nor stops this wait).
    co_await steps.waitForFetch(taker);
    // Whether our text stayed until the target stopped asking: a copy made while it still asked
    // may be what it pasted (a terminal reads the text once more to paste it).
    const bool keptThroughout = steps.holdsOwnChange();
    verdict.check = co_await checkPaste(
        verdict.witness, text, request.mayBeHeld, [&] { return target.look(verdict.witness); },
        [&] { return steps.pause(pasteBounds.lookInterval); });
    if (verdict.check == QNPasteCheck::delivered && !keptThroughout) {
        // Its client took our text, and perhaps the copy after it: which it pasted cannot be
        // told where the field cannot be read. Our text is in its hands all the same, and is
        // never offered again (a second paste would run a shell's line twice).
        verdict.check = QNPasteCheck::unconfirmed;
    }
    if (verdict.check == QNPasteCheck::notSeen && steps.chordPlace() != QNChordPlace::target) {
        // The target took the text and the field does not show it, and the keyboard has gone
        // on (the page moved it, a dialog of its own came up): the text may be where it went.
        // It is not offered for pasting again; the person is told.
        verdict.check = QNPasteCheck::unattributed;
    }
    // Once the chord is out, only what the target did is told: our text seen in the field or
    // taken by its client, or not (a copy another program made before the target fetched went
    // in its place: the paste did not arrive).
    if (arrived(verdict.check)) {
        verdict.kind = Kind::arrived;
    } else if (mayHaveArrived(verdict.check)) {
        verdict.kind = Kind::mayHaveArrived;
    } else {
        verdict.kind = Kind::notPasted;
    }
    co_return verdict;
}

}  // namespace ravlin

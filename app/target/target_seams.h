#pragma once

// What the code that reaches into other applications uses of the desktop: accessibility, the
// pasteboard, synthetic keys, the workspace, secure input, the screens, the hot keys' state and
// the main sequence its waits run on. Small enough
// to pass by value into every flow; built from the program's context, or from the simulated
// desktop in tests.

#include <qcoro/qcorotask.h>

#include <functional>
#include <memory>
#include <optional>
#include <stop_token>
#include <string>

#include "app/support/app_context.h"
#include "app/target/paste_bounds.h"
#include "core/support/async.h"
#include "core/support/executor.h"
#include "platform/seams.h"

namespace ravlin {

class QNQuickFixPasteboardManager;

struct TargetSeams {
    std::shared_ptr<platform::Accessibility> accessibility;
    std::shared_ptr<platform::Pasteboard> pasteboard;
    std::shared_ptr<platform::KeySynthesis> keySynthesis;
    std::shared_ptr<platform::Workspace> workspace;
    std::shared_ptr<platform::SecureInput> secureInput;
    std::shared_ptr<platform::Screens> screens;
    // Whether the Composer shortcut's key is still down (its grab may hide other applications'
    // focus meanwhile).
    std::shared_ptr<platform::HotKeys> hotKeys;
    std::shared_ptr<Executor> executor;
    // The process's deferred pasteboard restore, if one has been set up. Every pasteboard
    // snapshot consults it (see QNModelPasteboardSnapshot::capture); held weakly, since its
    // owner builds the target services and outlives them.
    std::weak_ptr<QNQuickFixPasteboardManager> pasteboardManager;
    // Requested once the program ends (none: never). Then the clipboard reads end at once, and
    // so do the waits no flow's own stop may shorten (after a chord, a restore must not come
    // early): the program's end has put the user's contents back itself, and leaves no flow
    // waiting.
    std::stop_token ending;

    [[nodiscard]] static TargetSeams from(const platform::Seams& seams,
                                          std::shared_ptr<Executor> executor,
                                          std::weak_ptr<QNQuickFixPasteboardManager> manager = {});
    [[nodiscard]] static TargetSeams from(const AppContext& context,
                                          std::weak_ptr<QNQuickFixPasteboardManager> manager = {});

    // The same seams over the text last selected (X11's PRIMARY) and its own deferred restore, for
    // a paste that goes through it; none where the desktop has no such selection.
    [[nodiscard]] std::optional<TargetSeams> primarySelection() const;
};

// Waits until the person has let go of every modifier and of the Composer shortcut's key: a key
// sent while they are held reaches the application with them (Super or Shift turn Ctrl+V into
// another chord). A suspension, looked at every pasteBounds.keysUpPoll, at most
// pasteBounds.keysUpLimit (then the keys go anyway): the program answers other programs and the
// person meanwhile. True when they were let go.
[[nodiscard]] WaitUntilAwaiter waitForKeysUp(const TargetSeams& seams, std::stop_token stop);

// Types `text` at the focus as the desktop's keys allow (KeySynthesis::textRoom): a part at a
// time, the flow suspended, never the program, until the keys the part before took are free;
// `stillThere` (the target still in front) is asked again after each wait. How much of it went
// out (UTF-16 units): all of it, or less where a part was refused, `stillThere` turned false or a
// stop came (seams.ending as well); what went out stays typed.
[[nodiscard]] QCoro::Task<std::size_t> typeText(TargetSeams seams, std::u16string text,
                                                std::function<bool()> stillThere,
                                                std::stop_token stop);

}  // namespace ravlin

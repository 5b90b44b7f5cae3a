#pragma once

// The general pasteboard (the desktop's clipboard): a list of items, each offering its contents
// under one or more types. The change count moves whenever the contents are cleared, which
// every writer does before writing, so a caller can tell whether anything was copied since it
// last looked. Reading never changes the count.

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/support/subscription.h"
#include "platform/outcome.h"

namespace ravlin::platform {

// One item: type -> bytes.
using PasteboardItem = std::map<std::string, std::vector<std::uint8_t>>;

// The type under which plain text travels (UTF-8).
inline constexpr std::string_view plainTextType = "text/plain;charset=utf-8";

class Pasteboard {
  public:
    virtual ~Pasteboard() = default;

    [[nodiscard]] virtual std::int64_t changeCount() = 0;
    // Every item with every type it offers data for, in the pasteboard's order.
    [[nodiscard]] virtual std::vector<PasteboardItem> items() = 0;
    // Empties the pasteboard; returns the new change count.
    virtual std::int64_t clear() = 0;
    // Adds items after those already there (normally right after clear()).
    virtual Status writeItems(const std::vector<PasteboardItem>& items) = 0;
    // Puts `text` on the pasteboard as plain text (normally right after clear()).
    virtual Status setString(std::u16string_view text) = 0;
    // The plain text on the pasteboard, if any.
    [[nodiscard]] virtual std::optional<std::u16string> string() = 0;
    // True while the contents this program last wrote (setString, writeItems) are still on the
    // pasteboard and no other program has fetched them yet. On X11 a paste is served by the
    // clipboard's owner while its event loop runs, so a writer that puts something else back
    // before the target has fetched its text makes the target paste that instead.
    [[nodiscard]] virtual bool lastWriteUnfetched() = 0;
    // False when the last items() could not read everything the owner offers (the owner did not
    // answer in time): what it gave is then not the pasteboard's contents.
    [[nodiscard]] virtual bool lastReadComplete() { return true; }
    // Told with the new change count when the contents change.
    virtual Subscription observeChanges(std::function<void(std::int64_t)> onChange) = 0;
};

}  // namespace ravlin::platform

#pragma once

// Texts a person reads were written for another desktop: where one names a facility of that
// desktop ("macOS", "Keychain", "System Settings", "Login Items", "⌘V"...), say the facility of
// this one ("your desktop", "the keyring", "Settings", "autostart", "Ctrl+V"), the rest of the
// sentence word for word. One table for the whole program. Log lines, stored keys and
// identifiers never pass through it.

#include <QString>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace ravlin {

// The replacements, longest names first.
[[nodiscard]] const std::vector<std::pair<std::string_view, std::string_view>>&
desktopWordingTable();

// `text` with every name in the table replaced; a replacement that opens the text starts with a
// capital letter.
[[nodiscard]] std::string forThisDesktop(std::string_view text);

// `text` for a button, a check box or a menu item, where a single "&" would mark the next letter
// as the keyboard mnemonic (drawn underlined, or as "_" by some styles): every "&" doubled, so
// the text shows as written.
[[nodiscard]] std::string withoutMnemonics(std::string_view text);

// Both, as Qt takes it: the text of a button, a check box or a menu item in this desktop's words.
[[nodiscard]] QString desktopButtonText(std::string_view text);

}  // namespace ravlin

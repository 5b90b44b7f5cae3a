#include "app/support/desktop_wording.h"

namespace ravlin {

const std::vector<std::pair<std::string_view, std::string_view>>& desktopWordingTable() {
    static const std::vector<std::pair<std::string_view, std::string_view>> table{
        {"the local Apple Intelligence model", "the on-device model"},
        {"the macOS Keychain", "the keyring"},
        {"Apple Intelligence", "the on-device model"},
        {"System Settings", "Settings"},
        {"Login Items", "autostart"},
        {"Keychain", "the keyring"},
        {"Terminal", "a terminal"},
        {"macOS", "your desktop"},
        {"this Mac", "this computer"},
        {"Dock", "the taskbar"},
        {"⌘V", "Ctrl+V"},
    };
    return table;
}

std::string forThisDesktop(std::string_view text) {
    std::string result;
    result.reserve(text.size());
    std::size_t position = 0;
    while (position < text.size()) {
        bool replaced = false;
        for (const auto& [name, replacement] : desktopWordingTable()) {
            if (text.substr(position, name.size()) == name) {
                std::string words(replacement);
                if (result.empty() && !words.empty() && words[0] >= 'a' && words[0] <= 'z') {
                    words[0] = static_cast<char>(words[0] - 'a' + 'A');
                }
                result += words;
                position += name.size();
                replaced = true;
                break;
            }
        }
        if (!replaced) {
            result += text[position];
            ++position;
        }
    }
    return result;
}

std::string withoutMnemonics(std::string_view text) {
    std::string result;
    result.reserve(text.size());
    for (const char c : text) {
        result += c;
        if (c == '&') {
            result += '&';
        }
    }
    return result;
}

QString desktopButtonText(std::string_view text) {
    return QString::fromStdString(withoutMnemonics(forThisDesktop(text)));
}

}  // namespace ravlin

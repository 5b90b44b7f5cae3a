#pragma once

// XSETTINGS data as a settings manager publishes it, for the tests of its reader: integer,
// string and colour records after the header, in either byte order.

#include <cstdint>
#include <string>
#include <variant>
#include <vector>

namespace ravlin::testing {

struct XSettingsColor {
    std::uint16_t red = 0, green = 0, blue = 0, alpha = 0xFFFF;
};
struct XSetting {
    std::string name;
    std::variant<std::int32_t, std::string, XSettingsColor> value;
};

inline std::vector<std::uint8_t> xsettingsData(const std::vector<XSetting>& settings,
                                               bool bigEndian = false) {
    std::vector<std::uint8_t> data;
    const auto card = [&](std::uint32_t value, int width) {
        for (int i = 0; i < width; ++i) {
            const int shift = 8 * (bigEndian ? width - 1 - i : i);
            data.push_back(static_cast<std::uint8_t>(value >> shift));
        }
    };
    const auto text = [&](const std::string& value) {
        data.insert(data.end(), value.begin(), value.end());
        data.resize(data.size() + (4 - value.size() % 4) % 4, 0);
    };
    data.push_back(bigEndian ? 1 : 0);
    data.resize(4, 0);
    card(7, 4);  // serial
    card(static_cast<std::uint32_t>(settings.size()), 4);
    for (const auto& setting : settings) {
        data.push_back(static_cast<std::uint8_t>(setting.value.index()));
        data.push_back(0);
        card(static_cast<std::uint32_t>(setting.name.size()), 2);
        text(setting.name);
        card(3, 4);  // last change
        if (const auto* integer = std::get_if<std::int32_t>(&setting.value)) {
            card(static_cast<std::uint32_t>(*integer), 4);
        } else if (const auto* string = std::get_if<std::string>(&setting.value)) {
            card(static_cast<std::uint32_t>(string->size()), 4);
            text(*string);
        } else {
            const auto& color = std::get<XSettingsColor>(setting.value);
            for (const auto part : {color.red, color.blue, color.green, color.alpha}) {
                card(part, 2);
            }
        }
    }
    return data;
}

}  // namespace ravlin::testing

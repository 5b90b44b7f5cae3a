#include "platform/linux/clipboard/selection_text.h"

#include <algorithm>

#include "core/text/unicode.h"
#include "platform/linux/clipboard/x11_selections.h"

namespace ravlin::platform::x11 {
namespace {

std::vector<std::uint8_t> bytesOf(std::string_view text) {
    return {text.begin(), text.end()};
}

}  // namespace

SelectionData textSelection(std::u16string_view text) {
    const std::string utf8 = text::toUtf8(text);
    SelectionData data;
    data.targets = {"TARGETS", "TIMESTAMP", "MULTIPLE"};
    const auto offer = [&](std::string target, std::string type, std::vector<std::uint8_t> bytes) {
        data.targets.push_back(target);
        data.values.push_back({std::move(target), std::move(type), 8, std::move(bytes)});
    };
    offer("UTF8_STRING", "UTF8_STRING", bytesOf(utf8));
    offer("text/plain;charset=utf-8", "text/plain;charset=utf-8", bytesOf(utf8));
    offer("text/plain", "text/plain", bytesOf(utf8));
    offer("TEXT", "UTF8_STRING", bytesOf(utf8));
    if (std::ranges::all_of(text, [](char16_t unit) { return unit < 0x100; })) {
        std::vector<std::uint8_t> latin1(text.begin(), text.end());
        offer("STRING", "STRING", std::move(latin1));
    }
    return data;
}

SelectionData transientTextSelection(std::u16string_view text) {
    auto data = textSelection(text);
    const auto mark = [&](std::string target, std::string_view value) {
        data.targets.push_back(target);
        data.values.push_back({target, target, 8, bytesOf(value)});
    };
    mark("x-kde-passwordManagerHint", "secret");
    mark("application/x-copyq-hidden", "1");
    return data;
}

std::u16string decodeText(const SelectionValue& value) {
    auto bytes =
        std::string_view(reinterpret_cast<const char*>(value.bytes.data()), value.bytes.size());
    while (!bytes.empty() && bytes.back() == '\0') {
        bytes.remove_suffix(1);
    }
    if (value.target == "STRING" || value.type == "STRING") {
        std::u16string latin1;  // one code unit per byte
        for (const char byte : bytes) {
            latin1.push_back(static_cast<unsigned char>(byte));
        }
        return latin1;
    }
    return text::toUtf16(bytes);
}

std::optional<std::u16string> plainText(const SelectionData& data) {
    for (const auto target : textTargets) {
        if (const auto* value = data.find(target); value && value->format == 8) {
            return decodeText(*value);
        }
    }
    return std::nullopt;
}

void Selections::readText(std::string selection, SelectionLimits limits,
                          std::function<void(std::optional<std::u16string>)> done) {
    readTextOnly(std::move(selection), limits, [done = std::move(done)](Read read) {
        done(read.failure == PasteboardSaveFailure::none ? plainText(read.data) : std::nullopt);
    });
}

}  // namespace ravlin::platform::x11

#include "platform/linux/desktop/xsettings.h"

#include <algorithm>

namespace ravlin::platform::xsettings {
namespace {

enum Type : std::uint8_t { integerType = 0, stringType = 1, colorType = 2 };

// Reads the property front to back; every read fails once the data ends.
class Reader {
  public:
    Reader(std::span<const std::uint8_t> data, bool bigEndian) : data_(data), big_(bigEndian) {}

    bool skip(std::size_t count) {
        if (count > data_.size() - position_) {
            return false;
        }
        position_ += count;
        return true;
    }
    std::optional<std::uint32_t> card(std::size_t width) {
        if (width > data_.size() - position_) {
            return std::nullopt;
        }
        std::uint32_t value = 0;
        for (std::size_t i = 0; i < width; ++i) {
            const std::uint32_t byte = data_[position_ + (big_ ? i : width - 1 - i)];
            value = (value << 8) | byte;
        }
        position_ += width;
        return value;
    }
    std::optional<std::string_view> text(std::size_t length) {
        if (length > data_.size() - position_) {
            return std::nullopt;
        }
        const std::string_view view(reinterpret_cast<const char*>(data_.data()) + position_,
                                    length);
        position_ += length;
        return view;
    }

  private:
    std::span<const std::uint8_t> data_;
    bool big_;
    std::size_t position_ = 0;
};

constexpr std::size_t padding(std::size_t length) {
    return (4 - length % 4) % 4;
}

}  // namespace

std::optional<std::int32_t> integer(std::span<const std::uint8_t> data, std::string_view name) {
    data = data.first(std::min(data.size(), maximumLength));
    if (data.empty()) {
        return std::nullopt;
    }
    Reader reader(data, data[0] != 0);
    if (!reader.skip(4) || !reader.card(4)) {
        return std::nullopt;
    }
    const auto count = reader.card(4);
    if (!count) {
        return std::nullopt;
    }
    // Each record takes at least 12 bytes: a count beyond that is cut by the data's end.
    for (std::uint32_t i = 0; i < *count; ++i) {
        const auto type = reader.card(1);
        if (!type || !reader.skip(1)) {
            return std::nullopt;
        }
        const auto nameLength = reader.card(2);
        if (!nameLength) {
            return std::nullopt;
        }
        const auto settingName = reader.text(*nameLength);
        if (!settingName || !reader.skip(padding(*nameLength)) || !reader.card(4)) {
            return std::nullopt;
        }
        switch (*type) {
            case integerType: {
                const auto value = reader.card(4);
                if (!value) {
                    return std::nullopt;
                }
                if (*settingName == name) {
                    return static_cast<std::int32_t>(*value);
                }
                break;
            }
            case stringType: {
                const auto length = reader.card(4);
                if (!length || !reader.skip(*length) || !reader.skip(padding(*length))) {
                    return std::nullopt;
                }
                break;
            }
            case colorType:
                if (!reader.skip(8)) {
                    return std::nullopt;
                }
                break;
            default:
                // An unknown type has no known length: nothing after it can be read.
                return std::nullopt;
        }
    }
    return std::nullopt;
}

}  // namespace ravlin::platform::xsettings

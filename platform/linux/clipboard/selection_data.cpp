#include "platform/linux/clipboard/selection_data.h"

#include <algorithm>
#include <cstring>


namespace ravlin::platform::x11 {
namespace {

constexpr std::array<std::string_view, 7> protocolTargets = {
    "TARGETS", "TIMESTAMP",        "MULTIPLE",       "SAVE_TARGETS",
    "DELETE",  "INSERT_SELECTION", "INSERT_PROPERTY"};

constexpr std::string_view handOffMagic = "RVLCLIP1";

class Writer {
  public:
    void raw(const void* data, std::size_t size) {
        const auto* bytes = static_cast<const std::uint8_t*>(data);
        out_.insert(out_.end(), bytes, bytes + size);
    }
    void u32(std::uint32_t value) { raw(&value, sizeof value); }
    void u64(std::uint64_t value) { raw(&value, sizeof value); }
    void text(std::string_view value) {
        u32(static_cast<std::uint32_t>(value.size()));
        raw(value.data(), value.size());
    }
    std::vector<std::uint8_t> take() { return std::move(out_); }

  private:
    std::vector<std::uint8_t> out_;
};

class Reader {
  public:
    explicit Reader(std::span<const std::uint8_t> in) : in_(in) {}
    bool raw(void* into, std::size_t size) {
        if (size > in_.size() - at_) {
            return false;
        }
        std::memcpy(into, in_.data() + at_, size);
        at_ += size;
        return true;
    }
    bool u8(std::uint8_t& value) { return raw(&value, sizeof value); }
    bool u32(std::uint32_t& value) { return raw(&value, sizeof value); }
    bool u64(std::uint64_t& value) { return raw(&value, sizeof value); }
    bool text(std::string& value) {
        std::uint32_t size = 0;
        if (!u32(size) || size > maxNameBytes) {
            return false;
        }
        value.resize(size);
        return raw(value.data(), size);
    }
    bool bytes(std::vector<std::uint8_t>& value, std::uint64_t size) {
        if (size > in_.size() - at_) {
            return false;
        }
        value.assign(in_.begin() + static_cast<std::ptrdiff_t>(at_),
                     in_.begin() + static_cast<std::ptrdiff_t>(at_ + size));
        at_ += static_cast<std::size_t>(size);
        return true;
    }
    [[nodiscard]] bool atEnd() const { return at_ == in_.size(); }

  private:
    std::span<const std::uint8_t> in_;
    std::size_t at_ = 0;
};

}  // namespace

std::size_t SelectionData::byteCount() const {
    std::size_t total = 0;
    for (const auto& value : values) {
        total += value.bytes.size();
    }
    return total;
}

const SelectionValue* SelectionData::find(std::string_view target) const {
    const auto found = std::ranges::find(values, target, &SelectionValue::target);
    return found == values.end() ? nullptr : &*found;
}

bool SelectionData::refuses(std::string_view target) const {
    return !isProtocolTarget(target) && find(target) == nullptr &&
           std::ranges::find(targets, target) != targets.end();
}

bool isProtocolTarget(std::string_view target) {
    return std::ranges::find(protocolTargets, target) != protocolTargets.end();
}

std::vector<std::uint8_t> encodeHandOff(const SelectionHandOff& handOff) {
    Writer out;
    out.raw(handOffMagic.data(), handOffMagic.size());
    out.u32(handOff.time);
    out.text(handOff.selection);
    out.text(handOff.data.targetsType);
    out.u32(static_cast<std::uint32_t>(handOff.data.targets.size()));
    for (const auto& target : handOff.data.targets) {
        out.text(target);
    }
    out.u32(static_cast<std::uint32_t>(handOff.data.values.size()));
    for (const auto& value : handOff.data.values) {
        out.text(value.target);
        out.text(value.type);
        out.raw(&value.format, 1);
        out.u64(value.bytes.size());
        out.raw(value.bytes.data(), value.bytes.size());
    }
    return out.take();
}

std::optional<SelectionHandOff> decodeHandOff(std::span<const std::uint8_t> bytes,
                                              const SelectionLimits& limits) {
    Reader in(bytes);
    std::array<char, handOffMagic.size()> magic{};
    if (!in.raw(magic.data(), magic.size()) ||
        std::string_view(magic.data(), magic.size()) != handOffMagic) {
        return std::nullopt;
    }
    SelectionHandOff handOff;
    std::uint32_t targetCount = 0;
    if (!in.u32(handOff.time) || !in.text(handOff.selection) ||
        !in.text(handOff.data.targetsType) || !in.u32(targetCount) ||
        targetCount > limits.maxTargets) {
        return std::nullopt;
    }
    handOff.data.targets.resize(targetCount);
    for (auto& target : handOff.data.targets) {
        if (!in.text(target)) {
            return std::nullopt;
        }
    }
    std::uint32_t valueCount = 0;
    if (!in.u32(valueCount) || valueCount > limits.maxTargets) {
        return std::nullopt;
    }
    std::size_t total = 0;
    handOff.data.values.resize(valueCount);
    for (auto& value : handOff.data.values) {
        std::uint64_t size = 0;
        if (!in.text(value.target) || !in.text(value.type) || !in.u8(value.format) ||
            !in.u64(size) || size > limits.maxBytes - total) {
            return std::nullopt;
        }
        if ((value.format != 8 && value.format != 16 && value.format != 32) ||
            size % (value.format / 8) != 0 || !in.bytes(value.bytes, size)) {
            return std::nullopt;
        }
        total += static_cast<std::size_t>(size);
    }
    if (!in.atEnd() || handOff.selection.empty()) {
        return std::nullopt;
    }
    return handOff;
}

std::size_t maxHandOffBytes(const SelectionLimits& limits) {
    const std::size_t name = 4 + maxNameBytes;
    return handOffMagic.size() + 4 + 2 * name + 4 + limits.maxTargets * name + 4 +
           limits.maxTargets * (2 * name + 1 + 8) + limits.maxBytes;
}

}  // namespace ravlin::platform::x11

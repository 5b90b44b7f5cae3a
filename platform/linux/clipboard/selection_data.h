#pragma once

// What an X11 selection holds, as its owner gave it: the owner's list of targets and, for each
// target that carries contents, the bytes with the property type and unit size they came with.
// Kept exactly, so that whoever serves them again (this program, or the keeper it leaves behind
// when it ends) answers every request as the first owner did.
//
// Plain values, no X connection: the reading and serving live in x11_selections.h.

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace ravlin::platform::x11 {

struct SelectionValue {
    std::string target;
    std::string type;                 // the property type of the owner's reply
    std::uint8_t format = 8;          // 8, 16 or 32: the size of the units in `bytes`
    std::vector<std::uint8_t> bytes;  // 32-bit units in this machine's order, as X gives them

    friend bool operator==(const SelectionValue&, const SelectionValue&) = default;
};

struct SelectionData {
    // The owner's answer to TARGETS, in its order (duplicates and protocol targets included),
    // and the property type it came with.
    std::vector<std::string> targets;
    std::string targetsType = "ATOM";
    // Every target of `targets` that carries contents, read, in the order of `targets`. A
    // target listed that carries contents and has no value here is one the owner refused: it is
    // refused again when served.
    std::vector<SelectionValue> values;

    [[nodiscard]] std::size_t byteCount() const;
    [[nodiscard]] const SelectionValue* find(std::string_view target) const;
    // Whether `target` is listed and refused (see `values`).
    [[nodiscard]] bool refuses(std::string_view target) const;
    friend bool operator==(const SelectionData&, const SelectionData&) = default;
};

// Targets of the selection protocol itself, never read as contents: TARGETS and TIMESTAMP are
// answered by whoever owns the selection, MULTIPLE asks for several targets at once,
// SAVE_TARGETS is the clipboard manager's, and DELETE, INSERT_SELECTION and INSERT_PROPERTY ask
// the owner to change something.
[[nodiscard]] bool isProtocolTarget(std::string_view target);

// What one read of a selection may take.
struct SelectionLimits {
    // The owner's first answer within `total`, and each next one within `total` of the one
    // before: a busy owner that keeps answering is read to the end, up to `answering` in all.
    std::chrono::milliseconds total{1000};
    std::chrono::milliseconds answering{3000};
    std::size_t maxTargets = 256;                  // entries of the owner's TARGETS answer
    std::size_t maxBytes = std::size_t{64} << 20;  // bytes of all the contents together
};

// Names of targets and types longer than this are refused (the protocol allows more; no toolkit
// uses it).
inline constexpr std::size_t maxNameBytes = 1024;

// What a program that ends hands to the keeper that serves its selection on: the selection's
// name, the time its ownership began and the data.
struct SelectionHandOff {
    std::string selection;
    std::uint32_t time = 0;
    SelectionData data;

    friend bool operator==(const SelectionHandOff&, const SelectionHandOff&) = default;
};

[[nodiscard]] std::vector<std::uint8_t> encodeHandOff(const SelectionHandOff& handOff);
// None for anything malformed, truncated, followed by more bytes, or holding more than the
// limits allow.
[[nodiscard]] std::optional<SelectionHandOff> decodeHandOff(std::span<const std::uint8_t> bytes,
                                                            const SelectionLimits& limits);
// The most bytes an encoded hand-off within `limits` can take.
[[nodiscard]] std::size_t maxHandOffBytes(const SelectionLimits& limits);

}  // namespace ravlin::platform::x11

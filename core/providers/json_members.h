#pragma once

// Strict readers for the members of JSON objects exchanged with the online services, and the
// writer of the bodies sent to them, shared by their wire formats. A member that is missing or JSON
// null is absent; a member of the wrong JSON type makes the whole record undecodable. Every failure
// throws DecodingError:
//   dataCorrupted  "the data is not valid JSON", "the data is not a valid JSON object"
//   typeMismatch   "expected a JSON object", "expected <a type> for \"<key>\""
//   keyNotFound    "no value for \"<key>\""
// Two families: one over a document tree (request bodies, error bodies, whole replies), one over
// the value spans that the event-stream scanner hands out.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "core/net/json_scan.h"
#include "core/records/raw_value.h"

namespace ravlin::json_members {

// typeMismatch: "expected " + `expected` + " for \"<key>\"" (`expected` such as "a string").
[[nodiscard]] DecodingError mismatch(std::string_view key, std::string_view expected);
// keyNotFound: "no value for \"<key>\"".
[[nodiscard]] DecodingError missing(std::string_view key);

// --- Document trees ---------------------------------------------------------------------------

// The compact text of a body being sent; absent when a text in it is not UTF-8.
[[nodiscard]] std::optional<std::string> compactText(const nlohmann::ordered_json& body);

// Any JSON value.
[[nodiscard]] nlohmann::json parseDocument(std::string_view text);
// A JSON object.
[[nodiscard]] nlohmann::json parseObject(std::string_view text);

// The member of that name, or null when it is missing or JSON null.
[[nodiscard]] const nlohmann::json* member(const nlohmann::json& object, std::string_view key);
// The member of that name; keyNotFound when it is missing or JSON null.
[[nodiscard]] const nlohmann::json& required(const nlohmann::json& object, std::string_view key);

[[nodiscard]] std::optional<std::string> optionalString(const nlohmann::json& object,
                                                        std::string_view key);
[[nodiscard]] std::string requiredString(const nlohmann::json& object, std::string_view key);
[[nodiscard]] bool requiredBool(const nlohmann::json& object, std::string_view key);
// The member when it is an object, null when absent.
[[nodiscard]] const nlohmann::json* optionalObject(const nlohmann::json& object,
                                                   std::string_view key);
[[nodiscard]] const nlohmann::json& requiredObject(const nlohmann::json& object,
                                                   std::string_view key);
// A signed 64-bit integer: a JSON integer in range, or a number with no fractional part that
// fits. Anything else is a type mismatch ("an integer").
[[nodiscard]] std::optional<std::int64_t> optionalInteger(const nlohmann::json& object,
                                                          std::string_view key);
[[nodiscard]] std::int64_t requiredInteger(const nlohmann::json& object, std::string_view key);

// --- Scanned spans ----------------------------------------------------------------------------

// Missing or JSON null.
[[nodiscard]] bool isAbsent(const std::optional<net::JsonSpan>& span);
[[nodiscard]] std::optional<std::string> spanString(const std::optional<net::JsonSpan>& span,
                                                    std::string_view key);
// As `optionalInteger`, from a number span.
[[nodiscard]] std::optional<std::int64_t> spanInteger(const std::optional<net::JsonSpan>& span,
                                                      std::string_view key);
// The span when it is an object, null when absent.
[[nodiscard]] const net::JsonSpan* spanObject(const std::optional<net::JsonSpan>& span,
                                              std::string_view key);

// Scans `text` into `visitor`; dataCorrupted when it is not a well-formed JSON object.
void scanObject(net::JsonObjectScanner& scanner, std::string_view text,
                net::JsonObjectVisitor& visitor);

// The members of one object that are asked for by name, kept as places in the text. A member
// that appears twice counts with its last value.
template <std::size_t N>
struct Members final : net::JsonObjectVisitor {
    explicit Members(std::array<std::string_view, N> names) : names(names) {}

    void member(std::string_view key, net::JsonSpan value) override {
        for (std::size_t i = 0; i < N; ++i) {
            if (key == names[i]) {
                values[i] = value;
                return;
            }
        }
    }

    std::array<std::string_view, N> names;
    std::array<std::optional<net::JsonSpan>, N> values;
};

// The named members of the object in `text`; dataCorrupted when it is not one.
template <std::size_t N>
[[nodiscard]] Members<N> scanObject(net::JsonObjectScanner& scanner, std::string_view text,
                                    std::array<std::string_view, N> names) {
    Members<N> members(names);
    scanObject(scanner, text, members);
    return members;
}

}  // namespace ravlin::json_members

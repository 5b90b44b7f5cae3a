#pragma once

// A strict, allocation-light reader for the JSON objects of event streams, where one payload
// arrives per line and a full document tree per event would cost more than the rest of the
// path together. It checks the whole text against the JSON grammar (RFC 8259: UTF-8, the escape
// rules with paired surrogates, no trailing commas, no leading zeros, nothing after the value),
// refuses numbers too large for a double as JSON document readers do, and hands out each member
// of the top-level object with the place of its value, to be decoded only when it is wanted.
// Nesting depth is not limited and costs no stack.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ravlin::net {

struct JsonSpan {
    enum class Kind { null, boolean, number, string, object, array };
    Kind kind = Kind::null;
    // The value's text as it stands in the scanned text (strings with their quotes).
    std::string_view text;
};

class JsonObjectVisitor {
  public:
    virtual ~JsonObjectVisitor() = default;
    // One member, in document order. `key` is decoded and valid only during the call; `value`
    // points into the scanned text.
    virtual void member(std::string_view key, JsonSpan value) = 0;
};

class JsonObjectScanner {
  public:
    // Scans `text`, which must be one JSON object and white space. Calls the visitor for every
    // member of that object (not of nested ones) as it goes; false when the text is not a
    // well-formed JSON object (members seen before the fault have been visited).
    bool scan(std::string_view text, JsonObjectVisitor& visitor);

  private:
    bool skipValue(std::string_view text, std::size_t& pos, JsonSpan::Kind& kind);
    std::vector<char> stack_;
    std::string key_;
};

// The text of a string span (quotes included), escapes resolved. The span must come from a scan.
[[nodiscard]] std::string decodeJsonString(std::string_view quoted);

// The value of a number span as a signed 64-bit integer: an integer in range, or a number with
// no fractional part that fits. Absent otherwise.
[[nodiscard]] std::optional<std::int64_t> jsonInteger(std::string_view number);

}  // namespace ravlin::net

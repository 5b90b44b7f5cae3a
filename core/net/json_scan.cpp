#include "core/net/json_scan.h"

#include <locale.h>
#include <stdlib.h>
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>

#include "core/text/utf8.h"

namespace ravlin::net {

namespace {

bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

void skipSpace(std::string_view s, std::size_t& pos) {
    while (pos < s.size() && isSpace(s[pos])) {
        ++pos;
    }
}

int hexValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

// Four hexadecimal digits at `pos`.
bool readHex4(std::string_view s, std::size_t pos, unsigned& value) {
    if (pos + 4 > s.size()) {
        return false;
    }
    value = 0;
    for (std::size_t i = 0; i < 4; ++i) {
        const int digit = hexValue(s[pos + i]);
        if (digit < 0) {
            return false;
        }
        value = (value << 4) | static_cast<unsigned>(digit);
    }
    return true;
}

// A string starting at the quote at `pos`; on success `pos` is just past the closing quote.
bool skipString(std::string_view s, std::size_t& pos) {
    ++pos;  // the opening quote
    while (pos < s.size()) {
        const auto c = static_cast<unsigned char>(s[pos]);
        if (c == '"') {
            ++pos;
            return true;
        }
        if (c < 0x20) {
            return false;
        }
        if (c != '\\') {
            ++pos;
            continue;
        }
        if (pos + 1 >= s.size()) {
            return false;
        }
        const char escape = s[pos + 1];
        if (escape == 'u') {
            unsigned unit = 0;
            if (!readHex4(s, pos + 2, unit)) {
                return false;
            }
            pos += 6;
            if (unit >= 0xDC00 && unit <= 0xDFFF) {
                return false;  // a low surrogate with no high one before it
            }
            if (unit >= 0xD800 && unit <= 0xDBFF) {
                unsigned low = 0;
                if (pos + 1 >= s.size() || s[pos] != '\\' || s[pos + 1] != 'u' ||
                    !readHex4(s, pos + 2, low) || low < 0xDC00 || low > 0xDFFF) {
                    return false;
                }
                pos += 6;
            }
            continue;
        }
        switch (escape) {
            case '"':
            case '\\':
            case '/':
            case 'b':
            case 'f':
            case 'n':
            case 'r':
            case 't':
                pos += 2;
                continue;
            default:
                return false;
        }
    }
    return false;
}

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// A number as C reads it in the "C" locale: underflow gives zero, overflow infinity.
double readDouble(std::string_view number) {
    static const locale_t cLocale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    const std::string text(number);
    return strtod_l(text.c_str(), nullptr, cLocale);
}

// Whether a well-formed number has a finite double, as a JSON document reader requires. Without
// an exponent, 308 integer digits or fewer stay below the largest double; only longer integers
// and numbers with an exponent are read.
bool hasFiniteDouble(std::string_view number) {
    if (number.find_first_of("eE") == std::string_view::npos) {
        const std::size_t sign = number.front() == '-' ? 1 : 0;
        const std::size_t integerDigits = std::min(number.find('.'), number.size()) - sign;
        if (integerDigits <= 308) {
            return true;
        }
    }
    return std::isfinite(readDouble(number));
}

bool skipNumber(std::string_view s, std::size_t& pos) {
    const std::size_t start = pos;
    if (pos < s.size() && s[pos] == '-') {
        ++pos;
    }
    if (pos >= s.size()) {
        return false;
    }
    if (s[pos] == '0') {
        ++pos;
    } else if (isDigit(s[pos])) {
        while (pos < s.size() && isDigit(s[pos])) {
            ++pos;
        }
    } else {
        return false;
    }
    if (pos < s.size() && s[pos] == '.') {
        ++pos;
        if (pos >= s.size() || !isDigit(s[pos])) {
            return false;
        }
        while (pos < s.size() && isDigit(s[pos])) {
            ++pos;
        }
    }
    if (pos < s.size() && (s[pos] == 'e' || s[pos] == 'E')) {
        ++pos;
        if (pos < s.size() && (s[pos] == '+' || s[pos] == '-')) {
            ++pos;
        }
        if (pos >= s.size() || !isDigit(s[pos])) {
            return false;
        }
        while (pos < s.size() && isDigit(s[pos])) {
            ++pos;
        }
    }
    return hasFiniteDouble(s.substr(start, pos - start));
}

bool skipLiteral(std::string_view s, std::size_t& pos, std::string_view literal) {
    if (s.substr(pos, literal.size()) != literal) {
        return false;
    }
    pos += literal.size();
    return true;
}

void appendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (c >> 6)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (c >> 12)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (c >> 18)));
        out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
}

void decodeStringInto(std::string_view quoted, std::string& out) {
    out.clear();
    const std::string_view body = quoted.substr(1, quoted.size() - 2);
    std::size_t pos = 0;
    while (pos < body.size()) {
        const std::size_t escape = body.find('\\', pos);
        if (escape == std::string_view::npos) {
            out.append(body.substr(pos));
            return;
        }
        out.append(body.substr(pos, escape - pos));
        const char kind = body[escape + 1];
        pos = escape + 2;
        switch (kind) {
            case 'b':
                out.push_back('\b');
                break;
            case 'f':
                out.push_back('\f');
                break;
            case 'n':
                out.push_back('\n');
                break;
            case 'r':
                out.push_back('\r');
                break;
            case 't':
                out.push_back('\t');
                break;
            case 'u': {
                unsigned unit = 0;
                readHex4(body, pos, unit);
                pos += 4;
                char32_t code = unit;
                if (unit >= 0xD800 && unit <= 0xDBFF) {
                    unsigned low = 0;
                    readHex4(body, pos + 2, low);
                    pos += 6;
                    code = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
                }
                appendUtf8(out, code);
                break;
            }
            default:  // '"', '\\', '/'
                out.push_back(kind);
                break;
        }
    }
}

}  // namespace

bool JsonObjectScanner::skipValue(std::string_view s, std::size_t& pos, JsonSpan::Kind& kind) {
    enum class Next { value, key, closed };
    stack_.clear();
    Next next = Next::value;
    bool first = true;
    while (true) {
        if (next == Next::value) {
            if (pos >= s.size()) {
                return false;
            }
            const char c = s[pos];
            JsonSpan::Kind found;
            bool ok = true;
            if (c == '{' || c == '[') {
                found = c == '{' ? JsonSpan::Kind::object : JsonSpan::Kind::array;
                stack_.push_back(c);
                ++pos;
                skipSpace(s, pos);
                if (pos < s.size() && s[pos] == (c == '{' ? '}' : ']')) {
                    ++pos;
                    stack_.pop_back();
                    next = Next::closed;
                } else {
                    next = c == '{' ? Next::key : Next::value;
                }
            } else {
                if (c == '"') {
                    found = JsonSpan::Kind::string;
                    ok = skipString(s, pos);
                } else if (c == 't') {
                    found = JsonSpan::Kind::boolean;
                    ok = skipLiteral(s, pos, "true");
                } else if (c == 'f') {
                    found = JsonSpan::Kind::boolean;
                    ok = skipLiteral(s, pos, "false");
                } else if (c == 'n') {
                    found = JsonSpan::Kind::null;
                    ok = skipLiteral(s, pos, "null");
                } else {
                    found = JsonSpan::Kind::number;
                    ok = skipNumber(s, pos);
                }
                next = Next::closed;
            }
            if (!ok) {
                return false;
            }
            if (first) {
                kind = found;
                first = false;
            }
            continue;
        }
        if (next == Next::key) {
            if (pos >= s.size() || s[pos] != '"' || !skipString(s, pos)) {
                return false;
            }
            skipSpace(s, pos);
            if (pos >= s.size() || s[pos] != ':') {
                return false;
            }
            ++pos;
            skipSpace(s, pos);
            next = Next::value;
            continue;
        }
        // A value has just ended.
        if (stack_.empty()) {
            return true;
        }
        skipSpace(s, pos);
        if (pos >= s.size()) {
            return false;
        }
        const char c = s[pos];
        if (c == ',') {
            ++pos;
            skipSpace(s, pos);
            next = stack_.back() == '{' ? Next::key : Next::value;
        } else if ((c == '}' && stack_.back() == '{') || (c == ']' && stack_.back() == '[')) {
            ++pos;
            stack_.pop_back();
        } else {
            return false;
        }
    }
}

bool JsonObjectScanner::scan(std::string_view s, JsonObjectVisitor& visitor) {
    if (!text::isValidUtf8(s)) {
        return false;
    }
    std::size_t pos = 0;
    skipSpace(s, pos);
    if (pos >= s.size() || s[pos] != '{') {
        return false;
    }
    ++pos;
    skipSpace(s, pos);
    if (pos < s.size() && s[pos] == '}') {
        ++pos;
    } else {
        while (true) {
            const std::size_t keyStart = pos;
            if (pos >= s.size() || s[pos] != '"' || !skipString(s, pos)) {
                return false;
            }
            const std::string_view quotedKey = s.substr(keyStart, pos - keyStart);
            std::string_view key = quotedKey.substr(1, quotedKey.size() - 2);
            if (key.find('\\') != std::string_view::npos) {
                decodeStringInto(quotedKey, key_);
                key = key_;
            }
            skipSpace(s, pos);
            if (pos >= s.size() || s[pos] != ':') {
                return false;
            }
            ++pos;
            skipSpace(s, pos);
            const std::size_t valueStart = pos;
            JsonSpan::Kind kind = JsonSpan::Kind::null;
            if (!skipValue(s, pos, kind)) {
                return false;
            }
            visitor.member(key, {kind, s.substr(valueStart, pos - valueStart)});
            skipSpace(s, pos);
            if (pos < s.size() && s[pos] == ',') {
                ++pos;
                skipSpace(s, pos);
                continue;
            }
            if (pos < s.size() && s[pos] == '}') {
                ++pos;
                break;
            }
            return false;
        }
    }
    skipSpace(s, pos);
    return pos == s.size();
}

std::string decodeJsonString(std::string_view quoted) {
    std::string out;
    decodeStringInto(quoted, out);
    return out;
}

std::optional<std::int64_t> jsonInteger(std::string_view number) {
    const char* begin = number.data();
    const char* end = begin + number.size();
    if (number.find_first_of(".eE") == std::string_view::npos) {
        std::int64_t value = 0;
        const auto parsed = std::from_chars(begin, end, value);
        if (parsed.ec == std::errc() && parsed.ptr == end) {
            return value;
        }
        if (number.front() != '-') {
            std::uint64_t unsignedValue = 0;
            const auto asUnsigned = std::from_chars(begin, end, unsignedValue);
            if (asUnsigned.ec == std::errc() && asUnsigned.ptr == end) {
                return std::nullopt;  // an integer beyond the signed range
            }
        }
        // Beyond 64 bits: read as a floating-point number, as a JSON reader does.
    }
    const double value = readDouble(number);
    if (!std::isfinite(value) || std::trunc(value) != value || value < -9223372036854775808.0 ||
        value >= 9223372036854775808.0) {
        return std::nullopt;
    }
    return static_cast<std::int64_t>(value);
}

}  // namespace ravlin::net

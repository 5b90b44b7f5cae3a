#pragma once

// The update feed: an RSS document ("appcast") whose items each describe one release. An item's
// version is on its enclosure, as the attributes sparkle:shortVersionString (preferred) or
// sparkle:version of the namespace "http://www.andymatuschak.org/xml-namespaces/sparkle", else in
// child elements of the same names. Versions are dot-separated whole numbers ("1.10.2"),
// compared component by component as numbers, a missing component counting as 0.
//
// Reading is pure and bounded: a feed above maximumFeedBytes, a document type declaration or
// malformed XML is a failure, as is a feed in which no item names a readable version.

#include <compare>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace ravlin {

struct QNUpdateFeedItem {
    std::string version;
    std::string title;
    // The item's link, else its enclosure's URL; empty unless it is an http or https URL.
    std::string link;

    friend bool operator==(const QNUpdateFeedItem&, const QNUpdateFeedItem&) = default;
};

struct QNUpdateFeedReading {
    // The item with the highest version; when absent, `failure` says why.
    std::optional<QNUpdateFeedItem> newest;
    std::string failure;
};

inline constexpr std::size_t maximumFeedBytes = 1024 * 1024;

[[nodiscard]] QNUpdateFeedReading readUpdateFeed(std::string_view bytes);

// "1", "1.2", "0.10.3": whole numbers joined by single dots, nothing else.
[[nodiscard]] bool isVersionText(std::string_view text);
// Both must be version texts. "0.10" > "0.9", "1.0" == "1", "01.2" == "1.2"; any length of digits.
[[nodiscard]] std::strong_ordering compareVersions(std::string_view left, std::string_view right);

}  // namespace ravlin

#include "app/shell/update_feed.h"

#include <QByteArray>
#include <QString>
#include <QXmlStreamReader>

namespace ravlin {
namespace {

constexpr auto sparkleNamespace =
    QLatin1String("http://www.andymatuschak.org/xml-namespaces/sparkle");

// The digits of a component without leading zeros ("007" -> "7", "0" -> "").
std::string_view significant(std::string_view digits) {
    const auto first = digits.find_first_not_of('0');
    return first == std::string_view::npos ? std::string_view{} : digits.substr(first);
}

// Takes the next component off `text` (empty at the end).
std::string_view nextComponent(std::string_view& text) {
    const auto dot = text.find('.');
    const auto component = text.substr(0, dot);
    text = dot == std::string_view::npos ? std::string_view{} : text.substr(dot + 1);
    return component;
}

std::string trimmed(const QString& text) {
    return text.trimmed().toStdString();
}

bool isWebLink(const std::string& link) {
    const QString url = QString::fromStdString(link);
    return url.startsWith(QLatin1String("https://"), Qt::CaseInsensitive) ||
           url.startsWith(QLatin1String("http://"), Qt::CaseInsensitive);
}

struct ItemFields {
    std::string enclosureShortVersion;
    std::string enclosureVersion;
    std::string elementShortVersion;
    std::string elementVersion;
    std::string title;
    std::string link;
    std::string enclosureURL;

    // The first readable version, in order of preference.
    [[nodiscard]] std::optional<std::string> version() const {
        for (const auto* candidate :
             {&enclosureShortVersion, &enclosureVersion, &elementShortVersion, &elementVersion}) {
            if (isVersionText(*candidate)) {
                return *candidate;
            }
        }
        return std::nullopt;
    }
};

// Reads the current item up to its end element.
ItemFields readItem(QXmlStreamReader& reader) {
    ItemFields fields;
    while (reader.readNextStartElement()) {
        const auto name = reader.name();
        const auto ns = reader.namespaceUri();
        if (name == QLatin1String("enclosure") && ns.isEmpty()) {
            const auto attributes = reader.attributes();
            fields.enclosureShortVersion = trimmed(
                attributes.value(sparkleNamespace, QLatin1String("shortVersionString")).toString());
            fields.enclosureVersion =
                trimmed(attributes.value(sparkleNamespace, QLatin1String("version")).toString());
            fields.enclosureURL = trimmed(attributes.value(QLatin1String("url")).toString());
            reader.skipCurrentElement();
        } else if (ns == sparkleNamespace && name == QLatin1String("shortVersionString")) {
            fields.elementShortVersion =
                trimmed(reader.readElementText(QXmlStreamReader::SkipChildElements));
        } else if (ns == sparkleNamespace && name == QLatin1String("version")) {
            fields.elementVersion =
                trimmed(reader.readElementText(QXmlStreamReader::SkipChildElements));
        } else if (ns.isEmpty() && name == QLatin1String("title")) {
            fields.title = trimmed(reader.readElementText(QXmlStreamReader::SkipChildElements));
        } else if (ns.isEmpty() && name == QLatin1String("link")) {
            fields.link = trimmed(reader.readElementText(QXmlStreamReader::SkipChildElements));
        } else {
            reader.skipCurrentElement();
        }
    }
    return fields;
}

}  // namespace

bool isVersionText(std::string_view text) {
    if (text.empty() || text.front() == '.' || text.back() == '.') {
        return false;
    }
    char previous = '\0';
    for (const char c : text) {
        if (c == '.') {
            if (previous == '.') {
                return false;
            }
        } else if (c < '0' || c > '9') {
            return false;
        }
        previous = c;
    }
    return true;
}

std::strong_ordering compareVersions(std::string_view left, std::string_view right) {
    while (!left.empty() || !right.empty()) {
        const auto a = significant(nextComponent(left));
        const auto b = significant(nextComponent(right));
        if (a.size() != b.size()) {
            return a.size() <=> b.size();
        }
        if (const auto order = a.compare(b); order != 0) {
            return order <=> 0;
        }
    }
    return std::strong_ordering::equal;
}

QNUpdateFeedReading readUpdateFeed(std::string_view bytes) {
    if (bytes.size() > maximumFeedBytes) {
        return {.failure = "The update feed is too large."};
    }
    QXmlStreamReader reader(
        QByteArray::fromRawData(bytes.data(), static_cast<qsizetype>(bytes.size())));
    std::optional<QNUpdateFeedItem> newest;
    while (!reader.atEnd()) {
        const auto token = reader.readNext();
        if (token == QXmlStreamReader::DTD) {
            return {.failure = "The update feed could not be read: it declares a document type."};
        }
        if (token != QXmlStreamReader::StartElement || reader.name() != QLatin1String("item") ||
            !reader.namespaceUri().isEmpty()) {
            continue;
        }
        const ItemFields fields = readItem(reader);
        if (reader.hasError()) {
            break;
        }
        const auto version = fields.version();
        if (!version || (newest && compareVersions(*version, newest->version) <= 0)) {
            continue;
        }
        std::string link = isWebLink(fields.link)           ? fields.link
                           : isWebLink(fields.enclosureURL) ? fields.enclosureURL
                                                            : std::string{};
        newest = QNUpdateFeedItem{*version, fields.title, std::move(link)};
    }
    if (reader.hasError()) {
        // Qt's message may quote names from the feed: keep it short.
        return {.failure = "The update feed could not be read: " +
                           reader.errorString().left(160).toStdString() + " (line " +
                           std::to_string(reader.lineNumber()) + ")."};
    }
    if (!newest) {
        return {.failure = "The update feed names no version."};
    }
    return {.newest = std::move(newest)};
}

}  // namespace ravlin

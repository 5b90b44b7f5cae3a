#include "core/services/composition_status.h"

#include "core/text/unicode.h"

namespace ravlin {

QNModelCompositionStatus QNModelCompositionStatus::modelUnavailable(std::string reason,
                                                                    std::string detail) {
    return QNModelCompositionStatus(ModelUnavailable{std::move(reason), std::move(detail)});
}
QNModelCompositionStatus QNModelCompositionStatus::error(std::string message) {
    return QNModelCompositionStatus(Error{std::move(message)});
}
QNModelCompositionStatus QNModelCompositionStatus::ready() {
    return QNModelCompositionStatus(Ready{});
}
QNModelCompositionStatus QNModelCompositionStatus::pausing() {
    return QNModelCompositionStatus(Pausing{});
}
QNModelCompositionStatus QNModelCompositionStatus::correcting() {
    return QNModelCompositionStatus(Correcting{});
}
QNModelCompositionStatus QNModelCompositionStatus::fixed() {
    return QNModelCompositionStatus(Fixed{});
}
QNModelCompositionStatus QNModelCompositionStatus::noChanges() {
    return QNModelCompositionStatus(NoChanges{});
}

std::string_view QNModelCompositionStatus::label() const {
    switch (kind()) {
        case Kind::modelUnavailable:
            return "Model unavailable";
        case Kind::error:
            return "Error";
        case Kind::ready:
            return "Ready";
        case Kind::pausing:
            return "Pausing";
        case Kind::correcting:
            return "Correcting";
        case Kind::fixed:
            return "Fixed";
        case Kind::noChanges:
            return "No changes";
    }
    return "Ready";
}

std::optional<std::string> QNModelCompositionStatus::detail() const {
    if (const auto* unavailable = std::get_if<ModelUnavailable>(&value_)) {
        return unavailable->detail;
    }
    if (const auto* failure = std::get_if<Error>(&value_)) {
        return failure->message;
    }
    return std::nullopt;
}

bool operator==(const QNModelCompositionStatus& a, const QNModelCompositionStatus& b) {
    if (a.kind() != b.kind()) {
        return false;
    }
    if (const auto* left = std::get_if<QNModelCompositionStatus::ModelUnavailable>(&a.value_)) {
        const auto& right = std::get<QNModelCompositionStatus::ModelUnavailable>(b.value_);
        return text::canonicallyEqual(std::string_view(left->reason),
                                      std::string_view(right.reason)) &&
               text::canonicallyEqual(std::string_view(left->detail),
                                      std::string_view(right.detail));
    }
    if (const auto* left = std::get_if<QNModelCompositionStatus::Error>(&a.value_)) {
        const auto& right = std::get<QNModelCompositionStatus::Error>(b.value_);
        return text::canonicallyEqual(std::string_view(left->message),
                                      std::string_view(right.message));
    }
    return true;
}

bool operator==(const QNModelCompositionSnapshot& a, const QNModelCompositionSnapshot& b) {
    return text::canonicallyEqual(std::u16string_view(a.original),
                                  std::u16string_view(b.original)) &&
           text::canonicallyEqual(std::u16string_view(a.corrected),
                                  std::u16string_view(b.corrected)) &&
           a.status == b.status;
}

}  // namespace ravlin

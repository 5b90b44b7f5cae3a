#pragma once

// The own-key rows' state, shared by the Correction pane's rows and kept by the settings view
// for as long as it lives: the key being typed (never stored, never logged), the status of the
// newest check and that check's identifier. A fresh identifier makes the answer of any earlier
// check stale.

#include <string>

#include "core/support/observable.h"
#include "core/support/uuid.h"

namespace ravlin {

struct QNModeBYOKSaveStatus {
    enum class Kind { idle, validating, succeeded, failed };
    Kind kind = Kind::idle;
    // The failure's words; empty for the other kinds.
    std::string message;

    [[nodiscard]] static QNModeBYOKSaveStatus idle() { return {}; }
    [[nodiscard]] static QNModeBYOKSaveStatus validating() { return {Kind::validating, {}}; }
    [[nodiscard]] static QNModeBYOKSaveStatus succeeded() { return {Kind::succeeded, {}}; }
    [[nodiscard]] static QNModeBYOKSaveStatus failed(std::string message) {
        return {Kind::failed, std::move(message)};
    }

    friend bool operator==(const QNModeBYOKSaveStatus&, const QNModeBYOKSaveStatus&) = default;
};

struct QNModelBYOKViewState {
    Observable<std::string> byokKeyInput;
    Observable<QNModeBYOKSaveStatus> byokSaveStatus;
    Observable<Uuid> byokValidationID{Uuid::random()};
};

}  // namespace ravlin

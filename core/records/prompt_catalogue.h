#pragma once

// The prompt catalogue: every version of the instruction text a language model is given, which
// version is in force for each use case, and the loading of a version's text from the prompt
// resources (see prompt_locator.h).
//
// The version in force can be chosen at launch with "QN_LOCAL_PROMPT_VERSION",
// "QN_ONLINE_PROMPT_VERSION" and the shared "QN_PROMPT_VERSION" (a version's raw value,
// "latest" or "current"); otherwise it is the newest version whose text ships. A missing text is
// served by the newest older version of its use case. A build without any text for a use case,
// or with an unreadable text, is broken: the program stops with a message on standard error.

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "core/records/prompt_locator.h"
#include "core/records/raw_value.h"

namespace ravlin {

enum class QNModelCorrectionPromptUseCase {
    local,   // the on-device model
    online,  // the hosted and user-key models
};

// "local" or "online".
[[nodiscard]] std::string_view toString(QNModelCorrectionPromptUseCase useCase);

// Environment variables by name.
using QNPromptEnvironment = std::map<std::string, std::string>;

class QNModelCorrectionPrompt {
  public:
    enum class Case : std::uint8_t {
        localV1,
        localV2,
        localV3,
        localV4,
        localV5,
        localV6,
        localV7,
        localV8,
        onlineV1,
        onlineV2,
        onlineV3,
        onlineV4,
        onlineV5,
        onlineV6,
        onlineV7,
        onlineV8,
        onlineV9,
        onlineV10,
        onlineV11,
        onlineV12,
        onlineV13,
        onlineV14,
    };
    static constexpr std::size_t caseCount = 22;

    static const QNModelCorrectionPrompt localV1;
    static const QNModelCorrectionPrompt localV2;
    static const QNModelCorrectionPrompt localV3;
    static const QNModelCorrectionPrompt localV4;
    static const QNModelCorrectionPrompt localV5;
    static const QNModelCorrectionPrompt localV6;
    static const QNModelCorrectionPrompt localV7;
    static const QNModelCorrectionPrompt localV8;
    static const QNModelCorrectionPrompt onlineV1;
    static const QNModelCorrectionPrompt onlineV2;
    static const QNModelCorrectionPrompt onlineV3;
    static const QNModelCorrectionPrompt onlineV4;
    static const QNModelCorrectionPrompt onlineV5;
    static const QNModelCorrectionPrompt onlineV6;
    static const QNModelCorrectionPrompt onlineV7;
    static const QNModelCorrectionPrompt onlineV8;
    static const QNModelCorrectionPrompt onlineV9;
    static const QNModelCorrectionPrompt onlineV10;
    static const QNModelCorrectionPrompt onlineV11;
    static const QNModelCorrectionPrompt onlineV12;
    static const QNModelCorrectionPrompt onlineV13;
    static const QNModelCorrectionPrompt onlineV14;

    constexpr explicit QNModelCorrectionPrompt(Case value) : case_(value) {}

    [[nodiscard]] constexpr Case caseValue() const { return case_; }
    // "local-v1" … "local-v8", "online-v1" … "online-v14".
    [[nodiscard]] std::string_view rawValue() const;
    // n for the n-th local version, 100 + n for the n-th online version.
    [[nodiscard]] std::int64_t version() const;
    // The version's text, loaded on every call (an older version's text when this one is missing).
    [[nodiscard]] std::string text() const;

    // Every version in declaration order; later is newer within a use case.
    [[nodiscard]] static const std::array<QNModelCorrectionPrompt, caseCount>& allCases();

    // The newest version whose text ships, looked up on every call. `current` is `currentLocal`.
    [[nodiscard]] static QNModelCorrectionPrompt currentLocal();
    [[nodiscard]] static QNModelCorrectionPrompt currentOnline();
    [[nodiscard]] static QNModelCorrectionPrompt current();

    // The version `environment` chooses for the use case (local when not given). Not cached.
    [[nodiscard]] static QNModelCorrectionPrompt resolved(QNModelCorrectionPromptUseCase useCase,
                                                          const QNPromptEnvironment& environment);
    [[nodiscard]] static QNModelCorrectionPrompt resolved(const QNPromptEnvironment& environment);

    // The local version in force, fixed at first use by the process environment.
    [[nodiscard]] static QNModelCorrectionPrompt active();
    // The text of `active()`, loaded on every call.
    [[nodiscard]] static std::string recommended();
    // `active().version()` (the static counterpart of the instance `version()`).
    [[nodiscard]] static std::int64_t activeVersion();

    // The version in force for a use case, fixed at the first call for that use case.
    [[nodiscard]] static QNModelCorrectionPrompt active(QNModelCorrectionPromptUseCase useCase);
    // The text of `active(useCase)`, loaded on every call.
    [[nodiscard]] static std::string recommended(QNModelCorrectionPromptUseCase useCase);
    // `active(useCase).version()`.
    [[nodiscard]] static std::int64_t version(QNModelCorrectionPromptUseCase useCase);

    // The building blocks of the above.
    [[nodiscard]] static QNModelCorrectionPrompt newestLoadable(
        QNModelCorrectionPromptUseCase useCase);
    [[nodiscard]] static QNModelCorrectionPrompt newestLoadable(
        QNModelCorrectionPromptUseCase useCase, QNModelCorrectionPrompt before);
    [[nodiscard]] bool isLoadable() const;
    // The resource `name`.txt under "Prompts", else at the top level of the bundle.
    [[nodiscard]] static std::optional<QNPromptResourceLocation> resourceURL(std::string_view name);
    // The newest older version of the same use case whose text is present; none when `name`
    // is not a version's raw value.
    [[nodiscard]] static std::optional<QNModelCorrectionPrompt> fallback(
        std::string_view missingResourceName);
    [[nodiscard]] static std::string loadText(std::string_view resourceName);
    [[nodiscard]] static std::string readText(const QNPromptResourceLocation& location,
                                              std::string_view resourceName);

    // The process environment as a map.
    [[nodiscard]] static QNPromptEnvironment processEnvironment();

    // Forgets every cached version and text so the next use computes them again. For tests.
    static void resetCachesForTesting();

    friend constexpr bool operator==(QNModelCorrectionPrompt, QNModelCorrectionPrompt) = default;

  private:
    Case case_;
};

inline constexpr QNModelCorrectionPrompt QNModelCorrectionPrompt::localV1{Case::localV1};
inline constexpr QNModelCorrectionPrompt QNModelCorrectionPrompt::localV2{Case::localV2};
inline constexpr QNModelCorrectionPrompt QNModelCorrectionPrompt::localV3{Case::localV3};
inline constexpr QNModelCorrectionPrompt QNModelCorrectionPrompt::localV4{Case::localV4};
inline constexpr QNModelCorrectionPrompt QNModelCorrectionPrompt::localV5{Case::localV5};
inline constexpr QNModelCorrectionPrompt QNModelCorrectionPrompt::localV6{Case::localV6};
inline constexpr QNModelCorrectionPrompt QNModelCorrectionPrompt::localV7{Case::localV7};
inline constexpr QNModelCorrectionPrompt QNModelCorrectionPrompt::localV8{Case::localV8};
inline constexpr QNModelCorrectionPrompt QNModelCorrectionPrompt::onlineV1{Case::onlineV1};
inline constexpr QNModelCorrectionPrompt QNModelCorrectionPrompt::onlineV2{Case::onlineV2};
inline constexpr QNModelCorrectionPrompt QNModelCorrectionPrompt::onlineV3{Case::onlineV3};
inline constexpr QNModelCorrectionPrompt QNModelCorrectionPrompt::onlineV4{Case::onlineV4};
inline constexpr QNModelCorrectionPrompt QNModelCorrectionPrompt::onlineV5{Case::onlineV5};
inline constexpr QNModelCorrectionPrompt QNModelCorrectionPrompt::onlineV6{Case::onlineV6};
inline constexpr QNModelCorrectionPrompt QNModelCorrectionPrompt::onlineV7{Case::onlineV7};
inline constexpr QNModelCorrectionPrompt QNModelCorrectionPrompt::onlineV8{Case::onlineV8};
inline constexpr QNModelCorrectionPrompt QNModelCorrectionPrompt::onlineV9{Case::onlineV9};
inline constexpr QNModelCorrectionPrompt QNModelCorrectionPrompt::onlineV10{Case::onlineV10};
inline constexpr QNModelCorrectionPrompt QNModelCorrectionPrompt::onlineV11{Case::onlineV11};
inline constexpr QNModelCorrectionPrompt QNModelCorrectionPrompt::onlineV12{Case::onlineV12};
inline constexpr QNModelCorrectionPrompt QNModelCorrectionPrompt::onlineV13{Case::onlineV13};
inline constexpr QNModelCorrectionPrompt QNModelCorrectionPrompt::onlineV14{Case::onlineV14};

[[nodiscard]] inline std::string_view toString(QNModelCorrectionPrompt prompt) {
    return prompt.rawValue();
}
template <>
[[nodiscard]] std::optional<QNModelCorrectionPrompt> fromString<QNModelCorrectionPrompt>(
    std::string_view raw);

// The text of `QNModelCorrectionPrompt::active()`, loaded once at first use and kept.
[[nodiscard]] std::string recommendedAutocorrectPrompt();

}  // namespace ravlin

template <>
struct std::hash<ravlin::QNModelCorrectionPrompt> {
    std::size_t operator()(ravlin::QNModelCorrectionPrompt prompt) const noexcept {
        return std::hash<std::string_view>{}(prompt.rawValue());
    }
};

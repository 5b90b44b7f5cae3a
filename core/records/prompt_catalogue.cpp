#include "core/records/prompt_catalogue.h"

#include <unicode/utf8.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <utility>

#include "core/text/unicode.h"

extern char** environ;

namespace ravlin {
namespace {

using Prompt = QNModelCorrectionPrompt;
using UseCase = QNModelCorrectionPromptUseCase;

constexpr std::array<std::string_view, Prompt::caseCount> kRawValues{
    "local-v1",   "local-v2",   "local-v3",   "local-v4",   "local-v5",  "local-v6",
    "local-v7",   "local-v8",   "online-v1",  "online-v2",  "online-v3", "online-v4",
    "online-v5",  "online-v6",  "online-v7",  "online-v8",  "online-v9", "online-v10",
    "online-v11", "online-v12", "online-v13", "online-v14",
};

constexpr std::string_view kPromptsSubdirectory = "Prompts";
constexpr std::string_view kTextExtension = "txt";

// A prompt text that is missing or unreadable is a broken build, not bad input: say so and stop.
[[noreturn]] void stopProgram(const std::string& message) {
    std::fprintf(stderr, "%s\n", message.c_str());
    std::fflush(stderr);
    std::abort();
}

std::string_view prefix(UseCase useCase) {
    return useCase == UseCase::local ? "local-" : "online-";
}

// A value computed once, at first use, under a lock that is only taken until it exists; later
// reads take no lock. `reset` exists for tests.
template <class T>
class OnceValue {
  public:
    template <class Compute>
    T get(Compute&& compute) {
        if (ready_.load(std::memory_order_acquire)) {
            return *value_;
        }
        std::lock_guard lock(mutex_);
        if (!ready_.load(std::memory_order_relaxed)) {
            value_.emplace(std::forward<Compute>(compute)());
            ready_.store(true, std::memory_order_release);
        }
        return *value_;
    }

    void reset() {
        std::lock_guard lock(mutex_);
        ready_.store(false, std::memory_order_release);
        value_.reset();
    }

  private:
    std::mutex mutex_;
    std::atomic<bool> ready_{false};
    std::optional<T> value_;
};

struct Caches {
    OnceValue<Prompt> active;
    OnceValue<Prompt> activeLocal;
    OnceValue<Prompt> activeOnline;
    OnceValue<std::string> autocorrectPrompt;
};

Caches& caches() {
    static Caches instance;
    return instance;
}

// The offset of the first ill-formed UTF-8 sequence, or none when the bytes are valid UTF-8.
std::optional<std::size_t> firstInvalidUtf8Offset(std::string_view bytes) {
    const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.data());
    const auto length = static_cast<std::int64_t>(bytes.size());
    std::int64_t offset = 0;
    while (offset < length) {
        const std::int64_t start = offset;
        UChar32 codePoint = 0;
        U8_NEXT(data, offset, length, codePoint);
        if (codePoint < 0) {
            return static_cast<std::size_t>(start);
        }
    }
    return std::nullopt;
}

std::optional<Prompt> promptNamed(std::string_view raw) {
    for (std::size_t index = 0; index < kRawValues.size(); ++index) {
        if (kRawValues[index] == raw) {
            return Prompt(static_cast<Prompt::Case>(index));
        }
    }
    return std::nullopt;
}

Prompt newestLoadableImpl(UseCase useCase, std::optional<Prompt> before) {
    std::optional<Prompt> newest;
    for (Prompt prompt : Prompt::allCases()) {
        if (!prompt.isLoadable() || !prompt.rawValue().starts_with(prefix(useCase))) {
            continue;
        }
        if (before && prompt.version() >= before->version()) {
            continue;
        }
        newest = prompt;
    }
    if (!newest) {
        stopProgram("No loadable correction prompt resource exists for use case: " +
                    std::string(toString(useCase)));
    }
    return *newest;
}

}  // namespace

std::string_view toString(QNModelCorrectionPromptUseCase useCase) {
    return useCase == UseCase::local ? "local" : "online";
}

std::string_view QNModelCorrectionPrompt::rawValue() const {
    return kRawValues[static_cast<std::size_t>(case_)];
}

std::int64_t QNModelCorrectionPrompt::version() const {
    const auto index = static_cast<std::int64_t>(case_);
    const auto firstOnline = static_cast<std::int64_t>(Case::onlineV1);
    return index < firstOnline ? index + 1 : 100 + (index - firstOnline) + 1;
}

std::string QNModelCorrectionPrompt::text() const {
    return loadText(rawValue());
}

const std::array<QNModelCorrectionPrompt, QNModelCorrectionPrompt::caseCount>&
QNModelCorrectionPrompt::allCases() {
    static constexpr std::array<QNModelCorrectionPrompt, caseCount> cases{
        localV1,  localV2,   localV3,   localV4,   localV5,   localV6,   localV7,  localV8,
        onlineV1, onlineV2,  onlineV3,  onlineV4,  onlineV5,  onlineV6,  onlineV7, onlineV8,
        onlineV9, onlineV10, onlineV11, onlineV12, onlineV13, onlineV14,
    };
    return cases;
}

Prompt QNModelCorrectionPrompt::currentLocal() {
    return newestLoadable(UseCase::local);
}
Prompt QNModelCorrectionPrompt::currentOnline() {
    return newestLoadable(UseCase::online);
}
Prompt QNModelCorrectionPrompt::current() {
    return currentLocal();
}

Prompt QNModelCorrectionPrompt::resolved(QNModelCorrectionPromptUseCase useCase,
                                         const QNPromptEnvironment& environment) {
    const std::array<std::string, 2> keys =
        useCase == UseCase::local
            ? std::array<std::string, 2>{"QN_LOCAL_PROMPT_VERSION", "QN_PROMPT_VERSION"}
            : std::array<std::string, 2>{"QN_ONLINE_PROMPT_VERSION", "QN_PROMPT_VERSION"};
    for (const std::string& key : keys) {
        const auto found = environment.find(key);
        if (found == environment.end()) {
            continue;
        }
        const std::string value = text::lowercased(text::trimmed(std::string_view(found->second)));
        if (value.empty()) {
            continue;
        }
        if (value == "latest" || value == "current") {
            return newestLoadable(useCase);
        }
        const std::optional<Prompt> named = promptNamed(value);
        if (!named || !named->isLoadable()) {
            continue;
        }
        // Returned as named, even when it belongs to the other use case.
        return *named;
    }
    return newestLoadable(useCase);
}

Prompt QNModelCorrectionPrompt::resolved(const QNPromptEnvironment& environment) {
    return resolved(UseCase::local, environment);
}

Prompt QNModelCorrectionPrompt::active() {
    return caches().active.get([] { return resolved(processEnvironment()); });
}

std::string QNModelCorrectionPrompt::recommended() {
    return loadText(active().rawValue());
}

std::int64_t QNModelCorrectionPrompt::activeVersion() {
    return active().version();
}

Prompt QNModelCorrectionPrompt::active(QNModelCorrectionPromptUseCase useCase) {
    auto compute = [useCase] { return resolved(useCase, processEnvironment()); };
    return useCase == UseCase::local ? caches().activeLocal.get(compute)
                                     : caches().activeOnline.get(compute);
}

std::string QNModelCorrectionPrompt::recommended(QNModelCorrectionPromptUseCase useCase) {
    return loadText(active(useCase).rawValue());
}

std::int64_t QNModelCorrectionPrompt::version(QNModelCorrectionPromptUseCase useCase) {
    return active(useCase).version();
}

Prompt QNModelCorrectionPrompt::newestLoadable(QNModelCorrectionPromptUseCase useCase) {
    return newestLoadableImpl(useCase, std::nullopt);
}

Prompt QNModelCorrectionPrompt::newestLoadable(QNModelCorrectionPromptUseCase useCase,
                                               QNModelCorrectionPrompt before) {
    return newestLoadableImpl(useCase, before);
}

bool QNModelCorrectionPrompt::isLoadable() const {
    return resourceURL(rawValue()).has_value();
}

std::optional<QNPromptResourceLocation> QNModelCorrectionPrompt::resourceURL(
    std::string_view name) {
    const auto bundle = promptResourceBundle();
    if (auto location = bundle->url(name, kTextExtension, kPromptsSubdirectory)) {
        return location;
    }
    return bundle->url(name, kTextExtension, "");
}

std::optional<Prompt> QNModelCorrectionPrompt::fallback(std::string_view missingResourceName) {
    const std::optional<Prompt> missing = promptNamed(missingResourceName);
    if (!missing) {
        return std::nullopt;
    }
    UseCase useCase = UseCase::local;
    if (missing->rawValue().starts_with(prefix(UseCase::local))) {
        useCase = UseCase::local;
    } else if (missing->rawValue().starts_with(prefix(UseCase::online))) {
        useCase = UseCase::online;
    } else {
        return std::nullopt;
    }
    return newestLoadable(useCase, *missing);
}

std::string QNModelCorrectionPrompt::loadText(std::string_view resourceName) {
    if (auto location = resourceURL(resourceName)) {
        return readText(*location, resourceName);
    }
    const std::string missingMessage =
        "Missing correction prompt resource: " + std::string(resourceName) + ".txt";
    const std::optional<Prompt> older = fallback(resourceName);
    if (!older) {
        stopProgram(missingMessage);
    }
    const auto olderLocation = resourceURL(older->rawValue());
    if (!olderLocation) {
        stopProgram(missingMessage);
    }
    return readText(*olderLocation, older->rawValue());
}

std::string QNModelCorrectionPrompt::readText(const QNPromptResourceLocation& location,
                                              std::string_view resourceName) {
    const std::string failurePrefix =
        "Unable to load correction prompt resource " + std::string(resourceName) + ".txt: ";
    std::string error;
    std::optional<std::string> bytes = promptResourceBundle()->contents(location, error);
    if (!bytes) {
        stopProgram(failurePrefix + error);
    }
    if (const auto offset = firstInvalidUtf8Offset(*bytes)) {
        stopProgram(failurePrefix + "the contents are not valid UTF-8 (byte offset " +
                    std::to_string(*offset) + ")");
    }
    std::string text = std::move(*bytes);
    if (text.ends_with("\r\n")) {
        text.resize(text.size() - 2);
    } else if (text.ends_with('\n')) {
        text.pop_back();
    }
    return text;
}

QNPromptEnvironment QNModelCorrectionPrompt::processEnvironment() {
    QNPromptEnvironment environment;
    for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
        const std::string_view pair(*entry);
        const std::size_t equals = pair.find('=');
        if (equals == std::string_view::npos) {
            continue;
        }
        // The first definition of a name wins, as getenv() sees it.
        environment.emplace(std::string(pair.substr(0, equals)),
                            std::string(pair.substr(equals + 1)));
    }
    return environment;
}

void QNModelCorrectionPrompt::resetCachesForTesting() {
    caches().active.reset();
    caches().activeLocal.reset();
    caches().activeOnline.reset();
    caches().autocorrectPrompt.reset();
}

template <>
std::optional<QNModelCorrectionPrompt> fromString<QNModelCorrectionPrompt>(std::string_view raw) {
    return promptNamed(raw);
}

std::string recommendedAutocorrectPrompt() {
    return caches().autocorrectPrompt.get([] {
        return QNModelCorrectionPrompt::loadText(QNModelCorrectionPrompt::active().rawValue());
    });
}

}  // namespace ravlin

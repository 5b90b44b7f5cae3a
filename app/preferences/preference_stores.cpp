#include "app/preferences/preference_stores.h"

#include <charconv>

#include "core/text/unicode.h"

namespace ravlin {
namespace {

constexpr std::string_view kHotKeyCode = "HotKey.keyCode";
constexpr std::string_view kHotKeyModifiers = "HotKey.modifiers";
constexpr std::string_view kDoubleTapKeyCode = "DoubleTap.keyCode";
constexpr std::string_view kDoubleTapEnabled = "DoubleTap.enabled";
constexpr std::string_view kQuickFixKeyCode = "QuickFix.keyCode";
constexpr std::string_view kQuickFixEnabled = "QuickFix.enabled";
constexpr std::string_view kFontSize = "ComposerFontSize";
constexpr std::string_view kMode = "correctionModelMode";
constexpr std::string_view kShortChunkThreshold = "correctionShortChunkCharThreshold";
constexpr std::string_view kShortChunkThresholdVariable = "RAVLIN_SHORT_CHUNK_CHAR_THRESHOLD";
constexpr std::string_view kOnlineEndpoint = "OnlineCorrection.endpoint";
constexpr std::string_view kOnlineModel = "OnlineCorrection.model";
constexpr std::string_view kLocalPromptEnabled = "CustomCorrectionPrompt.local.isEnabled";
constexpr std::string_view kLocalPrompt = "CustomCorrectionPrompt.local.prompt";
constexpr std::string_view kOnlinePromptEnabled = "CustomCorrectionPrompt.online.isEnabled";
constexpr std::string_view kOnlinePrompt = "CustomCorrectionPrompt.online.prompt";

std::optional<std::string> environmentText(const EnvironmentSnapshot& environment,
                                           std::string_view name) {
    const auto found = environment.find(std::string(name));
    if (found == environment.end()) {
        return std::nullopt;
    }
    return text::trimmedNonEmpty(std::string_view(found->second));
}

// A positive whole decimal number, nothing else.
std::optional<std::int64_t> positiveWholeNumber(std::string_view digits) {
    std::int64_t number = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), number);
    if (digits.empty() || error != std::errc() || end != digits.data() + digits.size() ||
        number <= 0) {
        return std::nullopt;
    }
    return number;
}

std::optional<QNCorrectionModelMode> modeFromString(std::string_view raw) {
    if (raw == "local") {
        return QNCorrectionModelMode::local;
    }
    if (raw == "online") {
        return QNCorrectionModelMode::online;
    }
    return std::nullopt;
}

// Reads one unsigned stored value; `unreadable` is set when the key holds something that is not
// a whole number from 0 to 0xFFFFFFFF.
std::optional<std::uint32_t> storedCode(const Defaults& defaults, std::string_view key,
                                        bool& unreadable) {
    const auto value = defaults_read::unsignedValue(defaults, key);
    if (!value && defaults.contains(key)) {
        unreadable = true;
    }
    return value;
}

// "Stored shortcut out of range: HotKey.keyCode=0 HotKey.modifiers=0; using the default", naming
// each key that holds anything (a value that is no number as "unreadable").
void logFallback(const StoreLog& log, const Defaults& defaults,
                 std::initializer_list<std::string_view> keys) {
    if (!log) {
        return;
    }
    std::string line = "Stored shortcut out of range:";
    for (const auto key : keys) {
        if (!defaults.contains(key)) {
            continue;
        }
        const auto value = defaults.integerValue(key);
        line += " " + std::string(key) + "=" + (value ? std::to_string(*value) : "unreadable");
    }
    log(line + "; using the default");
}

}  // namespace

namespace defaults_read {

std::optional<std::uint32_t> unsignedValue(const Defaults& defaults, std::string_view key) {
    const auto value = defaults.integerValue(key);
    if (!value || *value < 0 || *value > 0xFFFFFFFFLL) {
        return std::nullopt;
    }
    return static_cast<std::uint32_t>(*value);
}

std::optional<std::string> text(const Defaults& defaults, std::string_view key) {
    const auto value = defaults.stringValue(key);
    if (!value) {
        return std::nullopt;
    }
    return text::trimmedNonEmpty(std::string_view(*value));
}

}  // namespace defaults_read

void writeTextOrRemove(Defaults& defaults, std::string_view key, std::string_view value) {
    if (text::isBlank(value)) {
        defaults.remove(key);
    } else {
        defaults.set(key, std::string(value));
    }
}

// --- Shortcuts

QNStoreHotKey::QNStoreHotKey(std::shared_ptr<Defaults> defaults, const StoreLog& log)
    : defaults_(std::move(defaults)) {
    QNConfigHotKey config;
    bool unreadable = false;
    config.keyCode = storedCode(*defaults_, kHotKeyCode, unreadable).value_or(config.keyCode);
    config.modifiers =
        storedCode(*defaults_, kHotKeyModifiers, unreadable).value_or(config.modifiers);
    if (unreadable || !config.isRecordable()) {
        logFallback(log, *defaults_, {kHotKeyCode, kHotKeyModifiers});
        config = QNConfigHotKey{};
    }
    config_.set(config);
}

void QNStoreHotKey::setConfig(const QNConfigHotKey& config) {
    if (!config_.set(config)) {
        return;
    }
    defaults_->set(kHotKeyCode, std::int64_t{config.keyCode});
    defaults_->set(kHotKeyModifiers, std::int64_t{config.modifiers});
}

QNStoreDoubleTap::QNStoreDoubleTap(std::shared_ptr<Defaults> defaults, const StoreLog& log)
    : defaults_(std::move(defaults)) {
    QNConfigDoubleTap config;
    bool unreadable = false;
    config.keyCode = storedCode(*defaults_, kDoubleTapKeyCode, unreadable).value_or(config.keyCode);
    if (unreadable || !QNConfigDoubleTap::isRecordableKeyCode(config.keyCode)) {
        logFallback(log, *defaults_, {kDoubleTapKeyCode});
        config.keyCode = QNConfigDoubleTap{}.keyCode;
    }
    config.isEnabled = defaults_->boolValue(kDoubleTapEnabled).value_or(config.isEnabled);
    config_.set(config);
}

void QNStoreDoubleTap::setConfig(const QNConfigDoubleTap& config) {
    if (!config_.set(config)) {
        return;
    }
    defaults_->set(kDoubleTapKeyCode, std::int64_t{config.keyCode});
    defaults_->set(kDoubleTapEnabled, config.isEnabled);
}

QNStoreQuickFix::QNStoreQuickFix(std::shared_ptr<Defaults> defaults, const StoreLog& log)
    : defaults_(std::move(defaults)) {
    QNConfigQuickFix config;
    bool unreadable = false;
    config.keyCode = storedCode(*defaults_, kQuickFixKeyCode, unreadable).value_or(config.keyCode);
    if (unreadable || !QNConfigQuickFix::isRecordableKeyCode(config.keyCode)) {
        logFallback(log, *defaults_, {kQuickFixKeyCode});
        config.keyCode = QNConfigQuickFix{}.keyCode;
    }
    config.isEnabled = defaults_->boolValue(kQuickFixEnabled).value_or(config.isEnabled);
    config_.set(config);
}

void QNStoreQuickFix::setConfig(const QNConfigQuickFix& config) {
    if (!config_.set(config)) {
        return;
    }
    defaults_->set(kQuickFixKeyCode, std::int64_t{config.keyCode});
    defaults_->set(kQuickFixEnabled, config.isEnabled);
}

// --- Font size

QNStoreFontSize::QNStoreFontSize(std::shared_ptr<Defaults> defaults)
    : defaults_(std::move(defaults)), size_(QNComposerFontSize::m) {
    const auto index = defaults_->integerValue(kFontSize);
    if (index && *index >= 0 && *index <= 6) {
        size_.set(static_cast<QNComposerFontSize>(*index));
    }
}

void QNStoreFontSize::setSize(QNComposerFontSize size) {
    const auto index = static_cast<std::int64_t>(size);
    if (index < 0 || index > 6) {
        return;
    }
    if (size_.set(size)) {
        defaults_->set(kFontSize, index);
    }
}

// --- Correction mode

std::string_view toString(QNCorrectionModelMode mode) {
    return mode == QNCorrectionModelMode::online ? "online" : "local";
}

QNStoreCorrectionModelMode::QNStoreCorrectionModelMode(std::shared_ptr<Defaults> defaults,
                                                       const EnvironmentSnapshot& environment)
    : defaults_(std::move(defaults)),
      mode_(QNCorrectionModelMode::local),
      shortChunkCharThreshold_(defaultShortChunkCharThreshold) {
    if (const auto raw = defaults_read::text(*defaults_, kMode)) {
        mode_.set(modeFromString(*raw).value_or(QNCorrectionModelMode::local));
    }
    if (const auto stored = defaults_->integerValue(kShortChunkThreshold); stored && *stored > 0) {
        shortChunkCharThreshold_ = *stored;
    }
    if (const auto variable = environmentText(environment, kShortChunkThresholdVariable)) {
        if (const auto number = positiveWholeNumber(*variable)) {
            shortChunkCharThreshold_ = *number;
        }
    }
}

void QNStoreCorrectionModelMode::setMode(QNCorrectionModelMode mode) {
    mode_.set(mode);
    defaults_->set(kMode, std::string(toString(mode)));
}

// --- Online endpoint

QNStoreOnlineCorrectionConfig::QNStoreOnlineCorrectionConfig(
    std::shared_ptr<Defaults> defaults, std::optional<QNServiceKeychain> keychain)
    : endpoint_(defaults_read::text(*defaults, kOnlineEndpoint)),
      model_(defaults_read::text(*defaults, kOnlineModel)),
      keychain_(std::move(keychain)) {}

bool QNStoreOnlineCorrectionConfig::hasAPIKey() const {
    if (!hasAPIKey_) {
        hasAPIKey_ = keychain_ && keychain_->read().has_value();
    }
    return *hasAPIKey_;
}

QNModelOnlineCorrectionConfigStatus::QNModelOnlineCorrectionConfigStatus(
    const QNStoreOnlineCorrectionConfig& config, const EnvironmentSnapshot& environment)
    : endpoint(config.endpoint() ? config.endpoint()
                                 : environmentText(environment, "RAVLIN_REMOTE_CORRECTION_URL")),
      model(config.model()
                ? *config.model()
                : environmentText(environment, "RAVLIN_REMOTE_CORRECTION_MODEL").value_or("")),
      hasAPIKey(config.hasAPIKey() ||
                environmentText(environment, "RAVLIN_REMOTE_CORRECTION_API_KEY").has_value()) {}

// --- Custom prompts

QNStoreCustomCorrectionPrompt::QNStoreCustomCorrectionPrompt(std::shared_ptr<Defaults> defaults)
    : defaults_(std::move(defaults)),
      localIsEnabled_(defaults_->boolValue(kLocalPromptEnabled).value_or(false)),
      localPrompt_(defaults_read::text(*defaults_, kLocalPrompt).value_or("")),
      onlineIsEnabled_(defaults_->boolValue(kOnlinePromptEnabled).value_or(false)),
      onlinePrompt_(defaults_read::text(*defaults_, kOnlinePrompt).value_or("")) {}

const Observable<bool>& QNStoreCustomCorrectionPrompt::isEnabled(Slot slot) const {
    return slot == Slot::local ? localIsEnabled_ : onlineIsEnabled_;
}

const Observable<std::string>& QNStoreCustomCorrectionPrompt::prompt(Slot slot) const {
    return slot == Slot::local ? localPrompt_ : onlinePrompt_;
}

void QNStoreCustomCorrectionPrompt::setEnabled(bool enabled, Slot slot) {
    auto& flag = slot == Slot::local ? localIsEnabled_ : onlineIsEnabled_;
    flag.set(enabled);
    defaults_->set(slot == Slot::local ? kLocalPromptEnabled : kOnlinePromptEnabled, enabled);
}

void QNStoreCustomCorrectionPrompt::setPrompt(std::string_view prompt, Slot slot) {
    auto& stored = slot == Slot::local ? localPrompt_ : onlinePrompt_;
    if (!stored.set(std::string(prompt))) {
        return;
    }
    writeTextOrRemove(*defaults_, slot == Slot::local ? kLocalPrompt : kOnlinePrompt, prompt);
}

}  // namespace ravlin

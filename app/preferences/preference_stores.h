#pragma once

// The preference stores: each loads its values from the user defaults when it is made, holds
// them as observable fields (observers hear only real changes) and writes each change back at
// once. Shared rules: a text read from the defaults or the environment is trimmed and counts as
// absent when nothing is left; a blank text removes its key; a value that cannot be read or lies
// out of range gives the default. Stores live on the main sequence.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "app/preferences/defaults.h"
#include "app/preferences/hot_key.h"
#include "app/preferences/keychain_service.h"
#include "core/support/observable.h"

namespace ravlin {

// Reads shared by the stores.
namespace defaults_read {
// A whole number from 0 to 0xFFFFFFFF.
[[nodiscard]] std::optional<std::uint32_t> unsignedValue(const Defaults& defaults,
                                                         std::string_view key);
// The text trimmed; nothing when missing or blank.
[[nodiscard]] std::optional<std::string> text(const Defaults& defaults, std::string_view key);
}  // namespace defaults_read

// Stores a text, or removes the key when the text is blank.
void writeTextOrRemove(Defaults& defaults, std::string_view key, std::string_view text);

// Where a store says, in one line, that it set a stored value aside for its default.
using StoreLog = std::function<void(const std::string& line)>;

// The shortcut stores take a stored value only when its recorder could have made it (see the
// configs' isRecordable...): anything else, or a value that does not read as a number, gives
// the default and one line on `log`. The file keeps what it holds until the next change.

// "HotKey.keyCode" (14) and "HotKey.modifiers" (0x100, Command).
class QNStoreHotKey {
  public:
    explicit QNStoreHotKey(std::shared_ptr<Defaults> defaults, const StoreLog& log = {});
    [[nodiscard]] const Observable<QNConfigHotKey>& config() const { return config_; }
    void setConfig(const QNConfigHotKey& config);

  private:
    std::shared_ptr<Defaults> defaults_;
    Observable<QNConfigHotKey> config_;
};

// "DoubleTap.keyCode" (14) and "DoubleTap.enabled" (true).
class QNStoreDoubleTap {
  public:
    explicit QNStoreDoubleTap(std::shared_ptr<Defaults> defaults, const StoreLog& log = {});
    [[nodiscard]] const Observable<QNConfigDoubleTap>& config() const { return config_; }
    void setConfig(const QNConfigDoubleTap& config);

  private:
    std::shared_ptr<Defaults> defaults_;
    Observable<QNConfigDoubleTap> config_;
};

// "QuickFix.keyCode" (60, right Shift) and "QuickFix.enabled" (true).
class QNStoreQuickFix {
  public:
    explicit QNStoreQuickFix(std::shared_ptr<Defaults> defaults, const StoreLog& log = {});
    [[nodiscard]] const Observable<QNConfigQuickFix>& config() const { return config_; }
    void setConfig(const QNConfigQuickFix& config);

  private:
    std::shared_ptr<Defaults> defaults_;
    Observable<QNConfigQuickFix> config_;
};

enum class QNComposerFontSize : std::int32_t { xxs = 0, xs, s, m, l, xl, xxl };

// "ComposerFontSize": 0 to 6, default 3.
class QNStoreFontSize {
  public:
    explicit QNStoreFontSize(std::shared_ptr<Defaults> defaults);
    [[nodiscard]] const Observable<QNComposerFontSize>& size() const { return size_; }
    void setSize(QNComposerFontSize size);

  private:
    std::shared_ptr<Defaults> defaults_;
    Observable<QNComposerFontSize> size_;
};

enum class QNCorrectionModelMode { local, online };
[[nodiscard]] std::string_view toString(QNCorrectionModelMode mode);

// "correctionModelMode" ("local" by default) and the short-chunk threshold:
// "RAVLIN_SHORT_CHUNK_CHAR_THRESHOLD" when it is a positive whole number, else
// "correctionShortChunkCharThreshold" when positive, else 15.
class QNStoreCorrectionModelMode {
  public:
    static constexpr std::int64_t defaultShortChunkCharThreshold = 15;

    QNStoreCorrectionModelMode(std::shared_ptr<Defaults> defaults,
                               const EnvironmentSnapshot& environment);
    [[nodiscard]] const Observable<QNCorrectionModelMode>& mode() const { return mode_; }
    [[nodiscard]] std::int64_t shortChunkCharThreshold() const { return shortChunkCharThreshold_; }
    void setMode(QNCorrectionModelMode mode);

  private:
    std::shared_ptr<Defaults> defaults_;
    Observable<QNCorrectionModelMode> mode_;
    std::int64_t shortChunkCharThreshold_;
};

// The generic online endpoint: "OnlineCorrection.endpoint", "OnlineCorrection.model" and whether
// the keyring holds its key ("online-correction-api-key"), each read once: the settings when
// made, the keyring when first asked (most starts never need it).
class QNStoreOnlineCorrectionConfig {
  public:
    QNStoreOnlineCorrectionConfig(std::shared_ptr<Defaults> defaults,
                                  std::optional<QNServiceKeychain> keychain);
    [[nodiscard]] const std::optional<std::string>& endpoint() const { return endpoint_; }
    [[nodiscard]] const std::optional<std::string>& model() const { return model_; }
    [[nodiscard]] bool hasAPIKey() const;

  private:
    std::optional<std::string> endpoint_;
    std::optional<std::string> model_;
    std::optional<QNServiceKeychain> keychain_;
    mutable std::optional<bool> hasAPIKey_;
};

// The online endpoint's settings with the environment filling what the store lacks.
struct QNModelOnlineCorrectionConfigStatus {
    std::optional<std::string> endpoint;
    std::string model;
    bool hasAPIKey = false;

    // Endpoint: stored, else "RAVLIN_REMOTE_CORRECTION_URL"; model: stored, else
    // "RAVLIN_REMOTE_CORRECTION_MODEL"; key: in the keyring, else
    // "RAVLIN_REMOTE_CORRECTION_API_KEY".
    QNModelOnlineCorrectionConfigStatus(const QNStoreOnlineCorrectionConfig& config,
                                        const EnvironmentSnapshot& environment);

    [[nodiscard]] bool isConfigured() const {
        return endpoint.has_value() && !model.empty() && hasAPIKey;
    }
};

// Custom prompts of at most 8000 characters, one per slot, each with its switch.
class QNStoreCustomCorrectionPrompt {
  public:
    enum class Slot { local, online };
    static constexpr std::int64_t maximumPromptCharacters = 8000;

    explicit QNStoreCustomCorrectionPrompt(std::shared_ptr<Defaults> defaults);

    [[nodiscard]] const Observable<bool>& localIsEnabled() const { return localIsEnabled_; }
    [[nodiscard]] const Observable<std::string>& localPrompt() const { return localPrompt_; }
    [[nodiscard]] const Observable<bool>& onlineIsEnabled() const { return onlineIsEnabled_; }
    [[nodiscard]] const Observable<std::string>& onlinePrompt() const { return onlinePrompt_; }
    [[nodiscard]] const Observable<bool>& isEnabled(Slot slot) const;
    [[nodiscard]] const Observable<std::string>& prompt(Slot slot) const;

    // Sets the slot's switch and writes it.
    void setEnabled(bool enabled, Slot slot);
    // Keeps `prompt` as given; writes it when it is not blank, else removes the key. An equal
    // text changes nothing. The switch is left alone.
    void setPrompt(std::string_view prompt, Slot slot);

  private:
    std::shared_ptr<Defaults> defaults_;
    Observable<bool> localIsEnabled_;
    Observable<std::string> localPrompt_;
    Observable<bool> onlineIsEnabled_;
    Observable<std::string> onlinePrompt_;
};

}  // namespace ravlin

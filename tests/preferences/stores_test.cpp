#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <memory>

#include "app/preferences/byok_store.h"
#include "app/preferences/preference_stores.h"
#include "core/providers/codex-cli/codex_cli_provider.h"
#include "core/providers/unavailable_provider.h"
#include "core/support/executor.h"
#include "platform/fake/fake_desktop.h"

namespace ravlin {
namespace {

using platform::fake::FakeDesktop;
using Slot = QNStoreCustomCorrectionPrompt::Slot;

const QNCodexCLIDetection kSignedIn{.executablePath = "/usr/local/bin/codex",
                                    .versionString = "codex-cli 0.120.0",
                                    .supportStatus = QNCodexCLISupportStatus::supported,
                                    .loginState = QNCodexCLILoginState::loggedIn};

class Stores : public ::testing::Test {
  protected:
    std::shared_ptr<MemoryDefaults> defaults = std::make_shared<MemoryDefaults>();
    std::shared_ptr<ManualExecutor> executor = std::make_shared<ManualExecutor>();
    FakeDesktop desktop{executor};

    [[nodiscard]] QNStoreBringYourOwnKey::KeychainFactory keychain() const {
        return [keychain = desktop.seams().keychain] {
            return std::optional(QNServiceKeychain(
                std::string(kKeychainService), std::string(kBYOKOpenAIAPIKeyAccount), keychain));
        };
    }
    // Records the key each OpenAI provider was made with.
    std::vector<std::string> keysGiven;
    [[nodiscard]] std::unique_ptr<QNStoreBringYourOwnKey> byok() {
        return std::make_unique<QNStoreBringYourOwnKey>(
            defaults, keychain(), [this](std::string model, std::string prompt, std::string key) {
                keysGiven.push_back(key);
                return std::make_shared<QNUnavailableCorrectionModelProvider>("openai-byok", model,
                                                                              prompt, "OpenAI");
            });
    }
};

TEST_F(Stores, NothingStoredGivesTheDefaults) {
    EXPECT_EQ(QNStoreHotKey(defaults).config().get(), (QNConfigHotKey{14, 0x100}));
    EXPECT_EQ(QNStoreDoubleTap(defaults).config().get(), (QNConfigDoubleTap{14, true}));
    EXPECT_EQ(QNStoreQuickFix(defaults).config().get(), (QNConfigQuickFix{60, true}));
    EXPECT_EQ(QNStoreFontSize(defaults).size().get(), QNComposerFontSize::m);
    const QNStoreCorrectionModelMode mode(defaults, {});
    EXPECT_EQ(mode.mode().get(), QNCorrectionModelMode::local);
    EXPECT_EQ(mode.shortChunkCharThreshold(), 15);
    const QNStoreCustomCorrectionPrompt prompts(defaults);
    EXPECT_FALSE(prompts.localIsEnabled().get());
    EXPECT_EQ(prompts.onlinePrompt().get(), "");
    const auto own = byok();
    EXPECT_FALSE(own->isEnabled().get());
    EXPECT_EQ(own->providerKind().get(), QNBYOKProviderKind::openai);
    EXPECT_EQ(own->model().get(), "gpt-5.4-nano");
    EXPECT_FALSE(own->hasAPIKey().get());
    EXPECT_EQ(own->codexDetection().get(),
              (QNCodexCLIDetection{std::nullopt, std::nullopt, QNCodexCLISupportStatus::missing,
                                   QNCodexCLILoginState::notLoggedIn}));
}

// Counts the reads that reach the keyring.
struct CountingKeychain final : platform::Keychain {
    explicit CountingKeychain(std::shared_ptr<platform::Keychain> inner) : inner(std::move(inner)) {}
    bool isAvailable() override { return inner->isAvailable(); }
    platform::Expected<std::optional<std::string>> readPassword(std::string_view service,
                                                                std::string_view account) override {
        ++reads;
        return inner->readPassword(service, account);
    }
    platform::Status replacePassword(std::string_view service, std::string_view account,
                                     std::string_view secret) override {
        return inner->replacePassword(service, account, secret);
    }
    platform::Status deletePassword(std::string_view service, std::string_view account) override {
        return inner->deletePassword(service, account);
    }
    std::shared_ptr<platform::Keychain> inner;
    int reads = 0;
};

// Making the stores asks the keyring nothing (a start-up would wait on it, and load its client
// library, for a key most starts never need); the first question reads it, once.
TEST_F(Stores, TheKeyringIsAskedWhenAKeyIsFirstNeededNotWhenTheStoresAreMade) {
    auto counting = std::make_shared<CountingKeychain>(desktop.seams().keychain);
    ASSERT_TRUE(counting->replacePassword(kKeychainService, kBYOKOpenAIAPIKeyAccount, "sk").ok());
    const auto item = [counting](std::string_view account) {
        return QNServiceKeychain(std::string(kKeychainService), std::string(account), counting);
    };
    const QNStoreBringYourOwnKey own(defaults, [&] {
        return std::optional(item(kBYOKOpenAIAPIKeyAccount));
    });
    const QNStoreOnlineCorrectionConfig online(defaults, item(kOnlineCorrectionAPIKeyAccount));
    EXPECT_EQ(counting->reads, 0);
    EXPECT_TRUE(own.hasAPIKey().get());
    EXPECT_FALSE(online.hasAPIKey());
    EXPECT_EQ(counting->reads, 2);
    EXPECT_TRUE(own.hasAPIKey().get());
    EXPECT_FALSE(online.hasAPIKey());
    EXPECT_EQ(counting->reads, 2);
}

TEST_F(Stores, UnreadableOrOutOfRangeValuesGiveTheDefault) {
    defaults->set("HotKey.keyCode", std::string("fourteen"));
    defaults->set("HotKey.modifiers", std::int64_t{0x1'0000'0000});
    defaults->set("DoubleTap.enabled", std::int64_t{0});
    defaults->set("QuickFix.keyCode", std::int64_t{-1});
    defaults->set("ComposerFontSize", std::int64_t{7});
    defaults->set("correctionModelMode", std::string("cloud"));
    defaults->set("correctionShortChunkCharThreshold", std::int64_t{0});
    defaults->set("BYOK.providerKind", std::string("claude"));
    defaults->set("BYOK.codexDetection", std::string(R"({"supportStatus":"great"})"));
    EXPECT_EQ(QNStoreHotKey(defaults).config().get(), (QNConfigHotKey{14, 0x100}));
    EXPECT_TRUE(QNStoreDoubleTap(defaults).config().get().isEnabled);
    EXPECT_EQ(QNStoreQuickFix(defaults).config().get().keyCode, 60U);
    EXPECT_EQ(QNStoreFontSize(defaults).size().get(), QNComposerFontSize::m);
    const QNStoreCorrectionModelMode mode(defaults, {});
    EXPECT_EQ(mode.mode().get(), QNCorrectionModelMode::local);
    EXPECT_EQ(mode.shortChunkCharThreshold(), 15);
    const auto own = byok();
    EXPECT_EQ(own->providerKind().get(), QNBYOKProviderKind::openai);
    EXPECT_EQ(own->codexDetection().get().supportStatus, QNCodexCLISupportStatus::missing);
}

// A stored shortcut no recorder could have made gives the default and one line; the rest stay.
TEST_F(Stores, ShortcutsNoRecorderCouldMakeGiveTheDefaultWithOneLine) {
    constexpr std::int64_t none = -1;  // key absent
    const struct {
        const char* key;
        std::int64_t code;
        std::int64_t modifiers;  // HotKey.modifiers only
        std::uint32_t expected;  // key code taken
        const char* line;        // the fallback line, or none
    } cases[] = {
        {"HotKey", 0, 0, 14, "HotKey.keyCode=0 HotKey.modifiers=0"},  // bare A, desktop-wide
        {"HotKey", 4294967295, 0x100, 14, "HotKey.keyCode=4294967295 HotKey.modifiers=256"},
        {"HotKey", 255, 0x100, 14, "HotKey.keyCode=255 HotKey.modifiers=256"},
        {"HotKey", 65535, none, 14, "HotKey.keyCode=65535"},
        {"HotKey", 14, 0x400, 14, "HotKey.keyCode=14 HotKey.modifiers=1024"},  // Caps Lock bit
        {"HotKey", 53, 0x100, 14, "HotKey.keyCode=53 HotKey.modifiers=256"},   // Escape
        {"HotKey", 60, 0x100, 14, "HotKey.keyCode=60 HotKey.modifiers=256"},   // right Shift
        {"HotKey", 0, none, 0, nullptr},                 // A with the default Command
        {"HotKey", 4294967295, 0, 4294967295, nullptr},  // no shortcut
        {"HotKey", 122, 0, 122, nullptr},                // F1 alone
        {"HotKey", 63, 0x800000, 63, nullptr},           // Fn alone
        {"HotKey", 40, 0x1A00, 40, nullptr},             // Control-Option-Shift-K
        {"DoubleTap", 4294967295, none, 14, "DoubleTap.keyCode=4294967295"},
        {"DoubleTap", 255, none, 14, "DoubleTap.keyCode=255"},
        {"DoubleTap", 65535, none, 14, "DoubleTap.keyCode=65535"},
        {"DoubleTap", 36, none, 14, "DoubleTap.keyCode=36"},  // Return
        {"DoubleTap", 56, none, 14, "DoubleTap.keyCode=56"},  // Shift
        {"DoubleTap", 49, none, 49, nullptr},                 // Space
        {"QuickFix", 14, none, 60, "QuickFix.keyCode=14"},
        {"QuickFix", 57, none, 60, "QuickFix.keyCode=57"},  // Caps Lock
        {"QuickFix", 4294967295, none, 60, "QuickFix.keyCode=4294967295"},
        {"QuickFix", 61, none, 61, nullptr},  // right Option
    };
    for (const auto& c : cases) {
        const std::string key = c.key;
        SCOPED_TRACE(key + " " + std::to_string(c.code) + " " + std::to_string(c.modifiers));
        const auto stored = std::make_shared<MemoryDefaults>();
        stored->set(key + ".keyCode", c.code);
        if (c.modifiers != none) {
            stored->set(key + ".modifiers", c.modifiers);
        }
        std::vector<std::string> lines;
        const StoreLog log = [&lines](const std::string& line) { lines.push_back(line); };
        std::uint32_t taken = 0;
        if (key == "HotKey") {
            const auto config = QNStoreHotKey(stored, log).config().get();
            taken = config.keyCode;
            if (c.line != nullptr) {
                EXPECT_EQ(config, QNConfigHotKey{});
            }
        } else if (key == "DoubleTap") {
            taken = QNStoreDoubleTap(stored, log).config().get().keyCode;
        } else {
            taken = QNStoreQuickFix(stored, log).config().get().keyCode;
        }
        EXPECT_EQ(taken, c.expected);
        if (c.line == nullptr) {
            EXPECT_TRUE(lines.empty());
        } else {
            EXPECT_EQ(lines, std::vector<std::string>{"Stored shortcut out of range: " +
                                                      std::string(c.line) + "; using the default"});
        }
        // The stored value stays as it was until the user sets another.
        EXPECT_EQ(stored->integerValue(key + ".keyCode"), c.code);
    }
}

TEST_F(Stores, TheEnvironmentThresholdWinsOnlyAsAPositiveWholeNumber) {
    defaults->set("correctionShortChunkCharThreshold", std::int64_t{40});
    const struct {
        const char* variable;
        std::int64_t threshold;
    } cases[] = {{" 22 ", 22}, {"0", 40}, {"-5", 40}, {"12abc", 40}, {"1.5", 40}, {"", 40}};
    for (const auto& c : cases) {
        const QNStoreCorrectionModelMode mode(defaults,
                                              {{"RAVLIN_SHORT_CHUNK_CHAR_THRESHOLD", c.variable}});
        EXPECT_EQ(mode.shortChunkCharThreshold(), c.threshold) << c.variable;
    }
}

TEST_F(Stores, OnlineStatusTakesTheEnvironmentWhereTheStoreHasNothing) {
    const EnvironmentSnapshot environment{{"RAVLIN_REMOTE_CORRECTION_URL", " https://env.test "},
                                          {"RAVLIN_REMOTE_CORRECTION_MODEL", "env-model"},
                                          {"RAVLIN_REMOTE_CORRECTION_API_KEY", "  "}};
    const QNStoreOnlineCorrectionConfig empty(defaults, std::nullopt);
    const QNModelOnlineCorrectionConfigStatus fromEnvironment(empty, environment);
    EXPECT_EQ(fromEnvironment.endpoint, "https://env.test");
    EXPECT_EQ(fromEnvironment.model, "env-model");
    EXPECT_FALSE(fromEnvironment.hasAPIKey);  // a blank variable is no key
    EXPECT_FALSE(fromEnvironment.isConfigured());

    defaults->set("OnlineCorrection.endpoint", std::string("https://stored.test"));
    defaults->set("OnlineCorrection.model", std::string(" stored-model "));
    ASSERT_TRUE(
        desktop.seams()
            .keychain->replacePassword(kKeychainService, kOnlineCorrectionAPIKeyAccount, "secret")
            .ok());
    const QNStoreOnlineCorrectionConfig stored(
        defaults,
        QNServiceKeychain(std::string(kKeychainService),
                          std::string(kOnlineCorrectionAPIKeyAccount), desktop.seams().keychain));
    const QNModelOnlineCorrectionConfigStatus status(stored, environment);
    EXPECT_EQ(status.endpoint, "https://stored.test");
    EXPECT_EQ(status.model, "stored-model");
    EXPECT_TRUE(status.isConfigured());
}

TEST_F(Stores, ObserversHearOnlyRealChangesAndEachChangeIsWritten) {
    QNStoreHotKey hotKey(defaults);
    int told = 0;
    const auto watching = hotKey.config().observe([&](const QNConfigHotKey&) { ++told; });
    hotKey.setConfig({14, 0x100});
    EXPECT_EQ(told, 0);
    EXPECT_FALSE(defaults->contains("HotKey.keyCode"));
    hotKey.setConfig({QNConfigHotKey::noKeyCode, 0});
    EXPECT_EQ(told, 1);
    EXPECT_EQ(defaults->integerValue("HotKey.keyCode"), 0xFFFFFFFF);
    EXPECT_EQ(defaults->integerValue("HotKey.modifiers"), 0);

    QNStoreCorrectionModelMode mode(defaults, {});
    int modeChanges = 0;
    const auto watchingMode =
        mode.mode().observe([&](const QNCorrectionModelMode&) { ++modeChanges; });
    mode.setMode(QNCorrectionModelMode::local);
    mode.setMode(QNCorrectionModelMode::online);
    EXPECT_EQ(modeChanges, 1);
    EXPECT_EQ(defaults->stringValue("correctionModelMode"), "online");
}

TEST_F(Stores, ABlankPromptRemovesItsKeyButIsKeptAsGiven) {
    QNStoreCustomCorrectionPrompt prompts(defaults);
    prompts.setEnabled(true, Slot::online);
    prompts.setPrompt("Fix typos, keep tone.\n", Slot::online);
    EXPECT_EQ(defaults->stringValue("CustomCorrectionPrompt.online.prompt"),
              "Fix typos, keep tone.\n");
    prompts.setPrompt(" \n ", Slot::online);
    EXPECT_EQ(prompts.onlinePrompt().get(), " \n ");
    EXPECT_FALSE(defaults->contains("CustomCorrectionPrompt.online.prompt"));
    EXPECT_TRUE(prompts.onlineIsEnabled().get());
    EXPECT_EQ(defaults->boolValue("CustomCorrectionPrompt.online.isEnabled"), true);
    EXPECT_FALSE(prompts.localIsEnabled().get());
}

TEST_F(Stores, ModelsFollowTheirProvider) {
    auto own = byok();
    own->setModel("  gpt-5.4-mini \n");
    EXPECT_EQ(own->model().get(), "gpt-5.4-mini");
    own->setModel("   ");
    EXPECT_EQ(own->model().get(), "gpt-5.4-nano");

    own->setProviderKind(QNBYOKProviderKind::codexCLI);
    EXPECT_EQ(own->model().get(), "");
    own->setModel(" o4 ");
    EXPECT_EQ(own->model().get(), " o4 ");
    EXPECT_EQ(defaults->stringValue("BYOK.model.codexCLI"), " o4 ");
    own->setModel("");
    EXPECT_FALSE(defaults->contains("BYOK.model.codexCLI"));

    own->setProviderKind(QNBYOKProviderKind::openai);
    EXPECT_EQ(own->model().get(), "gpt-5.4-nano");
    EXPECT_EQ(defaults->stringValue("BYOK.providerKind"), "openai");
}

TEST_F(Stores, AKeyIsSavedOnlyWhenTheKeyringTookIt) {
    auto own = byok();
    EXPECT_TRUE(own->setAPIKey("  sk-live \n"));
    EXPECT_TRUE(own->hasAPIKey().get());
    EXPECT_EQ(desktop.storedPassword(kKeychainService, kBYOKOpenAIAPIKeyAccount), "sk-live");

    desktop.setKeychainFailure(platform::ErrorCode::failed);
    EXPECT_FALSE(own->setAPIKey("sk-other"));
    desktop.setKeychainFailure(std::nullopt);
    EXPECT_EQ(desktop.storedPassword(kKeychainService, kBYOKOpenAIAPIKeyAccount), "sk-live");

    EXPECT_TRUE(own->setAPIKey(" "));
    EXPECT_FALSE(own->hasAPIKey().get());
    EXPECT_EQ(desktop.storedPassword(kKeychainService, kBYOKOpenAIAPIKeyAccount), std::nullopt);
}

// Without a keyring a key the user gave was not stored: that is no success.
TEST_F(Stores, WithoutAKeyringAnOpenAIKeyIsNotReportedSaved) {
    desktop.setKeychainAvailable(false);
    auto own = byok();
    EXPECT_FALSE(own->setAPIKey("sk-live"));
    EXPECT_FALSE(own->hasAPIKey().get());
    EXPECT_TRUE(own->setAPIKey(""));
    own->setProviderKind(QNBYOKProviderKind::codexCLI);
    EXPECT_TRUE(own->setAPIKey("anything"));
    EXPECT_FALSE(own->hasAPIKey().get());
}

TEST_F(Stores, TheCodexDetectionSurvivesARestartAndIsWrittenOnlyOnChange) {
    {
        auto own = byok();
        int told = 0;
        const auto watching =
            own->codexDetection().observe([&](const QNCodexCLIDetection&) { ++told; });
        own->setCodexDetection(kSignedIn);
        own->setCodexDetection(kSignedIn);
        EXPECT_EQ(told, 1);
    }
    EXPECT_EQ(byok()->codexDetection().get(), kSignedIn);
    EXPECT_EQ(decodeCodexDetection(encodeCodexDetection(QNCodexCLIDetection{})),
              QNCodexCLIDetection{});
}

TEST_F(Stores, MakeProviderCoversEveryRoute) {
    auto own = byok();
    EXPECT_FALSE(own->makeProvider("prompt"));  // switched off

    own->setEnabled(true);
    EXPECT_FALSE(own->isConfigured());
    EXPECT_FALSE(own->makeProvider("prompt"));  // OpenAI without a key

    ASSERT_TRUE(own->setAPIKey("sk-live"));
    ASSERT_TRUE(own->isConfigured());
    const auto openAI = own->makeProvider("prompt");
    ASSERT_TRUE(openAI);
    EXPECT_EQ(openAI->routeName, "OpenAI BYOK");
    EXPECT_EQ(openAI->provider->providerID(), "openai-byok");
    EXPECT_EQ(keysGiven, std::vector<std::string>{"sk-live"});

    own->setProviderKind(QNBYOKProviderKind::codexCLI);
    const auto unconfigured = own->makeProvider("prompt");
    ASSERT_TRUE(unconfigured);
    EXPECT_EQ(unconfigured->routeName, "Codex CLI BYOK unavailable");
    EXPECT_EQ(unconfigured->provider->providerID(), "codex-cli-unavailable");
    EXPECT_EQ(unconfigured->provider->availabilitySummary().title, "Codex CLI Not Configured");
    EXPECT_EQ(unconfigured->provider->diagnostics().route, QNModelCorrectionRoute::remote);

    own->setCodexDetection(kSignedIn);
    own->setModel("o4");
    const auto codex = own->makeProvider("prompt");
    ASSERT_TRUE(codex);
    EXPECT_EQ(codex->routeName, "Codex CLI BYOK with local fallback");
    const auto* provider = dynamic_cast<QNProviderCodexCLICorrection*>(codex->provider.get());
    ASSERT_NE(provider, nullptr);
    EXPECT_EQ(provider->providerID(), "codex-cli-byok");
    EXPECT_EQ(provider->executablePath(), "/usr/local/bin/codex");
    EXPECT_EQ(provider->model(), "o4");
    EXPECT_EQ(provider->effectiveTimeoutSeconds(), 30.0);
}

// Values written through one INI file read back, typed, through another store over it.
TEST(QSettingsStores, ASecondStoreReadsWhatTheFirstWrote) {
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    const QString path = folder.filePath("ravlin/ravlin.ini");
    const std::string prompt = "Keep \"quotes\", commas; and\nnew lines = fine";
    {
        const auto defaults = std::make_shared<QSettingsDefaults>(path);
        QNStoreHotKey(defaults).setConfig({QNConfigHotKey::noKeyCode, 0});
        QNStoreDoubleTap(defaults).setConfig({49, false});
        QNStoreCustomCorrectionPrompt(defaults).setPrompt(prompt, Slot::local);
        QNStoreBringYourOwnKey(defaults, {}).setCodexDetection(kSignedIn);
    }
    const auto defaults = std::make_shared<QSettingsDefaults>(path);
    EXPECT_EQ(QNStoreHotKey(defaults).config().get(),
              (QNConfigHotKey{QNConfigHotKey::noKeyCode, 0}));
    EXPECT_EQ(QNStoreDoubleTap(defaults).config().get(), (QNConfigDoubleTap{49, false}));
    EXPECT_EQ(QNStoreCustomCorrectionPrompt(defaults).localPrompt().get(), prompt);
    EXPECT_EQ(QNStoreBringYourOwnKey(defaults, {}).codexDetection().get(), kSignedIn);
    // INI gives text: an integer key that holds words reads as nothing.
    defaults->set("HotKey.keyCode", std::string("14x"));
    EXPECT_EQ(defaults->integerValue("HotKey.keyCode"), std::nullopt);
    EXPECT_EQ(defaults->boolValue("DoubleTap.keyCode"), std::nullopt);
}

}  // namespace
}  // namespace ravlin

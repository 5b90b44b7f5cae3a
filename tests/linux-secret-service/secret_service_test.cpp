// The Secret Service backend against a real gnome-keyring. scripts/keyring-session runs this
// program three times in a temporary home: the *Unlocked* tests with the login keyring unlocked,
// the *Locked* tests after the daemon was restarted without unlocking it, the *NoService* tests
// with no session bus at all.

#include "platform/linux/secret_service_keychain.h"

#include <gtest/gtest.h>

#include <chrono>

#include "app/preferences/byok_store.h"
#include "app/preferences/defaults.h"
#include "tests/support/watchdog.h"

namespace ravlin::platform {
namespace {

using namespace std::chrono_literals;

constexpr std::string_view kService = "io.quen.ravlin-mac.test";

std::optional<std::string> stored(Keychain& keychain, std::string_view account) {
    auto value = keychain.readPassword(kService, account);
    EXPECT_TRUE(value.hasValue()) << (value ? "" : value.error().message);
    return value ? *value : std::nullopt;
}

TEST(SecretServiceUnlocked, SavesReadsReplacesAndDeletes) {
    SecretServiceKeychain keychain;
    ASSERT_TRUE(keychain.isAvailable());
    EXPECT_EQ(stored(keychain, "cycle"), std::nullopt);

    ASSERT_TRUE(keychain.replacePassword(kService, "cycle", "first-secret").ok());
    EXPECT_EQ(stored(keychain, "cycle"), "first-secret");
    ASSERT_TRUE(keychain.replacePassword(kService, "cycle", "second sécret").ok());
    EXPECT_EQ(stored(keychain, "cycle"), "second sécret");

    ASSERT_TRUE(keychain.deletePassword(kService, "cycle").ok());
    EXPECT_EQ(stored(keychain, "cycle"), std::nullopt);
    // Deleting what is not there succeeds.
    EXPECT_TRUE(keychain.deletePassword(kService, "cycle").ok());
}

TEST(SecretServiceUnlocked, KeepsAccountsAndServicesApart) {
    SecretServiceKeychain keychain;
    ASSERT_TRUE(keychain.replacePassword(kService, "one", "secret-one").ok());
    ASSERT_TRUE(keychain.replacePassword(kService, "two", "secret-two").ok());
    ASSERT_TRUE(keychain.replacePassword("another.service", "one", "elsewhere").ok());
    EXPECT_EQ(stored(keychain, "one"), "secret-one");
    EXPECT_EQ(stored(keychain, "two"), "secret-two");

    ASSERT_TRUE(keychain.deletePassword(kService, "one").ok());
    EXPECT_EQ(stored(keychain, "one"), std::nullopt);
    EXPECT_EQ(stored(keychain, "two"), "secret-two");
    EXPECT_EQ(*keychain.readPassword("another.service", "one"), "elsewhere");
    // Left for the locked pass, which must not see it.
    ASSERT_TRUE(keychain.replacePassword(kService, "behind-the-lock", "hidden").ok());
}

TEST(SecretServiceUnlocked, OwnKeyStoreKeepsItsKeyInTheKeyring) {
    const auto keychain = std::make_shared<SecretServiceKeychain>();
    const auto item = [keychain] {
        return std::optional(QNServiceKeychain(std::string(kService), "byok", keychain));
    };
    {
        QNStoreBringYourOwnKey store(std::make_shared<MemoryDefaults>(), item);
        EXPECT_TRUE(store.setAPIKey("  sk-test  "));
        EXPECT_TRUE(store.hasAPIKey().get());
    }
    EXPECT_EQ(stored(*keychain, "byok"), "sk-test");
    QNStoreBringYourOwnKey reloaded(std::make_shared<MemoryDefaults>(), item);
    EXPECT_TRUE(reloaded.hasAPIKey().get());
    EXPECT_TRUE(reloaded.setAPIKey(""));
    EXPECT_FALSE(reloaded.hasAPIKey().get());
}

TEST(SecretServiceLocked, StoringFailsWithoutHangingOnAPrompt) {
    SecretServiceKeychain keychain(5s);
    const auto started = std::chrono::steady_clock::now();
    const Status outcome = keychain.replacePassword(kService, "locked", "secret");
    ASSERT_FALSE(outcome.ok());
    EXPECT_EQ(outcome.error().code, ErrorCode::failed);
    EXPECT_LT(std::chrono::steady_clock::now() - started, testing::kHangWatchdog);
}

TEST(SecretServiceLocked, ReadingGivesNoSecretFromALockedCollection) {
    SecretServiceKeychain keychain(5s);
    const auto value = keychain.readPassword(kService, "behind-the-lock");
    EXPECT_TRUE(!value.hasValue() || !value->has_value());
}

TEST(SecretServiceNoService, IsUnavailableAndEveryCallFails) {
    SecretServiceKeychain keychain(5s);
    EXPECT_FALSE(keychain.isAvailable());
    EXPECT_FALSE(keychain.readPassword(kService, "any").hasValue());
    EXPECT_FALSE(keychain.replacePassword(kService, "any", "secret").ok());
    EXPECT_FALSE(keychain.deletePassword(kService, "any").ok());
}

}  // namespace
}  // namespace ravlin::platform

// The own OpenAI key: checked against a loopback server before it is stored, the answer applied
// only while its check is current.

#include <gtest/gtest.h>

#include "app/preferences/keychain_service.h"
#include "tests/settings-correction/correction_fixture.h"
#include "tests/support/loopback_http_server.h"

namespace ravlin::testing {
namespace {

using namespace std::chrono_literals;

class KeyCheck : public CorrectionSettingsTest {
  public:
    LoopbackHttpServer server;

    void SetUp() override {
        env.openAIBaseURL = server.url("");
        make();
    }
    void typeAndSave(const std::string& key) {
        controller->keyFieldEdited(key);
        controller->saveAndVerifyKey();
    }
    [[nodiscard]] std::optional<std::string> storedKey() const {
        return QNServiceKeychain(std::string(kKeychainService),
                                 std::string(kBYOKOpenAIAPIKeyAccount), desktop.seams().keychain)
            .read();
    }
};

TEST_F(KeyCheck, SuccessStoresTheTrimmedKeySwitchesItOnAndReconfiguresOnce) {
    const struct {
        bool online;
        const char* message;
    } cases[] = {{true, "Key saved to Keychain."},
                 {false, "Key saved. You can now turn on cloud AI."}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.message);
        setOnline(c.online);
        (void)byok().setAPIKey("");
        byok().setEnabled(false);
        reconfigures = 0;
        server.enqueue(ScriptedReply(200).chunk("{}"));
        typeAndSave("  sk-good \n");
        EXPECT_EQ(status().kind, Kind::validating);
        settle();
        EXPECT_EQ(server.requests().back().target, "/v1/models");
        EXPECT_EQ(server.requests().back().header("Authorization"), "Bearer sk-good");
        EXPECT_EQ(storedKey(), "sk-good");
        EXPECT_TRUE(byok().isEnabled().get());
        EXPECT_EQ(reconfigures, 1);
        EXPECT_EQ(typed(), "");
        EXPECT_EQ(status().kind, Kind::succeeded);
        EXPECT_EQ(controller->byokStatusMessage(), c.message);
    }
}

// A key OpenAI refused leaves the field; one whose check failed for the network's or the
// service's reasons stays there for the next try.
TEST_F(KeyCheck, AFailureShowsItsMessageAndStoresNothingTheFieldKeptUnlessTheKeyWasRefused) {
    const struct {
        const char* name;
        ScriptedReply reply;
        const char* message;
        bool keptInField;
    } cases[] = {
        {"401", ScriptedReply(401), "Invalid API key", false},
        {"403", ScriptedReply(403), "Key authenticated but lacks access (403)", false},
        {"429", ScriptedReply(429), "Rate limited — try again later", true},
        {"400", ScriptedReply(400), "OpenAI rejected the request (400)", false},
        {"503", ScriptedReply(503), "OpenAI is unavailable — try again later", true},
        {"404", ScriptedReply(404), "OpenAI HTTP 404", false},
        {"stalled past the time-out", ScriptedReply(200).stallBeforeHead(),
         "Request to OpenAI timed out.", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        server.enqueue(c.reply);
        typeAndSave("sk-bad");
        settle();
        EXPECT_EQ(status(), QNModeBYOKSaveStatus::failed(c.message));
        EXPECT_EQ(typed(), c.keptInField ? "sk-bad" : "");
        EXPECT_FALSE(byok().hasAPIKey().get());
        EXPECT_FALSE(byok().isEnabled().get());
        EXPECT_EQ(reconfigures, 0);
    }
}

TEST_F(KeyCheck, ARefusedConnectionIsANetworkError) {
    env.openAIBaseURL = "http://127.0.0.1:1";
    make();
    typeAndSave("sk-secret-value");
    settle();
    EXPECT_EQ(status().kind, Kind::failed);
    EXPECT_EQ(status().message.rfind("Network error: ", 0), 0u) << status().message;
    EXPECT_EQ(status().message.find("sk-secret-value"), std::string::npos);
    // Nothing was wrong with the key: it stays for the next try.
    EXPECT_EQ(typed(), "sk-secret-value");
}

// A key pasted with a line break around it is sent trimmed; one still holding a line break or
// another hidden character is refused before anything is sent, and stays to be mended.
TEST_F(KeyCheck, AKeyWithAHiddenCharacterInsideIsRefusedBeforeItIsSent) {
    server.enqueue(ScriptedReply(200).chunk("{}"));
    typeAndSave("\r\nsk-pasted\r\n");
    settle();
    ASSERT_EQ(server.requests().size(), 1u);
    EXPECT_EQ(server.requests().back().header("Authorization"), "Bearer sk-pasted");
    EXPECT_EQ(storedKey(), "sk-pasted");

    controller->clearKey();
    for (const char* key : {"sk-first\nsecond", "sk-a\rb", "sk-tab\tbed", "sk-zero\u200Bwidth",
                            "sk-line\u2028sep", "sk-\x7F"}) {
        SCOPED_TRACE(key);
        typeAndSave(key);  // refused at once: nothing runs
        EXPECT_EQ(status(), QNModeBYOKSaveStatus::failed(std::string(kKeyHoldsHiddenCharacter)));
        EXPECT_EQ(typed(), key);
    }
    EXPECT_EQ(server.requests().size(), 1u);
    EXPECT_FALSE(byok().hasAPIKey().get());
}

TEST_F(KeyCheck, AStaleResultOnlyEmptiesTheField) {
    const struct {
        const char* name;
        std::function<void(KeyCheck&)> change;
        Kind statusAfter;
        int reconfigures;
    } cases[] = {
        {"model changed", [](KeyCheck& t) { t.byok().setModel("gpt-4.1-mini"); }, Kind::idle, 0},
        {"provider changed",
         [](KeyCheck& t) { t.byok().setProviderKind(QNBYOKProviderKind::codexCLI); }, Kind::idle,
         0},
        {"switch turned off", [](KeyCheck& t) { t.controller->setBYOKEnabled(false); }, Kind::idle,
         1},
        {"a newer check begun", [](KeyCheck& t) { (void)t.controller->beginBYOKValidation(); },
         Kind::validating, 0},
        {"cleared", [](KeyCheck& t) { t.controller->clearKey(); }, Kind::idle, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        byok().setProviderKind(QNBYOKProviderKind::openai);
        byok().setEnabled(true);
        state->byokSaveStatus.set(QNModeBYOKSaveStatus::idle());
        reconfigures = 0;
        server.enqueue(ScriptedReply(200));
        typeAndSave("sk-good");
        // The answer waits on the main sequence until settle().
        c.change(*this);
        state->byokKeyInput.set("still typed");
        settle();
        EXPECT_FALSE(byok().hasAPIKey().get());
        EXPECT_EQ(typed(), "");
        EXPECT_EQ(status().kind, c.statusAfter);
        EXPECT_EQ(reconfigures, c.reconfigures);
    }
}

TEST_F(KeyCheck, AKeyringFailureKeepsTheKeyInTheField) {
    desktop.setKeychainAvailable(false);
    server.enqueue(ScriptedReply(200));
    typeAndSave(" sk-good ");
    settle();
    EXPECT_EQ(status(), QNModeBYOKSaveStatus::failed("Could not save key to Keychain."));
    EXPECT_EQ(controller->byokStatusMessage(), "Could not save key to Keychain.");
    EXPECT_EQ(typed(), " sk-good ");
    EXPECT_FALSE(byok().isEnabled().get());
    EXPECT_EQ(reconfigures, 0);

    controller->keyFieldEdited(" sk-good 2");
    EXPECT_EQ(status().kind, Kind::idle);
}

TEST_F(KeyCheck, TheProgramEmptyingTheFieldIsNoEdit) {
    server.enqueue(ScriptedReply(401));
    typeAndSave("sk-bad");
    settle();
    ASSERT_EQ(status().kind, Kind::failed);
    const Uuid id = state->byokValidationID.get();
    state->byokKeyInput.set("");
    EXPECT_EQ(status(), QNModeBYOKSaveStatus::failed("Invalid API key"));
    EXPECT_EQ(state->byokValidationID.get(), id);
    controller->keyFieldEdited("s");
    EXPECT_EQ(status().kind, Kind::idle);
    EXPECT_NE(state->byokValidationID.get(), id);
}

}  // namespace
}  // namespace ravlin::testing

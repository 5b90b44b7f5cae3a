// Provider routing over in-memory defaults, the simulated keyring, a scripted on-device model
// and environments handed in by the test.

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <regex>

#include "app/composer/provider_routing.h"
#include "core/providers/hosted-proxy/hosted_proxy_provider.h"
#include "core/providers/hosted-proxy/hosted_proxy_wire.h"
#include "core/providers/unavailable_provider.h"
#include "core/records/prompt_catalogue.h"
#include "core/support/executor.h"
#include "core/text/unicode.h"
#include "platform/fake/fake_desktop.h"
#include "tests/support/loopback_http_server.h"
#include "tests/support/scripted_provider.h"
#include "tests/support/stream_events.h"

namespace ravlin {
namespace {

using testing::LoopbackHttpServer;
using testing::ScriptedProvider;
using testing::ScriptedReply;
using Selector = QNServiceCorrectionProviderSelector;
using Slot = QNStoreCustomCorrectionPrompt::Slot;

const QNCodexCLIDetection kCodexSignedIn{.executablePath = "/usr/local/bin/codex",
                                         .versionString = "codex-cli 0.120.0",
                                         .supportStatus = QNCodexCLISupportStatus::supported,
                                         .loginState = QNCodexCLILoginState::loggedIn};

class Routing : public ::testing::Test {
  public:
    std::shared_ptr<MemoryDefaults> defaults = std::make_shared<MemoryDefaults>();
    std::shared_ptr<ManualExecutor> executor = std::make_shared<ManualExecutor>();
    platform::fake::FakeDesktop desktop{executor};
    std::shared_ptr<QNStoreCorrectionModelMode> mode =
        std::make_shared<QNStoreCorrectionModelMode>(defaults, EnvironmentSnapshot{});
    std::shared_ptr<QNStoreOnlineCorrectionConfig> online =
        std::make_shared<QNStoreOnlineCorrectionConfig>(defaults, std::nullopt);
    std::shared_ptr<QNStoreBringYourOwnKey> byok = makeByok();
    std::shared_ptr<QNStoreCustomCorrectionPrompt> prompts =
        std::make_shared<QNStoreCustomCorrectionPrompt>(defaults);
    EnvironmentSnapshot environment;
    std::map<std::string, std::string> build;
    bool onDeviceAvailable = true;
    // The prompt each on-device provider was made with, in order.
    std::vector<std::string> onDevicePrompts;

    [[nodiscard]] std::shared_ptr<QNStoreBringYourOwnKey> makeByok() {
        return std::make_shared<QNStoreBringYourOwnKey>(
            defaults,
            [keychain = desktop.seams().keychain] {
                return std::optional(QNServiceKeychain(std::string(kKeychainService),
                                                       std::string(kBYOKOpenAIAPIKeyAccount),
                                                       keychain));
            },
            [](std::string, std::string, std::string) {
                return ScriptedProvider::make("openai-byok");
            });
    }
    [[nodiscard]] Selector selector(std::string sessionToken = "session-1") {
        return Selector(
            mode, online, byok, prompts, [this] { return environment; },
            [this](const std::string& prompt) {
                onDevicePrompts.push_back(prompt);
                auto provider = ScriptedProvider::make("foundation-models");
                provider->setAvailability({onDeviceAvailable, "FM", ""});
                return provider;
            },
            std::move(sessionToken), QNConfigBuild(build));
    }
    void configureHosted(const std::string& base = "https://fn.example.test/functions/v1") {
        environment["RAVLIN_SUPABASE_FUNCTIONS_BASE_URL"] = base;
        environment["RAVLIN_SUPABASE_PUBLISHABLE_KEY"] = "pub-key";
    }
};

std::string unavailableReason(const QNModelEngineProviderConfiguration& route) {
    const auto* unavailable =
        dynamic_cast<const QNUnavailableCorrectionModelProvider*>(route.primary.get());
    return unavailable ? unavailable->reason() : "";
}

TEST_F(Routing, LiveRouteIsAlwaysTheOnDeviceModel) {
    struct Case {
        QNCorrectionModelMode mode;
        bool available;
        const char* routeName;
        const char* reason;
        bool enabled;
    };
    configureHosted();
    for (const auto& c :
         {Case{QNCorrectionModelMode::local, true, "local", "mode-local", true},
          Case{QNCorrectionModelMode::online, true, "local", "mode-online", true},
          Case{QNCorrectionModelMode::online, false, "local-rule-only", "fm-unavailable", false}}) {
        mode->setMode(c.mode);
        onDeviceAvailable = c.available;
        const auto route = selector().liveConfiguration();
        EXPECT_EQ(route.primary->providerID(), "foundation-models");
        EXPECT_EQ(route.fallback, nullptr);
        EXPECT_EQ(route.logRouteName, c.routeName);
        EXPECT_EQ(route.logReason, c.reason);
        EXPECT_EQ(route.isEnabled, c.enabled);
        EXPECT_EQ(route.chunkCharCount, std::nullopt);
        EXPECT_EQ(route.routeLogLine(0), std::string("correction_route intent=live "
                                                     "primary=foundation-models fallback=none "
                                                     "reason=") +
                                             c.reason);
    }
}

TEST_F(Routing, PolishRouteFollowsModeOwnKeyAndHostedSettings) {
    struct Case {
        const char* name;
        std::function<void(Routing&)> setUp;
        const char* primary;
        const char* fallback;
        const char* routeName;
        const char* reason;
        const char* unavailableReason;
    };
    const std::vector<Case> cases{
        {"local mode", [](Routing& t) { t.configureHosted(); }, "foundation-models", "none",
         "local", "mode-local", ""},
        {"own OpenAI key",
         [](Routing& t) {
             t.byok->setEnabled(true);
             ASSERT_TRUE(t.byok->setAPIKey("sk-test"));
         },
         "openai-byok", "foundation-models", "OpenAI BYOK", "mode-online", ""},
        {"own Codex tool",
         [](Routing& t) {
             t.byok->setEnabled(true);
             t.byok->setProviderKind(QNBYOKProviderKind::codexCLI);
             t.byok->setCodexDetection(kCodexSignedIn);
         },
         "codex-cli-byok", "foundation-models", "Codex CLI BYOK with local fallback", "mode-online",
         ""},
        {"own key on, not configured", [](Routing& t) { t.byok->setEnabled(true); },
         "foundation-models", "none", "local", "online-unavailable", ""},
        {"hosted", [](Routing& t) { t.configureHosted(); }, "hosted-proxy", "foundation-models",
         "hosted online", "mode-online", ""},
        {"hosted without endpoint",
         [](Routing& t) { t.environment["RAVLIN_SUPABASE_PUBLISHABLE_KEY"] = "pub-key"; },
         "remote-unconfigured", "foundation-models", "hosted online", "mode-online",
         "Online correction endpoint not configured"},
        {"hosted without key",
         [](Routing& t) {
             t.environment["RAVLIN_SUPABASE_FUNCTIONS_BASE_URL"] = "https://fn.example.test";
         },
         "remote-unconfigured", "foundation-models", "hosted online", "mode-online", "API key"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        defaults = std::make_shared<MemoryDefaults>();
        mode = std::make_shared<QNStoreCorrectionModelMode>(defaults, EnvironmentSnapshot{});
        byok = makeByok();
        ASSERT_TRUE(byok->setAPIKey(""));  // the simulated keyring outlives the cases
        environment.clear();
        onDevicePrompts.clear();
        mode->setMode(std::string_view(c.name) == "local mode" ? QNCorrectionModelMode::local
                                                               : QNCorrectionModelMode::online);
        c.setUp(*this);

        const auto route = selector().polishConfiguration(42);
        EXPECT_EQ(route.primary->diagnostics().providerID, c.primary);
        EXPECT_EQ(route.fallback ? route.fallback->diagnostics().providerID : "none", c.fallback);
        EXPECT_EQ(route.logRouteName, c.routeName);
        EXPECT_EQ(route.logReason, c.reason);
        EXPECT_TRUE(route.isEnabled);
        EXPECT_EQ(route.chunkCharCount, 42);
        EXPECT_EQ(unavailableReason(route), c.unavailableReason);
        // The on-device provider is made first, whatever the route.
        EXPECT_EQ(onDevicePrompts.size(), 1u);
        EXPECT_EQ(route.routeLogLine(1), std::string("correction_route intent=polish "
                                                     "chunk_chars=42 primary=") +
                                             c.primary + " fallback=" + c.fallback +
                                             " reason=" + c.reason);
    }
    // Without a chunk the count is left out.
    EXPECT_EQ(selector().polishConfiguration(std::nullopt).routeLogLine(1),
              "correction_route intent=polish primary=remote-unconfigured "
              "fallback=foundation-models reason=mode-online");
}

TEST_F(Routing, HostedAddressAndKeyComeFromTheBuildFirstAndABlankValueCountsAsAbsent) {
    struct Case {
        const char* name;
        std::map<std::string, std::string> build;
        EnvironmentSnapshot environment;
        const char* endpoint;  // empty: the unavailable stand-in
        const char* reason;
    };
    const EnvironmentSnapshot hostedEnvironment{
        {"RAVLIN_SUPABASE_FUNCTIONS_BASE_URL", " https://env.example.test/fn \n"},
        {"RAVLIN_SUPABASE_PUBLISHABLE_KEY", "pub"}};
    const std::vector<Case> cases{
        {"environment", {}, hostedEnvironment, "https://env.example.test/fn/ravlin-cloud", ""},
        {"build address wins",
         {{"RavlinSupabaseFunctionsBaseURL", "https://build.example.test/v1/"}},
         hostedEnvironment,
         "https://build.example.test/v1/ravlin-cloud",
         ""},
        {"query kept",
         {{"RavlinSupabaseFunctionsBaseURL", "https://build.example.test/v1?region=eu"},
          {"RavlinSupabaseAnonKey", "anon"}},
         {},
         "https://build.example.test/v1/ravlin-cloud?region=eu",
         ""},
        {"unexpanded build key skipped",
         {{"RavlinSupabasePublishableKey", "$(KEY)"}},
         {{"RAVLIN_SUPABASE_FUNCTIONS_BASE_URL", "https://e.test"},
          {"RAVLIN_SUPABASE_ANON_KEY", "anon"}},
         "https://e.test/ravlin-cloud",
         ""},
        {"blank publishable key, no other",
         {},
         {{"RAVLIN_SUPABASE_FUNCTIONS_BASE_URL", "https://e.test"},
          {"RAVLIN_SUPABASE_PUBLISHABLE_KEY", "   "}},
         "",
         "API key"},
        {"blank publishable key, anon key present",
         {},
         {{"RAVLIN_SUPABASE_FUNCTIONS_BASE_URL", "https://e.test"},
          {"RAVLIN_SUPABASE_PUBLISHABLE_KEY", "   "},
          {"RAVLIN_SUPABASE_ANON_KEY", "anon"}},
         "https://e.test/ravlin-cloud",
         ""},
        {"blank address",
         {},
         {{"RAVLIN_SUPABASE_FUNCTIONS_BASE_URL", "  "}, {"RAVLIN_SUPABASE_ANON_KEY", "anon"}},
         "",
         "Online correction endpoint not configured"},
        {"address that is no web address",
         {},
         {{"RAVLIN_SUPABASE_FUNCTIONS_BASE_URL", "not a url"}, {"RAVLIN_SUPABASE_ANON_KEY", "a"}},
         "",
         "Online correction endpoint not configured"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        build = c.build;
        const auto route = selector().makeHostedProvider("PROMPT", "online-v14", c.environment);
        EXPECT_EQ(route.routeName, "hosted online");
        if (*c.endpoint == '\0') {
            const auto* unavailable =
                dynamic_cast<const QNUnavailableCorrectionModelProvider*>(route.provider.get());
            ASSERT_NE(unavailable, nullptr);
            EXPECT_EQ(unavailable->providerID(), "remote-unconfigured");
            EXPECT_EQ(unavailable->reason(), c.reason);
            EXPECT_EQ(unavailable->title(), "Online Model Not Configured");
            EXPECT_EQ(unavailable->providerName(), "Hosted Online");
            continue;
        }
        const auto* hosted =
            dynamic_cast<const QNProviderHostedProxyCorrection*>(route.provider.get());
        ASSERT_NE(hosted, nullptr);
        EXPECT_EQ(hosted->configuration(), QNProviderHostedProxyCorrection::Configuration(
                                               c.endpoint, 8.0, 8.0, 30.0, "hosted-proxy"));
        EXPECT_EQ(hosted->prompt(), "PROMPT");
        EXPECT_EQ(hosted->promptVersion(), "online-v14");
    }
}

TEST_F(Routing, HostedProviderSendsThePublicKeyOneSessionTokenAndANewRequestIDEachTime) {
    LoopbackHttpServer server;
    for (int i = 0; i < 3; ++i) {
        server.enqueue(ScriptedReply::eventStream()
                           .event(testing::deltaEvent("Fixed."))
                           .event(testing::doneEvent("Fixed.")));
    }
    mode->setMode(QNCorrectionModelMode::online);
    configureHosted(server.url("/functions/v1"));
    const auto first = selector("token-A").polishConfiguration(std::nullopt);
    const auto second = selector("token-A").polishConfiguration(std::nullopt);
    const auto other = selector("token-B").polishConfiguration(std::nullopt);
    for (const auto* route : {&first, &first, &other}) {
        const auto result = route->primary->generateCorrection(
            QNModelCorrectionRequest(u"teh text", 64), std::stop_token());
        EXPECT_EQ(result.kind(), QNModelCorrectionProviderResult::Kind::success);
    }
    EXPECT_NE(first.primary, second.primary);  // every call makes new providers

    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 3u);
    std::vector<QNModelHostedProxyCorrectionRequest> bodies;
    for (const auto& request : requests) {
        EXPECT_EQ(request.target, "/functions/v1/ravlin-cloud");
        EXPECT_EQ(request.header("Authorization"), "Bearer pub-key");
        EXPECT_EQ(request.header("apikey"), "pub-key");
        bodies.push_back(QNModelHostedProxyCorrectionRequest::decode(request.body));
    }
    EXPECT_EQ(bodies[0].sessionToken, "token-A");
    EXPECT_EQ(bodies[1].sessionToken, "token-A");
    EXPECT_EQ(bodies[2].sessionToken, "token-B");
    const std::regex uuid("[0-9a-f]{8}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{12}");
    EXPECT_TRUE(std::regex_match(bodies[0].requestID, uuid)) << bodies[0].requestID;
    EXPECT_NE(bodies[0].requestID, bodies[1].requestID);
    EXPECT_EQ(bodies[0].instructions,
              QNModelCorrectionPrompt::recommended(QNModelCorrectionPromptUseCase::online));
}

TEST_F(Routing, PromptsAreTrimmedCappedAndFallBackWhenBlank) {
    using UseCase = QNModelCorrectionPromptUseCase;
    const auto recommendedLocal = QNModelCorrectionPrompt::recommended(UseCase::local);
    const auto recommendedOnline = QNModelCorrectionPrompt::recommended(UseCase::online);
    const auto activeOnline =
        std::string(QNModelCorrectionPrompt::active(UseCase::online).rawValue());

    // Nothing custom: the recommended prompts and the online version.
    EXPECT_EQ(selector().localPromptText(), recommendedLocal);
    EXPECT_EQ(selector().onlinePromptText(), recommendedOnline);
    EXPECT_EQ(selector().onlinePromptVersion(), activeOnline);

    // Switched on but blank: recommended, and the version stays.
    prompts->setEnabled(true, Slot::local);
    prompts->setEnabled(true, Slot::online);
    prompts->setPrompt(" \n\t ", Slot::online);
    EXPECT_EQ(selector().localPromptText(), recommendedLocal);
    EXPECT_EQ(selector().onlinePromptVersion(), activeOnline);

    // 9000 characters of two code units each, with spaces around: the first 8000 characters.
    std::string accented;
    for (int i = 0; i < 9000; ++i) {
        accented += "e\u0301";
    }
    prompts->setPrompt("  " + accented + "\n", Slot::online);
    const auto online = selector().onlinePromptText();
    EXPECT_EQ(text::characterCount(std::string_view(online)), 8000);
    EXPECT_EQ(online, accented.substr(0, 8000 * std::string("e\u0301").size()));
    EXPECT_EQ(selector().onlinePromptVersion(), std::nullopt);

    prompts->setPrompt("  Fix typos only.  ", Slot::local);
    EXPECT_EQ(selector().localPromptText(), "Fix typos only.");
    (void)selector().liveConfiguration();
    EXPECT_EQ(onDevicePrompts.back(), "Fix typos only.");
}

}  // namespace
}  // namespace ravlin

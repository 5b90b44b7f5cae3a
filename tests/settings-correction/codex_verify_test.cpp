// Verify and Open Terminal of the Codex command-line tool, with stand-in executables.

#include <gtest/gtest.h>

#include <thread>

#include "tests/settings-correction/correction_fixture.h"

namespace ravlin::testing {
namespace {

using namespace std::chrono_literals;
using Support = QNCodexCLISupportStatus;
using Login = QNCodexCLILoginState;

// Answers the version question; a run writes `answer` as its final message after `run`.
std::string codexScript(const std::string& version, const std::string& run) {
    return "if [ \"$1\" = --version ]; then echo 'codex-cli " + version + "'; exit 0; fi\n" +
           R"(OUT=""; prev=""
for a in "$@"; do
  [ "$prev" = --output-last-message ] && OUT="$a"
  prev="$a"
done
cat > /dev/null
)" + run;
}

const std::string kAnswers = "printf 'the verification sentence.' > \"$OUT\"\n";

class CodexVerify : public CorrectionSettingsTest {
  public:
    void SetUp() override {
        QNCodexCLIDetector::Configuration config = QNCodexCLIDetector::Configuration::standard();
        config.homeDirectoryPath = dir.file("home");
        config.standardExecutablePaths = {dir.file("bin/codex")};
        config.environment = {{"PATH", "/usr/bin:/bin"}, {"HOME", dir.file("home")}};
        env.codexCLIDetector = std::make_shared<QNCodexCLIDetector>(config);
        make();
        byok().setEnabled(true);
        byok().setProviderKind(QNBYOKProviderKind::codexCLI);
        reconfigures = 0;
    }
    void install(const std::string& version, const std::string& run = kAnswers) {
        dir.writeScript("bin/codex", codexScript(version, run));
    }
    void logIn() { dir.writeFile("home/.codex/auth.json", "{}"); }
};

TEST_F(CodexVerify, EndsWithTheStatusOfWhatItFound) {
    const struct {
        const char* name;
        std::optional<std::string> version;  // none: not installed
        bool loggedIn;
        std::string run;
        QNModeBYOKSaveStatus status;
        Support support;
    } cases[] = {
        {"missing", std::nullopt, true, kAnswers,
         QNModeBYOKSaveStatus::failed("A supported Codex CLI executable was not found."),
         Support::missing},
        {"too old", "0.115.9", true, kAnswers,
         QNModeBYOKSaveStatus::failed("Install Codex CLI 0.116.0 or newer."),
         Support::unsupportedVersion},
        {"not logged in", "0.116.0", false, kAnswers,
         QNModeBYOKSaveStatus::failed(
             "Codex CLI is installed, but codex login has not been completed."),
         Support::supported},
        {"run succeeds, whatever it answers", "0.120.1", true, "printf 'x' > \"$OUT\"\n",
         QNModeBYOKSaveStatus::succeeded(), Support::supported},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove_all(dir.path() / "bin");
        std::filesystem::remove_all(dir.path() / "home");
        if (c.version) {
            install(*c.version, c.run);
        }
        if (c.loggedIn) {
            logIn();
        }
        state->byokKeyInput.set("typed");
        controller->verifyCodexCLI();
        EXPECT_EQ(typed(), "");
        EXPECT_EQ(status().kind, Kind::validating);
        settle();  // the detection
        if (status().kind == Kind::validating) {
            settle();  // the run
        }
        EXPECT_EQ(status(), c.status);
        EXPECT_EQ(byok().codexDetection().get().supportStatus, c.support);
    }
}

TEST_F(CodexVerify, AFailedRunShowsTheProvidersText) {
    const struct {
        const char* name;
        std::string run;
        const char* contains;
    } cases[] = {
        {"fails", "echo 'model overloaded' >&2\nexit 3\n", "model overloaded"},
        {"times out", "sleep 5\n", "timed out"},
    };
    env.codexVerificationTimeoutSeconds = 0.5;
    make();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        install("0.116.0", c.run);
        logIn();
        controller->verifyCodexCLI();
        settle();
        settle();
        ASSERT_EQ(status().kind, Kind::failed);
        EXPECT_EQ(status().message.rfind("Codex CLI verification failed: Codex CLI", 0), 0u)
            << status().message;
        EXPECT_NE(status().message.find(c.contains), std::string::npos) << status().message;
    }
}

TEST_F(CodexVerify, SwitchingTheProviderDropsTheResult) {
    install("0.116.0");
    logIn();
    for (const bool duringRun : {false, true}) {
        SCOPED_TRACE(duringRun ? "during the run" : "during the detection");
        byok().setProviderKind(QNBYOKProviderKind::codexCLI);
        byok().setCodexDetection({});
        controller->verifyCodexCLI();
        if (duringRun) {
            settle();
            ASSERT_EQ(status().kind, Kind::validating);
        }
        byok().setProviderKind(QNBYOKProviderKind::openai);
        settle();
        EXPECT_EQ(status().kind, Kind::idle);
        // A detection dropped is not stored.
        EXPECT_EQ(byok().codexDetection().get().isAvailable(), duringRun);
    }
}

TEST_F(CodexVerify, AConfiguredStateChangeReconfiguresOnlyOnline) {
    install("0.116.0", "exit 1\n");
    logIn();
    for (const bool online : {true, false}) {
        SCOPED_TRACE(online ? "online" : "local");
        setOnline(online);
        byok().setCodexDetection({});
        reconfigures = 0;
        controller->verifyCodexCLI();
        settle();
        EXPECT_TRUE(byok().codexDetection().get().isConfigured());
        EXPECT_EQ(reconfigures, online ? 1 : 0);
        settle();
    }
}

class OpenTerminal : public CorrectionSettingsTest {};

TEST_F(OpenTerminal, StartsTheFirstTerminalFoundInTheHomeFolder) {
    std::filesystem::create_directories(dir.path() / "home");
    env.homeDirectoryPath = dir.file("home");
    const struct {
        const char* name;
        std::vector<std::string> candidates;
        EnvironmentSnapshot environment;
    } cases[] = {
        {"at its path", {dir.file("absent"), dir.file("bin/term")}, {}},
        {"on the search path",
         {dir.file("absent"), "term"},
         {{"PATH", ":/nowhere:" + dir.file("bin")}}},
    };
    dir.writeScript("bin/term", "pwd > \"$FAKE_DIR/started\"");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove(dir.path() / "started");
        env.terminalCandidates = c.candidates;
        env.processEnvironment = c.environment;
        make();
        state->byokKeyInput.set("typed");
        state->byokSaveStatus.set(QNModeBYOKSaveStatus::failed("earlier"));
        const Uuid id = state->byokValidationID.get();
        controller->openTerminalForCodexLogin();
        EXPECT_EQ(status().kind, Kind::idle);
        EXPECT_NE(state->byokValidationID.get(), id);
        EXPECT_EQ(typed(), "");
        std::optional<std::string> started;
        for (int i = 0; i < 2000 && !(started = dir.read("started")); ++i) {
            std::this_thread::sleep_for(10ms);
        }
        EXPECT_EQ(started, dir.file("home") + "\n");
    }
}

TEST_F(OpenTerminal, NoneFoundSaysSo) {
    env.terminalCandidates = {dir.file("absent"), "no-such-terminal-here"};
    env.processEnvironment = {{"PATH", dir.file("bin")}};
    dir.writeFile("bin/no-such-terminal-here", "not executable");
    make();
    const Uuid id = state->byokValidationID.get();
    controller->openTerminalForCodexLogin();
    EXPECT_EQ(status(),
              QNModeBYOKSaveStatus::failed(
                  "Could not open Terminal. Open Terminal manually and run codex login."));
    EXPECT_NE(state->byokValidationID.get(), id);
}

}  // namespace
}  // namespace ravlin::testing

#include "core/providers/codex-cli/detection.h"

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "tests/support/fake_executable.h"

namespace ravlin {
namespace {

using Status = QNCodexCLISupportStatus;
using Login = QNCodexCLILoginState;
using testing::FakeExecutableDirectory;

TEST(CodexCLIVersion, ParsesOnlyTheExpectedForm) {
    struct Case {
        const char* output;
        std::optional<QNCodexCLIVersion> version;
    };
    const Case cases[] = {
        {"codex-cli 0.116.0", QNCodexCLIVersion{0, 116, 0}},
        {"  codex-cli   1.2.3 \n", QNCodexCLIVersion{1, 2, 3}},
        {"codex-cli 0.116.0.", QNCodexCLIVersion{0, 116, 0}},  // empty pieces are dropped
        {"codex-cli 0.117.0-beta", std::nullopt},
        {"codex-cli 0.117.0-beta.1", std::nullopt},
        {"codex 0.116.0", std::nullopt},
        {"codex-cli 0.116", std::nullopt},
        {"codex-cli version 0.116.0", std::nullopt},
        {"codex-cli\t0.116.0", std::nullopt},  // only spaces separate the words
        {"codex-cli 0.+116.0", std::nullopt},
        {"codex-cli 0.-1.0", std::nullopt},
        {"codex-cli 99999999999999999999.0.0", std::nullopt},
        {"codex-cli 0.116.0\nextra", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(codex_cli::parseVersion(c.output), c.version) << c.output;
    }
    EXPECT_LT((QNCodexCLIVersion{0, 115, 9}), kCodexCLIMinimumSupportedVersion);
    EXPECT_GE((QNCodexCLIVersion{0, 116, 0}), kCodexCLIMinimumSupportedVersion);
    EXPECT_GE((QNCodexCLIVersion{1, 0, 0}), kCodexCLIMinimumSupportedVersion);
}

TEST(CodexCLIOutputText, PrefersStandardOutputThenStandardError) {
    EXPECT_EQ(codex_cli::outputText({0, "  out \n", "err"}), "out");
    EXPECT_EQ(codex_cli::outputText({0, " \n\t", "\n err \n"}), "err");
    EXPECT_EQ(codex_cli::outputText({0, " ", "\n"}), std::nullopt);
}

TEST(CodexCLIOutputText, FindsFirstAndLastNonEmptyLines) {
    EXPECT_EQ(codex_cli::firstLine("\n \r\n  /usr/bin/codex  \nsecond"), "/usr/bin/codex");
    EXPECT_EQ(codex_cli::lastLine("Welcome!\r\n/usr/bin:/bin\n\n"), "/usr/bin:/bin");
    EXPECT_EQ(codex_cli::firstLine("a\xE2\x80\xA8"
                                   "b"),
              "a");  // line separator
    EXPECT_EQ(codex_cli::lastLine("a\xC2\x85"
                                  "b"),
              "b");  // next line
    EXPECT_EQ(codex_cli::firstLine(" \n\v\f "), std::nullopt);
}

TEST(CodexCLIDetection, AvailabilityAndConfiguration) {
    struct Case {
        std::optional<std::string> path;
        Status status;
        Login login;
        bool available;
        bool configured;
    };
    const Case cases[] = {
        {"/usr/local/bin/codex", Status::supported, Login::loggedIn, true, true},
        {"/usr/local/bin/codex", Status::supported, Login::notLoggedIn, true, false},
        {"/usr/local/bin/codex", Status::supported, Login::unknown, true, false},
        {"", Status::supported, Login::loggedIn, false, false},
        {std::nullopt, Status::supported, Login::loggedIn, false, false},
        {"/usr/local/bin/codex", Status::unsupportedVersion, Login::loggedIn, false, false},
    };
    for (const auto& c : cases) {
        const QNCodexCLIDetection detection{c.path, "codex-cli 0.116.0", c.status, c.login};
        EXPECT_EQ(detection.isAvailable(), c.available);
        EXPECT_EQ(detection.isConfigured(), c.configured);
    }
    const auto& unsupported = QNCodexCLIDetection::unsupportedPlatform();
    EXPECT_EQ(unsupported, (QNCodexCLIDetection{std::nullopt, std::nullopt,
                                                Status::unsupportedPlatform, Login::unknown}));
}

// Answers commands from a table and records every call.
struct ScriptedCommands {
    struct Call {
        std::string executable;
        std::vector<std::string> arguments;
        std::optional<process::Environment> environment;
    };
    std::map<std::string, QNCodexCLICommandResult> answers;  // key: executable + first argument
    std::vector<Call> calls;

    QNCodexCLICommandResult run(const std::string& executable,
                                const std::vector<std::string>& arguments,
                                const std::optional<process::Environment>& environment) {
        calls.push_back({executable, arguments, environment});
        const auto key = executable + (arguments.empty() ? "" : " " + arguments.front());
        const auto found = answers.find(key);
        return found != answers.end() ? found->second : QNCodexCLICommandResult{127, "", "no"};
    }
    [[nodiscard]] int count(const std::string& executable) const {
        int n = 0;
        for (const auto& call : calls) {
            n += call.executable == executable;
        }
        return n;
    }
};

class CodexCLIDetectorTest : public ::testing::Test {
  protected:
    QNCodexCLIDetector::Configuration configuration() {
        QNCodexCLIDetector::Configuration value;
        value.homeDirectoryPath = "/home/ada";
        value.standardExecutablePaths = QNCodexCLIDetector::standardExecutablePathsFor("/home/ada");
        value.fileExists = [this](const std::string& path) { return existing.count(path) > 0; };
        value.isExecutableFile = [this](const std::string& path) {
            return executable.count(path) > 0;
        };
        value.commandRunner = [this](const std::string& exe, const std::vector<std::string>& args,
                                     const std::optional<process::Environment>& env) {
            return commands.run(exe, args, env);
        };
        value.environment = {{"HOME", "/home/ada"}, {"PATH", "/usr/bin:/bin"}};
        return value;
    }
    QNCodexCLIDetection detect() { return QNCodexCLIDetector(configuration()).detect(); }

    std::set<std::string> existing;
    std::set<std::string> executable;
    ScriptedCommands commands;
};

TEST_F(CodexCLIDetectorTest, StandardPlacesAreSearchedInOrder) {
    EXPECT_EQ(QNCodexCLIDetector::standardExecutablePathsFor("/home/ada"),
              (std::vector<std::string>{"/opt/homebrew/bin/codex", "/usr/local/bin/codex",
                                        "/home/ada/.npm-global/bin/codex",
                                        "/home/ada/.cargo/bin/codex", "/home/ada/.bun/bin/codex"}));
    existing = {"/opt/homebrew/bin/codex"};  // exists but is not executable: skipped
    executable = {"/home/ada/.cargo/bin/codex", "/usr/local/bin/codex"};
    commands.answers["/usr/local/bin/codex --version"] = {0, "codex-cli 0.116.0\n", ""};
    const auto detection = detect();
    EXPECT_EQ(detection, (QNCodexCLIDetection{"/usr/local/bin/codex", "codex-cli 0.116.0",
                                              Status::supported, Login::notLoggedIn}));
    ASSERT_EQ(commands.calls.size(), 1u);
    EXPECT_EQ(commands.calls[0].arguments, std::vector<std::string>{"--version"});
    EXPECT_EQ(commands.calls[0].environment, std::nullopt);  // the child gets our environment
    EXPECT_EQ(commands.count("/usr/bin/env"), 0);
}

TEST_F(CodexCLIDetectorTest, VersionCheckAtAKnownPath) {
    struct Case {
        QNCodexCLICommandResult result;
        std::optional<std::string> version;
        Status status;
    };
    const Case cases[] = {
        {{0, "codex-cli 0.116.0\n", ""}, "codex-cli 0.116.0", Status::supported},
        {{0, "codex-cli 0.117.3", ""}, "codex-cli 0.117.3", Status::supported},
        {{0, "codex-cli 1.0.0", ""}, "codex-cli 1.0.0", Status::supported},
        {{0, "codex-cli 0.115.9", ""}, "codex-cli 0.115.9", Status::unsupportedVersion},
        {{0, "", "codex-cli 0.120.1\n"}, "codex-cli 0.120.1", Status::supported},
        {{0, "codex-cli 0.117.0-beta", ""}, "codex-cli 0.117.0-beta", Status::unparsableVersion},
        {{0, " \n", ""}, std::nullopt, Status::unparsableVersion},
        {{1, "", "boom"}, "boom", Status::versionCheckFailed},
        {{124, "", "Command timed out"}, "Command timed out", Status::versionCheckFailed},
        {{-1, "", "posix_spawn failed: x"}, "posix_spawn failed: x", Status::versionCheckFailed},
    };
    executable = {"/home/ada/.bun/bin/codex"};
    existing = {"/home/ada/.codex/auth.json"};
    for (const auto& c : cases) {
        commands.answers["/home/ada/.bun/bin/codex --version"] = c.result;
        EXPECT_EQ(detect(), (QNCodexCLIDetection{"/home/ada/.bun/bin/codex", c.version, c.status,
                                                 Login::loggedIn}))
            << c.result.stdout << c.result.stderr;
    }
}

TEST_F(CodexCLIDetectorTest, SearchPathWhenNoStandardPlaceHasTheTool) {
    struct Case {
        QNCodexCLICommandResult version;
        std::optional<QNCodexCLICommandResult> which;
        QNCodexCLIDetection expected;
    };
    const Case cases[] = {
        {{127, "", "/usr/bin/env: 'codex': No such file or directory\n"},
         std::nullopt,
         {std::nullopt, "/usr/bin/env: 'codex': No such file or directory", Status::missing,
          Login::notLoggedIn}},
        {{0, "codex-cli 0.100.0", ""},
         std::nullopt,
         {std::nullopt, "codex-cli 0.100.0", Status::unsupportedVersion, Login::notLoggedIn}},
        {{0, "", ""},
         std::nullopt,
         {std::nullopt, std::nullopt, Status::unparsableVersion, Login::notLoggedIn}},
        {{0, "codex-cli 0.116.0", ""},
         QNCodexCLICommandResult{0, "\n   /opt/tools/codex  \n", ""},
         {"/opt/tools/codex", "codex-cli 0.116.0", Status::supported, Login::notLoggedIn}},
        {{0, "codex-cli 0.116.0", ""},
         QNCodexCLICommandResult{1, "/opt/tools/codex", ""},
         {std::nullopt, "codex-cli 0.116.0", Status::pathResolutionFailed, Login::notLoggedIn}},
        {{0, "codex-cli 0.116.0", ""},
         QNCodexCLICommandResult{0, " \n", ""},
         {std::nullopt, "codex-cli 0.116.0", Status::pathResolutionFailed, Login::notLoggedIn}},
    };
    for (const auto& c : cases) {
        commands = {};
        commands.answers["/usr/bin/env codex"] = c.version;
        if (c.which) {
            commands.answers["/usr/bin/which codex"] = *c.which;
        }
        EXPECT_EQ(detect(), c.expected) << c.version.stdout;
        const bool askedWhich = commands.count("/usr/bin/which") > 0;
        EXPECT_EQ(askedWhich, c.which.has_value());
    }
    ASSERT_FALSE(commands.calls.empty());
    EXPECT_EQ(commands.calls.front().arguments, (std::vector<std::string>{"codex", "--version"}));
}

TEST_F(CodexCLIDetectorTest, SearchPathComesFromTheLoginShell) {
    // A profile printing a banner before the path must not be taken for the path.
    executable = {"/bin/zsh"};
    auto config = configuration();
    config.environment = {{"SHELL", "/bin/zsh"}, {"PATH", "/usr/bin"}, {"LANG", "C"}};
    commands.answers["/bin/zsh -l"] = {0, "Welcome to the machine\n/home/ada/bin:/usr/bin", ""};
    commands.answers["/usr/bin/env codex"] = {127, "", "missing"};
    (void)QNCodexCLIDetector(config).detect();
    ASSERT_EQ(commands.calls.size(), 2u);
    EXPECT_EQ(commands.calls[0].arguments,
              (std::vector<std::string>{"-l", "-c", "printf %s \"$PATH\""}));
    EXPECT_EQ(commands.calls[0].environment, config.environment);
    const process::Environment expected{
        {"SHELL", "/bin/zsh"}, {"PATH", "/home/ada/bin:/usr/bin"}, {"LANG", "C"}};
    EXPECT_EQ(commands.calls[1].environment, expected);
}

TEST_F(CodexCLIDetectorTest, SearchPathFallbacks) {
    struct Case {
        process::Environment environment;
        std::function<std::optional<std::string>()> provider;
        std::optional<std::string> path;  // PATH given to the search-path commands
    };
    const Case cases[] = {
        // No SHELL: the environment's own PATH.
        {{{"PATH", "/a:/b"}}, {}, "/a:/b"},
        // A shell that is not executable: likewise.
        {{{"SHELL", "/bin/nope"}, {"PATH", "/a"}}, {}, "/a"},
        // A failing login shell: likewise.
        {{{"SHELL", "/bin/zsh"}, {"PATH", "/a"}}, {}, "/a"},
        // An empty environment has no search path of its own.
        {{}, {}, std::nullopt},
        // The provider wins when it answers; the environment's own folders follow its.
        {{{"PATH", "/a"}},
         [] { return std::optional<std::string>("/from/provider"); },
         "/from/provider:/a"},
        {{{"PATH", "/a::/from/provider:/b:/a"}},
         [] { return std::optional<std::string>("/from/provider"); },
         "/from/provider:/a:/b"},
        // A provider without an answer falls back to the login shell's path.
        {{{"PATH", "/a"}}, [] { return std::optional<std::string>(); }, "/a"},
    };
    executable = {"/bin/zsh"};
    for (const auto& c : cases) {
        commands = {};
        commands.answers["/bin/zsh -l"] = {1, "", "profile error"};
        commands.answers["/usr/bin/env codex"] = {127, "", "missing"};
        auto config = configuration();
        config.environment = c.environment;
        config.loginShellPathProvider = c.provider;
        (void)QNCodexCLIDetector(config).detect();
        const auto& envCall = commands.calls.back();
        ASSERT_EQ(envCall.executable, "/usr/bin/env");
        ASSERT_TRUE(envCall.environment);
        const auto found = envCall.environment->find("PATH");
        const std::optional<std::string> path = found == envCall.environment->end()
                                                    ? std::nullopt
                                                    : std::optional<std::string>(found->second);
        EXPECT_EQ(path, c.path);
    }
}

TEST_F(CodexCLIDetectorTest, CachesUntilForced) {
    executable = {"/usr/local/bin/codex"};
    commands.answers["/usr/local/bin/codex --version"] = {0, "codex-cli 0.116.0", ""};
    QNCodexCLIDetector detector(configuration());
    EXPECT_EQ(detector.cachedDetection(), std::nullopt);
    EXPECT_TRUE(commands.calls.empty());  // building runs nothing

    const auto first = detector.refresh(false);
    const auto second = detector.refresh(false);
    EXPECT_EQ(first, second);
    EXPECT_EQ(detector.currentDetection(), first);
    EXPECT_EQ(commands.calls.size(), 1u);
    EXPECT_EQ(detector.cachedDetection(), first);

    commands.answers["/usr/local/bin/codex --version"] = {0, "codex-cli 0.115.0", ""};
    EXPECT_EQ(detector.refresh(true).supportStatus, Status::unsupportedVersion);
    EXPECT_EQ(detector.refresh(true).supportStatus, Status::unsupportedVersion);
    EXPECT_EQ(commands.calls.size(), 3u);
    EXPECT_EQ(detector.cachedDetection()->supportStatus, Status::unsupportedVersion);
}

// End to end with real probes and real child processes: stand-in tools in a temporary folder.
TEST(CodexCLIDetectorEndToEnd, FindsAStandInToolAtAStandardPlace) {
    FakeExecutableDirectory dir;
    dir.writeFile("home/.codex/auth.json", "{}");
    dir.writeFile("home/.npm-global/bin/codex", "not executable");
    dir.writeScript("home/.cargo/bin/codex",
                    "[ \"$1\" = --version ] || exit 2\necho 'codex-cli 0.118.2'");
    dir.writeScript("home/.bun/bin/codex", "echo 'codex-cli 9.9.9'");
    auto config = QNCodexCLIDetector::Configuration::standard();
    config.homeDirectoryPath = dir.file("home");
    config.standardExecutablePaths = {dir.file("home/.npm-global/bin/codex"),
                                      dir.file("home/.cargo/bin/codex"),
                                      dir.file("home/.bun/bin/codex")};
    EXPECT_EQ(QNCodexCLIDetector(config).detect(),
              (QNCodexCLIDetection{dir.file("home/.cargo/bin/codex"), "codex-cli 0.118.2",
                                   Status::supported, Login::loggedIn}));
}

// A login profile that sets the path afresh (as Debian's does) does not hide a tool on the path
// the program was started with.
TEST(CodexCLIDetectorEndToEnd, FindsAStandInToolOnTheProgramsOwnPathBesideTheLoginShells) {
    FakeExecutableDirectory dir;
    dir.writeScript("own/codex", "echo 'codex-cli 0.116.0'");
    dir.writeScript("shell", "PATH='/usr/bin:/bin'\nexport PATH\nexec /bin/sh -c \"$3\"");
    auto config = QNCodexCLIDetector::Configuration::standard();
    config.homeDirectoryPath = dir.file("home");
    config.standardExecutablePaths = {dir.file("home/.cargo/bin/codex")};
    config.environment = {{"SHELL", dir.file("shell")},
                          {"PATH", dir.file("own") + ":/usr/bin:/bin"}};
    EXPECT_EQ(QNCodexCLIDetector(config).detect(),
              (QNCodexCLIDetection{dir.file("own/codex"), "codex-cli 0.116.0", Status::supported,
                                   Login::notLoggedIn}));
}

TEST(CodexCLIDetectorEndToEnd, FindsAStandInToolThroughTheLoginShellsSearchPath) {
    FakeExecutableDirectory dir;
    dir.writeScript("bin/codex", "echo 'codex-cli 0.116.0'");
    // A login shell whose profile greets before running the command it was given.
    dir.writeScript("shell", "echo 'Last login: today'\nPATH='" + dir.file("bin") +
                                 ":/usr/bin:/bin'\nexport PATH\nexec /bin/sh -c \"$3\"");
    auto config = QNCodexCLIDetector::Configuration::standard();
    config.homeDirectoryPath = dir.file("home");
    config.standardExecutablePaths = {dir.file("home/.cargo/bin/codex")};
    config.environment = {{"SHELL", dir.file("shell")}, {"PATH", "/usr/bin:/bin"}};
    EXPECT_EQ(QNCodexCLIDetector(config).detect(),
              (QNCodexCLIDetection{dir.file("bin/codex"), "codex-cli 0.116.0", Status::supported,
                                   Login::notLoggedIn}));
}

}  // namespace
}  // namespace ravlin

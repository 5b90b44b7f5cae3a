#include <gtest/gtest.h>

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <initializer_list>
#include <set>
#include <string>
#include <vector>

#include "core/records/prompt_catalogue.h"

namespace ravlin {

void PrintTo(QNModelCorrectionPrompt prompt, std::ostream* out) {
    *out << prompt.rawValue();
}

namespace {

namespace fs = std::filesystem;
using Prompt = QNModelCorrectionPrompt;
using UseCase = QNModelCorrectionPromptUseCase;

constexpr const char* kVariables[] = {"QN_LOCAL_PROMPT_VERSION", "QN_ONLINE_PROMPT_VERSION",
                                      "QN_PROMPT_VERSION"};

constexpr const char* kRootVariable = "RAVLIN_PROMPT_TEST_ROOT";

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// A prompt resource directory of the test's own, used by the catalogue while the test runs.
class PromptCatalogueTest : public ::testing::Test {
  protected:
    void SetUp() override {
        // A death test's child process runs the test again up to the fatal statement; it
        // inherits the parent's directory through the environment instead of leaving its own.
        if (const char* inherited = ::getenv(kRootVariable)) {
            root_ = inherited;
        } else {
            std::string pattern = (fs::temp_directory_path() / "ravlin-prompts-XXXXXX").string();
            ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
            root_ = pattern;
            ::setenv(kRootVariable, pattern.c_str(), 1);
        }
        for (const char* name : kVariables) {
            ::unsetenv(name);
        }
        setPromptResourceBundle(directoryPromptBundle(root_));
        Prompt::resetCachesForTesting();
    }

    void TearDown() override {
        setPromptResourceBundle(nullptr);
        Prompt::resetCachesForTesting();
        for (const char* name : kVariables) {
            ::unsetenv(name);
        }
        ::unsetenv(kRootVariable);
        std::error_code ignored;
        fs::remove_all(root_, ignored);
    }

    // Writes `relativePath` (e.g. "Prompts/local-v3.txt") with `contents`.
    void write(const std::string& relativePath, const std::string& contents) {
        const fs::path path = root_ / relativePath;
        fs::create_directories(path.parent_path());
        std::ofstream(path, std::ios::binary) << contents;
    }

    // Every version under "Prompts", each text naming its version, except `missing`.
    void writeAll(std::initializer_list<Prompt> missing = {}) {
        const std::set<Prompt::Case> skipped = [&] {
            std::set<Prompt::Case> out;
            for (Prompt prompt : missing) {
                out.insert(prompt.caseValue());
            }
            return out;
        }();
        for (Prompt prompt : Prompt::allCases()) {
            if (!skipped.contains(prompt.caseValue())) {
                write("Prompts/" + std::string(prompt.rawValue()) + ".txt",
                      "text of " + std::string(prompt.rawValue()) + "\n");
            }
        }
    }

    fs::path root_;
};

TEST(PromptVersionsTest, RawValuesVersionsAndConstruction) {
    const auto& all = Prompt::allCases();
    ASSERT_EQ(all.size(), 22u);
    for (std::size_t i = 0; i < all.size(); ++i) {
        const bool local = i < 8;
        const std::int64_t n =
            local ? static_cast<std::int64_t>(i) + 1 : static_cast<std::int64_t>(i) - 7;
        const std::string raw = (local ? "local-v" : "online-v") + std::to_string(n);
        EXPECT_EQ(all[i].rawValue(), raw);
        EXPECT_EQ(all[i].version(), local ? n : 100 + n);
        EXPECT_EQ(fromString<Prompt>(raw), all[i]);
        EXPECT_EQ(std::hash<Prompt>{}(all[i]), std::hash<std::string_view>{}(raw));
    }
    for (const char* bad :
         {"Local-v1", "local-v9", "local-v01", "online-v15", " local-v1", "latest", ""}) {
        EXPECT_FALSE(fromString<Prompt>(bad)) << bad;
    }
    EXPECT_EQ(toString(UseCase::local), "local");
    EXPECT_EQ(toString(UseCase::online), "online");
}

TEST(EmbeddedPromptsTest, EveryShippedTextIsEmbeddedAndNewestVersionsShip) {
    setPromptResourceBundle(nullptr);
    const fs::path shipped = fs::path(RAVLIN_SOURCE_DIR) / "core/resources/prompts";
    int count = 0;
    for (const auto& entry : fs::directory_iterator(shipped)) {
        if (entry.path().extension() != ".txt") {
            continue;
        }
        ++count;
        const std::string name = entry.path().stem().string();
        ASSERT_TRUE(fromString<Prompt>(name)) << name << " is not a prompt version";
        std::string expected = readFile(entry.path());
        if (expected.ends_with("\r\n")) {
            expected.resize(expected.size() - 2);
        } else if (expected.ends_with('\n')) {
            expected.pop_back();
        }
        EXPECT_EQ(fromString<Prompt>(name)->text(), expected) << name;
        EXPECT_FALSE(expected.empty()) << name;
    }
    EXPECT_GE(count, 2);
    EXPECT_EQ(Prompt::currentLocal(), Prompt::localV8);
    EXPECT_EQ(Prompt::currentOnline(), Prompt::onlineV14);
    // Every version has a text, its own or an older one's.
    for (Prompt prompt : Prompt::allCases()) {
        EXPECT_FALSE(prompt.text().empty()) << prompt.rawValue();
    }
}

struct ResolutionCase {
    const char* name;
    std::vector<std::pair<std::string, std::string>> environment;
    std::vector<Prompt> missing;
    Prompt expectedLocal;
    Prompt expectedOnline;
};

TEST_F(PromptCatalogueTest, EnvironmentResolution) {
    const std::string local = "QN_LOCAL_PROMPT_VERSION";
    const std::string online = "QN_ONLINE_PROMPT_VERSION";
    const std::string shared = "QN_PROMPT_VERSION";
    const ResolutionCase cases[] = {
        {"nothing set", {}, {}, Prompt::localV8, Prompt::onlineV14},
        {"case, blanks and line feed",
         {{local, "  LOCAL-V3 \t\n"}},
         {},
         Prompt::localV3,
         Prompt::onlineV14},
        {"latest stops the search",
         {{local, "LATEST"}, {shared, "local-v2"}},
         {},
         Prompt::localV8,
         Prompt::localV2},
        {"current",
         {{local, " Current "}, {online, "current"}},
         {},
         Prompt::localV8,
         Prompt::onlineV14},
        {"latest follows the resources",
         {{local, "latest"}},
         {Prompt::localV8},
         Prompt::localV7,
         Prompt::onlineV14},
        {"unknown name falls through",
         {{online, "online-v99"}, {shared, "online-v5"}},
         {},
         Prompt::onlineV5,
         Prompt::onlineV5},
        {"blank value counts as absent",
         {{online, " \t\n "}, {shared, "online-v7"}},
         {},
         Prompt::onlineV7,
         Prompt::onlineV7},
        {"empty value", {{online, ""}}, {}, Prompt::localV8, Prompt::onlineV14},
        {"shared variable alone", {{shared, "local-v4"}}, {}, Prompt::localV4, Prompt::localV4},
        {"other use case's version",
         {{local, "online-v2"}},
         {},
         Prompt::onlineV2,
         Prompt::onlineV14},
        {"missing resource falls through",
         {{local, "local-v3"}, {shared, "local-v2"}},
         {Prompt::localV3},
         Prompt::localV2,
         Prompt::localV2},
        {"missing everywhere",
         {{local, "local-v3"}, {shared, "local-v3"}},
         {Prompt::localV3},
         Prompt::localV8,
         Prompt::onlineV14},
        {"nonsense",
         {{local, "v3"}, {online, "online-"}, {shared, "\xff\xfe"}},
         {},
         Prompt::localV8,
         Prompt::onlineV14},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(root_ / "Prompts");
        writeAll({});
        for (Prompt prompt : c.missing) {
            fs::remove(root_ / "Prompts" / (std::string(prompt.rawValue()) + ".txt"));
        }
        QNPromptEnvironment environment(c.environment.begin(), c.environment.end());
        EXPECT_EQ(Prompt::resolved(UseCase::local, environment), c.expectedLocal);
        EXPECT_EQ(Prompt::resolved(environment), c.expectedLocal);
        EXPECT_EQ(Prompt::resolved(UseCase::online, environment), c.expectedOnline);
    }
}

TEST_F(PromptCatalogueTest, ProcessEnvironmentIsCachedPerUseCaseAtFirstUse) {
    writeAll();
    ::setenv("QN_LOCAL_PROMPT_VERSION", "local-v3", 1);
    EXPECT_EQ(Prompt::processEnvironment().at("QN_LOCAL_PROMPT_VERSION"), "local-v3");
    EXPECT_EQ(Prompt::active(UseCase::local), Prompt::localV3);
    EXPECT_EQ(Prompt::version(UseCase::online), 114);

    ::setenv("QN_LOCAL_PROMPT_VERSION", "local-v2", 1);
    ::setenv("QN_ONLINE_PROMPT_VERSION", "online-v4", 1);
    EXPECT_EQ(Prompt::active(UseCase::local), Prompt::localV3);
    EXPECT_EQ(Prompt::active(UseCase::online), Prompt::onlineV14);
    // The local version behind `active()` is a cache of its own, fixed at its own first use.
    EXPECT_EQ(Prompt::active(), Prompt::localV2);
    EXPECT_EQ(Prompt::activeVersion(), 2);
    EXPECT_EQ(Prompt::recommended(), "text of local-v2");
    EXPECT_EQ(Prompt::recommended(UseCase::local), "text of local-v3");
    EXPECT_EQ(recommendedAutocorrectPrompt(), "text of local-v2");

    // The autocorrect prompt is loaded once; `recommended()` reads the resource every time.
    write("Prompts/local-v2.txt", "changed\n");
    EXPECT_EQ(recommendedAutocorrectPrompt(), "text of local-v2");
    EXPECT_EQ(Prompt::recommended(), "changed");

    Prompt::resetCachesForTesting();
    EXPECT_EQ(Prompt::active(UseCase::local), Prompt::localV2);
    EXPECT_EQ(Prompt::active(UseCase::online), Prompt::onlineV4);
    EXPECT_EQ(recommendedAutocorrectPrompt(), "changed");
}

TEST_F(PromptCatalogueTest, MissingTextsFallBackToTheNewestOlderVersion) {
    writeAll({Prompt::localV8, Prompt::onlineV2, Prompt::onlineV3});
    EXPECT_EQ(Prompt::currentLocal(), Prompt::localV7);
    EXPECT_EQ(Prompt::current(), Prompt::localV7);
    EXPECT_EQ(Prompt::localV8.text(), "text of local-v7");
    EXPECT_EQ(Prompt::onlineV3.text(), "text of online-v1");
    EXPECT_EQ(Prompt::fallback("online-v3"), Prompt::onlineV1);
    EXPECT_FALSE(Prompt::fallback("custom"));
    EXPECT_FALSE(Prompt::localV8.isLoadable());
    EXPECT_EQ(Prompt::newestLoadable(UseCase::online, Prompt::onlineV14), Prompt::onlineV13);
}

TEST_F(PromptCatalogueTest, TopLevelResourcesAreFoundWhenPromptsHasNone) {
    write("local-v2.txt", "top level\n");
    write("online-v1.txt", "top online\n");
    write("Prompts/online-v1.txt", "nested online\n");
    EXPECT_EQ(Prompt::currentLocal(), Prompt::localV2);
    EXPECT_EQ(Prompt::localV2.text(), "top level");
    EXPECT_EQ(Prompt::localV5.text(), "top level");
    EXPECT_EQ(Prompt::onlineV1.text(), "nested online");
}

TEST_F(PromptCatalogueTest, OneTrailingLineEndingIsRemoved) {
    const std::pair<std::string, std::string> cases[] = {
        {"text", "text"},
        {"text\n", "text"},
        {"text\n\n", "text\n"},
        {"text\r\n", "text"},
        {"text\r\n\r\n", "text\r\n"},
        {"text\n\r\n", "text\n"},
        {"text\r", "text\r"},
        {"text \n", "text "},
        {"\n  text", "\n  text"},
        {"\n", ""},
        {"", ""},
        {"caf\xc3\xa9 \xe2\x80\x94 ok\n", "caf\xc3\xa9 \xe2\x80\x94 ok"},
    };
    writeAll();
    for (const auto& [contents, expected] : cases) {
        write("Prompts/local-v8.txt", contents);
        EXPECT_EQ(Prompt::localV8.text(), expected);
    }
}

using PromptCatalogueDeathTest = PromptCatalogueTest;

TEST_F(PromptCatalogueDeathTest, BrokenResourcesStopTheProgram) {
    testing::FLAGS_gtest_death_test_style = "threadsafe";
    write("Prompts/online-v2.txt", "two\n");

    EXPECT_DEATH((void)Prompt::currentLocal(),
                 "No loadable correction prompt resource exists for use case: local");
    EXPECT_DEATH((void)Prompt::resolved(UseCase::local, {{"QN_LOCAL_PROMPT_VERSION", "local-v1"}}),
                 "No loadable correction prompt resource exists for use case: local");
    EXPECT_DEATH((void)Prompt::onlineV1.text(),
                 "No loadable correction prompt resource exists for use case: online");
    EXPECT_DEATH((void)Prompt::loadText("custom-prompt"),
                 "Missing correction prompt resource: custom-prompt[.]txt");

    write("Prompts/local-v1.txt", "ok\xff\xfe\n");
    EXPECT_DEATH((void)Prompt::localV1.text(),
                 "Unable to load correction prompt resource local-v1[.]txt: .*UTF-8");
    fs::create_directories(root_ / "Prompts" / "local-v3.txt");
    EXPECT_DEATH((void)Prompt::localV3.text(),
                 "Unable to load correction prompt resource local-v3[.]txt: Is a directory");
}

}  // namespace
}  // namespace ravlin

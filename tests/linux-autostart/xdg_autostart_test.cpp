#include "platform/linux/xdg_autostart_login_item.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "app/preferences/launch_at_login_store.h"

namespace ravlin::platform {
namespace {

namespace fs = std::filesystem;

class XdgAutostart : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "ravlin-autostart.XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        root_ = pattern;
    }
    void TearDown() override {
        std::error_code ignored;
        fs::permissions(root_, fs::perms::owner_all, ignored);
        fs::remove_all(root_, ignored);
    }

    [[nodiscard]] XdgAutostartLoginItem item(
        std::optional<fs::path> executable = fs::path("/opt/ravlin/bin/ravlin")) const {
        return XdgAutostartLoginItem(root_ / "autostart", [executable] { return executable; });
    }
    [[nodiscard]] static std::string contents(const fs::path& path) {
        std::ifstream file(path);
        std::stringstream text;
        text << file.rdbuf();
        return text.str();
    }

    fs::path root_;
};

TEST_F(XdgAutostart, RegisterWritesAnEntryThatUnregisterRemoves) {
    auto login = item();
    EXPECT_EQ(login.status(), LoginItemStatus::notRegistered);

    ASSERT_TRUE(login.registerItem().ok());
    EXPECT_EQ(login.status(), LoginItemStatus::enabled);
    const std::string entry = contents(login.entryPath());
    EXPECT_EQ(login.entryPath(), root_ / "autostart" / "ravlin.desktop");
    EXPECT_NE(entry.find("[Desktop Entry]\nType=Application\n"), std::string::npos);
    EXPECT_NE(entry.find("\nExec=/opt/ravlin/bin/ravlin\n"), std::string::npos);
    // No temporary file is left beside it.
    EXPECT_EQ(std::distance(fs::directory_iterator(root_ / "autostart"), {}), 1);

    ASSERT_TRUE(login.unregisterItem().ok());
    EXPECT_EQ(login.status(), LoginItemStatus::notRegistered);
    EXPECT_TRUE(login.unregisterItem().ok());
}

TEST_F(XdgAutostart, AnEntryHiddenOrSwitchedOffIsNotRegistered) {
    auto login = item();
    for (const char* line : {"Hidden=true", "X-GNOME-Autostart-enabled=false"}) {
        fs::create_directories(root_ / "autostart");
        std::ofstream(login.entryPath()) << "[Desktop Entry]\nType=Application\n" << line << "\n";
        EXPECT_EQ(login.status(), LoginItemStatus::notRegistered) << line;
    }
}

TEST_F(XdgAutostart, WithoutItsOwnPathTheProgramIsNotFound) {
    auto login = item(std::nullopt);
    EXPECT_EQ(login.status(), LoginItemStatus::notFound);
    EXPECT_FALSE(login.registerItem().ok());
    EXPECT_FALSE(fs::exists(login.entryPath()));
}

TEST_F(XdgAutostart, TheFolderFollowsXdgConfigHomeElseHome) {
    ASSERT_EQ(::setenv("XDG_CONFIG_HOME", root_.c_str(), 1), 0);
    EXPECT_EQ(XdgAutostartLoginItem::standardFolder(), root_ / "autostart");
    ASSERT_EQ(::setenv("XDG_CONFIG_HOME", "relative/ignored", 1), 0);
    ASSERT_EQ(::setenv("HOME", root_.c_str(), 1), 0);
    EXPECT_EQ(XdgAutostartLoginItem::standardFolder(), root_ / ".config" / "autostart");
}

TEST(XdgAutostartExec, QuotesPathsByTheDesktopEntryRules) {
    const struct {
        const char* path;
        const char* exec;
    } cases[] = {
        {"/usr/bin/ravlin", "/usr/bin/ravlin"},
        {"/home/a b/ravlin", R"("/home/a b/ravlin")"},
        // Inside quotes: \" \` \$ \\, then every backslash doubled for the string value.
        {R"(/x/"q"$`\)", R"("/x/\\"q\\"\\$\\`\\\\")"},
        {"/x/100%/ravlin", "/x/100%%/ravlin"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(XdgAutostartLoginItem::execLine(c.path), c.exec) << c.path;
    }
}

TEST_F(XdgAutostart, AnUnwritableFolderLeavesTheEntryAndTheStoreSaysWhy) {
    if (::geteuid() == 0) {
        // root writes through permissions: make the folder a file instead.
        std::ofstream(root_ / "autostart") << "not a folder";
    } else {
        fs::create_directories(root_ / "autostart");
        fs::permissions(root_ / "autostart", fs::perms::owner_read | fs::perms::owner_exec);
    }
    const auto login = std::make_shared<XdgAutostartLoginItem>(item());
    QNStoreLaunchAtLogin store(login);
    store.setEnabled(true);
    EXPECT_EQ(store.status().get(), LoginItemStatus::notRegistered);
    ASSERT_TRUE(store.errorMessage().get().has_value());
    EXPECT_EQ(store.errorMessage().get()->rfind("Could not update Launch at Login. ", 0), 0U);
    EXPECT_NE(store.errorMessage().get()->find("autostart"), std::string::npos);
}

}  // namespace
}  // namespace ravlin::platform

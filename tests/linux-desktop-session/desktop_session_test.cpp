// The desktop session's readers without an X server: the XSETTINGS data reader, and GNOME's
// interface settings through GSettings (in memory, never the user's).

#include <gio/gio.h>
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <utility>

#include "platform/linux/desktop/linux_desktop_session.h"
#include "platform/linux/desktop/xsettings.h"
#include "tests/support/xsettings_data.h"

namespace ravlin::platform {
namespace {

using testing::XSetting;
using testing::XSettingsColor;
using testing::xsettingsData;

// Before anything asks GSettings for a backend.
[[maybe_unused]] const int memoryBackend = setenv("GSETTINGS_BACKEND", "memory", 1);

constexpr const char* kAnimations = "Net/EnableAnimations";

TEST(XSettings, FindsTheIntegerPastEveryKindOfRecordInEitherByteOrder) {
    const std::vector<XSetting> settings{
        {"Net/ThemeName", std::string("Adwaita")},
        {"Gtk/CursorThemeColor", XSettingsColor{1, 2, 3, 4}},
        {"Xft/DPI", std::int32_t{98304}},
        {kAnimations, std::int32_t{0}},
        {"Net/IconThemeName", std::string("gnome")},
    };
    for (const bool big : {false, true}) {
        const auto data = xsettingsData(settings, big);
        EXPECT_EQ(xsettings::integer(data, kAnimations), 0) << big;
        EXPECT_EQ(xsettings::integer(data, "Xft/DPI"), 98304) << big;
        // Not an integer, or not there.
        EXPECT_EQ(xsettings::integer(data, "Net/ThemeName"), std::nullopt) << big;
        EXPECT_EQ(xsettings::integer(data, "Net/Missing"), std::nullopt) << big;
    }
    EXPECT_EQ(xsettings::integer(xsettingsData({{kAnimations, std::int32_t{-1}}}), kAnimations),
              -1);
}

TEST(XSettings, ReadsNothingBeyondTheData) {
    const auto whole = xsettingsData({{"Net/ThemeName", std::string("Adwaita")},
                                      {kAnimations, std::int32_t{1}}});
    // Cut anywhere before the value's last byte: nothing, and no read past the end.
    for (std::size_t length = 0; length < whole.size(); ++length) {
        const std::vector<std::uint8_t> cut(whole.begin(), whole.begin() + long(length));
        EXPECT_EQ(xsettings::integer(cut, kAnimations), std::nullopt) << length;
    }
    EXPECT_EQ(xsettings::integer(whole, kAnimations), 1);

    struct Case {
        const char* name;
        std::size_t offset;  // of the byte changed
        std::uint8_t value;
        const char* sought;
        std::optional<std::int32_t> found;
    };
    // Header (12 bytes), then the string record: type, pad, name length (2), name (13 + 3),
    // last change (4), value length (4).
    for (const auto& c : {
             Case{"no records", 8, 0, kAnimations, std::nullopt},
             Case{"a count far beyond the records", 8, 0xFF, "Net/Missing", std::nullopt},
             Case{"the same, the integer before the end", 8, 0xFF, kAnimations, 1},
             Case{"an unknown record type", 12, 9, kAnimations, std::nullopt},
             Case{"a name longer than the data", 14, 0xFF, kAnimations, std::nullopt},
             Case{"a string longer than the data", 36, 0xFF, kAnimations, std::nullopt},
         }) {
        auto broken = whole;
        broken[c.offset] = c.value;
        EXPECT_EQ(xsettings::integer(broken, c.sought), c.found) << c.name;
    }
}

TEST(GnomeInterface, AnimationsAndAccessibilityGoThroughItsSettings) {
    GSettings* settings = g_settings_new("org.gnome.desktop.interface");
    ASSERT_NE(settings, nullptr);
    LinuxDesktopSession session(nullptr);
    for (const bool enabled : {true, false, true}) {
        g_settings_set_boolean(settings, "enable-animations", enabled ? TRUE : FALSE);
        EXPECT_EQ(session.reducesAnimations(), !enabled);
    }
    g_settings_set_boolean(settings, "toolkit-accessibility", FALSE);
    EXPECT_TRUE(session.switchAccessibilityOn());
    EXPECT_TRUE(g_settings_get_boolean(settings, "toolkit-accessibility"));
    // No display: no compositor to ask about, nothing to keep on every desktop.
    EXPECT_FALSE(session.hasCompositor());
    session.showOnEveryDesktop(42);
    g_object_unref(settings);
}

// Outside a session nothing announces a bus: no bus is found (nor launched), whatever is at the
// runtime folder's "bus" that is no socket.
TEST(SessionBus, WithoutAnAnnouncedBusThereIsNone) {
    const auto saved = [](const char* name) {
        const char* value = std::getenv(name);
        return value != nullptr ? std::optional<std::string>(value) : std::nullopt;
    };
    const auto address = saved("DBUS_SESSION_BUS_ADDRESS");
    const auto runtime = saved("XDG_RUNTIME_DIR");
    char folder[] = "/tmp/ravlin-bus-XXXXXX";
    ASSERT_NE(::mkdtemp(folder), nullptr);
    const std::string bus = std::string(folder) + "/bus";
    unsetenv("DBUS_SESSION_BUS_ADDRESS");
    for (const bool file : {false, true}) {
        SCOPED_TRACE(file ? "a plain file named bus" : "nothing named bus");
        if (file) {
            std::FILE* made = std::fopen(bus.c_str(), "w");
            ASSERT_NE(made, nullptr);
            std::fclose(made);
        }
        setenv("XDG_RUNTIME_DIR", folder, 1);
        EXPECT_FALSE(LinuxDesktopSession(nullptr).hasSessionBus());
        unsetenv("XDG_RUNTIME_DIR");
        EXPECT_FALSE(LinuxDesktopSession(nullptr).hasSessionBus());
    }
    std::remove(bus.c_str());
    ::rmdir(folder);
    for (const auto& [name, value] : {std::pair{"DBUS_SESSION_BUS_ADDRESS", address},
                                      std::pair{"XDG_RUNTIME_DIR", runtime}}) {
        if (value) {
            setenv(name, value->c_str(), 1);
        }
    }
}

}  // namespace
}  // namespace ravlin::platform

// The settings file and its lock on disk: only regular files are read and written. Anything
// else there is left exactly as it is, never waited on, and the table goes on in memory with the
// reason said once.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <cstdlib>
#include <functional>
#include <iostream>
#include <map>

#include "app/preferences/defaults.h"
#include "tests/support/file_entries.h"
#include "tests/support/random_bytes.h"

namespace ravlin {
namespace {

using testing::FileEntry;
using testing::fileEntryAt;

std::string text(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll().toStdString() : std::string("<none>");
}

void put(const QString& path, const QByteArray& content) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(content);
}

// A folder of the test's own with the settings file's name in it.
struct Scratch {
    QTemporaryDir folder;
    QString ini = folder.filePath("ravlin.ini");
    QString lock = ini + ".lock";
    [[nodiscard]] std::string at(const char* name) const {
        return folder.filePath(QString::fromLatin1(name)).toStdString();
    }
    // Every entry of the folder, by name.
    [[nodiscard]] std::map<std::string, std::optional<FileEntry>> entries() const {
        std::map<std::string, std::optional<FileEntry>> all;
        for (const auto& name : QDir(folder.path())
                                    .entryList(QDir::AllEntries | QDir::System | QDir::Hidden |
                                               QDir::NoDotAndDotDot)) {
            all[name.toStdString()] = fileEntryAt(folder.filePath(name).toStdString());
        }
        return all;
    }
};

TEST(SettingsFile, WhatIsNoRegularFileIsLeftAloneAndTheTableLivesInMemory) {
    const struct {
        const char* name;
        const char* why;  // in the reason, after the path named
        std::function<void(Scratch&)> arrange;
        bool afterStart = false;  // put there while the program runs, before its first write
    } cases[] = {
        {"FIFO at the file", "ravlin.ini is a FIFO, not a regular file",
         [](Scratch& t) { ASSERT_EQ(::mkfifo(t.at("ravlin.ini").c_str(), 0600), 0); }},
        {"FIFO at the lock", "ravlin.ini.lock is a FIFO, not a regular file",
         [](Scratch& t) { ASSERT_EQ(::mkfifo(t.at("ravlin.ini.lock").c_str(), 0600), 0); }},
        {"FIFO at the lock before the first write", "ravlin.ini.lock is a FIFO",
         [](Scratch& t) { ASSERT_EQ(::mkfifo(t.at("ravlin.ini.lock").c_str(), 0600), 0); }, true},
        {"link to a device", "ravlin.ini is a link to ",
         [](Scratch& t) {
             const auto made = testing::makeDeviceOrFifo(t.at("zero"));
             ASSERT_TRUE(made.has_value());
             if (*made != "character device") {
                 std::cout << "mknod refused: a FIFO stands in for the device\n";
             }
             ASSERT_EQ(::symlink(t.at("zero").c_str(), t.at("ravlin.ini").c_str()), 0);
         }},
        {"link to a FIFO", "ravlin.ini is a link to ",
         [](Scratch& t) {
             ASSERT_EQ(::mkfifo(t.at("pipe").c_str(), 0600), 0);
             ASSERT_EQ(::symlink("pipe", t.at("ravlin.ini").c_str()), 0);
         }},
        {"lock linked to a FIFO", "ravlin.ini.lock is a link to ",
         [](Scratch& t) {
             ASSERT_EQ(::mkfifo(t.at("pipe").c_str(), 0600), 0);
             ASSERT_EQ(::symlink("pipe", t.at("ravlin.ini.lock").c_str()), 0);
         }},
        {"folder at the file", "ravlin.ini is a folder, not a regular file",
         [](Scratch& t) { ASSERT_TRUE(QDir(t.folder.path()).mkdir("ravlin.ini")); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Scratch test;
        ASSERT_TRUE(test.folder.isValid());
        std::map<std::string, std::optional<FileEntry>> before;
        std::optional<QSettingsDefaults> defaults;
        if (c.afterStart) {
            defaults.emplace(test.ini);
            EXPECT_FALSE(defaults->saveProblem().get().has_value());
        }
        c.arrange(test);
        before = test.entries();
        if (!c.afterStart) {
            defaults.emplace(test.ini);
        }
        int told = 0;
        const auto counting = defaults->saveProblem().observe([&told](const auto&) { ++told; });

        defaults->set("HotKey.keyCode", std::int64_t{40});
        defaults->set("OnlineCorrection.model", std::string("m"));
        defaults->remove("OnlineCorrection.model");
        EXPECT_EQ(defaults->integerValue("HotKey.keyCode"), 40);
        EXPECT_FALSE(defaults->contains("OnlineCorrection.model"));
        const auto problem = defaults->saveProblem().get().value_or("");
        EXPECT_EQ(problem.rfind("Settings cannot be saved: " + test.folder.path().toStdString(), 0),
                  0U)
            << problem;
        EXPECT_NE(problem.find(c.why), std::string::npos) << problem;
        EXPECT_LE(told, 1);
        defaults.reset();
        EXPECT_EQ(test.entries(), before);
    }
}

TEST(SettingsFile, ALinkToARegularFileIsWrittenThroughAndStaysALink) {
    Scratch scratch;
    const QString& ini = scratch.ini;
    ASSERT_TRUE(QDir(scratch.folder.path()).mkpath("dotfiles"));
    const QString target = scratch.folder.filePath("dotfiles/ravlin.ini");
    put(target, "[General]\nOther=kept\n");
    ASSERT_EQ(::chmod(target.toLocal8Bit().constData(), 0640), 0);
    ASSERT_EQ(::symlink("dotfiles/ravlin.ini", ini.toLocal8Bit().constData()), 0);
    {
        QSettingsDefaults defaults(ini);
        defaults.set("HotKey.keyCode", std::int64_t{40});
        EXPECT_FALSE(defaults.saveProblem().get().has_value());
    }
    const auto link = fileEntryAt(ini.toStdString());
    ASSERT_TRUE(link && S_ISLNK(link->mode));
    EXPECT_EQ(link->link, "dotfiles/ravlin.ini");
    const auto written = fileEntryAt(target.toStdString());
    ASSERT_TRUE(written && S_ISREG(written->mode));
    EXPECT_EQ(written->mode & 07777, 0640U);
    EXPECT_NE(text(target).find("HotKey.keyCode=40"), std::string::npos) << text(target);
    EXPECT_NE(text(target).find("Other=kept"), std::string::npos);
    EXPECT_EQ(QDir(scratch.folder.filePath("dotfiles")).entryList(QDir::Files).size(), 1);
    EXPECT_EQ(QSettingsDefaults(ini).integerValue("HotKey.keyCode"), 40);
}

TEST(SettingsFile, AWriteKeepsWhatAnotherProgramChangedMeanwhile) {
    Scratch scratch;
    const QString& ini = scratch.ini;
    QSettingsDefaults mine(ini);
    mine.set("HotKey.keyCode", std::int64_t{40});
    QSettingsDefaults(ini).set("DoubleTap.keyCode", std::int64_t{49});
    mine.set("QuickFix.keyCode", std::int64_t{61});
    const QSettingsDefaults later(ini);
    EXPECT_EQ(later.integerValue("HotKey.keyCode"), 40);
    EXPECT_EQ(later.integerValue("DoubleTap.keyCode"), 49);
    EXPECT_EQ(later.integerValue("QuickFix.keyCode"), 61);
    EXPECT_FALSE(QFile::exists(scratch.lock));
}

TEST(SettingsFile, AFileThatCannotBeReadIsNeverWrittenOver) {
    Scratch scratch;
    const QString& ini = scratch.ini;
    const QByteArray huge = "[General]\nHotKey.keyCode=40\n" + QByteArray(2 << 20, ';');
    put(ini, huge);
    const auto before = fileEntryAt(ini.toStdString());
    {
        QSettingsDefaults defaults(ini);
        EXPECT_FALSE(defaults.contains("HotKey.keyCode"));
        defaults.set("DoubleTap.keyCode", std::int64_t{49});
        EXPECT_EQ(defaults.integerValue("DoubleTap.keyCode"), 49);
        EXPECT_NE(defaults.saveProblem().get().value_or("").find("larger than 1 MiB"),
                  std::string::npos);
    }
    EXPECT_EQ(fileEntryAt(ini.toStdString()), before);
    EXPECT_EQ(QFile(ini).size(), huge.size());
}

// A file of random bytes (or anything else that is no INI text) is not the person's settings:
// the program runs on its defaults, says so once, and never writes the file over.
TEST(SettingsFile, AFileThatIsNoSettingsTextIsLeftAsItIs) {
    const QByteArray random = testing::randomBytes(4096, 0x2545F491);
    const struct {
        const char* name;
        QByteArray content;
    } files[] = {
        {"random bytes", random},
        {"text that is no INI", "HotKey.keyCode=40\nthis line says nothing\n"},
        {"a NUL inside", QByteArray("[General]\nHotKey.keyCode=40\0\n", 29)},
        {"not UTF-8", "[General]\nname=\xff\xfe\n"},
    };
    for (const auto& file : files) {
        SCOPED_TRACE(file.name);
        Scratch scratch;
        put(scratch.ini, file.content);
        {
            QSettingsDefaults defaults(scratch.ini);
            EXPECT_FALSE(defaults.contains("HotKey.keyCode"));
            defaults.set("DoubleTap.keyCode", std::int64_t{49});
            EXPECT_EQ(defaults.integerValue("DoubleTap.keyCode"), 49);
            EXPECT_EQ(defaults.saveProblem().get(),
                      "Settings cannot be saved: " + scratch.ini.toStdString() +
                          " is not a settings file Ravlin understands; it is left as it is; using "
                          "the defaults until Ravlin quits");
        }
        QFile read(scratch.ini);
        ASSERT_TRUE(read.open(QIODevice::ReadOnly));
        EXPECT_EQ(read.readAll(), file.content);
    }
    // What the program and a person write reads as its own: comments, sections, escaped keys.
    Scratch scratch;
    put(scratch.ini, "; mine\n# also mine\n\n[General]\nHotKey.keyCode=40\r\n"
                     "CustomCorrectionPrompt.local.prompt=\"a\\nb = c\"\n%U2318=1\n");
    QSettingsDefaults defaults(scratch.ini);
    EXPECT_EQ(defaults.integerValue("HotKey.keyCode"), 40);
    EXPECT_EQ(defaults.saveProblem().get(), std::nullopt);
}

// Replaced by random bytes while the program runs, the file is left as it is at the next change,
// which lasts in memory; the reason is said once.
TEST(SettingsFile, AFileReplacedByNoSettingsTextWhileRunningIsLeftAsItIs) {
    Scratch scratch;
    QSettingsDefaults defaults(scratch.ini);
    int told = 0;
    const auto counting = defaults.saveProblem().observe([&told](const auto&) { ++told; });
    defaults.set("HotKey.keyCode", std::int64_t{40});
    const QByteArray random = testing::randomBytes(4096, 0x9E3779B9);
    put(scratch.ini, random);

    defaults.set("DoubleTap.keyCode", std::int64_t{49});
    defaults.set("QuickFix.keyCode", std::int64_t{61});
    EXPECT_EQ(defaults.integerValue("HotKey.keyCode"), 40);
    EXPECT_EQ(defaults.integerValue("QuickFix.keyCode"), 61);
    EXPECT_EQ(defaults.saveProblem().get(),
              "Settings cannot be saved: " + scratch.ini.toStdString() +
                  " is not a settings file Ravlin understands; it is left as it is; changes last "
                  "until Ravlin quits");
    EXPECT_EQ(told, 1);
    QFile read(scratch.ini);
    ASSERT_TRUE(read.open(QIODevice::ReadOnly));
    EXPECT_EQ(read.readAll(), random);
}

// Sets an environment variable (or removes it) for a scope.
class EnvironmentOverride {
  public:
    EnvironmentOverride(const char* name, const std::optional<std::string>& value) : name_(name) {
        if (const char* old = std::getenv(name)) {
            old_ = old;
        }
        value ? ::setenv(name, value->c_str(), 1) : ::unsetenv(name);
    }
    ~EnvironmentOverride() { old_ ? ::setenv(name_, old_->c_str(), 1) : ::unsetenv(name_); }
    EnvironmentOverride(const EnvironmentOverride&) = delete;
    EnvironmentOverride& operator=(const EnvironmentOverride&) = delete;

  private:
    const char* name_;
    std::optional<std::string> old_;
};

TEST(SettingsFile, WithoutAPrivateFolderTheTableLivesInMemoryAndNothingIsWritten) {
    Scratch scratch;
    put(scratch.ini, "[General]\nHotKey.keyCode=40\n");
    const auto before = scratch.entries();
    {
        const EnvironmentOverride runtime("XDG_RUNTIME_DIR", std::nullopt);
        const EnvironmentOverride temporary("TMPDIR", scratch.at("missing"));
        QSettingsDefaults defaults(scratch.ini);
        EXPECT_FALSE(defaults.contains("HotKey.keyCode"));
        defaults.set("DoubleTap.keyCode", std::int64_t{49});
        EXPECT_EQ(defaults.integerValue("DoubleTap.keyCode"), 49);
        EXPECT_NE(defaults.saveProblem().get().value_or("").find("no private folder"),
                  std::string::npos);
    }
    EXPECT_EQ(scratch.entries(), before);
}

}  // namespace
}  // namespace ravlin

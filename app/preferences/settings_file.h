#pragma once

// The settings file on disk, and its lock beside it (the path with ".lock" added), touched only
// where that cannot hang the program or harm anything else: each is read or written only when
// it is, after following symbolic links, a regular file or absent. A FIFO, a device, a socket or
// a folder there (or a link to one) is never opened for reading or writing, never replaced and
// never waited on; the caller hears why, in words for a person.
//
// Reading takes at most maxBytes. Writing puts the new content into a new file in the folder of
// the link's final target and renames it over that target, so a link to the file (a dotfile
// manager's) stays a link and its target gets the content; the target keeps its permission bits
// and owner. Writing holds the lock for the length of the write and gives up at once when
// another process holds it.

#include <sys/types.h>

#include <QByteArray>
#include <optional>
#include <string>
#include <variant>

namespace ravlin {

// What a file's mode says it is, for a person: "a regular file", "a link", "a FIFO", "a folder".
[[nodiscard]] const char* kindOf(mode_t mode);
// Nothing when `path`, after following links, is a regular file or absent; else why not, as
// "/x/ravlin.ini is a FIFO, not a regular file".
[[nodiscard]] std::optional<std::string> regularFileProblem(const std::string& path);
// What `path` holds when it is, after following links, a regular file: at most `limit` + 1
// bytes (the one over tells a longer file), empty when there is no file; else why not. Never
// waits on what another program put there.
[[nodiscard]] std::variant<QByteArray, std::string> readRegularFile(const std::string& path,
                                                                    qsizetype limit);

class SettingsFile {
  public:
    static constexpr qsizetype maxBytes = 1 << 20;

    explicit SettingsFile(std::string path);

    [[nodiscard]] const std::string& path() const { return path_; }
    [[nodiscard]] std::string lockPath() const { return path_ + ".lock"; }

    // The file's content (empty when there is no file), or why it cannot be read.
    [[nodiscard]] std::variant<QByteArray, std::string> read() const;
    // Why the lock could not be used, if it could not.
    [[nodiscard]] std::optional<std::string> lockProblem() const;
    // Replaces the content; nothing when it is on disk, else why not.
    [[nodiscard]] std::optional<std::string> write(const QByteArray& content) const;

  private:
    std::string path_;
};

}  // namespace ravlin

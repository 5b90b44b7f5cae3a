#pragma once

// Where the prompt texts come from. The shipped texts are compiled into the library at build
// time (every core/resources/prompts/*.txt, under the subdirectory "Prompts"), so an installed
// program always has them; a bundle backed by a directory lets tests lay out resources of their
// own (missing ones, ones at the top level, unreadable ones).

#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace ravlin {

// Where a bundle found a resource: a path that means something to that bundle.
struct QNPromptResourceLocation {
    std::string path;

    friend bool operator==(const QNPromptResourceLocation&,
                           const QNPromptResourceLocation&) = default;
};

class QNPromptResourceBundle {
  public:
    virtual ~QNPromptResourceBundle() = default;

    // The resource `name`.`extension` in `subdirectory` (the top level when it is empty), or
    // none when the bundle has no such resource.
    [[nodiscard]] virtual std::optional<QNPromptResourceLocation> url(
        std::string_view name, std::string_view extension, std::string_view subdirectory) const = 0;

    // The whole resource as bytes; none when it cannot be read, with `error` saying why.
    [[nodiscard]] virtual std::optional<std::string> contents(
        const QNPromptResourceLocation& location, std::string& error) const = 0;
};

// The texts compiled into the library.
[[nodiscard]] std::shared_ptr<const QNPromptResourceBundle> embeddedPromptBundle();
// Resources read from a directory: `root`/`subdirectory`/`name`.`extension`.
[[nodiscard]] std::shared_ptr<const QNPromptResourceBundle> directoryPromptBundle(
    std::filesystem::path root);

// The bundle the prompt catalogue reads: the embedded one unless replaced. Thread-safe.
[[nodiscard]] std::shared_ptr<const QNPromptResourceBundle> promptResourceBundle();
// Replaces the bundle the catalogue reads; nullptr restores the embedded one.
void setPromptResourceBundle(std::shared_ptr<const QNPromptResourceBundle> bundle);

namespace detail {

struct EmbeddedPromptResource {
    std::string_view path;   // "Prompts/<file name>"
    std::string_view bytes;  // the file's bytes, unchanged
};

// Defined by the source file the build generates from core/resources/prompts/*.txt.
[[nodiscard]] std::span<const EmbeddedPromptResource> embeddedPromptResources();

}  // namespace detail

}  // namespace ravlin

#pragma once

// Replacing a file's content so that a reader sees either the old content or the new, never a
// part: the new content goes into a new file beside it, which is then renamed over it (a link
// standing at the name is replaced by the file, so callers that must keep a link pass the
// link's target).

#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace ravlin::process {

struct ReplaceFileFailure {
    // Where it failed: the new file could not be made (the folder's trouble), or a later step
    // failed (the file's); or `refusal` from the caller's last check.
    bool creating = false;
    int error = 0;  // errno, when not refused
    std::optional<std::string> refusal;
};

struct ReplaceFileSteps {
    // Run on the new file's descriptor before anything is written (its mode, its owner): an
    // errno to give up with, 0 to go on.
    std::function<int(int descriptor)> prepare;
    // Run once the new file is complete, just before the rename: a reason to give up.
    std::function<std::optional<std::string>()> beforeRename;
};

// Makes the new file from `temporaryTemplate` (its name ending in "XXXXXX", in the folder of
// `path`), writes `content` whole (an interrupted write goes on), flushes it to the disk, closes
// it and renames it to `path`. On any failure the new file is removed and `path` is untouched.
[[nodiscard]] std::optional<ReplaceFileFailure> replaceFileByRename(const std::string& path,
                                                                    std::string temporaryTemplate,
                                                                    std::string_view content,
                                                                    const ReplaceFileSteps& steps);

}  // namespace ravlin::process

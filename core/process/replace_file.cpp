#include "core/process/replace_file.h"

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cerrno>

#include "core/process/unique_fd.h"

namespace ravlin::process {

std::optional<ReplaceFileFailure> replaceFileByRename(const std::string& path,
                                                      std::string temporaryTemplate,
                                                      std::string_view content,
                                                      const ReplaceFileSteps& steps) {
    UniqueFd file(::mkostemp(temporaryTemplate.data(), O_CLOEXEC));
    if (!file) {
        return ReplaceFileFailure{.creating = true, .error = errno};
    }
    const auto fail = [&](int error, std::optional<std::string> refusal = std::nullopt) {
        file.reset();
        ::unlink(temporaryTemplate.c_str());
        return ReplaceFileFailure{.error = error, .refusal = std::move(refusal)};
    };
    if (steps.prepare) {
        if (const int error = steps.prepare(file.get()); error != 0) {
            return fail(error);
        }
    }
    for (std::size_t written = 0; written < content.size();) {
        const ssize_t put = ::write(file.get(), content.data() + written, content.size() - written);
        if (put < 0 && errno == EINTR) {
            continue;
        }
        if (put < 0) {
            return fail(errno);
        }
        written += static_cast<std::size_t>(put);
    }
    if (::fsync(file.get()) != 0) {
        return fail(errno);
    }
    if (::close(file.release()) != 0) {
        return fail(errno);
    }
    if (steps.beforeRename) {
        if (auto refusal = steps.beforeRename()) {
            return fail(0, std::move(refusal));
        }
    }
    if (::rename(temporaryTemplate.c_str(), path.c_str()) != 0) {
        return fail(errno);
    }
    return std::nullopt;
}

}  // namespace ravlin::process

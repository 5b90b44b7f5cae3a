#include "core/records/prompt_locator.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <mutex>
#include <system_error>
#include <utility>

namespace ravlin {
namespace {

std::string resourcePath(std::string_view name, std::string_view extension,
                         std::string_view subdirectory) {
    std::string path;
    if (!subdirectory.empty()) {
        path.append(subdirectory);
        path.push_back('/');
    }
    path.append(name);
    if (!extension.empty()) {
        path.push_back('.');
        path.append(extension);
    }
    return path;
}

class EmbeddedBundle final : public QNPromptResourceBundle {
  public:
    std::optional<QNPromptResourceLocation> url(std::string_view name, std::string_view extension,
                                                std::string_view subdirectory) const override {
        std::string path = resourcePath(name, extension, subdirectory);
        if (find(path) == nullptr) {
            return std::nullopt;
        }
        return QNPromptResourceLocation{std::move(path)};
    }

    std::optional<std::string> contents(const QNPromptResourceLocation& location,
                                        std::string& error) const override {
        if (const auto* resource = find(location.path)) {
            return std::string(resource->bytes);
        }
        error = "no embedded resource at " + location.path;
        return std::nullopt;
    }

  private:
    static const detail::EmbeddedPromptResource* find(std::string_view path) {
        for (const auto& resource : detail::embeddedPromptResources()) {
            if (resource.path == path) {
                return &resource;
            }
        }
        return nullptr;
    }
};

class DirectoryBundle final : public QNPromptResourceBundle {
  public:
    explicit DirectoryBundle(std::filesystem::path root) : root_(std::move(root)) {}

    std::optional<QNPromptResourceLocation> url(std::string_view name, std::string_view extension,
                                                std::string_view subdirectory) const override {
        std::filesystem::path path = root_ / resourcePath(name, extension, subdirectory);
        std::error_code error;
        if (!std::filesystem::exists(path, error)) {
            return std::nullopt;
        }
        return QNPromptResourceLocation{path.string()};
    }

    std::optional<std::string> contents(const QNPromptResourceLocation& location,
                                        std::string& error) const override {
        const int fd = ::open(location.path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) {
            error = std::strerror(errno);
            return std::nullopt;
        }
        std::string bytes;
        char buffer[8192];
        while (true) {
            const ssize_t count = ::read(fd, buffer, sizeof buffer);
            if (count < 0) {
                if (errno == EINTR) {
                    continue;
                }
                error = std::strerror(errno);
                ::close(fd);
                return std::nullopt;
            }
            if (count == 0) {
                break;
            }
            bytes.append(buffer, static_cast<std::size_t>(count));
        }
        ::close(fd);
        return bytes;
    }

  private:
    std::filesystem::path root_;
};

struct BundleSlot {
    std::mutex mutex;
    std::shared_ptr<const QNPromptResourceBundle> bundle;
};

BundleSlot& bundleSlot() {
    static BundleSlot slot;
    return slot;
}

}  // namespace

std::shared_ptr<const QNPromptResourceBundle> embeddedPromptBundle() {
    static const auto bundle = std::make_shared<const EmbeddedBundle>();
    return bundle;
}

std::shared_ptr<const QNPromptResourceBundle> directoryPromptBundle(std::filesystem::path root) {
    return std::make_shared<const DirectoryBundle>(std::move(root));
}

std::shared_ptr<const QNPromptResourceBundle> promptResourceBundle() {
    BundleSlot& slot = bundleSlot();
    std::lock_guard lock(slot.mutex);
    return slot.bundle ? slot.bundle : embeddedPromptBundle();
}

void setPromptResourceBundle(std::shared_ptr<const QNPromptResourceBundle> bundle) {
    BundleSlot& slot = bundleSlot();
    std::lock_guard lock(slot.mutex);
    slot.bundle = std::move(bundle);
}

}  // namespace ravlin

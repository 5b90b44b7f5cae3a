#include "platform/linux/secret_service_keychain.h"

#include <libsecret/secret.h>

#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

namespace ravlin::platform {
namespace {

const SecretSchema* schema() {
    static const SecretSchema value = [] {
        SecretSchema made{};
        made.name = "io.quen.ravlin.Password";
        made.flags = SECRET_SCHEMA_NONE;
        made.attributes[0] = {"service", SECRET_SCHEMA_ATTRIBUTE_STRING};
        made.attributes[1] = {"account", SECRET_SCHEMA_ATTRIBUTE_STRING};
        return made;
    }();
    return &value;
}

// Cancels a GCancellable when the time limit passes before the call it guards returns.
class Deadline {
  public:
    explicit Deadline(std::chrono::milliseconds limit) : cancellable_(g_cancellable_new()) {
        watcher_ = std::thread([this, limit] {
            std::unique_lock lock(mutex_);
            if (!done_.wait_for(lock, limit, [this] { return finished_; })) {
                g_cancellable_cancel(cancellable_);
            }
        });
    }
    ~Deadline() {
        {
            std::lock_guard lock(mutex_);
            finished_ = true;
        }
        done_.notify_one();
        watcher_.join();
        g_object_unref(cancellable_);
    }
    Deadline(const Deadline&) = delete;
    Deadline& operator=(const Deadline&) = delete;

    [[nodiscard]] GCancellable* cancellable() const { return cancellable_; }

  private:
    GCancellable* cancellable_;
    std::mutex mutex_;
    std::condition_variable done_;
    bool finished_ = false;
    std::thread watcher_;
};

// The GError as a failure (freed here). A D-Bus error means no keyring answers; a cancelled
// call is one that did not answer in time (a prompt nobody can see, a hung daemon).
Error failure(GError* error, const char* what) {
    Error result{ErrorCode::failed, what};
    if (error == nullptr) {
        return result;
    }
    if (g_error_matches(error, G_IO_ERROR, G_IO_ERROR_CANCELLED)) {
        result.message += ": the keyring did not answer in time";
    } else {
        result.message += ": ";
        result.message += error->message;
        if (error->domain == G_DBUS_ERROR) {
            result.code = ErrorCode::unavailable;
        }
    }
    g_error_free(error);
    return result;
}

std::string label(std::string_view service, std::string_view account) {
    return "Ravlin (" + std::string(account) + " for " + std::string(service) + ")";
}

}  // namespace

SecretServiceKeychain::SecretServiceKeychain(std::chrono::milliseconds timeLimit)
    : timeLimit_(timeLimit) {}

bool SecretServiceKeychain::isAvailable() {
    const Deadline deadline(timeLimit_);
    GError* error = nullptr;
    SecretService* service =
        secret_service_get_sync(SECRET_SERVICE_OPEN_SESSION, deadline.cancellable(), &error);
    if (service == nullptr) {
        if (error != nullptr) {
            g_error_free(error);
        }
        return false;
    }
    g_object_unref(service);
    return true;
}

Expected<std::optional<std::string>> SecretServiceKeychain::readPassword(std::string_view service,
                                                                         std::string_view account) {
    const std::string serviceText(service);
    const std::string accountText(account);
    const Deadline deadline(timeLimit_);
    GError* error = nullptr;
    gchar* secret =
        secret_password_lookup_sync(schema(), deadline.cancellable(), &error, "service",
                                    serviceText.c_str(), "account", accountText.c_str(), nullptr);
    if (error != nullptr) {
        if (secret != nullptr) {
            secret_password_free(secret);
        }
        return failure(error, "reading from the keyring failed");
    }
    if (secret == nullptr) {
        return std::optional<std::string>();
    }
    std::optional<std::string> value(secret);
    secret_password_free(secret);
    return value;
}

Status SecretServiceKeychain::replacePassword(std::string_view service, std::string_view account,
                                              std::string_view secret) {
    const std::string serviceText(service);
    const std::string accountText(account);
    const std::string secretText(secret);
    const Deadline deadline(timeLimit_);
    GError* error = nullptr;
    const gboolean stored = secret_password_store_sync(
        schema(), SECRET_COLLECTION_DEFAULT, label(service, account).c_str(), secretText.c_str(),
        deadline.cancellable(), &error, "service", serviceText.c_str(), "account",
        accountText.c_str(), nullptr);
    if (!stored || error != nullptr) {
        return failure(error, "storing in the keyring failed");
    }
    return {};
}

Status SecretServiceKeychain::deletePassword(std::string_view service, std::string_view account) {
    const std::string serviceText(service);
    const std::string accountText(account);
    const Deadline deadline(timeLimit_);
    GError* error = nullptr;
    // False without an error: there was nothing to remove.
    secret_password_clear_sync(schema(), deadline.cancellable(), &error, "service",
                               serviceText.c_str(), "account", accountText.c_str(), nullptr);
    if (error != nullptr) {
        return failure(error, "removing from the keyring failed");
    }
    return {};
}

}  // namespace ravlin::platform

#pragma once

// The program's update check. It stands where a self-updating framework would, and does only
// what the rest of the program asks of one: start, say whether a check can start now, keep the
// automatic-check setting, check on demand and once a day while automatic checks are on.
//
// A check is one GET of the feed named by the build setting "RavlinUpdateFeedURL" (the environment
// variable RAVLIN_UPDATE_FEED_URL stands in when the build names none) over the core's HTTP client, on the work runner, stopped after 30 s or when the updater goes. The
// newest release of the feed (update_feed.h) is compared with this copy's version and the answer
// shown in a small window: up to date, a newer version with a button that opens its page, or the
// failure in words. A scheduled check shows its window only for a newer version. Downloading and
// installing are left to the desktop's package manager.
//
// `canCheckForUpdates` is true once started, with a feed configured and no check running;
// observers hear every change of it and of the automatic-check setting, on the main sequence.
// The setting is stored under "Updates.automaticallyChecksForUpdates" (off unless set), the time
// of the last check under "Updates.lastCheckTime" (seconds since 1970), and the next automatic
// check falls a day after it.

#include <QPointer>
#include <QWidget>
#include <chrono>
#include <functional>
#include <memory>
#include <stop_token>
#include <string>
#include <string_view>

#include "app/preferences/build_config.h"
#include "app/preferences/defaults.h"
#include "app/shell/update_feed.h"
#include "core/net/http_client.h"
#include "core/support/executor.h"
#include "core/support/observable.h"
#include "platform/workspace.h"

class QLabel;
class QPushButton;

namespace ravlin {

// The answer of one check, as the window shows it.
struct QNUpdateCheckResult {
    enum class Kind { upToDate, newerVersion, failed };
    Kind kind = Kind::failed;
    std::string ourVersion;
    // For `upToDate` and `newerVersion`: the feed's newest release.
    QNUpdateFeedItem newest;
    // For `failed`: what went wrong, in words.
    std::string failure;
};

// The small window a check answers in.
class QNWindowUpdateResult final : public QWidget {
  public:
    explicit QNWindowUpdateResult(std::shared_ptr<platform::Workspace> workspace);

    void present(const QNUpdateCheckResult& result);

    [[nodiscard]] QString title() const;
    [[nodiscard]] QString message() const;
    // Shown only for a newer version with a link.
    [[nodiscard]] QPushButton* openButton() const { return openButton_; }
    [[nodiscard]] QPushButton* closeButton() const { return closeButton_; }

  private:
    std::shared_ptr<platform::Workspace> workspace_;
    std::string link_;
    QLabel* title_ = nullptr;
    QLabel* message_ = nullptr;
    QPushButton* openButton_ = nullptr;
    QPushButton* closeButton_ = nullptr;
};

class QNControllerUpdater {
  public:
    static constexpr std::string_view automaticChecksKey = "Updates.automaticallyChecksForUpdates";
    static constexpr std::string_view lastCheckTimeKey = "Updates.lastCheckTime";
    static constexpr std::string_view feedURLSetting = "RavlinUpdateFeedURL";
    static constexpr std::string_view feedURLVariable = "RAVLIN_UPDATE_FEED_URL";
    static constexpr std::chrono::hours checkInterval{24};

    using WallClock = std::function<std::chrono::system_clock::time_point()>;

    struct Dependencies {
        std::shared_ptr<Executor> executor;
        std::shared_ptr<WorkRunner> workRunner;
        std::shared_ptr<Defaults> defaults;
        std::shared_ptr<const net::HttpClient> httpClient;
        std::shared_ptr<platform::Workspace> workspace;
        QNConfigBuild buildConfig{{}};
        // Read for the feed's address when the build names none.
        EnvironmentSnapshot environment;
        // The calendar time the last check is stored in; the system's when empty.
        WallClock wallClock;
        // For the whole request, the body included.
        std::chrono::milliseconds timeout = std::chrono::seconds(30);
    };

    explicit QNControllerUpdater(Dependencies dependencies);
    // Stops a running check; its answer is dropped.
    ~QNControllerUpdater();
    QNControllerUpdater(const QNControllerUpdater&) = delete;
    QNControllerUpdater& operator=(const QNControllerUpdater&) = delete;

    // Allows checks and, while automatic checks are on, schedules the next one. Once.
    void startUpdater();
    [[nodiscard]] bool isStarted() const { return started_; }
    [[nodiscard]] bool canCheckForUpdates() const { return canCheck_.get(); }
    [[nodiscard]] bool automaticallyChecksForUpdates() const { return automaticChecks_.get(); }
    void setAutomaticallyChecksForUpdates(bool enabled);
    // A check the person asked for: its window shows whatever it finds. Nothing while
    // canCheckForUpdates is false.
    void checkForUpdates();

    Subscription observeCanCheckForUpdates(std::function<void(const bool&)> observer) const {
        return canCheck_.observe(std::move(observer));
    }
    Subscription observeAutomaticallyChecksForUpdates(
        std::function<void(const bool&)> observer) const {
        return automaticChecks_.observe(std::move(observer));
    }

    // The feed's address: the build's, else the environment's; nothing when neither names one.
    [[nodiscard]] const std::optional<std::string>& feedURL() const { return feedURL_; }
    // This copy's version: "CFBundleShortVersionString", else "0".
    [[nodiscard]] const std::string& ourVersion() const { return ourVersion_; }
    // The answer window, once a check has shown it.
    [[nodiscard]] QNWindowUpdateResult* resultWindow() const { return window_; }

  private:
    void startCheck(bool scheduled);
    void finishCheck(bool scheduled, QNUpdateCheckResult result);
    void scheduleNextCheck();
    void cancelScheduledCheck();
    void updateCanCheck();
    [[nodiscard]] std::optional<std::chrono::system_clock::time_point> lastCheckTime() const;
    [[nodiscard]] std::chrono::system_clock::time_point wallNow() const;

    Dependencies dependencies_;
    std::optional<std::string> feedURL_;
    std::string ourVersion_;
    bool started_ = false;
    bool checking_ = false;
    Observable<bool> canCheck_{false};
    Observable<bool> automaticChecks_{false};
    Executor::TaskID scheduledCheck_ = 0;
    std::stop_source stop_;
    // Answers posted back check this before touching the updater.
    std::shared_ptr<char> lifetime_ = std::make_shared<char>();
    QPointer<QNWindowUpdateResult> window_;
};

// What one check does off the main sequence: GET `url` within `timeout`, read at most
// maximumFeedBytes and compare the newest release with `ourVersion`.
[[nodiscard]] QNUpdateCheckResult fetchUpdateCheck(const net::HttpClient& client,
                                                   const std::string& url,
                                                   const std::string& ourVersion,
                                                   std::chrono::milliseconds timeout,
                                                   std::stop_token stop);

}  // namespace ravlin

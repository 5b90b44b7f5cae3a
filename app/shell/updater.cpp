#include "app/shell/updater.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>

#include "app/support/desktop_wording.h"
#include "app/support/dialog_keys.h"
#include "core/text/unicode.h"

namespace ravlin {
namespace {

QString wording(std::string_view text) {
    return QString::fromStdString(forThisDesktop(text));
}

QNUpdateCheckResult failed(std::string ourVersion, std::string failure) {
    return {.kind = QNUpdateCheckResult::Kind::failed,
            .ourVersion = std::move(ourVersion),
            .failure = std::move(failure)};
}

std::string describe(const net::HttpError& error) {
    switch (error.kind) {
        case net::HttpError::Kind::cancelled:
            return "The update check was stopped.";
        case net::HttpError::Kind::timedOut:
            return "The update server did not answer in time.";
        case net::HttpError::Kind::unsupportedURL:
            return "The update feed's address cannot be used (" + error.description + ").";
        case net::HttpError::Kind::network:
            break;
    }
    return "The update server could not be reached: " + error.description;
}

// The build's feed wins; a value blank once trimmed counts as none wherever it comes from.
std::optional<std::string> feedURLOf(const QNConfigBuild& build,
                                     const EnvironmentSnapshot& environment) {
    if (auto fromBuild = build.infoPlistString(QNControllerUpdater::feedURLSetting)) {
        return fromBuild;
    }
    const auto found = environment.find(std::string(QNControllerUpdater::feedURLVariable));
    if (found == environment.end()) {
        return std::nullopt;
    }
    return text::trimmedNonEmpty(std::string_view(found->second));
}

}  // namespace

QNUpdateCheckResult fetchUpdateCheck(const net::HttpClient& client, const std::string& url,
                                     const std::string& ourVersion,
                                     std::chrono::milliseconds timeout, std::stop_token stop) {
    const Instant deadline = std::chrono::steady_clock::now() + timeout;
    net::HttpRequest request{
        .method = "GET",
        .url = url,
        .headers = {{"Accept", "application/rss+xml, application/xml, text/xml"}},
        .timeout = timeout,
    };
    auto opened = client.open(request, std::move(stop));
    if (!opened.response) {
        return failed(ourVersion, describe(opened.error));
    }
    auto& response = *opened.response;
    if (!response.isSuccess()) {
        return failed(ourVersion, "The update server answered with HTTP " +
                                      std::to_string(response.status()) + ".");
    }
    const auto body = response.readPrefix(maximumFeedBytes + 1, deadline);
    if (body.error) {
        return failed(ourVersion, describe(*body.error));
    }
    const auto reading = readUpdateFeed(body.bytes);
    if (!reading.newest) {
        return failed(ourVersion, reading.failure);
    }
    const bool newer =
        !isVersionText(ourVersion) || compareVersions(reading.newest->version, ourVersion) > 0;
    return {.kind = newer ? QNUpdateCheckResult::Kind::newerVersion
                          : QNUpdateCheckResult::Kind::upToDate,
            .ourVersion = ourVersion,
            .newest = *reading.newest};
}

// --- The answer window

QNWindowUpdateResult::QNWindowUpdateResult(std::shared_ptr<platform::Workspace> workspace)
    : QWidget(nullptr, Qt::Dialog), workspace_(std::move(workspace)) {
    setWindowTitle(wording("Software Update"));
    setAttribute(Qt::WA_DeleteOnClose);
    title_ = new QLabel;
    QFont font = title_->font();
    font.setBold(true);
    title_->setFont(font);
    message_ = new QLabel;
    message_->setWordWrap(true);
    message_->setTextFormat(Qt::PlainText);
    openButton_ = new QPushButton(wording("Open Release Page"));
    closeButton_ = new QPushButton(wording("OK"));
    connect(closeButton_, &QPushButton::clicked, this, &QWidget::close);
    connect(openButton_, &QPushButton::clicked, this, [this] {
        if (workspace_->openURL(link_)) {
            close();
        } else {
            message_->setText(wording("The release page could not be opened."));
        }
    });

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(openButton_);
    buttons->addWidget(closeButton_);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(20, 18, 20, 14);
    layout->addWidget(title_);
    layout->addWidget(message_);
    layout->addSpacing(6);
    layout->addLayout(buttons);
    answerDialogKeys(*this, closeButton_);
    setFixedWidth(380);
}

void QNWindowUpdateResult::present(const QNUpdateCheckResult& result) {
    link_.clear();
    switch (result.kind) {
        case QNUpdateCheckResult::Kind::upToDate:
            title_->setText(wording("You're up to date"));
            message_->setText(
                wording("Ravlin " + result.ourVersion + " is the newest version available."));
            break;
        case QNUpdateCheckResult::Kind::newerVersion:
            link_ = result.newest.link;
            title_->setText(wording("A new version of Ravlin is available"));
            message_->setText(wording("Ravlin " + result.newest.version +
                                      " is available; you have " + result.ourVersion +
                                      ". Install it with your package manager."));
            break;
        case QNUpdateCheckResult::Kind::failed:
            title_->setText(wording("Update check failed"));
            message_->setText(QString::fromStdString(result.failure));
            break;
    }
    openButton_->setVisible(!link_.empty());
}

QString QNWindowUpdateResult::title() const {
    return title_->text();
}

QString QNWindowUpdateResult::message() const {
    return message_->text();
}

// --- The updater

QNControllerUpdater::QNControllerUpdater(Dependencies dependencies)
    : dependencies_(std::move(dependencies)),
      feedURL_(feedURLOf(dependencies_.buildConfig, dependencies_.environment)),
      ourVersion_(
          dependencies_.buildConfig.infoPlistString("CFBundleShortVersionString").value_or("0")),
      automaticChecks_(dependencies_.defaults->boolValue(automaticChecksKey).value_or(false)) {
    if (!dependencies_.wallClock) {
        dependencies_.wallClock = [] { return std::chrono::system_clock::now(); };
    }
}

QNControllerUpdater::~QNControllerUpdater() {
    stop_.request_stop();
    cancelScheduledCheck();
    delete window_.data();
}

void QNControllerUpdater::startUpdater() {
    if (started_) {
        return;
    }
    started_ = true;
    updateCanCheck();
    scheduleNextCheck();
}

void QNControllerUpdater::setAutomaticallyChecksForUpdates(bool enabled) {
    if (dependencies_.defaults->boolValue(automaticChecksKey) != enabled) {
        dependencies_.defaults->set(automaticChecksKey, enabled);
    }
    automaticChecks_.set(enabled);
    scheduleNextCheck();
}

void QNControllerUpdater::checkForUpdates() {
    if (canCheckForUpdates()) {
        startCheck(false);
    }
}

void QNControllerUpdater::startCheck(bool scheduled) {
    checking_ = true;
    updateCanCheck();
    const auto seconds =
        std::chrono::duration_cast<std::chrono::seconds>(wallNow().time_since_epoch());
    dependencies_.defaults->set(lastCheckTimeKey, static_cast<std::int64_t>(seconds.count()));
    scheduleNextCheck();

    dependencies_.workRunner->run(
        [this, weak = std::weak_ptr<char>(lifetime_), executor = dependencies_.executor,
         client = dependencies_.httpClient, url = *feedURL_, version = ourVersion_,
         timeout = dependencies_.timeout, stop = stop_.get_token(), scheduled] {
            auto result = fetchUpdateCheck(*client, url, version, timeout, stop);
            executor->post([this, weak, scheduled, result = std::move(result)]() mutable {
                if (!weak.expired()) {
                    finishCheck(scheduled, std::move(result));
                }
            });
        });
}

void QNControllerUpdater::finishCheck(bool scheduled, QNUpdateCheckResult result) {
    checking_ = false;
    updateCanCheck();
    if (scheduled && result.kind != QNUpdateCheckResult::Kind::newerVersion) {
        return;
    }
    if (!window_) {
        window_ = new QNWindowUpdateResult(dependencies_.workspace);
    }
    window_->present(result);
    window_->show();
    window_->raise();
    window_->activateWindow();
}

void QNControllerUpdater::scheduleNextCheck() {
    cancelScheduledCheck();
    if (!started_ || !automaticChecks_.get() || !feedURL_) {
        return;
    }
    auto delay = std::chrono::duration_cast<std::chrono::nanoseconds>(checkInterval);
    if (const auto last = lastCheckTime()) {
        // A last check in the future (the calendar was set back) counts as one just now.
        delay = std::clamp<std::chrono::nanoseconds>(*last + checkInterval - wallNow(),
                                                     std::chrono::nanoseconds::zero(), delay);
    } else {
        delay = std::chrono::nanoseconds::zero();
    }
    scheduledCheck_ =
        dependencies_.executor->postAfter(delay, [this, weak = std::weak_ptr<char>(lifetime_)] {
            if (weak.expired()) {
                return;
            }
            scheduledCheck_ = 0;
            if (canCheckForUpdates()) {
                startCheck(true);
            }
        });
}

void QNControllerUpdater::cancelScheduledCheck() {
    if (scheduledCheck_ != 0) {
        dependencies_.executor->cancel(std::exchange(scheduledCheck_, 0));
    }
}

void QNControllerUpdater::updateCanCheck() {
    canCheck_.set(started_ && feedURL_.has_value() && !checking_);
}

std::optional<std::chrono::system_clock::time_point> QNControllerUpdater::lastCheckTime() const {
    const auto seconds = dependencies_.defaults->integerValue(lastCheckTimeKey);
    if (!seconds) {
        return std::nullopt;
    }
    return std::chrono::system_clock::time_point(std::chrono::seconds(*seconds));
}

std::chrono::system_clock::time_point QNControllerUpdater::wallNow() const {
    return dependencies_.wallClock();
}

}  // namespace ravlin

#include "app/log/log_window.h"

#include <QCloseEvent>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace ravlin {
namespace {

template <class Entries>
std::optional<Uuid> firstID(const Entries& entries) {
    return entries.empty() ? std::nullopt : std::optional(entries.front().id);
}

}  // namespace

QNControllerLogWindow& QNControllerLogWindow::shared() {
    static auto* controller = new QNControllerLogWindow();
    return *controller;
}

void QNControllerLogWindow::show(std::shared_ptr<QNLoggerEvent> logger,
                                 std::shared_ptr<platform::Pasteboard> pasteboard) {
    if (!window_) {
        window_ = new QNViewLogWindow();
    }
    logger->startCapturing();
    window_->attach(std::move(logger), std::move(pasteboard));
    window_->show();
    window_->raise();
    window_->activateWindow();
}

QNViewLogWindow::QNViewLogWindow() {
    setWindowTitle(QStringLiteral("Session Log"));
    resize(760, 520);
    text_ = new QPlainTextEdit(this);
    text_->setReadOnly(true);
    text_->setLineWrapMode(QPlainTextEdit::NoWrap);
    text_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    exportButton_ = new QPushButton(QStringLiteral("Export"), this);
    connect(exportButton_, &QPushButton::clicked, this, [this] { exportVisibleText(); });

    auto* buttons = new QHBoxLayout();
    buttons->addStretch();
    buttons->addWidget(exportButton_);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(text_);
    layout->addLayout(buttons);
}

QNViewLogWindow::~QNViewLogWindow() = default;

void QNViewLogWindow::attach(std::shared_ptr<QNLoggerEvent> logger,
                             std::shared_ptr<platform::Pasteboard> pasteboard) {
    logger_ = std::move(logger);
    pasteboard_ = std::move(pasteboard);
    watching_ = logger_->observeChanges([this] { onLoggerChanged(); });
    renderAll();
}

QString QNViewLogWindow::visibleText() const {
    return text_->toPlainText();
}

void QNViewLogWindow::exportVisibleText() {
    if (!pasteboard_) {
        return;
    }
    pasteboard_->clear();
    (void)pasteboard_->setString(visibleText().toStdU16String());
}

void QNViewLogWindow::renderAll() {
    QStringList lines;
    for (const auto& issue : logger_->recentIssues()) {
        lines << QString::fromStdString(issue.line());
    }
    for (const auto& entry : logger_->entries()) {
        lines << QString::fromStdString(entry.line());
    }
    text_->setPlainText(lines.join(QLatin1Char('\n')));
    shownIssues_ = logger_->recentIssues().size();
    shownEntries_ = logger_->entries().size();
    firstIssue_ = firstID(logger_->recentIssues());
    firstEntry_ = firstID(logger_->entries());
}

void QNViewLogWindow::onLoggerChanged() {
    const auto& issues = logger_->recentIssues();
    const auto& entries = logger_->entries();
    const bool onlyNewEntries = issues.size() == shownIssues_ && firstID(issues) == firstIssue_ &&
                                entries.size() > shownEntries_ &&
                                (shownEntries_ == 0 || firstID(entries) == firstEntry_);
    if (!onlyNewEntries) {
        renderAll();
        return;
    }
    const bool wasEmpty = shownIssues_ == 0 && shownEntries_ == 0;
    for (std::size_t index = shownEntries_; index < entries.size(); ++index) {
        const QString line = QString::fromStdString(entries[index].line());
        if (wasEmpty && index == shownEntries_) {
            text_->setPlainText(line);
        } else {
            text_->appendPlainText(line);
        }
    }
    shownEntries_ = entries.size();
    firstEntry_ = firstID(entries);
}

void QNViewLogWindow::closeEvent(QCloseEvent* event) {
    watching_.reset();
    if (logger_) {
        logger_->stopCapturing();
    }
    QWidget::closeEvent(event);
}

}  // namespace ravlin

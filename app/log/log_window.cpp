#include "app/log/log_window.h"

#include <QCloseEvent>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextBlock>
#include <QTextCursor>
#include <QVBoxLayout>
#include <algorithm>

#include "app/support/dialog_keys.h"

namespace ravlin {
namespace {

template <class Entries>
std::optional<Uuid> firstID(const Entries& entries) {
    return entries.empty() ? std::nullopt : std::optional(entries.front().id);
}

// Lines the text of one entry takes on screen.
int blockCount(const std::string& line) {
    return 1 + static_cast<int>(std::count(line.begin(), line.end(), '\n'));
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
    text_->setAccessibleName(QStringLiteral("Session log"));
    text_->setLineWrapMode(QPlainTextEdit::NoWrap);
    text_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    exportButton_ = new QPushButton(QStringLiteral("Export"), this);
    connect(exportButton_, &QPushButton::clicked, this, [this] { exportVisibleText(); });
    exportStatus_ = new QLabel(this);
    exportStatus_->setObjectName(QStringLiteral("exportStatus"));

    auto* buttons = new QHBoxLayout();
    buttons->addWidget(exportStatus_, 1);
    buttons->addWidget(exportButton_);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(text_);
    layout->addLayout(buttons);
    answerDialogKeys(*this, exportButton_);
}

QNViewLogWindow::~QNViewLogWindow() = default;

void QNViewLogWindow::attach(std::shared_ptr<QNLoggerEvent> logger,
                             std::shared_ptr<platform::Pasteboard> pasteboard) {
    logger_ = std::move(logger);
    pasteboard_ = std::move(pasteboard);
    exportStatus_->clear();
    watching_ = logger_->observeChanges([this] { onLoggerChanged(); });
    renderAll();
}

QString QNViewLogWindow::visibleText() const {
    return text_->toPlainText();
}

QString QNViewLogWindow::exportStatus() const {
    return exportStatus_->text();
}

void QNViewLogWindow::exportVisibleText() {
    const QString text = visibleText();
    // An empty log has nothing to give: the person's clipboard stays theirs.
    if (text.isEmpty()) {
        exportStatus_->setText(QStringLiteral("Nothing to copy: the log is empty."));
        return;
    }
    if (!pasteboard_) {
        exportStatus_->setText(QStringLiteral("Could not copy: there is no clipboard here."));
        return;
    }
    pasteboard_->clear();
    if (const auto written = pasteboard_->setString(text.toStdU16String()); !written) {
        exportStatus_->setText(QStringLiteral("Could not copy the log to the clipboard."));
        return;
    }
    const auto lines = text.count(QLatin1Char('\n')) + 1;
    exportStatus_->setText(lines == 1 ? QStringLiteral("Copied 1 line to the clipboard.")
                                      : QStringLiteral("Copied %1 lines to the clipboard.")
                                            .arg(lines));
}

void QNViewLogWindow::renderAll() {
    QStringList lines;
    issueBlocks_ = 0;
    for (const auto& issue : logger_->recentIssues()) {
        const std::string line = issue.line();
        issueBlocks_ += blockCount(line);
        lines << QString::fromStdString(line);
    }
    entryBlocks_.clear();
    for (const auto& entry : logger_->entries()) {
        const std::string line = entry.line();
        entryBlocks_.push_back(blockCount(line));
        lines << QString::fromStdString(line);
    }
    text_->setPlainText(lines.join(QLatin1Char('\n')));
    shownIssues_ = logger_->recentIssues().size();
    firstIssue_ = firstID(logger_->recentIssues());
    shownAppended_ = logger_->entriesAppended();
}

void QNViewLogWindow::onLoggerChanged() {
    const auto& issues = logger_->recentIssues();
    const auto& entries = logger_->entries();
    const std::uint64_t added = logger_->entriesAppended() - shownAppended_;
    const std::uint64_t kept = entryBlocks_.size() + added;
    const bool issuesSame = issues.size() == shownIssues_ && firstID(issues) == firstIssue_;
    if (!issuesSame || added == 0 || kept < entries.size() || added > entries.size()) {
        renderAll();
        return;
    }
    // Entries dropped from the front since the last look leave the screen first.
    int droppedBlocks = 0;
    for (std::uint64_t dropped = kept - entries.size(); dropped > 0; --dropped) {
        droppedBlocks += entryBlocks_.front();
        entryBlocks_.pop_front();
    }
    if (droppedBlocks > 0) {
        QTextCursor cursor(text_->document());
        cursor.movePosition(QTextCursor::Start);
        cursor.movePosition(QTextCursor::NextBlock, QTextCursor::MoveAnchor, issueBlocks_);
        cursor.movePosition(QTextCursor::NextBlock, QTextCursor::KeepAnchor, droppedBlocks);
        cursor.removeSelectedText();
    }
    const bool wasEmpty = issueBlocks_ == 0 && entryBlocks_.empty();
    for (std::size_t index = entries.size() - added; index < entries.size(); ++index) {
        const std::string line = entries[index].line();
        entryBlocks_.push_back(blockCount(line));
        if (wasEmpty && index == entries.size() - added) {
            text_->setPlainText(QString::fromStdString(line));
        } else {
            text_->appendPlainText(QString::fromStdString(line));
        }
    }
    shownAppended_ = logger_->entriesAppended();
}

void QNViewLogWindow::closeEvent(QCloseEvent* event) {
    watching_.reset();
    if (logger_) {
        logger_->stopCapturing();
    }
    QWidget::closeEvent(event);
}

}  // namespace ravlin

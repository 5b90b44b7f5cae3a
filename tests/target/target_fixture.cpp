#include "tests/target/target_fixture.h"

namespace ravlin::testing {
namespace {

QCoro::Task<> keepBool(QCoro::Task<bool> task, std::shared_ptr<std::optional<bool>> into) {
    *into = co_await std::move(task);
}

QCoro::Task<> keepPasteResult(QCoro::Task<QNPasteOutcome> task,
                              std::shared_ptr<std::optional<QNPasteOutcome>> into) {
    *into = co_await std::move(task);
}

QCoro::Task<> keepSaved(QCoro::Task<QNModelPasteboardSnapshot> task,
                        std::shared_ptr<std::optional<QNModelPasteboardSnapshot>> into) {
    *into = co_await std::move(task);
}

QCoro::Task<> keepSnapshot(QCoro::Task<QNModelFocusSnapshot> task,
                           std::shared_ptr<std::optional<QNModelFocusSnapshot>> into) {
    *into = co_await std::move(task);
}

QCoro::Task<> keepText(QCoro::Task<std::optional<std::u16string>> task,
                       std::shared_ptr<std::optional<std::optional<std::u16string>>> into) {
    *into = co_await std::move(task);
}

QCoro::Task<> keepSession(
    QCoro::Task<std::optional<QNQuickFixHostSession>> task,
    std::shared_ptr<std::optional<std::optional<QNQuickFixHostSession>>> into) {
    *into = co_await std::move(task);
}

QCoro::Task<> keepCount(QCoro::Task<std::size_t> task,
                        std::shared_ptr<std::optional<std::size_t>> into) {
    *into = co_await std::move(task);
}

QCoro::Task<> keepCommit(QCoro::Task<QNQuickFixCommitResult> task,
                         std::shared_ptr<std::optional<QNQuickFixCommitResult>> into) {
    *into = co_await std::move(task);
}

}  // namespace

std::shared_ptr<std::optional<QNModelPasteboardSnapshot>> start(
    QCoro::Task<QNModelPasteboardSnapshot> task) {
    auto result = std::make_shared<std::optional<QNModelPasteboardSnapshot>>();
    keepSaved(std::move(task), result);
    return result;
}

std::shared_ptr<std::optional<QNModelFocusSnapshot>> start(QCoro::Task<QNModelFocusSnapshot> task) {
    auto result = std::make_shared<std::optional<QNModelFocusSnapshot>>();
    keepSnapshot(std::move(task), result);
    return result;
}

std::shared_ptr<std::optional<std::optional<std::u16string>>> start(
    QCoro::Task<std::optional<std::u16string>> task) {
    auto result = std::make_shared<std::optional<std::optional<std::u16string>>>();
    keepText(std::move(task), result);
    return result;
}

std::shared_ptr<std::optional<std::optional<QNQuickFixHostSession>>> start(
    QCoro::Task<std::optional<QNQuickFixHostSession>> task) {
    auto result = std::make_shared<std::optional<std::optional<QNQuickFixHostSession>>>();
    keepSession(std::move(task), result);
    return result;
}

std::shared_ptr<std::optional<QNQuickFixCommitResult>> start(
    QCoro::Task<QNQuickFixCommitResult> task) {
    auto result = std::make_shared<std::optional<QNQuickFixCommitResult>>();
    keepCommit(std::move(task), result);
    return result;
}

std::shared_ptr<std::optional<bool>> start(QCoro::Task<bool> task) {
    auto result = std::make_shared<std::optional<bool>>();
    keepBool(std::move(task), result);
    return result;
}

std::shared_ptr<std::optional<QNPasteOutcome>> start(QCoro::Task<QNPasteOutcome> task) {
    auto result = std::make_shared<std::optional<QNPasteOutcome>>();
    keepPasteResult(std::move(task), result);
    return result;
}

std::shared_ptr<std::optional<std::size_t>> start(QCoro::Task<std::size_t> task) {
    auto result = std::make_shared<std::optional<std::size_t>>();
    keepCount(std::move(task), result);
    return result;
}

}  // namespace ravlin::testing

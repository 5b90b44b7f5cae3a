#include "tests/target/target_fixture.h"

namespace ravlin::testing {
namespace {

QCoro::Task<> keepBool(QCoro::Task<bool> task, std::shared_ptr<std::optional<bool>> into) {
    *into = co_await std::move(task);
}

QCoro::Task<> keepPasteResult(QCoro::Task<QNPasteResult> task,
                              std::shared_ptr<std::optional<QNPasteResult>> into) {
    *into = co_await std::move(task);
}

}  // namespace

std::shared_ptr<std::optional<bool>> start(QCoro::Task<bool> task) {
    auto result = std::make_shared<std::optional<bool>>();
    keepBool(std::move(task), result);
    return result;
}

std::shared_ptr<std::optional<QNPasteResult>> start(QCoro::Task<QNPasteResult> task) {
    auto result = std::make_shared<std::optional<QNPasteResult>>();
    keepPasteResult(std::move(task), result);
    return result;
}

}  // namespace ravlin::testing

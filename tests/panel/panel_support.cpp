#include "panel_support.h"

#include <gtest/gtest.h>

namespace ravlin::testing_panel {
namespace {

// Gone before the program's exit handlers run: Qt's own globals must outlive it.
class ApplicationEnvironment final : public ::testing::Environment {
  public:
    void SetUp() override {
        static int argc = 1;
        static char name[] = "tests_panel";
        static char* argv[] = {name, nullptr};
        app = std::make_unique<QApplication>(argc, argv);
    }
    void TearDown() override { app.reset(); }
    std::unique_ptr<QApplication> app;
};
[[maybe_unused]] auto* const environment =
    ::testing::AddGlobalTestEnvironment(new ApplicationEnvironment);

}  // namespace

void ensureApplication() {}

}  // namespace ravlin::testing_panel

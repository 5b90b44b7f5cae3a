#include "panel_support.h"

#include <gtest/gtest.h>

#include "tests/support/qt_application.h"

namespace ravlin::testing_panel {
namespace {

[[maybe_unused]] auto* const qtApplication = testing::addQtApplication("tests_panel");

}  // namespace

void ensureApplication() {}

}  // namespace ravlin::testing_panel

#pragma once

// One QApplication for a widget suite: made before its first test and destroyed after its last,
// before the program's exit handlers run (Qt's own globals must outlive it). Widget suites run
// off screen (ctest sets QT_QPA_PLATFORM).

#include <gtest/gtest.h>

#include <QApplication>
#include <memory>

namespace ravlin::testing {

class QtApplicationEnvironment final : public ::testing::Environment {
  public:
    explicit QtApplicationEnvironment(const char* name) : name_(name) {}
    void SetUp() override {
        static int argc = 1;
        static char* argv[] = {const_cast<char*>(name_), nullptr};
        app_ = std::make_unique<QApplication>(argc, argv);
    }
    void TearDown() override { app_.reset(); }

  private:
    const char* name_;
    std::unique_ptr<QApplication> app_;
};

// Registers the suite's application; use at namespace scope:
//   [[maybe_unused]] auto* const qtApplication = addQtApplication("tests_editor");
inline ::testing::Environment* addQtApplication(const char* name) {
    return ::testing::AddGlobalTestEnvironment(new QtApplicationEnvironment(name));
}

}  // namespace ravlin::testing

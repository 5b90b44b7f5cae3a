#pragma once

// The clipboard suites' fixture: borrows go into the GTK target's line field, which each test
// leaves with its first text again (the suite knows it by that).

#include <gtest/gtest.h>

#include "desktop_fixture.h"

namespace ravlin::testing {

class LineFieldTest : public ::testing::Test {
  protected:
    Desktop& desktop = Desktop::get();
    TargetSeams seams = TargetSeams::from(desktop.seams, desktop.executor);

    // The GTK target in front, its line field holding "start end" with "end" selected.
    platform::RunningApplication focusField() {
        field_ = desktop.focus(*desktop.gtk, QStringLiteral("line"));
        EXPECT_TRUE(field_);
        EXPECT_TRUE(desktop.gtk->command(QStringLiteral("text line start end")));
        EXPECT_TRUE(desktop.gtk->command(QStringLiteral("select 6 9")));
        const auto front = desktop.seams.workspace->frontmostApplication();
        EXPECT_TRUE(front);
        return front.value_or(platform::RunningApplication{});
    }
    std::u16string fieldText() { return desktop.value(field_); }
    void TearDown() override {
        if (field_) {
            (void)desktop.seams.accessibility->setAttribute(
                field_, platform::ax::value,
                platform::AttributeValue(std::u16string(u"h\u00e9llo \U0001F600 w\u00f6rld teh")));
        }
    }

  private:
    platform::ElementRef field_;
};

}  // namespace ravlin::testing

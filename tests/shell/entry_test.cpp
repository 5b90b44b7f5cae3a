#include <gtest/gtest.h>

#include "app/shell/program.h"

namespace ravlin {
namespace {

TEST(Entry, OnlyTheExactValueOneMeansPreviews) {
    struct Case {
        std::optional<std::string> value;
        bool previews;
    };
    for (const auto& c :
         {Case{"1", true}, Case{std::nullopt, false}, Case{"0", false}, Case{"true", false},
          Case{"", false}, Case{" 1", false}, Case{"1 ", false}, Case{"11", false}}) {
        EnvironmentSnapshot environment{{"HOME", "/home/someone"}};
        if (c.value) {
            environment["XCODE_RUNNING_FOR_PREVIEWS"] = *c.value;
        }
        EXPECT_EQ(isRunningForPreviews(environment), c.previews) << c.value.value_or("(none)");
    }
}

}  // namespace
}  // namespace ravlin

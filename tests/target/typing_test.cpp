// A text typed where the desktop has only a few keys to type characters with, each free again a
// moment after it went out (X11's borrowed keycodes): it goes in parts, the flow waiting between
// them on the sequence (a suspension, not a sleep); it stops where the target leaves the front or
// the flow is stopped.

#include <gtest/gtest.h>

#include <algorithm>

#include "app/target/target_seams.h"
#include "tests/target/target_fixture.h"

namespace ravlin::testing {
namespace {

// `keys` keys to type characters with (the test's texts are one unit a character), each busy
// for 300 ms after its character went out; a text longer than the free keys is refused.
class FewTypingKeys final : public platform::KeySynthesis {
  public:
    FewTypingKeys(std::shared_ptr<platform::KeySynthesis> inner,
                  std::shared_ptr<ManualExecutor> executor, std::size_t keys)
        : inner_(std::move(inner)), executor_(std::move(executor)), busyUntil_(keys) {}

    platform::Status postKeyDown(platform::KeyChord chord) override {
        return inner_->postKeyDown(chord);
    }
    platform::Status postKeyUp(platform::KeyChord chord) override {
        return inner_->postKeyUp(chord);
    }
    platform::Status postText(std::u16string_view text) override {
        if (text.size() > freeKeys()) {
            return platform::Error{platform::ErrorCode::failed, "no keys free"};
        }
        std::size_t taken = 0;
        for (auto& until : busyUntil_) {
            if (taken < text.size() && until <= executor_->now()) {
                until = executor_->now() + std::chrono::milliseconds(300);
                ++taken;
            }
        }
        return inner_->postText(text);
    }
    TextRoom textRoom(std::u16string_view text) override {
        const auto free = std::min(freeKeys(), text.size());
        if (free == text.size()) {
            return {free, {}};
        }
        return {free, *std::ranges::min_element(busyUntil_) - executor_->now()};
    }

  private:
    std::size_t freeKeys() const {
        return static_cast<std::size_t>(std::ranges::count_if(
            busyUntil_, [this](Instant until) { return until <= executor_->now(); }));
    }

    std::shared_ptr<platform::KeySynthesis> inner_;
    std::shared_ptr<ManualExecutor> executor_;
    std::vector<Instant> busyUntil_;
};

struct TypingTest : ::testing::Test, TargetFixture {};

TEST_F(TypingTest, ALongTextGoesInPartsAsKeysComeFreeWhileTheProgramGoesOn) {
    struct Case {
        const char* name;
        std::optional<std::chrono::milliseconds> leaveAt, stopAt;
        std::vector<std::u16string> parts;
        std::size_t typed;
    };
    for (const Case& c : {
             Case{"typed whole", {}, {}, {u"ab", u"cd", u"e"}, 5},
             Case{"the target leaves the front", 100ms, {}, {u"ab"}, 2},
             Case{"stopped", {}, 100ms, {u"ab"}, 2},
         }) {
        SCOPED_TRACE(c.name);
        desktop.focus(desktop.addElement(window, {}));
        desktop.setFrontmost(editorPid);
        auto typingSeams = seams();
        typingSeams.keySynthesis =
            std::make_shared<FewTypingKeys>(fakeSeams.keySynthesis, executor, 2);
        std::stop_source stop;
        if (c.leaveAt) {
            desktop.setFrontmostAfter(*c.leaveAt, desktop.addApplication({.identity = "other"}));
        }
        if (c.stopAt) {
            executor->postAfter(*c.stopAt, [&stop] { stop.request_stop(); });
        }
        const auto keysBefore = desktop.postedKeys().size();
        const auto typed = start(typeText(
            typingSeams, u"abcde",
            [workspace = fakeSeams.workspace, pid = editorPid] {
                const auto front = workspace->frontmostApplication();
                return front && front->pid == pid;
            },
            stop.get_token()));
        executor->advance(1s);
        ASSERT_TRUE(typed->has_value());
        EXPECT_EQ(**typed, c.typed);
        std::vector<std::u16string> parts;
        for (auto key = desktop.postedKeys().begin() + static_cast<std::ptrdiff_t>(keysBefore);
             key != desktop.postedKeys().end(); ++key) {
            parts.push_back(key->text);
        }
        EXPECT_EQ(parts, c.parts);
        EXPECT_EQ(executor->suspendedWaits(), 0u);
    }
}

}  // namespace
}  // namespace ravlin::testing

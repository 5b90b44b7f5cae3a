// A Quick Fix in a formatted field written back change by change: the changes themselves, and the
// write on the simulated desktop's virtual time.

#include "app/target/quick_fix_edits.h"

#include <gtest/gtest.h>

#include "tests/target/target_fixture.h"

namespace ravlin::testing {
namespace {

using platform::fake::ElementDescription;
using platform::fake::PostedKey;
using text::Utf16Range;
using Result = QNQuickFixCommitResult;
using Strategy = QNQuickFixReplacementStrategy;
namespace keycode = platform::keycode;

constexpr std::u16string_view message = u"We will recieve the parcel.\nIt is realy late.";
constexpr std::u16string_view fixed = u"We will receive the parcel.\nIt is really late.";

TEST(QuickFixEdits, OnlyTheCharactersThatDifferChange) {
    struct Case {
        const char* name;
        std::u16string original, corrected;
        std::vector<QNTextEdit> edits;
    };
    for (const Case& c : {
             Case{"two words in two paragraphs",
                  std::u16string(message),
                  std::u16string(fixed),
                  {{Utf16Range{11, 2}, u"ei"}, {Utf16Range{38, 0}, u"l"}}},
             Case{"nothing to fix", u"all well", u"all well", {}},
             Case{"a word added", u"the cat", u"the big cat", {{Utf16Range{4, 0}, u"big "}}},
             Case{"a doubled word dropped", u"a very very good day", u"a very good day",
                  {{Utf16Range{7, 5}, u""}}},
             Case{"a word with a different start", u"teh cat", u"the cat",
                  {{Utf16Range{1, 2}, u"he"}}},
             Case{"an accent kept whole", u"cafe\u0301 noir", u"cafe noir",
                  {{Utf16Range{3, 2}, u"e"}}},
             Case{"a sentence's end", u"we met", u"We met.",
                  {{Utf16Range{0, 1}, u"W"}, {Utf16Range{6, 0}, u"."}}},
         }) {
        SCOPED_TRACE(c.name);
        const auto edits = textEdits(c.original, c.corrected);
        ASSERT_TRUE(edits.has_value());
        EXPECT_EQ(*edits, c.edits);
        // Made from the last, they give the corrected text.
        std::u16string made = c.original;
        for (auto edit = edits->rbegin(); edit != edits->rend(); ++edit) {
            made.replace(static_cast<std::size_t>(edit->range.location),
                         static_cast<std::size_t>(edit->range.length), edit->replacement);
        }
        EXPECT_EQ(made, c.corrected);
    }
    EXPECT_FALSE(textEdits(u"one two three four", u"five six seven eight", 4).has_value())
        << "too different to change piece by piece";
}

struct ChangedTextTest : ::testing::Test, TargetFixture {
    std::shared_ptr<QNQuickFixPasteboardManager> manager =
        QNQuickFixPasteboardManager::create(fakeSeams.pasteboard, executor);
    std::shared_ptr<QNQuickFixHostLiveDriver> driver =
        std::make_shared<QNQuickFixHostLiveDriver>(seams(manager));

    std::optional<QNQuickFixHostSession> begin() {
        return finish(start(QNServiceQuickFixHost::beginSession(
            QNModelFocusSnapshot::captureNow(seams(manager)), driver, {})));
    }
    Result commit(const QNQuickFixHostSession& session, std::u16string corrected) {
        return finish(start(
            QNServiceQuickFixHost::commit(session, std::move(corrected), driver, nullptr, {})));
    }
    static ElementDescription messageField(Utf16Range selection = {45, 0}) {
        return {.role = "AXTextArea",
                .value = std::u16string(message),
                .selection = selection,
                .richText = true};
    }
};

// The whole message with the caret at its end: read as it is (no Ctrl+A), each change typed
// over alone, the caret back at the end; the clipboard never borrowed.
TEST_F(ChangedTextTest, TheFieldsChangesAreTypedAloneAndTheCaretPutBack) {
    const auto target = open({.identity = "firefox-esr"}, messageField());
    const auto session = begin();
    ASSERT_TRUE(session.has_value());
    EXPECT_EQ(session->strategy, Strategy::changedText(Utf16Range{0, 45}));
    EXPECT_EQ(session->captureMethod, QNQuickFixCaptureMethod::focusedValue);
    EXPECT_EQ(count(PostedKey::Kind::down, keycode::a), 0);

    EXPECT_EQ(commit(*session, std::u16string(fixed)),
              Result::committed(QNQuickFixReplacementMethod::typed));
    EXPECT_EQ(desktop.value(target.field), fixed);
    EXPECT_EQ(desktop.selection(target.field), (Utf16Range{46, 0}));
    EXPECT_EQ(count(PostedKey::Kind::text), 2);
    EXPECT_EQ(count(PostedKey::Kind::down, keycode::v), 0);
    EXPECT_EQ(fakeSeams.pasteboard->changeCount(), countBefore);

    // A selection in it: only the selection is corrected, where it stands.
    desktop.setValue(target.field, std::u16string(message), Utf16Range{8, 11});
    const auto selected = begin();
    ASSERT_TRUE(selected.has_value());
    EXPECT_EQ(selected->strategy, Strategy::changedText(Utf16Range{8, 11}));
    EXPECT_EQ(commit(*selected, u"receive the"),
              Result::committed(QNQuickFixReplacementMethod::typed));
    EXPECT_EQ(desktop.value(target.field), u"We will receive the parcel.\nIt is realy late.");
    EXPECT_EQ(desktop.selection(target.field), (Utf16Range{8, 11}));
}

// Where the changes cannot be made safely nothing is typed; where one that was typed does not
// come out exactly, those typed before it are taken back: the field reads as it was.
TEST_F(ChangedTextTest, WhatCannotBeChangedSafelyIsLeftAsItWas) {
    enum class Then { typedSince, rangesRefused, paragraphsJoined, keysIgnored, cutShort };
    struct Case {
        const char* name;
        Then then;
        int typed;
    };
    for (const Case& c : {
             Case{"the person typed since the capture", Then::typedSince, 0},
             Case{"no range can be selected", Then::rangesRefused, 0},
             Case{"a change over the line break", Then::paragraphsJoined, 0},
             Case{"typed keys ignored", Then::keysIgnored, 1},
             // "late" -> "lite" typed, the "s" of "parcels" refused by the field's length,
             // "lite" typed back.
             Case{"a change cut short after one typed", Then::cutShort, 3},
         }) {
        SCOPED_TRACE(c.name);
        auto spec = messageField();
        spec.refusesRangeWrites = c.then == Then::rangesRefused;
        if (c.then == Then::cutShort) {
            spec.maxLength = static_cast<std::int64_t>(message.size());
        }
        const auto target =
            open({.identity = "firefox-esr", .handlesKeys = c.then != Then::keysIgnored}, spec);
        const auto session = begin();
        ASSERT_TRUE(session.has_value());
        std::u16string corrected(fixed);
        std::u16string after(message);
        if (c.then == Then::typedSince) {
            after.insert(26, u"s");  // "parcels."
            desktop.setValue(target.field, after, Utf16Range{27, 0});
        } else if (c.then == Then::paragraphsJoined) {
            corrected = u"We will receive the parcel. It is really late.";
        } else if (c.then == Then::cutShort) {
            corrected = u"We will recieve the parcels.\nIt is realy lite.";
        }
        EXPECT_EQ(commit(*session, corrected),
                  Result::failed(QNQuickFixCommitFailure::restoreTargetSelection));
        EXPECT_EQ(desktop.value(target.field), after);
        const Utf16Range caret =
            c.then == Then::typedSince ? Utf16Range{27, 0} : Utf16Range{45, 0};
        EXPECT_EQ(desktop.selection(target.field), caret);
        EXPECT_EQ(count(PostedKey::Kind::text), c.typed);
        EXPECT_EQ(fakeSeams.pasteboard->changeCount(), countBefore);
    }
}

// The take-back of a change that did not come out is read back, and where a key of it was
// dropped too (the field shows "lat" for "late"), what is still to take back is typed again
// over what the field shows: the field reads as it was.
TEST_F(ChangedTextTest, ATakeBackThatDidNotComeOutIsTypedAgain) {
    auto spec = messageField();
    // "late" -> "lean" arrives; the "s" of "parcels" is dropped, and so is the first key of
    // "ate" typed back.
    spec.typeShape = [typed = 0](std::u16string_view text) mutable {
        ++typed;
        return typed == 2 ? std::u16string() : std::u16string(text.substr(typed == 3 ? 1 : 0));
    };
    const auto target = open({.identity = "firefox-esr"}, spec);
    const auto session = begin();
    ASSERT_TRUE(session.has_value());
    EXPECT_EQ(commit(*session, u"We will recieve the parcels.\nIt is realy lean."),
              Result::failed(QNQuickFixCommitFailure::restoreTargetSelection));
    EXPECT_EQ(desktop.value(target.field), message);
    EXPECT_EQ(count(PostedKey::Kind::text), 4);
}

// A field that can no longer be read once a change did not come out may hold part of the
// correction, and is said to.
TEST_F(ChangedTextTest, AFieldThatCannotBeReadBackMayHoldPartOfAChange) {
    auto spec = messageField();
    spec.typeShape = [this, typed = 0](std::u16string_view text) mutable {
        if (++typed == 2) {
            accessibility->hidden = {"AXValue"};
            return std::u16string();
        }
        return std::u16string(text);
    };
    open({.identity = "firefox-esr"}, spec);
    const auto session = begin();
    ASSERT_TRUE(session.has_value());
    EXPECT_EQ(commit(*session, u"We will recieve the parcels.\nIt is realy lean."),
              Result::partial("change-not-seen", QNQuickFixReplacementMethod::typed));
}

// The person types "!" once the first change ("late" -> "lite") shows; the next change (the
// "s" of "parcels") is refused by the field's length. Only what the Quick Fix typed is taken
// back: the "!" stays where the person typed it.
TEST_F(ChangedTextTest, TheTakeBackLeavesAKeyThePersonTypedMeanwhile) {
    auto spec = messageField();
    spec.maxLength = static_cast<std::int64_t>(message.size()) + 1;
    spec.rangeWriteDelay = 5ms;  // (time between the changes for the person's key)
    const auto target = open({.identity = "firefox-esr"}, spec);
    const auto session = begin();
    ASSERT_TRUE(session.has_value());
    bool typed = false;
    std::function<void()> watch = [&] {
        if (desktop.value(target.field)->find(u"lite") != std::u16string::npos) {
            desktop.userTypeText(u"!");
            typed = true;
        } else {
            executor->postAfter(1ms, watch);
        }
    };
    executor->postAfter(1ms, watch);
    EXPECT_EQ(commit(*session, u"We will recieve the parcels.\nIt is realy lite."),
              Result::failed(QNQuickFixCommitFailure::restoreTargetSelection));
    EXPECT_TRUE(typed);
    EXPECT_EQ(desktop.value(target.field), u"We will recieve the parcel.\nIt is realy la!te.");
}

// The field drops the typed "i" of "late" -> "lite", and the person types "!" at the caret
// meanwhile, over the "a" selected for the change: the take-back would type over the person's
// key. It stays, nothing is typed over it, and the field is said to hold part of a change.
TEST_F(ChangedTextTest, APersonsKeyAtAChangeThatDidNotComeOutStays) {
    auto spec = messageField();
    spec.typeShape = [this, typed = 0](std::u16string_view text) mutable {
        if (++typed == 1) {
            executor->postAfter(0ms, [this] { desktop.userTypeText(u"!"); });
            return std::u16string();
        }
        return std::u16string(text);
    };
    const auto target = open({.identity = "firefox-esr"}, spec);
    const auto session = begin();
    ASSERT_TRUE(session.has_value());
    EXPECT_EQ(commit(*session, u"We will recieve the parcel.\nIt is realy lite."),
              Result::partial("change-not-seen", QNQuickFixReplacementMethod::typed));
    EXPECT_EQ(desktop.value(target.field), u"We will recieve the parcel.\nIt is realy l!te.");
    EXPECT_EQ(count(PostedKey::Kind::text), 1);
}

}  // namespace
}  // namespace ravlin::testing

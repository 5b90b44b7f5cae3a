// The Composer text controller through real Qt input, off screen, on virtual time.

#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QInputMethodEvent>
#include <QMimeData>
#include <QTest>
#include <QTextBlock>
#include <QTextDocument>
#include <functional>

#include "app/editor/controller_auto_correcting_text.h"
#include "core/text/unicode.h"
#include "tests/support/qt_application.h"

namespace ravlin {
namespace {

using namespace std::chrono_literals;
using K = QNUserEditKind;
using text::Utf16Range;

// One application for the whole program, gone before the program's exit handlers run (Qt's
[[maybe_unused]] auto* const qtApplication = testing::addQtApplication("tests_editor");

void application() {}

struct Reported {
    Utf16Range range;
    std::u16string replacement;
    K kind;
    friend bool operator==(const Reported&, const Reported&) = default;
};

class ControllerTest : public ::testing::Test {
  public:
    void SetUp() override { make(QNModelTextEditorInteractionMode::composer); }

    void make(QNModelTextEditorInteractionMode mode) {
        application();
        controller.reset();
        controller = std::make_shared<QNControllerAutoCorrectingText>(mode, executor);
        view = controller->textView();
        view->resize(420, 200);
        view->show();
        controller->onUserEdit = [this](const QNUserEdit& edit) {
            edits.push_back({edit.range, edit.replacement, edit.kind});
        };
        controller->onUserType = [this] { ++typed; };
        controller->onTextChange = [this](const std::u16string&) { ++textChanges; };
        controller->onCommit = [this] { ++commits; };
        controller->onCancel = [this] { ++cancels; };
        controller->onContentHeightChange = [this](double h) { heights.push_back(h); };
    }

    // What the document holds, separators read as "\n".
    std::u16string documentText() const {
        std::u16string out;
        for (QChar c : view->document()->toRawText()) {
            out.push_back(c.unicode() == 0x2029 || c.unicode() == 0x2028 ? u'\n' : c.unicode());
        }
        return out;
    }
    void seed(std::u16string text, Utf16Range selection) {
        controller->setText(std::move(text), QNPlacementCaret::end);
        view->setSelectedRange(selection);
        executor->runUntilIdle();
        edits.clear();
        textChanges = 0;
        heights.clear();
    }
    void sendInputMethod(const QString& preedit, const QString& commit) {
        QInputMethodEvent event(preedit, {});
        if (!commit.isEmpty()) {
            event.setCommitString(commit);
        }
        QApplication::sendEvent(view, &event);
    }
    void sendText(const QString& text) {
        QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, text);
        QApplication::sendEvent(view, &press);
    }

    std::shared_ptr<ManualExecutor> executor = std::make_shared<ManualExecutor>();
    std::shared_ptr<QNControllerAutoCorrectingText> controller;
    QNTextViewCommitAware* view = nullptr;
    std::vector<Reported> edits;
    int typed = 0, textChanges = 0, commits = 0, cancels = 0;
    std::vector<double> heights;
};

TEST_F(ControllerTest, ReportsEachUserEditWithItsKind) {
    struct Case {
        const char* name;
        std::u16string text;
        Utf16Range selection;
        std::function<void(ControllerTest&)> act;
        std::vector<Reported> expected;
        std::u16string after;
        // A paste is followed up inside its own document edit, as a word-ending key is.
        bool followedUpInTheEdit = false;
    };
    const auto keys = [](const char* typed) {
        return [typed](ControllerTest& t) { QTest::keyClicks(t.view, typed); };
    };
    const auto key = [](Qt::Key k, Qt::KeyboardModifiers m = Qt::NoModifier) {
        return [k, m](ControllerTest& t) { QTest::keyClick(t.view, k, m); };
    };
    for (const auto& c : std::vector<Case>{
             {"typing",
              u"xy",
              {2, 0},
              keys("ab"),
              {{{2, 0}, u"a", K::insert}, {{3, 0}, u"b", K::insert}},
              u"xyab"},
             {"a character needing a surrogate pair",
              u"x",
              {1, 0},
              [](ControllerTest& t) { t.sendText(QString::fromUtf16(u"\U0001F600")); },
              {{{1, 0}, u"\U0001F600", K::pasteInsert}},
              u"x\U0001F600"},
             {"backspace",
              u"abc",
              {3, 0},
              key(Qt::Key_Backspace),
              {{{2, 1}, u"", K::deletion}},
              u"ab"},
             {"typing over a selection",
              u"abcd",
              {1, 2},
              keys("Z"),
              {{{1, 2}, u"Z", K::replace}},
              u"aZd"},
             {"a letter typed over itself",
              u"abc",
              {1, 1},
              keys("b"),
              {{{1, 1}, u"b", K::replace}},
              u"abc"},
             {"paste with a line separator and a no-break space",
              u"ab",
              {1, 0},
              [](ControllerTest& t) {
                  QApplication::clipboard()->setText(QString::fromUtf16(u"P\u2028\u00A0Q"));
                  QTest::keyClick(t.view, Qt::Key_V, Qt::ControlModifier);
              },
              {{{1, 0}, u"P\n\u00A0Q", K::pasteInsert}},
              u"aP\n\u00A0Qb",
              true},
             {"undo of typing",
              u"ab",
              {2, 0},
              [](ControllerTest& t) {
                  QTest::keyClicks(t.view, "c");
                  QTest::keyClick(t.view, Qt::Key_Z, Qt::ControlModifier);
              },
              {{{2, 0}, u"c", K::insert}, {{2, 1}, u"", K::deletion}},
              u"ab"},
             {"input method: preedit then commit",
              u"ab",
              {2, 0},
              [](ControllerTest& t) {
                  t.sendInputMethod("ni", "");
                  t.sendInputMethod("nih", "");
                  EXPECT_EQ(t.controller->pendingMarkedTextRange(), (Utf16Range{2, 3}));
                  t.sendInputMethod("", QString::fromUtf16(u"你"));
                  EXPECT_EQ(t.controller->pendingMarkedTextRange(), std::nullopt);
              },
              {{{2, 0}, u"你", K::imeCommit}},
              u"ab你"},
             {"input method: commit with a new preedit",
              u"",
              {0, 0},
              [](ControllerTest& t) {
                  t.sendInputMethod("a", "");
                  t.sendInputMethod("b", "A");
                  EXPECT_EQ(t.controller->pendingMarkedTextRange(), (Utf16Range{1, 1}));
              },
              {{{0, 0}, u"A", K::imeCommit}},
              u"A"},
             {"input method: cancelled preedit",
              u"ab",
              {1, 0},
              [](ControllerTest& t) {
                  t.sendInputMethod("xy", "");
                  t.sendInputMethod("", "");
                  EXPECT_EQ(t.controller->pendingMarkedTextRange(), std::nullopt);
              },
              {},
              u"ab"},
             {"dead-key compose: a commit with no preedit",
              u"ab",
              {2, 0},
              [](ControllerTest& t) { t.sendInputMethod("", QString::fromUtf16(u"é")); },
              {{{2, 0}, u"é", K::insert}},
              u"abé"},
         }) {
        seed(c.text, c.selection);
        typed = 0;
        c.act(*this);
        EXPECT_EQ(edits, c.expected) << c.name;
        EXPECT_EQ(controller->string(), c.after) << c.name;
        EXPECT_EQ(controller->string(), documentText()) << c.name;
        EXPECT_EQ(typed, c.followedUpInTheEdit ? static_cast<int>(c.expected.size()) : 0)
            << c.name << ": onUserType waits for the next turn, or came inside the edit";
        executor->runUntilIdle();
        EXPECT_EQ(typed, static_cast<int>(c.expected.size())) << c.name;
        EXPECT_EQ(textChanges > 0, !c.expected.empty()) << c.name;
    }
}

TEST_F(ControllerTest, ADropIsNotAPaste) {
    seed(u"ab", {2, 0});
    QMimeData data;
    data.setText("z");
    const QPoint at = view->cursorRect().center();
    QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(view->viewport(), &enter);
    QDropEvent drop(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(view->viewport(), &drop);
    ASSERT_EQ(edits.size(), 1u);
    EXPECT_EQ(edits[0].kind, K::insert);
    EXPECT_EQ(controller->string(), documentText());
}

TEST_F(ControllerTest, ProgramWritesAreNeitherReportedNorUndoable) {
    QTest::keyClicks(view, "typed");
    ASSERT_TRUE(view->document()->isUndoAvailable());
    edits.clear();
    textChanges = 0;
    controller->setText(u"a\r\nb\n\n", QNPlacementCaret::visibleEnd);
    EXPECT_TRUE(edits.empty());
    EXPECT_EQ(textChanges, 0);
    EXPECT_FALSE(view->document()->isUndoAvailable());
    EXPECT_EQ(controller->string(), u"a\nb\n\n");  // "\r\n" is stored as one break
    EXPECT_EQ(view->selectedRange(), (Utf16Range{3, 0}));

    controller->setText(u"a\n\n", QNPlacementCaret::end);
    EXPECT_EQ(view->selectedRange(), (Utf16Range{3, 0}));
    QTest::keyClicks(view, "x");
    EXPECT_EQ(controller->string(), u"a\n\nx");
    QTest::keyClick(view, Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(controller->string(), u"a\n\n");  // the user's typing undoes, the write does not
    EXPECT_FALSE(view->document()->isUndoAvailable());
    EXPECT_EQ(controller->string(), documentText());
}

// A whole-text write changes the document only where the texts differ: the text it already
// holds is not written again (nor laid out again), and paragraphs before and after the change
// stay the document's own.
TEST_F(ControllerTest, AWholeTextWriteChangesOnlyWhatDiffers) {
    struct Case {
        std::u16string before;
        std::u16string after;
        int changes;
        bool firstKept;  // the first paragraph is still the document's own (else: either way)
        bool lastKept;
    };
    const Case cases[] = {
        {u"one\ntwo\nthree", u"one\ntwo\nthree", 0, true, true},
        {u"one\ntwo\nthree", u"one\n2\nthree", 1, true, true},
        {u"one\ntwo\nthree", u"one\ntwo\nthree!", 1, true, false},
        {u"one\ntwo", u"", 1, false, false},
        {u"", u"a\r\nb", 1, false, false},
        {u"a\U0001F600\nz", u"a\U0001F601\nz", 1, false, true},  // pairs differing in one unit
    };
    for (const auto& [before, after, changes, firstKept, lastKept] : cases) {
        SCOPED_TRACE(text::toUtf8(before) + " -> " + text::toUtf8(after));
        seed(before, {0, 0});
        QTextDocument* document = view->document();
        document->firstBlock().setUserState(7);
        document->lastBlock().setUserState(8);
        int changed = 0;
        const auto connection =
            QObject::connect(document, &QTextDocument::contentsChange, [&] { ++changed; });
        controller->setText(after, QNPlacementCaret::end);
        QObject::disconnect(connection);
        std::u16string expected = after;
        for (auto at = expected.find(u"\r\n"); at != std::u16string::npos;
             at = expected.find(u"\r\n")) {
            expected.erase(at, 1);
        }
        std::replace(expected.begin(), expected.end(), u'\u2029', u'\n');
        EXPECT_EQ(controller->string(), expected);
        EXPECT_EQ(documentText(), expected);
        EXPECT_EQ(changed, changes);
        if (firstKept) {
            EXPECT_EQ(document->firstBlock().userState(), 7);
        }
        if (lastKept) {
            EXPECT_EQ(document->lastBlock().userState(), 8);
        }
        EXPECT_EQ(view->selectedRange(), (Utf16Range{static_cast<std::int64_t>(expected.size()), 0}));
        EXPECT_FALSE(document->isUndoAvailable());
        EXPECT_TRUE(edits.empty());
    }
}

TEST_F(ControllerTest, HeightNotificationsCoalescePerTurn) {
    seed(u"", {0, 0});
    QTest::keyClicks(view, "abc");
    EXPECT_TRUE(heights.empty());
    executor->runUntilIdle();
    ASSERT_EQ(heights.size(), 1u);
    EXPECT_DOUBLE_EQ(heights[0], controller->lineHeight(QNControllerAutoCorrectingText::kFontSize));

    QTest::keyClick(view, Qt::Key_Return, Qt::ShiftModifier);
    executor->runUntilIdle();
    ASSERT_EQ(heights.size(), 2u);
    EXPECT_GT(heights[1], heights[0]);

    controller->applyFontSize(30);
    executor->runUntilIdle();
    EXPECT_DOUBLE_EQ(controller->lineHeight(30) * 2 - 24, heights.back());
    EXPECT_TRUE(edits.size() == 4u) << "a font change is not an edit";
}

TEST_F(ControllerTest, ReturnAndEscapeInBothModes) {
    struct Case {
        QNModelTextEditorInteractionMode mode;
        bool preedit;
        Qt::Key key;
        Qt::KeyboardModifiers modifiers;
        int commits, cancels;
        std::u16string after;
    };
    constexpr auto composer = QNModelTextEditorInteractionMode::composer;
    constexpr auto document = QNModelTextEditorInteractionMode::document;
    for (const auto& c : std::vector<Case>{
             {composer, false, Qt::Key_Return, Qt::NoModifier, 1, 0, u"ab"},
             {composer, false, Qt::Key_Enter, Qt::KeypadModifier, 1, 0, u"ab"},
             {composer, false, Qt::Key_Return, Qt::ControlModifier, 1, 0, u"ab"},
             {composer, false, Qt::Key_Return, Qt::ShiftModifier, 0, 0, u"ab\n"},
             {composer, true, Qt::Key_Return, Qt::NoModifier, 0, 0, u"ab\n"},
             {composer, false, Qt::Key_Escape, Qt::NoModifier, 0, 1, u"ab"},
             {composer, true, Qt::Key_Escape, Qt::NoModifier, 0, 1, u"ab"},
             {document, false, Qt::Key_Return, Qt::NoModifier, 0, 0, u"ab\n"},
             {document, false, Qt::Key_Return, Qt::ShiftModifier, 0, 0, u"ab\n"},
             {document, false, Qt::Key_Escape, Qt::NoModifier, 0, 0, u"ab"},
         }) {
        make(c.mode);
        seed(u"ab", {2, 0});
        commits = cancels = 0;
        if (c.preedit) {
            sendInputMethod("k", "");
        }
        QTest::keyClick(view, c.key, c.modifiers);
        EXPECT_EQ(commits, c.commits) << c.key << " " << c.modifiers;
        EXPECT_EQ(cancels, c.cancels) << c.key << " " << c.modifiers;
        EXPECT_EQ(controller->string(), c.after) << c.key << " " << c.modifiers;
        if (c.after.size() > 2 && !c.preedit) {
            EXPECT_EQ(edits, (std::vector<Reported>{{{2, 0}, u"\n", K::insert}}));
        }
    }
}

TEST_F(ControllerTest, NewlineCommandHonoursTheKeyPressModifiers) {
    view->activeKeyDownModifierFlags = Qt::ShiftModifier;
    EXPECT_FALSE(controller->textViewDoCommand(QNTextViewCommand::insertNewline));
    view->activeKeyDownModifierFlags = Qt::NoModifier;
    EXPECT_TRUE(controller->textViewDoCommand(QNTextViewCommand::insertNewline));
    EXPECT_EQ(commits, 1);
    EXPECT_FALSE(controller->textViewDoCommand(QNTextViewCommand::other));
    EXPECT_TRUE(controller->textViewDoCommand(QNTextViewCommand::cancelOperation));
    EXPECT_EQ(cancels, 1);
}

const TierPolicy& policy() {
    return TierPolicy::defaultPolicy();
}
constexpr auto kTypos = QNModelLocalFixRules::staticTypoMap;

TEST_F(ControllerTest, LocalFixesKeepTheCaretAndTheTextAfterIt) {
    struct Case {
        const char* name;
        std::u16string text;
        std::int64_t caret;
        std::u16string settled;
        bool didChange;
        std::u16string after;
        std::int64_t caretAfter;
        std::vector<Utf16Range> ranges;
    };
    for (const auto& c : std::vector<Case>{
             {"word still typed is left", u"teh wor", 7, u"", true, u"the wor", 7, {{1, 3}}},
             {"caret after a space", u"x teh ", 6, u"", true, u"x the ", 6, {{3, 3}}},
             {"longer fix moves the caret, text after stays",
              u"dont teh|tail",
              8,
              u"",
              true,
              u"don't teh|tail",
              9,
              {{3, 1}}},
             {"settled prefix untouched",
              u"teh teh a",
              9,
              u"teh ",
              true,
              u"teh the a",
              9,
              {{5, 3}}},
             {"no whitespace after the prefix", u"tehteh", 6, u"", false, u"tehteh", 6, {}},
             {"prefix no longer matches", u"teh teh a", 9, u"the ", false, u"teh teh a", 9, {}},
             {"prefix ending inside a character",
              u"e\u0301 teh a",
              8,
              u"e",
              false,
              u"e\u0301 teh a",
              8,
              {}},
         }) {
        seed(c.text, {c.caret, 0});
        const auto result = controller->applyLocalFixesBeforeCaret(c.settled, kTypos, policy());
        EXPECT_EQ(result.didChange, c.didChange) << c.name;
        EXPECT_EQ(result.text, c.after) << c.name;
        EXPECT_EQ(controller->string(), c.after) << c.name;
        EXPECT_EQ(controller->string(), documentText()) << c.name;
        EXPECT_EQ(view->selectedRange(), (Utf16Range{c.caretAfter, 0})) << c.name;
        EXPECT_EQ(result.changedRanges, c.ranges) << c.name;
        EXPECT_TRUE(edits.empty()) << c.name;
        EXPECT_FALSE(view->document()->isUndoAvailable()) << c.name;
        EXPECT_EQ(controller->fadePulses().size(), c.ranges.size()) << c.name;
    }
}

TEST_F(ControllerTest, LocalFixRefusalsLeaveTextAndUndoAlone) {
    struct Case {
        const char* name;
        std::function<void(ControllerTest&)> arrange;
    };
    for (const auto& c : std::vector<Case>{
             {"a selection",
              [](ControllerTest& t) {
                  t.view->setSelectedRange({0, 2});
              }},
             {"a preedit", [](ControllerTest& t) { t.sendInputMethod("k", ""); }},
             {"read-only", [](ControllerTest& t) { t.view->setReadOnly(true); }},
         }) {
        seed(u"", {0, 0});
        view->setReadOnly(false);
        QTest::keyClicks(view, "teh a");
        c.arrange(*this);
        const auto result = controller->applyLocalFixesBeforeCaret(u"", kTypos, policy());
        EXPECT_FALSE(result.didChange) << c.name;
        EXPECT_EQ(controller->string(), u"teh a") << c.name;
        EXPECT_TRUE(view->document()->isUndoAvailable()) << c.name;
        EXPECT_TRUE(controller->fadePulses().empty()) << c.name;
    }
    view->setReadOnly(false);
}

// The highlight's alpha over `range`, or none when nothing is drawn there.
std::optional<double> pulseAlpha(const QNControllerAutoCorrectingText& controller,
                                 Utf16Range range) {
    for (const auto& run : controller.decorations().runs()) {
        if (run.key == QNDecorationKey::background && run.range == range) {
            return run.color.alphaF();
        }
    }
    return std::nullopt;
}

// A fix rewrites only what changed, line by line: the paragraphs around it are the same blocks.
TEST_F(ControllerTest, ALocalFixRewritesOnlyTheChangedWordsAndKeepsTheParagraphs) {
    seed(u"we recieve\nteh cat ", {19, 0});
    QTextDocument* document = view->document();
    document->firstBlock().setUserState(7);
    document->lastBlock().setUserState(8);
    int changes = 0;
    QObject::connect(document, &QTextDocument::contentsChange, [&] { ++changes; });
    ASSERT_TRUE(controller->applyLocalFixesBeforeCaret(u"", kTypos, policy()).didChange);
    EXPECT_EQ(controller->string(), u"we receive\nthe cat ");
    EXPECT_EQ(changes, 1) << "one edit";
    ASSERT_EQ(document->blockCount(), 2);
    EXPECT_EQ(document->firstBlock().userState(), 7);
    EXPECT_EQ(document->lastBlock().userState(), 8);
    EXPECT_EQ(view->selectedRange(), (Utf16Range{19, 0}));
    executor->advance(1s);  // the pulses end
}

// A paste is followed up inside its own document edit: the pasted text and the local fixes of
// it reach the document, its layout and its paint as one change. Where the paste cannot be
// followed so (a preedit showing), the document reports it afterwards as any edit.
TEST_F(ControllerTest, APasteAndItsLocalFixesAreOneChange) {
    controller->onUserType = [this] {
        ++typed;
        controller->applyLocalFixesBeforeCaret(u"", kTypos, policy());
    };
    for (const bool preedit : {false, true}) {
        SCOPED_TRACE(preedit);
        seed(u"I ", {2, 0});
        if (preedit) {
            sendInputMethod("k", "");
        }
        int changes = 0;
        const auto counting = QObject::connect(view->document(), &QTextDocument::contentsChange,
                                               [&] { ++changes; });
        QApplication::clipboard()->setText(QStringLiteral("recieve teh news "));
        QTest::keyClick(view, Qt::Key_V, Qt::ControlModifier);
        QObject::disconnect(counting);
        ASSERT_EQ(edits.size(), 1u);
        EXPECT_EQ(edits[0].range, (Utf16Range{2, 0}));
        EXPECT_EQ(edits[0].replacement, u"recieve teh news ");
        if (preedit) {
            EXPECT_EQ(typed, 0) << "followed on the next turn";
            executor->runUntilIdle();
            sendInputMethod("", "");
        } else {
            EXPECT_EQ(edits[0].kind, K::pasteInsert);
            EXPECT_EQ(changes, 1) << "one change, laid out once";
            EXPECT_EQ(typed, 1);
            EXPECT_EQ(controller->string(), u"I receive the news ");
            EXPECT_EQ(view->selectedRange(), (Utf16Range{19, 0}));
            EXPECT_FALSE(controller->fadePulses().empty());
            EXPECT_FALSE(view->document()->isUndoAvailable()) << "a fix leaves nothing to undo";
        }
        EXPECT_EQ(controller->string(), documentText());
        executor->advance(1s);
        typed = 0;
    }
}

TEST_F(ControllerTest, ALocalFixPulsesRisesHoldsFallsAndEnds) {
    seed(u"x teh y", {7, 0});
    const auto result = controller->applyLocalFixesBeforeCaret(u"", kTypos, policy());
    ASSERT_EQ(result.changedRanges.size(), 1u);
    const Utf16Range word = result.changedRanges[0];
    EXPECT_EQ(pulseAlpha(*controller, word), std::nullopt);  // the task starts on a later turn
    executor->runUntilIdle();
    EXPECT_NEAR(pulseAlpha(*controller, word).value_or(0), 0.55, 0.01);
    ASSERT_EQ(view->underlay().size(), 1u) << "painted under the text";
    EXPECT_EQ(view->underlay()[0].range, word);
    EXPECT_TRUE(view->extraSelections().isEmpty());
    executor->advance(65ms);  // rise 30, hold 35: the first fall frame
    EXPECT_NEAR(pulseAlpha(*controller, word).value_or(0), 0.55 * 5 / 6, 0.01);
    executor->advance(100ms);  // the last fall frame draws transparent
    EXPECT_NEAR(pulseAlpha(*controller, word).value_or(1), 0.0, 0.01);
    EXPECT_EQ(controller->fadePulses().size(), 1u);
    executor->advance(20ms);  // 185 ms after the fix
    EXPECT_TRUE(controller->fadePulses().empty());
    EXPECT_TRUE(controller->decorations().isEmpty());
    EXPECT_TRUE(view->underlay().empty());
    EXPECT_EQ(controller->string(), u"x the y");
}

TEST_F(ControllerTest, TypingClearsEveryPulse) {
    seed(u"teh teh y", {9, 0});
    ASSERT_TRUE(controller->applyLocalFixesBeforeCaret(u"", kTypos, policy()).didChange);
    executor->runUntilIdle();
    ASSERT_EQ(controller->fadePulses().size(), 2u);
    const auto generation = controller->fadePulseGeneration();
    QTest::keyClicks(view, "z");
    EXPECT_EQ(controller->fadePulseGeneration(), generation + 1);
    EXPECT_TRUE(controller->fadePulses().empty());
    EXPECT_TRUE(view->underlay().empty());
    executor->advance(300ms);
    EXPECT_TRUE(controller->decorations().isEmpty()) << "no stale pulse draws again";
}

TEST_F(ControllerTest, APulseOverTextThatIsGoneDrawsOnlyWhatIsLeft) {
    seed(u"abcde", {5, 0});
    const auto generation = controller->fadePulseGeneration();
    controller->startFadePulse({3, 10}, generation, 30ms, 0.55, 35ms, 120ms);
    controller->startFadePulse({8, 2}, generation, 30ms, 0.55, 35ms, 120ms);
    executor->runUntilIdle();
    EXPECT_TRUE(pulseAlpha(*controller, {3, 2}).has_value());
    executor->advance(35ms);  // the hold: the second pulse reaches its end
    EXPECT_EQ(controller->fadePulses().size(), 1u);
    controller->clearFadePulses(12345);  // no such pulse: nothing happens
    EXPECT_EQ(controller->fadePulses().size(), 1u);
    executor->advance(200ms);
    EXPECT_TRUE(controller->fadePulses().empty());
}

TEST_F(ControllerTest, NothingRunsAfterTheControllerIsGone) {
    seed(u"teh teh y", {9, 0});
    ASSERT_TRUE(controller->applyLocalFixesBeforeCaret(u"", kTypos, policy()).didChange);
    executor->runUntilIdle();
    QTest::keyClicks(view, "q");  // onUserType and a height notification pending
    controller->startFadePulse({0, 3}, controller->fadePulseGeneration(), 60ms, 0.55, 50ms, 220ms);
    ASSERT_GT(executor->pendingCount(), 0u);
    typed = 0;
    heights.clear();
    controller.reset();
    executor->advance(1s);
    EXPECT_EQ(typed, 0);
    EXPECT_TRUE(heights.empty());
    EXPECT_EQ(executor->pendingCount(), 0u);
}

TEST_F(ControllerTest, MarginDragMovesTheWindowTextDragSelects) {
    view->move(100, 100);
    QTest::qWait(1);
    QCursor::setPos(view->mapToGlobal(QPoint(4, 4)));
    QTest::mousePress(view, Qt::LeftButton, Qt::NoModifier, QPoint(4, 4));
    QCursor::setPos(view->mapToGlobal(QPoint(4, 4)) + QPoint(30, 20));
    QMouseEvent move(QEvent::MouseMove, QPointF(34, 24), QCursor::pos(), Qt::NoButton,
                     Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(view, &move);
    QTest::mouseRelease(view, Qt::LeftButton, Qt::NoModifier, QPoint(34, 24));
    EXPECT_EQ(view->pos(), QPoint(130, 120));

    seed(u"some words", {0, 0});
    QTest::mousePress(view->viewport(), Qt::LeftButton, Qt::NoModifier, QPoint(2, 5));
    QTest::mouseMove(view->viewport(), QPoint(60, 5));
    QTest::mouseRelease(view->viewport(), Qt::LeftButton, Qt::NoModifier, QPoint(60, 5));
    EXPECT_EQ(view->pos(), QPoint(130, 120));
    EXPECT_GT(view->selectedRange().length, 0);
}

}  // namespace
}  // namespace ravlin

// The Composer's live loop on the real editor, off screen, on virtual time: key presses go into
// the editor and the service takes them in.

#include <gtest/gtest.h>

#include <QApplication>
#include <QTest>
#include <QTextDocument>

#include "app/composer/composer_service.h"
#include "app/editor/controller_auto_correcting_text.h"
#include "app/preferences/defaults.h"
#include "tests/support/qt_application.h"

namespace ravlin {
namespace {

using namespace std::chrono_literals;
using text::Utf16Range;

[[maybe_unused]] auto* const qtApplication = testing::addQtApplication("tests_composer");

class LiveLoop : public ::testing::Test {
  public:
    void SetUp() override {
        controller = std::make_shared<QNControllerAutoCorrectingText>(
            QNModelTextEditorInteractionMode::composer, executor);
        view = controller->textView();
        view->resize(420, 200);
        view->show();
        composer = std::make_unique<QNServiceComposer>(QNServiceComposer::Construction{
            .controller = controller,
            .clock = executor,
            .sessionLog = log,
        });
        composer->setLogSessionID("s001");
    }
    void TearDown() override {
        composer.reset();
        controller.reset();
        executor->advance(10s);
    }
    void type(const char* keys) {
        QTest::keyClicks(view, keys);
        executor->runUntilIdle();
    }
    [[nodiscard]] std::vector<std::string> logLines() const {
        std::vector<std::string> lines;
        for (const auto& entry : log->entries()) {
            lines.push_back(entry.message);
        }
        return lines;
    }

    std::shared_ptr<ManualExecutor> executor = std::make_shared<ManualExecutor>();
    std::shared_ptr<QNLoggerEvent> log = [] {
        auto logger = std::make_shared<QNLoggerEvent>(std::make_shared<MemoryDefaults>());
        logger->startCapturing();
        return logger;
    }();
    std::shared_ptr<QNControllerAutoCorrectingText> controller;
    QNTextViewCommitAware* view = nullptr;
    std::unique_ptr<QNServiceComposer> composer;
};

TEST_F(LiveLoop, EagerLocalFixAppearsAsTheWordEnds) {
    type("we recieve");
    EXPECT_EQ(controller->string(), u"We recieve");  // "we" ended a word first
    EXPECT_TRUE(view->document()->isUndoAvailable()) << "typing without a fix stays undoable";
    // The space and the fix it brings reach the document as one change, laid out once.
    int changes = 0;
    QObject::connect(view->document(), &QTextDocument::contentsChange, [&] { ++changes; });
    type(" ");
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(controller->string(), u"We receive ");
    EXPECT_EQ(view->selectedRange(), (Utf16Range{11, 0}));
    EXPECT_FALSE(view->document()->isUndoAvailable());
    EXPECT_EQ(composer->buffers.canonicalText, u"We receive ");
    EXPECT_EQ(composer->lastLocalVisibleText, u"We receive ");
    EXPECT_FALSE(composer->events.get().empty());
    EXPECT_EQ(composer->buffers.projection.visibleUTF16Length, 11);
}

TEST_F(LiveLoop, DirtySpanGrowsOverEveryEdit) {
    type("Hello there");
    ASSERT_TRUE(composer->dirtySpan);
    EXPECT_EQ(composer->dirtySpan->range, (Utf16Range{0, 11}));
    view->setSelectedRange({0, 0});
    type("Oh ");
    EXPECT_EQ(composer->dirtySpan->range, (Utf16Range{0, 14}));
    EXPECT_EQ(composer->dirtySpan->revision, composer->buffers.revision);
    EXPECT_EQ(composer->userEditCount(), 14);
}

// The view no longer shows the stream's text where the buffers put it (a write the service did
// not make): an edit then keeps what the view shows and the buffers follow it.
TEST_F(LiveLoop, EditAfterTheStreamedTextWasChangedUnderItFollowsTheView) {
    type("Helo world");
    auto stream = composer->makeStreamApplyState({0, 4});
    ASSERT_TRUE(stream);
    stream->currentReplacement = u"Hello";
    composer->activeStreamApply = stream;
    composer->correctionTask.emplace();
    auto stop = composer->correctionTask->stop.get_token();
    controller->setText(u"Hullo world", QNPlacementCaret::end);  // not through the buffers

    type("!");
    EXPECT_TRUE(stop.stop_requested());
    EXPECT_FALSE(composer->activeStreamApply);
    EXPECT_EQ(controller->string(), u"Hullo world!");
    EXPECT_EQ(composer->buffers.canonicalText, u"Hullo world!");
    EXPECT_EQ(composer->buffers.authoredText, u"Hullo world!");
    EXPECT_EQ(composer->buffers.projection.visibleUTF16Length, 12);
    const auto lines = logLines();
    EXPECT_EQ(std::ranges::count(lines, "sid=s001 state=cancelled reason=superseded-by-input"), 1);
}

TEST_F(LiveLoop, NothingInFlightLogsNoCancellation) {
    type("Hi there");
    for (const auto& line : logLines()) {
        EXPECT_EQ(line.find("superseded-by-input"), std::string::npos) << line;
    }
}

TEST_F(LiveLoop, EditDropsTheQuietBaseline) {
    composer->existingTextQuietBaseline = u"x";
    composer->existingTextInitialWholeDidComplete = true;
    composer->correctionPolicy.set(QNComposerCorrectionPolicy::existingText);
    type("a");
    EXPECT_FALSE(composer->existingTextQuietBaseline);
    EXPECT_FALSE(composer->existingTextInitialWholeDidComplete);
    EXPECT_FALSE(composer->hasQuietExistingTextBaseline());
}

struct PrefixCase {
    std::u16string prefix;
    std::u16string canonical;
    std::u16string expected;
};

class AppliedPrefixRefresh : public ::testing::TestWithParam<PrefixCase> {};

TEST_P(AppliedPrefixRefresh, KeepsOrCutsBackToASentenceEnd) {
    auto executor = std::make_shared<ManualExecutor>();
    QNServiceComposer composer{executor};
    composer.buffers.reset(GetParam().canonical);
    composer.sealedContextPrefix = GetParam().prefix;
    composer.lastAppliedPrefix = GetParam().prefix;
    composer.lastWholeAppliedPrefix = GetParam().prefix;
    composer.refreshAppliedPrefixes();
    EXPECT_EQ(composer.sealedContextPrefix, GetParam().expected);
    EXPECT_EQ(composer.lastAppliedPrefix, GetParam().expected);
    EXPECT_EQ(composer.lastWholeAppliedPrefix,
              GetParam().expected.empty() ? std::nullopt
                                          : std::optional<std::u16string>(GetParam().expected));
}

INSTANTIATE_TEST_SUITE_P(Cases, AppliedPrefixRefresh,
                         ::testing::Values(PrefixCase{u"One. Two. ", u"One. Two. Three",
                                                      u"One. Two. "},
                                           PrefixCase{u"One. Two. ", u"One. Tw", u"One."},
                                           PrefixCase{u"One. Two.", u"One. Two", u"One."},
                                           PrefixCase{u"One.\nTwo", u"One.\nTwx", u"One.\n"},
                                           PrefixCase{u"One two. ", u"One tw", u""},
                                           PrefixCase{u"Who? Me", u"Who? X", u"Who?"}));

}  // namespace
}  // namespace ravlin

// Sentence polish as a person meets it: typed at a person's speed into the Composer while the
// stand-in service (or a stand-in Codex tool) answers, read back over AT-SPI as it shows, and
// committed into the Qt target's text area. Each scenario prints what it measured on a line
// starting "[ figure ]".

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "scenarios.h"
#include "tests/support/fake_executable.h"

namespace ravlin::testing {
namespace {

using std::chrono::duration_cast;
using std::chrono::milliseconds;
using std::chrono::steady_clock;

// Changes only the service makes: the local rules know nothing of them.
constexpr std::u16string_view kFirst = u"I will send the parcel today.";
constexpr std::u16string_view kFirstPolished = u"I will send the package today.";
constexpr std::u16string_view kSecond = u" We should bring the report tomorrow.";
constexpr std::u16string_view kSecondPolished = u" We should bring the summary tomorrow.";

class PolishScenarios : public OnlineScenarios {
  protected:
    PolishScenarios() {
        service.replace("parcel", "package");
        service.replace("report", "summary");
    }

    // What the Composer's editor holds now.
    std::u16string composerText() { return desktop.value(desktop.focusedOf(programPid())); }

    void SetUp() override {
        OnlineScenarios::SetUp();
        // Open from the start, the log keeps every line of the session, not its errors only.
        ASSERT_TRUE(openLog(program));
    }

    // The Qt target's text area, emptied and focused, and the Composer open over it; the
    // clipboard holds something of the user's.
    void openOverEmptyArea() {
        kept = copyElsewhere(QStringLiteral("kept clipboard"));
        ASSERT_TRUE(desktop.qt->command(QStringLiteral("text area")));
        ASSERT_TRUE(focus(*desktop.qt, QStringLiteral("area")));
        ASSERT_TRUE(openComposer());
    }

    // Return, and the area holds `text` (the commit pastes it untrimmed); then the commit has
    // put the user's clipboard back and the Composer has closed.
    void commitExpecting(const std::u16string& text) {
        ASSERT_TRUE(keyboard.waitForRelease());
        ASSERT_TRUE(keyboard.tap("Return"));
        EXPECT_TRUE(focusedValueBecomes(desktop.qt->pid(), text))
            << text::toUtf8(desktop.value(desktop.focusedOf(desktop.qt->pid())));
        EXPECT_TRUE(waitUntil([&] { return clipboardDifference(kept, readClipboard()).empty(); }))
            << clipboardDifference(kept, readClipboard());
        ASSERT_TRUE(composerClosedInto(*desktop.qt));
    }

    // How many requests asked about text holding `part`.
    std::size_t requestsAbout(std::string_view part) const {
        std::size_t count = 0;
        for (const auto& asked : service.hostedTexts()) {
            count += asked.find(part) != std::string::npos;
        }
        return count;
    }

    ClipboardContents kept;
};

// The uptime in milliseconds of the first session-log line holding `part`.
std::optional<long long> uptimeOf(const std::string& log, std::string_view part) {
    const auto at = log.find(part);
    if (at == std::string::npos) {
        return std::nullopt;
    }
    const auto line = log.rfind('\n', at);
    const auto uptime = log.find("uptime=", line == std::string::npos ? 0 : line);
    if (uptime == std::string::npos || uptime > at) {
        return std::nullopt;
    }
    return std::stoll(log.substr(uptime + 7));
}

// Sentence after sentence at a person's speed against a service that takes 0.3 s to answer:
// each sentence goes out once, and the first shows polished while the second is still typed.
TEST_F(PolishScenarios, EachSentenceGoesOutOnceAndShowsPolishedWhileTheNextIsTyped) {
    constexpr auto serviceDelay = 300ms;
    service.setDelay(serviceDelay);
    openOverEmptyArea();
    ASSERT_TRUE(keyboard.type(kFirst.substr(0, kFirst.size() - 1)));
    const auto fullStop = steady_clock::now();
    ASSERT_TRUE(keyboard.type(kFirst.substr(kFirst.size() - 1)));
    std::optional<milliseconds> shownAfter;
    std::size_t keysTyped = 0;
    for (std::size_t at = 0; at < kSecond.size(); ++at) {
        ASSERT_TRUE(keyboard.type(kSecond.substr(at, 1)));
        if (!shownAfter && composerText().starts_with(kFirstPolished)) {
            shownAfter = duration_cast<milliseconds>(steady_clock::now() - fullStop);
            keysTyped = at + 1;
        }
    }
    ASSERT_TRUE(shownAfter) << "the first sentence was not polished while the next was typed: "
                            << text::toUtf8(composerText());
    const std::u16string polished = std::u16string(kFirstPolished) + std::u16string(kSecondPolished);
    EXPECT_TRUE(waitUntil([&] { return composerText() == polished; }, kSettle))
        << text::toUtf8(composerText());
    EXPECT_EQ(requestsAbout("parcel"), 1u);
    EXPECT_EQ(requestsAbout("report"), 1u);
    std::printf("[ figure ] first sentence polished on screen %lld ms after its full stop was "
                "pressed (service delay %lld ms; %zu of %zu keys of the next sentence typed by "
                "then); requests: %zu for the first sentence, %zu for the second, %zu in all\n",
                static_cast<long long>(shownAfter->count()),
                static_cast<long long>(serviceDelay.count()), keysTyped, kSecond.size(),
                requestsAbout("parcel"), requestsAbout("report"), service.hostedTexts().size());
    commitExpecting(polished);

    // The program's own clock: from the sentence's boundary to its answer applied.
    const std::string log = sessionLog(program);
    EXPECT_EQ(occurrences(log, "state=cancelled reason=superseded-by-input"), 0u) << log;
    EXPECT_EQ(occurrences(log, "state=scheduled boundary=terminator"), 2u) << log;
    EXPECT_EQ(occurrences(log, "state=applied outcome=corrected"), 2u) << log;
    const auto scheduled = uptimeOf(log, "state=scheduled boundary=terminator");
    const auto applied = uptimeOf(log, "state=applied outcome=corrected");
    ASSERT_TRUE(scheduled && applied) << log;
    std::printf("[ figure ] session log: first sentence applied %lld ms after its boundary\n",
                static_cast<long long>(*applied - *scheduled));
}

// An answer that does not end as the service ends its answers (cut midway), or an error: the
// typed sentence stays, Return pastes it at once without asking again, and the log says why
// and that the local rules had the text.
TEST_F(PolishScenarios, AnAnswerThatDidNotFinishIsNeverAppliedNorAskedAgainAtReturn) {
    service.setDelay(200ms);
    const std::u16string typed = u"I will send the parcel today. ";
    std::size_t unused = 0;  // answers the log has said were not used
    for (const auto behaviour :
         {CorrectionService::Behaviour::cut, CorrectionService::Behaviour::fail}) {
        SCOPED_TRACE(static_cast<int>(behaviour));
        service.setBehaviour(behaviour);
        const auto before = service.hostedTexts().size();
        openOverEmptyArea();
        ASSERT_TRUE(keyboard.type(typed));
        ASSERT_TRUE(waitUntil([&] { return service.hostedTexts().size() > before; }, kSettle));
        // Whatever showed while it streamed, the end puts the typed text back: the text is
        // back once the log says why the answer was not used.
        ++unused;
        EXPECT_TRUE(waitUntil([&] {
            return occurrences(shownLog(program), "reason={Hosted proxy") >= unused;
        })) << shownLog(program);
        EXPECT_EQ(composerText(), typed);
        const auto asked = service.hostedTexts().size();
        commitExpecting(typed);
        EXPECT_EQ(service.hostedTexts().size(), asked) << "asked again at Return";
    }
    const std::string log = sessionLog(program);
    EXPECT_EQ(occurrences(log, "outcome=corrected"), 0u) << log;
    EXPECT_EQ(occurrences(log, "reason={Hosted proxy response incomplete} issue={"), 1u) << log;
    EXPECT_EQ(occurrences(log, "reason={Hosted proxy HTTP 500} issue={"), 1u) << log;
    EXPECT_EQ(occurrences(log, "state=skipped reason=recently-failed boundary=commit"), 2u)
        << log;
    EXPECT_EQ(occurrences(log, "handled_by={model_kind=LOCAL route=local provider=local-rules"),
              2u)
        << log;
}

// A slow stream: while the answer comes in, the Composer never loses what follows the text
// being answered, neither the next sentence's words typed after it nor, for a pause's answer
// over two sentences, the typed words the answer has not reached yet.
TEST_F(PolishScenarios, WhileAnAnswerStreamsTheTextAfterItStaysOnScreen) {
    service.setPacing(8, 120ms);
    service.replace("sent it", "mailed it");
    struct Row {
        const char* name;
        std::u16string typed;
        std::u16string tail;  // every look at the Composer ends with it
        std::u16string final;
    };
    const std::vector<Row> rows{
        {"the next sentence begun", std::u16string(kFirst) + u" We", u" We",
         std::u16string(kFirstPolished) + u" We"},
        // Too short before its full stop for a boundary: the pause sends both sentences.
        {"two sentences after a pause", u"I sent it. We meet at noon", u"meet at noon",
         u"I mailed it. We meet at noon"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        openOverEmptyArea();
        ASSERT_TRUE(keyboard.type(row.typed));
        std::vector<std::u16string> seen;
        bool captured = false;
        waitUntil(
            [&] {
                seen.push_back(composerText());
                if (!captured && seen.back() != row.typed && seen.back() != row.final) {
                    captured = true;  // an answer half in
                    screenshot(QStringLiteral("composer-streaming-") +
                               QString::number(&row - rows.data()));
                }
                return seen.back() == row.final;
            },
            kSettle);
        ASSERT_EQ(seen.back(), row.final);
        for (const auto& text : seen) {
            EXPECT_TRUE(text.ends_with(row.tail)) << text::toUtf8(text);
        }
        std::printf("[ figure ] %s: %zu looks at the Composer while the answer streamed, all "
                    "ending with the typed tail\n",
                    row.name, seen.size());
        commitExpecting(row.final);
    }
}

// A pause at a comma sends the sentence so far; the words typed after it go on with that
// sentence: none of them is ever shown with a capital, and the piece's own answer does not
// finish the sentence for the person.
TEST_F(PolishScenarios, APauseAtACommaStartsNoSentence) {
    service.replace("Thx", "Thanks");
    service.replace("ur the", "you're the");
    openOverEmptyArea();
    ASSERT_TRUE(keyboard.type(u"thx for the help,"));
    ASSERT_TRUE(waitUntil([&] { return composerText() == u"Thanks for the help,"; }, kSettle))
        << text::toUtf8(composerText());
    constexpr std::u16string_view kRest = u" ur the best.";
    for (std::size_t at = 0; at < kRest.size(); ++at) {
        ASSERT_TRUE(keyboard.type(kRest.substr(at, 1)));
        const std::u16string shown = composerText();
        EXPECT_EQ(shown.find(u"Ur"), std::u16string::npos) << text::toUtf8(shown);
    }
    const std::u16string polished = u"Thanks for the help, you're the best.";
    EXPECT_TRUE(waitUntil([&] { return composerText() == polished; }, kSettle))
        << text::toUtf8(composerText());
    EXPECT_EQ(requestsAbout("help"), 1u);
    EXPECT_EQ(requestsAbout("best"), 1u);
    commitExpecting(polished);
    const std::string log = sessionLog(program);
    EXPECT_EQ(occurrences(log, "state=scheduled boundary=soft-punctuation"), 1u) << log;
}

// A person writes "when ur done," and stops for 2.5 s: the opening goes out alone, and comes
// back as it was. The rest, typed on at a person's speed, goes out with the opening as context;
// the service answers it as a sentence of its own, the context corrected in front and a capital
// after the comma. Neither lands: the Composer never shows the opening twice nor the capital,
// and the sentence reads as one.
TEST_F(PolishScenarios, TheRestAfterAPauseAtACommaLandsOnceWithoutACapital) {
    service.replace("ill take", "I'll take");
    service.setAnswersWithTheContext(true);
    openOverEmptyArea();
    ASSERT_TRUE(keyboard.type(u"when ur done,"));
    ASSERT_TRUE(waitUntil([&] { return service.hostedTexts().size() == 1; }, kSettle));
    std::this_thread::sleep_for(2500ms);  // the person thinks
    // The service learns to spell the opening only now: it has kept it as typed.
    service.replace("ur done", "you're done");
    constexpr std::u16string_view kRest = u" send it over and ill take a look.";
    for (std::size_t at = 0; at < kRest.size(); ++at) {
        ASSERT_TRUE(keyboard.type(kRest.substr(at, 1)));
        const std::u16string shown = composerText();
        EXPECT_EQ(shown.find(u"you're done"), std::u16string::npos) << text::toUtf8(shown);
        EXPECT_EQ(shown.find(u"Send"), std::u16string::npos) << text::toUtf8(shown);
    }
    const std::u16string polished = u"When ur done, send it over and I'll take a look.";
    EXPECT_TRUE(waitUntil([&] { return composerText() == polished; }, kSettle))
        << text::toUtf8(composerText());
    commitExpecting(polished);
    EXPECT_EQ(requestsAbout("ur done"), 1u);
    EXPECT_EQ(requestsAbout("take a look"), 1u);
}

// A person stops after a comma, or after a dash and its space, and thinks for 2.5 s: the piece
// goes out alone, and the service answers it as models answer a fragment, as a sentence of its
// own with a full stop in place of the person's mark, then answers the rest with a capital. The
// mark stays, on screen and where it lands, and the rest goes on small.
TEST_F(PolishScenarios, APieceAnsweredWithAFullStopKeepsThePersonsMark) {
    service.setAnswersPiecesAsSentences(true);
    struct Row {
        std::u16string piece;
        std::u16string shown;  // once it is answered
        std::u16string rest;
        std::u16string polished;
    };
    const std::vector<Row> rows{
        {u"when the build is green,", u"When the build is green,", u" ship the parcel.",
         u"When the build is green, ship the package."},
        {u"we could ship it today - ", u"We could ship it today - ", u"if the parcel is ready.",
         u"We could ship it today - if the package is ready."},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(text::toUtf8(row.piece));
        const auto answered = occurrences(shownLog(program), " outcome=");
        openOverEmptyArea();
        ASSERT_TRUE(keyboard.type(row.piece));
        // Its answer's end in the log, then the person thinks on.
        ASSERT_TRUE(waitUntil([&] {
            return occurrences(shownLog(program), " outcome=") > answered;
        })) << shownLog(program);
        std::this_thread::sleep_for(2500ms);
        EXPECT_EQ(composerText(), row.shown);
        for (std::size_t at = 0; at < row.rest.size(); ++at) {
            ASSERT_TRUE(keyboard.type(row.rest.substr(at, 1)));
            const std::u16string shown = composerText();
            EXPECT_TRUE(shown.starts_with(row.shown)) << text::toUtf8(shown);
        }
        EXPECT_TRUE(waitUntil([&] { return composerText() == row.polished; }, kSettle))
            << text::toUtf8(composerText());
        commitExpecting(row.polished);
    }
}

// A person stops after a dash and its space, and thinks for 2.5 s: the piece goes out alone and
// lands as it was. The rest, typed on at a person's speed, goes out with the piece as context, and
// the service answers it with the sentence so far in front, without its capital, as a model may.
// The Composer never shows the sentence so far twice nor the person's dash doubled, and the
// sentence lands once.
TEST_F(PolishScenarios, TheRestAfterAPauseAtADashLandsWithoutTheSentenceSoFarRepeated) {
    service.setRepeatsTheContextInLowerCase(true);
    const auto answered = occurrences(shownLog(program), " outcome=");
    openOverEmptyArea();
    ASSERT_TRUE(keyboard.type(u"we could ship it today - "));
    ASSERT_TRUE(waitUntil([&] { return occurrences(shownLog(program), " outcome=") > answered; }))
        << shownLog(program);
    std::this_thread::sleep_for(2500ms);  // the person thinks
    const std::u16string piece = u"We could ship it today - ";
    EXPECT_EQ(composerText(), piece);
    constexpr std::u16string_view kRest = u"if the parcel is ready.";
    std::size_t looks = 0;
    const auto looksRight = [&](const std::u16string& shown) {
        ++looks;
        return shown.starts_with(piece) && shown.find(u"- -") == std::u16string::npos &&
               shown.find(u"ship it", piece.size()) == std::u16string::npos;
    };
    for (std::size_t at = 0; at < kRest.size(); ++at) {
        ASSERT_TRUE(keyboard.type(kRest.substr(at, 1)));
        const std::u16string shown = composerText();
        EXPECT_TRUE(looksRight(shown)) << text::toUtf8(shown);
    }
    const std::u16string polished = u"We could ship it today - if the package is ready.";
    EXPECT_TRUE(waitUntil(
        [&] {
            const std::u16string shown = composerText();
            EXPECT_TRUE(looksRight(shown)) << text::toUtf8(shown);
            return shown == polished;
        },
        kSettle))
        << text::toUtf8(composerText());
    EXPECT_EQ(requestsAbout("parcel"), 1u);
    std::printf(
        "[ figure ] the rest after a pause at a dash, answered with the sentence so far in lower "
        "case: %zu looks at the Composer, none showing it twice or the dash doubled\n",
        looks);
    commitExpecting(polished);
}

// An answer that chats before the text ("Sure! Here's the corrected text: ...") is cleaned
// before it lands, and its lead-in never shows while it streams in: only the sentence is pasted.
TEST_F(PolishScenarios, AChattyAnswerIsNotPasted) {
    service.setPreamble("Sure! Here\u2019s the corrected text: ");
    service.setPacing(12, 60ms);
    openOverEmptyArea();
    ASSERT_TRUE(keyboard.type(kFirst));
    std::size_t looks = 0;
    ASSERT_TRUE(waitUntil(
        [&] {
            const auto shown = composerText();
            ++looks;
            EXPECT_EQ(shown.find(u"Here"), std::u16string::npos) << text::toUtf8(shown);
            EXPECT_EQ(shown.find(u"Sure"), std::u16string::npos) << text::toUtf8(shown);
            return shown == kFirstPolished;
        },
        kSettle))
        << text::toUtf8(composerText());
    std::printf("[ figure ] a chatty answer streamed in 12 pieces: %zu looks at the Composer, none "
                "showing its lead-in\n",
                looks);
    commitExpecting(std::u16string(kFirstPolished));
}

// The person selects the sentence (Shift+Home) while its polish is out: the polish lands and the
// selection is still the whole sentence, polished; Delete takes all of it, and the next sentence
// typed is polished in its turn.
TEST_F(PolishScenarios, ASelectionHeldWhileThePolishLandsStaysOnItsText) {
    service.setDelay(800ms);
    openOverEmptyArea();
    ASSERT_TRUE(keyboard.type(kFirst));
    ASSERT_TRUE(keyboard.chord("Shift_L+Home"));
    ASSERT_TRUE(waitUntil([&] { return composerText() == kFirstPolished; }, kSettle))
        << text::toUtf8(composerText());
    auto& accessibility = *desktop.seams.accessibility;
    const auto editor = desktop.focusedOf(programPid());
    EXPECT_EQ(platform::textAttribute(accessibility, editor, ax::selectedText), kFirstPolished);
    ASSERT_TRUE(keyboard.tap("Delete"));
    EXPECT_TRUE(waitUntil([&] { return composerText().empty(); }, kSettle))
        << text::toUtf8(composerText());
    // Other words: the same ones typed again are the person's own put back over a polish that
    // has landed, and are not asked about again (they are, where the Delete came before the
    // polish had ended, as it does on an idle machine).
    const auto next = kSecond.substr(1);
    const auto nextPolished = kSecondPolished.substr(1);
    ASSERT_TRUE(keyboard.type(next));
    ASSERT_TRUE(waitUntil([&] { return composerText() == nextPolished; }, kSettle))
        << text::toUtf8(composerText());
    commitExpecting(std::u16string(nextPolished));
}

// The person goes back into a polished sentence and types a word into it, key by key, while the
// next sentence is half typed: the sentence is asked about once, after they pause.
TEST_F(PolishScenarios, EditsInsideASentenceGoOutOnceAfterThePause) {
    openOverEmptyArea();
    ASSERT_TRUE(keyboard.type(kFirst));
    ASSERT_TRUE(waitUntil([&] { return composerText() == kFirstPolished; }, kSettle));
    ASSERT_TRUE(keyboard.type(u" We shoud"));
    ASSERT_TRUE(keyboard.tap("Home"));
    for (int i = 0; i < 6; ++i) {
        ASSERT_TRUE(keyboard.tap("Right"));  // "I will|"
    }
    ASSERT_TRUE(keyboard.type(u" not"));
    const std::u16string edited = u"I will not send the package today. We shoud";
    ASSERT_TRUE(waitUntil([&] { return requestsAbout("will not") > 0; }, kSettle))
        << text::toUtf8(composerText());
    // Its answer's end in the log (the first sentence's polish was the first); then nothing
    // says that no request goes out: a second idle wait's worth (the Composer's kIdleBackstop,
    // 1.5 s), and nothing more has gone out.
    EXPECT_TRUE(waitUntil([&] { return occurrences(shownLog(program), " outcome=") >= 2; }))
        << shownLog(program);
    pause(2500ms);
    EXPECT_EQ(requestsAbout("will not"), 1u);
    EXPECT_EQ(requestsAbout("will n"), 1u) << "a request went out for a key of the word";
    EXPECT_EQ(composerText(), edited);
    const std::string log = sessionLog(program);
    EXPECT_EQ(occurrences(log, "state=cancelled reason=superseded-by-input"), 0u) << log;
    std::printf("[ figure ] a word typed into a polished sentence: %zu request(s) for it, %zu in "
                "all\n",
                requestsAbout("will not"), service.hostedTexts().size());
}

// The service says "too many requests, ask again in 30 s": the next sentence is not sent to it
// meanwhile, the log says the route is waiting and what the menu shows, and Return pastes the
// typed text at once.
TEST_F(PolishScenarios, ARetryAfterKeepsTheNextSentenceBack) {
    service.setBehaviour(CorrectionService::Behaviour::rateLimit);
    openOverEmptyArea();
    ASSERT_TRUE(keyboard.type(kFirst));
    ASSERT_TRUE(waitUntil([&] { return service.hostedTexts().size() == 1; }, kSettle));
    ASSERT_TRUE(keyboard.type(kSecond));
    // The second sentence's boundary comes while the route waits: the log says it was kept
    // back (or it went out, which fails below).
    EXPECT_TRUE(waitUntil([&] {
        return occurrences(shownLog(program), "state=skipped reason=retry-after") > 0 ||
               service.hostedTexts().size() > 1;
    })) << shownLog(program);
    EXPECT_EQ(service.hostedTexts().size(), 1u) << "asked again within the wait";
    const std::u16string typed = std::u16string(kFirst) + std::u16string(kSecond);
    EXPECT_EQ(composerText(), typed);
    commitExpecting(typed);
    EXPECT_EQ(service.hostedTexts().size(), 1u);
    const std::string log = sessionLog(program);
    EXPECT_GE(occurrences(log, "state=skipped reason=retry-after"), 1u) << log;
    EXPECT_GE(occurrences(log, "issue={Waiting to try again - using local}"), 1u) << log;
}

// The Codex route as a person sets it up: a `codex` on the search path the program is started
// with (here a stand-in), signed in, chosen as the own-key provider with cloud correction on.
class CodexScenarios : public PolishScenarios {
  protected:
    CodexScenarios() {
        settings = {{"correctionModelMode", "online"},
                    {"BYOK.isEnabled", "true"},
                    {"BYOK.providerKind", "codexCLI"}};
        // Answers what it was asked about, as the tool would, and notes each question.
        tools.writeFile("bin/codex", R"(#!/usr/bin/python3
import json, os, sys
args = sys.argv[1:]
if args == ["--version"]:
    print("codex-cli 0.116.0")
    sys.exit(0)
asked = sys.stdin.read()
heading = "Text to correct. Return only the corrected version of this text:\n"
text = asked.split(heading)[-1] if heading in asked else asked.split("\n\n")[-1]
with open(os.path.join(os.path.dirname(__file__), "asked"), "a") as log:
    log.write(json.dumps(text) + "\n")
print(json.dumps({"type": "turn.started"}), flush=True)
with open(args[args.index("--output-last-message") + 1], "w") as out:
    out.write(text.replace("parcel", "package"))
print(json.dumps({"type": "turn.completed"}), flush=True)
)",
                        std::filesystem::perms::owner_all);
        program.setEnvironment(QStringLiteral("PATH"),
                               QString::fromStdString(tools.file("bin")) + QLatin1Char(':') +
                                   qEnvironmentVariable("PATH"));
        QDir(program.home()).mkpath(QStringLiteral(".codex"));
        QFile auth(program.home() + QStringLiteral("/.codex/auth.json"));
        auth.open(QIODevice::WriteOnly);
        auth.write("{}");
    }
    std::size_t questions() const {
        const auto asked = tools.read("bin/asked");
        return asked ? static_cast<std::size_t>(std::ranges::count(*asked, '\n')) : 0;
    }

    FakeExecutableDirectory tools;
};

TEST_F(CodexScenarios, ASentenceIsPolishedByTheCodexToolOnThePath) {
    openOverEmptyArea();
    ASSERT_TRUE(keyboard.type(kFirst.substr(0, kFirst.size() - 1)));
    const auto fullStop = steady_clock::now();
    ASSERT_TRUE(keyboard.type(kFirst.substr(kFirst.size() - 1)));
    ASSERT_TRUE(waitUntil([&] { return composerText().starts_with(kFirstPolished); }, kSettle))
        << text::toUtf8(composerText()) << "\n"
        << sessionLog(program);
    std::printf("[ figure ] codex stand-in: polished on screen %lld ms after the full stop was "
                "pressed, %zu run(s)\n",
                static_cast<long long>(
                    duration_cast<milliseconds>(steady_clock::now() - fullStop).count()),
                questions());
    commitExpecting(std::u16string(kFirstPolished));
    EXPECT_EQ(questions(), 1u);
    EXPECT_EQ(service.hostedTexts().size(), 0u);
}

}  // namespace
}  // namespace ravlin::testing

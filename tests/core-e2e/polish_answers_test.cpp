// What a person typing in a hurry sends to the sentence polish, and what a good model answers,
// streamed by the hosted service's stand-in through the real engine: every genuine correction is
// applied whole, each sentence the person typed still in it; every wrong answer is refused, or
// loses exactly the words the person did not write.

#include <gtest/gtest.h>

#include <cstdio>
#include <span>

#include "core/services/correction_progress.h"
#include "core/text/unicode.h"
#include "tests/core-e2e/e2e_harness.h"

namespace ravlin::e2e {
namespace {

struct Pair {
    const char* typed;
    const char* answer;
};

// The answer in pieces of two words, as a service streams it.
std::vector<std::string> streamed(const std::string& answer) {
    std::vector<std::string> pieces;
    std::size_t from = 0;
    int words = 0;
    for (std::size_t at = 0; at < answer.size(); ++at) {
        if (answer[at] == ' ' && ++words % 2 == 0) {
            pieces.push_back(answer.substr(from, at + 1 - from));
            from = at + 1;
        }
    }
    pieces.push_back(answer.substr(from));
    return pieces;
}

bool isStop(char16_t c) {
    return c == u'.' || c == u'!' || c == u'?';
}

// The answer as it lands: a final stop the person did not type comes off, one they typed and
// the answer lacks is put back.
std::u16string landed(const std::u16string& typed, std::u16string answer) {
    if (!isStop(typed.back())) {
        while (!answer.empty() && (isStop(answer.back()) || answer.back() == u' ')) {
            answer.pop_back();
        }
    } else if (!isStop(answer.back())) {
        answer.push_back(typed.back());
    }
    return answer;
}

Observed polish(Rig& rig, const Pair& pair, std::optional<std::u16string> context = {}) {
    rig.server.enqueue(hostedAnswer(streamed(pair.answer)));
    Call call;
    call.text = text::toUtf16(pair.typed);
    call.context = std::move(context);
    return correct(rig.hosted(), nullptr, call);
}

// ---- Genuine corrections ----------------------------------------------------------------------

const Pair kGenuine[] = {
    // Chat short forms, alone and in sentences.
    {"ty!", "Thank you!"},
    {"omw!", "On my way!"},
    {"idk.", "I don't know."},
    {"tysm!", "Thank you so much!"},
    {"brb.", "Be right back."},
    {"wyd rn?", "What are you doing right now?"},
    {"gn, ttyl.", "Good night, talk to you later."},
    {"pls msg me tmrw.", "Please message me tomorrow."},
    {"thx 4 the msg, ttyl.", "Thanks for the message, talk to you later."},
    {"appt tmrw @ 9, pls confirm.", "Appointment tomorrow at 9, please confirm."},
    {"pls review the doc b4 mtg.", "Please review the document before the meeting."},
    {"thx for the help, ur the best.", "Thanks for the help, you're the best."},
    {"lmk if u need anything else.", "Let me know if you need anything else."},
    {"can u send me the file b4 5?", "Can you send me the file before 5?"},
    {"r u coming to the party tonite?", "Are you coming to the party tonight?"},
    {"im running late, b there in 10.", "I'm running late, be there in 10."},
    {"cant make it 2day, sry.", "Can't make it today, sorry."},
    {"did u get my msg abt the meeting?", "Did you get my message about the meeting?"},
    {"gonna grab lunch, wanna come?", "I'm going to grab lunch, do you want to come?"},
    {"btw the wifi pw is on the fridge.", "By the way, the Wi-Fi password is on the fridge."},
    {"ty so much 4 ur help!", "Thank you so much for your help!"},
    {"hbu? hows ur week going?", "How about you? How's your week going?"},
    {"nvm, i found it.", "Never mind, I found it."},
    {"tbh i dont think its gonna work.", "To be honest, I don't think it's going to work."},
    {"srsly, thats amazing news!", "Seriously, that's amazing news!"},
    {"c u at the gym l8r.", "See you at the gym later."},
    {"where r u? im outside.", "Where are you? I'm outside."},
    {"wat time is the mtg tmrw?", "What time is the meeting tomorrow?"},
    {"plz dont 4get to bring ur laptop.", "Please don't forget to bring your laptop."},
    {"hey, u free this wknd?", "Hey, are you free this weekend?"},
    {"jk, ur totally right lol.", "Just kidding, you're totally right, lol."},
    {"omg i just saw ur msg!", "Oh my God, I just saw your message!"},
    {"the train leaves at 7:45, dont be late.", "The train leaves at 7:45, don't be late."},
    {"call me @ 555-0134 when u land.", "Call me at 555-0134 when you land."},
    {"i paid $25 4 the tix.", "I paid $25 for the tickets."},
    {"sarah n mike r coming 2.", "Sarah and Mike are coming too."},
    {"u know what i mean?", "You know what I mean?"},
    {"ur car is blocking the driveway.", "Your car is blocking the driveway."},
    {"how r u feeling 2day?", "How are you feeling today?"},
    {"dunno, ask ur mom.", "I don't know, ask your mom."},
    // Several sentences, the last one the person's own, typed in chat form.
    {"i sent the report. lmk if u need anything else.",
     "I sent the report. Let me know if you need anything else."},
    {"the invites r ready. would u like me to send the invite to everyone?",
     "The invites are ready. Would you like me to send the invite to everyone?"},
    {"i left comments on the draft. feel free 2 add comments directly in the doc.",
     "I left comments on the draft. Feel free to add comments directly in the doc."},
    {"im leaving work now. do u want me to get groceries on the way back?",
     "I'm leaving work now. Do you want me to get groceries on the way back?"},
    {"the slides r attached. if u have any questions just call me.",
     "The slides are attached. If you have any questions, just call me."},
    {"i fixed the bug. hope this helps.", "I fixed the bug. Hope this helps."},
    {"thx for waiting. lmk when ur free.", "Thanks for waiting. Let me know when you're free."},
    {"the meeting moved to 3. let me knwo if that works.",
     "The meeting moved to 3. Let me know if that works."},
    {"i can cover ur shift. just lmk.", "I can cover your shift. Just let me know."},
    {"i booked the table for 8. if u need me to change it lmk.",
     "I booked the table for 8. If you need me to change it, let me know."},
    {"we r out of milk. do u want me 2 pick some up?",
     "We're out of milk. Do you want me to pick some up?"},
    {"i finished the draft. would u like me 2 send it now?",
     "I finished the draft. Would you like me to send it now?"},
    {"the code is merged. is there anything else u need?",
     "The code is merged. Is there anything else you need?"},
    {"glad i could help. ttyl.", "Glad I could help. Talk to you later."},
    {"happy to help anytime. gn.", "Happy to help anytime. Good night."},
    {"ill be home late. feel free to start dinner without me.",
     "I'll be home late. Feel free to start dinner without me."},
    {"the package arrived. i hope u like it.", "The package arrived. I hope you like it."},
    {"sorry for the delay. id be happy to help next time.",
     "Sorry for the delay. I'd be happy to help next time."},
    {"i uploaded the photos. if u want me to edit any just say.",
     "I uploaded the photos. If you want me to edit any, just say."},
    {"i can drive. if youd like i can pick u up at 6.",
     "I can drive. If you'd like, I can pick you up at 6."},
    {"ok sounds good. lmk if anything changes.",
     "Okay, sounds good. Let me know if anything changes."},
    {"sure, no problem. ill send it tonite.", "Sure, no problem. I'll send it tonight."},
    {"the file is 2 big 4 email. would u like me to share a link instead?",
     "The file is too big for email. Would you like me to share a link instead?"},
    {"im at the store. anything else u need?", "I'm at the store. Anything else you need?"},
    {"done! let me know what u think.", "Done! Let me know what you think."},
    {"i called the plumber. hes coming tmrw at 10. lmk if thats ok.",
     "I called the plumber. He's coming tomorrow at 10. Let me know if that's okay."},
    {"the kids r asleep. do u want me 2 wait up?",
     "The kids are asleep. Do you want me to wait up?"},
    {"im free after 4. if u need help w/ the move just call.",
     "I'm free after 4. If you need help with the move, just call."},
    {"i sent u the recipe. hope it helps!", "I sent you the recipe. Hope it helps!"},
    {"the car is fixed. glad to help!", "The car is fixed. Glad to help!"},
    {"we should meet next week. is there anything else i can do b4 then?",
     "We should meet next week. Is there anything else I can do before then?"},
    {"cna you sned me teh fiel. lmk if u need anything else.",
     "Can you send me the file? Let me know if you need anything else."},
    {"i got ur email. just let me kno if u need more info.",
     "I got your email. Just let me know if you need more info."},
    {"i sent it we meet at noon lmk if u need anything",
     "I sent it. We meet at noon. Let me know if you need anything."},
    {"thx! i hope this helps u with the project.",
     "Thanks! I hope this helps you with the project."},
    {"i'll check tmrw. do u want me to call u after?",
     "I'll check tomorrow. Do you want me to call you after?"},
    // Openings the person typed, spelled out by the model.
    {"np, ill fix it tmrw morning.", "No problem, I'll fix it tomorrow morning."},
    {"ofc ill be there.", "Of course, I'll be there."},
    {"all rite, see u then.", "All right, see you then."},
    {"k see u soon.", "Okay, see you soon."},
    {"np, happy to help.", "No problem, happy to help."},
    {"ofc! when do u need it by?", "Of course! When do you need it by?"},
    {"k, ill call u back.", "Okay, I'll call you back."},
    {"kk thx.", "Okay, thanks."},
    {"ok cool, see u tmrw.", "Okay, cool, see you tomorrow."},
    {"alright, lets do it.", "All right, let's do it."},
    {"sure thing, ill bring snacks.", "Sure thing, I'll bring snacks."},
    {"got it, thx!", "Got it, thanks!"},
    {"absolutely, count me in.", "Absolutely, count me in."},
    {"of corse, no worries.", "Of course, no worries."},
    {"okay, ill be quick.", "Okay, I'll be quick."},
    // Accents only, names, numbers, addresses.
    {"je suis desole, je ne peux pas venir.", "Je suis désolé, je ne peux pas venir."},
    {"ich bin spat dran, sorry.", "Ich bin spät dran, sorry."},
    {"cafe at noon?", "Café at noon?"},
    {"el senor garcia llega manana.", "El señor García llega mañana."},
    {"naive question but whats the deadline?", "Naïve question, but what's the deadline?"},
    {"francois and zoe r coming at 7.", "François and Zoë are coming at 7."},
    {"the resume is in the shared folder.", "The résumé is in the shared folder."},
    {"ill be in sao paulo next week.", "I'll be in São Paulo next week."},
    {"email jon@example.com b4 friday.", "Email jon@example.com before Friday."},
    {"the invoice #4521 is due on 3/15.", "The invoice #4521 is due on 3/15."},
    {"my flight is ua 932 at 6:10am.", "My flight is UA 932 at 6:10 a.m."},
    {"see www.github.com/ravlin/issues for details.",
     "See www.github.com/ravlin/issues for details."},
    {"the link is https://example.com/docs, check it out.",
     "The link is https://example.com/docs, check it out."},
    {"dr. smith said to take 2 pills a day.", "Dr. Smith said to take 2 pills a day."},
    {"it costs €40, pls pay by fri.", "It costs €40, please pay by Fri."},
    {"order 3x 500ml bottles.", "Order 3x 500 ml bottles."},
    {"meet mike at the cafe on 5th ave at 3pm.", "Meet Mike at the café on 5th Ave at 3 p.m."},
    // Plain typos.
    {"we shoud bring teh report tomorow.", "We should bring the report tomorrow."},
    {"did you recieve my mesage abuot the new schedual",
     "Did you receive my message about the new schedule?"},
    {"teh meeting was moved too thursday becuase of the holliday",
     "The meeting was moved to Thursday because of the holiday"},
    {"alot of poeple dont no about this", "A lot of people don't know about this."},
    {"its raining so were staying in tonite", "It's raining, so we're staying in tonight."},
    {"i relly dnot knwo waht too doo", "I really don't know what to do"},
    {"the weather is nice todya, lets go for a wlak in teh park",
     "The weather is nice today, let's go for a walk in the park."},
    {"i sent it. we meet at noon", "I sent it. We meet at noon."},
};

TEST(PolishAnswers, GenuineCorrectionsAreAppliedWithEverySentenceThePersonTyped) {
    Rig rig;
    int applied = 0;
    int refused = 0;
    for (const Pair& pair : kGenuine) {
        SCOPED_TRACE(pair.typed);
        const Observed seen = polish(rig, pair);
        const std::u16string typed = text::toUtf16(pair.typed);
        const bool corrected = seen.result.outcome.kind == Outcome::Kind::corrected ||
                               seen.result.outcome.kind == Outcome::Kind::unchanged;
        (corrected ? applied : refused) += 1;
        EXPECT_TRUE(corrected) << seen.result.outcome.reason;
        EXPECT_EQ(text::toUtf8(seen.result.output),
                  text::toUtf8(landed(typed, text::toUtf16(pair.answer))));
        // Nothing of the answer is held back while it streams but what is still unknown.
        for (const std::u16string& partial : seen.partials) {
            EXPECT_TRUE(text::toUtf16(pair.answer).starts_with(partial)) << text::toUtf8(partial);
        }
    }
    std::printf("genuine corrections: %d applied, %d refused\n", applied, refused);
    EXPECT_GE(applied, 100);
}

// ---- The rest of a sentence, sent after its opening
// ----------------------------------------------

// The opening went out alone at a pause at its comma; the rest goes out with it as context. A
// model may answer the rest with the opening put back in front of it, corrected.
struct Rest {
    const char* context;
    const char* typed;
    const char* answer;
    const char* lands;
};

const Rest kRests[] = {
    {"when ur done,", " send it over and ill take a look.",
     "When you're done, send it over and I'll take a look.", " send it over and I'll take a look."},
    {"If its ok with u,", " ill leave early today.", "If it's ok with you, I'll leave early today.",
     " I'll leave early today."},
    {"I sent the report. when ur done,", " send it bak.", "When you're done, send it back.",
     " send it back."},
    {"Thanks for the help,", " ur the best.", "you're the best.", " you're the best."},
};

// A capital the model gives the rest after a comma, as for a sentence's start, goes back to the
// person's small letter; a word always written with one keeps it.
const Rest kRestsCapitalised[] = {
    {"Thx for the help,", " ur the best.", "You're the best.", " you're the best."},
    {"After the standup,", " can we sync on teh roadmap?", "Can we sync on the roadmap?",
     " can we sync on the roadmap?"},
    {"Sure thing;", " ill send the files tonight.", "I'll send the files tonight.",
     " I'll send the files tonight."},
    {"I told Sarah -", " sarah will call u.", "Sarah will call you.", " Sarah will call you."},
    {"See you soon,", " monday works for me.", "Monday works for me.", " Monday works for me."},
};

void expectRestsLand(std::span<const Rest> rests) {
    Rig rig;
    for (const Rest& rest : rests) {
        SCOPED_TRACE(std::string(rest.context) + " + " + rest.typed);
        const Observed seen = polish(rig, {rest.typed, rest.answer}, text::toUtf16(rest.context));
        EXPECT_EQ(seen.result.outcome.kind, Outcome::Kind::corrected) << seen.result.outcome.reason;
        EXPECT_EQ(text::toUtf8(seen.result.output), rest.lands);
        for (const std::u16string& partial : seen.partials) {
            EXPECT_TRUE(text::toUtf16(rest.lands).starts_with(partial)) << text::toUtf8(partial);
        }
    }
}

TEST(PolishAnswers, TheRestOfASentenceLandsWithoutItsOpening) {
    expectRestsLand(kRests);
}

TEST(PolishAnswers, TheRestOfASentenceKeepsThePersonsSmallFirstLetter) {
    expectRestsLand(kRestsCapitalised);
}

// ---- A piece of a sentence, sent at a pause at its mark --------------------------------------

// The person stopped after a comma, a semicolon, a colon or a dash, and the piece went out alone.
// A model may answer it as a fragment to finish, ending it with a full stop or with no mark; the
// mark is the person's and stays, on screen while the answer streams and where it lands. The
// rest, sent after it with the piece as it landed for context and answered as a sentence of its
// own, goes on with the case the sentence gives it.
struct Piece {
    const char* typed;
    const char* answer;  // each row is answered ending with a full stop, no mark, and the mark
    const char* lands;
    const char* rest;
    const char* restAnswer;
    const char* restLands;
};

const Piece kPieces[] = {
    {"when the tests pass,", "When the tests pass", "When the tests pass,", " merge it into main.",
     "Merge it into main.", " merge it into main."},
    {"its getting late;", "It's getting late", "It's getting late;", " lets call it a day.",
     "Let's call it a day.", " let's call it a day."},
    {"one more thing:", "One more thing", "One more thing:", " ill be late tmrw.",
     "I'll be late tomorrow.", " I'll be late tomorrow."},
    // Paused after the space that follows a dash, as the idle wait sends it.
    {"we could ship it today - ", "We could ship it today", "We could ship it today - ",
     "if the tests pass.", "If the tests pass.", "if the tests pass."},
    // Corrected words, a word typed twice taken out.
    {"i relly think so,", "I really think so", "I really think so,", " but lets ask.",
     "But let's ask.", " but let's ask."},
    {"can u send the the file -", "Can you send the file", "Can you send the file -",
     " the big one.", "The big one.", " the big one."},
    {"if ur free tmrw:", "If you're free tomorrow", "If you're free tomorrow:", " ill call u.",
     "I'll call you.", " I'll call you."},
};

// The mark a piece ends with, with the space typed before it.
std::u16string markOf(std::u16string_view typed) {
    const std::u16string trimmed = text::trimmed(typed);
    const std::size_t from = trimmed.size() >= 2 && trimmed[trimmed.size() - 2] == u' '
                                 ? trimmed.size() - 2
                                 : trimmed.size() - 1;
    return trimmed.substr(from);
}

TEST(PolishAnswers, APiecesMarkStaysAndTheRestGoesOnInItsCase) {
    Rig rig;
    int kept = 0;
    int lost = 0;
    int refused = 0;
    int rests = 0;
    int restsInCase = 0;
    for (const Piece& piece : kPieces) {
        const std::u16string typed = text::toUtf16(piece.typed);
        const std::u16string mark = markOf(typed);
        for (const std::u16string& ending : {std::u16string(u"."), std::u16string(), mark}) {
            const std::string answer = piece.answer + text::toUtf8(ending);
            SCOPED_TRACE(std::string(piece.typed) + " -> " + answer);
            const Observed seen = polish(rig, {piece.typed, answer.c_str()});
            const bool applied = seen.result.outcome.kind == Outcome::Kind::corrected;
            (!applied                                           ? refused
             : seen.result.output == text::toUtf16(piece.lands) ? kept
                                                                : lost) += 1;
            EXPECT_TRUE(applied) << seen.result.outcome.reason;
            EXPECT_EQ(text::toUtf8(seen.result.output), piece.lands);
            // What the person sees while it streams: the answer so far, then the rest of what
            // they typed, their mark last.
            for (const std::u16string& partial : seen.partials) {
                const auto shown = QNModelCorrectionProgress::displayText(typed, partial);
                EXPECT_TRUE(shown && text::trimmed(*shown).ends_with(text::trimmed(mark)))
                    << text::toUtf8(partial);
            }
            const Observed rest = polish(rig, {piece.rest, piece.restAnswer}, seen.result.output);
            EXPECT_TRUE(rest.result.outcome.kind == Outcome::Kind::corrected ||
                        rest.result.outcome.kind == Outcome::Kind::unchanged)
                << rest.result.outcome.reason;
            EXPECT_EQ(text::toUtf8(rest.result.output), piece.restLands);
            ++rests;
            restsInCase += text::toUtf8(rest.result.output) == piece.restLands ? 1 : 0;
        }
    }
    std::printf(
        "pieces answered as fragments: %d applied with the person's mark, %d without it, "
        "%d refused; the rests after them: %d of %d in the sentence's case\n",
        kept, lost, refused, restsInCase, rests);
}

// An answer to a piece that leaves one of its words out with nothing in its place is a cut, not
// a correction: refused, whatever it ends with (a full stop, no mark, the person's mark).
const Pair kCutPieces[] = {
    {"when the tests pass,", "When tests pass"},
    {"its getting late;", "It's getting"},
    {"one more thing:", "One thing"},
    {"we could ship it today - ", "We could ship it"},
};

TEST(PolishAnswers, AnAnswerThatCutsAWordOutOfAPieceIsRefused) {
    Rig rig;
    int refused = 0;
    int applied = 0;
    for (const Pair& pair : kCutPieces) {
        const std::u16string mark = markOf(text::toUtf16(pair.typed));
        for (const std::u16string& ending : {std::u16string(u"."), std::u16string(), mark}) {
            const std::string answer = pair.answer + text::toUtf8(ending);
            SCOPED_TRACE(std::string(pair.typed) + " -> " + answer);
            const Observed seen = polish(rig, {pair.typed, answer.c_str()});
            (seen.result.outcome.kind == Outcome::Kind::corrected ? applied : refused) += 1;
            EXPECT_EQ(seen.result.outcome.kind, Outcome::Kind::rejected);
            EXPECT_EQ(seen.result.outcome.reason, "not a correction (word dropped)");
        }
    }
    std::printf("pieces cut short: %d refused, %d applied\n", refused, applied);
}

// ---- Wrong answers ----------------------------------------------------------------------------

struct Wrong {
    const char* typed;
    const char* answer;
    // What lands: nothing (the answer is refused, saying why), or the answer without the words
    // the person did not write.
    const char* refusedAs;
    const char* lands;
};

const Wrong kWrong[] = {
    // A piece sent at a comma, finished by the model.
    {"i wont be able to make it,", "I won't be able to make it, I'm stuck at work.",
     "not a correction (words after the end)", nullptr},
    {"thx for the help,", "Thanks for the help, you're the best.",
     "not a correction (words after the end)", nullptr},
    {"pls call me when u land;", "Please call me when you land; I'll pick you up.",
     "not a correction (words after the end)", nullptr},
    // Sentences beyond the person's: a sign-off, a lead-in.
    {"we shoud go. see you.", "We should go. See you. Let me know if you need anything else.",
     nullptr, "We should go. See you."},
    {"i sent the report.", "I sent the report. Would you like me to send it to anyone else?",
     nullptr, "I sent the report."},
    {"ok sounds good.", "Sure! Okay, sounds good.", nullptr, "Okay, sounds good."},
    {"lmk if u need anything else.", "Let me know if you need anything else. I hope this helps!",
     nullptr, "Let me know if you need anything else."},
    {"np, ill fix it tmrw morning.",
     "No problem, I'll fix it tomorrow morning. Let me know if there's anything else.", nullptr,
     "No problem, I'll fix it tomorrow morning."},
    {"we shoud go.", "Sure! Here is the corrected text: We should go.", nullptr, "We should go."},
    {"we shoud go.",
     "Here's the corrected version: We should go. I hope this helps! Let me know if you'd like "
     "any other changes.",
     nullptr, "We should go."},
    // A sentence of the model's own after the person's.
    {"we shoud go now.", "We should go now. See you soon!", nullptr, "We should go now."},
    {"thx for the update.", "Thanks for the update. Have a great day!", nullptr,
     "Thanks for the update."},
    {"thanks for the update.", "Thanks for the update. Talk soon!", nullptr,
     "Thanks for the update."},
    {"the slides r attached", "The slides are attached. Good luck with the pitch", nullptr,
     "The slides are attached"},
    {"we shoud go now. see u at 5.", "We should go now. Have a great day! See you at 5.",
     "not a correction (sentence added)", nullptr},
    {"ok. the file is attached.", "Okay. Great question! The file is attached.",
     "not a correction (sentence added)", nullptr},
    // A reply, a translation, the text cut or said again.
    {"ty!", "You're welcome!", "not a correction (most words replaced)", nullptr},
    {"je suis desole.", "I'm sorry.", "not a correction (most words replaced)", nullptr},
    {"gn, ttyl.", "Good night, talk to you later. Sleep well and sweet dreams!",
     "not a correction (far longer)", nullptr},
    {"we shoud bring teh report tomorow.", "We.", "not a correction (far shorter)", nullptr},
    {"we shoud bring teh report tomorow.",
     "The meeting has been cancelled and nobody needs to bring anything.",
     "not a correction (most words replaced)", nullptr},
    {"we shoud bring teh report tomorow.", "Wir sollten den Bericht morgen mitbringen.",
     "not a correction (most words replaced)", nullptr},
    {"we shoud bring teh report tomorow.",
     "We should bring the report tomorrow. We should bring the report tomorrow.",
     "not a correction (sentence repeated)", nullptr},
    {"cna you sned me teh fiel", "I'll send you the file right away, no worries!",
     "not a correction (words added)", nullptr},
    {"thx 4 the msg, ttyl.", "Thanks for the message about the quarterly budget review.",
     "not a correction (words added)", nullptr},
};

TEST(PolishAnswers, WrongAnswersAreRefusedOrLoseWhatThePersonDidNotWrite) {
    Rig rig;
    int refused = 0;
    int applied = 0;
    for (const Wrong& wrong : kWrong) {
        SCOPED_TRACE(std::string(wrong.typed) + " -> " + wrong.answer);
        const Observed seen = polish(rig, {wrong.typed, wrong.answer});
        const bool wrongLanded = seen.result.outcome.kind == Outcome::Kind::corrected &&
                                 seen.result.output == text::toUtf16(wrong.answer);
        (wrongLanded ? applied : refused) += 1;
        if (wrong.refusedAs != nullptr) {
            EXPECT_EQ(seen.result.outcome.kind, Outcome::Kind::rejected);
            EXPECT_EQ(seen.result.outcome.reason, wrong.refusedAs);
        } else {
            EXPECT_EQ(seen.result.outcome.kind, Outcome::Kind::corrected);
            EXPECT_EQ(text::toUtf8(seen.result.output), wrong.lands);
        }
    }
    std::printf("wrong answers: %d refused, %d applied\n", refused, applied);
}

}  // namespace
}  // namespace ravlin::e2e

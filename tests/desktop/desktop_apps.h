#pragma once

// Applications people use that nobody here wrote, for the suites that reach into them: GNOME's
// text editor (GTK 4), KWrite (KDE Frameworks), LibreOffice Writer (with its GTK 3 plugin, and
// without any) and Calc, and Chromium and Firefox on a page of ours (a text area, a text field, a
// password field, a field masked by its style, and a message of two paragraphs with a bold and
// an italic word, as web mail composes).
// Each is started at most once per test program, on first use, in a process group of its own
// with its files in a temporary folder, and ended with that group at exit.

#include <QProcess>
#include <QTemporaryDir>
#include <functional>
#include <map>
#include <optional>
#include <string>

#include "core/text/range.h"
#include "platform/accessibility.h"
#include "platform/keys.h"
#include "tests/support/loopback_http_server.h"

namespace ravlin::testing {

class DesktopApplication {
  public:
    enum class Kind {
        textEditor,  // gnome-text-editor
        kwrite,
        writer,       // LibreOffice Writer, its GTK 3 plugin
        plainWriter,  // LibreOffice Writer without a toolkit plugin (no accessibility)
        calc,         // LibreOffice Calc, its GTK 3 plugin, on a new sheet
        chromium,
        firefox,  // Firefox ESR, a fresh profile of its own, offline
        // The same browsers, each a second one of its own, on the pages of OneSite, page a first.
        chromiumOnSite,
        firefoxOnSite,
    };

    // Started on first use (at most once), ended at exit.
    static DesktopApplication& get(Kind kind);
    ~DesktopApplication();
    DesktopApplication(const DesktopApplication&) = delete;
    DesktopApplication& operator=(const DesktopApplication&) = delete;

    [[nodiscard]] const std::string& name() const { return name_; }
    // The process that owns its windows (a launcher may have started it).
    [[nodiscard]] platform::ProcessID pid() const { return pid_; }
    // Whether its window came up (and, but for the plain Writer, it is on the accessibility bus).
    [[nodiscard]] bool ready() const { return pid_ != 0; }

    // Brings it to the front with one of its fields focused and answers that field as the seams
    // see it: "document" in the editors and Writer; "area", "line", "password", "pin", "shown" and
    // "message" on the browsers' page. Empty when it could not. (Calc: use bringToFront and its
    // keys.)
    platform::ElementRef focus(const QString& field = QStringLiteral("document"));
    // The same, the field holding `text` (pasted over all it held) with `selection` selected.
    platform::ElementRef prepare(const std::u16string& text, text::Utf16Range selection,
                                 const QString& field = QStringLiteral("document"));
    // The browsers on OneSite: to `page` ('a' to 'e') by the site's own key for it, as a link
    // would (where it is not shown already); true once the title says it is shown.
    bool open(char page);
    // The element of the web page named `field` (its label), found again only once the one found
    // no longer answers.
    platform::ElementRef pageField(const QString& field);
    // The page shown loaded again (F5), as a person reloads it; true once the page says it is a
    // new load (pages d and e count their loads in their titles).
    bool reload();
    // Its window's place on the screen (y down), as the X server has it.
    [[nodiscard]] std::optional<platform::Rect> windowFrame() const;
    // Its window's title (the browsers' page says in it how long its password is, and what the
    // message holds).
    [[nodiscard]] QString windowTitle() const;

    // The browsers' page: the message as it first stood, focused, its caret at its start, once
    // the browser tells its text (`firstMessageText`).
    platform::ElementRef resetMessage();
    // The message's markup as the page says it in its title once it changed: "<p>We will
    // <b>recieve</b> the parcel.</p><p>It is <i>realy</i> late.</p>" at first.
    [[nodiscard]] QString messageMarkup() const;
    static constexpr const char* firstMessage =
        "<p>We will <b>recieve</b> the parcel.</p><p>It is <i>realy</i> late.</p>";
    static constexpr const char16_t* firstMessageText =
        u"We will recieve the parcel.\nIt is realy late.";
    // The mail: as the message, with F2, its markup said as "mail <p>...</table>"; `locked`,
    // with F4, a mail with a word in it nobody may edit; `linked`, with Shift+F2, one paragraph
    // with a link in it. Each with its text as the browsers tell it (a list item's bullet in it).
    enum class Mail { first, locked, linked };
    platform::ElementRef resetMail(Mail mail = Mail::first);
    [[nodiscard]] QString mailMarkup() const;
    static constexpr const char* firstMail =
        "<p>First of teh lines.</p><p>We will <b>recieve</b> it tomorrow.</p><ul><li>Bring teh "
        "form.</li></ul><p>See <a href=\"#t\">teh terms</a>.</p><table><tbody><tr><td>In teh "
        "cell</td><td>Other</td></tr></tbody></table>";
    static constexpr const char16_t* firstMailText =
        u"First of teh lines.\nWe will recieve it tomorrow.\n\u2022 Bring teh form.\nSee teh "
        u"terms.\nIn teh cell\nOther";
    static constexpr const char* lockedMail =
        "<p>One teh line.</p><p>We <span contenteditable=\"false\">teh</span> end.</p><p>Last "
        "teh line.</p>";
    static constexpr const char16_t* lockedMailText = u"One teh line.\nWe teh end.\nLast teh line.";
    static constexpr const char* linkedMail =
        "<p>See <a href=\"#t\">teh link</a> to recieve it.</p>";
    static constexpr const char16_t* linkedMailText = u"See teh link to recieve it.";

  private:
    explicit DesktopApplication(Kind kind);
    bool start();
    // Ends the application's whole process group, if it runs.
    void end();
    // The editor `name` of the page put back by its key as `first`, focused, once the browser
    // tells its text as `text`; `markup` reads it.
    platform::ElementRef resetEditor(const QString& name, const QString& first,
                                     const std::u16string& text, platform::KeyChord key,
                                     const std::function<QString()>& markup);
    // What the title says of the editor `name`: its markup.
    [[nodiscard]] QString markupOf(const QString& name) const;
    // Has Firefox gather where its elements stand (see the definition).
    bool warmUpPlaces();
    [[nodiscard]] bool isBrowser() const {
        return kind_ == Kind::chromium || kind_ == Kind::firefox || isOnSite();
    }
    [[nodiscard]] bool isOnSite() const {
        return kind_ == Kind::chromiumOnSite || kind_ == Kind::firefoxOnSite;
    }

    Kind kind_;
    std::string name_;
    QTemporaryDir folder_;
    QProcess process_;
    platform::ProcessID pid_ = 0;
    std::map<QString, platform::ElementRef> fields_;
};

// Three pages of one web site (one origin: one renderer in Chromium, as a web mail has), served
// from this machine until the program ends; each page's title is its name, and F2, F3 and F4 go
// to pages a, b and c as the site's links would:
// "/a" ("page a"): a web mail's editor "mail", a paragraph and a list of two items;
// "/b" ("page b"): a sign-in form, its "password" field (the title then says "page b N", N the
// number of characters it holds);
// "/c" ("page c"): a text input "line", empty (the title then says "page c N" as on page b);
// "/d" ("page d"): a sign-in form whose "password" input turns into a text input 1.5 s after it
// first takes the focus (a "show password" that acts on focus); the title says "page d N TYPE
// load L", N the characters it holds, TYPE "password" or "text", L how often the page was
// loaded in this browser's session, and then " focused" once the input has the focus;
// "/e" ("page e"): a text area "area", a text input "other" and a password input "secret", each
// input followed by a line of text (a click beside it puts the page's caret there); with
// Shift, F2 raises the page's own prompt, F3 goes to a sign-in the site asks for ("/login":
// the browser's own prompt for a name and a password, then "sign-in refused"), F4 moves the
// keyboard to "other" and F9 to "secret", each 1.5 s after the key; the title says "page e load
// L STATE A O S", L as on page d, STATE "ready", "armed", "prompting", "prompted N" (the length
// of the prompt's answer, or "none"), "moved", and A, O and S the lengths of the three fields'
// texts.
class OneSite {
  public:
    static OneSite& get();
    [[nodiscard]] std::string address(char page) const;

  private:
    OneSite();
    LoopbackHttpServer server_;
};

}  // namespace ravlin::testing

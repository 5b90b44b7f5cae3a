#include "desktop_apps.h"

#include <signal.h>
#include <unistd.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <memory>

#include "core/text/unicode.h"
#include "desktop_fixture.h"
#include "platform/keys.h"
#include "platform/linux/x11/xlib.h"
#include "tests/support/x_properties.h"

namespace ravlin::testing {
namespace {

namespace ax = platform::ax;

// LibreOffice's first start without its tips, its "what's new" and its setup questions.
constexpr const char* writerSettings = R"(<?xml version="1.0" encoding="UTF-8"?>
<oor:items xmlns:oor="http://openoffice.org/2001/registry" xmlns:xs="http://www.w3.org/2001/XMLSchema" xmlns:xsi="http://www.w3.org/2001/XMLSchema-instance">
<item oor:path="/org.openoffice.Office.Common/Misc"><prop oor:name="ShowTipOfTheDay" oor:op="fuse"><value>false</value></prop></item>
<item oor:path="/org.openoffice.Office.Common/Misc"><prop oor:name="FirstRun" oor:op="fuse"><value>false</value></prop></item>
<item oor:path="/org.openoffice.Setup/Office"><prop oor:name="ooSetupInstCompleted" oor:op="fuse"><value>true</value></prop></item>
<item oor:path="/org.openoffice.Setup/Product"><prop oor:name="ooSetupLastVersion" oor:op="fuse"><value>99.0</value></prop></item>
</oor:items>
)";

// The page the browsers show: each field named by its label, as the accessibility bus names it.
// The title says how many characters the password field, or the field masked by its style (as
// PIN pages do), holds (the only thing a test may know of them): "password N", "pin N"; and,
// once the message changed, its markup and how many times an editor was put back: "message
// <p>...</p> N" (a title of its own for each putting back, of the same markup too). F9 puts the
// message back as it first stood and focuses it (its caret at its start). The mail beside it
// (paragraphs, a bold word, a list, a link, a table; no role of its own, as web mail writes it)
// says its markup the same way, "mail <p>...</table> N"; F2 puts it back and focuses it, F4 puts
// there a mail with a word nobody may edit (contenteditable="false") and focuses it, Shift+F2
// one paragraph with a link in it. The field "shown" is a password input whose "show password"
// is F8 (its type made text; F7 makes it a password input again); the title says "shown N
// password" or "shown N text".
constexpr const char* page = R"(<!doctype html>
<html><head><meta charset="utf-8"><title>password 0</title></head>
<body style="font: 16px sans-serif">
<p><textarea aria-label="area" rows="4" cols="50">hello world</textarea></p>
<p><input aria-label="line" type="text" size="50" value="hello world"></p>
<p><input aria-label="password" type="password" size="50"
          oninput="document.title = 'password ' + this.value.length"></p>
<p><input aria-label="pin" type="text" size="50" style="-webkit-text-security: disc"
          oninput="document.title = 'pin ' + this.value.length"></p>
<div aria-label="message" role="textbox" aria-multiline="true" contenteditable="true"
     style="border: 1px solid #888; padding: 2px 4px"></div>
<div aria-label="mail" contenteditable="true" style="border: 1px solid #888; padding: 2px 4px"></div>
<p><input aria-label="shown" type="password" size="50"></p>
<script>
const shown = document.querySelector('[aria-label="shown"]');
function tellShown() { document.title = 'shown ' + shown.value.length + ' ' + shown.type; }
shown.addEventListener('input', tellShown);
const message = document.querySelector('[aria-label="message"]');
const first = '<p>We will <b>recieve</b> the parcel.</p><p>It is <i>realy</i> late.</p>';
message.innerHTML = first;
let resets = 0;
new MutationObserver(() => { document.title = 'message ' + message.innerHTML + ' ' + resets; })
    .observe(message, {subtree: true, childList: true, characterData: true});
const mail = document.querySelector('[aria-label="mail"]');
const firstMail = '%MAIL%';
const lockedMail = '%LOCKED%';
const linkedMail = '%LINKED%';
mail.innerHTML = firstMail;
new MutationObserver(() => { document.title = 'mail ' + mail.innerHTML + ' ' + resets; })
    .observe(mail, {subtree: true, childList: true, characterData: true});
document.addEventListener('keydown', (event) => {
  if (event.key === 'F8' || event.key === 'F7') {
    event.preventDefault();
    shown.type = event.key === 'F8' ? 'text' : 'password';
    tellShown();
  }
  if (event.key === 'F9' || event.key === 'F2' || event.key === 'F4') {
    event.preventDefault();
    const field = event.key === 'F9' ? message : mail;
    resets += 1;
    field.innerHTML = event.key === 'F9' ? first : event.key === 'F4' ? lockedMail
                    : event.shiftKey ? linkedMail : firstMail;
    field.focus();
    document.getSelection().collapse(field.firstChild, 0);
  }
});
</script>
</body></html>
)";

// Firefox's preferences for a profile of the suite's: the page's elements on the accessibility
// bus (as a screen reader would have them), and nothing that goes out to the network or opens
// a window of its own (first-run pages, updates, telemetry, default-browser questions); every
// connection goes to a closed port on this machine, but those to a page served here.
constexpr const char* firefoxPreferences = R"(
user_pref("accessibility.force_disabled", -1);
user_pref("app.normandy.enabled", false);
user_pref("app.update.disabledForTesting", true);
user_pref("browser.aboutwelcome.enabled", false);
user_pref("browser.newtab.preload", false);
user_pref("browser.newtabpage.enabled", false);
user_pref("browser.safebrowsing.malware.enabled", false);
user_pref("browser.safebrowsing.phishing.enabled", false);
user_pref("browser.sessionstore.resume_from_crash", false);
user_pref("browser.shell.checkDefaultBrowser", false);
user_pref("browser.startup.firstrunSkipsHomepage", true);
user_pref("browser.startup.homepage_override.mstone", "ignore");
user_pref("browser.startup.page", 0);
user_pref("browser.tabs.warnOnClose", false);
user_pref("datareporting.healthreport.uploadEnabled", false);
user_pref("datareporting.policy.dataSubmissionEnabled", false);
user_pref("datareporting.policy.firstRunURL", "");
user_pref("extensions.update.enabled", false);
user_pref("network.captive-portal-service.enabled", false);
user_pref("network.connectivity-service.enabled", false);
user_pref("network.proxy.type", 1);
user_pref("network.proxy.http", "127.0.0.1");
user_pref("network.proxy.http_port", 9);
user_pref("network.proxy.ssl", "127.0.0.1");
user_pref("network.proxy.ssl_port", 9);
user_pref("network.proxy.no_proxies_on", "127.0.0.1");
user_pref("network.proxy.allow_hijacking_localhost", false);
user_pref("startup.homepage_welcome_url", "");
user_pref("startup.homepage_welcome_url.additional", "");
user_pref("toolkit.startup.max_resumed_crashes", -1);
user_pref("toolkit.telemetry.enabled", false);
user_pref("toolkit.telemetry.reportingpolicy.firstRun", false);
)";

// Where Firefox's window first stands, as it keeps it in its profile.
constexpr const char* firefoxWindow =
    R"({"chrome://browser/content/browser.xhtml":{"main-window":)"
    R"({"screenX":"40","screenY":"40","width":"900","height":"700","sizemode":"normal"}}})";

// The page with the mail's first markup in its script.
QByteArray pageText() {
    return QByteArray(page)
        .replace("%MAIL%", DesktopApplication::firstMail)
        .replace("%LOCKED%", DesktopApplication::lockedMail)
        .replace("%LINKED%", DesktopApplication::linkedMail);
}

bool write(const QString& path, const QByteArray& contents) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(contents) == contents.size();
}

// A window of the process group `group` on screen: the first one the window manager lists.
std::optional<std::pair<Window, platform::ProcessID>> windowOfGroup(Display* display,
                                                                     pid_t group) {
    const Atom clients = XInternAtom(display, "_NET_CLIENT_LIST", False);
    const Atom pidAtom = XInternAtom(display, "_NET_WM_PID", False);
    for (const auto window : cardinalsOf(display, DefaultRootWindow(display), clients, XA_WINDOW)) {
        const auto pid = cardinalsOf(display, window, pidAtom, XA_CARDINAL);
        if (pid.size() == 1 && ::getpgid(static_cast<pid_t>(pid.front())) == group) {
            return std::pair{static_cast<Window>(window), static_cast<platform::ProcessID>(pid.front())};
        }
    }
    return std::nullopt;
}

// F9, F2 and F4 (their virtual key codes), the page's keys that put the message and the mail
// back, and the mail with a word locked (Shift+F2: the mail with a link).
constexpr std::uint32_t f9KeyCode = 101;
constexpr std::uint32_t f2KeyCode = 120;
constexpr std::uint32_t f4KeyCode = 118;
constexpr std::uint32_t f3KeyCode = 99;
constexpr std::uint32_t f5KeyCode = 96;
constexpr std::uint32_t f8KeyCode = 100;

bool isTextRole(const std::optional<std::u16string>& role) {
    return role == u"AXTextArea" || role == u"AXTextField" || role == u"AXSecureTextField";
}

}  // namespace

DesktopApplication& DesktopApplication::get(Kind kind) {
    static std::map<Kind, std::unique_ptr<DesktopApplication>>* started = [] {
        auto* made = new std::map<Kind, std::unique_ptr<DesktopApplication>>();
        std::atexit([] {
            // Before the desktop's seams go.
            for (auto& [kind, application] : *started) {
                application.reset();
            }
        });
        return made;
    }();
    auto& slot = (*started)[kind];
    if (!slot) {
        slot.reset(new DesktopApplication(kind));
    }
    return *slot;
}

DesktopApplication::DesktopApplication(Kind kind) : kind_(kind) {
    static const std::map<Kind, std::string> names = {
        {Kind::textEditor, "GNOME Text Editor"},
        {Kind::kwrite, "KWrite"},
        {Kind::writer, "LibreOffice Writer"},
        {Kind::plainWriter, "LibreOffice Writer without its GTK plugin"},
        {Kind::calc, "LibreOffice Calc"},
        {Kind::chromium, "Chromium"},
        {Kind::firefox, "Firefox"},
        {Kind::chromiumOnSite, "Chromium on a site"},
        {Kind::firefoxOnSite, "Firefox on a site"},
    };
    name_ = names.at(kind);
    // Started again once where it did not come up: an application that shows no window at all
    // within a minute of a busy machine is stuck in its own start, as a person would find it.
    for (int attempt = 0; attempt < 2 && pid_ == 0; ++attempt) {
        QElapsedTimer clock;
        clock.start();
        const bool up = start();
        std::printf("measure: %s up in %lld ms\n", name_.c_str(),
                    static_cast<long long>(clock.elapsed()));
        if (!up) {
            std::fprintf(stderr, "%s did not come up (%s): %s\n", name_.c_str(),
                         process_.state() == QProcess::NotRunning ? "it ended" : "still running",
                         process_.readAllStandardError().right(2000).constData());
            end();
            pid_ = 0;
        }
    }
}

DesktopApplication::~DesktopApplication() { end(); }

void DesktopApplication::end() {
    if (process_.state() == QProcess::NotRunning) {
        return;
    }
    // The whole group: launchers leave the application in a child of theirs.
    const auto group = static_cast<pid_t>(process_.processId());
    ::kill(-group, SIGTERM);
    if (!process_.waitForFinished(5000) ||
        !waitUntil([&] { return ::kill(-group, 0) != 0; }, 3s)) {
        ::kill(-group, SIGKILL);
        process_.waitForFinished(3000);
    }
}

bool DesktopApplication::start() {
    if (!folder_.isValid()) {
        return false;
    }
    const QString folder = folder_.path();
    const QString document = folder + QStringLiteral("/document.txt");
    if (!write(document, "hello world\n")) {
        return false;
    }
    QString program;
    QStringList arguments;
    auto environment = QProcessEnvironment::systemEnvironment();
    switch (kind_) {
        case Kind::textEditor:
            program = QStringLiteral("gnome-text-editor");
            arguments = {QStringLiteral("--standalone"), document};
            break;
        case Kind::kwrite:
            program = QStringLiteral("kwrite");
            arguments = {document};
            break;
        case Kind::writer:
        case Kind::plainWriter:
        case Kind::calc: {
            const QString profile = folder + QStringLiteral("/profile");
            if (!QDir().mkpath(profile + QStringLiteral("/user")) ||
                !write(profile + QStringLiteral("/user/registrymodifications.xcu"),
                       writerSettings)) {
                return false;
            }
            const bool calc = kind_ == Kind::calc;
            program = calc ? QStringLiteral("localc") : QStringLiteral("lowriter");
            arguments = {QStringLiteral("--norestore"), QStringLiteral("--nologo"),
                         QStringLiteral("-env:UserInstallation=file://") + profile};
            if (!calc) {
                arguments << document;
            }
            environment.insert(QStringLiteral("SAL_USE_VCLPLUGIN"),
                               kind_ == Kind::plainWriter ? QStringLiteral("gen")
                                                          : QStringLiteral("gtk3"));
            break;
        }
        case Kind::chromium:
        case Kind::chromiumOnSite: {
            const QString html = folder + QStringLiteral("/page.html");
            if (!write(html, pageText())) {
                return false;
            }
            program = QStringLiteral("chromium");
            // Chromium shows a page's elements on the accessibility bus only where told to (a
            // screen reader tells it; here, the switch).
            arguments = {QStringLiteral("--force-renderer-accessibility"),
                         QStringLiteral("--no-sandbox"),
                         QStringLiteral("--user-data-dir=") + folder + QStringLiteral("/chromium"),
                         QStringLiteral("--no-first-run"),
                         QStringLiteral("--no-default-browser-check"),
                         QStringLiteral("--disable-gpu"),
                         QStringLiteral("--password-store=basic"),
                         QStringLiteral("--disable-background-networking"),
                         QStringLiteral("--disable-component-update"),
                         QStringLiteral("--window-position=40,40"),
                         QStringLiteral("--window-size=900,700"),
                         isOnSite() ? QString::fromStdString(OneSite::get().address('a'))
                                    : QStringLiteral("file://") + html};
            break;
        }
        case Kind::firefox:
        case Kind::firefoxOnSite: {
            const QString html = folder + QStringLiteral("/page.html");
            const QString profile = folder + QStringLiteral("/firefox");
            if (!write(html, pageText()) || !QDir().mkpath(profile) ||
                !write(profile + QStringLiteral("/user.js"), firefoxPreferences) ||
                !write(profile + QStringLiteral("/xulstore.json"), firefoxWindow)) {
                return false;
            }
            program = QStringLiteral("firefox-esr");
            arguments = {QStringLiteral("--no-remote"), QStringLiteral("--new-instance"),
                         QStringLiteral("--profile"), profile,
                         isOnSite() ? QString::fromStdString(OneSite::get().address('a'))
                                    : QStringLiteral("file://") + html};
            // (GTK's switch for accessibility, which Firefox reads too)
            environment.insert(QStringLiteral("GNOME_ACCESSIBILITY"), QStringLiteral("1"));
            environment.insert(QStringLiteral("MOZ_CRASHREPORTER_DISABLE"), QStringLiteral("1"));
            break;
        }
    }
    process_.setProcessEnvironment(environment);
    process_.setStandardInputFile(QProcess::nullDevice());
    process_.setStandardOutputFile(QProcess::nullDevice());
    process_.setChildProcessModifier([] { ::setpgid(0, 0); });
    process_.start(program, arguments);
    if (!process_.waitForStarted(10000)) {
        return false;
    }
    const auto group = static_cast<pid_t>(process_.processId());
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) {
        return false;
    }
    std::optional<std::pair<Window, platform::ProcessID>> window;
    waitUntil([&] { return bool(window = windowOfGroup(display, group)); }, 60s);
    XCloseDisplay(display);
    if (!window) {
        return false;
    }
    pid_ = window->second;
    auto& desktop = Desktop::get();
    if (kind_ != Kind::plainWriter &&
        !waitUntil(
            [&] { return desktop.seams.accessibility->applicationElement(pid_).hasValue(); },
            30s)) {
        return false;
    }
    if ((kind_ == Kind::firefox || kind_ == Kind::firefoxOnSite) && !warmUpPlaces()) {
        return false;
    }
    return desktop.bringToFrontPersistently(pid_);
}

bool DesktopApplication::warmUpPlaces() {
    // Firefox gathers where its elements and their characters stand only once someone asks:
    // the first question of each kind is answered with nothing (as a person's first shortcut
    // after Firefox started would be).
    auto& accessibility = *Desktop::get().seams.accessibility;
    platform::ElementRef line;
    const QString field = isOnSite() ? QStringLiteral("mail") : QStringLiteral("line");
    return waitUntil([&] { return bool(line = pageField(field)); }, 20s) &&
           waitUntil(
               [&] {
                   return accessibility.attribute(line, ax::position).hasValue() &&
                          accessibility
                              .parameterizedAttribute(
                                  line, ax::boundsForRange,
                                  platform::AttributeValue(text::Utf16Range{0, 1}))
                              .hasValue();
               },
               10s);
}

QString DesktopApplication::windowTitle() const {
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) {
        return {};
    }
    QString title;
    if (const auto window = windowOfGroup(display, static_cast<pid_t>(process_.processId()))) {
        title = QString::fromStdString(titleOf(display, window->first));
    }
    XCloseDisplay(display);
    return title;
}

QString DesktopApplication::markupOf(const QString& name) const {
    // (up to its last tag's end: the browser's name after it holds none)
    const QString title = windowTitle();
    const QString start = name + QStringLiteral(" ");
    const auto end = title.lastIndexOf(QLatin1Char('>'));
    if (!title.startsWith(start) || end < 0) {
        return {};
    }
    return title.mid(start.size(), end + 1 - start.size());
}

QString DesktopApplication::messageMarkup() const {
    return markupOf(QStringLiteral("message"));
}

QString DesktopApplication::mailMarkup() const {
    return markupOf(QStringLiteral("mail"));
}

platform::ElementRef DesktopApplication::resetMessage() {
    return resetEditor(QStringLiteral("message"), QString::fromLatin1(firstMessage),
                       firstMessageText, {f9KeyCode, 0}, [this] { return messageMarkup(); });
}

platform::ElementRef DesktopApplication::resetMail(Mail mail) {
    const char* markup = mail == Mail::locked   ? lockedMail
                         : mail == Mail::linked ? linkedMail
                                                : firstMail;
    const char16_t* text = mail == Mail::locked   ? lockedMailText
                           : mail == Mail::linked ? linkedMailText
                                                  : firstMailText;
    const platform::KeyChord key{mail == Mail::locked ? f4KeyCode : f2KeyCode,
                                 mail == Mail::linked ? platform::modifier::shift : 0u};
    return resetEditor(QStringLiteral("mail"), QString::fromLatin1(markup), text, key,
                       [this] { return mailMarkup(); });
}

platform::ElementRef DesktopApplication::resetEditor(const QString& name, const QString& first,
                                                     const std::u16string& text,
                                                     platform::KeyChord key,
                                                     const std::function<QString()>& markup) {
    auto& desktop = Desktop::get();
    const auto field = focus(name);
    if (!field) {
        return {};
    }
    // The page's own key, once: the markup written anew shows in a title of its own, the editor
    // has the focus again, and the browser tells the new text a moment later (until then a
    // place in it is a place in the old one). Never pressed again: a busy browser takes a key
    // late, and a second putting back would come after the caller set the editor up.
    const QString before = windowTitle();
    if (!desktop.seams.keySynthesis->postKeyPress(key).ok()) {
        return {};
    }
    if (!waitUntil([&] {
            return windowTitle() != before && markup() == first &&
                   desktop.focusedOf(pid_) == field && desktop.value(field) == text;
        })) {
        std::fprintf(stderr, "%s: the %s is \"%s\" (title \"%s\"), its text \"%s\"\n",
                     name_.c_str(), name.toUtf8().constData(), markup().toUtf8().constData(),
                     windowTitle().toUtf8().constData(),
                     text::toUtf8(desktop.value(field)).c_str());
        return {};
    }
    return field;
}

std::optional<platform::Rect> DesktopApplication::windowFrame() const {
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) {
        return std::nullopt;
    }
    std::optional<platform::Rect> frame;
    if (const auto window = windowOfGroup(display, static_cast<pid_t>(process_.processId()))) {
        Window root = 0;
        Window child = 0;
        int x = 0;
        int y = 0;
        unsigned width = 0;
        unsigned height = 0;
        unsigned border = 0;
        unsigned depth = 0;
        if (XGetGeometry(display, window->first, &root, &x, &y, &width, &height, &border,
                         &depth) != 0 &&
            XTranslateCoordinates(display, window->first, root, 0, 0, &x, &y, &child) != 0) {
            frame = platform::makeRect(x, y, width, height);
        }
    }
    XCloseDisplay(display);
    return frame;
}

platform::ElementRef DesktopApplication::pageField(const QString& field) {
    auto& accessibility = *Desktop::get().seams.accessibility;
    if (const auto known = fields_.find(field); known != fields_.end()) {
        // (where it no longer answers, the page has put a new one in its place: Firefox does when
        // an input's type changes)
        if (accessibility.attribute(known->second, ax::position).hasValue()) {
            return known->second;
        }
        fields_.erase(known);
    }
    const auto app = accessibility.applicationElement(pid_);
    if (!app) {
        return {};
    }
    // Breadth first through the browser's elements, bounded: the page lies a few levels down.
    std::deque<platform::ElementRef> waiting{*app};
    const std::u16string label = field.toStdU16String();
    for (int visited = 0; !waiting.empty() && visited < 5000; ++visited) {
        const auto element = waiting.front();
        waiting.pop_front();
        if (platform::textAttribute(accessibility, element, ax::title) == label &&
            isTextRole(platform::textAttribute(accessibility, element, ax::role))) {
            return fields_[field] = element;
        }
        for (const auto child : platform::elementListAttribute(accessibility, element, ax::children)) {
            waiting.push_back(child);
        }
    }
    return {};
}

platform::ElementRef DesktopApplication::focus(const QString& field) {
    auto& desktop = Desktop::get();
    auto& accessibility = *desktop.seams.accessibility;
    if (!ready() || !desktop.bringToFrontPersistently(pid_)) {
        return {};
    }
    if (isBrowser()) {
        // (the page may still be loading)
        platform::ElementRef element;
        waitUntil([&] { return bool(element = pageField(field)); });
        if (!element) {
            std::fprintf(stderr, "%s: no field \"%s\" on the page\n", name_.c_str(),
                         field.toUtf8().constData());
            return {};
        }
        // (asked once, then waited for: asked again each second, a Firefox just started
        // refused it every time; but one whose page is still coming refuses the ask itself at
        // times: asked again once the focus has not shown for a while)
        std::string refusal;
        const auto shown = [&] { return desktop.focusedOf(pid_) == element; };
        const bool asked = waitUntil([&] {
            if (shown()) {
                return true;
            }
            const auto grabbed =
                accessibility.setAttribute(element, ax::focused, platform::AttributeValue(true));
            refusal = grabbed.ok() ? std::string() : grabbed.error().message;
            return grabbed.ok() || waitUntil(shown, 3s);
        });
        if (!asked || !waitUntil(shown)) {
            if (!refusal.empty()) {
                std::fprintf(stderr, "%s: the field \"%s\" took no focus: %s\n", name_.c_str(),
                             field.toUtf8().constData(), refusal.c_str());
            }
            const auto last = desktop.focusedOf(pid_);
            std::fprintf(stderr, "%s: the field \"%s\" did not show the focus; %s has it\n",
                         name_.c_str(), field.toUtf8().constData(),
                         last ? text::toUtf8(platform::textAttribute(accessibility, last, ax::role)
                                                 .value_or(u"an element without a role"))
                                    .c_str()
                              : "nothing");
            return {};
        }
        return element;
    }
    platform::ElementRef found;
    const bool focused = waitUntil([&] {
        found = desktop.focusedOf(pid_);
        return found && isTextRole(platform::textAttribute(accessibility, found, ax::role));
    });
    if (!focused) {
        const auto last = desktop.focusedOf(pid_);
        std::fprintf(stderr, "%s: the focused element is %s\n", name_.c_str(),
                     last ? text::toUtf8(platform::textAttribute(accessibility, last, ax::role)
                                             .value_or(u"without a role"))
                                .c_str()
                          : "none");
    }
    return focused ? found : platform::ElementRef{};
}

platform::ElementRef DesktopApplication::prepare(const std::u16string& text,
                                                 text::Utf16Range selection,
                                                 const QString& field) {
    auto& desktop = Desktop::get();
    auto element = focus(field);
    if (!element) {
        return {};
    }
    // The field as the application has it now (Writer makes its paragraphs anew when text is
    // pasted over several of them).
    const auto current = [&] { return isBrowser() ? element : desktop.focusedOf(pid_); };
    namespace keycode = platform::keycode;
    namespace modifier = platform::modifier;
    auto& keys = *desktop.seams.keySynthesis;
    // Pasted again only where the application pasted something else (what it held itself) or
    // nothing at all: a browser busy under load takes the keys late, and a paste sent again
    // meanwhile would land after the selection below was set.
    for (int attempt = 0; attempt < 3 && desktop.value(current()) != text; ++attempt) {
        const auto before = desktop.value(current());
        if (!desktop.seams.pasteboard->setString(text).ok() ||
            !keys.postKeyPress({keycode::a, modifier::command}).ok() ||
            !keys.postKeyPress({keycode::v, modifier::command}).ok()) {
            return {};
        }
        waitUntil([&] {
            const auto now = desktop.value(current());
            return now == text || (now != before &&
                                   !waitUntil([&] { return desktop.value(current()) != now; }, 1s));
        });
    }
    element = current();
    if (desktop.value(element) != text) {
        std::fprintf(stderr, "%s: the field holds \"%s\"\n", name_.c_str(),
                     text::toUtf8(desktop.value(element)).c_str());
        return {};
    }
    return desktop.select(element, selection) ? element : platform::ElementRef{};
}

bool DesktopApplication::open(char page) {
    auto& desktop = Desktop::get();
    static const std::map<char, std::uint32_t> keys = {{'a', f2KeyCode}, {'b', f3KeyCode},
                                                       {'c', f4KeyCode}, {'d', f9KeyCode},
                                                       {'e', f8KeyCode}};
    if (!isOnSite() || !keys.contains(page) || !desktop.bringToFrontPersistently(pid_)) {
        return false;
    }
    const QString title = QStringLiteral("page ") + QLatin1Char(page);
    if (windowTitle().startsWith(title)) {
        // (shown already: loaded again, its fields would still answer a moment as they go)
        return true;
    }
    fields_.clear();
    for (int attempt = 0; attempt < 3; ++attempt) {
        if (!desktop.seams.keySynthesis->postKeyPress({keys.at(page), 0}).ok()) {
            return false;
        }
        if (waitUntil([&] { return windowTitle().startsWith(title); })) {
            return true;
        }
    }
    std::fprintf(stderr, "%s: page %c did not show (title \"%s\")\n", name_.c_str(), page,
                 windowTitle().toUtf8().constData());
    return false;
}

bool DesktopApplication::reload() {
    auto& desktop = Desktop::get();
    const QString title = windowTitle();
    const auto at = title.indexOf(QStringLiteral(" load "));
    if (!isOnSite() || at < 0 || !desktop.bringToFrontPersistently(pid_)) {
        return false;
    }
    const auto loads = [](const QString& title) {
        const auto at = title.indexOf(QStringLiteral(" load "));
        return at < 0 ? -1 : title.mid(at + 6).section(QLatin1Char(' '), 0, 0).toInt();
    };
    const int before = loads(title);
    fields_.clear();
    // (a key that came while a busy browser was still taking the keyboard may go nowhere: a
    // person presses it again)
    for (int press = 0; press < 3; ++press) {
        if (!desktop.seams.keySynthesis->postKeyPress({f5KeyCode, 0}).ok()) {
            return false;
        }
        if (waitUntil([&] { return loads(windowTitle()) > before; }, 10s)) {
            return true;
        }
    }
    return false;
}

namespace {

// Every page of the site: F2, F3, F4, F9 and F8 go to pages a, b, c, d and e, as a site's own
// links do (with Shift they are the page's own).
constexpr const char* siteKeys = R"(<script>
document.addEventListener('keydown', (event) => {
  const to = !event.shiftKey && {F2: '/a', F3: '/b', F4: '/c', F9: '/d', F8: '/e'}[event.key];
  if (to) { event.preventDefault(); location.href = to; }
});
</script>
</body></html>
)";

constexpr const char* pageA = R"(<!doctype html>
<html><head><meta charset="utf-8"><title>page a</title></head>
<body style="font: 16px sans-serif">
<div aria-label="mail" contenteditable="true" style="border: 1px solid #888; padding: 2px 4px">
<p>Hello all,</p><ul><li>Bring the forms.</li><li>We will recieve the parcel tomorrow.</li></ul>
</div>
)";

constexpr const char* pageB = R"(<!doctype html>
<html><head><meta charset="utf-8"><title>page b</title></head>
<body style="font: 16px sans-serif">
<form onsubmit="return false"><p><input aria-label="password" type="password" size="40"
    oninput="document.title = 'page b ' + this.value.length"></p></form>
)";

constexpr const char* pageC = R"(<!doctype html>
<html><head><meta charset="utf-8"><title>page c</title></head>
<body style="font: 16px sans-serif">
<p><input aria-label="line" type="text" size="60"
    oninput="document.title = 'page c ' + this.value.length"></p>
)";

constexpr const char* pageD = R"(<!doctype html>
<html><head><meta charset="utf-8"><title>page d</title></head>
<body style="font: 16px sans-serif">
<form onsubmit="return false"><p><input aria-label="password" type="password" size="40"></p></form>
<script>
const field = document.querySelector('[aria-label="password"]');
const load = Number(sessionStorage.getItem('loads') || 0) + 1;
sessionStorage.setItem('loads', load);
function tell() {
  document.title = 'page d ' + field.value.length + ' ' + field.type + ' load ' + load +
      (document.activeElement === field ? ' focused' : '');
}
field.addEventListener('input', tell);
field.addEventListener('focus', () => {
  tell();
  setTimeout(() => { field.type = 'text'; tell(); }, 1500);
}, {once: true});
tell();
</script>
)";

constexpr const char* pageE = R"(<!doctype html>
<html><head><meta charset="utf-8"><title>page e</title></head>
<body style="font: 16px sans-serif">
<p><textarea aria-label="area" rows="3" cols="50"></textarea></p>
<p><input aria-label="other" type="text" size="40"></p>
<p>The name you gave.</p>
<form onsubmit="return false"><p><input aria-label="secret" type="password" size="40"></p></form>
<p>Forgot it? Ask us.</p>
<script>
const fields = ['area', 'other', 'secret'].map(
    (name) => document.querySelector('[aria-label="' + name + '"]'));
const load = Number(sessionStorage.getItem('loads') || 0) + 1;
sessionStorage.setItem('loads', load);
let said = 'ready';
function tell(what) {
  if (what) said = what;
  document.title = 'page e load ' + load + ' ' + said + ' ' +
      fields.map((f) => f.value.length).join(' ');
}
fields.forEach((f) => f.addEventListener('input', () => tell()));
document.addEventListener('keydown', (event) => {
  const act = event.shiftKey && {F2: 'prompt', F3: 'login', F4: 'other', F9: 'secret'}[event.key];
  if (!act) return;
  event.preventDefault();
  tell('armed');
  setTimeout(() => {
    if (act === 'prompt') {
      tell('prompting');
      const answer = prompt('Your name?', '');
      tell('prompted ' + (answer === null ? 'none' : answer.length));
    } else if (act === 'login') {
      location.href = '/login';
    } else {
      fields[act === 'other' ? 1 : 2].focus();
      tell('moved');
    }
  }, 1500);
});
tell();
</script>
)";

// A sign-in the site asks for, refused.
constexpr const char* signInRefused = R"(<!doctype html>
<html><head><meta charset="utf-8"><title>sign-in refused</title></head>
<body style="font: 16px sans-serif"><p>Not signed in.</p>
)";

}  // namespace

OneSite& OneSite::get() {
    // (kept to the program's end: the browsers on it end only then)
    static auto* site = new OneSite();
    return *site;
}

OneSite::OneSite() {
    server_.setHandler([](const RecordedRequest& request) {
        const char* page = request.target == "/a"   ? pageA
                           : request.target == "/b" ? pageB
                           : request.target == "/c" ? pageC
                           : request.target == "/d" ? pageD
                           : request.target == "/e" ? pageE
                                                    : nullptr;
        if (request.target == "/login") {
            // (a browser asks the person for a name and a password, then shows this)
            ScriptedReply reply(401);
            reply.header("WWW-Authenticate", "Basic realm=\"the site\"")
                .header("Content-Type", "text/html; charset=utf-8")
                .withContentLength()
                .chunk(std::string(signInRefused) + siteKeys);
            return reply;
        }
        if (page == nullptr) {
            return ScriptedReply(404);
        }
        ScriptedReply reply(200);
        reply.header("Content-Type", "text/html; charset=utf-8")
            .withContentLength()
            .chunk(std::string(page) + siteKeys);
        return reply;
    });
}

std::string OneSite::address(char page) const {
    return server_.url(std::string("/") + page);
}

}  // namespace ravlin::testing

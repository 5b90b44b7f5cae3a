#include "platform/linux/keys/xtest_key_synthesis.h"

#include <QTimer>
#include <algorithm>
#include <array>

#include "platform/linux/x11/xlib.h"

namespace ravlin::platform {
namespace {

using Clock = std::chrono::steady_clock;

// Virtual key code -> keysym, for the keys of the ANSI layout.
constexpr std::array<std::pair<std::uint32_t, unsigned long>, 108> keyTable{{
    {0, XK_a},
    {1, XK_s},
    {2, XK_d},
    {3, XK_f},
    {4, XK_h},
    {5, XK_g},
    {6, XK_z},
    {7, XK_x},
    {8, XK_c},
    {9, XK_v},
    {11, XK_b},
    {12, XK_q},
    {13, XK_w},
    {14, XK_e},
    {15, XK_r},
    {16, XK_y},
    {17, XK_t},
    {18, XK_1},
    {19, XK_2},
    {20, XK_3},
    {21, XK_4},
    {22, XK_6},
    {23, XK_5},
    {24, XK_equal},
    {25, XK_9},
    {26, XK_7},
    {27, XK_minus},
    {28, XK_8},
    {29, XK_0},
    {30, XK_bracketright},
    {31, XK_o},
    {32, XK_u},
    {33, XK_bracketleft},
    {34, XK_i},
    {35, XK_p},
    {36, XK_Return},
    {37, XK_l},
    {38, XK_j},
    {39, XK_apostrophe},
    {40, XK_k},
    {41, XK_semicolon},
    {42, XK_backslash},
    {43, XK_comma},
    {44, XK_slash},
    {45, XK_n},
    {46, XK_m},
    {47, XK_period},
    {48, XK_Tab},
    {49, XK_space},
    {50, XK_grave},
    {51, XK_BackSpace},
    {53, XK_Escape},
    {54, XK_Super_R},
    {55, XK_Super_L},
    {56, XK_Shift_L},
    {57, XK_Caps_Lock},
    {58, XK_Alt_L},
    {59, XK_Control_L},
    {60, XK_Shift_R},
    {61, XK_Alt_R},
    {62, XK_Control_R},
    {64, XK_F17},
    {65, XK_KP_Decimal},
    {67, XK_KP_Multiply},
    {69, XK_KP_Add},
    {75, XK_KP_Divide},
    {76, XK_KP_Enter},
    {78, XK_KP_Subtract},
    {79, XK_F18},
    {80, XK_F19},
    {81, XK_KP_Equal},
    {82, XK_KP_0},
    {83, XK_KP_1},
    {84, XK_KP_2},
    {85, XK_KP_3},
    {86, XK_KP_4},
    {87, XK_KP_5},
    {88, XK_KP_6},
    {89, XK_KP_7},
    {90, XK_F20},
    {91, XK_KP_8},
    {92, XK_KP_9},
    {96, XK_F5},
    {97, XK_F6},
    {98, XK_F7},
    {99, XK_F3},
    {100, XK_F8},
    {101, XK_F9},
    {103, XK_F11},
    {105, XK_Print},
    {106, XK_F16},
    {107, XK_F14},
    {109, XK_F10},
    {111, XK_F12},
    {113, XK_F15},
    {114, XK_Insert},
    {115, XK_Home},
    {116, XK_Prior},
    {117, XK_Delete},
    {118, XK_F4},
    {119, XK_End},
    {120, XK_F2},
    {121, XK_Next},
    {122, XK_F1},
    {123, XK_Left},
    {124, XK_Right},
    {125, XK_Down},
    {126, XK_Up},
}};

std::vector<char32_t> codePoints(std::u16string_view text) {
    std::vector<char32_t> points;
    for (std::size_t i = 0; i < text.size(); ++i) {
        char32_t unit = text[i];
        if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF) {
            unit = 0x10000 + ((unit - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        }
        points.push_back(unit);
    }
    return points;
}

}  // namespace

std::optional<unsigned long> keysymForKeyCode(std::uint32_t keyCode) {
    const auto* found =
        std::ranges::find(keyTable, keyCode, &std::pair<std::uint32_t, unsigned long>::first);
    if (found == keyTable.end()) {
        return std::nullopt;
    }
    return found->second;
}

std::optional<unsigned long> keysymForCodePoint(char32_t codePoint) {
    if (codePoint == U'\n' || codePoint == U'\r') {
        return XK_Return;
    }
    if (codePoint == U'\t') {
        return XK_Tab;
    }
    if ((codePoint >= 0xD800 && codePoint <= 0xDFFF) || codePoint > 0x10FFFF || codePoint < 0x20 ||
        codePoint == 0x7F) {
        return std::nullopt;
    }
    if ((codePoint >= 0x20 && codePoint <= 0x7E) || (codePoint >= 0xA0 && codePoint <= 0xFF)) {
        return codePoint;
    }
    return 0x01000000UL | codePoint;
}

std::vector<unsigned long> modifierKeysyms(std::uint32_t modifiers) {
    std::vector<unsigned long> keysyms;
    if ((modifiers & (modifier::command | modifier::control)) != 0) {
        keysyms.push_back(XK_Control_L);
    }
    if ((modifiers & modifier::option) != 0) {
        keysyms.push_back(XK_Alt_L);
    }
    if ((modifiers & modifier::shift) != 0) {
        keysyms.push_back(XK_Shift_L);
    }
    return keysyms;
}

XTestKeySynthesis::XTestKeySynthesis(std::shared_ptr<x11::Connection> connection)
    : connection_(std::move(connection)) {
    int event = 0;
    int error = 0;
    int major = 0;
    int minor = 0;
    available_ = XTestQueryExtension(connection_->display(), &event, &error, &major, &minor) != 0;
    if (XModifierKeymap* map = XGetModifierMapping(connection_->display())) {
        for (int i = 0; i < 8 * map->max_keypermod; ++i) {
            if (map->modifiermap[i] != 0) {
                modifierKeyCodes_.push_back(map->modifiermap[i]);
            }
        }
        XFreeModifiermap(map);
    }
    unbindTimer_ = std::make_unique<QTimer>();
    unbindTimer_->setSingleShot(true);
    QObject::connect(unbindTimer_.get(), &QTimer::timeout, [this] { unbindAll(); });
}

XTestKeySynthesis::~XTestKeySynthesis() {
    unbindAll();
}

bool XTestKeySynthesis::modifierHeld() {
    char keys[32] = {};
    XQueryKeymap(connection_->display(), keys);
    connection_->drainSoon();
    return std::ranges::any_of(modifierKeyCodes_, [&](unsigned char code) {
        return (keys[code / 8] & (1 << (code % 8))) != 0;
    });
}

void XTestKeySynthesis::letGoOfOwnGrab() {
    // A hot key pressed this moment (its press still unread here) holds the keyboard for this
    // program until its key is up: the keys would come back to us instead of the application.
    if (!connection_->keyboardCaptured()) {
        XUngrabKeyboard(connection_->display(), CurrentTime);
    }
}

Expected<std::vector<unsigned char>> XTestKeySynthesis::chordKeys(KeyChord chord) {
    if (!available_) {
        return Expected<std::vector<unsigned char>>::failure(ErrorCode::unavailable, "no XTest");
    }
    const auto keysym = keysymForKeyCode(chord.keyCode);
    if (!keysym) {
        return Expected<std::vector<unsigned char>>::failure(ErrorCode::notSupported,
                                                             "no X key for this key code");
    }
    auto* display = connection_->display();
    const KeyCode key = XKeysymToKeycode(display, *keysym);
    if (key == 0) {
        return Expected<std::vector<unsigned char>>::failure(ErrorCode::notSupported,
                                                             "the keyboard map has no such key");
    }
    std::vector<unsigned char> keys;
    for (const auto modifier : modifierKeysyms(chord.modifiers)) {
        if (const KeyCode code = XKeysymToKeycode(display, modifier); code != 0) {
            keys.push_back(code);
        }
    }
    keys.push_back(key);
    return keys;
}

void XTestKeySynthesis::fakeKey(unsigned char key, bool press) {
    connection_->ownKeyEvents().sent(key, press);
    XTestFakeKeyEvent(connection_->display(), key, press ? True : False, CurrentTime);
}

Status XTestKeySynthesis::sendKeys(const std::vector<unsigned char>& keys, bool press) {
    // Errors that other users of the shared connection left behind are not this call's.
    connection_->sync();
    (void)connection_->takeErrorCount();
    letGoOfOwnGrab();
    if (press) {
        for (const auto key : keys) {
            fakeKey(key, true);
        }
    } else {
        for (auto it = keys.rbegin(); it != keys.rend(); ++it) {
            fakeKey(*it, false);
        }
    }
    connection_->sync();
    if (connection_->takeErrorCount() > 0) {
        return Status::failure(ErrorCode::failed, "the X server refused the key event");
    }
    return {};
}

Status XTestKeySynthesis::postKeyPresses(KeyChord chord, int times) {
    const auto keys = chordKeys(chord);
    if (!keys) {
        return keys.status();
    }
    connection_->sync();
    (void)connection_->takeErrorCount();
    letGoOfOwnGrab();
    for (int i = 0; i < times; ++i) {
        for (const auto key : *keys) {
            fakeKey(key, true);
        }
        for (auto it = keys->rbegin(); it != keys->rend(); ++it) {
            fakeKey(*it, false);
        }
    }
    connection_->sync();
    if (connection_->takeErrorCount() > 0) {
        return Status::failure(ErrorCode::failed, "the X server refused the key event");
    }
    return {};
}

Status XTestKeySynthesis::postKeyPressIf(KeyChord chord, const KeyCondition& condition) {
    const auto keys = chordKeys(chord);
    if (!keys) {
        return keys.status();
    }
    auto* display = connection_->display();
    const Atom selection = XInternAtom(display, condition.selection.c_str(), False);
    connection_->sync();
    (void)connection_->takeErrorCount();
    letGoOfOwnGrab();
    // While the server is grabbed it takes requests from this connection alone: the owner read
    // here is the owner when the keys are taken.
    XGrabServer(display);
    const Window owner = XGetSelectionOwner(display, selection);
    const bool holds = owner != None && owner == condition.owner;
    // Where the server will send the keys, not the window the window manager names active: a
    // window may take the focus by itself, before or after the window manager says so.
    const bool focused =
        !condition.focusIn || connection_->focusWithin(static_cast<Window>(*condition.focusIn));
    if (holds && focused) {
        for (const auto key : *keys) {
            fakeKey(key, true);
        }
        for (auto it = keys->rbegin(); it != keys->rend(); ++it) {
            fakeKey(*it, false);
        }
    }
    XUngrabServer(display);
    connection_->sync();
    if (!holds) {
        return Status::failure(ErrorCode::invalidArgument, "the selection changed hands");
    }
    if (!focused) {
        return Status::failure(ErrorCode::notFound, "the keyboard's focus is elsewhere");
    }
    if (connection_->takeErrorCount() > 0) {
        return Status::failure(ErrorCode::failed, "the X server refused the key event");
    }
    return {};
}

Status XTestKeySynthesis::postKeyDown(KeyChord chord) {
    const auto keys = chordKeys(chord);
    if (!keys) {
        return keys.status();
    }
    Status sent = sendKeys(*keys, true);
    if (!sent) {
        // Whatever part of the chord went down must not stay held.
        (void)sendKeys(*keys, false);
    }
    return sent;
}

Status XTestKeySynthesis::postKeyUp(KeyChord chord) {
    const auto keys = chordKeys(chord);
    if (!keys) {
        return keys.status();
    }
    return sendKeys(*keys, false);
}

void XTestKeySynthesis::findSpareKeyCodes() {
    auto* display = connection_->display();
    int minCode = 0;
    int maxCode = 0;
    XDisplayKeycodes(display, &minCode, &maxCode);
    int perCode = 0;
    KeySym* map = XGetKeyboardMapping(display, static_cast<KeyCode>(minCode), maxCode - minCode + 1,
                                      &perCode);
    if (map == nullptr) {
        return;
    }
    const auto empty = [&](int code) {
        const KeySym* symbols = map + static_cast<std::ptrdiff_t>(code - minCode) * perCode;
        return std::all_of(symbols, symbols + perCode, [](KeySym s) { return s == NoSymbol; });
    };
    // None below the first key of the keyboard: looked up by its character (XKeysymToKeycode
    // takes the lowest keycode), a letter bound there would stand for the letter's own key, and
    // a shortcut sent by another program meanwhile (Super+E) would go out on a key nobody grabs.
    int lowest = minCode;
    while (lowest <= maxCode && empty(lowest)) {
        ++lowest;
    }
    // From the top: the highest keycodes are the least likely to be on a real keyboard.
    for (int code = maxCode; code > lowest && spares_.size() < maxSpareKeys; --code) {
        if (empty(code)) {
            spares_.push_back(Spare{.keyCode = static_cast<unsigned char>(code)});
        }
    }
    XFree(map);
}

std::vector<XTestKeySynthesis::Spare*> XTestKeySynthesis::freeSpares(Clock::time_point now) {
    if (spares_.empty()) {
        findSpareKeyCodes();
    }
    std::vector<Spare*> free;
    for (auto& spare : spares_) {
        if (spare.busyUntil <= now) {
            free.push_back(&spare);
        }
    }
    // (those never typed with keep their order: from the top)
    std::ranges::stable_sort(free, {}, &Spare::busyUntil);
    return free;
}

KeySynthesis::TextRoom XTestKeySynthesis::textRoom(std::u16string_view text) {
    const auto points = codePoints(text);
    const auto now = Clock::now();
    const auto free = available_ ? freeSpares(now).size() : 0;
    // A text that cannot be typed at all is all postText's, to be refused with its reason.
    if (!available_ || spares_.empty() || points.size() > maxTextLength || free >= points.size()) {
        return {text.size(), {}};
    }
    std::size_t units = 0;
    for (std::size_t point = 0; point < free; ++point) {
        units += points[point] > 0xFFFF ? 2 : 1;
    }
    const auto earliest = std::ranges::min(spares_, {}, &Spare::busyUntil).busyUntil;
    return {units, std::max<std::chrono::nanoseconds>(earliest - now, std::chrono::nanoseconds(0))};
}

Status XTestKeySynthesis::postText(std::u16string_view text) {
    if (text.empty()) {
        return Status::failure(ErrorCode::invalidArgument, "empty text");
    }
    if (!available_) {
        return Status::failure(ErrorCode::unavailable, "no XTest");
    }
    const auto points = codePoints(text);
    if (points.size() > maxTextLength) {
        return Status::failure(ErrorCode::invalidArgument, "text too long to type");
    }
    std::vector<KeySym> keysyms;
    for (const char32_t point : points) {
        const auto keysym = keysymForCodePoint(point);
        if (!keysym) {
            return Status::failure(ErrorCode::invalidArgument, "a character that cannot be typed");
        }
        keysyms.push_back(*keysym);
    }
    const auto free = freeSpares(Clock::now());
    if (spares_.empty()) {
        return Status::failure(ErrorCode::notSupported, "no spare keycode to type with");
    }
    // Nothing of it unless all of it goes now: the caller types the rest once keys are free.
    if (free.size() < keysyms.size()) {
        return Status::failure(ErrorCode::failed, "more characters than keys free to type them");
    }
    auto* display = connection_->display();
    // Errors that other users of the shared connection left behind (a window gone) are not this
    // call's: counted as its own, the text would be said not typed though it was.
    connection_->sync();
    (void)connection_->takeErrorCount();
    letGoOfOwnGrab();
    // A character still bound from an earlier text is typed with its key as it stands: no
    // change of the keymap for it.
    std::vector<Spare*> keys;
    auto next = free.begin();
    for (const KeySym symbol : keysyms) {
        const auto bound = std::ranges::find_if(
            spares_, [&](const Spare& spare) { return spare.bound && spare.symbol == symbol; });
        if (bound != spares_.end() && stillBound(*bound)) {
            keys.push_back(&*bound);
            continue;
        }
        // (one key per character: at most as many taken as there are characters, all free)
        next = std::find_if(next, free.end(), [&](const Spare* spare) {
            return std::ranges::find(keys, spare) == keys.end();
        });
        Spare* spare = *next++;
        KeySym changed = symbol;
        XChangeKeyboardMapping(display, spare->keyCode, 1, &changed, 1);
        spare->bound = true;
        spare->symbol = symbol;
        keys.push_back(spare);
    }
    connection_->sync();
    if (connection_->openForOwnKeys) {
        connection_->openForOwnKeys();
    }
    for (Spare* spare : keys) {
        fakeKey(spare->keyCode, true);
        fakeKey(spare->keyCode, false);
    }
    if (connection_->closeAfterOwnKeys) {
        connection_->closeAfterOwnKeys();
    }
    connection_->sync();
    const auto sent = Clock::now();
    for (Spare* spare : keys) {
        spare->busyUntil = sent + bindingLifetime;
    }
    unbindTimer_->start(quietBeforeUnbinding);
    if (connection_->takeErrorCount() > 0) {
        return Status::failure(ErrorCode::failed, "the X server refused the key event");
    }
    return {};
}

bool XTestKeySynthesis::stillBound(Spare& spare) {
    int perCode = 0;
    KeySym* symbols = XGetKeyboardMapping(connection_->display(), spare.keyCode, 1, &perCode);
    const bool same = symbols != nullptr && perCode > 0 && symbols[0] == spare.symbol;
    XFree(symbols);
    if (!same) {
        // Changed by another program or a new keymap since: no longer ours to undo.
        spare.bound = false;
    }
    return same;
}

void XTestKeySynthesis::unbindAll() {
    auto* display = connection_->display();
    for (auto& spare : spares_) {
        if (spare.bound) {
            KeySym none = NoSymbol;
            XChangeKeyboardMapping(display, spare.keyCode, 1, &none, 1);
            spare.bound = false;
        }
    }
    XFlush(display);
}

}  // namespace ravlin::platform

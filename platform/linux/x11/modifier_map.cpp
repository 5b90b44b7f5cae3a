#include "platform/linux/x11/modifier_map.h"

#include <X11/XKBlib.h>

#include "platform/keys.h"
#include "platform/linux/x11/xlib.h"

namespace ravlin::platform::x11 {

ModifierMap ModifierMap::read(Display* display) {
    ModifierMap map;
    XModifierKeymap* modifiers = XGetModifierMapping(display);
    if (modifiers == nullptr) {
        return map;
    }
    for (int index = 0; index < 8; ++index) {
        const unsigned bit = 1U << index;
        for (int slot = 0; slot < modifiers->max_keypermod; ++slot) {
            const KeyCode key = modifiers->modifiermap[index * modifiers->max_keypermod + slot];
            if (key == 0) {
                continue;
            }
            map.keyMask[key] |= bit;
            if (index < 3) {
                continue;  // Shift, Lock and Control are themselves
            }
            for (int level = 0; level < 2; ++level) {
                switch (XkbKeycodeToKeysym(display, key, 0, level)) {
                    case XK_Super_L:
                    case XK_Super_R:
                        map.super |= bit;
                        break;
                    case XK_Alt_L:
                    case XK_Alt_R:
                    case XK_Meta_L:
                    case XK_Meta_R:
                        map.alt |= bit;
                        break;
                    case XK_ISO_Level3_Shift:
                    case XK_Mode_switch:
                        map.levelThree |= bit;
                        break;
                    case XK_Num_Lock:
                        map.numLock |= bit;
                        break;
                    case XK_Scroll_Lock:
                        map.scrollLock |= bit;
                        break;
                    default:
                        break;
                }
            }
        }
    }
    XFreeModifiermap(modifiers);
    // A bit shared by Super and Alt (odd maps) counts as Alt only.
    map.super &= ~map.alt;
    map.levelThree &= ~(map.alt | map.super);
    return map;
}

std::uint64_t ModifierMap::flagsOf(unsigned state) const {
    std::uint64_t flags = 0;
    if ((state & ShiftMask) != 0) {
        flags |= eventflag::shift;
    }
    if ((state & ControlMask) != 0) {
        flags |= eventflag::control;
    }
    if ((state & (alt | levelThree)) != 0) {
        flags |= eventflag::option;
    }
    if ((state & super) != 0) {
        flags |= eventflag::command;
    }
    return flags;
}

}  // namespace ravlin::platform::x11

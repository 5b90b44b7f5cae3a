#!/usr/bin/python3
# A GTK 4 window for the desktop tests, the GTK 3 target's twin: a single-line field, a password
# field (Gtk.PasswordEntry, its peek button there but not pressed) and another one whose text the
# peek button shows ("peeked"), hidden fields (Gtk.Entry with its visibility off, which the
# accessibility bus shows as plain text) masked with "•" ("hidden"), with a letter ("x" for each
# character: "lettered"), with GTK's "no feedback at all" (the character 0: "zeroed"), with a
# space ("spaced"), with an emoji ("locked", U+1F512) and with a regional indicator ("flagged",
# U+1F1FA: two of them show as one flag), two more hidden with a letter: "masked" ("a", empty at
# first) and "full" ("x", at most 6 characters, holding "Zq9kXY"), a read-only field and a
# multi-line field. Prints "<field>: <text>" whenever a text changes (the password fields' too),
# "<field> key: <key>" for each key press the password and hidden fields get ("e", "BackSpace",
# "Ctrl+c"), and obeys lines on standard input:
#   focus <field>                                give that field the keyboard focus
#   select <start> <end>                         select in the focused field (code points)
#   text <field> <words...>                      replace that field's text ("\n": a line break)
#   where <field>                                say where GTK draws that field in its X window:
#                                                "where <field>: x y width height"
#   add <word> | remove                          put a field holding the word after the
#                                                single-line field (in place of the one added
#                                                before) and give it the keyboard focus; take it
#                                                away again
# It says "READY pid=N" once shown and "OK <command>" after each command.
import os
import sys

import gi

gi.require_version('Gdk', '4.0')
gi.require_version('Gtk', '4.0')
from gi.repository import Gdk, Gio, GLib, Gtk  # noqa: E402


def say(text):
    print(text, flush=True)


def build(application):
    window = Gtk.ApplicationWindow(application=application, title='gtk4-target')
    window.set_default_size(500, 480)
    box = Gtk.Box(orientation=Gtk.Orientation.VERTICAL, spacing=6)
    line = Gtk.Entry()
    line.set_text('héllo 😀 wörld teh')
    password = Gtk.PasswordEntry()
    password.set_text('secret')
    password.set_show_peek_icon(True)
    peeked = Gtk.PasswordEntry()
    peeked.set_show_peek_icon(True)
    peeked.set_text('peeked')
    # (what its peek button does: the inner text's visibility on)
    shown = peeked.get_first_child()
    while shown is not None and not isinstance(shown, Gtk.Text):
        shown = shown.get_next_sibling()
    shown.set_visibility(True)

    def masked(mask, text):
        entry = Gtk.Entry()
        entry.set_visibility(False)
        entry.set_invisible_char(mask)
        entry.set_text(text)
        return entry

    hidden = masked('\u2022', 'hidden')
    lettered = masked('x', 'lettered')
    zeroed = masked('\0', 'zeroed')
    spaced = masked(' ', 'spaced')
    locked = masked('\U0001F512', 'locked')
    flagged = masked('\U0001F1FA', 'flagged')
    repeated = masked('a', '')
    full = masked('x', 'Zq9kXY')
    full.set_max_length(6)
    readonly = Gtk.Entry()
    readonly.set_text('read only')
    readonly.set_editable(False)
    area = Gtk.TextView()
    area.set_vexpand(True)
    buffer = area.get_buffer()
    buffer.set_text('line one 😀\nsecond líne teh')
    for widget in (line, password, hidden, lettered, readonly, area, peeked, zeroed, spaced,
                   locked, flagged, repeated, full):
        box.append(widget)
    window.set_child(box)
    fields = {'line': line, 'password': password, 'hidden': hidden, 'lettered': lettered,
              'readonly': readonly, 'area': area, 'peeked': peeked, 'zeroed': zeroed,
              'spaced': spaced, 'locked': locked, 'flagged': flagged, 'masked': repeated,
              'full': full}
    secret = ('password', 'peeked', 'hidden', 'lettered', 'zeroed', 'spaced', 'locked',
              'flagged', 'masked', 'full')

    for name in ('line',) + secret:
        fields[name].connect('changed', lambda e, n=name: say(n + ': ' + e.get_text()))
    buffer.connect('changed', lambda b: say(
        'area: ' + b.get_text(b.get_start_iter(), b.get_end_iter(), True).replace('\n', '\\n')))

    def watch_keys(name):
        keys = Gtk.EventControllerKey()
        keys.set_propagation_phase(Gtk.PropagationPhase.CAPTURE)

        def pressed(controller, keyval, keycode, state):
            key = Gdk.keyval_name(Gdk.keyval_to_lower(keyval)) or '?'
            control = state & Gdk.ModifierType.CONTROL_MASK
            say(name + ' key: ' + ('Ctrl+' if control else '') + key)
            return False

        keys.connect('key-pressed', pressed)
        fields[name].add_controller(keys)

    for name in secret:
        watch_keys(name)

    def obey(source, condition):
        command = sys.stdin.readline()
        if not command:
            application.quit()
            return False
        words = command.split()
        if words and words[0] == 'focus' and len(words) == 2 and words[1] in fields:
            fields[words[1]].grab_focus()
        elif words and words[0] == 'text' and len(words) >= 2 and words[1] in fields:
            content = command.rstrip('\n').split(' ', 2)[2] if len(words) > 2 else ''
            content = content.replace('\\n', '\n')
            if fields[words[1]] is area:
                buffer.set_text(content)
            else:
                fields[words[1]].set_text(content)
        elif words and words[0] == 'where' and len(words) == 2 and words[1] in fields:
            # (an entry's text is drawn by its inner text widget, inside its frame)
            widget = fields[words[1]]
            if isinstance(widget, Gtk.Editable) and widget.get_delegate() is not None:
                widget = widget.get_delegate()
            found, bounds = widget.compute_bounds(window)
            shift_x, shift_y = window.get_surface_transform()
            if found:
                say('where %s: %d %d %d %d' % (
                    words[1], round(bounds.origin.x + shift_x), round(bounds.origin.y + shift_y),
                    round(bounds.size.width), round(bounds.size.height)))
        elif words and words[0] == 'add' and len(words) == 2:
            if 'added' in fields:
                box.remove(fields.pop('added'))
            fields['added'] = Gtk.Entry()
            fields['added'].set_text(words[1])
            box.insert_child_after(fields['added'], line)
            fields['added'].grab_focus()
        elif words == ['remove'] and 'added' in fields:
            box.remove(fields.pop('added'))
        elif words and words[0] == 'select' and len(words) == 3:
            start, end = int(words[1]), int(words[2])
            focus = window.get_focus()
            if focus is area:
                buffer.select_range(buffer.get_iter_at_offset(start),
                                    buffer.get_iter_at_offset(end))
            else:
                # (the focus is the entry's inner text widget)
                for name in ('line', 'readonly') + secret:
                    if focus is not None and focus.is_ancestor(fields[name]):
                        fields[name].select_region(start, end)
        say('OK ' + command.strip())
        return True

    GLib.io_add_watch(sys.stdin, GLib.IO_IN | GLib.IO_HUP, obey)
    window.present()
    say('READY pid=%d' % os.getpid())


application = Gtk.Application(application_id='org.ravlin.Gtk4Target',
                              flags=Gio.ApplicationFlags.NON_UNIQUE)
application.connect('activate', build)
application.run([])

#!/usr/bin/python3
# A GTK 3 window for the desktop tests: a single-line field, a password field, a read-only
# field and a multi-line field. Prints "<field>: <text>" whenever a text changes (the password
# field's too), "password key: <key>" for each key press the password field gets ("e",
# "BackSpace", "Ctrl+c"), and obeys lines on standard input:
#   focus <line|password|readonly|area>    give that field the keyboard focus (in its window)
#   select <start> <end>                   select in the focused field (GTK offsets: code points)
#   text <field> <words...>                replace that field's text ("\n" is a line break)
#   maxlength <n>                          the single-line field takes at most n characters (0: any)
#   shaping <on|off>                       the multi-line field types curly quotes and indents each
#                                          new line by four spaces, as some editors do
#   dialog <entry|hidden>                  raises, by itself, a modal dialog (title "gtk-target
#                                          dialog") with an empty entry (hidden: a password entry)
#                                          that has the keyboard; prints "dialog: <text>" whenever
#                                          its text changes and "dialog key: <key>" for each key
#   dialog close                           puts it away
#   second <open|close>                    another window of the application (title "gtk-target
#                                          second", neither modal nor over the first) with an
#                                          entry, standing over the first window's lower right
#                                          part; prints "second: <text>" whenever its text changes
# It says "READY pid=N" once shown and "OK <command>" after each command. Started with --deaf, its
# window ignores every key event (nothing typed or pasted reaches a field); with --no-pid, its
# window names no process (_NET_WM_PID), as some programs' windows do.
import os
import sys

import gi

gi.require_version('Gdk', '3.0')
gi.require_version('Gtk', '3.0')
from gi.repository import Gdk, GLib, Gtk  # noqa: E402

window = Gtk.Window(title='gtk-target')
window.set_default_size(500, 300)
window.move(80, 80)
box = Gtk.Box(orientation=Gtk.Orientation.VERTICAL, spacing=6)
line = Gtk.Entry()
line.set_text('héllo 😀 wörld teh')
password = Gtk.Entry()
password.set_visibility(False)
password.set_text('secret')
readonly = Gtk.Entry()
readonly.set_text('read only')
readonly.set_editable(False)
area = Gtk.TextView()
area.get_buffer().set_text('line one 😀\nsecond líne teh')
for widget in (line, password, readonly, area):
    box.pack_start(widget, widget is area, widget is area, 0)
window.add(box)
window.connect('destroy', Gtk.main_quit)
if '--deaf' in sys.argv:
    window.set_title('gtk-target deaf')
    window.move(300, 420)
    window.connect('key-press-event', lambda *args: True)
    window.connect('key-release-event', lambda *args: True)
fields = {'line': line, 'password': password, 'readonly': readonly, 'area': area}


def say(text):
    print(text, flush=True)


line.connect('changed', lambda e: say('line: ' + e.get_text()))
password.connect('changed', lambda e: say('password: ' + e.get_text()))


def password_key(widget, event):
    name = Gdk.keyval_name(Gdk.keyval_to_lower(event.keyval)) or '?'
    control = event.state & Gdk.ModifierType.CONTROL_MASK
    say('password key: ' + ('Ctrl+' if control else '') + name)
    return False


password.connect('key-press-event', password_key)
buffer = area.get_buffer()
buffer.connect('changed', lambda b: say(
    'area: ' + b.get_text(b.get_start_iter(), b.get_end_iter(), True).replace('\n', '\\n')))
shaping = {'on': False, 'busy': False}


def shaped(text):
    out, double = [], True
    for character in text:
        if character == '"':
            out.append('\u201c' if double else '\u201d')
            double = not double
        elif character == "'":
            out.append('\u2019')
        elif character == '\n':
            out.append('\n    ')
        else:
            out.append(character)
    return ''.join(out)


def shape_insert(b, where, text, length):
    if not shaping['on'] or shaping['busy'] or shaped(text) == text:
        return
    b.stop_emission_by_name('insert-text')
    shaping['busy'] = True
    b.insert(where, shaped(text))
    shaping['busy'] = False


buffer.connect('insert-text', shape_insert)


dialogs = []


def raise_dialog(hidden):
    dialog = Gtk.Dialog(title='gtk-target dialog', transient_for=window, modal=True)
    entry = Gtk.Entry()
    entry.set_visibility(not hidden)
    entry.connect('changed', lambda e: say('dialog: ' + e.get_text()))
    entry.connect('key-press-event', lambda w, event: say(
        'dialog key: ' + (Gdk.keyval_name(event.keyval) or '?')) and False)
    dialog.get_content_area().pack_start(entry, True, True, 0)
    dialog.show_all()
    entry.grab_focus()
    dialog.present()
    dialogs.append(dialog)


seconds = []


def open_second():
    second = Gtk.Window(title='gtk-target second')
    second.set_default_size(400, 200)
    second.move(380, 220)
    entry = Gtk.Entry()
    entry.connect('changed', lambda e: say('second: ' + e.get_text()))
    second.add(entry)
    second.show_all()
    seconds.append(second)


def obey(source, condition):
    command = sys.stdin.readline()
    if not command:
        Gtk.main_quit()
        return False
    words = command.split()
    if words and words[0] == 'focus' and len(words) == 2 and words[1] in fields:
        # Within the window only: whoever sends this brings the window forward first (an
        # activation of its own here would reach the window manager after that, whenever).
        fields[words[1]].grab_focus()
    elif words and words[0] == 'text' and len(words) >= 2 and words[1] in fields:
        content = command.rstrip('\n').split(' ', 2)[2] if len(words) > 2 else ''
        content = content.replace('\\n', '\n')
        if fields[words[1]] is area:
            buffer.set_text(content)
        else:
            fields[words[1]].set_text(content)
    elif words and words[0] == 'dialog' and words[1:] in (['entry'], ['hidden']):
        raise_dialog(words[1] == 'hidden')
    elif words and words[0] == 'dialog' and words[1:] == ['close']:
        while dialogs:
            dialogs.pop().destroy()
    elif words and words[0] == 'second' and words[1:] == ['open']:
        open_second()
    elif words and words[0] == 'second' and words[1:] == ['close']:
        while seconds:
            seconds.pop().destroy()
    elif words and words[0] == 'maxlength' and len(words) == 2:
        line.set_max_length(int(words[1]))
    elif words and words[0] == 'shaping' and len(words) == 2:
        shaping['on'] = words[1] == 'on'
    elif words and words[0] == 'select' and len(words) == 3:
        start, end = int(words[1]), int(words[2])
        focus = window.get_focus()
        if isinstance(focus, Gtk.Entry):
            focus.select_region(start, end)
        elif focus is area:
            buffer.select_range(buffer.get_iter_at_offset(start), buffer.get_iter_at_offset(end))
    say('OK ' + command.strip())
    return True


window.show_all()
if '--no-pid' in sys.argv:
    window.set_title('gtk-target without pid')
    Gdk.property_delete(window.get_window(), Gdk.atom_intern('_NET_WM_PID', False))
    Gdk.flush()
GLib.io_add_watch(sys.stdin, GLib.IO_IN | GLib.IO_HUP, obey)
say('READY pid=%d' % os.getpid())
Gtk.main()

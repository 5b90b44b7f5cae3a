#!/usr/bin/python3
# Stands in for the accessibility bus's launcher on the message bus at argv[1]: owns its name,
# tells the accessibility bus's address (argv[2]) and that accessibility is on. Until it gets
# SIGUSR1 it answers no question about the switch, as a launcher too busy to answer in time.
# Prints "ready" once the name is owned.
import signal
import sys

import gi

gi.require_version("Gio", "2.0")
from gi.repository import Gio, GLib  # noqa: E402

NODE = Gio.DBusNodeInfo.new_for_xml(
    "<node>"
    "<interface name='org.a11y.Bus'>"
    "<method name='GetAddress'><arg type='s' direction='out'/></method></interface>"
    "<interface name='org.a11y.Status'>"
    "<property name='IsEnabled' type='b' access='readwrite'/>"
    "<property name='ScreenReaderEnabled' type='b' access='readwrite'/></interface>"
    "</node>")
held = True


def release(*_):
    global held
    held = False
    return GLib.SOURCE_CONTINUE


def unanswered(connection, message, incoming):
    # Questions about the switch go unanswered while held.
    if incoming and held and message.get_interface() == "org.freedesktop.DBus.Properties":
        return None
    return message


def method_call(connection, sender, path, interface, method, parameters, invocation):
    invocation.return_value(GLib.Variant("(s)", (sys.argv[2],)))


def get_property(connection, sender, path, interface, name):
    return GLib.Variant("b", name == "IsEnabled")


def owned(*_):
    print("ready", flush=True)


bus = Gio.DBusConnection.new_for_address_sync(
    sys.argv[1],
    Gio.DBusConnectionFlags.AUTHENTICATION_CLIENT | Gio.DBusConnectionFlags.MESSAGE_BUS_CONNECTION,
    None, None)
bus.add_filter(unanswered)
for interface in NODE.interfaces:
    bus.register_object("/org/a11y/bus", interface, method_call, get_property, None)
GLib.unix_signal_add(GLib.PRIORITY_DEFAULT, signal.SIGUSR1, release)
Gio.bus_own_name_on_connection(bus, "org.a11y.Bus", Gio.BusNameOwnerFlags.NONE, owned, None)
GLib.MainLoop().run()

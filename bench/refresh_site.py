#!/usr/bin/python3
"""Asks the helper serving TITLE for a refresh on the session bus and waits for its answer; prints why the
volume was kept ("notRefreshed"), or nothing when it was rebuilt. Exits 1 when no answer comes in time."""
import sys

import dbus
import dbus.mainloop.glib
from gi.repository import GLib

title = sys.argv[1]
dbus.mainloop.glib.DBusGMainLoop(set_as_default=True)
bus = dbus.SessionBus()
loop = GLib.MainLoop()
answer = []


def notification(name, info):
    if name == "refresh-done-" + title:
        answer.append(str(info.get("notRefreshed", "")))
        loop.quit()


bus.add_signal_receiver(notification, signal_name="Notification", dbus_interface="org.folvane.Bus",
                        path="/org/folvane/Bus")
request = dbus.lowlevel.SignalMessage("/org/folvane/Bus", "org.folvane.Bus", "Notification")
request.append(dbus.String("refresh-" + title), dbus.Dictionary({}, signature="sv"))
bus.send_message(request)
GLib.timeout_add_seconds(600, loop.quit)
loop.run()
if not answer:
    sys.exit("no refresh-done-" + title + " came")
print(answer[0])

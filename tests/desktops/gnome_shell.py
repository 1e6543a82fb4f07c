"""What GNOME's shell does for a user, asked over its session bus.

  gnome_shell.py screenshot PATH   the screen as the shell's own screenshot tool takes it
  gnome_shell.py click X Y         a click of the pointer's first button at X,Y
"""
import sys

from gi.repository import Gio, GLib

BUS = Gio.bus_get_sync(Gio.BusType.SESSION)


def call(name, path, interface, method, args=None, reply=None):
    return BUS.call_sync(name, path, interface, method, args,
                         GLib.VariantType(reply) if reply else None, 0, 10000, None)


def screenshot(path):
    # The shell takes screenshots only for its own tools: this one takes their name.
    call("org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "RequestName",
         GLib.Variant("(su)", ("org.gnome.Screenshot", 4)))
    ok, _ = call("org.gnome.Shell.Screenshot", "/org/gnome/Shell/Screenshot",
                 "org.gnome.Shell.Screenshot", "Screenshot",
                 GLib.Variant("(bbs)", (False, False, path)), "(bs)").unpack()
    return 0 if ok else 1


def click(x, y):
    # A remote-desktop session's pointer, as a remote user's: pushed to the top-left corner,
    # where the compositor stops it, then moved to the point.
    mutter = "org.gnome.Mutter.RemoteDesktop"
    session, = call(mutter, "/org/gnome/Mutter/RemoteDesktop", mutter, "CreateSession",
                    None, "(o)").unpack()
    iface = mutter + ".Session"
    call(mutter, session, iface, "Start")
    move = lambda dx, dy: call(mutter, session, iface, "NotifyPointerMotionRelative",
                               GLib.Variant("(dd)", (dx, dy)))
    move(-100000.0, -100000.0)
    move(float(x), float(y))
    button = lambda pressed: call(mutter, session, iface, "NotifyPointerButton",
                                  GLib.Variant("(ib)", (0x110, pressed)))
    button(True)
    try:
        button(False)
        call(mutter, session, iface, "Stop")
    except GLib.Error:
        pass  # the press ended this session too: the sharing indicator stops every one
    return 0


if __name__ == "__main__":
    command, args = sys.argv[1], sys.argv[2:]
    sys.exit({"screenshot": screenshot, "click": click}[command](*args))

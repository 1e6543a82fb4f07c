"""A window of known content for a screen cast of one window, and its picture on the wall.

  two_colour_window.py show WIDTH HEIGHT
        a window of WIDTHxHEIGHT pixels with no frame, its left half GREEN and its right half
        RED; prints ready once mapped. SIGUSR1 makes it 640x240, another shape.
  two_colour_window.py wall WALL.ppm X Y WIDTH HEIGHT
        waits up to 10 s for the wall to show the window's halves in that rectangle and black
        around it; exit 1 with the count of differing pixels if it does not
"""
import signal
import sys
import time

GREEN = (0x20, 0xC0, 0x60)
RED = (0xC0, 0x40, 0x20)
RESIZED = (640, 240)  # the size SIGUSR1 gives the window
FUZZ = 255 // 100  # per channel, as rounding may differ
STRAY = 40  # pixels that may differ: a pointer drawn over the window
EVEN = bytes(b & 0xFE for b in range(256))  # a byte with its lowest bit dropped


def show(width, height):
    import gi

    gi.require_version("Gdk", "4.0")
    gi.require_version("Gtk", "4.0")
    from gi.repository import Gdk, GLib, Gtk

    # The right half turns one step lighter and back every 0.1 s, as a window that plays a
    # video draws: mutter 43 sends a window's picture only when it draws, and its first one
    # of a cast sometimes comes empty (marked corrupted), which would leave a still window's
    # wall black.
    colours = GREEN + RED + tuple(c + 1 for c in RED)
    style = Gtk.CssProvider()
    style.load_from_data(b".left { background: #%02x%02x%02x; }"
                         b" .right { background: #%02x%02x%02x; }"
                         b" .lighter { background: #%02x%02x%02x; }" % colours)
    Gtk.StyleContext.add_provider_for_display(Gdk.Display.get_default(), style,
                                              Gtk.STYLE_PROVIDER_PRIORITY_APPLICATION)
    window = Gtk.Window(title="Two colours", decorated=False, resizable=False)
    halves = Gtk.Box(homogeneous=True)
    for name in ("left", "right"):
        halves.append(Gtk.Box(css_classes=[name]))

    def size(width, height):
        for half in (halves.get_first_child(), halves.get_last_child()):
            half.set_size_request(width // 2, height)

    def resize():
        size(*RESIZED)
        return GLib.SOURCE_CONTINUE

    def redraw():
        right = halves.get_last_child()
        if right.has_css_class("lighter"):
            right.remove_css_class("lighter")
        else:
            right.add_css_class("lighter")
        return GLib.SOURCE_CONTINUE

    size(int(width), int(height))
    GLib.timeout_add(100, redraw)
    window.set_child(halves)
    window.connect("map", lambda _: print("ready", flush=True))
    GLib.unix_signal_add(GLib.PRIORITY_DEFAULT, signal.SIGUSR1, resize)
    window.present()
    GLib.MainLoop().run()


def read_ppm(path):
    with open(path, "rb") as file:
        data = file.read()
    fields = data.split(maxsplit=4)  # P6 WIDTH HEIGHT 255 PIXELS
    return int(fields[1]), int(fields[2]), fields[4]


def differing(path, x, y, width, height):
    frame_width, frame_height, pixels = read_ppm(path)
    black = bytes(3 * frame_width)
    count = 0
    for row in range(frame_height):
        expected = black
        if y <= row < y + height:
            middle = x + width // 2
            expected = (bytes(3 * x) + bytes(GREEN) * (middle - x) +
                        bytes(RED) * (x + width - middle) + bytes(3 * (frame_width - x - width)))
        shown = pixels[3 * frame_width * row:3 * frame_width * (row + 1)]
        # Rows equal but for the lowest bits (the lighter red) are not counted pixel by pixel.
        if shown.translate(EVEN) != expected:
            count += sum(1 for i in range(0, len(expected), 3)
                         if max(abs(a - b) for a, b in zip(shown[i:i + 3],
                                                           expected[i:i + 3])) > FUZZ)
            if count > STRAY:
                break  # counted no further: the picture is not this one
    return count


def wall(path, x, y, width, height):
    deadline = time.monotonic() + 10
    while True:
        try:
            count = differing(path, int(x), int(y), int(width), int(height))
        except (OSError, IndexError, ValueError):
            count = None  # not written yet
        if count is not None and count <= STRAY or time.monotonic() > deadline:
            break
        time.sleep(0.1)
    if count is None:
        print("%s: nothing on the wall" % path)
        return 1
    print("%s: %s of the wall's pixels differ from the window fitted at %s,%s %sx%s"
          % (path, count if count <= STRAY else "more than %d" % STRAY, x, y, width, height))
    return 0 if count <= STRAY else 1


if __name__ == "__main__":
    command, args = sys.argv[1], sys.argv[2:]
    sys.exit({"show": show, "wall": wall}[command](*args))

"""A click through KWin's fake-input protocol, spoken on the Wayland socket directly.

  kwin_pointer.py click X Y
  kwin_pointer.py move X Y
"""
import os
import socket
import struct
import sys


class Connection:
    def __init__(self):
        path = os.path.join(os.environ["XDG_RUNTIME_DIR"],
                            os.environ.get("WAYLAND_DISPLAY", "wayland-0"))
        self.sock = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        self.sock.connect(path)
        self.next_id = 2
        self.buffer = b""

    def new_id(self):
        self.next_id += 1
        return self.next_id - 1

    def send(self, obj, opcode, payload=b""):
        self.sock.sendall(struct.pack("=II", obj, ((8 + len(payload)) << 16) | opcode) + payload)

    def events(self):
        while True:
            while len(self.buffer) >= 8:
                obj, word = struct.unpack("=II", self.buffer[:8])
                size = word >> 16
                if len(self.buffer) < size:
                    break
                payload, self.buffer = self.buffer[8:size], self.buffer[size:]
                yield obj, word & 0xffff, payload
            chunk = self.sock.recv(65536)
            if not chunk:
                return
            self.buffer += chunk

    def roundtrip(self, on_event=lambda obj, opcode, payload: None):
        callback = self.new_id()
        self.send(1, 0, struct.pack("=I", callback))  # wl_display.sync
        for obj, opcode, payload in self.events():
            if obj == callback:
                return
            if obj == 1 and opcode == 0:
                raise SystemExit("wayland error: %r" % payload)
            on_event(obj, opcode, payload)


def string(text):
    data = text.encode() + b"\0"
    return struct.pack("=I", len(data)) + data + b"\0" * (-len(data) % 4)


def fixed(value):
    return struct.pack("=i", int(round(float(value) * 256)))


def fake_input():
    """A connection and its registry's fake input global (name, version), or None."""
    conn = Connection()
    registry = conn.new_id()
    conn.send(1, 1, struct.pack("=I", registry))  # wl_display.get_registry
    found = {}

    def global_(obj, opcode, payload):
        if obj == registry and opcode == 0:
            name, length = struct.unpack("=II", payload[:8])
            interface = payload[8:8 + length - 1].decode()
            version, = struct.unpack("=I", payload[8 + length + (-length % 4):][:4])
            found[interface] = (name, version)

    conn.roundtrip(global_)
    return conn, registry, found.get("org_kde_kwin_fake_input")


def pointer_at(x, y):
    """A connection and its fake input, the pointer moved to X Y; None without fake input."""
    conn, registry, fake_global = fake_input()
    if fake_global is None:
        print("kwin offers this program no fake input")
        return None
    name, version = fake_global
    fake = conn.new_id()
    conn.send(registry, 0, struct.pack("=I", name) + string("org_kde_kwin_fake_input") +
              struct.pack("=II", min(version, 4), fake))
    conn.send(fake, 0, string("kvusb test") + string("a user's click"))  # authenticate
    conn.send(fake, 9, fixed(x) + fixed(y))  # pointer_motion_absolute
    conn.roundtrip()
    return conn, fake


def click(x, y):
    pointer = pointer_at(x, y)
    if pointer is None:
        return 1
    conn, fake = pointer
    for state in (1, 0):
        conn.send(fake, 2, struct.pack("=II", 0x110, state))  # button
        conn.roundtrip()
    return 0


def move(x, y):
    return 0 if pointer_at(x, y) is not None else 1


if __name__ == "__main__":
    command, args = sys.argv[1], sys.argv[2:]
    sys.exit({"click": click, "move": move}[command](*args))

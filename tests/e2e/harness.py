"""What the end-to-end tests and the demo share: the real tarvel.exe under Wine in a program folder of its own,
a window driver that uses it as a person would, and SMTP servers on 127.0.0.1 (aiosmtpd storing a Maildir,
and a scripted raw server for misbehaviour). The caller provides the virtual display and the wineserver."""

import os
import shutil
import socket
import subprocess
import threading
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
BUILD = Path(os.environ.get("TARVEL_BUILD", ROOT / "build" / "win32"))
EXE = BUILD / "tarvel.exe"
DRIVER = BUILD / "tarvel_drive.exe"
MAIN = "Tarvel Pro"
SETTINGS = "Settings"
ABOUT = "About Tarvel Pro"

# Mouse messages that the shell sends with the tray callback.
WM_LBUTTONUP, WM_LBUTTONDBLCLK, WM_RBUTTONUP = 0x0202, 0x0203, 0x0205


def wine_env(**extra):
    env = dict(os.environ)
    env.update(extra)
    return env


def winpath(path):
    """The Windows name of a Linux path under Wine's Z: drive."""
    return "Z:" + str(path).replace("/", "\\")


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class Driver:
    """Talks to tarvel_drive.exe: one tab-separated command per line, one 'ok ...'/'err ...' answer."""

    def __init__(self):
        self.proc = subprocess.Popen(["wine", str(DRIVER)], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                     stderr=subprocess.DEVNULL, env=wine_env(), text=True, bufsize=1)

    def __call__(self, *words, check=True):
        self.proc.stdin.write("\t".join(str(w) for w in words) + "\n")
        self.proc.stdin.flush()
        answer = self.proc.stdout.readline().rstrip("\n")
        if check and not answer.startswith("ok"):
            raise AssertionError(f"driver {words!r}: {answer!r}")
        return answer[3:] if answer.startswith("ok ") else answer if not answer.startswith("ok") else ""

    def text(self, window, control):
        return self("get", window, control).replace("\\r", "\r").replace("\\n", "\n").replace("\\\\", "\\")

    def wait_for(self, predicate, timeout=10.0, what="condition"):
        end = time.monotonic() + timeout
        while True:
            value = predicate()
            if value:
                return value
            if time.monotonic() > end:
                raise AssertionError(f"timed out waiting for {what}")
            time.sleep(0.05)

    def wait_text(self, window, control, expected, timeout=10.0):
        last = [None]

        def check():
            last[0] = self.text(window, control)
            return last[0] == expected

        try:
            self.wait_for(check, timeout, f"{control} == {expected!r}")
        except AssertionError:
            raise AssertionError(f"{control}: expected {expected!r}, last seen {last[0]!r}") from None

    def close(self):
        if self.proc.poll() is None:
            self.proc.stdin.close()
            try:
                self.proc.wait(5)
            except subprocess.TimeoutExpired:
                self.proc.kill()


class Program:
    """One run of tarvel.exe from its own program folder."""

    def __init__(self, folder, args=(), env=None):
        self.folder = Path(folder)
        self.proc = subprocess.Popen(["wine", str(self.folder / "tarvel.exe"), *args], cwd=self.folder,
                                     stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                     stderr=subprocess.DEVNULL, env=wine_env(**(env or {})))

    def wait(self, timeout=15):
        return self.proc.wait(timeout)

    def running(self):
        return self.proc.poll() is None

    def kill(self):
        if self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait(10)


def config(server="127.0.0.1", port=25, email="me@example.com", entry="", password="", dial=False, names=()):
    """The bytes of a configuration file."""
    lines = [f"{server}:{port}", email, f"{entry}:{password}", "TRUE" if dial else "FALSE"]
    for name, address in names:
        lines += [name, address]
    return ("".join(line + "\r\n" for line in lines)).encode("latin-1")


class Mailbox:
    """aiosmtpd on 127.0.0.1 that keeps every accepted message's exact bytes and stores it in a Maildir."""

    def __init__(self, folder):
        from aiosmtpd.controller import Controller

        self.messages = []
        self.maildir = Path(folder) / "Maildir"
        for sub in ("new", "cur", "tmp"):
            (self.maildir / sub).mkdir(parents=True, exist_ok=True)
        self.accepted = threading.Event()
        box = self

        class Handler:
            async def handle_DATA(self, server, session, envelope):
                data = envelope.original_content
                box.messages.append((envelope.mail_from, list(envelope.rcpt_tos), data))
                (box.maildir / "new" / f"{time.time_ns()}.tarvel").write_bytes(data)
                box.accepted.set()
                return "250 OK"

        self.port = free_port()
        self.controller = Controller(Handler(), hostname="127.0.0.1", port=self.port)
        self.controller.start()

    def wait(self, count=1, timeout=30):
        end = time.monotonic() + timeout
        while len(self.messages) < count and time.monotonic() < end:
            time.sleep(0.05)
        return len(self.messages) >= count

    def stop(self):
        self.controller.stop()


class ScriptedServer:
    """A raw SMTP peer on 127.0.0.1 for misbehaviour: `script(conn, server)` runs once per connection and
    uses server.send()/server.read_line()/server.read_data(); everything the client sent is kept."""

    def __init__(self, script):
        self.script = script
        self.received = bytearray()
        self.lines = []
        self.errors = []
        self.listener = socket.socket()
        self.listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        self.listener.bind(("127.0.0.1", 0))
        self.listener.listen(5)
        self.port = self.listener.getsockname()[1]
        self.done = threading.Event()
        self.thread = threading.Thread(target=self._serve, daemon=True)
        self.thread.start()

    def _serve(self):
        try:
            conn, _ = self.listener.accept()
        except OSError:
            return
        self.conn = conn
        self.buffer = b""
        conn.settimeout(60)
        try:
            self.script(conn, self)
        except Exception as e:  # the client may reset the connection: that is what some tests want
            self.errors.append(e)
        finally:
            self.done.set()

    def send(self, data):
        self.conn.sendall(data if isinstance(data, bytes) else data.encode("latin-1"))

    def read_line(self):
        while b"\r\n" not in self.buffer:
            chunk = self.conn.recv(65536)
            if not chunk:
                raise ConnectionError("closed")
            self.received += chunk
            self.buffer += chunk
        line, self.buffer = self.buffer.split(b"\r\n", 1)
        text = line.decode("latin-1")
        self.lines.append(text)
        return text

    def read_data(self):
        """Reads message text up to the end-of-data line; returns it without that line."""
        while b"\r\n.\r\n" not in self.buffer:
            chunk = self.conn.recv(65536)
            if not chunk:
                raise ConnectionError("closed")
            self.received += chunk
            self.buffer += chunk
        data, self.buffer = self.buffer.split(b"\r\n.\r\n", 1)
        return data + b"\r\n"

    def close(self):
        try:
            self.listener.close()
        except OSError:
            pass


def polite_session(server):
    """An SMTP conversation that accepts one message: greeting, HELO, MAIL, RCPT..., DATA, QUIT."""
    server.send("220 test ready\r\n")
    while True:
        line = server.read_line()
        verb = line.split(" ")[0].upper()
        if verb == "DATA":
            server.send("354 go ahead\r\n")
            server.message = server.read_data()
            server.send("250 accepted\r\n")
        elif verb == "QUIT":
            server.send("221 bye\r\n")
            server.conn.close()
            return
        else:
            server.send("250 ok\r\n")


def bmp_to_png(bmp):
    """A 24-bit bottom-up BMP (as the driver saves it) as PNG bytes, without any imaging library."""
    import struct
    import zlib

    offset = struct.unpack_from("<I", bmp, 10)[0]
    width, height = struct.unpack_from("<ii", bmp, 18)
    stride = (width * 3 + 3) & ~3
    rows = []
    for y in range(abs(height)):
        src = y if height < 0 else abs(height) - 1 - y
        row = bmp[offset + src * stride: offset + src * stride + width * 3]
        rgb = bytearray(len(row))
        rgb[0::3], rgb[1::3], rgb[2::3] = row[2::3], row[1::3], row[0::3]
        rows.append(b"\x00" + bytes(rgb))

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)

    header = struct.pack(">IIBBBBB", width, abs(height), 8, 2, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(b"".join(rows), 9))
            + chunk(b"IEND", b""))

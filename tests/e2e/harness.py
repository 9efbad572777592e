"""What the end-to-end tests and the demo share: the real tarvel.exe under Wine in a program folder of its own,
a window driver that uses it as a person would, and an SMTP server on 127.0.0.1 (aiosmtpd storing a Maildir;
the scripted servers for misbehaviour are tests/support/scripted_smtp.py, which this puts on the import path).
The caller provides the virtual display and the wineserver."""

import os
import queue
import socket
import subprocess
import sys
import threading
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
sys.path.insert(0, str(ROOT / "tests" / "support"))
BUILD = Path(os.environ.get("TARVEL_BUILD", ROOT / "build" / "win32"))
EXE = BUILD / "tarvel.exe"
DRIVER = BUILD / "tarvel_drive.exe"
# The scripted stand-in for RASAPI32.DLL (tests/platform/dialup), put beside the program by the dial-up tests.
FAKE_RAS = BUILD / "tests" / "platform" / "dialup" / "fake" / "rasapi32.dll"
# Top-level windows by caption; the main window and the program's message boxes share theirs, so those two
# also name their class (tarvel_drive's "@CLASS/caption").
MAIN = "@TfrmMain/Tarvel Pro"
MESSAGE_BOX = "@#32770/Tarvel Pro"
SETTINGS = "Settings"
ABOUT = "About Tarvel Pro"
TRAY = "Wine System Tray"  # Wine's own notification area when no desktop provides one: one child per icon

# Mouse messages that the shell sends with the tray callback.
WM_LBUTTONUP, WM_LBUTTONDBLCLK, WM_RBUTTONUP = 0x0202, 0x0203, 0x0205
# The tray menu's commands (ui/main_window.h: showItem, aboutItem, propertiesItem, closeItem).
MENU_SHOW, MENU_ABOUT, MENU_PROPERTIES, MENU_CLOSE = 201, 202, 204, 205


class Main:
    """The main window's controls, found by their place in its client area."""
    NAME = "ComboBox@60,3"
    EMAIL = "Edit@60,27"
    SUBJECT = "Edit@60,51"
    ATTACH = "Edit@60,75"
    BROWSE = "Button@280,76"
    BODY = "Edit@8,100"
    STATUS = "Static@12,308"
    PROGRESS = "msctls_progress32@176,306"
    SEND = "Button@8,332"
    ADD = "Button@100,332"
    DELETE = "Button@192,332"
    CLOSE = "Button@284,332"


class Settings:
    """The settings dialog's controls: places within their page, or within the dialog for OK and Cancel."""
    PAGES = "SysTabControl32@5,4"
    EMAIL = "Edit@13,40"
    SMTP = "Edit@15,107"
    PORT = "Edit@268,107"
    MAILTO = "Button@239,4"
    DIALUP = "Button@15,28"
    ENTRIES = "ComboBox@15,68"
    PASSWORD = "Edit@16,108"
    OK = "Button@174,243"
    CANCEL = "Button@256,243"
    # The "Security" page.
    SECURITY = "ComboBox@15,40"
    USER = "Edit@15,86"
    LOG_ON_PASSWORD = "Edit@168,86"
    # Its items: "None", "STARTTLS", "SSL/TLS".
    NONE, STARTTLS, SSL_TLS = 0, 1, 2
    # "Log-on" and, with OAuth 2.0, the sign-in's rows.
    LOG_ON = "ComboBox@168,40"
    PROVIDER = "ComboBox@15,132"
    CLIENT_ID = "Edit@168,132"
    SIGN_IN = "Button@15,162"
    SIGN_IN_STATUS = "Static@98,168"
    # Their items: "Password", "OAuth 2.0"; "Microsoft", "Google", "Other".
    BY_PASSWORD, BY_OAUTH2 = 0, 1
    MICROSOFT, GOOGLE, OTHER = 0, 1, 2


# Status texts: the final ones, and those that a send passes through.
SENT = "Mail has been sent!"
CANCELLED = "Mail has been cancelled!"
NOT_SENT = "The connection ended before the mail was sent"
PASSING = {"Waiting...", "Creating mail...", "Sending mail...", "Establishing ISP connection...", "Hanging up...",
           "Connecting securely...", "Logging on...", "Waiting for sign-in in your browser...", "Renewing sign-in..."}


def escape(text):
    return text.replace("\\", "\\\\").replace("\r", "\\r").replace("\n", "\\n").replace("\t", "\\t")


def unescape(text):
    out, i = [], 0
    while i < len(text):
        if text[i] == "\\" and i + 1 < len(text):
            c = text[i + 1]
            out.append({"n": "\n", "r": "\r", "t": "\t"}.get(c, c))
            i += 2
        else:
            out.append(text[i])
            i += 1
    return "".join(out)


def wine_env(**extra):
    # Every server of the suite is on this machine; Wine's WinHTTP would send even localhost to a proxy.
    env = {k: v for k, v in os.environ.items() if k.lower() not in ("http_proxy", "https_proxy")}
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

    # Longer than any wait of the driver's own; a program that stops answering its window messages must not
    # hang the suite.
    ANSWER_LIMIT = 60

    def __init__(self):
        self.proc = subprocess.Popen(["wine", str(DRIVER)], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                     stderr=subprocess.DEVNULL, env=wine_env(), text=True, bufsize=1,
                                     encoding="utf-8")  # the driver reads and writes the windows in UTF-16
        self.answers = queue.Queue()
        threading.Thread(target=self._read, daemon=True).start()

    def _read(self):
        for line in self.proc.stdout:
            self.answers.put(line.rstrip("\n"))
        self.answers.put(None)

    def __call__(self, *words, check=True):
        if self.proc.poll() is not None:
            raise AssertionError(f"driver {words!r}: the driver has ended")
        self.proc.stdin.write("\t".join(str(w) for w in words) + "\n")
        self.proc.stdin.flush()
        try:
            answer = self.answers.get(timeout=self.ANSWER_LIMIT)
        except queue.Empty:
            self.proc.kill()  # its answer would come too late and out of step
            raise AssertionError(f"driver {words!r}: no answer within {self.ANSWER_LIMIT} s") from None
        if answer is None:
            raise AssertionError(f"driver {words!r}: the driver has ended")
        if check and not answer.startswith("ok"):
            raise AssertionError(f"driver {words!r}: {answer!r}")
        return answer[3:] if answer.startswith("ok ") else answer if not answer.startswith("ok") else ""

    def text(self, window, control):
        return unescape(self("get", window, control))

    def set_text(self, window, control, text):
        """Types a whole text (WM_SETTEXT); line ends, tabs and backslashes survive the line protocol."""
        self("set", window, control, escape(text))

    def type_text(self, window, control, text):
        """Types a text key by key: each UTF-16 unit reaches the control as a WM_CHAR, as a keyboard layout
        or an input method delivers it (CR for a line end)."""
        self("type", window, control, escape(text.replace("\r\n", "\r")))

    def item(self, window, control, index):
        return unescape(self("item", window, control, index))

    def items(self, window, control):
        """Every item of a combo box, in order."""
        return [self.item(window, control, i) for i in range(int(self("count", window, control)))]

    def toplevels(self, caption=None):
        """The top-level windows as (class, caption, visible, process id), all or those with a caption."""
        rows = []
        for item in self("toplevels").split("\t"):
            cls, rest = item.split("=", 1)
            title, visible, pid = rest.rsplit("=", 2)
            rows.append((cls, unescape(title), visible == "1", int(pid)))
        return [row for row in rows if caption is None or row[1] == caption]

    def tray_icons(self):
        """How many icons the notification area shows."""
        answer = self("children", TRAY, check=False)
        return 0 if answer.startswith("err") or not answer else len(answer.split("\t"))

    def children(self, window):
        """Every control of a window, its controls' controls included, as "CLASS@x,y=caption"."""
        return self("children", window).split("\t")

    def settle(self, window=MAIN, control=Main.BODY):
        """Returns once what was posted to the window's thread before now has been handled: a message that
        should change nothing has then had its chance to."""
        self("settle", window, control)

    def wait_shown(self, window, timeout=15.0):
        """Waits until the window exists with its controls and is visible."""
        self.wait_for(lambda: self("visible", window, check=False) == "1", timeout, f"window {window!r} shown")

    def wait_created(self, window, control, timeout=15.0):
        """Waits until the window exists with the given control, whether it is shown or not."""
        self.wait_for(lambda: not self("get", window, control, check=False).startswith("err"), timeout,
                      f"window {window!r} with {control}")

    def wait_gone(self, window, timeout=15.0):
        self("gone", window, int(timeout * 1000))

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

    def compose(self, email=None, subject=None, body=None, attach=None, name=None):
        """Fills the main window's fields that are given, as a user typing them would."""
        for control, text in ((Main.NAME, name), (Main.EMAIL, email), (Main.SUBJECT, subject),
                              (Main.BODY, body), (Main.ATTACH, attach)):
            if text is not None:
                self.set_text(MAIN, control, text)

    def fields(self):
        return {key: self.text(MAIN, control) for key, control in
                (("name", Main.NAME), ("email", Main.EMAIL), ("subject", Main.SUBJECT), ("body", Main.BODY),
                 ("attach", Main.ATTACH))}

    def send(self, timeout=30.0):
        """Presses Send and waits for the send's final status, which it returns. The press returns once the
        program has taken the click, so a status left from an earlier send is never mistaken for this one."""
        self("press", MAIN, Main.SEND)
        return self.wait_outcome(timeout)

    def wait_outcome(self, timeout=30.0):
        seen = self.statuses = []  # every status the send showed, in order, for a test that wants them

        def done():
            status = self.text(MAIN, Main.STATUS)
            if not seen or seen[-1] != status:
                seen.append(status)
            return status not in PASSING and self.text(MAIN, Main.SEND) == "&Send"

        try:
            self.wait_for(done, timeout, "the end of the send")
        except AssertionError:
            raise AssertionError(f"the send did not end; statuses seen: {seen!r}, Send reads "
                                 f"{self.text(MAIN, Main.SEND)!r}") from None
        return self.text(MAIN, Main.STATUS)

    def close(self):
        if self.proc.poll() is None:
            self.proc.stdin.close()
            try:
                self.proc.wait(5)
            except subprocess.TimeoutExpired:
                self.proc.kill()


class Program:
    """One run of tarvel.exe from its own program folder."""

    def __init__(self, folder, args=(), env=None, cwd=None):
        self.folder = Path(folder)
        self.proc = subprocess.Popen(["wine", str(self.folder / "tarvel.exe"), *args], cwd=cwd or self.folder,
                                     stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                     stderr=subprocess.DEVNULL, env=wine_env(**(env or {})))

    def wait(self, timeout=15):
        return self.proc.wait(timeout)

    def ended(self, timeout=15):
        """True once the process has ended by itself within the time given."""
        try:
            self.proc.wait(timeout)
            return True
        except subprocess.TimeoutExpired:
            return False

    def running(self):
        return self.proc.poll() is None

    def kill(self):
        if self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait(10)


def config(server="127.0.0.1", port=25, email="me@example.com", entry="", password="", dial=False, names=()):
    """The bytes of a configuration file as the program writes it: in the code page (1252 here) when every
    character fits, else UTF-8 after a byte-order mark."""
    lines = [f"{server}:{port}", email, f"{entry}:{password}", "TRUE" if dial else "FALSE"]
    for name, address in names:
        lines += [name, address]
    text = "".join(line + "\r\n" for line in lines)
    try:
        return text.encode("cp1252")
    except UnicodeEncodeError:
        return b"\xef\xbb\xbf" + text.encode("utf-8")


class Mailbox:
    """aiosmtpd on 127.0.0.1 that keeps every accepted message's exact bytes and stores it in a Maildir;
    with smtputf8=True it offers SMTPUTF8 (RFC 6531)."""

    def __init__(self, folder, smtputf8=False):
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
        self.controller = Controller(Handler(), hostname="127.0.0.1", port=self.port, enable_SMTPUTF8=smtputf8)
        self.controller.start()

    def wait(self, count=1, timeout=30):
        end = time.monotonic() + timeout
        while len(self.messages) < count and time.monotonic() < end:
            time.sleep(0.05)
        return len(self.messages) >= count

    def stop(self):
        self.controller.stop()


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


# The registry keys of the "mailto:" registration, which tests that register put back as they were.
MACHINE_COMMAND = r"HKLM\Software\Classes\MailTo\Shell\Open\command"
USER_KEYS = [r"HKCU\Software\Classes\mailto", r"HKCU\Software\Classes\TarvelPro.mailto",
             r"HKCU\Software\Clients\Mail\Tarvel Pro"]


def files_holding(forms, program_dir, prefix, since):
    """The files that hold any of the byte strings `forms`: anywhere in the program's folder, and in the Wine
    prefix among those written since `since` (only they can hold what the test made)."""
    found = []
    for folder, everything in ((Path(program_dir), True), (Path(prefix), False)):
        for path in folder.rglob("*"):
            try:
                if not path.is_file() or path.is_symlink() or (not everything and path.stat().st_mtime < since):
                    continue
                data = path.read_bytes()
            except OSError:
                continue
            found += [str(path) for form in forms if form in data]
    return found


def reg(*args):
    result = subprocess.run(["wine", "reg", *args], env=wine_env(), stdin=subprocess.DEVNULL,
                            capture_output=True, timeout=60)
    return result.returncode, result.stdout.decode("latin-1").replace("\r", "")


def default_value(key):
    code, out = reg("query", key, "/ve")
    if code != 0:
        return None
    for line in out.splitlines():
        if "REG_SZ" in line:
            return line.split("REG_SZ", 1)[1].strip()
    return ""

"""The trust question about a server certificate that fails the program's check, as a user meets it: the real
tarvel.exe sends with STARTTLS to TLS servers on 127.0.0.1 (tests/support/tls_servers.py, certificates made for
the run), the "Server certificate" dialog comes up during the send, and its answer decides whether the mail
goes and what zembrix.ini keeps; a program closed under the question ends cleanly and keeps nothing."""

import datetime
import secrets
import select
import shutil
import subprocess
import tempfile
from pathlib import Path

import pytest

from harness import MAIN, MENU_CLOSE, ROOT, SENT, Main, config, winpath

DIALOG = "@#32770/Server certificate"
# The dialog's controls by id (ui/certificate_question.h) and its two buttons.
PROBLEM, SERVER, SUBJECT, ISSUER, VALIDITY, FINGERPRINT = (f"#{n}" for n in range(101, 107))
TRUST, CANCEL = "#1", "#2"
IDCANCEL = "2"
WS_DISABLED = 0x08000000
HOST = "localhost"  # Wine matches no IP-address names in certificates: the servers are asked for by name
NOT_ACCEPTED = "The server's certificate was not accepted: "
UNKNOWN_AUTHORITY = "The certificate's issuer is unknown: no chain to a trusted authority could be built."
WRONG_NAME = f"The certificate does not belong to the server name {HOST}."
# As the program writes it, so that a save that keeps everything is byte for byte the same.
STARTTLS_INI = b"[Security]\r\nMode=STARTTLS\r\nUser=\r\n"
START_LIMIT = 60  # seconds: the servers make six RSA keys first


class TlsServers:
    """tls_servers.py for the module: ports by name, and the certificates it made, in its own folder."""

    def __init__(self):
        self.folder = Path(tempfile.mkdtemp(prefix="tarvel-trust-"))
        self.proc = subprocess.Popen(["/usr/bin/python3", str(ROOT / "tests" / "support" / "tls_servers.py"),
                                      str(self.folder)], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                     stderr=subprocess.DEVNULL, text=True)
        ready, _, _ = select.select([self.proc.stdout], [], [], START_LIMIT)
        line = self.proc.stdout.readline() if ready else ""
        if line.strip() != "ready":
            self.stop()
            pytest.fail(f"the TLS servers did not start: {line!r}", pytrace=False)
        self.ports = {}
        for entry in (self.folder / "servers.txt").read_text().split():
            name, value = entry.split("=")
            if not name.endswith("-sha256"):
                self.ports[name] = int(value)

    def certificate(self, server):
        return self.folder / f"{server}.pem"

    def stored(self, subject):
        """The message with this subject as the server received it, or None."""
        needle = f"\r\nSubject: {subject}\r\n".encode()
        for path in self.folder.glob("message-*.eml"):
            if needle in path.read_bytes():
                return path.read_bytes()
        return None

    def stop(self):
        self.proc.stdin.close()
        try:
            self.proc.wait(10)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait()
        shutil.rmtree(self.folder, ignore_errors=True)


def openssl_view(cert):
    """What openssl reads in a certificate, in the forms the dialog shows: the values of subject and issuer
    (the test certificates have a common name only), the validity as "<from> to <to>" in UTC, and the SHA-256 fingerprint as colon-separated pairs."""
    out = subprocess.run(["openssl", "x509", "-in", str(cert), "-noout", "-subject", "-issuer", "-startdate",
                          "-enddate", "-fingerprint", "-sha256", "-nameopt", "sep_comma_plus,nofname"],
                         check=True, capture_output=True, text=True).stdout
    fields = dict(line.split("=", 1) for line in out.splitlines())

    def when(text):
        return datetime.datetime.strptime(text, "%b %d %H:%M:%S %Y GMT").strftime("%Y-%m-%d %H:%M UTC")

    return {"subject": fields["subject"], "issuer": fields["issuer"],
            "validity": f"{when(fields['notBefore'])} to {when(fields['notAfter'])}",
            "sha256": fields["sha256 Fingerprint"]}


def stored_form(colon_pairs):
    """The fingerprint as zembrix.ini keeps it: 64 lower-case hex digits."""
    return colon_pairs.replace(":", "").lower()


@pytest.fixture(scope="module")
def servers():
    s = TlsServers()
    yield s
    s.stop()


@pytest.fixture
def trusted_authority(servers, drive):
    """The servers' test CA in the user's root store for one test, out again however the test ends. Its
    name is new each run, so it stands in for no other test's authority."""
    der = winpath(servers.folder / "ca.der")
    drive("rootca", "add", der)
    yield
    drive("rootca", "remove", der, check=False)


def start_program(tray_program, program_dir, port, ini):
    (program_dir / "zembrix.ini").write_bytes(ini)
    tray_program(config(server=HOST, port=port))


def send_and_answer(drive, servers, server, subject, problem, answer):
    """Presses Send, checks the question that comes up against the server's certificate, answers it, and
    returns the send's final status."""
    drive.compose(email="bob@example.com", subject=subject, body="Asked about the certificate.")
    drive("press", MAIN, Main.SEND)
    drive.wait_shown(DIALOG, timeout=30)
    want = openssl_view(servers.certificate(server))
    shown = {key: drive.text(DIALOG, control) for key, control in
             (("problem", PROBLEM), ("server", SERVER), ("subject", SUBJECT), ("issuer", ISSUER),
              ("validity", VALIDITY), ("sha256", FINGERPRINT))}
    # Names in their string form may come quoted: Wine 8 quotes a UTF-8 value of n characters whose byte
    # n - 1 is a blank (it looks at a byte where it means the last character).
    for key in ("subject", "issuer"):
        if len(shown[key]) > 1 and shown[key][0] == shown[key][-1] == '"':
            shown[key] = shown[key][1:-1]
    lines = shown["sha256"].split("\r\n")
    assert [len(line.split(":")) for line in lines] == [16, 16], shown["sha256"]
    shown["sha256"] = ":".join(lines)
    assert shown == dict(want, problem=problem, server=HOST)
    # Over the main window, which it blocks, with the safe answer ready for Enter.
    assert drive("owner", DIALOG) == drive("window", MAIN)
    assert int(drive("style", MAIN)) & WS_DISABLED, "the main window takes clicks under the question"
    assert drive("default", DIALOG) == IDCANCEL
    assert drive("focused", DIALOG, CANCEL) == "1"
    assert drive("foreground", DIALOG) == "1"
    drive("click", DIALOG, {True: TRUST, False: CANCEL}[answer])
    drive.wait_gone(DIALOG)
    return drive.wait_outcome(timeout=30)


def test_unknown_authority_asked_until_trusted_then_sent_without_asking(servers, tray_program, drive,
                                                                        program_dir):
    token = secrets.token_hex(4)
    ini = program_dir / "zembrix.ini"
    start_program(tray_program, program_dir, servers.ports["unknown"], STARTTLS_INI)

    status = send_and_answer(drive, servers, "unknown", f"Cancelled {token}", UNKNOWN_AUTHORITY, False)
    assert status == NOT_ACCEPTED + UNKNOWN_AUTHORITY
    assert servers.stored(f"Cancelled {token}") is None
    assert ini.read_bytes() == STARTTLS_INI, "a refused certificate was remembered"
    assert drive.fields()["subject"] == f"Cancelled {token}", "what was typed is gone after a refusal"

    # Asked again, since nothing was trusted; this time it is.
    status = send_and_answer(drive, servers, "unknown", f"Trusted {token}", UNKNOWN_AUTHORITY, True)
    assert status == SENT
    assert servers.stored(f"Trusted {token}") is not None
    sha256 = stored_form(openssl_view(servers.certificate("unknown"))["sha256"])
    assert ini.read_bytes() == STARTTLS_INI + f"[Trusted]\r\n{HOST}={sha256}\r\n".encode()

    # The trusted certificate goes without a question: a question would hold the send until it is answered.
    drive.compose(email="bob@example.com", subject=f"Again {token}", body="No question this time.")
    assert drive.send(timeout=30) == SENT
    assert drive("visible", DIALOG, check=False).startswith("err")
    assert servers.stored(f"Again {token}") is not None


@pytest.mark.parametrize("server,trusted_before,authority,problem", [
    # Another certificate under the same name: the fingerprint trusted before does not stand for it.
    ("changed", "unknown", False, UNKNOWN_AUTHORITY),
    # An authority this computer trusts, but a certificate for another name.
    ("wrong", None, True, WRONG_NAME),
])
def test_refused_certificate_is_not_sent_to_and_trusts_nothing_new(servers, tray_program, drive, program_dir,
                                                                   request, server, trusted_before, authority,
                                                                   problem):
    if authority:
        request.getfixturevalue("trusted_authority")
    ini = STARTTLS_INI
    if trusted_before:
        sha256 = stored_form(openssl_view(servers.certificate(trusted_before))["sha256"])
        ini += f"[Trusted]\r\n{HOST}={sha256}\r\n".encode()
    start_program(tray_program, program_dir, servers.ports[server], ini)
    subject = f"Refused {server} {secrets.token_hex(4)}"

    status = send_and_answer(drive, servers, server, subject, problem, False)
    assert status == NOT_ACCEPTED + problem
    assert servers.stored(subject) is None
    assert (program_dir / "zembrix.ini").read_bytes() == ini


@pytest.mark.parametrize("mode,close", [
    # The tray menu's Close, which reaches the window even while the question holds it.
    ("tray", ("menu", MAIN, MENU_CLOSE)),
    # Started from a link, the window's own close (as the task bar's Close sends it) ends the program.
    ("mailto", ("close", MAIN)),
], ids=["tray-menu", "mailto-window"])
def test_closed_while_asked_ends_at_once_and_sends_or_trusts_nothing(servers, start, tray_program, drive,
                                                                     program_dir, mode, close):
    subject = f"Closed {mode} {secrets.token_hex(4)}"
    cfg = config(server=HOST, port=servers.ports["unknown"])
    (program_dir / "zembrix.ini").write_bytes(STARTTLS_INI)
    if mode == "tray":
        program = tray_program(cfg)
        drive.compose(email="bob@example.com", subject=subject, body="Closed under the question.")
    else:
        program = start("/u", f"mailto:bob@example.com?subject={subject.replace(' ', '%20')}", cfg=cfg)
        drive.wait_shown(MAIN)
    drive.wait_for(lambda: drive.tray_icons() == 1, 10, "the tray icon")
    drive("press", MAIN, Main.SEND)
    drive.wait_shown(DIALOG, timeout=30)

    drive(*close)
    assert program.ended(10), "the program did not end"
    # A crash off the window procedures, or std::terminate, ends the process as well, with a code of its
    # own: a clean end returns 0.
    assert program.proc.returncode == 0, hex(program.proc.returncode & 0xFFFFFFFF)
    drive.wait_gone(DIALOG, timeout=5)
    drive.wait_gone(MAIN, timeout=5)
    drive.wait_for(lambda: drive.tray_icons() == 0, 10, "the tray icon removed")
    assert servers.stored(subject) is None
    assert (program_dir / "zembrix.ini").read_bytes() == STARTTLS_INI
    assert (program_dir / "zembrix.cfg").read_bytes() == cfg

#!/usr/bin/env python3
"""The whole program in the benchmark: the real tarvel.exe, driven through its window as the end-to-end suite
drives it (mail-to mode, an attachment, Send, until the program ends after the server's 221), then curl, then a
plain socket writer of the same message text, each to Postfix's smtp-sink on 127.0.0.1. The writer's time is
what the sink can take at best: the limit.

    whole_program.py SINK_PORT ATTACHMENT MIB
    whole_program.py --security zembrix.ini SINK_PORT ATTACHMENT MIB

With --security, tarvel.exe alone, secured as that file says, to the server "localhost" (bench/run.sh runs
curl and a TLS writer to the same sink beside it).

Run with the Wine environment, a display and a persistent wineserver set up (bench/run.sh does), and with
TARVEL_BUILD naming the build folder that holds tarvel.exe and tarvel_drive.exe. Prints key=value lines.
"""
import os
import shutil
import socket
import subprocess
import sys
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parents[1]
sys.path.insert(0, str(ROOT / "tests" / "e2e"))
sys.path.insert(0, str(ROOT / "bench"))
import harness  # noqa: E402  (the end-to-end suite's driver and program runner)
from message_text import RECIPIENT, SENDER, encoded  # noqa: E402

LIMIT = 600  # seconds for one send, at most


def wineserver_cpu():
    """CPU seconds that this prefix's wineserver has used so far: a Wine program's socket calls pass through it."""
    prefix = os.environ.get("WINEPREFIX", "")
    hz = os.sysconf("SC_CLK_TCK")
    for pid in os.listdir("/proc"):
        if not pid.isdigit():
            continue
        try:
            if Path(f"/proc/{pid}/comm").read_text().strip() not in ("wineserver", "wineserver32", "wineserver64"):
                continue
            env = Path(f"/proc/{pid}/environ").read_bytes().split(b"\0")
            if f"WINEPREFIX={prefix}".encode() not in env:
                continue
            fields = Path(f"/proc/{pid}/stat").read_text().rsplit(")", 1)[1].split()
            return (int(fields[11]) + int(fields[12])) / hz
        except OSError:
            continue
    return 0.0


def wait_child(proc, deadline):
    """Waits for a child without blocking past the deadline; returns its resource use, or None."""
    while time.monotonic() < deadline:
        pid, _, usage = os.wait4(proc.pid, os.WNOHANG)
        if pid == proc.pid:
            proc.returncode = 0
            return usage
        time.sleep(0.01)
    return None


def report(name, seconds, usage, extra=0.0):
    print(f"{name}_seconds={seconds:.3f}")
    if usage is not None:
        print(f"{name}_cpu_seconds={usage.ru_utime + usage.ru_stime:.2f}")
        print(f"{name}_peak_MiB={usage.ru_maxrss / 1024:.1f}")
    if extra:
        print(f"{name}_wineserver_cpu_seconds={extra:.2f}")


def tarvel(port, attachment, folder, security=None):
    """Tarvel from the click on Send to the end of its process, which mail-to mode ends after the send."""
    folder.mkdir(parents=True, exist_ok=True)
    for name in ("tarvel.exe", "zembrix.ico"):
        shutil.copy(harness.BUILD / name, folder / name)
    server = "127.0.0.1"
    if security is not None:
        shutil.copy(security, folder / "zembrix.ini")
        # Wine matches no IP address in a certificate: the name the certificate carries.
        server = "localhost"
    (folder / "zembrix.cfg").write_bytes(harness.config(server=server, port=port, email=SENDER))
    drive = harness.Driver()
    proc = None
    try:
        # Two Wine programs that start the desktop at the same moment can hang one of them: the driver
        # has it started before the program comes.
        drive.toplevels()
        proc = subprocess.Popen(["wine", str(folder / "tarvel.exe"), "/u", f"mailto:{RECIPIENT}?subject=bench&body=hello"],
                                cwd=folder, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                stderr=subprocess.DEVNULL)
        drive.wait_created(harness.MAIN, harness.Main.STATUS, timeout=60)
        # The link fills the fields while the window is being created.
        drive.wait_text(harness.MAIN, harness.Main.EMAIL, RECIPIENT, timeout=60)
        drive.set_text(harness.MAIN, harness.Main.ATTACH, harness.winpath(attachment))
        server_before = wineserver_cpu()
        started = time.monotonic()
        drive("press", harness.MAIN, harness.Main.SEND)
        usage = wait_child(proc, started + LIMIT)
        seconds = time.monotonic() - started
        if usage is None:
            print(f"tarvel_status={drive.text(harness.MAIN, harness.Main.STATUS)}")
            return False
        report("tarvel", seconds, usage, wineserver_cpu() - server_before)
        return True
    finally:
        if proc is not None and proc.poll() is None and proc.returncode is None:
            proc.kill()
            proc.wait(10)
        drive.close()


def curl(port, attachment):
    started = time.monotonic()
    proc = subprocess.Popen(["curl", "-s", f"smtp://127.0.0.1:{port}", "--mail-from", SENDER, "--mail-rcpt", RECIPIENT,
                             "-F", "=(;type=multipart/mixed", "-F", "=hello;type=text/plain",
                             "-F", f"file=@{attachment};encoder=base64", "-F", "=)", "-H", "Subject: bench"],
                            stdin=subprocess.DEVNULL)
    usage = wait_child(proc, started + LIMIT)
    report("curl", time.monotonic() - started, usage)
    return usage is not None


def writer(port, message):
    """The sink's limit: the same text from a plain socket writer, with the fewest round trips SMTP allows."""
    started = time.monotonic()
    with socket.create_connection(("127.0.0.1", port)) as s, open(message, "rb") as text:
        replies = s.makefile("rb")

        def reply():
            while True:
                line = replies.readline()
                if not line or line[3:4] != b"-":
                    return line

        reply()
        for command in (b"HELO bench", f"MAIL FROM:<{SENDER}>".encode(), f"RCPT TO:<{RECIPIENT}>".encode(), b"DATA"):
            s.sendall(command + b"\r\n")
            reply()
        s.sendfile(text)
        s.sendall(b"\r\n.\r\n")
        accepted = reply()
        s.sendall(b"QUIT\r\n")
        reply()
    seconds = time.monotonic() - started
    print(f"limit_seconds={seconds:.3f}")
    return accepted.startswith(b"250")


def main():
    args = sys.argv[1:]
    security = None
    if args[0] == "--security":
        security, args = Path(args[1]).resolve(), args[2:]
    port, attachment, mib = int(args[0]), Path(args[1]).resolve(), int(args[2])
    if security is not None:
        return 0 if tarvel(port, attachment, attachment.parent / "program-tls", security) else 1
    message = encoded(attachment)
    print(f"wire_bytes={message.stat().st_size}")
    ok = writer(port, message)
    ok = tarvel(port, attachment, attachment.parent / "program") and ok
    ok = curl(port, attachment) and ok
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())

#!/usr/bin/python3
"""An SMTP server on 127.0.0.1 for the delivery test: keeps each accepted message's exact bytes.

    aiosmtpd_capture.py FOLDER [LIFETIME]

Prints "port N" once it listens. Message n is stored as FOLDER/message-n.eml (the text as received,
after the server has undone the leading-dot rule) and then FOLDER/message-n.envelope (one
"MAIL FROM: address" line and one "RCPT TO: address" line per recipient). A recipient at the domain
refused.invalid gets "550 No such user here". Ends when its standard input closes (the runner has
gone) or after LIFETIME seconds (default 240).
"""
import os
import socket
import sys
import threading
import time

from aiosmtpd.controller import Controller

REFUSED_DOMAIN = "@refused.invalid"


class Capture:
    def __init__(self, folder):
        self.folder = folder
        self.count = 0

    async def handle_RCPT(self, server, session, envelope, address, rcpt_options):
        if address.endswith(REFUSED_DOMAIN):
            return "550 No such user here"
        envelope.rcpt_tos.append(address)
        return "250 OK"

    async def handle_DATA(self, server, session, envelope):
        self.count += 1
        base = os.path.join(self.folder, "message-%d" % self.count)
        lines = ["MAIL FROM: %s\n" % envelope.mail_from]
        lines += ["RCPT TO: %s\n" % address for address in envelope.rcpt_tos]
        # The envelope comes last and whole: once it exists, the message beside it is complete.
        write_whole(base + ".eml", envelope.original_content)
        write_whole(base + ".envelope", "".join(lines).encode("ascii"))
        return "250 Message accepted"


def write_whole(path, data):
    with open(path + ".tmp", "wb") as f:
        f.write(data)
    os.replace(path + ".tmp", path)


def free_port():
    # aiosmtpd's readiness check connects to the port it was given, so port 0 cannot be handed to it.
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def start(handler):
    for _ in range(5):
        controller = Controller(handler, hostname="127.0.0.1", port=free_port())
        try:
            controller.start()
            return controller
        except Exception:  # the port was taken between the probe and the start: try another
            time.sleep(0.1)
    raise SystemExit("aiosmtpd_capture: no free port")


def main():
    folder = sys.argv[1]
    lifetime = float(sys.argv[2]) if len(sys.argv) > 2 else 240.0
    controller = start(Capture(folder))
    print("port %d" % controller.port, flush=True)
    stdin_closed = threading.Event()

    def watch_stdin():
        sys.stdin.buffer.read()
        stdin_closed.set()

    threading.Thread(target=watch_stdin, daemon=True).start()
    stdin_closed.wait(lifetime)
    controller.stop()


if __name__ == "__main__":
    main()

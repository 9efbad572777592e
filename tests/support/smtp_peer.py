#!/usr/bin/env python3
"""SMTP peers on 127.0.0.1 for the main window's send tests, started by the Win32 test under Wine: aiosmtpd
to store what arrives, or one of the scripted servers of scripted_smtp.py.

    smtp_peer.py MODE PORT FOLDER

MODE store: aiosmtpd; each accepted message is written to FOLDER/message-N.json (envelope and content).
MODE stall: answers the commands, then after "354" reads nothing more (a transfer that cannot finish).
MODE mute:  sends the greeting, then reads and never answers.
MODE noquit: takes the message, then answers "QUIT" with 250 instead of 221 and keeps the connection open.
MODE linger: takes the message, then answers "QUIT" with 221 but keeps the connection open.

FOLDER/ready appears once the port listens. The peer ends when FOLDER/stop appears, when the test
process that started it is gone, or after a few minutes at most; it then writes FOLDER/gone.
"""
import json
import os
import sys
import time

from scripted_smtp import ScriptedServer, answering, hold, mute

LIFETIME = 240  # seconds; a test never needs longer


def detach():
    # Wine hands the test runner's pipes down to us: let go of them at once.
    devnull = os.open(os.devnull, os.O_RDWR)
    for fd in (0, 1, 2):
        os.dup2(devnull, fd)
    try:
        os.setsid()
    except OSError:
        pass


def wait_for_end(folder, parent):
    deadline = time.monotonic() + LIFETIME
    while time.monotonic() < deadline:
        if os.path.exists(os.path.join(folder, "stop")) or os.getppid() != parent:
            return
        time.sleep(0.05)


def mark(folder, name):
    with open(os.path.join(folder, name), "w") as f:
        f.write(str(os.getpid()))


def store(port, folder):
    from aiosmtpd.controller import Controller

    class Handler:
        def __init__(self):
            self.count = 0

        async def handle_DATA(self, server, session, envelope):
            self.count += 1
            record = {"mail_from": envelope.mail_from, "rcpt_tos": envelope.rcpt_tos,
                      "content": envelope.original_content.decode("latin-1")}
            path = os.path.join(folder, "message-%d.json" % self.count)
            with open(path + ".tmp", "w") as f:
                json.dump(record, f)
            os.replace(path + ".tmp", path)
            return "250 Message accepted"

    # An explicit port: aiosmtpd's own readiness check cannot connect to port 0.
    controller = Controller(Handler(), hostname="127.0.0.1", port=port)
    controller.start()
    return controller.stop


# The scripted modes: what each one's conversation is (scripted_smtp.py).
MODES = {
    "stall": answering(at_data=hold),
    "mute": mute,
    "noquit": answering({"QUIT": "250 ok\r\n"}, hang_up_on_quit=False),
    "linger": answering(hang_up_on_quit=False),
}


def scripted(port, mode):
    # A stalled transfer must fill the buffers long before the test's attachment is all written.
    server = ScriptedServer(MODES[mode], port, every_connection=True, timeout=None, receive_buffer=64 * 1024)

    def stop():
        server.close()
        server.hang_up()
    return stop


def main():
    mode, port, folder = sys.argv[1], int(sys.argv[2]), sys.argv[3]
    parent = os.getppid()
    detach()
    if mode == "store":
        stop = store(port, folder)
    else:
        stop = scripted(port, mode)
    mark(folder, "ready")
    try:
        wait_for_end(folder, parent)
    finally:
        stop()
        mark(folder, "gone")
        os._exit(0)


if __name__ == "__main__":
    main()

#!/usr/bin/env python3
"""SMTP peers on 127.0.0.1 for the main window's send tests, started by the Win32 test under Wine.

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
import socket
import sys
import threading
import time

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


def scripted(port, mode):
    listener = socket.socket()
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind(("127.0.0.1", port))
    listener.listen(4)
    connections = []

    def serve(conn):
        conn.sendall(b"220 peer ready\r\n")
        if mode == "mute":
            while conn.recv(65536):
                pass
            return
        buffer = b""
        while True:
            data = conn.recv(65536)
            if not data:
                return
            buffer += data
            while b"\r\n" in buffer:
                line, buffer = buffer.split(b"\r\n", 1)
                if line.upper().startswith(b"QUIT") and mode == "linger":
                    conn.sendall(b"221 bye\r\n")
                    continue
                if line.upper().startswith(b"DATA") and mode in ("noquit", "linger"):
                    conn.sendall(b"354 go ahead\r\n")
                    while b"\r\n.\r\n" not in buffer:
                        data = conn.recv(65536)
                        if not data:
                            return
                        buffer += data
                    buffer = buffer.split(b"\r\n.\r\n", 1)[1]
                    conn.sendall(b"250 accepted\r\n")
                    continue
                if line.upper().startswith(b"DATA"):
                    conn.sendall(b"354 go ahead\r\n")
                    # Read nothing more: the client's send buffer fills and its writer waits.
                    while True:
                        time.sleep(1)
                conn.sendall(b"250 ok\r\n")

    def accept():
        while True:
            try:
                conn, _ = listener.accept()
            except OSError:
                return
            connections.append(conn)
            threading.Thread(target=serve, args=(conn,), daemon=True).start()

    threading.Thread(target=accept, daemon=True).start()

    def stop():
        listener.close()
        for conn in connections:
            conn.close()
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

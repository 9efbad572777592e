#!/usr/bin/env python3
"""What the benchmark's sink can take over STARTTLS at best: the same message text as Tarvel's, already
encoded, from a writer that only encrypts and sends (OpenSSL through Python's ssl, in large blocks).

    tls_writer.py SINK_PORT ATTACHMENT CA.pem

The sink's certificate is checked against CA.pem for "localhost". Prints limit_seconds and wire_bytes.
"""
import socket
import ssl
import sys
import time
from pathlib import Path

from message_text import RECIPIENT, SENDER, encoded

BLOCK = 1 << 20


def main():
    port, attachment, ca = int(sys.argv[1]), Path(sys.argv[2]).resolve(), sys.argv[3]
    message = encoded(attachment)
    context = ssl.create_default_context(cafile=ca)
    started = time.monotonic()
    with socket.create_connection(("127.0.0.1", port)) as plain:
        replies = plain.makefile("rb")

        def reply(lines):
            while True:
                line = lines.readline()
                if not line or line[3:4] != b"-":
                    return line

        reply(replies)
        for command in (b"EHLO bench", b"STARTTLS"):
            plain.sendall(command + b"\r\n")
            answer = reply(replies)
        if not answer.startswith(b"220"):
            print(f"tls_writer: STARTTLS answered {answer!r}", file=sys.stderr)
            return 1
        replies.close()
        with context.wrap_socket(plain, server_hostname="localhost") as s, open(message, "rb") as text:
            replies = s.makefile("rb")
            for command in (b"EHLO bench", f"MAIL FROM:<{SENDER}>".encode(), f"RCPT TO:<{RECIPIENT}>".encode(),
                            b"DATA"):
                s.sendall(command + b"\r\n")
                reply(replies)
            while block := text.read(BLOCK):
                s.sendall(block)
            s.sendall(b"\r\n.\r\n")
            accepted = reply(replies)
            s.sendall(b"QUIT\r\n")
            reply(replies)
    print(f"limit_seconds={time.monotonic() - started:.3f}")
    print(f"wire_bytes={message.stat().st_size}")
    return 0 if accepted.startswith(b"250") else 1


if __name__ == "__main__":
    sys.exit(main())

"""The benchmark's message text as Tarvel writes it, for the senders that only copy text: the plain and the
TLS socket writers that show what a sink can take at best."""
import base64
import os

SENDER = "bench@tarvel.test"
RECIPIENT = "sink@tarvel.test"


def encoded(attachment):
    """The message text, base64 in 76-character lines, made once and kept beside the attachment."""
    path = attachment.with_suffix(".eml")
    if path.exists() and path.stat().st_mtime >= attachment.stat().st_mtime:
        return path
    boundary = "tarvel-bench-boundary"
    with open(attachment, "rb") as src, open(path.with_suffix(".tmp"), "wb") as out:
        out.write((f"From: <{SENDER}>\r\nTo: <{RECIPIENT}>\r\nSubject: bench\r\nMIME-Version: 1.0\r\n"
                   f"Content-Type: multipart/mixed; boundary=\"{boundary}\"\r\n\r\n--{boundary}\r\n"
                   "Content-Type: text/plain\r\n\r\nhello\r\n\r\n"
                   f"--{boundary}\r\nContent-Type: application/octet-stream; name=\"{attachment.name}\"\r\n"
                   "Content-Transfer-Encoding: base64\r\n\r\n").encode())
        while True:
            block = src.read(57 * 1024 * 16)
            if not block:
                break
            text = base64.encodebytes(block).replace(b"\n", b"\r\n")
            out.write(text)
        out.write(f"\r\n--{boundary}--\r\n".encode())
    os.replace(path.with_suffix(".tmp"), path)
    return path

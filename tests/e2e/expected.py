"""What the program should produce, built here from the rules rather than taken from the program: the exact
message text for a set of fields and attachments, the wire form of it, and what a configuration file reads as."""

import base64
import email.utils
import re

CRLF = "\r\n"
BOUNDARY = "=====================_MERLANTOSK_==_"


def attachment_name(path):
    """The file name after the path's last "\\" or ":" ("/" is no separator), at most 255 characters."""
    cut = max(path.rfind("\\"), path.rfind(":"))
    return path[cut + 1:][:255]


def base64_lines(data):
    """The encoded content of one attachment: 57-byte blocks as lines of 76 characters, then one empty line
    for the last, empty read."""
    out = bytearray()
    for start in range(0, len(data), 57):
        out += base64.b64encode(data[start:start + 57]) + b"\r\n"
    return bytes(out + b"\r\n")


def message(to, sender, subject, body_lines=(), attachments=()):
    """The message text as the program writes it after DATA, before the end-of-data line and without the
    leading-dot rule. `to` is the whole To value (name, " <", the e-mail text, ">"); `attachments` holds
    (path as given to the program, content bytes)."""
    head = (f"To: {to}{CRLF}Reply-To: {sender}{CRLF}From: {sender}{CRLF}X-Mailer: Tarvel Pro 1.5{CRLF}"
            f"Subject: {subject}{CRLF}")
    if attachments:
        head += (f"Mime-Version: 1.0{CRLF}"
                 f'Content-Type: multipart/mixed; boundary="{BOUNDARY}"{CRLF}'
                 f"X-Attachments: ;{CRLF}{CRLF}"
                 f"--{BOUNDARY}{CRLF}")
    head += f'Content-Type: text/plain; charset="us-ascii"{CRLF}{CRLF}'
    out = bytearray(head.encode("latin-1"))
    body = "".join(line + CRLF for line in body_lines)
    if body:
        out += (body + CRLF).encode("latin-1")
    for path, content in attachments:
        name = attachment_name(path)
        out += (f"{CRLF}--{BOUNDARY}{CRLF}"
                f'Content-Type: application/octet-stream; name="{name}";{CRLF}'
                f"Content-Transfer-Encoding: base64{CRLF}"
                f'Content-Disposition: attachment; filename="{name}"{CRLF}{CRLF}').encode("latin-1")
        out += base64_lines(content)
    if attachments:
        out += f"--{BOUNDARY}--{CRLF}{CRLF}".encode("latin-1")
    return bytes(out)


STAMP = re.compile(rb"\r\nDate: ([^\r\n]*)\r\nMessage-ID: (<[0-9A-Za-z.]+@[0-9A-Za-z.-]+>)\r\nSubject: ")


def stamp(data):
    """The Date (an aware datetime) and Message-ID of a received message, after checking that each is there
    once, the two together right before Subject, in the form the program writes."""
    head = data.split(b"\r\n\r\n", 1)[0]
    found = STAMP.search(head + b"\r\n")
    assert found and head.count(b"\nDate: ") == 1 and head.count(b"\nMessage-ID: ") == 1, head[:400]
    date = found.group(1).decode("ascii")
    assert re.fullmatch(r"(Mon|Tue|Wed|Thu|Fri|Sat|Sun), \d\d [A-Z][a-z]{2} \d{4} \d\d:\d\d:\d\d [+-]\d{4}", date)
    return email.utils.parsedate_to_datetime(date), found.group(2).decode("ascii")


def unstamped(data):
    """A received message without its Date and Message-ID lines (which differ at every send) once stamp() has
    checked them: the rest is compared byte for byte with message()."""
    stamp(data)
    found = STAMP.search(data)
    return data[:found.start()] + b"\r\nSubject: " + data[found.end():]


def stored(text):
    """What a receiving server keeps of a message text: the text and the line end that comes with the
    end-of-data line (CRLF "." CRLF)."""
    return text + b"\r\n"


def on_the_wire(text):
    """The message text with the leading-dot rule of SMTP applied to every line."""
    lines = text.split(b"\r\n")
    return b"\r\n".join(b"." + line if line.startswith(b".") else line for line in lines)


def read_config(data):
    """What the program reads from a zembrix.cfg: (server, port, email, entry, password, use_dialup, names,
    addresses). A line ends at CR LF, a lone CR or a lone LF; Ctrl-Z ends the file; missing lines read as
    empty."""
    pos = 0
    ended = False

    def at_end():
        return ended or pos >= len(data) or data[pos] == 0x1A

    def line():
        nonlocal pos, ended
        start = pos
        while pos < len(data) and data[pos] not in (0x0D, 0x0A, 0x1A):
            pos += 1
        value = data[start:pos]
        if pos < len(data) and data[pos] == 0x1A:
            ended = True
        elif pos < len(data):
            pos += 1
            if data[pos - 1] == 0x0D and pos < len(data) and data[pos] == 0x0A:
                pos += 1
        return value.decode("latin-1")

    server, port = line(), "25"
    if ":" in server:
        server, port = server.split(":", 1)
    email = line()
    entry, password = line(), ""
    if ":" in entry:
        entry, password = entry.split(":", 1)
    dial = line() == "TRUE"
    names, addresses = [], []
    while not at_end():
        names.append(line())
        addresses.append(line())
    return server, port, email, entry, password, dial, names, addresses

#!/usr/bin/python3
"""Reads a composed message back the way a mail reader does (Python's email package) and compares it with
what the user typed.

    decode_message.py MESSAGE TYPED

MESSAGE holds the message text as the server keeps it; TYPED holds the typed fields as raw bytes (UTF-8, or
a code page where they come from older files), each ended by a NUL: the Python codec name, the subject,
the To name, the body (CR LF lines) and then the attachment names. Prints what differs and exits 1, or exits 0.
"""
import email
import email.policy
import sys


def main():
    message = open(sys.argv[1], "rb").read()
    fields = open(sys.argv[2], "rb").read().split(b"\0")[:-1]
    codec = fields[0].decode("ascii")
    subject, name, body = (f.decode(codec) for f in fields[1:4])
    names = [f.decode(codec) for f in fields[4:]]

    msg = email.message_from_bytes(message, policy=email.policy.default)
    found = {
        "subject": str(msg["subject"]),
        "name": msg["to"].addresses[0].display_name,
        # The writer ends the body with one more line end; the reader gives LF line ends.
        "body": msg.get_body(("plain",)).get_content().replace("\r\n", "\n"),
        "names": [part.get_filename() for part in msg.iter_attachments()],
        "defects": [repr(d) for part in msg.walk() for d in part.defects],
    }
    wanted = {"subject": subject, "name": name, "body": body.replace("\r\n", "\n") + "\n", "names": names,
              "defects": []}
    differences = [f"{key}: wanted {wanted[key]!r}, read {found[key]!r}" for key in wanted
                   if wanted[key] != found[key]]
    for line in differences:
        print(line)
    return 1 if differences else 0


if __name__ == "__main__":
    sys.exit(main())

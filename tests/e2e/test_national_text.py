"""Text typed in the user's own language arrives as typed: a German subject, name, body and file name, sent by
the real program, read back by Python's email package (as a mail reader would) and compared with what was
typed. The Wine prefix runs with the ANSI code page 1252; the text goes out as UTF-8."""

import email
import email.policy

from harness import MAIN, SENT, Main, config, winpath


def test_national_text_reads_back_as_typed(tray_program, drive, mailbox, program_dir):
    name, subject = "Jürgen Müller", "Grüße aus Köln"
    body = "Schöne Grüße,\r\ncafé crème\r\n.à bientôt"
    attachment = program_dir / "Übersicht für Köln.txt"
    attachment.write_bytes(b"attached \xe9 bytes\r\n")
    tray_program(config(port=mailbox.port, names=[(name, "j@example.com")]))
    drive("pick", MAIN, Main.NAME, 0)
    drive.wait_text(MAIN, Main.EMAIL, "j@example.com")
    drive.compose(subject=subject, body=body, attach=winpath(attachment))
    assert drive.send() == SENT
    assert mailbox.wait(1)
    data = mailbox.messages[0][2]

    assert b'charset="utf-8"' in data
    assert all(byte < 0x80 for byte in data), "8-bit bytes on the wire"
    assert all(len(line) <= 998 for line in data.split(b"\r\n"))
    message = email.message_from_bytes(data, policy=email.policy.default)
    assert str(message["subject"]) == subject
    assert message["to"].addresses[0].display_name == name
    assert message["to"].addresses[0].addr_spec == "j@example.com"
    text = message.get_body(("plain",)).get_content().replace("\r\n", "\n")
    assert text == body.replace("\r\n", "\n") + "\n\n"
    files = list(message.iter_attachments())
    assert [part.get_filename() for part in files] == [attachment.name]
    assert files[0].get_content() == attachment.read_bytes()
    assert not [defect for part in message.walk() for defect in part.defects]

#!/usr/bin/env python3
"""The headless demo behind `scripts/run.sh --demo`: a local SMTP server, the real tarvel.exe under Wine on a
virtual display, a first run that asks for the settings, the about box from the tray menu, and a message with
an attachment sent from a "mailto:" link. It prints what the server received and saves screenshots of the
three windows and the settings' Security page (with a password, and with a sign-in in the browser) to
docs/screenshots/. The caller provides the display and the wineserver (scripts/headless.sh)
and names the Win32 build folder in TARVEL_BUILD."""

import shutil
import sys
import tempfile
from pathlib import Path

ROOT = Path(__file__).resolve().parents[1]
sys.path.insert(0, str(ROOT / "tests" / "e2e"))

from harness import (ABOUT, BUILD, MAIN, MENU_ABOUT, MENU_CLOSE, SETTINGS, Driver, Mailbox, Main,  # noqa: E402
                     Program, Settings, bmp_to_png, winpath)

SHOTS = ROOT / "docs" / "screenshots"
VK_RIGHT = 0x27
LINK = "mailto:friend@example.com?subject=Hello%20from%20Tarvel%20Pro&body=Hi%21%0D%0AThe%20notes%20are%20attached."


def step(text):
    print(f"demo: {text}", flush=True)


def screenshot(drive, window, name, work):
    bmp = work / (name + ".bmp")
    drive("shot", window, winpath(bmp))
    SHOTS.mkdir(parents=True, exist_ok=True)
    (SHOTS / (name + ".png")).write_bytes(bmp_to_png(bmp.read_bytes()))
    step(f"saved {(SHOTS / (name + '.png')).relative_to(ROOT)}")


def main():
    for needed in (BUILD / "tarvel.exe", BUILD / "tarvel_drive.exe"):
        if not needed.exists():
            sys.exit(f"demo: {needed} is missing; build the targets tarvel and tarvel_drive first")
    work = Path(tempfile.mkdtemp(prefix="tarvel-demo-"))
    folder = work / "Tarvel Pro"
    folder.mkdir()
    for name in ("tarvel.exe", "zembrix.ico", "zembrix.url"):
        shutil.copy(BUILD / name, folder / name)
    mailbox = Mailbox(work)
    drive = Driver()
    runs = []
    try:
        step(f"SMTP server listening on 127.0.0.1:{mailbox.port}")

        step("first run: no zembrix.cfg yet, so the program opens its settings dialog by itself")
        runs.append(Program(folder))
        drive.wait_shown(SETTINGS)
        drive.set_text(SETTINGS, Settings.EMAIL, "me@example.com")
        drive.set_text(SETTINGS, Settings.SMTP, "127.0.0.1")
        drive.set_text(SETTINGS, Settings.PORT, str(mailbox.port))
        screenshot(drive, SETTINGS, "settings", work)
        step("the Security page, as for a provider that wants STARTTLS and a log-on")
        for _ in range(2):
            drive("key", SETTINGS, Settings.PAGES, str(VK_RIGHT))
        drive.wait_for(lambda: drive("shown", SETTINGS, Settings.SECURITY) == "1", what="the Security page")
        drive("pick", SETTINGS, Settings.SECURITY, Settings.STARTTLS)
        drive.wait_for(lambda: drive("enabled", SETTINGS, Settings.USER) == "1", what="the user name field")
        drive.set_text(SETTINGS, Settings.USER, "me@example.com")
        drive.set_text(SETTINGS, Settings.LOG_ON_PASSWORD, "secret")
        screenshot(drive, SETTINGS, "security", work)
        step("the Security page with a sign-in in the browser (OAuth 2.0), as for a Microsoft 365 account")
        drive.set_text(SETTINGS, Settings.LOG_ON_PASSWORD, "")
        drive("pick", SETTINGS, Settings.LOG_ON, Settings.BY_OAUTH2)
        drive.wait_for(lambda: drive("shown", SETTINGS, Settings.PROVIDER) == "1", what="the sign-in's rows")
        drive("pick", SETTINGS, Settings.PROVIDER, Settings.MICROSOFT)
        drive.set_text(SETTINGS, Settings.CLIENT_ID, "0d3f5a1c-7e2b-4c8d-9a61-2f4e8b7c5d90")
        screenshot(drive, SETTINGS, "security-oauth", work)
        # The demo's server speaks plain SMTP: back to no security, nothing kept.
        drive("pick", SETTINGS, Settings.LOG_ON, Settings.BY_PASSWORD)
        drive.set_text(SETTINGS, Settings.CLIENT_ID, "")
        drive.set_text(SETTINGS, Settings.USER, "")
        drive("pick", SETTINGS, Settings.SECURITY, Settings.NONE)
        drive("click", SETTINGS, Settings.OK)
        drive.wait_gone(SETTINGS)
        step("zembrix.cfg written: " + repr((folder / "zembrix.cfg").read_bytes().decode("latin-1")))

        step("tray menu: About Tarvel Pro")
        drive("menu", MAIN, MENU_ABOUT)
        drive.wait_shown(ABOUT)
        screenshot(drive, ABOUT, "about", work)
        drive("menu", MAIN, MENU_CLOSE)
        if not runs[-1].ended(15):
            sys.exit("demo: the tray menu's Close did not end the program")

        step(f"mail-to mode, as a browser starts it for the link {LINK}")
        attachment = work / "notes.txt"
        attachment.write_bytes(b"Tarvel Pro sends one message at a time straight to an SMTP server.\r\n")
        runs.append(Program(folder, ["/u", LINK]))
        drive.wait_shown(MAIN)
        drive.set_text(MAIN, Main.ATTACH, winpath(attachment))
        screenshot(drive, MAIN, "main-window", work)
        step("Send")
        drive("click", MAIN, Main.SEND)
        if not mailbox.wait(1, timeout=60):
            sys.exit(f"demo: nothing arrived; the program says {drive.text(MAIN, Main.STATUS)!r}")
        if not runs[-1].ended(20):
            sys.exit("demo: the program did not end after sending in mail-to mode")
        sender, recipients, data = mailbox.messages[0]
        step(f"the server received a message from {sender} to {', '.join(recipients)}, "
             f"stored in {mailbox.maildir}:")
        print("-" * 76)
        print(data.decode("latin-1").replace("\r\n", "\n"), end="")
        print("-" * 76)
        step("done")
    finally:
        for run in runs:
            run.kill()
        drive.close()
        mailbox.stop()


if __name__ == "__main__":
    main()

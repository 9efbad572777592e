"""The "mailto:" handler as the system uses it: the MailTo button registers the program, the shell's own
association (rundll32 url.dll,FileProtocolHandler) starts it for a link, from a folder with a blank, from
one without, and from one named beyond the code page (1252 here); a link's percent-encoded UTF-8 reaches the
window as the characters it encodes; and a registration written by an older copy (path and link unquoted)
works too. Every test puts the registry keys that it changes back as they were."""

import shutil
import subprocess
from urllib.parse import quote

import pytest

from harness import (BUILD, MACHINE_COMMAND, MAIN, MENU_PROPERTIES, SETTINGS, Main, Settings, config, default_value,
                     reg, wine_env, winpath)

LINK = "mailto:bob@example.com?subject=From%20the%20shell&cc=carl@example.com&body=Two%0D%0Alines"


def processes_in(folder):
    """Process ids of programs started from the test's own folder (the shell started them, not the test)."""
    out = subprocess.run(["ps", "-eo", "pid=,args="], capture_output=True, text=True).stdout
    return [int(line.split(None, 1)[0]) for line in out.splitlines() if winpath(folder) in line]


def program_folder(tmp_path, name):
    folder = tmp_path / "Programs" / name
    folder.mkdir(parents=True)
    for file in ("tarvel.exe", "zembrix.ico", "zembrix.url"):
        shutil.copy(BUILD / file, folder / file)
    (folder / "zembrix.cfg").write_bytes(config())
    return folder


def open_link(drive, folder, link):
    """Clicks the link the shell's way; returns the fields of the window it opened, which is then closed."""
    subprocess.run(["wine", "rundll32", "url.dll,FileProtocolHandler", link], env=wine_env(),
                   stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=60)
    try:
        drive.wait_shown(MAIN, timeout=30)
        fields = drive.fields()
        # Mail-to mode: the window's Close button ends the program.
        drive("click", MAIN, Main.CLOSE)
        drive.wait_gone(MAIN)
        return fields
    finally:
        for pid in processes_in(folder):
            subprocess.run(["kill", str(pid)])


@pytest.mark.parametrize("folder_name", ["Tarvel Pro", "Tarvel", "Łódź"])
def test_mailto_button_then_a_link_from_the_shell_fills_the_window(tmp_path, start, drive, registry,
                                                                    folder_name):
    folder = program_folder(tmp_path, folder_name)
    program = start(folder=folder)
    drive.wait_created(MAIN, Main.STATUS)
    drive("menu", MAIN, MENU_PROPERTIES)
    drive.wait_shown(SETTINGS)
    drive("click", SETTINGS, Settings.MAILTO)
    drive("click", SETTINGS, Settings.CANCEL)
    drive.wait_gone(SETTINGS)
    program.kill()
    drive("gone", MAIN, 10000)

    command = f'"{winpath(folder / "tarvel.exe")}" /u "%1"'
    # reg.exe prints through the console's code page: a path beyond it is proven by the link below.
    if folder_name.isascii():
        assert default_value(MACHINE_COMMAND) == command
        assert default_value(r"HKCU\Software\Classes\mailto\shell\open\command") == command

    fields = open_link(drive, folder, LINK)
    assert fields == {"name": "", "email": "bob@example.com;carl@example.com", "subject": "From the shell",
                      "body": "Two\r\nlines", "attach": ""}


def test_registration_of_an_older_copy_still_works_from_a_folder_with_a_blank(tmp_path, drive, registry):
    folder = program_folder(tmp_path, "Tarvel Pro")
    # As earlier copies wrote it: no quotes, so the shell's command line has the path's blank in it.
    reg("add", MACHINE_COMMAND, "/ve", "/d", f"{winpath(folder / 'tarvel.exe')} /u %1 %2", "/f")
    fields = open_link(drive, folder, "mailto:ann@example.com?subject=Old%20registration")
    assert fields["email"] == "ann@example.com"
    assert fields["subject"] == "Old registration"


def test_a_link_in_percent_encoded_utf8_fills_the_window_with_its_characters(tmp_path, drive, registry):
    folder = program_folder(tmp_path, "Tarvel Pro")
    reg("add", MACHINE_COMMAND, "/ve", "/d", f'"{winpath(folder / "tarvel.exe")}" /u "%1"', "/f")
    subject, body = "Привет из Łodzi", "東京\r\nΑθήνα"
    link = ("mailto:%D0%B8%D0%BD%D1%84%D0%BE@example.com?subject=" + quote(subject) + "&body=" +
            quote(body))
    fields = open_link(drive, folder, link)
    assert (fields["subject"], fields["body"]) == (subject, body)
    assert fields["email"] == "инфо@example.com"

"""Dialling before a send, through the scripted RASAPI32.DLL of tests/platform/dialup put beside the program: the line
is brought up, the message sent and the line hung up; a failed dial sends nothing and says why."""

import os
import shutil
import subprocess

import pytest

from harness import FAKE_RAS, MAIN, MENU_PROPERTIES, SENT, SETTINGS, Main, Settings, config, wine_env, winpath

pytestmark = pytest.mark.skipif(not FAKE_RAS.exists(), reason=f"the fake RASAPI32.DLL is not built: {FAKE_RAS}")

DIAL_CFG = dict(email="me@example.com", entry="My ISP", password="secret", dial=True)


@pytest.fixture(scope="module", autouse=True)
def ras_key():
    # The program looks for the remote-access service's key before it loads the library.
    subprocess.run(["wine", "reg", "add", r"HKLM\Software\Microsoft\RAS", "/f"], env=wine_env(),
                   stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=60)


@pytest.fixture
def fake_ras(program_dir, tmp_path):
    """Puts the fake beside the program; returns the environment that loads and scripts it, and its log."""
    shutil.copy(FAKE_RAS, program_dir / "rasapi32.dll")
    log = tmp_path / "ras.log"
    overrides = os.environ.get("WINEDLLOVERRIDES", "")
    env = {"WINEDLLOVERRIDES": (overrides + ";" if overrides else "") + "rasapi32=n,b",
           "FAKE_RAS_ENTRIES": "Office;My ISP", "FAKE_RAS_LOG": winpath(log)}

    def calls():
        return log.read_text().splitlines() if log.exists() else []

    return env, calls


def test_dial_send_and_hang_up(tray_program, drive, mailbox, fake_ras):
    env, calls = fake_ras
    tray_program(config(port=mailbox.port, **DIAL_CFG), env=env)
    drive.compose(email="bob@example.com", subject="Over the modem", body="Hello")
    assert drive.send() == SENT
    assert mailbox.wait(1)
    assert calls() == ["RasEnumConnectionsW", "RasGetEntryDialParamsW", "RasDialW\tMy ISP\tsecret", "RasHangUpW"]


def test_line_already_up_is_used_and_left_up(tray_program, drive, mailbox, fake_ras):
    env, calls = fake_ras
    tray_program(config(port=mailbox.port, **DIAL_CFG), env={**env, "FAKE_RAS_CONNECTIONS": "1"})
    drive.compose(email="bob@example.com", subject="Already online")
    assert drive.send() == SENT
    assert mailbox.wait(1)
    assert calls() == ["RasEnumConnectionsW"]


def test_failed_dial_sends_nothing_and_shows_the_reason(tray_program, drive, scripted, fake_ras):
    env, calls = fake_ras
    server = scripted(lambda session: session.send("220 never reached\r\n"))
    tray_program(config(port=server.port, **DIAL_CFG),
                 env={**env, "FAKE_RAS_DIAL_RESULT": "680", "FAKE_RAS_ERRORS": "680=There is no dial tone."})
    drive.compose(email="bob@example.com", subject="No line", body="Kept")
    assert drive.send() == "RasDial failed: There is no dial tone."
    assert drive.text(MAIN, Main.SEND) == "&Send"
    assert drive("progress", MAIN, Main.PROGRESS) == "0"
    assert drive.fields()["body"] == "Kept"
    assert not server.done.wait(1), "the program connected although the dial failed"
    # The library handed back a handle for the failed dial: that half-open line is closed at once.
    assert calls() == ["RasEnumConnectionsW", "RasGetEntryDialParamsW", "RasDialW\tMy ISP\tsecret",
                       "RasGetErrorStringW", "RasHangUpW"]


def test_settings_show_the_phone_book(tray_program, drive, mailbox, fake_ras):
    env, _ = fake_ras
    tray_program(config(port=mailbox.port, **DIAL_CFG), env=env)
    drive("menu", MAIN, MENU_PROPERTIES)
    drive.wait_shown(SETTINGS)
    assert drive("count", SETTINGS, Settings.ENTRIES) == "2"
    assert drive.items(SETTINGS, Settings.ENTRIES) == ["Office", "My ISP"]
    assert drive("selected", SETTINGS, Settings.ENTRIES) == "1"
    assert drive("checked", SETTINGS, Settings.DIALUP) == "1"
    assert drive("enabled", SETTINGS, Settings.DIALUP) == "1"
    assert drive.text(SETTINGS, Settings.PASSWORD) == "secret"

"""What a Windows user downloads: the zip holds the program and its two files; the installer installs silently
into a folder of the user's choice with a Start-menu shortcut, the installed program sends a message, and the
uninstaller takes the program away again (keeping the user's zembrix.cfg)."""

import os
import shutil
import subprocess
import time
import zipfile
from pathlib import Path

import pytest

from harness import BUILD, MACHINE_COMMAND, MAIN, Main, Program, config, default_value, reg, wine_env, winpath

SETUP = BUILD / "TarvelPro-1.5-setup.exe"
PROGRAM_FILES = {"tarvel.exe", "zembrix.ico", "zembrix.url"}
UNINSTALL_KEY = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\TarvelPro"


def wine(*args, timeout=120):
    return subprocess.run(["wine", *map(str, args)], env=wine_env(), stdin=subprocess.DEVNULL,
                          stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=timeout).returncode


def start_menu_folder():
    """The current user's Start-menu programs folder inside the Wine prefix."""
    users = Path(os.environ["WINEPREFIX"]) / "drive_c" / "users"
    found = sorted(users.glob("*/AppData/Roaming/Microsoft/Windows/Start Menu/Programs"))
    found = [p for p in found if p.relative_to(users).parts[0] != "Public"]
    assert found, f"no Start-menu folder under {users}"
    return found[0]


def wait_until(predicate, timeout):
    end = time.monotonic() + timeout
    while not predicate():
        if time.monotonic() > end:
            return False
        time.sleep(0.2)
    return True


@pytest.mark.skipif(shutil.which("cpack") is None or not (BUILD / "CPackConfig.cmake").exists(),
                    reason="cpack or the build's CPackConfig.cmake is missing")
def test_zip_holds_the_program_and_its_files(tmp_path):
    # The project's own package settings over what its install rules put in place. (cpack on the build
    # folder would first rebuild everything there, under the feet of the tests that use it.)
    stage = tmp_path / "stage"
    result = subprocess.run(["cmake", "--install", BUILD, "--prefix", stage], stdin=subprocess.DEVNULL,
                            capture_output=True, text=True, timeout=120)
    assert result.returncode == 0, result.stdout + result.stderr
    settings = tmp_path / "package.cmake"
    settings.write_text(f'include("{BUILD / "CPackConfig.cmake"}")\n'
                        'set(CPACK_INSTALL_CMAKE_PROJECTS "")\n'
                        f'set(CPACK_INSTALLED_DIRECTORIES "{stage};/")\n')
    result = subprocess.run(["cpack", "-G", "ZIP", "--config", settings, "-B", tmp_path / "out"],
                            stdin=subprocess.DEVNULL, capture_output=True, text=True, timeout=120)
    assert result.returncode == 0, result.stdout + result.stderr
    archives = list((tmp_path / "out").glob("TarvelPro-1.5-win32.zip"))
    assert len(archives) == 1, list((tmp_path / "out").iterdir())
    with zipfile.ZipFile(archives[0]) as archive:
        assert set(archive.namelist()) == PROGRAM_FILES
        assert archive.read("tarvel.exe") == (BUILD / "tarvel.exe").read_bytes()


@pytest.mark.skipif(shutil.which("makensis") is None, reason="makensis is missing (Debian package nsis)")
def test_installer_installs_runs_and_uninstalls(tmp_path, drive, mailbox, registry):
    assert SETUP.exists(), f"{SETUP} is not built: build the `installer` target"
    assert SETUP.stat().st_mtime >= (BUILD / "tarvel.exe").stat().st_mtime, \
        f"{SETUP} is older than tarvel.exe: build the `installer` target again"
    folder = tmp_path / "Programs" / "Tarvel Pro"
    shortcuts = start_menu_folder() / "Tarvel Pro"
    # NSIS wants /D last and unquoted, also with blanks in it: cmd passes the line on as it stands.
    assert wine("cmd", "/c", f"{winpath(SETUP)} /S /D={winpath(folder)}") == 0
    assert wait_until(lambda: (folder / "uninstall.exe").exists(), 60), list(tmp_path.rglob("*"))
    assert {p.name for p in folder.iterdir()} == PROGRAM_FILES | {"uninstall.exe"}
    assert (folder / "tarvel.exe").read_bytes() == (BUILD / "tarvel.exe").read_bytes()
    assert (shortcuts / "Tarvel Pro.lnk").exists()
    assert wine("reg", "query", UNINSTALL_KEY) == 0

    # The installed program keeps its settings beside itself and sends.
    (folder / "zembrix.cfg").write_bytes(config(port=mailbox.port))
    program = Program(folder, ["/u", "mailto:bob@example.com?subject=Installed"])
    try:
        drive.wait_shown(MAIN)
        drive("click", MAIN, Main.SEND)
        assert mailbox.wait(1), f"nothing arrived; status {drive.text(MAIN, Main.STATUS)!r}"
        assert program.ended(20)
    finally:
        program.kill()
    assert b"Subject: Installed\r\n" in mailbox.messages[0][2]

    # "mailto:" registrations that start this copy, in the form written now and in the unquoted one of older
    # copies, go with it; those of another program stay.
    exe = winpath(folder / "tarvel.exe")
    other = r'"C:\Other Mail\mail.exe" /u "%1"'
    for key, name, value in ((r"HKCU\Software\Classes\mailto\shell\open\command", None, f'"{exe}" /u "%1"'),
                             (r"HKCU\Software\Clients\Mail\Tarvel Pro", None, "Tarvel Pro"),
                             (r"HKCU\Software\Clients\Mail\Tarvel Pro\shell\open\command", None, f'"{exe}"'),
                             (r"HKCU\Software\RegisteredApplications", "Tarvel Pro",
                              r"Software\Clients\Mail\Tarvel Pro\Capabilities"),
                             (r"HKCU\Software\Classes\TarvelPro.mailto\shell\open\command", None, other),
                             (MACHINE_COMMAND, None, f"{exe} /u %1 %2")):
        assert reg("add", key, *(("/v", name) if name else ("/ve",)), "/d", value, "/f")[0] == 0, key

    # The uninstaller runs from a copy of itself and returns at once: wait for its work.
    assert wine(folder / "uninstall.exe", "/S") == 0
    assert wait_until(lambda: not (folder / "tarvel.exe").exists() and not shortcuts.exists(), 60), \
        (list(folder.iterdir()), shortcuts.exists())
    assert {p.name for p in folder.iterdir()} == {"zembrix.cfg"}
    assert wine("reg", "query", UNINSTALL_KEY) != 0
    assert reg("query", r"HKCU\Software\Classes\mailto")[0] != 0
    assert reg("query", r"HKCU\Software\Clients\Mail\Tarvel Pro")[0] != 0
    assert reg("query", r"HKCU\Software\RegisteredApplications", "/v", "Tarvel Pro")[0] != 0
    assert default_value(r"HKCU\Software\Classes\TarvelPro.mailto\shell\open\command") == other
    assert exe not in (default_value(MACHINE_COMMAND) or "")

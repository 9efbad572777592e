"""Fixtures of the end-to-end suite (see harness.py): each test gets its own program folder, driver and servers."""

import os
import shutil
from pathlib import Path

import pytest

from harness import (BUILD, MACHINE_COMMAND, MAIN, USER_KEYS, WM_LBUTTONUP, Driver, Mailbox, Main, Program,
                     default_value, reg)
from scripted_smtp import ScriptedServer


def pytest_sessionstart(session):
    missing = [str(p) for p in (BUILD / "tarvel.exe", BUILD / "tarvel_drive.exe") if not p.exists()]
    if missing:
        raise pytest.UsageError(f"the end-to-end suite needs a Win32 build: missing {', '.join(missing)} "
                                "(TARVEL_BUILD names the build folder)")


def pytest_collection_modifyitems(session, config, items):
    # TARVEL_E2E_REVERSE=1 runs the suite back to front, so a test that only passes after another one has
    # left something behind fails here rather than on someone else's machine.
    if os.environ.get("TARVEL_E2E_REVERSE") == "1":
        items.reverse()


@pytest.fixture
def drive():
    d = Driver()
    yield d
    d.close()


@pytest.fixture
def program_dir(tmp_path):
    folder = tmp_path / "Tarvel"
    folder.mkdir()
    for name in ("tarvel.exe", "zembrix.ico", "zembrix.url"):
        if (BUILD / name).exists():
            shutil.copy(BUILD / name, folder / name)
    return folder


@pytest.fixture
def start(program_dir, drive):
    """start(args=(), cfg=None) runs the program; every run is ended when the test ends, and its windows are
    gone before the next test looks for windows of the same caption."""
    runs = []

    def run(*args, cfg=None, env=None, folder=None):
        where = Path(folder or program_dir)
        if cfg is not None:
            (where / "zembrix.cfg").write_bytes(cfg if isinstance(cfg, bytes) else cfg.encode("latin-1"))
        p = Program(where, args, env)
        runs.append(p)
        return p

    yield run
    for p in runs:
        p.kill()
    if runs:
        drive("gone", MAIN, 10000, check=False)


@pytest.fixture
def tray_program(start, drive):
    """tray_program(cfg, env=None) starts a tray-mode run and shows its window with a click on the icon."""

    def run(cfg, env=None, folder=None):
        program = start(cfg=cfg, env=env, folder=folder)
        drive.wait_created(MAIN, Main.STATUS)
        drive("tray", MAIN, WM_LBUTTONUP)
        drive.wait_shown(MAIN)
        return program

    return run


@pytest.fixture
def mailbox(tmp_path):
    box = Mailbox(tmp_path)
    yield box
    box.stop()


@pytest.fixture
def scripted():
    """scripted(script, port=0) starts a scripted_smtp.ScriptedServer, closed when the test ends."""
    servers = []

    def make(script, port=0):
        s = ScriptedServer(script, port)
        servers.append(s)
        return s

    yield make
    for s in servers:
        s.close()


@pytest.fixture
def registry():
    """The machine's "mailto:" command and the user's registration, restored after the test."""
    saved = default_value(MACHINE_COMMAND)
    yield
    if saved is not None:
        reg("add", MACHINE_COMMAND, "/ve", "/d", saved, "/f")
    for key in USER_KEYS:
        reg("delete", key, "/f")
    reg("delete", r"HKCU\Software\RegisteredApplications", "/v", "Tarvel Pro", "/f")


@pytest.fixture
def registry_value():
    """registry_value(key, text) sets a key's default value for the test; the old one comes back after it."""
    saved = []

    def put(key, text):
        saved.append((key, default_value(key)))
        reg("add", key, "/ve", "/d", text, "/f")

    yield put
    for key, old in reversed(saved):
        if old is None:
            reg("delete", key, "/f")
        else:
            reg("add", key, "/ve", "/d", old, "/f")


@pytest.fixture(scope="module")
def oauth_postfix(tmp_path_factory):
    """Postfix whose Dovecot checks each token at a test authorization server (`.auth`, approving nobody until
    a test says whom), relaying to a capture (`.mailbox`); one for each module that uses it."""
    from oauth_server import AuthorizationServer
    from submission_servers import SubmissionServerError, SubmissionServers

    auth = AuthorizationServer(tmp_path_factory.mktemp("oauth"), "nobody")
    mailbox = Mailbox(tmp_path_factory.mktemp("relayed"))
    try:
        postfix = SubmissionServers({}, mailbox.port, oauth=auth)
    except SubmissionServerError as e:
        auth.stop()
        mailbox.stop()
        pytest.fail(f"the Postfix submission server could not be started: {e}", pytrace=False)
    postfix.auth, postfix.mailbox = auth, mailbox
    yield postfix
    postfix.stop()
    mailbox.stop()
    auth.stop()

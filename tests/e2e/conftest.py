"""Fixtures of the end-to-end suite (see harness.py): each test gets its own program folder, driver and servers."""

import shutil
from pathlib import Path

import pytest

from harness import BUILD, Driver, Mailbox, Program, ScriptedServer

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
def start(program_dir):
    """start(args=(), cfg=None) runs the program; every run is ended when the test ends."""
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


@pytest.fixture
def mailbox(tmp_path):
    box = Mailbox(tmp_path)
    yield box
    box.stop()


@pytest.fixture
def scripted():
    servers = []

    def make(script):
        s = ScriptedServer(script)
        servers.append(s)
        return s

    yield make
    for s in servers:
        s.close()



#!/usr/bin/python3
"""Runs a Win32 test program under Wine while aiosmtpd_capture.py serves SMTP on 127.0.0.1.

    run_with_aiosmtpd.py TEST.exe [ARGUMENTS...]

The test finds the server's port in TARVEL_SMTP_PORT and the folder of the stored messages, as a Windows
path, in TARVEL_SMTP_CAPTURE. The server and its folder are gone again on every way out.
"""
import os
import select
import shutil
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
START_LIMIT = 20  # seconds for the server to listen
TEST_LIMIT = 110  # seconds for the test program; ctest allows 120


def windows_path(path):
    return "Z:" + path.replace("/", "\\")


def read_port(server):
    ready, _, _ = select.select([server.stdout], [], [], START_LIMIT)
    line = server.stdout.readline() if ready else ""
    if not line.startswith("port "):
        raise RuntimeError("the SMTP server did not start: %r" % line)
    return line.split()[1]


def main():
    if len(sys.argv) < 2:
        print(__doc__, file=sys.stderr)
        return 2
    folder = tempfile.mkdtemp(prefix="tarvel-smtp-capture-")
    server = subprocess.Popen(["/usr/bin/python3", os.path.join(HERE, "aiosmtpd_capture.py"), folder],
                              stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
    try:
        env = dict(os.environ, TARVEL_SMTP_PORT=read_port(server), TARVEL_SMTP_CAPTURE=windows_path(folder))
        command = [os.path.join(ROOT, "scripts", "wine-run.sh")] + sys.argv[1:]
        return subprocess.run(command, env=env, stdin=subprocess.DEVNULL, timeout=TEST_LIMIT).returncode
    except (RuntimeError, subprocess.TimeoutExpired) as error:
        print("run_with_aiosmtpd: %s" % error, file=sys.stderr)
        return 1
    finally:
        server.stdin.close()  # the server's signal to stop
        try:
            server.wait(10)
        except subprocess.TimeoutExpired:
            server.kill()
            server.wait()
        shutil.rmtree(folder, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())

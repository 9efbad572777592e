#!/usr/bin/python3
"""Runs a Win32 test program under Wine while tls_servers.py serves SMTP with TLS on 127.0.0.1.

    run_with_tls_servers.py TEST.exe [ARGUMENTS...]

The test finds the servers' folder (servers.txt, ca.der, the stored messages), as a Windows path, in
TARVEL_TLS_FOLDER. The servers and the folder are gone again on every way out.
"""
import os
import select
import shutil
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
START_LIMIT = 60  # seconds: four RSA keys are made first
TEST_LIMIT = 150


def main():
    folder = tempfile.mkdtemp(prefix="tarvel-tls-")
    server = subprocess.Popen(["/usr/bin/python3", os.path.join(HERE, "tls_servers.py"), folder],
                              stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
    try:
        ready, _, _ = select.select([server.stdout], [], [], START_LIMIT)
        line = server.stdout.readline() if ready else ""
        if line.strip() != "ready":
            raise RuntimeError("the TLS servers did not start: %r" % line)
        env = dict(os.environ, TARVEL_TLS_FOLDER="Z:" + folder.replace("/", "\\"))
        command = [os.path.join(ROOT, "scripts", "wine-run.sh")] + sys.argv[1:]
        return subprocess.run(command, env=env, stdin=subprocess.DEVNULL, timeout=TEST_LIMIT).returncode
    except (RuntimeError, subprocess.TimeoutExpired) as error:
        print("run_with_tls_servers: %s" % error, file=sys.stderr)
        return 1
    finally:
        server.stdin.close()
        try:
            server.wait(10)
        except subprocess.TimeoutExpired:
            server.kill()
            server.wait()
        shutil.rmtree(folder, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())

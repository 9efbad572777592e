#!/usr/bin/python3
"""Runs a Win32 test program under Wine while tls_servers.py serves SMTP with TLS on 127.0.0.1.

    run_with_tls_servers.py TEST.exe [ARGUMENTS...]

The test finds the servers' folder (servers.txt, ca.der, the stored messages), as a Windows path, in
TARVEL_TLS_FOLDER. The servers and the folder are gone again on every way out.
"""
import sys

from server_runner import run_beside, windows_path


def environment(line, folder):
    if line.strip() != "ready":
        raise RuntimeError("the TLS servers did not start: %r" % line)
    return {"TARVEL_TLS_FOLDER": windows_path(folder)}


if __name__ == "__main__":
    # The servers make their RSA keys first; ctest allows 600 s (a hundred sends of the stress case).
    sys.exit(run_beside("run_with_tls_servers", "tls_servers.py", environment,
                        start_limit=60, test_limit=500))

#!/usr/bin/python3
"""Runs a Win32 test program under Wine beside certificate_fixtures.py (certificates, revocation lists and
the 127.0.0.1 servers behind their URLs).

    run_with_certificates.py TEST.exe [ARGUMENTS...]

The test finds the fixtures' folder, as a Windows path, in TARVEL_CERT_FOLDER.
"""
import sys

from server_runner import run_beside, windows_path


def environment(line, folder):
    if line.strip() != "ready":
        raise RuntimeError("the certificate fixtures were not made: %r" % line)
    # A proxy from the environment would send the revocation downloads off this machine.
    return {"TARVEL_CERT_FOLDER": windows_path(folder), "http_proxy": "", "HTTP_PROXY": "", "no_proxy": "*"}


if __name__ == "__main__":
    sys.exit(run_beside("run_with_certificates", "certificate_fixtures.py", environment,
                        start_limit=60, test_limit=100))

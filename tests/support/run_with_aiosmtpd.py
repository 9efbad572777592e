#!/usr/bin/python3
"""Runs a Win32 test program under Wine while aiosmtpd_capture.py serves SMTP on 127.0.0.1.

    run_with_aiosmtpd.py TEST.exe [ARGUMENTS...]

The test finds the server's port in TARVEL_SMTP_PORT and the folder of the stored messages, as a Windows
path, in TARVEL_SMTP_CAPTURE. The server and its folder are gone again on every way out.
"""
import sys

from server_runner import run_beside, windows_path


def environment(line, folder):
    if not line.startswith("port "):
        raise RuntimeError("the SMTP server did not start: %r" % line)
    return {"TARVEL_SMTP_PORT": line.split()[1], "TARVEL_SMTP_CAPTURE": windows_path(folder)}


if __name__ == "__main__":
    # ctest allows 120 s.
    sys.exit(run_beside("run_with_aiosmtpd", "aiosmtpd_capture.py", environment,
                        start_limit=20, test_limit=110))

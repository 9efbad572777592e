#!/usr/bin/python3
"""Runs a Win32 test program under Wine beside https_servers.py; the test finds the servers' folder
(servers.txt, ca.der), as a Windows path, in TARVEL_HTTPS_FOLDER. Wine's WinHTTP takes a proxy from
http(s)_proxy and ignores no_proxy, so neither reaches the test."""
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "support"))
from server_runner import run_beside, windows_path  # noqa: E402


def environment(line, folder):
    if line.strip() != "ready":
        raise RuntimeError("the HTTPS servers did not start: %r" % line)
    for name in ("http_proxy", "https_proxy", "HTTP_PROXY", "HTTPS_PROXY"):
        os.environ.pop(name, None)
    return {"TARVEL_HTTPS_FOLDER": windows_path(folder)}


if __name__ == "__main__":
    sys.exit(run_beside("run_with_https_servers", os.path.join(os.path.dirname(os.path.abspath(__file__)),
                                                               "https_servers.py"),
                        environment, start_limit=60, test_limit=100))

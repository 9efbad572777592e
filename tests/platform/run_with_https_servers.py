#!/usr/bin/python3
"""Runs a Win32 test program under Wine beside https_servers.py, whose folder it names (as a Windows path) in
TARVEL_HTTPS_FOLDER. Wine's WinHTTP takes a proxy from http(s)_proxy even for localhost: none reaches the test."""
import os
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(os.path.dirname(HERE), "support"))
from server_runner import run_beside, windows_path  # noqa: E402


def environment(line, folder):
    if line.strip() != "ready":
        raise RuntimeError("the HTTPS servers did not start: %r" % line)
    for name in ("http_proxy", "https_proxy", "HTTP_PROXY", "HTTPS_PROXY"):
        os.environ.pop(name, None)
    return {"TARVEL_HTTPS_FOLDER": windows_path(folder)}


sys.exit(run_beside("run_with_https_servers", os.path.join(HERE, "https_servers.py"), environment, 60, 100))

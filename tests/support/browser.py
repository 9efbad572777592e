#!/usr/bin/python3
"""A stand-in for the system browser in the sign-in tests: it opens the URL it is given, trusting only the test CA,
follows redirects as a browser would, including the last one to the program's loopback listener, and appends
what it saw to a log as one JSON line: {"url", "steps": [[status, location], ...], "page": [status, text]}.
Under Wine, HKCU\\Software\\Wine\\WineBrowser "Browsers" names a wrapper that runs it (see wrapper()).

    browser.py CA-FILE LOG-FILE URL
"""

import http.client
import json
import os
import ssl
import sys
import urllib.parse

LIMIT = 30  # seconds for any one request: a listener that never answers must not keep the test waiting


def fetch(url, context):
    """(status, location or None, body) of one GET, without following anything."""
    parts = urllib.parse.urlsplit(url)
    if parts.scheme == "https":
        conn = http.client.HTTPSConnection(parts.hostname, parts.port or 443, timeout=LIMIT, context=context)
    else:
        conn = http.client.HTTPConnection(parts.hostname, parts.port or 80, timeout=LIMIT)
    try:
        conn.request("GET", parts.path + ("?" + parts.query if parts.query else ""), headers={"Connection": "close"})
        response = conn.getresponse()
        return response.status, response.getheader("Location"), response.read().decode("utf-8", "replace")
    finally:
        conn.close()


def browse(ca_file, url):
    context = ssl.create_default_context(cafile=ca_file)
    seen = {"url": url, "steps": []}
    try:
        for _ in range(5):
            status, location, body = fetch(url, context)
            seen["steps"].append([status, location])
            if status not in (301, 302, 303, 307, 308) or not location:
                seen["page"] = [status, body]
                break
            url = urllib.parse.urljoin(url, location)
    except (OSError, http.client.HTTPException) as e:
        seen["page"] = [0, f"{type(e).__name__}: {e}"]
    return seen


def wrapper(folder, ca_file, log_file):
    """Writes an executable that runs this browser with its CA and log, for Wine to start with a URL; returns its
    path (no spaces or arguments in it: Wine runs the named program with the URL as its one argument)."""
    path = os.path.join(folder, "test-browser")
    with open(path, "w") as f:
        f.write(f'#!/bin/sh\nexec /usr/bin/python3 {os.path.abspath(__file__)} {ca_file} {log_file} "$1"\n')
    os.chmod(path, 0o755)
    return path


if __name__ == "__main__":
    ca, log, target = sys.argv[1:4]
    record = browse(ca, target)
    with open(log, "a") as f:
        f.write(json.dumps(record) + "\n")

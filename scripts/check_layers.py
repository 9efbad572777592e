#!/usr/bin/env python3
"""Checks that the program's layers stay layers: no source includes a header of a layer above its own,
and no file of the portable core includes a Windows header. Run by scripts/test.sh (and so by CI).

The table below is the architecture, bottom up; a new file that no row names is an error, so that every
file is placed on purpose. Keep it in step with the libraries in CMakeLists.txt."""

import fnmatch
import re
import subprocess
import sys
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent

LAYERS = ["core", "core_os", "winbase", "platform", "windows", "program"]

# (pattern, layer): the first row that matches a path decides.
PLACES = [
    # What the core asks of the operating system, beside the portable file it serves.
    ("app/*_win32.cpp", "core_os"),
    ("app/*_posix.cpp", "core_os"),
    ("mail/*_win32.cpp", "core_os"),
    ("mail/*_posix.cpp", "core_os"),
    ("app/startup.*", "program"),
    ("app/main.cpp", "program"),
    ("mail/*", "core"),
    ("net/winsock_errors.*", "core"),
    ("net/convert_error.h", "core"),
    ("dialup/dialler.h", "core"),
    ("app/settings.h", "core"),
    ("app/config.*", "core"),
    ("app/mailto.*", "core"),
    ("app/command_line.*", "core"),
    ("app/send_flow.*", "core"),
    ("app/security_config.*", "core"),
    ("app/security_settings.h", "core"),
    ("app/atomic_file.*", "core"),
    ("app/file_os.h", "core"),
    ("ui/hook.h", "winbase"),
    ("ui/window.*", "winbase"),
    ("ui/handles.h", "winbase"),
    ("ui/messages.h", "winbase"),
    ("ui/application.*", "winbase"),
    ("ui/font.*", "winbase"),
    ("ui/form.*", "winbase"),
    ("ui/hints.*", "winbase"),
    ("ui/icon.*", "winbase"),
    ("ui/layout.h", "winbase"),
    ("ui/timer.*", "winbase"),
    ("ui/file_dialog.*", "winbase"),
    ("ui/message_box.*", "winbase"),
    ("net/*", "platform"),
    ("dialup/*", "platform"),
    ("app/registry.*", "platform"),
    ("app/credential*", "platform"),
    ("ui/*", "windows"),
]

# Generated or resource headers that any layer may include.
ANYWHERE = ["res/*", "tarvel_version.h"]

WINDOWS_HEADERS = re.compile(
    r"#\s*include\s*<(windows|winsock2?|ws2tcpip|wincrypt|wincred|sspi|security|schannel|shellapi|shlobj|"
    r"commctrl|commdlg|ras|raserror|winreg|winuser|winbase|psapi)\.h>",
    re.IGNORECASE,
)
PROJECT_INCLUDE = re.compile(r'#\s*include\s*"([^"]+)"')


def place(path):
    for pattern, layer in PLACES:
        if fnmatch.fnmatch(path, pattern):
            return layer
    return None


def main():
    files = subprocess.run(["git", "ls-files", "app", "mail", "net", "dialup", "ui"], cwd=ROOT,
                           capture_output=True, text=True, check=True).stdout.split()
    untracked = subprocess.run(["git", "ls-files", "--others", "--exclude-standard", "app", "mail", "net",
                                "dialup", "ui"], cwd=ROOT, capture_output=True, text=True, check=True)
    files += untracked.stdout.split()
    problems = []
    for path in sorted(set(files)):
        if not path.endswith((".h", ".cpp")):
            continue
        layer = place(path)
        if layer is None:
            problems.append(f"{path}: no layer in scripts/check_layers.py names this file")
            continue
        text = (ROOT / path).read_text(encoding="utf-8", errors="replace")
        for number, line in enumerate(text.splitlines(), 1):
            if layer == "core" and WINDOWS_HEADERS.search(line):
                problems.append(f"{path}:{number}: the portable core includes a Windows header: {line.strip()}")
            match = PROJECT_INCLUDE.search(line)
            if not match:
                continue
            header = match.group(1)
            if any(fnmatch.fnmatch(header, p) for p in ANYWHERE):
                continue
            target = place(header)
            if target is None:
                problems.append(f"{path}:{number}: includes {header}, which no layer names")
            elif LAYERS.index(target) > LAYERS.index(layer):
                problems.append(f"{path}:{number}: {layer} includes {header} of the {target} layer above it")
    for problem in problems:
        print(problem)
    if problems:
        print(f"check_layers: {len(problems)} problem(s)")
        return 1
    print(f"check_layers: {len(files)} files, every include goes down or sideways")
    return 0


if __name__ == "__main__":
    sys.exit(main())

#!/usr/bin/env python3
"""Checks that the program's layers stay layers: a file's layer is its top folder, no source includes a
header of a folder above its own, and the portable core includes no Windows header outside the
*_win32.cpp files that serve it. Run by scripts/test.sh (and so by CI).

LAYERS is the architecture, bottom up; keep it in step with the libraries in CMakeLists.txt."""

import fnmatch
import re
import subprocess
import sys
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent

LAYERS = ["core", "win", "platform", "ui", "app"]

# Generated or resource headers that any layer may include.
ANYWHERE = ["res/*", "tarvel_version.h"]

# What the core asks of the operating system, beside the portable file it serves.
CORE_OS_FILES = "*_win32.cpp"

WINDOWS_HEADERS = re.compile(
    r"#\s*include\s*<(windows|winsock2?|ws2tcpip|wincrypt|wincred|sspi|security|schannel|shellapi|shlobj|"
    r"commctrl|commdlg|ras|raserror|winreg|winuser|winbase|psapi)\.h>",
    re.IGNORECASE,
)
PROJECT_INCLUDE = re.compile(r'#\s*include\s*"([^"]+)"')


def layer_of(path):
    top = path.split("/", 1)[0]
    return top if top in LAYERS else None


def check(path, text):
    """The problems of one source file at `path` (relative to the top folder)."""
    layer = layer_of(path)
    problems = []
    portable = layer == "core" and not fnmatch.fnmatch(path, CORE_OS_FILES)
    for number, line in enumerate(text.splitlines(), 1):
        if portable and WINDOWS_HEADERS.search(line):
            problems.append(f"{path}:{number}: the portable core includes a Windows header: {line.strip()}")
        match = PROJECT_INCLUDE.search(line)
        if not match:
            continue
        header = match.group(1)
        if any(fnmatch.fnmatch(header, p) for p in ANYWHERE):
            continue
        target = layer_of(header)
        if target is None or not (ROOT / header).exists():
            problems.append(f"{path}:{number}: includes {header}, which is in no layer's folder")
        elif LAYERS.index(target) > LAYERS.index(layer):
            problems.append(f"{path}:{number}: {layer}/ includes {header} of {target}/ above it")
    return problems


def folder_cycle(edges):
    """A cycle of folders that include each other, as a list of folders, or None."""
    state = {}

    def visit(folder, path):
        state[folder] = "open"
        for target in sorted(edges.get(folder, ())):
            if state.get(target) == "open":
                return path[path.index(target):] + [target]
            if target not in state:
                found = visit(target, path + [target])
                if found:
                    return found
        state[folder] = "done"
        return None

    for folder in sorted(edges):
        if folder not in state:
            found = visit(folder, [folder])
            if found:
                return found
    return None


def main():
    listed = subprocess.run(["git", "ls-files", "--cached", "--others", "--exclude-standard", *LAYERS], cwd=ROOT,
                            capture_output=True, text=True, check=True).stdout.split()
    files = sorted({path for path in listed if path.endswith((".h", ".cpp")) and (ROOT / path).exists()})
    problems = []
    edges = {}
    for path in files:
        text = (ROOT / path).read_text(encoding="utf-8", errors="replace")
        problems += check(path, text)
        for header in PROJECT_INCLUDE.findall(text):
            source, target = str(Path(path).parent), str(Path(header).parent)
            if layer_of(header) and source != target:
                edges.setdefault(source, set()).add(target)
    # Within a layer, sub-folders may include each other one way only.
    cycle = folder_cycle(edges)
    if cycle:
        problems.append("folders include each other: " + " -> ".join(cycle))
    for problem in problems:
        print(problem)
    if problems:
        print(f"check_layers: {len(problems)} problem(s)")
        return 1
    print(f"check_layers: {len(files)} files in {len(LAYERS)} layers, every include goes down or sideways")
    return 0


if __name__ == "__main__":
    sys.exit(main())

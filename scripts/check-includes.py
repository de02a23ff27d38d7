#!/usr/bin/env python3
"""scripts/check-includes.py [--root DIR]

Checks the include lines of Pelora's product code against its layer order
and prints one line per breach, "file:line: message"; exits 1 when there is
any, 0 when there is none. scripts/test.sh runs it before building.

Layers, highest first; a folder includes only folders of lower layers (and
itself), never a folder at its own level or above:

    app -> processing -> {grab, capture, mediagraph} -> filterbase
        -> platform/{ffmpeg, v4l2} -> platform/media -> platform/com
        -> platform/win -> include/pelora

Qt is included only by app/ and by processing/'s dialog
(processing/bitmap_dialog.*); the worker core of processing/ and everything
below it have no Qt. tavro/ (the plug-in) includes only include/pelora.
tools/, tests/ and bench/ may include anything. A source file in a folder
that is not in the order is a breach too: a new folder takes its place here
first.
"""
import argparse
import os
import re
import sys

LAYERS = {
    "app": 8,
    "processing": 7,
    "grab": 6, "capture": 6, "mediagraph": 6,
    "filterbase": 5,
    "platform/ffmpeg": 4, "platform/v4l2": 4,
    "platform/media": 3,
    "platform/com": 2,
    "platform/win": 1,
    "include/pelora": 0,
}
# Folders with rules of their own.
PLUGIN = "tavro"
FREE = ("tools", "tests", "bench")
QT_ALLOWED = ("app/", "processing/bitmap_dialog.")

SOURCE_SUFFIXES = (".h", ".hpp", ".c", ".cc", ".cpp", ".cxx", ".inl")
INCLUDE_RE = re.compile(r'^\s*#\s*include\s*([<"])([^>"]+)[>"]')
# Qt's headers: <QWidget>, <QtCore/qobject.h>, <qglobal.h>.
QT_RE = re.compile(r"^(Q[A-Za-z]|Qt[A-Za-z]*/|q[a-z0-9_]*\.h$)")

ORDER_TEXT = ("app -> processing -> {grab, capture, mediagraph} -> filterbase -> "
              "platform/{ffmpeg, v4l2} -> platform/media -> platform/com -> "
              "platform/win -> include/pelora")


def folder_of(rel_path):
    """The folder (a key of LAYERS, PLUGIN or one of FREE) a path lies in, or None."""
    for folder in sorted(list(LAYERS) + [PLUGIN] + list(FREE), key=len, reverse=True):
        if rel_path.startswith(folder + "/"):
            return folder
    return None


def resolve(root, including, name, quoted):
    """The repository-relative path an include names, or None when it is not ours.

    Quoted names are looked up next to the including file first; both kinds
    are then looked up from the root and from include/, as the build's
    include path does.
    """
    candidates = []
    if quoted:
        candidates.append(os.path.join(os.path.dirname(including), name))
    candidates += [name, os.path.join("include", name)]
    for c in candidates:
        c = os.path.normpath(c)
        if not c.startswith("..") and os.path.isfile(os.path.join(root, c)):
            return c.replace(os.sep, "/")
    return None


def check_include(rel, folder, name, quoted, target):
    """The breach one include makes, as a message, or None."""
    if not quoted and QT_RE.match(name):
        if folder in FREE or rel.startswith(QT_ALLOWED):
            return None
        return (f"includes Qt <{name}>: only app/ and processing/bitmap_dialog.* may "
                "include Qt")
    if target is None:
        if quoted:
            return f'includes "{name}", which is not a file of the tree'
        return None  # a system or library header
    if folder in FREE:
        return None
    target_folder = folder_of(target)
    if target_folder == folder:
        return None
    if folder == PLUGIN:
        if target_folder == "include/pelora":
            return None
        return f'includes "{name}" ({target_folder}/): tavro/ includes only include/pelora'
    if target_folder not in LAYERS:
        return f'includes "{name}" ({target_folder}/), which product code never includes'
    if LAYERS[target_folder] >= LAYERS[folder]:
        return (f'includes "{name}": {folder}/ may not include {target_folder}/ '
                f"(order: {ORDER_TEXT})")
    return None


def source_files(root):
    for dirpath, dirnames, filenames in os.walk(root):
        # Hidden folders and build trees (anything CMake has configured) are
        # not the project's sources.
        dirnames[:] = sorted(d for d in dirnames
                             if not d.startswith(".")
                             and not (dirpath == root and d.startswith("build"))
                             and not os.path.exists(os.path.join(dirpath, d, "CMakeCache.txt")))
        for f in sorted(filenames):
            if f.endswith(SOURCE_SUFFIXES):
                yield os.path.relpath(os.path.join(dirpath, f), root).replace(os.sep, "/")


def check_tree(root):
    """Every breach in the tree as "file:line: message", in file order."""
    breaches = []
    for rel in source_files(root):
        folder = folder_of(rel)
        if folder is None:
            breaches.append(f"{rel}:1: lies in a folder that is not in the layer order "
                            f"({ORDER_TEXT}; tavro, tools, tests, bench)")
            continue
        if folder in FREE:
            continue
        with open(os.path.join(root, rel), encoding="utf-8", errors="replace") as f:
            for number, line in enumerate(f, 1):
                m = INCLUDE_RE.match(line)
                if not m:
                    continue
                quoted, name = m.group(1) == '"', m.group(2).strip()
                target = resolve(root, rel, name, quoted)
                message = check_include(rel, folder, name, quoted, target)
                if message:
                    breaches.append(f"{rel}:{number}: {message}")
    return breaches


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--root", default=os.path.join(os.path.dirname(__file__), ".."))
    args = parser.parse_args()
    breaches = check_tree(os.path.abspath(args.root))
    for b in breaches:
        print(b, file=sys.stderr)
    if breaches:
        print(f"check-includes: {len(breaches)} include(s) break the layer order",
              file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())

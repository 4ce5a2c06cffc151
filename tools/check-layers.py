#!/usr/bin/python3
"""Checks that every source file includes only from its own folder or the layers below it.

The layers, top to bottom (a folder may use those after it in this list, never one before):
each line is one layer; folders on the same line are siblings and may not use each other.
Folders beside the layers (tests/, bench/, fuzz/, tools/) may include anything.
Exits 1 and names every include that reaches up or sideways.
"""
import pathlib
import re
import sys

LAYERS = [
    ["app"],
    ["preview"],
    ["workbook"],
    ["lists"],
    ["shell"],
    ["platform/services", "platform/skin"],
    ["platform/excel"],
    ["platform/excel/builtin", "platform/excel/libreoffice", "platform/excel/com"],
    ["platform/excel/backend"],
    ["platform/render"],
    ["platform/xls"],
    ["platform/automation", "platform/files"],
    ["platform/facts"],
]
BESIDE = ("tests", "bench", "fuzz", "tools")
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)


def layer_of(rel: str):
    """(rank, folder) of the deepest layer folder holding rel; None when it is in none."""
    best = None
    for rank, folders in enumerate(LAYERS):
        for folder in folders:
            if rel == folder or rel.startswith(folder + "/"):
                if best is None or len(folder) > len(best[1]):
                    best = (rank, folder)
    return best


def main() -> int:
    root = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else pathlib.Path(__file__).resolve().parent.parent)
    problems = []
    checked = 0
    for path in sorted(root.rglob("*")):
        if path.suffix not in (".h", ".cpp") or not path.is_file():
            continue
        rel = path.relative_to(root).as_posix()
        if rel.split("/")[0].startswith("build") or rel.startswith(BESIDE):
            continue
        own = layer_of(rel)
        if own is None:
            problems.append(f"{rel}: in no layer (add its folder to tools/check-layers.py)")
            continue
        checked += 1
        for number, line in enumerate(path.read_text(errors="replace").splitlines(), 1):
            m = INCLUDE.match(line)
            if not m or m.group(1).endswith(".moc") or m.group(1).startswith("moc_"):
                continue
            name = m.group(1)
            # One include root: a header is named by its path from the top of the tree.
            if not (root / name).is_file():
                problems.append(f"{rel}:{number}: \"{name}\" is not a path from the top of the tree")
                continue
            theirs = layer_of(name)
            if theirs is None:
                problems.append(f"{rel}:{number}: \"{name}\" is in no layer")
            elif theirs[0] < own[0]:
                problems.append(f"{rel}:{number}: {own[1]}/ includes \"{name}\" from {theirs[1]}/, a layer above it")
            elif theirs[0] == own[0] and theirs[1] != own[1]:
                problems.append(f"{rel}:{number}: {own[1]}/ includes \"{name}\" from its sibling {theirs[1]}/")
    for p in problems:
        print(p)
    print(f"check-layers: {checked} files, {len(problems)} problem(s)")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())

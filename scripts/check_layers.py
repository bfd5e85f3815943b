#!/usr/bin/env python3
"""Keeps the floors of src/ in order.

Every folder under src/ is one floor. A file may include its own folder and
the folders of lower floors; two folders on the same floor may not include
each other. Each folder's CMake library may link only libraries of lower
floors. Prints every violation as FILE:LINE and exits 1; exits 0 when there
is none.

Usage: check_layers.py [--root DIR]   (DIR defaults to the repository)
"""
import argparse
import os
import re
import sys

# Bottom to top. Folders in one inner list share a floor.
FLOORS = [
    ["base", "identity"],
    ["archive", "sysinfo", "trust"],
    ["downloader"],
    ["utils"],
    ["htmlui"],
    ["workflow", "telemetry"],
    ["externalmethods"],
    ["app"],
    ["browserhost"],
    ["main"],
]
RANK = {folder: i for i, floor in enumerate(FLOORS) for folder in floor}
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"/]+)/')
LINK = re.compile(r"target_link_libraries\(\s*(stub_\w+)([^)]*)\)", re.S)
SOURCE_SUFFIXES = (".h", ".hpp", ".cpp", ".cc", ".c", ".inl")


def may_use(user, used):
    return used == user or RANK[used] < RANK[user]


def check_includes(src):
    problems = []
    for folder in sorted(os.listdir(src)):
        top = os.path.join(src, folder)
        if not os.path.isdir(top):
            continue
        if folder not in RANK:
            problems.append(f"{top}: folder has no floor; add it to FLOORS in {os.path.relpath(__file__)}")
            continue
        for dirpath, _, files in os.walk(top):
            for name in sorted(files):
                if not name.endswith(SOURCE_SUFFIXES):
                    continue
                path = os.path.join(dirpath, name)
                with open(path, encoding="utf-8", errors="replace") as f:
                    for number, line in enumerate(f, 1):
                        m = INCLUDE.match(line)
                        if not m or m.group(1) not in RANK:
                            continue
                        used = m.group(1)
                        if not may_use(folder, used):
                            problems.append(f"{path}:{number}: {folder} includes {used}, which is not below it")
    return problems


def check_links(src):
    problems = []
    library_floor = {f"stub_{folder}": folder for folder in RANK}
    for folder in RANK:
        cmake = os.path.join(src, folder, "CMakeLists.txt")
        if not os.path.isfile(cmake):
            continue
        text = open(cmake, encoding="utf-8").read()
        for m in LINK.finditer(text):
            target = m.group(1)
            owner = library_floor.get(target)
            if owner is None:
                continue
            for lib in re.findall(r"\bstub_\w+", m.group(2)):
                used = library_floor.get(lib)
                if used is not None and not may_use(owner, used):
                    number = text.count("\n", 0, m.start()) + 1
                    problems.append(f"{cmake}:{number}: {target} links {lib}, which is not below it")
    return problems


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--root", default=os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
    args = parser.parse_args()
    src = os.path.join(os.path.abspath(args.root), "src")
    problems = check_includes(src) + check_links(src)
    for p in problems:
        print(p)
    if problems:
        print(f"check_layers: {len(problems)} violation(s); floors, bottom to top: "
              + " < ".join("/".join(f) for f in FLOORS))
        return 1
    print("check_layers: every include and link goes down")
    return 0


if __name__ == "__main__":
    sys.exit(main())

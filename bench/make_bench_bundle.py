#!/usr/bin/env python3
"""Writes a bundle-like tree of 94 files, about 1 MB: pages as text (HTML,
CSS, JavaScript) that compresses, images that do not.

Usage: make_bench_bundle.py FOLDER
"""
import os
import random
import sys

PAGES = ["Agreement", "Download", "Downloading", "Error", "Finish", "Initialization", "Install", "Installing",
         "MinSys", "PreInstall", "Prerequisite", "Restart", "SelfUpdate", "Welcome"]


def write(root, name, data):
    path = os.path.join(root, *name.split("/"))
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)


def text(rng, size):
    words = ["var", "function", "return", "appExternal", "getProperty", "div", "class", "page", "progress",
             "window", "document", "length", "if", "else", "for", "setWindowSize", "margin", "padding"]
    out = []
    while sum(map(len, out)) < size:
        out.append(" ".join(rng.choice(words) for _ in range(12)) + ";\n")
    return "".join(out).encode()[:size]


def main(root):
    rng = random.Random(94)
    files = [("Load.html", text(rng, 6000)), ("common/css/common.css", text(rng, 12000)),
             ("common/css/style.css", text(rng, 20000)), ("common/js/common.js", text(rng, 30000)),
             ("common/js/external.js", text(rng, 4000)), ("common/js/files.js", text(rng, 8000)),
             ("common/js/stubparams.js", text(rng, 3000)), ("common/js/jquery-1.11.2.min.js", text(rng, 110000)),
             ("common/js/jquery-ui.min.js", text(rng, 150000)), ("config/config.js", text(rng, 5000)),
             ("config/installerlist.js", text(rng, 4000)), ("config/installparams.js", text(rng, 2000)),
             ("config/lang.js", text(rng, 40000))]
    for page in PAGES:
        files += [(f"pages/{page}/page.html", text(rng, 3000)), (f"pages/{page}/page.js", text(rng, 6000)),
                  (f"pages/{page}/page.css", text(rng, 2000))]
    for code in ["BR", "CS", "CT", "CZ", "DE", "EN", "ES", "FR", "IT", "JP", "KR", "NL", "PL", "RU", "SU", "TR"]:
        files.append((f"pages/Agreement/tos/{code}_TOS.htm", text(rng, 9000)))
    for i in range(3):
        files.append((f"pages/SelfUpdate/img{i}.png", rng.randbytes(10000)))
    i = 0
    while len(files) < 94:
        files.append((f"common/img/image{i:02}.png", rng.randbytes(10000)))
        i += 1
    for name, data in files:
        write(root, name, data)
    print(f"{len(files)} files, {sum(len(d) for _, d in files)} bytes")


if __name__ == "__main__":
    main(sys.argv[1])

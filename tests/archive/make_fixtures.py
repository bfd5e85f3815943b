#!/usr/bin/env python3
"""Builds the archives the archive tests read, with Python's own zipfile as an
independent writer, and damages copies of them byte by byte.

Usage: make_fixtures.py OUTPUT_DIR
"""
import os
import random
import struct
import sys
import zipfile

_rng = random.Random(7)

# The small page tree: what a bundle looks like, stored and deflated entries,
# an empty file, and binary content that does not compress.
TREE = [
    ("Load.html", b"<html><body>start</body></html>\n" * 40, zipfile.ZIP_DEFLATED),
    ("common/css/style.css", b"body { margin: 0; }\n" * 100, zipfile.ZIP_DEFLATED),
    ("common/img/banner.png", bytes(_rng.getrandbits(8) for _ in range(3000)), zipfile.ZIP_STORED),
    ("config/empty.js", b"", zipfile.ZIP_STORED),
    ("pages/Welcome/page.js", b"var Welcome = { show: function () {} };\n" * 30, zipfile.ZIP_DEFLATED),
    ("pages/Welcome/page.html", b"<div>welcome</div>\n", zipfile.ZIP_STORED),
]


def write_zip(path, entries):
    with zipfile.ZipFile(path, "w") as archive:
        for name, data, method in entries:
            info = zipfile.ZipInfo(name, (2020, 1, 1, 0, 0, 0))
            info.compress_type = method
            archive.writestr(info, data)


def write_tree(root):
    for name, data, _ in TREE:
        path = os.path.join(root, *name.split("/"))
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)


def end_record(data):
    at = data.rfind(b"PK\x05\x06")
    count, size, offset = struct.unpack_from("<HII", data, at + 10)
    return at, count, size, offset


def central_headers(data):
    """Offsets of the central headers, in directory order."""
    _, count, _, offset = end_record(data)
    positions = []
    for _ in range(count):
        assert data[offset:offset + 4] == b"PK\x01\x02"
        positions.append(offset)
        n, m, k = struct.unpack_from("<HHH", data, offset + 28)
        offset += 46 + n + m + k
    return positions


def damaged(data, entry, field_offset, fmt, transform):
    data = bytearray(data)
    at = central_headers(bytes(data))[entry] + field_offset
    (value,) = struct.unpack_from(fmt, data, at)
    struct.pack_into(fmt, data, at, transform(value))
    return bytes(data)


def save(path, data):
    with open(path, "wb") as f:
        f.write(data)


def main(out):
    os.makedirs(out, exist_ok=True)
    tree_zip = os.path.join(out, "tree.zip")
    write_zip(tree_zip, TREE)
    write_tree(os.path.join(out, "tree"))
    with open(tree_zip, "rb") as f:
        tree = f.read()

    # Entry 4 is pages/Welcome/page.js (deflated).
    save(os.path.join(out, "corrupt_directory.zip"), damaged(tree, 2, 0, "<I", lambda v: 0x02014B51))
    save(os.path.join(out, "wrong_local_offset.zip"), damaged(tree, 4, 42, "<I", lambda v: v + 3))
    save(os.path.join(out, "bad_crc.zip"), damaged(tree, 4, 16, "<I", lambda v: v ^ 0x1))
    save(os.path.join(out, "short_deflate.zip"), damaged(tree, 4, 20, "<I", lambda v: v - 8))
    save(os.path.join(out, "truncated.zip"), tree[: len(tree) * 2 // 3])

    # Names that would leave the destination, each between two good entries.
    good = lambda name: (name, b"inside\n", zipfile.ZIP_DEFLATED)
    for label, name in [("dotdot", "../escaped_dotdot.txt"),
                        ("nested_dotdot", "pages/../../escaped_nested.txt"),
                        ("drive", "C:/stub_escaped_drive.txt"),
                        ("backslash", "\\stub_escaped_root.txt"),
                        ("slash", "/stub_escaped_slash.txt")]:
        write_zip(os.path.join(out, f"escape_{label}.zip"),
                  [good("first.txt"), (name, b"outside\n", zipfile.ZIP_DEFLATED), good("last.txt")])

    # Folder entries, as archivers that store folders write them.
    with zipfile.ZipFile(os.path.join(out, "with_folders.zip"), "w") as archive:
        archive.writestr(zipfile.ZipInfo("empty/", (2020, 1, 1, 0, 0, 0)), b"")
        archive.writestr(zipfile.ZipInfo("docs/", (2020, 1, 1, 0, 0, 0)), b"")
        archive.writestr("docs/readme.txt", b"read me\n")

    # Packages.
    write_zip(os.path.join(out, "nested_setup.ZIP"), [
        ("readme.txt", b"read me\n", zipfile.ZIP_DEFLATED),
        ("tools/notes.txt", b"notes\n", zipfile.ZIP_DEFLATED),
        ("docs/setup.txt", b"not the program\n", zipfile.ZIP_DEFLATED),
        ("tools/bin/setup.exe", b"MZ setup\n", zipfile.ZIP_STORED),
    ])
    write_zip(os.path.join(out, "root_setup.zip"), [
        ("setup.exe", b"MZ setup\n", zipfile.ZIP_STORED),
        ("data/payload.bin", b"payload" * 100, zipfile.ZIP_DEFLATED),
    ])
    write_zip(os.path.join(out, "no_setup.zip"), [("data/payload.bin", b"payload", zipfile.ZIP_DEFLATED)])
    save(os.path.join(out, "package.7z"), b"7z\xbc\xaf\x27\x1c" + tree)
    # Four MiB that do not compress: more than the small test volume holds.
    rng = random.Random(11)
    write_zip(os.path.join(out, "large.zip"),
              [("setup.exe", b"MZ", zipfile.ZIP_STORED),
               ("payload.bin", bytes(rng.getrandbits(8) for _ in range(4 << 20)), zipfile.ZIP_STORED)])

    with open(os.path.join(out, "abc.txt"), "wb") as f:
        f.write(b"abc")
    open(os.path.join(out, "empty.txt"), "wb").close()


if __name__ == "__main__":
    main(sys.argv[1])

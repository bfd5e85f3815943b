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
import zlib

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


def raw_deflate(data):
    compressor = zlib.compressobj(9, zlib.DEFLATED, -15)
    return compressor.compress(data) + compressor.flush()


def raw_zip(locals_, directory):
    """An archive written field by field, for layouts no archiver makes.

    locals_: (name, method, compressed, crc, size) written as local headers
    with their data, in order. directory: (name, method, crc, compressed
    size, size, index of the local record it points at) central records.
    """
    body = b""
    offsets = []
    for name, method, compressed, crc, size in locals_:
        offsets.append(len(body))
        body += struct.pack("<IHHHHHIIIHH", 0x04034B50, 20, 0, method, 0, 0x5021, crc, len(compressed), size,
                            len(name), 0) + name + compressed
    central = b""
    for name, method, crc, compressed_size, size, local in directory:
        central += struct.pack("<IHHHHHHIIIHHHHHII", 0x02014B50, 20, 20, 0, method, 0, 0x5021, crc,
                               compressed_size, size, len(name), 0, 0, 0, 0, 0, offsets[local]) + name
    end = struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, len(directory), len(directory), len(central), len(body), 0)
    return body + central + end


def local_data_offset(data, entry):
    """Where the data of an entry starts, from its local header."""
    local = struct.unpack_from("<I", data, central_headers(data)[entry] + 42)[0]
    n, m = struct.unpack_from("<HH", data, local + 26)
    return local + 30 + n + m


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

    # Entries whose bytes are not their own. Each still inflates correctly,
    # since a deflate stream ends by itself before the bytes declared run out.
    # Entry 4's data declared to run 5 bytes into entry 5's local header:
    after_4 = central_headers(tree)[5]
    next_local = struct.unpack_from("<I", tree, after_4 + 42)[0]
    save(os.path.join(out, "overlap_next.zip"),
         damaged(tree, 4, 20, "<I", lambda v: next_local + 5 - local_data_offset(tree, 4)))
    # The same between the first two entries (a check that skips the first
    # pair would pass every fixture above):
    second_local = struct.unpack_from("<I", tree, central_headers(tree)[1] + 42)[0]
    save(os.path.join(out, "overlap_first.zip"),
         damaged(tree, 0, 20, "<I", lambda v: second_local + 5 - local_data_offset(tree, 0)))
    # The only entry's data declared to run 10 bytes into the directory:
    single = raw_zip([(b"a.txt", 8, raw_deflate(b"a" * 1000), zlib.crc32(b"a" * 1000), 1000)],
                     [(b"a.txt", 8, zlib.crc32(b"a" * 1000), len(raw_deflate(b"a" * 1000)) + 10, 1000, 0)])
    save(os.path.join(out, "into_directory.zip"), single)
    # Fifty names for one MiB of zeros held once: 50 MiB from a few kilobytes.
    zeros = bytes(1 << 20)
    kernel = raw_deflate(zeros)
    save(os.path.join(out, "shared_data.zip"), raw_zip(
        [(b"copy00.bin", 8, kernel, zlib.crc32(zeros), len(zeros))],
        [(b"copy%02d.bin" % i, 8, zlib.crc32(zeros), len(kernel), len(zeros), 0) for i in range(50)]))
    # Three hundred entries that each declare almost 4 GiB: more than any
    # test machine has free, from a few kilobytes of valid layout.
    empty = raw_deflate(b"")
    huge = [(b"huge%03d.bin" % i, 8, empty, 0, 0xFFFFFFF0) for i in range(300)]
    save(os.path.join(out, "huge_declared.zip"),
         raw_zip(huge, [(name, 8, 0, len(empty), size, i) for i, (name, _, _, _, size) in enumerate(huge)]))
    # Names longer than extraction uses: a folder and a file.
    write_zip(os.path.join(out, "long_names.zip"),
              [("d" * 299 + "/", b"", zipfile.ZIP_STORED), ("f" * 300, b"x", zipfile.ZIP_STORED)])
    # Three hundred files of 3000 bytes: their sizes fit the 1 MiB test
    # volume, the pages they take on it do not.
    rng = random.Random(13)
    write_zip(os.path.join(out, "many_small.zip"),
              [("setup.exe", b"MZ", zipfile.ZIP_STORED)] +
              [(f"data/{i:03d}.bin", bytes(rng.getrandbits(8) for _ in range(3000)), zipfile.ZIP_STORED)
               for i in range(300)])

    # Names that would leave the destination, each between two good entries.
    good = lambda name: (name, b"inside\n", zipfile.ZIP_DEFLATED)
    for label, name in [("dotdot", "../escaped_dotdot.txt"),
                        ("nested_dotdot", "pages/../../escaped_nested.txt"),
                        ("drive", "C:/stub_escaped_drive.txt"),
                        ("backslash", "\\stub_escaped_root.txt"),
                        ("slash", "/stub_escaped_slash.txt")]:
        write_zip(os.path.join(out, f"escape_{label}.zip"),
                  [good("first.txt"), (name, b"outside\n", zipfile.ZIP_DEFLATED), good("last.txt")])

    # Names that Windows would merge with another entry's, or that open a device.
    for label, first, second in [("blank", "setup.exe", "setup.exe "),
                                 ("dot", "setup.exe", "setup.exe."),
                                 ("case", "a/setup.exe", "A/SETUP.EXE"),
                                 ("folder_dot", "bin/setup.exe", "bin./setup.exe"),
                                 ("file_folder", "tools", "TOOLS/"),
                                 ("device", "setup.exe", "NUL.msi")]:
        write_zip(os.path.join(out, f"merge_{label}.zip"),
                  [good("first.txt"), (first, b"first\n", zipfile.ZIP_STORED),
                   (second, b"" if second.endswith("/") else b"second\n", zipfile.ZIP_STORED), good("last.txt")])

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

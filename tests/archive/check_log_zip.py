#!/usr/bin/env python3
"""Reads the "log.zip" that ZipWriterTest left behind with independent readers:
Python's zipfile and Info-ZIP's unzip -t.

Usage: check_log_zip.py FOLDER   (holds log.zip, sources/, zlib_version.txt)
"""
import os
import subprocess
import sys
import zipfile
import zlib


def fail(message):
    print("FAIL:", message)
    sys.exit(1)


def main(folder):
    archive = os.path.join(folder, "log.zip")
    expected = ["installer_log_1.txt", "second.log"]
    with zipfile.ZipFile(archive) as z:
        infos = z.infolist()
        names = [i.filename for i in infos]
        if names != expected:
            fail(f"names {names}, expected {expected}")
        if z.testzip() is not None:
            fail(f"zipfile finds a bad entry: {z.testzip()}")
        with open(os.path.join(folder, "zlib_version.txt")) as f:
            writer_zlib = f.read().strip()
        for info in infos:
            with open(os.path.join(folder, "sources", info.filename), "rb") as f:
                source = f.read()
            if z.read(info) != source:
                fail(f"{info.filename}: content differs")
            if info.compress_type != zipfile.ZIP_DEFLATED:
                fail(f"{info.filename}: not deflated")
            if info.flag_bits & 0x6 != 0x2:
                fail(f"{info.filename}: flags {info.flag_bits:#x} do not declare maximum compression")
            level9 = zlib.compressobj(9, zlib.DEFLATED, -15)
            reference = level9.compress(source) + level9.flush()
            # The same zlib at level 9 gives the same bytes; another version at
            # least no more than its level 6.
            if writer_zlib == zlib.ZLIB_RUNTIME_VERSION:
                if info.compress_size != len(reference):
                    fail(f"{info.filename}: {info.compress_size} bytes, level 9 gives {len(reference)}")
            else:
                level6 = zlib.compressobj(6, zlib.DEFLATED, -15)
                if info.compress_size > len(level6.compress(source) + level6.flush()):
                    fail(f"{info.filename}: larger than level 6")
    result = subprocess.run(["unzip", "-t", archive], capture_output=True, text=True)
    print(result.stdout)
    if result.returncode != 0 or "No errors detected" not in result.stdout:
        fail(f"unzip -t: exit {result.returncode}")
    print("log.zip read back by zipfile and unzip -t")


if __name__ == "__main__":
    main(sys.argv[1])

#!/usr/bin/env python3
"""The product executable carries the bundle folder as an archive before its
Authenticode signature, and the signature verifies.

Usage: check_product_bundle.py EXE BUNDLE_DIR CERT.pem
"""
import os
import struct
import subprocess
import sys
import zipfile


def fail(message):
    print("FAIL:", message)
    sys.exit(1)


def main(exe, bundle, cert):
    with open(exe, "rb") as f:
        image = f.read()
    pe = struct.unpack_from("<I", image, 0x3C)[0]
    magic = struct.unpack_from("<H", image, pe + 24)[0]
    table_offset, table_size = struct.unpack_from("<II", image, pe + 24 + (96 if magic == 0x10B else 112) + 32)
    end = image.rfind(b"PK\x05\x06")
    if table_size == 0 or table_offset < end + 22 or table_offset + table_size != len(image):
        fail(f"certificate table at {table_offset} ({table_size} bytes) does not follow the archive ending at {end + 22}")

    expected = sorted(os.path.relpath(os.path.join(d, n), bundle).replace(os.sep, "/")
                      for d, _, files in os.walk(bundle) for n in files)
    with zipfile.ZipFile(exe) as z:
        names = sorted(z.namelist())
        if names != expected:
            fail(f"archive holds {names}, bundle has {expected}")
        for name in names:
            with open(os.path.join(bundle, *name.split("/")), "rb") as f:
                if z.read(name) != f.read():
                    fail(f"{name} differs from the bundle")
    result = subprocess.run(["osslsigncode", "verify", "-CAfile", cert, "-in", exe], capture_output=True, text=True)
    if result.returncode != 0:
        fail("signature does not verify:\n" + result.stdout + result.stderr)
    print(f"{exe}: {len(names)} bundle files before a valid {table_size}-byte signature")


if __name__ == "__main__":
    main(*sys.argv[1:])

#!/usr/bin/env python3
"""Appends the UI bundle to a linked executable and signs the result.

The folder is zipped (deflated, "/" separated names, no folder entries, no
comment) and appended after the PE image; osslsigncode then adds the
Authenticode certificate table after the archive. Offsets inside the archive
count from its own first byte, so the program finds it by its end record.

Usage: pack_bundle.py --image IN.exe --bundle DIR --output OUT.exe
                      [--cert CERT.pem --key KEY.pem]   (omit both: unsigned)
"""
import argparse
import io
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import zipfile

# A fixed time stamp keeps the archive the same from build to build.
FIXED_TIME = (2020, 1, 1, 0, 0, 0)
SECURITY_DIRECTORY = 4


def bundle_files(root):
    for folder, subfolders, files in os.walk(root):
        subfolders.sort()
        for name in sorted(files):
            path = os.path.join(folder, name)
            yield path, os.path.relpath(path, root).replace(os.sep, "/")


def zip_folder(root):
    buffer = io.BytesIO()
    count = 0
    with zipfile.ZipFile(buffer, "w") as archive:
        for path, name in bundle_files(root):
            info = zipfile.ZipInfo(name, FIXED_TIME)
            info.compress_type = zipfile.ZIP_DEFLATED
            info.external_attr = 0o644 << 16
            with open(path, "rb") as source:
                archive.writestr(info, source.read(), compresslevel=9)
            count += 1
    if count == 0:
        sys.exit(f"pack_bundle: {root} holds no files")
    return buffer.getvalue(), count


def security_directory(image):
    """(offset, size) of the certificate table the PE header points at."""
    pe = struct.unpack_from("<I", image, 0x3C)[0]
    if image[pe:pe + 4] != b"PE\0\0":
        sys.exit("pack_bundle: not a PE image")
    optional = pe + 24
    magic = struct.unpack_from("<H", image, optional)[0]
    directories = optional + (96 if magic == 0x10B else 112)
    return struct.unpack_from("<II", image, directories + 8 * SECURITY_DIRECTORY)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--image", required=True)
    parser.add_argument("--bundle", required=True)
    parser.add_argument("--output", required=True)
    parser.add_argument("--cert")
    parser.add_argument("--key")
    parser.add_argument("--name", default="Tessary Setup")
    args = parser.parse_args()
    if bool(args.cert) != bool(args.key):
        sys.exit("pack_bundle: --cert and --key go together")

    with open(args.image, "rb") as f:
        image = f.read()
    # Appending after a signature would break it; the image must be unsigned.
    if security_directory(image)[1] != 0:
        sys.exit(f"pack_bundle: {args.image} is already signed")
    archive, count = zip_folder(args.bundle)

    output_dir = os.path.dirname(os.path.abspath(args.output))
    with tempfile.NamedTemporaryFile(dir=output_dir, suffix=".exe", delete=False) as packed:
        packed.write(image + archive)
    try:
        if args.cert:
            signed = packed.name + ".signed"
            subprocess.run(["osslsigncode", "sign", "-certs", args.cert, "-key", args.key, "-n", args.name,
                            "-h", "sha256", "-in", packed.name, "-out", signed],
                           check=True, stdout=subprocess.DEVNULL)
            shutil.copymode(args.image, signed)
            os.replace(signed, args.output)
        else:
            shutil.copymode(args.image, packed.name)
            os.replace(packed.name, args.output)
    finally:
        for leftover in (packed.name, packed.name + ".signed"):
            if os.path.exists(leftover):
                os.remove(leftover)
    state = "signed" if args.cert else "unsigned"
    print(f"pack_bundle: {args.output}: {count} files, {len(archive)} bytes of archive, {state}")


if __name__ == "__main__":
    main()

#!/usr/bin/env python3
"""The build's packing step: appends a UI bundle to an executable fresh from
the linker and signs the result, with tools/stubpack's library (the same
archive layout and checks as the publisher's stubpack.py). Test programs
are packed too, so any PE image is taken; it must carry nothing yet.

Usage: pack_bundle.py --image IN.exe --bundle DIR --output OUT.exe
                      [--cert CERT.pem --key KEY.pem [--name TEXT]]   (omit both: unsigned)
"""
import argparse
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tools", "stubpack"))

from bundle_archive import BundleError, zip_folder  # noqa: E402
from pe_image import PeError, read_layout  # noqa: E402
from stubpack import PackError, read_file, write_stub  # noqa: E402


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--image", required=True)
    parser.add_argument("--bundle", required=True)
    parser.add_argument("--output", required=True)
    parser.add_argument("--cert")
    parser.add_argument("--key")
    parser.add_argument("--name", help="the signature's description")
    args = parser.parse_args()
    if bool(args.cert) != bool(args.key):
        sys.exit("pack_bundle: --cert and --key go together")
    try:
        image = read_file(args.image)
        layout = read_layout(image)
        # Appending after a signature or an earlier bundle would bury it.
        if layout.signed or layout.image_end != len(image):
            raise PackError(f"{args.image} already carries data after its image")
        archive, count = zip_folder(args.bundle)
        write_stub(image, archive, args.output, args.image, args.cert, args.key, args.name if args.cert else None)
    except (PackError, PeError, BundleError) as e:
        sys.exit(f"pack_bundle: {e}")
    state = "signed" if args.cert else "unsigned"
    print(f"pack_bundle: {args.output}: {count} files, {len(archive)} bytes of archive, {state}")


if __name__ == "__main__":
    main()

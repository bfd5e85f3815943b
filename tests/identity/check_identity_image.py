#!/usr/bin/env python3
"""The product built as "Qorvane" 7.3.0.1 by "Halvern Works": its image (the
bytes the linker wrote, before the bundle) spells the names and keys of that
build, in its code and in its manifest, and none of the default ones, except
the framework's own mutex name;
its version resource names the product, the company, the version and the
description it was built with; its bundle is found; its signature verifies
up to the test root that issued that build's signing certificate, and not
against the signing certificate alone (it is not self-signed).

Usage: check_identity_image.py EXE ROOT.pem SIGNING_CERT.pem
"""
import os
import subprocess
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools", "stubpack"))

from bundle_archive import find_bundle, stub_finds_end_record  # noqa: E402
from pe_image import read_layout  # noqa: E402

EXPECTED = [
    "Qorvane",
    "7.3.0.1",
    "HKEY_CURRENT_USER\\Software\\Halvern Works\\Setup",
    "Halvern Works",
]
ABSENT = ["Tessary", "22.0.0.0", "stubframework", "HKCU\\Software"]
FRAMEWORK_MUTEX = "BrelvoStubFramework"


def wide(text):
    return (text + "\0").encode("utf-16-le")


# What Explorer's Details tab would show.
VERSION_STRINGS = {
    "ProductName": "Qorvane",
    "CompanyName": "Halvern Works Ltd.",
    "FileDescription": "Qorvane web installer",
    "FileVersion": "7.3.0.1",
    "ProductVersion": "7.3.0.1",
    "LegalCopyright": "Copyright (C) Halvern Works",
    "OriginalFilename": "QorvaneSetup.exe",
}


def version_string(image, key):
    """The value of a StringFileInfo entry: the key (UTF-16, NUL-ended), padding
    to a 32-bit boundary, then the value; None when the key is absent. Looked
    for after the resource's own VS_VERSION_INFO key, as a whole key (after
    its entry's type word, 1 for text), since code strings may end in the
    same words."""
    start = image.find(wide("VS_VERSION_INFO"))
    if start < 0:
        return None
    at = image.find(b"\1\0" + wide(key), start)
    if at < 0:
        return None
    at += 2
    if at < 0:
        return None
    at += len(wide(key))
    while image[at:at + 2] == b"\0\0":
        at += 2
    end = at
    while end + 1 < len(image) and image[end:end + 2] != b"\0\0":
        end += 2
    return image[at:end].decode("utf-16-le", "replace")


def verify(exe, trusted):
    return subprocess.run(["osslsigncode", "verify", "-CAfile", trusted, "-in", exe], capture_output=True, text=True)


def main(exe, root, leaf):
    problems = []
    if os.path.basename(exe) != "QorvaneSetup.exe":
        problems.append(f"executable named {os.path.basename(exe)}")
    with open(exe, "rb") as f:
        data = f.read()
    layout = read_layout(data)
    image = data[:layout.image_end]
    for text in EXPECTED:
        # Names are matched whole where they stand alone, as part of a path otherwise.
        needle = wide(text) if text in ("Qorvane", "7.3.0.1", "Halvern Works") else text.encode("utf-16-le")
        if needle not in image:
            problems.append(f"the image lacks {text!r}")
    for text in ABSENT:
        if text.encode("utf-16-le") in image:
            problems.append(f"the image still holds {text!r}")
    if b'name="HalvernWorks.Qorvane.Stub" version="7.3.0.1"' not in image:
        problems.append("the manifest's assembly identity is not the build's")
    if b"Tessary" in image:
        problems.append("the image still holds 'Tessary' as narrow text")
    if image.count("Brelvo".encode("utf-16-le")) != image.count(FRAMEWORK_MUTEX.encode("utf-16-le")):
        problems.append("the image names Brelvo elsewhere than in the framework's mutex")

    bundle = find_bundle(data, layout.image_end, layout.certificate_offset if layout.signed else len(data))
    if bundle is None or not stub_finds_end_record(data, bundle.end_record_at):
        problems.append("no bundle the stub would find")

    for key, expected in VERSION_STRINGS.items():
        found = version_string(image, key)
        if found != expected:
            problems.append(f"version resource {key} is {found!r}, not {expected!r}")

    result = verify(exe, root)
    if result.returncode != 0:
        problems.append("signature does not verify up to the root:\n" + result.stdout + result.stderr)
    elif "CN=Qorvane Code Signing" not in result.stdout:
        problems.append("signed by another certificate:\n" + result.stdout)
    if verify(exe, leaf).returncode == 0:
        problems.append("the signature verifies against the signing certificate alone: it should need the root")

    for p in problems:
        print("FAIL:", p)
    if problems:
        return 1
    print(f"{exe}: Qorvane identity throughout, {len(bundle.names)} bundle files, signature verifies")
    return 0


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:]))

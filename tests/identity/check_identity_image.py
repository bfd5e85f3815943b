#!/usr/bin/env python3
"""The product built as "Qorvane" 7.3.0.1 by "Halvern Works": its image (the
bytes the linker wrote, before the bundle) spells the names and keys of that
build, in its code and in its manifest, and none of the default ones, except
the framework's own mutex name;
its bundle is found; its signature verifies against that build's own test
certificate, made for the product name.

Usage: check_identity_image.py EXE CERT.pem
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


def main(exe, cert):
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

    result = subprocess.run(["osslsigncode", "verify", "-CAfile", cert, "-in", exe], capture_output=True, text=True)
    if result.returncode != 0:
        problems.append("signature does not verify:\n" + result.stdout + result.stderr)
    elif "CN=Qorvane Test Code Signing" not in result.stdout:
        problems.append("signed by another certificate:\n" + result.stdout)

    for p in problems:
        print("FAIL:", p)
    if problems:
        return 1
    print(f"{exe}: Qorvane identity throughout, {len(bundle.names)} bundle files, signature verifies")
    return 0


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:]))

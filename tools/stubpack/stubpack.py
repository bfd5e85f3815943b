#!/usr/bin/env python3
"""Puts a new UI bundle into a released stub, for publishers who do not compile.

  stubpack.py stage --bundle SOURCE --output DIR [--overlay DIR]
      Lays out a bundle folder as a stub carries it (the jQuery builds the
      pages load, the SVG images rendered to PNG; scripts/stage_bundle.js,
      which needs this checkout's node_modules: npm ci) and checks it as pack
      does. Pack DIR then.

  stubpack.py pack --stub Released.exe --bundle DIR --output New.exe
                   (--cert CERT --key KEY [--key-password-file FILE] | --unsigned)
                   [--description TEXT]
      Removes the stub's signature and its bundle, appends DIR as the new
      bundle and signs the result with CERT and KEY (PEM or DER), or leaves it
      unsigned for your own signing tool. DIR must hold Load.html at its top
      and every file its pages name (src, href, CSS url()): pack refuses a
      bundle that lacks one, with the list.

  stubpack.py check Stub.exe
      Says what a stub carries, whether it will find its bundle and whether
      its pages find every file they name; run it on a stub after signing it
      with another tool.

Exit status: 0 done, 1 refused or failed (the message says why), 2 usage.
Needs Python 3 and, to sign, osslsigncode.
"""
import argparse
import io
import os
import shutil
import subprocess
import sys
import tempfile
import zipfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from bundle_archive import (END_RECORD_REACH, MAX_PADDING, START_PAGE, BundleError, find_bundle,
                            stub_finds_end_record, zip_folder)
from bundle_references import MAX_SCANNED_BYTES, missing_references
from pe_image import PeError, read_layout, require_stub_program, strip_to_image, with_checksum
from signing import SigningError, sign

# Stubs are a few MiB; anything far larger is not one.
MAX_STUB_BYTES = 512 << 20
REPO = os.path.abspath(os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", ".."))
STAGE_SCRIPT = os.path.join(REPO, "scripts", "stage_bundle.js")
# Lines of missing files a message lists before it counts the rest.
MAX_LISTED = 40


class PackError(Exception):
    pass


def read_file(path, limit=MAX_STUB_BYTES):
    try:
        with open(path, "rb") as f:
            data = f.read(limit + 1)
    except OSError as e:
        raise PackError(f"{path}: {e.strerror}")
    if len(data) > limit:
        raise PackError(f"{path}: larger than {limit >> 20} MiB, not a stub")
    return data


def region_end(data, layout):
    """Where the stub expects its bundle to end (before at most 7 zero bytes):
    the certificate table's start, or the end of an unsigned file."""
    return layout.certificate_offset if layout.signed else len(data)


def read_stub(path, require_bundle=True):
    """(file bytes, PE layout, bundle or None) of a stub; PackError naming the
    reason when it is not one."""
    data = read_file(path)
    try:
        layout = read_layout(data)
        require_stub_program(layout)
        bundle = find_bundle(data, layout.image_end, region_end(data, layout))
    except (PeError, BundleError) as e:
        raise PackError(f"{path}: {e}")
    if bundle is None and require_bundle:
        raise PackError(f"{path}: carries no UI bundle after its image, so it is not a released stub")
    return data, layout, bundle


def write_stub(image, archive, output, mode_from, cert=None, key=None, description=None, password_file=None):
    """Writes image + archive to output, signed when cert and key are given,
    and checks that the stub will find its bundle there. output is replaced
    only by a complete, checked file."""
    folder = os.path.dirname(os.path.abspath(output))
    # Zeros up to a multiple of 8, as signing pads before the certificate
    # table: signed or not, the bytes before the signature are the same, and
    # the length is even, where every way of computing the checksum agrees.
    padding = b"\0" * (-(len(image) + len(archive)) % (MAX_PADDING + 1))
    # Signing computes the checksum again; an unsigned stub carries a right one too.
    packed_bytes = with_checksum(image + archive + padding, read_layout(image))
    with tempfile.NamedTemporaryFile(dir=folder, prefix=".stubpack-", suffix=".exe", delete=False) as packed:
        packed.write(packed_bytes)
    leftovers = [packed.name, packed.name + ".signed"]
    try:
        result = packed.name
        if cert:
            sign(packed.name, packed.name + ".signed", cert, key, description, password_file)
            result = packed.name + ".signed"
        data = read_file(result)
        layout = read_layout(data)
        bundle = find_bundle(data, layout.image_end, region_end(data, layout))
        if bundle is None or bundle.size != len(archive):
            raise PackError(f"{output}: the bundle is not where it was appended")
        if not stub_finds_end_record(data, bundle.end_record_at, region_end(data, layout)):
            raise PackError(f"{output}: the stub would not find its bundle")
        shutil.copymode(mode_from, result)
        os.replace(result, output)
    except (PeError, BundleError, SigningError) as e:
        raise PackError(f"{output}: {e}")
    finally:
        for leftover in leftovers:
            if os.path.exists(leftover):
                os.remove(leftover)
    return bundle


def missing_in_archive(archive_bytes):
    """missing_references over the files of a bundle archive."""
    with zipfile.ZipFile(io.BytesIO(archive_bytes)) as archive:
        def read(name):
            with archive.open(name) as member:
                return member.read(MAX_SCANNED_BYTES + 1)
        return missing_references(archive.namelist(), read)


def missing_message(what, missing):
    listed = missing[:MAX_LISTED]
    more = f"\n  ... and {len(missing) - len(listed)} more" if len(missing) > len(listed) else ""
    return (f"{what}: {len(missing)} files its pages name are not in it (a page waits forever for a missing "
            "script or style sheet); stage the bundle first (stubpack.py stage) or add them:\n  "
            + "\n  ".join(listed) + more)


def stage(args):
    node = shutil.which("node")
    if node is None:
        raise PackError("staging needs Node.js (Debian: apt-get install nodejs) and this checkout's npm packages")
    modules = os.path.join(REPO, "node_modules")
    if not os.path.isdir(modules):
        raise PackError(f"{modules} is missing: run npm ci in {REPO} (or bash scripts/setup.sh)")
    if not os.path.isfile(os.path.join(args.bundle, "Load.html")):
        raise PackError(f"{args.bundle} has no Load.html at its top: the stub starts there")
    command = [node, STAGE_SCRIPT, "--source", args.bundle, "--output", args.output, "--modules", modules]
    if args.overlay:
        command += ["--overlay", args.overlay]
    result = subprocess.run(command, stdin=subprocess.DEVNULL, capture_output=True, text=True)
    if result.returncode != 0:
        raise PackError("staging failed:\n" + (result.stderr or result.stdout).strip())
    try:
        archive, count = zip_folder(args.output)
    except BundleError as e:
        raise PackError(f"staged bundle: {e}")
    missing = missing_in_archive(archive)
    if missing:
        raise PackError(missing_message(f"staged bundle {args.output}", missing))
    print(f"stubpack: {args.output}: {count} files staged, every file the pages name is there")


def pack(args):
    if bool(args.cert) != bool(args.key):
        raise PackError("--cert and --key go together")
    if args.key_password_file and not args.cert:
        raise PackError("--key-password-file goes with --cert and --key")
    if not args.cert and not args.unsigned:
        raise PackError("say how to sign: --cert CERT --key KEY, or --unsigned for your own signing tool")
    if args.cert and args.unsigned:
        raise PackError("--unsigned and --cert exclude each other")
    data, layout, _ = read_stub(args.stub)
    try:
        archive, count = zip_folder(args.bundle)
    except BundleError as e:
        raise PackError(f"bundle: {e}")
    missing = missing_in_archive(archive)
    if missing:
        raise PackError(missing_message(f"bundle {args.bundle}", missing))
    write_stub(strip_to_image(data, layout), archive, args.output, args.stub, args.cert, args.key,
               args.description, args.key_password_file)
    state = "signed" if args.cert else "unsigned"
    print(f"stubpack: {args.output}: {count} files, {len(archive)} bytes of bundle, {state}")


def check(args):
    data, layout, bundle = read_stub(args.stub)
    print(f"{args.stub}: 32-bit Windows GUI program, image {layout.image_end} bytes")
    print(f"bundle: {len(bundle.names)} files, {bundle.size} bytes, {START_PAGE} at its top")
    if layout.signed:
        print(f"signature: {layout.certificate_size} bytes of certificate table")
    else:
        print("signature: none")
    end = region_end(data, layout)
    if not stub_finds_end_record(data, bundle.end_record_at, end):
        raise PackError(f"{args.stub}: the stub would not find its bundle: its end record lies "
                        f"{end - bundle.end_record_at} bytes before the {'certificate table' if layout.signed else 'end of the file'}, "
                        f"at most {END_RECORD_REACH} are searched")
    where = "the certificate table" if layout.signed else "the end of the file"
    print(f"the stub finds its bundle (right before {where}, through the security directory)")
    missing = missing_in_archive(data[layout.image_end:layout.image_end + bundle.size])
    if missing:
        raise PackError(missing_message(f"{args.stub}'s bundle", missing))
    print("every file its pages name is in the bundle")


def main(argv=None):
    parser = argparse.ArgumentParser(prog="stubpack.py", description=__doc__.splitlines()[0],
                                     epilog="See docs/publishing.md.")
    commands = parser.add_subparsers(dest="command", required=True)
    s = commands.add_parser("stage", help="lay out a bundle folder as a stub carries it, ready to pack")
    s.add_argument("--bundle", required=True, help="the bundle's source folder, Load.html at its top")
    s.add_argument("--output", required=True, help="the staged folder (emptied first)")
    s.add_argument("--overlay", help="a folder whose files replace the bundle's own (for trying other settings)")
    s.set_defaults(run=stage)
    p = commands.add_parser("pack", help="replace a released stub's bundle, then sign or leave unsigned")
    p.add_argument("--stub", required=True, help="the released stub (signed or not)")
    p.add_argument("--bundle", required=True, help="folder with Load.html at its top")
    p.add_argument("--output", required=True, help="the new stub (may be the same path as --stub)")
    p.add_argument("--cert", help="code-signing certificate, PEM or DER")
    p.add_argument("--key", help="its private key, PEM or DER")
    p.add_argument("--key-password-file", help="file holding the key's passphrase")
    p.add_argument("--unsigned", action="store_true", help="leave the result unsigned")
    p.add_argument("--description", help="description shown with the signature, such as \"Tessary Setup\"")
    p.set_defaults(run=pack)
    c = commands.add_parser("check", help="say what a stub carries and whether it finds its bundle")
    c.add_argument("stub")
    c.set_defaults(run=check)
    args = parser.parse_args(argv)
    try:
        args.run(args)
    except PackError as e:
        print(f"stubpack: {e}", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())

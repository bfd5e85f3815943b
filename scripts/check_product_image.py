#!/usr/bin/env python3
"""Checks what the product executable may carry.

imports:      the static import table names only DLLs that every supported
              system loads from its own folder whatever lies beside the
              executable (known DLLs); everything else must be delay-loaded.
browser-host: the image has no browser UI host: no socket DLL among its
              imports and none of the host's strings (its command-line
              argument, its secret's variable, its frame keys) in the image.
              The bundle and the signature appended after the image are not
              looked at.

Prints every finding and exits 1 when there is one, 0 otherwise.

Usage: check_product_image.py IMAGE [--objdump OBJDUMP] [--check imports|browser-host ...]
"""
import argparse
import re
import struct
import subprocess
import sys

# Known DLLs of both Windows 7 and Windows 10 (Windows 7's list also names
# urlmon, wininet, iertutil, lpk and usp10, which Windows 10 no longer
# protects), and ntdll, which the system maps before anything else.
KNOWN_DLLS = {
    "advapi32.dll", "clbcatq.dll", "comdlg32.dll", "difxapi.dll", "gdi32.dll", "imagehlp.dll", "imm32.dll",
    "kernel32.dll", "msctf.dll", "msvcrt.dll", "normaliz.dll", "nsi.dll", "ntdll.dll", "ole32.dll",
    "oleaut32.dll", "psapi.dll", "rpcrt4.dll", "sechost.dll", "setupapi.dll", "shell32.dll", "shlwapi.dll",
    "user32.dll", "wldap32.dll", "ws2_32.dll",
}
SOCKET_DLLS = {"ws2_32.dll", "wsock32.dll", "mswsock.dll"}
# What only the browser host carries: its argument ("uihost=..."), the
# variable of its secret, and a key of its frames.
BROWSER_HOST_MARKERS = ["uihost", "UIHOST_TOKEN", "startPage"]


def imported_dlls(objdump, image):
    out = subprocess.run([objdump, "-p", image], check=True, capture_output=True, text=True).stdout
    return [m.group(1) for m in re.finditer(r"^\s*DLL Name:\s*(\S+)\s*$", out, re.M)]


def image_bytes(path):
    """The bytes of the PE image: up to the end of its last section."""
    data = open(path, "rb").read()
    if data[:2] != b"MZ":
        raise ValueError(f"{path} is not a PE image")
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    if data[pe:pe + 4] != b"PE\0\0":
        raise ValueError(f"{path} is not a PE image")
    sections, optional_size = struct.unpack_from("<H12xH", data, pe + 6)
    table = pe + 24 + optional_size
    end = 0
    for i in range(sections):
        raw_size, raw_pointer = struct.unpack_from("<II", data, table + 40 * i + 16)
        end = max(end, raw_pointer + raw_size)
    return data[:end]


def check_imports(dlls):
    return [f"static import of {dll}: not a known DLL; delay-load it (cmake/DelayLoad.cmake)"
            for dll in dlls if dll.lower() not in KNOWN_DLLS]


def check_browser_host(dlls, image):
    findings = [f"static import of {dll}: sockets belong to the browser UI host" for dll in dlls
                if dll.lower() in SOCKET_DLLS]
    for marker in BROWSER_HOST_MARKERS:
        for encoding in ("ascii", "utf-16-le"):
            if marker.encode(encoding) in image:
                findings.append(f'the browser UI host\'s "{marker}" ({encoding}) is in the image')
    return findings


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("image")
    parser.add_argument("--objdump", default="i686-w64-mingw32-objdump")
    parser.add_argument("--check", action="append", choices=["imports", "browser-host"])
    args = parser.parse_args()
    checks = args.check or ["imports", "browser-host"]
    dlls = imported_dlls(args.objdump, args.image)
    findings = []
    if "imports" in checks:
        findings += check_imports(dlls)
    if "browser-host" in checks:
        findings += check_browser_host(dlls, image_bytes(args.image))
    for finding in findings:
        print(f"{args.image}: {finding}")
    if findings:
        return 1
    print(f"check_product_image: {args.image}: {', '.join(checks)}: clean (imports: {', '.join(dlls)})")
    return 0


if __name__ == "__main__":
    sys.exit(main())

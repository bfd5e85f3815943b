#!/usr/bin/env python3
"""Signed executables for the signer comparison, from one unsigned image:

  genuine.exe       signed with the build's code-signing certificate
  genuine_copy.exe  the same image signed again with it (the "running stub")
  other_signer.exe  signed with a self-made certificate of someone else
  unsigned.exe      the image as it is
  tampered.exe      genuine.exe with one byte of .text changed
  padded.exe        genuine.exe with 368 more bytes inside its certificate
                    entry (both length fields fixed), as a hidden ZIP would be
  trailing.exe      genuine.exe with 8 bytes after its certificate table

Usage: make_signed_fixtures.py IMAGE CERT KEY OUTDIR
"""
import os
import shutil
import struct
import subprocess
import sys


def sign(src, dst, cert, key):
    # osslsigncode refuses to overwrite: a rebuild replaces the last build's file.
    if os.path.exists(dst):
        os.remove(dst)
    subprocess.run(["osslsigncode", "sign", "-certs", cert, "-key", key, "-h", "sha256", "-in", src, "-out", dst],
                   check=True, stdout=subprocess.DEVNULL)


def pe_offsets(data):
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    sections = struct.unpack_from("<H", data, pe + 6)[0]
    optional_size = struct.unpack_from("<H", data, pe + 20)[0]
    optional = pe + 24
    magic = struct.unpack_from("<H", data, optional)[0]
    security = optional + (128 if magic == 0x10B else 144)
    table = optional + optional_size
    text = None
    for i in range(sections):
        header = table + 40 * i
        name = data[header:header + 8].rstrip(b"\0")
        if name == b".text":
            size, offset = struct.unpack_from("<II", data, header + 16)
            text = (offset, size)
    return security, text


def main():
    image, cert, key, out = sys.argv[1:5]
    os.makedirs(out, exist_ok=True)
    other_key = os.path.join(out, "other_key.pem")
    other_cert = os.path.join(out, "other_cert.pem")
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "3650", "-sha256",
                    "-subj", "/CN=Someone Else Code Signing", "-addext", "extendedKeyUsage=codeSigning",
                    "-keyout", other_key, "-out", other_cert], check=True, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL)
    # osslsigncode's checksum skips a trailing odd byte: pack to a multiple of 8.
    unsigned = bytearray(open(image, "rb").read())
    unsigned += b"\0" * (-len(unsigned) % 8)
    plain = os.path.join(out, "unsigned.exe")
    open(plain, "wb").write(unsigned)
    sign(plain, os.path.join(out, "genuine.exe"), cert, key)
    sign(plain, os.path.join(out, "genuine_copy.exe"), cert, key)
    sign(plain, os.path.join(out, "other_signer.exe"), other_cert, other_key)

    genuine = bytearray(open(os.path.join(out, "genuine.exe"), "rb").read())
    security, text = pe_offsets(genuine)
    tampered = bytearray(genuine)
    tampered[text[0] + text[1] // 2] ^= 0x01
    open(os.path.join(out, "tampered.exe"), "wb").write(tampered)

    offset, size = struct.unpack_from("<II", genuine, security)
    padded = bytearray(genuine)
    extra = 368
    length = struct.unpack_from("<I", padded, offset)[0]
    struct.pack_into("<I", padded, offset, length + extra)
    struct.pack_into("<I", padded, security + 4, size + extra)
    padded[offset + length:offset + length] = b"PK\x03\x04" + b"\x11" * (extra - 4)
    open(os.path.join(out, "padded.exe"), "wb").write(padded)

    open(os.path.join(out, "trailing.exe"), "wb").write(genuine + b"\0" * 8)
    shutil.copyfile(os.path.join(out, "genuine.exe"), os.path.join(out, "genuine_again.exe"))


if __name__ == "__main__":
    main()

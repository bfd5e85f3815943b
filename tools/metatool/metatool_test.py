#!/usr/bin/env python3
"""metatool against an independent computation with hashlib.

Usage: metatool_test.py NATIVE_TOOL WINDOWS_TOOL WINE_RUN WINEPREFIX
"""
import hashlib
import os
import random
import struct
import subprocess
import sys
import tempfile

BLOCK = 1 << 20


def expected_meta(data):
    digests = b''.join(hashlib.sha1(data[i:i + BLOCK]).digest() for i in range(0, len(data), BLOCK))
    return struct.pack('<q', len(data)) + digests


def main():
    native, windows, wine_run, prefix = sys.argv[1:5]
    failures = []
    rnd = random.Random(20261207)
    sizes = [0, 1, BLOCK - 1, BLOCK, BLOCK + 1] + [rnd.randrange(1, 5 * BLOCK) for _ in range(3)]
    with tempfile.TemporaryDirectory() as tmp:
        for size in sizes:
            path = os.path.join(tmp, 'f%d.bin' % size)
            data = rnd.randbytes(size)
            with open(path, 'wb') as f:
                f.write(data)
            r = subprocess.run([native, 'create', path], capture_output=True)
            meta = open(path + '.meta', 'rb').read() if r.returncode == 0 else b''
            if r.returncode != 0 or meta != expected_meta(data):
                failures.append('create, size %d' % size)
                continue
            if subprocess.run([native, 'verify', path, path + '.meta'], capture_output=True).returncode != 0:
                failures.append('verify of an unchanged file, size %d' % size)
            if size:
                flipped = bytearray(data)
                at = rnd.randrange(size)
                flipped[at] ^= 0x01
                with open(path, 'wb') as f:
                    f.write(flipped)
                r = subprocess.run([native, 'verify', path, path + '.meta'], capture_output=True, text=True)
                if r.returncode != 1 or ('block %d differs' % (at // BLOCK)) not in r.stdout:
                    failures.append('verify after flipping byte %d, size %d: %r' % (at, size, r.stdout))
                with open(path, 'wb') as f:
                    f.write(data)

        # Unreadable input: a clear message and status 2.
        r = subprocess.run([native, 'create', os.path.join(tmp, 'missing.bin')], capture_output=True, text=True)
        if r.returncode != 2 or 'cannot read' not in r.stderr:
            failures.append('missing input: %d %r' % (r.returncode, r.stderr))
        short = os.path.join(tmp, 'short.meta')
        with open(short, 'wb') as f:
            f.write(b'\x01\x00')
        r = subprocess.run([native, 'verify', path, short], capture_output=True, text=True)
        if r.returncode != 2 or 'not a meta file' not in r.stderr:
            failures.append('short meta: %d %r' % (r.returncode, r.stderr))
        r = subprocess.run([native, '--help'], capture_output=True, text=True)
        if r.returncode != 0 or 'metatool create' not in r.stdout:
            failures.append('--help')

        # The Windows build writes the same bytes.
        for size in (0, BLOCK + 1, 2 * BLOCK + 12345):
            path = os.path.join(tmp, 'w%d.bin' % size)
            data = rnd.randbytes(size)
            with open(path, 'wb') as f:
                f.write(data)
            wpath = 'Z:' + path.replace('/', '\\')
            r = subprocess.run([wine_run, prefix, windows, 'create', wpath, wpath + '.meta'], capture_output=True)
            meta = open(path + '.meta', 'rb').read() if os.path.exists(path + '.meta') else b''
            if r.returncode != 0 or meta != expected_meta(data):
                failures.append('windows create, size %d (status %d)' % (size, r.returncode))

    for f in failures:
        print('FAILED:', f)
    print('%d sizes checked, %d failures' % (len(sizes), len(failures)))
    return 1 if failures else 0


if __name__ == '__main__':
    sys.exit(main())

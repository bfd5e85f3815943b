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


def openssl(*args):
    subprocess.run(['openssl'] + list(args), check=True, capture_output=True)


def check_signatures(native, windows, wine_run, prefix, tmp):
    """sign and verify-signature against openssl itself, in both builds."""
    failures = []
    keys = {}
    for name, bits in (('a', 3072), ('b', 3072), ('small', 2048)):
        private = os.path.join(tmp, 'key_%s.pem' % name)
        public = os.path.join(tmp, 'key_%s_public.pem' % name)
        openssl('genpkey', '-algorithm', 'RSA', '-pkeyopt', 'rsa_keygen_bits:%d' % bits, '-out', private)
        openssl('pkey', '-in', private, '-pubout', '-out', public)
        keys[name] = (private, public)
    data = os.path.join(tmp, 'release.meta')
    with open(data, 'wb') as f:
        f.write(os.urandom(5000))
    reference = os.path.join(tmp, 'openssl.sig')
    openssl('dgst', '-sha256', '-sign', keys['a'][0], '-out', reference, data)
    expected = open(reference, 'rb').read()

    def win(path):
        return 'Z:' + path.replace('/', '\\')

    for label, command in (('native', [native]), ('windows', [wine_run, prefix, windows])):
        conv = (lambda p: p) if label == 'native' else win
        r = subprocess.run(command + ['sign', '--key', conv(keys['a'][0]), conv(data)], capture_output=True)
        made = open(data + '.sig', 'rb').read() if os.path.exists(data + '.sig') else b''
        if r.returncode != 0 or made != expected:
            failures.append('%s sign: status %d, %s openssl\'s bytes' % (label, r.returncode,
                                                                         'same as' if made == expected else 'not'))
        # (what, key, data bytes changed, signature bytes, status)
        good = expected
        cases = [
            ('good', keys['a'][1], False, good, 0),
            ('data with a bit flipped', keys['a'][1], True, good, 1),
            ('another key', keys['b'][1], False, good, 1),
            ('signature one byte short', keys['a'][1], False, good[:-1], 1),
            ('signature with a bit flipped', keys['a'][1], False, good[:100] + bytes([good[100] ^ 1]) + good[101:], 1),
            ('empty signature', keys['a'][1], False, b'', 1),
        ]
        original = open(data, 'rb').read()
        for what, public, flip, signature, status in cases:
            with open(data, 'wb') as f:
                f.write(bytes([original[0] ^ 1]) + original[1:] if flip else original)
            with open(data + '.sig', 'wb') as f:
                f.write(signature)
            r = subprocess.run(command + ['verify-signature', '--key', conv(public), conv(data)], capture_output=True)
            if r.returncode != status:
                failures.append('%s verify-signature, %s: status %d, wanted %d' % (label, what, r.returncode, status))
        with open(data, 'wb') as f:
            f.write(original)
        os.remove(data + '.sig')
        r = subprocess.run(command + ['verify-signature', '--key', conv(keys['a'][1]), conv(data)], capture_output=True)
        if r.returncode != 2:
            failures.append('%s verify-signature without FILE.sig: status %d, wanted 2' % (label, r.returncode))
        r = subprocess.run(command + ['sign', '--key', conv(keys['small'][0]), conv(data)], capture_output=True)
        if r.returncode != 2 or os.path.exists(data + '.sig'):
            failures.append('%s sign with a 2048-bit key: status %d, wanted 2 and no FILE.sig' % (label, r.returncode))
    # openssl accepts what metatool made.
    subprocess.run([native, 'sign', '--key', keys['a'][0], data], capture_output=True)
    r = subprocess.run(['openssl', 'dgst', '-sha256', '-verify', keys['a'][1], '-signature', data + '.sig', data],
                       capture_output=True)
    if r.returncode != 0:
        failures.append('openssl does not verify metatool\'s signature')
    return failures


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

        failures += check_signatures(native, windows, wine_run, prefix, tmp)

    for f in failures:
        print('FAILED:', f)
    print('%d sizes checked, %d failures' % (len(sizes), len(failures)))
    return 1 if failures else 0


if __name__ == '__main__':
    sys.exit(main())

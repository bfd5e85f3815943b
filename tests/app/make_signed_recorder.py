#!/usr/bin/env python3
"""The argument recorder as a genuine newer stub: signed with the build's
code-signing certificate (padded to 8 first: osslsigncode's checksum skips a
trailing odd byte), with its .meta and, when a release key is given, the
.meta's signature.

Usage: make_signed_recorder.py RECORDER CERT KEY METATOOL OUT [RELEASE_KEY]
"""
import os
import subprocess
import sys


def main():
    recorder, cert, key, metatool, out = sys.argv[1:6]
    release_key = sys.argv[6] if len(sys.argv) > 6 and sys.argv[6] else None
    data = open(recorder, 'rb').read()
    open(out + '.unsigned', 'wb').write(data + b'\0' * (-len(data) % 8))
    # osslsigncode refuses to overwrite: a rebuild replaces the last build's file.
    if os.path.exists(out):
        os.remove(out)
    subprocess.run(['osslsigncode', 'sign', '-certs', cert, '-key', key, '-h', 'sha256', '-in', out + '.unsigned',
                    '-out', out], check=True, stdout=subprocess.DEVNULL)
    subprocess.run([metatool, 'create', out], check=True, stdout=subprocess.DEVNULL)
    if release_key:
        subprocess.run([metatool, 'sign', '--key', release_key, out + '.meta'], check=True, stdout=subprocess.DEVNULL)


if __name__ == '__main__':
    main()

#!/usr/bin/env python3
"""Writes the binary seed inputs of the fuzz targets (the text seeds are
committed under tests/fuzz/corpus/): real metas, real ZIP archives, framed
host messages, and UTF-16 command lines and token answers.

  make_seeds.py OUT_DIR      writes OUT_DIR/<target>/<seed>
"""
import hashlib
import io
import json
import os
import struct
import sys
import zipfile

BLOCK = 1 << 20


def noise(size, seed):
    out = bytearray()
    n = 0
    while len(out) < size:
        out += hashlib.sha256(b'%d/%d' % (seed, n)).digest()
        n += 1
    return bytes(out[:size])


def meta(data, size=None):
    size = len(data) if size is None else size
    digests = b''.join(hashlib.sha1(data[i:i + BLOCK]).digest() for i in range(0, len(data), BLOCK))
    return struct.pack('<q', size) + digests


def zip_bytes(entries, comment=b'', prefix=b''):
    buffer = io.BytesIO()
    buffer.write(prefix)
    with zipfile.ZipFile(buffer, 'a' if prefix else 'w') as archive:
        for name, data, method in entries:
            archive.writestr(zipfile.ZipInfo(name, (2024, 1, 2, 3, 4, 6)), data, compress_type=method)
        archive.comment = comment
    return buffer.getvalue()


def frame(message):
    text = message if isinstance(message, bytes) else json.dumps(message).encode()
    return struct.pack('<I', len(text)) + text


def utf16(text):
    return text.encode('utf-16-le')


def pe_stub(archive, table=None):
    """A PE32 image of headers and one section, the archive after it padded to
    8 bytes, then (if given) the certificate table named by the security directory."""
    header = bytearray(0x200)
    header[0:2] = b'MZ'
    struct.pack_into('<I', header, 0x3C, 0x40)
    struct.pack_into('<4sHHIIIHH', header, 0x40, b'PE\0\0', 0x14C, 1, 0, 0, 0, 224, 0x0102)
    optional = 0x40 + 24
    struct.pack_into('<H', header, optional, 0x10B)
    struct.pack_into('<I', header, optional + 60, 0x200)  # SizeOfHeaders
    struct.pack_into('<I', header, optional + 92, 16)     # NumberOfRvaAndSizes
    struct.pack_into('<II', header, optional + 224 + 16, 0x200, 0x200)  # one section's raw size and offset
    body = bytes(header) + b'\xcc' * 0x200 + archive
    body += b'\0' * (-len(body) % 8)
    if table is None:
        return body
    image = bytearray(body)
    struct.pack_into('<II', image, optional + 96 + 32, len(body), len(table))
    return bytes(image) + table


def certificate_record(content):
    der = b'\x30\x82' + struct.pack('>H', len(content)) + content
    padded = len(der) + 8 + (-(len(der) + 8) % 8)
    return struct.pack('<IHH', padded, 0x0200, 0x0002) + der + b'\0' * (padded - 8 - len(der))


def seeds():
    stored, deflated = zipfile.ZIP_STORED, zipfile.ZIP_DEFLATED
    page = b'<html><body>Load</body></html>' * 20
    yield 'meta', 'empty_file', meta(b'')
    yield 'meta', 'one_block', meta(noise(1000, 1))
    yield 'meta', 'two_blocks', meta(noise(BLOCK + 7, 2))
    yield 'meta', 'digest_short', meta(b'') + b'\0' * 19
    yield 'meta', 'huge_size_head', struct.pack('<q', (1 << 26) * BLOCK - 1)
    yield 'meta', 'negative_size', struct.pack('<q', -1)
    yield 'zip', 'bundle', zip_bytes([('Load.html', page, deflated), ('common/', b'', stored),
                                      ('common/style.css', b'body{margin:0}', stored)])
    yield 'zip', 'appended_to_program', zip_bytes([('Load.html', page, deflated)], prefix=b'MZ' + b'\0' * 510)
    yield 'zip', 'with_comment', zip_bytes([('a.txt', b'a' * 100, stored)], comment=b'signed build')
    yield 'zip', 'empty', zip_bytes([])
    yield 'zip', 'long_name', zip_bytes([('d/' + 'n' * 300, b'x', stored)])
    yield 'zip', 'package', zip_bytes([('setup.exe', noise(3000, 3), deflated), ('data/a.bin', noise(500, 4), stored)])
    page_zip = zip_bytes([('Load.html', page, deflated), ('common/style.css', b'body{margin:0}', stored)])
    yield 'bundle', 'unsigned', pe_stub(page_zip)
    yield 'bundle', 'signed', pe_stub(page_zip, certificate_record(noise(700, 5)))
    yield 'bundle', 'two_records', pe_stub(page_zip, certificate_record(noise(300, 6)) + certificate_record(b'x' * 9))
    yield 'bundle', 'hidden_in_table', pe_stub(page_zip, certificate_record(noise(300, 7)) + page_zip)
    hello = {'type': 'hello', 'token': 'ab' * 32, 'startPage': 'C:\\t\\Load.html'}
    call = {'type': 'call', 'name': 'download', 'args': [
        {'t': 's', 'v': 'http://127.0.0.1/x.bin'}, {'t': 's', 'v': 'C:\\x.bin'}, {'t': 's', 'v': ''},
        {'t': 'b', 'v': False}, {'t': 'b', 'v': True}, {'t': 'fn', 'id': 'doc.1'}]}
    yield 'host_frames', 'hello', b'\xff' + frame(hello)
    yield 'host_frames', 'call_in_small_reads', b'\x02' + frame(call) + frame({'type': 'get', 'name': 'x'})
    yield 'host_frames', 'put_units', b'\x10' + frame({'type': 'put', 'name': 'p', 'value': {'t': 's', 'u': [55296, 97]}})
    yield 'host_frames', 'lone_surrogate_escape', b'\x07' + frame(b'{"type":"put","name":"p","value":{"t":"s","v":"a\\ud800"}}')
    yield 'host_frames', 'too_large', b'\x03' + struct.pack('<I', (16 << 20) + 1) + b'{}'
    yield 'command_line', 'working_copy', utf16('"C:\\t\\TessarySetup.exe" run=1\0C:\\t\\TessarySetup.exe\0run=1')
    yield 'command_line', 'resume', utf16('s.exe\0RESUME=DOWNLOADING\0update=0\0/QN')
    yield 'command_line', 'passthrough', utf16('s.exe passthrough="A=1 B=2" passthro="C"\0shortcut=C:\\l.lnk\0/uninstall')
    yield 'command_line', 'unterminated_quote', utf16('"C:\\no end passthrough="x')
    yield 'token_reply', 'answer', utf16('{"status":"ok","tokenizedUrl":"http://127.0.0.1/f.bin?token=k"}')
    yield 'token_reply', 'no_member', utf16('{"status":"ok"}')
    yield 'token_reply', 'unterminated', utf16('{"tokenizedUrl":"http://x')


def main():
    if len(sys.argv) != 2:
        print(__doc__, file=sys.stderr)
        return 2
    for target, name, data in seeds():
        folder = os.path.join(sys.argv[1], target)
        os.makedirs(folder, exist_ok=True)
        with open(os.path.join(folder, name), 'wb') as f:
            f.write(data)
    return 0


if __name__ == '__main__':
    sys.exit(main())

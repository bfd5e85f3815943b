#!/usr/bin/env python3
"""A fault-injecting HTTP server for the download tests (standard library only).

The URL path chooses the behaviour: /BEHAVIOUR/KEY[/anything][?params]. KEY is
any token a test picks so it can find its own requests in the record; it also
scopes per-key state (how many requests a key has made).

Body: `src=NAME` serves a file of the document root; otherwise `size=N` bytes
(default 1000) of the shared pattern, byte i = pattern_byte(i).

Behaviours (every one honours a single `Range: bytes=A-B` / `A-` unless noted,
and `If-Range`: a tag that differs from the current ETag gets 200 and the whole
body). Parameters any body-serving behaviour takes: `noetag=1` (no ETag),
`etagchange=1` (a new ETag per request of the key), `norange=1` (answer ranges
with 200 and the whole body), `extra=N` (a 206 carries N bytes more than its
Content-Range announces).
  ok          plain resource with ETag `etag=` (default "\"fixed-SIZE\"")
  drop        close the connection after `after=N` body bytes, for the first
              `times=K` requests of the key (default 1; 0 = always); a list
              `after=N0,N1,...` gives request n its own count (the last repeats)
  full        ignore Range: always 200 with the whole body
  badrange    206 with `Content-Range: CR` (param `cr=`) and the requested bytes
  more        as ok with extra=100 unless given
  nolength    200, no Content-Length, the body, then close
  etagchange  a new ETag for every request of the key
  status      answer `code=` (404, 302 with `Location: to=`, ...)
  stall       send `after=N` body bytes, wait `ms=M`, then close
  slow        send the body in pieces of `chunk=C` bytes every `ms=M`
  corrupt     flip the byte at absolute offset `at=` whenever it is served
  randflip    with probability `p=` flip one random served byte (noted in record)
  token       POST: answer {"tokenizedUrl":"<body>?token=KEY"}; `mode=none`
              answers without the member
  chunked     200 with a chunked body in pieces of `chunk=C` bytes; `cut=N`
              closes after N body bytes, before the terminating chunk
  nolength    also takes `cut=N`: close after N of the body's bytes
  portal      200 with `Content-Type: text/html` and a login page (a captive
              portal's answer), whatever was asked
  unasked206  206 with the first `part=N` bytes (default half) and a matching
              Content-Range, also when no Range was asked
  silent      read the request, answer nothing for `ms=M`, then close
  flipseq     request n of the key flips the byte at offset seq[n] from the
              first byte it serves (`seq=` comma list, `-` for none); requests
              past the list are clean
  swap        serves `src`; while `times=K` (default 1) requests of this key
              and src have not been made, a src ending in ".meta" is served
              from `old=NAME` instead (a file replaced after its meta was read)
  hugemeta    a meta whose head announces `size=` bytes (default 2^26 MiB - 1):
              200 with the Content-Length such a meta has (or `length=`), the
              8-byte head, then `body=N` more zero bytes (default 0), then close
  hop         /hop/KEY/N: redirect (`code=`, default 302) to /hop/KEY/N-1 with the
              same query, until N is 0, which is served as ok; `loop=1`
              redirects to the same URL forever. A companion's ".meta" stays
              at the end of every hop's path
  gzip        as ok, but a request whose Accept-Encoding names gzip gets 200
              with the body gzip-compressed, chunked, no Content-Length (what
              a compressing web server does)
  chaos       /chaos/KEY/KIND/PCT/NAME (all in the path, so that ".meta" and
              a query may follow NAME): serves NAME of the document root; each
              request of KEY, with probability PCT %, gets the fault KIND
              instead (one of CHAOS_KINDS), its details drawn from a generator
              seeded with KEY and the request's number: a campaign that puts
              its seed in KEY is reproducible. Stalls last CHAOS_PAUSE_MS. PCT with an "s" after it
              ("50s") paces the clean answers (64 KiB every 10 ms)

  mirror      one mirror of a file fetched from several at once: serves `src`
              (ranges honoured) with one `fault=` (default none); its ".meta"
              companion is always served clean. `flip`: the first byte of
              every block whose index is a multiple of `every=K` (default
              10) is flipped; `stall`: `after=N` bytes of the answer, then
              nothing for `ms=M` (default 40000), then close; `cut`: close
              after `after=N` bytes; `etag`: a new ETag per request; `status`:
              answer `code=` (default 404). `chunk=C&ms=M` on a clean mirror
              paces it (C bytes every M ms)

Any request with `showheaders=1` adds to its record's note the request's
Accept-Encoding, Cache-Control and Pragma ("ae=... cc=... pragma=...", blanks
removed, the values of a repeated header joined by "|").

Companions: a request whose path ends in ".meta" (the file's URL with ".meta"
at the end of its path, the query kept) is counted under the key without it
and, with `src=NAME`, serves NAME.meta.

Record: one line per request, appended before answering, tab-separated:
METHOD TARGET RANGE IF-RANGE NOTE.
"""
import argparse
import gzip
import os
import random
import re
import socket
import sys
import threading
import time
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer
from urllib.parse import parse_qs, unquote, urlsplit

BLOCK = 1 << 20

# What a chaos request may get instead of the file (behaviour "chaos").
CHAOS_KINDS = ('clean', 'drop', 'flip', 'range200', 'etag', 'badrange', 'nolength', 'headersonly',
               'stall', 'status404', 'status500', 'redirect', 'html200', 'unasked206', 'chunkedcut',
               'silent')
# How long a stalled or silent chaos answer waits before it closes.
CHAOS_PAUSE_MS = 1000
# A PCT ending in "s" paces the clean answers: this many bytes every so long
# (1.6 MB/s: the 3 MiB source of a run that is to be killed part way takes
# about two seconds, longer than the latest kill).
CHAOS_PACE_CHUNK = 16384
CHAOS_PACE_S = 0.01


def pattern_byte(i):
    return (i * 131 + (i >> 8) * 7 + 17) & 0xFF


_PATTERN_PERIOD = 256 * 256  # pattern_byte(i) has this period
_PATTERN = bytes(pattern_byte(i) for i in range(_PATTERN_PERIOD))


def pattern_bytes(start, end):
    """Bytes [start, end) of the pattern."""
    out = bytearray()
    pos = start
    while pos < end:
        k = pos % _PATTERN_PERIOD
        n = min(end - pos, _PATTERN_PERIOD - k)
        out += _PATTERN[k:k + n]
        pos += n
    return bytes(out)


class Body:
    """The resource a request names: a docroot file or the pattern."""

    def __init__(self, docroot, params):
        self.path = None
        if 'src' in params:
            self.path = os.path.join(docroot, os.path.basename(params['src']))
            self.size = os.path.getsize(self.path)
        else:
            self.size = int(params.get('size', '1000'))

    def read(self, start, end):
        if self.path is None:
            return pattern_bytes(start, end)
        with open(self.path, 'rb') as f:
            f.seek(start)
            return f.read(end - start)


class Server(ThreadingHTTPServer):
    daemon_threads = True
    allow_reuse_address = True

    def __init__(self, address, docroot, record_path):
        super().__init__(address, Handler)
        self.docroot = docroot
        self.record_path = record_path
        self.lock = threading.Lock()
        self.counts = {}
        self.random = random.Random()

    def record(self, fields):
        line = '\t'.join(f.replace('\t', ' ') for f in fields) + '\n'
        with self.lock:
            with open(self.record_path, 'a') as f:
                f.write(line)

    def count(self, key):
        with self.lock:
            n = self.counts.get(key, 0)
            self.counts[key] = n + 1
            return n


class Handler(BaseHTTPRequestHandler):
    protocol_version = 'HTTP/1.1'

    def log_message(self, *args):
        pass

    def do_GET(self):
        self.answer()

    def do_POST(self):
        self.answer()

    def answer(self):
        url = urlsplit(self.path)
        parts = url.path.split('/')
        behaviour = parts[1] if len(parts) > 1 else ''
        key = parts[2] if len(parts) > 2 else ''
        params = {k: v[-1] for k, v in parse_qs(url.query).items()}
        # A companion URL puts ".meta" at the end of the path and keeps the
        # query: it names the companion of `src` and shares the key's count.
        if url.path.endswith('.meta'):
            if key.endswith('.meta'):
                key = key[:-len('.meta')]
            if 'src' in params and not params['src'].endswith('.meta'):
                params['src'] += '.meta'
        range_header = self.headers.get('Range', '')
        if_range = self.headers.get('If-Range', '')
        n = self.server.count(key)
        self.n = n
        self.parts = parts
        self.query = url.query
        self.companion = url.path.endswith('.meta')
        note = []
        if 'showheaders' in params:
            note = ['%s=%s' % (short, '|'.join(self.headers.get_all(name) or []).replace(' ', ''))
                    for short, name in (('ae', 'Accept-Encoding'), ('cc', 'Cache-Control'), ('pragma', 'Pragma'))]
        try:
            handler = getattr(self, 'b_' + behaviour, None)
            if handler is None:
                self.server.record([self.command, self.path, range_header, if_range, 'unknown'])
                self.simple(404, b'unknown behaviour')
                return
            handler(params, key, n, range_header, if_range, note)
        except (BrokenPipeError, ConnectionResetError):
            note.append('client-gone')
        finally:
            pass

    # -- helpers ---------------------------------------------------------
    def rec(self, note):
        self.server.record([self.command, self.path, self.headers.get('Range', ''),
                            self.headers.get('If-Range', ''), ' '.join(note)])

    def simple(self, code, body, headers=()):
        self.send_response(code)
        for name, value in headers:
            self.send_header(name, value)
        self.send_header('Content-Length', str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def close_now(self):
        self.close_connection = True
        try:
            self.wfile.flush()
            self.connection.shutdown(socket.SHUT_RDWR)
        except OSError:
            pass

    def plan(self, body, range_header, if_range, etag, honour_range=True):
        """(status, start, end) of what a well-behaved server sends."""
        m = re.fullmatch(r'bytes=(\d+)-(\d*)', range_header.strip())
        if not honour_range or not m or (if_range and if_range != etag):
            return 200, 0, body.size
        start = int(m.group(1))
        end = int(m.group(2)) + 1 if m.group(2) else body.size
        end = min(end, body.size)
        if start >= body.size or start >= end:
            return 416, 0, 0
        return 206, start, end

    def headers_for(self, status, start, end, body, etag, length=None, content_range=None):
        self.send_response(status)
        if etag:
            self.send_header('ETag', etag)
        if status == 206:
            self.send_header('Content-Range',
                             content_range or 'bytes %d-%d/%d' % (start, end - 1, body.size))
        if length is not None:
            self.send_header('Content-Length', str(length))
        self.send_header('Accept-Ranges', 'bytes')
        self.end_headers()

    def serve(self, params, range_header, if_range, note, etag=None, honour_range=True,
              mutate=None, extra=0, drop_after=None, pace=None, drop_pause=0):
        body = Body(self.server.docroot, params)
        if etag is None:
            etag = '' if 'noetag' in params else params.get('etag', '"fixed-%d"' % body.size)
            if 'etagchange' in params:
                etag = '"v%d"' % self.n
        honour_range = honour_range and 'norange' not in params
        extra = extra or int(params.get('extra', '0'))
        status, start, end = self.plan(body, range_header, if_range, etag, honour_range)
        if status == 416:
            self.rec(note + ['416'])
            self.simple(416, b'', [('Content-Range', 'bytes */%d' % body.size)])
            return
        data = bytearray(body.read(start, end))
        if mutate:
            mutate(data, start, note)
        if status == 206:  # only a 206 announces its size apart from the framing
            data += pattern_bytes(end, end + extra)
        self.rec(note + [str(status)])
        self.headers_for(status, start, end, body, etag, length=len(data))
        if drop_after is not None:
            self.wfile.write(data[:drop_after])
            if drop_pause:
                self.wfile.flush()
                time.sleep(drop_pause)
            self.close_now()
            return
        if pace is not None:
            chunk, delay = pace
            for i in range(0, len(data), chunk):
                self.wfile.write(data[i:i + chunk])
                self.wfile.flush()
                time.sleep(delay)
            return
        self.wfile.write(data)

    # -- behaviours ----------------------------------------------------------
    def b_ok(self, params, key, n, range_header, if_range, note):
        self.serve(params, range_header, if_range, note)

    def b_drop(self, params, key, n, range_header, if_range, note):
        times = int(params.get('times', '1'))
        if times == 0 or n < times:
            after = params.get('after', '0').split(',')
            self.serve(params, range_header, if_range, note + ['drop'],
                       drop_after=int(after[min(n, len(after) - 1)]))
        else:
            self.serve(params, range_header, if_range, note)

    def b_full(self, params, key, n, range_header, if_range, note):
        self.serve(params, range_header, if_range, note, honour_range=False)

    def b_badrange(self, params, key, n, range_header, if_range, note):
        body = Body(self.server.docroot, params)
        status, start, end = self.plan(body, range_header, if_range, '"bad"')
        data = body.read(start, end)
        self.rec(note + ['206'])
        self.headers_for(206, start, end, body, '"bad"', length=len(data),
                         content_range=params.get('cr', 'bytes 100-199/*'))
        self.wfile.write(data)

    def b_more(self, params, key, n, range_header, if_range, note):
        self.serve(params, range_header, if_range, note, extra=int(params.get('extra', '100')))

    def b_nolength(self, params, key, n, range_header, if_range, note):
        body = Body(self.server.docroot, params)
        cut = int(params.get('cut', str(body.size)))
        self.rec(note + ['200'] + (['cut@%d' % cut] if cut < body.size else []))
        self.send_response(200)
        self.send_header('Connection', 'close')
        self.end_headers()
        self.wfile.write(body.read(0, min(cut, body.size)))
        self.close_now()

    def b_chunked(self, params, key, n, range_header, if_range, note):
        body = Body(self.server.docroot, params)
        chunk = max(1, int(params.get('chunk', '4096')))
        cut = int(params.get('cut', str(body.size)))
        self.rec(note + ['200'] + (['cut@%d' % cut] if cut < body.size else []))
        self.send_response(200)
        self.send_header('Transfer-Encoding', 'chunked')
        self.end_headers()
        data = body.read(0, min(cut, body.size))
        for i in range(0, len(data), chunk):
            piece = data[i:i + chunk]
            self.wfile.write(b'%x\r\n' % len(piece) + piece + b'\r\n')
        if cut < body.size:
            self.close_now()
            return
        self.wfile.write(b'0\r\n\r\n')

    def b_portal(self, params, key, n, range_header, if_range, note):
        self.rec(note + ['200'])
        page = (b'<!DOCTYPE html><html><head><title>Sign in</title></head>'
                b'<body><form action="/login">Accept the terms to continue</form></body></html>')
        self.simple(200, page, [('Content-Type', 'text/html; charset=utf-8')])

    def b_unasked206(self, params, key, n, range_header, if_range, note):
        body = Body(self.server.docroot, params)
        part = min(int(params.get('part', str(body.size // 2))), body.size)
        self.rec(note + ['206'])
        self.headers_for(206, 0, part, body, '"part"', length=part)
        self.wfile.write(body.read(0, part))

    def b_silent(self, params, key, n, range_header, if_range, note):
        self.rec(note + ['silent'])
        time.sleep(int(params.get('ms', '1000')) / 1000.0)
        self.close_now()

    def b_flipseq(self, params, key, n, range_header, if_range, note):
        seq = params.get('seq', '').split(',')
        offset = seq[n].strip() if n < len(seq) else '-'

        def flip(data, start, note):
            if offset not in ('', '-') and int(offset) < len(data):
                data[int(offset)] ^= 0xFF
                note.append('flipped@%d' % (start + int(offset)))
        self.serve(params, range_header, if_range, note, mutate=flip)

    def b_swap(self, params, key, n, range_header, if_range, note):
        src = params.get('src', '')
        seen = self.server.count(key + '|' + src)
        if src.endswith('.meta') and seen < int(params.get('times', '1')):
            params = dict(params, src=params['old'])
            note = note + ['old']
        self.serve(params, range_header, if_range, note)

    def b_etagchange(self, params, key, n, range_header, if_range, note):
        self.serve(params, range_header, if_range, note, etag='"v%d"' % n)

    def b_status(self, params, key, n, range_header, if_range, note):
        code = int(params.get('code', '404'))
        self.rec(note + [str(code)])
        headers = []
        if 'to' in params:
            headers.append(('Location', params['to']))
        self.simple(code, b'status %d' % code, headers)

    def b_hop(self, params, key, n, range_header, if_range, note):
        suffix = '.meta' if self.companion else ''
        step = self.parts[3] if len(self.parts) > 3 else '0'
        step = step[:-len(suffix)] if suffix and step.endswith(suffix) else step
        left = int(step) if step.isdigit() else 0
        if 'loop' in params or left > 0:
            code = int(params.get('code', '302'))
            target = '/hop/%s/%d%s' % (key, left if 'loop' in params else left - 1, suffix)
            if self.query:
                target += '?' + self.query
            self.rec(note + [str(code)])
            self.simple(code, b'moved', [('Location', target)])
            return
        self.serve(params, range_header, if_range, note)

    def b_gzip(self, params, key, n, range_header, if_range, note):
        if 'gzip' not in self.headers.get('Accept-Encoding', ''):
            self.serve(params, range_header, if_range, note + ['identity'])
            return
        body = Body(self.server.docroot, params)
        packed = gzip.compress(body.read(0, body.size))
        self.rec(note + ['gzip', '200'])
        self.send_response(200)
        self.send_header('Content-Encoding', 'gzip')
        self.send_header('Vary', 'Accept-Encoding')
        self.send_header('Transfer-Encoding', 'chunked')
        self.end_headers()
        for i in range(0, len(packed), 4096):
            piece = packed[i:i + 4096]
            self.wfile.write(b'%x\r\n' % len(piece) + piece + b'\r\n')
        self.wfile.write(b'0\r\n\r\n')

    def b_stall(self, params, key, n, range_header, if_range, note):
        body = Body(self.server.docroot, params)
        after = int(params.get('after', '0'))
        self.rec(note + ['200'])
        self.headers_for(200, 0, body.size, body, params.get('etag', '"stall"'), length=body.size)
        self.wfile.write(body.read(0, min(after, body.size)))
        self.wfile.flush()
        time.sleep(int(params.get('ms', '1000')) / 1000.0)
        self.close_now()

    def b_mirror(self, params, key, n, range_header, if_range, note):
        fault = 'none' if self.companion else params.get('fault', 'none')
        if fault == 'status':
            code = int(params.get('code', '404'))
            self.rec(note + [str(code)])
            self.simple(code, b'mirror says no')
            return
        if fault == 'stall':
            after = int(params.get('after', '0'))
            def stall(data, start, note):
                note.append('stall@%d' % (start + min(after, len(data))))
            self.serve(params, range_header, if_range, note, mutate=stall, drop_after=after,
                       drop_pause=int(params.get('ms', '40000')) / 1000.0)
            return
        if fault == 'cut':
            self.serve(params, range_header, if_range, note + ['cut'], drop_after=int(params.get('after', '0')))
            return
        if fault == 'etag':
            self.serve(params, range_header, if_range, note, etag='"m%d"' % n)
            return
        if fault == 'flip':
            every = max(1, int(params.get('every', '10')))
            def flip(data, start, note):
                first = (start + BLOCK - 1) // BLOCK
                for block in range(first, (start + len(data) + BLOCK - 1) // BLOCK):
                    if block % every == 0 and block * BLOCK - start < len(data):
                        data[block * BLOCK - start] ^= 0xFF
                        note.append('flipped@%d' % (block * BLOCK))
            self.serve(params, range_header, if_range, note, mutate=flip)
            return
        pace = None
        if 'chunk' in params and not self.companion:
            pace = (int(params['chunk']), int(params.get('ms', '20')) / 1000.0)
        self.serve(params, range_header, if_range, note, pace=pace)

    def b_slow(self, params, key, n, range_header, if_range, note):
        self.serve(params, range_header, if_range, note,
                   pace=(int(params.get('chunk', '1024')), int(params.get('ms', '20')) / 1000.0))

    def b_corrupt(self, params, key, n, range_header, if_range, note):
        at = int(params.get('at', str(5 * BLOCK)))

        def flip(data, start, note):
            if start <= at < start + len(data):
                data[at - start] ^= 0xFF
                note.append('flipped@%d' % at)
        self.serve(params, range_header, if_range, note, mutate=flip)

    def b_randflip(self, params, key, n, range_header, if_range, note):
        p = float(params.get('p', '0.3'))
        rnd = self.server.random

        def flip(data, start, note):
            if data and rnd.random() < p:
                i = rnd.randrange(len(data))
                data[i] ^= 1 << rnd.randrange(8)
                note.append('flipped@%d' % (start + i))
        self.serve(params, range_header, if_range, note, mutate=flip)

    def b_token(self, params, key, n, range_header, if_range, note):
        length = int(self.headers.get('Content-Length', '0'))
        sent = self.rfile.read(length).decode('utf-8') if length else ''
        note.append('body=' + sent)
        self.rec(note)
        if params.get('mode') == 'none':
            answer = '{"status":"ok"}'
        else:
            answer = '{"status":"ok","tokenizedUrl":"%s?token=%s"}' % (sent, key)
        self.simple(200, answer.encode('utf-8'), [('Content-Type', 'application/json')])

    def b_hugemeta(self, params, key, n, range_header, if_range, note):
        size = int(params.get('size', str((1 << 26) * BLOCK - 1)))
        blocks = (size + BLOCK - 1) // BLOCK
        length = int(params.get('length', str(8 + 20 * blocks)))
        body = min(int(params.get('body', '0')), length - 8)
        self.rec(note + ['200'])
        self.send_response(200)
        self.send_header('Content-Length', str(length))
        self.end_headers()
        self.wfile.write(size.to_bytes(8, 'little', signed=True))
        for i in range(0, body, 65536):
            self.wfile.write(b'\0' * min(65536, body - i))
        self.close_now()

    def b_chaos(self, params, key, n, range_header, if_range, note):
        parts = self.parts
        paced = parts[4].endswith('s') if len(parts) > 4 else False
        percent_text = parts[4][:-1] if paced else (parts[4] if len(parts) > 4 else '')
        if len(parts) < 6 or parts[3] not in CHAOS_KINDS or not percent_text.isdigit():
            self.rec(note + ['bad-chaos'])
            self.simple(404, b'chaos wants /chaos/KEY/KIND/PCT/NAME')
            return
        kind, percent, name = parts[3], int(percent_text), os.path.basename(parts[5])
        if not os.path.isfile(os.path.join(self.server.docroot, name)):
            self.rec(note + ['no-such-file'])
            self.simple(404, b'no such file')
            return
        rnd = random.Random('%s:%d' % (key, n))
        params = {'src': name}
        if kind == 'clean' or rnd.random() * 100 >= percent:
            self.serve(params, range_header, if_range, note + ['clean'],
                       pace=(CHAOS_PACE_CHUNK, CHAOS_PACE_S) if paced else None)
            return
        getattr(self, 'chaos_' + kind)(params, rnd, key, n, range_header, if_range, note + [kind])

    # Each chaos fault: params names the file; rnd decides the details.
    def chaos_drop(self, params, rnd, key, n, range_header, if_range, note):
        body = Body(self.server.docroot, params)
        after = rnd.randrange(0, max(1, body.size))
        self.serve(params, range_header, if_range, note + ['after=%d' % after], drop_after=after)

    def chaos_flip(self, params, rnd, key, n, range_header, if_range, note):
        def flip(data, start, note):
            for _ in range(rnd.randint(1, 3)):
                if data:
                    i = rnd.randrange(len(data))
                    data[i] ^= 1 << rnd.randrange(8)
                    note.append('flipped@%d' % (start + i))
        self.serve(params, range_header, if_range, note, mutate=flip)

    def chaos_range200(self, params, rnd, key, n, range_header, if_range, note):
        self.serve(params, range_header, if_range, note, honour_range=False)

    def chaos_etag(self, params, rnd, key, n, range_header, if_range, note):
        self.serve(params, range_header, if_range, note, etag='"v%d"' % n)

    def chaos_badrange(self, params, rnd, key, n, range_header, if_range, note):
        body = Body(self.server.docroot, params)
        _, start, end = self.plan(body, range_header, if_range, '"bad"')
        last, size = max(start, end - 1), body.size
        choices = ['bytes %d-%d/%d' % (start + 1, last + 1, size), 'bytes %d-%d/%d' % (start, last, size + 1),
                   'bytes %d-%d/%d' % (start, max(start, last - 1), size), 'bytes */%d' % size,
                   'bytes %d-%d/*' % (start, last), 'bytes %d-%d/%d' % (last, start, size),
                   'bytes -%d-%d/%d' % (start, last, size), 'bytes 0-18446744073709551615/18446744073709551616',
                   'bytes -9223372036854775808-9223372036854775807/9223372036854775807', 'bytes x-y/z', '']
        cr = rnd.choice(choices)
        self.server.record([self.command, self.path, range_header, if_range, ' '.join(note + ['cr=' + cr])])
        data = body.read(start, end)
        self.send_response(206)
        self.send_header('ETag', '"fixed-%d"' % size)
        if cr:
            self.send_header('Content-Range', cr)
        self.send_header('Content-Length', str(len(data)))
        self.end_headers()
        self.wfile.write(data)

    def chaos_nolength(self, params, rnd, key, n, range_header, if_range, note):
        size = Body(self.server.docroot, params).size
        cut = rnd.randrange(0, size) if rnd.random() < 0.5 else size
        self.b_nolength(dict(params, cut=str(cut)), key, n, range_header, if_range, note)

    def chaos_headersonly(self, params, rnd, key, n, range_header, if_range, note):
        self.serve(params, range_header, if_range, note, drop_after=0)

    def chaos_stall(self, params, rnd, key, n, range_header, if_range, note):
        size = Body(self.server.docroot, params).size
        after = str(rnd.randrange(0, max(1, size)))
        self.b_stall(dict(params, after=after, ms=str(CHAOS_PAUSE_MS)), key, n, range_header, if_range, note)

    def chaos_status404(self, params, rnd, key, n, range_header, if_range, note):
        self.b_status({'code': '404'}, key, n, range_header, if_range, note)

    def chaos_status500(self, params, rnd, key, n, range_header, if_range, note):
        self.b_status({'code': '500'}, key, n, range_header, if_range, note)

    def chaos_redirect(self, params, rnd, key, n, range_header, if_range, note):
        target = {'code': '302'}
        if rnd.random() < 0.5:  # to the same file, served whole; else to nowhere
            target['to'] = '/chaos/%s-to/clean/0/%s' % (key, params['src'])
        self.b_status(target, key, n, range_header, if_range, note)

    def chaos_html200(self, params, rnd, key, n, range_header, if_range, note):
        self.b_portal(params, key, n, range_header, if_range, note)

    def chaos_unasked206(self, params, rnd, key, n, range_header, if_range, note):
        size = Body(self.server.docroot, params).size
        part = str(rnd.randrange(0, max(1, size)))
        self.b_unasked206(dict(params, part=part), key, n, range_header, if_range, note)

    def chaos_chunkedcut(self, params, rnd, key, n, range_header, if_range, note):
        size = Body(self.server.docroot, params).size
        cut = str(rnd.randrange(0, max(1, size)))
        self.b_chunked(dict(params, chunk='4096', cut=cut), key, n, range_header, if_range, note)

    def chaos_silent(self, params, rnd, key, n, range_header, if_range, note):
        self.b_silent({'ms': str(CHAOS_PAUSE_MS)}, key, n, range_header, if_range, note)


def make_server(port, docroot, record_path):
    return Server(('127.0.0.1', port), docroot, record_path)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument('--port', type=int, default=0)
    parser.add_argument('--docroot', required=True)
    parser.add_argument('--record', required=True)
    parser.add_argument('--port-file')
    args = parser.parse_args()
    server = make_server(args.port, args.docroot, args.record)
    if args.port_file:
        with open(args.port_file, 'w') as f:
            f.write(str(server.server_address[1]))
    server.serve_forever()


if __name__ == '__main__':
    sys.exit(main())

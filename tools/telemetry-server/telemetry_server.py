#!/usr/bin/env python3
"""A telemetry service for the installer stub (Python standard library;
psycopg for PostgreSQL).

Serves over HTTPS the endpoints the stub reports to:
  POST /v1/logAnalytics          analytics document (start and end of a run)
  PUT  /v1/reportError?token=T&machineId=M
                                 the zipped logs of a failed run (one per run)
  POST /v1/isInEmbargoedCountry  region check; answers
                                 <RegionRestrictions><country>C</country><isEmbargo>true|false</isEmbargo></RegionRestrictions>
  POST /v1/logUserActivity       an event the page reports
  GET  /report?token=R[&days=N]  the funnel dashboard (only with --report-token R)
and, with --collector-port, a plain-HTTP pageview collector (POST /collect).

Every document is stored parsed into columns, in a SQLite file (--db, for a
trial or one machine) or in PostgreSQL (--database postgresql://..., shared
by several service processes). A malformed document, an upload that is not
a readable ZIP archive or whose entry names leave their folder, and a body
over the size limit get 400 and are stored nowhere. Uploads are streamed to
a spool folder, a few at a time (beyond: 503 with Retry-After), within a
storage quota (beyond: 507, counted). A fixed pool of worker threads serves
connections, each request within a whole-request deadline.

The region check has no country in it: the service answers with the country
that the run's first analytics document reported (by token, else by machine
id), and says it is embargoed when that country id is in the list given with
--embargoed / --embargoed-file.

Examples:
  telemetry_server.py --cert server.pem --key server.key --db telemetry.db --port 443 --embargoed 45,131
  telemetry_server.py --cert server.pem --key server.key --database postgresql://telemetry@db/telemetry
  telemetry_server.py --db telemetry.db --report
  telemetry_server.py --db telemetry.db --report-html funnel.html
  telemetry_server.py --db telemetry.db --save-log 7 run7-logs.zip
"""
import argparse
import binascii
import hmac
import itertools
import os
import queue
import signal
import socket
import sqlite3
import ssl
import sys
import tempfile
import threading
import time
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer
from urllib.parse import parse_qs, urlsplit
from xml.sax.saxutils import escape

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import telemetry_dashboard  # noqa: E402
import telemetry_report  # noqa: E402
from telemetry_db import StoreUnavailable  # noqa: E402
from telemetry_reception import ConnectionReader, Reception  # noqa: E402
from telemetry_store import BadInput, Conflict, Store  # noqa: E402

DEFAULT_MAX_DOCUMENT = 256 * 1024
DEFAULT_MAX_UPLOAD = 64 << 20
DEFAULT_QUOTA = 10 << 30
# A worker is cheap while it waits, and every connection a slow client holds
# is one less for the rest: enough that a few hundred such clients do not
# crowd out the others (a buffering proxy in front removes them altogether).
DEFAULT_WORKERS = 256
DEFAULT_PENDING = 1024
DEFAULT_UPLOADS_IN_FLIGHT = 4
DEFAULT_REQUEST_DEADLINE_S = 20.0
# Honest clients send their request line and headers at once: a client that
# trickles them (or never completes its TLS handshake) frees its worker soon.
DEFAULT_HEADER_DEADLINE_S = 5.0
DEFAULT_UPLOAD_DEADLINE_S = 300.0
# The kernel's queue of connections not yet accepted: a burst of installers
# starting at once waits there instead of being refused.
LISTEN_BACKLOG = 1024
# What a refused upload is told to wait before trying again.
RETRY_AFTER_S = 30
# A refused body up to this size is read and dropped before the answer, so the
# client sees the answer rather than a reset connection; a larger one is not read.
DRAIN_LIMIT = 8 << 20
# ... within this long: draining is a courtesy no slow client may hold a worker for.
DRAIN_DEADLINE_S = 2.0
READ_PIECE = 64 * 1024
# Threads that take connections through their TLS handshake and request head:
# OpenSSL lets go of the interpreter during a handshake, so two keep both
# cores of a small machine busy with handshakes; more only add switching.
RECEPTIONS = 2


class Recorder:
    """Optional record of every request, one line each (tab-separated):
    METHOD TARGET CONTENT-TYPE STATUS BODY-AS-HEX NOTE USER-AGENT. Tests read it."""

    def __init__(self, path):
        self._path = path
        self._lock = threading.Lock()

    @property
    def enabled(self):
        return bool(self._path)

    def write(self, method, target, content_type, status, body, note, agent):
        if not self._path:
            return
        fields = [method, target, content_type or '', str(status), binascii.hexlify(body or b'').decode(), note,
                  agent or '']
        line = '\t'.join(f.replace('\t', ' ').replace('\n', ' ') for f in fields) + '\n'
        with self._lock, open(self._path, 'a', encoding='utf-8') as f:
            f.write(line)


class Watchdog:
    """Cuts connections whose request outlived its deadline.

    States: a map of guard socket -> deadline (monotonic seconds); arm() sets
    or moves a connection's deadline, disarm() forgets it. Threads: one of its
    own, started by the constructor and joined by stop(), which wakes four
    times a second and shuts down (both ways) every guard past its deadline;
    the worker blocked in a read on that connection then sees its end."""

    TICK_S = 0.25

    def __init__(self):
        self._lock = threading.Lock()
        self._deadlines = {}
        self._stopping = threading.Event()
        self._thread = threading.Thread(target=self._run, name='watchdog', daemon=True)
        self._thread.start()

    def arm(self, guard, seconds):
        with self._lock:
            self._deadlines[guard] = time.monotonic() + seconds

    def disarm(self, guard):
        with self._lock:
            self._deadlines.pop(guard, None)

    def _cut(self, guards):
        for guard in guards:
            try:
                guard.shutdown(socket.SHUT_RDWR)
            except OSError:
                pass

    def _run(self):
        while not self._stopping.wait(self.TICK_S):
            now = time.monotonic()
            with self._lock:
                late = [g for g, deadline in self._deadlines.items() if deadline <= now]
                for guard in late:
                    del self._deadlines[guard]
            self._cut(late)

    def stop(self):
        """Cuts every connection still armed and ends the thread."""
        self._stopping.set()
        self._thread.join()
        with self._lock:
            guards = list(self._deadlines)
            self._deadlines.clear()
        self._cut(guards)


class UploadGate:
    """Admission of log uploads: a fixed number in flight, one per run token,
    and the bytes in flight counted against the storage quota."""

    def __init__(self, in_flight, quota):
        self._lock = threading.Lock()
        self._free = in_flight
        self._tokens = set()
        self._bytes = 0
        self.quota = quota

    def enter(self, store, token, size):
        """'' when admitted (call leave() afterwards), else why not:
        'busy', 'duplicate' or 'quota'."""
        with self._lock:
            if self._free <= 0:
                return 'busy'
            if token in self._tokens:
                return 'duplicate'
            self._free -= 1
            self._tokens.add(token)
            self._bytes += size
            pending = self._bytes
        why = ''
        try:
            if store.has_upload(token):
                why = 'duplicate'
            elif store.stored_upload_bytes() + pending > self.quota:
                why = 'quota'
        except BaseException:
            self.leave(token, size)
            raise
        if why:
            self.leave(token, size)
        return why

    def leave(self, token, size):
        with self._lock:
            self._free += 1
            self._tokens.discard(token)
            self._bytes -= size


class SocketWriter:
    """The handler's wfile: every write sent whole."""

    closed = False

    def __init__(self, sock):
        self._sock = sock

    def write(self, data):
        self._sock.sendall(data)
        return len(data)

    def flush(self):
        pass

    def close(self):
        pass


class TelemetryHandler(BaseHTTPRequestHandler):
    protocol_version = 'HTTP/1.1'
    server_version = 'TelemetryService/1.0'

    def setup(self):
        # The reception has read the request's head already; the rest is
        # read from the socket behind it.
        self.connection = self.request
        self.guard = self.server.guard_of_thread()
        self.rfile = ConnectionReader(self.connection, self.server.head_of_thread())
        self.wfile = SocketWriter(self.connection)

    def handle(self):
        # One request per turn: a kept-open connection goes back to the
        # reception between requests instead of holding this worker.
        self.close_connection = True
        self.handle_one_request()

    def log_message(self, fmt, *args):
        if not self.server.quiet:
            super().log_message(fmt, *args)

    def _answer(self, status, body=b'', content_type='text/plain; charset=utf-8', note='', request_body=b'',
                headers=()):
        self.server.recorder.write(self.command, self.path, self.headers.get('Content-Type'), status,
                                   request_body, note, self.headers.get('User-Agent'))
        self.send_response(status)
        self.send_header('Content-Type', content_type)
        self.send_header('Content-Length', str(len(body)))
        for name, value in headers:
            self.send_header(name, value)
        if status >= 400:
            self.send_header('Connection', 'close')
            self.close_connection = True
        self.end_headers()
        self.wfile.write(body)

    def _length(self):
        """The announced body length, or None after answering 400."""
        if self.headers.get('Transfer-Encoding'):
            self._answer(400, b'a Content-Length is required\n', note='chunked')
            return None
        try:
            length = int(self.headers.get('Content-Length', ''))
        except ValueError:
            self._answer(400, b'a Content-Length is required\n', note='no length')
            return None
        if length < 0:
            self._answer(400, b'a Content-Length is required\n', note='negative length')
            return None
        return length

    def _read_body(self, limit):
        """The request body, or None after answering 400."""
        length = self._length()
        if length is None:
            return None
        if length > limit:
            self._drain(length)
            self._answer(400, b'body too large\n', note='oversized %d' % length)
            return None
        body = self.rfile.read(length)
        if len(body) != length:
            self.close_connection = True
            return None
        return body

    def _drain(self, length):
        left = length if 0 <= length <= DRAIN_LIMIT else 0
        if left:
            self.server.watchdog.arm(self.guard, DRAIN_DEADLINE_S)
        while left > 0:
            chunk = self.rfile.read(min(left, READ_PIECE))
            if not chunk:
                break
            left -= len(chunk)

    def _refuse_unknown(self, status, text):
        """Answers a request for no endpoint once its body is out of the way."""
        try:
            length = int(self.headers.get('Content-Length', '0'))
        except ValueError:
            length = -1
        self._drain(length)
        self._answer(status, text)

    def _route(self):
        split = urlsplit(self.path)
        return split.path, parse_qs(split.query)

    def _guarded(self, handler):
        try:
            handler()
        except StoreUnavailable as error:
            if not self.server.quiet:
                self.log_error('store unavailable: %s', error)
            self._answer(503, b'the store is unavailable; try again later\n', note='store unavailable',
                         headers=[('Retry-After', str(RETRY_AFTER_S))])

    def do_POST(self):
        self._guarded(self._post)

    def do_PUT(self):
        self._guarded(self._put)

    def do_GET(self):
        self._guarded(self._get)

    def _post(self):
        path, _ = self._route()
        if self.server.is_collector:
            if path != '/collect':
                return self._refuse_unknown(404, b'not found\n')
            body = self._read_body(self.server.max_document)
            if body is None:
                return
            self.server.store.add_pageview(body)
            return self._answer(200, b'OK', note='pageview', request_body=body)
        handlers = {
            '/v1/logAnalytics': self._analytics,
            '/v1/isInEmbargoedCountry': self._region,
            '/v1/logUserActivity': self._activity,
        }
        if path == '/v1/reportError':
            return self._refuse_unknown(405, b'use PUT\n')
        if path not in handlers:
            return self._refuse_unknown(404, b'not found\n')
        body = self._read_body(self.server.max_document)
        if body is None:
            return
        try:
            handlers[path](body)
        except BadInput as error:
            self._answer(400, (str(error) + '\n').encode(), note='refused: %s' % error, request_body=body)

    def _put(self):
        path, query = self._route()
        if self.server.is_collector or path != '/v1/reportError':
            return self._refuse_unknown(404, b'not found\n')
        token = query.get('token', [''])[0]
        machine_id = query.get('machineId', [''])[0]
        length = self._length()
        if length is None:
            return
        if length > self.server.max_upload:
            self._drain(length)
            return self._answer(400, b'body too large\n', note='oversized %d' % length)
        if not token:
            self._drain(length)
            return self._answer(400, b'a log upload needs its run token\n', note='no token')
        gate = self.server.uploads
        try:
            why = gate.enter(self.server.store, token, length)
        except StoreUnavailable:
            self._drain(length)
            raise
        if why:
            return self._refuse_upload(why, token, length)
        try:
            self.server.watchdog.arm(self.guard, self.server.upload_deadline)
            self._receive_upload(token, machine_id, length)
        finally:
            gate.leave(token, length)

    def _refuse_upload(self, why, token, length):
        # Nothing of the body is kept; a small one is read and dropped so the
        # client sees the answer rather than a reset connection.
        self._drain(length)
        if why == 'busy':
            self.server.store.count_refused_upload(token, 'busy', length)
            return self._answer(503, b'too many uploads at once; try again later\n', note='uploads busy',
                                headers=[('Retry-After', str(RETRY_AFTER_S))])
        if why == 'duplicate':
            return self._answer(409, b'this run already uploaded its logs\n', note='duplicate upload')
        self.server.store.count_refused_upload(token, 'quota', length)
        return self._answer(507, b'log storage is full\n', note='over quota')

    def _receive_upload(self, token, machine_id, length):
        spool = tempfile.NamedTemporaryFile(prefix='upload-', suffix='.zip', dir=self.server.spool_dir,
                                            delete=False)
        try:
            with spool:
                left = length
                while left > 0:
                    piece = self.rfile.read(min(left, READ_PIECE))
                    if not piece:
                        self.close_connection = True
                        return
                    spool.write(piece)
                    left -= len(piece)
            try:
                entries = self.server.store.add_log_upload(spool.name, token, machine_id)
            except Conflict as error:
                return self._answer(409, (str(error) + '\n').encode(), note='duplicate upload')
            except BadInput as error:
                return self._answer(400, (str(error) + '\n').encode(), note='refused: %s' % error,
                                    request_body=self._head_of(spool.name))
            note = 'zip:' + ';'.join('%s=%08x/%d' % entry for entry in entries)
            self._answer(200, b'', note=note, request_body=self._head_of(spool.name))
        finally:
            os.unlink(spool.name)

    def _head_of(self, path):
        """The upload for the request record (tests read it), when it is small."""
        if not self.server.recorder.enabled or os.path.getsize(path) > DRAIN_LIMIT:
            return b''
        with open(path, 'rb') as f:
            return f.read()

    def _get(self):
        path, query = self._route()
        expected = self.server.report_token
        if self.server.is_collector or path != '/report' or not expected:
            return self._refuse_unknown(404, b'not found\n')
        given = query.get('token', [''])[0]
        bearer = self.headers.get('Authorization', '')
        if bearer.startswith('Bearer '):
            given = bearer[len('Bearer '):].strip()
        if not hmac.compare_digest(given.encode('utf-8', 'replace'), expected.encode('utf-8')):
            return self._refuse_unknown(404, b'not found\n')
        try:
            days = max(0, int(query.get('days', ['0'])[0]))
        except ValueError:
            days = 0
        page = telemetry_dashboard.render(telemetry_report.funnel(self.server.store, days=days)).encode('utf-8')
        self._answer(200, page, 'text/html; charset=utf-8', note='report',
                     headers=[('Cache-Control', 'no-store'), ('X-Content-Type-Options', 'nosniff')])

    def _analytics(self, body):
        row = self.server.store.add_analytics(body)
        self._answer(200, b'', note='analytics status=%s channel=%s' % (row['status'], row['channel']),
                     request_body=body)

    def _region(self, body):
        country, embargoed = self.server.store.add_region_check(body, self.server.embargoed)
        reply = ('<RegionRestrictions><country>%s</country><isEmbargo>%s</isEmbargo></RegionRestrictions>' %
                 (escape(country), 'true' if embargoed else 'false')).encode('utf-8')
        self._answer(200, reply, 'application/xml', note='region %s %s' % (country, embargoed), request_body=body)

    def _activity(self, body):
        row = self.server.store.add_activity(body)
        self._answer(200, b'', note='activity %s' % row['activity'], request_body=body)


class TelemetryServer(ThreadingHTTPServer):
    """One listening socket served by a fixed pool of worker threads.

    States: an accepted connection waits in the reception (Reception) through
    its TLS handshake until its request head is complete; then in a bounded
    queue of ready requests (a full queue closes it); a worker serves that
    one request under the watchdog's deadline and hands a kept-open
    connection back to the reception, or closes it. Threads: the caller's
    serve_forever() accepts; the reception, the workers and the watchdog are
    started by the constructor and joined by server_close()."""

    request_queue_size = LISTEN_BACKLOG
    daemon_threads = True

    def __init__(self, address, store, recorder, tls=None, is_collector=False, embargoed=(),
                 max_document=DEFAULT_MAX_DOCUMENT, max_upload=DEFAULT_MAX_UPLOAD, quiet=False,
                 workers=DEFAULT_WORKERS, pending=DEFAULT_PENDING, request_deadline=DEFAULT_REQUEST_DEADLINE_S,
                 header_deadline=DEFAULT_HEADER_DEADLINE_S,
                 upload_deadline=DEFAULT_UPLOAD_DEADLINE_S, uploads_in_flight=DEFAULT_UPLOADS_IN_FLIGHT,
                 quota=DEFAULT_QUOTA, spool_dir=None, report_token=None, reuse_port=False, profile_dir=None):
        self.store = store
        self.recorder = recorder
        self.tls = tls
        self.is_collector = is_collector
        self.embargoed = set(embargoed)
        self.max_document = max_document
        self.max_upload = max_upload
        self.quiet = quiet
        self.request_deadline = request_deadline
        self.header_deadline = header_deadline
        self.upload_deadline = upload_deadline
        self.uploads = UploadGate(uploads_in_flight, quota)
        self.spool_dir = spool_dir
        self.report_token = report_token
        self.reuse_port = reuse_port
        self.profile_dir = profile_dir
        self.refused_connections = 0
        self._pending = queue.Queue(maxsize=pending)
        self._local = threading.local()
        super().__init__(address, TelemetryHandler)
        self.watchdog = Watchdog()
        self._receptions = [Reception(tls, min(header_deadline, request_deadline), max(1, pending // RECEPTIONS),
                                      self._request_ready) for _ in range(RECEPTIONS)]
        self._next_reception = itertools.count()
        self._workers = [threading.Thread(target=self._work, name='worker-%d' % i, daemon=True)
                         for i in range(workers)]
        for worker in self._workers:
            worker.start()

    def server_bind(self):
        if self.reuse_port:
            # Several service processes take turns on one port.
            self.socket.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEPORT, 1)
        super().server_bind()

    def _reception(self):
        return self._receptions[next(self._next_reception) % len(self._receptions)]

    def process_request(self, request, client_address):
        self._reception().admit(request, client_address)

    def _request_ready(self, sock, client_address, head, began):
        try:
            self._pending.put_nowait((sock, client_address, head, began))
        except queue.Full:
            self.refused_connections += 1
            sock.close()

    def _work(self):
        if not self.profile_dir:
            return self._serve_connections()
        import cProfile
        profile = cProfile.Profile(time.thread_time)  # CPU, not the wait for work
        try:
            profile.runcall(self._serve_connections)
        finally:
            profile.dump_stats(os.path.join(self.profile_dir, '%d-%s-%d.prof' % (
                os.getpid(), threading.current_thread().name, self.server_address[1])))

    def _serve_connections(self):
        while True:
            item = self._pending.get()
            if item is None:
                return
            sock = item[0]
            kept = False
            try:
                kept = self._serve_request(*item)
            except Exception:
                self.handle_error(sock, item[1])
            finally:
                if not kept:
                    self.shutdown_request(sock)

    def guard_of_thread(self):
        return self._local.guard

    def head_of_thread(self):
        return self._local.head

    def _serve_request(self, sock, client_address, head, began):
        """Serves one request whose head has arrived; True when the
        connection went back to the reception for the next one."""
        sock.setblocking(True)
        sock.settimeout(self.request_deadline)
        # A socket on a duplicate of the connection's descriptor lets the
        # watchdog end it whatever the worker is blocked in.
        guard = socket.socket(fileno=os.dup(sock.fileno()))
        self.watchdog.arm(guard, max(0.0, self.request_deadline - (time.monotonic() - began)))
        self._local.guard, self._local.head = guard, head
        try:
            handler = self.RequestHandlerClass(sock, client_address, self)
        finally:
            self.watchdog.disarm(guard)
            guard.close()
            self._local.guard = self._local.head = None
        if handler.close_connection:
            return False
        self._reception().admit(sock, client_address, handler.rfile.leftover(), handshaken=True)
        return True

    def server_close(self):
        super().server_close()
        for reception in self._receptions:
            reception.stop()
        self.watchdog.stop()
        while True:
            try:
                item = self._pending.get_nowait()
                item[0].close()
            except queue.Empty:
                break
        for _ in self._workers:
            self._pending.put(None)
        for worker in self._workers:
            worker.join()

    def handle_error(self, request, client_address):
        if not self.quiet:
            super().handle_error(request, client_address)


def read_embargoed(args):
    ids = set()
    if args.embargoed:
        ids.update(x.strip() for x in args.embargoed.split(',') if x.strip())
    if args.embargoed_file:
        with open(args.embargoed_file, encoding='utf-8') as f:
            for line in f:
                line = line.split('#', 1)[0].strip()
                if line:
                    ids.add(line)
    return ids


def parse_args(argv):
    parser = argparse.ArgumentParser(
        description=__doc__.split('\n\n')[0],
        epilog=__doc__.split('\n\n', 1)[1],
        formatter_class=argparse.RawDescriptionHelpFormatter)
    where = parser.add_mutually_exclusive_group(required=True)
    where.add_argument('--db', help='SQLite file that stores documents and logs (created if missing)')
    where.add_argument('--database', metavar='URL',
                       help='PostgreSQL database (postgresql://user@host:port/name) shared by several services')
    parser.add_argument('--report', action='store_true', help='print the install funnel and exit')
    parser.add_argument('--report-html', metavar='FILE', help='write the funnel dashboard (HTML) to FILE and exit')
    parser.add_argument('--report-token', help='serve the dashboard at GET /report?token=THIS (or as a Bearer token)')
    parser.add_argument('--newest-logs', type=int, default=5, help='uploaded logs listed by --report (default 5)')
    parser.add_argument('--days', type=int, default=0,
                        help='report only the runs that started in the last DAYS days (default: all)')
    parser.add_argument('--save-log', nargs=2, metavar=('ID', 'FILE'), help='write uploaded log archive ID to FILE and exit')
    parser.add_argument('--bind', default='0.0.0.0', help='address to listen on (default 0.0.0.0)')
    parser.add_argument('--port', type=int, default=443, help='HTTPS port (default 443; 0 picks a free one)')
    parser.add_argument('--reuse-port', action='store_true',
                        help='share the port with other service processes started the same way')
    parser.add_argument('--cert', help='server certificate chain (PEM)')
    parser.add_argument('--key', help='private key of the certificate (PEM)')
    parser.add_argument('--collector-port', type=int,
                        help='also take pageviews (POST /collect) over plain HTTP on this port (0 picks one)')
    parser.add_argument('--embargoed', help='comma-separated country ids whose region check answers true')
    parser.add_argument('--embargoed-file', help='file of embargoed country ids, one per line (# comments)')
    parser.add_argument('--max-document-bytes', type=int, default=DEFAULT_MAX_DOCUMENT,
                        help='largest XML document or pageview accepted (default %d)' % DEFAULT_MAX_DOCUMENT)
    parser.add_argument('--max-upload-bytes', type=int, default=DEFAULT_MAX_UPLOAD,
                        help='largest log archive accepted (default %d)' % DEFAULT_MAX_UPLOAD)
    parser.add_argument('--upload-quota-bytes', type=int, default=DEFAULT_QUOTA,
                        help='log archives stored in all; beyond, uploads get 507 (default %d)' % DEFAULT_QUOTA)
    parser.add_argument('--uploads-in-flight', type=int, default=DEFAULT_UPLOADS_IN_FLIGHT,
                        help='uploads received at once; beyond, 503 (default %d)' % DEFAULT_UPLOADS_IN_FLIGHT)
    parser.add_argument('--spool', help='folder where uploads are received before they are checked (default: temp)')
    parser.add_argument('--workers', type=int, default=DEFAULT_WORKERS,
                        help='connections served at once (default %d)' % DEFAULT_WORKERS)
    parser.add_argument('--pending', type=int, default=DEFAULT_PENDING,
                        help='connections waiting for their request head, or for a worker; beyond, closed '
                        '(default %d)' % DEFAULT_PENDING)
    parser.add_argument('--request-deadline', type=float, default=DEFAULT_REQUEST_DEADLINE_S,
                        help='seconds for a whole request (default %g)' % DEFAULT_REQUEST_DEADLINE_S)
    parser.add_argument('--header-deadline', type=float, default=DEFAULT_HEADER_DEADLINE_S,
                        help='seconds for the TLS handshake, or a request\'s line and headers (default %g)'
                        % DEFAULT_HEADER_DEADLINE_S)
    parser.add_argument('--upload-deadline', type=float, default=DEFAULT_UPLOAD_DEADLINE_S,
                        help='seconds for a whole log upload (default %g)' % DEFAULT_UPLOAD_DEADLINE_S)
    parser.add_argument('--record', help='append one line per request to this file (for tests)')
    parser.add_argument('--profile', metavar='DIR', help='profile the worker threads into DIR (slows the service)')
    parser.add_argument('--port-file', help='write the ports listened on to this file once serving')
    parser.add_argument('--quiet', action='store_true', help='no request log on standard error')
    args = parser.parse_args(argv)
    if not (args.report or args.report_html or args.save_log) and not (args.cert and args.key):
        parser.error('serving needs --cert and --key (or use --report / --report-html / --save-log)')
    return args


def serve(args, store):
    recorder = Recorder(args.record)
    tls = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    tls.load_cert_chain(args.cert, args.key)
    options = dict(store=store, recorder=recorder, embargoed=read_embargoed(args),
                   max_document=args.max_document_bytes, max_upload=args.max_upload_bytes, quiet=args.quiet,
                   workers=args.workers, pending=args.pending, request_deadline=args.request_deadline,
                   header_deadline=args.header_deadline,
                   upload_deadline=args.upload_deadline, uploads_in_flight=args.uploads_in_flight,
                   quota=args.upload_quota_bytes, spool_dir=args.spool, reuse_port=args.reuse_port,
                   profile_dir=args.profile)
    servers = [TelemetryServer((args.bind, args.port), tls=tls, report_token=args.report_token, **options)]
    if args.collector_port is not None:
        servers.append(TelemetryServer((args.bind, args.collector_port), is_collector=True, **options))
    threads = [threading.Thread(target=server.serve_forever) for server in servers]
    for thread in threads:
        thread.start()
    if args.port_file:
        text = 'telemetry_port=%d\n' % servers[0].server_address[1]
        if len(servers) > 1:
            text += 'collector_port=%d\n' % servers[1].server_address[1]
        with open(args.port_file + '.tmp', 'w') as f:
            f.write(text)
        os.replace(args.port_file + '.tmp', args.port_file)
    stopping = threading.Event()
    signal.signal(signal.SIGTERM, lambda *a: stopping.set())
    signal.signal(signal.SIGINT, lambda *a: stopping.set())
    print('telemetry service on https://%s:%d/' % servers[0].server_address[:2], file=sys.stderr)
    while not stopping.wait(0.5):
        pass
    for server in servers:
        server.shutdown()
    for thread in threads:
        thread.join()
    for server in servers:
        server.server_close()
    return 0


def main(argv=None):
    args = parse_args(sys.argv[1:] if argv is None else argv)
    try:
        store = Store(args.db or args.database)
    except (StoreUnavailable, sqlite3.Error) as error:
        print('cannot open the store: %s' % error, file=sys.stderr)
        return 2
    try:
        if args.report:
            sys.stdout.write(telemetry_report.format_report(
                telemetry_report.funnel(store, args.newest_logs, args.days)))
            return 0
        if args.report_html:
            page = telemetry_dashboard.render(telemetry_report.funnel(store, args.newest_logs, args.days))
            with open(args.report_html, 'w', encoding='utf-8') as f:
                f.write(page)
            return 0
        if args.save_log:
            with open(args.save_log[1], 'wb') as f:
                found = store.write_log_archive(int(args.save_log[0]), f)
            if not found:
                os.unlink(args.save_log[1])
                print('no uploaded log %s' % args.save_log[0], file=sys.stderr)
                return 1
            return 0
        return serve(args, store)
    finally:
        store.close()


if __name__ == '__main__':
    sys.exit(main())

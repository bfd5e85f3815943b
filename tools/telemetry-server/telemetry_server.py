#!/usr/bin/env python3
"""A telemetry service for the installer stub (Python standard library only).

Serves over HTTPS the endpoints the stub reports to:
  POST /v1/logAnalytics          analytics document (start and end of a run)
  PUT  /v1/reportError?token=T&machineId=M
                                 the zipped logs of a failed run
  POST /v1/isInEmbargoedCountry  region check; answers
                                 <RegionRestrictions><country>C</country><isEmbargo>true|false</isEmbargo></RegionRestrictions>
  POST /v1/logUserActivity       an event the page reports
and, with --collector-port, a plain-HTTP pageview collector (POST /collect).

Every document is stored in the SQLite file (parsed into columns: token,
machine id, status word, product, version, channel, language, OS,
architecture, browser, time) and so is every uploaded log archive. A malformed
document, an upload that is not a readable ZIP archive and a body over the
size limit get 400 and are stored nowhere.

The region check has no country in it: the service answers with the country
that the run's own analytics document reported (by token, else by machine
id), and says it is embargoed when that country id is in the list given with
--embargoed / --embargoed-file.

Examples:
  telemetry_server.py --cert server.pem --key server.key --db telemetry.db --port 443 --embargoed 45,131
  telemetry_server.py --db telemetry.db --report
  telemetry_server.py --db telemetry.db --save-log 7 run7-logs.zip
"""
import argparse
import binascii
import os
import signal
import ssl
import sys
import threading
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer
from urllib.parse import parse_qs, urlsplit
from xml.sax.saxutils import escape

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import telemetry_store  # noqa: E402
from telemetry_store import BadInput, Store  # noqa: E402

DEFAULT_MAX_DOCUMENT = 256 * 1024
DEFAULT_MAX_UPLOAD = 64 << 20
SOCKET_TIMEOUT_S = 30
# A refused body up to this size is read and dropped before the answer, so the
# client sees the answer rather than a reset connection; a larger one is not read.
DRAIN_LIMIT = 8 << 20


class Recorder:
    """Optional record of every request, one line each (tab-separated):
    METHOD TARGET CONTENT-TYPE STATUS BODY-AS-HEX NOTE USER-AGENT. Tests read it."""

    def __init__(self, path):
        self._path = path
        self._lock = threading.Lock()

    def write(self, method, target, content_type, status, body, note, agent):
        if not self._path:
            return
        fields = [method, target, content_type or '', str(status), binascii.hexlify(body or b'').decode(), note,
                  agent or '']
        line = '\t'.join(f.replace('\t', ' ').replace('\n', ' ') for f in fields) + '\n'
        with self._lock, open(self._path, 'a', encoding='utf-8') as f:
            f.write(line)


class TelemetryHandler(BaseHTTPRequestHandler):
    protocol_version = 'HTTP/1.1'
    server_version = 'TelemetryService/1.0'

    def log_message(self, fmt, *args):
        if not self.server.quiet:
            super().log_message(fmt, *args)

    def _answer(self, status, body=b'', content_type='text/plain; charset=utf-8', note='', request_body=b''):
        self.server.recorder.write(self.command, self.path, self.headers.get('Content-Type'), status,
                                   request_body, note, self.headers.get('User-Agent'))
        self.send_response(status)
        self.send_header('Content-Type', content_type)
        self.send_header('Content-Length', str(len(body)))
        if status >= 400:
            self.send_header('Connection', 'close')
            self.close_connection = True
        self.end_headers()
        self.wfile.write(body)

    def _read_body(self, limit):
        """The request body, or None after answering 400."""
        if self.headers.get('Transfer-Encoding'):
            self._answer(400, b'a Content-Length is required\n', note='chunked')
            return None
        try:
            length = int(self.headers.get('Content-Length', ''))
        except ValueError:
            self._answer(400, b'a Content-Length is required\n', note='no length')
            return None
        if length < 0 or length > limit:
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
        while left > 0:
            chunk = self.rfile.read(min(left, 64 * 1024))
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

    def do_POST(self):
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

    def do_PUT(self):
        path, query = self._route()
        if self.server.is_collector or path != '/v1/reportError':
            return self._refuse_unknown(404, b'not found\n')
        body = self._read_body(self.server.max_upload)
        if body is None:
            return
        token = query.get('token', [''])[0]
        machine_id = query.get('machineId', [''])[0]
        try:
            entries = self.server.store.add_log_upload(body, token, machine_id)
        except BadInput as error:
            return self._answer(400, (str(error) + '\n').encode(), note='refused: %s' % error, request_body=body)
        note = 'zip:' + ';'.join('%s=%08x/%d' % entry for entry in entries)
        self._answer(200, b'', note=note, request_body=body)

    def do_GET(self):
        self._refuse_unknown(404, b'not found\n')

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
    daemon_threads = True

    def __init__(self, address, store, recorder, tls=None, is_collector=False, embargoed=(),
                 max_document=DEFAULT_MAX_DOCUMENT, max_upload=DEFAULT_MAX_UPLOAD, quiet=False):
        self.store = store
        self.recorder = recorder
        self.tls = tls
        self.is_collector = is_collector
        self.embargoed = set(embargoed)
        self.max_document = max_document
        self.max_upload = max_upload
        self.quiet = quiet
        super().__init__(address, TelemetryHandler)

    def finish_request(self, request, client_address):
        # The TLS handshake runs on the connection's own thread, so a client
        # that never completes it holds only that thread, and only until the timeout.
        request.settimeout(SOCKET_TIMEOUT_S)
        if self.tls is None:
            return super().finish_request(request, client_address)
        try:
            secure = self.tls.wrap_socket(request, server_side=True)
        except (ssl.SSLError, OSError):
            return
        try:
            super().finish_request(secure, client_address)
        finally:
            secure.close()

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
    parser.add_argument('--db', required=True, help='SQLite file that stores documents and logs (created if missing)')
    parser.add_argument('--report', action='store_true', help='print the install funnel from --db and exit')
    parser.add_argument('--newest-logs', type=int, default=5, help='uploaded logs listed by --report (default 5)')
    parser.add_argument('--save-log', nargs=2, metavar=('ID', 'FILE'), help='write uploaded log archive ID to FILE and exit')
    parser.add_argument('--bind', default='0.0.0.0', help='address to listen on (default 0.0.0.0)')
    parser.add_argument('--port', type=int, default=443, help='HTTPS port (default 443; 0 picks a free one)')
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
    parser.add_argument('--record', help='append one line per request to this file (for tests)')
    parser.add_argument('--port-file', help='write the ports listened on to this file once serving')
    parser.add_argument('--quiet', action='store_true', help='no request log on standard error')
    args = parser.parse_args(argv)
    if not args.report and not args.save_log and not (args.cert and args.key):
        parser.error('serving needs --cert and --key (or use --report / --save-log)')
    return args


def serve(args):
    store = Store(args.db)
    recorder = Recorder(args.record)
    tls = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    tls.load_cert_chain(args.cert, args.key)
    options = dict(store=store, recorder=recorder, embargoed=read_embargoed(args),
                   max_document=args.max_document_bytes, max_upload=args.max_upload_bytes, quiet=args.quiet)
    servers = [TelemetryServer((args.bind, args.port), tls=tls, **options)]
    if args.collector_port is not None:
        servers.append(TelemetryServer((args.bind, args.collector_port), is_collector=True, **options))
    for server in servers:
        threading.Thread(target=server.serve_forever, daemon=True).start()
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
        server.server_close()
    store.close()
    return 0


def main(argv=None):
    args = parse_args(sys.argv[1:] if argv is None else argv)
    if args.report:
        store = Store(args.db)
        sys.stdout.write(telemetry_store.format_report(telemetry_store.funnel(store, args.newest_logs)))
        store.close()
        return 0
    if args.save_log:
        store = Store(args.db)
        archive = store.log_archive(int(args.save_log[0]))
        store.close()
        if archive is None:
            print('no uploaded log %s' % args.save_log[0], file=sys.stderr)
            return 1
        with open(args.save_log[1], 'wb') as f:
            f.write(archive)
        return 0
    return serve(args)


if __name__ == '__main__':
    sys.exit(main())

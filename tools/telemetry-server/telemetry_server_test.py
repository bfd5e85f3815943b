#!/usr/bin/env python3
"""Tests of the telemetry service: its endpoints over real HTTPS, what it
stores, what it refuses, and the funnel report."""
import http.client
import io
import os
import shutil
import socket
import sqlite3
import ssl
import subprocess
import sys
import tempfile
import threading
import time
import unittest
import zipfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import pg_testserver  # noqa: E402
import telemetry_db  # noqa: E402
import telemetry_server  # noqa: E402
import telemetry_store  # noqa: E402
from telemetry_store import Store  # noqa: E402

SERVER = os.path.join(HERE, 'telemetry_server.py')
# The PostgreSQL server of this run, started by the first test that needs it.
POSTGRES = []


def postgres():
    if not POSTGRES:
        server = pg_testserver.PostgresServer(os.environ.get('TELEMETRY_TEST_DIR'))
        POSTGRES.append(server)
        server.start()
    return POSTGRES[0]


def tearDownModule():
    for server in POSTGRES:
        server.stop()


class SqliteTarget:
    """Where a test's store lives: a fresh SQLite file per test."""
    engine = 'sqlite'

    def make_target(self, folder, name):
        return os.path.join(folder, '%s.db' % name)

    def target_options(self, target):
        return ['--db', target]


class PostgresTarget:
    """A fresh database per test on the run's PostgreSQL server."""
    engine = 'postgresql'

    def make_target(self, folder, name):
        return postgres().fresh_database(name.lower()[:60])

    def target_options(self, target):
        return ['--database', target]


def analytics_document(token='T-1', status='started', country='203', os_name='Windows 10', language='English',
                       channel='test', machine='P-001A2B3C-4D5E-001A-2B3C-4D5E001A2B3C', install_language=None):
    return ('<ORVIKAnalytics><requestToken>%s</requestToken><country>%s</country><mainApp>'
            '<productId>Tessary</productId><productVersion>22.0.0.0</productVersion><channelId>%s</channelId>'
            '<installLanguage>%s</installLanguage><status>%s</status><externalProperties><property>'
            '<name>propertyName1</name><value>propertyValue1</value></property></externalProperties></mainApp>'
            '<error></error><userEnvironment><OS>%s</OS><language>%s</language><architecture>x64</architecture>'
            '<defaultBrowser>Other</defaultBrowser></userEnvironment><ORVIKVersion>1.0</ORVIKVersion>'
            '<machineId>%s</machineId></ORVIKAnalytics>' % (
                token, country, channel, language if install_language is None else install_language, status,
                os_name, language, machine)).encode('utf-8')


def region_document(token, machine='X-XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX'):
    return ('<RegionRestrictions><token>%s</token><productId>Tessary</productId><productVersion>22.0.0.0'
            '</productVersion><channel>test</channel><os>Windows 10</os><machineId>%s</machineId>'
            '</RegionRestrictions>' % (token, machine)).encode('utf-8')


def zip_bytes(files):
    out = io.BytesIO()
    with zipfile.ZipFile(out, 'w', zipfile.ZIP_DEFLATED) as archive:
        for name, data in files.items():
            archive.writestr(name, data)
    return out.getvalue()


def make_certificate(folder):
    """A self-signed certificate for "localhost" in folder: (cert, key)."""
    cert, key = os.path.join(folder, 'cert.pem'), os.path.join(folder, 'key.pem')
    subprocess.run(['openssl', 'req', '-x509', '-newkey', 'rsa:2048', '-nodes', '-days', '2', '-subj',
                    '/CN=localhost', '-addext', 'subjectAltName=DNS:localhost', '-keyout', key,
                    '-out', cert], check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return cert, key


class ServiceTest(SqliteTarget, unittest.TestCase):
    server_options = {}

    @classmethod
    def setUpClass(cls):
        cls.dir = tempfile.mkdtemp(prefix='telemetry-test-')
        cls.cert, cls.key = make_certificate(cls.dir)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.dir, ignore_errors=True)

    def setUp(self):
        self.db = self.make_target(self.dir, self.id().rsplit('.', 1)[-1])
        self.store = Store(self.db)
        tls = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        tls.load_cert_chain(self.cert, self.key)
        options = dict(store=self.store, recorder=telemetry_server.Recorder(None), embargoed={'131'},
                       max_document=4096, max_upload=64 * 1024, quiet=True, spool_dir=self.dir)
        options.update(self.server_options)
        self.https = telemetry_server.TelemetryServer(('127.0.0.1', 0), tls=tls, report_token='R-secret', **options)
        self.collector = telemetry_server.TelemetryServer(('127.0.0.1', 0), is_collector=True, **options)
        for server in (self.https, self.collector):
            threading.Thread(target=server.serve_forever, daemon=True).start()
        self.client_tls = ssl.create_default_context(cafile=self.cert)

    def tearDown(self):
        for server in (self.https, self.collector):
            server.shutdown()
            server.server_close()
        self.store.close()

    def request(self, method, target, body=b'', headers=None, collector=False):
        if collector:
            conn = http.client.HTTPConnection('127.0.0.1', self.collector.server_address[1], timeout=10)
        else:
            conn = http.client.HTTPSConnection('localhost', self.https.server_address[1], timeout=10,
                                               context=self.client_tls)
        conn.request(method, target, body=body, headers=headers or {'Content-Type': 'application/xml'})
        response = conn.getresponse()
        answer = (response.status, response.read())
        conn.close()
        return answer

    def rows(self, sql):
        return self.store.query(sql)

    def test_analytics_document_is_stored_in_columns_with_escaped_values_decoded(self):
        doc = analytics_document(channel='a&amp;b&lt;c&gt;&quot;&apos;', status='error occurred')
        self.assertEqual(self.request('POST', '/v1/logAnalytics', doc)[0], 200)
        row = self.rows('SELECT token, machine_id, status, product, version, channel, language, os, architecture, '
                        'browser, country, external_properties, document, time FROM analytics')
        self.assertEqual(len(row), 1)
        self.assertEqual(row[0][:11], ('T-1', 'P-001A2B3C-4D5E-001A-2B3C-4D5E001A2B3C', 'error occurred', 'Tessary',
                                       '22.0.0.0', 'a&b<c>"\'', 'English', 'Windows 10', 'x64', 'Other', '203'))
        self.assertEqual(row[0][11], '[["propertyName1", "propertyValue1"]]')
        self.assertEqual(row[0][12], doc)
        self.assertRegex(row[0][13], r'^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ$')

    def test_bad_documents_get_400_are_stored_nowhere_and_the_service_keeps_serving(self):
        bad = {
            'unclosed': b'<ORVIKAnalytics><requestToken>x</requestToken>',
            'raw ampersand': analytics_document(channel='a&b'),
            'wrong root': region_document('T-9'),
            'missing element': b'<ORVIKAnalytics><requestToken>x</requestToken></ORVIKAnalytics>',
            'not UTF-8': analytics_document(channel='\xe9').replace(b'\xc3\xa9', b'\xe9'),
            'entity declaration': b'<!DOCTYPE a [<!ENTITY x "y">]>' + analytics_document(),
        }
        for what, body in bad.items():
            with self.subTest(what):
                self.assertEqual(self.request('POST', '/v1/logAnalytics', body)[0], 400)
        self.assertEqual(self.request('POST', '/v1/isInEmbargoedCountry', b'<RegionRestrictions>')[0], 400)
        self.assertEqual(self.request('POST', '/v1/logUserActivity', analytics_document())[0], 400)
        for table in ('analytics', 'region_checks', 'activities'):
            self.assertEqual(self.rows('SELECT COUNT(*) FROM %s' % table)[0][0], 0, table)
        self.assertEqual(self.request('POST', '/v1/logAnalytics', analytics_document())[0], 200)

    def test_oversized_bodies_get_400_and_are_stored_nowhere(self):
        # Only the headers go out: a body too large even to drain is refused by
        # its announced length alone.
        conn = http.client.HTTPSConnection('localhost', self.https.server_address[1], timeout=10,
                                           context=self.client_tls)
        conn.putrequest('POST', '/v1/logAnalytics')
        conn.putheader('Content-Length', str(1 << 30))
        conn.endheaders()
        self.assertEqual(conn.getresponse().status, 400)
        conn.close()
        # A negative length would read (and hold) the body until the client
        # closes: it is refused at once, on both kinds of endpoint.
        for method, path in (('POST', '/v1/logAnalytics'), ('PUT', '/v1/reportError?token=N&machineId=M')):
            with self.subTest(path):
                conn = http.client.HTTPSConnection('localhost', self.https.server_address[1], timeout=10,
                                                   context=self.client_tls)
                conn.putrequest(method, path)
                conn.putheader('Content-Length', '-1')
                conn.endheaders()
                conn.send(b'x' * 1000)
                self.assertEqual(conn.getresponse().status, 400)
                conn.close()
        self.assertEqual(self.request('POST', '/v1/logAnalytics', analytics_document() + b' ' * 4096)[0], 400)
        self.assertEqual(self.request('PUT', '/v1/reportError?token=T&machineId=M',
                                      zip_bytes({'big.txt': os.urandom(70 * 1024)}))[0], 400)
        self.assertEqual(self.rows('SELECT COUNT(*) FROM analytics')[0][0], 0)
        self.assertEqual(self.rows('SELECT COUNT(*) FROM log_uploads')[0][0], 0)
        # The limit itself is accepted.
        doc = analytics_document()
        self.assertEqual(self.request('POST', '/v1/logAnalytics', doc + b' ' * (4096 - len(doc)))[0], 200)

    def test_log_upload_keeps_the_archive_with_its_entries_and_refuses_what_is_not_a_readable_zip(self):
        archive = zip_bytes({'installer_log_1.txt': b'line one\r\n', 'msi.log': b'x' * 1000})
        status, _ = self.request('PUT', '/v1/reportError?token=T-7&machineId=P-1%262', archive)
        self.assertEqual(status, 200)
        stored = self.rows('SELECT token, machine_id, size, entries, id FROM log_uploads')
        self.assertEqual(stored[0][:3], ('T-7', 'P-1&2', len(archive)))
        self.assertIn('installer_log_1.txt', stored[0][3])
        self.assertEqual(self.store.log_archive(stored[0][4]), archive)

        damaged = bytearray(zip_bytes({'a.txt': b'hello hello hello hello'}))
        damaged[40] ^= 0xFF  # inside the compressed data
        for what, body in {'not a zip': b'PK\x03\x04 but nothing after', 'text': b'hello',
                           'damaged': bytes(damaged), 'empty archive': zip_bytes({})}.items():
            with self.subTest(what):
                self.assertEqual(self.request('PUT', '/v1/reportError?token=T&machineId=M', body)[0], 400)
        self.assertEqual(self.rows('SELECT COUNT(*) FROM log_uploads')[0][0], 1)

    def test_region_reply_names_the_runs_country_and_embargoes_only_listed_ids(self):
        self.request('POST', '/v1/logAnalytics', analytics_document(token='T-free', country='203'))
        self.request('POST', '/v1/logAnalytics', analytics_document(token='T-banned', country='131',
                                                                     machine='P-BANNED'))
        cases = [
            (region_document('T-free'), b'<country>203</country><isEmbargo>false</isEmbargo>'),
            (region_document('T-banned'), b'<country>131</country><isEmbargo>true</isEmbargo>'),
            (region_document('T-other', machine='P-BANNED'), b'<country>131</country><isEmbargo>true</isEmbargo>'),
            (region_document('T-unknown'), b'<country></country><isEmbargo>false</isEmbargo>'),
        ]
        for body, expected in cases:
            status, reply = self.request('POST', '/v1/isInEmbargoedCountry', body)
            self.assertEqual(status, 200)
            self.assertEqual(reply, b'<RegionRestrictions>' + expected + b'</RegionRestrictions>')
        self.assertEqual(self.rows('SELECT COUNT(*) FROM region_checks WHERE embargoed = 1')[0][0], 2)

    def test_activity_and_pageview_are_stored_as_sent(self):
        doc = ('<UserActivity><token>T-3</token><productId>Tessary</productId><productVersion>22.0.0.0'
               '</productVersion><activity>clicked &lt;Install&gt;</activity></UserActivity>').encode()
        self.assertEqual(self.request('POST', '/v1/logUserActivity', doc)[0], 200)
        self.assertEqual(self.rows('SELECT token, activity FROM activities'), [('T-3', 'clicked <Install>')])
        payload = b'v=1&t=event&ea=install\xe9\x00'
        self.assertEqual(self.request('POST', '/collect', payload, collector=True,
                                      headers={'Content-Type': 'application/x-www-form-urlencoded'}), (200, b'OK'))
        self.assertEqual(self.rows('SELECT payload FROM pageviews'), [(payload,)])

    def test_unknown_paths_and_verbs_are_refused(self):
        self.assertEqual(self.request('GET', '/v1/logAnalytics')[0], 404)
        self.assertEqual(self.request('POST', '/v1/other', analytics_document())[0], 404)
        self.assertEqual(self.request('POST', '/v1/reportError', zip_bytes({'a': b'b'}))[0], 405)
        self.assertEqual(self.request('POST', '/v1/logAnalytics', analytics_document(), collector=True)[0], 404)

    def test_a_client_that_never_finishes_its_handshake_does_not_block_others(self):
        silent = socket.create_connection(('127.0.0.1', self.https.server_address[1]))
        try:
            self.assertEqual(self.request('POST', '/v1/logAnalytics', analytics_document())[0], 200)
        finally:
            silent.close()

    def upload(self, token, body):
        return self.request('PUT', '/v1/reportError?token=%s&machineId=M' % token, body)

    def open_upload(self, token, length):
        """An upload whose headers and first bytes are sent; the rest is not."""
        conn = http.client.HTTPSConnection('localhost', self.https.server_address[1], timeout=10,
                                           context=self.client_tls)
        conn.putrequest('PUT', '/v1/reportError?token=%s&machineId=M' % token)
        conn.putheader('Content-Length', str(length))
        conn.endheaders()
        conn.send(b'PK')
        return conn

    def test_one_log_upload_per_run_token(self):
        archive = zip_bytes({'installer_log_1.txt': b'first'})
        self.assertEqual(self.upload('T-once', archive)[0], 200)
        self.assertEqual(self.upload('T-once', zip_bytes({'installer_log_1.txt': b'second'}))[0], 409)
        self.assertEqual(self.upload('T-other', archive)[0], 200)
        self.assertEqual(self.upload('', archive)[0], 400, 'an upload without a token')
        self.assertEqual(self.rows("SELECT COUNT(*) FROM log_uploads WHERE token = 'T-once'")[0][0], 1)
        self.assertEqual(self.store.log_archive(1), archive)

    def test_archive_entry_names_that_leave_their_folder_are_refused_at_upload(self):
        cases = [
            ('installer_log_1.txt', 200), ('logs/msi.log', 200), ('a..b.txt', 200),
            ('../../x', 400), ('logs/../../x', 400), ('..\\x', 400), ('C:/Windows/evil.dll', 400),
            ('C:evil.dll', 400), ('/abs/path', 400), ('\\\\server\\share\\x', 400), ('log.txt:hidden', 400),
            ('log\x1b[2J.txt', 400),
        ]
        for i, (name, status) in enumerate(cases):
            with self.subTest(name):
                self.assertEqual(self.upload('T-name-%d' % i, zip_bytes({name: b'x'}))[0], status)
        self.assertEqual(self.rows('SELECT COUNT(*) FROM log_uploads')[0][0], 3)

    def test_a_second_analytics_document_cannot_move_a_runs_region(self):
        self.request('POST', '/v1/logAnalytics', analytics_document(token='T-r', country='203', machine='P-R'))
        self.request('POST', '/v1/logAnalytics', analytics_document(token='T-r', country='131', machine='P-R'))
        self.request('POST', '/v1/logAnalytics', analytics_document(token='T-later', country='131', machine='P-R'))
        for body in (region_document('T-r'), region_document('T-none', machine='P-R')):
            with self.subTest(body):
                status, reply = self.request('POST', '/v1/isInEmbargoedCountry', body)
                self.assertEqual(reply, b'<RegionRestrictions><country>203</country><isEmbargo>false</isEmbargo>'
                                        b'</RegionRestrictions>')

    def test_dashboard_is_served_only_for_the_report_token(self):
        self.request('POST', '/v1/logAnalytics', analytics_document(token='T-d', os_name='&lt;b&gt;Win&lt;/b&gt;'))
        for target, status in (('/report', 404), ('/report?token=wrong', 404), ('/report?token=R-secret', 200),
                               ('/report?token=R-secre', 404), ('/other?token=R-secret', 404)):
            with self.subTest(target):
                answer = self.request('GET', target)
                self.assertEqual(answer[0], status)
        page = self.request('GET', '/report?token=R-secret')[1].decode()
        self.assertIn('data-figure="runs">1<', page)
        self.assertIn('&lt;b&gt;Win&lt;/b&gt;', page)
        self.assertNotIn('<b>Win</b>', page)
        self.assertEqual(self.request('GET', '/report', headers={'Authorization': 'Bearer R-secret'})[0], 200)


    def test_two_services_on_one_database_store_each_run_once(self):
        # A second service with its own store and connections, as another process would have:
        # PostgreSQL for many machines, the same SQLite file for processes on one.
        other_store = Store(self.db)
        self.addCleanup(other_store.close)
        tls = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        tls.load_cert_chain(self.cert, self.key)
        other = telemetry_server.TelemetryServer(('127.0.0.1', 0), store=other_store, tls=tls, quiet=True,
                                                 recorder=telemetry_server.Recorder(None), spool_dir=self.dir)
        thread = threading.Thread(target=other.serve_forever)
        thread.start()
        self.addCleanup(other.server_close)
        self.addCleanup(thread.join)
        self.addCleanup(other.shutdown)
        ports = [self.https.server_address[1], other.server_address[1]]

        def send(port, method, target, body, out):
            conn = http.client.HTTPSConnection('localhost', port, timeout=20, context=self.client_tls)
            conn.request(method, target, body=body, headers={'Content-Type': 'application/xml'})
            out.append(conn.getresponse().status)
            conn.close()
        archive = zip_bytes({'installer_log_1.txt': b'x' * 5000})
        for i in range(8):
            answers = []
            racers = [threading.Thread(target=send, args=(port, 'PUT', '/v1/reportError?token=T-race-%d&machineId=M'
                                                          % i, archive, answers)) for port in ports]
            racers += [threading.Thread(target=send, args=(ports[n % 2], 'POST', '/v1/logAnalytics',
                                                           analytics_document(token='T-race-%d' % i,
                                                                              status=('started', 'completed')[n]),
                                                           answers)) for n in range(2)]
            for racer in racers:
                racer.start()
            for racer in racers:
                racer.join()
            with self.subTest(run=i):
                self.assertEqual(sorted(answers), [200, 200, 200, 409])
        self.assertEqual(self.rows("SELECT COUNT(*), COUNT(DISTINCT token) FROM log_uploads"), [(8, 8)])
        self.assertEqual(self.rows("SELECT COUNT(*) FROM analytics WHERE token LIKE 'T-race-%'"), [(16,)])


class BoundedServiceTest(SqliteTarget, unittest.TestCase):
    """The limits that keep one client from exhausting the service."""

    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix='telemetry-bounds-')
        self.addCleanup(shutil.rmtree, self.dir, ignore_errors=True)
        self.cert, self.key = make_certificate(self.dir)
        self.db = self.make_target(self.dir, self.id().rsplit('.', 1)[-1])
        self.store = Store(self.db)
        self.addCleanup(self.store.close)
        self.client_tls = ssl.create_default_context(cafile=self.cert)

    def start(self, **options):
        tls = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        tls.load_cert_chain(self.cert, self.key)
        settings = dict(store=self.store, recorder=telemetry_server.Recorder(None), max_document=4096,
                        max_upload=1 << 20, quiet=True, spool_dir=self.dir, tls=tls)
        settings.update(options)
        server = telemetry_server.TelemetryServer(('127.0.0.1', 0), **settings)
        thread = threading.Thread(target=server.serve_forever)
        thread.start()

        def stop():
            server.shutdown()
            thread.join()
            server.server_close()
        self.addCleanup(stop)
        self.https = server
        return server

    request = ServiceTest.request
    upload = ServiceTest.upload
    open_upload = ServiceTest.open_upload
    rows = ServiceTest.rows

    def test_uploads_beyond_the_number_in_flight_get_503_with_retry_after(self):
        self.start(uploads_in_flight=2)
        archive = zip_bytes({'installer_log_1.txt': b'x' * 1000})
        held = [self.open_upload('T-held-%d' % i, len(archive)) for i in range(2)]
        time.sleep(0.3)
        conn = self.open_upload('T-third', len(archive))
        conn.send(archive[2:])
        response = conn.getresponse()
        self.assertEqual((response.status, response.getheader('Retry-After')), (503, '30'))
        conn.close()
        for conn in held:
            conn.send(archive[2:])
            self.assertEqual(conn.getresponse().status, 200)
            conn.close()
        self.assertEqual(self.upload('T-third', archive)[0], 200, 'a slot is free again')
        self.assertEqual(self.rows("SELECT reason, token FROM refused_uploads"), [('busy', 'T-third')])

    def test_storage_quota_refuses_uploads_with_507_counts_them_and_documents_still_go_in(self):
        archive = zip_bytes({'installer_log_1.txt': os.urandom(3000)})
        self.start(quota=2 * len(archive))
        self.assertEqual(self.upload('T-q1', archive)[0], 200)
        self.assertEqual(self.upload('T-q2', archive)[0], 200, 'exactly at the quota')
        self.assertEqual(self.upload('T-q3', archive)[0], 507)
        self.assertEqual(self.upload('T-q4', zip_bytes({'a': b''}))[0], 507)
        self.assertEqual(self.rows('SELECT reason, token, size FROM refused_uploads ORDER BY id'),
                         [('quota', 'T-q3', len(archive)), ('quota', 'T-q4', len(zip_bytes({'a': b''})))])
        self.assertEqual(self.request('POST', '/v1/logAnalytics', analytics_document())[0], 200)
        self.assertEqual(self.rows('SELECT COUNT(*) FROM log_uploads')[0][0], 2)

    def trickle(self, head, body, pause):
        """Sends head at once and body a byte per pause; answers the seconds
        until the service cut the connection, or None if it answered."""
        raw = socket.create_connection(('127.0.0.1', self.https.server_address[1]))
        slow = self.client_tls.wrap_socket(raw, server_hostname='localhost')
        began = time.monotonic()
        try:
            slow.sendall(head)
            for byte in body:
                time.sleep(pause)  # each read comes well inside any per-read timeout
                slow.sendall(bytes([byte]))
            answer = slow.recv(100)
        except OSError:
            answer = b''
        slow.close()
        return None if answer else time.monotonic() - began

    def test_a_trickling_client_is_cut_at_the_whole_request_deadline(self):
        self.start(request_deadline=2.0, header_deadline=1.0)
        doc = analytics_document(token='T-slow')
        head = b'POST /v1/logAnalytics HTTP/1.1\r\nHost: localhost\r\nContent-Length: %d\r\n\r\n' % len(doc)
        cases = [
            # (what, sent at once, trickled, pause, cut between (seconds) or None: served)
            ('headers trickled', b'', head, 0.1, (0.8, 3.0)),
            ('body trickled past the request deadline', head, doc[:40], 0.1, (1.8, 4.0)),
            ('body a little slow, within it', head + doc[:-5], doc[-5:], 0.2, None),
        ]
        for what, at_once, trickled, pause, expected in cases:
            with self.subTest(what):
                cut = self.trickle(at_once, trickled, pause)
                if expected is None:
                    self.assertIsNone(cut, 'the request was cut')
                else:
                    self.assertIsNotNone(cut, 'the trickling request was served')
                    self.assertGreater(cut, expected[0])
                    self.assertLess(cut, expected[1])
        self.assertEqual(self.rows("SELECT COUNT(*) FROM analytics WHERE token = 'T-slow'")[0][0], 1)

    def test_clients_trickling_their_headers_hold_no_worker(self):
        self.start(workers=2, header_deadline=10, request_deadline=20)
        slow = []
        for _ in range(20):
            raw = socket.create_connection(('127.0.0.1', self.https.server_address[1]))
            conn = self.client_tls.wrap_socket(raw, server_hostname='localhost')
            conn.sendall(b'POST /v1/logAnalytics HTTP/1.1\r\nHost: localhost\r\n')  # and no more
            slow.append(conn)
        try:
            for _ in range(3):  # more requests than workers, one after another
                began = time.monotonic()
                self.assertEqual(self.request('POST', '/v1/logAnalytics', analytics_document())[0], 200)
                self.assertLess(time.monotonic() - began, 2.0)
        finally:
            for conn in slow:
                conn.close()

    def test_connections_beyond_the_workers_wait_or_are_closed_and_threads_stay_capped(self):
        before = threading.active_count()
        self.start(workers=4, pending=8, request_deadline=5)
        threads = threading.active_count() - before
        idle = [socket.create_connection(('127.0.0.1', self.https.server_address[1])) for _ in range(40)]
        time.sleep(0.5)
        self.assertEqual(threading.active_count() - before, threads, 'no thread per connection')
        self.assertLessEqual(threads, 4 + 2 + telemetry_server.RECEPTIONS,
                             "the workers, the accepting and watchdog threads, the receptions")
        closed = 0
        for conn in idle:
            conn.settimeout(0.5)
            try:
                closed += int(conn.recv(1) == b'')
            except (socket.timeout, OSError):
                pass
            conn.close()
        self.assertGreaterEqual(closed, 40 - 4 - 8 - 1)

    def test_a_burst_of_connects_is_served_without_waiting_for_a_retransmitted_connect(self):
        server = self.start(tls=None, is_collector=True)
        port = server.server_address[1]
        count = 200
        barrier = threading.Barrier(count)
        results = []

        def client():
            barrier.wait()
            began = time.monotonic()
            try:
                conn = http.client.HTTPConnection('127.0.0.1', port, timeout=10)
                conn.request('POST', '/collect', body=b'v=1', headers={'Content-Type': 'text/plain'})
                status = conn.getresponse().status
                conn.close()
            except OSError as error:
                status = str(error)
            results.append((status, time.monotonic() - began))
        clients = [threading.Thread(target=client) for _ in range(count)]
        for thread in clients:
            thread.start()
        for thread in clients:
            thread.join()
        self.assertEqual([status for status, _ in results], [200] * count)
        # A connect dropped by a full backlog is retried after a whole second.
        self.assertLess(max(seconds for _, seconds in results), 0.95)
        self.assertEqual(self.rows('SELECT COUNT(*) FROM pageviews')[0][0], count)


class UploadMemoryTest(unittest.TestCase):
    def test_parallel_large_uploads_are_streamed_and_memory_stays_bounded(self):
        folder = tempfile.mkdtemp(prefix='telemetry-mem-')
        self.addCleanup(shutil.rmtree, folder, ignore_errors=True)
        cert, key = make_certificate(folder)
        size = 24 << 20
        archive = os.path.join(folder, 'big.zip')
        with zipfile.ZipFile(archive, 'w', zipfile.ZIP_STORED) as out:
            out.writestr('installer_log_1.txt', os.urandom(size))
        ports = os.path.join(folder, 'ports')
        server = subprocess.Popen([sys.executable, SERVER, '--db', os.path.join(folder, 'm.db'), '--bind',
                                   '127.0.0.1', '--port', '0', '--cert', cert, '--key', key,
                                   '--port-file', ports, '--quiet', '--max-upload-bytes', str(32 << 20),
                                   '--uploads-in-flight', '6', '--spool', folder],
                                  stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.addCleanup(server.wait)
        self.addCleanup(server.terminate)
        for _ in range(200):
            if os.path.exists(ports):
                break
            time.sleep(0.05)
        port = int(open(ports).read().split('=')[1].split()[0])
        tls = ssl.create_default_context(cafile=cert)
        statuses = []

        def send(token):
            conn = http.client.HTTPSConnection('localhost', port, timeout=120, context=tls)
            with open(archive, 'rb') as body:
                conn.request('PUT', '/v1/reportError?token=%s&machineId=M' % token, body=body,
                             headers={'Content-Length': str(os.path.getsize(archive))})
            statuses.append(conn.getresponse().status)
            conn.close()
        senders = [threading.Thread(target=send, args=('T-m%d' % i,)) for i in range(6)]
        for thread in senders:
            thread.start()
        for thread in senders:
            thread.join()
        with open('/proc/%d/status' % server.pid) as f:
            peak_kib = int([line for line in f if line.startswith('VmHWM')][0].split()[1])
        self.assertEqual(statuses, [200] * 6)
        # Six 24 MiB uploads at once: read whole, they would need 144 MiB and more.
        self.assertLess(peak_kib, 80 * 1024)


class CommandLineTest(SqliteTarget, unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix='telemetry-cli-')
        self.db = self.make_target(self.dir, 'cli_' + self.id().rsplit('.', 1)[-1])

    def tearDown(self):
        shutil.rmtree(self.dir, ignore_errors=True)

    def run_server(self, *args):
        return subprocess.run([sys.executable, SERVER] + list(args), capture_output=True, text=True, timeout=60)

    def test_help_names_the_endpoints_and_options(self):
        result = self.run_server('--help')
        self.assertEqual(result.returncode, 0)
        for text in ('/v1/logAnalytics', '/v1/reportError', '--report', '--embargoed', '--cert', '--port'):
            self.assertIn(text, result.stdout)
        self.assertNotEqual(self.run_server('--db', self.db).returncode, 0, 'serving without a certificate')
        for target in (['--database', 'postgresql://nobody@127.0.0.1:%d/none' % pg_testserver.free_port()],
                       ['--db', os.path.join(self.dir, 'no-such-folder', 'x.db')]):
            with self.subTest(target[1]):
                result = self.run_server(*target, '--report')
                self.assertEqual(result.returncode, 2)
                self.assertTrue(result.stderr.startswith('cannot open the store: '), result.stderr)
                self.assertNotIn('Traceback', result.stderr)

    def test_report_counts_runs_by_their_last_end_and_failure_rates(self):
        store = Store(self.db)
        runs = [
            ('R1', 'Windows 10', 'English', ['completed']),
            ('R2', 'Windows 10', 'German', ['error occurred']),
            ('R3', 'Windows 7', 'English', ['canceled']),
            ('R4', 'Windows 7', 'English', ['error occurred', 'completed']),  # the last end counts
            ('R5', 'Windows 10', 'English', []),  # still running
        ]
        for token, os_name, language, ends in runs:
            store.add_analytics(analytics_document(token=token, os_name=os_name, language=language))
            for status in ends:
                store.add_analytics(analytics_document(token=token, status=status, os_name=os_name,
                                                       language=language))
        store.add_log_upload(zip_bytes({'installer_log_2.txt': b'x'}), 'R2', 'M2')
        store.close()
        result = self.run_server(*self.target_options(self.db), '--report')
        self.assertEqual(result.returncode, 0, result.stderr)
        out = result.stdout
        self.assertIn('runs started: 5', out)
        self.assertIn('runs ended:   4', out)
        self.assertRegex(out, r'completed\s+2')
        self.assertRegex(out, r'error occurred\s+1')
        self.assertRegex(out, r'Windows 10\s+1 of 2 failed \(50\.0%\)')
        self.assertRegex(out, r'Windows 7\s+0 of 2 failed \(0\.0%\)')
        self.assertRegex(out, r'German\s+1 of 1 failed \(100\.0%\)')
        self.assertRegex(out, r'English\s+0 of 3 failed')
        self.assertIn('token R2 machine M2', out)
        self.assertIn('installer_log_2.txt', out)

        saved = os.path.join(self.dir, 'saved.zip')
        self.assertEqual(self.run_server(*self.target_options(self.db), '--save-log', '1', saved).returncode, 0)
        with zipfile.ZipFile(saved) as archive:
            self.assertEqual(archive.read('installer_log_2.txt'), b'x')
        self.assertEqual(self.run_server(*self.target_options(self.db), '--save-log', '9', saved).returncode, 1)

    def test_report_takes_channel_and_language_from_what_each_run_sent_and_shows_where_runs_stop(self):
        store = Store(self.db)
        # (token, machine, reports as (status, channel, install language), pageviews as (page, result))
        runs = [
            ('A', 'P-A', [('started', 'test', 'English'), ('completed', 'web', 'German')], [('Finish', '0')]),
            ('B', 'P-B', [('started', 'test', 'English'), ('error occurred', 'web', 'German')],
             [('Downloading', '30103')]),
            ('C', 'P-C', [('started', 'test', 'English'), ('error occurred', 'beta', 'French')],
             [('Installing', '1638')]),
            ('D', 'P-D', [('started', 'test', 'English'), ('downloaded', 'web', 'English')], []),
            ('E', 'P-E', [('started', 'test', 'English')], [('Downloading', '30103')]),  # never ended
            ('F', 'P-F', [('started', 'test', 'English'), ('environment not supported', 'web', 'English')], []),
        ]
        for token, machine, reports, pageviews in runs:
            for status, channel, language in reports:
                store.add_analytics(analytics_document(token=token, status=status, channel=channel, machine=machine,
                                                       language='English', install_language=language))
            for page, result in pageviews:
                store.add_pageview(('v=1&cid=%s&dp=%%2F%s&cd1=web&cd3=%s' % (machine, page, result)).encode())
        store.close()
        result = self.run_server(*self.target_options(self.db), '--report')
        self.assertEqual(result.returncode, 0, result.stderr)
        out = result.stdout
        expected = [
            r'\(no end report\)\s+1\n',
            # Stages: 6 runs; downloaded: A (installed), C (failed installing), D (download only).
            r'started\s+6\n', r'downloaded\s+3\s+\(-50\.0%\)', r'installed\s+1\s+\(-66\.7%\)',
            r'ended\s+1\s+\(-0\.0%\)',
            r'error occurred\s+Downloading\s+1', r'error occurred\s+Installing\s+1',
            r'\(no end report\)\s+Downloading\s+1', r'completed\s+Finish\s+1',
            r'German\s+1 of 2 failed \(50\.0%\)', r'French\s+1 of 1 failed', r'English\s+0 of 2 failed \(0\.0%\), 1 without an end',
            r'web\s+1 of 4 failed \(25\.0%\)', r'beta\s+1 of 1 failed',
            r'30103\s+1\n', r'1638\s+1\n',
            r'\d{4}-\d\d-\d\d\s+6 runs, 1 installed, 2 failed',
        ]
        for pattern in expected:
            with self.subTest(pattern):
                self.assertRegex(out, pattern)
        self.assertNotRegex(out, r'\btest\s+\d+ of', 'the start report\'s constant channel counts for no run')

    def test_text_report_escapes_control_and_direction_characters_from_clients(self):
        store = Store(self.db)
        # XML lets C1 controls (the one-byte CSI), tabs, CRs and direction
        # overrides through; a query string lets anything through.
        hostile = {'os_name': 'Win&#x9b;2J&#x9;dows', 'status': 'error occurred', 'install_language': 'Eng\u202elish',
                   'channel': 'a&#13;b'}
        store.add_analytics(analytics_document(token='T-h', **hostile))
        store.add_log_upload(zip_bytes({'installer_log_1.txt': b'x'}), 'T-\x1b]0;title\x07', 'M-\x1b[1m')
        store.close()
        result = self.run_server(*self.target_options(self.db), '--report')
        self.assertEqual(result.returncode, 0, result.stderr)
        for raw in ('\x1b', '\x07', '\x9b', '\u202e', '\r', '\t'):
            with self.subTest(repr(raw)):
                self.assertNotIn(raw, result.stdout)
        for shown in ('Win\\x9b2J\\x09dows', 'Eng\\u202elish', 'a\\x0db', 'T-\\x1b]0;title\\x07', 'M-\\x1b[1m'):
            with self.subTest(shown):
                self.assertIn(shown, result.stdout)

    def test_report_of_the_last_days_counts_only_runs_that_started_in_them(self):
        store = Store(self.db)
        for token, age_days in (('OLD', 40), ('EDGE', 29), ('NEW', 0)):
            store.add_analytics(analytics_document(token=token, machine='P-' + token))
            store.add_analytics(analytics_document(token=token, status='completed', machine='P-' + token))
            store.add_pageview(('v=1&cid=P-%s&dp=%%2FFinish&cd3=0' % token).encode())
            stamp = time.strftime('%Y-%m-%dT%H:%M:%SZ', time.gmtime(time.time() - age_days * 86400))
            with store.db.transaction() as cursor:
                cursor.execute('UPDATE analytics SET time = ? WHERE token = ?', (stamp, token))
                cursor.execute('UPDATE pageviews SET time = ? WHERE machine_id = ?', (stamp, 'P-' + token))
        store.close()
        for days, started in (('0', 3), ('30', 2), ('1', 1), ('99999999', 3)):
            with self.subTest(days=days):
                result = self.run_server(*self.target_options(self.db), '--report', '--days', days)
                self.assertEqual(result.returncode, 0, result.stderr)
                self.assertIn('runs started: %d\n' % started, result.stdout)
                self.assertRegex(result.stdout, r'installed\s+%d\s' % started)
                self.assertIn('Pageviews: %d\n' % started, result.stdout)


class MigrationTest(unittest.TestCase):
    def test_a_store_of_the_first_release_opens_with_its_rows_and_archives_intact(self):
        folder = tempfile.mkdtemp(prefix='telemetry-migrate-')
        self.addCleanup(shutil.rmtree, folder, ignore_errors=True)
        path = os.path.join(folder, 'old.db')
        old = sqlite3.connect(path)
        old.executescript(';'.join(telemetry_db.statements(telemetry_db.MIGRATIONS[0], 'sqlite')))
        first, second = zip_bytes({'installer_log_1.txt': b'one'}), zip_bytes({'installer_log_1.txt': b'two'})
        for archive in (first, second):  # the first release took any number per run
            old.execute("INSERT INTO log_uploads (time, token, machine_id, entries, size, archive) "
                        "VALUES ('2026-01-01T00:00:00Z', 'T-twice', 'M', '[]', ?, ?)", (len(archive), archive))
        old.execute("INSERT INTO pageviews (time, payload) VALUES ('2026-01-01T00:00:00Z', ?)", (b'v=1',))
        old.commit()
        old.close()
        for _ in range(2):  # opening twice migrates once
            store = Store(path)
            self.assertEqual(store.query('SELECT id, token FROM log_uploads ORDER BY id'),
                             [(1, 'T-twice'), (2, 'T-twice#2')])
            self.assertEqual((store.log_archive(1), store.log_archive(2)), (first, second))
            self.assertEqual(store.query('SELECT version FROM schema_version ORDER BY version'),
                             [(v,) for v in range(1, len(telemetry_db.MIGRATIONS) + 1)])
            self.assertEqual(store.query('SELECT payload, page FROM pageviews'), [(b'v=1', None)])
            store.close()
        store = Store(path)
        with self.assertRaises(telemetry_store.Conflict):
            store.add_log_upload(second, 'T-twice', 'M')
        store.close()


class PostgresServiceTest(PostgresTarget, ServiceTest):
    """The same endpoints with the documents in PostgreSQL."""

    def test_a_lost_database_answers_503_and_the_service_keeps_serving(self):
        import psycopg
        name = self.db.rsplit('/', 1)[1]
        self.assertEqual(self.request('POST', '/v1/logAnalytics', analytics_document())[0], 200)
        with psycopg.connect(postgres().url, autocommit=True) as conn:
            conn.execute('DROP DATABASE "%s" WITH (FORCE)' % name)
        for what, method, target, body in (
                ('analytics', 'POST', '/v1/logAnalytics', analytics_document(token='T-2')),
                ('region', 'POST', '/v1/isInEmbargoedCountry', region_document('T-2')),
                ('upload', 'PUT', '/v1/reportError?token=T-2&machineId=M', zip_bytes({'a.txt': b'x'}))):
            with self.subTest(what):
                self.assertEqual(self.request(method, target, body)[0], 503)
        self.assertEqual(self.request('POST', '/v1/logAnalytics', b'<broken')[0], 400, 'still answering')


class PostgresCommandLineTest(PostgresTarget, CommandLineTest):
    """The same report and archive commands reading PostgreSQL."""


if __name__ == '__main__':
    unittest.main()

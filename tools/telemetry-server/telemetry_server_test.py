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
import unittest
import zipfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import telemetry_server  # noqa: E402
from telemetry_store import Store  # noqa: E402

SERVER = os.path.join(HERE, 'telemetry_server.py')


def analytics_document(token='T-1', status='started', country='203', os_name='Windows 10', language='English',
                       channel='test', machine='P-001A2B3C-4D5E-001A-2B3C-4D5E001A2B3C'):
    return ('<ORVIKAnalytics><requestToken>%s</requestToken><country>%s</country><mainApp>'
            '<productId>Tessary</productId><productVersion>22.0.0.0</productVersion><channelId>%s</channelId>'
            '<installLanguage>English</installLanguage><status>%s</status><externalProperties><property>'
            '<name>propertyName1</name><value>propertyValue1</value></property></externalProperties></mainApp>'
            '<error></error><userEnvironment><OS>%s</OS><language>%s</language><architecture>x64</architecture>'
            '<defaultBrowser>Other</defaultBrowser></userEnvironment><ORVIKVersion>1.0</ORVIKVersion>'
            '<machineId>%s</machineId></ORVIKAnalytics>' % (token, country, channel, status, os_name, language,
                                                             machine)).encode('utf-8')


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


class ServiceTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.dir = tempfile.mkdtemp(prefix='telemetry-test-')
        cls.cert = os.path.join(cls.dir, 'cert.pem')
        cls.key = os.path.join(cls.dir, 'key.pem')
        subprocess.run(['openssl', 'req', '-x509', '-newkey', 'rsa:2048', '-nodes', '-days', '2', '-subj',
                        '/CN=localhost', '-addext', 'subjectAltName=DNS:localhost', '-keyout', cls.key,
                        '-out', cls.cert], check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.dir, ignore_errors=True)

    def setUp(self):
        self.db = os.path.join(self.dir, '%s.db' % self.id().rsplit('.', 1)[-1])
        self.store = Store(self.db)
        tls = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        tls.load_cert_chain(self.cert, self.key)
        options = dict(store=self.store, recorder=telemetry_server.Recorder(None), embargoed={'131'},
                       max_document=4096, max_upload=64 * 1024, quiet=True)
        self.https = telemetry_server.TelemetryServer(('127.0.0.1', 0), tls=tls, **options)
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
        stored = self.rows('SELECT token, machine_id, size, entries, archive FROM log_uploads')
        self.assertEqual(stored[0][:3], ('T-7', 'P-1&2', len(archive)))
        self.assertIn('installer_log_1.txt', stored[0][3])
        self.assertEqual(stored[0][4], archive)

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


class CommandLineTest(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix='telemetry-cli-')
        self.db = os.path.join(self.dir, 'telemetry.db')

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
        result = self.run_server('--db', self.db, '--report')
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
        self.assertEqual(self.run_server('--db', self.db, '--save-log', '1', saved).returncode, 0)
        with zipfile.ZipFile(saved) as archive:
            self.assertEqual(archive.read('installer_log_2.txt'), b'x')
        self.assertEqual(self.run_server('--db', self.db, '--save-log', '9', saved).returncode, 1)


if __name__ == '__main__':
    unittest.main()

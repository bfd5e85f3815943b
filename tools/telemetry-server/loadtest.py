#!/usr/bin/env python3
"""Load test of the telemetry service: N concurrent clients send what the
stub sends for each run (start report, region check, activity event,
pageview, end report, and for some runs a log upload), optionally beside a
hostile mix (clients trickling a byte at a time, uploads over the size
limit, malformed XML). Then it checks that every document the service
accepted is in the store exactly once, and prints documents/s and latency
percentiles with the machine's load. Bounded in runs and in seconds.

It starts everything itself: a PostgreSQL server of its own (or --db FILE
for SQLite), the service processes sharing one port, TLS with a throwaway
certificate. Exit status 0 only when nothing accepted was lost or doubled.

  loadtest.py                                   short run: PostgreSQL, 2 processes
  loadtest.py --runs 20000 --seconds 120 --clients 64 --hostile 16 --compare
"""
import argparse
import http.client
import os
import random
import resource
import shutil
import socket
import ssl
import subprocess
import sys
import tempfile
import threading
import time
import uuid
import zipfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import pg_testserver  # noqa: E402
from telemetry_store import Store  # noqa: E402

SERVER = os.path.join(HERE, 'telemetry_server.py')
OS_NAMES = ['Windows 10', 'Windows 11', 'Windows 7', 'Windows 8.1']
LANGUAGES = ['English', 'German', 'French', 'Japanese']
ENDS = ['completed'] * 7 + ['error occurred', 'canceled', 'downloaded']


def analytics(token, machine, status, channel):
    return ('<ORVIKAnalytics><requestToken>%s</requestToken><country>203</country><mainApp><productId>Load'
            '</productId><productVersion>1.0</productVersion><channelId>%s</channelId><installLanguage>%s'
            '</installLanguage><status>%s</status><externalProperties><property><name>propertyName1</name><value>'
            'propertyValue1</value></property></externalProperties></mainApp><error></error><userEnvironment><OS>%s'
            '</OS><language>English</language><architecture>x64</architecture><defaultBrowser>Other</defaultBrowser>'
            '</userEnvironment><ORVIKVersion>1.0</ORVIKVersion><machineId>%s</machineId></ORVIKAnalytics>' % (
                token, channel, random.choice(LANGUAGES), status, random.choice(OS_NAMES), machine)).encode()


def region(token, machine):
    return ('<RegionRestrictions><token>%s</token><productId>Load</productId><productVersion>1.0</productVersion>'
            '<channel>web</channel><os>Windows 10</os><machineId>%s</machineId></RegionRestrictions>' % (
                token, machine)).encode()


def activity(token, what):
    return ('<UserActivity><token>%s</token><productId>Load</productId><productVersion>1.0</productVersion>'
            '<activity>%s</activity></UserActivity>' % (token, what)).encode()


def log_archive():
    out = tempfile.SpooledTemporaryFile()
    with zipfile.ZipFile(out, 'w', zipfile.ZIP_DEFLATED) as archive:
        archive.writestr('installer_log_1.txt', ('line of a log\r\n' * 4000).encode())
    out.seek(0)
    return out.read()


class Client:
    """One honest client: a keep-alive connection per endpoint, reopened
    after an error (a stub opens one per send; a reverse proxy in front
    keeps them open to the service, which is what this measures)."""

    def __init__(self, port, collector_port, tls, fresh=False):
        self.port, self.collector_port, self.tls = port, collector_port, tls
        self.fresh = fresh
        self.conns = {}
        self.latencies = []
        self.accepted = []  # (kind, token, extra)
        self.refused = 0
        self.failed = 0
        self.names = set()  # every token and machine id this client used

    def _conn(self, collector):
        conn = self.conns.get(collector)
        if conn is None:
            if collector:
                conn = http.client.HTTPConnection('127.0.0.1', self.collector_port, timeout=30)
            else:
                conn = http.client.HTTPSConnection('localhost', self.port, timeout=30, context=self.tls)
            self.conns[collector] = conn
        return conn

    def send(self, method, target, body, kind, token, extra='', collector=False):
        began = time.monotonic()
        try:
            conn = self._conn(collector)
            conn.request(method, target, body=body, headers={'Content-Type': 'application/xml'})
            response = conn.getresponse()
            response.read()
            status = response.status
            if self.fresh or response.getheader('Connection', '').lower() == 'close':
                conn.close()
                self.conns.pop(collector, None)
        except (OSError, http.client.HTTPException):
            self.conns.pop(collector, None)
            self.failed += 1
            return
        self.latencies.append(time.monotonic() - began)
        if status == 200:
            self.accepted.append((kind, token, extra))
        else:
            self.refused += 1

    def run(self, upload_every, archive):
        token = str(uuid.uuid4()).upper()
        machine = 'P-' + str(uuid.uuid4()).upper()
        channel = 'web'
        self.names.update((token, machine))
        self.send('POST', '/v1/logAnalytics', analytics(token, machine, 'started', 'test'), 'analytics', token,
                  'started')
        self.send('POST', '/v1/isInEmbargoedCountry', region(token, machine), 'region', token)
        self.send('POST', '/v1/logUserActivity', activity(token, 'clicked install'), 'activity', token)
        end = random.choice(ENDS)
        self.send('POST', '/collect', ('v=1&cid=%s&dp=%%2FFinish&cd1=web&cd3=0' % machine).encode(), 'pageview',
                  machine, collector=True)
        self.send('POST', '/v1/logAnalytics', analytics(token, machine, end, channel), 'analytics', token, end)
        if upload_every and random.randrange(upload_every) == 0:
            self.send('PUT', '/v1/reportError?token=%s&machineId=%s' % (token, machine), archive, 'upload', token)

    def close(self):
        for conn in self.conns.values():
            conn.close()


def hostile(port, tls, stop, max_upload):
    """Cycles through the attacks until stop is set."""
    kinds = ['trickle', 'oversized', 'malformed']
    i = random.randrange(3)
    while not stop.is_set():
        kind = kinds[i % 3]
        i += 1
        try:
            raw = socket.create_connection(('127.0.0.1', port), timeout=30)
            conn = tls.wrap_socket(raw, server_hostname='localhost')
            if kind == 'trickle':
                for byte in b'POST /v1/logAnalytics HTTP/1.1\r\nHost: x\r\nContent-Length: 500\r\n\r\n':
                    if stop.wait(1.0):
                        break
                    conn.sendall(bytes([byte]))
            elif kind == 'oversized':
                conn.sendall(b'PUT /v1/reportError?token=H-%d&machineId=M HTTP/1.1\r\nHost: x\r\n'
                             b'Content-Length: %d\r\n\r\n' % (i, max_upload + 1) + os.urandom(256 * 1024))
                conn.recv(100)
            else:
                body = b'<ORVIKAnalytics><requestToken>x</requestToken><mainApp>' * 50
                conn.sendall(b'POST /v1/logAnalytics HTTP/1.1\r\nHost: x\r\nContent-Length: %d\r\n\r\n' % len(body)
                             + body)
                conn.recv(100)
            conn.close()
        except OSError:
            pass


def percentile(values, fraction):
    if not values:
        return float('nan')
    ordered = sorted(values)
    return ordered[min(len(ordered) - 1, int(fraction * len(ordered)))]


def cpu_seconds(pid):
    try:
        with open('/proc/%d/stat' % pid) as f:
            fields = f.read().rsplit(')', 1)[1].split()
        return (int(fields[11]) + int(fields[12])) / os.sysconf('SC_CLK_TCK')
    except (OSError, IndexError, ValueError):
        return 0.0


def children_cpu(parent):
    """CPU seconds of parent's direct children (PostgreSQL's backends)."""
    total = 0.0
    for name in os.listdir('/proc'):
        if name.isdigit():
            try:
                with open('/proc/%s/stat' % name) as f:
                    fields = f.read().rsplit(')', 1)[1].split()
                if int(fields[1]) == parent:
                    total += (int(fields[11]) + int(fields[12])) / os.sysconf('SC_CLK_TCK')
            except (OSError, ValueError, IndexError):
                pass
    return total


def phase(args, port, collector_port, tls, hostile_count, archive):
    """Runs the honest clients (and hostile ones); answers the clients."""
    stop = threading.Event()
    attackers = [threading.Thread(target=hostile, args=(port, tls, stop, args.max_upload))
                 for _ in range(hostile_count)]
    for thread in attackers:
        thread.start()
    clients = [Client(port, collector_port, tls, args.new_connections) for _ in range(args.clients)]
    left = [args.runs]
    lock = threading.Lock()
    deadline = time.monotonic() + args.seconds

    def work(client):
        while time.monotonic() < deadline:
            with lock:
                if left[0] <= 0:
                    break
                left[0] -= 1
            client.run(args.upload_every, archive)
        client.close()
    threads = [threading.Thread(target=work, args=(client,)) for client in clients]
    began = time.monotonic()
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    elapsed = time.monotonic() - began
    stop.set()
    for thread in attackers:
        thread.join()
    return clients, elapsed


def check_store(store, clients):
    """(lost, doubled, counted): accepted documents missing from the store or
    stored more than once. Only this run's tokens and machines count, so the
    store may hold earlier runs."""
    ours = set().union(*(client.names for client in clients))
    expected = {}
    for client in clients:
        for kind, token, extra in client.accepted:
            expected[(kind, token, extra)] = expected.get((kind, token, extra), 0) + 1
    stored = {}
    for token, status in store.query("SELECT token, status FROM analytics WHERE product = 'Load'"):
        stored[('analytics', token, status)] = stored.get(('analytics', token, status), 0) + 1
    for (token,) in store.query("SELECT token FROM region_checks WHERE product = 'Load'"):
        stored[('region', token, '')] = stored.get(('region', token, ''), 0) + 1
    for (token,) in store.query("SELECT token FROM activities WHERE product = 'Load'"):
        stored[('activity', token, '')] = stored.get(('activity', token, ''), 0) + 1
    for (machine,) in store.query('SELECT machine_id FROM pageviews'):
        stored[('pageview', machine, '')] = stored.get(('pageview', machine, ''), 0) + 1
    for (token,) in store.query('SELECT token FROM log_uploads'):
        stored[('upload', token, '')] = stored.get(('upload', token, ''), 0) + 1
    stored = {key: count for key, count in stored.items() if key[1] in ours}
    lost = sum(1 for key in expected if key not in stored)
    doubled = sum(1 for key, count in stored.items() if count > 1 or expected.get(key, 0) > 1)
    return lost, doubled, sum(expected.values())


def summary(name, clients, elapsed):
    latencies = [s for client in clients for s in client.latencies]
    documents = sum(1 for client in clients for kind, _, _ in client.accepted if kind != 'upload')
    xml = sum(1 for client in clients for kind, _, _ in client.accepted if kind in ('analytics', 'region', 'activity'))
    refused = sum(client.refused for client in clients)
    failed = sum(client.failed for client in clients)
    p50, p99 = percentile(latencies, 0.5) * 1000, percentile(latencies, 0.99) * 1000
    print('%s: %d documents in %.1f s = %.0f documents/s (%.0f XML/s), p50 %.1f ms, p99 %.1f ms, '
          '%d refused, %d failed; load %.2f' % (name, documents, elapsed, documents / elapsed, xml / elapsed,
                                                p50, p99, refused, failed, os.getloadavg()[0]))
    return p99


def make_certificate(folder):
    cert, key = os.path.join(folder, 'cert.pem'), os.path.join(folder, 'key.pem')
    subprocess.run(['openssl', 'req', '-x509', '-newkey', 'ec', '-pkeyopt', 'ec_paramgen_curve:prime256v1',
                    '-nodes', '-days', '2', '-subj', '/CN=localhost', '-addext', 'subjectAltName=DNS:localhost',
                    '-keyout', key, '-out', cert], check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return cert, key


def start_services(args, target_options, folder, cert, key):
    port, collector = pg_testserver.free_port(), pg_testserver.free_port()
    services = []
    for i in range(args.processes):
        ports = os.path.join(folder, 'ports-%d' % i)
        services.append(subprocess.Popen(
            [sys.executable, SERVER] + target_options +
            ['--bind', '127.0.0.1', '--port', str(port), '--collector-port', str(collector), '--reuse-port',
             '--cert', cert, '--key', key, '--quiet', '--port-file', ports, '--spool', folder,
             '--max-upload-bytes', str(args.max_upload), '--request-deadline', '5'] +
            (['--workers', str(args.workers)] if args.workers else []) +
            (['--profile', args.profile_dir] if args.profile_dir else []),
            stdout=subprocess.DEVNULL, stderr=open(os.path.join(folder, 'service-%d.err' % i), 'w')))
        for _ in range(400):
            if os.path.exists(ports) or services[-1].poll() is not None:
                break
            time.sleep(0.05)
        if not os.path.exists(ports):
            raise RuntimeError('service %d did not start: %s' % (
                i, open(os.path.join(folder, 'service-%d.err' % i)).read()))
    return services, port, collector


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.split('\n\n')[0],
                                     formatter_class=argparse.RawDescriptionHelpFormatter, epilog=__doc__)
    where = parser.add_mutually_exclusive_group()
    where.add_argument('--db', help='SQLite file (default: a PostgreSQL server of its own)')
    where.add_argument('--database', help='an existing PostgreSQL database to add to')
    parser.add_argument('--processes', type=int, default=2, help='service processes sharing the port (default 2)')
    parser.add_argument('--workers', type=int, help='worker threads per service process (default: the service\'s)')
    parser.add_argument('--clients', type=int, default=8, help='concurrent honest clients (default 8)')
    parser.add_argument('--runs', type=int, default=100, help='stub runs to send at most (default 100)')
    parser.add_argument('--seconds', type=float, default=30, help='stop sending after this long (default 30)')
    parser.add_argument('--upload-every', type=int, default=20, help='one run in this many uploads its logs')
    parser.add_argument('--hostile', type=int, default=0, help='hostile clients beside the honest ones')
    parser.add_argument('--compare', action='store_true',
                        help='first a clean phase, then the same with the hostile clients; compare p99')
    parser.add_argument('--max-upload', type=int, default=4 << 20, help='the services\' upload size limit')
    parser.add_argument('--new-connections', action='store_true',
                        help='a connection (and TLS handshake) per request, as the stub makes without a proxy')
    parser.add_argument('--profile', action='store_true', help='profile the services and print where time goes')
    parser.add_argument('--keep', help='leave the state (database, logs) in this folder')
    args = parser.parse_args(argv)
    args.profile_dir = None

    folder = tempfile.mkdtemp(prefix='telemetry-load-', dir=args.keep)
    postgres = None
    services = []
    try:
        if args.db:
            target = args.db
            target_options = ['--db', target]
        elif args.database:
            target = args.database
            target_options = ['--database', target]
        else:
            postgres = pg_testserver.PostgresServer(args.keep)
            target = postgres.fresh_database('load') if postgres.start() else None
            target_options = ['--database', target]
        Store(target).close()  # one migration before the processes start
        cert, key = make_certificate(folder)
        if args.profile:
            args.profile_dir = os.path.join(folder, 'profile')
            os.makedirs(args.profile_dir)
        services, port, collector = start_services(args, target_options, folder, cert, key)
        tls = ssl.create_default_context(cafile=cert)
        archive = log_archive()
        cpu_before = [cpu_seconds(s.pid) for s in services]
        pg_before = children_cpu(postgres_pid(postgres)) if postgres else 0.0
        own_before = resource.getrusage(resource.RUSAGE_SELF)
        print('load test: %d service process(es) on %s, %d clients, at most %d runs / %g s, load %.2f before' % (
            args.processes, 'PostgreSQL' if not args.db else 'SQLite', args.clients, args.runs, args.seconds,
            os.getloadavg()[0]))
        all_clients = []
        clean_p99 = None
        if args.compare:
            clients, elapsed = phase(args, port, collector, tls, 0, archive)
            clean_p99 = summary('clean', clients, elapsed)
            all_clients += clients
        clients, elapsed = phase(args, port, collector, tls, args.hostile, archive)
        p99 = summary('with %d hostile' % args.hostile if args.hostile else 'clean', clients, elapsed)
        all_clients += clients
        own_after = resource.getrusage(resource.RUSAGE_SELF)
        services_cpu = sum(cpu_seconds(s.pid) - before for s, before in zip(services, cpu_before))
        pg_cpu = (children_cpu(postgres_pid(postgres)) - pg_before) if postgres else 0.0
        own_cpu = own_after.ru_utime + own_after.ru_stime - own_before.ru_utime - own_before.ru_stime
        print('CPU seconds: service processes %.1f, PostgreSQL %.1f, load generator %.1f' % (
            services_cpu, pg_cpu, own_cpu))
        if clean_p99:
            print('hostile p99 / clean p99 = %.2f' % (p99 / clean_p99))
        if args.profile:
            stop_services(services)
            print_profile(args.profile_dir)
        store = Store(target)
        lost, doubled, accepted = check_store(store, all_clients)
        store.close()
        print('store: %d accepted documents checked, %d lost, %d stored twice' % (accepted, lost, doubled))
        return 0 if accepted and not lost and not doubled else 1
    finally:
        stop_services(services)
        if postgres:
            postgres.stop()
        if not args.keep:
            shutil.rmtree(folder, ignore_errors=True)


def stop_services(services):
    for service in services:
        if service.poll() is None:
            service.terminate()
    for service in services:
        try:
            service.wait(timeout=30)
        except subprocess.TimeoutExpired:
            service.kill()


def print_profile(folder):
    """The functions where the services' worker threads spent most time."""
    import pstats
    files = [os.path.join(folder, name) for name in os.listdir(folder)]
    if not files:
        print('profile: no worker wrote one')
        return
    stats = pstats.Stats(*files, stream=sys.stdout).strip_dirs()
    stats.files = []  # one header line per worker says nothing
    print('profile of %d worker threads (cumulative, then own time):' % len(files))
    stats.sort_stats('cumulative').print_stats(18)
    stats.sort_stats('tottime').print_stats(12)


def postgres_pid(postgres):
    try:
        with open(os.path.join(postgres.data, 'postmaster.pid')) as f:
            return int(f.readline())
    except (OSError, ValueError):
        return 0


if __name__ == '__main__':
    sys.exit(main())

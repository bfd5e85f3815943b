#!/usr/bin/env python3
"""The demo's servers on 127.0.0.1 (Python standard library, nginx):

  demo_servers.py start STATE --docroot DIR --corrupt PATH:BLOCK
                  --telemetry-port P --collector-port C --pki DIR [--watch PID]
  demo_servers.py stop STATE
  demo_servers.py free-ports N        N free ports below the ephemeral range

`start` forks a supervisor that owns three servers and writes STATE/servers.env:
- nginx with a config of ours serving DIR on a free port;
- a proxy in front of it on another free port, through which the setup
  downloads: it passes every request to nginx and every answer back, except
  that the first GET of PATH has one byte of 1 MiB block BLOCK flipped (a
  damaged transfer the block verification has to catch). It records every
  request in STATE/proxy-requests.jsonl: method, path, Range, status, body
  bytes sent and, where it flipped a byte, its offset;
- the project's telemetry service (HTTPS on P with the certificate in PKI for
  "localhost", the pageview collector on C), storing into STATE/telemetry.db.
The supervisor stops them when told to, when process PID (default: the
caller) is gone, or after an hour, so an interrupted demo leaves nothing behind.
"""
import http.client
import json
import os
import random
import signal
import socket
import subprocess
import sys
import threading
import time
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

HERE = os.path.dirname(os.path.abspath(__file__))
TELEMETRY_SERVER = os.path.join(HERE, '..', 'tools', 'telemetry-server', 'telemetry_server.py')
sys.path.insert(0, os.path.join(HERE, '..', 'tests', 'support'))
from fixture_process import alive, answers, free_port, read_env, run_supervisor  # noqa: E402
BLOCK = 1 << 20
MAX_LIFETIME_S = 3600
# Linux hands out ephemeral ports from 32768 up: ports picked below it are not
# taken by chance by the servers of a test run that ask for port 0.
FIXED_PORT_RANGE = (20000, 32000)
HOP_HEADERS = {'connection', 'keep-alive', 'proxy-connection', 'te', 'trailer', 'transfer-encoding', 'upgrade'}

NGINX_CONF = """\
{user}worker_processes 1;
daemon off;
master_process on;
pid {state}/nginx.pid;
error_log {state}/nginx-error.log warn;
events {{ worker_connections 256; }}
http {{
  default_type application/octet-stream;
  types {{ text/html html; application/javascript js; }}
  log_format record escape=none "$request_method\\t$request_uri\\t$http_range\\t$status\\t$body_bytes_sent";
  client_body_temp_path {state}/tmp/body;
  proxy_temp_path {state}/tmp/proxy;
  fastcgi_temp_path {state}/tmp/fastcgi;
  uwsgi_temp_path {state}/tmp/uwsgi;
  scgi_temp_path {state}/tmp/scgi;
  sendfile on;
  server {{
    listen 127.0.0.1:{port};
    root {docroot};
    access_log {state}/nginx-access.log record;
    etag on;
    location / {{ }}
  }}
}}
"""


def port_is_free(port):
    with socket.socket() as s:
        try:
            s.bind(('127.0.0.1', port))
            return True
        except OSError:
            return False


def free_fixed_ports(count):
    ports = []
    candidates = list(range(*FIXED_PORT_RANGE))
    random.shuffle(candidates)
    for port in candidates:
        if port_is_free(port):
            ports.append(port)
            if len(ports) == count:
                return ports
    raise SystemExit('no free ports')


class Corruption:
    """Flips one byte of block `block` of `path`, in the first GET that serves it."""

    def __init__(self, path, block):
        self.path = path
        self.offset = block * BLOCK + 4321
        self.done = False
        self.lock = threading.Lock()

    def claim(self, method, path, first, last):
        """The offset to flip in a body covering bytes first..last, or None."""
        with self.lock:
            if self.done or method != 'GET' or path != self.path or not first <= self.offset <= last:
                return None
            self.done = True
            return self.offset


def body_start(status, content_range):
    """The file offset of an answer's first body byte."""
    if status == 206 and content_range and content_range.startswith('bytes '):
        try:
            return int(content_range[6:].split('-', 1)[0])
        except ValueError:
            return 0
    return 0


class ProxyHandler(BaseHTTPRequestHandler):
    protocol_version = 'HTTP/1.1'

    def log_message(self, fmt, *args):
        pass

    def do_GET(self):
        self.forward(True)

    def do_HEAD(self):
        self.forward(False)

    def forward(self, with_body):
        upstream = http.client.HTTPConnection('127.0.0.1', self.server.upstream_port, timeout=30)
        try:
            headers = {k: v for k, v in self.headers.items() if k.lower() not in HOP_HEADERS}
            upstream.request(self.command, self.path, headers=headers)
            response = upstream.getresponse()
            length = int(response.getheader('Content-Length', '0') or 0)
            start = body_start(response.status, response.getheader('Content-Range'))
            flip = None
            if with_body and length > 0:
                flip = self.server.corruption.claim(self.command, self.path, start, start + length - 1)
            self.send_response_only(response.status, response.reason)
            for name, value in response.getheaders():
                if name.lower() not in HOP_HEADERS:
                    self.send_header(name, value)
            self.end_headers()
            sent = 0
            while with_body:
                chunk = response.read(64 * 1024)
                if not chunk:
                    break
                if flip is not None and start + sent <= flip < start + sent + len(chunk):
                    data = bytearray(chunk)
                    data[flip - start - sent] ^= 0xFF
                    chunk = bytes(data)
                self.wfile.write(chunk)
                sent += len(chunk)
            self.server.record({'method': self.command, 'path': self.path, 'range': self.headers.get('Range', ''),
                                'status': response.status, 'bytes': sent, 'flipped': flip})
        except OSError:
            self.close_connection = True
        finally:
            upstream.close()


class Proxy(ThreadingHTTPServer):
    daemon_threads = True

    def __init__(self, upstream_port, corruption, record_path):
        super().__init__(('127.0.0.1', 0), ProxyHandler)
        self.upstream_port = upstream_port
        self.corruption = corruption
        self.record_path = record_path
        self.record_lock = threading.Lock()

    def record(self, entry):
        with self.record_lock, open(self.record_path, 'a') as f:
            f.write(json.dumps(entry) + '\n')


def start_nginx(state, docroot):
    for _ in range(5):  # a port picked free may be taken before nginx binds it
        port = free_port()
        conf = os.path.join(state, 'nginx.conf')
        with open(conf, 'w') as f:
            f.write(NGINX_CONF.format(user='user root;\n' if os.geteuid() == 0 else '', state=state, port=port,
                                      docroot=docroot))
        nginx = subprocess.Popen(['nginx', '-p', state, '-c', conf], stdin=subprocess.DEVNULL,
                                 stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        for _ in range(100):
            if answers(port) or nginx.poll() is not None:
                break
            time.sleep(0.05)
        if nginx.poll() is None and answers(port):
            return nginx, port
    return None, 0


def start_telemetry(state, options):
    ports = os.path.join(state, 'telemetry-ports')
    service = subprocess.Popen(
        [sys.executable, TELEMETRY_SERVER, '--bind', '127.0.0.1', '--port', options['telemetry-port'],
         '--collector-port', options['collector-port'], '--cert', os.path.join(options['pki'], 'server.pem'),
         '--key', os.path.join(options['pki'], 'server.key'), '--db', os.path.join(state, 'telemetry.db'),
         '--port-file', ports, '--quiet'],
        stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
        stderr=open(os.path.join(state, 'telemetry.err'), 'w'))
    for _ in range(200):
        if os.path.exists(ports) or service.poll() is not None:
            break
        time.sleep(0.05)
    return service if os.path.exists(ports) else None


def stop_process(process, sig=signal.SIGTERM):
    if process is None or process.poll() is not None:
        return
    process.send_signal(sig)
    try:
        process.wait(timeout=5)
    except subprocess.TimeoutExpired:
        process.kill()
        process.wait()


def supervise(state, options, watch_pid, ready_w):
    for sub in ('body', 'proxy', 'fastcgi', 'uwsgi', 'scgi'):
        os.makedirs(os.path.join(state, 'tmp', sub), exist_ok=True)
    for name in ('proxy-requests.jsonl', 'nginx-access.log', 'telemetry.db', 'telemetry-ports'):
        try:
            os.remove(os.path.join(state, name))
        except OSError:
            pass
    open(os.path.join(state, 'proxy-requests.jsonl'), 'w').close()

    for port_name in ('telemetry-port', 'collector-port'):
        if not port_is_free(int(options[port_name])):
            os.write(ready_w, ('port %s (the demo\'s %s) is in use\n' % (options[port_name], port_name)).encode())
            return 1
    nginx, nginx_port = start_nginx(state, os.path.abspath(options['docroot']))
    if nginx is None:
        os.write(ready_w, b'nginx did not start\n')
        return 1
    path, _, block = options['corrupt'].rpartition(':')
    proxy = Proxy(nginx_port, Corruption(path, int(block)), os.path.join(state, 'proxy-requests.jsonl'))
    threading.Thread(target=proxy.serve_forever, daemon=True).start()
    service = start_telemetry(state, options)
    if service is None:
        stop_process(nginx, signal.SIGQUIT)
        os.write(ready_w, b'the telemetry service did not start (see telemetry.err)\n')
        return 1

    stopping = threading.Event()
    signal.signal(signal.SIGTERM, lambda *a: stopping.set())
    signal.signal(signal.SIGINT, lambda *a: stopping.set())
    with open(os.path.join(state, 'servers.env.tmp'), 'w') as f:
        f.write('nginx_port=%d\n' % nginx_port)
        f.write('proxy_port=%d\n' % proxy.server_address[1])
        f.write('telemetry_port=%s\n' % options['telemetry-port'])
        f.write('collector_port=%s\n' % options['collector-port'])
        f.write('telemetry_db=%s\n' % os.path.join(state, 'telemetry.db'))
        f.write('proxy_log=%s\n' % os.path.join(state, 'proxy-requests.jsonl'))
        f.write('supervisor_pid=%d\n' % os.getpid())
        f.write('nginx_pid=%d\n' % nginx.pid)
        f.write('telemetry_pid=%d\n' % service.pid)
    os.replace(os.path.join(state, 'servers.env.tmp'), os.path.join(state, 'servers.env'))
    os.write(ready_w, b'ok\n')
    os.close(ready_w)

    started = time.time()
    while not stopping.wait(0.5):
        if watch_pid and not alive(watch_pid) or time.time() - started > MAX_LIFETIME_S:
            break
        if nginx.poll() is not None or service.poll() is not None:
            break
    proxy.shutdown()
    stop_process(service)
    stop_process(nginx, signal.SIGQUIT)  # graceful: finish current answers
    return 0


def stop(state):
    env = read_env(os.path.join(state, 'servers.env'))
    for key, sig in (('supervisor_pid', signal.SIGTERM), ('telemetry_pid', signal.SIGTERM),
                     ('nginx_pid', signal.SIGQUIT)):
        pid = int(env.get(key, '0') or 0)
        if not pid or not alive(pid):
            continue
        os.kill(pid, sig)
        for _ in range(100):
            if not alive(pid):
                break
            time.sleep(0.05)
        else:
            os.kill(pid, signal.SIGKILL)
    try:
        os.remove(os.path.join(state, 'servers.env'))
    except OSError:
        pass
    return 0


def parse_options(args):
    options = {'watch': str(os.getppid())}
    for i in range(0, len(args) - 1, 2):
        if not args[i].startswith('--'):
            raise SystemExit('bad argument %s' % args[i])
        options[args[i][2:]] = args[i + 1]
    for required in ('docroot', 'corrupt', 'telemetry-port', 'collector-port', 'pki'):
        if required not in options:
            raise SystemExit('--%s is required' % required)
    return options


def start(state, options):
    state = os.path.abspath(state)
    stop(state)
    os.makedirs(state, exist_ok=True)
    message = run_supervisor(lambda ready_w: supervise(state, options, int(options['watch']), ready_w))
    if message != 'ok':
        print('demo servers: %s' % (message or 'the supervisor died'), file=sys.stderr)
        return 1
    print(open(os.path.join(state, 'servers.env')).read(), end='')
    return 0


def main(argv):
    if len(argv) == 2 and argv[0] == 'free-ports':
        print(' '.join(str(p) for p in free_fixed_ports(int(argv[1]))))
        return 0
    if len(argv) >= 2 and argv[0] == 'start':
        return start(argv[1], parse_options(argv[2:]))
    if len(argv) == 2 and argv[0] == 'stop':
        return stop(argv[1])
    print(__doc__, file=sys.stderr)
    return 2


if __name__ == '__main__':
    sys.exit(main(sys.argv[1:]))

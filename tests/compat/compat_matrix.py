#!/usr/bin/env python3
"""The download worker against servers nobody in this project wrote: Debian's
Apache httpd (stock modules, compression on; a second site with ranges off),
lighttpd, a squid caching forward proxy, and nginx with TLS (one site with a
certificate from the test CA the prefix is made to trust, one with a
self-signed certificate nobody trusts), all started here on free 127.0.0.1
ports, each case run through the worker's transfer in Wine
(compat_download.exe). Prints one line per case (result, requests, bytes the
servers sent, seconds) and fails on the first case that does not hold.

  compat_matrix.py WINE_RUN PREFIX HARNESS STATE_DIR PKI_DIR TRUST_CA_EXE
"""
import os
import shutil
import signal
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, '..', 'support'))
from fixture_process import answers, free_port  # noqa: E402

APACHE_MODULES = '/usr/lib/apache2/modules'

APACHE_CONF = """\
ServerRoot {state}
PidFile {state}/apache.pid
ErrorLog {state}/apache-error.log
LoadModule mpm_event_module {mods}/mod_mpm_event.so
LoadModule authz_core_module {mods}/mod_authz_core.so
LoadModule mime_module {mods}/mod_mime.so
LoadModule filter_module {mods}/mod_filter.so
LoadModule deflate_module {mods}/mod_deflate.so
LoadModule alias_module {mods}/mod_alias.so
LoadModule env_module {mods}/mod_env.so
LoadModule ratelimit_module {mods}/mod_ratelimit.so
User nobody
Group nogroup
ServerName compat.test
Listen 127.0.0.1:{port}
Listen 127.0.0.1:{norange_port}
TypesConfig /etc/mime.types
LogFormat "%r\\t%{{Range}}i\\t%{{If-Range}}i\\t%>s\\t%O" record
CustomLog {state}/apache-access.log record
DocumentRoot {docroot}
<Directory {docroot}>
  Require all granted
</Directory>
# What Debian's deflate.conf enables.
AddOutputFilterByType DEFLATE text/html text/plain text/xml text/css text/javascript application/javascript application/xml
{hops}RedirectMatch 302 ^/loop/(.*)$ /loop/$1
# The same files at 8 MiB/s, so that a run can be killed part way.
Alias /slow/ {docroot}/
<Location /slow/>
  SetOutputFilter RATE_LIMIT
  SetEnv rate-limit 8192
</Location>
<VirtualHost 127.0.0.1:{norange_port}>
  MaxRanges none
</VirtualHost>
"""

# /hop/N/NAME redirects to /hop/N-1/NAME, /hop/0/NAME to /NAME.
HOP_RULES = ''.join('RedirectMatch 302 ^/hop/%d/(.*)$ /%s$1\n' % (n, 'hop/%d/' % (n - 1) if n else '')
                    for n in range(13))

LIGHTTPD_CONF = """\
server.document-root = "{docroot}"
server.bind = "127.0.0.1"
server.port = {port}
server.pid-file = "{state}/lighttpd.pid"
server.errorlog = "{state}/lighttpd-error.log"
server.username = "nobody"
server.groupname = "nogroup"
server.modules += ( "mod_accesslog" )
accesslog.filename = "{state}/lighttpd-access.log"
accesslog.format = "%r\\t%{{Range}}i\\t%{{If-Range}}i\\t%>s\\t%O"
mimetype.assign = ( ".txt" => "text/plain", "" => "application/octet-stream" )
"""

SQUID_CONF = """\
http_port 127.0.0.1:{port}
pid_filename {state}/squid.pid
cache_effective_user nobody
cache_log {state}/squid-cache.log
access_log stdio:{state}/squid-access.log squid
logfile_rotate 0
coredump_dir {state}
cache_mem 64 MB
maximum_object_size_in_memory 16 MB
cache deny !localhost
acl localhost src 127.0.0.1/32
http_access allow localhost
http_access deny all
# Keep what it fetched fresh for an hour: only a request that asks past the
# cache (no-cache) reaches the origin again.
refresh_pattern . 60 100% 600
shutdown_lifetime 1 seconds
"""


# TLS on "localhost" (Wine refuses name checks against 127.0.0.1). The error
# log at "info" level notes each connection a client closed: the matrix
# counts the untrusted site's.
NGINX_TLS_CONF = """\
{user}worker_processes 1;
daemon off;
master_process on;
pid {state}/nginx.pid;
error_log {state}/nginx-error.log info;
events {{ worker_connections 64; }}
http {{
  default_type application/octet-stream;
  log_format record "$request\\t$http_range\\t$http_if_range\\t$status\\t$bytes_sent";
  client_body_temp_path {state}/nginx-tmp;
  proxy_temp_path {state}/nginx-tmp;
  fastcgi_temp_path {state}/nginx-tmp;
  uwsgi_temp_path {state}/nginx-tmp;
  scgi_temp_path {state}/nginx-tmp;
  server {{
    listen 127.0.0.1:{port} ssl;
    server_name localhost;
    ssl_certificate {pki}/server.pem;
    ssl_certificate_key {pki}/server.key;
    root {docroot};
    access_log {state}/nginx-tls-access.log record;
  }}
  server {{
    listen 127.0.0.1:{untrusted_port} ssl;
    server_name localhost;
    ssl_certificate {state}/untrusted.pem;
    ssl_certificate_key {state}/untrusted.key;
    root {docroot};
    access_log {state}/nginx-untrusted-access.log record;
  }}
}}
"""


def noisy(size):
    return os.urandom(size)


def make_meta(data):
    import hashlib
    meta = len(data).to_bytes(8, 'little')
    for at in range(0, len(data), 1 << 20):
        meta += hashlib.sha1(data[at:at + (1 << 20)]).digest()
    return meta


class Matrix:
    def __init__(self, wine_run, prefix, harness, state, pki, trust_ca):
        self.wine_run, self.prefix, self.harness, self.state = wine_run, prefix, harness, state
        self.pki, self.trust_ca = os.path.abspath(pki), trust_ca
        self.docroot = os.path.join(state, 'docroot')
        self.procs = []
        self.failures = []

    # -- servers ---------------------------------------------------------------
    def start(self):
        shutil.rmtree(self.state, ignore_errors=True)
        os.makedirs(self.docroot)
        os.chmod(self.state, 0o777)
        self.apache_port, self.norange_port = free_port(), free_port()
        self.lighttpd_port, self.squid_port = free_port(), free_port()
        self.tls_port, self.untrusted_port = free_port(), free_port()
        self.start_tls()
        with open(os.path.join(self.state, 'apache.conf'), 'w') as f:
            f.write(APACHE_CONF.format(state=self.state, mods=APACHE_MODULES, port=self.apache_port,
                                       norange_port=self.norange_port, docroot=self.docroot, hops=HOP_RULES))
        with open(os.path.join(self.state, 'lighttpd.conf'), 'w') as f:
            f.write(LIGHTTPD_CONF.format(state=self.state, port=self.lighttpd_port, docroot=self.docroot))
        with open(os.path.join(self.state, 'squid.conf'), 'w') as f:
            f.write(SQUID_CONF.format(state=self.state, port=self.squid_port))
        env = dict(os.environ, APACHE_RUN_DIR=self.state, APACHE_LOCK_DIR=self.state, APACHE_LOG_DIR=self.state)
        self.procs.append(subprocess.Popen(['apache2', '-f', os.path.join(self.state, 'apache.conf'), '-DFOREGROUND'],
                                           env=env))
        self.procs.append(subprocess.Popen(['lighttpd', '-D', '-f', os.path.join(self.state, 'lighttpd.conf')]))
        self.procs.append(subprocess.Popen(['squid', '-N', '-f', os.path.join(self.state, 'squid.conf')],
                                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL))
        deadline = time.time() + 20
        for port in (self.apache_port, self.norange_port, self.lighttpd_port, self.squid_port, self.tls_port,
                     self.untrusted_port):
            while not answers(port):
                if time.time() > deadline:
                    raise SystemExit('compat: a server did not start on %d' % port)
                time.sleep(0.1)

    def start_tls(self):
        # The prefix trusts the test CA (as for the telemetry tests); the
        # untrusted site's certificate is made here, self-signed.
        ca = 'Z:' + os.path.join(self.pki, 'ca.der').replace('/', '\\')
        if subprocess.run(['bash', self.wine_run, self.prefix, self.trust_ca, ca], stdout=subprocess.DEVNULL,
                          stderr=subprocess.DEVNULL).returncode != 0:
            raise SystemExit('compat: the prefix could not be made to trust the test CA')
        subprocess.run(['openssl', 'req', '-x509', '-newkey', 'rsa:2048', '-nodes', '-days', '30', '-subj',
                        '/CN=localhost', '-addext', 'subjectAltName=DNS:localhost', '-keyout',
                        os.path.join(self.state, 'untrusted.key'), '-out', os.path.join(self.state, 'untrusted.pem')],
                       check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.makedirs(os.path.join(self.state, 'nginx-tmp'))
        conf = os.path.join(self.state, 'nginx-tls.conf')
        with open(conf, 'w') as f:
            f.write(NGINX_TLS_CONF.format(user='user root;\n' if os.geteuid() == 0 else '', state=self.state,
                                          port=self.tls_port, untrusted_port=self.untrusted_port, pki=self.pki,
                                          docroot=self.docroot))
        self.procs.append(subprocess.Popen(['nginx', '-p', self.state, '-c', conf], stdin=subprocess.DEVNULL,
                                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL))

    def untrusted_connections(self):
        # The client refuses the certificate after the handshake and closes;
        # nginx notes every connection it closed ("info" level).
        port = 'server: 127.0.0.1:%d' % self.untrusted_port
        return sum(1 for line in self.log_lines('nginx-error.log') if 'client closed connection' in line and port in line)

    def stop(self):
        for proc in self.procs:
            if proc.poll() is None:
                proc.send_signal(signal.SIGTERM)
        for proc in self.procs:
            try:
                proc.wait(timeout=10)
            except subprocess.TimeoutExpired:
                proc.kill()

    # -- cases -----------------------------------------------------------------
    def publish(self, name, data, meta=True):
        with open(os.path.join(self.docroot, name), 'wb') as f:
            f.write(data)
        if meta:
            with open(os.path.join(self.docroot, name + '.meta'), 'wb') as f:
                f.write(make_meta(data))

    def log_lines(self, log):
        path = os.path.join(self.state, log)
        if not os.path.exists(path):
            return []
        with open(path, errors='replace') as f:
            return f.read().splitlines()

    def run(self, url, target, mode, env=None, kill_after=None):
        win_target = 'Z:' + target.replace('/', '\\\\')
        cmd = ['bash', self.wine_run, self.prefix, self.harness, url, win_target, mode, '50']
        started = time.time()
        proc = subprocess.Popen(cmd, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True,
                                env=dict(os.environ, **(env or {})))
        if kill_after is not None:
            time.sleep(kill_after)
            proc.kill()
            proc.wait()
            return None, time.time() - started, 0
        out, _ = proc.communicate(timeout=120)
        fields = dict(part.split('=', 1) for part in out.split() if '=' in part)
        return int(fields.get('code', '-1')), float(fields.get('seconds', '0')), int(fields.get('total', '0'))

    def case(self, label, log, needle, url, target, mode, expect_code, expect_data=None, env=None, check=None,
             max_sent=None):
        before = [l for l in self.log_lines(log) if needle in l]
        if os.path.exists(target) and expect_data is not None and check != 'keep':
            os.remove(target)
        code, seconds, total = self.run(url, target, mode, env=env)
        time.sleep(0.3)  # a server logs a request once its answer is out
        lines = [l for l in self.log_lines(log) if needle in l][len(before):]
        sent = 0
        for line in lines:
            fields = line.split()
            # squid's native format has the bytes fifth; the others' last.
            size = fields[4] if log.startswith('squid') and len(fields) > 4 else (fields[-1] if fields else '0')
            sent += int(size) if size.isdigit() else 0
        ok = code == expect_code and (max_sent is None or sent <= max_sent)
        if ok and expect_data is not None:
            with open(target, 'rb') as f:
                ok = f.read() == expect_data
        # lighttpd buffers its access log until it stops: no counts from it.
        counted = not log.startswith('lighttpd')
        print('%-46s code=%-2s requests=%-3s bytes_sent=%-10s seconds=%.2f %s' %
              (label, code, len(lines) if counted else '-', sent if counted else '-', seconds,
               'ok' if ok else 'FAILED'))
        sys.stdout.flush()
        if not ok:
            self.failures.append(label)
        return lines, total

    def matrix(self):
        a = 'http://127.0.0.1:%d' % self.apache_port
        n = 'http://127.0.0.1:%d' % self.norange_port
        l = 'http://127.0.0.1:%d' % self.lighttpd_port
        work = os.path.join(self.state, 'targets')
        os.makedirs(work)
        big = noisy(6 * 1048576 + 123)
        huge = noisy(32 * 1048576 + 5)
        text = (b'component list line, compressible by any server\n' * 40000)[:1500000]
        self.publish('big.bin', big)
        self.publish('list.txt', text)
        self.publish('huge.bin', huge)
        t = lambda name: os.path.join(work, name)  # noqa: E731

        self.case('apache plain', 'apache-access.log', '/big.bin', a + '/big.bin', t('a1'), 'plain', 0, big)
        self.case('apache verified', 'apache-access.log', '/big.bin', a + '/big.bin', t('a2'), 'verified', 0, big)
        self.case('apache verified, query kept', 'apache-access.log', '/big.bin', a + '/big.bin?sig=x.y', t('a3'),
                  'verified', 0, big)
        self.case('apache compressed text, verified', 'apache-access.log', '/list.txt', a + '/list.txt', t('a4'),
                  'verified', 0, text)
        self.case('apache compressed text, plain with CRC', 'apache-access.log', '/list.txt', a + '/list.txt',
                  t('a5'), 'crc', 0, text)
        self.case('apache redirect chain (3 hops), verified', 'apache-access.log', '/hop/', a + '/hop/2/big.bin',
                  t('a6'), 'verified', 0, big)
        self.case('apache redirect chain (10 hops), plain', 'apache-access.log', '/hop/', a + '/hop/9/big.bin',
                  t('a9'), 'plain', 0, big)
        self.case('apache redirect chain (11 hops), verified', 'apache-access.log', '/hop/', a + '/hop/10/big.bin',
                  t('a10'), 'verified', 4)
        self.case('apache redirect loop, verified', 'apache-access.log', '/loop/', a + '/loop/big.bin', t('a7'),
                  'verified', 4)
        self.case('apache redirect loop, plain', 'apache-access.log', '/loop/', a + '/loop/big.bin', t('a8'),
                  'plain', 4)
        # A partial file (a killed run) resumed against ranges off: one whole body.
        with open(t('n1'), 'wb') as f:
            f.write(big[:3 * 1048576 + 5000])
        self.case('apache MaxRanges none, resume', 'apache-access.log', '/big.bin', n + '/big.bin', t('n1'),
                  'verified', 0, big, check='keep')
        self.case('lighttpd plain', 'lighttpd-access.log', '/big.bin', l + '/big.bin', t('l1'), 'plain', 0, big)
        self.case('lighttpd verified', 'lighttpd-access.log', '/big.bin', l + '/big.bin', t('l2'), 'verified', 0, big)
        # Kill a verified run part way, then run again: it resumes.
        self.run(a + '/slow/huge.bin', t('k1'), 'verified', kill_after=2.5)
        self.case('apache verified, resumed after a kill', 'apache-access.log', ' /huge.bin', a + '/huge.bin',
                  t('k1'), 'verified', 0, huge, check='keep', max_sent=len(huge) - 1048576)
        # Behind the caching proxy: a file and its meta replaced at the same URL.
        proxy = {'http_proxy': 'http://127.0.0.1:%d' % self.squid_port}
        old = noisy(2 * 1048576 + 77)
        self.publish('swap.bin', old)
        self.case('squid verified (old release)', 'squid-access.log', '/swap.bin', a + '/swap.bin', t('s1'),
                  'verified', 0, old, env=proxy)
        new = noisy(2 * 1048576 + 77)
        self.publish('swap.bin', new)
        self.case('squid verified (replaced behind the proxy)', 'squid-access.log', '/swap.bin', a + '/swap.bin',
                  t('s2'), 'verified', 0, new, env=proxy)
        self.case('squid plain (replaced behind the proxy)', 'squid-access.log', '/swap.bin', a + '/swap.bin',
                  t('s3'), 'plain', 0, new, env=proxy)
        # nginx with TLS: a certificate the prefix trusts, then one it does not
        # (the single refusal code on both paths, no file, not retried).
        h = 'https://localhost:%d' % self.tls_port
        u = 'https://localhost:%d' % self.untrusted_port
        self.case('nginx TLS plain', 'nginx-tls-access.log', '/big.bin', h + '/big.bin', t('h1'), 'plain', 0, big)
        self.case('nginx TLS verified', 'nginx-tls-access.log', '/big.bin', h + '/big.bin', t('h2'), 'verified', 0,
                  big)
        for mode, target in (('plain', t('u1')), ('verified', t('u2'))):
            before = self.untrusted_connections()
            self.case('nginx TLS untrusted certificate, ' + mode, 'nginx-untrusted-access.log', '/big.bin',
                      u + '/big.bin', target, mode, 4)
            time.sleep(0.3)
            connections = self.untrusted_connections() - before
            print('%-46s connections=%d file left=%s' % ('', connections, os.path.exists(target)))
            # One attempt: WinINet opens two connections for it (the second
            # handshake without its session cache); ten attempts would be 20.
            if os.path.exists(target) or not 1 <= connections <= 2:
                self.failures.append('nginx TLS untrusted certificate, %s: retried or left a file' % mode)


def main():
    if len(sys.argv) != 7:
        raise SystemExit(__doc__)
    matrix = Matrix(*sys.argv[1:])
    started = time.time()
    try:
        matrix.start()
        matrix.matrix()
    finally:
        matrix.stop()
    print('matrix: %.1f s, load %s' % (time.time() - started, open('/proc/loadavg').read().split()[0]))
    if matrix.failures:
        raise SystemExit('compat: failed: ' + ', '.join(matrix.failures))


if __name__ == '__main__':
    main()

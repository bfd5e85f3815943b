"""A throwaway PostgreSQL server for the tests and the load test: its own
data folder, a free port on 127.0.0.1, trust authentication for local
connections only, stopped (and its folder removed) by stop().

initdb refuses to run as root, so as root the server runs as the
unprivileged user 'nobody', in a folder that user owns.
"""
import os
import pwd
import shutil
import socket
import subprocess
import tempfile

BIN_DIRS = ['/usr/lib/postgresql/%d/bin' % v for v in range(20, 12, -1)]
SUPERUSER = 'telemetry'


def tool(name):
    for folder in BIN_DIRS:
        path = os.path.join(folder, name)
        if os.access(path, os.X_OK):
            return path
    found = shutil.which(name)
    if not found:
        raise RuntimeError('%s not found: install the postgresql package (scripts/setup.sh)' % name)
    return found


def free_port():
    with socket.socket() as s:
        s.bind(('127.0.0.1', 0))
        return s.getsockname()[1]


class PostgresServer:
    def __init__(self, parent=None):
        self.user = 'nobody' if os.geteuid() == 0 else None
        if parent:
            os.makedirs(parent, exist_ok=True)
        self.folder = tempfile.mkdtemp(prefix='pg-', dir=parent)
        self.data = os.path.join(self.folder, 'data')
        self.port = free_port()
        self.url = 'postgresql://%s@127.0.0.1:%d/postgres' % (SUPERUSER, self.port)
        self.started = False

    def _run(self, argv, **kwargs):
        if self.user:
            argv = ['runuser', '-u', self.user, '--'] + argv
        return subprocess.run(argv, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True, **kwargs)

    def start(self):
        if self.user:
            entry = pwd.getpwnam(self.user)
            os.chown(self.folder, entry.pw_uid, entry.pw_gid)
            # The user must be able to reach its folder through the parents.
            os.chmod(self.folder, 0o700)
        done = self._run([tool('initdb'), '-D', self.data, '-U', SUPERUSER, '--auth=trust', '-E', 'UTF8',
                          '--no-sync'], timeout=120)
        if done.returncode:
            raise RuntimeError('initdb failed: %s' % done.stdout)
        options = ('-c listen_addresses=127.0.0.1 -p %d -k %s -c fsync=off -c synchronous_commit=off '
                   '-c full_page_writes=off -c max_connections=200' % (self.port, self.folder))
        done = self._run([tool('pg_ctl'), '-D', self.data, '-l', os.path.join(self.folder, 'server.log'),
                          '-o', options, '-w', '-t', '60', 'start'], timeout=90)
        if done.returncode:
            log = ''
            try:
                with open(os.path.join(self.folder, 'server.log')) as f:
                    log = f.read()[-2000:]
            except OSError:
                pass
            raise RuntimeError('pg_ctl start failed: %s %s' % (done.stdout, log))
        self.started = True
        return self.url

    def fresh_database(self, name):
        """A new empty database on this server; answers its URL."""
        import psycopg
        with psycopg.connect(self.url, autocommit=True) as conn:
            conn.execute('DROP DATABASE IF EXISTS "%s"' % name)
            conn.execute('CREATE DATABASE "%s"' % name)
        return 'postgresql://%s@127.0.0.1:%d/%s' % (SUPERUSER, self.port, name)

    def stop(self):
        if self.started:
            self._run([tool('pg_ctl'), '-D', self.data, '-m', 'immediate', '-w', 'stop'], timeout=60)
            self.started = False
        shutil.rmtree(self.folder, ignore_errors=True)

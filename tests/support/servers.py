#!/usr/bin/env python3
"""Starts and stops the test servers: nginx with a config of ours and the
fault-injecting server, both on free 127.0.0.1 ports.

  servers.py start STATE_DIR   start (stopping an earlier set first), wait
                               until both answer, write STATE_DIR/servers.env
  servers.py stop STATE_DIR    stop them by PID

A supervisor process owns both servers. It stops them when told to, and also
by itself when the process that started it (CTest) is gone or after a maximum
lifetime, so a killed test run leaves nothing behind.
"""
import os
import signal
import subprocess
import sys
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import fault_server  # noqa: E402
from fixture_process import alive, answers, free_port, read_env, run_supervisor, terminate  # noqa: E402

MAX_LIFETIME_S = 3 * 3600

NGINX_CONF = """\
{user}worker_processes 2;
daemon off;
master_process on;
pid {state}/nginx.pid;
error_log {state}/nginx-error.log warn;
events {{ worker_connections 512; }}
http {{
  default_type application/octet-stream;
  log_format record escape=none "$request_method\\t$request_uri\\t$http_range\\t$http_if_range\\t$status\\t$connection";
  access_log off;
  client_body_temp_path {state}/tmp/body;
  proxy_temp_path {state}/tmp/proxy;
  fastcgi_temp_path {state}/tmp/fastcgi;
  uwsgi_temp_path {state}/tmp/uwsgi;
  scgi_temp_path {state}/tmp/scgi;
  sendfile on;
  keepalive_requests 100000;
  server {{
    listen 127.0.0.1:{port};
    root {docroot};
    access_log {state}/nginx-access.log record;
    etag on;
    location / {{ }}
  }}
}}
"""


def stop(state):
    env = read_env(os.path.join(state, 'servers.env'))
    terminate(int(env.get('supervisor_pid', '0') or 0))
    # The supervisor stops nginx; if it was killed hard, do it here.
    nginx = int(env.get('nginx_pid', '0') or 0)
    if nginx and alive(nginx):
        os.kill(nginx, signal.SIGQUIT)
    if env.get('small_dir') and os.path.ismount(env['small_dir']):
        subprocess.call(['umount', '-l', env['small_dir']], stdout=subprocess.DEVNULL,
                        stderr=subprocess.DEVNULL)
    try:
        os.remove(os.path.join(state, 'servers.env'))
    except OSError:
        pass
    return 0


def supervise(state, watch_pid, ready_w):
    docroot = os.path.join(state, 'docroot')
    fault_record = os.path.join(state, 'fault-requests.log')
    nginx_log = os.path.join(state, 'nginx-access.log')
    for name in (fault_record, nginx_log):
        open(name, 'w').close()
    for sub in ('body', 'proxy', 'fastcgi', 'uwsgi', 'scgi'):
        os.makedirs(os.path.join(state, 'tmp', sub), exist_ok=True)

    fault = fault_server.make_server(0, docroot, fault_record)
    threading.Thread(target=fault.serve_forever, daemon=True).start()

    nginx = None
    for _ in range(5):  # a port picked free may be taken before nginx binds it
        port = free_port()
        conf = os.path.join(state, 'nginx.conf')
        with open(conf, 'w') as f:
            f.write(NGINX_CONF.format(user='user root;\n' if os.geteuid() == 0 else '',
                                      state=state, port=port, docroot=docroot))
        nginx = subprocess.Popen(['nginx', '-p', state, '-c', conf],
                                 stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                 stderr=subprocess.DEVNULL)
        for _ in range(100):
            if answers(port) or nginx.poll() is not None:
                break
            time.sleep(0.05)
        if nginx.poll() is None and answers(port):
            break
        nginx = None
    if nginx is None:
        os.write(ready_w, b'nginx did not start\n')
        return 1

    stopping = threading.Event()
    signal.signal(signal.SIGTERM, lambda *a: stopping.set())
    signal.signal(signal.SIGINT, lambda *a: stopping.set())

    # A 1 MiB file system for disk-full tests, where mounting is allowed.
    small = os.path.join(state, 'small')
    os.makedirs(small, exist_ok=True)
    small_ok = subprocess.call(['mount', '-t', 'tmpfs', '-o', 'size=1m,mode=0777', 'stubsmall', small],
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL) == 0

    with open(os.path.join(state, 'servers.env.tmp'), 'w') as f:
        f.write('nginx_port=%d\n' % port)
        f.write('fault_port=%d\n' % fault.server_address[1])
        f.write('docroot=%s\n' % docroot)
        f.write('nginx_log=%s\n' % nginx_log)
        f.write('fault_log=%s\n' % fault_record)
        f.write('supervisor_pid=%d\n' % os.getpid())
        f.write('nginx_pid=%d\n' % nginx.pid)
        f.write('small_dir=%s\n' % (small if small_ok else ''))
    os.replace(os.path.join(state, 'servers.env.tmp'), os.path.join(state, 'servers.env'))
    os.write(ready_w, b'ok\n')
    os.close(ready_w)

    started = time.time()
    while not stopping.wait(0.5):
        if watch_pid and not alive(watch_pid):
            break
        if time.time() - started > MAX_LIFETIME_S or nginx.poll() is not None:
            break
    nginx.send_signal(signal.SIGQUIT)  # graceful: finish current responses
    try:
        nginx.wait(timeout=5)
    except subprocess.TimeoutExpired:
        nginx.kill()
        nginx.wait()
    fault.shutdown()
    if small_ok:
        subprocess.call(['umount', '-l', small], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return 0


def start(state):
    state = os.path.abspath(state)
    stop(state)
    os.makedirs(os.path.join(state, 'docroot'), exist_ok=True)
    watch_pid = os.getppid()
    message = run_supervisor(lambda ready_w: supervise(state, watch_pid, ready_w))
    if message != 'ok':
        print('test servers failed: %s' % (message or 'supervisor died'), file=sys.stderr)
        return 1
    print(open(os.path.join(state, 'servers.env')).read(), end='')
    return 0


def main():
    if len(sys.argv) != 3 or sys.argv[1] not in ('start', 'stop'):
        print(__doc__, file=sys.stderr)
        return 2
    return start(sys.argv[2]) if sys.argv[1] == 'start' else stop(sys.argv[2])


if __name__ == '__main__':
    sys.exit(main())

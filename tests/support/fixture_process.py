"""What the test-server fixtures share: a free loopback port, whether a
process lives, reading a KEY=VALUE state file, and ending a process by PID."""
import os
import signal
import socket
import time


def free_port():
    with socket.socket() as s:
        s.bind(('127.0.0.1', 0))
        return s.getsockname()[1]


def alive(pid):
    try:
        os.kill(pid, 0)
        return True
    except OSError:
        return False


def read_env(path):
    env = {}
    try:
        with open(path) as f:
            for line in f:
                if '=' in line:
                    key, value = line.rstrip('\n').split('=', 1)
                    env[key] = value
    except OSError:
        pass
    return env


def terminate(pid, wait_s=5.0):
    """SIGTERM, then SIGKILL if the process is still there after wait_s."""
    if not pid or not alive(pid):
        return
    os.kill(pid, signal.SIGTERM)
    deadline = time.time() + wait_s
    while time.time() < deadline:
        if not alive(pid):
            return
        time.sleep(0.05)
    os.kill(pid, signal.SIGKILL)


def answers(port):
    try:
        with socket.create_connection(('127.0.0.1', port), timeout=0.5):
            return True
    except OSError:
        return False


def run_supervisor(supervise):
    """Forks a supervisor in a session of its own, its standard streams on
    /dev/null, and calls supervise(ready_w) there; returns the first line it
    writes to ready_w ('ok' when everything started), or '' if it died first."""
    ready_r, ready_w = os.pipe()
    pid = os.fork()
    if pid == 0:
        os.close(ready_r)
        os.setsid()
        devnull = os.open(os.devnull, os.O_RDWR)
        for fd in (0, 1, 2):
            os.dup2(devnull, fd)
        code = 1
        try:
            code = supervise(ready_w)
        finally:
            os._exit(code)
    os.close(ready_w)
    with os.fdopen(ready_r) as ready:
        return ready.readline().strip()

"""What the test-server fixtures share: a free loopback port, whether a
process lives, reading a KEY=VALUE state file, ending a process by PID, and
the start/supervise/stop life of a fixture's server."""
import os
import signal
import socket
import subprocess
import sys
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


MAX_LIFETIME_S = 3 * 3600


def supervise_server(server, ports, env_path, extra_lines, watch_pid, ready_w, what):
    """The supervisor's life with one server: waits for the server to write
    its ports file, writes env_path (the ports, extra_lines, both PIDs),
    reports 'ok' on ready_w, then stops the server when told to (SIGTERM),
    when watch_pid is gone, when the server dies, or after three hours."""
    for _ in range(200):
        if os.path.exists(ports) or server.poll() is not None:
            break
        time.sleep(0.05)
    if not os.path.exists(ports):
        os.write(ready_w, ('%s did not start\n' % what).encode())
        server.kill()
        return 1
    stopping = []
    signal.signal(signal.SIGTERM, lambda *a: stopping.append(1))
    with open(ports) as f:
        listening = f.read()
    with open(env_path + '.tmp', 'w') as f:
        f.write(listening)
        f.write(extra_lines)
        f.write('supervisor_pid=%d\nserver_pid=%d\n' % (os.getpid(), server.pid))
    os.replace(env_path + '.tmp', env_path)
    os.write(ready_w, b'ok\n')
    os.close(ready_w)
    started = time.time()
    while not stopping and server.poll() is None:
        if watch_pid and not alive(watch_pid) or time.time() - started > MAX_LIFETIME_S:
            break
        time.sleep(0.5)
    server.terminate()
    try:
        server.wait(timeout=5)
    except subprocess.TimeoutExpired:
        server.kill()
    return 0


def stop_fixture(env_path):
    """Ends the supervisor and the server a state file names, then removes it."""
    env = read_env(env_path)
    for key in ('supervisor_pid', 'server_pid'):
        terminate(int(env.get(key, '0') or 0))
    try:
        os.remove(env_path)
    except OSError:
        pass
    return 0


def fixture_main(argv, usage, env_name, supervise, what):
    """`start STATE_DIR PKI_DIR` / `stop STATE_DIR` for a fixture whose
    supervise(state, pki, watch_pid, ready_w) starts its server; start prints
    the state file it wrote. The caller (the CTest process) is watched."""
    if len(argv) == 4 and argv[1] == 'start':
        state = os.path.abspath(argv[2])
        env_path = os.path.join(state, env_name)
        stop_fixture(env_path)
        os.makedirs(state, exist_ok=True)
        watch_pid = os.getppid()
        pki = os.path.abspath(argv[3])
        message = run_supervisor(lambda ready_w: supervise(state, pki, watch_pid, ready_w))
        if message != 'ok':
            print('%s failed: %s' % (what, message or 'supervisor died'), file=sys.stderr)
            return 1
        with open(env_path) as f:
            print(f.read(), end='')
        return 0
    if len(argv) == 3 and argv[1] == 'stop':
        return stop_fixture(os.path.join(os.path.abspath(argv[2]), env_name))
    print(usage, file=sys.stderr)
    return 2

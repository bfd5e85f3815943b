#!/usr/bin/env python3
"""Starts and stops the telemetry service for the tests: HTTPS on a free
127.0.0.1 port with the test certificate for "localhost", the pageview
collector on another, a fresh database and a record of every request.

  telemetry_fixture.py start STATE_DIR PKI_DIR   writes STATE_DIR/service.env
  telemetry_fixture.py stop STATE_DIR

service.env names the ports, a port nothing listens on (for tests of a
stopped service) and the record file. A supervisor owns the service and stops
it when told to, when the CTest process that started it is gone, or after
three hours, so an interrupted run leaves nothing behind.
"""
import os
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, '..', 'support'))
from fixture_process import fixture_main, free_port, supervise_server  # noqa: E402

SERVER = os.path.join(HERE, '..', '..', 'tools', 'telemetry-server', 'telemetry_server.py')
# The country ids the test service embargoes.
EMBARGOED = '131,99999'


def supervise(state, pki, watch_pid, ready_w):
    for name in ('telemetry.db', 'requests.log', 'ports'):
        try:
            os.remove(os.path.join(state, name))
        except OSError:
            pass
    open(os.path.join(state, 'requests.log'), 'w').close()
    ports = os.path.join(state, 'ports')
    server = subprocess.Popen(
        [sys.executable, SERVER, '--bind', '127.0.0.1', '--port', '0', '--collector-port', '0',
         '--cert', os.path.join(pki, 'server.pem'), '--key', os.path.join(pki, 'server.key'),
         '--db', os.path.join(state, 'telemetry.db'), '--record', os.path.join(state, 'requests.log'),
         '--embargoed', EMBARGOED, '--port-file', ports, '--quiet'],
        stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=open(os.path.join(state, 'server.err'), 'w'))
    extra = 'dead_port=%d\nrecord=%s\nembargoed=%s\n' % (free_port(), os.path.join(state, 'requests.log'), EMBARGOED)
    return supervise_server(server, ports, os.path.join(state, 'service.env'), extra, watch_pid, ready_w,
                            'the telemetry service')


if __name__ == '__main__':
    sys.exit(fixture_main(sys.argv, __doc__, 'service.env', supervise, 'telemetry service'))

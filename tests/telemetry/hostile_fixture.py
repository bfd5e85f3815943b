#!/usr/bin/env python3
"""Starts and stops the hostile services (hostile_service.py) for the
deadline tests, on free 127.0.0.1 ports with the telemetry tests' certificate.

  hostile_fixture.py start STATE_DIR PKI_DIR   writes STATE_DIR/hostile.env
  hostile_fixture.py stop STATE_DIR

hostile.env names each behaviour's port, the record file and the seconds a
connection is held. A supervisor owns the server and stops it when told to,
when the CTest process that started it is gone, or after three hours.
"""
import os
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, '..', 'support'))
from fixture_process import fixture_main, supervise_server  # noqa: E402

SERVER = os.path.join(HERE, 'hostile_service.py')
# Longer than any deadline, so that only the client's own deadline ends a request.
HOLD_S = 40
TRICKLE_MS = 2000


def supervise(state, pki, watch_pid, ready_w):
    ports = os.path.join(state, 'ports')
    record = os.path.join(state, 'record.log')
    for path in (ports, record):
        try:
            os.remove(path)
        except OSError:
            pass
    open(record, 'w').close()
    server = subprocess.Popen(
        [sys.executable, SERVER, '--pki', pki, '--port-file', ports, '--record', record,
         '--hold', str(HOLD_S), '--trickle-ms', str(TRICKLE_MS)],
        stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=open(os.path.join(state, 'server.err'), 'w'))
    extra = 'record=%s\nhold_s=%d\ntrickle_ms=%d\n' % (record, HOLD_S, TRICKLE_MS)
    return supervise_server(server, ports, os.path.join(state, 'hostile.env'), extra, watch_pid, ready_w,
                            'the hostile services')


if __name__ == '__main__':
    sys.exit(fixture_main(sys.argv, __doc__, 'hostile.env', supervise, 'hostile services'))

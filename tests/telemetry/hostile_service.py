#!/usr/bin/env python3
"""Services that never let a request finish, for the deadline tests of the
reports, the pageview and the token exchange (standard library only,
127.0.0.1 only).

  hostile_service.py --pki DIR --port-file FILE --record FILE [--hold S] [--trickle-ms MS]

One listening port per behaviour; the port file lists them as NAME_port=N:
  accept        accepts the connection and never reads or writes (an HTTPS
                client waits in its TLS handshake, a plain one for an answer)
  tls_silent    completes the TLS handshake, reads the request, never answers
  tls_trickle   completes TLS, reads the request, then sends an answer that
                never ends one byte every MS (each byte in time for any
                receive timeout)
  tls_endless   completes TLS, reads the request, answers 200 without a
                length and sends body bytes as fast as the client takes them
  trickle       tls_trickle without TLS
  endless       tls_endless without TLS
A connection is held at most S seconds (then closed by the server).

Record: one line per connection event, tab-separated: NAME, PEER PORT, EVENT,
SECONDS since the connection was accepted. Events: "accept", "request"
(the request was read whole), "client-closed" (the client closed or reset
the connection: the client's handle is gone), "held" (the server gave up
after S seconds).
"""
import argparse
import os
import select
import socket
import ssl
import sys
import threading
import time

BEHAVIOURS = ('accept', 'tls_silent', 'tls_trickle', 'tls_endless', 'trickle', 'endless')
ENDLESS_PIECE = b'x' * 16384


class Recorder:
    def __init__(self, path):
        self.path = path
        self.lock = threading.Lock()

    def note(self, name, peer, event, since):
        with self.lock, open(self.path, 'a') as f:
            f.write('%s\t%d\t%s\t%.2f\n' % (name, peer, event, time.monotonic() - since))


def closed_by_peer(sock, timeout):
    """Waits up to `timeout` for the peer to close; True when it did."""
    try:
        readable, _, _ = select.select([sock], [], [], max(timeout, 0))
        if not readable:
            return False
        return sock.recv(65536) == b''
    except (OSError, ssl.SSLError):
        return True


def read_request(sock, give_up):
    """Reads headers and a Content-Length body; False when the client left."""
    data = b''
    while b'\r\n\r\n' not in data:
        if time.monotonic() > give_up:
            return False
        chunk = sock.recv(65536)
        if not chunk:
            return False
        data += chunk
    head, _, body = data.partition(b'\r\n\r\n')
    length = 0
    for line in head.split(b'\r\n')[1:]:
        key, _, value = line.partition(b':')
        if key.strip().lower() == b'content-length':
            length = int(value.strip() or b'0')
    while len(body) < length:
        if time.monotonic() > give_up:
            return False
        chunk = sock.recv(65536)
        if not chunk:
            return False
        body += chunk
    return True


def serve(name, conn, peer, args, tls_context, recorder):
    since = time.monotonic()
    give_up = since + args.hold
    recorder.note(name, peer, 'accept', since)
    sock = conn
    try:
        if name == 'accept':
            while time.monotonic() < give_up:
                # Never reads: what the client sends stays unread. Only a close shows.
                r, _, _ = select.select([conn], [], [], 0.2)
                if r and conn.recv(1, socket.MSG_PEEK) == b'':
                    recorder.note(name, peer, 'client-closed', since)
                    return
            recorder.note(name, peer, 'held', since)
            return
        if name.startswith('tls_'):
            conn.settimeout(args.hold)
            sock = tls_context.wrap_socket(conn, server_side=True)
        sock.settimeout(max(give_up - time.monotonic(), 0.1))
        if not read_request(sock, give_up):
            recorder.note(name, peer, 'client-closed', since)
            return
        recorder.note(name, peer, 'request', since)
        if name == 'tls_silent':
            while time.monotonic() < give_up:
                if closed_by_peer(sock, 0.2):
                    recorder.note(name, peer, 'client-closed', since)
                    return
        elif name.endswith('trickle'):
            answer = b'HTTP/1.1 200 OK\r\nContent-Type: application/xml\r\nX-Trickle: ' + b'x' * 1000000
            for byte in answer:
                sock.sendall(bytes([byte]))
                if closed_by_peer(sock, args.trickle_ms / 1000.0):
                    recorder.note(name, peer, 'client-closed', since)
                    return
                if time.monotonic() > give_up:
                    break
        elif name.endswith('endless'):
            sock.sendall(b'HTTP/1.1 200 OK\r\nContent-Type: application/xml\r\nConnection: close\r\n\r\n')
            while time.monotonic() < give_up:
                sock.sendall(ENDLESS_PIECE)
        recorder.note(name, peer, 'held', since)
    except (OSError, ssl.SSLError):
        recorder.note(name, peer, 'client-closed', since)
    finally:
        try:
            sock.close()
        except OSError:
            pass


def listen(name, args, tls_context, recorder):
    server = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    server.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    server.bind(('127.0.0.1', 0))
    server.listen(16)

    def loop():
        while True:
            conn, address = server.accept()
            threading.Thread(target=serve, args=(name, conn, address[1], args, tls_context, recorder),
                             daemon=True).start()

    threading.Thread(target=loop, daemon=True).start()
    return server.getsockname()[1]


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument('--pki', required=True, help='folder with server.pem and server.key')
    parser.add_argument('--port-file', required=True)
    parser.add_argument('--record', required=True)
    parser.add_argument('--hold', type=float, default=120.0)
    parser.add_argument('--trickle-ms', type=int, default=2000)
    args = parser.parse_args()
    tls_context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    tls_context.load_cert_chain(os.path.join(args.pki, 'server.pem'), os.path.join(args.pki, 'server.key'))
    recorder = Recorder(args.record)
    ports = {name: listen(name, args, tls_context, recorder) for name in BEHAVIOURS}
    with open(args.port_file + '.tmp', 'w') as f:
        for name, port in ports.items():
            f.write('%s_port=%d\n' % (name, port))
    os.replace(args.port_file + '.tmp', args.port_file)
    try:
        threading.Event().wait()
    except KeyboardInterrupt:
        pass
    return 0


if __name__ == '__main__':
    sys.exit(main())

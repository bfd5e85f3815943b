"""Where connections wait until they have a whole request head, so that a
worker thread is only ever given a request it can serve at once.

A client that trickles its TLS handshake or its headers, or keeps an idle
connection open, costs an entry here (a socket and a few bytes), never a
worker; it is closed when its header deadline passes.
"""
import collections
import selectors
import socket
import ssl
import threading
import time

# A request head larger than this is refused (http.server allows 64 KiB a line).
MAX_HEAD_BYTES = 64 * 1024
HEAD_END = b'\r\n\r\n'


class ConnectionReader:
    """The file-like reader http.server reads a request from: the bytes the
    reception already took, then the socket. What is left unread after a
    request goes back to the reception with the connection."""

    def __init__(self, sock, prefix):
        self._sock = sock
        self._buffer = bytearray(prefix)

    def _fill(self):
        data = self._sock.recv(64 * 1024)
        self._buffer += data
        return bool(data)

    def _take(self, count):
        out = bytes(self._buffer[:count])
        del self._buffer[:count]
        return out

    def readline(self, limit=-1):
        while True:
            end = self._buffer.find(b'\n')
            if end >= 0 and (limit < 0 or end < limit):
                return self._take(end + 1)
            if 0 <= limit <= len(self._buffer):
                return self._take(limit)
            if not self._fill():
                return self._take(len(self._buffer))

    def read(self, count=-1):
        if count < 0:
            while self._fill():
                pass
            return self._take(len(self._buffer))
        while len(self._buffer) < count and self._fill():
            pass
        return self._take(count)

    def leftover(self):
        return bytes(self._buffer)

    def close(self):
        pass


class Reception:
    """States: each connection held is in its TLS handshake or gathering its
    request head, with a deadline; a complete head is handed to ready(sock,
    context, head_bytes, began) and forgotten (context is the caller's, for
    example the client's address). Threads: one of its own, started by the
    constructor and joined by stop(); admit() may be called from any thread
    (the accepting one, and workers returning a kept-open connection)."""

    TICK_S = 0.25

    def __init__(self, tls, header_deadline, capacity, ready):
        self._tls = tls
        self._deadline = header_deadline
        self._capacity = capacity
        self._ready = ready
        self._lock = threading.Lock()
        self._arrivals = collections.deque()
        self._selector = selectors.DefaultSelector()
        self._wake_r, self._wake_w = socket.socketpair()
        self._wake_r.setblocking(False)
        self._selector.register(self._wake_r, selectors.EVENT_READ, None)
        self._held = {}  # fileno -> [sock, phase, head bytes, deadline, context]
        self._stopping = False
        self.refused = 0
        self._thread = threading.Thread(target=self._run, name='reception', daemon=True)
        self._thread.start()

    def admit(self, sock, context, prefix=b'', handshaken=False):
        with self._lock:
            if self._stopping:
                sock.close()
                return
            self._arrivals.append((sock, context, prefix, handshaken))
        try:
            self._wake_w.send(b'x')
        except OSError:
            pass

    def _take_arrivals(self):
        try:
            while self._wake_r.recv(4096):
                pass
        except (BlockingIOError, InterruptedError):
            pass
        with self._lock:
            arrivals, self._arrivals = list(self._arrivals), collections.deque()
        for sock, context, prefix, handshaken in arrivals:
            if len(self._held) >= self._capacity:
                self.refused += 1
                sock.close()
                continue
            try:
                sock.setblocking(False)
                if self._tls is not None and not handshaken:
                    sock = self._tls.wrap_socket(sock, server_side=True, do_handshake_on_connect=False)
                    phase = 'handshake'
                else:
                    phase = 'head'
            except (OSError, ValueError):
                sock.close()
                continue
            entry = [sock, phase, bytearray(prefix), time.monotonic() + self._deadline, context]
            self._held[sock.fileno()] = entry
            self._selector.register(sock, selectors.EVENT_READ, entry)
            self._progress(entry)

    def _drop(self, entry, close=True):
        sock = entry[0]
        self._held.pop(sock.fileno(), None)
        try:
            self._selector.unregister(sock)
        except (KeyError, ValueError, OSError):
            pass
        if close:
            sock.close()

    def _want(self, entry, events):
        try:
            self._selector.modify(entry[0], events, entry)
        except (KeyError, ValueError, OSError):
            self._drop(entry)

    def _progress(self, entry):
        sock = entry[0]
        try:
            if entry[1] == 'handshake':
                sock.do_handshake()
                entry[1] = 'head'
                self._want(entry, selectors.EVENT_READ)
            while HEAD_END not in entry[2]:
                data = sock.recv(64 * 1024)
                if not data:
                    return self._drop(entry)
                entry[2] += data
                if len(entry[2]) > MAX_HEAD_BYTES:
                    return self._drop(entry)
        except ssl.SSLWantReadError:
            return self._want(entry, selectors.EVENT_READ)
        except ssl.SSLWantWriteError:
            return self._want(entry, selectors.EVENT_WRITE)
        except (BlockingIOError, InterruptedError):
            return None
        except (OSError, ValueError):
            return self._drop(entry)
        began = entry[3] - self._deadline
        self._drop(entry, close=False)
        self._ready(sock, entry[4], bytes(entry[2]), began)

    def _run(self):
        while not self._stopping:
            for key, _ in self._selector.select(self.TICK_S):
                if key.data is None:
                    self._take_arrivals()
                elif key.data[0].fileno() in self._held:
                    self._progress(key.data)
            now = time.monotonic()
            for entry in [e for e in self._held.values() if e[3] <= now]:
                self._drop(entry)

    def stop(self):
        with self._lock:
            self._stopping = True
        self._wake_w.send(b'x')
        self._thread.join()
        with self._lock:
            arrivals = list(self._arrivals)
            self._arrivals.clear()
        for arrival in arrivals:
            arrival[0].close()
        for entry in list(self._held.values()):
            self._drop(entry)
        self._selector.close()
        self._wake_r.close()
        self._wake_w.close()

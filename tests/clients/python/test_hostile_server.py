"""The client against a hostile server: each fault of an answer is a nodra error, raised
within the call's timeout and before the client allocates more than it asked for."""

import json
import socketserver
import threading
import time
import tracemalloc

import pytest

import nodra

SEND_LIMIT = 64 << 20  # bytes the fake server sends in one answer at most
TIME_LIMIT = 15.0      # seconds one answer of the fake server lasts at most
TIMEOUT = 2.0          # the client's timeout in every case
PEAK = 4 << 20         # bytes the client may allocate in a call that fails

ZEROS = bytes(1 << 16)
JSON_CHUNK = b"%x\r\n%s\r\n" % (1 << 16, b"0," * (1 << 15))  # one chunk of an endless listing
LISTING = json.dumps({"access_points": []}).encode()
DOCUMENT = json.dumps({"path": "t/a.rsp", "file": {"annotations": []}, "channels": [
    {"number": 1, "label": "a", "unit": "N", "values": {"count": 1000, "first": 0, "spacing": 0.001}}]}).encode()


def head(status="200 OK", **headers):
    lines = ["HTTP/1.1 " + status, "Connection: close"]
    lines += ["%s: %s" % (name.replace("_", "-"), value) for name, value in headers.items()]
    return ("\r\n".join(lines) + "\r\n\r\n").encode()


def whole(body, status="200 OK"):
    yield head(status, Content_Length=len(body)) + body


def endless(first, piece=ZEROS):
    yield first
    while True:
        yield piece


def trickle(first, piece):
    """`first`, then `piece` a byte every 1.5 s: each read waits less than the timeout."""
    yield first
    for byte in piece:
        yield 1.5
        yield bytes([byte])


def values(count, length="", body=ZEROS):
    fields = {"X_Nodra_Start": 1, "X_Nodra_Count": count} if count is not None else {"X_Nodra_Start": 1}
    if length:
        fields["Content_Length"] = length
    return endless(head(**fields), body)


class Handler(socketserver.StreamRequestHandler):
    def handle(self):
        request = self.rfile.readline().decode("latin-1").split()
        while self.rfile.readline() not in (b"\r\n", b"\n", b""):
            pass
        self.server.requests += 1
        route = request[1].split("?")[0] if len(request) > 1 else ""
        fault = self.server.faults.get(route)
        answer = fault() if fault else whole(LISTING if route == "/api/files" else DOCUMENT)
        sent, end = 0, time.monotonic() + TIME_LIMIT
        try:
            for piece in answer:
                if isinstance(piece, float):
                    time.sleep(piece)
                    continue
                if request[0] == "HEAD" and sent:
                    break
                self.wfile.write(piece)
                sent += len(piece)
                if sent >= SEND_LIMIT or time.monotonic() > end:
                    break
        except OSError:
            pass  # the client hung up


class FakeServer(socketserver.ThreadingTCPServer):
    daemon_threads = True
    allow_reuse_address = True

    def __init__(self, host):
        super().__init__((host, 0), Handler)
        self.faults, self.requests = {}, 0
        self.url = "http://%s:%d/" % self.server_address
        threading.Thread(target=self.serve_forever, args=(0.05,), daemon=True).start()


@pytest.fixture
def servers():
    """The hostile server, and one on another host it may redirect to."""
    hostile, other = FakeServer("127.0.0.1"), FakeServer("127.0.0.2")
    yield hostile, other
    for server in (hostile, other):
        server.shutdown()
        server.server_close()


def channel(conn):
    return conn.open("t/a.rsp").channel(1)


# One case per fault: the route that answers it, the answer, the call, the error it raises.
CASES = [
    ("count larger than asked", "/api/values", lambda: values(500 << 20, 2000 << 20),
     lambda c: channel(c).values(0, 10), nodra.DataError),
    ("count 10**12", "/api/values", lambda: values(10 ** 12), lambda c: channel(c).values(0, 10), nodra.DataError),
    ("count 10**12 for times", "/api/values", lambda: values(10 ** 12),
     lambda c: channel(c).time(t0=0, t1=0.01), nodra.DataError),
    ("count missing", "/api/values", lambda: values(None), lambda c: channel(c).values(0, 10), nodra.DataError),
    ("count negative", "/api/values", lambda: values(-5), lambda c: channel(c).values(0, 10), nodra.DataError),
    ("endless JSON", "/api/file", lambda: endless(head(Transfer_Encoding="chunked") + b"1\r\n[\r\n", JSON_CHUNK),
     lambda c: c.open("t/a.rsp"), nodra.DataError),
    ("nested JSON", "/api/file", lambda: whole(b"[" * 100000), lambda c: c.open("t/a.rsp"), nodra.DataError),
    ("not JSON", "/api/file", lambda: whole(b"\xff{"), lambda c: c.open("t/a.rsp"), nodra.DataError),
    ("JSON of another shape", "/api/file", lambda: whole(b'{"path": 1}'), lambda c: c.open("t/a.rsp"), nodra.DataError),
    ("endless error", "/api/file", lambda: endless(head("500 Internal Server Error")),
     lambda c: c.open("t/a.rsp"), nodra.DataError),
    ("trickled body", "/api/values", lambda: trickle(head(X_Nodra_Start=1, X_Nodra_Count=10, Content_Length=40), ZEROS[:8]),
     lambda c: channel(c).values(0, 10), nodra.ConnectionError),
    ("trickled headers", "/api/file", lambda: trickle(b"HTTP/1.1 200 OK\r\n", b"X-Slow: 12345"),
     lambda c: c.open("t/a.rsp"), nodra.ConnectionError),
    ("redirect to another host", "/api/file", None, lambda c: c.open("t/a.rsp"), nodra.DataError),
]


@pytest.mark.parametrize("route, answer, call, error", [case[1:] for case in CASES], ids=[case[0] for case in CASES])
def test_a_hostile_answer_is_a_nodra_error_within_time_and_memory(servers, route, answer, call, error):
    hostile, other = servers
    if answer is None:
        answer = lambda: iter([head("302 Found", Location=other.url + "api/file?path=t/a.rsp", Content_Length=0)])
    hostile.faults[route] = answer
    conn = nodra.connect(hostile.url, timeout=TIMEOUT, max_json=1 << 20)
    began = time.monotonic()
    tracemalloc.start()
    try:
        with pytest.raises(error) as raised:
            call(conn)
        peak = tracemalloc.get_traced_memory()[1]
    finally:
        tracemalloc.stop()
    assert str(raised.value)
    assert time.monotonic() - began < TIMEOUT + 2
    assert peak < PEAK
    assert other.requests == 0

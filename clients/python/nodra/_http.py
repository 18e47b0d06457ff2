"""The HTTP route: nodra-web's data API, in Python alone. Every answer is checked before it is
believed: a count of values other than the one asked for, a JSON answer over `max_json`
bytes or not as nodra-web writes it is a DataError; no answer within `timeout` (the whole
time of one request) is a ConnectionError; redirects are not followed."""

import contextlib
import functools
import http.client
import io
import json
import math
import re
import socket
import time
import urllib.error
import urllib.parse
import urllib.request

import numpy as np

from ._errors import ConnectionError, DataError, Error, UsageError

# Bytes a JSON answer (a listing, a file's description, statistics) may have at most, unless
# connect(max_json=...) says otherwise: a server that never ends one cannot fill memory.
DEFAULT_MAX_JSON = 64 << 20

# Bytes of an error answer read for its message.
_MAX_ERROR_BODY = 64 << 10


class HttpConnection:
    """A nodra-web at `url`: what the package's Connection asks of a route."""

    def __init__(self, url, timeout=60.0, max_json=DEFAULT_MAX_JSON):
        parts = urllib.parse.urlsplit(url)
        if parts.scheme not in ("http", "https") or not parts.netloc:
            raise UsageError("the URL must be http://HOST:PORT/, got %r" % url)
        if isinstance(max_json, bool) or not isinstance(max_json, int) or max_json < 1:
            raise UsageError("max_json is a number of bytes, not %r" % (max_json,))
        self.url = "%s://%s%s" % (parts.scheme, parts.netloc, parts.path.rstrip("/"))
        self.timeout = timeout
        self.max_json = max_json
        self.list("")  # fails now when nobody answers

    def list(self, dir):
        """The /api/files document of `dir` ("": every access point)."""
        return self._json("/api/files", {"dir": dir or None})

    def open(self, path):
        return HttpFile(self, self._json("/api/file", {"path": path}))

    def rainflow(self, sources, channel, options):
        """The /api/rainflow document of channel `channel` of `sources` (FILE[:REPEATS])."""
        params = [("path", s) for s in sources] + [("channel", channel)]
        for name, value in options.items():
            if value is None:
                continue
            if name == "slopes":
                name, value = "slope", ",".join(repr(float(v)) for v in value)
            elif name == "range":
                value = ",".join(repr(float(v)) for v in value)
            elif name == "join":
                value = 1 if value else 0
            params.append((name, value))
        return self._json("/api/rainflow", params)

    def close(self):
        pass

    def _json(self, route, params):
        with self._get(route, params, "application/json") as response:
            length = _content_length(response)
            body = None
            if length is None or length <= self.max_json:
                with _reading(self, route):
                    body = response.read(self.max_json + 1)
        if body is None or len(body) > self.max_json:
            raise DataError("the answer of %s%s is larger than %d bytes (max_json)"
                            % (self.url, route, self.max_json))
        try:
            return json.loads(body.decode("utf-8"))
        except (ValueError, RecursionError) as e:
            raise DataError("the answer of %s%s is no JSON: %s" % (self.url, route, e)) from None

    def _get(self, route, params, accept, method="GET"):
        if isinstance(params, dict):
            params = params.items()
        query = urllib.parse.urlencode([(k, v) for k, v in params if v is not None])
        request = urllib.request.Request(self.url + route + ("?" + query if query else ""),
                                         headers={"Accept": accept}, method=method)
        try:
            return _OPENER.open(request, timeout=self.timeout)
        except urllib.error.HTTPError as e:
            with contextlib.closing(e):
                raise _answered_error(e, self.url + route) from None
        except (urllib.error.URLError, OSError, http.client.HTTPException) as e:
            raise ConnectionError(_unreachable(self.url, self.timeout, e)) from None


class HttpFile:
    """A file of a nodra-web: its listing as read at open, its values, statistics and counts."""

    def __init__(self, connection, document):
        self._connection = connection
        self._document = document
        try:
            self.path = document["path"]
            self._channels = {c["number"]: c for c in document["channels"]}
        except (KeyError, IndexError, TypeError) as e:
            raise DataError("the answer of %s/api/file is not as nodra-web writes it (%s: %s)"
                            % (connection.url, type(e).__name__, e)) from None

    def document(self):
        return self._document

    def read(self, numbers, first, count):
        """Values `first` (from 0) to `first + count` of the channels `numbers`."""
        values, _ = self._values(numbers, first, count, None, None)
        return values

    def read_time(self, numbers, t0, t1):
        """The values whose times lie in [t0, t1]: (values, first from 0, count)."""
        values, (start, got) = self._values(numbers, None, None, t0, t1)
        return values, start - 1, got

    def select(self, numbers, t0, t1):
        _, (start, got) = self._values(numbers, None, None, t0, t1, "HEAD")
        return start - 1, got

    def stats(self, numbers):
        return self._connection._json("/api/stats", {"path": self.path,
                                                     "channel": ",".join(str(n) for n in numbers)})

    def _values(self, numbers, first, count, t0, t1, method="GET"):
        """The values of channels `numbers` as a float32 array (1-D for one channel, else a
        column per channel; None for HEAD) and the selection (first from 1, count) the server
        made, checked against what was asked before anything is allocated for it."""
        connection = self._connection
        params = {"path": self.path, "channel": ",".join(str(n) for n in numbers), "format": "raw"}
        if first is None:
            params.update({"from": _seconds(t0), "to": _seconds(t1)})
        else:
            params.update({"start": first + 1, "count": count})
        with connection._get("/api/values", params, "application/octet-stream", method) as response:
            selected = self._selection(response, numbers, first, count, t0, t1)
            if method == "HEAD":
                return None, selected
            length = _content_length(response)
            if response.headers.get("Content-Length") is not None and length != 4 * selected[1] * len(numbers):
                raise DataError("the values from %s would be %s bytes, not the %d of %d values"
                                % (connection.url, response.headers["Content-Length"],
                                   4 * selected[1] * len(numbers), selected[1] * len(numbers)))
            values = np.empty(selected[1] * len(numbers), dtype="<f4")
            _read_into(response, values, connection)
        if len(numbers) == 1:
            return values, selected
        return values.reshape(len(numbers), selected[1]).T, selected

    def _selection(self, response, numbers, first, count, t0, t1):
        """The first value (from 1) and the count the answer says it holds: by index, those
        asked for (`first` from 0, `count`); by time, values of the channels within [t0, t1]."""
        url = self._connection.url
        selected = []
        for name in ("X-Nodra-Start", "X-Nodra-Count"):
            text = response.headers.get(name)
            if text is None or not re.fullmatch(r"[0-9]{1,20}", text.strip()):
                raise DataError("the values from %s came with %s %r, not a count" % (url, name, text))
            selected.append(int(text))
        start, got = selected
        if first is not None:
            if (start, got) != (first + 1, count):
                raise DataError("%d values from value %d were asked of %s, which answers %d from value %d"
                                % (count, first + 1, url, got, start))
            return start, got
        channels = [self._channels[n] for n in numbers]
        available = min(c["values"]["count"] for c in channels)
        most = available
        spacing = _number(channels[0]["values"]["spacing"])
        if t0 is not None and t1 is not None and spacing > 0:
            span = (float(t1) - float(t0)) / spacing
            if math.isfinite(span) and span < available:
                most = max(0, int(span)) + 2  # both ends inclusive, and one for rounding
        if start < 1 or start - 1 + got > available or got > most:
            raise DataError("%s answers %d values from value %d of [%s, %s] s; the channel has %d"
                            % (url, got, start, t0, t1, available))
        return start, got


def _seconds(t):
    return None if t is None else repr(float(t))


def _number(value):
    """A JSON number, or None, "inf", "-inf" and "nan" as the API writes what JSON cannot."""
    return float("nan") if value is None else float(value)


class _DeadlineReader(io.RawIOBase):
    """The socket of an answer, each read of it waiting only for what is left of the time of
    its request: a server that trickles its bytes cannot stretch a request beyond it."""

    def __init__(self, raw, sock, deadline):
        super().__init__()
        self._raw, self._sock, self._deadline = raw, sock, deadline

    def readable(self):
        return True

    def readinto(self, buffer):
        if self._deadline is not None:
            self._sock.settimeout(_time_left(self._deadline))
        return self._raw.readinto(buffer)

    def close(self):
        if not self.closed:
            self._raw.close()
        super().close()


def _time_left(deadline):
    left = deadline - time.monotonic()
    if left <= 0:
        raise socket.timeout("timed out")
    return left


class _DeadlineResponse(http.client.HTTPResponse):
    def __init__(self, sock, *args, deadline, **kwargs):
        super().__init__(sock, *args, **kwargs)
        self.fp = io.BufferedReader(_DeadlineReader(self.fp.detach(), sock, deadline))


class _DeadlineConnection:
    """A connection whose timeout is the time of the whole request, from connecting on."""

    def __init__(self, *args, **kwargs):
        super().__init__(*args, **kwargs)
        timed = isinstance(self.timeout, (int, float))
        self._deadline = time.monotonic() + self.timeout if timed else None
        self.response_class = functools.partial(_DeadlineResponse, deadline=self._deadline)

    def connect(self):
        if self._deadline is not None:
            self.timeout = _time_left(self._deadline)
        super().connect()


class _HTTPConnection(_DeadlineConnection, http.client.HTTPConnection):
    pass


class _HTTPSConnection(_DeadlineConnection, http.client.HTTPSConnection):
    pass


class _HTTPHandler(urllib.request.HTTPHandler):
    def http_open(self, req):
        return self.do_open(_HTTPConnection, req)


class _HTTPSHandler(urllib.request.HTTPSHandler):
    def https_open(self, req):
        return self.do_open(_HTTPSConnection, req, context=self._context)


class _NoRedirects(urllib.request.HTTPRedirectHandler):
    """A redirect is answered as an error: the client asks the server it was given only."""

    def redirect_request(self, req, fp, code, msg, headers, newurl):
        return None


_OPENER = urllib.request.build_opener(_NoRedirects, _HTTPHandler, _HTTPSHandler)


@contextlib.contextmanager
def _reading(connection, route):
    """Reading an answer's body: its failures as nodra errors."""
    try:
        yield
    except http.client.HTTPException as e:
        raise DataError("the answer of %s%s was cut short (%s)"
                        % (connection.url, route, type(e).__name__)) from None
    except OSError as e:
        raise ConnectionError(_unreachable(connection.url, connection.timeout, e)) from None


def _content_length(response):
    """The Content-Length of an answer, or None where it has none."""
    text = response.headers.get("Content-Length")
    return int(text) if text is not None and re.fullmatch(r"[0-9]{1,20}", text.strip()) else None


def _unreachable(url, timeout, e):
    reason = getattr(e, "reason", e)
    if isinstance(reason, TimeoutError):
        return "nodra-web at %s did not answer within %g s" % (url, timeout)
    return "cannot reach nodra-web at %s: %s" % (url, reason)


def _answered_error(e, url):
    """The error of an answer with a status other than 200, from its JSON body."""
    if 300 <= e.code < 400:
        return DataError("%s answered %d %s, a redirect to %s: the client follows none"
                         % (url, e.code, e.reason, e.headers.get("Location")), status=e.code)
    try:
        body = json.loads(e.read(_MAX_ERROR_BODY).decode("utf-8"))
    except (ValueError, RecursionError, OSError, http.client.HTTPException):
        body = {}
    if not isinstance(body, dict):
        body = {}
    message = body.get("error") or "the server answered %d %s" % (e.code, e.reason)
    if e.code in (400, 405, 413):
        return UsageError(message, e.code)
    return DataError(message, body.get("reason", ""), body.get("place", ""), e.code)


def _read_into(response, buffer, connection):
    """Fills `buffer` (bytes) from `response` and checks that nothing follows."""
    view = memoryview(buffer).cast("B")
    done = 0
    with _reading(connection, "/api/values"):
        while done < len(view):
            got = response.readinto(view[done:])
            if not got:
                break
            done += got
        extra = response.read(1) if done == len(view) else b""
    if done != len(view) or extra:
        raise DataError("the values from %s %s: %d of %d bytes came"
                        % (connection.url, "were cut short" if done < len(view) else "run on",
                           done, len(view)))

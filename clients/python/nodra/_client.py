"""The client of nodra-web's data API: files, channels and their values over HTTP."""

import builtins
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

# Direction texts in the order of the API's direction numbers.
_DIRECTIONS = ("", "S", "+X", "+Y", "+Z", "+RX", "+RY", "+RZ",
               "-X", "-Y", "-Z", "-RX", "-RY", "-RZ")

# Values read per request by iter_chunks when no size is given.
DEFAULT_CHUNK = 1 << 20

# Bytes a JSON answer (a listing, a file's description, statistics) may have at most, unless
# connect(max_json=...) says otherwise: a server that never ends one cannot fill memory.
DEFAULT_MAX_JSON = 64 << 20

# Bytes of an error answer read for its message.
_MAX_ERROR_BODY = 64 << 10


class Error(Exception):
    """Anything this client raises on purpose."""


class DataError(Error):
    """The server could not answer as asked: the file cannot be read, is missing, ..."""

    def __init__(self, message, reason="", place="", status=None):
        super().__init__(message)
        self.message = message
        self.reason = reason
        self.place = place
        self.status = status

    def __str__(self):
        return self.message + (" (reason: %s)" % self.reason if self.reason else "")


class UsageError(Error, ValueError):
    """A request that cannot be carried out as given: an unknown channel, a bad slice, ..."""

    def __init__(self, message, status=None):
        super().__init__(message)
        self.message = message
        self.status = status


class ConnectionError(Error, builtins.ConnectionError):
    """The server cannot be reached, or did not answer in time."""


def connect(url, timeout=60.0, max_json=DEFAULT_MAX_JSON):
    """A connection to the nodra-web at `url` (e.g. "http://127.0.0.1:8080/").

    `timeout` is the most seconds one request may take in all, from connecting to its last
    byte (None: no limit); a call makes one request, to_dataframe one per time base,
    iter_chunks one per chunk. `max_json` is the most bytes of a JSON answer. Redirects are
    not followed. Raises ConnectionError when nothing answers there, UsageError for a URL
    that is not http(s)://HOST[:PORT][/].
    """
    return Connection(url, timeout, max_json)


class Connection:
    """A nodra-web server: its access points, directories and files.

    Every answer is checked before it is believed: a count of values other than the one
    asked for, a JSON answer over `max_json` bytes or not as nodra-web writes it is a
    DataError; no answer within `timeout` is a ConnectionError."""

    def __init__(self, url, timeout=60.0, max_json=DEFAULT_MAX_JSON):
        parts = urllib.parse.urlsplit(url)
        if parts.scheme not in ("http", "https") or not parts.netloc:
            raise UsageError("the URL must be http://HOST:PORT/, got %r" % url)
        if isinstance(max_json, bool) or not isinstance(max_json, int) or max_json < 1:
            raise UsageError("max_json is a number of bytes, not %r" % (max_json,))
        self.url = "%s://%s%s" % (parts.scheme, parts.netloc, parts.path.rstrip("/"))
        self.timeout = timeout
        self.max_json = max_json
        self._json("/api/files", {"dir": None})  # fails now when nobody answers

    def __repr__(self):
        return "nodra.Connection(%r)" % self.url

    def files(self, dir=""):
        """Paths of the RPC III files directly in `dir` (ACCESS_POINT[/SUB/DIRS]); with the
        default "", those at the top of every access point."""
        return self._answer("/api/files", {"dir": dir or None}, lambda listing: [
            entry["path"] for point in listing["access_points"] for entry in point["files"]])

    def directories(self, dir=""):
        """Paths of the sub-directories directly in `dir`; with "", the access points."""
        if not dir:
            return self._answer("/api/files", {"dir": None}, lambda listing: [
                point["name"] for point in listing["access_points"]])
        return self._answer("/api/files", {"dir": dir}, lambda listing: [
            entry["path"] for point in listing["access_points"] for entry in point["directories"]])

    def open(self, path):
        """The file at ACCESS_POINT/PATH, with its annotations and channels."""
        return self._answer("/api/file", {"path": path}, lambda document: File(self, document))

    def _answer(self, route, params, build):
        """What `build` makes of the JSON answer of `route`; a DataError where the answer
        lacks what it needs."""
        document = self._json(route, params)
        try:
            return build(document)
        except Error:
            raise
        except (KeyError, IndexError, TypeError, ValueError, AttributeError) as e:
            raise DataError("the answer of %s%s is not as nodra-web writes it (%s: %s)"
                            % (self.url, route, type(e).__name__, e)) from None

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
        query = urllib.parse.urlencode({k: v for k, v in params.items() if v is not None})
        request = urllib.request.Request(self.url + route + ("?" + query if query else ""),
                                         headers={"Accept": accept}, method=method)
        try:
            return _OPENER.open(request, timeout=self.timeout)
        except urllib.error.HTTPError as e:
            with contextlib.closing(e):
                raise _answered_error(e, self.url + route) from None
        except (urllib.error.URLError, OSError, http.client.HTTPException) as e:
            raise ConnectionError(_unreachable(self.url, self.timeout, e)) from None


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


class File:
    """An RPC III file: `annotations` (a dict) and `channels` (a list of Channel)."""

    def __init__(self, connection, document):
        self._connection = connection
        self.path = document["path"]
        self.annotations = {a["name"]: a["value"] for a in document["file"]["annotations"]}
        self.channels = [Channel(self, c) for c in document["channels"]]

    def __repr__(self):
        return "nodra.File(%r, %d channels)" % (self.path, len(self.channels))

    def __len__(self):
        return len(self.channels)

    def __iter__(self):
        return iter(self.channels)

    def __getitem__(self, key):
        """A channel by number (from 1) or by label."""
        return self.channel(key)

    def channel(self, key):
        """A channel by number (from 1, as the file numbers them) or by label."""
        if isinstance(key, Channel):
            return key
        if isinstance(key, str):
            found = [c for c in self.channels if c.label == key]
            if not found:
                raise UsageError("%s has no channel labelled %r" % (self.path, key))
            return found[0]
        if isinstance(key, (int, np.integer)) and not isinstance(key, bool):
            if 1 <= key <= len(self.channels):
                return self.channels[key - 1]
            raise UsageError("channel %d does not exist (the file has %d channels)"
                             % (key, len(self.channels)))
        raise UsageError("a channel is named by its number or label, not by %r" % (key,))

    def values(self, channels=None, start=None, count=None, *, t0=None, t1=None):
        """The values of several channels sharing their time base, one column each (a 2-D
        float32 array); by index (`start` from 0, `count`) or by time (`t0`, `t1` seconds)."""
        chosen = self._chosen(channels)
        values, _ = _read_values(self, chosen, start, count, t0, t1)
        return values

    def to_dataframe(self, channels=None, t0=None, t1=None):
        """A pandas DataFrame of the channels (all by default) whose times lie in [t0, t1]:
        the time in seconds as its index, a column per channel named by its label, and the
        units in `frame.attrs["units"]` (label to unit). Channels with other time bases are
        read apart and joined on the time."""
        try:
            import pandas as pd
        except ImportError:
            raise UsageError("to_dataframe needs pandas (apt-get install python3-pandas)") from None
        chosen = self._chosen(channels)
        groups = {}
        for channel in chosen:
            groups.setdefault((channel.count, channel.first, channel.spacing), []).append(channel)
        names = _column_names(chosen)
        frames = []
        for members in groups.values():
            values, (start, got) = _read_values(self, members, None, None, t0, t1)
            index = pd.Index(members[0]._times(start, got), name="time [s]")
            frames.append(pd.DataFrame(values, index=index, columns=[names[c.number] for c in members]))
        frame = frames[0] if len(frames) == 1 else pd.concat(frames, axis=1, join="outer").sort_index()
        frame = frame[[names[c.number] for c in chosen]]
        frame.attrs["units"] = {names[c.number]: c.unit for c in chosen}
        return frame

    def _chosen(self, channels):
        if channels is None:
            return list(self.channels)
        if isinstance(channels, (str, int, np.integer, Channel)):
            channels = [channels]
        chosen = [self.channel(c) for c in channels]
        if not chosen:
            raise UsageError("no channel asked for")
        return chosen


def _column_names(channels):
    """Column names: the labels, with the channel number added where a label repeats."""
    labels = [c.label for c in channels]
    return {c.number: c.label if labels.count(c.label) == 1 else "%s (%d)" % (c.label, c.number)
            for c in channels}


def _read_values(file, channels, start, count, t0, t1, method="GET"):
    """The values of `channels` as a float32 array (1-D for one channel, else a column per
    channel; None for a HEAD request) and the selection (first value from 1, count) the
    server made, checked against what was asked before anything is allocated for it."""
    base = channels[0]
    params = {"path": file.path, "channel": ",".join(str(c.number) for c in channels),
              "format": "raw"}
    if t0 is not None or t1 is not None:
        if start is not None or count is not None:
            raise UsageError("values are chosen by index (start, count) or by time (t0, t1), not both")
        params.update({"from": _seconds(t0), "to": _seconds(t1)})
        first = None
    else:
        first, count = base._index_range(start, count)
        if count == 0:
            return np.empty((0,) if len(channels) == 1 else (0, len(channels)), "<f4"), (first + 1, 0)
        params.update({"start": first + 1, "count": count})
    connection = file._connection
    with connection._get("/api/values", params, "application/octet-stream", method) as response:
        selected = _selection(response, channels, first, count, t0, t1, connection.url)
        if method == "HEAD":
            return None, selected
        length = _content_length(response)
        if response.headers.get("Content-Length") is not None and length != 4 * selected[1] * len(channels):
            raise DataError("the values from %s would be %s bytes, not the %d of %d values"
                            % (connection.url, response.headers["Content-Length"],
                               4 * selected[1] * len(channels), selected[1] * len(channels)))
        values = np.empty(selected[1] * len(channels), dtype="<f4")
        _read_into(response, values, connection)
    if len(channels) == 1:
        return values, selected
    return values.reshape(len(channels), selected[1]).T, selected


def _selection(response, channels, first, count, t0, t1, url):
    """The first value (from 1) and the count the answer says it holds: by index, those
    asked for (`first` from 0, `count`); by time, values of the channels within [t0, t1]."""
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
    available = min(c.count for c in channels)
    most = available
    spacing = channels[0].spacing
    if t0 is not None and t1 is not None and spacing > 0:
        span = (float(t1) - float(t0)) / spacing
        if math.isfinite(span) and span < available:
            most = max(0, int(span)) + 2  # both ends inclusive, and one for rounding
    if start < 1 or start - 1 + got > available or got > most:
        raise DataError("%s answers %d values from value %d of [%s, %s] s; the channel has %d"
                        % (url, got, start, t0, t1, available))
    return start, got


def _seconds(t):
    if t is None:
        return None
    t = float(t)
    if not np.isfinite(t):
        raise UsageError("times must be finite seconds, got %r" % t)
    return repr(t)


class Channel:
    """One channel of a file: its description and its values."""

    def __init__(self, file, entry):
        self._file = file
        record = entry.get("function_record", {})
        self.number = entry["number"]
        self.label = entry["label"]
        self.unit = entry["unit"]
        self.count = entry["values"]["count"]
        self.first = _number(entry["values"]["first"])
        self.spacing = _number(entry["values"]["spacing"])
        self.rate = _number(record.get("sampling_frequency"))
        self.point = record.get("point", "")
        direction = record.get("direction", 0)
        self.direction = _DIRECTIONS[direction] if 0 <= direction < len(_DIRECTIONS) else "?"
        self.quantity = entry.get("quantity", {})
        self.annotations = {a["name"]: a["value"] for a in entry.get("annotations", [])}

    def __repr__(self):
        return "nodra.Channel(%d, %r, %d values, %r)" % (self.number, self.label, self.count, self.unit)

    def __len__(self):
        return self.count

    def __getitem__(self, key):
        """`ch[i]` is value number i + 1 of the file (a float); `ch[i:j:k]` a float32 array,
        indices counted from 0 as Python counts them, negative ones from the end."""
        if isinstance(key, slice):
            begin, end, step = key.indices(self.count)
            if step == 1:
                return self.values(begin, max(0, end - begin))
            chosen = range(begin, end, step)
            if len(chosen) == 0:
                return np.empty(0, "<f4")
            low = min(chosen[0], chosen[-1])
            block = self.values(low, abs(chosen[-1] - chosen[0]) + 1)
            return block[::step] if step > 0 else block[::step].copy()
        if isinstance(key, (int, np.integer)) and not isinstance(key, bool):
            index = key + self.count if key < 0 else key
            if not 0 <= index < self.count:
                raise IndexError("value index %d out of range for %d values" % (key, self.count))
            return self.values(index, 1)[0]
        raise UsageError("channels are indexed by integers and slices, not by %r" % (key,))

    def values(self, start=None, count=None, *, t0=None, t1=None):
        """The values as a float32 array: `count` values (default: to the end) from index
        `start` (from 0; default 0), or those whose times lie in [t0, t1] seconds."""
        values, _ = _read_values(self._file, [self], start, count, t0, t1)
        return values

    def time(self, start=None, count=None, *, t0=None, t1=None):
        """The times of the values that values() with the same arguments gives, in seconds
        (float64, as nodra-browse dump computes them)."""
        if t0 is None and t1 is None:
            first, count = self._index_range(start, count)
            return self._times(first + 1, count)
        _, (first, got) = _read_values(self._file, [self], None, None, t0, t1, "HEAD")
        return self._times(first, got)

    def iter_chunks(self, size=DEFAULT_CHUNK, start=None, count=None):
        """The values from `start` (from 0) on, `size` at a time: for channels larger than
        memory."""
        if size < 1:
            raise UsageError("chunks hold at least one value, not %r" % (size,))
        first, count = self._index_range(start, count)
        end = first + count
        while first < end:
            n = min(size, end - first)
            yield self.values(first, n)
            first += n

    def stats(self):
        """Count, NaN count, minimum, maximum, mean and RMS of the channel, as the server
        computes them (a dict)."""
        return self._file._connection._answer("/api/stats", {"path": self._file.path, "channel": self.number},
                                              lambda reply: dict(reply["channels"][0]))

    def _index_range(self, start, count):
        start = 0 if start is None else int(start)
        if start < 0 or start > self.count:
            raise UsageError("start %d lies outside the %d values of channel %d" % (start, self.count, self.number))
        available = self.count - start
        count = available if count is None else int(count)
        if count < 0:
            raise UsageError("a count is never negative, got %d" % count)
        return start, min(count, available)

    def _times(self, first, count):
        """Times of `count` values from value number `first` (from 1): first + (i - 1) x
        spacing in double precision, never accumulated."""
        return self.first + np.arange(first - 1, first - 1 + count, dtype=np.float64) * self.spacing


def _number(value):
    """A JSON number, or None, "inf", "-inf" and "nan" as the API writes what JSON cannot."""
    if value is None:
        return float("nan")
    return float(value)

"""The client of nodra-web's data API: files, channels and their values over HTTP."""

import builtins
import http.client
import json
import socket
import urllib.error
import urllib.parse
import urllib.request

import numpy as np

# Direction texts in the order of the API's direction numbers.
_DIRECTIONS = ("", "S", "+X", "+Y", "+Z", "+RX", "+RY", "+RZ",
               "-X", "-Y", "-Z", "-RX", "-RY", "-RZ")

# Values read per request by iter_chunks when no size is given.
DEFAULT_CHUNK = 1 << 20


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


def connect(url, timeout=60.0):
    """A connection to the nodra-web at `url` (e.g. "http://127.0.0.1:8080/").

    Raises ConnectionError when nothing answers there, UsageError for a URL that is not
    http(s)://HOST[:PORT][/].
    """
    return Connection(url, timeout)


class Connection:
    """A nodra-web server: its access points, directories and files."""

    def __init__(self, url, timeout=60.0):
        parts = urllib.parse.urlsplit(url)
        if parts.scheme not in ("http", "https") or not parts.netloc:
            raise UsageError("the URL must be http://HOST:PORT/, got %r" % url)
        self.url = "%s://%s%s" % (parts.scheme, parts.netloc, parts.path.rstrip("/"))
        self.timeout = timeout
        self._json("/api/files", {"dir": None})  # fails now when nobody answers

    def __repr__(self):
        return "nodra.Connection(%r)" % self.url

    def files(self, dir=""):
        """Paths of the RPC III files directly in `dir` (ACCESS_POINT[/SUB/DIRS]); with the
        default "", those at the top of every access point."""
        return [entry["path"] for point in self._listing(dir) for entry in point["files"]]

    def directories(self, dir=""):
        """Paths of the sub-directories directly in `dir`; with "", the access points."""
        if not dir:
            return [point["name"] for point in self._listing(dir)]
        return [entry["path"] for point in self._listing(dir) for entry in point["directories"]]

    def open(self, path):
        """The file at ACCESS_POINT/PATH, with its annotations and channels."""
        return File(self, self._json("/api/file", {"path": path}))

    def _listing(self, dir):
        return self._json("/api/files", {"dir": dir or None})["access_points"]

    def _json(self, route, params):
        with self._get(route, params, "application/json") as response:
            return json.loads(response.read().decode("utf-8"))

    def _get(self, route, params, accept, method="GET"):
        query = urllib.parse.urlencode({k: v for k, v in params.items() if v is not None})
        request = urllib.request.Request(self.url + route + ("?" + query if query else ""),
                                         headers={"Accept": accept}, method=method)
        try:
            return urllib.request.urlopen(request, timeout=self.timeout)
        except urllib.error.HTTPError as e:
            raise _answered_error(e) from None
        except (urllib.error.URLError, OSError, http.client.HTTPException) as e:
            raise ConnectionError(_unreachable(self.url, self.timeout, e)) from None


def _unreachable(url, timeout, e):
    reason = getattr(e, "reason", e)
    if isinstance(reason, (socket.timeout, TimeoutError)):
        return "nodra-web at %s did not answer within %g s" % (url, timeout)
    return "cannot reach nodra-web at %s: %s" % (url, reason)


def _answered_error(e):
    """The error of an answer with a status other than 200, from its JSON body."""
    try:
        body = json.loads(e.read().decode("utf-8"))
    except (ValueError, OSError, http.client.HTTPException):
        body = {}
    message = body.get("error") or "the server answered %d %s" % (e.code, e.reason)
    if e.code in (400, 405, 413):
        return UsageError(message, e.code)
    return DataError(message, body.get("reason", ""), body.get("place", ""), e.code)


def _read_into(response, buffer, url):
    """Fills `buffer` (bytes) from `response` and checks that nothing follows."""
    view = memoryview(buffer).cast("B")
    done = 0
    try:
        while done < len(view):
            got = response.readinto(view[done:])
            if not got:
                break
            done += got
        extra = response.read(1) if done == len(view) else b""
    except (http.client.IncompleteRead, OSError, http.client.HTTPException) as e:
        raise DataError("the values from %s were cut short (%s)" % (url, e)) from None
    if done != len(view) or extra:
        raise DataError("the values from %s were cut short: %d of %d bytes came"
                        % (url, done, len(view)))


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


def _read_values(file, channels, start, count, t0, t1):
    """The values of `channels` as a float32 array (1-D for one channel, else a column per
    channel) and the selection (first value from 1, count) the server made."""
    base = channels[0]
    params = {"path": file.path, "channel": ",".join(str(c.number) for c in channels),
              "format": "raw"}
    if t0 is not None or t1 is not None:
        if start is not None or count is not None:
            raise UsageError("values are chosen by index (start, count) or by time (t0, t1), not both")
        params.update({"from": _seconds(t0), "to": _seconds(t1)})
    else:
        first, count = base._index_range(start, count)
        if count == 0:
            return np.empty((0,) if len(channels) == 1 else (0, len(channels)), "<f4"), (first + 1, 0)
        params.update({"start": first + 1, "count": count})
    connection = file._connection
    with connection._get("/api/values", params, "application/octet-stream") as response:
        selected = (int(response.headers["X-Nodra-Start"]), int(response.headers["X-Nodra-Count"]))
        values = np.empty(selected[1] * len(channels), dtype="<f4")
        _read_into(response, values, connection.url)
    if len(channels) == 1:
        return values, selected
    return values.reshape(len(channels), selected[1]).T, selected


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
        params = {"path": self._file.path, "channel": str(self.number), "format": "raw",
                  "from": _seconds(t0), "to": _seconds(t1)}
        with self._file._connection._get("/api/values", params, "application/octet-stream",
                                         method="HEAD") as response:
            return self._times(int(response.headers["X-Nodra-Start"]), int(response.headers["X-Nodra-Count"]))

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
        reply = self._file._connection._json("/api/stats", {"path": self._file.path, "channel": self.number})
        return reply["channels"][0]

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

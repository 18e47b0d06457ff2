"""Connections, files and channels, the same on every route: a route (local files in process,
a nodra-server over IIOP, a nodra-web over HTTP) gives a file's listing, values, statistics
and counts; these classes give them numpy's and pandas' conventions."""

import math
import operator
import re

import numpy as np

from ._errors import DataError, UsageError

# Direction texts in the order of the listing's direction numbers.
_DIRECTIONS = ("", "S", "+X", "+Y", "+Z", "+RX", "+RY", "+RZ",
               "-X", "-Y", "-Z", "-RX", "-RY", "-RZ")

# Values read per request by iter_chunks, and by iteration, when no size is given.
DEFAULT_CHUNK = 1 << 20

# The options of rainflow(), as nodra-browse rainflow names them.
_RAINFLOW_OPTIONS = ("classes", "range", "gate", "method", "slopes", "reference_range",
                     "reference_cycles", "max_cycles", "join")


class Connection:
    """A server: its access points, directories and files. Closes with `close()` or at the
    end of a `with` block."""

    def __init__(self, route):
        self._route = route
        self.url = route.url

    def __repr__(self):
        return "nodra.Connection(%r)" % self.url

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def close(self):
        if self._route is not None:
            self._route.close()
            self._route = None

    def files(self, dir=""):
        """Paths of the RPC III files directly in `dir` (ACCESS_POINT[/SUB/DIRS]); with the
        default "", those at the top of every access point."""
        return _built(self.url, lambda listing: [
            entry["path"] for point in listing["access_points"] for entry in point["files"]],
            self._live().list(dir))

    def directories(self, dir=""):
        """Paths of the sub-directories directly in `dir`; with "", the access points."""
        listing = self._live().list(dir)
        if not dir:
            return _built(self.url, lambda doc: [point["name"] for point in doc["access_points"]], listing)
        return _built(self.url, lambda doc: [
            entry["path"] for point in doc["access_points"] for entry in point["directories"]], listing)

    def open(self, path):
        """The file at ACCESS_POINT/PATH, with its annotations and channels."""
        return File(self._live().open(path), self)

    def rainflow(self, paths, channel, **options):
        """The rainflow count of channel `channel` of the files `paths` as one duty cycle
        (each path may end in ":REPEATS"), as `nodra-browse rainflow` counts it; options as
        File.rainflow's. With join=True the files are one signal, one after the other (the
        consecutive files of one drive), as `nodra-browse rainflow --join` counts them."""
        return Rainflow(self._live().rainflow(list(paths), int(channel), _rainflow_options(options)))

    def _live(self):
        if self._route is None:
            raise UsageError("the connection to %s is closed" % self.url)
        return self._route


def _built(url, build, document):
    """What `build` makes of a document of the route; a DataError where it lacks what it needs."""
    try:
        return build(document)
    except (KeyError, IndexError, TypeError, ValueError, AttributeError) as e:
        raise DataError("the answer of %s is not as nodra writes it (%s: %s)" % (url, type(e).__name__, e)) from None


def _rainflow_options(options):
    unknown = sorted(set(options) - set(_RAINFLOW_OPTIONS))
    if unknown:
        raise UsageError("rainflow takes no option %s (it takes %s)" % (", ".join(unknown), ", ".join(_RAINFLOW_OPTIONS)))
    return {k: v for k, v in options.items() if v is not None}


class File:
    """An RPC III file: `annotations` (a dict) and `channels` (a list of Channel). A channel
    is `f[number]` (from 1, as the file numbers them) or `f[label]`; `label in f` tells
    whether it has one. Closes with `close()` or at the end of a `with` block."""

    def __init__(self, handle, connection):
        self._handle = handle
        self._connection = connection
        document = handle.document()
        try:
            self.path = document["path"]
            self.annotations = {a["name"]: a["value"] for a in document["file"]["annotations"]}
            self._dates = {a["name"]: a["iso8601"] for a in document["file"]["annotations"] if "iso8601" in a}
            self.channels = [Channel(self, c) for c in document["channels"]]
        except (KeyError, IndexError, TypeError, ValueError) as e:
            raise DataError("the listing of %s is not as nodra writes it (%s: %s)"
                            % (getattr(handle, "path", "?"), type(e).__name__, e)) from None
        group = self.annotations.get("pts_per_group")
        self._group = int(group) if isinstance(group, (int, float)) and group >= 1 else DEFAULT_CHUNK

    def __repr__(self):
        return "nodra.File(%r, %d channels)" % (self.path, len(self.channels))

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def close(self):
        """Lets go of the file; its channels read nothing more."""
        self._handle = None

    @property
    def closed(self):
        return self._handle is None

    def __len__(self):
        return len(self.channels)

    def __iter__(self):
        return iter(self.channels)

    def __contains__(self, key):
        try:
            self.channel(key)
            return True
        except UsageError:
            return False

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
            raise UsageError("channel %d does not exist (the file has %d channels)" % (key, len(self.channels)))
        raise UsageError("a channel is named by its number or label, not by %r" % (key,))

    @property
    def date(self):
        """The moment the file's date stands for (numpy datetime64), or None where it does not read."""
        text = self._dates.get("date")
        return np.datetime64(text, "ns") if text else None

    def values(self, channels=None, start=None, count=None, *, t0=None, t1=None):
        """The values of several channels sharing their time base, one column each (a 2-D
        float32 array); by index (`start` from 0, `count`) or by time (`t0`, `t1` seconds)."""
        values, _ = self._read(self._chosen(channels), start, count, t0, t1)
        return values

    def to_dataframe(self, channels=None, t0=None, t1=None, *, units=False, time="relative", dtype="float32"):
        """A pandas DataFrame of the channels (all by default) whose times lie in [t0, t1], a
        column per channel, and the units in `frame.attrs["units"]` (column to unit).

        `units=True` names the columns "label [unit]" as the CSV does. `time="relative"`
        indexes the rows by seconds from the file's start; `time="absolute"` by the moment
        (a DatetimeIndex from the file's date). `dtype="float64"` widens the values.
        Channels with other time bases are read apart and joined on the time."""
        try:
            import pandas as pd
        except ImportError:
            raise UsageError("to_dataframe needs pandas (apt-get install python3-pandas)") from None
        if time not in ("relative", "absolute"):
            raise UsageError('time is "relative" or "absolute", not %r' % (time,))
        start = self.date if time == "absolute" else None
        if time == "absolute" and start is None:
            raise UsageError("%s has no date that reads as a moment (its date is %r); use time=\"relative\""
                             % (self.path, self.annotations.get("date")))
        chosen = self._chosen(channels)
        groups = {}
        for channel in chosen:
            groups.setdefault((channel.count, channel.first, channel.spacing), []).append(channel)
        names = _column_names(chosen, units)
        frames = []
        for members in groups.values():
            values, (first, got) = self._read(members, None, None, t0, t1)
            seconds = members[0]._times(first, got)
            if time == "absolute":
                index = pd.DatetimeIndex(start + (seconds * 1e9).round().astype("timedelta64[ns]"), name="time")
            else:
                index = pd.Index(seconds, name="time [s]")
            frames.append(pd.DataFrame(np.asarray(values, dtype=dtype), index=index,
                                       columns=[names[c.number] for c in members]))
        if (t0 is not None or t1 is not None) and all(len(f) == 0 for f in frames):
            raise UsageError("no value of %s lies in [%s, %s] s" % (self.path, t0, t1))
        frame = frames[0] if len(frames) == 1 else pd.concat(frames, axis=1, join="outer").sort_index()
        frame = frame[[names[c.number] for c in chosen]]
        frame.attrs["units"] = {names[c.number]: c.unit for c in chosen}
        return frame

    def stats(self, channels=None):
        """Count, NaN count, minimum, maximum, mean and RMS of each channel (all by default),
        as the reader computes them: a dict per channel, in order."""
        chosen = self._chosen(channels)
        document = self._live().stats([c.number for c in chosen])
        return _built(self.path, lambda doc: [dict(c) for c in doc["channels"]], document)

    def rainflow(self, channel, **options):
        """The rainflow count of `channel` (number or label), as `nodra-browse rainflow`
        counts it. Options: classes, range=(min, max), gate, method ("astm" or
        "four-point"), slopes, reference_range, reference_cycles, max_cycles."""
        self._live()
        return self._connection.rainflow([self.path], self.channel(channel).number, **options)

    def to_mat(self, path, channels=None):
        """Writes the channels (all by default) to a MATLAB file: a variable per channel (its
        label made a MATLAB name), `time` for a common time base, and `units`."""
        try:
            import scipy.io
        except ImportError:
            raise UsageError("to_mat needs scipy (apt-get install python3-scipy)") from None
        chosen = self._chosen(channels)
        names = _matlab_names(chosen)
        data = {names[c.number]: np.asarray(c) for c in chosen}
        data["units"] = np.array([[names[c.number], c.unit] for c in chosen], dtype=object)
        bases = {(c.count, c.first, c.spacing) for c in chosen}
        if len(bases) == 1:
            data["time"] = chosen[0].time()
        scipy.io.savemat(path, data, do_compression=True)

    def to_hdf5(self, path, channels=None):
        """Writes the channels (all by default) to an HDF5 file: a dataset per channel named
        by its label, with its unit, number, first time and spacing as attributes, and the
        file's annotations on the root."""
        try:
            import h5py
        except ImportError:
            raise UsageError("to_hdf5 needs h5py (apt-get install python3-h5py)") from None
        chosen = self._chosen(channels)
        with h5py.File(path, "w") as out:
            for name, value in self.annotations.items():
                out.attrs[name] = value
            for channel, name in zip(chosen, _column_names(chosen, False).values()):
                dataset = out.create_dataset(name.replace("/", "_"), data=np.asarray(channel),
                                             chunks=True, compression="gzip")
                for attribute in ("number", "unit", "first", "spacing", "rate"):
                    dataset.attrs[attribute] = getattr(channel, attribute)

    def _live(self):
        if self._handle is None:
            raise UsageError("%s is closed" % self.path)
        return self._handle

    def _chosen(self, channels):
        if channels is None:
            return list(self.channels)
        if isinstance(channels, (str, int, np.integer, Channel)):
            channels = [channels]
        chosen = [self.channel(c) for c in channels]
        if not chosen:
            raise UsageError("no channel asked for")
        return chosen

    def _read(self, channels, start, count, t0, t1):
        """The values of `channels` (float32, 1-D for one channel, else a column each) and
        their selection (first from 1, count)."""
        handle = self._live()
        numbers = [c.number for c in channels]
        if t0 is not None or t1 is not None:
            if start is not None or count is not None:
                raise UsageError("values are chosen by index (start, count) or by time (t0, t1), not both")
            for t in (t0, t1):
                if t is not None and not math.isfinite(float(t)):
                    raise UsageError("times must be finite seconds, got %r" % (t,))
            if hasattr(handle, "read_time"):
                values, first, got = handle.read_time(numbers, t0, t1)
                return values, (first + 1, got)
            first, got = handle.select(numbers, t0, t1)
        else:
            first, got = channels[0]._index_range(start, count)
        if got == 0:
            return np.empty((0,) if len(channels) == 1 else (0, len(channels)), "<f4"), (first + 1, 0)
        return handle.read(numbers, first, got), (first + 1, got)


def _column_names(channels, units):
    """Column names: the labels (with the unit as "label [unit]" when `units`), with the
    channel number added where a label repeats."""
    labels = [c.label for c in channels]
    names = {}
    for c in channels:
        name = c.label if labels.count(c.label) == 1 else "%s (%d)" % (c.label, c.number)
        names[c.number] = "%s [%s]" % (name, c.unit) if units else name
    return names


def _matlab_names(channels):
    """Variable names MATLAB takes: letters, digits and underscores, a letter first, unique."""
    names, taken = {}, set()
    for c in channels:
        name = re.sub(r"[^A-Za-z0-9]+", "_", c.label).strip("_") or "channel"
        if not name[0].isalpha():
            name = "ch_" + name
        name = name[:60]
        if name in taken:
            name = "%s_%d" % (name, c.number)
        taken.add(name)
        names[c.number] = name
    return names


class Channel:
    """One channel of a file: its description and its values. It behaves as a 1-D float32
    array: `np.asarray(ch)` reads it whole in one read, `ch[i]`, `ch[i:j:k]` read what they
    name (indices from 0, negative from the end), iteration reads it a chunk at a time, and
    `dask.array.from_array(ch)` reads it in chunks of the file's groups."""

    ndim = 1
    dtype = np.dtype("float32")

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

    @property
    def shape(self):
        return (self.count,)

    @property
    def size(self):
        return self.count

    @property
    def chunks(self):
        """The file's group of values a channel, as h5py gives chunks: what dask reads at a time."""
        return (max(1, min(self._file._group, self.count)),)

    def __len__(self):
        return self.count

    def __array__(self, dtype=None, copy=None):
        values = self.values()
        return values if dtype is None else values.astype(dtype, copy=False)

    def __iter__(self):
        for chunk in self.iter_chunks():
            yield from chunk

    def __getitem__(self, key):
        """`ch[i]` is value number i + 1 of the file (a float32); `ch[i:j:k]` a float32 array,
        indices counted from 0 as Python counts them, negative ones from the end."""
        if isinstance(key, tuple) and len(key) == 1:
            key = key[0]
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
        if key is Ellipsis:
            return self.values()
        try:
            index = operator.index(key)
        except TypeError:
            raise UsageError("channels are indexed by integers and slices, not by %r" % (key,)) from None
        if isinstance(key, bool):
            raise UsageError("channels are indexed by integers and slices, not by %r" % (key,))
        if index < 0:
            index += self.count
        if not 0 <= index < self.count:
            raise IndexError("value index %d out of range for %d values" % (key, self.count))
        return self.values(index, 1)[0]

    def values(self, start=None, count=None, *, t0=None, t1=None):
        """The values as a float32 array: `count` values (default: to the end) from index
        `start` (from 0; default 0), or those whose times lie in [t0, t1] seconds."""
        values, _ = self._file._read([self], start, count, t0, t1)
        return values

    def time(self, start=None, count=None, *, t0=None, t1=None):
        """The times of the values that values() with the same arguments gives, in seconds
        (float64, as nodra-browse dump computes them)."""
        if t0 is None and t1 is None:
            first, count = self._index_range(start, count)
            return self._times(first + 1, count)
        handle = self._file._live()
        first, got = handle.select([self.number], t0, t1)
        return self._times(first + 1, got)

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

    def to_dask(self, chunks="auto"):
        """The channel as a dask array, read a chunk at a time where and when dask computes."""
        try:
            import dask.array
        except ImportError:
            raise UsageError("to_dask needs dask (apt-get install python3-dask)") from None
        return dask.array.from_array(self, chunks=chunks, asarray=True, fancy=False,
                                     name="nodra-%s-%d" % (self._file.path, self.number))

    def stats(self):
        """Count, NaN count, minimum, maximum, mean and RMS of the channel (a dict)."""
        return self._file.stats([self])[0]

    def rainflow(self, **options):
        """The rainflow count of the channel; options as File.rainflow's."""
        return self._file.rainflow(self.number, **options)

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
    """A JSON number, or None, "inf", "-inf" and "nan" as nodra writes what JSON cannot."""
    if value is None:
        return float("nan")
    return float(value)


class Rainflow:
    """A rainflow count, as `nodra-browse rainflow --json` gives it, with numpy arrays:
    `matrix` (from-to, classes x classes), `boundaries` (classes + 1 levels), `ranges` (the
    counts of each range class, from `range_edges`), `cumulative` (cycles of at least each
    range), `crossings` (upward crossings of each boundary), `damage` (slope to damage),
    `residues` (per file), the totals (`cycles`, `full_cycles`, `half_cycles`, `values`, ...)
    and `document`, the whole JSON document. `a + b` combines the counts of two countings in
    the same classes, as a duty cycle of their files does."""

    def __init__(self, document):
        self.document = document
        total = document["total"]
        self.settings = document["settings"]
        self.channel = document.get("channel")
        self.label = document.get("label", "")
        self.unit = document.get("unit", "")
        self.matrix = np.array(total["matrix"], dtype=np.float64).reshape(-1, len(total["boundaries"]) - 1)
        self.boundaries = _numbers(total["boundaries"])
        self.range_edges = _numbers([total["ranges"][0]["from"]] + [r["to"] for r in total["ranges"]]) \
            if total["ranges"] else np.empty(0)
        self.ranges = _numbers([r["count"] for r in total["ranges"]])
        self.crossings = _numbers([c["count"] for c in total["crossings"]])
        self.damage = {float(_number(d["slope"])): float(_number(d["damage"])) for d in total["damage"]}
        self.residues = {f["file"]: _numbers(f.get("residue", [])) for f in document.get("files", [])}
        for name in ("values", "nan", "infinite", "reversals"):
            setattr(self, name, int(total[name]))
        for name in ("full_cycles", "half_cycles", "residue_cycles", "outside", "min", "max"):
            setattr(self, name, float(_number(total[name])))
        self.cycles = float(_number(total["cycle_count"]))

    @property
    def cumulative(self):
        return np.cumsum(self.ranges[::-1])[::-1]

    def __repr__(self):
        return "nodra.Rainflow(%r, %g cycles in %d classes)" % (self.label, self.cycles, self.matrix.shape[0])

    def __add__(self, other):
        if not isinstance(other, Rainflow):
            return NotImplemented
        mine = {k: v for k, v in self.settings.items() if k != "max_cycles"}
        theirs = {k: v for k, v in other.settings.items() if k != "max_cycles"}
        if mine != theirs:
            raise UsageError("counts add only when counted in the same classes and settings: give both the same range")
        total = object.__new__(Rainflow)
        total.__dict__.update(self.__dict__)
        total.document = None
        total.matrix = self.matrix + other.matrix
        total.ranges = self.ranges + other.ranges
        total.crossings = self.crossings + other.crossings
        total.damage = {k: self.damage[k] + other.damage[k] for k in self.damage}
        total.residues = {**self.residues, **other.residues}
        for name in ("values", "nan", "infinite", "reversals", "full_cycles", "half_cycles",
                     "residue_cycles", "outside", "cycles"):
            setattr(total, name, getattr(self, name) + getattr(other, name))
        total.min = np.fmin(self.min, other.min)
        total.max = np.fmax(self.max, other.max)
        return total


def _numbers(values):
    return np.array([_number(v) for v in values], dtype=np.float64)

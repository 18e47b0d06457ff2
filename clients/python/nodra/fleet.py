"""Counting and statistics over a fleet of files on several machines, with Dask.

Each data machine runs a nodra-web over its files; a Dask worker beside it declares itself
with the viewer's URL as its name (``dask worker SCHEDULER --name http://rig-a:8080/``).
One task per file runs on the worker beside the file's viewer (on any worker where none
declared itself) and asks that viewer for the file's partial result, a few kilobytes;
only partial results cross the network, never values. The partial results are added in a
tree; what floating-point addition would make depend on the order (damage, range means,
sums of values) travels beside them per file and is added at the end in the order of the
rows, so a count equals ``nodra-browse rainflow`` of the same files as a duty cycle bit for
bit (while the repetitions are whole numbers, which keep the counts exact in any order).

    >>> import nodra.fleet
    >>> rows = [("http://rig-a:8080/", "rig/drive-01.rsp", 1), ("http://rig-b:8080/", "rig/drive-02.rsp", 1)]
    >>> r = nodra.fleet.rainflow(rows, classes=64, range=(-16000, 16000), client=dask_client)
    >>> r.matrix, r.damage
"""

import math
import urllib.parse

import numpy as np

from ._api import Rainflow, _rainflow_options
from ._errors import UsageError
from ._http import DEFAULT_MAX_JSON, HttpConnection


def connect(url, timeout=60.0):
    """The fleet a nodra-web with a catalogue (nodra-web --catalogue) knows: with a shared
    PostgreSQL catalogue, any one viewer answers for every machine."""
    return Fleet(url, timeout)


class Fleet:
    """The catalogue of a fleet, asked through one viewer: find() gives the rows of the
    channels wanted (each naming the viewer that serves its file), which rainflow() and
    stats() count where the files lie."""

    def __init__(self, url, timeout=60.0):
        self._connection = HttpConnection(url, timeout, DEFAULT_MAX_JSON)
        self.url = self._connection.url
        self.timeout = timeout

    def __repr__(self):
        return "nodra.fleet.Fleet(%r)" % self.url

    def find(self, text=None, unit=None, rate=None, recorded=None, path=None, label=None, limit=None):
        """A DataFrame of the channels that pass every filter given, a row per channel (viewer,
        path, number, label, unit, rate, values, recorded, the statistics and their sums):
        `text` words of the label, point or path; `unit` exactly; `rate` in Hz; `recorded`
        (from, to) ISO 8601 texts, from included; `path` ACCESS_POINT[/PREFIX]; `label`
        exactly or with * for any text. All rows (asked a page at a time) unless `limit`."""
        import pandas as pd
        params = {"q": text, "unit": unit, "rate": None if rate is None else repr(float(rate)), "path": path,
                  "label": label}
        if recorded is not None:
            params["recorded_from"], params["recorded_to"] = (None if r is None else str(r) for r in recorded)
        rows, page = [], 10000 if limit is None else min(int(limit), 10000)
        while True:
            answer = self._connection._json("/api/catalogue", dict(params, limit=page, offset=len(rows)))
            rows.extend(answer["rows"])
            if len(answer["rows"]) < page or (limit is not None and len(rows) >= limit):
                break
        frame = pd.DataFrame(rows[:limit] if limit is not None else rows)
        if "recorded" in frame:
            frame["recorded"] = pd.to_datetime(frame["recorded"])
        return frame

    def summary(self, **filters):
        """The fleet's range per label and unit over the channels that pass the filters (as
        find's): a DataFrame of label, unit, files, channels, values, min, max, mean, rms."""
        import pandas as pd
        params = {"q": filters.get("text"), "unit": filters.get("unit"), "path": filters.get("path"),
                  "label": filters.get("label")}
        return pd.DataFrame(self._connection._json("/api/catalogue/summary", params)["summary"])

    def rainflow(self, rows, classes=64, range=None, client=None, **options):
        """rainflow() of the rows find() gave."""
        return rainflow(rows, classes=classes, range=range, client=client, timeout=self.timeout, **options)

    def stats(self, rows, client=None):
        """stats() of the rows find() gave."""
        return stats(rows, client=client, timeout=self.timeout)


def _rows(rows):
    """(viewer URL, path, channel number, repeats) of each row: a DataFrame with columns
    viewer, path and number (and repeats), or tuples (viewer, path, number[, repeats])."""
    if hasattr(rows, "to_dict"):
        missing = {"viewer", "path", "number"} - set(rows.columns)
        if missing:
            raise UsageError("rows need the columns viewer, path and number; missing %s" % ", ".join(sorted(missing)))
        records = rows.to_dict("records")
        out = [(r["viewer"], r["path"], int(r["number"]), float(r.get("repeats", 1) or 1)) for r in records]
    else:
        out = []
        for row in rows:
            if len(row) not in (3, 4):
                raise UsageError("a row is (viewer, path, number[, repeats]), not %r" % (row,))
            out.append((row[0], row[1], int(row[2]), float(row[3]) if len(row) == 4 else 1.0))
    if not out:
        raise UsageError("no rows to count")
    for viewer, _, _, repeats in out:
        if urllib.parse.urlsplit(viewer).scheme not in ("http", "https"):
            raise UsageError("a row's viewer is the http:// URL of its nodra-web, not %r" % (viewer,))
        if not (repeats > 0 and math.isfinite(repeats)):
            raise UsageError("repetitions are finite and above 0, not %r" % (repeats,))
    return out


def _normal(url):
    return url.rstrip("/") + "/"


def _placement(client, viewers):
    """For each viewer URL, the address of the worker named by it (None: any worker)."""
    if client is None:
        return {}
    named = {}
    for address, info in client.scheduler_info()["workers"].items():
        name = str(info.get("name", ""))
        if name.startswith(("http://", "https://")):
            named[_normal(name)] = address
    return {v: named.get(_normal(v)) for v in viewers}


def _count_file(index, viewer, path, number, repeats, options, timeout):
    """The partial count of one file, asked of its viewer: what adds exactly (cycle counts
    are halves, counts whole numbers: exact while the repetitions are whole), and per file
    what floating-point addition would make depend on the order."""
    document = HttpConnection(viewer, timeout, DEFAULT_MAX_JSON).rainflow([path], number, dict(options, per_file=1))
    part = document["files"][0]
    exact = {
        "matrix": np.array(part["matrix"], dtype=np.float64) * repeats,
        "range_counts": np.array(part["range_counts"], dtype=np.float64) * repeats,
        "crossings": np.array(part["crossings"], dtype=np.float64) * repeats,
    }
    return {"exact": exact, "files": [(index, {
        "file": part["file"], "viewer": viewer, "version": part["version"], "repeats": repeats,
        "values": part["values"], "nan": part["nan"], "infinite": part["infinite"], "reversals": part["reversals"],
        "min": _float(part["min"]), "max": _float(part["max"]),
        "full_cycles": _float(part["full_cycles"]), "half_cycles": _float(part["half_cycles"]),
        "residue_cycles": _float(part["residue_cycles"]), "outside": _float(part["outside"]),
        "damage": [(_float(d["slope"]), _float(d["damage"])) for d in part["damage"]],
        "range_mean_sums": np.array([_float(v) for v in part["range_mean_sums"]]),
        "residue": part["residue"], "residue_length": part["residue_length"], "ran_on": _worker_name(),
    })], "document": document}


def _worker_name():
    """The name of the Dask worker this runs on; None outside one."""
    try:
        from distributed import get_worker
        return str(get_worker().name)
    except (ImportError, ValueError):
        return None


def _add(a, b):
    """Two partial counts as one: exact parts added, per-file parts kept beside them."""
    return {"exact": {k: a["exact"][k] + b["exact"][k] for k in a["exact"]},
            "files": a["files"] + b["files"], "document": a["document"]}


def _float(value):
    return float("nan") if value is None else float(value)


def _tree(client, futures, add):
    """Adds partial results pairwise, on the workers, until one is left."""
    while len(futures) > 1:
        paired = [client.submit(add, futures[i], futures[i + 1], pure=False) for i in range(0, len(futures) - 1, 2)]
        if len(futures) % 2:
            paired.append(futures[-1])
        futures = paired
    return futures[0]


def _run(rows, task, add, client, timeout, *arguments):
    """Runs `task` per row, beside its viewer where a worker declared itself there, and adds
    the results in a tree; in this process when there is no client."""
    if client is None:
        results = [task(i, *row, *arguments, timeout) for i, row in enumerate(rows)]
        total = results[0]
        for result in results[1:]:
            total = add(total, result)
        return total
    placement = _placement(client, {row[0] for row in rows})
    futures = []
    for i, row in enumerate(rows):
        worker = placement.get(row[0])
        beside = {"workers": [worker], "allow_other_workers": True} if worker else {}
        futures.append(client.submit(task, i, *row, *arguments, timeout, pure=False, retries=2, **beside))
    return _tree(client, futures, add).result()


def rainflow(rows, classes=64, range=None, client=None, timeout=600.0, **options):
    """The rainflow count of the channels `rows` name, as one duty cycle: one Dask task per
    file on `client` (in this process when None). `range` (min, max) is required: files on
    several machines are counted in the same classes. Other options as File.rainflow's."""
    if range is None:
        raise UsageError("give the class range=(min, max): the files are counted apart, in the same classes")
    options = _rainflow_options(dict(options, classes=classes, range=tuple(range)))
    rows = _rows(rows)
    total = _run(rows, _count_file, _add, client, timeout, options)
    return _combined(total)


def _combined(total):
    """The Rainflow of the sum: the exact parts as added, the rest added per file in the
    order of the rows, as nodra-browse rainflow adds its files."""
    files = [part for _, part in sorted(total["files"], key=lambda item: item[0])]
    result = Rainflow(total["document"])
    result.document = None
    result.matrix = total["exact"]["matrix"].reshape(result.matrix.shape)
    result.ranges = total["exact"]["range_counts"]
    result.crossings = total["exact"]["crossings"]
    damage = {slope: 0.0 for slope, _ in files[0]["damage"]}
    mean_sums = np.zeros_like(files[0]["range_mean_sums"])
    sums = dict.fromkeys(("full_cycles", "half_cycles", "residue_cycles", "outside"), 0.0)
    counts = dict.fromkeys(("values", "nan", "infinite", "reversals"), 0)
    low, high = math.nan, math.nan
    for part in files:
        for slope, value in part["damage"]:
            damage[slope] += value * part["repeats"]
        mean_sums = mean_sums + part["range_mean_sums"] * part["repeats"]
        for name in sums:
            sums[name] += part[name] * part["repeats"]
        for name in counts:
            counts[name] += part[name]
        low, high = float(np.fmin(low, part["min"])), float(np.fmax(high, part["max"]))
    result.damage = damage
    result.range_mean_sums = mean_sums
    for name, value in list(sums.items()) + list(counts.items()):
        setattr(result, name, value)
    result.cycles = sums["full_cycles"] + sums["half_cycles"]
    result.min, result.max = low, high
    result.residues = {part["file"]: np.array([_float(v) for v in part["residue"]]) for part in files}
    result.files = [{k: part[k] for k in ("viewer", "file", "version", "repeats", "values", "ran_on")} for part in files]
    return result


def _stats_file(index, viewer, path, number, repeats, timeout):
    document = HttpConnection(viewer, timeout, DEFAULT_MAX_JSON)._json(
        "/api/stats", {"path": path, "channel": number})
    channel = document["channels"][0]
    return [(index, {"viewer": viewer, "path": path, "number": number, "label": channel["label"],
                     "unit": channel["unit"], "count": channel["count"], "nan": channel["nan"],
                     "min": _float(channel["min"]), "max": _float(channel["max"]),
                     "sum": _float(channel["sum"]), "sum_squares": _float(channel["sum_squares"])})]


def stats(rows, client=None, timeout=600.0):
    """Statistics of the channels `rows` name taken together, as one pass over all their
    values would give them: a dict of count, nan, min, max, mean, rms, sum and sum_squares,
    with "files", the figures of each row. One Dask task per file on `client`."""
    rows = _rows(rows)
    parts = [part for _, part in sorted(_run(rows, _stats_file, lambda a, b: a + b, client, timeout),
                                        key=lambda item: item[0])]
    total = {"count": 0, "nan": 0, "min": math.nan, "max": math.nan, "sum": 0.0, "sum_squares": 0.0}
    for part in parts:
        total["count"] += part["count"]
        total["nan"] += part["nan"]
        total["sum"] += part["sum"]
        total["sum_squares"] += part["sum_squares"]
        total["min"], total["max"] = float(np.fmin(total["min"], part["min"])), float(np.fmax(total["max"], part["max"]))
    used = total["count"] - total["nan"]
    total["mean"] = total["sum"] / used if used else math.nan
    total["rms"] = math.sqrt(total["sum_squares"] / used) if used else math.nan
    total["files"] = parts
    return total

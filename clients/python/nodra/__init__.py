"""Reads RPC III channels into numpy arrays and pandas DataFrames: local files in this
process, and the files of a nodra-server (IIOP) or a nodra-web (HTTP).

    >>> import nodra
    >>> f = nodra.open("examples/road-load.rsp")          # a local file, no server
    >>> ch = f["Front left:wheel force:+Z"]                # or f[1]
    >>> values = np.asarray(ch)                             # one read, float32
    >>> f.to_dataframe([1, 4], t0=3.5, t1=4.5, units=True)
    >>> conn = nodra.connect("corbaloc::rig-pc:2810/NodraServer")   # or "http://rig-pc:8080/"
    >>> with conn.open("rig/drive-04.rsp") as g: g[1].rainflow(classes=64)

Indices and slices count from 0 as Python does: ``ch[i]`` is the file's value number
``i + 1`` (what ``nodra-browse dump --start`` and the API's ``start`` count). Channels are
numbered from 1, as the file numbers them.
"""

from ._api import DEFAULT_CHUNK, Channel, Connection, File, Rainflow
from ._errors import ConnectionError, DataError, Error, UsageError
from ._http import DEFAULT_MAX_JSON, HttpConnection
from ._local import NativeRoute

__all__ = [
    "Channel",
    "Connection",
    "ConnectionError",
    "DataError",
    "Error",
    "File",
    "Rainflow",
    "UsageError",
    "connect",
    "open",
]
try:
    from ._version import version as __version__  # written by the build, from the repository
except ImportError:  # the sources, not built
    __version__ = "0.1.0"

_local_files = None


def open(path):
    """The RPC III file at `path` on this machine, read in this process (no server)."""
    global _local_files
    if _local_files is None:
        _local_files = Connection(NativeRoute.local())
    return _local_files.open(path)


def connect(url, timeout=60.0, max_json=DEFAULT_MAX_JSON):
    """A connection to a server: "corbaloc::HOST:PORT/NodraServer" (or corbaname:, IOR:) for a
    nodra-server over IIOP, "http://HOST:PORT/" for a nodra-web.

    Over HTTP, `timeout` is the most seconds one request may take in all (None: no limit)
    and `max_json` the most bytes of a JSON answer; redirects are not followed. Over IIOP a
    call gives up after 30 s. Raises ConnectionError when nothing answers there, UsageError
    for a URL of neither kind.
    """
    if not isinstance(url, str):
        raise UsageError("a server is named by its URL, not by %r" % (url,))
    if url.startswith(("corbaloc:", "corbaname:", "IOR:")):
        return Connection(NativeRoute.remote(url))
    return Connection(HttpConnection(url, timeout, max_json))

"""Reads RPC III channels served by nodra-web into numpy arrays and pandas DataFrames.

    >>> import nodra
    >>> conn = nodra.connect("http://127.0.0.1:8080/")
    >>> f = conn.open("examples/road-load.rsp")
    >>> f.channel(1)[0:1024]            # numpy float32
    >>> f.to_dataframe([1, 4], t0=3.5, t1=4.5)

Indices and slices count from 0 as Python does: ``ch[i]`` is the file's value number
``i + 1`` (what ``nodra-browse dump --start`` and the API's ``start`` count). Channels are
numbered from 1, as the file numbers them.
"""

from ._client import (
    Channel,
    Connection,
    ConnectionError,
    DataError,
    Error,
    File,
    UsageError,
    connect,
)

__all__ = [
    "Channel",
    "Connection",
    "ConnectionError",
    "DataError",
    "Error",
    "File",
    "UsageError",
    "connect",
]
__version__ = "0.1.0"

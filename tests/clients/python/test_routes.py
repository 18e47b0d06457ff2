"""The same Python objects over the three routes (a local file in process, a nodra-server over
IIOP, a nodra-web over HTTP), against the values the test writer wrote: numpy's conventions,
DataFrames, rainflow and errors."""

import json
import os
import subprocess

import numpy as np
import pandas as pd
import pytest

import nodra
from conftest import FILES
from test_client import COUNT, SLICES, assert_bit_equal


@pytest.mark.parametrize("name", FILES)
def test_np_asarray_is_every_value_written_in_one_read(route, expected, name):
    f = route(name)
    reads = []
    handle = f._handle
    read = handle.read

    class Counting:
        def __getattr__(self, attribute):
            return getattr(handle, attribute)

        def read(self, *args):
            reads.append(args)
            return read(*args)

    f._handle = Counting()
    for channel in f:
        assert_bit_equal(np.asarray(channel), expected[name].channel(channel.number))
    assert len(reads) == len(f.channels)


@pytest.mark.parametrize("where", SLICES + [-1, 0, 65536, -COUNT], ids=str)
def test_indices_and_slices_follow_numpys_rules(route, expected, where):
    channel = route("i16-be")[2]
    want = expected["i16-be"].channel(2)[where]
    got = channel[where]
    if isinstance(where, slice):
        assert_bit_equal(got, want)
    else:
        assert np.float32(got).view("<u4") == np.float32(want).view("<u4")


def test_a_channel_longer_than_one_read_is_every_value_across_the_reads_edges(route):
    channel = route("long/long")[1]
    index = np.arange(1, channel.count + 1, dtype=np.int64)
    want = (((index * 7919) % 65536 - 32768) * 0.5).astype(np.float32)
    assert channel.count == 300032
    assert_bit_equal(np.asarray(channel), want)
    for edge in (65536, 262144):
        assert_bit_equal(channel[edge - 3:edge + 3], want[edge - 3:edge + 3])


def test_a_channel_is_an_array_to_numpy_and_dask(route, expected):
    channel = route("f32-le")["Damper:travel:+Z"]
    want = expected["f32-le"].channel(2)
    assert (channel.shape, channel.dtype, channel.ndim, channel.size, len(channel)) == \
        ((COUNT,), np.float32, 1, COUNT, COUNT)
    assert channel.chunks == (1000,)  # the file's group: a frame of each channel
    assert_bit_equal(np.fromiter(channel, np.float32, COUNT), want)
    assert max(channel) == want.max()
    dask = pytest.importorskip("dask.array")
    assert_bit_equal(channel.to_dask().compute(), want)
    assert_bit_equal(dask.from_array(channel).compute(), want)


def test_a_file_knows_its_labels_and_closes(route):
    with route("i16-le") as f:
        assert "Hub:force:+Z" in f and 3 in f and "Hub:force" not in f and 4 not in f
        assert [c.label for c in f] == ["Hub:force:+Z", "Damper:travel:+Z", "Axle:strain:S"]
        assert f["Axle:strain:S"] is f[3] is f[-1 + 4]
        channel = f[1]
    with pytest.raises(nodra.UsageError, match="closed"):
        channel[0:10]


def test_a_dataframe_names_units_and_absolute_times(route, expected):
    f = route("f32-be")
    frame = f.to_dataframe([1, 3], t0=1.0, t1=2.0, units=True, time="absolute", dtype="float64")
    assert list(frame.columns) == ["Hub:force:+Z [N]", "Axle:strain:S [ue]"]
    assert frame.dtypes.tolist() == [np.float64, np.float64]
    seconds = f[1].time(t0=1.0, t1=2.0)
    assert isinstance(frame.index, pd.DatetimeIndex)
    want = np.datetime64("2025-03-14T09:41:07", "ns") + (seconds * 1e9).round().astype("timedelta64[ns]")
    assert np.array_equal(frame.index.values, want)
    first = int(round(seconds[0] / f[1].spacing))
    assert np.array_equal(frame.iloc[:, 1].to_numpy(),
                          expected["f32-be"].channel(3)[first:first + len(seconds)].astype(np.float64))
    with pytest.raises(nodra.UsageError, match="no value"):
        f.to_dataframe(t0=1000.0, t1=1001.0)


def browse_json(*arguments):
    done = subprocess.run([os.environ["NODRA_BROWSE"], *arguments, "--json"], capture_output=True, text=True)
    assert done.returncode == 0, done.stderr
    return json.loads(done.stdout)


def test_rainflow_is_that_of_the_command_and_counts_add_as_a_duty_cycle(route, written):
    f, g = route("i16-le"), route("f32-le")
    counted = f.rainflow(1, classes=32, range=(-16384, 16384), slopes=[3, 5])
    a, b = (os.path.join(written, n + ".rsp") for n in ("i16-le", "f32-le"))
    options = ["--channel", "1", "--classes", "32", "--range=-16384,16384", "--slope", "3,5"]
    assert counted.document["total"] == browse_json("rainflow", a, *options)["total"]
    assert counted.matrix.shape == (32, 32) and counted.matrix.sum() > 0
    both = counted + g[1].rainflow(classes=32, range=(-16384, 16384), slopes=[3, 5])
    duty = browse_json("rainflow", a, b, *options)["total"]
    assert np.array_equal(both.matrix, np.array(duty["matrix"]))
    assert np.array_equal(both.crossings, [c["count"] for c in duty["crossings"]])
    assert both.damage == {float(d["slope"]): d["damage"] for d in duty["damage"]}
    with pytest.raises(nodra.UsageError, match="same classes"):
        counted + g[1].rainflow(classes=16, range=(-16384, 16384))
    joined = f._connection.rainflow([f.path, g.path], 1, join=True, classes=32, range=(-16384, 16384), slopes=[3, 5])
    assert joined.document["total"] == browse_json("rainflow", a, b, "--join", *options)["total"]


@pytest.mark.parametrize("call, error", [
    (lambda f: f[9], nodra.UsageError),
    (lambda f: f["no such label"], nodra.UsageError),
    (lambda f: f[1].values(t0=5.0, t1=4.0), nodra.UsageError),
    (lambda f: f[1].rainflow(method="three-point"), nodra.UsageError),
    (lambda f: f[1].rainflow(bins=3), nodra.UsageError),
], ids=["channel", "label", "window", "method", "option"])
def test_errors_are_the_same_classes_on_every_route(route, call, error):
    with pytest.raises(error):
        call(route("i16-le"))


def test_a_missing_file_is_a_data_error_on_every_route(route):
    with pytest.raises(nodra.DataError):
        route("missing")


@pytest.mark.parametrize("export, library, load", [
    ("to_mat", "scipy.io", lambda path: __import__("scipy.io").io.loadmat(path)["Hub_force_Z"].ravel()),
    ("to_hdf5", "h5py", lambda path: __import__("h5py").File(path, "r")["Hub:force:+Z"][()]),
])
def test_exports_hold_the_values(route, tmp_path, expected, export, library, load):
    pytest.importorskip(library)
    path = str(tmp_path / ("out." + export[3:]))
    getattr(route("i16-le"), export)(path)
    assert_bit_equal(np.asarray(load(path), dtype=np.float32), expected["i16-le"].channel(1))

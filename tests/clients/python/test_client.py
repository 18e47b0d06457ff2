"""The Python client end to end: every function against nodra-web on loopback, its values
compared bit for bit with those the test writer wrote."""

import io
import os
import subprocess
import urllib.request

import numpy as np
import pandas as pd
import pytest

import nodra
from conftest import FILES

COUNT = 70000  # values per channel of every written file; one chunk is 65 536


def bits(values):
    return np.ascontiguousarray(values, dtype="<f4").view("<u4")


def assert_bit_equal(got, want):
    assert got.dtype == np.float32
    assert got.shape == want.shape
    assert np.array_equal(bits(got), bits(want))


@pytest.mark.parametrize("name", FILES)
def test_every_value_of_every_channel_is_the_one_written(url, expected, name):
    f = nodra.connect(url).open(expected[name].path)
    assert [c.number for c in f.channels] == [1, 2, 3]
    for channel in f.channels:
        assert_bit_equal(channel.values(), expected[name].channel(channel.number))


# Slices at the edges of a frame (1000 values), of a chunk (65 536) and of the channel.
SLICES = [
    slice(0, 1), slice(999, 1001), slice(65535, 65537), slice(65530, COUNT), slice(-5, None),
    slice(None, None, 1000), slice(69999, None), slice(10, 10), slice(100, 0, -7), slice(-1, -70001, -65536),
    slice(5000, 200000),
]


@pytest.mark.parametrize("name", ["i16-be", "f32-le"])
@pytest.mark.parametrize("where", SLICES, ids=str)
def test_slices_count_from_zero_as_python_does(url, expected, name, where):
    channel = nodra.connect(url).open(expected[name].path).channel(2)
    assert_bit_equal(channel[where], expected[name].channel(2)[where])


@pytest.mark.parametrize("index", [0, 999, 1000, 65536, -1, -COUNT])
def test_an_index_gives_one_value(embedded_url, expected, index):
    channel = nodra.connect(embedded_url).open("t/i16-le.rsp").channel(1)
    assert bits(np.float32(channel[index])) == bits(expected["i16-le"].channel(1)[index])


@pytest.mark.parametrize("size", [1000, 7001, 65536, 100000])
def test_chunks_join_into_the_whole_channel(url, expected, size):
    channel = nodra.connect(url).open("t/f32-be.rsp").channel(3)
    chunks = list(channel.iter_chunks(size, start=3))
    assert all(len(c) == size for c in chunks[:-1])
    assert_bit_equal(np.concatenate(chunks), expected["f32-be"].channel(3)[3:])


def test_times_are_those_of_the_dump(embedded_url, expected):
    channel = nodra.connect(embedded_url).open("t/i16-le.rsp").channel(1)
    spacing = expected["i16-le"].channels[0]["spacing"]
    assert channel.spacing == spacing and channel.first == 0
    np.testing.assert_array_equal(channel.time(65535, 3), np.array([65535, 65536, 65537]) * spacing)
    # By time: both bounds inclusive, the values and their times alike.
    t0, t1 = 1000 * spacing, 1010 * spacing
    assert_bit_equal(channel.values(t0=t0, t1=t1), expected["i16-le"].channel(1)[1000:1011])
    np.testing.assert_array_equal(channel.time(t0=t0, t1=t1), np.arange(1000, 1011) * spacing)


def test_the_listing_describes_the_file_and_its_channels(embedded_url, expected):
    f = nodra.connect(embedded_url).open("t/i16-be.rsp")
    assert f.annotations["number_of_channels"] == 3
    for channel, want in zip(f.channels, expected["i16-be"].channels):
        assert (channel.number, channel.label, channel.unit, channel.count) == \
               (want["number"], want["label"], want["unit"], want["count"])
        assert channel.rate == 1024.0
        assert channel.direction == want["label"].rsplit(":", 1)[1]
        assert channel.quantity["unit"] == want["unit"]
    assert f["Damper:travel:+Z"] is f.channel(2) is f[2]


def test_files_and_directories_are_listed(embedded_url):
    conn = nodra.connect(embedded_url)
    assert sorted(conn.files()) == sorted("t/%s.rsp" % name for name in FILES)
    assert conn.directories() == ["t"]
    assert sorted(conn.directories("t")) == ["t/long", "t/sub"]
    assert conn.files("t/sub") == ["t/sub/copy.rsp"]


def test_a_dataframe_has_the_time_as_index_and_a_column_per_label(url, expected):
    f = nodra.connect(url).open("t/f32-le.rsp")
    spacing = f.channel(1).spacing
    frame = f.to_dataframe([3, "Hub:force:+Z"], t0=65530 * spacing, t1=65540 * spacing)
    assert list(frame.columns) == ["Axle:strain:S", "Hub:force:+Z"]
    assert frame.index.name == "time [s]"
    np.testing.assert_array_equal(frame.index.to_numpy(), np.arange(65530, 65541) * spacing)
    assert_bit_equal(frame["Axle:strain:S"].to_numpy(), expected["f32-le"].channel(3)[65530:65541])
    assert_bit_equal(frame["Hub:force:+Z"].to_numpy(), expected["f32-le"].channel(1)[65530:65541])
    assert frame.attrs["units"] == {"Axle:strain:S": "ue", "Hub:force:+Z": "N"}


def test_several_channels_read_as_columns(embedded_url, expected):
    values = nodra.connect(embedded_url).open("t/i16-le.rsp").values([3, 1], start=65000, count=1000)
    assert values.shape == (1000, 2)
    assert_bit_equal(values[:, 0], expected["i16-le"].channel(3)[65000:66000])
    assert_bit_equal(values[:, 1], expected["i16-le"].channel(1)[65000:66000])


@pytest.mark.parametrize("query, shape", [("channel=2", (COUNT,)), ("channel=1,3&start=101&count=5", (5, 2))])
def test_npy_answers_load_with_numpy(embedded_url, expected, query, shape):
    body = urllib.request.urlopen(embedded_url + "api/values?path=t/f32-be.rsp&format=npy&" + query).read()
    array = np.load(io.BytesIO(body))
    assert array.shape == shape
    want = expected["f32-be"]
    if len(shape) == 1:
        assert_bit_equal(array, want.channel(2))
    else:
        assert_bit_equal(array[:, 0], want.channel(1)[100:105])
        assert_bit_equal(array[:, 1], want.channel(3)[100:105])


def test_csv_answers_are_the_dump_and_read_with_pandas(url, written, expected):
    target = url + "api/values?path=t/i16-be.rsp&channel=1,2&start=65530&count=20"
    body = urllib.request.urlopen(target).read()
    dump = subprocess.run([os.environ["NODRA_BROWSE"], "dump", os.path.join(written, "i16-be.rsp"),
                           "--channel", "1,2", "--start", "65530", "--count", "20"],
                          check=True, capture_output=True).stdout
    assert body == dump
    frame = pd.read_csv(target)
    assert list(frame.columns) == ["time [s]", "Hub:force:+Z [N]", "Damper:travel:+Z [mm]"]
    np.testing.assert_array_equal(frame.iloc[:, 1].to_numpy(np.float32), expected["i16-be"].channel(1)[65529:65549])


def test_statistics_are_the_servers(embedded_url, expected):
    figures = nodra.connect(embedded_url).open("t/i16-le.rsp").channel(1).stats()
    want = expected["i16-le"].channel(1)
    assert figures["count"] == COUNT
    assert figures["min"] == float(want.min()) and figures["max"] == float(want.max())


# Each error class, from what the client checks itself and from what the server answers.
ERRORS = [
    (lambda c: c.open("t/missing.rsp"), nodra.DataError, 404),
    (lambda c: c.open("t/../i16-le.rsp"), nodra.UsageError, 400),
    (lambda c: c.files("nowhere"), nodra.DataError, 404),
    (lambda c: c.open("t/i16-le.rsp").channel(4), nodra.UsageError, None),
    (lambda c: c.open("t/i16-le.rsp")["no such label"], nodra.UsageError, None),
    (lambda c: c.open("t/i16-le.rsp").channel(1).values(start=-1), nodra.UsageError, None),
    (lambda c: c.open("t/i16-le.rsp").channel(1).values(start=1, t0=0.5), nodra.UsageError, None),
    (lambda c: c.open("t/i16-le.rsp").channel(1).values(t0=2.0, t1=1.0), nodra.UsageError, 400),
]


@pytest.mark.parametrize("call, error, status", ERRORS)
def test_errors_raise_their_class(embedded_url, call, error, status):
    with pytest.raises(error) as raised:
        call(nodra.connect(embedded_url))
    assert str(raised.value)
    assert getattr(raised.value, "status", None) == status


def test_a_request_beyond_the_value_limit_is_refused(remote_url):
    f = nodra.connect(remote_url).open("t/i16-le.rsp")
    assert len(f.channel(1).values()) == COUNT  # 70 000 of at most 150 000
    with pytest.raises(nodra.UsageError) as raised:
        f.to_dataframe()  # 210 000
    assert raised.value.status == 413 and "at most 150000" in str(raised.value)


def test_a_server_that_is_not_there_is_a_connection_error():
    import socket
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        port = s.getsockname()[1]
    with pytest.raises(nodra.ConnectionError, match="cannot reach nodra-web at http://127.0.0.1:%d" % port):
        nodra.connect("http://127.0.0.1:%d/" % port)

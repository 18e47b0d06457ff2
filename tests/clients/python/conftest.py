"""Fixtures of the Python client's tests: the written files with their expected values, and
nodra-web processes on loopback (embedded, and over a nodra-server) that serve them."""

import json
import os
import re
import shutil
import socket
import subprocess
import time

import numpy as np
import pytest

FILES = ("i16-le", "i16-be", "f32-le", "f32-be")


def _program(name):
    path = os.environ.get(name)
    if not path:
        pytest.fail("%s is not set: run these tests through CTest" % name)
    return path


class Expected:
    """A written file: its manifest and every value it holds, per channel (from 1)."""

    def __init__(self, directory, name):
        with open(os.path.join(directory, name + ".json")) as f:
            self.channels = json.load(f)["channels"]
        values = np.fromfile(os.path.join(directory, name + ".f32"), dtype="<f4")
        self.values = values.reshape(len(self.channels), -1)
        self.path = "t/" + name + ".rsp"

    def channel(self, number):
        return self.values[number - 1]


@pytest.fixture(scope="session")
def written(tmp_path_factory):
    """The directory of the written files (served as access point "t"), with a copy of one
    file in sub-directory "sub" and a long one-channel file in "long"."""
    directory = str(tmp_path_factory.mktemp("files"))
    subprocess.run([_program("NODRA_MAKE_CLIENT_FILES"), directory], check=True)
    os.mkdir(os.path.join(directory, "sub"))
    shutil.copy(os.path.join(directory, "i16-le.rsp"), os.path.join(directory, "sub", "copy.rsp"))
    # A channel longer than the native part's read of 256 Ki values.
    os.mkdir(os.path.join(directory, "long"))
    subprocess.run([_program("NODRA_MAKE_CLIENT_FILES"), os.path.join(directory, "long"), "--long", "300000"],
                   check=True)
    return directory


@pytest.fixture(scope="session")
def expected(written):
    return {name: Expected(written, name) for name in FILES}


def _free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class Viewer:
    """A nodra-web process and the URL it printed."""

    def __init__(self, arguments, log, prefix=()):
        self.log = log
        self.process = subprocess.Popen(list(prefix) + [_program("NODRA_WEB")] + arguments + ["--listen", "127.0.0.1:0"],
                                        stdout=subprocess.PIPE, stderr=open(log, "w"), text=True)
        line = self.process.stdout.readline()
        match = re.match(r"http://127\.0\.0\.1:\d+/", line)
        self.url = match.group(0) if match else None

    def stop(self):
        self.process.terminate()
        self.process.wait(timeout=30)


@pytest.fixture(scope="session")
def embedded_url(written, tmp_path_factory):
    viewer = Viewer(["--access-point", "t=" + written], str(tmp_path_factory.mktemp("logs") / "web.log"))
    assert viewer.url, open(viewer.log).read()
    yield viewer.url
    viewer.stop()


def start_remote(written, logs, prefix=(), server_prefix=None):
    """A nodra-server of the written files and a viewer of it that answers at most 150 000
    values a request, each run after its prefix (a tracer, say)."""
    port = _free_port()
    server_prefix = list(prefix if server_prefix is None else server_prefix)
    server = subprocess.Popen(server_prefix + [_program("NODRA_SERVER"), "--access-point", "t=" + written,
                                               "--port", str(port)],
                              stdout=subprocess.DEVNULL, stderr=open(str(logs / "server.log"), "w"))
    viewer = None
    # The viewer checks the server when it starts: retry until the server listens.
    for _ in range(100):
        viewer = Viewer(["--server", "corbaloc::127.0.0.1:%d/NodraServer" % port, "--max-values", "150000"],
                        str(logs / "web.log"), prefix)
        if viewer.url:
            break
        viewer.process.wait(timeout=30)
        time.sleep(0.05)
    assert viewer.url, open(viewer.log).read()
    return server, viewer


@pytest.fixture(scope="session")
def remote_url(written, tmp_path_factory):
    """A viewer of a nodra-server, which answers at most 150 000 values a request."""
    server, viewer = start_remote(written, tmp_path_factory.mktemp("remote"))
    yield viewer.url
    viewer.stop()
    server.terminate()
    assert server.wait(timeout=30) == 0


@pytest.fixture(params=["embedded", "remote"])
def url(request):
    """Each test runs against the embedded viewer and the viewer of a server."""
    return request.getfixturevalue(request.param + "_url")


@pytest.fixture(scope="session")
def server_url(written, tmp_path_factory):
    """The corbaloc URL of a nodra-server of the written files (access point "t")."""
    port = _free_port()
    log = str(tmp_path_factory.mktemp("iiop") / "server.log")
    server = subprocess.Popen([_program("NODRA_SERVER"), "--access-point", "t=" + written, "--port", str(port)],
                              stdout=subprocess.DEVNULL, stderr=open(log, "w"))
    url = "corbaloc::127.0.0.1:%d/NodraServer" % port
    for _ in range(200):
        with socket.socket() as s:
            if s.connect_ex(("127.0.0.1", port)) == 0:
                break
        time.sleep(0.05)
    yield url
    server.terminate()
    assert server.wait(timeout=30) == 0


@pytest.fixture(params=["local", "iiop", "http"])
def route(request, written):
    """Opens a written file by name through each route: a local file in process, a
    nodra-server over IIOP, a nodra-web over HTTP."""
    import nodra
    import nodra._local
    if request.param != "http" and nodra._local._native is None:
        pytest.skip("the native part is not built (a sanitized build has none)")
    if request.param == "local":
        return lambda name: nodra.open(os.path.join(written, name + ".rsp"))
    connection = nodra.connect(request.getfixturevalue("server_url" if request.param == "iiop" else "embedded_url"))
    return lambda name: connection.open("t/" + name + ".rsp")

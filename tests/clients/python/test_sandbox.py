"""nodra-server and nodra-web keep within the sandbox their systemd units set: traced while
they serve the client (a viewer of a server, and an embedded one) and stop, they make no
system call outside the units' SystemCallFilter, map no memory writable and executable,
and look in /proc and /dev only at what ProcSubset=pid and DevicePolicy=closed leave."""

import glob
import os
import re
import shutil
import signal
import subprocess

import pytest

import nodra
from conftest import Viewer, start_remote

UNITS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "..", "packaging", "systemd")
# The pseudo devices DevicePolicy=closed leaves.
DEVICES = {"/dev/null", "/dev/zero", "/dev/full", "/dev/random", "/dev/urandom"}
CALL = re.compile(r"^(?:<\.\.\. (\w+) resumed>|(\w+)\()")
PATH = re.compile(r'"(/(?:proc|dev)(?:/[^"]*)?)"')


def directive(program, name):
    with open(os.path.join(UNITS, program + ".service.in")) as f:
        return " ".join(line.split("=", 1)[1].strip() for line in f if line.startswith(name + "="))


def system_calls(groups):
    """The calls SystemCallFilter's groups allow, as systemd-analyze expands them."""
    calls = set()
    for group in groups.split():
        lines = subprocess.run(["systemd-analyze", "syscall-filter", group], check=True,
                               capture_output=True, text=True).stdout.splitlines()[1:]
        for word in (line.split()[0] for line in lines if line.split()):
            if word.startswith("@"):
                calls |= system_calls(word)
            elif not word.startswith("#"):
                calls.add(word)
    return calls


def read_traces(prefix):
    """The calls, W+X mappings and /proc, /dev paths of the traces prefix.TID, and the TIDs."""
    calls, wx, paths, tids = set(), [], set(), set()
    for name in glob.glob(prefix + ".*"):
        tids.add(name.rsplit(".", 1)[1])
        with open(name, errors="replace") as f:
            for line in f:
                match = CALL.match(line)
                if not match:
                    continue
                call = match.group(1) or match.group(2)
                calls.add(call)
                if call in ("mmap", "mprotect", "pkey_mprotect") and "PROT_EXEC" in line and \
                        ("PROT_WRITE" in line or call != "mmap"):
                    wx.append(line.strip())
                paths.update(PATH.findall(line))
    return calls, wx, paths, tids


def stop(process):
    """Stops the traced program as systemd does, with SIGTERM (strace passes none on)."""
    with open("/proc/%d/task/%d/children" % (process.pid, process.pid)) as f:
        for child in f.read().split():
            os.kill(int(child), signal.SIGTERM)
    return process.wait(timeout=30)


@pytest.fixture(scope="module")
def traces(written, tmp_path_factory):
    if os.environ.get("NODRA_SANITIZE"):
        # A sanitizer's runtime makes calls of its own, and its leak check ends in error under ptrace.
        pytest.skip("the programs are built with %s, not as the units run them" % os.environ["NODRA_SANITIZE"])
    for tool in ("strace", "systemd-analyze"):
        if not shutil.which(tool):
            pytest.skip("%s is not installed" % tool)
    if subprocess.run(["strace", "-qq", "-o", os.devnull, "true"], capture_output=True).returncode != 0:
        pytest.skip("strace cannot trace here (no ptrace)")
    logs = tmp_path_factory.mktemp("traced")
    trace = lambda name: ["strace", "-f", "-ff", "-qq", "-e", "signal=none", "-s", "256", "-o", str(logs / name)]
    server, remote = start_remote(written, logs, trace("web"), trace("server"))
    embedded = Viewer(["--access-point", "t=" + written], str(logs / "embedded.log"), trace("web"))
    for viewer in (remote, embedded):
        assert viewer.url, open(viewer.log).read()
        conn = nodra.connect(viewer.url)
        f = conn.open("t/i16-le.rsp")
        assert len(f.channel(1).values()) == 70000 and f.channel(2).stats()["count"] == 70000
        assert conn.files("t/sub") == ["t/sub/copy.rsp"]
        assert stop(viewer.process) == 0
    assert stop(server) == 0
    return {program: read_traces(str(logs / program.split("-")[1])) for program in ("nodra-server", "nodra-web")}


@pytest.mark.parametrize("program", ["nodra-server", "nodra-web"])
def test_the_program_keeps_within_its_units_sandbox(traces, program):
    calls, wx, paths, tids = traces[program]
    assert calls, "nothing traced"
    assert calls - system_calls(directive(program, "SystemCallFilter")) == set()
    if directive(program, "MemoryDenyWriteExecute") == "yes":
        assert wx == []
    if directive(program, "ProcSubset") == "pid":
        own = re.compile(r"/proc/(self|thread-self|%s)(/|$)" % "|".join(tids))
        assert sorted(p for p in paths if p.startswith("/proc") and not own.match(p)) == []
    if directive(program, "DevicePolicy") == "closed":
        assert sorted(p for p in paths if p.startswith("/dev") and p not in DEVICES) == []

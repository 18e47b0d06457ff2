"""nodra.fleet on a Dask cluster of two workers, each beside a nodra-web of its own access
point on loopback: every task runs beside its viewer, the count equals nodra-browse's duty
cycle of the same files bit for bit, statistics equal one pass over every value, and a
worker that dies mid-count changes nothing."""

import os
import shutil
import signal
import subprocess
import sys
import threading
import time

import numpy as np
import pytest

import nodra.fleet
from conftest import Viewer
from test_routes import browse_json

distributed = pytest.importorskip("distributed")

OPTIONS = dict(classes=32, range=(-16384, 16384), slopes=[3, 5])


def catalogue_url(root):
    """The shared PostgreSQL of the tests where there is one (NODRA_TEST_POSTGRES), else one
    SQLite file that the viewers of this machine share."""
    return os.environ.get("NODRA_TEST_POSTGRES") or str(root / "fleet.sqlite")


@pytest.fixture(scope="module")
def machines(written, tmp_path_factory):
    """Two "machines": a directory each (a and b, two files each), its viewer indexing into
    one catalogue, and a Dask worker named by the viewer's URL."""
    root = tmp_path_factory.mktemp("fleet")
    catalogue = catalogue_url(root)
    if catalogue.startswith("postgres"):
        subprocess.run([os.environ["NODRA_BROWSE"], "find", catalogue, "--limit", "1"], check=True,
                       capture_output=True)
    viewers, workers = {}, []
    cluster = distributed.LocalCluster(n_workers=0, processes=True, dashboard_address=None)
    for machine, names in (("a", ("i16-le", "f32-le")), ("b", ("i16-be", "f32-be"))):
        os.mkdir(str(root / machine))
        for name in names:
            shutil.copy(os.path.join(written, name + ".rsp"), str(root / machine / (name + ".rsp")))
        viewer = Viewer(["--access-point", "%s=%s" % (machine, root / machine), "--catalogue", catalogue],
                        str(root / ("%s.log" % machine)))
        assert viewer.url, open(viewer.log).read()
        viewers[machine] = viewer
        workers.append(subprocess.Popen([sys.executable, "-m", "distributed.cli.dask_worker", cluster.scheduler_address,
                                         "--name", viewer.url, "--nthreads", "1", "--no-dashboard"],
                                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL))
    client = distributed.Client(cluster)
    client.wait_for_workers(2, timeout=60)
    rows = [(viewers[m].url, "%s/%s.rsp" % (m, n), 1) for m, n in (("a", "i16-le"), ("b", "i16-be"),
                                                                   ("a", "f32-le"), ("b", "f32-be"))]
    paths = [str(root / p) for _, p, _ in rows]
    fleet = nodra.fleet.connect(viewers["a"].url)
    for _ in range(200):  # until both viewers have indexed their files
        if len(fleet.find(unit="N")) == 4:
            break
        time.sleep(0.1)
    yield client, rows, paths, workers, fleet
    client.close()
    for worker in workers:
        worker.kill()
    cluster.close()
    for viewer in viewers.values():
        viewer.stop()


def duty_cycle(paths, channel=1):
    return browse_json("rainflow", *paths, "--channel", str(channel), "--classes", "32", "--range=-16384,16384",
                       "--slope", "3,5")["total"]


def assert_equal_to(result, total):
    assert np.array_equal(result.matrix, np.array(total["matrix"]))
    assert np.array_equal(result.crossings, [c["count"] for c in total["crossings"]])
    assert np.array_equal(result.ranges, [r["count"] for r in total["ranges"]])
    assert result.damage == {float(d["slope"]): d["damage"] for d in total["damage"]}
    assert (result.cycles, result.values, result.reversals) == (total["cycle_count"], total["values"], total["reversals"])


def test_each_task_runs_beside_its_viewer_and_the_count_is_the_duty_cycles(machines):
    client, rows, paths, _, _ = machines
    result = nodra.fleet.rainflow(rows, client=client, **OPTIONS)
    assert [f["ran_on"] for f in result.files] == [viewer for viewer, _, _ in rows]
    assert_equal_to(result, duty_cycle(paths))
    assert_equal_to(nodra.fleet.rainflow(rows, **OPTIONS), duty_cycle(paths))  # no client: in this process


def test_fleet_statistics_are_those_of_one_pass_over_every_value(machines, expected):
    client, rows, _, _, _ = machines
    got = nodra.fleet.stats(rows, client=client)
    values = np.concatenate([expected[name].channel(1).astype(np.float64)
                             for name in ("i16-le", "i16-be", "f32-le", "f32-be")])
    assert (got["count"], got["nan"], got["min"], got["max"]) == (len(values), 0, values.min(), values.max())
    assert got["mean"] == pytest.approx(values.mean(), rel=1e-12)
    assert got["rms"] == pytest.approx(np.sqrt(np.mean(values * values)), rel=1e-12)


def test_a_worker_that_dies_mid_count_changes_nothing(machines):
    client, rows, paths, workers, _ = machines
    many = rows * 50  # 200 files' counts: long enough to be cut
    want = nodra.fleet.rainflow(many, **OPTIONS)
    done = {}
    counting = threading.Thread(target=lambda: done.setdefault("result", nodra.fleet.rainflow(many, client=client,
                                                                                                **OPTIONS)))
    started = time.monotonic()
    counting.start()
    time.sleep(0.5)
    workers[0].send_signal(signal.SIGKILL)
    counting.join(timeout=240)
    assert time.monotonic() - started > 0.5, "the count ended before the worker died"
    result = done["result"]
    assert np.array_equal(result.matrix, want.matrix) and np.array_equal(result.crossings, want.crossings)
    assert result.damage == want.damage and result.cycles == want.cycles


def test_rows_are_checked_before_any_task(machines):
    client, rows, _, _, _ = machines
    with pytest.raises(nodra.UsageError, match="range"):
        nodra.fleet.rainflow(rows, client=client)
    with pytest.raises(nodra.UsageError, match="viewer"):
        nodra.fleet.rainflow([("a.rsp", "a/x.rsp", 1)], **OPTIONS)


def listed(paths):
    """(path as the catalogue names it, channel) -> (label, unit, rate), from nodra-browse --json."""
    out = {}
    for path in paths:
        machine, name = path.split(os.sep)[-2:]
        for c in browse_json(path)["channels"]:
            out[(machine + "/" + name, c["number"])] = (c["label"], c["unit"], c["function_record"]["sampling_frequency"])
    return out


@pytest.mark.parametrize("filters, keep", [
    (dict(unit="N"), lambda label, unit, rate: unit == "N"),
    (dict(rate=1024), lambda label, unit, rate: rate == 1024),
    (dict(text="damper travel"), lambda label, unit, rate: "Damper:travel" in label),
    (dict(label="*strain*", unit="ue"), lambda label, unit, rate: "strain" in label and unit == "ue"),
    (dict(unit="N", recorded=("2025-03-14", "2025-03-15")), lambda label, unit, rate: unit == "N"),
    (dict(unit="N", recorded=("2025-03-15", None)), lambda label, unit, rate: False),
], ids=["unit", "rate", "text", "label", "recorded", "not-recorded-then"])
def test_a_query_is_a_filter_of_the_listings_and_names_each_rows_viewer(machines, filters, keep):
    client, rows, paths, _, fleet = machines
    found = fleet.find(**filters)
    want = {key for key, (label, unit, rate) in listed(paths).items() if keep(label, unit, rate)}
    assert set(zip(found.get("path", []), found.get("number", []))) == want
    viewers = {path: viewer for viewer, path, _ in rows}
    assert all(viewers[p] == v for p, v in zip(found.get("path", []), found.get("viewer", [])))
    if len(found):  # the rows found are what the fleet counts: one channel of each file
        first = found[found["number"] == found["number"].iloc[0]]
        local = dict(zip([p for _, p, _ in rows], paths))
        assert_equal_to(fleet.rainflow(first, client=client, **OPTIONS),
                        duty_cycle([local[p] for p in first["path"]], int(first["number"].iloc[0])))


def test_indexing_again_records_what_changed_and_a_broken_file_is_kept_with_its_error(written, tmp_path):
    directory = tmp_path / "rig"
    directory.mkdir()
    for name in ("i16-le", "f32-le", "i16-be"):
        shutil.copy(os.path.join(written, name + ".rsp"), str(directory / (name + ".rsp")))
    catalogue = str(tmp_path / "c.sqlite")

    def index():
        done = subprocess.run([os.environ["NODRA_BROWSE"], "index", catalogue, str(directory)],
                              capture_output=True, text=True)
        assert done.returncode == 0, done.stderr
        return done.stdout

    def found():
        return {(r["path"], r["number"]) for r in browse_json("find", catalogue, "--limit", "10000")["rows"]}

    assert "3 files: 3 read, 0 unchanged" in index()
    assert len(found()) == 9
    with open(str(directory / "i16-le.rsp"), "r+b") as f:  # rewritten in place: a header of one channel less
        f.truncate(100)
    os.remove(str(directory / "f32-le.rsp"))
    shutil.copy(os.path.join(written, "f32-be.rsp"), str(directory / "f32-be.rsp"))
    assert "3 files: 1 read, 1 unchanged, 1 could not be read, 1 removed" in index()
    assert {p for p, _ in found()} == {"rig/i16-be.rsp", "rig/f32-be.rsp"}

"""The fleet's figures on loopback: indexing files into a SQLite catalogue against passing
over them once indexed (each file's header read and its version compared: the floor of an
indexing), one catalogue request describing each of 10 000 files, and a rainflow count of the same
files with Dask on one worker against two (each beside its own viewer). Medians of a few
runs. Run by scripts/bench.

    python3 bench/bench_fleet.py BUILD_DIR [--json FILE]
"""

import json
import os
import shutil
import socket
import statistics
import subprocess
import sys
import tempfile
import time
import urllib.request

RUNS = 3
FILES = 1000         # small files to index: copies of the test writer's three-channel file
DESCRIBED = 10000    # files of the fleet a catalogue request describes
COUNTED = 8          # files of LONG values each, counted by the fleet
LONG = 4_000_000


def seconds(run):
    start = time.perf_counter()
    run()
    return time.perf_counter() - start


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def start_viewer(build, access_point, directory, catalogue):
    web = subprocess.Popen([os.path.join(build, "apps", "nodra-web"), "--access-point", "%s=%s" % (access_point, directory),
                            "--catalogue", catalogue, "--listen", "127.0.0.1:0",
                            # Each viewer stands for a machine of one core, so that the workers'
                            # gain is the fleet's, not that of a count's own threads.
                            "--count-threads", "1"],
                           stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    url = web.stdout.readline().strip()
    while "indexed" not in web.stderr.readline():
        pass
    return web, url


def start_worker(scheduler, name, build):
    env = dict(os.environ, PYTHONPATH=os.path.join(build, "python"))
    return subprocess.Popen([sys.executable, "-m", "distributed.cli.dask_worker", scheduler, "--name", name,
                             "--nthreads", "1", "--no-dashboard"], env=env,
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def main():
    args = sys.argv[1:]
    results = None
    if "--json" in args:
        at = args.index("--json")
        results = args[at + 1]
        del args[at:at + 2]
    build = args[0]
    sys.path.insert(0, os.path.join(build, "python"))
    import nodra.fleet
    from distributed import Client, LocalCluster

    browse = os.path.join(build, "apps", "nodra-browse")
    with tempfile.TemporaryDirectory() as scratch:
        # Indexing: a fresh catalogue each run, then a pass over the same files unchanged.
        source = os.path.join(scratch, "source")
        os.mkdir(source)
        subprocess.run([os.path.join(build, "tools", "make_client_files"), source], check=True)
        fleet_dir = os.path.join(scratch, "fleet")
        os.mkdir(fleet_dir)
        for i in range(FILES):
            os.link(os.path.join(source, "i16-le.rsp"), os.path.join(fleet_dir, "drive-%04d.rsp" % i))
        fresh, unchanged = [], []
        for run in range(RUNS):
            catalogue = os.path.join(scratch, "c%d.sqlite" % run)
            fresh.append(seconds(lambda: subprocess.run([browse, "index", catalogue, fleet_dir], check=True,
                                                         stdout=subprocess.DEVNULL)))
            unchanged.append(seconds(lambda: subprocess.run([browse, "index", catalogue, fleet_dir], check=True,
                                                            stdout=subprocess.DEVNULL)))

        # Describing every file of a fleet of DESCRIBED: one request of the viewer's catalogue.
        described_dir = os.path.join(scratch, "described")
        os.mkdir(described_dir)
        for i in range(DESCRIBED):
            os.link(os.path.join(source, "i16-le.rsp"), os.path.join(described_dir, "drive-%05d.rsp" % i))
        web, url = start_viewer(build, "fleet", described_dir, os.path.join(scratch, "described.sqlite"))
        try:
            query = url + "api/catalogue?label=Hub:force:%2BZ&limit=10000"
            described = []
            for _ in range(RUNS):
                start = time.perf_counter()
                rows = json.loads(urllib.request.urlopen(query).read())["rows"]
                described.append(time.perf_counter() - start)
            assert len(rows) == DESCRIBED, len(rows)
        finally:
            web.terminate()
            web.wait()

        # Counting: COUNTED long files, half on each of two viewers; one worker, then two.
        long_dir = os.path.join(scratch, "long")
        os.mkdir(long_dir)
        subprocess.run([os.path.join(build, "tools", "make_client_files"), long_dir, "--long", str(LONG)], check=True)
        machines = []
        for machine in ("a", "b"):
            os.mkdir(os.path.join(scratch, machine))
            for i in range(COUNTED // 2):
                os.link(os.path.join(long_dir, "long.rsp"), os.path.join(scratch, machine, "drive-%d.rsp" % i))
            machines.append(start_viewer(build, machine, os.path.join(scratch, machine),
                                         os.path.join(scratch, "%s.sqlite" % machine)))
        cluster = LocalCluster(n_workers=0, processes=True, dashboard_address=None)
        client = Client(cluster)
        workers = []
        try:
            rows = [(url, "%s/drive-%d.rsp" % (m, i), 1) for (m, (_, url)) in zip("ab", machines)
                    for i in range(COUNTED // 2)]
            options = dict(classes=64, range=(-16384, 16384))
            timed = {}
            for count in (1, 2):
                while len(workers) < count:
                    workers.append(start_worker(cluster.scheduler_address, machines[len(workers)][1], build))
                client.wait_for_workers(count, timeout=60)
                nodra.fleet.rainflow(rows, client=client, **options)  # warm: files in the page cache
                timed[count] = statistics.median(
                    seconds(lambda: nodra.fleet.rainflow(rows, client=client, **options)) for _ in range(RUNS))
        finally:
            client.close()
            for worker in workers:
                worker.kill()
            cluster.close()
            for web, _ in machines:
                web.terminate()
                web.wait()

    index_rate = FILES / statistics.median(fresh)
    floor_rate = FILES / statistics.median(unchanged)
    print("%-66s %12s %8s" % ("the fleet on loopback (medians of %d)" % RUNS, "figure", "ratio"))
    print("%-66s %12.0f %8.2f" % ("indexing %d files of 3 x 70 000 values (files/s)" % FILES, index_rate,
                                  index_rate / floor_rate))
    print("%-66s %12.0f %8.2f" % ("  the same files once indexed: headers read, versions compared", floor_rate, 1.0))
    print("%-66s %12.1f" % ("describing %d files: one /api/catalogue request (ms)" % DESCRIBED,
                            1e3 * statistics.median(described)))
    print("%-66s %12.2f %8.2f" % ("rainflow of %d files of %d values, one worker (s)" % (COUNTED, LONG), timed[1], 1.0))
    print("%-66s %12.2f %8.2f" % ("  two workers, each beside its viewer (s; gain)", timed[2], timed[1] / timed[2]))
    if results:
        with open(results, "w") as out:
            json.dump({"benchmarks": [
                {"name": "FleetIndex_median", "real_time": 1e9 * statistics.median(fresh), "time_unit": "ns"},
                {"name": "FleetIndexUnchanged_median", "real_time": 1e9 * statistics.median(unchanged), "time_unit": "ns"},
                {"name": "FleetDescribe_median", "real_time": 1e9 * statistics.median(described), "time_unit": "ns"},
                {"name": "FleetCountOneWorker_median", "real_time": 1e9 * timed[1], "time_unit": "ns"},
                {"name": "FleetCountTwoWorkers_median", "real_time": 1e9 * timed[2], "time_unit": "ns"},
            ]}, out, indent=2)


if __name__ == "__main__":
    main()

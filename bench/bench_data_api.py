"""Reading one channel of 10 M values into numpy through nodra-web's binary route on
loopback, against nodra-browse dump of the same channel, against the values object read
in process (bench_values, 64 Ki values a call) and against the floor of loopback itself
(the same bytes sent by a bare socket into a numpy array); and the viewer's peak memory.
Medians of interleaved runs. Run by scripts/bench-data-api and scripts/bench.

    python3 bench/bench_data_api.py BUILD_DIR [VALUES] [--json FILE]

With --json, the medians are also written to FILE in the layout of Google Benchmark's
JSON results, for scripts/bench's table.
"""

import json
import os
import re
import statistics
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "clients", "python"))
import nodra  # noqa: E402

RUNS = 5


def peak_kib(pid):
    with open("/proc/%d/status" % pid) as f:
        return int(re.search(r"VmHWM:\s+(\d+) kB", f.read()).group(1))


def seconds(run):
    start = time.perf_counter()
    run()
    return time.perf_counter() - start


def in_process_rate(build):
    """Values per second of the values object in process, 64 Ki values a call."""
    out = subprocess.run([os.path.join(build, "bench", "bench_values"), "--benchmark_filter=BM_ValuesObjectChunk/65536",
                          "--benchmark_repetitions=%d" % RUNS, "--benchmark_format=json"],
                         check=True, capture_output=True, text=True).stdout
    runs = [b for b in json.loads(out)["benchmarks"] if b.get("aggregate_name") == "median"]
    unit = {"ns": 1e-9, "us": 1e-6, "ms": 1e-3}[runs[0]["time_unit"]]
    return 65536 / (runs[0]["real_time"] * unit)


# Sends SIZE bytes to the first client on a free loopback port, printed first.
_SENDER = """
import socket, sys
size = int(sys.argv[1])
server = socket.socket()
server.bind(("127.0.0.1", 0))
server.listen(1)
print(server.getsockname()[1], flush=True)
block = bytes(1 << 18)
for _ in range(int(sys.argv[2])):
    connection, _ = server.accept()
    left = size
    while left > 0:
        left -= connection.send(block[:min(left, len(block))])
    connection.close()
"""


def loopback_floor(size):
    """Seconds per run of `size` bytes received from a bare socket into a numpy array."""
    import numpy as np
    import socket
    sender = subprocess.Popen([sys.executable, "-c", _SENDER, str(size), str(RUNS)], stdout=subprocess.PIPE, text=True)
    port = int(sender.stdout.readline())
    runs = []
    for _ in range(RUNS):
        buffer = np.empty(size, dtype=np.uint8)
        view = memoryview(buffer)
        start = time.perf_counter()
        with socket.create_connection(("127.0.0.1", port)) as connection:
            done = 0
            while done < size:
                done += connection.recv_into(view[done:])
        runs.append(time.perf_counter() - start)
    sender.wait()
    return statistics.median(runs)


def write_results(path, figures):
    """figures: (name, seconds, peak MB or None) as Google Benchmark's medians."""
    runs = []
    for name, seconds_taken, peak in figures:
        run = {"name": name + "_median", "real_time": seconds_taken * 1e9, "time_unit": "ns"}
        if peak is not None:
            run["peak_MB"] = peak
        runs.append(run)
    with open(path, "w") as out:
        json.dump({"benchmarks": runs}, out, indent=2)


def main():
    args = sys.argv[1:]
    results = None
    if "--json" in args:
        at = args.index("--json")
        results = args[at + 1]
        del args[at:at + 2]
    build = args[0]
    values = int(args[1]) if len(args) > 1 else 10_000_000
    with tempfile.TemporaryDirectory() as directory:
        subprocess.run([os.path.join(build, "tools", "make_client_files"), directory, "--long", str(values)], check=True)
        path = os.path.join(directory, "long.rsp")
        web = subprocess.Popen([os.path.join(build, "apps", "nodra-web"), "--access-point", "b=" + directory,
                                "--listen", "127.0.0.1:0"], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        try:
            url = web.stdout.readline().strip()
            channel = nodra.connect(url).open("b/long.rsp").channel(1)
            count = channel.count
            channel.values(0, 1000)
            before = peak_kib(web.pid)
            python, dump = [], []
            with open(os.devnull, "wb") as sink:
                for _ in range(RUNS):
                    python.append(seconds(lambda: channel.values()))
                    dump.append(seconds(lambda: subprocess.run(
                        [os.path.join(build, "apps", "nodra-browse"), "dump", path, "--channel", "1"],
                        stdout=sink, check=True)))
            after = peak_kib(web.pid)
        finally:
            web.terminate()
            web.wait()
    process = in_process_rate(build)
    floor_seconds = loopback_floor(4 * count)
    floor = count / floor_seconds
    rate = count / statistics.median(python)
    print("%-62s %14s %8s" % ("one channel of %d values (medians of %d)" % (count, RUNS), "values/s", "ratio"))
    print("%-62s %14.3g %8.2f" % ("Python client, binary route, loopback, into numpy", rate, 1.0))
    print("%-62s %14.3g %8.2f" % ("nodra-browse dump of the channel to /dev/null (CSV)",
                                  count / statistics.median(dump), rate / (count / statistics.median(dump))))
    print("%-62s %14.3g %8.2f" % ("values object in process, 64 Ki values a call", process, rate / process))
    print("%-62s %14.3g %8.2f" % ("floor: the same bytes from a bare loopback socket into numpy", floor, rate / floor))
    print("%-62s %14.1f" % ("nodra-web peak memory before the reads (MB)", before / 1024))
    print("%-62s %14.1f" % ("nodra-web peak memory after %d reads (MB)" % RUNS, after / 1024))
    if results:
        write_results(results, [("DataApiPython", statistics.median(python), after / 1024),
                                ("DataApiLoopbackFloor", floor_seconds, None),
                                ("DataApiDump", statistics.median(dump), None)])


if __name__ == "__main__":
    main()

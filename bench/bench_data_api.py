"""Reading one channel of 10 M values into numpy from Python by each route (a local file in
process, a nodra-server over IIOP, nodra-web's binary route over HTTP, each on loopback),
against nodra-browse dump of the same channel, against the values object read in process
by C++ (bench_values, 64 Ki values a call) and against the floor of loopback itself (the
same bytes sent by a bare socket into a numpy array); and the viewer's peak memory.
Medians of interleaved runs. Run by scripts/bench-data-api and scripts/bench.

    python3 bench/bench_data_api.py BUILD_DIR [VALUES] [--json FILE]

With --json, the medians are also written to FILE in the layout of Google Benchmark's
JSON results, for scripts/bench's table.
"""

import json
import os
import re
import socket
import statistics
import subprocess
import sys
import tempfile
import time

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
    sys.path.insert(0, os.path.join(build, "python"))  # the package with its native part
    import nodra
    import numpy as np
    with tempfile.TemporaryDirectory() as directory:
        subprocess.run([os.path.join(build, "tools", "make_client_files"), directory, "--long", str(values)], check=True)
        path = os.path.join(directory, "long.rsp")
        web = subprocess.Popen([os.path.join(build, "apps", "nodra-web"), "--access-point", "b=" + directory,
                                "--listen", "127.0.0.1:0"], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        with socket.socket() as s:
            s.bind(("127.0.0.1", 0))
            port = s.getsockname()[1]
        server = subprocess.Popen([os.path.join(build, "apps", "nodra-server"), "--access-point", "b=" + directory,
                                   "--port", str(port)], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        try:
            url = web.stdout.readline().strip()
            for _ in range(200):
                with socket.socket() as s:
                    if s.connect_ex(("127.0.0.1", port)) == 0:
                        break
                time.sleep(0.05)
            channels = {"local": nodra.open(path)[1],
                        "iiop": nodra.connect("corbaloc::127.0.0.1:%d/NodraServer" % port).open("b/long.rsp")[1],
                        "http": nodra.connect(url).open("b/long.rsp")[1]}
            count = channels["http"].count
            for channel in channels.values():
                channel.values(0, 1000)
            before = peak_kib(web.pid)
            runs = {name: [] for name in channels}
            dump = []
            with open(os.devnull, "wb") as sink:
                for _ in range(RUNS):
                    for name, channel in channels.items():
                        runs[name].append(seconds(lambda: np.asarray(channel)))
                    dump.append(seconds(lambda: subprocess.run(
                        [os.path.join(build, "apps", "nodra-browse"), "dump", path, "--channel", "1"],
                        stdout=sink, check=True)))
            after = peak_kib(web.pid)
        finally:
            web.terminate()
            web.wait()
            server.terminate()
            server.wait()
    process = in_process_rate(build)
    floor_seconds = loopback_floor(4 * count)
    floor = count / floor_seconds
    rates = {name: count / statistics.median(taken) for name, taken in runs.items()}
    print("%-66s %14s %10s" % ("one channel of %d values into numpy (medians of %d)" % (count, RUNS), "values/s",
                               "of C++"))
    print("%-66s %14.3g %10.2f" % ("C++: the values object in process, 64 Ki values a call", process, 1.0))
    for name, text in (("local", "Python, local file in process: np.asarray(nodra.open(F)[1])"),
                       ("iiop", "Python, nodra-server over IIOP, loopback"),
                       ("http", "Python, nodra-web binary route over HTTP, loopback")):
        print("%-66s %14.3g %10.2f" % (text, rates[name], rates[name] / process))
    print("%-66s %14.3g %10.2f" % ("nodra-browse dump of the channel to /dev/null (CSV)",
                                   count / statistics.median(dump), count / statistics.median(dump) / process))
    print("%-66s %14.3g %10.2f" % ("floor of HTTP: the same bytes from a bare loopback socket", floor, floor / process))
    print("%-66s %14.1f" % ("nodra-web peak memory before the reads (MB)", before / 1024))
    print("%-66s %14.1f" % ("nodra-web peak memory after %d reads (MB)" % RUNS, after / 1024))
    if results:
        write_results(results, [("DataApiPython", statistics.median(runs["http"]), after / 1024),
                                ("DataApiPythonLocal", statistics.median(runs["local"]), None),
                                ("DataApiPythonIiop", statistics.median(runs["iiop"]), None),
                                ("DataApiLoopbackFloor", floor_seconds, None),
                                ("DataApiDump", statistics.median(dump), None)])


if __name__ == "__main__":
    main()

#!/usr/bin/env python3
"""Write-to-browser delay of one lap, beside the kernel's own notification
delay between two processes, measured in the same run on a scratch meet.

  web_latency.py VARNOX WEB_TIMER [WRITES [RUNS]]

A timing process (web_timer) writes WRITES laps of race R2, heat H1, one at
a time, each published with its own update id whose text carries the
moment of the write. Two processes follow the meet meanwhile:
  - `varnox serve`, whose event stream is read here: the delay runs from
    the write to the heat's event arriving on the loopback socket, taken
    from the socket's own receive time stamp (so it is the event leaving
    the server plus the loopback, not this script's own wake-up); the
    delay to this script reading it is shown beside;
  - `varnox watch`, the baseline: the delay from the write to its races
    container's change event in that other process (the kernel's
    notification, as bench/NotifyBench.cpp measures it raw).
Prints the median and the 99th percentile of each, and their ratio, for
each of RUNS runs (1 by default), then how many runs are within 2x. The
server stamps each update along its path (web/PathTrace.h, through the
variable VARNOX_WEB_TRACE): the median length of each step is printed too.
"""
import json
import os
import re
import selectors
import socket
import struct
import statistics
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "web"))
from live_test import Meet  # noqa: E402


SO_TIMESTAMPNS = getattr(socket, "SO_TIMESTAMPNS", 35)  # Linux


class Stream:
    """The server's event stream on a non-blocking socket: `feed` takes what
    the socket gave; `ids` are the ids of the change events in order, and
    `snapshot_id` the id of the snapshot that opens the stream."""

    def __init__(self, port):
        self.sock = socket.create_connection(("127.0.0.1", port), timeout=10)
        self.sock.sendall(b"GET /events HTTP/1.1\r\nHost: x\r\n\r\n")
        self.sock.setblocking(False)
        self.raw, self.body, self.head_done = b"", b"", False
        self.ids, self.snapshot_id = [], None

    def feed(self, data):
        self.raw += data
        if not self.head_done:
            if b"\r\n\r\n" not in self.raw:
                return
            head, self.raw = self.raw.split(b"\r\n\r\n", 1)
            assert b" 200 " in head.split(b"\r\n")[0], head
            self.head_done = True
        while b"\r\n" in self.raw:  # chunked transfer coding
            size_text, rest = self.raw.split(b"\r\n", 1)
            size = int(size_text, 16)
            if len(rest) < size + 2:
                return
            self.body += rest[:size]
            self.raw = rest[size + 2:]
        while b"\n\n" in self.body:
            block, self.body = self.body.split(b"\n\n", 1)
            fields = dict(line.split(": ", 1) for line in block.decode().split("\n")
                          if ": " in line and not line.startswith(":"))
            if "id" not in fields:
                continue
            if fields.get("event") == "snapshot":
                self.snapshot_id = int(fields["id"])
            else:
                self.ids.append(int(fields["id"]))
            json.loads(fields["data"])  # every event carries a JSON document


def percentile(values, fraction):
    ordered = sorted(values)
    return ordered[min(len(ordered) - 1, int(fraction * len(ordered)))]


# The points of the path: the write, the server's stamps (web/PathTrace.h), the arrival.
PATH = ["write", "notified", "read", "texts", "queued", "sending", "sent", "arrived"]


def run_once(varnox, timer, writes, trace_path):
    """One run: the delays (ms) of each write, by what measured them, and
    the server's stamps along its path for each write."""
    open(trace_path, "w").close()
    os.environ["VARNOX_WEB_TRACE"] = trace_path
    meet = Meet(varnox, timer)
    del os.environ["VARNOX_WEB_TRACE"]
    meet_dir = os.path.join(meet.dir, "meet")
    watch = subprocess.Popen([varnox, "watch", meet_dir, str(writes)], stdout=subprocess.PIPE,
                             text=True)
    assert watch.stdout.readline().startswith("Watching")
    stream = Stream(int(meet.url.rstrip("/").rsplit(":", 1)[1]))
    selector = selectors.DefaultSelector()
    # The kernel stamps each segment with the real-time clock as it arrives.
    stream.sock.setsockopt(socket.SOL_SOCKET, SO_TIMESTAMPNS, 1)
    selector.register(stream.sock, selectors.EVENT_READ, stream)
    arrived = [0]  # the receive stamp of the last data read, in ns

    def pump_until(done, seconds=10.0):
        end = time.monotonic() + seconds
        while not done():
            if time.monotonic() > end:
                raise RuntimeError("no event within %.0f s" % seconds)
            for key, _ in selector.select(timeout=0.05):
                data, ancillary, _, _ = key.fileobj.recvmsg(65536, socket.CMSG_SPACE(16))
                for level, kind, stamp in ancillary:
                    if level == socket.SOL_SOCKET and kind == SO_TIMESTAMPNS:
                        seconds_part, nanoseconds = struct.unpack("qq", stamp[:16])
                        arrived[0] = seconds_part * 1000000000 + nanoseconds
                key.data.feed(data)

    written_ns, arrived_ns, read_ms = [], [], []
    try:
        pump_until(lambda: stream.snapshot_id is not None)
        for i in range(writes):
            lane, lap = i % 4 + 1, i // 4 % 4 + 1
            seen = len(stream.ids)
            written = meet.write("lap R2 H1 %d %d %d" % (lane, lap, lap * 3000 + i))
            pump_until(lambda: len(stream.ids) > seen)
            read_ms.append((time.time_ns() - written) / 1e6)
            written_ns.append(written)
            arrived_ns.append(arrived[0])
            time.sleep(0.01)
        watch_out, _ = watch.communicate(timeout=60)
    finally:
        stream.sock.close()
        meet.close()
    kernel_ms = [float(m) for m in re.findall(r"\(([0-9.]+) ms from write to display\)", watch_out)]
    assert len(kernel_ms) == writes, "the watch saw %d of %d writes" % (len(kernel_ms), writes)
    # A server built before the trace leaves none.
    stamps = [[int(v) for v in line.split()] for line in open(trace_path)]
    assert len(stamps) in (0, writes), "the server traced %d of %d writes" % (len(stamps), writes)
    return {"kernel": kernel_ms,
            "server": [(a - w) / 1e6 for a, w in zip(arrived_ns, written_ns)],
            "read": read_ms,
            "path": [[w] + s + [a] for w, s, a in zip(written_ns, stamps, arrived_ns)]}


def main():
    varnox, timer = sys.argv[1:3]
    writes = int(sys.argv[3]) if len(sys.argv) > 3 else 400
    runs = int(sys.argv[4]) if len(sys.argv) > 4 else 1
    trace_path = os.path.join(tempfile.mkdtemp(prefix="varnox-trace-"), "trace")
    ratios = []
    print("%d laps a run, one at a time; ms, median / p99" % writes)
    print("%-4s %15s %15s %15s %13s %13s" % ("run", "kernel", "serve", "read by script",
                                             "ratio median", "ratio p99"))
    steps = []
    for run in range(1, runs + 1):
        result = run_once(varnox, timer, writes, trace_path)
        kernel, server = result["kernel"], result["server"]
        ratio = (statistics.median(server) / statistics.median(kernel),
                 percentile(server, 0.99) / percentile(kernel, 0.99))
        ratios.append(ratio)
        print("%-4d %15s %15s %15s %12.2fx %12.2fx" % (
            run, *["%6.3f / %6.3f" % (statistics.median(v), percentile(v, 0.99))
                   for v in (kernel, server, result["read"])], *ratio))
        # Each step of the server's path: the median of its length over the writes.
        if result["path"]:
            steps.append([statistics.median((p[i + 1] - p[i]) / 1e6 for p in result["path"])
                          for i in range(len(PATH) - 1)])
    if steps:
        print("server's path, median of each step's median over the runs (ms):")
        for i in range(len(PATH) - 1):
            print("  %-22s %6.3f" % (PATH[i] + " -> " + PATH[i + 1],
                                     statistics.median(s[i] for s in steps)))
    if runs > 1:
        medians, p99s = [r[0] for r in ratios], [r[1] for r in ratios]
        print("ratio at the median: %.2fx (%.2f to %.2f), within 2x in %d of %d runs" % (
            statistics.median(medians), min(medians), max(medians),
            sum(r <= 2 for r in medians), runs))
        print("ratio at the p99:    %.2fx (%.2f to %.2f), within 2x in %d of %d runs" % (
            statistics.median(p99s), min(p99s), max(p99s), sum(r <= 2 for r in p99s), runs))


if __name__ == "__main__":
    main()

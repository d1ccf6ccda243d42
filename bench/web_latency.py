#!/usr/bin/env python3
"""Write-to-browser delay of one lap, beside the kernel's own notification
delay between two processes, measured in the same run on a scratch meet.

  web_latency.py VARNOX WEB_TIMER [WRITES]

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
Prints the median and the 99th percentile of each, and their ratio.
"""
import os
import re
import selectors
import socket
import struct
import statistics
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "web"))
from live_test import Meet, Stream  # noqa: E402


SO_TIMESTAMPNS = getattr(socket, "SO_TIMESTAMPNS", 35)  # Linux


def percentile(values, fraction):
    ordered = sorted(values)
    return ordered[min(len(ordered) - 1, int(fraction * len(ordered)))]


def main():
    varnox, timer = sys.argv[1:3]
    writes = int(sys.argv[3]) if len(sys.argv) > 3 else 400
    meet = Meet(varnox, timer)
    meet_dir = os.path.join(meet.dir, "meet")
    watch = subprocess.Popen([varnox, "watch", meet_dir, str(writes)], stdout=subprocess.PIPE,
                             text=True)
    assert watch.stdout.readline().startswith("Watching")
    stream = Stream(meet.port)
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

    server_ms, read_ms = [], []
    try:
        pump_until(lambda: stream.snapshot_id is not None)
        for i in range(writes):
            lane, lap = i % 4 + 1, i // 4 % 4 + 1
            seen = len(stream.ids)
            written = meet.write("lap R2 H1 %d %d %d" % (lane, lap, lap * 3000 + i))
            pump_until(lambda: len(stream.ids) > seen)
            read_ms.append((time.time_ns() - written) / 1e6)
            server_ms.append((arrived[0] - written) / 1e6)
            time.sleep(0.01)
        watch_out, _ = watch.communicate(timeout=60)
    finally:
        stream.sock.close()
        meet.close()
    kernel_ms = [float(m) for m in re.findall(r"\(([0-9.]+) ms from write to display\)", watch_out)]
    assert len(kernel_ms) == writes, "the watch saw %d of %d writes" % (len(kernel_ms), writes)
    print("%d laps written, one at a time" % writes)
    print("%-44s %9s %9s" % ("", "median", "p99"))
    rows = [("kernel notification, write -> other process", kernel_ms),
            ("varnox serve, write -> event on the socket", server_ms),
            ("  (and -> read by this script)", read_ms)]
    for name, values in rows:
        print("%-44s %7.3f ms %6.3f ms" % (name, statistics.median(values), percentile(values, 0.99)))
    print("ratio (serve / kernel): median %.2fx, p99 %.2fx" % (
        statistics.median(server_ms) / statistics.median(kernel_ms),
        percentile(server_ms, 0.99) / percentile(kernel_ms, 0.99)))


if __name__ == "__main__":
    main()

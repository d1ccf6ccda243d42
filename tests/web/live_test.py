#!/usr/bin/env python3
"""The live-results server end to end, on a scratch meet on the loopback.

  live_test.py browser VARNOX WEB_TIMER [SCREENSHOT.png]
      headless Chromium opens the page; a timing process (web_timer) writes
      laps, a final time, a status and a competitor named as markup; the
      page's DOM must show each within a deadline. With SCREENSHOT.png, a
      screenshot of the page during the heat, taken by that headless Chromium.
  live_test.py load VARNOX WEB_TIMER
      200 event-stream clients and 1,000 page requests while a heat is
      written: every client sees every change once (event ids without a gap
      or a repeat) and ends on the server's own state.
"""
import base64
import concurrent.futures
import json
import os
import select
import selectors
import shutil
import socket
import subprocess
import sys
import tempfile
import time
import urllib.request

DEADLINE = 20.0  # seconds any awaited change may take at most


class Meet:
    """A scratch meet, `varnox serve` on it and a timing process."""

    def __init__(self, varnox, timer):
        self.dir = tempfile.mkdtemp(prefix="varnox-web-")
        meet = os.path.join(self.dir, "meet")
        subprocess.run([varnox, "demo", meet], check=True, stdout=subprocess.DEVNULL)
        self.server = subprocess.Popen([varnox, "serve", meet, "--listen", "127.0.0.1:0"],
                                       stdout=subprocess.PIPE, text=True)
        line = self.server.stdout.readline()
        if "http://" not in line:
            raise RuntimeError("varnox serve did not start: " + line)
        self.url = line.split(" at ")[1].strip()
        self.port = int(self.url.rstrip("/").rsplit(":", 1)[1])
        self.timer = subprocess.Popen([timer, meet], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                      text=True)
        assert self.timer.stdout.readline().strip() == "ready"

    def write(self, command):
        self.timer.stdin.write(command + "\n")
        self.timer.stdin.flush()
        answer = self.timer.stdout.readline().strip()
        if not answer.startswith("ok"):
            raise RuntimeError(command + ": " + answer)
        return int(answer.split()[1])

    def get(self, path):
        with urllib.request.urlopen(self.url.rstrip("/") + path, timeout=10) as reply:
            return reply.read()

    def close(self):
        self.timer.stdin.close()
        self.timer.wait(timeout=10)
        self.server.terminate()
        code = self.server.wait(timeout=10)
        shutil.rmtree(self.dir, ignore_errors=True)
        if code != 0:
            raise RuntimeError("varnox serve ended with %d" % code)


def await_true(what, probe):
    end = time.monotonic() + DEADLINE
    while time.monotonic() < end:
        value = probe()
        if value:
            return value
        time.sleep(0.05)
    raise AssertionError("not within %.0f s: %s" % (DEADLINE, what))


# ---------------------------------------------------------------------------
# The browser, through its debugging protocol on a pipe (messages ending in
# a NUL byte; the browser reads descriptor 3 and writes descriptor 4).

class Page:
    def __init__(self, url):
        self.profile = tempfile.mkdtemp(prefix="varnox-chromium-")
        commands, self.commands = os.pipe()
        self.replies, replies = os.pipe()

        def pipes_as_3_and_4():
            os.dup2(commands, 3)
            os.dup2(replies, 4)

        self.browser = subprocess.Popen(
            ["chromium", "--headless", "--no-sandbox", "--disable-gpu", "--no-first-run",
             "--user-data-dir=" + self.profile, "--remote-debugging-pipe",
             "--window-size=1280,900", url],
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, close_fds=False,
            preexec_fn=pipes_as_3_and_4)
        os.close(commands)
        os.close(replies)
        self.next_id, self.received, self.session = 0, b"", None
        pages = await_true("the page target", lambda: [
            t for t in self.call("Target.getTargets", {})["targetInfos"] if t["type"] == "page"])
        self.session = self.call("Target.attachToTarget", {"targetId": pages[0]["targetId"],
                                                           "flatten": True})["sessionId"]

    def call(self, method, params):
        self.next_id += 1
        message = {"id": self.next_id, "method": method, "params": params}
        if self.session:
            message["sessionId"] = self.session
        os.write(self.commands, json.dumps(message).encode() + b"\0")
        while True:
            while b"\0" not in self.received:
                if not select.select([self.replies], [], [], DEADLINE)[0]:
                    raise RuntimeError("the browser did not answer " + method)
                chunk = os.read(self.replies, 65536)
                if not chunk:
                    raise RuntimeError("the browser closed its debugging pipe")
                self.received += chunk
            text, self.received = self.received.split(b"\0", 1)
            reply = json.loads(text)
            if reply.get("id") == self.next_id:
                if "error" in reply:
                    raise RuntimeError("%s: %s" % (method, reply["error"]))
                return reply["result"]

    def evaluate(self, expression):
        return self.call("Runtime.evaluate", {"expression": expression,
                                              "returnByValue": True})["result"].get("value")

    def screenshot(self, path):
        png = base64.b64decode(self.call("Page.captureScreenshot", {"format": "png"})["data"])
        with open(path, "wb") as out:
            out.write(png)

    def close(self):
        os.close(self.commands)
        os.close(self.replies)
        self.browser.terminate()
        self.browser.wait(timeout=10)
        shutil.rmtree(self.profile, ignore_errors=True)


ROWS = """JSON.stringify([...document.querySelectorAll('#results-body tr')].map(tr => ({
  lane: Number(tr.dataset.lane), place: tr.querySelector('.place').textContent,
  name: tr.querySelector('.name').textContent, time: tr.querySelector('.time').textContent,
  split1: tr.querySelector('td.split').textContent})))"""
MARKUP = "<script>document.title='owned'</script><b>x</b>"

# What the timing process writes, then what a lane's row must show: a split;
# a lane's four laps, its final time and first place; a status instead of a
# place; a name that is markup, shown as text; a status renamed in the global
# settings alone (the server reads them anew).
STEPS = [(["lap R2 H1 1 1 3012"], 1, "split1", "30.12"),
         (["lap R2 H1 3 %d %d" % lap for lap in enumerate([2950, 6120, 9310, 12480], 1)],
          3, "time", "2:04.80"),
         ([], 3, "place", "1"),
         (["status R2 H1 2 1"], 2, "place", "Disqualified"),
         (["name 1012 " + MARKUP], 1, "name", MARKUP),
         (["status-name 1 DSQ"], 2, "place", "DSQ")]
# Then, for the screenshot, a heat under way.
SCREENSHOT_STEPS = [(["name 1012 Tom Becker", "lap R2 H1 4 1 2990", "lap R2 H1 4 2 6180",
                      "lap R2 H1 1 2 6230"], 4, "time", "1:01.80")]


def browser_test(varnox, timer, screenshot):
    meet = Meet(varnox, timer)
    page = None
    try:
        meet.write("clear R2 H1")
        page = Page(meet.url + "#/R2/H1")
        await_true("the page's first state", lambda: page.evaluate("document.body.dataset.eventId"))
        for commands, lane, field, value in STEPS + (SCREENSHOT_STEPS if screenshot else []):
            for command in commands:
                meet.write(command)
            rows = lambda: {r["lane"]: r for r in json.loads(page.evaluate(ROWS) or "[]")}
            await_true("lane %d's %s %s" % (lane, field, value),
                       lambda: rows().get(lane, {}).get(field) == value)
        assert page.evaluate("document.querySelectorAll('#results-body script, #results-body b').length") == 0
        assert page.evaluate("document.title") != "owned"
        if screenshot:
            page.screenshot(screenshot)
            assert open(screenshot, "rb").read(8) == b"\x89PNG\r\n\x1a\n"
    finally:
        if page:
            page.close()
        meet.close()
    print("browser: 1 passed, 0 failed")


# ---------------------------------------------------------------------------
# Load: event streams read through one selector, requests from a pool.

class Stream:
    def __init__(self, port):
        self.sock = socket.create_connection(("127.0.0.1", port), timeout=10)
        self.sock.sendall(b"GET /events HTTP/1.1\r\nHost: x\r\n\r\n")
        self.sock.setblocking(False)
        self.raw, self.body, self.head_done = b"", b"", False
        self.ids, self.heat, self.snapshot_id = [], None, None

    def feed(self, data):
        self.raw += data
        if not self.head_done:
            if b"\r\n\r\n" not in self.raw:
                return
            head, self.raw = self.raw.split(b"\r\n\r\n", 1)
            assert b" 200 " in head.split(b"\r\n")[0], head
            self.head_done = True
        while True:  # chunked transfer coding
            if b"\r\n" not in self.raw:
                return
            size_text, rest = self.raw.split(b"\r\n", 1)
            size = int(size_text, 16)
            if len(rest) < size + 2:
                return
            self.body += rest[:size]
            self.raw = rest[size + 2:]
            self.parse_events()

    def parse_events(self):
        while b"\n\n" in self.body:
            block, self.body = self.body.split(b"\n\n", 1)
            fields = dict(line.split(": ", 1) for line in block.decode().split("\n")
                          if ": " in line and not line.startswith(":"))
            if "id" not in fields:
                continue
            event_id, kind, data = int(fields["id"]), fields.get("event"), json.loads(fields["data"])
            if kind == "snapshot":
                assert self.snapshot_id is None, "a second snapshot"
                self.snapshot_id = event_id
                data = next(h for h in data["heats"] if h["race"] == "R2" and h["heat"] == "H1")
            else:
                self.ids.append(event_id)
            if data.get("race") == "R2" and data.get("heat") == "H1":
                self.heat = data


def load_test(varnox, timer):
    streams_count, requests_count = 200, 1000
    meet = Meet(varnox, timer)
    streams = []
    try:
        meet.write("clear R2 H1")
        streams = [Stream(meet.port) for _ in range(streams_count)]
        selector = selectors.DefaultSelector()
        for stream in streams:
            selector.register(stream.sock, selectors.EVENT_READ, stream)

        def pump(seconds):
            end = time.monotonic() + seconds
            while time.monotonic() < end:
                for key, _ in selector.select(timeout=0.05):
                    data = key.fileobj.recv(65536)
                    assert data, "the server closed an event stream"
                    key.data.feed(data)

        def request(i):
            path = ["/", "/api/schedule", "/api/heats/R2/H1", "/app.js"][i % 4]
            with urllib.request.urlopen(meet.url.rstrip("/") + path, timeout=10) as reply:
                return reply.status

        await_true("a snapshot on every stream",
                   lambda: pump(0.05) or all(s.snapshot_id is not None for s in streams))

        with concurrent.futures.ThreadPoolExecutor(max_workers=8) as pool:
            statuses = pool.map(request, range(requests_count))
            for writes, (lap, lane) in enumerate(((lap, lane) for lap in range(1, 5)
                                                  for lane in range(1, 5)), 1):
                meet.write("lap R2 H1 %d %d %d" % (lane, lap, lap * 3000 + lane * 7))
                pump(0.01)
            statuses = list(statuses)
        assert statuses.count(200) == requests_count, {s: statuses.count(s) for s in set(statuses)}

        final = json.loads(meet.get("/api/heats/R2/H1"))
        await_true("every stream at the final state",
                   lambda: pump(0.05) or all(s.heat == final for s in streams))
        for number, stream in enumerate(streams):
            expected = list(range(stream.snapshot_id + 1, stream.snapshot_id + 1 + len(stream.ids)))
            assert stream.ids == expected, "stream %d: ids %s" % (number, stream.ids)
        last = {s.ids[-1] if s.ids else s.snapshot_id for s in streams}
        assert len(last) == 1, "streams end on different events: %s" % last
        print("load: %d streams saw all %d events of %d writes once each; %d requests answered"
              % (streams_count, len(streams[0].ids), writes, requests_count))
    finally:
        for stream in streams:
            stream.sock.close()
        meet.close()
    print("load: 1 passed, 0 failed")


if __name__ == "__main__":
    mode, varnox, timer = sys.argv[1:4]
    if mode == "browser":
        browser_test(varnox, timer, sys.argv[4] if len(sys.argv) > 4 else None)
    else:
        load_test(varnox, timer)

#!/usr/bin/env python3
"""The live-results server end to end, on a scratch meet on the loopback.

  live_test.py VARNOX WEB_TIMER [SCREENSHOT.png]
      headless Chromium opens the page; a timing process (web_timer) writes
      laps, a final time, a status and a competitor named as markup; the
      page's DOM must show each within a deadline. With SCREENSHOT.png, a
      screenshot of the page during the heat, taken by that headless Chromium.
(Many event streams and page requests during a flood of events are the
server test's.)
"""
import base64
import json
import os
import select
import shutil
import subprocess
import sys
import tempfile
import time

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
        for lane in range(1, 5):  # the demo timed the heat's four lanes, four laps each
            for lap in range(1, 5):
                meet.write("lap R2 H1 %d %d 0" % (lane, lap))
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


if __name__ == "__main__":
    browser_test(sys.argv[1], sys.argv[2], sys.argv[3] if len(sys.argv) > 3 else None)

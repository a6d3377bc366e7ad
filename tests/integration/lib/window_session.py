"""What the window smoke tests share, whichever shell they drive: a virtual X
display, the fake chat server, the state trace the window writes
(NETLOOM_UI_TRACE), and xdotool and ImageMagick for the hands and eyes.

Failed checks are collected in `failures` and printed as they happen, so a
test goes on to its later steps and keeps its screenshots.
"""

import json
import os
import subprocess
import sys
import time

SERVER = os.path.join(os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__)))), "fixtures",
                      "fake_chat_server.py")
HIGHLIGHT = (255, 204, 0)  # the dark theme's highlight colour

failures = []


def check(condition, what):
    if not condition:
        failures.append(what)
        print("FAIL: " + what, flush=True)
    return condition


def skip(why):
    print("SKIP: " + why)
    sys.exit(77)


def near(c, target, slack=40):
    return all(abs(a - b) <= slack for a, b in zip(c, target))


class Trace:
    """The window's state trace: one JSON object per line.

    `visible` tells from a control's (x, y, width, height) whether it is shown:
    the shells report hidden controls differently."""

    def __init__(self, path, timeout=20, visible=lambda box: box[2] > 0 and box[3] > 0):
        self.path, self.seen, self.timeout, self.visible = path, 0, timeout, visible

    def events(self):
        try:
            with open(self.path, encoding="utf-8") as f:
                return [json.loads(line) for line in f if line.strip()]
        except FileNotFoundError:
            return []

    def last(self, kind):
        found = [e for e in self.events() if e["event"] == kind]
        return found[-1] if found else None

    def wait(self, what, match, timeout=None, since=None, quiet=False):
        """The first event that `match` accepts after the last one waited for (or after `since`)."""
        deadline = time.monotonic() + (self.timeout if timeout is None else timeout)
        start = self.seen if since is None else since
        while time.monotonic() < deadline:
            events = self.events()
            for i in range(start, len(events)):
                if match(events[i]):
                    self.seen = max(self.seen, i + 1)
                    return events[i]
            time.sleep(0.05)
        if not quiet:
            check(False, "timed out waiting for " + what)
        return None

    def mark(self):
        """Where the events of the next action will start."""
        return len(self.events())

    def placed(self, widget, index=None):
        """The screen rectangle of a control once it is shown."""
        def shown(e):
            if e["event"] != "layout":
                return False
            return self.visible(e[widget] if index is None else e[widget][index])
        layouts = [e for e in self.events() if shown(e)]
        if not layouts:
            layouts = [self.wait("the %s to be shown" % widget, shown, since=0)]
        box = layouts[-1][widget]
        return box if index is None else box[index]


class Window:
    """xdotool and screenshots on the display in `env`; `pause` is how long a
    menu takes to come up and the window to repaint."""

    def __init__(self, env, trace, shots, pause=0.4, key_delay=60):
        self.env, self.trace, self.shots = env, trace, shots
        self.pause, self.key_delay = pause, key_delay
        self.shot = 0

    def xdotool(self, *args):
        subprocess.run(["xdotool"] + [str(a) for a in args], env=self.env, check=True)

    def pixel_of(self, point):
        """The screen pixel where the canvas shows a sheet point (millimetres)."""
        layout, view = self.trace.last("layout"), self.trace.last("view")
        x0, y0 = layout["canvas"][0], layout["canvas"][1]
        zoom, (ox, oy) = view["zoom"], view["origin"]
        return int(round(x0 + (point[0] - ox) * zoom)), int(round(y0 + (point[1] - oy) * zoom))

    def click_sheet(self, point, button=1, repeat=1):
        x, y = self.pixel_of(point)
        self.xdotool("mousemove", x, y, "click", "--repeat", repeat, "--delay", 80, button)

    def click_box(self, box, dx=None, dy=None, repeat=1):
        """A click into a control's rectangle: its centre unless told where."""
        x = box[0] + (box[2] // 2 if dx is None else dx)
        y = box[1] + (box[3] // 2 if dy is None else dy)
        self.xdotool("mousemove", x, y, "click", "--repeat", repeat, "--delay", 80, 1)

    def keys(self, *keys):
        self.xdotool("key", "--delay", self.key_delay, *keys)

    def menu(self, *keys):
        """Keys through menus: each one waits for the menu it opens to be up."""
        for key in keys:
            self.xdotool("key", key)
            time.sleep(self.pause)

    def type(self, text):
        self.xdotool("type", "--delay", 20, text)

    def screenshot(self, name):
        self.shot += 1
        path = os.path.join(self.shots, "%02d-%s.png" % (self.shot, name))
        time.sleep(self.pause)  # let the window repaint
        subprocess.run(["import", "-window", "root", path], env=self.env, check=True)
        return path

    @staticmethod
    def colour(path, x, y, radius=2):
        """The colours of the pixels in a small square around (x, y), as (r, g, b) tuples."""
        size = 2 * radius + 1
        out = subprocess.run(["convert", path, "-crop", "%dx%d+%d+%d" % (size, size, x - radius, y - radius),
                              "-depth", "8", "txt:-"], capture_output=True, text=True, check=True).stdout
        colours = []
        for line in out.splitlines()[1:]:
            rgb = line.split("(")[1].split(")")[0].split(",")[:3]
            colours.append(tuple(int(float(v)) for v in rgb))
        return colours


def start_display():
    """A fresh Xvfb; returns the process and its display name."""
    read, write = os.pipe()
    xvfb = subprocess.Popen(["Xvfb", "-displayfd", str(write), "-screen", "0", "1600x1000x24", "-nolisten", "tcp"],
                            pass_fds=(write,), stderr=subprocess.DEVNULL)
    os.close(write)
    number = b""
    while not number.endswith(b"\n"):
        chunk = os.read(read, 16)
        if not chunk:
            break
        number += chunk
    os.close(read)
    return xvfb, ":" + number.decode().strip()


def start_server(tmp, lifetime=300):
    """The fake chat-completions server: one tool call that lights TRIG_THR, then an answer.
    Returns the process and its base URL."""
    with open(os.path.join(tmp, "script.json"), "w", encoding="utf-8") as f:
        json.dump([
            {"body": {"choices": [{"message": {"role": "assistant", "content": None, "tool_calls": [
                {"id": "c1", "type": "function",
                 "function": {"name": "highlight_net", "arguments": "{\"name\": \"TRIG_THR\"}"}}]}}]}},
            {"body": {"choices": [{"message": {"role": "assistant", "content": "TRIG_THR joins pins 2 and 6."}}]}},
        ], f)
    port_file = os.path.join(tmp, "port")
    server = subprocess.Popen([sys.executable, SERVER, "--script", os.path.join(tmp, "script.json"), "--record",
                               os.path.join(tmp, "requests.json"), "--port-file", port_file, "--lifetime",
                               str(lifetime)])
    for _ in range(500):
        if os.path.exists(port_file):
            break
        time.sleep(0.02)
    with open(port_file, encoding="utf-8") as f:
        return server, "http://127.0.0.1:%d/v1" % int(f.read())

#!/usr/bin/env python3
"""The desktop window used as a person would, on a virtual X display.

    gui_smoke.py <netloom> [screenshot folder]

Starts `netloom sample` under Xvfb, clicks a pin and a component, wheels,
switches tabs, activates an ERC row, chats with the fake chat-completions
server, opens KiCad's `video` demo from the recent files (after one that is
gone), enters a sub-sheet and comes back, uses Find, changes the theme in
Settings and quits. What happened is read from the
state trace the window writes (NETLOOM_UI_TRACE) and from screenshots whose
pixels must show the highlight colour where a net lights up.

Screenshots go to the folder given (default: gui-smoke next to the netloom
binary); they are kept, and named on failure. Exits 77 (skipped) without
Xvfb, xdotool, ImageMagick or a build with the window.
"""

import json
import os
import shutil
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "lib"))
from window_session import (HIGHLIGHT, Trace, Window, check, failures, near, skip, start_display,  # noqa: E402
                            start_server)

VIDEO = "/usr/share/kicad/demos/video/video.kicad_sch"
MISSING = "/nonexistent/gone.kicad_sch"
NETLOOM = os.path.abspath(sys.argv[1])
SHOTS = os.path.abspath(sys.argv[2] if len(sys.argv) > 2 else os.path.join(os.path.dirname(NETLOOM), "gui-smoke"))

# Where things are on the built-in demo's sheet, in millimetres.
U1_PIN3 = (110.49, 77.47)      # OUT
OUT_WIRE = (122.5, 77.47)      # between U1 pin 3 and R3
R1_BODY = (80.01, 83.82)
TRIG_WIRE = (66.0, 72.39)      # the TRIG_THR wire left of R2
EMPTY = (75.0, 115.0)

def session(w, trace, has_video):
    trace.wait("the demo to open", lambda e: e["event"] == "document" and e["path"] == "<built-in sample>")
    trace.wait("the window to be placed", lambda e: e["event"] == "layout" and e["canvas"][2] > 100 and
               e["tabs"][0][0] > 0)
    time.sleep(0.5)
    before = w.screenshot("opened")
    x, y = w.pixel_of(OUT_WIRE)
    check(not any(near(c, HIGHLIGHT) for c in Window.colour(before, x, y)), "the OUT wire is lit before any click")

    # A pin lights its net; a part is selected; empty space clears both.
    w.click_sheet(U1_PIN3)
    e = trace.wait("the OUT net to light", lambda e: e["event"] == "highlight" and e["net_names"] == ["OUT"])
    check(trace.last("status")["text"] == "Net: OUT  (2 pins)", "status after the pin click")
    lit = w.screenshot("pin-clicked")
    check(any(near(c, HIGHLIGHT) for c in Window.colour(lit, x, y)), "the OUT wire shows the highlight colour (%s)" % lit)
    mark = trace.mark()
    w.click_sheet(R1_BODY)
    trace.wait("R1 to be selected", lambda e: e["event"] == "highlight" and e["references"] == ["R1"])
    trace.wait("the component status", lambda e: e["event"] == "status" and e["text"] == "Component: R1", since=mark)

    # Wheel up over the canvas: the view zooms in by one step about the mouse.
    zoom = trace.last("view")["zoom"]
    w.click_sheet(EMPTY, button=4)
    e = trace.wait("the wheel to zoom", lambda e: e["event"] == "view")
    check(e and abs(e["zoom"] / zoom - 1.15) < 1e-6, "one wheel step zooms by 1.15")
    w.keys("Home")
    trace.wait("Home to fit again", lambda e: e["event"] == "view" and abs(e["zoom"] - zoom) < 1e-9)

    # Tabs, and an ERC row: the demo is clean, its one row clears the highlight.
    w.click_sheet(U1_PIN3)
    trace.wait("OUT lit again", lambda e: e["event"] == "highlight" and e["net_names"] == ["OUT"])
    w.click_box(trace.placed("tabs", 1))
    trace.wait("the ERC tab", lambda e: e["event"] == "tab" and e["name"] == "ERC")
    w.click_box(trace.placed("erc_list"), dx=40, dy=10, repeat=2)
    trace.wait("the ERC row to clear the highlight", lambda e: e["event"] == "highlight" and e["nets"] == [])
    w.click_box(trace.placed("tabs", 0))
    trace.wait("the Inspector tab", lambda e: e["event"] == "tab" and e["name"] == "Inspector")

    # The assistant lights TRIG_THR through a tool call and answers.
    w.click_box(trace.placed("tabs", 2))
    trace.wait("the assistant tab", lambda e: e["event"] == "tab" and e["name"] == "AI Assistant")
    box = trace.placed("input")
    w.click_box(box, dy=box[3] // 2)
    mark = trace.mark()
    w.type("what does the trigger connect?")
    w.keys("Return")
    trace.wait("the question", lambda e: e["event"] == "transcript" and e["speaker"] == "You")
    trace.wait("busy", lambda e: e["event"] == "busy" and e["busy"], since=mark)
    trace.wait("the tool call", lambda e: e["event"] == "transcript" and "highlight_net" in e["text"])
    trace.wait("the answer", lambda e: e["event"] == "transcript" and e["speaker"] == "AI" and
               e["text"] == "TRIG_THR joins pins 2 and 6.")
    trace.wait("idle again", lambda e: e["event"] == "busy" and not e["busy"])
    check(trace.last("highlight")["net_names"] == ["TRIG_THR"], "the assistant's highlight")
    chat = w.screenshot("assistant")
    check(any(near(c, HIGHLIGHT) for c in Window.colour(chat, *w.pixel_of(TRIG_WIRE))),
          "the TRIG_THR wire shows the highlight colour (%s)" % chat)

    if has_video:
        # A recent file that is gone is dropped with a message; the video demo opens from the list.
        w.menu("alt+f", "r", "Down", "Return")
        e = trace.wait("the message about the missing file", lambda e: e["event"] == "message")
        check(e and MISSING in e["text"], "the message names the missing file")
        time.sleep(0.5)
        w.keys("Return")
        time.sleep(0.5)
        w.menu("alt+f", "r", "Return")
        trace.wait("the video demo", lambda e: e["event"] == "document" and e["path"] == VIDEO, timeout=60)
        time.sleep(0.5)
        w.screenshot("video")
        w.click_sheet((200.0, 185.0), repeat=2)  # the RAMS sheet symbol
        trace.wait("the RAMS sheet", lambda e: e["event"] == "sheet" and e["path"] == "/RAMS/")
        w.screenshot("rams")
        w.keys("BackSpace")
        trace.wait("back on the root", lambda e: e["event"] == "sheet" and e["path"] == "/")

        # Find a part: its sheet is shown and the part selected; Enter again steps (one unit: stays).
        w.keys("ctrl+f")
        time.sleep(0.3)
        w.type("U1")
        mark = trace.mark()
        w.keys("Return")
        trace.wait("U1 selected", lambda e: e["event"] == "highlight" and e["references"] == ["U1"])
        trace.wait("the find status", lambda e: e["event"] == "status" and e["text"].startswith("Found U1"), since=mark)
        w.screenshot("found")
        w.keys("Escape")

    # Settings: the light theme, closed with Close.
    w.keys("ctrl+comma")
    time.sleep(1.0)
    w.screenshot("settings")
    w.keys("Down", "alt+c")
    e = trace.wait("the settings to change", lambda e: e["event"] == "settings")
    check(e and e["theme"] == "light", "the theme after Settings")
    light = w.screenshot("light")
    bg = Window.colour(light, *w.pixel_of((10.0, 10.0)), radius=0)
    check(near(bg[0], (255, 255, 255), 3), "the canvas turned white (%s): %s" % (light, bg))

    w.keys("ctrl+q")


def main():
    for tool in ("Xvfb", "xdotool", "import", "convert"):
        if not shutil.which(tool):
            skip(tool + " is not installed (scripts/setup.sh installs it)")
    probe = subprocess.run([NETLOOM, "--gui"], env={k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY")},
                           capture_output=True, text=True, timeout=30)
    if "no desktop window" in probe.stderr:
        skip("this netloom was built without the window")

    os.makedirs(SHOTS, exist_ok=True)
    for old in os.listdir(SHOTS):
        if old.endswith(".png"):
            os.remove(os.path.join(SHOTS, old))
    tmp = tempfile.mkdtemp(prefix="netloom_gui_")
    xvfb, display = start_display()
    server, base_url = start_server(tmp)
    # GTK reports a hidden tab page at (0, 0).
    trace = Trace(os.path.join(tmp, "trace.jsonl"), visible=lambda box: box[0] > 0 and box[1] > 0)
    with open(os.path.join(tmp, "settings.json"), "w", encoding="utf-8") as f:
        json.dump({"ai": {"base_url": base_url, "model": "test-model", "api_key": ""}, "recent": [VIDEO, MISSING]}, f)
    env = dict(os.environ, DISPLAY=display, NETLOOM_UI_TRACE=trace.path,
               NETLOOM_SETTINGS=os.path.join(tmp, "settings.json"), HOME=tmp, XDG_CONFIG_HOME=tmp,
               XDG_DATA_HOME=tmp, GDK_BACKEND="x11", NO_AT_BRIDGE="1", GSETTINGS_BACKEND="memory", GTK_THEME="Adwaita")
    log = open(os.path.join(SHOTS, "netloom.log"), "w", encoding="utf-8")
    app = subprocess.Popen([NETLOOM, "sample"], env=env, stdout=log, stderr=subprocess.STDOUT)
    w = Window(dict(os.environ, DISPLAY=display), trace, SHOTS)
    try:
        session(w, trace, os.path.exists(VIDEO))
        try:
            status = app.wait(timeout=20)
            check(status == 0, "netloom exited with %d" % status)
        except subprocess.TimeoutExpired:
            check(False, "netloom did not quit on Ctrl+Q")
    except Exception as e:  # a broken step must still leave its screenshots behind
        check(False, "the session stopped: %r" % e)
    finally:
        if failures:
            try:
                w.screenshot("at-failure")
            except Exception:
                pass
        for p in (app, server, xvfb):
            if p.poll() is None:
                p.kill()
                p.wait()
        log.close()
        shutil.copy(trace.path, os.path.join(SHOTS, "trace.jsonl")) if os.path.exists(trace.path) else None
        shutil.rmtree(tmp, ignore_errors=True)
    if not os.path.exists(VIDEO):
        print("note: KiCad's video demo is not installed; its steps were left out")
    if failures:
        print("%d failure(s); screenshots, trace and log are in %s" % (len(failures), SHOTS))
        return 1
    print("GUI smoke test passed (%d screenshots in %s)" % (w.shot, SHOTS))
    return 0


if __name__ == "__main__":
    sys.exit(main())

#!/usr/bin/env python3
"""Every sheet of the built-in sample and of KiCad's demo designs, exported with
--svg in each theme, must be well-formed XML with an <svg> root and must render
in a real SVG renderer (librsvg's rsvg-convert). Each sheet file of a demo is
opened as a design of its own, so --svg, which draws the root sheet, covers
every sheet."""
import glob
import os
import shutil
import subprocess
import sys
import tempfile
import xml.dom.minidom

DEMOS = "/usr/share/kicad/demos"
DESIGNS = ["video", "pic_programmer", "complex_hierarchy", "interf_u"]
THEMES = ["dark", "light", "blueprint", "paper"]


def main():
    netloom = sys.argv[1]
    rsvg = shutil.which("rsvg-convert")
    inputs = ["sample"]
    for d in DESIGNS:
        inputs += sorted(glob.glob(os.path.join(DEMOS, d, "*.kicad_sch")))
    failures = []
    rendered = 0
    with tempfile.TemporaryDirectory() as tmp:
        for theme in THEMES:
            settings = os.path.join(tmp, "settings_%s.json" % theme)
            with open(settings, "w") as f:
                f.write('{"theme": "%s"}' % theme)
            env = dict(os.environ, NETLOOM_SETTINGS=settings)
            for i, src in enumerate(inputs):
                name = "%s (%s)" % (src, theme)
                out = os.path.join(tmp, "%d_%s.svg" % (i, theme))
                r = subprocess.run([netloom, "--svg", src, out], env=env, capture_output=True, text=True)
                if r.returncode != 0 or not r.stdout.startswith("Wrote "):
                    failures.append("%s: exit %d, %s" % (name, r.returncode, r.stderr.strip()))
                    continue
                try:
                    doc = xml.dom.minidom.parse(out)
                except Exception as e:  # any parser complaint is a failure
                    failures.append("%s: not well-formed XML: %s" % (name, e))
                    continue
                root = doc.documentElement
                if root.tagName != "svg" or root.getAttribute("width") != "2000":
                    failures.append("%s: unexpected root element" % name)
                if not root.getElementsByTagName("text") or not root.getElementsByTagName("line"):
                    failures.append("%s: no texts or lines drawn" % name)
                if rsvg:
                    png = out[:-4] + ".png"
                    r = subprocess.run([rsvg, "-w", "400", "-o", png, out], capture_output=True, text=True)
                    if r.returncode != 0 or os.path.getsize(png) < 1000:
                        failures.append("%s: rsvg-convert failed: %s" % (name, r.stderr.strip()))
                    else:
                        rendered += 1
    for f in failures:
        print("FAIL", f)
    print("%d exports checked, %d rendered by rsvg-convert, %d failures" % (len(inputs) * len(THEMES), rendered,
                                                                         len(failures)))
    if failures:
        return 1
    if not rsvg:
        print("rsvg-convert not installed: rendering not checked")
        return 77
    return 0


if __name__ == "__main__":
    sys.exit(main())

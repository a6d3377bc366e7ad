#!/usr/bin/env python3
"""Every sheet of the `video` and `complex_hierarchy` demos and of every shared-corpus
design, drawn as SVG (a folder of sheets), PDF and PNG (a folder of sheets):

- the PDF has one page per sheet instance, each the size of its paper, a bookmark per
  sheet, and its text (pdftotext of poppler-utils) holds on each page the references of
  the parts drawn on that sheet, so a reused sheet shows its own instance's references;
- each SVG is well-formed and holds the same references as text;
- each PNG decodes (chunk CRCs, the whole image stream) and has the requested width.

Parts without pins (frames, logos), power symbols and Eagle parts whose symbols carry
no >NAME text draw no reference and are not looked for. Skips (77) when neither demos nor corpus nor pdftotext are there."""
import json
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import xml.dom.minidom
from xml.etree import ElementTree
import zlib

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "lib"))
import designs  # noqa: E402

DEMO_NAMES = ("video", "complex_hierarchy")
PNG_WIDTH = 700
PAPER_POINTS = {"A4": (841.89, 595.28), "A3": (1190.55, 841.89), "A2": (1683.78, 1190.55)}


def chosen_designs():
    picked = [(n, sch) for n, sch, _ in designs.kicad_designs()
              if n in DEMO_NAMES or sch.startswith(designs.KICAD_CORPUS)]
    picked += [(n, sch) for n, sch, _ in designs.eagle_designs()]
    return picked


def eagle_named_parts(sch):
    """The Eagle parts with a >NAME (or >PART) text in a symbol of theirs, in any case."""
    root = ElementTree.parse(sch).getroot()
    named = {}  # (library, symbol) -> has a name text
    gates = {}  # (library, device set) -> its symbols
    for lib in root.iter("library"):
        name = lib.get("name")
        for sym in lib.iter("symbol"):
            named[(name, sym.get("name"))] = any((t.text or "").strip().upper() in (">NAME", ">PART")
                                                 for t in sym.iter("text"))
        for ds in lib.iter("deviceset"):
            gates[(name, ds.get("name"))] = [g.get("symbol") for g in ds.iter("gate")]
    return {p.get("name") for p in root.iter("part")
            if any(named.get((p.get("library"), s)) for s in gates.get((p.get("library"), p.get("deviceset")), []))}


def drawn_references(dump, sch):
    """{sheet name: set of references}, for the parts that draw their reference."""
    named = eagle_named_parts(sch) if dump["format"] == "eagle" else None
    refs = {}
    for c in dump["components"]:
        if c.get("power_symbol") or c["ref"].startswith("#") or c["pin_count"] == 0:
            continue
        if named is not None and c["ref"] not in named:
            continue
        refs.setdefault(c["sheet"], set()).add(c["ref"])
    return refs


def png_size(path):
    """(width, height) of an 8-bit RGB(A) PNG, after decoding all of it; ValueError when damaged."""
    with open(path, "rb") as f:
        data = f.read()
    if data[:8] != b"\x89PNG\r\n\x1a\n":
        raise ValueError("no PNG signature")
    pos, idat, header = 8, b"", None
    while pos < len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        crc = struct.unpack(">I", data[pos + 8 + length:pos + 12 + length])[0]
        if zlib.crc32(kind + body) != crc:
            raise ValueError("bad CRC in %s chunk" % kind.decode("latin-1"))
        if kind == b"IHDR":
            header = struct.unpack(">IIBBBBB", body)
        elif kind == b"IDAT":
            idat += body
        pos += 12 + length
    channels = {2: 3, 6: 4}.get(header[3]) if header and header[2] == 8 else None
    if not channels:
        raise ValueError("not an 8-bit RGB or RGBA image")
    width, height = header[:2]
    if len(zlib.decompress(idat)) != height * (1 + channels * width):
        raise ValueError("image data of the wrong length")
    return width, height


def written(stdout):
    return re.findall(r"^Wrote (.*) \(\d+ bytes\)$", stdout, re.M)


def text_of(node):
    """A text element's characters, its tspans' included."""
    if node.nodeType == node.TEXT_NODE:
        return node.data
    return "".join(text_of(c) for c in node.childNodes)


def check(netloom, sch, tmp):
    problems = []
    dump = json.loads(designs.run(netloom, "--json", sch, timeout=300).stdout)
    sheets = [s["name"] for s in dump["sheets"]]
    refs = drawn_references(dump, sch)
    # A sheet name shared by two instances cannot say whose references are whose.
    unique = {n for n in sheets if sheets.count(n) == 1}

    pdf = os.path.join(tmp, "design.pdf")
    r = designs.run(netloom, "--pdf", sch, pdf, timeout=300)
    if r.returncode != 0:
        return ["--pdf exited %d: %s" % (r.returncode, designs.text(r.stderr))]
    info = designs.text(designs.run("pdfinfo", "-f", "1", "-l", str(len(sheets)), pdf).stdout)
    pages = int(re.search(r"^Pages:\s+(\d+)", info, re.M).group(1))
    if pages != len(sheets):
        problems.append("PDF has %d pages for %d sheet instances" % (pages, len(sheets)))
    if dump["format"] == "kicad":
        sizes = re.findall(r"^Page +\d+ size:\s+([\d.]+) x ([\d.]+) pts(?: \((\w+)\))?", info, re.M)
        for i, (w, h, name) in enumerate(sizes):
            if name in PAPER_POINTS and sorted(PAPER_POINTS[name]) != sorted((round(float(w), 2),
                                                                            round(float(h), 2))):
                problems.append("page %d: %s x %s points is not %s" % (i + 1, w, h, name))
    first_page = designs.text(designs.run("pdftotext", "-f", "1", "-l", "1", pdf, "-").stdout)
    if dump["format"] == "kicad" and "Sheet 1/%d" % len(sheets) not in first_page:
        problems.append("page 1 has no title block numbering it 1/%d" % len(sheets))
    for page, name in enumerate(sheets, 1):
        text = designs.run("pdftotext", "-f", str(page), "-l", str(page), pdf, "-").stdout.decode("utf-8", "replace")
        missing = sorted(ref for ref in refs.get(name, ()) if name in unique and ref not in text)
        if missing:
            problems.append("PDF page %d (%s) lacks %s" % (page, name, ", ".join(missing[:8])))

    svg_dir = os.path.join(tmp, "svg")
    os.mkdir(svg_dir)
    r = designs.run(netloom, "--svg", sch, svg_dir, timeout=300)
    files = written(r.stdout.decode("utf-8", "replace"))
    if r.returncode != 0 or len(files) != len(sheets) or len(set(files)) != len(files):
        problems.append("--svg into a folder wrote %d files for %d sheets (exit %d)" %
                        (len(set(files)), len(sheets), r.returncode))
    for path, name in zip(files, sheets):
        try:
            doc = xml.dom.minidom.parse(path)
        except Exception as e:  # any parser complaint is a failure
            problems.append("%s: not well-formed: %s" % (os.path.basename(path), e))
            continue
        texts = " ".join(text_of(t) for t in doc.getElementsByTagName("text"))
        missing = sorted(ref for ref in refs.get(name, ()) if name in unique and ref not in texts)
        if missing:
            problems.append("%s lacks %s" % (os.path.basename(path), ", ".join(missing[:8])))

    png_dir = os.path.join(tmp, "png")
    os.mkdir(png_dir)
    r = designs.run(netloom, "--png", sch, png_dir, "--width", str(PNG_WIDTH), timeout=300)
    files = written(r.stdout.decode("utf-8", "replace"))
    if r.returncode != 0 or len(files) != len(sheets):
        problems.append("--png into a folder wrote %d files for %d sheets (exit %d: %s)" %
                        (len(files), len(sheets), r.returncode, designs.text(r.stderr)))
    for path in files:
        try:
            width, _ = png_size(path)
            if width != PNG_WIDTH:
                problems.append("%s is %d pixels wide, not %d" % (os.path.basename(path), width, PNG_WIDTH))
        except (ValueError, OSError, struct.error, zlib.error) as e:
            problems.append("%s does not decode: %s" % (os.path.basename(path), e))
    return problems


def main():
    netloom = designs.netloom_binary()
    if not shutil.which("pdftotext") or not shutil.which("pdfinfo"):
        print("pdftotext/pdfinfo (poppler-utils) not installed; skipping")
        return 77
    found = chosen_designs()
    if not found:
        print("neither the KiCad demos nor the shared corpus are there; skipping")
        return 77
    failed = 0
    for name, sch in found:
        with tempfile.TemporaryDirectory() as tmp:
            problems = check(netloom, sch, tmp)
        print("%-4s %s" % ("ok" if not problems else "FAIL", name))
        for p in problems[:10]:
            print("     " + p)
        failed += bool(problems)
    print("%d of %d designs failed" % (failed, len(found)))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())

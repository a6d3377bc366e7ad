#!/usr/bin/env python3
"""Writes small crafted designs that once made netloom crash, hang or eat memory.

    gen_hostile.py --shape NAME [--size N] --out DIR

prints the path of the design's root file (written into DIR with any files it
needs). --list names the shapes. Each shape is a few kilobytes to a few
megabytes, so none is committed; the hostile-input tests and the benchmark
program generate them on the fly. --size scales the shapes that the benchmark
times (instances, escapes, pins); the others have a fixed size.
"""

import argparse
import os
import sys

FX = '(effects (font (size 1.27 1.27)))'


def kicad(body, lib='', uuid='00000000-0000-0000-0000-0000000000aa'):
    return ('(kicad_sch (version 20231120) (generator "eeschema") (generator_version "8.0")\n'
            '(uuid "%s") (paper "A4")\n(lib_symbols\n%s)\n%s)\n' % (uuid, lib, body))


def two_pin_lib(name='Device:R'):
    return ('(symbol "%s" (property "Reference" "R" (at 2 0 90) %s)\n'
            '(symbol "R_0_1" (rectangle (start -1 -2.5) (end 1 2.5) (stroke (width 0.25)) (fill (type none))))\n'
            '(symbol "R_1_1" (pin passive line (at 0 3.81 270) (length 1.27) (name "~") (number "1"))\n'
            '(pin passive line (at 0 -3.81 90) (length 1.27) (name "~") (number "2"))))\n' % (name, FX))


def placed(ref, x, y, lib='Device:R', uuid=None, instances=''):
    u = '(uuid "%s")' % uuid if uuid else ''
    return ('(symbol (lib_id "%s") (at %s %s 0) (unit 1) %s\n(property "Reference" "%s" (at %s %s 0) %s)\n'
            '(property "Value" "1k" (at %s %s 0) %s)%s)\n' % (lib, x, y, u, ref, x, y, FX, x, y, FX, instances))


def eagle(libraries, parts, sheets):
    return ('<?xml version="1.0" encoding="utf-8"?>\n<eagle version="9.6"><drawing><schematic>\n'
            '<libraries>%s</libraries><parts>%s</parts><sheets>%s</sheets>\n'
            '</schematic></drawing></eagle>\n' % (libraries, parts, sheets))


# --- one crafted file each ------------------------------------------------

def far_wire(_):
    """One wire so long that a grid of 10 mm cells over it would not fit any memory."""
    return {'far_wire.kicad_sch': '(kicad_sch (version 20231120) (uuid "a") (paper "A4")\n'
                                  '(wire (pts (xy 0 0) (xy 42949672945 42949672945)) (stroke (width 0)))\n'
                                  '(label "X" (at 0 0 0) %s))\n' % FX}


def far_items(_):
    """Items at +-1e308 and beyond any sheet, among ordinary ones."""
    big = '1e308'
    body = ('(wire (pts (xy 0 0) (xy 10 0)))\n(wire (pts (xy -%s 0) (xy %s 5)))\n'
            '(junction (at %s %s))\n(no_connect (at 1e200 0))\n(label "FAR" (at 0 %s 0) %s)\n'
            '(text "far text" (at -%s -%s 0) %s)\n(polyline (pts (xy 0 0) (xy %s 1)))\n'
            '(circle (center 5 5) (radius %s))\n' % (big, big, big, big, big, FX, big, big, FX, big, big))
    body += placed('R1', 10, 0) + placed('R2', big, big) + placed('R3', 20, '-' + big)
    return {'far_items.kicad_sch': kicad(body, two_pin_lib())}


def far_items_eagle(_):
    lib = ('<library name="l"><symbols><symbol name="S"><wire x1="0" y1="0" x2="1e308" y2="0" width="0.1"/>'
           '<pin name="1" x="0" y="0"/></symbol></symbols><devicesets><deviceset name="D"><gates>'
           '<gate name="G" symbol="S"/></gates><devices><device name=""/></devices></deviceset></devicesets>'
           '</library>')
    parts = '<part name="U1" library="l" deviceset="D" device=""/><part name="U2" library="l" deviceset="D" device=""/>'
    sheet = ('<sheet><plain><text x="1e308" y="0" size="1.7">far</text><wire x1="0" y1="0" x2="-1e308" y2="0" '
             'width="0.1"/></plain><instances><instance part="U1" gate="G" x="10" y="10"/>'
             '<instance part="U2" gate="G" x="1e308" y="-1e308"/></instances><nets><net name="N"><segment>'
             '<wire x1="0" y1="0" x2="1e308" y2="1e308" width="0.1"/><label x="-1e308" y="0" size="1.7"/>'
             '<pinref part="U1" gate="G" pin="1"/></segment></net></nets></sheet>')
    return {'far_items.sch': eagle(lib, parts, sheet)}


def kicad_placement(size):
    """A 4,000-pin symbol placed 8,000 times (1.5 MB): 32 million pins."""
    pins = size or 4000
    lib = '(symbol "Big:U" (symbol "U_1_1"\n%s))\n' % ''.join(
        '(pin passive line (at 0 %d 0) (length 2.54) (name "P%d") (number "%d"))\n' % (i, i, i) for i in range(pins))
    body = ''.join('(symbol (lib_id "Big:U") (at %d 0 0) (property "Reference" "U%d" (at 0 0 0)))\n' % (i * 50, i)
                   for i in range(2 * pins))
    return {'placement.kicad_sch': kicad(body, lib)}


def kicad_extends(_):
    """5,000 library symbols extending one of 3,000 pins (a few hundred kB): 15 million pins."""
    lib = '(symbol "Big:P" (symbol "P_1_1"\n%s))\n' % ''.join(
        '(pin passive line (at 0 %d 0) (length 2.54) (name "P%d") (number "%d"))\n' % (i, i, i) for i in range(3000))
    lib += ''.join('(symbol "Big:C%d" (extends "P"))\n' % i for i in range(5000))
    return {'extends.kicad_sch': kicad('', lib)}


def eagle_pads(_):
    """A pin connected to 20,000 pads, its part placed 1,000 times (about 200 kB)."""
    pads = ' '.join('P%d' % i for i in range(20000))
    lib = ('<library name="l"><symbols><symbol name="S"><pin name="A" x="0" y="0"/></symbol></symbols>'
           '<devicesets><deviceset name="D"><gates><gate name="G" symbol="S"/></gates><devices>'
           '<device name=""><connects><connect gate="G" pin="A" pad="%s"/></connects></device>'
           '</devices></deviceset></devicesets></library>' % pads)
    parts = ''.join('<part name="U%d" library="l" deviceset="D" device=""/>' % i for i in range(1000))
    insts = ''.join('<instance part="U%d" gate="G" x="%d" y="0"/>' % (i, i * 10) for i in range(1000))
    refs = ''.join('<pinref part="U%d" gate="G" pin="A"/>' % i for i in range(1000))
    sheet = '<sheet><instances>%s</instances><nets><net name="N"><segment>%s</segment></net></nets></sheet>' % (
        insts, refs)
    return {'pads.sch': eagle(lib, parts, sheet)}


def bus_labels(size):
    """20,000 bus labels of 1,024 members each, none touching another."""
    count = size or 20000
    body = ''.join('(label "D%d[0..1023]" (at %d %d 0) %s)\n' % (i % 7, (i % 100) * 5, (i // 100) * 5, FX)
                   for i in range(count))
    return {'bus_labels.kicad_sch': kicad(body)}


def sheet_instances(size):
    """One sub-sheet used by 2,000 sheet symbols, its symbols listing every instance path."""
    count = size or 2000
    root_uuid = '00000000-0000-0000-0000-0000000000aa'
    sheets = ''.join('(sheet (at %d 0) (size 10 10) (uuid "s%05d")\n(property "Sheetname" "S%d" (at 0 0 0) %s)\n'
                     '(property "Sheetfile" "child.kicad_sch" (at 0 0 0) %s)\n(pin "IN" input (at %d 5 180) %s))\n'
                     % (i * 20, i, i, FX, FX, i * 20, FX) for i in range(count))
    child = ''
    for k in range(4):
        paths = ''.join('(path "/%s/s%05d" (reference "R%d") (unit 1))' % (root_uuid, i, i * 4 + k)
                        for i in range(count))
        child += placed('R?', 10 + 10 * k, 10, uuid='c%d' % k, instances='(instances (project "p" %s))' % paths)
    child += '(hierarchical_label "IN" (shape input) (at 10 6.19 0) %s)\n' % FX
    return {'root.kicad_sch': kicad(sheets, uuid=root_uuid),
            'child.kicad_sch': kicad(child, two_pin_lib(), uuid='00000000-0000-0000-0000-0000000000bb')}


def slash_escapes(size):
    """A label whose text is 3 MB of {slash} escapes."""
    count = size or (3 << 20) // 7
    return {'slashes.kicad_sch': kicad('(label "%s" (at 0 0 0) %s)\n' % ('{slash}' * count, FX))}


def eagle_pins(size):
    """A part with 100,000 pins, every one referenced by a net."""
    pins = size or 100000
    sym = ''.join('<pin name="P%d" x="0" y="%d" length="point"/>' % (i, i) for i in range(pins))
    lib = ('<library name="l"><symbols><symbol name="S">%s</symbol></symbols><devicesets><deviceset name="D">'
           '<gates><gate name="G" symbol="S"/></gates><devices><device name=""/></devices></deviceset>'
           '</devicesets></library>' % sym)
    nets = ''.join('<net name="N%d"><segment><pinref part="U1" gate="G" pin="P%d"/></segment></net>' % (i, i)
                   for i in range(pins))
    sheet = ('<sheet><instances><instance part="U1" gate="G" x="0" y="0"/></instances><nets>%s</nets></sheet>'
             % nets)
    return {'pins.sch': eagle(lib, '<part name="U1" library="l" deviceset="D" device=""/>', sheet)}


def deep_hierarchy(size):
    """Sheets nested 70 levels deep, each naming the next."""
    depth = size or 70
    files = {}
    for i in range(depth + 1):
        body = placed('R%d' % i, 10, 10)
        if i < depth:
            body += ('(sheet (at 50 50) (size 10 10) (uuid "d%d") (property "Sheetname" "L%d" (at 0 0 0) %s)\n'
                     '(property "Sheetfile" "level%d.kicad_sch" (at 0 0 0) %s))\n' % (i, i + 1, FX, i + 1, FX))
        files['level%d.kicad_sch' % i] = kicad(body, two_pin_lib(), uuid='00000000-0000-0000-0000-%012d' % i)
    return files


def bom_and_blanks(_):
    """Valid designs behind a UTF-8 byte-order mark and a kilobyte of blank lines."""
    lead = '\ufeff' + '\n' * 600 + ' \t' * 100
    eagle_text = eagle('', '', '<sheet/>')
    return {'bom.kicad_sch': lead + kicad(placed('R1', 10, 10), two_pin_lib()),
            'bom.sch': '\ufeff' + ' \r\n' * 300 + eagle_text}


def bad_text(_):
    """Texts holding control characters, terminal escapes and bytes that are not UTF-8."""
    return {'bad_text.kicad_sch': kicad(
        '(label "A\x01B" (at 0 0 0) %s)\n(text "esc \x1b[31mred\x1b[0m bell \x07 nul-ish \x0b" (at 10 10 0) %s)\n'
        '(global_label "\udcff\udcfe bad" (shape input) (at 20 20 0) %s)\n' % (FX, FX, FX), two_pin_lib())}


SHAPES = {
    'far_wire': far_wire,
    'far_items': far_items,
    'far_items_eagle': far_items_eagle,
    'kicad_placement': kicad_placement,
    'kicad_extends': kicad_extends,
    'eagle_pads': eagle_pads,
    'bus_labels': bus_labels,
    'sheet_instances': sheet_instances,
    'slash_escapes': slash_escapes,
    'eagle_pins': eagle_pins,
    'deep_hierarchy': deep_hierarchy,
    'bom_and_blanks': bom_and_blanks,
    'bad_text': bad_text,
}


def write(shape, size, out):
    """Writes the shape's files into `out`; returns the root file's path (the first file)."""
    os.makedirs(out, exist_ok=True)
    files = SHAPES[shape](size)
    for name, text in files.items():
        data = text.encode('utf-8', 'surrogateescape') if isinstance(text, str) else text
        with open(os.path.join(out, name), 'wb') as f:
            f.write(data)
    return os.path.join(out, next(iter(files)))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument('--shape')
    parser.add_argument('--size', type=int, default=0)
    parser.add_argument('--out')
    parser.add_argument('--list', action='store_true')
    args = parser.parse_args()
    if args.list:
        print('\n'.join(SHAPES))
        return 0
    if args.shape not in SHAPES or not args.out:
        parser.error('--shape (one of %s) and --out are needed' % ', '.join(SHAPES))
    print(write(args.shape, args.size, args.out))
    return 0


if __name__ == '__main__':
    sys.exit(main())

#!/usr/bin/env python3
"""The benchmark generator still writes designs that open cleanly with the nets
they promise, and opening one never takes more than four times its files in memory.

    generated_design.py <netloom binary>
"""

import glob
import math
import os
import shutil
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), 'lib'))
import designs  # noqa: E402

TIME = '/usr/bin/time'


def bus_pins(cell_numbers):
    """Pins per BUS<j> net: one per eighth cell, BUS<(k // 8) % 16>."""
    pins = {}
    for k in cell_numbers:
        if k % 8 == 0:
            pins[(k // 8) % 16] = pins.get((k // 8) % 16, 0) + 1
    return pins


def expected_flat(symbols):
    """Four symbols a cell, every eighth cell on a bus: name -> (kind, pins), net count."""
    cells = symbols // 4
    buses = bus_pins(range(cells))
    return ({'VCC': ('power', 2 * cells), 'GND': ('power', 2 * cells), 'BUS0': ('signal', 2 * buses[0]),
             'N1': ('signal', 2)}, 2 + len(buses) + cells - sum(buses.values()))


def expected_amplifiers(sheets):
    """Amplifier cells; sheets: cells on each sheet instance, and whether its cell 0 takes the input
    from the sheet's hierarchical label IN. Names that repeat count once per instance."""
    cells = sum(n for n, _ in sheets)
    buses = bus_pins(k for n, hier in sheets for k in range(1 if hier else 0, n))
    inputs = sum(n - math.ceil(n / 8) for n, _ in sheets)  # IN<k> where no bus label is
    named = {'VCC': ('power', 2 * cells), 'GND': ('power', 4 * cells), 'BUS0': ('signal', buses[0]),
             'IN1': ('signal', 1), 'N1': ('signal', 2)}
    if len(sheets) == 1:  # global cell 1 is sheet cell 1
        named.update({'Net-(U2-Pad1)': ('signal', 3), 'Net-(R3-Pad1)': ('signal', 3)})
    hier = sum(1 for _, h in sheets if h)
    return named, 2 + len(buses) + hier + inputs + 3 * cells


def shapes():
    """(label, shape, size arguments, expected nets, net count, instances a local name repeats in,
    whether peak memory is checked: not on a design so small that the program itself outweighs it)."""
    cells = 5000 // 5
    per_sheet = cells // 7
    root_cells = cells - 6 * per_sheet
    return [
        ('flat 400 symbols', 'flat', ['--symbols', '400']) + expected_flat(400) + (1, False),
        # Big enough for the large-page heap preparation to take part (8 MB).
        ('flat 6000 symbols', 'flat', ['--symbols', '6000']) + expected_flat(6000) + (1, True),
        ('v6 5000 parts', 'v6', ['--parts', '5000']) + expected_amplifiers([(cells, False)]) + (1, True),
        ('hier 5000 parts', 'hier', ['--parts', '5000']) +
        expected_amplifiers([(root_cells, False)] + [(per_sheet, True)] * 6) + (7, True),
    ]


def peak_kb(netloom, path):
    r = subprocess.run([TIME, '-f', '%M', netloom, '--list-nets', path], capture_output=True)
    return int(r.stderr.decode().strip().splitlines()[-1])


def sanitized(netloom):
    with open(netloom, 'rb') as f:
        return b'__asan_init' in f.read()


def check(netloom, label, shape, size_args, expected, count, repeats, measure, tmp):
    folder = os.path.join(tmp, shape + size_args[1])
    os.makedirs(folder)
    path = os.path.join(folder, 'root.kicad_sch')
    subprocess.run([sys.executable, os.path.join(designs.REPO, 'tools', 'gen_design.py'), '--shape', shape] +
                   size_args + ['--out', path], check=True)
    r = designs.run(netloom, '--summary', path)
    warnings = [l for l in r.stdout.decode().splitlines() if l.startswith('Warning: ')]
    nets = designs.run(netloom, '--list-nets', path)
    rows = [l.split('\t') for l in nets.stdout.decode().splitlines()]
    problems = []
    if warnings:
        problems.append('load warnings: %s' % warnings[:3])
    for name, (kind, pins) in expected.items():
        found = [r for r in rows if r[0] == name]
        local = name.startswith(('IN', 'N', 'Net-'))
        if len(found) != (repeats if local else 1) or any(r[1] != kind or r[2] != '%d pins' % pins for r in found):
            problems.append('net %s: expected %s with %d pins, got %s' % (name, kind, pins, found[:2]))
    if len(rows) != count:
        problems.append('expected %d nets, got %d' % (count, len(rows)))
    files = sum(os.path.getsize(f) for f in glob.glob(os.path.join(folder, '*.kicad_sch')))
    peak = None
    if measure and shutil.which(TIME) and not sanitized(netloom):
        peak = peak_kb(netloom, path) * 1024
        if peak > 4 * files:
            problems.append('peak memory %.1f MB is more than 4 times the files (%.1f MB)' % (peak / 1e6, files / 1e6))
    for p in problems:
        print('FAIL %s: %s' % (label, p))
    if not problems:
        memory = ', peak %.2f times the files' % (peak / files) if peak else ''
        print('%s: %d nets, no warnings%s' % (label, len(rows), memory))
    return problems


def main():
    netloom = designs.netloom_binary()
    if not shutil.which(TIME):
        print('GNU time (package time) is not installed: peak memory is not checked')
    problems = []
    with tempfile.TemporaryDirectory() as tmp:
        for shape in shapes():
            problems += check(netloom, *shape, tmp)
    return 1 if problems else 0


if __name__ == '__main__':
    sys.exit(main())

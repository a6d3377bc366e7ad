#!/usr/bin/env python3
"""The benchmark generator still writes a design that opens cleanly with the nets it promises.

    generated_design.py <netloom binary>
"""

import os
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), 'lib'))
import designs  # noqa: E402


def expected_nets(symbols):
    """What the generator's rules promise: four symbols a cell, every eighth cell on BUS<(k // 8) % 16>."""
    cells = symbols // 4
    bus_cells = [k for k in range(cells) if k % 8 == 0]
    bus0 = sum(1 for k in bus_cells if (k // 8) % 16 == 0)
    buses = len({(k // 8) % 16 for k in bus_cells})
    return {'VCC': ('power', '%d pins' % (2 * cells)), 'GND': ('power', '%d pins' % (2 * cells)),
            'BUS0': ('signal', '%d pins' % (2 * bus0)), 'N1': ('signal', '2 pins')}, 2 + buses + cells - len(bus_cells)


def check(netloom, symbols, tmp):
    path = os.path.join(tmp, 'gen%d.kicad_sch' % symbols)
    subprocess.run([sys.executable, os.path.join(designs.REPO, 'tools', 'gen_design.py'), '--symbols', str(symbols),
                    '--out', path], check=True)
    r = designs.run(netloom, '--summary', path)
    warnings = [l for l in r.stdout.decode().splitlines() if l.startswith('Warning: ')]
    nets = designs.run(netloom, '--list-nets', path)
    rows = [l.split('\t') for l in nets.stdout.decode().splitlines()]
    by_name = {r[0]: r for r in rows}
    problems = []
    if warnings:
        problems.append('load warnings: %s' % warnings[:3])
    expected, count = expected_nets(symbols)
    for name, (kind, pins) in expected.items():
        row = by_name.get(name)
        if not row or row[1] != kind or row[2] != pins:
            problems.append('net %s: expected %s with %s, got %s' % (name, kind, pins, row))
    if len(rows) != count:
        problems.append('expected %d nets, got %d' % (count, len(rows)))
    for p in problems:
        print('FAIL %d symbols: %s' % (symbols, p))
    if not problems:
        print('generated design of %d symbols: %d nets, no warnings' % (symbols, len(rows)))
    return problems


def main():
    netloom = designs.netloom_binary()
    problems = []
    with tempfile.TemporaryDirectory() as tmp:
        # The larger file (8 MB) is big enough for the large-page heap preparation to take part.
        for symbols in (400, 6000):
            problems += check(netloom, symbols, tmp)
    return 1 if problems else 0


if __name__ == '__main__':
    sys.exit(main())

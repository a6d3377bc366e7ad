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


def main():
    netloom = designs.netloom_binary()
    symbols = 400  # 100 cells: BUS0..BUS12 and 87 local nets
    with tempfile.TemporaryDirectory() as tmp:
        path = os.path.join(tmp, 'gen.kicad_sch')
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
    expected = {'VCC': ('power', '200 pins'), 'GND': ('power', '200 pins'), 'BUS0': ('signal', '2 pins'),
                'N1': ('signal', '2 pins')}
    for name, (kind, pins) in expected.items():
        row = by_name.get(name)
        if not row or row[1] != kind or row[2] != pins:
            problems.append('net %s: expected %s with %s, got %s' % (name, kind, pins, row))
    if len(rows) != 2 + 13 + 87:
        problems.append('expected 102 nets, got %d' % len(rows))
    for p in problems:
        print('FAIL ' + p)
    if not problems:
        print('generated design: %d nets, no warnings' % len(rows))
    return 1 if problems else 0


if __name__ == '__main__':
    sys.exit(main())

#!/usr/bin/env python3
"""Every Eagle design of the shared corpus against its own board file: one row of
figures per design, a failure on any merged or split net. Every other headless
command is run on each design too and must end normally (status 0 or 1, no
signal, no hang). Exit 77 when the corpus or the oracle is absent.

    oracle_eagle.py <netloom binary>
"""

import os
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), 'lib'))
import designs  # noqa: E402


def check_commands(netloom, name, sch, failures):
    with tempfile.TemporaryDirectory() as tmp:
        for args in (['--summary'], ['--list-components'], ['--list-nets'], ['--component', 'R1'], ['--net', 'GND'],
                     ['--trace', 'R1.1', 'GND'], ['--erc'], ['--bom'], ['--netlist'],
                     ['--svg', os.path.join(tmp, 'sheet.svg')]):
            try:
                r = designs.run(netloom, args[0], sch, *args[1:])
            except subprocess.TimeoutExpired:
                failures.append('%s: %s did not finish' % (name, args[0]))
                continue
            if r.returncode not in (0, 1):
                failures.append('%s: %s ended with status %d' % (name, args[0], r.returncode))


def main():
    netloom = designs.netloom_binary()
    if not os.path.isdir(designs.EAGLE_CORPUS) or not os.path.isfile(designs.ORACLE):
        print('skipped: no Eagle corpus or oracle under %s' % designs.SHARED)
        return 77
    rows, failures = [], []
    for name, sch, brd in designs.eagle_designs():
        check_commands(netloom, name, sch, failures)
        try:
            dump, res, ms = designs.compare_with_board(netloom, sch, brd)
        except designs.Failure as e:
            failures.append('%s: %s' % (name, e))
            continue
        rows.append((name, len(dump.get('components') or []), len(dump.get('nets') or []), res['shared_pairs'],
                     '%.1f' % res['overlap_pct'], '%d/%d' % (res['matched_nets'], res['compared_nets']),
                     len(res['merged']), len(res['split']), '%.0f' % ms))
        for m in res['merged']:
            failures.append('%s: dump net %s joins board nets %s'
                            % (name, m['dump_net'], ', '.join(b['net'] for b in m['board_nets'])))
        for s in res['split']:
            failures.append('%s: board net %s is split over %s'
                            % (name, s['board_net'], ', '.join(d['net'] for d in s['dump_nets'])))
    if rows:
        designs.print_table(('design', 'comps', 'nets', 'pairs', 'overlap%', 'matched', 'merged', 'split', 'ms'), rows)
    for f in failures:
        print('FAIL ' + f)
    if failures:
        return 1
    if not rows:
        print('skipped: no design could be compared')
        return 77
    return 0


if __name__ == '__main__':
    sys.exit(main())

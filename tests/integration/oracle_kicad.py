#!/usr/bin/env python3
"""Real KiCad designs against their boards.

    oracle_kicad.py <netloom binary>

1. Every root schematic under /usr/share/kicad/demos and in ../shared/corpus/kicad
   must open: `netloom --list-nets` exits with 0 and prints no error.
2. Every such design that has a board file is dumped with `netloom --json` and
   measured by board_oracle.py against the board. A design fails when any dump
   net joins two board nets (merged), when a board net is spread over several
   dump nets (split), or when less than 90% of the board's pad pairs are found in
   the dump (custom_pads_test is exempt: its board has pads that no symbol has;
   so is royalblue54L_feather: each pad's teardrop list in its board closes one
   parenthesis too many, which ends its footprint early, so the oracle reads
   only part of the pads).

Prints a table of the figures; exit 77 when neither design location exists.
"""

import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), 'lib'))
import designs  # noqa: E402

OVERLAP_EXEMPT = {'custom_pads_test', 'royalblue54L_feather'}
MIN_OVERLAP = 90.0


def main():
    netloom = designs.netloom_binary()
    if not any(os.path.isdir(p) for p in (designs.DEMOS, designs.KICAD_CORPUS)):
        print('skipped: neither %s nor %s exists' % (designs.DEMOS, designs.KICAD_CORPUS))
        return 77
    found = designs.kicad_designs()
    failures = []
    for name, sch, _ in found:
        r = designs.run(netloom, '--list-nets', sch)
        if r.returncode != 0 or r.stderr:
            failures.append('%s: does not open: %s' % (name, designs.text(r.stderr)))

    rows = []
    if not os.path.isfile(designs.ORACLE):
        print('oracle part skipped: %s is missing' % designs.ORACLE)
    for name, sch, pcb in found if os.path.isfile(designs.ORACLE) else []:
        if not pcb:
            continue
        try:
            _, r, _ = designs.compare_with_board(netloom, sch, pcb)
        except designs.Failure as e:
            failures.append('%s: %s' % (name, e))
            continue
        rows.append((name, '%d/%d' % (r['matched_nets'], r['compared_nets']), '%.1f%%' % r['match_pct'],
                     len(r['merged']), len(r['split']), '%.1f%%' % r['overlap_pct']))
        if r['merged']:
            failures.append('%s: %d merged net(s)' % (name, len(r['merged'])))
        if r['split']:
            failures.append('%s: %d split net(s)' % (name, len(r['split'])))
        if r['overlap_pct'] < MIN_OVERLAP and name.split('/')[-1] not in OVERLAP_EXEMPT:
            failures.append('%s: overlap %.1f%% is below %.0f%%' % (name, r['overlap_pct'], MIN_OVERLAP))
    if rows:
        designs.print_table(('design', 'matched', 'match%', 'merged', 'split', 'overlap'), rows)
    print('%d designs opened, %d compared with their boards' % (len(found), len(rows)))
    for f in failures:
        print('FAIL ' + f)
    return 1 if failures else 0


if __name__ == '__main__':
    sys.exit(main())

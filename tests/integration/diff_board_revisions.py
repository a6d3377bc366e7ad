#!/usr/bin/env python3
"""`netloom --diff-json` between two real revisions, against their boards.

    diff_board_revisions.py <netloom binary>

KiCad's demos ecc83-pp and ecc83-pp_v2 are two revisions of one amplifier, each
with its board. The pads of both boards (read by board_oracle.py: reference and
pad number -> net) give the expected differences, worked out here from the
boards alone: parts added, removed, or changed in value or footprint name (the
board's library nickname is its own), and nets linked, split, merged, changed,
added or removed by the same pin rules as the schematic comparison. Net names
are left out of the match: a board names unlabelled nets by its own scheme, so
renames are not compared. netloom's report, restricted to components present
on both boards, must hold exactly those differences.

Exit 77 when the demos or ../shared/tools/board_oracle.py are missing.
"""

import collections
import json
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), 'lib'))
import designs  # noqa: E402

FOLDER = os.path.join(designs.DEMOS, 'ecc83')
REVISIONS = ('ecc83-pp', 'ecc83-pp_v2')


def board_parts(oracle, path):
    """reference -> (value, footprint name without its library)."""
    with open(path, encoding='utf-8') as f:
        root = oracle.parse_sexpr(f.read())[0]
    parts = {}
    for fp in oracle._lists(root, 'footprint'):
        props = {str(p[1]): str(p[2]) for p in oracle._lists(fp, 'property') if len(p) >= 3}
        parts[props.get('Reference', '')] = (props.get('Value', ''), str(fp[1]).split(':')[-1])
    return parts


def expected_nets(old, new):
    """The net differences of two pad maps, each item without names: (category, pins...)."""
    common = {r for r, _ in old} & {r for r, _ in new}

    def nets(pads):
        by_net = collections.defaultdict(set)
        for key, net in pads.items():
            if net:  # a pad on no net is unconnected
                by_net[net].add(key)
        return {n: keys for n, keys in by_net.items() if len(keys) >= 2}

    before, after = nets(old), nets(new)
    at_old = {k: n for n, keys in before.items() for k in keys}
    at_new = {k: n for n, keys in after.items() for k in keys}
    links = collections.defaultdict(set)
    for key, o in at_old.items():
        if key[0] in common and key in at_new:
            links[(o, at_new[key])].add(key)
    partners = collections.Counter(o for o, _ in links)
    feeders = collections.Counter(n for _, n in links)

    def left(o):  # pins of common parts that left old net o for no net
        return frozenset(k for k in before[o] if k[0] in common and k not in at_new)

    def joined(n):
        return frozenset(k for k in after[n] if k[0] in common and k not in at_old)

    items = collections.Counter()
    for o in before:
        if partners[o] == 0:
            items[('removed', frozenset(before[o]))] += 1
        elif partners[o] > 1:
            items[('split', left(o), frozenset((frozenset(ks), joined(n) if feeders[n] == 1 else frozenset())
                                               for (oo, n), ks in links.items() if oo == o))] += 1
    for n in after:
        if feeders[n] == 0:
            items[('added', frozenset(after[n]))] += 1
        elif feeders[n] > 1:
            items[('merged', joined(n), frozenset((frozenset(ks), left(o) if partners[o] == 1 else frozenset())
                                                  for (o, nn), ks in links.items() if nn == n))] += 1
    for (o, n) in links:
        if partners[o] == 1 and feeders[n] == 1 and (joined(n) or left(o)):
            items[('changed', joined(n), left(o))] += 1
    return items


def reported_nets(report, keep):
    """The same items from netloom's JSON, pins limited to the references in `keep`."""
    def pins(items):
        return frozenset((p['ref'], p['pin']) for p in items if p['ref'] in keep)

    def parts(entry, moved):
        return frozenset((pins(p['pins']), pins(p[moved])) for p in entry if pins(p['pins']))

    nets, items = report['nets'], collections.Counter()
    for c in nets['changed']:
        items[('changed', pins(c['joined']), pins(c['left']))] += 1
    for s in nets['split']:
        items[('split', pins(s['left']), parts(s['into'], 'joined'))] += 1
    for m in nets['merged']:
        items[('merged', pins(m['joined']), parts(m['from'], 'left'))] += 1
    for kind in ('added', 'removed'):
        for n in nets[kind]:
            items[(kind, pins(n['pins']))] += 1
    return +collections.Counter({k: v for k, v in items.items() if any(k[1:])})


def main():
    netloom = designs.netloom_binary()
    paths = [os.path.join(FOLDER, r) for r in REVISIONS]
    if not all(os.path.isfile(p + ext) for p in paths for ext in ('.kicad_sch', '.kicad_pcb')):
        print('skipped: the ecc83 demos are not in %s' % FOLDER)
        return 77
    if not os.path.isfile(designs.ORACLE):
        print('skipped: %s is missing' % designs.ORACLE)
        return 77
    sys.path.insert(0, os.path.dirname(designs.ORACLE))
    import board_oracle  # noqa: E402

    boards = [board_oracle.read_board(p + '.kicad_pcb').pins for p in paths]
    parts = [board_parts(board_oracle, p + '.kicad_pcb') for p in paths]
    r = designs.run(netloom, '--diff-json', paths[0] + '.kicad_sch', paths[1] + '.kicad_sch')
    failures = []
    if r.returncode != 1 or r.stderr:
        failures.append('exit status %d (expected 1): %s' % (r.returncode, designs.text(r.stderr)))
    report = json.loads(r.stdout)
    on_both = set(parts[0]) & set(parts[1])

    want = expected_nets(*boards)
    got = reported_nets(report, on_both)
    for item in sorted(set(want) | set(got), key=repr):
        if want[item] != got[item]:
            failures.append('net difference expected %d time(s), reported %d: %r' % (want[item], got[item], item))

    comps = report['components']
    for kind, refs in (('added', set(parts[1]) - set(parts[0])), ('removed', set(parts[0]) - set(parts[1]))):
        reported = {c['ref'] for c in comps[kind]} & (set(parts[0]) | set(parts[1]))
        if reported != refs:
            failures.append('components %s: expected %s, reported %s' % (kind, sorted(refs), sorted(reported)))
    want_fields = {(ref, field) for ref in on_both for field, i in (('value', 0), ('footprint', 1))
                   if parts[0][ref][i] != parts[1][ref][i]}
    got_fields = set()
    for c in comps['changed']:
        for field, change in c['changes'].items():
            if c['ref'] in on_both and field == 'value':
                got_fields.add((c['ref'], field))
            elif c['ref'] in on_both and field == 'footprint' and \
                    change['old'].split(':')[-1] != change['new'].split(':')[-1]:
                got_fields.add((c['ref'], field))
    if want_fields != got_fields:
        failures.append('changed fields: expected %s, reported %s' % (sorted(want_fields), sorted(got_fields)))

    print('%s -> %s: %d net differences and %d changed fields, as on the boards'
          % (REVISIONS[0], REVISIONS[1], sum(want.values()), len(want_fields)) if not failures else 'FAILED')
    for f in failures:
        print('FAIL ' + f)
    return 1 if failures else 0


if __name__ == '__main__':
    sys.exit(main())

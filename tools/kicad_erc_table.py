#!/usr/bin/env python3
"""Builds tests/integration/erc_expected.json from KiCad's own rule check.

    kicad_erc_table.py [--out FILE] [--raw DIR]

For every KiCad demo and corpus design and the rule check's own fixtures
(tests/integration/lib/designs.py), the
design's schematic files are copied to a temporary folder with every rule
switched on and no exclusions (designs.copy_design), and
`kicad-cli sch erc` runs on the copy. The reports of the rules our check has
counterparts for are kept as [x mm, y mm, ...] under their sheet file and
rule: the positions of its items (KiCad writes positions in units of 100 mm),
a wire's as its two ends. The sheet file is the one holding the first item;
an item on another file has that file's name before its position. Of
KiCad's pin-type matrix (`pin_to_pin`) only the combinations our check knows
are kept: output with output, power output with power output.

Where the design's own project settings (ignored rules, exclusions) hide some
of those reports, "own" holds what KiCad reports with them.

A design is keyed by its name and a fingerprint of its schematic files, so a
machine with other versions of the demos skips them instead of failing. The
"differences" of each design (reports kept on one side only, with the reason)
are written by hand; a rebuild keeps them.
"""

import argparse
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', 'tests', 'integration', 'lib'))
import designs  # noqa: E402

TABLE = os.path.join(designs.REPO, 'tests', 'integration', 'erc_expected.json')

PIN_CONFLICTS = {'Pins of type Output and Output are connected',
                 'Pins of type Power output and Power output are connected'}


UUID = re.compile(r'\(uuid\s+"?([0-9A-Fa-f-]{36})"?\s*\)')
WIRE = re.compile(r'\(wire\s*\(pts\s*\(xy\s+(\S+)\s+(\S+)\)\s*\(xy\s+(\S+)\s+(\S+)\)\s*\).*?'
                  r'\(uuid\s+"?([0-9A-Fa-f-]{36})"?\s*\)', re.S)


def items_by_uuid(root):
    """{uuid: sheet file} for every item of the design's files, and {uuid: (x1, y1, x2, y2)} for its wires."""
    files, wires = {}, {}
    for file in {f for files in designs.sheet_files(root).values() for f in files}:
        try:
            with open(os.path.join(os.path.dirname(root), file), encoding='utf-8') as f:
                text = f.read()
        except OSError:
            continue
        for uuid in UUID.findall(text):
            files.setdefault(uuid, file)
        for x1, y1, x2, y2, uuid in WIRE.findall(text):
            wires[uuid] = [float(x1), float(y1), float(x2), float(y2)]
    return files, wires


def kicad_reports(root, every_rule, raw_dir=None):
    stem = os.path.splitext(os.path.basename(root))[0]
    with tempfile.TemporaryDirectory(prefix='netloom_erc_') as tmp:
        copy = designs.copy_design(root, tmp, every_rule)
        out = os.path.join(tmp, 'erc.json')
        subprocess.run(['kicad-cli', 'sch', 'erc', '--format', 'json', '--severity-all', '-o', out, copy],
                       check=True, capture_output=True, timeout=600)
        with open(out, encoding='utf-8') as f:
            report = json.load(f)
    if raw_dir:
        with open(os.path.join(raw_dir, stem + ('' if every_rule else '.own') + '.json'), 'w', encoding='utf-8') as f:
            json.dump(report, f, indent=1)
    files, found = designs.sheet_files(root), {}
    file_of, wires = items_by_uuid(root)
    for sheet in report['sheets']:
        for v in sheet['violations']:
            if v['type'] not in designs.ERC_RULES or not v['items'] or v.get('excluded'):
                continue
            if v['type'] == 'pin_to_pin' and v['description'] not in PIN_CONFLICTS:
                continue
            # KiCad files a report under the root unless it belongs to one sheet
            # instance; the file holding its first item is where it is.
            file = file_of.get(v['items'][0].get('uuid'))
            if file is None:
                file = files.get(([p for p in sheet['path'].split('/') if p] or ['Root'])[-1], ['?'])[0]
            row = []
            for item in v['items']:
                if file_of.get(item.get('uuid'), file) != file:
                    row.append(file_of[item['uuid']])
                # A wire stands at its start; which end is open, the report does not say.
                row += [round(c, 2) for c in wires.get(item.get('uuid'))
                        or [item['pos']['x'] * 100, item['pos']['y'] * 100]]
            found.setdefault(file, {}).setdefault(v['type'], []).append(row)
    for rules in found.values():
        for rows in rules.values():
            rows.sort(key=json.dumps)
    return found


def write_table(path, table):
    """One report per line, so that a rebuild shows as a readable diff."""
    def block(value, indent):
        pad = ' ' * indent
        if isinstance(value, dict):
            if not value:
                return '{}'
            return '{\n' + ',\n'.join('%s  %s: %s' % (pad, json.dumps(k), block(value[k], indent + 2))
                                       for k in sorted(value)) + '\n' + pad + '}'
        if isinstance(value, list) and value and isinstance(value[0], (list, dict)):
            return '[\n' + ',\n'.join(pad + '  ' + json.dumps(v, ensure_ascii=False) for v in value) + '\n' + pad + ']'
        return json.dumps(value, ensure_ascii=False)
    with open(path, 'w', encoding='utf-8') as f:
        f.write(block(table, 0) + '\n')


def main():
    parser = argparse.ArgumentParser(description=__doc__.split('\n')[0])
    parser.add_argument('--out', default=TABLE)
    parser.add_argument('--raw', help='also keep each design\'s full kicad-cli report in this folder')
    args = parser.parse_args()
    if not shutil.which('kicad-cli'):
        sys.exit('kicad-cli is not installed')
    old = {}
    if os.path.isfile(args.out):
        with open(args.out, encoding='utf-8') as f:
            old = json.load(f)
    table = {}
    for name, root, _ in designs.kicad_designs() + designs.erc_fixture_designs():
        print(name, file=sys.stderr)
        prior = old.get(name, {})
        table[name] = {'fingerprint': designs.fingerprint(root), 'differences': prior.get('differences', []),
                       'kicad': kicad_reports(root, True, args.raw)}
        own = kicad_reports(root, False, args.raw)
        if own != table[name]['kicad']:
            table[name]['own'] = own
    write_table(args.out, table)


if __name__ == '__main__':
    main()

#!/usr/bin/env python3
"""The rule check against KiCad's own on every KiCad demo and corpus design,
and on the rule check's own fixtures (tests/fixtures/kicad/erc).

    erc_against_kicad.py <netloom binary> [design name ...]

erc_expected.json (beside this script, built by tools/kicad_erc_table.py)
holds per design what `kicad-cli sch erc` reports with every rule switched on,
as positions per sheet file and KiCad rule, and the differences we keep, each
with its reason. A design the table does not know, or knows with other file
contents (another version of the demos), is skipped; a fixture must be known.

1. On a copy of the design with every rule switched on, `--erc` and the
   assistant's run_erc (through `--ask` against a scripted chat server) list
   the same issues, and every issue lies where KiCad reports one of its rules
   on the same sheet file, and every KiCad report has such an issue, but for
   the listed differences.
2. On the design as it is, with its project's own settings, `--erc` shows a
   part of step 1's issues and says how many it hid; shown and hidden add up
   to step 1's total, run_erc shows the same and carries the same count, and
   what is shown agrees with what KiCad shows with those settings.

Exit 77 when no design could be compared.
"""

import json
import os
import re
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, 'lib'))
import designs  # noqa: E402

TABLE = os.path.join(HERE, 'erc_expected.json')
SERVER = os.path.join(HERE, '..', 'fixtures', 'fake_chat_server.py')

# The KiCad rules behind each of our codes.
LABEL_RULES = {'label_dangling', 'global_label_dangling'}
CODE_RULES = {
    'WIRE_DANGLING': {'unconnected_wire_endpoint', 'wire_dangling'},
    'PIN_UNCONNECTED': {'pin_not_connected'},
    'NET_SINGLE_PIN': {'pin_not_connected'},
    'POWER_SYMBOL_FLOATING': {'pin_not_connected'},
    'NC_CONNECTED': {'no_connect_connected'},
    'POWER_NOT_DRIVEN': {'power_pin_not_driven'},
    'INPUT_NOT_DRIVEN': {'pin_not_driven'},
    'OUTPUT_CONFLICT': {'pin_to_pin'},
    'POWER_OUT_CONFLICT': {'pin_to_pin'},
    'LABEL_FLOATING': LABEL_RULES,
    'LABEL_SINGLE': LABEL_RULES,
    'SHEET_PIN_UNMATCHED': {'hier_label_mismatch'},
    'HIER_LABEL_UNMATCHED': {'hier_label_mismatch'},
    'NET_NAME_CASE': {'similar_labels', 'similar_power', 'similar_label_and_power'},
    'NET_NAME_CONFLICT': {'multiple_net_names'},
    'REF_DUPLICATE': {'duplicate_reference'},
    'REF_UNANNOTATED': {'unannotated'},
}
HIDDEN = re.compile(r"^(\d+) issue\(s\) hidden by the project's ERC settings \((.+\.kicad_pro)\)\.$")


def cell(x, y):
    """Positions in hundredths of a millimetre; KiCad and we may round a last digit apart."""
    return round(float(x) * 100), round(float(y) * 100)


def near(a, b):
    """Two (file, x, y) points, or two (x, y)."""
    return a[:-2] == b[:-2] and abs(a[-2] - b[-2]) <= 1 and abs(a[-1] - b[-1]) <= 1


def erc_text(netloom, sch):
    """(issue lines, the count line, the hidden line or None) of --erc."""
    r = designs.run(netloom, '--erc', sch, timeout=600)
    lines = r.stdout.decode('utf-8').split('\n')
    if r.stderr or r.returncode not in (0, 1) or '' not in lines:
        raise designs.Failure('--erc exited %d: %s' % (r.returncode, designs.text(r.stderr)))
    blank = lines.index('')
    tail = [l for l in lines[blank + 1:] if l]
    return lines[:blank], tail[0], tail[1] if len(tail) > 1 else None


def run_erc_tool(netloom, sch):
    """The result of the assistant's run_erc (severity info) on `sch`, as the model receives it."""
    def reply(message):
        return {'body': {'id': 'c', 'choices': [{'index': 0, 'message': message, 'finish_reason': 'stop'}]}}

    call = {'id': 'call_1', 'type': 'function', 'function': {'name': 'run_erc', 'arguments': '{"severity": "info"}'}}
    with tempfile.TemporaryDirectory(prefix='netloom_erc_ask_') as tmp:
        path = lambda name: os.path.join(tmp, name)  # noqa: E731
        with open(path('script.json'), 'w', encoding='utf-8') as f:
            json.dump([reply({'role': 'assistant', 'content': None, 'tool_calls': [call]}),
                       reply({'role': 'assistant', 'content': 'done'})], f)
        server = subprocess.Popen([sys.executable, SERVER, '--script', path('script.json'), '--record',
                                   path('requests.json'), '--port-file', path('port'), '--lifetime', '600'])
        try:
            for _ in range(1000):
                if os.path.exists(path('port')):
                    break
                time.sleep(0.02)
            with open(path('port'), encoding='utf-8') as f:
                base_url = 'http://127.0.0.1:%d/v1' % int(f.read())
            with open(path('settings.json'), 'w', encoding='utf-8') as f:
                json.dump({'ai': {'base_url': base_url, 'api_key': '', 'model': 'test', 'timeout_sec': 600}}, f)
            r = subprocess.run([netloom, '--ask', sch, 'Check this design.'], capture_output=True, timeout=600,
                               env=dict(os.environ, NETLOOM_SETTINGS=path('settings.json')))
            if r.returncode != 0:
                raise designs.Failure('--ask exited %d: %s' % (r.returncode, designs.text(r.stderr)))
            with open(path('requests.json'), encoding='utf-8') as f:
                messages = json.load(f)[-1]['json']['messages']
        finally:
            server.kill()
            server.wait()
    return json.loads([m for m in messages if m.get('role') == 'tool'][-1]['content'])


def listing(result):
    return ['[%s] %s  %s  (sheet %s)' % (i['severity'], i['code'], i['message'], i['sheet']) for i in result['issues']]


# Rules KiCad reports per pair of items where we report per net or name group.
PAIRWISE = {'pin_to_pin', 'similar_labels', 'similar_power', 'similar_label_and_power', 'multiple_net_names'}


def kicad_reports(expected):
    """KiCad's reports as [file, rule, positions, pairwise]; the pairwise reports
    of one rule that share an item are merged into one."""
    out = []
    for file, rules in expected.items():
        for rule, reports in rules.items():
            merged = []
            for report in reports:
                points, on, i = set(), file, 0
                while i < len(report):
                    if isinstance(report[i], str):  # the next item lies on this file
                        on, i = report[i], i + 1
                        continue
                    points.add((on,) + cell(report[i], report[i + 1]))
                    i += 2
                if rule in PAIRWISE:
                    touching = [g for g in merged if any(near(p, q) for p in points for q in g)]
                    for g in touching:
                        points |= g
                        merged.remove(g)
                merged.append(points)
            out += [(file, rule, g, rule in PAIRWISE) for g in merged]
    return out


def compare(issues, expected, files, differences):
    """(agreeing KiCad reports, unexplained lines, listed differences that did not occur).

    An issue agrees with a KiCad report of one of its rules on the same sheet
    file that names an item at its position; each KiCad report answers for one
    issue, a merged pairwise report for any number."""
    reports = kicad_reports(expected)
    candidates = []
    for issue in issues:
        at = [(f,) + cell(*issue['at_mm']) for f in files.get(issue['sheet'], ())]
        candidates.append([k for k, (_, rule, points, _) in enumerate(reports)
                           if rule in CODE_RULES.get(issue['code'], ()) and any(near(a, p) for a in at for p in points)])
    owner = {}  # report -> issue, for one-to-one reports

    def assign(i, seen):
        for k in candidates[i]:
            if reports[k][3] or k in seen:
                continue
            seen.add(k)
            if k not in owner or assign(owner[k], seen):
                owner[k] = i
                return True
        return False

    agreed, ours_only = set(), []
    for i, issue in enumerate(issues):
        pairwise = [k for k in candidates[i] if reports[k][3]]
        if pairwise:
            agreed.update(pairwise)
        elif not assign(i, set()):
            ours_only.append((issue['code'], '|'.join(files.get(issue['sheet'], ['?'])), cell(*issue['at_mm']),
                              issue['message']))
    agreed.update(owner)

    def listed(side, name, points):
        return next((d for d in differences if d.get(side) == name
                     and any(near((d['file'],) + cell(*d['at']), p) for p in points)), None)

    unexplained, used = [], []
    for code, file, at, message in ours_only:
        d = listed('ours', code, [(f,) + at for f in file.split('|')])
        if d:
            used.append(d)
        else:
            unexplained.append('only ours: %s on %s at (%.2f, %.2f): %s' % (code, file, at[0] / 100, at[1] / 100,
                                                                            message))
    for k, (file, rule, points, _) in enumerate(reports):
        if k in agreed:
            continue
        d = listed('kicad', rule, points)
        if d:
            used.append(d)
        else:
            on, x, y = sorted(points)[0]
            unexplained.append('only KiCad: %s on %s at (%.2f, %.2f)' % (rule, on, x / 100, y / 100))
    stale = [d for d in differences if not any(d is u for u in used)]
    return len(agreed), unexplained, stale


def check_design(netloom, name, sch, entry):
    """(table row, failure lines, notes)."""
    failures, notes = [], []
    files = designs.sheet_files(sch)
    with tempfile.TemporaryDirectory(prefix='netloom_erc_all_') as tmp:
        copy = designs.copy_design(sch, tmp, every_rule=True)
        lines, counts, hidden = erc_text(netloom, copy)
        result = run_erc_tool(netloom, copy)
    if listing(result) != lines:
        failures.append('with every rule on, run_erc and --erc list different issues')
    if hidden is not None or result['hidden_count'] != 0:
        failures.append('with every rule on, something was hidden: %s' % hidden)
    agreed, unexplained, stale = compare(result['issues'], entry['kicad'], files, entry['differences'])
    failures += unexplained
    notes += ['listed difference did not occur: %s' % json.dumps(d) for d in stale]

    own_lines, own_counts, own_hidden = erc_text(netloom, sch)
    own = run_erc_tool(netloom, sch)
    m = HIDDEN.match(own_hidden or '')
    hidden_count = int(m.group(1)) if m else 0
    if own_hidden is not None and not m:
        failures.append('unexpected line after the counts: %r' % own_hidden)
    if listing(own) != own_lines or own['hidden_count'] != hidden_count:
        failures.append('with the project\'s settings, run_erc and --erc differ')
    if len(own_lines) + hidden_count != len(lines) or any(l not in lines for l in own_lines):
        failures.append('with the project\'s settings, %d shown + %d hidden is not the %d issues with every rule on'
                        % (len(own_lines), hidden_count, len(lines)))
    # What KiCad shows with the project's settings, where they hide anything.
    _, unexplained_own, _ = compare(own['issues'], entry.get('own', entry['kicad']), files, entry['differences'])
    failures += ['with the project\'s settings, ' + u for u in unexplained_own]
    return (name, len(lines), len(kicad_reports(entry['kicad'])), agreed, len(entry['differences']) - len(stale), len(unexplained),
            hidden_count), failures, notes


def main():
    netloom = os.path.abspath(designs.netloom_binary())
    only = set(sys.argv[2:])
    with open(TABLE, encoding='utf-8') as f:
        table = json.load(f)
    rows, failures = [], []
    fixtures = designs.erc_fixture_designs()
    for name, sch, _ in designs.kicad_designs() + fixtures:
        if only and name not in only:
            continue
        entry = table.get(name)
        if entry is None or entry['fingerprint'] != designs.fingerprint(sch):
            why = 'not in the table' if entry is None else 'other file contents'
            if (name, sch, None) in fixtures:  # ours: the table must follow them
                failures.append('%s: %s; rebuild it with tools/kicad_erc_table.py' % (name, why))
            else:
                print('skipped %s: %s' % (name, why))
            continue
        try:
            row, problems, notes = check_design(netloom, name, sch, entry)
        except (designs.Failure, subprocess.TimeoutExpired, ValueError, KeyError, IndexError) as e:
            failures.append('%s: %s' % (name, e))
            continue
        rows.append(row)
        failures += ['%s: %s' % (name, p) for p in problems]
        for n in notes:
            print('note %s: %s' % (name, n))
    if not rows:
        print('skipped: no design of the table is installed')
        return 77
    rows.append(['total'] + [sum(r[i] for r in rows) for i in range(1, len(rows[0]))])
    designs.print_table(('design', 'ours', 'kicad', 'agreeing', 'kept differences', 'unexplained', 'hidden'), rows)
    print('%d designs compared' % (len(rows) - 1))
    for f in failures:
        print('FAIL ' + f)
    return 1 if failures else 0


if __name__ == '__main__':
    sys.exit(main())

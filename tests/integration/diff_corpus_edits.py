#!/usr/bin/env python3
"""`netloom --diff` on every corpus design: against itself and against an edited copy.

    diff_corpus_edits.py <netloom binary>

For every KiCad and Eagle design in ../shared/corpus:

1. The design against itself exits with 0 and prints only "No electrical differences.".
2. A copy of its folder gets three edits: one part's value, one label's text
   (with the labels of that text on its sheet; Eagle: the net's name, which its
   labels show) and one wire that brings a pin
   to its net (Eagle: the pinref that records it). Each edit is tried on the
   copy's --json dump before it is kept: it must do exactly that and nothing else
   (one value; one net's name with every net's pins unchanged; one pin off a net
   of three or more, every other net unchanged). `--diff-json` must then report
   exactly three differences: the changed value, the renamed net and the net the
   pin left. Sheets used more than once are not edited (one edit would count twice).

Exit 77 when the corpus is missing.
"""

import collections
import json
import os
import re
import shutil
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), 'lib'))
import designs  # noqa: E402

SUFFIX = '_EDITED'


def top_items(text):
    """(start, end) of every item directly inside the file's root list."""
    items, depth, start, i = [], 0, 0, 0
    while i < len(text):
        c = text[i]
        if c == '"':
            i += 1
            while i < len(text) and text[i] != '"':
                i += 2 if text[i] == '\\' else 1
        elif c == '(':
            depth += 1
            if depth == 2:
                start = i
        elif c == ')':
            if depth == 2:
                items.append((start, i + 1))
            depth -= 1
        i += 1
    return items


class Dump:
    """What a --json dump says about parts (reference -> values) and nets (non-power pins)."""

    def __init__(self, netloom, path):
        r = designs.run(netloom, '--json', path)
        self.ok = r.returncode == 0
        data = json.loads(r.stdout) if self.ok else {'components': [], 'nets': []}
        self.values = collections.defaultdict(list)
        for c in data['components']:
            if not c.get('power_symbol'):
                self.values[c['ref']].append(c['value'])
        self.nets = [(n['name'], n['name_source'], frozenset((p['ref'], p['pin']) for p in n['pins']
                                                            if not p.get('power_symbol')))
                     for n in data['nets'] if not n.get('bus')]
        self.sheet_files = collections.Counter(s['file'] for s in data.get('sheets', []))

    def partition(self):
        return collections.Counter(pins for _, _, pins in self.nets if len(pins) >= 2)


def value_edit(before, after):
    """The (ref, old, new) of the one part whose value the edit changed, else None."""
    changed = [r for r in set(before.values) | set(after.values) if before.values[r] != after.values[r]]
    if len(changed) != 1 or len(before.values[changed[0]]) != 1 or len(after.values[changed[0]]) != 1:
        return None
    if before.partition() != after.partition():
        return None
    return changed[0], before.values[changed[0]][0], after.values[changed[0]][0]


def rename_edit(before, after, name):
    """The renamed net's pins when the edit renamed exactly `name` and moved no pin."""
    if before.partition() != after.partition() or before.values != after.values:
        return None
    old = collections.Counter((n, p) for n, _, p in before.nets) - collections.Counter((n, p) for n, _, p in after.nets)
    new = collections.Counter((n, p) for n, _, p in after.nets) - collections.Counter((n, p) for n, _, p in before.nets)
    if len(old) != 1 or len(new) != 1:
        return None
    (o, pins), (n, pins2) = next(iter(old)), next(iter(new))
    sources = {s for nn, s, p in before.nets if nn == o and p == pins}
    if o != name or n != name + SUFFIX or pins != pins2 or len(pins) < 2 or sources & {'auto', 'power'}:
        return None
    return pins


def cut_edit(before, after, keep):
    """(pin, old pins) when exactly one pin left a net of 3+ pins other than `keep`, else None."""
    lost = before.partition() - after.partition()
    gained = after.partition() - before.partition()
    if len(lost) != 1 or len(gained) != 1 or before.values != after.values:
        return None
    old, new = next(iter(lost)), next(iter(gained))
    if len(old) < 3 or old == keep or not new < old or len(old - new) != 1:
        return None
    return next(iter(old - new)), old


class Copy:
    """The design's folder in a temporary directory, edited one trial at a time."""

    def __init__(self, netloom, sch):
        self.netloom = netloom
        self.dir = tempfile.mkdtemp(prefix='netloom_diff_')
        folder = os.path.join(self.dir, 'design')
        shutil.copytree(os.path.dirname(sch), folder)
        self.root = os.path.join(folder, os.path.basename(sch))
        self.dump = Dump(netloom, self.root)

    def files(self):
        """The editable files (used by one sheet only) and their texts."""
        folder = os.path.dirname(self.root)
        for name in sorted(self.dump.sheet_files):
            path = os.path.join(folder, name)
            if (self.dump.sheet_files[name] == 1 or name.endswith('.sch')) and os.path.isfile(path):
                with open(path, encoding='utf-8', newline='') as f:
                    yield path, f.read()

    def attempt(self, path, original, edited, accept):
        """Writes `edited`; keeps it when accept(before, after) gives a result, else restores."""
        with open(path, 'w', encoding='utf-8', newline='') as f:
            f.write(edited)
        after = Dump(self.netloom, self.root)
        result = accept(self.dump, after) if after.ok else None
        if result is None:
            with open(path, 'w', encoding='utf-8', newline='') as f:
                f.write(original)
        else:
            self.dump = after
        return result


def edit_value(copy):
    for path, text in copy.files():
        if path.endswith('.sch'):
            spans = [m.span(1) for m in re.finditer(r'<part [^>]*?\bvalue="([^"]*)"', text)]
        else:
            spans = []
            for s, e in top_items(text):
                m = re.search(r'\(property "Value" "((?:[^"\\]|\\.)*)"', text[s:e])
                if text.startswith('(symbol', s) and m:
                    spans.append((s + m.start(1), s + m.end(1)))
        for s, e in spans[:20]:
            found = copy.attempt(path, text, text[:e] + SUFFIX + text[e:], value_edit)
            if found:
                return found
    return None


def edit_label(copy):
    for path, text in copy.files():
        if path.endswith('.sch'):
            labelled = re.finditer(r'<net name="([^"]+)"[^>]*>(?:(?!</net>).)*<label ', text, re.S)
            names = sorted({m.group(1) for m in labelled})
            trials = [(n, re.sub(r'(<net name=")%s"' % re.escape(n), r'\g<1>%s"' % (n + SUFFIX).replace('\\', r'\\'),
                                 text)) for n in names]
        else:
            # Every label of one text and kind on the sheet: renaming one of two
            # that join two wires would cut the net instead.
            labels = collections.defaultdict(list)
            for s, e in top_items(text):
                m = re.match(r'\((label|global_label) "((?:[^"\\]|\\.)*)"', text[s:e])
                if m:
                    labels[m.group(2), m.group(1)].append(s + m.end(2))
            trials = []
            for (name, _), ends in sorted(labels.items(), key=lambda item: len(item[1])):
                edited = text
                for at in reversed(ends):
                    edited = edited[:at] + SUFFIX + edited[at:]
                trials.append((name, edited))
        for name, edited in trials[:30]:
            pins = copy.attempt(path, text, edited, lambda b, a: rename_edit(b, a, name))
            if pins:
                return name, pins
    return None


def edit_wire(copy, keep):
    for path, text in copy.files():
        if path.endswith('.sch'):
            spans = [m.span() for m in re.finditer(r'[ \t]*<pinref [^>]*/>\r?\n?', text)]
        else:
            spans = [(s, e) for s, e in top_items(text) if text.startswith('(wire', s)]
            ends = collections.Counter()
            for s, e in top_items(text):
                for xy in re.findall(r'\((?:xy|at) ([-\d.]+ [-\d.]+)', text[s:e])[:2]:
                    ends[xy] += 1
            # Likeliest first: a wire with one end that nothing else in the file touches (a pin's).
            spans.sort(key=lambda se: min(ends[xy] for xy in re.findall(r'\(xy ([-\d.]+ [-\d.]+)', text[se[0]:se[1]])))
        for s, e in spans[:40]:
            found = copy.attempt(path, text, text[:s] + text[e:], lambda b, a: cut_edit(b, a, keep))
            if found:
                return found
    return None


def check(netloom, sch):
    r = designs.run(netloom, '--diff', sch, sch)
    if r.returncode != 0 or r.stdout != b'No electrical differences.\n':
        return ['against itself: exit %d, %r' % (r.returncode, designs.text(r.stdout + r.stderr)[:200])]
    copy = Copy(netloom, sch)
    try:
        value = edit_value(copy)
        label = edit_label(copy)
        cut = edit_wire(copy, label[1] if label else None)
        if not (value and label and cut):
            return ['no edit found for the %s' % ', '.join(w for w, f in (('value', value), ('label', label),
                                                                           ('wire', cut)) if not f)]
        r = designs.run(netloom, '--diff-json', sch, copy.root)
        got = json.loads(r.stdout) if r.returncode == 1 else None
        new_names = {pins: name for name, _, pins in copy.dump.nets}
    finally:
        shutil.rmtree(copy.dir)
    if got is None:
        return ['edited copy: exit %d, %s' % (r.returncode, designs.text(r.stderr))]
    names = {pins: name for name, _, pins in Dump(netloom, sch).nets}
    pin, old = cut
    ref, before, after = value
    expected = {
        'components': {'added': [], 'removed': [],
                       'changed': [{'changes': {'value': {'new': after, 'old': before}}, 'ref': ref}]},
        'renamed': [{'new': label[0] + SUFFIX, 'old': label[0]}],
        'changed': [{'joined': [], 'left': [{'pin': pin[1], 'ref': pin[0]}], 'new': new_names[old - {pin}],
                     'old': names[old]}],
    }
    reported = {
        'components': got['components'],
        'renamed': got['nets']['renamed'],
        'changed': got['nets']['changed'],
    }
    problems = ['%s: expected %s, reported %s' % (k, expected[k], reported[k]) for k in expected
                if expected[k] != reported[k]]
    others = [k for k in ('split', 'merged', 'added', 'removed') if got['nets'][k]]
    if others:
        problems.append('also reported: %s' % ', '.join(others))
    return problems or ['(%s value, net %s renamed, %s.%s cut off)' % (ref, label[0], pin[0], pin[1])]


def main():
    netloom = designs.netloom_binary()
    found = [(n, s) for n, s, _ in designs.kicad_designs() if s.startswith(designs.KICAD_CORPUS)]
    found += [(n, s) for n, s, _ in designs.eagle_designs()]
    if not found:
        print('skipped: no designs in %s' % os.path.join(designs.SHARED, 'corpus'))
        return 77
    failed = 0
    for name, sch in found:
        lines = check(netloom, sch)
        good = lines[0].startswith('(')
        print('%-4s %s %s' % ('ok' if good else 'FAIL', name, lines[0] if good else ''))
        for p in [] if good else lines:
            print('     ' + p)
        failed += not good
    print('%d of %d designs failed' % (failed, len(found)))
    return 1 if failed else 0


if __name__ == '__main__':
    sys.exit(main())

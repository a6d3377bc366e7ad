"""What the whole-program scripts share: where the real designs are, running netloom
on them, and measuring a design against its board with board_oracle.py."""

import glob
import hashlib
import json
import os
import re
import shutil
import subprocess
import sys
import time

REPO = os.path.normpath(os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', '..', '..'))
SHARED = os.path.normpath(os.path.join(REPO, '..', 'shared'))
DEMOS = '/usr/share/kicad/demos'
KICAD_CORPUS = os.path.join(SHARED, 'corpus', 'kicad')
EAGLE_CORPUS = os.path.join(SHARED, 'corpus', 'eagle')
ORACLE = os.path.join(SHARED, 'tools', 'board_oracle.py')


def netloom_binary():
    if len(sys.argv) < 2:
        sys.stderr.write('usage: %s <netloom binary>\n' % os.path.basename(sys.argv[0]))
        sys.exit(2)
    return sys.argv[1]


def run(*cmd, stdin=None, timeout=120):
    return subprocess.run(list(cmd), input=stdin, capture_output=True, timeout=timeout)


def text(data):
    return data.decode('utf-8', 'replace').strip()


def kicad_designs():
    """(name, root schematic, board or None) for every project in the demos and the KiCad corpus.

    A directory's root schematic is the .kicad_sch named like its .kicad_pro, or like its
    .kicad_pcb when there is no project file."""
    designs = []
    for base in (DEMOS, KICAD_CORPUS):
        for dirpath, dirnames, filenames in os.walk(base):
            dirnames.sort()
            stems = [f[:-len('.kicad_pro')] for f in filenames if f.endswith('.kicad_pro')]
            boards = [f[:-len('.kicad_pcb')] for f in filenames if f.endswith('.kicad_pcb')]
            for stem in sorted(set(stems) | set(boards)):
                sch = os.path.join(dirpath, stem + '.kicad_sch')
                if not os.path.isfile(sch):
                    continue
                pcb = os.path.join(dirpath, stem + '.kicad_pcb')
                name = os.path.relpath(dirpath, base)
                if name == '.' or len(stems) + len(boards) > 2:
                    name = stem if name == '.' else name + '/' + stem
                designs.append((name, sch, pcb if os.path.isfile(pcb) else None))
    return designs


def fingerprint(root):
    """A short hash of the contents of a root schematic and the sheet files below it."""
    h = hashlib.sha1()
    folder = os.path.dirname(root)
    files = {os.path.basename(root)} | {f for fs in sheet_files(root).values() for f in fs}
    for name in sorted(files):
        h.update(name.encode())
        try:
            with open(os.path.join(folder, name), 'rb') as f:
                h.update(hashlib.sha1(f.read()).digest())
        except OSError:
            h.update(b'missing')
    return h.hexdigest()[:16]


def erc_fixture_designs():
    """(name, root schematic, None) for the rule check's hand-written fixtures."""
    folder = os.path.join(REPO, 'tests', 'fixtures', 'kicad', 'erc')
    return [('fixtures/' + os.path.basename(p)[:-len('.kicad_sch')], p, None)
            for p in sorted(glob.glob(os.path.join(folder, '*.kicad_sch'))) if not p.endswith('_sub.kicad_sch')]


SHEET_NAME_AND_FILE = re.compile(
    r'\(property\s+"Sheet ?name"\s+"((?:[^"\\]|\\.)*)".*?\(property\s+"Sheet ?file"\s+"((?:[^"\\]|\\.)*)"', re.S)


def sheet_files(root):
    """{sheet name: [sheet files]} over the hierarchy below a root schematic, the root as "Root"
    (sheets on different branches may share a name)."""
    folder, names, todo, seen = os.path.dirname(root), {'Root': [os.path.basename(root)]}, [os.path.basename(root)], set()
    while todo:
        current = todo.pop()
        if current in seen:
            continue
        seen.add(current)
        try:
            with open(os.path.join(folder, current), encoding='utf-8') as f:
                found = SHEET_NAME_AND_FILE.findall(f.read())
        except OSError:
            continue
        for name, file in found:
            if file not in names.setdefault(name, []):
                names[name].append(file)
            todo.append(file)
    return names


# KiCad's rules that some code of our rule check reports, and a few more a
# project file may lack.
ERC_RULES = ['global_label_dangling', 'hier_label_mismatch', 'label_dangling', 'multiple_net_names',
             'no_connect_connected', 'pin_not_connected', 'pin_not_driven', 'pin_to_pin', 'power_pin_not_driven',
             'similar_label_and_power', 'similar_labels', 'similar_power', 'duplicate_reference', 'unannotated',
             'unconnected_wire_endpoint', 'wire_dangling']
OTHER_RULES = ['four_way_junction', 'label_multiple_wires', 'missing_power_pin', 'no_connect_dangling',
               'same_local_global_label', 'single_global_label']


def copy_design(root, folder, every_rule):
    """Copies a design's schematic files and project file into `folder`; returns
    the copied root. With every_rule, the project file switches every rule on
    and excludes nothing (a design without one gets one)."""
    source = os.path.dirname(root)
    for path in glob.glob(os.path.join(source, '**', '*.kicad_sch'), recursive=True):
        target = os.path.join(folder, os.path.relpath(path, source))
        os.makedirs(os.path.dirname(target), exist_ok=True)
        shutil.copyfile(path, target)
    stem = os.path.splitext(os.path.basename(root))[0]
    pro = os.path.join(source, stem + '.kicad_pro')
    if not every_rule:
        if os.path.isfile(pro):
            shutil.copyfile(pro, os.path.join(folder, stem + '.kicad_pro'))
        return os.path.join(folder, os.path.basename(root))
    project = {}
    if os.path.isfile(pro):
        with open(pro, encoding='utf-8') as f:
            project = json.load(f)
    erc = project.setdefault('erc', {})
    severities = erc.setdefault('rule_severities', {})
    for rule in ERC_RULES + OTHER_RULES:
        severities.setdefault(rule, 'warning')
    for rule, severity in severities.items():
        if severity == 'ignore':
            severities[rule] = 'warning'
    erc['erc_exclusions'] = []
    with open(os.path.join(folder, stem + '.kicad_pro'), 'w', encoding='utf-8') as f:
        json.dump(project, f, indent=2)
    return os.path.join(folder, os.path.basename(root))


def eagle_designs():
    """(name, schematic, board) for every Eagle corpus folder with one of each."""
    for folder in sorted(glob.glob(os.path.join(EAGLE_CORPUS, '*'))):
        schs = glob.glob(os.path.join(folder, '*.sch'))
        brds = glob.glob(os.path.join(folder, '*.brd'))
        if len(schs) == 1 and len(brds) == 1:
            yield os.path.basename(folder), schs[0], brds[0]


class Failure(Exception):
    pass


def compare_with_board(netloom, sch, board):
    """(the --json dump, the oracle's figures, milliseconds netloom took); Failure when either fails."""
    start = time.perf_counter()
    dump = run(netloom, '--json', sch, timeout=300)
    ms = (time.perf_counter() - start) * 1000
    if dump.returncode != 0:
        raise Failure('netloom --json exited %d: %s' % (dump.returncode, text(dump.stderr)))
    res = run(sys.executable, ORACLE, '--board', board, '--dump', '-', '--json', stdin=dump.stdout, timeout=300)
    if res.returncode != 0:
        raise Failure('oracle failed: %s' % text(res.stderr))
    return json.loads(dump.stdout), json.loads(res.stdout), ms


def print_table(head, rows):
    """The first column left-aligned, the others right-aligned."""
    table = [head] + [[str(cell) for cell in row] for row in rows]
    widths = [max(len(row[i]) for row in table) for i in range(len(head))]
    for row in table:
        print('  '.join(c.ljust(w) if i == 0 else c.rjust(w) for i, (c, w) in enumerate(zip(row, widths))))

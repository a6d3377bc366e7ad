"""What the whole-program scripts share: where the real designs are, running netloom
on them, and measuring a design against its board with board_oracle.py."""

import glob
import json
import os
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

#!/usr/bin/env python3
"""The Windows build, run under Wine, answers exactly as the Linux build does.

    compare_outputs.py <netloom.exe> <linux netloom>

Runs the headless commands on the built-in sample and on every root schematic
of the KiCad demos and the shared corpus, with both builds, and compares their
output. Windows writes line ends as CR LF and spells paths its own way, so line
ends are normalised and the lines that echo the input path are left out.
Exits 77 (skipped) when Wine is not installed.
"""

import os
import shutil
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', 'integration', 'lib'))
import designs  # noqa: E402

SAMPLE_COMMANDS = ('--summary', '--list-components', '--list-nets', '--erc', '--bom', '--netlist', '--json')
# The JSON dump holds every component and net; the others add the report writers.
# --diff runs from the sample to the design, so it sorts every part and net of both.
DESIGN_COMMANDS = ('--list-nets', '--erc', '--bom', '--json', '--diff')


def wine_tool(*names):
    """Debian's wine64 package keeps its programs in /usr/lib/wine, outside PATH."""
    for name in names:
        path = shutil.which(name) or os.path.join('/usr/lib/wine', name)
        if os.access(path, os.X_OK):
            return path
    return None


def normalised(out, path):
    lines = out.decode('utf-8', 'replace').replace('\r\n', '\n').split('\n')
    return [l for l in lines if '"path": ' not in l and (not path or os.path.basename(path) not in l)]


def main():
    if len(sys.argv) < 3:
        sys.stderr.write(__doc__)
        return 2
    exe, native = sys.argv[1], sys.argv[2]
    wine, server = wine_tool('wine64', 'wine'), wine_tool('wineserver64', 'wineserver')
    if not wine or not server:
        print('SKIP: Wine is not installed')
        return 77
    inputs = [('sample', 'sample', None)]
    for name, sch, _ in designs.kicad_designs():
        inputs.append((name, sch, 'Z:' + sch.replace('/', '\\')))
    for name, sch, _ in designs.eagle_designs():
        inputs.append((name, sch, 'Z:' + sch.replace('/', '\\')))
    inputs.append(('missing file', '/nonexistent/x.kicad_sch', 'Z:\\nonexistent\\x.kicad_sch'))
    problems = 0
    compared = 0
    with tempfile.TemporaryDirectory() as prefix:
        env = dict(os.environ, WINEPREFIX=prefix, WINEDEBUG='-all', HOME=prefix)
        # A server that stays up spares every run the start of a new one (seconds
        # each); the first run sets the prefix up and reports that. Wine's own
        # processes outlive a run, so they must not inherit a pipe we wait on.
        quiet = dict(stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, env=env)
        subprocess.run([server, '-p'], timeout=60, **quiet)
        subprocess.run([wine, exe, '--summary', 'sample'], timeout=300, **quiet)
        for name, unix_path, windows_path in inputs:
            for cmd in SAMPLE_COMMANDS if name == 'sample' else DESIGN_COMMANDS:
                first = ['sample'] if cmd == '--diff' else []
                a = subprocess.run([native, cmd] + first + [unix_path], capture_output=True, timeout=300)
                b = subprocess.run([wine, exe, cmd] + first + [windows_path or unix_path], capture_output=True,
                                   env=env, timeout=300)
                compared += 1
                path = unix_path if windows_path else None
                same_out = normalised(a.stdout, path) == normalised(b.stdout, path)
                same_err = normalised(a.stderr, path) == normalised(b.stderr, path)
                if a.returncode != b.returncode or not same_out or not same_err:
                    problems += 1
                    print('FAIL %s %s: exit %d vs %d%s%s' % (name, cmd, a.returncode, b.returncode,
                                                              '' if same_out else ', output differs',
                                                              '' if same_err else ', messages differ'))
        subprocess.run([server, '-k'], timeout=60, **quiet)
    print('%d runs compared, %d differ' % (compared, problems))
    return 1 if problems else 0


if __name__ == '__main__':
    sys.exit(main())

#!/usr/bin/env python3
"""Keeps the layers of src/ honest.

The program is a pipeline; each folder of src/ is one layer and may include only
its own layer and the layers above it in this list:

    base          text, UTF-8, file reading, JSON output, the heap reserve
    readers       S-expression and XML text readers
    model         the in-memory design and its geometry
    formats       KiCad and Eagle loaders, the built-in demo's text
    connectivity  bus texts and the net builder
    open          the one way into the model: recognise, load, connect
    analysis      lookups, overview, trace, rule check, reports
    settings      the settings store
    render        painter interface, themes, scene renderer, SVG painter
    assistant     tool catalogue, chat engine, HTTP interface
    app           command line and window controller
    platform      the shells of each system (posix/, win32/); main.cpp sits on top

Besides the order: nothing outside platform/ includes platform/, posix/ and win32/
never include each other, and no file outside platform/ includes a system header
of a display or network library. Includes name their folder ("analysis/erc.h").

    check_layers.py [repository root]    exit 0 when clean, 1 with one line per fault
"""

import os
import re
import sys

LAYERS = ['base', 'readers', 'model', 'formats', 'connectivity', 'open', 'analysis', 'settings', 'render',
          'assistant', 'app', 'platform']
TOP = len(LAYERS)  # main.cpp
PLATFORM_HEADERS = re.compile(r'^(gtk|gdk|glib|gio|cairo|pango|X11|curl|windows\.h|winsock|gdiplus|wininet|'
                              r'commctrl|commdlg|shellapi|shlwapi)', re.IGNORECASE)
INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^>"]+)[>"]')


def rank(rel):
    """The layer index of a path relative to src/."""
    top = rel.split('/')[0]
    if top in LAYERS:
        return LAYERS.index(top)
    return TOP


def check(root):
    src = os.path.join(root, 'src')
    faults = []
    for dirpath, _, files in sorted(os.walk(src)):
        for name in sorted(files):
            if not name.endswith(('.h', '.cpp')):
                continue
            path = os.path.join(dirpath, name)
            rel = os.path.relpath(path, src).replace(os.sep, '/')
            own = rank(rel)
            in_platform = rel.startswith('platform/')
            may_reach_platform = in_platform or own == TOP
            with open(path, encoding='utf-8', errors='replace') as f:
                for number, line in enumerate(f, 1):
                    m = INCLUDE.match(line)
                    if not m:
                        continue
                    kind, target = m.groups()
                    where = 'src/%s:%d' % (rel, number)
                    if kind == '<':
                        if not in_platform and PLATFORM_HEADERS.match(target):
                            faults.append('%s: <%s> is a platform header; only platform/ may include it' %
                                          (where, target))
                        continue
                    if not os.path.isfile(os.path.join(src, target)):
                        faults.append('%s: "%s" does not name a file under src/ by its folder' % (where, target))
                        continue
                    theirs = rank(target)
                    if target.startswith('platform/') and not may_reach_platform:
                        faults.append('%s: the core includes platform code "%s"' % (where, target))
                    elif theirs > own:
                        faults.append('%s: %s includes "%s" of the later layer %s' %
                                      (where, LAYERS[own] if own < TOP else rel, target, LAYERS[theirs]))
                    for a, b in (('platform/posix/', 'platform/win32/'), ('platform/win32/', 'platform/posix/')):
                        if rel.startswith(a) and target.startswith(b):
                            faults.append('%s: %s code includes "%s"' % (where, a[9:-1], target))
    return faults


def main():
    root = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(os.path.abspath(__file__)), '..')
    faults = check(root)
    for fault in faults:
        print(fault)
    if faults:
        print('%d layering fault(s); the allowed order is at the top of %s' % (len(faults), __file__))
        return 1
    return 0


if __name__ == '__main__':
    sys.exit(main())

#!/usr/bin/env python3
"""Hostile and unlucky input: every command stays bounded and honest.

    hostile_input.py <netloom binary>

Generates each class of crafted input into a temporary folder (tools/gen_hostile.py
and the cases below), runs every headless command on it under a memory limit
(RLIMIT_AS, 1 GB; left out for sanitizer builds, whose shadow memory needs far
more address space) and a CPU-time limit, and checks: exit status 0 or 1, never
a signal; standard error made of "Warning: " lines and at most one "Error: "
line; output that parses (JSON, well-formed SVG); the settings file intact;
nothing written where it must not be. A misbehaving chat server on 127.0.0.1
(tests/fixtures/fake_chat_server.py) answers --ask.
"""

import json
import os
import resource
import signal
import socket
import stat
import subprocess
import sys
import tempfile
import threading
import time
import xml.etree.ElementTree as ET

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.normpath(os.path.join(HERE, '..', '..'))
SERVER = os.path.join(REPO, 'tests', 'fixtures', 'fake_chat_server.py')
sys.path.insert(0, os.path.join(REPO, 'tools'))
import gen_hostile  # noqa: E402

NETLOOM = os.path.abspath(sys.argv[1]) if len(sys.argv) > 1 else sys.exit(__doc__)
failures = []
largest = {'cpu': (0.0, ''), 'peak_mb': (0.0, '')}  # the heaviest run of each kind, for the record


def check(condition, what):
    if not condition:
        failures.append(what)
        print('FAIL: ' + what)
    return condition


def sanitized(binary):
    with open(binary, 'rb') as f:
        return b'__asan_init' in f.read()


SANITIZED = sanitized(NETLOOM)
MEMORY_LIMIT = 1 << 30
# Every input here opens in well under a second; the quadratic paths took minutes.
CPU_SECONDS = 60 if SANITIZED else 10


def limits():
    if not SANITIZED:
        resource.setrlimit(resource.RLIMIT_AS, (MEMORY_LIMIT, MEMORY_LIMIT))
    resource.setrlimit(resource.RLIMIT_CPU, (CPU_SECONDS, CPU_SECONDS + 5))
    resource.setrlimit(resource.RLIMIT_CORE, (0, 0))


class Result:
    def __init__(self, status, out, err, cpu, peak_mb):
        self.status, self.out, self.err, self.cpu, self.peak_mb = status, out, err, cpu, peak_mb

    def errors(self):
        return [l for l in self.err.decode('utf-8', 'replace').splitlines() if l.startswith('Error: ')]


def run(args, env=None, stdin=subprocess.DEVNULL, stdout=None, wall=120):
    """Runs netloom under the limits; the status is -signal when one ended it."""
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
        p = subprocess.Popen([NETLOOM] + list(args), stdin=stdin, stdout=stdout if stdout is not None else out,
                             stderr=err, preexec_fn=limits, env=dict(os.environ, **(env or {})))
        deadline = time.monotonic() + wall
        while True:
            pid, raw, usage = os.wait4(p.pid, os.WNOHANG)
            if pid:
                break
            if time.monotonic() > deadline:
                p.kill()
                pid, raw, usage = os.wait4(p.pid, 0)
                break
            time.sleep(0.005)
        p.returncode = 0  # reaped here, not by Popen
        status = -os.WTERMSIG(raw) if os.WIFSIGNALED(raw) else os.WEXITSTATUS(raw)
        out.seek(0)
        err.seek(0)
        return Result(status, out.read(), err.read(), usage.ru_utime + usage.ru_stime, usage.ru_maxrss / 1024)


def honest(r, what, expect_error=None):
    """The checks every run passes; expect_error: True/False when the outcome is known."""
    for kind in largest:
        largest[kind] = max(largest[kind], (getattr(r, kind), what))
    ok = check(r.status in (0, 1), '%s: exit status %d' % (what, r.status))
    lines = r.err.decode('utf-8', 'replace').splitlines()
    odd = [l for l in lines if not (l.startswith('Error: ') or l.startswith('Warning: '))]
    ok &= check(not odd, '%s: stray standard error lines %r' % (what, odd[:3]))
    ok &= check(len(r.errors()) <= 1, '%s: %d error lines' % (what, len(r.errors())))
    ok &= check(b'\x1b' not in r.err and b'\x1b' not in r.out, '%s: an escape sequence reached the terminal' % what)
    if expect_error is not None:
        ok &= check(bool(r.errors()) == expect_error and r.status == (1 if expect_error else r.status),
                    '%s: expected %s, got status %d, %r' % (what, 'an error' if expect_error else 'success',
                                                             r.status, r.err[:200]))
    return ok


def commands(design, out_dir):
    svg = os.path.join(out_dir, 'out.svg')
    return [('--summary', [design]), ('--list-components', [design]), ('--component', [design, 'R1']),
            ('--list-nets', [design]), ('--net', [design, 'GND']), ('--trace', [design, 'R1', 'R2']),
            ('--erc', [design]), ('--bom', [design]), ('--netlist', [design]), ('--json', [design]),
            ('--svg', [design, svg])]


def check_output(option, r, what, out_dir):
    if r.status != 0 and r.errors():
        return
    if option == '--json' and r.status == 0:
        try:
            json.loads(r.out)
        except ValueError as e:
            check(False, '%s: --json output is not JSON: %s' % (what, e))
    if option == '--svg' and r.status == 0:
        path = os.path.join(out_dir, 'out.svg')
        try:
            text = open(path, 'rb').read()
            ET.fromstring(text)
            check(b'inf' not in text and b'nan' not in text, '%s: SVG holds a number that is not finite' % what)
        except (OSError, ET.ParseError) as e:
            check(False, '%s: the SVG is not well-formed XML: %s' % (what, e))


def crafted_designs(tmp):
    """Every generated shape, each with what it must end in (None: either)."""
    expected = {'kicad_placement': 'too large', 'kicad_extends': 'too large', 'eagle_pads': 'too large',
                'bus_labels': 'too large'}
    # The shapes the benchmark scales are quadratic no more; a tenth of their size shows a hang as well.
    sizes = {'eagle_pins': 10000}
    for shape in gen_hostile.SHAPES:
        root = gen_hostile.write(shape, sizes.get(shape, 0), os.path.join(tmp, shape))
        yield shape, root, expected.get(shape)


def designs_and_commands(tmp):
    for shape, root, outcome in crafted_designs(tmp):
        out_dir = os.path.join(tmp, shape + '_out')
        os.makedirs(out_dir, exist_ok=True)
        # Under the sanitizers every command takes many times as long; the large
        # shapes go through the loaders with a few of them.
        few = SANITIZED and os.path.getsize(root) > 200000
        for option, args in commands(root, out_dir):
            if few and option not in ('--summary', '--erc', '--json', '--svg'):
                continue
            what = '%s %s' % (option, shape)
            r = run([option] + args)
            if not honest(r, what):
                continue
            if outcome == 'too large':
                check(r.errors() and r.errors()[0].startswith('Error: Design too large: it would need more than '),
                      '%s: expected the size limit, got %r' % (what, r.err[:200]))
            check_output(option, r, what, out_dir)
            if shape in ('far_items', 'far_items_eagle', 'deep_hierarchy'):
                check(b'Warning: ' in r.err, '%s: the warning is missing' % what)


def special_files(tmp):
    """Devices, pipes, sockets and folders: refused at once, as the design, a sub-sheet or the output."""
    fifo = os.path.join(tmp, 'pipe.kicad_sch')
    os.mkfifo(fifo)
    sock = socket.socket(socket.AF_UNIX)
    sock.bind(os.path.join(tmp, 'sock.kicad_sch'))
    folder = os.path.join(tmp, 'folder.kicad_sch')
    os.mkdir(folder)
    for path in ('/dev/zero', '/dev/stdin', '/dev/urandom', '/proc/self/mem', fifo, sock.getsockname(), folder):
        for option in ('--summary', '--bom', '--erc', '--json'):
            with open('/dev/zero', 'rb') as zero:
                r = run([option, path], stdin=zero, wall=20)
            if honest(r, '%s %s' % (option, path), expect_error=True):
                check(r.errors()[0].startswith('Error: Cannot read file: ' + path + ' ('),
                      '%s %s: %r' % (option, path, r.err[:200]))
    # The same files named as sub-sheets: warnings, and the root still opens.
    root = os.path.join(tmp, 'root.kicad_sch')
    sheets = ''.join('(sheet (at 0 0) (size 5 5) (uuid "u%d") (property "Sheetfile" "%s" (at 0 0 0)))' % (i, p)
                     for i, p in enumerate(('/dev/zero', 'pipe.kicad_sch', 'folder.kicad_sch', '/proc/self/mem')))
    with open(root, 'w') as f:
        f.write('(kicad_sch (version 20231120) (uuid "r") %s)' % sheets)
    r = run(['--bom', root], wall=20)
    if honest(r, '--bom with special sub-sheets', expect_error=False):
        check(r.err.count(b"cannot be read: ") == 4, 'special sub-sheets: %r' % r.err)
    sock.close()


def output_failures(tmp):
    r = run(['--json', 'sample'], stdout=open('/dev/full', 'wb'))
    honest(r, '--json into /dev/full', expect_error=True)
    check(r.errors() == ['Error: cannot write standard output: No space left on device'], repr(r.err))
    read_end, write_end = os.pipe()
    os.close(read_end)
    r = run(['--netlist', 'sample'], stdout=write_end)
    os.close(write_end)
    honest(r, '--netlist into a closed pipe', expect_error=True)
    r = run(['--svg', 'sample', '/dev/full'])
    honest(r, '--svg into /dev/full', expect_error=True)
    design = gen_hostile.write('bad_text', 0, os.path.join(tmp, 'own'))
    before = open(design, 'rb').read()
    r = run(['--svg', design, design])
    honest(r, '--svg over its own design', expect_error=True)
    check(open(design, 'rb').read() == before, '--svg wrote over its own design')


def settings_files(tmp):
    """A damaged, special or linked settings file: never lost, never waited on."""
    path = os.path.join(tmp, 'settings.json')
    env = {'NETLOOM_SETTINGS': path, 'XDG_CONFIG_HOME': os.path.join(tmp, 'config')}
    damaged = '{"ai": {"api_key": "sk-keep-me", "base_url": "http://mine/v1",}}'
    with open(path, 'w') as f:
        f.write(damaged)
    for args in (['--set', 'theme', 'light'], ['--set', 'ai.model', 'x']):
        r = run(args, env=env)
        honest(r, '--set on a damaged file', expect_error=True)
        check(b'line 1, column' in r.err, '--set on a damaged file: no position in %r' % r.err)
    for args in (['--settings'], ['--svg', 'sample', os.path.join(tmp, 'x.svg')]):
        r = run(args, env=env)
        honest(r, '%s with a damaged file' % args[0], expect_error=False)
        check(r.err.count(b'Warning: the settings file') == 1, '%s: %r' % (args[0], r.err))
    check(open(path).read() == damaged, 'the damaged settings file was changed')

    for special in ('/dev/zero', os.path.join(tmp, 'settings_pipe')):
        if not special.startswith('/dev'):
            os.mkfifo(special)
        r = run(['--settings'], env=dict(env, NETLOOM_SETTINGS=special), wall=20)
        honest(r, '--settings from %s' % special, expect_error=False)
        r = run(['--set', 'theme', 'light'], env=dict(env, NETLOOM_SETTINGS=special), wall=20)
        honest(r, '--set into %s' % special, expect_error=True)

    for value in ('0', '-1', '601', 'abc', '1e3'):
        r = run(['--set', 'ai.timeout_sec', value], env=dict(env, NETLOOM_SETTINGS=os.path.join(tmp, 'fresh.json')))
        honest(r, '--set ai.timeout_sec %s' % value, expect_error=True)

    # Concurrent changes of different keys all survive; the file is the owner's alone.
    fresh = os.path.join(tmp, 'shared.json')
    env2 = dict(env, NETLOOM_SETTINGS=fresh)
    keys = [('ai.model', 'm%d'), ('theme', ['dark', 'light', 'paper', 'blueprint']), ('ai.max_tokens', '%d00'),
            ('glow', '%d.5'), ('ai.api_key', 'k%d'), ('max_recent', '%d')]
    results = []

    def worker(key, pattern):
        for i in range(1, 5):
            value = pattern[i - 1] if isinstance(pattern, list) else pattern % i
            results.append(run(['--set', key, value], env=env2).status)

    threads = [threading.Thread(target=worker, args=kv) for kv in keys]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    check(results.count(0) == len(results), 'concurrent --set: statuses %r' % results)
    stored = json.load(open(fresh))
    check((stored['ai']['model'], stored['theme'], stored['ai']['max_tokens'], stored['glow'], stored['ai']['api_key'],
           stored['max_recent']) == ('m4', 'blueprint', 400, 4.5, 'k4', 4), 'concurrent --set lost updates: %r' % stored)
    check(stat.S_IMODE(os.stat(fresh).st_mode) == 0o600, 'a new settings file is readable by others')
    check(not [n for n in os.listdir(tmp) if '.tmp-' in n], 'temporary files left behind')


def chat_server(tmp):
    """--ask against a server that misbehaves in every way we know."""
    def answer(content, calls=None):
        message = {'role': 'assistant', 'content': content}
        if calls is not None:
            message['tool_calls'] = calls
        return {'body': {'choices': [{'message': message}]}}

    calls = [{'id': 'c%d' % i, 'type': 'function', 'function': {'name': 'list_nets', 'arguments': '{}'}}
             for i in range(3000)]
    cases = [
        ('thousands of tool calls', [answer(None, calls), answer('done')], {}, False),
        ('escape sequences', [answer('\x1b]0;owned\x07\x1b[2J\x1b[31mred\x1b[0m\r')], {}, False),
        ('an error body of a megabyte', [{'status': 500, 'body_repeat': ['\x1b[5mE', 1 << 20]}], {}, True),
        ('an error object with escapes', [{'status': 401, 'body': {'error': '\x1b[2J' + 'x' * 5000}}], {}, True),
        ('a reply of 40 MB', [{'body_repeat': ['x', 40 << 20]}], {}, True),
        ('a reply that is not HTTP', [{'raw': 'garbage\x1b[2J\r\n\r\n'}], {}, True),
        ('a cut reply', [{'raw': 'HTTP/1.1 200 OK\r\nContent-Length: 99999\r\n\r\n{"choices": ['}], {}, True),
        ('no reply at all', [{'drop': True}], {}, True),
        ('an answer that never comes', [{'delay': 30}], {'timeout_sec': 0}, True),
        ('calls that never end', [answer(None, calls[:2])] * 60, {'max_tool_rounds': 1000}, True),
    ]
    for name, replies, ai, fails in cases:
        folder = tempfile.mkdtemp(dir=tmp)
        path = lambda n: os.path.join(folder, n)
        with open(path('script.json'), 'w') as f:
            json.dump(replies, f)
        server = subprocess.Popen([sys.executable, SERVER, '--script', path('script.json'), '--record',
                                   path('requests.json'), '--port-file', path('port'), '--lifetime', '120'])
        for _ in range(1000):
            if os.path.exists(path('port')):
                break
            time.sleep(0.02)
        base = 'http://127.0.0.1:%s/v1' % open(path('port')).read()
        with open(path('settings.json'), 'w') as f:
            json.dump({'ai': dict({'base_url': base, 'model': 'm'}, **ai)}, f)
        started = time.monotonic()
        r = run(['--ask', 'sample', 'q'], env={'NETLOOM_SETTINGS': path('settings.json'), 'no_proxy': '127.0.0.1',
                                               'http_proxy': '', 'https_proxy': ''})
        elapsed = time.monotonic() - started
        server.kill()
        server.wait()
        honest(r, '--ask with %s' % name, expect_error=fails)
        check(len(r.err) < 2000, '--ask with %s: %d bytes of errors' % (name, len(r.err)))
        check(elapsed < 30, '--ask with %s took %.0f s' % (name, elapsed))
        if name == 'thousands of tool calls':
            check(r.out.count(b'[calling list_nets') == 32 and b'only the first 32 were run' in r.err,
                  'tool calls per round were not bounded: %d' % r.out.count(b'[calling'))


def main():
    if not os.path.exists(NETLOOM):
        sys.exit('no netloom binary at ' + NETLOOM)
    with tempfile.TemporaryDirectory(prefix='netloom_hostile_') as tmp:
        for part in (designs_and_commands, special_files, output_failures, settings_files, chat_server):
            started = time.monotonic()
            sub = os.path.join(tmp, part.__name__)
            os.makedirs(sub)
            part(sub)
            print('%-22s %5.1f s' % (part.__name__, time.monotonic() - started))
    print('most CPU: %.2f s (%s); largest peak: %.0f MB (%s)' % (largest['cpu'] + largest['peak_mb']))
    print('%d failure(s)%s' % (len(failures), ' (sanitizer build: no memory limit)' if SANITIZED else ''))
    return 1 if failures else 0


if __name__ == '__main__':
    signal.signal(signal.SIGPIPE, signal.SIG_DFL)
    sys.exit(main())

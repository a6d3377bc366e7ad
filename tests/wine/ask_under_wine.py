#!/usr/bin/env python3
"""The Windows build's assistant, run under Wine, talks to a server as the Linux build does.

    ask_under_wine.py <netloom.exe> <linux netloom>

Runs `--ask sample` with both builds against tests/fixtures/fake_chat_server.py,
one fresh server per run and the same canned replies, and compares what each
printed, its exit status and the requests the server received (method, path,
body and the headers the provider reads). Covers tool calling, HTTP errors,
broken and oversized replies, a time-out and a refused connection. Line ends
are normalised and the program's own path, which the no-provider hint names,
is replaced by a placeholder. Exits 77 (skipped) when Wine is not installed.
"""

import json
import os
import shutil
import socket
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
SERVER = os.path.join(HERE, '..', 'fixtures', 'fake_chat_server.py')
RUNNER = os.path.join(HERE, 'run_under_wine.sh')
# The headers a chat-completions provider reads; each HTTP client adds others of its own (Host, Accept, ...).
COMPARED_HEADERS = ('user-agent', 'authorization', 'content-type', 'content-length')
PROXY_VARIABLES = ('http_proxy', 'https_proxy', 'all_proxy', 'no_proxy',
                   'HTTP_PROXY', 'HTTPS_PROXY', 'ALL_PROXY', 'NO_PROXY')


def answer(text, calls=None):
    message = {'role': 'assistant', 'content': text}
    if calls is not None:
        message['tool_calls'] = calls
    return {'body': {'id': 'chatcmpl-1', 'choices': [{'index': 0, 'message': message, 'finish_reason': 'stop'}]}}


def call(id_, name, arguments):
    return {'id': id_, 'type': 'function', 'function': {'name': name, 'arguments': arguments}}


HTML = '<html><head><title>502 Bad Gateway</title></head><body>' + 'x' * 600 + '</body></html>'

# name: (replies or None for no server, ai settings, question, base URL when there is no server)
SCENARIOS = {
    'native tool calls': ([answer(None, [call('call_1', 'list_nets', '{}'),
                                         call('call_2', 'highlight_net', '{"name": "GND"}')]),
                           answer('GND and VCC are the rails.')], {'api_key': 'sk-test'}, None, None),
    'text tool calls': ([answer('Let me check.\n```tool_call\n{"name": "get_component", '
                                '"arguments": {"ref": "r1"}}\n```'), answer('R1 sets the timing.')],
                        {'tools_mode': 'text'}, None, None),
    'round limit': ([answer(None, [call('c', 'clear_highlight', '{}')])], {'max_tool_rounds': 2}, None, None),
    'HTTP 401': ([{'status': 401, 'body': {'error': {'message': 'Invalid API key', 'type': 'invalid_request_error'}}}],
                 {'api_key': 'sk-wrong'}, None, None),
    'HTTP 404': ([{'status': 404, 'body': {'error': "model 'x' not found"}}], None, None, None),
    'HTTP 502 page': ([{'status': 502, 'body': HTML, 'content_type': 'text/html'}], None, None, None),
    'HTTP 500 empty': ([{'status': 500, 'body': ''}], None, None, None),
    'no choices': ([{'body': '{"choices": []}'}], None, None, None),
    'bad JSON': ([{'body': '<html>oops</html>'}], None, None, None),
    'empty body': ([{'body': ''}], None, None, None),
    'reply cut short': ([{'body': json.dumps(answer('cut')['body']), 'truncate': True}], None, None, None),
    'connection dropped': ([{'drop': True}], None, None, None),
    'reply too large': ([{'body_repeat': ['b', (32 << 20) + 1]}], {'timeout_sec': 30}, None, None),
    'time-out': ([{'delay': 5, 'body': answer('late')['body']}], {'timeout_sec': 1}, None, None),
    'connection refused': (None, None, None, 'refused'),
    'no provider': (None, None, None, ''),
}


def free_port():
    probe = socket.socket()
    probe.bind(('127.0.0.1', 0))
    port = probe.getsockname()[1]
    probe.close()
    return port


def run(command, replies, ai, question, base_url, to_settings_path):
    """One --ask run; returns (exit status, stdout, stderr, requests, seconds)."""
    tmp = tempfile.mkdtemp(prefix='netloom_wine_ask_')
    path = lambda name: os.path.join(tmp, name)
    server = None
    try:
        if replies is not None:
            with open(path('script.json'), 'w', encoding='utf-8') as f:
                json.dump(replies, f)
            server = subprocess.Popen([sys.executable, SERVER, '--script', path('script.json'), '--record',
                                       path('requests.json'), '--port-file', path('port'), '--lifetime', '300'],
                                      stdin=subprocess.DEVNULL)
            for _ in range(1000):
                if os.path.exists(path('port')):
                    break
                time.sleep(0.02)
            with open(path('port'), encoding='utf-8') as f:
                base_url = 'http://127.0.0.1:%d/v1' % int(f.read())
        settings = {'base_url': base_url, 'api_key': '', 'model': 'test-model'}
        settings.update(ai or {})
        with open(path('settings.json'), 'w', encoding='utf-8') as f:
            json.dump({'ai': settings}, f)
        env = {k: v for k, v in os.environ.items() if k not in PROXY_VARIABLES}
        env['NETLOOM_SETTINGS'] = to_settings_path(path('settings.json'))
        started = time.monotonic()
        done = subprocess.run(command + ['--ask', 'sample', question or 'What is on this board?'],
                              capture_output=True, timeout=120, env=env)
        seconds = time.monotonic() - started
        requests = []
        if server is not None:
            server.kill()
            server.wait()
            server = None
            if os.path.exists(path('requests.json')):
                with open(path('requests.json'), encoding='utf-8') as f:
                    requests = json.load(f)
        return done.returncode, done.stdout, done.stderr, requests, seconds, base_url
    finally:
        if server is not None:
            server.kill()
            server.wait()
        shutil.rmtree(tmp, ignore_errors=True)


def windows_path(path):
    return 'Z:' + path.replace('/', '\\')


def text(out, program, base_url):
    # The no-provider hint names the program as it was started (Wine starts
    # it by its Windows path); the messages name the base URL, a new port for
    # each run.
    s = out.decode('utf-8', 'replace').replace('\r\n', '\n')
    s = s.replace(windows_path(program), '<netloom>').replace(program, '<netloom>')
    return s.replace(base_url, '<base url>') if base_url else s


def request_view(r):
    headers = {}
    for name, value in r['headers']:
        if name.lower() in COMPARED_HEADERS:
            headers.setdefault(name.lower(), value)
    return {'method': r['method'], 'path': r['path'], 'body': r['body'], 'headers': headers}


def main():
    if len(sys.argv) < 3:
        sys.stderr.write(__doc__)
        return 2
    exe, native = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])
    probe = subprocess.run(['bash', RUNNER, exe, '--help'], capture_output=True, stdin=subprocess.DEVNULL,
                           timeout=600)
    if probe.returncode == 77:
        print(probe.stdout.decode().strip())
        return 77
    problems = 0
    # What starting a program under Wine costs on this machine (a fraction of a
    # second, or 20 s where Wine's services start slowly), taken off the
    # time-out's duration: what is checked is that the 1 s time-out is kept
    # rather than the server's 5 s delay waited out.
    start_cost = None
    timeout_took = None
    for name, (replies, ai, question, base_url) in SCENARIOS.items():
        if base_url == 'refused':
            base_url = 'http://127.0.0.1:%d/v1/' % free_port()
        a = run([native], replies, ai, question, base_url, lambda p: p)
        b = run(['bash', RUNNER, exe], replies, ai, question, base_url, windows_path)
        differences = []
        if a[0] != b[0]:
            differences.append('exit %d vs %d' % (a[0], b[0]))
        for label, i in (('output', 1), ('messages', 2)):
            linux, windows = text(a[i], native, a[5]), text(b[i], exe, b[5])
            if linux != windows:
                differences.append('%s differ:\n    Linux:   %r\n    Windows: %r' % (label, linux[:400], windows[:400]))
        ra, rb = [request_view(r) for r in a[3]], [request_view(r) for r in b[3]]
        if ra != rb:
            differences.append('requests differ:\n    Linux:   %s\n    Windows: %s' % (json.dumps(ra)[:600],
                                                                                  json.dumps(rb)[:600]))
        if name == 'time-out':
            timeout_took = b[4]
        elif start_cost is None or b[4] < start_cost:
            start_cost = b[4]
        if differences:
            problems += 1
            print('FAIL %s: %s' % (name, '; '.join(differences)))
        else:
            print('ok   %s' % name)
    if timeout_took is not None and timeout_took - (start_cost or 0) > 4.5:
        problems += 1
        print('FAIL time-out: the time-out took %.1f s, starting a program %.1f s' % (timeout_took, start_cost or 0))
    print('%d scenarios compared, %d differ' % (len(SCENARIOS), problems))
    return 1 if problems else 0


if __name__ == '__main__':
    sys.exit(main())

#!/usr/bin/env python3
"""`netloom --ask sample` against tests/fixtures/fake_chat_server.py: printed text, exit status, requests."""

import json, os, socket, subprocess, sys, tempfile, time

SERVER = os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "fixtures", "fake_chat_server.py")
NETLOOM = os.path.abspath(sys.argv[1])
failures = []


def check(condition, what):
    if not condition:
        failures.append(what)
        print("FAIL: " + what)


def answer(text, calls=None):
    message = {"role": "assistant", "content": text}
    if calls is not None:
        message["tool_calls"] = calls
    return {"body": {"id": "chatcmpl-1", "choices": [{"index": 0, "message": message, "finish_reason": "stop"}]}}


def call(id_, name, arguments):
    return {"id": id_, "type": "function", "function": {"name": name, "arguments": arguments}}


class Run:
    # One --ask run; `replies` None means no server at all.

    def __init__(self, replies, ai=None, question=b"What is on this board?", base_url=None):
        tmp = tempfile.mkdtemp(prefix="netloom_ask_")
        path = lambda name: os.path.join(tmp, name)
        self.requests, server = [], None
        if replies is not None:
            with open(path("script.json"), "w", encoding="utf-8") as f:
                json.dump(replies, f)
            server = subprocess.Popen([sys.executable, SERVER, "--script", path("script.json"), "--record",
                                       path("requests.json"), "--port-file", path("port"), "--lifetime", "120"])
            for _ in range(1000):
                if os.path.exists(path("port")):
                    break
                time.sleep(0.02)
            with open(path("port"), encoding="utf-8") as f:
                base_url = "http://127.0.0.1:%d/v1" % int(f.read())
        self.base_url = base_url
        with open(path("settings.json"), "w", encoding="utf-8") as f:
            json.dump({"ai": dict({"base_url": base_url, "api_key": "", "model": "test-model"}, **(ai or {}))}, f)
        started = time.monotonic()
        done = subprocess.run([NETLOOM.encode(), b"--ask", b"sample", question], capture_output=True, timeout=60,
                              env=dict(os.environ, NETLOOM_SETTINGS=path("settings.json")))
        self.elapsed = time.monotonic() - started
        self.status, self.out, self.err = (done.returncode, done.stdout.decode("utf-8", "replace"),
                                           done.stderr.decode("utf-8", "replace"))
        if server is not None:
            server.kill()
            server.wait()
            with open(path("requests.json"), encoding="utf-8") as f:
                self.requests = json.load(f)

    def header(self, name):
        return dict((k.lower(), v) for k, v in self.requests[0]["headers"]).get(name.lower())


def native_mode():
    r = Run([answer(None, [call("call_1", "list_nets", "{}"), call("call_2", "highlight_net", '{"name": "GND"}')]),
             answer("GND and VCC are the rails.")], ai={"api_key": "sk-test"})
    check(r.status == 0 and r.err == "" and len(r.requests) == 2, "native: exit %d, %r" % (r.status, r.err))
    check(r.out == '  [calling list_nets({})]\n  [calling highlight_net({"name":"GND"})]\n'
                   '  [view: highlight_net net#0]\nGND and VCC are the rails.\n', "native: printed %r" % r.out)
    first = r.requests[0]
    check(first["path"] == "/v1/chat/completions" and r.header("Authorization") == "Bearer sk-test"
          and r.header("Content-Type") == "application/json", "native: endpoint and headers")
    check(first["body"] == json.dumps(first["json"], separators=(",", ":"), sort_keys=True, ensure_ascii=False),
          "native: body compact with sorted keys")
    check(len(first["json"]["tools"]) == 17 and "Current schematic:\n" in first["json"]["messages"][0]["content"],
          "native: tools and summary offered")
    msgs = r.requests[-1]["json"]["messages"]
    check(len(msgs) == 5 and json.loads(msgs[4]["content"]) == {"highlighted": "net GND", "ok": True},
          "native: both tool results sent back")


def text_mode():
    block = 'Let me check.\n```tool_call\n{"name": "get_component", "arguments": {"ref": "r1"}}\n```'
    r = Run([answer(block), answer("R1 sets the timing.")], ai={"tools_mode": "text"})
    check(r.status == 0 and r.out == '  [calling get_component({"ref":"r1"})]\nR1 sets the timing.\n',
          "text: printed %r %r" % (r.out, r.err))
    check(len(r.requests) == 2 and r.header("Authorization") is None, "text: no Authorization without a key")
    check(r.requests[-1]["json"]["messages"][3]["content"].startswith('TOOL_RESULT: {"json":{'),
          "text: result as a user message")


def round_limit():
    r = Run([answer(None, [call("c", "clear_highlight", "{}")])], ai={"max_tool_rounds": 2})
    check(r.status == 1 and len(r.requests) == 2
          and r.out == "  [calling clear_highlight({})]\n  [view: clear_highlight]\n" * 2, "limit: exit %d after %d requests, printed %r" % (r.status, len(r.requests), r.out))
    check(r.err == "Error: Stopped after 2 tool-call rounds without a final answer.\n", "limit: %r" % r.err)


def failures_from_the_server():
    html = "<html><head><title>502 Bad Gateway</title></head><body>" + "x" * 600 + "</body></html>"
    cases = [
        ({"status": 401, "body": {"error": {"message": "Invalid API key", "type": "invalid_request_error"}}},
         'Error: Provider returned HTTP 401: {"message":"Invalid API key","type":"invalid_request_error"}\n'),
        ({"status": 404, "body": {"error": "model 'x' not found"}},
         "Error: Provider returned HTTP 404: model 'x' not found\n"),
        ({"status": 502, "body": html, "content_type": "text/html"},
         "Error: Provider returned HTTP 502: " + html[:500] + "\n"),
        ({"body": '{"choices": []}'}, 'Error: Provider response had no choices: {"choices": []}\n'),
        ({"body": "<html>oops</html>"}, "Error: Bad JSON from provider: [json.exception"),
        ({"body": ""}, "Error: Bad JSON from provider: "),
    ]
    for canned, expected in cases:
        r = Run([canned])
        check(r.status == 1 and r.out == "" and len(r.requests) == 1 and r.err.startswith(expected)
              and r.err.count("\n") == 1 and r.err.endswith("\n"), "expected %r, got %r" % (expected[:80], r.err[:200]))


def transport_failures():
    probe = socket.socket()
    probe.bind(("127.0.0.1", 0))
    base = "http://127.0.0.1:%d/v1/" % probe.getsockname()[1]
    probe.close()
    refused = Run(None, base_url=base)
    late = Run([{"delay": 5, "body": {"choices": [{"message": {"content": "late"}}]}}], ai={"timeout_sec": 1})
    for r, what in ((refused, "connection refused"), (late, "timed out")):
        expected = "Error: Request to " + r.base_url + " failed: " + what + "\n"
        check(r.status == 1 and r.out == "" and r.err == expected, "%s: %r" % (what, r.err))
    check(late.elapsed < 4.5, "time-out: gave up after %.1f s" % late.elapsed)


def settings_paths():
    r = Run(None, base_url="")
    check(r.status == 1 and r.err == "No AI provider configured. Run: " + NETLOOM + " --set ai.provider ollama\n",
          "no provider hint: %r" % r.err)
    r = Run([answer("ignored", [call("a", "list_nets", "{}")]), answer("plain")],
            ai={"tools_enabled": False, "model": ""}, question=b"caf\xc3 \xff?")
    check(r.status == 0 and r.out == "ignored\n", "tools off: the first reply is the answer: %r" % r.out)
    body = r.requests[0]["json"] if r.requests else {"messages": [{}, {}]}
    check("tools" not in body and body.get("model") == "default" and body["messages"][1].get("content")
          == "caf\ufffd \ufffd?", "tools off: no tools, default model, invalid UTF-8 replaced: %r" % body)


def main():
    for case in (native_mode, text_mode, round_limit, failures_from_the_server, transport_failures, settings_paths):
        case()
    print("%d failure(s)" % len(failures))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())

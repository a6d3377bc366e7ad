#!/usr/bin/env python3
"""--ask against a scripted local chat-completions server.

Each case starts tests/fixtures/fake_chat_server.py with canned replies, points
a settings file (NETLOOM_SETTINGS) at it, runs `netloom --ask sample "..."`
and checks what was printed, the exit status and the requests the server saw.

    python3 ask_end_to_end.py <path to netloom>
"""

import json
import os
import socket
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
SERVER = os.path.join(ROOT, "tests", "fixtures", "fake_chat_server.py")
NETLOOM = os.path.abspath(sys.argv[1]) if len(sys.argv) > 1 else ""

failures = []


def check(condition, what):
    if not condition:
        failures.append(what)
        print("FAIL: " + what)


def reply(message, finish="stop"):
    return {"body": {"id": "chatcmpl-1", "object": "chat.completion", "model": "m",
                     "choices": [{"index": 0, "message": message, "finish_reason": finish}],
                     "usage": {"prompt_tokens": 1, "completion_tokens": 1}}}


def answer(text):
    return reply({"role": "assistant", "content": text})


def calls(*tool_calls, content=None):
    return reply({"role": "assistant", "content": content, "tool_calls": list(tool_calls)}, "tool_calls")


def call(id_, name, arguments):
    return {"id": id_, "type": "function", "function": {"name": name, "arguments": arguments}}


class Run:
    """One --ask run; `replies` None means no server at all."""

    def __init__(self, replies, ai=None, question="What is on this board?", base_url=None, timeout=60):
        self.dir = tempfile.mkdtemp(prefix="netloom_ask_")
        self.requests = []
        server = None
        if replies is not None:
            script = os.path.join(self.dir, "script.json")
            with open(script, "w", encoding="utf-8") as f:
                json.dump(replies, f)
            record = os.path.join(self.dir, "requests.json")
            port_file = os.path.join(self.dir, "port.txt")
            server = subprocess.Popen([sys.executable, SERVER, "--script", script, "--record", record,
                                       "--port-file", port_file, "--lifetime", "120"])
            deadline = time.monotonic() + 20
            port = None
            while time.monotonic() < deadline and port is None:
                try:
                    with open(port_file, encoding="utf-8") as f:
                        port = int(f.read())
                except (OSError, ValueError):
                    time.sleep(0.02)
            if port is None:
                server.kill()
                raise RuntimeError("the fake server did not start")
            base_url = "http://127.0.0.1:%d/v1" % port
        self.base_url = base_url
        settings = {"ai": dict({"base_url": base_url, "api_key": "", "model": "test-model"}, **(ai or {}))}
        settings_path = os.path.join(self.dir, "settings.json")
        with open(settings_path, "w", encoding="utf-8") as f:
            json.dump(settings, f)
        env = dict(os.environ, NETLOOM_SETTINGS=settings_path)
        args = [NETLOOM.encode(), b"--ask", b"sample", question if isinstance(question, bytes) else question.encode()]
        started = time.monotonic()
        done = subprocess.run(args, env=env, capture_output=True, timeout=timeout)
        self.elapsed = time.monotonic() - started
        self.status = done.returncode
        self.out = done.stdout.decode("utf-8", "replace")
        self.err = done.stderr.decode("utf-8", "replace")
        if server is not None:
            server.kill()
            server.wait()
            with open(record, encoding="utf-8") as f:
                self.requests = json.load(f)

    def header(self, index, name):
        for key, value in self.requests[index]["headers"]:
            if key.lower() == name.lower():
                return value
        return None


def compact_sorted(value):
    return json.dumps(value, separators=(",", ":"), sort_keys=True, ensure_ascii=False)


def native_mode():
    r = Run([calls(call("call_1", "list_nets", "{}"), call("call_2", "highlight_net", '{"name": "GND"}')),
             answer("GND and VCC are the rails.")], ai={"api_key": "sk-test"})
    check(r.status == 0, "native: exit 0 (%d, %r)" % (r.status, r.err))
    check(r.err == "", "native: nothing on stderr: %r" % r.err)
    check(r.out == '  [calling list_nets({})]\n'
                   '  [calling highlight_net({"name":"GND"})]\n'
                   '  [view: highlight_net net#0]\n'
                   'GND and VCC are the rails.\n', "native: printed lines: %r" % r.out)
    check(len(r.requests) == 2, "native: two requests")
    if len(r.requests) != 2:
        return
    first, second = r.requests
    check(first["method"] == "POST" and first["path"] == "/v1/chat/completions", "native: POST to the endpoint")
    check(r.header(0, "Authorization") == "Bearer sk-test", "native: bearer key sent")
    check(r.header(0, "Content-Type") == "application/json", "native: JSON content type")
    check(first["json"] is not None and first["body"] == compact_sorted(first["json"]),
          "native: body compact with sorted keys")
    body = first["json"]
    check(body["model"] == "test-model" and body["stream"] is False and body["tool_choice"] == "auto",
          "native: model, stream, tool_choice")
    check(len(body["tools"]) == 17, "native: seventeen tools offered")
    check(body["messages"][0]["role"] == "system" and "Current schematic:\n" in body["messages"][0]["content"],
          "native: system prompt with the summary")
    check(body["messages"][1] == {"role": "user", "content": "What is on this board?"}, "native: the question")
    msgs = second["json"]["messages"]
    check(len(msgs) == 5, "native: second request holds both tool results")
    if len(msgs) == 5:
        check(msgs[2]["content"] is None and len(msgs[2]["tool_calls"]) == 2, "native: assistant turn with calls")
        check(msgs[3]["role"] == "tool" and msgs[3]["tool_call_id"] == "call_1", "native: first result")
        nets = json.loads(msgs[3]["content"])
        check(nets["count"] == len(nets["nets"]) and nets["count"] > 0, "native: list_nets result")
        check(json.loads(msgs[4]["content"]) == {"highlighted": "net GND", "ok": True}, "native: highlight result")


def text_mode():
    block = 'Let me check.\n```tool_call\n{"name": "get_component", "arguments": {"ref": "r1"}}\n```'
    r = Run([answer(block), answer("R1 sets the timing.")], ai={"tools_mode": "text"})
    check(r.status == 0, "text: exit 0 (%r)" % r.err)
    check(r.out == '  [calling get_component({"ref":"r1"})]\nR1 sets the timing.\n', "text: printed %r" % r.out)
    check(len(r.requests) == 2, "text: two requests")
    if len(r.requests) != 2:
        return
    check(r.header(0, "Authorization") is None, "text: no Authorization without a key")
    body = r.requests[0]["json"]
    check("tools" not in body and "tool_choice" not in body, "text: no tools key")
    check("\n\nYou do not have native function calling." in body["messages"][0]["content"],
          "text: instructions in the system message")
    msgs = r.requests[1]["json"]["messages"]
    check(msgs[2] == {"role": "assistant", "content": block}, "text: the whole reply echoed")
    check(msgs[3]["role"] == "user" and msgs[3]["content"].startswith('TOOL_RESULT: {"json":{'),
          "text: result as a user message: %r" % msgs[3]["content"][:60])


def server_quirks():
    # Ollama-style object arguments, no ids, extra fields, empty content, then
    # an answer with content null in a reply without tool calls.
    odd = reply({"role": "assistant", "content": "", "tool_calls": [
        {"function": {"name": "list_sheets", "arguments": {}}, "index": 0},
        {"type": "function", "function": {"name": "goto_sheet", "arguments": {"sheet": "0"}}},
        {"function": {"name": "trace_path", "arguments": "{broken"}},
        "junk"]}, "tool_calls")
    r = Run([odd, {"body": {"choices": [{"message": {"role": "assistant", "content": None},
                                         "finish_reason": "length"}], "extra": [1, 2]}}])
    check(r.status == 0, "quirks: exit 0 (%r)" % r.err)
    check(r.out == "  [calling list_sheets({})]\n  [calling goto_sheet({\"sheet\":\"0\"})]\n  [view: goto_sheet]\n"
                   "  [calling trace_path({})]\n  [calling ({})]\n\n", "quirks: printed %r" % r.out)
    if len(r.requests) == 2:
        msgs = r.requests[1]["json"]["messages"]
        check([m.get("tool_call_id") for m in msgs[3:]] == ["", "", "", ""], "quirks: missing ids sent empty")
        check(json.loads(msgs[6]["content"]) == {"error": "Unknown tool ''"}, "quirks: nameless call refused")
        check(msgs[2]["tool_calls"][0]["function"]["arguments"] == {}, "quirks: calls echoed as received")


def round_limit():
    r = Run([calls(call("c", "clear_highlight", "{}"))], ai={"max_tool_rounds": 2})
    check(r.status == 1, "limit: exit 1")
    check(len(r.requests) == 2, "limit: two requests (%d)" % len(r.requests))
    check(r.out == "  [calling clear_highlight({})]\n  [view: clear_highlight]\n" * 2, "limit: printed %r" % r.out)
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
        ({"body": '{"object": "chat.completion"}'},
         'Error: Provider response had no choices: {"object": "chat.completion"}\n'),
        ({"body": "<html>oops</html>", "content_type": "text/html"}, "Error: Bad JSON from provider: [json.exception"),
        ({"body": ""}, "Error: Bad JSON from provider: "),
    ]
    for canned, expected in cases:
        r = Run([canned])
        check(r.status == 1, "failure %r: exit 1" % expected[:40])
        check(r.out == "", "failure %r: nothing on stdout: %r" % (expected[:40], r.out))
        check(r.err.startswith(expected) and r.err.endswith("\n") and r.err.count("\n") == 1,
              "failure: expected %r, got %r" % (expected[:80], r.err[:200]))
        check(len(r.requests) == 1, "failure %r: one request" % expected[:40])


def transport_failures():
    probe = socket.socket()
    probe.bind(("127.0.0.1", 0))
    port = probe.getsockname()[1]
    probe.close()
    base = "http://127.0.0.1:%d/v1/" % port
    r = Run(None, base_url=base)
    prefix = "Error: Request to " + base + " failed: request failed (WinINet error "
    check(r.status == 1 and r.err.startswith(prefix) and r.err.endswith(")\n"), "refused: %r" % r.err)

    r = Run([{"delay": 5, "body": {"choices": [{"message": {"content": "late"}}]}}], ai={"timeout_sec": 1})
    check(r.status == 1, "time-out: exit 1")
    check(r.err.startswith("Error: Request to " + r.base_url + " failed: request failed (WinINet error "),
          "time-out: %r" % r.err)
    check(r.elapsed < 4.5, "time-out: gave up after %.1f s" % r.elapsed)
    check(r.out == "", "time-out: nothing printed")


def settings_paths():
    r = Run(None, base_url="")
    check(r.status == 1, "no provider: exit 1")
    check(r.err == "No AI provider configured. Run: " + NETLOOM + " --set ai.provider ollama\n",
          "no provider hint: %r" % r.err)

    r = Run([calls(call("a", "list_nets", "{}"), content="ignored"), answer("plain")],
            ai={"tools_enabled": False, "model": ""}, question=b"caf\xc3 \xff?")
    check(r.status == 0 and r.out == "ignored\n", "tools off: the first reply is the answer: %r" % r.out)
    if r.requests:
        body = r.requests[0]["json"]
        check("tools" not in body and body["model"] == "default", "tools off: no tools, default model")
        check(body["messages"][1]["content"] == "caf\ufffd \ufffd?", "invalid UTF-8 replaced: %r"
              % body["messages"][1]["content"])


def main():
    if not NETLOOM or not os.path.exists(NETLOOM):
        print("usage: ask_end_to_end.py <netloom>")
        return 2
    if not os.path.exists(SERVER):
        print("SKIP: no fake chat server fixture")
        return 77
    for case in (native_mode, text_mode, server_quirks, round_limit, failures_from_the_server,
                 transport_failures, settings_paths):
        case()
    print("%d failure(s)" % len(failures))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())

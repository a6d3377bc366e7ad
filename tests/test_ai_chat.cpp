#include <gtest/gtest.h>

#include <deque>
#include <string>
#include <vector>

#include "ai_chat.h"

using namespace nl;
using nlohmann::json;

namespace {

struct Request {
    std::string url;
    std::string body;
    json parsed;
    std::vector<std::string> headers;
    int timeout = 0;
};

// A scripted provider and a recording tool runner. Requests past the script
// get a plain "done" answer so a runaway loop shows up as extra requests.
struct Fake {
    std::deque<HttpResponse> script;
    std::vector<Request> requests;
    std::vector<std::pair<std::string, std::string>> toolCalls;
    std::vector<ChatEvent> events;

    ChatBackend backend() {
        ChatBackend b;
        b.post = [this](const std::string& url, const std::string& body, const std::vector<std::string>& headers,
                        int timeout) {
            requests.push_back({url, body, json::parse(body), headers, timeout});
            if (script.empty()) return HttpResponse{200, R"({"choices":[{"message":{"content":"done"}}]})", ""};
            HttpResponse r = script.front();
            script.pop_front();
            return r;
        };
        b.run_tool = [this](ToolContext&, const std::string& name, const std::string& args) -> json {
            toolCalls.emplace_back(name, args);
            if (name == "explode") throw std::runtime_error("boom");
            return {{"ran", name}};
        };
        return b;
    }

    ChatResult send(const AiSettings& ai, std::vector<ChatMessage>& conversation, const std::string& text) {
        ToolContext context;
        AiChat chat(ai, context, backend());
        return chat.send(conversation, text, [this](const ChatEvent& e) { events.push_back(e); });
    }

    std::vector<std::string> kinds() const {
        std::vector<std::string> k;
        for (const ChatEvent& e : events) k.push_back(e.kind);
        return k;
    }
};

HttpResponse ok(const json& message) {
    json body = {{"id", "x"}, {"choices", {{{"index", 0}, {"message", message}, {"finish_reason", "tool_calls"}}}}};
    return {200, body.dump(), ""};
}

HttpResponse text(const std::string& content) { return ok({{"role", "assistant"}, {"content", content}}); }

json call(const std::string& id, const std::string& name, const json& arguments) {
    return {{"id", id}, {"type", "function"}, {"function", {{"name", name}, {"arguments", arguments}}}};
}

HttpResponse toolCalls(const json& calls, const json& content = nullptr) {
    return ok({{"role", "assistant"}, {"content", content}, {"tool_calls", calls}});
}

AiSettings settings() {
    AiSettings ai;
    ai.base_url = "http://127.0.0.1:9/v1";
    ai.api_key.clear();
    ai.model = "m";
    return ai;
}

}  // namespace

TEST(AiChat, RequestAddressHeadersAndBody) {
    Fake f;
    AiSettings ai = settings();
    ai.base_url = "http://host:1/v1///";
    ai.model.clear();
    ai.timeout_sec = 42;
    std::vector<ChatMessage> conv;
    ChatResult r = f.send(ai, conv, "hi");
    ASSERT_TRUE(r.ok);
    ASSERT_EQ(f.requests.size(), 1u);
    const Request& q = f.requests[0];
    EXPECT_EQ(q.url, "http://host:1/v1/chat/completions");
    EXPECT_TRUE(q.headers.empty());  // no key, no Authorization
    EXPECT_EQ(q.timeout, 42);
    EXPECT_EQ(q.body, q.parsed.dump());  // compact, keys in ascending order
    EXPECT_EQ(q.body.rfind("{\"max_tokens\":1500,\"messages\":[{\"content\":", 0), 0u);
    EXPECT_EQ(q.parsed["model"], "default");
    EXPECT_TRUE(q.parsed["temperature"].is_number_float());
    EXPECT_DOUBLE_EQ(q.parsed["temperature"].get<double>(), 0.2);
    EXPECT_EQ(q.parsed["stream"], false);
    EXPECT_EQ(q.parsed["tool_choice"], "auto");
    EXPECT_EQ(q.parsed["tools"].size(), 17u);
    EXPECT_EQ(q.parsed["messages"][0]["role"], "system");
    EXPECT_EQ(q.parsed["messages"][1], json({{"role", "user"}, {"content", "hi"}}));

    Fake g;
    ai.api_key = "sk-1";
    ai.disabled_tools = {"open_sample", "Search"};  // exact names only
    ai.model = "qwen3";
    std::vector<ChatMessage> conv2;
    g.send(ai, conv2, "hi");
    ASSERT_EQ(g.requests.size(), 1u);
    EXPECT_EQ(g.requests[0].headers, std::vector<std::string>{"Authorization: Bearer sk-1"});
    EXPECT_EQ(g.requests[0].parsed["tools"].size(), 16u);
    EXPECT_EQ(g.requests[0].parsed["model"], "qwen3");

    Fake h;
    ai.tools_enabled = false;
    h.script = {toolCalls(json::array({call("a", "list_nets", "{}")}), "plain")};
    std::vector<ChatMessage> conv3;
    ChatResult r3 = h.send(ai, conv3, "hi");
    EXPECT_FALSE(h.requests[0].parsed.contains("tools"));
    EXPECT_FALSE(h.requests[0].parsed.contains("tool_choice"));
    EXPECT_TRUE(h.toolCalls.empty());  // tools off: a reply with calls is the answer
    EXPECT_TRUE(r3.ok);
    EXPECT_EQ(h.events[0].text, "plain");
}

TEST(AiChat, NativeToolRoundCarriesCallsAndResults) {
    Fake f;
    f.script = {toolCalls(json::array({call("c1", "list_nets", R"({"limit":2})"), call("c2", "get_bom", "")})),
                text("two nets")};
    std::vector<ChatMessage> conv;
    ChatResult r = f.send(settings(), conv, "q");
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(f.kinds(),
              (std::vector<std::string>{"tool_call", "tool_result", "tool_call", "tool_result", "text", "done"}));
    EXPECT_EQ(f.events[0].tool, "list_nets");
    EXPECT_EQ(f.events[0].args, json({{"limit", 2}}));
    EXPECT_EQ(f.events[1].result, json({{"ran", "list_nets"}}));
    EXPECT_EQ(f.events[2].args, json::object());  // empty arguments text
    EXPECT_EQ(f.toolCalls[1], (std::pair<std::string, std::string>{"get_bom", ""}));
    EXPECT_EQ(f.events[4].text, "two nets");

    ASSERT_EQ(f.requests.size(), 2u);
    const json& msgs = f.requests[1].parsed["messages"];
    ASSERT_EQ(msgs.size(), 5u);  // system, user, assistant with both calls, two tool messages
    EXPECT_TRUE(msgs[2]["content"].is_null());
    EXPECT_EQ(msgs[2]["tool_calls"].size(), 2u);
    EXPECT_EQ(msgs[3], json({{"role", "tool"}, {"tool_call_id", "c1"}, {"content", R"({"ran":"list_nets"})"}}));
    EXPECT_EQ(msgs[4]["tool_call_id"], "c2");
    EXPECT_FALSE(msgs[4].contains("name"));  // the tool name is kept locally only

    ASSERT_EQ(r.messages.size(), 6u);
    EXPECT_EQ(r.messages[3].name, "list_nets");
    EXPECT_EQ(r.messages[5].content, "two nets");
    EXPECT_EQ(conv.size(), 6u);

    // A second turn keeps the one system message and re-sends the history.
    Fake g;
    ChatResult r2 = g.send(settings(), conv, "again");
    ASSERT_TRUE(r2.ok);
    const json& again = g.requests[0].parsed["messages"];
    EXPECT_EQ(again.size(), 7u);
    int systems = 0;
    for (const json& m : again) systems += m["role"] == "system";
    EXPECT_EQ(systems, 1);
}

TEST(AiChat, NativeReplyShapesFromRealServers) {
    Fake f;
    json weird = json::array({
        call("a", "list_nets", json{{"limit", 3}}),             // arguments as an object
        call("b", "get_net", "not json"),                       // unparsable arguments
        {{"type", "function"}, {"function", {{"name", "x"}}}},  // no id, no arguments
        "not an object",                                        // element of the wrong type
        {{"id", 7}, {"function", "nope"}},                      // function of the wrong type
        {{"id", "e"}, {"function", {{"name", 5}, {"arguments", 5}}}, {"extra", true}},
    });
    f.script = {toolCalls(weird, ""), ok({{"content", nullptr}}), text("fin")};
    std::vector<ChatMessage> conv;
    ChatResult r = f.send(settings(), conv, "q");
    ASSERT_EQ(f.toolCalls.size(), 6u);
    EXPECT_EQ(f.toolCalls[0].second, R"({"limit":3})");
    EXPECT_EQ(f.toolCalls[1].second, "not json");
    EXPECT_EQ(f.events[2].args, json::object());
    EXPECT_EQ(f.toolCalls[2], (std::pair<std::string, std::string>{"x", "{}"}));
    EXPECT_EQ(f.toolCalls[3], (std::pair<std::string, std::string>{"", "{}"}));
    EXPECT_EQ(f.toolCalls[5], (std::pair<std::string, std::string>{"", "{}"}));
    const json& msgs = f.requests[1].parsed["messages"];
    EXPECT_EQ(msgs[2]["tool_calls"], weird);  // echoed exactly as sent
    EXPECT_EQ(msgs[5]["tool_call_id"], "");
    // A null content with no calls is an empty answer, not a failure.
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(f.requests.size(), 2u);
    EXPECT_EQ(r.messages.back().content, "");

    // choices as an object, message missing, a fenced block in native mode.
    Fake g;
    g.script = {{200, R"({"choices":{"0":{"finish_reason":"length"}}})", ""}};
    std::vector<ChatMessage> c2;
    EXPECT_TRUE(g.send(settings(), c2, "q").ok);
    Fake h;
    h.script = {text("Sure:\n```tool_call\n{\"name\":\"list_nets\"}\n```")};
    std::vector<ChatMessage> c3;
    ChatResult r3 = h.send(settings(), c3, "q");
    EXPECT_TRUE(r3.ok);
    EXPECT_TRUE(h.toolCalls.empty());
    EXPECT_EQ(h.events[0].text, "Sure:\n```tool_call\n{\"name\":\"list_nets\"}\n```");

    // A tool that throws becomes an error result; the turn goes on.
    Fake k;
    k.script = {toolCalls(json::array({call("z", "explode", "{}")})), text("ok")};
    std::vector<ChatMessage> c4;
    EXPECT_TRUE(k.send(settings(), c4, "q").ok);
    EXPECT_EQ(k.events[1].result["error"], "Tool 'explode' failed: boom");
}

TEST(AiChat, TextModeProtocol) {
    AiSettings ai = settings();
    ai.tools_mode = "text";
    Fake f;
    const std::string reply = "Let me look.\n```tool_call\n{\"name\":\"list_nets\"}\n```";
    f.script = {text(reply),
                text("```tool_call\n{\"name\": \"get_net\", \"arguments\": {\"name\": \"GND\"}}\n``` "
                     "and\n```tool_call\n{\"name\":\"get_bom\"}\n```"),
                text("```tool_call\n{not json}\n```")};
    std::vector<ChatMessage> conv;
    ChatResult r = f.send(ai, conv, "q");
    ASSERT_TRUE(r.ok);
    ASSERT_EQ(f.toolCalls.size(), 2u);  // only the first block of a reply runs
    EXPECT_EQ(f.toolCalls[0], (std::pair<std::string, std::string>{"list_nets", "{}"}));
    EXPECT_EQ(f.toolCalls[1], (std::pair<std::string, std::string>{"get_net", R"({"name":"GND"})"}));
    EXPECT_EQ(f.events.back().kind, "done");
    EXPECT_EQ(f.events[f.events.size() - 2].text, "```tool_call\n{not json}\n```");

    ASSERT_EQ(f.requests.size(), 3u);
    const json& first = f.requests[0].parsed;
    EXPECT_FALSE(first.contains("tools"));
    EXPECT_FALSE(first.contains("tool_choice"));
    const std::string system = first["messages"][0]["content"];
    EXPECT_NE(system.find("\n\nYou do not have native function calling."), std::string::npos);
    EXPECT_NE(system.find("\n- goto_sheet: Switch the viewer to a different sheet in a hierarchical design. "
                          "Parameters (JSON schema): {\"properties\":{\"sheet\":"),
              std::string::npos);
    EXPECT_NE(system.find("- open_sample: "), std::string::npos);
    EXPECT_EQ(conv[0].content.find("You do not have native"), std::string::npos);  // stored prompt unchanged

    const json& second = f.requests[1].parsed["messages"];
    ASSERT_EQ(second.size(), 4u);
    EXPECT_EQ(second[2], json({{"role", "assistant"}, {"content", reply}}));
    EXPECT_EQ(second[3], json({{"role", "user"}, {"content", R"(TOOL_RESULT: {"ran":"list_nets"})"}}));

    // A block whose name is not text is no call; neither is one without "name".
    Fake g;
    g.script = {text("```tool_call\n{\"name\": 3}\n```")};
    std::vector<ChatMessage> c2;
    EXPECT_TRUE(g.send(ai, c2, "q").ok);
    EXPECT_TRUE(g.toolCalls.empty());
    // Native calls are ignored in text mode.
    Fake h;
    h.script = {toolCalls(json::array({call("a", "list_nets", "{}")}), "answer")};
    std::vector<ChatMessage> c3;
    EXPECT_TRUE(h.send(ai, c3, "q").ok);
    EXPECT_TRUE(h.toolCalls.empty());
}

TEST(AiChat, ToolCallBlockMatching) {
    EXPECT_EQ(findToolCallBlock("```tool_call\n{}\n```"), "{}\n");
    EXPECT_EQ(findToolCallBlock("x```tool_call \t\r\n\n  {\"a\":1}```y"), "  {\"a\":1}");
    EXPECT_EQ(findToolCallBlock("```tool_call {}```"), std::nullopt);  // no line break after the tag
    EXPECT_EQ(findToolCallBlock("```tool_callx\n```tool_call\nB```"), "B");
    EXPECT_EQ(findToolCallBlock("```tool_call\nno end"), std::nullopt);
    EXPECT_EQ(findToolCallBlock("plain text"), std::nullopt);
    // Long blocks and long unterminated runs must neither crash nor be lost.
    std::string big(300000, 'a');
    EXPECT_EQ(findToolCallBlock("```tool_call\n" + big + "```")->size(), big.size());
    EXPECT_EQ(findToolCallBlock("```tool_call\n" + big), std::nullopt);
}

TEST(AiChat, RoundLimit) {
    auto endless = [] {
        Fake f;
        for (int i = 0; i < 20; ++i) f.script.push_back(toolCalls(json::array({call("a", "list_nets", "{}")})));
        return f;
    };
    AiSettings ai = settings();
    ai.max_tool_rounds = 3;
    Fake f = endless();
    std::vector<ChatMessage> conv;
    ChatResult r = f.send(ai, conv, "q");
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.error, "Stopped after 3 tool-call rounds without a final answer.");
    EXPECT_EQ(f.requests.size(), 3u);
    EXPECT_EQ(f.toolCalls.size(), 3u);  // the last round's tools still run
    EXPECT_EQ(f.events.back().kind, "error");
    EXPECT_TRUE(r.messages.empty());
    EXPECT_EQ(conv.size(), 2u + 3u * 2u);  // completed exchanges stay

    for (int limit : {0, -2}) {
        ai.max_tool_rounds = limit;
        Fake g = endless();
        std::vector<ChatMessage> c;
        EXPECT_EQ(g.send(ai, c, "q").error,
                  "Stopped after " + std::to_string(limit) + " tool-call rounds without a final answer.");
        EXPECT_EQ(g.requests.size(), 1u);
    }
}

TEST(AiChat, TurnFailures) {
    struct Case {
        HttpResponse response;
        std::string error;
    };
    const std::string html = "<html>" + std::string(600, 'x') + "</html>";
    const std::string noChoices = R"({"choices":[],"pad":")" + std::string(400, 'p') + "\"}";
    const std::vector<Case> cases = {
        {{0, "", "request failed (WinINet error 7)"},
         "Request to http://127.0.0.1:9/v1 failed: request failed (WinINet error 7)"},
        {{401, R"({"error":{"message":"bad key","code":401}})", ""},
         R"(Provider returned HTTP 401: {"code":401,"message":"bad key"})"},
        {{429, R"({"error":"slow down"})", ""}, "Provider returned HTTP 429: slow down"},
        {{502, html, ""}, "Provider returned HTTP 502: " + html.substr(0, 500)},
        {{500, R"(["error"])", ""}, R"(Provider returned HTTP 500: ["error"])"},
        {{0, "", ""}, "Provider returned HTTP 0: "},
        {{200, noChoices, ""}, "Provider response had no choices: " + noChoices.substr(0, 300)},
        {{200, R"({"choices":null})", ""}, R"(Provider response had no choices: {"choices":null})"},
        {{200, R"({"choices":"x"})", ""}, R"(Provider response had no choices: {"choices":"x"})"},
        {{200, R"({"choices":[3]})", ""}, R"(Provider response had no choices: {"choices":[3]})"},
        {{200, R"([1])", ""}, "Provider response had no choices: [1]"},
        {{200, "", ""}, "Bad JSON from provider: "},
        {{200, "{\"choices\":[", ""}, "Bad JSON from provider: "},
        {{200, std::string(100000, '['), ""}, "Bad JSON from provider: nesting deeper than 512 levels"},
    };
    for (const Case& c : cases) {
        Fake f;
        f.script = {c.response};
        std::vector<ChatMessage> conv;
        ChatResult r = f.send(settings(), conv, "q");
        EXPECT_FALSE(r.ok);
        EXPECT_EQ(r.error.substr(0, c.error.size()), c.error) << c.response.body.substr(0, 80);
        EXPECT_EQ(f.kinds(), std::vector<std::string>{"error"});  // and no "done"
        EXPECT_EQ(f.events[0].text, r.error);
        EXPECT_EQ(conv.size(), 2u);  // system and user stay for the next turn
    }
    Fake f;
    f.script = {{200, "nope", ""}};
    std::vector<ChatMessage> conv;
    EXPECT_NE(f.send(settings(), conv, "q").error.find("parse error"), std::string::npos);

    // No provider: nothing is sent and the conversation is left alone.
    Fake g;
    AiSettings ai = settings();
    ai.base_url.clear();
    std::vector<ChatMessage> untouched;
    ChatResult r = g.send(ai, untouched, "q");
    EXPECT_EQ(r.error, "No AI provider configured. Open Settings and pick a provider.");
    EXPECT_TRUE(untouched.empty());
    EXPECT_TRUE(g.requests.empty());
}

TEST(AiChat, InvalidUtf8IsSentReplaced) {
    Fake f;
    f.script = {toolCalls(json::array({call("a", "list_nets", "{}")})), text("ok")};
    ChatBackend backend = f.backend();
    backend.run_tool = [](ToolContext&, const std::string&, const std::string&) -> json {
        return {{"name", std::string("R\xff\xfe")}};
    };
    ToolContext context;
    const AiSettings ai = settings();  // the engine keeps a reference
    AiChat chat(ai, context, backend);
    std::vector<ChatMessage> conv;
    ChatResult r = chat.send(conv, std::string("caf\xc3"), {});
    ASSERT_TRUE(r.ok);
    ASSERT_EQ(f.requests.size(), 2u);
    const std::string& body = f.requests[1].body;
    EXPECT_NE(body.find("caf\xEF\xBF\xBD"), std::string::npos);
    EXPECT_NE(body.find("R\xEF\xBF\xBD\xEF\xBF\xBD"), std::string::npos);
}

TEST(AiChat, QuickAskUsesTheGivenPrompt) {
    Fake f;
    f.script = {toolCalls(json::array({call("a", "list_nets", "{}")}), "thinking "), text("answer")};
    ToolContext context;
    std::string answer = quickAsk(settings(), context, "Be brief.", "q?", f.backend());
    EXPECT_EQ(answer, "answer");
    ASSERT_EQ(f.requests.size(), 2u);
    EXPECT_EQ(f.requests[0].parsed["messages"][0], json({{"role", "system"}, {"content", "Be brief."}}));
    EXPECT_EQ(f.requests[0].parsed["messages"][1]["content"], "q?");
    EXPECT_EQ(f.requests[1].parsed["messages"][2]["content"], "thinking ");

    Fake g;
    g.script = {{500, "down", ""}};
    EXPECT_EQ(quickAsk(settings(), context, "p", "q", g.backend()), "");
}

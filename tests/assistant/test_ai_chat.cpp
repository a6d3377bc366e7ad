#include <gtest/gtest.h>

#include <algorithm>
#include <deque>

#include "assistant/ai_chat.h"

using namespace nl;
using nlohmann::json;
using Strings = std::vector<std::string>;

namespace {

struct Request {
    std::string url, body;
    Strings headers;
    int timeout;
    json parsed;
};

// A scripted provider and a recording tool runner. Requests past the script
// get a plain "done" answer so a runaway loop shows up as extra requests.
struct Fake {
    std::deque<HttpResponse> script;
    std::vector<Request> requests;
    std::string ran;  // "name(arguments) " per tool call
    std::vector<ChatEvent> events;
    std::vector<ChatMessage> conv;

    explicit Fake(std::deque<HttpResponse> s = {}) : script(std::move(s)) {}
    ChatBackend backend() {
        ChatBackend b;
        b.post = [this](const std::string& url, const std::string& body, const Strings& headers, int timeout) {
            requests.push_back({url, body, headers, timeout, json::parse(body)});
            if (script.empty()) return HttpResponse{200, R"({"choices":[{"message":{"content":"done"}}]})", ""};
            HttpResponse r = script.front();
            script.pop_front();
            return r;
        };
        b.run_tool = [this](ToolContext&, const std::string& name, const std::string& args) -> json {
            ran += name + "(" + args + ") ";
            if (name == "explode") throw std::runtime_error("boom");
            return {{"ran", name == "bytes" ? std::string("R\xff\xfe") : name}};
        };
        return b;
    }
    ChatResult send(const AiSettings& ai, const std::string& text = "q") {
        ToolContext context;
        AiChat chat(ai, context, backend());
        return chat.send(conv, text, [this](const ChatEvent& e) { events.push_back(e); });
    }
    std::string kinds() const {
        std::string k;
        for (const ChatEvent& e : events) k += e.kind + " ";
        return k;
    }
};

HttpResponse ok(const json& message) { return {200, json{{"choices", {{{"message", message}}}}}.dump(), ""}; }
HttpResponse text(const std::string& content) { return ok({{"role", "assistant"}, {"content", content}}); }
json call(const std::string& id, const std::string& name, const json& arguments) {
    return {{"id", id}, {"type", "function"}, {"function", {{"name", name}, {"arguments", arguments}}}};
}
HttpResponse toolCalls(const json& calls, const json& content = nullptr) {
    return ok({{"role", "assistant"}, {"content", content}, {"tool_calls", calls}});
}

AiSettings settings(const std::string& mode = "auto") {
    AiSettings ai;
    ai.base_url = "http://127.0.0.1:9/v1";
    ai.tools_mode = mode;
    return ai;
}

}  // namespace

TEST(AiChat, NativeRoundWithSeveralCalls) {
    AiSettings ai = settings();
    ai.base_url = "http://host:1/v1///";
    ai.timeout_sec = 42;
    ai.api_key = "sk-1";
    ai.disabled_tools = {"open_sample", "Search"};  // exact names only
    Fake f({toolCalls(json::array({call("c1", "list_nets", R"({"limit":2})"), call("c2", "get_bom", "")})),
            text("two nets")});
    ASSERT_TRUE(f.send(ai).ok);
    ASSERT_EQ(f.requests.size(), 2u);
    const Request& q = f.requests[0];
    EXPECT_EQ(q.url, "http://host:1/v1/chat/completions");
    EXPECT_EQ(q.headers, Strings{"Authorization: Bearer sk-1"});
    EXPECT_EQ(q.timeout, 42);
    EXPECT_EQ(q.body, q.parsed.dump());  // compact, keys in ascending order
    EXPECT_EQ(q.parsed["tools"].size(), 16u);
    EXPECT_EQ(f.kinds(), "tool_call tool_result tool_call tool_result text done ");
    EXPECT_EQ(f.events[2].args, json::object());  // empty arguments text
    const json& msgs = f.requests[1].parsed["messages"];
    ASSERT_EQ(msgs.size(), 5u);
    EXPECT_EQ(msgs[3], json({{"role", "tool"}, {"tool_call_id", "c1"}, {"content", R"({"ran":"list_nets"})"}}));
    EXPECT_FALSE(msgs[4].contains("name"));  // the tool name is kept locally only
    EXPECT_EQ(f.conv.size(), 6u);

    // A second turn re-sends the history without a second system message.
    Fake g;
    g.conv = f.conv;
    ASSERT_TRUE(g.send(ai, "again").ok);
    EXPECT_EQ(g.requests[0].parsed["messages"].size(), 7u);

    // A one-question conversation under the caller's prompt answers with the text alone.
    Fake k({toolCalls(json::array({call("a", "list_nets", "{}")}), "thinking "), text("answer")});
    ToolContext context;
    EXPECT_EQ(quickAsk(ai, context, "Be brief.", "q?", k.backend()), "answer");
    EXPECT_EQ(k.requests.at(0).parsed["messages"][0], json({{"role", "system"}, {"content", "Be brief."}}));
}

TEST(AiChat, ProviderReplyQuirks) {
    json weird = json::array({
        call("a", "list_nets", json{{"limit", 3}}),             // arguments as an object
        {{"type", "function"}, {"function", {{"name", "x"}}}},  // no id, no arguments
        "not an object",
        {{"id", "e"}, {"function", {{"name", 5}, {"arguments", 5}}}},
        call("z", "explode", "{}"),
        call("u", "bytes", "{}"),  // a result with invalid UTF-8
    });
    // Content null with tool calls, then content null without: an empty answer.
    Fake f({toolCalls(weird), ok({{"content", nullptr}})});
    ChatResult r = f.send(settings());
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(f.ran, R"(list_nets({"limit":3}) x({}) ({}) ({}) explode({}) bytes({}) )");
    const json& msgs = f.requests[1].parsed["messages"];
    EXPECT_EQ(msgs[2]["tool_calls"], weird);  // echoed exactly as sent
    EXPECT_EQ(msgs[4]["tool_call_id"], "");
    EXPECT_EQ(f.events[9].result["error"], "Tool 'explode' failed: boom");  // the turn goes on
    EXPECT_EQ(r.messages.back().content, "");
    EXPECT_NE(f.requests[1].body.find("R\xEF\xBF\xBD\xEF\xBF\xBD"), std::string::npos);
}

TEST(AiChat, TextModeProtocol) {
    const std::string reply = "Let me look.\n```tool_call\n{\"name\":\"list_nets\"}\n```";
    Fake f({text(reply),
            text("```tool_call\n{\"name\": \"get_net\", \"arguments\": {\"name\": \"GND\"}}\n``` "
                 "and\n```tool_call\n{\"name\":\"get_bom\"}\n```"),
            text("```tool_call\n{not json}\n```")});
    ASSERT_TRUE(f.send(settings("text")).ok);
    // Only the first block of a reply runs; a malformed block is the answer.
    EXPECT_EQ(f.ran, R"(list_nets({}) get_net({"name":"GND"}) )");
    EXPECT_EQ(f.events[f.events.size() - 2].text, "```tool_call\n{not json}\n```");
    EXPECT_EQ(f.conv[0].content.find("You do not have native"), std::string::npos);  // stored prompt unchanged
    const json& second = f.requests[1].parsed["messages"];
    EXPECT_EQ(second[3], json({{"role", "user"}, {"content", R"(TOOL_RESULT: {"ran":"list_nets"})"}}));

    // A non-text name is no call; native calls are ignored in text mode;
    // a fenced block in native mode is plain text.
    for (auto [mode, response] : std::vector<std::pair<std::string, HttpResponse>>{
             {"text", text("```tool_call\n{\"name\": 3}\n```")},
             {"text", toolCalls(json::array({call("a", "list_nets", "{}")}), "answer")},
             {"native", text(reply)}}) {
        Fake g({response});
        EXPECT_TRUE(g.send(settings(mode)).ok);
        EXPECT_TRUE(g.ran.empty()) << mode;
    }
}

TEST(AiChat, ToolCallBlockMatching) {
    EXPECT_EQ(findToolCallBlock("x```tool_call \t\r\n\n  {\"a\":1}```y"), "  {\"a\":1}");
    EXPECT_EQ(findToolCallBlock("```tool_call {}```"), std::nullopt);  // no line break after the tag
    EXPECT_EQ(findToolCallBlock("```tool_callx\n```tool_call\nB```"), "B");
    // Long blocks and long unterminated runs must neither crash nor be lost.
    std::string big(300000, 'a');
    EXPECT_EQ(findToolCallBlock("```tool_call\n" + big + "```")->size(), big.size());
    EXPECT_EQ(findToolCallBlock("```tool_call\n" + big), std::nullopt);
}

TEST(AiChat, RoundLimitAndFailuresKeepTheConversation) {
    AiSettings ai = settings();
    for (int limit : {3, 0, 100000}) {
        ai.max_tool_rounds = limit;
        Fake f;
        for (int i = 0; i < 60; ++i) f.script.push_back(toolCalls(json::array({call("a", "list_nets", "{}")})));
        ChatResult r = f.send(ai);
        const int used = std::min(limit, kMaxToolRounds);  // a hand-edited file cannot lift the bound
        EXPECT_EQ(r.error, "Stopped after " + std::to_string(used) + " tool-call rounds without a final answer.");
        EXPECT_EQ(f.requests.size(), static_cast<size_t>(std::max(used, 1)));
        EXPECT_EQ(f.events.back().kind, "error");
        EXPECT_EQ(f.conv.size(), 2u + 2u * f.requests.size());  // completed exchanges stay
    }
    for (const HttpResponse& response :
         {HttpResponse{200, std::string(100000, '['), ""}, HttpResponse{500, "down", ""}}) {
        Fake f({response});
        ChatResult r = f.send(settings());
        EXPECT_EQ(f.kinds(), "error ");  // and no "done"
        EXPECT_EQ(f.conv.size(), 2u);    // system and user stay for the next turn
        EXPECT_EQ(r.error.substr(0, 28),
                  response.status == 200 ? "Bad JSON from provider: nest" : "Provider returned HTTP 500: ");
    }
    // No provider: nothing is sent and the conversation is left alone.
    ai.base_url.clear();
    Fake g;
    EXPECT_EQ(g.send(ai).error, "No AI provider configured. Open Settings and pick a provider.");
    EXPECT_TRUE(g.conv.empty());
    EXPECT_TRUE(g.requests.empty());
}

TEST(AiChat, BoundedAgainstAnyServer) {
    // Thousands of calls in one reply: the first 32 run, the rest are dropped
    // from the conversation too, and the user is told.
    json many = json::array();
    for (int i = 0; i < 5000; ++i) many.push_back(call("c" + std::to_string(i), "list_nets", "{}"));
    Fake f({toolCalls(many), text("ok")});
    ASSERT_TRUE(f.send(settings()).ok);
    EXPECT_EQ(std::count(f.ran.begin(), f.ran.end(), '('), 32);
    ASSERT_EQ(f.events[0].kind, "notice");
    EXPECT_EQ(f.events[0].text, "The model asked for 5000 tool calls at once; only the first 32 were run.");
    const json& sent = f.requests[1].parsed["messages"];
    EXPECT_EQ(sent[2]["tool_calls"].size(), 32u);
    EXPECT_EQ(sent.size(), 3u + 32u);

    // A result too large to send back is replaced by a note to the model.
    Fake g({toolCalls(json::array({call("a", "huge", "{}")})), text("ok")});
    ChatBackend b = g.backend();
    b.run_tool = [](ToolContext&, const std::string&, const std::string&) {
        return json{{"items", std::string(kMaxToolResultBytes, 'x')}};
    };
    ToolContext context;
    AiSettings ai = settings();
    ASSERT_TRUE(AiChat(ai, context, b).send(g.conv, "q", [&](const ChatEvent& e) { g.events.push_back(e); }).ok);
    const std::string note = g.requests[1].parsed["messages"][3]["content"];
    EXPECT_EQ(note.rfind(R"({"error":"The result of huge was 262156 bytes, more than the 262144)", 0), 0u) << note;

    // A conversation that outgrew every request size ends the turn.
    Fake h;
    h.conv = {{"system", std::string(kMaxRequestBytes, 's'), "", "", nullptr}};
    EXPECT_EQ(h.send(ai).error.rfind("The conversation has grown to 8 MB, more than the 8 MB a request may hold", 0),
              0u);
    EXPECT_TRUE(h.requests.empty());

    // A time-out of nothing (a hand-edited file) still bounds the wait.
    ai.timeout_sec = 0;
    Fake k;
    k.send(ai);
    EXPECT_EQ(k.requests.at(0).timeout, 1);
}

TEST(AiChat, ServerTextsReachTheUserWithoutEscapes) {
    const std::string evil = "\x1b]0;pwned\x07\x1b[2JHi\x1b[31m!\x1b[0m\r\x08";
    Fake f({toolCalls(json::array({call("a", "list\x1b[8mnets", "{}")})), text(evil + "\nline two")});
    ASSERT_TRUE(f.send(settings()).ok);
    EXPECT_EQ(f.events[0].tool, "listnets");
    EXPECT_EQ(f.events[f.events.size() - 2].text, "Hi!\nline two");
    EXPECT_EQ(f.conv.back().content, evil + "\nline two");  // the model's own words stay as they were

    // Error bodies: long ones are shortened, escapes removed.
    const std::string longBody = "\x1b[5m" + std::string(3000, 'e');
    for (const HttpResponse& response :
         {HttpResponse{502, longBody, ""}, HttpResponse{401, json{{"error", longBody}}.dump(), ""},
          HttpResponse{0, "", "timed out\x1b[K"}}) {
        Fake g({response});
        const std::string error = g.send(settings()).error;
        EXPECT_EQ(error.find('\x1b'), std::string::npos) << error;
        EXPECT_LT(error.size(), 600u) << error;
    }
    Fake g({HttpResponse{200, "{\"choices\": []," + std::string(5000, ' ') + "}", ""}});
    EXPECT_LT(g.send(settings()).error.size(), 400u);
}

#include <gtest/gtest.h>

#include <deque>
#include <future>
#include <mutex>
#include <stdexcept>

#include "analysis/lookup.h"
#include "app/window_controller.h"
#include "fixtures/fake_window_shell.h"
#include "fixtures/window_designs.h"
#include "open/schematic_open.h"

using namespace nl;
using nlohmann::json;
using nltest::FakeWindowShell;

namespace {

HttpResponse reply(const json& message) { return {200, json{{"choices", {{{"message", message}}}}}.dump(), ""}; }
HttpResponse say(const std::string& text) { return reply({{"role", "assistant"}, {"content", text}}); }
HttpResponse calls(const std::vector<std::pair<std::string, std::string>>& named) {
    json list = json::array();
    for (const auto& [name, args] : named)
        list.push_back({{"id", "c" + std::to_string(list.size())},
                        {"type", "function"},
                        {"function", {{"name", name}, {"arguments", args}}}});
    return reply({{"role", "assistant"}, {"content", nullptr}, {"tool_calls", list}});
}

// A provider that answers from a script on the worker thread; `gate`, when
// set, holds every request until the test opens it.
struct Provider {
    std::mutex mutex;
    std::deque<HttpResponse> script;
    int requests = 0;
    std::vector<json> bodies;
    std::shared_future<void> gate;

    ChatBackend backend() {
        ChatBackend b;
        b.post = [this](const std::string&, const std::string& body, const std::vector<std::string>&, int) {
            if (gate.valid()) gate.wait();
            std::lock_guard<std::mutex> lock(mutex);
            ++requests;
            bodies.push_back(json::parse(body));
            if (script.empty()) return say("(nothing more)");
            HttpResponse r = script.front();
            script.pop_front();
            return r;
        };
        return b;
    }
};

struct Chat {
    FakeWindowShell shell;
    Provider provider;
    std::unique_ptr<WindowController> c;

    explicit Chat(std::deque<HttpResponse> script, std::function<json(ToolContext&, const std::string&)> tool = {},
                  Settings settings = {}) {
        provider.script = std::move(script);
        WindowOptions o;
        o.chat = provider.backend();
        if (tool)
            o.chat.run_tool = [tool](ToolContext& context, const std::string& name, const std::string&) {
                return tool(context, name);
            };
        o.save_settings = [](const Settings&, std::string*) { return true; };
        c = std::make_unique<WindowController>(shell, std::move(settings), std::move(o));
        c->resize(1000, 800);
    }
    bool turnEnds() {
        return shell.pump(*c, [&] { return !c->busy(); });
    }
    // The transcript after its opening invitation.
    std::string entries() const {
        const std::string& t = c->transcript();
        return t.substr(t.find("\n\n") + 2);
    }
};

}  // namespace

TEST(WindowChat, SendIsRefusedWhenEmptyOrWithoutProvider) {
    Settings none;
    none.ai.base_url = "";
    Chat chat({}, {}, none);
    EXPECT_FALSE(chat.c->send(""));
    EXPECT_EQ(chat.entries(), "");
    EXPECT_TRUE(chat.c->send("hello"));
    EXPECT_EQ(chat.entries(),
              "You: hello\n\nError: No AI provider configured. Open Settings \u2192 AI to pick one (Ollama works fully "
              "offline).\n\n");
    EXPECT_FALSE(chat.c->busy());
    EXPECT_EQ(chat.provider.requests, 0);
}

TEST(WindowChat, ATurnShowsToolCallsAnswersAndHighlights) {
    Chat chat({calls({{"list_nets", "{}"}, {"highlight_net", R"({"name":"OUT"})"}}), say("OUT drives the LED.")});
    chat.c->start({"netloom", "sample"});
    chat.shell.take();
    ASSERT_TRUE(chat.c->send("what is OUT?"));
    EXPECT_TRUE(chat.c->busy());
    EXPECT_TRUE(chat.shell.take() & kChangedBusy);
    ASSERT_TRUE(chat.turnEnds());
    EXPECT_EQ(chat.entries(),
              "You: what is OUT?\n\n\U0001F527: calling list_nets({})\n\n"
              "\U0001F527: calling highlight_net({\"name\":\"OUT\"})\n\nAI: OUT drives the LED.\n\n");
    const int out = findNet(*chat.c->schematic(), "OUT");
    EXPECT_EQ(chat.c->highlight().nets, std::set<int32_t>{out});
    EXPECT_EQ(chat.c->inspectorText(), describeNet(*chat.c->schematic(), out, "standard"));
    EXPECT_TRUE(chat.shell.take() & kChangedBusy);

    // The conversation carries on: the next request holds the first turn.
    chat.provider.script = {say("yes")};
    ASSERT_TRUE(chat.c->send("and?"));
    ASSERT_TRUE(chat.turnEnds());
    EXPECT_TRUE(chat.entries().ends_with("\n\nYou: and?\n\nAI: yes\n\n"));
    // system, question, tool calls, two results, answer, and the new question
    EXPECT_EQ(chat.provider.bodies.back()["messages"].size(), 7u);
}

TEST(WindowChat, SendWhileBusyIsIgnoredAndAnErrorEndsTheTurn) {
    std::promise<void> open;
    Chat chat({{500, R"({"error":{"message":"model not found"}})", ""}});
    chat.provider.gate = open.get_future().share();
    ASSERT_TRUE(chat.c->send("first"));
    EXPECT_FALSE(chat.c->send("second"));
    EXPECT_EQ(chat.entries(), "You: first\n\n");
    open.set_value();
    ASSERT_TRUE(chat.turnEnds());
    EXPECT_EQ(chat.entries().rfind("You: first\n\nError: ", 0), 0u) << chat.entries();
    EXPECT_NE(chat.entries().find("model not found"), std::string::npos);
    EXPECT_TRUE(chat.c->send("again"));  // idle once more
    ASSERT_TRUE(chat.turnEnds());

    // A provider that throws instead of answering still ends the turn.
    Chat thrown({});
    WindowOptions o;
    o.chat.post = [](const std::string&, const std::string&, const std::vector<std::string>&, int) -> HttpResponse {
        throw std::runtime_error("socket gone");
    };
    WindowController c(thrown.shell, Settings{}, o);
    ASSERT_TRUE(c.send("hello"));
    ASSERT_TRUE(thrown.shell.pump(c, [&] { return !c.busy(); }));
    EXPECT_TRUE(c.transcript().ends_with("Error: The assistant failed: socket gone\n\n")) << c.transcript();
}

TEST(WindowChat, ViewCommandsAreCheckedAgainstTheDesignShown) {
    // The tool raises whatever the test asks for, however wrong.
    std::vector<ViewCommand> commands;
    Chat chat({calls({{"x", "{}"}}), say("ok")}, [&](ToolContext& context, const std::string&) {
        for (const ViewCommand& v : commands) context.onView(v);
        return json{{"ok", true}};
    });
    chat.c->showDesign(nltest::twoSheetDesign());
    const int sig = findNet(*chat.c->schematic(), "SIG");
    auto turn = [&](std::vector<ViewCommand> v) {
        commands = std::move(v);
        chat.provider.script = {calls({{"x", "{}"}}), say("ok")};
        ASSERT_TRUE(chat.c->send("go"));
        ASSERT_TRUE(chat.turnEnds());
    };

    turn({{"highlight_net", {999, -1, sig}, {}, -1}});
    EXPECT_EQ(chat.c->highlight().nets, std::set<int32_t>{sig});
    EXPECT_TRUE(chat.c->highlight().dim_others);
    turn({{"highlight_component", {}, {7, 1, -3}, -1}});
    EXPECT_EQ(chat.c->highlight().components, std::set<int32_t>{1});
    EXPECT_FALSE(chat.c->highlight().dim_others);
    turn({{"goto_sheet", {}, {}, 99}, {"goto_sheet", {}, {}, -1}, {"no_such_action", {0}, {0}, 0}});
    EXPECT_EQ(chat.c->sheet(), 0);
    EXPECT_EQ(chat.c->highlight().components, std::set<int32_t>{1});
    turn({{"goto_sheet", {}, {}, 1}, {"clear_highlight", {}, {}, -1}});
    EXPECT_EQ(chat.c->sheet(), 1);
    EXPECT_TRUE(chat.c->highlight().components.empty());

    // A design opened while the assistant worked: its commands are about the old one.
    std::promise<void> open;
    chat.provider.gate = open.get_future().share();
    commands = {{"highlight_net", {0}, {}, -1}};
    chat.provider.script = {calls({{"x", "{}"}}), say("ok")};
    ASSERT_TRUE(chat.c->send("late"));
    chat.c->start({"netloom", "sample"});
    open.set_value();
    ASSERT_TRUE(chat.turnEnds());
    EXPECT_TRUE(chat.c->highlight().nets.empty());
}

TEST(WindowChat, TheAssistantsDemoOpensInTheWindow) {
    Chat chat({calls({{"open_sample", "{}"}, {"highlight_net", R"({"name":"TRIG_THR"})"}}), say("Here it is.")});
    ASSERT_TRUE(chat.c->send("show me a demo"));
    ASSERT_TRUE(chat.turnEnds());
    ASSERT_TRUE(chat.c->hasSchematic());
    EXPECT_EQ(chat.c->schematic()->path, kBuiltInName);
    EXPECT_EQ(chat.c->highlight().nets, std::set<int32_t>{findNet(*chat.c->schematic(), "TRIG_THR")});
    EXPECT_EQ(chat.c->ercRows(), std::vector<std::string>{"\u2705 No issues found."});
    EXPECT_TRUE(chat.c->recentFiles().empty());
}

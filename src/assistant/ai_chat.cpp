// GCC 12 with the sanitizers reports a maybe-uninitialized std::function
// inside libstdc++'s regex compiler; the warning is about the library's own
// temporaries, so it is silenced for this unit only.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

#include "assistant/ai_chat.h"

#include <algorithm>
#include <regex>
#include <utility>

#include "base/json_util.h"
#include "base/text.h"

namespace nl {

using nlohmann::json;

namespace {

const char* const kTextModeInstructions =
    "\n\nYou do not have native function calling. Instead, when you need to call a tool, output ONLY a fenced "
    "block exactly like:\n```tool_call\n{\"name\": \"tool_name\", \"arguments\": {...}}\n```\nNothing else in that "
    "message \xE2\x80\x94 no other text before or after the block. Wait for the result (given back to you as a user "
    "message starting with TOOL_RESULT:) before continuing. When you have enough information, answer normally in "
    "plain text with no tool_call block.\n\nAvailable tools:\n";

std::string stringMember(const json& object, const char* key, const std::string& fallback) {
    if (!object.is_object()) return fallback;
    auto it = object.find(key);
    return it != object.end() && it->is_string() ? it->get<std::string>() : fallback;
}

json messageToJson(const ChatMessage& m) {
    json j = json::object();
    j["role"] = m.role;
    if (m.role == "assistant" && m.tool_calls.is_array() && !m.tool_calls.empty()) {
        j["content"] = m.content.empty() ? json(nullptr) : json(m.content);
        j["tool_calls"] = m.tool_calls;
    } else if (m.role == "tool") {
        j["tool_call_id"] = m.tool_call_id;
        j["content"] = m.content;
    } else {
        j["content"] = m.content;
    }
    return j;
}

std::string requestUrl(const std::string& baseUrl) {
    std::string url = baseUrl;
    while (!url.empty() && url.back() == '/') url.pop_back();
    return url + "/chat/completions";
}

// The detail of a failed status: the body's start, or the "error" member of a
// JSON object body (servers put their message there, as a string or object).
std::string statusDetail(const std::string& body) {
    std::string detail = body.substr(0, kMaxErrorDetailBytes);
    json parsed;
    if (parseModelJson(body, parsed) && parsed.is_object()) {
        auto it = parsed.find("error");
        if (it != parsed.end()) detail = it->is_string() ? it->get<std::string>() : dumpJson(*it);
    }
    // Shown to the user: no escape sequence of the server's reaches the terminal.
    return printableText(shortened(detail, kMaxErrorDetailBytes));
}

// A tool result as it goes back to the model: a result too large for any
// model's context is replaced by a note saying so.
json boundedResult(json result, const std::string& tool) {
    const size_t size = dumpJson(result).size();
    if (size <= kMaxToolResultBytes) return result;
    return json{{"error", "The result of " + tool + " was " + std::to_string(size) + " bytes, more than the " +
                              std::to_string(kMaxToolResultBytes) +
                              " that can be sent back; ask for less (a narrower query or a smaller limit)."}};
}

// The first choice, or null when the reply has no usable one.
const json* firstChoice(const json& reply) {
    if (!reply.is_object()) return nullptr;
    auto it = reply.find("choices");
    if (it == reply.end() || !(it->is_array() || it->is_object()) || it->empty()) return nullptr;
    const json& first = *it->begin();
    return first.is_object() ? &first : nullptr;
}

struct ToolCall {
    std::string id;
    std::string name;
    std::string arguments;
};

// One element of a native "tool_calls" array; wrongly typed parts count as
// missing, and an object-valued "arguments" (some servers send one) is taken
// as its compact JSON text.
ToolCall readNativeCall(const json& element) {
    ToolCall call;
    call.id = stringMember(element, "id", "");
    json function = json::object();
    if (element.is_object()) {
        auto it = element.find("function");
        if (it != element.end() && it->is_object()) function = *it;
    }
    call.name = stringMember(function, "name", "");
    call.arguments = "{}";
    auto args = function.find("arguments");
    if (args != function.end()) {
        if (args->is_string())
            call.arguments = args->get<std::string>();
        else if (args->is_object())
            call.arguments = dumpJson(*args);
    }
    return call;
}

// A text-mode call: the block must hold a JSON object whose "name" is a string.
std::optional<ToolCall> readTextCall(const std::string& content) {
    std::optional<std::string> block = findToolCallBlock(content);
    if (!block) return std::nullopt;
    json parsed;
    if (!parseModelJson(*block, parsed) || !parsed.is_object()) return std::nullopt;
    auto name = parsed.find("name");
    if (name == parsed.end() || !name->is_string()) return std::nullopt;
    ToolCall call;
    call.name = name->get<std::string>();
    auto args = parsed.find("arguments");
    call.arguments = args != parsed.end() ? dumpJson(*args) : "{}";
    return call;
}

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

const std::regex& toolCallPattern() {
    static const std::regex pattern("```tool_call\\s*\\n([\\s\\S]*?)```", std::regex::ECMAScript);
    return pattern;
}

}  // namespace

std::optional<std::string> findToolCallBlock(const std::string& content) {
    // The standard library's matcher recurses once per character of a lazy
    // run, so a long block would overflow the stack. A linear scan finds the
    // one place where the pattern can match first; the pattern itself only
    // runs on that stretch, and only when it is short.
    static const std::string opener = "```tool_call";
    constexpr size_t kPatternWindow = 4096;
    for (size_t at = content.find(opener); at != std::string::npos; at = content.find(opener, at + 1)) {
        size_t p = at + opener.size();
        size_t lastBreak = std::string::npos;
        while (p < content.size() && isBlank(content[p])) {
            if (content[p] == '\n') lastBreak = p;
            ++p;
        }
        if (lastBreak == std::string::npos) continue;
        size_t begin = lastBreak + 1;
        size_t close = content.find("```", begin);
        if (close == std::string::npos) return std::nullopt;  // no later opener can close either
        size_t windowEnd = close + 3;
        if (windowEnd - at <= kPatternWindow) {
            std::smatch m;
            auto first = content.begin() + static_cast<std::ptrdiff_t>(at);
            auto last = content.begin() + static_cast<std::ptrdiff_t>(windowEnd);
            if (std::regex_search(first, last, m, toolCallPattern())) return m[1].str();
        }
        return content.substr(begin, close - begin);
    }
    return std::nullopt;
}

AiChat::AiChat(const AiSettings& settings, ToolContext& context, ChatBackend backend)
    : settings_(settings), context_(context), backend_(std::move(backend)) {
    if (!backend_.post) backend_.post = postJson;
    if (!backend_.run_tool) backend_.run_tool = runTool;
}

ChatResult AiChat::send(std::vector<ChatMessage>& conversation, const std::string& userText,
                        const ChatEventCallback& onEvent) {
    ChatResult result;
    auto emit = [&](ChatEvent e) {
        if (onEvent) onEvent(e);
    };
    auto fail = [&](const std::string& message) {
        result.ok = false;
        result.error = message;
        emit({"error", message, "", nullptr, nullptr});
        return result;
    };

    const AiSettings& ai = settings_;
    if (ai.base_url.empty()) return fail("No AI provider configured. Open Settings and pick a provider.");

    if (conversation.empty() || conversation.front().role != "system")
        conversation.insert(conversation.begin(), ChatMessage{"system", buildSystemPrompt(context_), "", "", nullptr});
    if (!userText.empty()) conversation.push_back({"user", userText, "", "", nullptr});

    const bool textMode = ai.tools_mode == "text";
    const bool nativeTools = ai.tools_enabled && !textMode;
    const bool textTools = ai.tools_enabled && textMode;
    json tools;
    if (nativeTools) tools = nativeToolsJson(ai.disabled_tools);
    std::string instructions;
    if (textTools) {
        instructions = kTextModeInstructions;
        for (const ToolSpec& tool : toolCatalogue())
            instructions += "- " + tool.name + ": " + tool.description +
                            " Parameters (JSON schema): " + dumpJson(tool.parameters) + "\n";
    }

    const std::string url = requestUrl(ai.base_url);
    std::vector<std::string> headers;
    if (!ai.api_key.empty()) headers.push_back("Authorization: Bearer " + ai.api_key);
    const int limit = std::clamp(ai.max_tool_rounds, 1, kMaxToolRounds);

    auto runOne = [&](const ToolCall& call) {
        emit({"tool_call", "", printableText(call.name), parseToolArguments(call.arguments), nullptr});
        json toolResult;
        try {
            toolResult = backend_.run_tool(context_, call.name, call.arguments);
        } catch (const std::exception& e) {
            // A tool fault is the model's information, not the end of the turn.
            toolResult = json{{"error", std::string("Tool '") + call.name + "' failed: " + e.what()}};
        }
        toolResult = boundedResult(std::move(toolResult), call.name);
        emit({"tool_result", "", printableText(call.name), nullptr, toolResult});
        return toolResult;
    };

    for (int round = 0;;) {
        json messages = json::array();
        for (size_t i = 0; i < conversation.size(); ++i) {
            json m = messageToJson(conversation[i]);
            if (i == 0 && !instructions.empty()) m["content"] = conversation[i].content + instructions;
            messages.push_back(std::move(m));
        }
        json body = json::object();
        body["model"] = ai.model.empty() ? std::string("default") : ai.model;
        body["messages"] = std::move(messages);
        body["temperature"] = static_cast<double>(ai.temperature);
        body["max_tokens"] = ai.max_tokens;
        body["stream"] = false;
        if (nativeTools) {
            body["tools"] = tools;
            body["tool_choice"] = "auto";
        }

        const std::string request = dumpJson(body);
        if (request.size() > kMaxRequestBytes)
            return fail("The conversation has grown to " + std::to_string(request.size() >> 20) +
                        " MB, more than the " + std::to_string(kMaxRequestBytes >> 20) +
                        " MB a request may hold; start a new conversation.");
        // Without a time-out a silent server would hold the turn for ever.
        const int timeout = std::clamp(ai.timeout_sec, 1, 600);
        HttpResponse response = backend_.post(url, request, headers, timeout);
        if (!response.error.empty())
            return fail("Request to " + ai.base_url + " failed: " + printableText(response.error));
        if (response.status < 200 || response.status > 299)
            return fail("Provider returned HTTP " + std::to_string(response.status) + ": " +
                        statusDetail(response.body));
        json reply;
        std::string parseError;
        if (!parseModelJson(response.body, reply, &parseError))
            return fail("Bad JSON from provider: " + printableText(shortened(parseError, kMaxErrorDetailBytes)));
        const json* choice = firstChoice(reply);
        if (!choice) return fail("Provider response had no choices: " + printableText(shortened(response.body, 300)));

        json message = json::object();
        if (auto it = choice->find("message"); it != choice->end() && it->is_object()) message = *it;
        const std::string content = stringMember(message, "content", "");

        bool toolRound = false;
        if (nativeTools) {
            auto calls = message.find("tool_calls");
            if (calls != message.end() && calls->is_array() && !calls->empty()) {
                json kept = *calls;
                if (kept.size() > kMaxToolCallsPerRound) {
                    // Only the calls that run stay in the conversation, so each has its answer.
                    emit({"notice",
                          "The model asked for " + std::to_string(kept.size()) +
                              " tool calls at once; only the first " + std::to_string(kMaxToolCallsPerRound) +
                              " were run.",
                          "", nullptr, nullptr});
                    kept.erase(kept.begin() + kMaxToolCallsPerRound, kept.end());
                }
                conversation.push_back({"assistant", content, "", "", kept});
                for (const json& element : kept) {
                    ToolCall call = readNativeCall(element);
                    json toolResult = runOne(call);
                    conversation.push_back({"tool", dumpJson(toolResult), call.id, call.name, nullptr});
                }
                toolRound = true;
            }
        } else if (textTools) {
            if (std::optional<ToolCall> call = readTextCall(content)) {
                conversation.push_back({"assistant", content, "", "", nullptr});
                json toolResult = runOne(*call);
                conversation.push_back({"user", "TOOL_RESULT: " + dumpJson(toolResult), "", "", nullptr});
                toolRound = true;
            }
        }

        if (toolRound) {
            if (++round < limit) continue;
            return fail("Stopped after " + std::to_string(std::min(ai.max_tool_rounds, kMaxToolRounds)) +
                        " tool-call rounds without a final answer.");
        }

        conversation.push_back({"assistant", content, "", "", nullptr});
        emit({"text", printableText(content), "", nullptr, nullptr});
        result.ok = true;
        result.messages = conversation;
        emit({"done", "", "", nullptr, nullptr});
        return result;
    }
}

std::string quickAsk(const AiSettings& settings, ToolContext& context, const std::string& systemPrompt,
                     const std::string& question, ChatBackend backend) {
    std::vector<ChatMessage> conversation{{"system", systemPrompt, "", "", nullptr}};
    std::string answer;
    AiChat chat(settings, context, std::move(backend));
    chat.send(conversation, question, [&](const ChatEvent& e) {
        if (e.kind == "text") answer += e.text;
    });
    return answer;
}

}  // namespace nl

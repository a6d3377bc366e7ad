// One turn of a conversation with an OpenAI-style chat-completions server:
// send the conversation and the tools, run the tools the model asks for, feed
// the results back, and repeat until a plain-text answer or the round limit.
// Models without function calling use a fenced ```tool_call block instead.
// The engine is synchronous and keeps nothing between turns: the caller owns
// the conversation and passes it to every turn.
#pragma once

#include <functional>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "assistant/ai_tools.h"
#include "assistant/http.h"
#include "settings/settings.h"

namespace nl {

struct ChatMessage {
    std::string role;  // "system", "user", "assistant" or "tool"
    std::string content;
    std::string tool_call_id;   // "tool" messages: the call answered
    std::string name;           // "tool" messages: the tool's name (kept, never sent)
    nlohmann::json tool_calls;  // assistant messages with native calls: as the provider sent them
};

struct ChatEvent {
    // "text", "tool_call", "tool_result", "error" or "done"; "notice" when the
    // engine left out part of a reply (calls beyond the limit of one round)
    std::string kind;
    std::string text;  // "text": the answer; "error", "notice": the message
    std::string tool;
    nlohmann::json args;    // "tool_call"
    nlohmann::json result;  // "tool_result"
};

struct ChatResult {
    bool ok = false;  // the turn ended with a plain-text answer
    std::string error;
    std::vector<ChatMessage> messages;  // the conversation after the turn; only when ok
};

using ChatEventCallback = std::function<void(const ChatEvent&)>;

// The engine's two ways out of itself, replaceable so that tests can script a
// provider and watch tool calls. Empty members mean postJson and runTool.
struct ChatBackend {
    std::function<HttpResponse(const std::string& url, const std::string& body, const std::vector<std::string>& headers,
                               int timeout_sec)>
        post;
    std::function<nlohmann::json(ToolContext& context, const std::string& name, const std::string& arguments)> run_tool;
};

// Bounds that keep a turn's work and memory in proportion whatever the server sends.
inline constexpr size_t kMaxToolCallsPerRound = 32;
inline constexpr int kMaxToolRounds = 50;  // whatever a hand-edited settings file says
inline constexpr size_t kMaxToolResultBytes = 256 * 1024;  // one result as sent back
inline constexpr size_t kMaxRequestBytes = 8u << 20;       // one whole request body
inline constexpr size_t kMaxErrorDetailBytes = 500;        // a server's error text as shown

class AiChat {
public:
    AiChat(const AiSettings& settings, ToolContext& context, ChatBackend backend = {});

    // Blocks for the whole turn; `onEvent` is called in order on this thread.
    // Whatever was appended to `conversation` before a failure stays there.
    ChatResult send(std::vector<ChatMessage>& conversation, const std::string& userText,
                    const ChatEventCallback& onEvent);

private:
    const AiSettings& settings_;
    ToolContext& context_;
    ChatBackend backend_;
};

// A one-question conversation under the caller's own system prompt; returns the
// answer text (every "text" event joined).
std::string quickAsk(const AiSettings& settings, ToolContext& context, const std::string& systemPrompt,
                     const std::string& question, ChatBackend backend = {});

// The text-mode tool call in a reply: the inside of the first ```tool_call
// fenced block, as the engine's pattern captures it; nothing when absent.
std::optional<std::string> findToolCallBlock(const std::string& content);

}  // namespace nl

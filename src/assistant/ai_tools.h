// What the language model sees of the program: the system prompt, the fixed
// tool catalogue, and the dispatcher that runs one tool call against the open
// design. Tools only read the design; the four view tools ask the front end to
// change what is shown through a callback, so they work the same on the
// command line and in the window.
#pragma once

#include <cstdint>
#include <functional>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "model/model.h"

namespace nl {

struct Settings;

// What a view-changing tool asks the viewer to do.
struct ViewCommand {
    std::string action;  // "highlight_net", "highlight_component", "clear_highlight" or "goto_sheet"
    std::vector<int32_t> nets;
    std::vector<int32_t> components;
    int32_t sheet = -1;
};

// One per front end. `open_sample` replaces `schematic`; a null `settings`
// means the built-in defaults; an empty `onView` drops view commands.
struct ToolContext {
    SchematicPtr schematic;
    const Settings* settings = nullptr;
    std::function<void(const ViewCommand&)> onView;
};

struct ToolSpec {
    std::string name;
    std::string description;
    nlohmann::json parameters;  // an object schema; "required" is always present
};

// The seventeen tools, always in the same order.
std::vector<ToolSpec> toolCatalogue();

// The "tools" value of a function-calling request: every catalogue entry whose
// name is not in `disabled` (exact match), in catalogue order.
nlohmann::json nativeToolsJson(const std::vector<std::string>& disabled);

// Strict parse of JSON written by a model or a provider. Text nested deeper
// than 512 levels is refused as well: copying or serialising such a value
// recurses per level and would exhaust the stack.
bool parseModelJson(const std::string& text, nlohmann::json& out, std::string* error = nullptr);

// Tool argument text as the tools read it: {} when empty or not JSON.
nlohmann::json parseToolArguments(const std::string& text);

std::string buildSystemPrompt(const ToolContext& context);

// Runs one tool. `arguments` is the model's raw JSON text; empty or malformed
// text counts as {} and wrongly typed values fall back to their defaults.
// Failures come back as {"error": message}, never as exceptions.
nlohmann::json runTool(ToolContext& context, const std::string& name, const std::string& arguments);

}  // namespace nl

#include "assistant/ai_tools.h"

#include <utility>

#include "analysis/erc.h"
#include "analysis/lookup.h"
#include "analysis/overview.h"
#include "analysis/reports.h"
#include "analysis/trace.h"
#include "base/json_util.h"
#include "base/text.h"
#include "open/schematic_open.h"
#include "settings/settings.h"

namespace nl {

using nlohmann::json;

namespace {

// ---- catalogue -------------------------------------------------------------

json stringParam(const char* description) { return {{"type", "string"}, {"description", description}}; }
json booleanParam(const char* description) { return {{"type", "boolean"}, {"description", description}}; }
json integerParam(const char* description) { return {{"type", "integer"}, {"description", description}}; }
json enumParam(const char* description, std::vector<std::string> values) {
    return {{"type", "string"}, {"description", description}, {"enum", std::move(values)}};
}

json objectSchema(std::vector<std::pair<const char*, json>> properties, std::vector<std::string> required) {
    json props = json::object();
    for (auto& [name, schema] : properties) props[name] = std::move(schema);
    return {{"type", "object"}, {"properties", std::move(props)}, {"required", json(std::move(required))}};
}

const char* const kLimit60 = "Maximum rows to return (default 60).";
const char* const kDetail = "How much detail to return.";
const std::vector<std::string> kDetailLevels = {"minimal", "standard", "verbose"};

// ---- argument readers --------------------------------------------------------

const json* member(const json& args, const char* key) {
    if (!args.is_object()) return nullptr;
    auto it = args.find(key);
    return it == args.end() ? nullptr : &*it;
}

std::string stringArg(const json& args, const char* key, const std::string& fallback) {
    const json* v = member(args, key);
    return v && v->is_string() ? v->get<std::string>() : fallback;
}

int32_t intArg(const json& args, const char* key, int32_t fallback) {
    const json* v = member(args, key);
    if (!v) return fallback;
    // Wider values keep their low 32 bits, like a cast in the caller would.
    if (v->is_number_unsigned()) return static_cast<int32_t>(v->get<uint64_t>());
    if (v->is_number_integer()) return static_cast<int32_t>(v->get<int64_t>());
    return fallback;
}

bool boolArg(const json& args, const char* key, bool fallback) {
    const json* v = member(args, key);
    return v && v->is_boolean() ? v->get<bool>() : fallback;
}

json errorResult(const std::string& message) { return json{{"error", message}}; }

// ---- shared lookups ------------------------------------------------------------

// A decimal integer read the way std::stoi reads one (leading blanks, a sign,
// digits, anything after ignored), without its exceptions; false when no
// digits start the text or the number leaves the int range.
bool leadingInt(const std::string& text, long long& out) {
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    size_t digits = i;
    long long value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = value * 10 + (text[i] - '0');
        if (value > 2147483648LL) return false;
    }
    if (i == digits) return false;
    value = negative ? -value : value;
    if (value > 2147483647LL) return false;
    out = value;
    return true;
}

int findSheet(const Schematic& s, const std::string& text) {
    if (text.empty()) return -1;
    for (size_t i = 0; i < s.sheets.size(); ++i)
        if (equalsNoCase(s.sheets[i].name, text) || equalsNoCase(s.sheets[i].file, text)) return static_cast<int>(i);
    long long n = 0;
    if (!leadingInt(text, n) || n < 0 || n >= static_cast<long long>(s.sheets.size())) return -1;
    return static_cast<int>(n);
}

std::string sheetName(const Schematic& s, int sheet) {
    return sheet >= 0 && sheet < static_cast<int>(s.sheets.size()) ? s.sheets[sheet].name : std::string();
}

const Component* componentAt(const Schematic& s, int index) {
    return index >= 0 && index < static_cast<int>(s.components.size()) ? &s.components[index] : nullptr;
}

std::string pinNumber(const Schematic& s, int component, int pin) {
    const Component* c = componentAt(s, component);
    return c && pin >= 0 && pin < static_cast<int>(c->pins.size()) ? c->pins[pin].number : std::string();
}

std::string netName(const Schematic& s, int net) {
    return net >= 0 && net < static_cast<int>(s.nets.size()) ? s.nets[net].name : std::string();
}

json pinList(const Schematic& s, const std::vector<std::pair<int32_t, int32_t>>& pins) {
    json list = json::array();
    for (auto [component, pin] : pins) {
        const Component* c = componentAt(s, component);
        list.push_back((c ? c->reference : std::string()) + "." + pinNumber(s, component, pin));
    }
    return list;
}

void raise(const ToolContext& ctx, ViewCommand command) {
    if (ctx.onView) ctx.onView(command);
}

// ---- the tools -------------------------------------------------------------------

int32_t summaryItems(const ToolContext& ctx) { return ctx.settings ? ctx.settings->ai.summary_items : 40; }

json getSchematicSummary(const ToolContext& ctx, const Schematic& s) {
    return {{"summary", schematicSummary(s, summaryItems(ctx))}, {"json", schematicToJson(s)}};
}

json listComponents(const Schematic& s, const json& args) {
    const std::string filter = stringArg(args, "filter", "");
    const std::string sheet = stringArg(args, "sheet", "");
    const int32_t limit = intArg(args, "limit", 60);
    int sheetIndex = -1;
    if (!sheet.empty()) {
        sheetIndex = findSheet(s, sheet);
        if (sheetIndex < 0) return errorResult("Unknown sheet '" + sheet + "'. Call list_sheets to see valid names.");
    }
    long long count = 0;
    json list = json::array();
    for (size_t i = 0; i < s.components.size(); ++i) {
        const Component& c = s.components[i];
        if (c.power_symbol || c.unit >= 2) continue;
        if (sheetIndex >= 0 && c.sheet != sheetIndex) continue;
        if (!filter.empty() && !containsNoCase(c.reference, filter) && !containsNoCase(c.value, filter) &&
            !containsNoCase(c.footprint, filter) && !containsNoCase(c.description, filter))
            continue;
        ++count;
        if (static_cast<long long>(list.size()) < limit) list.push_back(componentToJson(s, static_cast<int>(i), false));
    }
    return {{"count", count}, {"returned", list.size()}, {"components", std::move(list)}};
}

json getComponent(const Schematic& s, const json& args) {
    const std::string ref = stringArg(args, "ref", "");
    int index = findComponent(s, ref);
    if (index < 0)
        return errorResult("No component '" + ref + "'. Use list_components or search to find the right reference.");
    const std::string detail = stringArg(args, "detail", "standard");
    return {{"text", describeComponent(s, index, detail)}, {"json", componentToJson(s, index, true)}};
}

json listNets(const Schematic& s, const json& args) {
    const std::string filter = stringArg(args, "filter", "");
    const bool powerOnly = boolArg(args, "power_only", false);
    const int32_t minPins = intArg(args, "min_pins", 0);
    const int32_t limit = intArg(args, "limit", 60);
    long long count = 0;
    json list = json::array();
    for (size_t i = 0; i < s.nets.size(); ++i) {
        const Net& n = s.nets[i];
        if (powerOnly && !n.power) continue;
        if (static_cast<long long>(n.pins.size()) < minPins) continue;
        if (!filter.empty() && !containsNoCase(n.name, filter)) {
            bool aliasMatches = false;
            for (const std::string& alias : n.aliases) aliasMatches = aliasMatches || containsNoCase(alias, filter);
            if (!aliasMatches) continue;
        }
        ++count;
        if (static_cast<long long>(list.size()) < limit) list.push_back(netToJson(s, static_cast<int>(i), false));
    }
    return {{"count", count}, {"returned", list.size()}, {"nets", std::move(list)}};
}

json getNet(const Schematic& s, const json& args) {
    const std::string name = stringArg(args, "name", "");
    std::vector<int> nets;
    std::string label, error;
    if (!resolveTarget(s, name, nets, label, &error)) return errorResult(error);
    const std::string detail = stringArg(args, "detail", "standard");
    json list = json::array();
    std::string text;
    for (int net : nets) {
        list.push_back(netToJson(s, net, true));
        text += describeNet(s, net, detail) + "\n";
    }
    return {{"resolved_as", label}, {"text", text}, {"nets", std::move(list)}};
}

json tracePathTool(const ToolContext& ctx, const Schematic& s, const json& args) {
    TraceOptions options = ctx.settings ? ctx.settings->analysis : TraceOptions{};
    options.through_ics = boolArg(args, "through_ics", options.through_ics);
    const std::string to = stringArg(args, "to", "");
    const std::string from = stringArg(args, "from", "");
    TraceResult r = tracePath(s, from, to, options);
    json nets = json::array();
    for (int32_t net : r.nets) nets.push_back(netName(s, net));
    json hops = json::array();
    for (const TraceHop& hop : r.hops) {
        const Component* c = componentAt(s, hop.component);
        hops.push_back({{"ref", c ? c->reference : std::string()},
                        {"value", c ? c->value : std::string()},
                        {"pin_in", pinNumber(s, hop.component, hop.pin_in)},
                        {"pin_out", pinNumber(s, hop.component, hop.pin_out)}});
    }
    return {{"found", r.found},
            {"message", r.text},
            {"text", formatTrace(r, s)},
            {"nets", std::move(nets)},
            {"hops", std::move(hops)}};
}

json getNeighbours(const Schematic& s, const json& args) {
    const std::string ref = stringArg(args, "ref", "");
    int index = findComponent(s, ref);
    if (index < 0) return errorResult("No component '" + ref + "'.");
    json list = json::array();
    for (const Neighbour& n : componentNeighbours(s, index)) {
        const Component* other = componentAt(s, n.component);
        list.push_back({{"net", netName(s, n.net)},
                        {"via_pin", pinNumber(s, index, n.via_pin)},
                        {"ref", other ? other->reference : std::string()},
                        {"value", other ? other->value : std::string()},
                        {"kind", other ? componentKind(*other) : std::string()},
                        {"their_pin", pinNumber(s, n.component, n.their_pin)}});
    }
    return {{"ref", s.components[index].reference}, {"neighbours", std::move(list)}};
}

json listPowerRails(const Schematic& s) {
    json rails = json::array();
    for (const PowerRail& r : powerRails(s))
        rails.push_back({{"net", r.name},
                         {"pin_count", r.pin_count},
                         {"sources", pinList(s, r.sources)},
                         {"consumers", pinList(s, r.consumers)}});
    return {{"rails", std::move(rails)}};
}

json runErcTool(const ToolContext& ctx, const Schematic& s, const json& args) {
    const ErcOptions options = ctx.settings ? ctx.settings->erc : ErcOptions{};
    const ErcReport report = runProjectErc(s, options);
    const std::vector<ErcIssue>& issues = report.issues;
    const std::string severity = stringArg(args, "severity", "warning");
    const int threshold = severity == "error" ? 0 : severity == "warning" ? 1 : 2;
    long long errors = 0, warnings = 0;
    std::vector<ErcIssue> kept;
    for (const ErcIssue& issue : issues) {
        const bool isError = issue.severity == "error";
        const bool isWarning = issue.severity == "warning";
        errors += isError;
        warnings += isWarning;
        if (isError || (isWarning && threshold >= 1) || threshold == 2) kept.push_back(issue);
    }
    json result = {{"error_count", errors},   {"warning_count", warnings},     {"total", issues.size()},
                   {"returned", kept.size()}, {"hidden_count", report.hidden}, {"issues", issuesToJson(s, kept)}};
    if (!report.project_file.empty()) result["project_file"] = report.project_file;
    return result;
}

json getBom(const Schematic& s) {
    json lines = json::array();
    for (const BomGroup& g : bomGroups(s))
        lines.push_back(
            {{"refs", g.references}, {"qty", g.references.size()}, {"value", g.value}, {"footprint", g.footprint}});
    return {{"csv", bomCsv(s)}, {"lines", std::move(lines)}};
}

json searchTool(const Schematic& s, const json& args) {
    const int32_t limit = intArg(args, "limit", 20);
    const std::string query = stringArg(args, "query", "");
    json results = json::array();
    for (const SearchHit& hit : searchSchematic(s, query, limit))
        results.push_back(
            {{"kind", hit.kind}, {"title", hit.title}, {"detail", hit.detail}, {"sheet", sheetName(s, hit.sheet)}});
    return {{"count", results.size()}, {"results", std::move(results)}};
}

json listSheets(const Schematic& s) {
    json sheets = json::array();
    for (size_t i = 0; i < s.sheets.size(); ++i)
        sheets.push_back(
            {{"index", i}, {"name", s.sheets[i].name}, {"file", s.sheets[i].file}, {"parent", s.sheets[i].parent}});
    return {{"sheets", std::move(sheets)}};
}

json highlightNet(const ToolContext& ctx, const Schematic& s, const json& args) {
    const std::string name = stringArg(args, "name", "");
    std::vector<int> nets;
    std::string label, error;
    if (!resolveTarget(s, name, nets, label, &error)) return errorResult(error);
    raise(ctx, {"highlight_net", std::vector<int32_t>(nets.begin(), nets.end()), {}, -1});
    return {{"ok", true}, {"highlighted", label}};
}

json highlightComponent(const ToolContext& ctx, const Schematic& s, const json& args) {
    const json* refs = member(args, "refs");
    if (!refs || !refs->is_array()) return errorResult("refs must be an array of reference designators");
    std::vector<int32_t> found;
    json notFound = json::array();
    for (const json& ref : *refs) {
        // A non-text element names nothing; it is reported back as given.
        int index = ref.is_string() ? findComponent(s, ref.get<std::string>()) : -1;
        if (index >= 0)
            found.push_back(index);
        else
            notFound.push_back(ref);
    }
    raise(ctx, {"highlight_component", {}, found, -1});
    return {{"ok", true}, {"highlighted_count", found.size()}, {"not_found", std::move(notFound)}};
}

json gotoSheet(const ToolContext& ctx, const Schematic& s, const json& args) {
    int sheet = findSheet(s, stringArg(args, "sheet", ""));
    if (sheet < 0) return errorResult("Unknown sheet. Call list_sheets to see valid names.");
    raise(ctx, {"goto_sheet", {}, {}, sheet});
    return {{"ok", true}, {"sheet", s.sheets[sheet].name}};
}

constexpr int kMaxModelNesting = 512;

bool nestingWithin(const std::string& text, int limit) {
    int depth = 0;
    bool inString = false;
    for (size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (inString) {
            if (c == '\\')
                ++i;
            else if (c == '"')
                inString = false;
        } else if (c == '"') {
            inString = true;
        } else if (c == '[' || c == '{') {
            if (++depth > limit) return false;
        } else if (c == ']' || c == '}') {
            --depth;
        }
    }
    return true;
}

}  // namespace

bool parseModelJson(const std::string& text, json& out, std::string* error) {
    if (!nestingWithin(text, kMaxModelNesting)) {
        if (error) *error = "nesting deeper than " + std::to_string(kMaxModelNesting) + " levels";
        return false;
    }
    try {
        out = json::parse(text);
        return true;
    } catch (const json::exception& e) {
        if (error) *error = e.what();
        return false;
    }
}

json parseToolArguments(const std::string& text) {
    json parsed;
    return parseModelJson(text, parsed) ? parsed : json::object();
}

std::vector<ToolSpec> toolCatalogue() {
    return {
        {"get_schematic_summary",
         "Get an overview of the currently open schematic: title, sheet count, component count, net count, power "
         "rails, and a sample of named nets and components. Call this first in a new conversation to orient yourself.",
         objectSchema({}, {})},
        {"open_sample",
         "Open the built-in 555 LED blinker demo schematic. Use this only if the user asks to see a demo/example and "
         "no schematic is open.",
         objectSchema({}, {})},
        {"list_components",
         "List components on the schematic, optionally filtered by reference prefix (e.g. 'R' for resistors, 'U' for "
         "ICs), sheet, or a text search over value/footprint/description.",
         objectSchema({{"filter", stringParam("Case-insensitive substring to match against reference, value, "
                                              "footprint or description. Leave empty for all.")},
                       {"sheet", stringParam("Restrict to one sheet by name. Leave empty for all sheets.")},
                       {"limit", integerParam(kLimit60)}},
                      {})},
        {"get_component",
         "Get full detail on one component: value, footprint, datasheet, every pin with its net, and (verbose) its "
         "other properties.",
         objectSchema({{"ref", stringParam("Reference designator, e.g. 'R1', 'U3'.")},
                       {"detail", enumParam(kDetail, kDetailLevels)}},
                      {"ref"})},
        {"list_nets", "List electrical nets (signals), optionally filtered by name or restricted to power rails.",
         objectSchema(
             {{"filter", stringParam("Case-insensitive substring to match against the net name or its aliases.")},
              {"power_only", booleanParam("Only return power/ground rails.")},
              {"min_pins", integerParam("Only return nets with at least this many pins.")},
              {"limit", integerParam(kLimit60)}},
             {})},
        {"get_net",
         "Get full detail on one net: every pin connected to it, how many wire segments it has, which sheets it "
         "spans, and alternate labels for the same net.",
         objectSchema({{"name", stringParam("Net name, e.g. 'GND', '/USB_DP', a component.pin like 'U1.3', or "
                                            "'net:GND'.")},
                       {"detail", enumParam(kDetail, kDetailLevels)}},
                      {"name"})},
        {"trace_path",
         "Find the electrical path between two points through passive components (resistors, capacitors, inductors, "
         "jumpers, fuses, ferrite beads by default), returning every net and component hop along the way. Use this "
         "to answer 'how does X connect to Y' or 'what's between X and Y'.",
         objectSchema({{"from", stringParam("Start point: a net name, a component ('R1' = any of its pins), or a pin "
                                            "('R1.1' or 'R1 pin 1').")},
                       {"to", stringParam("End point, same format as 'from'.")},
                       {"through_ics", booleanParam("Allow the path to pass through IC pins too, not just "
                                                    "2-pin/passive parts (default false \xE2\x80\x94 most questions "
                                                    "mean passives only).")}},
                      {"from", "to"})},
        {"get_neighbours",
         "List every component directly connected to a given component's pins \xE2\x80\x94 one hop out, grouped by "
         "which pin and which net. Good for 'what's connected to U3' style questions.",
         objectSchema({{"ref", stringParam("Reference designator, e.g. 'U1'.")}}, {"ref"})},
        {"list_power_rails",
         "List every power/ground net with its source pins (regulators, power symbols) and consumer pins. Good for "
         "power-tree questions.",
         objectSchema({}, {})},
        {"run_erc",
         "Run electrical rule checks: unconnected pins, undriven power inputs, conflicting outputs, dangling wires, "
         "duplicate references, net names that differ only by case, and hierarchical label/sheet-pin mismatches. "
         "Returns a prioritized issue list. Use this when asked 'what's wrong with this schematic' or 'check for "
         "errors'.",
         objectSchema({{"severity", enumParam("Only return issues at or above this severity (default 'warning').",
                                              {"error", "warning", "info"})}},
                      {})},
        {"get_bom",
         "Get the bill of materials: components grouped by value+footprint with their reference designators and "
         "quantities.",
         objectSchema({}, {})},
        {"search",
         "Full-text search across components, nets, and free text/notes on the schematic. Use this when you don't "
         "know whether something is a component, a net, or a text label.",
         objectSchema(
             {{"query", stringParam("Search text.")}, {"limit", integerParam("Maximum results (default 20).")}},
             {"query"})},
        {"list_sheets",
         "List every sheet in the schematic hierarchy with its parent, for designs with multiple sheets.",
         objectSchema({}, {})},
        {"highlight_net",
         "Light up a net in the viewer so the user can see everywhere it goes, dimming everything else. This changes "
         "what the user sees on screen \xE2\x80\x94 use it whenever you explain where a signal travels.",
         objectSchema({{"name", stringParam("Net name, component ('R1'), or pin ('R1.1'), same format as get_net.")}},
                      {"name"})},
        {"highlight_component",
         "Select and highlight one or more components in the viewer (outlines them and lights their pins) without "
         "dimming nets. Use this to point at a part while you talk about it.",
         objectSchema({{"refs", json{{"type", "array"},
                                     {"items", {{"type", "string"}}},
                                     {"description", "Reference designators to highlight, e.g. [\"U1\", \"R3\"]."}}}},
                      {"refs"})},
        {"clear_highlight",
         "Clear any highlighted net or selected components in the viewer, returning to the normal view.",
         objectSchema({}, {})},
        {"goto_sheet", "Switch the viewer to a different sheet in a hierarchical design.",
         objectSchema({{"sheet", stringParam("Sheet name or index, as listed by list_sheets.")}}, {"sheet"})},
    };
}

json nativeToolsJson(const std::vector<std::string>& disabled) {
    json tools = json::array();
    for (ToolSpec& tool : toolCatalogue()) {
        bool off = false;
        for (const std::string& name : disabled) off = off || name == tool.name;
        if (off) continue;
        tools.push_back({{"type", "function"},
                         {"function",
                          {{"name", std::move(tool.name)},
                           {"description", std::move(tool.description)},
                           {"parameters", std::move(tool.parameters)}}}});
    }
    return tools;
}

std::string buildSystemPrompt(const ToolContext& ctx) {
    std::string prompt =
        "You are the built-in AI assistant inside Netloom Studio, a schematic viewer. You can see the currently open "
        "schematic through tool calls: list and inspect components, nets, and power rails; trace the electrical path "
        "between two points; run electrical rule checks; search; and highlight nets or components so the user can "
        "see what you're talking about on screen. When you explain where a signal goes, call highlight_net so the "
        "user sees it light up. When you point at a specific part, call highlight_component. Prefer calling a tool "
        "over guessing \xE2\x80\x94 the schematic data is ground truth, your prior knowledge of common circuits is "
        "not. Give concise, concrete answers that cite reference designators, pin numbers, and net names exactly as "
        "the schematic has them.";
    if (ctx.settings && !ctx.settings->ai.extra_system_prompt.empty())
        prompt += "\n\n" + ctx.settings->ai.extra_system_prompt;
    if (ctx.schematic) {
        if (ctx.settings && ctx.settings->ai.include_summary)
            prompt += "\n\nCurrent schematic:\n" + schematicSummary(*ctx.schematic, ctx.settings->ai.summary_items);
    } else {
        prompt += "\n\nNo schematic is currently open.";
    }
    return prompt;
}

json runTool(ToolContext& ctx, const std::string& name, const std::string& arguments) {
    const json args = parseToolArguments(arguments);
    if (name == "open_sample") {
        std::shared_ptr<Schematic> sample = loadSampleSchematic();
        if (!sample) return errorResult("The built-in sample could not be loaded.");
        ctx.schematic = std::move(sample);
        return {{"ok", true}, {"message", "Loaded the built-in 555 LED blinker sample."}};
    }
    if (!ctx.schematic) return errorResult("No schematic is open. Ask the user to open one, or call open_sample.");
    // Hold our own reference: a view callback may swap the context's design.
    const SchematicPtr held = ctx.schematic;
    const Schematic& s = *held;
    if (name == "get_schematic_summary") return getSchematicSummary(ctx, s);
    if (name == "list_components") return listComponents(s, args);
    if (name == "get_component") return getComponent(s, args);
    if (name == "list_nets") return listNets(s, args);
    if (name == "get_net") return getNet(s, args);
    if (name == "trace_path") return tracePathTool(ctx, s, args);
    if (name == "get_neighbours") return getNeighbours(s, args);
    if (name == "list_power_rails") return listPowerRails(s);
    if (name == "run_erc") return runErcTool(ctx, s, args);
    if (name == "get_bom") return getBom(s);
    if (name == "search") return searchTool(s, args);
    if (name == "list_sheets") return listSheets(s);
    if (name == "highlight_net") return highlightNet(ctx, s, args);
    if (name == "highlight_component") return highlightComponent(ctx, s, args);
    if (name == "clear_highlight") {
        raise(ctx, {"clear_highlight", {}, {}, -1});
        return {{"ok", true}};
    }
    if (name == "goto_sheet") return gotoSheet(ctx, s, args);
    return errorResult("Unknown tool '" + name + "'");
}

}  // namespace nl

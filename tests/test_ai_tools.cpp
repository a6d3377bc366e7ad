#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "ai_tools.h"
#include "erc.h"
#include "lookup.h"
#include "overview.h"
#include "reports.h"
#include "settings.h"

using namespace nl;
using nlohmann::json;

namespace {

Pin pin(const std::string& number, const std::string& name, const std::string& type, int net) {
    Pin p;
    p.number = number;
    p.name = name;
    p.type = type;
    p.net = net;
    return p;
}

Component part(const std::string& ref, const std::string& value, int sheet, std::vector<Pin> pins) {
    Component c;
    c.reference = ref;
    c.value = value;
    c.sheet = sheet;
    c.pins = std::move(pins);
    return c;
}

Net net(const std::string& name, bool power, std::vector<std::pair<int, int>> pins) {
    Net n;
    n.name = name;
    n.name_source = "label";
    n.power = power;
    n.pins = std::move(pins);
    n.sheets = {0};
    return n;
}

// Two sheets; R1 and C1 form VIN - MID - GND; U1 is a two-unit op-amp (unit B
// listed separately), U2 a regulator feeding +3V3, #PWR01 a ground symbol.
std::shared_ptr<Schematic> design() {
    auto s = std::make_shared<Schematic>();
    s->title = "Tools";
    s->format = "kicad";
    s->sheets.resize(2);
    s->sheets[0].name = "Root";
    s->sheets[0].file = "root.kicad_sch";
    s->sheets[1].name = "Power";
    s->sheets[1].file = "power.kicad_sch";
    s->sheets[1].parent = 0;
    s->components.push_back(part("R1", "10k", 0, {pin("1", "~", "passive", 0), pin("2", "~", "passive", 1)}));
    s->components.back().footprint = "R_0603";
    s->components.push_back(
        part("U1", "LM358", 0, {pin("1", "OUT", "output", 1), pin("2", "-", "input", -1), pin("3", "+", "input", 0)}));
    s->components.push_back(part("U1", "LM358", 0, {pin("7", "OUT", "output", -1)}));
    s->components.back().unit = 2;
    s->components.push_back(part("#PWR01", "GND", 1, {pin("1", "GND", "power_in", 2)}));
    s->components.back().power_symbol = true;
    s->components.push_back(part("C1", "100n", 1, {pin("1", "~", "passive", 1), pin("2", "~", "passive", 2)}));
    s->components.back().footprint = "C_0603";
    s->components.push_back(
        part("U2", "AMS1117-3.3", 1,
             {pin("1", "GND", "power_in", 2), pin("2", "VO", "power_out", 3), pin("3", "VI", "power_in", 0)}));
    s->nets.push_back(net("VIN", false, {{0, 0}, {1, 2}, {5, 2}}));
    s->nets.push_back(net("MID", false, {{0, 1}, {1, 0}, {4, 0}}));
    s->nets.back().aliases = {"MIDDLE"};
    s->nets.push_back(net("GND", true, {{3, 0}, {4, 1}, {5, 0}}));
    s->nets.push_back(net("+3V3", true, {{5, 1}}));
    return s;
}

struct Harness {
    ToolContext ctx;
    std::vector<ViewCommand> views;
    Harness() {
        ctx.schematic = design();
        ctx.onView = [this](const ViewCommand& v) { views.push_back(v); };
    }
    json run(const std::string& name, const std::string& args = "{}") { return runTool(ctx, name, args); }
    json with(const std::string& name, const json& args) { return runTool(ctx, name, args.dump()); }
    const Schematic& s() const { return *ctx.schematic; }
};

std::vector<std::string> field(const json& list, const char* key) {
    std::vector<std::string> out;
    for (const json& e : list) out.push_back(e.at(key).get<std::string>());
    return out;
}

using Strings = std::vector<std::string>;

}  // namespace

TEST(AiTools, CatalogueAndNativeList) {
    const Strings names = {"get_schematic_summary",
                           "open_sample",
                           "list_components",
                           "get_component",
                           "list_nets",
                           "get_net",
                           "trace_path",
                           "get_neighbours",
                           "list_power_rails",
                           "run_erc",
                           "get_bom",
                           "search",
                           "list_sheets",
                           "highlight_net",
                           "highlight_component",
                           "clear_highlight",
                           "goto_sheet"};
    std::vector<ToolSpec> cat = toolCatalogue();
    ASSERT_EQ(cat.size(), names.size());
    for (size_t i = 0; i < cat.size(); ++i) {
        EXPECT_EQ(cat[i].name, names[i]);
        const json& p = cat[i].parameters;
        EXPECT_EQ(p["type"], "object") << cat[i].name;
        EXPECT_TRUE(p["properties"].is_object()) << cat[i].name;
        EXPECT_TRUE(p["required"].is_array()) << cat[i].name;
        EXPECT_EQ(p.dump().find("default\":"), std::string::npos) << cat[i].name;
        for (auto& [key, prop] : p["properties"].items()) EXPECT_TRUE(prop["description"].is_string()) << key;
    }
    EXPECT_EQ(cat[3].parameters["required"], json({"ref"}));
    EXPECT_EQ(cat[3].parameters["properties"]["detail"], json({{"type", "string"},
                                                               {"description", "How much detail to return."},
                                                               {"enum", {"minimal", "standard", "verbose"}}}));
    EXPECT_EQ(cat[6].parameters["required"], json({"from", "to"}));
    EXPECT_EQ(cat[9].parameters["properties"]["severity"]["enum"], json({"error", "warning", "info"}));
    EXPECT_EQ(cat[11].parameters["required"], json({"query"}));
    EXPECT_EQ(cat[14].parameters["properties"]["refs"],
              json({{"type", "array"},
                    {"items", {{"type", "string"}}},
                    {"description", "Reference designators to highlight, e.g. [\"U1\", \"R3\"]."}}));
    EXPECT_EQ(cat[0].parameters.dump(), R"({"properties":{},"required":[],"type":"object"})");
    EXPECT_EQ(cat[7].description,
              "List every component directly connected to a given component's pins \xE2\x80\x94 one hop out, grouped "
              "by which pin and which net. Good for 'what's connected to U3' style questions.");
    EXPECT_EQ(cat[4].parameters["properties"]["limit"]["description"], "Maximum rows to return (default 60).");

    json all = nativeToolsJson({});
    ASSERT_EQ(all.size(), 17u);
    EXPECT_EQ(
        all[16],
        json({{"type", "function"},
              {"function",
               {{"name", "goto_sheet"}, {"description", cat[16].description}, {"parameters", cat[16].parameters}}}}));
    json some = nativeToolsJson({"open_sample", "SEARCH", "nothing"});
    ASSERT_EQ(some.size(), 16u);
    Strings kept;
    for (const json& t : some) kept.push_back(t["function"]["name"]);
    Strings expected = names;
    expected.erase(expected.begin() + 1);
    EXPECT_EQ(kept, expected);
}

TEST(AiTools, SystemPrompt) {
    const std::string fixedStart = "You are the built-in AI assistant inside Netloom Studio, a schematic viewer.";
    const std::string fixedEnd = "net names exactly as the schematic has them.";
    ToolContext ctx;
    std::string bare = buildSystemPrompt(ctx);
    EXPECT_EQ(bare.rfind(fixedStart, 0), 0u);
    const std::string closing = "\n\nNo schematic is currently open.";
    ASSERT_GT(bare.size(), closing.size());
    EXPECT_EQ(bare.substr(bare.size() - closing.size()), closing);
    const std::string fixed = bare.substr(0, bare.size() - closing.size());
    EXPECT_EQ(fixed.substr(fixed.size() - fixedEnd.size()), fixedEnd);

    Settings settings;
    settings.ai.extra_system_prompt = "Answer in French.";
    ctx.settings = &settings;
    EXPECT_EQ(buildSystemPrompt(ctx), fixed + "\n\nAnswer in French." + closing);

    ctx.schematic = design();
    settings.ai.include_summary = false;
    EXPECT_EQ(buildSystemPrompt(ctx), fixed + "\n\nAnswer in French.");
    settings.ai.include_summary = true;
    settings.ai.summary_items = 1;
    settings.ai.extra_system_prompt.clear();
    EXPECT_EQ(buildSystemPrompt(ctx), fixed + "\n\nCurrent schematic:\n" + schematicSummary(*ctx.schematic, 1));
    ctx.settings = nullptr;  // no settings: no summary for an open design
    EXPECT_EQ(buildSystemPrompt(ctx), fixed);
}

TEST(AiTools, NothingOpenAndOpenSample) {
    ToolContext ctx;
    int views = 0;
    ctx.onView = [&](const ViewCommand&) { ++views; };
    const json noSchematic = {{"error", "No schematic is open. Ask the user to open one, or call open_sample."}};
    EXPECT_EQ(runTool(ctx, "list_nets", "{}"), noSchematic);
    EXPECT_EQ(runTool(ctx, "no_such_tool", ""), noSchematic);
    EXPECT_EQ(runTool(ctx, "clear_highlight", ""), noSchematic);
    EXPECT_EQ(runTool(ctx, "open_sample", "garbage"),
              json({{"ok", true}, {"message", "Loaded the built-in 555 LED blinker sample."}}));
    ASSERT_TRUE(ctx.schematic);
    EXPECT_EQ(ctx.schematic->path, "<built-in sample>");
    EXPECT_EQ(views, 0);
    json nets = runTool(ctx, "list_nets", "");
    EXPECT_EQ(nets["count"], ctx.schematic->nets.size());
    EXPECT_GT(nets["count"].get<int>(), 0);
    EXPECT_EQ(runTool(ctx, "no_such_tool", "{}"), json({{"error", "Unknown tool 'no_such_tool'"}}));

    // open_sample swaps the context's design; an earlier holder keeps its own.
    SchematicPtr before = ctx.schematic;
    runTool(ctx, "open_sample", "");
    EXPECT_NE(ctx.schematic, before);
    EXPECT_EQ(before->path, "<built-in sample>");
}

TEST(AiTools, ArgumentReading) {
    Harness h;
    auto returned = [&](const std::string& args) { return h.run("list_components", args)["returned"].get<int>(); };
    EXPECT_EQ(returned(""), 4);
    EXPECT_EQ(returned("{\"limit\": 1"), 4);  // not JSON: defaults
    EXPECT_EQ(returned("[1]"), 4);            // JSON but not an object
    EXPECT_EQ(returned(R"({"limit": 1})"), 1);
    EXPECT_EQ(returned(R"({"limit": 1.0})"), 4);
    EXPECT_EQ(returned(R"({"limit": "1"})"), 4);
    EXPECT_EQ(returned(R"({"limit": true})"), 4);
    EXPECT_EQ(returned(R"({"limit": 4294967297})"), 1);  // low 32 bits
    EXPECT_EQ(returned(R"({"limit": -3})"), 0);
    json zero = h.run("list_components", R"({"limit": 0})");
    EXPECT_EQ(zero["count"], 4);
    EXPECT_EQ(zero["returned"], 0);
    EXPECT_EQ(zero["components"], json::array());
    EXPECT_EQ(h.run("list_nets", R"({"power_only": "yes"})")["count"], 4);  // wrong type: default
    EXPECT_EQ(h.run("list_nets", std::string(100000, '[') + std::string(100000, ']'))["count"], 4);
}

TEST(AiTools, ListComponents) {
    Harness h;
    json all = h.run("list_components");
    EXPECT_EQ(all["count"], 4);
    // No power symbol, and the op-amp's second unit is not listed again.
    EXPECT_EQ(field(all["components"], "ref"), (Strings{"R1", "U1", "C1", "U2"}));
    EXPECT_EQ(all["components"][0], componentToJson(h.s(), 0, false));
    EXPECT_EQ(field(h.with("list_components", json{{"filter", "lm3"}})["components"], "ref"), Strings{"U1"});
    EXPECT_EQ(field(h.with("list_components", json{{"filter", "0603"}})["components"], "ref"), (Strings{"R1", "C1"}));
    for (const char* sheet : {"power", "POWER.kicad_sch", "1", " 1", "1abc", "+1"})
        EXPECT_EQ(field(h.with("list_components", json{{"sheet", sheet}})["components"], "ref"), (Strings{"C1", "U2"}))
            << sheet;
    for (const char* sheet : {"99", "2", "-1", "x", "99999999999"})
        EXPECT_EQ(
            h.with("list_components", json{{"sheet", sheet}}),
            json({{"error", std::string("Unknown sheet '") + sheet + "'. Call list_sheets to see valid names."}}));
    json filtered = h.with("list_components", json{{"sheet", "Root"}, {"filter", "u"}, {"limit", 5}});
    EXPECT_EQ(filtered["count"], 1);
}

TEST(AiTools, ComponentAndNeighbours) {
    Harness h;
    json c = h.with("get_component", json{{"ref", "r1"}});
    EXPECT_EQ(c, json({{"text", describeComponent(h.s(), 0, "standard")}, {"json", componentToJson(h.s(), 0, true)}}));
    EXPECT_EQ(h.with("get_component", json{{"ref", "U1"}, {"detail", "verbose"}})["text"],
              describeComponent(h.s(), 1, "verbose"));
    EXPECT_EQ(h.with("get_component", json{{"ref", "X9"}}),
              json({{"error", "No component 'X9'. Use list_components or search to find the right reference."}}));
    EXPECT_EQ(h.with("get_neighbours", json{{"ref", "X9"}}), json({{"error", "No component 'X9'."}}));
    EXPECT_EQ(h.run("get_component", "")["error"],
              "No component ''. Use list_components or search to find the right reference.");

    json n = h.with("get_neighbours", json{{"ref", "r1"}});
    EXPECT_EQ(n["ref"], "R1");
    ASSERT_EQ(n["neighbours"].size(), 4u);
    EXPECT_EQ(n["neighbours"][0], json({{"net", "VIN"},
                                        {"via_pin", "1"},
                                        {"ref", "U1"},
                                        {"value", "LM358"},
                                        {"kind", "integrated circuit"},
                                        {"their_pin", "3"}}));
    EXPECT_EQ(field(n["neighbours"], "ref"), (Strings{"U1", "U2", "U1", "C1"}));
    EXPECT_EQ(field(n["neighbours"], "their_pin"), (Strings{"3", "3", "1", "1"}));

    // An exact reference wins over an earlier case-insensitive one.
    auto twin = std::make_shared<Schematic>(*design());
    twin->components.push_back(part("r1", "1k", 0, {}));
    h.ctx.schematic = twin;
    EXPECT_EQ(h.with("get_component", json{{"ref", "r1"}})["json"], componentToJson(*twin, 6, true));
    EXPECT_EQ(h.with("get_component", json{{"ref", "R1"}})["json"], componentToJson(*twin, 0, true));
}

TEST(AiTools, NetsAndTargets) {
    Harness h;
    EXPECT_EQ(field(h.with("list_nets", json{{"power_only", true}})["nets"], "name"), (Strings{"GND", "+3V3"}));
    EXPECT_EQ(field(h.with("list_nets", json{{"min_pins", 3}})["nets"], "name"), (Strings{"VIN", "MID", "GND"}));
    json byAlias = h.with("list_nets", json{{"filter", "middle"}});
    EXPECT_EQ(byAlias["count"], 1);
    EXPECT_EQ(byAlias["nets"][0], netToJson(h.s(), 1, false));
    json limited = h.with("list_nets", json{{"limit", 2}});
    EXPECT_EQ(limited["count"], 4);
    EXPECT_EQ(limited["returned"], 2);

    json mid = h.with("get_net", json{{"name", "MID"}, {"detail", "minimal"}});
    EXPECT_EQ(mid, json({{"resolved_as", "net MID"},
                         {"text", describeNet(h.s(), 1, "minimal") + "\n"},
                         {"nets", {netToJson(h.s(), 1, true)}}}));
    json r1 = h.with("get_net", json{{"name", "R1"}});
    EXPECT_EQ(r1["resolved_as"], "R1");
    EXPECT_EQ(r1["text"], describeNet(h.s(), 0, "standard") + "\n" + describeNet(h.s(), 1, "standard") + "\n");
    std::vector<int> nets;
    std::string label, error;
    ASSERT_FALSE(resolveTarget(h.s(), "nope", nets, label, &error));
    EXPECT_EQ(h.with("get_net", json{{"name", "nope"}}), json({{"error", error}}));
}

TEST(AiTools, TracePath) {
    Harness h;
    json t = h.with("trace_path", json{{"from", "VIN"}, {"to", "GND"}});
    EXPECT_EQ(t["found"], true);
    EXPECT_EQ(t["nets"], json({"VIN", "MID", "GND"}));
    EXPECT_EQ(t["hops"], json({{{"ref", "R1"}, {"value", "10k"}, {"pin_in", "1"}, {"pin_out", "2"}},
                               {{"ref", "C1"}, {"value", "100n"}, {"pin_in", "1"}, {"pin_out", "2"}}}));
    TraceResult direct = tracePath(h.s(), "VIN", "GND", TraceOptions{});
    EXPECT_EQ(t["message"], direct.text);
    EXPECT_EQ(t["text"], formatTrace(direct, h.s()));

    // Through the three-pin regulator only when ICs are allowed.
    EXPECT_EQ(h.with("trace_path", json{{"from", "+3V3"}, {"to", "VIN"}})["found"], false);
    EXPECT_EQ(h.with("trace_path", json{{"from", "+3V3"}, {"to", "VIN"}, {"through_ics", true}})["found"], true);
    Settings settings;
    settings.analysis.through_ics = true;
    h.ctx.settings = &settings;
    EXPECT_EQ(h.with("trace_path", json{{"from", "+3V3"}, {"to", "VIN"}})["found"], true);
    EXPECT_EQ(h.with("trace_path", json{{"from", "+3V3"}, {"to", "VIN"}, {"through_ics", false}})["found"], false);

    json bad = h.run("trace_path", "");
    EXPECT_FALSE(bad.contains("error"));
    EXPECT_EQ(bad["found"], false);
    EXPECT_EQ(bad["nets"], json::array());
    EXPECT_FALSE(bad["message"].get<std::string>().empty());
}

TEST(AiTools, RailsErcBomSearchSheets) {
    Harness h;
    json rails = h.run("list_power_rails");
    EXPECT_EQ(rails,
              json({{"rails",
                     {{{"net", "GND"}, {"pin_count", 3}, {"sources", json::array()}, {"consumers", {"U2.1"}}},
                      {{"net", "+3V3"}, {"pin_count", 1}, {"sources", {"U2.2"}}, {"consumers", json::array()}}}}}));

    std::vector<ErcIssue> issues = runErc(h.s(), ErcOptions{});
    int errors = 0, warnings = 0;
    for (const ErcIssue& i : issues) {
        errors += i.severity == "error";
        warnings += i.severity == "warning";
    }
    ASSERT_GT(errors, 0);
    ASSERT_GT(warnings, 0);
    const int total = static_cast<int>(issues.size());
    for (auto [severity, returned] : std::vector<std::pair<std::string, int>>{
             {"error", errors}, {"warning", errors + warnings}, {"info", total}, {"whatever", total}}) {
        json r = h.with("run_erc", json{{"severity", severity}});
        EXPECT_EQ(r["error_count"], errors);
        EXPECT_EQ(r["warning_count"], warnings);
        EXPECT_EQ(r["total"], total);
        EXPECT_EQ(r["returned"], returned) << severity;
        EXPECT_EQ(r["issues"].size(), static_cast<size_t>(returned));
    }
    EXPECT_EQ(h.run("run_erc", "")["returned"], errors + warnings);
    Settings quiet;
    quiet.erc = ErcOptions{false, false, false, false, false, false, false, false};
    h.ctx.settings = &quiet;
    EXPECT_EQ(h.run("run_erc", "")["total"], 0);
    h.ctx.settings = nullptr;

    json bom = h.run("get_bom");
    EXPECT_EQ(bom["csv"], bomCsv(h.s()));
    std::vector<BomGroup> groups = bomGroups(h.s());
    ASSERT_EQ(bom["lines"].size(), groups.size());
    for (size_t i = 0; i < groups.size(); ++i)
        EXPECT_EQ(bom["lines"][i], json({{"refs", groups[i].references},
                                         {"qty", groups[i].references.size()},
                                         {"value", groups[i].value},
                                         {"footprint", groups[i].footprint}}));

    json found = h.with("search", json{{"query", "gnd"}});
    std::vector<SearchHit> hits = searchSchematic(h.s(), "gnd", 20);
    ASSERT_EQ(found["count"], hits.size());
    ASSERT_GT(hits.size(), 1u);
    EXPECT_EQ(found["results"][0],
              json({{"kind", hits[0].kind}, {"title", hits[0].title}, {"detail", hits[0].detail}, {"sheet", "Power"}}));
    EXPECT_EQ(h.with("search", json{{"query", "gnd"}, {"limit", 1}})["count"], 1);
    EXPECT_EQ(h.run("search", "")["count"], 0);

    EXPECT_EQ(h.run("list_sheets"),
              json({{"sheets",
                     {{{"index", 0}, {"name", "Root"}, {"file", "root.kicad_sch"}, {"parent", -1}},
                      {{"index", 1}, {"name", "Power"}, {"file", "power.kicad_sch"}, {"parent", 0}}}}}));
    json summary = h.run("get_schematic_summary");
    EXPECT_EQ(summary, json({{"summary", schematicSummary(h.s(), 40)}, {"json", schematicToJson(h.s())}}));
}

TEST(AiTools, ViewTools) {
    Harness h;
    EXPECT_EQ(h.with("highlight_net", json{{"name", "MID"}}), json({{"ok", true}, {"highlighted", "net MID"}}));
    EXPECT_EQ(h.with("highlight_net", json{{"name", "R1.2"}})["highlighted"], "R1.2");
    EXPECT_TRUE(h.with("highlight_net", json{{"name", "nope"}}).contains("error"));
    ASSERT_EQ(h.views.size(), 2u);
    EXPECT_EQ(h.views[0].action, "highlight_net");
    EXPECT_EQ(h.views[0].nets, std::vector<int32_t>{1});
    EXPECT_TRUE(h.views[0].components.empty());
    EXPECT_EQ(h.views[0].sheet, -1);

    h.views.clear();
    EXPECT_EQ(h.with("highlight_component", json{{"refs", {"U1", "X9", "u1"}}}),
              json({{"ok", true}, {"highlighted_count", 2}, {"not_found", {"X9"}}}));
    const json refsError = {{"error", "refs must be an array of reference designators"}};
    EXPECT_EQ(h.with("highlight_component", json{{"refs", "U1"}}), refsError);
    EXPECT_EQ(h.run("highlight_component", "{}"), refsError);
    EXPECT_EQ(h.with("highlight_component", json{{"refs", {5, nullptr, "C1"}}}),
              json({{"ok", true}, {"highlighted_count", 1}, {"not_found", {5, nullptr}}}));
    EXPECT_EQ(h.with("highlight_component", json{{"refs", json::array()}})["highlighted_count"], 0);
    ASSERT_EQ(h.views.size(), 3u);  // raised even when nothing was found
    EXPECT_EQ(h.views[0].action, "highlight_component");
    EXPECT_EQ(h.views[0].components, (std::vector<int32_t>{1, 1}));
    EXPECT_TRUE(h.views[0].nets.empty());
    EXPECT_EQ(h.views[1].components, std::vector<int32_t>{4});
    EXPECT_TRUE(h.views[2].components.empty());

    h.views.clear();
    EXPECT_EQ(h.run("clear_highlight", "nonsense"), json({{"ok", true}}));
    EXPECT_EQ(h.with("goto_sheet", json{{"sheet", "1"}}), json({{"ok", true}, {"sheet", "Power"}}));
    EXPECT_EQ(h.with("goto_sheet", json{{"sheet", "root.KICAD_SCH"}})["sheet"], "Root");
    const json sheetError = {{"error", "Unknown sheet. Call list_sheets to see valid names."}};
    EXPECT_EQ(h.with("goto_sheet", json{{"sheet", "99"}}), sheetError);
    EXPECT_EQ(h.run("goto_sheet", ""), sheetError);
    ASSERT_EQ(h.views.size(), 3u);
    EXPECT_EQ(h.views[0].action, "clear_highlight");
    EXPECT_EQ(h.views[1].action, "goto_sheet");
    EXPECT_EQ(h.views[1].sheet, 1);
    EXPECT_EQ(h.views[2].sheet, 0);

    // Without a viewer the same tools still report success.
    h.ctx.onView = nullptr;
    EXPECT_EQ(h.with("highlight_net", json{{"name", "GND"}})["ok"], true);
    EXPECT_EQ(h.with("goto_sheet", json{{"sheet", "Power"}})["ok"], true);
    EXPECT_EQ(h.run("clear_highlight")["ok"], true);
}

#include <gtest/gtest.h>

#include <array>

#include "analysis/erc.h"
#include "analysis/lookup.h"
#include "analysis/overview.h"
#include "analysis/reports.h"
#include "analysis/trace.h"
#include "assistant/ai_tools.h"
#include "open/schematic_open.h"
#include "settings/settings.h"

using namespace nl;
using nlohmann::json;

namespace {

Component part(const std::string& ref, const std::string& value, int sheet, const std::string& footprint,
               std::vector<std::tuple<std::string, std::string, int>> pins) {
    Component c;
    c.reference = ref;
    c.value = value;
    c.sheet = sheet;
    c.footprint = footprint;
    for (auto& [number, type, net] : pins) {
        Pin& p = c.pins.emplace_back();
        p.number = p.name = number;
        p.type = type;
        p.net = net;
    }
    return c;
}

Net net(const std::string& name, bool power, std::vector<std::pair<int, int>> pins) {
    Net n;
    n.name = name;
    n.power = power;
    n.pins = std::move(pins);
    n.sheets = {0};
    return n;
}

// Two sheets; R1 and C1 form VIN - MID - GND; U1 is a two-unit op-amp (unit B
// listed separately), U2 a regulator feeding +3V3, #PWR01 a ground symbol.
std::shared_ptr<Schematic> design() {
    auto s = std::make_shared<Schematic>();
    s->sheets.resize(2);
    s->sheets[0].name = "Root";
    s->sheets[0].file = "root.kicad_sch";
    s->sheets[1].name = "Power";
    s->sheets[1].file = "power.kicad_sch";
    s->sheets[1].parent = 0;
    s->components = {
        part("R1", "10k", 0, "R_0603", {{"1", "passive", 0}, {"2", "passive", 1}}),
        part("U1", "LM358", 0, "", {{"1", "output", 1}, {"2", "input", -1}, {"3", "input", 0}}),
        part("U1", "LM358", 0, "", {{"7", "output", -1}}),
        part("#PWR01", "GND", 1, "", {{"1", "power_in", 2}}),
        part("C1", "100n", 1, "C_0603", {{"1", "passive", 1}, {"2", "passive", 2}}),
        part("U2", "AMS1117-3.3", 1, "", {{"1", "power_in", 2}, {"2", "power_out", 3}, {"3", "power_in", 0}})};
    s->components[2].unit = 2;
    s->components[3].power_symbol = true;
    s->nets = {net("VIN", false, {{0, 0}, {1, 2}, {5, 2}}), net("MID", false, {{0, 1}, {1, 0}, {4, 0}}),
               net("GND", true, {{3, 0}, {4, 1}, {5, 0}}), net("+3V3", true, {{5, 1}})};
    s->nets[1].aliases = {"MIDDLE"};
    return s;
}

struct Harness {
    ToolContext ctx;
    std::vector<ViewCommand> views;
    Harness() {
        ctx.schematic = design();
        ctx.onView = [this](const ViewCommand& v) { views.push_back(v); };
    }
    json run(const std::string& name, const json& args) { return runTool(ctx, name, args.dump()); }
    const Schematic& s() const { return *ctx.schematic; }
};

}  // namespace

TEST(AiTools, CatalogueAndNativeList) {
    const std::string names =
        "get_schematic_summary open_sample list_components get_component list_nets get_net "
        "trace_path get_neighbours list_power_rails run_erc get_bom search list_sheets "
        "highlight_net highlight_component clear_highlight goto_sheet ";
    std::string all, kept;
    for (const ToolSpec& tool : toolCatalogue())
        all += tool.name + (tool.parameters["required"].is_array() ? " " : "! ");
    EXPECT_EQ(all, names);
    for (const json& t : nativeToolsJson({"open_sample", "SEARCH"}))
        kept += t["function"]["name"].get<std::string>() + " ";
    EXPECT_EQ(kept, std::string(names).erase(names.find("open_sample "), 12));
}

TEST(AiTools, SystemPrompt) {
    ToolContext ctx;
    const std::string closing = "\n\nNo schematic is currently open.", bare = buildSystemPrompt(ctx);
    ASSERT_EQ(bare.substr(bare.size() - closing.size()), closing);
    const std::string fixed = bare.substr(0, bare.size() - closing.size());
    Settings settings;
    settings.ai.extra_system_prompt = "Answer in French.";
    settings.ai.summary_items = 1;
    ctx.settings = &settings;
    EXPECT_EQ(buildSystemPrompt(ctx), fixed + "\n\nAnswer in French." + closing);
    ctx.schematic = design();
    EXPECT_EQ(buildSystemPrompt(ctx),
              fixed + "\n\nAnswer in French.\n\nCurrent schematic:\n" + schematicSummary(*ctx.schematic, 1));
    settings.ai.include_summary = false;
    EXPECT_EQ(buildSystemPrompt(ctx), fixed + "\n\nAnswer in French.");
}

TEST(AiTools, NothingOpenAndOpenSample) {
    ToolContext ctx;
    const json noSchematic = {{"error", "No schematic is open. Ask the user to open one, or call open_sample."}};
    EXPECT_EQ(runTool(ctx, "list_nets", "{}"), noSchematic);
    EXPECT_EQ(runTool(ctx, "open_sample", "garbage")["ok"], true);
    SchematicPtr before = ctx.schematic;
    EXPECT_GT(runTool(ctx, "list_nets", "")["count"].get<int>(), 0);
    EXPECT_EQ(runTool(ctx, "no_such_tool", "{}"), json({{"error", "Unknown tool 'no_such_tool'"}}));
    runTool(ctx, "open_sample", "");  // swaps the context's design; an earlier holder keeps its own
    EXPECT_NE(ctx.schematic, before);
}

TEST(AiTools, ListedNamesAndArgumentReading) {
    Harness h;
    const std::vector<std::array<std::string, 4>> cases = {
        // No power symbol, and the op-amp's second unit is not listed again.
        {"list_components", "", "components", "R1 U1 C1 U2 "},
        {"list_components", R"({"limit": 1)", "components", "R1 U1 C1 U2 "},  // not JSON: defaults
        {"list_components", R"({"limit": "1"})", "components", "R1 U1 C1 U2 "},
        {"list_components", R"({"limit": 4294967297})", "components", "R1 "},  // low 32 bits
        {"list_components", R"({"limit": -3})", "components", ""},
        {"list_components", std::string(100000, '[') + std::string(100000, ']'), "components", "R1 U1 C1 U2 "},
        {"list_components", R"({"filter": "lm3"})", "components", "U1 "},
        {"list_components", R"({"sheet": "POWER.kicad_sch", "filter": "0603"})", "components", "C1 "},
        {"list_components", R"({"sheet": "1abc"})", "components", "C1 U2 "},
        {"list_nets", R"({"power_only": true})", "nets", "GND +3V3 "},
        {"list_nets", R"({"min_pins": 3})", "nets", "VIN MID GND "},
        {"list_nets", R"({"filter": "middle"})", "nets", "MID "},
        {"get_neighbours", R"({"ref": "r1"})", "neighbours", "U1 U2 U1 C1 "},
        {"trace_path", R"({"from": "VIN", "to": "GND"})", "hops", "R1 C1 "},
    };
    for (const auto& [tool, args, list, expected] : cases) {
        const json result = runTool(h.ctx, tool, args);
        std::string got;
        for (const json& e : result.at(list)) got += e.value("ref", e.value("name", "")) + " ";
        EXPECT_EQ(got, expected) << tool << args.substr(0, 60);
    }
}

TEST(AiTools, Results) {
    Harness h;
    const Schematic& s = h.s();
    const std::vector<std::array<std::string, 3>> cases = {
        {"get_component", R"({"ref":"X9"})",
         R"({"error":"No component 'X9'. Use list_components or search to find the right reference."})"},
        {"get_neighbours", R"({"ref":"X9"})", R"({"error":"No component 'X9'."})"},
        {"list_components", R"({"sheet":"2"})",
         R"({"error":"Unknown sheet '2'. Call list_sheets to see valid names."})"},
        {"list_power_rails", "",
         R"({"rails":[{"consumers":["U2.1"],"net":"GND","pin_count":3,"sources":[]},)"
         R"({"consumers":[],"net":"+3V3","pin_count":1,"sources":["U2.2"]}]})"},
        {"list_sheets", "",
         R"({"sheets":[{"file":"root.kicad_sch","index":0,"name":"Root","parent":-1},)"
         R"({"file":"power.kicad_sch","index":1,"name":"Power","parent":0}]})"},
        {"highlight_net", R"({"name":"MID"})", R"({"highlighted":"net MID","ok":true})"},
        {"highlight_component", R"({"refs":["U1","X9","u1"]})",
         R"({"highlighted_count":2,"not_found":["X9"],"ok":true})"},
        {"highlight_component", R"({"refs":"U1"})", R"({"error":"refs must be an array of reference designators"})"},
        {"highlight_component", R"({"refs":[5,null,"C1"]})",
         R"({"highlighted_count":1,"not_found":[5,null],"ok":true})"},
        {"clear_highlight", "nonsense", R"({"ok":true})"},
        {"goto_sheet", R"({"sheet":"root.KICAD_SCH"})", R"({"ok":true,"sheet":"Root"})"},
        {"goto_sheet", R"({"sheet":"99"})", R"({"error":"Unknown sheet. Call list_sheets to see valid names."})"},
    };
    for (const auto& [tool, args, expected] : cases)
        EXPECT_EQ(runTool(h.ctx, tool, args).dump(), expected) << tool << args;
    EXPECT_EQ(h.run("get_component", {{"ref", "r1"}}),
              json({{"text", describeComponent(s, 0, "standard")}, {"json", componentToJson(s, 0, true)}}));
    EXPECT_EQ(h.run("get_net", {{"name", "MID"}, {"detail", "minimal"}}),
              json({{"resolved_as", "net MID"},
                    {"text", describeNet(s, 1, "minimal") + "\n"},
                    {"nets", {netToJson(s, 1, true)}}}));
    EXPECT_TRUE(h.run("get_net", {{"name", "nope"}}).contains("error"));

    // Only the successful view tools reach the viewer, even when nothing matched.
    std::string actions;
    for (const ViewCommand& v : h.views) actions += v.action + " ";
    EXPECT_EQ(actions, "highlight_net highlight_component highlight_component clear_highlight goto_sheet ");
    EXPECT_EQ(h.views[0].nets, std::vector<int32_t>{1});
    EXPECT_EQ(h.views[1].components, (std::vector<int32_t>{1, 1}));
    EXPECT_EQ(h.views[2].components, std::vector<int32_t>{4});
    EXPECT_EQ(h.views[4].sheet, 0);
    h.ctx.onView = nullptr;  // without a viewer the same tools still succeed
    EXPECT_EQ(h.run("goto_sheet", {{"sheet", "Power"}})["ok"], true);

    EXPECT_EQ(h.run("get_bom", json::object())["csv"], bomCsv(s));
    json found = h.run("search", {{"query", "gnd"}});
    EXPECT_EQ(found["count"], searchSchematic(s, "gnd", 20).size());
    EXPECT_EQ(found["results"][0]["sheet"], "Power");
    EXPECT_EQ(h.run("search", {{"query", "gnd"}, {"limit", 1}})["count"], 1);
}

TEST(AiTools, TraceAndErcOptions) {
    Harness h;
    EXPECT_EQ(h.run("trace_path", {{"from", "VIN"}, {"to", "GND"}})["text"],
              formatTrace(tracePath(h.s(), "VIN", "GND", TraceOptions{}), h.s()));
    // Through the three-pin regulator only when ICs are allowed, by argument or setting.
    const json across = {{"from", "+3V3"}, {"to", "VIN"}};
    EXPECT_EQ(h.run("trace_path", across)["found"], false);
    EXPECT_EQ(h.run("trace_path", {{"from", "+3V3"}, {"to", "VIN"}, {"through_ics", true}})["found"], true);
    Settings settings;
    settings.analysis.through_ics = true;
    h.ctx.settings = &settings;
    EXPECT_EQ(h.run("trace_path", across)["found"], true);
    EXPECT_EQ(h.run("trace_path", json::object())["found"], false);

    std::vector<ErcIssue> issues = runErc(h.s(), ErcOptions{});
    size_t errors = 0, errorsAndWarnings = 0;
    for (const ErcIssue& i : issues) {
        errors += i.severity == "error";
        errorsAndWarnings += i.severity != "info";
    }
    ASSERT_TRUE(errors > 0 && errorsAndWarnings > errors);  // the design has both kinds
    for (auto [severity, returned] : std::vector<std::pair<std::string, size_t>>{
             {"error", errors}, {"warning", errorsAndWarnings}, {"whatever", issues.size()}})
        EXPECT_EQ(h.run("run_erc", {{"severity", severity}})["issues"].size(), returned) << severity;
    settings.erc = ErcOptions{false, false, false, false, false, false, false, false};
    EXPECT_EQ(h.run("run_erc", json::object())["total"], 0);
    EXPECT_FALSE(h.run("run_erc", json::object()).contains("project_file"));

    // A design with a project file: the counts are of what it shows, and the result says what it hid.
    std::string error;
    h.ctx.schematic =
        openSchematicFile(std::string(NETLOOM_SOURCE_DIR) + "/tests/fixtures/kicad/erc/erc_project.kicad_sch", &error);
    ASSERT_TRUE(h.ctx.schematic) << error;
    h.ctx.settings = nullptr;
    const json r = h.run("run_erc", {{"severity", "info"}});
    EXPECT_TRUE(r["total"] == 2 && r["error_count"] == 1 && r["hidden_count"] == 3 &&
                r["project_file"] == "erc_project.kicad_pro")
        << r.dump();
}

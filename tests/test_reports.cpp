#include <gtest/gtest.h>

#include "json_util.h"
#include "reports.h"
#include "run_netloom.h"
#include "schematic_open.h"

using namespace nl;
using nlohmann::json;

namespace {

Component part(const std::string& ref, const std::string& value, const std::string& footprint = "",
               const std::string& lib = "Device:R") {
    Component c;
    c.reference = ref;
    c.value = value;
    c.footprint = footprint;
    c.lib_id = lib;
    return c;
}

std::string refsOf(const BomGroup& g) {
    std::string out;
    for (const std::string& r : g.references) out += (out.empty() ? "" : " ") + r;
    return out;
}

std::string golden(const std::string& name) {
    return nltest::slurp(std::string(NETLOOM_SOURCE_DIR) + "/tests/golden/" + name);
}

}  // namespace

TEST(Bom, GroupsQuantitiesAndOrder) {
    Schematic s;
    s.components = {part("R2", "10k", "R_0603"),
                    part("R10", "10k", "R_0603"),
                    part("R3", "10k", "R_0805"),
                    part("R5", "1k"),
                    part("R5", "1k"),
                    part("C3", "100n", "", "Device:C")};
    Component u = part("U1", "LM358", "SOIC-8", "Amp:LM358");
    u.unit = 2;  // only the second unit placed: still counted once
    s.components.push_back(u);
    u.unit = 1;
    s.components.push_back(u);
    u.unit = 3;
    s.components.push_back(u);
    s.components.push_back(part("#FLG01", "PWR_FLAG"));
    Component skipped = part("R7", "10k", "R_0603");
    for (int i = 0; i < 3; ++i) {
        Component c = skipped;
        c.power_symbol = i == 0;
        c.in_bom = i != 1;
        c.dnp = i == 2;
        s.components.push_back(c);
    }
    s.components[1].description = "later description wins";

    const auto groups = bomGroups(s);
    ASSERT_EQ(groups.size(), 5u);
    EXPECT_EQ(refsOf(groups[0]), "C3");
    EXPECT_EQ(refsOf(groups[1]), "R10 R2");  // byte order: R10 before R2
    EXPECT_EQ(groups[1].description, "later description wins");
    EXPECT_EQ(refsOf(groups[2]), "R3");
    EXPECT_EQ(refsOf(groups[3]), "R5");  // one reference used twice counts once
    EXPECT_EQ(refsOf(groups[4]), "U1");
    EXPECT_EQ(groups[4].library, "Amp:LM358");

    EXPECT_EQ(bomCsv(Schematic{}), "Qty,References,Value,Footprint,Library,Description\n");
    s.components = {part("R1", "1k, 1%", "R_0603"), part("R2", "1k, 1%", "R_0603")};
    s.components[1].description = "say \"hi\"";
    EXPECT_EQ(bomCsv(s),
              "Qty,References,Value,Footprint,Library,Description\n"
              "2,R1 R2,\"1k, 1%\",R_0603,Device:R,\"say \"\"hi\"\"\"\n");
    EXPECT_EQ(csvField("a\nb"), "\"a\nb\"");
    EXPECT_EQ(csvField("a\rb"), "a\rb");
    EXPECT_EQ(csvField(""), "");
}

TEST(Netlist, SkipsBusesAndPowerSymbolPins) {
    Schematic s;
    s.title = "Demo";
    Component r = part("R1", "1k");
    Pin p1, p2;
    p1.number = "1";
    p1.name = "~";
    p2.number = "2";
    p2.name = "B";
    p2.type = "input";
    r.pins = {p1, p2};
    Component pwr = part("#PWR01", "GND", "", "power:GND");
    pwr.power_symbol = true;
    pwr.pins = {p1};
    s.components = {r, pwr};
    Net gnd, sig, bus;
    gnd.name = "GND";
    gnd.power = true;
    gnd.pins = {{1, 0}};
    sig.name = "SIG";
    sig.pins = {{0, 1}, {0, 0}};
    bus.name = "Bus-3";
    bus.bus = true;
    s.nets = {gnd, bus, sig};
    EXPECT_EQ(netlistText(s),
              "# Netloom netlist for Demo\n# 3 nets, 2 components\n\nGND  [power]\nSIG\n    R1.2  B  input\n"
              "    R1.1  ~  passive\n");
}

TEST(ReportJson, OptionalKeysAndFullForms) {
    Schematic s;
    Sheet sheet;
    sheet.name = "Root";
    s.sheets = {sheet};
    Component c = part("U1", "LM358", "SOIC-8", "Amp:LM358");
    c.datasheet = "~";
    c.properties = {{"MPN", "LM358DR"}};
    Pin a, b;
    a.number = "1";
    a.name = "OUT";
    a.type = "output";
    a.net = 0;
    b.number = "2";
    b.no_connect = true;
    b.hidden = true;
    c.pins = {a, b};
    c.position = {12.346, -0.001};
    s.components = {c};
    Net n;
    n.name = "OUT";
    n.name_source = "label";
    n.pins = {{0, 0}};
    n.sheets = {0};
    n.labels = {0};
    n.aliases = {"AMP_OUT"};
    s.nets = {n};
    Label l;
    l.kind = SheetPin;
    l.text = "OUT";
    s.labels = {l};

    EXPECT_EQ(dumpJson(pinToJson(s, 0, 0)), R"({"name":"OUT","net":"OUT","net_pins":1,"number":"1","type":"output"})");
    EXPECT_EQ(dumpJson(pinToJson(s, 0, 1)),
              R"({"hidden":true,"name":"","net":"","no_connect":true,"number":"2","type":"passive"})");

    json brief = componentToJson(s, 0, false);
    EXPECT_FALSE(brief.contains("unit"));
    EXPECT_FALSE(brief.contains("datasheet"));
    EXPECT_FALSE(brief.contains("properties"));
    EXPECT_FALSE(brief.contains("description"));
    EXPECT_EQ(brief["position_mm"], json::array({"12.35", "0"}));
    EXPECT_EQ(brief["kind"], "integrated circuit");
    json full = componentToJson(s, 0, true);
    EXPECT_EQ(full["unit"], 1);
    EXPECT_EQ(full["properties"], json({{"MPN", "LM358DR"}}));
    s.components[0].unit = 2;
    s.components[0].dnp = true;
    s.components[0].datasheet = "http://x";
    brief = componentToJson(s, 0, false);
    EXPECT_EQ(brief["unit"], 2);
    EXPECT_EQ(brief["dnp"], true);
    EXPECT_EQ(brief["datasheet"], "http://x");

    EXPECT_EQ(dumpJson(netToJson(s, 0, false)),
              R"({"aliases":["AMP_OUT"],"name":"OUT","name_source":"label","pin_count":1,"pins":[{"pin":"1",)"
              R"("pin_name":"OUT","ref":"U1","type":"output","value":"LM358"}],"power":false,"sheets":["Root"],)"
              R"("wire_segments":0})");
    json fullNet = netToJson(s, 0, true);
    EXPECT_EQ(fullNet["labels"], json::parse(R"([{"kind":"sheet_pin","sheet":"Root","text":"OUT"}])"));
    EXPECT_EQ(fullNet["pins"][0]["kind"], "integrated circuit");
    EXPECT_FALSE(fullNet.contains("bus"));
}

TEST(ReportJson, DumpKeyOrderAndUnicode) {
    Schematic s;
    s.title = "Bl\xC3\xA4ttchen \xE2\x80\x94 \xFF\xFE bad";  // valid UTF-8, then invalid bytes
    s.warnings = {"w1"};
    const std::string text = dumpJson(schematicToJson(s), 2);
    EXPECT_EQ(text,
              "{\n  \"company\": \"\",\n  \"components\": [],\n  \"date\": \"\",\n  \"format\": \"\",\n"
              "  \"nets\": [],\n  \"path\": \"\",\n  \"rev\": \"\",\n  \"sheets\": [],\n"
              "  \"title\": \"Bl\xC3\xA4ttchen \xE2\x80\x94 \xEF\xBF\xBD\xEF\xBF\xBD bad\",\n"
              "  \"warnings\": [\n    \"w1\"\n  ]\n}");
    EXPECT_EQ(dumpJson(json("\xC3")), "\"\xEF\xBF\xBD\"");  // truncated sequence
}

TEST(ReportCommands, SampleOutputsMatchReviewedTexts) {
    const std::vector<std::pair<std::string, std::string>> cases = {{"--erc", "erc_sample.txt"},
                                                                    {"--bom", "bom_sample.csv"},
                                                                    {"--netlist", "netlist_sample.txt"},
                                                                    {"--json", "json_sample.json"}};
    for (const auto& [option, file] : cases) {
        const std::string expected = golden(file);
        ASSERT_FALSE(expected.empty()) << file;
        for (const char* input : {"sample", "--sample"}) {
            auto r = nltest::runNetloom({option, input, "ignored"});
            EXPECT_EQ(r.status, 0) << option;
            EXPECT_EQ(r.out, expected) << option;
            EXPECT_EQ(r.err, "") << option;
        }
    }
    auto missing = nltest::runNetloom({"--json", "/nonexistent/x.kicad_sch"});
    EXPECT_EQ(missing.status, 1);
    EXPECT_EQ(missing.out, "");
    EXPECT_EQ(missing.err, "Error: Cannot read file: /nonexistent/x.kicad_sch\n");
}

TEST(ReportJson, StreamedDumpEqualsTheTreeDump) {
    std::shared_ptr<Schematic> s = loadSampleSchematic();
    ASSERT_TRUE(s);
    for (int indent : {-1, 0, 2, 4}) EXPECT_EQ(schematicJsonText(*s, indent), dumpJson(schematicToJson(*s), indent));
    Schematic empty;
    empty.title = "\xFF";
    empty.warnings = {"a", "b"};
    for (int indent : {-1, 2}) EXPECT_EQ(schematicJsonText(empty, indent), dumpJson(schematicToJson(empty), indent));
}

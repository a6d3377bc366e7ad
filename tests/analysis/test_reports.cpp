#include <gtest/gtest.h>

#include "analysis/reports.h"
#include "base/json_util.h"
#include "fixtures/run_netloom.h"
#include "open/schematic_open.h"

using namespace nl;

// Records are built with designated initializers naming only what a case needs.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
using nlohmann::json;

namespace {

Component part(const std::string& ref, const std::string& value, const std::string& footprint = "",
               const std::string& lib = "Device:R") {
    return {.reference = ref, .value = value, .footprint = footprint, .lib_id = lib};
}

}  // namespace

TEST(Reports, BomGroupsCountsAndQuotes) {
    Schematic s;
    s.components = {part("R2", "10k", "R_0603"), part("R10", "10k", "R_0603"), part("R3", "10k", "R_0805"),
                    part("R5", "1k, 1%"),        part("R5", "1k, 1%"),         part("C3", "100n", "", "Device:C"),
                    part("#FLG01", "PWR_FLAG")};
    s.components[1].description = "later \"description\" wins";
    for (int unit : {2, 1, 3}) {  // only the second unit placed first: still counted once
        s.components.push_back(part("U1", "LM358", "SOIC-8", "Amp:LM358"));
        s.components.back().unit = unit;
    }
    for (int i = 0; i < 3; ++i) {  // left out as power symbol, not in the BOM, not placed
        s.components.push_back(part("R7", "10k", "R_0603"));
        s.components.back().power_symbol = i == 0;
        s.components.back().in_bom = i != 1;
        s.components.back().dnp = i == 2;
    }
    EXPECT_EQ(bomCsv(s),
              "Qty,References,Value,Footprint,Library,Description\n"
              "1,C3,100n,,Device:C,\n"
              "2,R10 R2,10k,R_0603,Device:R,\"later \"\"description\"\" wins\"\n"
              "1,R3,10k,R_0805,Device:R,\n"
              "1,R5,\"1k, 1%\",,Device:R,\n"
              "1,U1,LM358,SOIC-8,Amp:LM358,\n");
    EXPECT_EQ(csvField("a\nb"), "\"a\nb\"");
    EXPECT_EQ(csvField("a\rb"), "a\rb");
}

TEST(Reports, JsonOptionalKeysAndFullForms) {
    Schematic s;
    s.sheets = {{.name = "Root"}};
    Component c = part("U1", "LM358", "SOIC-8", "Amp:LM358");
    c.datasheet = "~";
    c.properties = {{"MPN", "LM358DR"}};
    c.position = {12.346, -0.001};
    c.pins = {{.name = "OUT", .number = "1", .type = "output", .net = 0},
              {.number = "2", .no_connect = true, .hidden = true}};
    s.components = {c};
    s.nets = {{.name = "OUT", .pins = {{0, 0}}, .labels = {0}, .sheets = {0}, .aliases = {"AMP_OUT"}}};
    s.labels = {{.kind = SheetPin, .text = "OUT"}};

    EXPECT_EQ(dumpJson(componentToJson(s, 0, false)),
              R"({"footprint":"SOIC-8","kind":"integrated circuit","library":"Amp:LM358","pin_count":2,"pins":[)"
              R"({"name":"OUT","net":"OUT","net_pins":1,"number":"1","type":"output"},{"hidden":true,"name":"",)"
              R"("net":"","no_connect":true,"number":"2","type":"passive"}],"position_mm":["12.35","0"],"ref":"U1",)"
              R"("sheet":"Root","value":"LM358"})");
    const json full = componentToJson(s, 0, true);
    EXPECT_EQ(full["unit"], 1);
    EXPECT_EQ(full["properties"], json({{"MPN", "LM358DR"}}));
    s.components[0].unit = 2;
    s.components[0].dnp = true;
    s.components[0].datasheet = "http://x";
    const json brief = componentToJson(s, 0, false);
    EXPECT_EQ(brief["unit"].dump() + brief["dnp"].dump() + brief["datasheet"].dump(), "2true\"http://x\"");
    EXPECT_EQ(dumpJson(netToJson(s, 0, false)),
              R"({"aliases":["AMP_OUT"],"name":"OUT","name_source":"","pin_count":1,"pins":[{"pin":"1",)"
              R"("pin_name":"OUT","ref":"U1","type":"output","value":"LM358"}],"power":false,"sheets":["Root"],)"
              R"("wire_segments":0})");
    json fullNet = netToJson(s, 0, true);
    EXPECT_EQ(fullNet["labels"], json::parse(R"([{"kind":"sheet_pin","sheet":"Root","text":"OUT"}])"));
    EXPECT_EQ(fullNet["pins"][0]["kind"], "integrated circuit");
}

TEST(Reports, InvalidUtf8AndStreamedDump) {
    // Valid UTF-8 stays as it is; each bad or truncated sequence becomes U+FFFD.
    EXPECT_EQ(dumpJson(json("Bl\xC3\xA4ttchen \xE2\x80\x94 \xFF\xFE bad")),
              "\"Bl\xC3\xA4ttchen \xE2\x80\x94 \xEF\xBF\xBD\xEF\xBF\xBD bad\"");
    EXPECT_EQ(dumpJson(json("\xC3")), "\"\xEF\xBF\xBD\"");

    std::shared_ptr<Schematic> s = loadSampleSchematic();
    ASSERT_TRUE(s);
    Schematic odd;
    odd.title = "\xFF";
    odd.warnings = {"a", "b"};
    for (int indent : {-1, 0, 2, 4}) {
        EXPECT_EQ(schematicJsonText(*s, indent), dumpJson(schematicToJson(*s), indent));
        EXPECT_EQ(schematicJsonText(odd, indent), dumpJson(schematicToJson(odd), indent));
    }
}

TEST(Reports, CommandsMatchReviewedTexts) {
    for (const auto& [option, file] : {std::pair{"--erc", "erc_sample.txt"},
                                       {"--bom", "bom_sample.csv"},
                                       {"--netlist", "netlist_sample.txt"},
                                       {"--json", "json_sample.json"}}) {
        const std::string expected = nltest::slurp(std::string(NETLOOM_SOURCE_DIR) + "/tests/golden/" + file);
        ASSERT_FALSE(expected.empty()) << file;
        auto r = nltest::runNetloom({option, "sample"});
        EXPECT_EQ(r.status, 0) << option;
        EXPECT_EQ(r.out + "|" + r.err, expected + "|") << option;
    }
    auto missing = nltest::runNetloom({"--json", "/nonexistent/x.kicad_sch"});
    EXPECT_EQ(missing.status, 1);
    EXPECT_EQ(missing.out + "|" + missing.err,
              "|"
              "Error: Cannot read file: /nonexistent/x.kicad_sch (No such file or directory)\n");
}

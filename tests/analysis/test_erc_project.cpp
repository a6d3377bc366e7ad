#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "analysis/erc.h"
#include "open/schematic_open.h"

using namespace nl;

// Records are built with designated initializers naming only what a case needs.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace {

using Strings = std::vector<std::string>;

// Root with two instances of one sheet file (sheet symbols "s-a", "s-b") and one of another.
Schematic design() {
    Schematic s{.format = "kicad",
                .sheets = {{.name = "Root", .file = "top.kicad_sch", .uuid = "r"},
                           {.name = "A", .file = "ch.kicad_sch", .uuid = "c", .parent = 0},
                           {.name = "B", .file = "ch.kicad_sch", .uuid = "c", .parent = 0},
                           {.name = "P", .file = "psu.kicad_sch", .uuid = "p", .parent = 0}}};
    s.sheet_symbols = {{.name = "A", .child = 1, .uuid = "s-a"},
                       {.name = "B", .child = 2, .uuid = "s-b"},
                       {.name = "P", .child = 3, .uuid = "s-p"}};
    return s;
}

// Codes of what the project leaves shown, and how many it hid.
std::string shown(const Schematic& s, const ErcProject& project) {
    const ErcReport r = runErc(s, {}, project);
    std::string out;
    for (const ErcIssue& i : r.issues) out += i.code + " ";
    return out + "hidden " + std::to_string(r.hidden);
}

ErcProject ignoring(Strings rules) {
    ErcProject p{.file = "x.kicad_pro"};
    p.ignored_rules.insert(rules.begin(), rules.end());
    return p;
}

}  // namespace

TEST(ErcProject, ReadsIgnoredRulesAndSheetSpecificExclusions) {
    const ErcProject p = parseErcProject("b.kicad_pro", R"({"erc": {
        "rule_severities": {"pin_not_connected": "ignore", "pin_to_pin": "warning", "wire_dangling": 3},
        "erc_exclusions": [
            ["pin_not_connected|762000|-508000|000000c1|000000C2|/r|/r/s|", "comment"],
            "label_dangling|10|20|000000c3||/r|/r|",
            "pin_not_connected|762000|508000|000000c1|00000000-0000-0000-0000-000000000000",
            "pin_not_connected|x|508000|000000c1||/r||",
            [7], 8]},
        "meta": {"version": 3}})");
    EXPECT_EQ(p.file, "b.kicad_pro");
    EXPECT_EQ(p.ignored_rules, (std::set<std::string, std::less<>>{"pin_not_connected"}));
    ASSERT_EQ(p.exclusions.size(), 2u);  // KiCad 8 entries (no sheet path) and damaged ones are left out
    const ErcExclusion& e = p.exclusions[0];
    EXPECT_TRUE(e.rule == "pin_not_connected" && e.x == 762000 && e.y == -508000 &&
                e.uuid1.text() == "00000000-0000-0000-0000-0000000000c1" && e.uuid2 == ItemId::parse("000000c2") &&
                e.paths == (Strings{"/r", "/r/s"}));
    EXPECT_TRUE(p.exclusions[1].rule == "label_dangling" && p.exclusions[1].uuid2.empty());

    // Unreadable text is no project; a project whose settings are not objects hides nothing.
    for (const char* text : {"", "{", "[1, 2", "\xff\xfe"}) EXPECT_EQ(parseErcProject("a", text).file, "") << text;
    for (const char* text : {"[]", "{}", R"({"erc": []})", R"({"erc": {"rule_severities": ["x"]}})",
                             R"({"erc": {"erc_exclusions": {"a": "b"}}})"}) {
        const ErcProject q = parseErcProject("a", text);
        EXPECT_TRUE(q.file == "a" && q.ignored_rules.empty() && q.exclusions.empty()) << text;
    }
    // Nesting far deeper than any project file is dropped, not recursed into.
    const std::string deep = R"({"erc": {"rule_severities": {"x": "ignore"}}, "deep": )" + std::string(100000, '[') +
                             std::string(100000, ']') + "}";
    EXPECT_EQ(parseErcProject("a", deep).ignored_rules.size(), 1u);
}

TEST(ErcProject, AnIssueIsHiddenWhenAllItsRulesAreIgnored) {
    Schematic s = design();
    // A wire on a net without pins or labels: either rule may be KiCad's.
    s.nets = {{.name = "N", .name_source = "auto", .sheets = {0}}};
    s.wires = {{.a = {0, 0}, .b = {0, 5}, .net = 0, .sheet = 0}, {.a = {0, 0}, .b = {9, 0}, .net = 0, .sheet = 0}};
    s.nets[0].wires = {0, 1};
    EXPECT_EQ(shown(s, ignoring({"unconnected_wire_endpoint"})), "WIRE_DANGLING WIRE_DANGLING hidden 0");
    EXPECT_EQ(shown(s, ignoring({"unconnected_wire_endpoint", "wire_dangling"})), "hidden 2");
    s.labels = {{.text = "L", .position = {9, 0}, .sheet = 0, .net = 0}};  // now a labelled net
    s.nets[0].labels = {0};
    EXPECT_EQ(shown(s, ignoring({"unconnected_wire_endpoint"})), "LABEL_SINGLE hidden 1");
    EXPECT_EQ(shown(s, ignoring({"unconnected_wire_endpoint", "label_dangling"})), "hidden 2");
    s.labels[0].kind = Global;  // a global label answers to its own rule
    EXPECT_EQ(shown(s, ignoring({"unconnected_wire_endpoint", "label_dangling"})), "LABEL_SINGLE hidden 1");
    EXPECT_EQ(shown(s, ignoring({"unconnected_wire_endpoint", "global_label_dangling"})), "hidden 2");
    // Case clashes answer to the rules of the pairs they hold: two labels, or a label and a power name.
    s.labels.push_back({.kind = Global, .text = "l", .position = {0, 5}, .sheet = 0, .net = 0});
    s.nets[0].labels.push_back(1);
    const Strings others = {"unconnected_wire_endpoint", "global_label_dangling", "multiple_net_names",
                            "power_pin_not_driven"};
    auto plus = [&](const char* rule) {
        Strings r = others;
        r.push_back(rule);
        return ignoring(r);
    };
    EXPECT_EQ(shown(s, plus("similar_power")), "NET_NAME_CASE hidden 3");
    EXPECT_EQ(shown(s, plus("similar_labels")), "hidden 4");
    s.labels[1].text = "Vdd";
    s.components = {{.reference = "#PWR1",
                     .value = "VDD",
                     .power_symbol = true,
                     .pins = {{.name = "VDD", .number = "1", .type = "power_in", .position = {50, 50}, .net = 0}}}};
    s.nets[0].pins = {{0, 0}};
    EXPECT_EQ(shown(s, plus("similar_labels")), "NET_NAME_CASE hidden 4");
    EXPECT_EQ(shown(s, plus("similar_label_and_power")), "hidden 5");
    // Other severities change nothing.
    ErcProject warn = ignoring({});
    EXPECT_EQ(shown(s, warn), shown(s, ErcProject{}));
}

TEST(ErcProject, ExclusionsNameOneItemOnAnyInstanceOfItsSheetFile) {
    Schematic s = design();
    // An open pin R1.1 at (7.62, 5.08) on each instance of ch.kicad_sch, and R9.1 on psu.kicad_sch.
    for (int sheet : {1, 2, 3})
        s.components.push_back({.reference = sheet == 3 ? "R9" : "R" + std::to_string(sheet),
                                .pins = {{.name = "~",
                                          .number = "1",
                                          .position = {7.62, 5.08},
                                          .net = sheet - 1,
                                          .uuid = ItemId::parse(sheet == 3 ? "0000a009" : "0000a001")}},
                                .sheet = sheet});
    for (int n = 0; n < 3; ++n)
        s.nets.push_back({.name = "N" + std::to_string(n), .pins = {{n, 0}}, .sheets = {n + 1}});
    auto excluding = [](const std::string& entry) {
        return parseErcProject("x.kicad_pro", "{\"erc\": {\"erc_exclusions\": [\"" + entry + "\"]}}");
    };
    // The drawing mistake of ch.kicad_sch is reported once; either instance's path names it.
    EXPECT_EQ(shown(s, ErcProject{}), "PIN_UNCONNECTED PIN_UNCONNECTED hidden 0");
    EXPECT_EQ(shown(s, excluding("pin_not_connected|76200|50800|0000a001||/r/s-b|/r/s-b|")),
              "PIN_UNCONNECTED hidden 1");
    EXPECT_EQ(shown(s, excluding("pin_not_connected|76200|50800|0000a001||/r/s-a||")), "PIN_UNCONNECTED hidden 1");
    for (const char* miss : {"pin_to_pin|76200|50800|0000a001||/r/s-a||",         // another rule
                             "pin_not_connected|76200|50801|0000a001||/r/s-a||",  // another place
                             "pin_not_connected|76200|50800|0000a009||/r/s-a||",  // another item
                             "pin_not_connected|76200|50800|0000a001||/r/s-p||",  // a sheet of another file
                             "pin_not_connected|76200|50800|0000a001||/r||"})
        EXPECT_EQ(shown(s, excluding(miss)), "PIN_UNCONNECTED PIN_UNCONNECTED hidden 0") << miss;
}

TEST(ErcProject, AConflictIsExcludedWhenEveryStackIsInAnExcludedPair) {
    Schematic s = design();
    Component u{.reference = "U1", .sheet = 0};
    for (int k = 0; k < 3; ++k)
        u.pins.push_back({.name = "O",
                          .number = std::to_string(k + 1),
                          .type = "output",
                          .position = {double(k), 0},
                          .net = 0,
                          .uuid = ItemId::parse("000000b" + std::to_string(k + 1))});
    u.pins.push_back({.name = "O",
                      .number = "4",
                      .type = "output",
                      .position = {2, 0},
                      .net = 0,
                      .uuid = ItemId::parse("000000b4")});
    s.components = {u};
    s.nets = {{.name = "BUS", .pins = {{0, 0}, {0, 1}, {0, 2}, {0, 3}}, .sheets = {0}}};
    auto pairs = [](Strings entries) {
        std::string json = "{\"erc\": {\"erc_exclusions\": [";
        for (size_t i = 0; i < entries.size(); ++i) json += (i ? ",\"" : "\"") + entries[i] + "|/r|/r|/r\"";
        return parseErcProject("x.kicad_pro", json + "]}}");
    };
    EXPECT_EQ(shown(s, pairs({"pin_to_pin|0|0|000000b1|000000b2"})),
              "OUTPUT_CONFLICT hidden 0");  // stack o3/o4 is left
    EXPECT_EQ(shown(s, pairs({"pin_to_pin|0|0|000000b1|000000b2", "pin_to_pin|9|9|000000b4|000000b1"})), "hidden 1");
    EXPECT_EQ(shown(s, pairs({"pin_to_pin|0|0|000000b1|000000b2", "pin_to_pin|9|9|000000b4|000000f9"})),
              "OUTPUT_CONFLICT hidden 0");
    EXPECT_EQ(shown(s, pairs({"no_connect_connected|0|0|000000b1|000000b2", "pin_to_pin|9|9|000000b3|000000b1"})),
              "OUTPUT_CONFLICT hidden 0");
}

TEST(ErcProject, TheProjectFileBesideTheRoot) {
    // The fixture's project ignores two rules and excludes one open pin; its KiCad 8 entry is left alone.
    const std::string dir = std::string(NETLOOM_SOURCE_DIR) + "/tests/fixtures/kicad/erc/";
    std::string error;
    auto s = openSchematicFile(dir + "erc_project.kicad_sch", &error);
    ASSERT_TRUE(s) << error;
    const ErcProject p = readErcProject(*s);
    EXPECT_TRUE(p.file == "erc_project.kicad_pro" && p.exclusions.size() == 1u && p.ignored_rules.size() == 2u);
    const ErcReport r = runProjectErc(*s, {});
    EXPECT_EQ(ercReportText(*s, r).substr(ercReportText(*s, r).find("\n\n")),
              "\n\n1 error(s), 1 warning(s), 2 total.\n3 issue(s) hidden by the project's ERC settings "
              "(erc_project.kicad_pro).\n");
    // Designs without a project file: the demo, Eagle, a root beside nothing.
    auto sample = loadSampleSchematic();
    ASSERT_TRUE(sample);
    EXPECT_EQ(readErcProject(*sample).file, "");
    EXPECT_EQ(runProjectErc(*sample, {}).hidden, 0);
    Schematic eagle = *s;
    eagle.format = "eagle";
    EXPECT_EQ(readErcProject(eagle).file, "");
    const std::filesystem::path tmp = std::filesystem::temp_directory_path() / "netloom_erc_project_test";
    std::filesystem::create_directories(tmp);
    Schematic moved = *s;
    moved.path = (tmp / "board.kicad_sch").string();
    EXPECT_EQ(readErcProject(moved).file, "");
    std::ofstream(tmp / "board.kicad_pro") << "{\"erc\": {\"rule_severities\": {\"pin_not_connected\": \"ignore\"";
    EXPECT_EQ(readErcProject(moved).file, "");  // not JSON: no project
    std::ofstream(tmp / "board.kicad_pro") << "{\"erc\": {\"rule_severities\": {\"pin_not_connected\": \"ignore\"}}}";
    EXPECT_EQ(readErcProject(moved).ignored_rules.size(), 1u);
    std::filesystem::remove_all(tmp);
}

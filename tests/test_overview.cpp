#include <gtest/gtest.h>

#include "overview.h"
#include "query_fixture.h"

using namespace nl;
using nltest::DesignBuilder;

namespace {

// Five ordinary parts, a second unit, two power rails, auto and named nets.
DesignBuilder overviewDesign() {
    DesignBuilder b;
    b.s.title = "Blinker";
    b.twoPin("R1", "10k", "+5V", "Net-(R1-Pad2)");
    b.twoPin("R2", "1k", "Net-(R1-Pad2)", "OUT");
    b.twoPin("C1", "100n", "OUT", "GND");
    int u = b.part("U1", "LM358", {{"1", "OUT", "output"}, {"8", "V+", "power_in"}, {"4", "V-", "power_in"}});
    b.connect(u, 0, "OUT");
    b.connect(u, 1, "+5V");
    b.connect(u, 2, "GND");
    int u1b = b.part("U1", "LM358", {{"7", "OUT", "output"}});
    b.s.components[u1b].unit = 2;
    b.connect(u1b, 0, "TRIG");
    b.twoPin("D1", "LED", "TRIG", "Net-floating-3");
    b.power("#PWR01", "+5V");
    b.power("#PWR02", "GND");
    return b;
}

}  // namespace

TEST(Overview, SummaryListsAndLimits) {
    DesignBuilder b = overviewDesign();
    Schematic& s = b.s;
    // Net order: +5V, Net-(R1-Pad2), OUT, GND, TRIG, Net-floating-3; the rails gain power symbols.
    EXPECT_EQ(schematicSummary(s, 200),
              "Schematic: Blinker\n"
              "Format: kicad. Sheets: 1. Components: 6. Nets: 6.\n"
              "Power rails: +5V(3 pins), GND(3 pins)\n"
              "Components (ref: value [kind]): R1: 10k [resistor], R2: 1k [resistor], C1: 100n [capacitor], "
              "U1: LM358 [integrated circuit], D1: LED [LED]\n"
              "Named signal nets: OUT, TRIG\n");

    s.company = "ACME";
    s.rev = "B";
    s.sheets.push_back({});
    s.sheets[1].name = "Power";
    s.nets[4].bus = true;  // TRIG as a bus drops out of the named nets
    EXPECT_EQ(schematicSummary(s, 2),
              "Schematic: Blinker \xE2\x80\x94 ACME (rev B)\n"
              "Format: kicad. Sheets: 2 (Root, Power). Components: 6. Nets: 6.\n"
              "Power rails: +5V(3 pins), GND(3 pins)\n"
              "Components (ref: value [kind]): R1: 10k [resistor], R2: 1k [resistor]... (+4 more, use "
              "list_components)\n"
              "Named signal nets: OUT\n");
    EXPECT_EQ(schematicSummary(s, 1),
              "Schematic: Blinker \xE2\x80\x94 ACME (rev B)\n"
              "Format: kicad. Sheets: 2 (Root, Power). Components: 6. Nets: 6.\n"
              "Power rails: +5V(3 pins)\n"
              "Components (ref: value [kind]): R1: 10k [resistor]... (+5 more, use list_components)\n"
              "Named signal nets: OUT\n");
    s.nets[4].bus = false;
    EXPECT_NE(schematicSummary(s, 1).find("Named signal nets: OUT...\n"), std::string::npos);

    for (Net& n : s.nets) n.power = false;
    EXPECT_EQ(schematicSummary(s, 200).find("Power rails"), std::string::npos);
    EXPECT_EQ(schematicSummary(Schematic{}, 5),
              "Schematic: \nFormat: . Sheets: 0. Components: 0. Nets: 0.\n"
              "Components (ref: value [kind]): \nNamed signal nets: \n");
}

TEST(Overview, SearchPassesOrderAndLimit) {
    DesignBuilder b;
    int u = b.part("U1", "ADC", {{"1", "GND", "power_in"}, {"2", "AGND", "power_in"}, {"3", "gnd", "passive"}});
    b.connect(u, 0, "GND");
    b.connect(u, 1, "AGND");
    b.s.components[u].footprint = "QFN-16";
    int r = b.part("R1", "0R", {{"1", "Gnd", "passive"}, {"2"}});
    b.s.components[r].description = "GND tie";
    b.s.nets[b.net("AGND")].power = true;
    b.s.texts.push_back({std::string(70, 'x') + " gnd note", {3, 4}, 0, 1.27, 0, -1, 1});
    Schematic& s = b.s;

    std::vector<SearchHit> hits = searchSchematic(s, " gnd ", 100);
    std::vector<std::string> titles;
    for (const SearchHit& h : hits) titles.push_back(h.kind + "|" + h.title + "|" + h.detail);
    EXPECT_EQ(titles, (std::vector<std::string>{
                          "component|R1  0R|resistor",
                          "net|net GND|1 pins",
                          "net|net AGND|1 pins, power",
                          "text|text: " + std::string(60, 'x') + "|",
                          "pin|U1 pin 1 GND|net GND",
                          "pin|U1 pin 3 gnd|unconnected",
                          "pin|R1 pin 1 Gnd|unconnected",
                      }));
    EXPECT_EQ(hits[1].index, 0);
    EXPECT_EQ(hits[1].position.x, s.components[u].pins[0].position.x);  // first pin's connection point
    EXPECT_EQ(hits[3].position.x, 3);
    EXPECT_EQ(hits[4].index, u);
    EXPECT_EQ(hits[4].position.y, s.components[u].pins[0].position.y);

    EXPECT_EQ(searchSchematic(s, "qfn", 10)[0].detail, "integrated circuit  QFN-16");
    EXPECT_TRUE(searchSchematic(s, "   ", 10).empty());
    EXPECT_EQ(searchSchematic(s, "gnd", 2).size(), 2u);
    // The pin pass checks the limit per component, so U1's two GND pins both land.
    EXPECT_EQ(searchSchematic(s, "gnd", 5).size(), 6u);
    EXPECT_EQ(searchSchematic(s, "gnd", 6).size(), 6u);

    // A net with no pins points at its first wire, else at the origin on sheet 0.
    s.nets.push_back({});
    s.nets.back().name = "LONELY";
    s.nets.back().wires = {0};
    s.wires.push_back({{7, 8}, {9, 8}, 2, 1});
    s.nets.back().sheets = {1};
    std::vector<SearchHit> lonely = searchSchematic(s, "lonely", 10);
    ASSERT_EQ(lonely.size(), 1u);
    EXPECT_EQ(lonely[0].sheet, 1);
    EXPECT_EQ(lonely[0].position.x, 7);
    s.nets.back().wires.clear();
    s.nets.back().sheets.clear();
    lonely = searchSchematic(s, "lonely", 10);
    EXPECT_EQ(lonely[0].sheet, 0);
    EXPECT_EQ(lonely[0].position.x, 0);
}

TEST(Overview, NeighboursArePerPinPair) {
    DesignBuilder b;
    int u = b.part("U1", "X", {{"1"}, {"2"}, {"3"}});
    int r = b.twoPin("R1", "1k", "A", "B");
    b.connect(u, 0, "A");
    b.connect(u, 1, "B");
    b.connect(u, 2, "A");  // U1 twice on A: its own pins are never neighbours
    std::vector<Neighbour> n = componentNeighbours(b.s, u);
    ASSERT_EQ(n.size(), 3u);
    EXPECT_EQ(n[0].component, r);
    EXPECT_EQ(n[0].via_pin, 0);
    EXPECT_EQ(n[0].their_pin, 0);
    EXPECT_EQ(n[1].net, b.net("B"));
    EXPECT_EQ(n[1].their_pin, 1);
    EXPECT_EQ(n[2].via_pin, 2);
    EXPECT_EQ(componentNeighbours(b.s, r).size(), 3u);
    EXPECT_TRUE(componentNeighbours(b.s, b.part("J1", "X", {{"1"}})).empty());
}

TEST(Overview, PowerRailSourcesAndConsumers) {
    DesignBuilder b;
    int ldo = b.part("U1", "AP2112", {{"1", "VI", "power_in"}, {"2", "VO", "passive"}}, "Regulator_Linear:AP2112");
    b.connect(ldo, 0, "+5V");
    b.connect(ldo, 1, "+3V3");
    int mcu = b.part("U2", "MCU", {{"1", "VDD", "power_in"}, {"2", "VOUT", "output"}, {"3", "VCAP", "power_out"}});
    b.connect(mcu, 0, "+3V3");
    b.connect(mcu, 1, "+3V3");  // not a regulator: an "out" name alone is nothing
    b.connect(mcu, 2, "+3V3");
    b.power("#PWR01", "+5V");
    b.power("#PWR02", "+3V3");
    b.twoPin("C1", "1u", "+3V3", "GND");
    b.power("#PWR03", "GND");
    b.s.nets[b.net("GND")].bus = true;

    std::vector<PowerRail> rails = powerRails(b.s);
    ASSERT_EQ(rails.size(), 2u);  // the bus GND is left out
    EXPECT_EQ(rails[0].name, "+3V3");
    EXPECT_EQ(rails[0].pin_count, 6);
    EXPECT_EQ(rails[0].sheet_count, 1);
    using P = std::vector<std::pair<int32_t, int32_t>>;
    EXPECT_EQ(rails[0].sources, (P{{ldo, 1}, {mcu, 2}}));
    EXPECT_EQ(rails[0].consumers, (P{{mcu, 0}}));
    EXPECT_EQ(rails[1].name, "+5V");
    EXPECT_TRUE(rails[1].sources.empty());
    EXPECT_EQ(rails[1].consumers, (P{{ldo, 0}}));  // the power symbol's power_in pin is not a consumer
}

#include <gtest/gtest.h>

#include "analysis/overview.h"
#include "fixtures/query_fixture.h"

using namespace nl;

TEST(Overview, SummaryListsAndLimits) {
    nltest::DesignBuilder b;
    b.s.title = "Blinker";
    b.twoPin("R1", "10k", "+5V", "Net-(R1-Pad2)");
    b.twoPin("R2", "1k", "Net-(R1-Pad2)", "OUT");
    b.twoPin("C1", "100n", "OUT", "GND");
    b.part("U1", "LM358", {{"1"}, {"8"}, {"4"}}, {"OUT", "+5V", "GND"});
    b.s.components[b.part("U1", "LM358", {{"7"}}, {"TRIG"})].unit = 2;  // counted, not listed
    b.twoPin("D1", "LED", "TRIG", "Net-floating-3");
    b.power("#PWR01", "+5V");
    b.power("#PWR02", "GND");
    Schematic& s = b.s;
    EXPECT_EQ(schematicSummary(s, 200),
              "Schematic: Blinker\nFormat: kicad. Sheets: 1. Components: 6. Nets: 6.\n"
              "Power rails: +5V(3 pins), GND(3 pins)\n"
              "Components (ref: value [kind]): R1: 10k [resistor], R2: 1k [resistor], "
              "C1: 100n [capacitor], U1: LM358 [integrated circuit], D1: LED [LED]\n"
              "Named signal nets: OUT, TRIG\n");
    s.company = "ACME", s.rev = "B";
    s.sheets.emplace_back().name = "Power";
    EXPECT_EQ(schematicSummary(s, 1),
              "Schematic: Blinker \xE2\x80\x94 ACME (rev B)\n"
              "Format: kicad. Sheets: 2 (Root, Power). Components: 6. Nets: 6.\n"
              "Power rails: +5V(3 pins)\n"
              "Components (ref: value [kind]): R1: 10k [resistor]... (+5 more, use list_components)\n"
              "Named signal nets: OUT...\n");
    s.nets[4].bus = true;  // TRIG
    for (Net& n : s.nets) n.power = false;
    const std::string two = schematicSummary(s, 2);
    EXPECT_EQ(two.find("Power rails"), std::string::npos);
    EXPECT_NE(two.find("R2: 1k [resistor]... (+4 more, use list_components)\nNamed signal nets: +5V, OUT...\n"),
              std::string::npos);
}

TEST(Overview, SearchPassesOrderAndLimit) {
    nltest::DesignBuilder b;
    b.part("U1", "ADC", {{"1", "GND"}, {"2", "AGND"}, {"3", "gnd"}}, {"GND", "AGND"});
    b.s.components[0].footprint = "QFN-16";
    b.part("R1", "0R", {{"1", "Gnd"}, {"2"}});
    b.s.components[1].description = "GND tie";
    b.s.nets[1].power = true;
    b.s.texts.push_back({std::string(70, 'x') + " gnd", {3, 4}, 0, 1.27, 0, -1, 1});
    Schematic& s = b.s;
    std::vector<SearchHit> hits = searchSchematic(s, " gnd ", 100);
    std::vector<std::string> seen;
    for (const SearchHit& h : hits) seen.push_back(h.kind + "|" + h.title + "|" + h.detail);
    EXPECT_EQ(seen,
              (std::vector<std::string>{"component|R1  0R|resistor", "net|net GND|1 pins", "net|net AGND|1 pins, power",
                                        "text|text: " + std::string(60, 'x') + "|", "pin|U1 pin 1 GND|net GND",
                                        "pin|U1 pin 3 gnd|unconnected", "pin|R1 pin 1 Gnd|unconnected"}));
    const Point first_pin = s.components[0].pins[0].position;  // where a net and a pin point
    EXPECT_TRUE(hits[1].position.x == first_pin.x && hits[4].position.y == first_pin.y && hits[4].index == 0);
    EXPECT_EQ(searchSchematic(s, "qfn", 10)[0].detail, "integrated circuit  QFN-16");
    EXPECT_TRUE(searchSchematic(s, "   ", 10).empty());
    EXPECT_EQ(searchSchematic(s, "gnd", 2).size(), 2u);
    EXPECT_EQ(searchSchematic(s, "gnd", 5).size(), 6u);  // the limit is checked per component in the pin pass
    // A net without pins points at its first wire, else the origin of sheet 0.
    Net& lonely = s.nets.emplace_back();
    lonely.name = "LONELY", lonely.wires = {0}, lonely.sheets = {1};
    s.wires.push_back({{7, 8}, {9, 8}, 2, 1});
    SearchHit hit = searchSchematic(s, "lonely", 10)[0];
    EXPECT_TRUE(hit.position.x == 7 && hit.sheet == 1);
    s.nets.back().wires.clear(), s.nets.back().sheets.clear();
    hit = searchSchematic(s, "lonely", 10)[0];
    EXPECT_TRUE(hit.position.x == 0 && hit.sheet == 0);
}

TEST(Overview, NeighboursAndPowerRails) {
    nltest::DesignBuilder b;
    int r = b.twoPin("R1", "1k", "A", "B");
    int u = b.part("U1", "X", {{"1"}, {"2"}, {"3"}}, {"A", "B", "A"});
    std::vector<Neighbour> n = componentNeighbours(b.s, u);  // one per pin pair, never U1 itself
    ASSERT_EQ(n.size(), 3u);
    EXPECT_TRUE(n[0].component == r && n[0].via_pin == 0 && n[0].their_pin == 0);
    EXPECT_TRUE(n[1].net == 1 && n[1].their_pin == 1 && n[2].via_pin == 2);
    EXPECT_EQ(componentNeighbours(b.s, r).size(), 3u);
    int ldo = b.part("U2", "AP2112", {{"1", "VI", "power_in"}, {"2", "VO"}}, {"+5V", "+3V3"}, "Regulator_Linear:X");
    int mcu = b.part("U3", "MCU", {{"1", "VDD", "power_in"}, {"2", "VOUT", "output"}, {"3", "VCAP", "power_out"}},
                     {"+3V3", "+3V3", "+3V3"});
    b.power("#PWR01", "+5V");
    b.power("#PWR02", "+3V3");
    b.twoPin("C1", "1u", "+3V3", "GND");
    b.power("#PWR03", "GND");
    b.s.nets[b.net("GND")].bus = true;
    std::vector<PowerRail> rails = powerRails(b.s);
    ASSERT_EQ(rails.size(), 2u);  // the bus is left out; most pins first
    using Pins = std::vector<std::pair<int32_t, int32_t>>;
    EXPECT_TRUE(rails[0].name == "+3V3" && rails[0].pin_count == 6 && rails[0].sheet_count == 1);
    EXPECT_EQ(rails[0].sources, (Pins{{ldo, 1}, {mcu, 2}}));  // an "out" name counts only on a regulator
    EXPECT_EQ(rails[0].consumers, (Pins{{mcu, 0}}));
    EXPECT_EQ(rails[1].consumers, (Pins{{ldo, 0}}));  // not the power symbol's power_in pin
    EXPECT_TRUE(rails[1].sources.empty());
}

TEST(Overview, PowerRailsOfEqualSizeKeepNetOrder) {
    // Enough rails that an unstable sort would reorder them.
    nltest::DesignBuilder b;
    std::vector<std::string> want = {"+5V3"};
    for (int i = 0; i < 40; ++i) {
        const std::string rail = "V" + std::to_string(40 - i) + "V";
        b.power("#PWR" + std::to_string(i), rail);
        if (i % 2) want.push_back(rail + "1");
    }
    for (int i = 0; i < 40; i += 2) b.twoPin("R" + std::to_string(i), "1k", "V" + std::to_string(40 - i) + "V", "");
    for (int i = 0; i < 40; i += 2) want.insert(want.begin() + 1 + i / 2, "V" + std::to_string(40 - i) + "V2");
    b.power("#PWRX", "+5V");
    b.twoPin("R99", "1k", "+5V", "+5V");
    std::vector<std::string> order;
    for (const PowerRail& r : powerRails(b.s)) order.push_back(r.name + std::to_string(r.pin_count));
    EXPECT_EQ(order, want);
}

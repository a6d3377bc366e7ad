#include <gtest/gtest.h>

#include <filesystem>
#include <limits>
#include <stdexcept>
#include <string>
#include <vector>

#include "net_builder.h"
#include "schematic_open.h"

using namespace nl;

TEST(PowerNames, RailNamesAndLookalikes) {
    for (const char* yes : {"GND_ISO", "gnd-a", "+3V3", "-12V", "3.3v", "VDD1", "motor_vcc", " GND ", "Earth", "v",
                            "12v", "1.8V", "vdda1", "vcc12", "AVDD_2", "V+"})
        EXPECT_TRUE(isPowerNetName(yes)) << yes;
    for (const char* no : {"VDDQ", "VCCINT", "SDA", "", "   ", "3v3v", "_vcc", "vcc123", "GNDA", "CLK", "v1x"})
        EXPECT_FALSE(isPowerNetName(no)) << no;
}

TEST(ComponentBounds, GraphicsPinsAndFallback) {
    Schematic s;
    Component& c = s.components.emplace_back();
    c.graphics.resize(2);
    c.graphics[0].kind = Circle;
    c.graphics[0].points = {{10, 20}};
    c.graphics[0].radius = 2;
    c.graphics[1].kind = Text;  // texts do not count
    c.graphics[1].points = {{100, 100}};
    Pin& p = c.pins.emplace_back();
    p.position = {5, 20};
    p.end = {8, 20};
    s.components.emplace_back().position = {50, 60};  // nothing drawn: a box around the position
    computeComponentBounds(s);
    const BBox& a = s.components[0].bbox;
    EXPECT_NEAR(a.min_x, 4.7, 1e-9);
    EXPECT_NEAR(a.max_x, 12.3, 1e-9);
    EXPECT_NEAR(a.min_y, 17.7, 1e-9);
    EXPECT_NEAR(a.max_y, 22.3, 1e-9);
    EXPECT_NEAR(s.components[1].bbox.min_x, 50 - 2.84, 1e-9);
    EXPECT_NEAR(s.components[1].bbox.max_y, 60 + 2.84, 1e-9);
}

namespace {

// A design assembled item by item, as a loader leaves it. Parts are named by
// reference and their nets read at pin 1 unless a pin number is given.
struct Design {
    Schematic s;

    explicit Design(std::vector<long long> sheet_versions = {0}) {
        for (long long v : sheet_versions) s.sheets.emplace_back().version = v;
    }
    void part(const std::string& ref, const std::string& value, int sheet, bool power,
              std::vector<std::vector<std::string>> pins, std::vector<Point> at) {
        Component& c = s.components.emplace_back();
        c.reference = ref;
        c.value = value;
        c.sheet = sheet;
        c.power_symbol = power;
        for (size_t i = 0; i < pins.size(); ++i) {  // {number, type, name, "implicit"}
            Pin& p = c.pins.emplace_back();
            p.number = pins[i][0];
            if (pins[i].size() > 1) p.type = pins[i][1];
            if (pins[i].size() > 2) p.name = pins[i][2];
            p.implicit_power = p.hidden = pins[i].size() > 3;
            p.position = p.end = at[i];
        }
    }
    // A resistor with pin 1 at `at` and pin 2 alone far away; optionally a label on pin 1.
    void r(const std::string& ref, Point at, int sheet = 0, int kind = -1, const std::string& text = "") {
        const double far = 1e5 + 10.0 * s.components.size();
        part(ref, "10k", sheet, false, {{"1"}, {"2"}}, {at, {far, far}});
        if (kind >= 0) label(kind, text, at, sheet);
    }
    void power(const std::string& value, Point at, int sheet = 0, const std::string& type = "power_in",
               const std::string& pin_name = "") {
        part("#PWR" + std::to_string(s.components.size()), value, sheet, true, {{"1", type, pin_name}}, {at});
    }
    int wire(Point a, Point b, int sheet = 0, bool bus = false) {
        s.wires.push_back({a, b, -1, sheet, bus, 0});
        return static_cast<int>(s.wires.size()) - 1;
    }
    int bus(Point a, Point b, int sheet = 0) { return wire(a, b, sheet, true); }
    int label(int kind, const std::string& text, Point at, int sheet = 0) {
        Label& l = s.labels.emplace_back();
        l.kind = kind;
        l.text = text;
        l.position = at;
        l.sheet = sheet;
        return static_cast<int>(s.labels.size()) - 1;
    }
    // A sheet symbol on `parent` loading `child`, with its sheet pins.
    void sheetSymbol(int parent, int child, std::vector<std::pair<std::string, Point>> pins) {
        SheetSymbol& sym = s.sheet_symbols.emplace_back();
        sym.sheet = parent;
        sym.child = child;
        for (auto& [text, at] : pins) {
            sym.pins.push_back(label(SheetPin, text, at, parent));
            s.labels.back().sheet_symbol = static_cast<int>(s.sheet_symbols.size()) - 1;
        }
    }

    void build() { buildNets(s); }
    const Pin& pin(const std::string& ref, const std::string& number = "1") const {
        for (const Component& c : s.components)
            for (const Pin& p : c.pins)
                if (c.reference == ref && p.number == number) return p;
        throw std::runtime_error("no pin " + ref + "." + number);
    }
    int netIndex(const std::string& ref, const std::string& number = "1") const { return pin(ref, number).net; }
    const Net& net(const std::string& ref, const std::string& number = "1") const {
        return s.nets.at(netIndex(ref, number));
    }
    bool same(const std::string& a, const std::string& b) const { return netIndex(a) == netIndex(b); }
};

}  // namespace

TEST(Connectivity, WireEndsAndInteriors) {
    Design d;
    d.r("R1", {0, 10});
    d.wire({0, 10}, {20, 10});
    d.wire({10, 10}, {10, 30});  // ends on the first wire's interior: joined without a dot
    d.r("R2", {10, 30});
    d.wire({20, 10}, {20, 50});  // end to end
    d.r("R3", {20.01, 25});      // within 0.02 mm of a wire's interior
    d.r("R4", {20.05, 35});      // 0.05 mm away
    d.wire({40, 0}, {40, 20});
    d.r("R5", {40, 0});  // on a wire end only
    d.s.bus_entries.push_back({{40, 20}, {2.54, 2.54}, 0});
    d.r("R6", {42.54, 22.54});  // bus entries join nothing
    d.build();
    EXPECT_TRUE(d.same("R1", "R2"));
    EXPECT_TRUE(d.same("R1", "R3"));
    EXPECT_FALSE(d.same("R1", "R4"));
    EXPECT_FALSE(d.same("R1", "R5"));
    EXPECT_FALSE(d.same("R5", "R6"));
    EXPECT_EQ(d.net("R1").wires, (std::vector<int>{0, 1, 2}));
    EXPECT_EQ(d.s.wires[1].net, d.netIndex("R2"));
}

TEST(Connectivity, MicrometreKeysAndGridCells) {
    Design d({0, 0});
    d.r("R1", {10.0001, 5});
    d.r("R2", {10.0004, 5});  // the same micrometre
    d.r("R3", {10.0006, 5});  // the next one
    // A wire exactly on the x = 20 cell boundary: a pin 0.01 mm to its left
    // lies in the neighbouring cell and is never tested against it.
    d.wire({20, 1}, {20, 9});
    d.wire({20, 9}, {30, 9});
    d.r("R4", {19.99, 5});
    d.r("R5", {20.01, 5});
    d.r("R6", {30, 9});
    d.r("R7", {30, 9}, 1);  // same coordinates, other sheet
    d.build();
    EXPECT_TRUE(d.same("R1", "R2"));
    EXPECT_FALSE(d.same("R1", "R3"));
    EXPECT_FALSE(d.same("R4", "R6"));
    EXPECT_TRUE(d.same("R5", "R6"));
    EXPECT_FALSE(d.same("R6", "R7"));
}

TEST(Connectivity, LabelsBySheetAndScope) {
    Design d({0, 0});
    d.r("R1", {0, 0}, 0, Local, "A");
    d.r("R2", {10, 0}, 0, Local, "A");
    d.r("R3", {0, 0}, 1, Local, "A");  // local labels stay on their sheet
    d.r("R4", {20, 0}, 0, Global, "CLK");
    d.r("R5", {20, 0}, 1, Global, "CLK");
    d.wire({30, 0}, {30, 20});
    d.label(Local, "M", {30, 10});  // on a wire interior
    d.r("R6", {30, 20});
    d.r("R7", {40, 0}, 0, Local, "M");
    d.r("R8", {0, 50}, 1, Hierarchical, "H");  // hierarchical and local of one text on one sheet
    d.r("R9", {10, 50}, 1, Local, "H");
    d.build();
    EXPECT_TRUE(d.same("R1", "R2"));
    EXPECT_FALSE(d.same("R1", "R3"));
    EXPECT_TRUE(d.same("R4", "R5"));
    EXPECT_EQ(d.net("R4").name_source, "global_label");
    EXPECT_TRUE(d.same("R6", "R7"));
    EXPECT_TRUE(d.same("R8", "R9"));
    EXPECT_EQ(d.net("R8").name_source, "hier_label");
}

TEST(Connectivity, HierarchicalLabelsMeetSheetPins) {
    Design d({0, 0});
    const int child = 1;
    d.sheetSymbol(0, child, {{"IN", {0, 0}}, {"in", {70, 0}}});
    d.sheetSymbol(0, child, {{"IN", {50, 0}}});  // the child used twice
    d.r("R1", {0, 0});
    d.r("R2", {50, 0});
    d.r("R3", {5, 5}, child, Hierarchical, "IN");
    d.r("R4", {70, 0});
    d.build();
    EXPECT_TRUE(d.same("R1", "R3"));
    EXPECT_TRUE(d.same("R2", "R3"));
    EXPECT_FALSE(d.same("R4", "R3"));  // case differs
    EXPECT_EQ(d.net("R3").name, "IN");
    EXPECT_EQ(d.net("R3").sheets, (std::vector<int>{0, child}));
    EXPECT_EQ(d.net("R4").name_source, "sheet_pin");
}

TEST(Connectivity, PowerSymbolsFlagsAndHiddenPins) {
    Design d({0, 0});
    d.r("R1", {0, 10});
    d.power("GND", {0, 10});
    d.r("R2", {20, 10}, 1);
    d.power("GND", {20, 10}, 1);  // the same rail on another sheet
    d.r("R3", {0, 0});
    d.power("VCC", {0, 0});
    d.power("PWR_FLAG", {0, 10}, 0, "power_out");  // on both rails: must not short them
    d.power("PWR_FLAG", {0, 0}, 0, "power_out");
    d.r("R4", {40, 0}, 0, Global, "VCC");  // a global label is not a power symbol
    d.part("U1", "MCU", 0, false, {{"7", "power_in", "GND", "hidden"}, {"8", "power_out", "VCC", "hidden"}},
           {{60, 0}, {60, 10}});
    d.build();
    EXPECT_TRUE(d.same("R1", "R2"));
    EXPECT_FALSE(d.same("R1", "R3"));
    EXPECT_EQ(d.netIndex("U1", "7"), d.netIndex("R1"));
    EXPECT_NE(d.netIndex("U1", "8"), d.netIndex("R3"));
    EXPECT_FALSE(d.same("R3", "R4"));
    const Net& gnd = d.net("R1");
    EXPECT_EQ(gnd.name, "GND");
    EXPECT_EQ(gnd.name_source, "power");
    EXPECT_TRUE(gnd.power);
    EXPECT_TRUE(gnd.aliases.empty());  // PWR_FLAG offers no name
    EXPECT_EQ(d.net("R4").name, "VCC");
    EXPECT_EQ(d.net("R4").name_source, "global_label");
    EXPECT_EQ(d.net("U1", "8").name, "Net-(U1-Pad8)");
}

TEST(Connectivity, OldFilesNamePowerByPin) {
    Design d({0, 20211123, 20230121});
    d.r("R1", {0, 0}, 1);
    d.power("+3,3V", {0, 0}, 1, "power_in", "+3.3V");
    d.r("R2", {0, 0}, 2);
    d.power("+3.3V", {0, 0}, 2, "power_in", "+3V3");
    d.r("R3", {0, 0});  // no version: by value
    d.power("+3,3V", {0, 0}, 0, "power_in", "+3.3V");
    d.build();
    EXPECT_TRUE(d.same("R1", "R2"));
    EXPECT_EQ(d.net("R1").name, "+3.3V");
    EXPECT_FALSE(d.same("R1", "R3"));
    EXPECT_EQ(d.net("R3").name, "+3,3V");
}

TEST(Connectivity, NoConnectMarkersAndPins) {
    Design d;
    d.r("R1", {0, 0});
    d.wire({0, 0}, {20, 0});
    d.s.no_connects.push_back({{10, 0}, 0});  // on the wire, away from the pin
    const std::vector<std::vector<std::string>> nc{{"6", "no_connect"}, {"9", "no_connect"}};
    d.part("U1", "IC", 0, false, nc, {{50, 50}, {50, 50}});  // stacked: stay apart
    d.part("U2", "IC", 0, false, nc, {{60, 50}, {60, 50}});  // stacked on a wire end: both join it
    d.wire({60, 50}, {70, 50});
    d.part("U3", "IC", 0, false, {nc[0]}, {{80, 5}});  // on a wire interior
    d.wire({80, 0}, {80, 10});
    d.r("R2", {80, 10});
    d.build();
    EXPECT_TRUE(d.pin("R1").no_connect);
    EXPECT_FALSE(d.pin("R1", "2").no_connect);
    EXPECT_NE(d.netIndex("U1", "6"), d.netIndex("U1", "9"));
    EXPECT_EQ(d.netIndex("U2", "6"), d.netIndex("U2", "9"));
    EXPECT_EQ(d.netIndex("U3", "6"), d.netIndex("R2"));
}

TEST(Connectivity, AbsurdCoordinatesStayBounded) {
    Design d;
    const double nan = std::numeric_limits<double>::quiet_NaN();
    d.wire({-1e6, 5}, {1e6, 5});  // 200,000 cells: tested outside the grid
    d.wire({-1e300, 6}, {1e300, 6});
    d.wire({0, 0}, {1e7, 1e7});  // a diagonal over 10^12 cells
    d.wire({nan, 0}, {0, nan});
    d.r("R1", {0, 5});  // on the first wire's interior
    d.r("R2", {nan, nan});
    d.r("R3", {5e6, 5e6});  // on the diagonal
    d.bus({1e300, 1e300}, {-1e300, -1e300});
    d.build();
    EXPECT_EQ(d.netIndex("R1"), d.s.wires[0].net);
    EXPECT_EQ(d.netIndex("R3"), d.s.wires[2].net);
    EXPECT_NE(d.netIndex("R2"), d.s.wires[3].net);
}

TEST(Naming, PrioritiesAliasesAndAutoNames) {
    Design d;
    d.r("R1", {0, 0}, 0, Global, "USB_5V");
    d.power("+5V", {0, 0});
    d.label(Local, "USB_5V", {0, 0});
    d.r("R2", {10, 0}, 0, Local, "B");
    d.label(Local, "A", {10, 0});
    d.label(Local, "AB", {10, 0});
    d.r("C10", {30, 0});
    d.r("C2", {30, 0});
    d.part("U1", "IC", 0, false, {{"10"}, {"2"}}, {{40, 0}, {40, 0}});
    d.build();
    EXPECT_EQ(d.net("R1").name, "+5V");
    EXPECT_EQ(d.net("R1").name_source, "power");
    EXPECT_EQ(d.net("R1").aliases, (std::vector<std::string>{"USB_5V"}));
    EXPECT_EQ(d.net("R2").name, "A");
    EXPECT_EQ(d.net("R2").name_source, "label");
    EXPECT_EQ(d.net("R2").aliases, (std::vector<std::string>{"AB", "B"}));
    EXPECT_FALSE(d.net("R2").power);
    EXPECT_EQ(d.net("R2", "2").name, "Net-(R2-Pad2)");
    EXPECT_EQ(d.net("R2", "2").name_source, "auto");
    EXPECT_EQ(d.net("C2").name, "Net-(C10-Pad1)");
    EXPECT_EQ(d.net("U1", "2").name, "Net-(U1-Pad10)");
}

TEST(Naming, FloatingNetsAndFinalOrder) {
    Design d({0, 0});
    d.wire({0, 0}, {10, 0});                // net 1 in creation order
    d.bus({0, 5}, {10, 5});                 // net 2
    d.r("R9", {100, 0}, 0, Local, "zeta");  // nets 3 and 4
    d.label(Local, "A", {200, 0});          // net 5
    d.label(Local, "A", {200, 0}, 1);       // net 6: same name, other sheet
    d.label(Local, "3V3", {300, 0});        // power by its name
    d.power("GND", {400, 0});
    d.label(Local, "Ab", {500, 0});
    d.build();
    std::vector<std::string> names;
    for (const Net& n : d.s.nets) names.push_back(n.name);
    EXPECT_EQ(names, (std::vector<std::string>{"3V3", "GND", "A", "A", "Ab", "zeta", "Bus-2", "Net-(R9-Pad2)",
                                               "Net-floating-1"}));
    EXPECT_TRUE(d.s.nets[0].power);
    EXPECT_EQ(d.s.nets[0].name_source, "label");
    EXPECT_EQ(d.s.nets[2].sheets, (std::vector<int>{0}));  // equal names keep creation order
    EXPECT_EQ(d.s.nets[3].sheets, (std::vector<int>{1}));
    for (size_t i = 0; i < d.s.nets.size(); ++i) {  // stored indices follow the reordering
        for (int w : d.s.nets[i].wires) EXPECT_EQ(d.s.wires[w].net, static_cast<int>(i));
        for (int l : d.s.nets[i].labels) EXPECT_EQ(d.s.labels[l].net, static_cast<int>(i));
        for (auto [c, p] : d.s.nets[i].pins) EXPECT_EQ(d.s.components[c].pins[p].net, static_cast<int>(i));
    }
}

TEST(Buses, SegmentsMeetOnlyBusesAndBusLabels) {
    Design d;
    const int b0 = d.bus({0, 0}, {10, 0});
    d.bus({10, 0}, {20, 0});
    d.bus({5, 10}, {5, 0});  // ends on the first segment's interior
    d.r("R1", {0, 0});       // a pin on a bus end
    const int w = d.wire({10, 0}, {10, 20});
    const int plain = d.label(Local, "B", {20, 0});  // an ordinary label on a bus end
    d.r("R2", {40, 0});
    d.wire({40, 0}, {50, 0});
    const int stray = d.label(Local, "S[0..1]", {50, 0});  // a bus label on a wire end
    d.build();
    const Net& bus = d.s.nets[d.s.wires[b0].net];
    EXPECT_TRUE(bus.bus);
    EXPECT_EQ(bus.wires, (std::vector<int>{0, 1, 2}));
    EXPECT_EQ(bus.name.rfind("Bus-", 0), 0u);
    EXPECT_TRUE(bus.pins.empty() && bus.labels.empty());
    EXPECT_NE(d.s.wires[w].net, d.s.wires[b0].net);
    EXPECT_NE(d.s.labels[plain].net, d.s.wires[b0].net);
    EXPECT_NE(d.s.labels[stray].net, d.netIndex("R2"));
}

TEST(Buses, VectorBusThroughSheetPin) {
    Design d({0, 0});
    const int child = 1;
    // Parent: the bus label DQ[0..3] on the interior, the sheet pin D[0..3] at the end.
    const int parent_bus = d.bus({0, 0}, {20, 0});
    d.label(Local, "DQ[0..3]", {10, 0});
    d.sheetSymbol(0, child, {{"D[0..3]", {20, 0}}});
    d.r("R1", {0, 30}, 0, Local, "DQ1");
    d.r("R2", {10, 30}, 0, Local, "D1");  // the sheet pin names nothing on the parent
    // Child: the hierarchical label on a stub, member wires labelled elsewhere.
    d.bus({0, 0}, {5, 0}, child);
    d.label(Hierarchical, "D[0..3]", {0, 0}, child);
    d.r("R3", {50, 50}, child, Local, "D1");
    d.r("R4", {60, 50}, child, Local, "D2");
    d.build();
    EXPECT_TRUE(d.same("R1", "R3"));
    EXPECT_FALSE(d.same("R2", "R3"));
    EXPECT_FALSE(d.same("R3", "R4"));
    EXPECT_EQ(d.net("R3").name, "D1");
    EXPECT_EQ(d.net("R3").aliases, (std::vector<std::string>{"DQ1"}));
    const Net& bus = d.s.nets[d.s.wires[parent_bus].net];
    EXPECT_EQ(bus.wires.size(), 2u);  // the parent's and the child's bus
    EXPECT_EQ(bus.labels.size(), 3u);
    EXPECT_EQ(bus.name, "D[0..3]");
    EXPECT_EQ(bus.name_source, "hier_label");
}

TEST(Buses, MembersAlignByPositionOrLocalName) {
    Design d;
    d.bus({0, 0}, {30, 0});
    d.label(Local, "A[2..5]", {0, 0});
    d.label(Local, "B[1..0]", {30, 0});
    d.label(Local, "{P Q}", {15, 0});  // a group aligns with no vector
    d.bus({0, 20}, {30, 20});
    d.label(Local, "U{DP DM}", {0, 20});
    d.label(Local, "H{DM X DP}", {30, 20});
    double x = 100;
    for (const char* name : {"A2", "A3", "A4", "A5", "B0", "B1", "P", "U.DP", "U.DM", "H.DP", "H.DM", "H.X"})
        d.r(name, {x += 10, 0}, 0, Local, name);
    d.build();
    EXPECT_TRUE(d.same("A2", "B1"));
    EXPECT_TRUE(d.same("A3", "B0"));
    EXPECT_FALSE(d.same("A4", "A5") || d.same("A4", "B0") || d.same("P", "B0") || d.same("P", "B1"));
    EXPECT_TRUE(d.same("U.DP", "H.DP"));
    EXPECT_TRUE(d.same("U.DM", "H.DM"));
    EXPECT_FALSE(d.same("U.DP", "U.DM") || d.same("H.X", "U.DP") || d.same("H.X", "U.DM"));
}

TEST(Buses, GlobalMembersAndAliases) {
    Design d({0, 0, 0});
    d.s.bus_aliases["Main-BUS"] = {"GPIO0", "USB_DN"};
    // A global bus label: its members are global signals.
    d.bus({0, 0}, {10, 0}, 1);
    d.label(Global, "G[0..3]", {10, 0}, 1);
    d.label(Local, "L[0..3]", {5, 0}, 1);
    d.r("R1", {0, 0}, 0, Global, "G1");
    d.r("R2", {0, 50}, 1, Local, "L1");
    // An alias, bare on the parent's bus and in braces on the sheet pin and in the child.
    d.bus({0, 100}, {20, 100});
    d.label(Local, "Main-BUS", {0, 100});
    d.sheetSymbol(0, 2, {{"{Main-BUS}", {20, 100}}});
    d.bus({0, 0}, {0, 10}, 2);
    d.label(Hierarchical, "{Main-BUS}", {0, 10}, 2);
    d.r("R3", {30, 100}, 0, Local, "USB_DN");
    d.r("R4", {30, 30}, 2, Local, "USB_DN");
    d.r("R5", {40, 30}, 2, Local, "GPIO0");
    d.build();
    EXPECT_TRUE(d.same("R1", "R2"));
    EXPECT_EQ(d.net("R1").name, "G1");
    EXPECT_TRUE(d.same("R3", "R4"));
    EXPECT_FALSE(d.same("R4", "R5"));
}

namespace {

std::shared_ptr<Schematic> openDemo(const std::string& relative) {
    const std::string path = "/usr/share/kicad/demos/" + relative;
    if (!std::filesystem::exists(path)) return nullptr;
    std::string error;
    auto s = openSchematicFile(path, &error);
    EXPECT_TRUE(s) << error;
    return s;
}

const Net* findNet(const Schematic& s, const std::string& name) {
    for (const Net& n : s.nets)
        if (n.name == name) return &n;
    return nullptr;
}

}  // namespace

TEST(RealDesigns, VideoRailsStayApartAndBusesJoinMembers) {
    auto s = openDemo("video/video.kicad_sch");
    if (!s) GTEST_SKIP() << "kicad-demos not installed";
    EXPECT_EQ(s->nets.size(), 500u);
    for (const char* name : {"GND", "+5V", "+3.3V", "+12V"}) {
        const Net* n = findNet(*s, name);
        ASSERT_TRUE(n) << name;
        EXPECT_EQ(n->name_source, "power") << name;
    }
    EXPECT_EQ(findNet(*s, "GND")->pins.size(), 347u);
    EXPECT_EQ(findNet(*s, "+5V")->pins.size(), 190u);
    // DQ0, DPC0 and PC_D0 meet only through buses that cross sheets.
    const Net* dq0 = findNet(*s, "DPC0");
    ASSERT_TRUE(dq0);
    EXPECT_EQ(dq0->aliases, (std::vector<std::string>{"DQ0", "PC_D0"}));
    EXPECT_GE(dq0->sheets.size(), 4u);
}

TEST(RealDesigns, KiCad6PowerNetsNamedByPin) {
    auto s = openDemo("kit-dev-coldfire-xilinx_5213/kit-dev-coldfire-xilinx_5213.kicad_sch");
    if (!s) GTEST_SKIP() << "kicad-demos not installed";
    EXPECT_EQ(s->nets.size(), 283u);
    const Net* rail = findNet(*s, "+3.3V");
    ASSERT_TRUE(rail);
    EXPECT_EQ(rail->pins.size(), 140u);
    EXPECT_FALSE(findNet(*s, "+3,3V"));
}

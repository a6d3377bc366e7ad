#include <gtest/gtest.h>

#include <filesystem>
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
    Component c;
    GraphicItem circle;
    circle.kind = Circle;
    circle.points = {{10, 20}};
    circle.radius = 2;
    GraphicItem text;
    text.kind = Text;
    text.points = {{100, 100}};
    c.graphics = {circle, text};
    Pin p;
    p.position = {5, 20};
    p.end = {8, 20};
    c.pins.push_back(p);
    s.components.push_back(c);

    Component empty;
    empty.position = {50, 60};
    s.components.push_back(empty);

    computeComponentBounds(s);
    const BBox& a = s.components[0].bbox;
    EXPECT_NEAR(a.min_x, 4.7, 1e-9);  // the pin tip, not the text
    EXPECT_NEAR(a.max_x, 12.3, 1e-9);
    EXPECT_NEAR(a.min_y, 17.7, 1e-9);
    EXPECT_NEAR(a.max_y, 22.3, 1e-9);
    const BBox& b = s.components[1].bbox;
    EXPECT_NEAR(b.min_x, 50 - 2.84, 1e-9);
    EXPECT_NEAR(b.max_y, 60 + 2.84, 1e-9);
}

namespace {

struct PinSpec {
    std::string number;
    Point at;
    std::string type = "passive";
    std::string name = "";
    bool implicit_power = false;
};

// A design assembled by hand, item by item, as a loader would leave it.
struct Design {
    Schematic s;

    Design() { s.sheets.push_back(Sheet{}); }

    int sheet(long long version = 0) {
        Sheet sh;
        sh.version = version;
        s.sheets.push_back(sh);
        return static_cast<int>(s.sheets.size()) - 1;
    }
    int part(const std::string& ref, const std::string& value, std::vector<PinSpec> pins, int sheet = 0,
             bool power = false) {
        Component c;
        c.reference = ref;
        c.value = value;
        c.sheet = sheet;
        c.power_symbol = power;
        for (const PinSpec& ps : pins) {
            Pin& p = c.pins.emplace_back();
            p.number = ps.number;
            p.name = ps.name;
            p.type = ps.type;
            p.position = ps.at;
            p.end = ps.at;
            p.implicit_power = ps.implicit_power;
            p.hidden = ps.implicit_power;
        }
        s.components.push_back(c);
        return static_cast<int>(s.components.size()) - 1;
    }
    // A two-pin resistor between a and b.
    int resistor(const std::string& ref, Point a, Point b, int sheet = 0) {
        return part(ref, "10k", {{"1", a}, {"2", b}}, sheet);
    }
    int power(const std::string& value, Point at, int sheet = 0, const std::string& type = "power_in",
              const std::string& pin_name = "") {
        return part("#PWR" + std::to_string(s.components.size()), value, {{"1", at, type, pin_name}}, sheet, true);
    }
    int wire(Point a, Point b, int sheet = 0, bool bus = false) {
        Wire w;
        w.a = a;
        w.b = b;
        w.sheet = sheet;
        w.bus = bus;
        s.wires.push_back(w);
        return static_cast<int>(s.wires.size()) - 1;
    }
    int label(int kind, const std::string& text, Point at, int sheet = 0) {
        Label l;
        l.kind = kind;
        l.text = text;
        l.position = at;
        l.sheet = sheet;
        s.labels.push_back(l);
        return static_cast<int>(s.labels.size()) - 1;
    }
    void junction(Point at, int sheet = 0) { s.junctions.push_back({at, sheet, -1}); }
    void noConnect(Point at, int sheet = 0) { s.no_connects.push_back({at, sheet}); }
    // A sheet symbol on `parent` loading `child`, with sheet pins (text, point).
    void sheetSymbol(int parent, int child, std::vector<std::pair<std::string, Point>> pins) {
        SheetSymbol sym;
        sym.sheet = parent;
        sym.child = child;
        for (auto& [text, at] : pins) {
            sym.pins.push_back(label(SheetPin, text, at, parent));
            s.labels.back().sheet_symbol = static_cast<int>(s.sheet_symbols.size());
        }
        s.sheet_symbols.push_back(sym);
    }

    void build() { buildNets(s); }
    int pinNet(const std::string& ref, const std::string& number) const {
        for (const Component& c : s.components)
            if (c.reference == ref)
                for (const Pin& p : c.pins)
                    if (p.number == number) return p.net;
        ADD_FAILURE() << "no pin " << ref << "." << number;
        return -1;
    }
    const Pin& pin(const std::string& ref, const std::string& number) const {
        for (const Component& c : s.components)
            if (c.reference == ref)
                for (const Pin& p : c.pins)
                    if (p.number == number) return p;
        throw std::runtime_error("no such pin");
    }
    const Net& netOf(const std::string& ref, const std::string& number) const { return s.nets.at(pinNet(ref, number)); }
    bool same(const std::string& r1, const std::string& n1, const std::string& r2, const std::string& n2) const {
        return pinNet(r1, n1) == pinNet(r2, n2);
    }
};

}  // namespace

TEST(Connectivity, WireEndsAndInteriors) {
    Design d;
    d.resistor("R1", {0, 0}, {0, 10});
    d.wire({0, 10}, {20, 10});   // end on R1.2
    d.wire({10, 10}, {10, 30});  // T on the interior of the first wire, no junction
    d.resistor("R2", {10, 30}, {10, 40});
    d.wire({20, 10}, {20, 50});               // end to end, corner
    d.resistor("R3", {20.01, 25}, {30, 25});  // pin within 0.02 mm of a wire interior
    d.resistor("R4", {20.05, 35}, {30, 35});  // 0.05 mm away: apart
    d.wire({40, 0}, {40, 20});
    d.resistor("R5", {40, 0}, {50, 0});  // on the end of a wire, not its interior
    d.build();
    EXPECT_TRUE(d.same("R1", "2", "R2", "1"));
    EXPECT_TRUE(d.same("R1", "2", "R3", "1"));
    EXPECT_FALSE(d.same("R1", "2", "R4", "1"));
    EXPECT_FALSE(d.same("R1", "2", "R5", "1"));
    const Net& n = d.netOf("R1", "2");
    EXPECT_EQ(n.wires, (std::vector<int>{0, 1, 2}));
    EXPECT_EQ(d.s.wires[1].net, d.pinNet("R2", "1"));
}

TEST(Connectivity, MicrometreKeysAndGridCells) {
    Design d;
    d.resistor("R1", {10.0001, 5}, {0, 50});
    d.resistor("R2", {10.0004, 5}, {0, 60});  // same micrometre as R1.1
    d.resistor("R3", {10.0006, 5}, {0, 70});  // next micrometre
    // A vertical wire exactly on the x = 20 cell boundary: a pin 0.01 mm to
    // its left lies in the neighbouring cell and is not tested against it.
    d.wire({20, 1}, {20, 9});
    d.resistor("R4", {19.99, 5}, {0, 80});
    d.resistor("R5", {20.01, 5}, {0, 90});
    d.wire({20, 9}, {30, 9});
    d.resistor("R6", {30, 9}, {0, 100});
    // A label on another sheet at the same coordinates connects nothing here.
    const int sh = d.sheet();
    d.resistor("R7", {30, 9}, {0, 110}, sh);
    d.build();
    EXPECT_TRUE(d.same("R1", "1", "R2", "1"));
    EXPECT_FALSE(d.same("R1", "1", "R3", "1"));
    EXPECT_FALSE(d.same("R4", "1", "R6", "1"));
    EXPECT_TRUE(d.same("R5", "1", "R6", "1"));
    EXPECT_FALSE(d.same("R6", "1", "R7", "1"));
}

TEST(Connectivity, LabelsBySheetAndScope) {
    Design d;
    const int s1 = d.sheet();
    // Local labels: one sheet only.
    d.resistor("R1", {0, 0}, {0, 100});
    d.label(Local, "A", {0, 0});
    d.resistor("R2", {10, 0}, {10, 100});
    d.label(Local, "A", {10, 0});
    d.resistor("R3", {0, 0}, {0, 100}, s1);
    d.label(Local, "A", {0, 0}, s1);
    // Global labels: every sheet.
    d.resistor("R4", {20, 0}, {20, 100});
    d.label(Global, "CLK", {20, 0});
    d.resistor("R5", {20, 0}, {20, 100}, s1);
    d.label(Global, "CLK", {20, 0}, s1);
    // A label on a wire interior joins the wire.
    d.wire({30, 0}, {30, 20});
    d.label(Local, "M", {30, 10});
    d.resistor("R6", {30, 20}, {30, 100});
    d.resistor("R7", {40, 0}, {40, 100});
    d.label(Local, "M", {40, 0});
    // Local and hierarchical labels of one text on one sheet are one signal.
    d.resistor("R8", {0, 50}, {0, 150}, s1);
    d.label(Hierarchical, "H", {0, 50}, s1);
    d.resistor("R9", {10, 50}, {10, 150}, s1);
    d.label(Local, "H", {10, 50}, s1);
    d.build();
    EXPECT_TRUE(d.same("R1", "1", "R2", "1"));
    EXPECT_FALSE(d.same("R1", "1", "R3", "1"));
    EXPECT_EQ(d.netOf("R3", "1").name, "A");
    EXPECT_TRUE(d.same("R4", "1", "R5", "1"));
    EXPECT_EQ(d.netOf("R4", "1").name_source, "global_label");
    EXPECT_TRUE(d.same("R6", "1", "R7", "1"));
    EXPECT_TRUE(d.same("R8", "1", "R9", "1"));
    EXPECT_EQ(d.netOf("R8", "1").name, "H");
    EXPECT_EQ(d.netOf("R8", "1").name_source, "hier_label");
}

TEST(Connectivity, HierarchicalLabelsMeetSheetPins) {
    Design d;
    const int child = d.sheet();
    d.resistor("R1", {0, 0}, {0, 100});
    d.resistor("R2", {50, 0}, {50, 100});
    // The child is used twice; each instance's sheet pin meets the child's label.
    d.sheetSymbol(0, child, {{"IN", {0, 0}}, {"in", {70, 0}}});
    d.sheetSymbol(0, child, {{"IN", {50, 0}}});
    d.resistor("R3", {5, 5}, {5, 100}, child);
    d.label(Hierarchical, "IN", {5, 5}, child);
    d.resistor("R4", {70, 0}, {70, 100});
    d.build();
    EXPECT_TRUE(d.same("R1", "1", "R3", "1"));
    EXPECT_TRUE(d.same("R2", "1", "R3", "1"));
    EXPECT_FALSE(d.same("R4", "1", "R3", "1"));  // case differs
    const Net& n = d.netOf("R3", "1");
    EXPECT_EQ(n.name, "IN");
    EXPECT_EQ(n.name_source, "hier_label");
    EXPECT_EQ(n.sheets, (std::vector<int>{0, child}));
    EXPECT_EQ(d.netOf("R4", "1").name_source, "sheet_pin");
}

TEST(Connectivity, PowerSymbolsFlagsAndHiddenPins) {
    Design d;
    const int s1 = d.sheet();
    d.resistor("R1", {0, 0}, {0, 10});
    d.power("GND", {0, 10});
    d.resistor("R2", {20, 0}, {20, 10}, s1);
    d.power("GND", {20, 10}, s1);  // same rail on another sheet
    // PWR_FLAG on both rails: its power output must not short them.
    d.power("PWR_FLAG", {0, 10}, 0, "power_out");
    d.power("VCC", {0, 0});
    d.power("PWR_FLAG", {0, 0}, 0, "power_out");
    // A power symbol and a global label of one text are different things.
    d.resistor("R3", {40, 0}, {40, 10});
    d.label(Global, "VCC", {40, 0});
    // Hidden power inputs join their rail; hidden power outputs do not.
    d.part("U1", "MCU", {{"7", {60, 0}, "power_in", "GND", true}, {"8", {60, 10}, "power_out", "VCC", true}});
    d.build();
    EXPECT_TRUE(d.same("R1", "2", "R2", "2"));
    EXPECT_FALSE(d.same("R1", "2", "R1", "1"));
    EXPECT_TRUE(d.same("R1", "2", "U1", "7"));
    EXPECT_FALSE(d.same("R1", "1", "U1", "8"));
    EXPECT_FALSE(d.same("R1", "1", "R3", "1"));
    const Net& gnd = d.netOf("R1", "2");
    EXPECT_EQ(gnd.name, "GND");
    EXPECT_EQ(gnd.name_source, "power");
    EXPECT_TRUE(gnd.power);
    EXPECT_TRUE(gnd.aliases.empty());  // PWR_FLAG offers no name
    EXPECT_EQ(d.netOf("R1", "1").name, "VCC");
    EXPECT_EQ(d.netOf("R3", "1").name, "VCC");
    EXPECT_EQ(d.netOf("R3", "1").name_source, "global_label");
    EXPECT_EQ(d.netOf("U1", "8").name, "Net-(U1-Pad8)");
}

TEST(Connectivity, OldFilesNamePowerByPin) {
    Design d;
    const int old_sheet = d.sheet(20211123);
    const int new_sheet = d.sheet(20230121);
    d.resistor("R1", {0, 0}, {0, 10}, old_sheet);
    d.power("+3,3V", {0, 0}, old_sheet, "power_in", "+3.3V");
    d.resistor("R2", {0, 0}, {0, 10}, new_sheet);
    d.power("+3.3V", {0, 0}, new_sheet, "power_in", "+3V3");
    d.resistor("R3", {0, 0}, {0, 10});  // root without a version: by value
    d.power("+3,3V", {0, 0}, 0, "power_in", "+3.3V");
    d.build();
    EXPECT_TRUE(d.same("R1", "1", "R2", "1"));
    EXPECT_EQ(d.netOf("R1", "1").name, "+3.3V");
    EXPECT_FALSE(d.same("R1", "1", "R3", "1"));
    EXPECT_EQ(d.netOf("R3", "1").name, "+3,3V");
}

TEST(Connectivity, NoConnectMarkersAndPins) {
    Design d;
    // A marker on a wire reaches the pin at the wire's far end.
    d.resistor("R1", {0, 0}, {0, 100});
    d.wire({0, 0}, {20, 0});
    d.noConnect({10, 0});
    // Two no-connect pins stacked on one spot stay apart...
    d.part("U1", "IC", {{"6", {50, 50}, "no_connect"}, {"9", {50, 50}, "no_connect"}});
    // ...unless something else lies there: then both join it.
    d.part("U2", "IC", {{"6", {60, 50}, "no_connect"}, {"9", {60, 50}, "no_connect"}});
    d.wire({60, 50}, {70, 50});
    // A no-connect pin on a wire interior joins the wire.
    d.part("U3", "IC", {{"1", {80, 5}, "no_connect"}});
    d.wire({80, 0}, {80, 10});
    d.resistor("R2", {80, 10}, {90, 10});
    d.build();
    EXPECT_TRUE(d.pin("R1", "1").no_connect);
    EXPECT_FALSE(d.pin("R1", "2").no_connect);
    EXPECT_FALSE(d.same("U1", "6", "U1", "9"));
    EXPECT_TRUE(d.same("U2", "6", "U2", "9"));
    EXPECT_TRUE(d.same("U3", "1", "R2", "1"));
    for (const Net& n : d.s.nets) EXPECT_TRUE(n.wires.empty() || !n.name.empty());
}

TEST(Buses, SegmentsMeetOnlyBusesAndBusLabels) {
    Design d;
    const int b0 = d.wire({0, 0}, {10, 0}, 0, true);
    d.wire({10, 0}, {20, 0}, 0, true);
    const int b2 = d.wire({5, 10}, {5, 0}, 0, true);  // ends on the first segment's interior
    d.resistor("R1", {0, 0}, {0, 20});                // a pin on a bus end
    d.wire({10, 0}, {10, 20});                        // a wire end on a bus end
    d.wire({15, -5}, {15, 5});                        // a wire crossing a bus
    const int plain = d.label(Local, "B", {20, 0});   // an ordinary label on a bus end
    d.s.bus_entries.push_back({{10, 0}, {2.54, 2.54}, 0});
    // A bus label on a wire end does not join the wire.
    d.resistor("R2", {40, 0}, {40, 20});
    d.wire({40, 0}, {50, 0});
    const int stray = d.label(Local, "S[0..1]", {50, 0});
    d.build();
    const Net& bus = d.s.nets[d.s.wires[b0].net];
    EXPECT_TRUE(bus.bus);
    EXPECT_EQ(bus.wires, (std::vector<int>{b0, 1, b2}));
    EXPECT_EQ(bus.name.rfind("Bus-", 0), 0u);
    EXPECT_EQ(bus.name_source, "auto");
    EXPECT_TRUE(bus.pins.empty());
    EXPECT_TRUE(bus.labels.empty());
    EXPECT_NE(d.s.wires[3].net, d.s.wires[b0].net);
    EXPECT_NE(d.s.wires[4].net, d.s.wires[b0].net);
    EXPECT_NE(d.s.labels[plain].net, d.s.wires[b0].net);
    EXPECT_NE(d.s.labels[stray].net, d.pinNet("R2", "1"));
    EXPECT_EQ(d.netOf("R2", "1").name, "Net-(R2-Pad1)");
}

TEST(Buses, VectorBusThroughSheetPin) {
    Design d;
    const int child = d.sheet();
    // Parent: a bus labelled DQ[0..3] on its interior, the sheet pin D[0..3] at its end.
    const int parent_bus = d.wire({0, 0}, {20, 0}, 0, true);
    d.label(Local, "DQ[0..3]", {10, 0});
    d.sheetSymbol(0, child, {{"D[0..3]", {20, 0}}});
    d.resistor("R1", {0, 30}, {0, 40});
    d.label(Local, "DQ1", {0, 30});
    d.resistor("R2", {10, 30}, {10, 40});
    d.label(Local, "D1", {10, 30});  // the sheet pin names nothing on the parent
    // Child: the hierarchical label on a short stub, member wires labelled elsewhere.
    d.wire({0, 0}, {5, 0}, child, true);
    d.label(Hierarchical, "D[0..3]", {0, 0}, child);
    d.resistor("R3", {50, 50}, {50, 60}, child);
    d.label(Local, "D1", {50, 50}, child);
    d.resistor("R4", {60, 50}, {60, 60}, child);
    d.label(Local, "D2", {60, 50}, child);
    d.build();
    EXPECT_TRUE(d.same("R1", "1", "R3", "1"));
    EXPECT_FALSE(d.same("R2", "1", "R3", "1"));
    EXPECT_FALSE(d.same("R3", "1", "R4", "1"));
    const Net& member = d.netOf("R3", "1");
    EXPECT_EQ(member.name, "D1");
    EXPECT_EQ(member.aliases, (std::vector<std::string>{"DQ1"}));
    EXPECT_EQ(member.sheets, (std::vector<int>{0, child}));
    const Net& bus = d.s.nets[d.s.wires[parent_bus].net];
    EXPECT_EQ(bus.wires.size(), 2u);  // parent and child bus, linked through the sheet pin
    EXPECT_EQ(bus.labels.size(), 3u);
    EXPECT_EQ(bus.name, "D[0..3]");
    EXPECT_EQ(bus.name_source, "hier_label");
    EXPECT_TRUE(bus.bus);
}

TEST(Buses, MembersAlignByPositionOrLocalName) {
    Design d;
    d.wire({0, 0}, {30, 0}, 0, true);
    d.label(Local, "A[2..5]", {0, 0});
    d.label(Local, "B[1..0]", {30, 0});
    d.label(Local, "{P Q}", {15, 0});  // a group on the same bus aligns with no vector
    d.wire({0, 20}, {30, 20}, 0, true);
    d.label(Local, "U{DP DM}", {0, 20});
    d.label(Local, "H{DM X DP}", {30, 20});
    int n = 0;
    for (const char* name : {"A2", "A3", "A4", "A5", "B0", "B1", "P", "U.DP", "U.DM", "H.DP", "H.DM", "H.X"}) {
        const std::string ref = "R" + std::to_string(++n);
        d.resistor(ref, {100.0 + 10 * n, 0}, {100.0 + 10 * n, 10});
        d.label(Local, name, {100.0 + 10 * n, 0});
    }
    d.build();
    auto net = [&](int r) { return d.pinNet("R" + std::to_string(r), "1"); };
    EXPECT_EQ(net(1), net(6));  // A2 - B1
    EXPECT_EQ(net(2), net(5));  // A3 - B0
    EXPECT_NE(net(3), net(4));
    EXPECT_NE(net(3), net(5));
    EXPECT_NE(net(7), net(5));  // P stays alone
    EXPECT_NE(net(7), net(6));
    EXPECT_EQ(net(8), net(10));  // U.DP - H.DP
    EXPECT_EQ(net(9), net(11));  // U.DM - H.DM
    EXPECT_NE(net(8), net(9));
    EXPECT_NE(net(12), net(8));
    EXPECT_NE(net(12), net(9));
}

TEST(Buses, GlobalMembersAndAliases) {
    Design d;
    const int s1 = d.sheet();
    const int child = d.sheet();
    d.s.bus_aliases["Main-BUS"] = {"GPIO0", "USB_DN"};
    // A global bus label: its members are global signals.
    d.wire({0, 0}, {10, 0}, s1, true);
    d.label(Global, "G[0..3]", {10, 0}, s1);
    d.label(Local, "L[0..3]", {5, 0}, s1);
    d.resistor("R1", {0, 0}, {0, 10});
    d.label(Global, "G1", {0, 0});
    d.resistor("R2", {0, 50}, {0, 60}, s1);
    d.label(Local, "L1", {0, 50}, s1);
    // An alias used bare on the parent and in braces on the sheet pin and in the child.
    d.wire({0, 100}, {20, 100}, 0, true);
    d.label(Local, "Main-BUS", {0, 100});
    d.sheetSymbol(0, child, {{"{Main-BUS}", {20, 100}}});
    d.wire({0, 0}, {0, 10}, child, true);
    d.label(Hierarchical, "{Main-BUS}", {0, 10}, child);
    d.resistor("R3", {30, 100}, {30, 110});
    d.label(Local, "USB_DN", {30, 100});
    d.resistor("R4", {30, 30}, {30, 40}, child);
    d.label(Local, "USB_DN", {30, 30}, child);
    d.resistor("R5", {40, 30}, {40, 40}, child);
    d.label(Local, "GPIO0", {40, 30}, child);
    d.build();
    EXPECT_TRUE(d.same("R1", "1", "R2", "1"));  // G1 = L1 through the bus on sheet s1
    EXPECT_EQ(d.netOf("R1", "1").name, "G1");
    EXPECT_TRUE(d.same("R3", "1", "R4", "1"));
    EXPECT_FALSE(d.same("R4", "1", "R5", "1"));
}

TEST(Naming, PrioritiesAliasesAndAutoNames) {
    Design d;
    d.resistor("R1", {0, 0}, {0, 10});
    d.power("+5V", {0, 0});
    d.label(Global, "USB_5V", {0, 0});
    d.label(Local, "USB_5V", {0, 0});
    d.resistor("R2", {10, 0}, {10, 10});
    d.label(Local, "B", {10, 0});
    d.label(Local, "A", {10, 0});
    d.label(Local, "AB", {10, 0});
    d.resistor("R3", {20, 0}, {20, 10});  // both pins touch nothing
    d.resistor("C10", {30, 0}, {30, 10});
    d.resistor("C2", {30, 0}, {30, 20});
    d.part("U1", "IC", {{"10", {40, 0}}, {"2", {40, 0}}});
    d.build();
    const Net& p5 = d.netOf("R1", "1");
    EXPECT_EQ(p5.name, "+5V");
    EXPECT_EQ(p5.name_source, "power");
    EXPECT_EQ(p5.aliases, (std::vector<std::string>{"USB_5V"}));
    const Net& a = d.netOf("R2", "1");
    EXPECT_EQ(a.name, "A");
    EXPECT_EQ(a.name_source, "label");
    EXPECT_EQ(a.aliases, (std::vector<std::string>{"AB", "B"}));
    EXPECT_FALSE(a.power);
    EXPECT_EQ(d.netOf("R3", "2").name, "Net-(R3-Pad2)");
    EXPECT_EQ(d.netOf("R3", "2").name_source, "auto");
    EXPECT_EQ(d.netOf("C2", "1").name, "Net-(C10-Pad1)");
    EXPECT_EQ(d.netOf("U1", "2").name, "Net-(U1-Pad10)");
}

TEST(Naming, FloatingNetsAndFinalOrder) {
    Design d;
    const int s1 = d.sheet();
    d.wire({0, 0}, {10, 0});                // net 1 in creation order: floating
    d.wire({0, 5}, {10, 5}, 0, true);       // net 2: a bus
    d.resistor("R9", {100, 0}, {100, 10});  // nets 3, 4
    d.label(Local, "zeta", {100, 10});
    d.label(Local, "A", {200, 0});      // net 5
    d.label(Local, "A", {200, 0}, s1);  // net 6: same name, other sheet
    d.label(Local, "3V3", {300, 0});    // power by name
    d.power("GND", {400, 0});
    d.label(Local, "Ab", {500, 0});
    d.build();
    std::vector<std::string> names;
    for (const Net& n : d.s.nets) names.push_back(n.name);
    EXPECT_EQ(names, (std::vector<std::string>{"3V3", "GND", "A", "A", "Ab", "zeta", "Bus-2", "Net-(R9-Pad1)",
                                               "Net-floating-1"}));
    EXPECT_TRUE(d.s.nets[0].power);
    EXPECT_EQ(d.s.nets[0].name_source, "label");
    EXPECT_EQ(d.s.nets[2].sheets, (std::vector<int>{0}));  // creation order kept between equal names
    EXPECT_EQ(d.s.nets[3].sheets, (std::vector<int>{s1}));
    // Every stored index points at the net that lists the item.
    for (size_t i = 0; i < d.s.nets.size(); ++i) {
        for (int w : d.s.nets[i].wires) EXPECT_EQ(d.s.wires[w].net, static_cast<int>(i));
        for (int l : d.s.nets[i].labels) EXPECT_EQ(d.s.labels[l].net, static_cast<int>(i));
        for (auto [c, p] : d.s.nets[i].pins) EXPECT_EQ(d.s.components[c].pins[p].net, static_cast<int>(i));
    }
}

namespace {

// Designs from the kicad-demos package, when installed.
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
    std::vector<const Net*> rails;
    for (const char* name : {"GND", "+5V", "+3.3V", "+12V"}) {
        const Net* n = findNet(*s, name);
        ASSERT_TRUE(n) << name;
        EXPECT_EQ(n->name_source, "power") << name;
        EXPECT_TRUE(n->power) << name;
        rails.push_back(n);
    }
    EXPECT_EQ(rails[0]->pins.size(), 347u);
    EXPECT_EQ(rails[1]->pins.size(), 190u);
    // DQ0, DPC0 and PC_D0 meet only through buses that cross three sheets.
    const Net* dq0 = findNet(*s, "DPC0");
    ASSERT_TRUE(dq0);
    EXPECT_EQ(dq0->name_source, "label");
    EXPECT_EQ(dq0->aliases, (std::vector<std::string>{"DQ0", "PC_D0"}));
    EXPECT_GE(dq0->sheets.size(), 4u);
}

TEST(RealDesigns, KiCad6PowerNetsNamedByPin) {
    auto s = openDemo("kit-dev-coldfire-xilinx_5213/kit-dev-coldfire-xilinx_5213.kicad_sch");
    if (!s) GTEST_SKIP() << "kicad-demos not installed";
    EXPECT_EQ(s->nets.size(), 283u);
    const Net* rail = findNet(*s, "+3.3V");
    ASSERT_TRUE(rail);
    EXPECT_EQ(rail->name_source, "power");
    EXPECT_EQ(rail->pins.size(), 140u);
    EXPECT_FALSE(findNet(*s, "+3,3V"));
}

#include <gtest/gtest.h>

#include <random>

#include "analysis/erc.h"
#include "base/json_util.h"
#include "base/text.h"

using namespace nl;

// Records are built with designated initializers naming only what a case needs.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace {

using Strings = std::vector<std::string>;

Pin pin(const std::string& number, const std::string& name, const std::string& type, Point at = {}) {
    return {.name = name, .number = number, .type = type, .position = at};
}

// A design assembled by hand, nets included, as the net builder would leave it.
struct Design {
    Schematic s{.format = "kicad", .sheets = {{.name = "Root"}}};
    int part(const std::string& ref, std::vector<Pin> pins, bool power = false) {
        return push(s.components, {.reference = ref, .value = "V", .power_symbol = power, .pins = pins});
    }
    int net(const std::string& name, std::vector<std::pair<int, int>> pins = {}, const std::string& source = "label") {
        for (auto [c, p] : pins) s.components[c].pins[p].net = (int)s.nets.size();
        return push(s.nets, {.name = name, .name_source = source, .pins = pins, .sheets = {0}});
    }
    void wire(Point a, Point b, int net = -1, bool bus = false, int sheet = 0) {
        if (net >= 0) s.nets[net].wires.push_back(push(s.wires, {.a = a, .b = b, .net = net, .sheet = sheet}));
        if (net < 0) s.wires.push_back({.a = a, .b = b, .sheet = sheet, .bus = bus});
    }
    int label(const std::string& text, Point at, int net, int kind = Local, int sheet = 0) {
        const int li = push(s.labels, {.kind = kind, .text = text, .position = at, .sheet = sheet, .net = net});
        if (net >= 0) s.nets[net].labels.push_back(li);
        return li;
    }
    std::vector<ErcIssue> run() const { return runErc(s, {}); }
    // "severity CODE message" of every issue, or only of those with `code`.
    Strings show(const std::string& code = "") const {
        Strings out;
        for (const ErcIssue& i : run())
            if (code.empty() || i.code == code) out.push_back(i.severity + " " + i.code + " " + i.message);
        return out;
    }
    template <class T>
    static int push(std::vector<T>& v, T item) {
        v.push_back(std::move(item));
        return (int)v.size() - 1;
    }
};

}  // namespace

TEST(Erc, OpenPinsDependOnTypeNetAndFlags) {
    Design d;
    const int r = d.part("R1", {pin("1", "~", "passive", {1, 2}), pin("2", "~", "passive")});
    const int u = d.part("U1", {pin("3", "+", "input"), pin("1", "OUT", "output"), pin("5", "X", "free"),
                                pin("6", "Y", "unspecified"), pin("7", "Z", "no_connect"), pin("9", "N", "input")});
    d.s.components[u].pins[5].no_connect = true;
    d.net("Net-(R1-Pad1)", {{r, 0}}, "auto");
    for (int p = 0; p < 6; ++p) d.net("n" + std::to_string(p), {{u, p}}, "auto");
    EXPECT_EQ(d.show("PIN_UNCONNECTED"), (Strings{"error PIN_UNCONNECTED U1 pin 3 (+, input) is not connected",
                                                  "warning PIN_UNCONNECTED R1 pin 1 (~, passive) is not connected",
                                                  "warning PIN_UNCONNECTED R1 pin 2 (~) is not connected",
                                                  "warning PIN_UNCONNECTED U1 pin 1 (OUT, output) is not connected"}));
    // A wire or a label on the net means the pin is meant to go somewhere;
    // a no-connect flag on a wired pin is a mistake of its own.
    d.wire({0, 0}, {5, 0}, 0);
    d.label("IN", {0, 0}, 1);
    d.wire({9, 9}, {9, 0}, 6);
    EXPECT_EQ(d.show("PIN_UNCONNECTED").size(), 2u);
    EXPECT_EQ(d.show("NC_CONNECTED"),
              Strings{"warning NC_CONNECTED U1 pin 9 has a no-connect flag but is wired to net n5"});
}

TEST(Erc, DriversOutputsAndPowerSymbols) {
    Design d;
    const int u1 = d.part("U1", {pin("1", "Y", "output"), pin("2", "VCC", "power_in"), pin("3", "VO", "power_out")});
    const int u2 = d.part("U2", {pin("1", "Y", "output"), pin("2", "EN", "tri_state"), pin("3", "VO", "power_out")});
    const int pwr = d.part("#PWR01", {pin("1", "+5V", "power_in")}, true);
    d.net("BUSY", {{u1, 0}, {u2, 0}});
    d.net("+5V", {{u1, 1}, {pwr, 0}}, "power");
    d.net("EN", {{u2, 1}});
    d.net("VREG", {{u1, 2}, {u2, 2}});
    EXPECT_EQ(d.show(), (Strings{"error OUTPUT_CONFLICT Net BUSY has 2 output pins driving each other: U1.1, U2.1",
                                 "warning POWER_OUT_CONFLICT Net VREG joins 2 power output pins",
                                 "warning PIN_UNCONNECTED U2 pin 2 (EN, tri_state) is not connected"}));
    d.s.nets[1].pins = {{u1, 1}};  // the power symbol gone: nothing drives the power input
    EXPECT_EQ(d.show("POWER_NOT_DRIVEN"), Strings{"error POWER_NOT_DRIVEN Power input pins on net +5V are not driven "
                                                  "by any power output or power symbol"});
}

TEST(Erc, LonePowerSymbolsAndLabels) {
    Design d;
    const int gnd = d.net("GND", {{d.part("#PWR01", {pin("1", "GND", "power_in", {3, 4})}, true), 0}}, "power");
    EXPECT_EQ(d.show("POWER_SYMBOL_FLOATING"),
              Strings{"warning POWER_SYMBOL_FLOATING Power symbol GND is not connected to anything"});
    d.wire({3, 4}, {10, 4}, gnd);  // a wire that ends in the air
    d.s.sheets[0].name = "Power";
    d.label("A", {7, 8}, d.net("A"), Global);
    const int single = d.net("B");
    d.wire({20, 0}, {20, 5}, single);
    d.label("B", {20, 0}, single);
    EXPECT_EQ(d.show(), (Strings{"warning NET_SINGLE_PIN Net GND only reaches #PWR01 pin 1 (GND) — a wire goes nowhere",
                                 "warning LABEL_FLOATING Label 'A' is not attached to any wire or pin",
                                 "warning WIRE_DANGLING Wire end at (10, 4) on net GND connects to nothing",
                                 "warning WIRE_DANGLING Wire end at (20, 5) on net B connects to nothing",
                                 "info LABEL_SINGLE Local label 'B' appears only once on sheet Power; it does not "
                                 "connect to another label"}));
}

TEST(Erc, WireEndsMeetByKeyAnchorOrWireInterior) {
    Design d;
    const int n = d.net("N");
    d.wire({0, 0}, {20, 0}, n);
    d.wire({10, 0}, {10, 10}, n);     // T onto the middle without a dot
    d.wire({15, 0.05}, {15, 10}, n);  // stops 0.05 mm short of wire 0
    d.wire({0, 0.0004}, {-5, 0}, n);  // meets (0, 0) by rounding to the micrometre
    Strings ends;
    for (const char* at : {"20, 0", "10, 10", "15, 0.05", "15, 10", "-5, 0"})
        ends.push_back("warning WIRE_DANGLING Wire end at (" + std::string(at) + ") on net N connects to nothing");
    EXPECT_EQ(d.show(), ends);

    // Pins, labels, junctions, no-connect flags and bus entry ends finish a
    // wire; buses never dangle and a zero-length wire's ends meet each other.
    Design a;
    a.part("R1", {pin("1", "~", "passive", {0, 0})});
    for (double x : {0.0, 1.0}) a.wire({x, 0}, {x, 5});
    a.wire({2, 0}, {2, 5}, -1, true);
    a.wire({3, 3}, {3, 3});
    a.wire({7.54, 2.46}, {5, 5});
    a.label("X", {0, 5}, -1);
    a.s.junctions.push_back({.position = {1, 0}});
    a.s.no_connects.push_back({.position = {1, 5}});
    a.s.bus_entries.push_back({.position = {5, 5}, .size = {2.54, -2.54}});
    EXPECT_EQ(a.show("WIRE_DANGLING"), Strings{});
}

TEST(Erc, DanglingGridFindsTheSameEndsAsComparingEveryWire) {
    // Wires on and around 10 mm cell borders on two sheets, long ones,
    // diagonals and huge coordinates, against a plain all-pairs test.
    std::mt19937 rng(7);
    std::uniform_int_distribution<int> coord(-4, 44), jitter(-3, 3);
    Design d;
    d.s.sheets.push_back({.name = "Second"});
    for (int i = 0; i < 600; ++i) {
        auto c = [&] { return coord(rng) * 2.5 + jitter(rng) * 0.01; };
        Point a{c(), c()}, b{c(), c()};
        if (i % 3 == 0) b.y = a.y;  // horizontal, often on a border
        if (i % 7 == 0) b = {a.x + 1e7, a.y + 1e7};
        d.wire(a, b, -1, false, i % 2);
    }
    // Both sides 2^32 cells long: the cell count's product wraps to 0 in 64 bits.
    d.wire({0, 0}, {42949672945, 42949672945}, -1, false, 0);
    auto interior = [](Point p, Point a, Point b) {
        const double dx = b.x - a.x, dy = b.y - a.y, l2 = dx * dx + dy * dy;
        const double t = ((p.x - a.x) * dx + (p.y - a.y) * dy) / l2;
        return l2 > 1e-18 && t > 1e-6 && t < 0.999999 && std::hypot(a.x + t * dx - p.x, a.y + t * dy - p.y) < 0.02;
    };
    auto key = [](int sh, Point p) { return std::make_tuple(sh, std::llround(p.x * 1000), std::llround(p.y * 1000)); };
    Strings expected, got;
    int savedByInterior = 0;
    for (const Wire& w : d.s.wires)
        for (Point p : {w.a, w.b}) {
            int same = 0;
            bool onOther = false;
            for (const Wire& o : d.s.wires) {
                same += (key(o.sheet, o.a) == key(w.sheet, p)) + (key(o.sheet, o.b) == key(w.sheet, p));
                onOther = onOther || (&o != &w && o.sheet == w.sheet && interior(p, o.a, o.b));
            }
            savedByInterior += same < 2 && onOther;
            if (same < 2 && !onOther) expected.push_back(formatNumber(p.x, 2) + "," + formatNumber(p.y, 2));
        }
    for (const ErcIssue& i : d.run())
        got.push_back(formatNumber(i.position.x, 2) + "," + formatNumber(i.position.y, 2));
    EXPECT_GT(expected.size(), 50u);
    EXPECT_GT(savedByInterior, 10);
    EXPECT_EQ(got, expected);
}

TEST(Erc, EagleStubsFinishedByTheirNetsLabel) {
    Design d;
    const int u = d.part("U1", {pin("1", "SDA", "bidirectional", {0, 0}), pin("2", "SCL", "bidirectional", {0, 10})});
    const int sda = d.net("SDA", {{u, 0}}), scl = d.net("SCL", {{u, 1}});
    d.wire({0, 0}, {5, 0}, sda);
    d.label("SDA", {2.5, 0}, sda);  // on the interior
    d.wire({0, 10}, {5, 10}, scl);
    d.label("SCL", {0, 10}, scl);  // at the pin end
    d.wire({0, 20}, {5, 20}, d.net("OTHER"));
    d.label("SDA", {2.5, 20}, sda);  // a label of another net does not finish it
    EXPECT_EQ(d.show("WIRE_DANGLING").size(), 4u);
    d.s.format = "eagle";
    EXPECT_EQ(d.show("WIRE_DANGLING"),
              (Strings{"warning WIRE_DANGLING Wire end at (0, 20) on net OTHER connects to nothing",
                       "warning WIRE_DANGLING Wire end at (5, 20) on net OTHER connects to nothing"}));
}

TEST(Erc, ReferencesNetNamesAndHierarchy) {
    Design d;
    for (const char* ref : {"R5", "R5", "U1", "U1", "R?", "R?", "", "#PWR?"}) d.part(ref, {}, ref[0] == '#');
    d.s.components[3].unit = 2;  // another unit of U1
    d.s.components[1].position = {9, 8};
    const int vcc = d.net("VCC", {}, "global_label");
    d.net("Net-(R1-Pad1)", {}, "auto");
    d.net("net-(r1-pad1)", {}, "auto");  // generated names never clash
    d.net("Vcc");
    d.label("VCC", {4, 5}, vcc, Global);
    d.s.sheets.push_back({.name = "sensor"});
    d.s.sheet_symbols.push_back(
        {.name = "Sensor",
         .position = {50, 60},
         .child = 1,
         .pins = {d.label("SDA", {50, 62}, -1, SheetPin), d.label("SCL", {50, 64}, -1, SheetPin)}});
    d.label("SCL", {0, 0}, -1, Hierarchical, 1);
    d.label("INT", {0, 0}, -1, Hierarchical, 1);
    d.label("INT", {0, 5}, -1, Hierarchical, 1);
    d.label("SDA", {0, 0}, -1, Hierarchical, 0);  // on the parent: does not match
    EXPECT_EQ(d.show(), (Strings{"error REF_DUPLICATE Reference R5 (unit 1) is used by 2 symbols",
                                 "error SHEET_PIN_UNMATCHED Sheet pin 'SDA' on Sensor has no hierarchical label inside "
                                 "the sheet",
                                 "warning LABEL_FLOATING Label 'VCC' is not attached to any wire or pin",
                                 "warning REF_UNANNOTATED Component 'R?' (V) has no final reference designator",
                                 "warning REF_UNANNOTATED Component 'R?' (V) has no final reference designator",
                                 "warning REF_UNANNOTATED Component 'V' (V) has no final reference designator",
                                 "warning NET_NAME_CASE Nets VCC / Vcc differ only by letter case — probably meant to "
                                 "be one net",
                                 "warning HIER_LABEL_UNMATCHED Hierarchical label 'INT' in sheet Sensor has no "
                                 "matching sheet pin on the parent"}));
    const auto issues = d.run();  // where each points: the symbol, the label, the sheet symbol on the child sheet
    EXPECT_EQ(issues[0].position.x, 9);
    EXPECT_EQ(issues[6].position.x, 4);
    EXPECT_EQ(issues[7].sheet, 1);
    EXPECT_EQ(issues[7].position.y, 60);
}

TEST(Erc, OptionsJsonAndReport) {
    Design d;
    d.wire({0, 0}, {1.006, 2.5});
    d.s.sheets[0].name = "Main ✓";
    EXPECT_EQ(d.run().size(), 2u);
    EXPECT_TRUE(runErc(d.s, {false, false, false, false, false, false, false, false}).empty());
    EXPECT_TRUE(runErc(Schematic{}, {}).empty());
    const ErcIssue open{"error", "PIN_UNCONNECTED", "U1 pin 1 (A, input) is not connected"};
    EXPECT_EQ(
        dumpJson(issuesToJson(d.s, {d.run()[1]})),
        "[{\"at_mm\":[\"1.01\",\"2.5\"],\"code\":\"WIRE_DANGLING\",\"message\":\"Wire end at (1.01, 2.5) on net ? "
        "connects to nothing\",\"severity\":\"warning\",\"sheet\":\"Main ✓\"}]");
    EXPECT_EQ(ercReportText(d.s, {open, {"info", "X", "y"}}),
              "[error] PIN_UNCONNECTED  U1 pin 1 (A, input) is not connected  (sheet Main ✓)\n"
              "[info] X  y  (sheet Main ✓)\n\n1 error(s), 0 warning(s), 2 total.\n");
}

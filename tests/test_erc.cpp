#include <gtest/gtest.h>

#include <random>

#include "erc.h"
#include "json_util.h"
#include "text.h"

using namespace nl;

// Records are built with designated initializers naming only what a case needs.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace {

Pin pin(const std::string& number, const std::string& name, const std::string& type, Point at = {}) {
    return {.name = name, .number = number, .type = type, .position = at};
}

// A design assembled by hand, nets included, as the net builder would leave it.
struct Design {
    Schematic s;
    Design() {
        s.format = "kicad";
        addSheet("Root");
    }
    int addSheet(const std::string& name) { return push(s.sheets, {.name = name}); }
    int part(const std::string& ref, const std::string& value, std::vector<Pin> pins, bool power = false) {
        return push(s.components, {.reference = ref, .value = value, .power_symbol = power, .pins = pins});
    }
    int net(const std::string& name, std::vector<std::pair<int, int>> pins, const std::string& source = "label") {
        const int ni = push(s.nets, {.name = name, .name_source = source, .pins = pins, .sheets = {0}});
        for (auto [c, p] : pins) s.components[c].pins[p].net = ni;
        return ni;
    }
    int wire(Point a, Point b, int net = -1, bool bus = false, int sheet = 0) {
        const int wi = push(s.wires, {.a = a, .b = b, .net = net, .sheet = sheet, .bus = bus});
        if (net >= 0) s.nets[net].wires.push_back(wi);
        return wi;
    }
    int label(const std::string& text, Point at, int net, int kind = Local, int sheet = 0) {
        const int li = push(s.labels, {.kind = kind, .text = text, .position = at, .sheet = sheet, .net = net});
        if (net >= 0) s.nets[net].labels.push_back(li);
        return li;
    }
    std::vector<ErcIssue> run(ErcOptions o = {}) const { return runErc(s, o); }
    template <class T>
    static int push(std::vector<T>& v, T item) {
        v.push_back(std::move(item));
        return (int)v.size() - 1;
    }
};

std::vector<std::string> codes(const std::vector<ErcIssue>& issues) {
    std::vector<std::string> out;
    for (const ErcIssue& i : issues) out.push_back(i.code);
    return out;
}

std::vector<ErcIssue> withCode(const std::vector<ErcIssue>& issues, const std::string& code) {
    std::vector<ErcIssue> out;
    for (const ErcIssue& i : issues)
        if (i.code == code) out.push_back(i);
    return out;
}

using Codes = std::vector<std::string>;

}  // namespace

TEST(ErcOpenPins, SeverityAndMessageDependOnTypeAndNet) {
    Design d;
    const int r = d.part("R1", "10k", {pin("1", "~", "passive", {1, 2}), pin("2", "~", "passive")});
    const int u =
        d.part("U1", "LM358",
               {pin("3", "+", "input"), pin("1", "OUT", "output"), pin("5", "X", "free"), pin("6", "Y", "unspecified"),
                pin("7", "Z", "no_connect"), pin("8", "H", "input"), pin("9", "N", "input")});
    d.s.components[u].pins[5].hidden = true;
    d.s.components[u].pins[6].no_connect = true;
    d.net("Net-(R1-Pad1)", {{r, 0}}, "auto");
    d.net("Net-(U1-Pad3)", {{u, 0}}, "auto");
    d.net("Net-(U1-Pad1)", {{u, 1}}, "auto");
    for (int p = 2; p < 7; ++p) d.net("n" + std::to_string(p), {{u, p}}, "auto");

    const auto open = withCode(d.run(), "PIN_UNCONNECTED");
    ASSERT_EQ(open.size(), 4u);
    EXPECT_EQ(open[0].severity, "error");  // errors sort first
    EXPECT_EQ(open[0].message, "U1 pin 3 (+, input) is not connected");
    EXPECT_EQ(open[1].message, "R1 pin 1 (~, passive) is not connected");
    EXPECT_EQ(open[1].severity, "warning");
    EXPECT_EQ(open[1].position.x, 1);
    EXPECT_EQ(open[1].component, r);
    EXPECT_EQ(open[2].message, "R1 pin 2 (~) is not connected");  // no net at all: no type
    EXPECT_EQ(open[2].net, -1);
    EXPECT_EQ(open[3].message, "U1 pin 1 (OUT, output) is not connected");

    // A wire or a label on the net means the pin is meant to go somewhere.
    d.wire({0, 0}, {5, 0}, 0);
    d.label("IN", {0, 0}, 1);
    EXPECT_EQ(withCode(d.run(), "PIN_UNCONNECTED").size(), 2u);

    // A no-connect flag on a pin that is wired after all.
    EXPECT_TRUE(withCode(d.run(), "NC_CONNECTED").empty());
    d.wire({9, 9}, {9, 0}, 7);
    const auto nc = withCode(d.run(), "NC_CONNECTED");
    ASSERT_EQ(nc.size(), 1u);
    EXPECT_EQ(nc[0].message, "U1 pin 9 has a no-connect flag but is wired to net n6");
}

TEST(ErcNets, DriversOutputsAndPowerSymbols) {
    Design d;
    const int u1 = d.part("U1", "A", {pin("1", "Y", "output"), pin("2", "VCC", "power_in")});
    const int u2 = d.part("U2", "B", {pin("1", "Y", "output"), pin("2", "EN", "tri_state")});
    const int pwr = d.part("#PWR01", "+5V", {pin("1", "+5V", "power_in")}, true);
    const int out = d.net("BUSY", {{u1, 0}, {u2, 0}});
    d.net("+5V", {{u1, 1}, {pwr, 0}}, "power");
    d.net("EN", {{u2, 1}});
    auto issues = d.run();
    auto conflict = withCode(issues, "OUTPUT_CONFLICT");
    ASSERT_EQ(conflict.size(), 1u);
    EXPECT_EQ(conflict[0].message, "Net BUSY has 2 output pins driving each other: U1.1, U2.1");
    EXPECT_EQ(conflict[0].net, out);
    EXPECT_TRUE(withCode(issues, "POWER_NOT_DRIVEN").empty());

    // The power symbol removed: nothing drives the power input any more.
    d.s.nets[1].pins = {{u1, 1}};
    issues = d.run();
    auto undriven = withCode(issues, "POWER_NOT_DRIVEN");
    ASSERT_EQ(undriven.size(), 1u);
    EXPECT_EQ(undriven[0].message, "Power input pins on net +5V are not driven by any power output or power symbol");
    EXPECT_EQ(undriven[0].severity, "error");
    EXPECT_EQ(undriven[0].component, u1);

    // Two regulator outputs tied together, with no power symbol on the net.
    Design r;
    const int a = r.part("U1", "7805", {pin("3", "VO", "power_out")});
    const int b = r.part("U2", "7805", {pin("3", "VO", "power_out")});
    r.net("VREG", {{a, 0}, {b, 0}});
    auto joined = withCode(r.run(), "POWER_OUT_CONFLICT");
    ASSERT_EQ(joined.size(), 1u);
    EXPECT_EQ(joined[0].message, "Net VREG joins 2 power output pins");
}

TEST(ErcNets, LonePowerSymbolsAndSingleLabels) {
    Design d;
    const int pwr = d.part("#PWR01", "GND", {pin("1", "GND", "power_in", {3, 4})}, true);
    const int gnd = d.net("GND", {{pwr, 0}}, "power");
    auto issues = d.run();
    ASSERT_EQ(withCode(issues, "POWER_SYMBOL_FLOATING").size(), 1u);
    EXPECT_EQ(withCode(issues, "POWER_SYMBOL_FLOATING")[0].message, "Power symbol GND is not connected to anything");
    EXPECT_EQ(withCode(issues, "PIN_UNCONNECTED").size(), 1u);  // its pin is not hidden

    // With a wire that ends in the air the net reaches only the power symbol.
    d.wire({3, 4}, {10, 4}, gnd);
    issues = d.run();
    EXPECT_EQ(codes(issues), (Codes{"NET_SINGLE_PIN", "WIRE_DANGLING"}));
    EXPECT_EQ(issues[0].message, "Net GND only reaches #PWR01 pin 1 (GND) — a wire goes nowhere");
    EXPECT_EQ(issues[1].message, "Wire end at (10, 4) on net GND connects to nothing");

    Design l;
    const int floating = l.net("A", {});
    l.label("A", {7, 8}, floating, Global);
    const int single = l.net("B", {});
    l.wire({0, 0}, {0, 5}, single);
    l.label("B", {0, 0}, single);
    l.s.sheets[0].name = "Power";
    issues = l.run();
    ASSERT_EQ(codes(issues), (Codes{"LABEL_FLOATING", "WIRE_DANGLING", "LABEL_SINGLE"}));
    EXPECT_EQ(issues[0].message, "Label 'A' is not attached to any wire or pin");
    EXPECT_EQ(issues[0].position.x, 7);
    EXPECT_EQ(issues[2].severity, "info");
    EXPECT_EQ(issues[2].message,
              "Local label 'B' appears only once on sheet Power; it does not connect to another label");
}

TEST(ErcDangling, EndsMeetByKeyAnchorOrWireInterior) {
    Design d;
    const int n = d.net("N", {});
    d.wire({0, 0}, {20, 0}, n);
    d.wire({10, 0}, {10, 10}, n);      // T onto the middle without a dot
    d.wire({15, 0.05}, {15, 10}, n);   // stops 0.05 mm short of wire 0
    d.wire({0, 0.0004}, {-5, 0}, n);   // meets (0, 0) by rounding to the micrometre
    d.wire({5, -0.015}, {5, -10}, n);  // within 0.02 mm of wire 0
    std::vector<std::string> msgs;
    for (auto& e : withCode(d.run(), "WIRE_DANGLING")) msgs.push_back(e.message);
    EXPECT_EQ(
        msgs,
        (Codes{"Wire end at (20, 0) on net N connects to nothing", "Wire end at (10, 10) on net N connects to nothing",
               "Wire end at (15, 0.05) on net N connects to nothing",
               "Wire end at (15, 10) on net N connects to nothing", "Wire end at (-5, 0) on net N connects to nothing",
               "Wire end at (5, -10) on net N connects to nothing"}));

    // Anchors: pins, labels, junctions, no-connect flags and bus entry ends.
    Design a;
    a.part("R1", "1k", {pin("1", "~", "passive", {0, 0})});
    a.wire({0, 0}, {0, 5});
    a.wire({1, 0}, {1, 5});
    a.wire({2, 0}, {2, 5}, -1, true);  // buses never dangle
    a.wire({3, 3}, {3, 3});            // zero length: both ends on one key
    a.wire({7.54, 2.46}, {5, 5});
    a.label("X", {0, 5}, -1);
    a.s.junctions.push_back({.position = {1, 0}});
    a.s.no_connects.push_back({.position = {1, 5}});
    a.s.bus_entries.push_back({.position = {5, 5}, .size = {2.54, -2.54}});
    EXPECT_TRUE(withCode(a.run(), "WIRE_DANGLING").empty());
    // The same wire on another sheet meets none of them.
    a.s.sheets.push_back(a.s.sheets[0]);
    a.wire({0, 0}, {0, 5}, -1, false, 1);
    auto other = withCode(a.run(), "WIRE_DANGLING");
    ASSERT_EQ(other.size(), 2u);
    EXPECT_EQ(other[0].sheet, 1);
    EXPECT_EQ(other[0].message, "Wire end at (0, 0) on net ? connects to nothing");
}

TEST(ErcDangling, GridFindsTheSameEndsAsComparingEveryWire) {
    // Wires on and around 10 mm cell borders, long ones, diagonals and huge
    // coordinates; the grid must agree with a plain all-pairs interior test.
    std::mt19937 rng(7);
    std::uniform_int_distribution<int> coord(-4, 44);
    std::uniform_int_distribution<int> jitter(-3, 3);
    Design d;
    d.addSheet("Second");
    for (int i = 0; i < 600; ++i) {
        auto c = [&] { return coord(rng) * 2.5 + jitter(rng) * 0.01; };
        Point a{c(), c()}, b{c(), c()};
        if (i % 3 == 0) b.y = a.y;  // horizontal, often on a border
        if (i % 7 == 0) b = {a.x + 1e7, a.y + 1e7};
        d.wire(a, b, -1, false, i % 2);
    }
    std::vector<std::string> expected;
    int savedByInterior = 0;
    const auto& w = d.s.wires;
    auto interior = [](Point p, Point a, Point b) {
        const double dx = b.x - a.x, dy = b.y - a.y, l2 = dx * dx + dy * dy;
        if (std::sqrt(l2) < 1e-9) return false;
        const double t = ((p.x - a.x) * dx + (p.y - a.y) * dy) / l2;
        return t > 1e-6 && t < 0.999999 && std::hypot(a.x + t * dx - p.x, a.y + t * dy - p.y) < 0.02;
    };
    auto key = [](int sh, Point p) { return std::make_tuple(sh, std::llround(p.x * 1000), std::llround(p.y * 1000)); };
    for (size_t i = 0; i < w.size(); ++i)
        for (Point p : {w[i].a, w[i].b}) {
            int same = 0;
            bool onOther = false;
            for (size_t k = 0; k < w.size(); ++k) {
                same +=
                    (key(w[k].sheet, w[k].a) == key(w[i].sheet, p)) + (key(w[k].sheet, w[k].b) == key(w[i].sheet, p));
                onOther = onOther || (k != i && w[k].sheet == w[i].sheet && interior(p, w[k].a, w[k].b));
            }
            savedByInterior += same < 2 && onOther;
            if (same < 2 && !onOther) expected.push_back(formatNumber(p.x, 2) + "," + formatNumber(p.y, 2));
        }
    std::vector<std::string> got;
    for (const ErcIssue& i : d.run())
        got.push_back(formatNumber(i.position.x, 2) + "," + formatNumber(i.position.y, 2));
    EXPECT_GT(expected.size(), 50u);
    EXPECT_GT(savedByInterior, 10);
    EXPECT_EQ(got, expected);
}

TEST(ErcDangling, EagleLabelledStubsAreFinished) {
    // An Eagle pin stub: a short wire from the pin with the net's label on it.
    Design d;
    const int u =
        d.part("U1", "X", {pin("1", "SDA", "bidirectional", {0, 0}), pin("2", "SCL", "bidirectional", {0, 10})});
    const int sda = d.net("SDA", {{u, 0}});
    const int scl = d.net("SCL", {{u, 1}});
    const int other = d.net("OTHER", {});
    d.wire({0, 0}, {5, 0}, sda);
    d.label("SDA", {2.5, 0}, sda);  // on the interior
    d.wire({0, 10}, {5, 10}, scl);
    d.label("SCL", {0, 10}, scl);  // at the pin end
    d.wire({0, 20}, {5, 20}, other);
    d.label("SDA", {2.5, 20}, sda);  // a label of another net does not finish it
    EXPECT_EQ(withCode(d.run(), "WIRE_DANGLING").size(), 4u);
    d.s.format = "eagle";
    auto ends = withCode(d.run(), "WIRE_DANGLING");
    ASSERT_EQ(ends.size(), 2u);
    EXPECT_EQ(ends[0].message, "Wire end at (0, 20) on net OTHER connects to nothing");
}

TEST(ErcReferences, UnannotatedAndDuplicates) {
    Design d;
    d.part("R5", "1k", {});
    d.part("R5", "2k", {});
    d.part("U1", "LM358", {});
    d.s.components.back().unit = 1;
    d.part("U1", "LM358", {});
    d.s.components.back().unit = 2;
    d.part("R?", "10k", {});
    d.part("R?", "10k", {});
    d.part("", "22k", {});
    d.part("#PWR?", "GND", {}, true);
    d.s.components[1].position = {9, 8};
    const auto issues = d.run();
    ASSERT_EQ(codes(issues), (Codes{"REF_DUPLICATE", "REF_UNANNOTATED", "REF_UNANNOTATED", "REF_UNANNOTATED"}));
    EXPECT_EQ(issues[0].message, "Reference R5 (unit 1) is used by 2 symbols");
    EXPECT_EQ(issues[0].component, 1);
    EXPECT_EQ(issues[0].position.x, 9);
    EXPECT_EQ(issues[1].message, "Component 'R?' (10k) has no final reference designator");
    EXPECT_EQ(issues[3].message, "Component '22k' (22k) has no final reference designator");
}

TEST(ErcNames, CaseOnlyDifferencesAndHierarchy) {
    Design d;
    const int vcc = d.net("VCC", {}, "global_label");
    d.net("Net-(R1-Pad1)", {}, "auto");
    d.net("net-(r1-pad1)", {}, "auto");
    d.net("Vcc", {}, "label");
    d.label("VCC", {4, 5}, vcc, Global);
    auto names = withCode(d.run(), "NET_NAME_CASE");
    ASSERT_EQ(names.size(), 1u);
    EXPECT_EQ(names[0].message, "Nets VCC / Vcc differ only by letter case — probably meant to be one net");
    EXPECT_EQ(names[0].position.x, 4);
    EXPECT_EQ(names[0].net, vcc);

    Design h;
    const int child = h.addSheet("sensor");
    h.s.sheet_symbols.push_back(
        {.name = "Sensor",
         .position = {50, 60},
         .child = child,
         .pins = {h.label("SDA", {50, 62}, -1, SheetPin), h.label("SCL", {50, 64}, -1, SheetPin)}});
    h.label("SCL", {0, 0}, -1, Hierarchical, child);
    h.label("INT", {0, 0}, -1, Hierarchical, child);
    h.label("INT", {0, 5}, -1, Hierarchical, child);
    h.label("SDA", {0, 0}, -1, Hierarchical, 0);  // on the parent: does not match
    const auto issues = h.run();
    ASSERT_EQ(codes(issues), (Codes{"SHEET_PIN_UNMATCHED", "HIER_LABEL_UNMATCHED"}));
    EXPECT_EQ(issues[0].message, "Sheet pin 'SDA' on Sensor has no hierarchical label inside the sheet");
    EXPECT_EQ(issues[0].sheet, 0);
    EXPECT_EQ(issues[1].message, "Hierarchical label 'INT' in sheet Sensor has no matching sheet pin on the parent");
    EXPECT_EQ(issues[1].sheet, child);
    EXPECT_EQ(issues[1].position.y, 60);
}

TEST(ErcOutput, OrderOptionsJsonAndReport) {
    Design d;
    const int u = d.part("U1", "X", {pin("1", "A", "input"), pin("2", "B", "passive")});
    d.net("a", {{u, 0}}, "auto");
    d.net("b", {{u, 1}}, "auto");
    const int n = d.net("L", {});
    d.wire({0, 0}, {1.006, 2.5}, n);
    d.label("L", {0, 0}, n);
    d.s.sheets[0].name = "Main ✓";
    const auto issues = d.run();
    EXPECT_EQ(codes(issues), (Codes{"PIN_UNCONNECTED", "PIN_UNCONNECTED", "WIRE_DANGLING", "LABEL_SINGLE"}));
    EXPECT_TRUE(runErc(d.s, {false, false, false, false, false, false, false, false}).empty());

    EXPECT_EQ(
        dumpJson(issuesToJson(d.s, {issues[2]})),
        "[{\"at_mm\":[\"1.01\",\"2.5\"],\"code\":\"WIRE_DANGLING\",\"message\":\"Wire end at (1.01, 2.5) on net L "
        "connects to nothing\",\"severity\":\"warning\",\"sheet\":\"Main ✓\"}]");
    EXPECT_EQ(ercReportText(d.s, {issues[0], issues[3]}),
              "[error] PIN_UNCONNECTED  U1 pin 1 (A, input) is not connected  (sheet Main ✓)\n"
              "[info] LABEL_SINGLE  Local label 'L' appears only once on sheet Main ✓; it does not connect to another "
              "label  (sheet Main ✓)\n\n1 error(s), 0 warning(s), 2 total.\n");
    EXPECT_EQ(ercReportText(d.s, {}), "\n0 error(s), 0 warning(s), 0 total.\n");
    EXPECT_TRUE(runErc(Schematic{}, {}).empty());
}

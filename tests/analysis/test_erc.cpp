#include <gtest/gtest.h>

#include <random>

#include "analysis/erc.h"
#include "base/json_util.h"
#include "base/text.h"
#include "open/schematic_open.h"

using namespace nl;

// Records are built with designated initializers naming only what a case needs.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace {

using Strings = std::vector<std::string>;

Pin pin(const std::string& number, const std::string& name, const std::string& type, Point at = {},
        bool hidden = false) {
    return {.name = name, .number = number, .type = type, .position = at, .hidden = hidden};
}

// A design assembled by hand, nets included, as the net builder would leave it.
struct Design {
    Schematic s{.format = "kicad", .sheets = {{.name = "Root", .file = "root.kicad_sch"}}};
    int part(const std::string& ref, std::vector<Pin> pins, bool power = false, int unit = 1) {
        for (Pin& p : pins) p.implicit_power = p.hidden && p.type == PinType::PowerIn && !power;
        return push(s.components, {.reference = ref, .value = ref, .unit = unit, .power_symbol = power, .pins = pins});
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
    std::vector<ErcIssue> only(const std::string& code) const {
        std::vector<ErcIssue> out;
        for (const ErcIssue& i : run())
            if (i.code == code) out.push_back(i);
        return out;
    }
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

// "severity CODE message @ x, y SHEET" of every issue.
Strings described(const Schematic& s, const std::vector<ErcIssue>& issues) {
    Strings out;
    for (const ErcIssue& i : issues)
        out.push_back(i.severity + " " + i.code + " " + i.message + " @ " + formatNumber(i.position.x, 2) + ", " +
                      formatNumber(i.position.y, 2) + " " + s.sheets[i.sheet].name);
    return out;
}

const std::string kFixtures = std::string(NETLOOM_SOURCE_DIR) + "/tests/fixtures/kicad/erc/";

}  // namespace

// One small design per rule, each checked against KiCad's own rule check
// (tests/integration/erc_against_kicad.py); each list holds its rule's issues.
TEST(Erc, EachRuleOnItsFixture) {
    const std::string power =
        " is not driven by any power output pin (a power symbol does not drive a net: add a "
        "PWR_FLAG where the supply enters)";
    const std::string input = " is not driven by any output, bidirectional, tri-state, passive or power output pin";
    const std::vector<std::pair<std::string, Strings>> cases = {
        // Unconnected pins: one report per stack; unspecified and hidden pins count, implicit power pins do not.
        {"erc_pin_unconnected",
         {"error POWER_NOT_DRIVEN Power input pin U2 pin 2 on net VDD" + power + " @ 106.68, 76.2 Root",
          "error INPUT_NOT_DRIVEN Input pin U2 pin 1 on net Net-(U2-Pad1)" + input + " @ 96.52, 76.2 Root",
          "error PIN_UNCONNECTED U2 pin 1 (EN, input) is not connected @ 96.52, 76.2 Root",
          "warning PIN_UNCONNECTED R1 pin 1 (~, passive) is not connected @ 50.8, 46.99 Root",
          "warning PIN_UNCONNECTED R2 pin 2 (~, passive) is not connected @ 50.8, 67.31 Root",
          "warning PIN_UNCONNECTED U1 pin 1 (GND, passive) is not connected @ 101.6, 55.88 Root",
          "warning PIN_UNCONNECTED U1 pin 4 (X, unspecified) is not connected @ 96.52, 50.8 Root",
          "warning PIN_UNCONNECTED U1 pin 5 (OC, open_collector) is not connected @ 106.68, 50.8 Root"}},
        // Sheet pins with nothing attached, on the parent; a flagged one is an unused port, and its
        // flag says nothing about the pins inside. Mismatches point at the pin and the label.
        {"erc_sheet_pins",
         {"error SHEET_PIN_UNMATCHED Sheet pin 'EXTRA' on Sub has no hierarchical label inside the sheet @ 101.6, "
          "58.42 Root",
          "warning PIN_UNCONNECTED Sheet pin 'OUT' on Sub is not connected @ 101.6, 55.88 Root",
          "warning PIN_UNCONNECTED Sheet pin 'EXTRA' on Sub is not connected @ 101.6, 58.42 Root",
          "warning HIER_LABEL_UNMATCHED Hierarchical label 'LOST' in sheet Sub has no matching sheet pin on the "
          "parent @ 50.8, 76.2 Sub",
          "info LABEL_SINGLE Label 'OUT' only reaches R10 pin 2 on net OUT; it connects nothing else @ 63.5, 58.42 Sub",
          "info LABEL_SINGLE Label 'LOST' only reaches R11 pin 1 on net LOST; it connects nothing else @ 50.8, "
          "76.2 Sub"}},
        // Flags on nets that reach two pins (on a pin, on a wire's middle), and a wired no_connect pin;
        // a flagged pin with a documenting stub and label is fine.
        {"erc_no_connect",
         {"warning NC_CONNECTED No-connect flag on R1 pin 1 is on net Net-(R1-Pad1), which reaches 2 pins: R1.1, "
          "R2.1 @ 50.8, 50.8 Root",
          "warning NC_CONNECTED No-connect flag at (63.5, 76.2) is on net Net-(R4-Pad1), which reaches 2 pins: "
          "R4.1, R5.1 @ 63.5, 76.2 Root",
          "warning NC_CONNECTED U1 pin 2 is of type no_connect but is wired to net Net-(R6-Pad1) @ 132.08, 76.2 "
          "Root"}},
        // A power symbol does not drive; a PWR_FLAG does.
        {"erc_power", {"error POWER_NOT_DRIVEN Power input pin U1 pin 1 on net +5V" + power + " @ 71.12, 50.8 Root"}},
        {"erc_inputs",
         {"error INPUT_NOT_DRIVEN Input pin U1 pin 1 on net Net-(U1-Pad1)" + input + " @ 71.12, 50.8 Root"}},
        {"erc_outputs",
         {"error OUTPUT_CONFLICT Net Net-(R1-Pad1) has 2 output pins driving each other: U1.2, U2.2 @ 81.28, 50.8 Root",
          "warning POWER_OUT_CONFLICT Net Net-(#FLG01-Pad1) joins 2 power output pins: U3.2, #FLG01.1 @ 86.36, "
          "101.6 Root"}},
        // Floating labels; labels whose net reaches at most one pin, except beside a floating one of their net.
        {"erc_labels",
         {"warning LABEL_FLOATING Label 'FLOAT' is not attached to any wire or pin @ 50.8, 30.48 Root",
          "warning LABEL_FLOATING Label 'GFLOAT' is not attached to any wire or pin @ 76.2, 30.48 Root",
          "warning LABEL_FLOATING Label 'MIXED' is not attached to any wire or pin @ 50.8, 101.6 Root",
          "info LABEL_SINGLE Label 'SINGLE' only reaches R1 pin 1 on net SINGLE; it connects nothing else @ 50.8, "
          "50.8 Root",
          "info LABEL_SINGLE Label 'NOPIN' reaches no pin on net NOPIN; it connects nothing else @ 50.8, 76.2 Root",
          "info LABEL_SINGLE Label 'NOPIN' reaches no pin on net NOPIN; it connects nothing else @ 76.2, 76.2 Root"}},
        {"erc_name_case",
         {"warning NET_NAME_CASE Names +5V / +5v differ only by letter case — probably meant to be one net @ 50.8, "
          "97.79 Root",
          "warning NET_NAME_CASE Names VCC / Vcc differ only by letter case — probably meant to be one net @ 50.8, "
          "50.8 Root"}},
        {"erc_name_conflict",
         {"warning NET_NAME_CONFLICT Net names A and B are both attached to one connection; A is used @ 55.88, 50.8 "
          "Root",
          "warning NET_NAME_CONFLICT Net names G and L are both attached to one connection; G is used @ 55.88, 76.2 "
          "Root"}},
        // A T without a junction dot, beside one with a dot and an end in the air.
        {"erc_wire_junction",
         {"warning NET_SINGLE_PIN Net Net-(R5-Pad1) only reaches R5 pin 1 (~) — a wire goes nowhere @ 127, 50.8 Root",
          "warning WIRE_DANGLING Wire end at (76.2, 50.8) on net Net-(R1-Pad1) touches another wire without a "
          "junction (KiCad leaves it unconnected) @ 76.2, 50.8 Root",
          "warning WIRE_DANGLING Wire end at (127, 40.64) on net Net-(R5-Pad1) connects to nothing @ 127, 40.64 "
          "Root"}},
        // One sheet file used twice: its drawing mistakes once, its local labels never a case clash.
        {"erc_reuse",
         {"warning NET_SINGLE_PIN Net Net-(R1-Pad1) only reaches R1 pin 1 (~) — a wire goes nowhere @ 50.8, 50.8 Left",
          "warning WIRE_DANGLING Wire end at (50.8, 40.64) on net Net-(R1-Pad1) connects to nothing @ 50.8, 40.64 "
          "Left"}},
        // Its project ignores two rules and excludes R2's open pin; an entry without a sheet path is not matched.
        {"erc_project",
         {"error POWER_NOT_DRIVEN Power input pin #PWR01 pin 1 on net +5V" + power + " @ 50.8, 45.72 Root",
          "warning NET_SINGLE_PIN Net Net-(R3-Pad1) only reaches R3 pin 1 (~) — a wire goes nowhere @ 101.6, 50.8 "
          "Root"}},
    };
    for (const auto& [name, expected] : cases) {
        std::string error;
        auto s = openSchematicFile(kFixtures + name + ".kicad_sch", &error);
        ASSERT_TRUE(s) << name << ": " << error;
        const ErcReport report = runProjectErc(*s, {});
        EXPECT_EQ(described(*s, report.issues), expected) << name;
        EXPECT_EQ(report.hidden, name == "erc_project" ? 3 : 0) << name;
    }
}

TEST(Erc, OpenPinsAreCountedPerStack) {
    Design d;
    // Two GND pins stacked at one point are one pin to the eye; a third GND elsewhere is not in the stack.
    const int u =
        d.part("U1", {pin("1", "GND", "passive", {0, 5}), pin("2", "GND", "passive", {0, 5}, true),
                      pin("3", "VDD", "power_in", {0, 9}, true), pin("4", "N", "free"), pin("5", "M", "no_connect"),
                      pin("6", "GND", "passive", {4, 5}), pin("7", "X", "input", {8, 8})});
    d.net("Net-(U1-Pad1)", {{u, 0}, {u, 1}}, "auto");
    d.net("VDD", {{u, 2}}, "power");  // joins its rail by name: never open
    d.net("n4", {{u, 3}}, "auto");
    d.net("n5", {{u, 4}}, "auto");
    const int six = d.net("n6", {{u, 5}}, "auto");
    d.s.components[u].pins[6].net = -1;  // no net at all: the shorter message
    EXPECT_EQ(d.show("PIN_UNCONNECTED"), (Strings{"warning PIN_UNCONNECTED U1 pin 1 (GND, passive) is not connected",
                                                  "warning PIN_UNCONNECTED U1 pin 6 (GND, passive) is not connected",
                                                  "warning PIN_UNCONNECTED U1 pin 7 (X) is not connected"}));
    // A wire, a label, a flag or another part's pin means the pin is meant to go somewhere.
    d.s.nets[six].labels.push_back(d.label("L", {9, 9}, -1));
    d.s.components[u].pins[6].no_connect = true;
    const int r = d.part("R1", {pin("1", "~", "passive", {20, 20})});
    d.s.nets[0].pins.push_back({r, 0});
    d.s.components[r].pins[0].net = 0;
    EXPECT_EQ(d.show("PIN_UNCONNECTED"), Strings{});
}

TEST(Erc, UndrivenNetsPointAtThePinKiCadShows) {
    // Each net: its pins (reference, number, type, hidden, unit); the pin named, or "" when the net is driven.
    struct P {
        std::string ref, number, type;
        bool hidden = false;
        int unit = 1;
    };
    const std::vector<std::tuple<std::vector<P>, std::string, std::string>> cases = {
        {{{"#PWR01", "1", "power_in", true}, {"U1", "8", "power_in"}}, "POWER_NOT_DRIVEN", "U1 pin 8"},
        {{{"U10", "1", "input"}, {"U9", "1", "input"}}, "INPUT_NOT_DRIVEN", "U9 pin 1"},
        {{{"U1", "2", "input"}, {"U2", "5", "power_in", true}}, "POWER_NOT_DRIVEN", "U2 pin 5"},
        {{{"U1", "2", "input"}, {"U2", "5", "power_in", true}, {"U3", "1", "power_in"}},
         "POWER_NOT_DRIVEN",
         "U3 pin 1"},
        {{{"IC1", "8", "power_in", false, 2}, {"IC1", "8", "power_in", false, 1}}, "POWER_NOT_DRIVEN", "IC1 pin 8 u1"},
        {{{"U1", "1", "power_in"}, {"U2", "1", "output"}}, "POWER_NOT_DRIVEN", "U1 pin 1"},
        {{{"U1", "1", "input"}, {"U2", "1", "open_collector"}}, "INPUT_NOT_DRIVEN", "U1 pin 1"},
        {{{"U1", "1", "power_in"}, {"#FLG01", "1", "power_out"}}, "", ""},
        {{{"U1", "1", "input"}, {"R1", "1", "passive"}}, "", ""},
        {{{"U1", "1", "input"}, {"U2", "3", "tri_state"}}, "", ""},
        {{{"U1", "1", "input"}, {"U2", "3", "bidirectional"}}, "", ""},
    };
    for (const auto& [pins, code, shown] : cases) {
        Design d;
        std::vector<std::pair<int, int>> refs;
        for (size_t k = 0; k < pins.size(); ++k)
            refs.push_back(
                {d.part(pins[k].ref, {pin(pins[k].number, "P", pins[k].type, {double(k), 0}, pins[k].hidden)},
                        pins[k].ref[0] == '#', pins[k].unit),
                 0});
        d.net("N", refs);
        Strings expected;
        if (!code.empty()) {
            const std::string where = shown.substr(0, shown.find(" u1"));
            expected.push_back(code == "POWER_NOT_DRIVEN"
                                   ? "error POWER_NOT_DRIVEN Power input pin " + where +
                                         " on net N is not driven by any power output pin (a power symbol does not "
                                         "drive a net: add a PWR_FLAG where the supply enters)"
                                   : "error INPUT_NOT_DRIVEN Input pin " + where +
                                         " on net N is not driven by any output, bidirectional, tri-state, passive or "
                                         "power output pin");
        }
        Strings got = d.show("POWER_NOT_DRIVEN"), inputs = d.show("INPUT_NOT_DRIVEN");
        got.insert(got.end(), inputs.begin(), inputs.end());
        EXPECT_EQ(got, expected) << shown;
        if (shown.ends_with(" u1")) {
            EXPECT_EQ(d.only(code)[0].position.x, 1) << "the unit-1 pin";
        }
        // A no-connect flag on the net says it is meant to float.
        d.s.no_connects.push_back({.position = {0, 0}});
        EXPECT_EQ(d.show("POWER_NOT_DRIVEN").size() + d.show("INPUT_NOT_DRIVEN").size(), 0u) << shown;
    }
}

TEST(Erc, ConflictsCountStacksOnceAndPowerFlagsToo) {
    Design d;
    // U1's two stacked OUT pins are one output; with U2's there are two.
    const int u1 = d.part("U1", {pin("1", "OUT", "output", {5, 0}), pin("2", "OUT", "output", {5, 0}, true),
                                 pin("3", "VO", "power_out", {5, 9})});
    const int u2 = d.part("U2", {pin("1", "Y", "output", {9, 0})});
    const int flag = d.part("#FLG01", {pin("1", "pwr", "power_out", {7, 9})}, true);
    d.net("BUSY", {{u1, 0}, {u1, 1}});
    EXPECT_EQ(d.show("OUTPUT_CONFLICT"), Strings{});
    d.s.nets[0].pins.push_back({u2, 0});
    d.s.components[u2].pins[0].net = 0;
    d.net("VREG", {{u1, 2}, {flag, 0}});
    EXPECT_EQ(d.show(), (Strings{"error OUTPUT_CONFLICT Net BUSY has 2 output pins driving each other: U1.1, U2.1",
                                 "warning POWER_OUT_CONFLICT Net VREG joins 2 power output pins: U1.3, #FLG01.1"}));
    EXPECT_EQ(d.run()[1].position.x, 7);  // at the first pin in natural order: #FLG01
}

TEST(Erc, NameConflictsNameTheStrongestFirst) {
    // Items of one connection all stand on one point; each case lists its names and the message's end.
    struct Name {
        std::string text;
        int kind;  // a LabelKind, or -1 for a power symbol, -2 for a hidden power pin of an ordinary part
    };
    const std::vector<std::tuple<std::vector<Name>, std::string, std::string>> cases = {
        {{{"A", Local}, {"H", Hierarchical}}, "Net names A and H are both attached", "A is used"},
        {{{"L", Local}, {"+5V", -1}, {"G", Global}}, "Net names G, +5V and L are all attached", "G is used"},
        {{{"VDD", -2}, {"+3V3", -1}, {"+3.3V", -1}}, "Net names +3.3V, +3V3 and VDD are all attached", "+3.3V is used"},
        {{{"Net-(R1-Pad1)", Local}, {"ZZ", Local}}, "Net names ZZ and Net-(R1-Pad1) are both attached", "ZZ is used"},
        {{{"OTHER", Local}, {"B", Local}},
         "Net names B and OTHER are both attached",
         "B is used on this sheet, the net is named OTHER"},
        {{{"SAME", Local}, {"SAME", Global}}, "", ""},
    };
    for (const auto& [names, head, tail] : cases) {
        Design d;
        const int n = d.net("OTHER");
        for (const Name& name : names) {
            if (name.kind >= 0) {
                d.label(name.text, {1, 1}, n, name.kind);
                continue;
            }
            const int c = d.part(name.kind == -1 ? "#PWR1" : "U1", {pin("1", name.text, "power_in", {1, 1}, true)},
                                 name.kind == -1);
            d.s.components[c].value = name.text;
            d.s.components[c].pins[0].net = n;
            d.s.nets[n].pins.push_back({c, 0});
        }
        if (tail.find("OTHER") == std::string::npos) d.s.nets[n].name = tail.substr(0, tail.find(' '));
        const Strings got = d.show("NET_NAME_CONFLICT");
        EXPECT_EQ(got, head.empty() ? Strings{}
                                    : Strings{"warning NET_NAME_CONFLICT " + head + " to one connection; " + tail})
            << head;
    }
    // Two connections of one sheet that share a name are one; on another sheet the name is another net's.
    Design d;
    d.s.sheets.push_back({.name = "Other", .file = "other.kicad_sch"});
    const int a = d.net("A"), b = d.net("A");
    d.wire({0, 0}, {10, 0}, a);
    d.label("A", {0, 0}, a);
    d.label("A", {20, 0}, b);
    d.label("B", {20, 0}, b);
    d.label("C", {0, 0}, d.net("C"), Local, 1);
    d.label("A", {0, 0}, (int)d.s.nets.size() - 1, Local, 1);
    EXPECT_EQ(d.show("NET_NAME_CONFLICT"),
              (Strings{"warning NET_NAME_CONFLICT Net names A and B are both attached to one connection; A is used",
                       "warning NET_NAME_CONFLICT Net names A and C are both attached to one connection; A is used on "
                       "this sheet, the net is named C"}));
    EXPECT_EQ(d.only("NET_NAME_CONFLICT")[0].position.x, 20);  // at the first item carrying B
}

TEST(Erc, NameCaseComparesSpellingsNotNets) {
    Design d;
    const int vcc = d.net("VCC"), other = d.net("Vcc");
    d.label("VCC", {1, 1}, vcc);
    d.label("vcc", {2, 2}, vcc);
    d.label("Vcc", {3, 3}, other);
    d.label("Vcc", {4, 4}, other);
    d.label("CLK", {5, 5}, d.net("CLK"));
    d.label("CLK", {6, 6}, d.net("CLK"));  // the same text twice: two nets on purpose
    const int gnd = d.net("GND", {{d.part("#PWR01", {pin("1", "GND", "power_in", {}, true)}, true), 0}}, "power");
    d.s.components.back().value = "GND";
    d.label("Gnd", {7, 7}, gnd);
    EXPECT_EQ(d.show("NET_NAME_CASE"),
              (Strings{"warning NET_NAME_CASE Names GND / Gnd differ only by letter case on one net, GND — probably "
                       "meant to be one net",
                       "warning NET_NAME_CASE Names VCC / Vcc / vcc differ only by letter case — probably meant to "
                       "be one net"}));
    EXPECT_EQ(d.only("NET_NAME_CASE")[1].position.x, 3);  // the first "Vcc", the second spelling by bytes
}

TEST(Erc, DrawingMistakesAreReportedOncePerSheetFile) {
    // Two instances of one file and a third sheet of another, each with the same open wire end.
    Design d;
    d.s.sheets = {{.name = "Left", .file = "a.kicad_sch"},
                  {.name = "Right", .file = "a.kicad_sch"},
                  {.name = "Other", .file = "b.kicad_sch"}};
    for (int sheet = 0; sheet < 3; ++sheet) {
        const int n = d.net("N" + std::to_string(sheet),
                            {{d.part("U" + std::to_string(sheet), {pin("1", "VCC", "power_in")}), 0}});
        d.s.components.back().sheet = sheet;
        d.wire({0, 0}, {5, 0}, n, false, sheet);
    }
    auto sheetsOf = [&](const std::string& code) {
        std::string out;
        for (const ErcIssue& i : d.run())
            if (i.code == code) out += d.s.sheets[i.sheet].name + " ";
        return out;
    };
    EXPECT_EQ(sheetsOf("WIRE_DANGLING"), "Left Other ");
    EXPECT_EQ(sheetsOf("POWER_NOT_DRIVEN"), "Left Right Other ");  // each instance has its own nets
    d.s.format = "eagle";                                          // Eagle's sheets are pages of one file
    EXPECT_EQ(sheetsOf("WIRE_DANGLING"), "Left Right Other ");
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
    int onWires = 0;
    for (const Wire& w : d.s.wires)
        for (Point p : {w.a, w.b}) {
            int same = 0;
            bool onOther = false;
            for (const Wire& o : d.s.wires) {
                same += (key(o.sheet, o.a) == key(w.sheet, p)) + (key(o.sheet, o.b) == key(w.sheet, p));
                onOther = onOther || (&o != &w && o.sheet == w.sheet && interior(p, o.a, o.b));
            }
            onWires += same < 2 && onOther;
            if (same < 2) expected.push_back(formatNumber(p.x, 2) + "," + formatNumber(p.y, 2) + (onOther ? " T" : ""));
        }
    for (const ErcIssue& i : d.run())
        got.push_back(formatNumber(i.position.x, 2) + "," + formatNumber(i.position.y, 2) +
                      (i.message.find("without a junction") != std::string::npos ? " T" : ""));
    std::sort(expected.begin(), expected.end());
    std::sort(got.begin(), got.end());
    expected.erase(std::unique(expected.begin(), expected.end()), expected.end());  // once per sheet file
    EXPECT_GT(expected.size(), 50u);
    EXPECT_GT(onWires, 10);
    EXPECT_EQ(got, expected);
}

TEST(Erc, WireEndsMeetByKeyOrAnchor) {
    Design d;
    const int n = d.net("N");
    d.wire({0, 0}, {20, 0}, n);
    d.wire({10, 0}, {10, 10}, n);     // a T onto the middle without a dot
    d.wire({15, 0.05}, {15, 10}, n);  // stops 0.05 mm short of wire 0
    d.wire({0, 0.0004}, {-5, 0}, n);  // meets (0, 0) by rounding to the micrometre
    Strings ends{
        "warning WIRE_DANGLING Wire end at (10, 0) on net N touches another wire without a junction (KiCad "
        "leaves it unconnected)"};
    for (const char* at : {"20, 0", "10, 10", "15, 0.05", "15, 10", "-5, 0"})
        ends.push_back("warning WIRE_DANGLING Wire end at (" + std::string(at) + ") on net N connects to nothing");
    std::sort(ends.begin(), ends.end());
    Strings got = d.show();
    std::sort(got.begin(), got.end());
    EXPECT_EQ(got, ends);

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
    d.wire({1, 20}, {1, 25}, 2);     // Eagle joins a T without a dot
    EXPECT_EQ(d.show("WIRE_DANGLING").size(), 6u);
    d.s.format = "eagle";
    EXPECT_EQ(d.show("WIRE_DANGLING"),
              (Strings{"warning WIRE_DANGLING Wire end at (0, 20) on net OTHER connects to nothing",
                       "warning WIRE_DANGLING Wire end at (5, 20) on net OTHER connects to nothing",
                       "warning WIRE_DANGLING Wire end at (1, 25) on net OTHER connects to nothing"}));
}

TEST(Erc, EagleTiesLabelsToSegmentsAndDrawsRailsWithSupplySymbols) {
    Design d;
    const int gnd = d.net("GND", {{d.part("GND1", {pin("1", "GND", "power_out", {0, 0})}, true), 0},
                                  {d.part("GND2", {pin("1", "GND", "power_out", {9, 0})}, true), 0}});
    d.wire({0, 0}, {9, 0}, gnd);
    d.label("GND", {4, 3}, gnd);  // drawn beside its segment
    const Strings kicad = {"warning POWER_OUT_CONFLICT Net GND joins 2 power output pins: GND1.1, GND2.1",
                           "warning LABEL_FLOATING Label 'GND' is not attached to any wire or pin"};
    EXPECT_EQ(d.show(), kicad);
    d.s.format = "eagle";
    EXPECT_EQ(d.show(), Strings{});
}

TEST(Erc, ReferencesAndHierarchy) {
    Design d;
    for (const char* ref : {"R5", "R5", "U1", "U1", "R?", "R?", "", "#PWR?"}) d.part(ref, {}, ref[0] == '#');
    d.s.components[3].unit = 2;  // another unit of U1
    for (int c = 0; c < 8; ++c) d.s.components[c].value = "V";
    d.s.components[1].position = {9, 8};
    d.s.sheets.push_back({.name = "sensor"});
    d.s.sheet_symbols.push_back(
        {.name = "Sensor",
         .position = {50, 60},
         .child = 1,
         .pins = {d.label("SDA", {50, 62}, -1, SheetPin), d.label("SCL", {50, 64}, -1, SheetPin)}});
    d.label("SCL", {0, 0}, -1, Hierarchical, 1);
    d.label("INT", {3, 4}, -1, Hierarchical, 1);
    d.label("INT", {0, 5}, -1, Hierarchical, 1);
    d.label("SDA", {0, 0}, -1, Hierarchical, 0);  // on the parent: does not match
    Strings got;
    for (const std::string& line : d.show())
        if (line.find(" REF_") != std::string::npos || line.find("_UNMATCHED ") != std::string::npos)
            got.push_back(line);
    EXPECT_EQ(got, (Strings{"error REF_DUPLICATE Reference R5 (unit 1) is used by 2 symbols",
                            "error SHEET_PIN_UNMATCHED Sheet pin 'SDA' on Sensor has no hierarchical label inside the "
                            "sheet",
                            "warning REF_UNANNOTATED Component 'R?' (V) has no final reference designator",
                            "warning REF_UNANNOTATED Component 'R?' (V) has no final reference designator",
                            "warning REF_UNANNOTATED Component 'V' (V) has no final reference designator",
                            "warning HIER_LABEL_UNMATCHED Hierarchical label 'INT' in sheet Sensor has no matching "
                            "sheet pin on the parent"}));
    // Where each points: the second symbol, the sheet pin, the first label of its text on the child sheet.
    const auto issues = d.run();
    EXPECT_EQ(issues[0].position.x, 9);
    EXPECT_TRUE(issues[1].position.y == 62 && issues[1].sheet == 0);
    const ErcIssue& hier =
        *std::find_if(issues.begin(), issues.end(), [](const ErcIssue& i) { return i.code == "HIER_LABEL_UNMATCHED"; });
    EXPECT_TRUE(hier.position.x == 3 && hier.position.y == 4 && hier.sheet == 1);
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
    // What the project hid follows the count line; the counts are of what is shown.
    ErcReport report{{open}, 0, "board.kicad_pro"};
    EXPECT_EQ(ercReportText(d.s, report), ercReportText(d.s, report.issues));
    EXPECT_EQ(ercHiddenText(report), "");
    report.hidden = 7;
    EXPECT_EQ(
        ercReportText(d.s, report),
        "[error] PIN_UNCONNECTED  U1 pin 1 (A, input) is not connected  (sheet Main ✓)\n\n"
        "1 error(s), 0 warning(s), 1 total.\n7 issue(s) hidden by the project's ERC settings (board.kicad_pro).\n");
}

#include <gtest/gtest.h>

#include <array>
#include <sstream>

#include "analysis/lookup.h"
#include "fixtures/query_fixture.h"

using namespace nl;

TEST(Lookup, FindNetAndResolveTargetForms) {
    nltest::DesignBuilder b;  // nets in order: VIN (aliases VBUS, gnd), OUT, GND, VCC, CV, I2C.SDA
    b.twoPin("R1", "10k", "VIN", "OUT");
    b.part("U1", "NE555",
           {{"1", "GND", "power_in"}, {"8", "VCC"}, {"3", "Q"}, {"VCC", "spare"}, {"5", "5"}, {"6", "THR"}},
           {"GND", "VCC", "OUT", "VIN", "CV", "OUT"});
    b.part("R2", "1k", {{"1"}, {"2"}}, {"", "I2C.SDA"});
    b.part("J9", "Conn", {{"1"}, {"2"}});
    b.s.nets[0].aliases = {"VBUS", "gnd"};
    // Names win over aliases: the alias "gnd" on an earlier net answers only exact "gnd".
    for (auto [name, net] :
         std::vector<std::pair<const char*, int>>{{"OUT", 1}, {"VBUS", 0}, {"GND", 2}, {"gnd", 0}, {"out", -1}})
        EXPECT_EQ(findNet(b.s, name), net) << name;
    const std::string neither = "' is neither a component, a pin (REF.PIN) nor a net name";
    struct Case {
        const char* target;
        std::string expected;  // label on success, "!" + message on failure
        std::vector<int> nets = {};
    };
    const Case cases[] = {
        {"  NET:GND ", "net GND", {2}},  // the prefix ignores case, the name does not
        {" net:gnd ", "net VIN", {0}},
        {"net:  out", "!net '  out' not found"},
        {"net:R1", "!net 'R1' not found"},
        {"R1.2", "R1.2", {1}},
        {"R1/2", "R1.2", {1}},
        {"R1:2", "R1.2", {1}},
        {"R1 pin 2", "R1.2", {1}},
        {" R1  2", "R1.2", {1}},
        {"U1.VCC", "U1.8 (VCC)", {3}},  // the first pin numbered or named so, in pin order
        {"U1 pin vcc", "U1.8 (VCC)", {3}},
        {"U1.5", "U1.5", {4}},
        {"R2.1", "!R2 pin 1 is not connected"},
        {"U1 pin  TRIG ", "!U1 has no pin 'TRIG'"},
        {"r1.2", "!'r1.2" + neither},  // no split without an exact reference
        {"u1", "U1", {2, 3, 1, 0, 4}},
        {"J9", "!J9 has no connected pins"},
        {"I2C.SDA", "net I2C.SDA", {5}},
        {"i2c.sda", "net I2C.SDA", {5}},
        {"VBUS", "net VIN", {0}},
        {"vbus", "!'vbus" + neither},  // aliases only match exactly
        {"R9", "!'R9" + neither},
        {" \t ", "!empty target"},
    };
    for (const Case& c : cases) {
        std::vector<int> nets{99};
        std::string label, error;
        const bool ok = resolveTarget(b.s, c.target, nets, label, &error);
        EXPECT_EQ(ok ? label : "!" + error, c.expected) << c.target;
        EXPECT_EQ(nets, c.nets) << c.target;
    }
}

TEST(Lookup, NamesTypedWithOrWithoutKicadEscapes) {
    nltest::DesignBuilder b;  // nets: SDI/out0 (alias A{comma}B), D{lt}0{gt}
    b.part("U2", "MCU", {{"1", "D_P{slash}SWDCLK"}, {"2", "~{RST}"}}, {"SDI/out0", "D{lt}0{gt}"});
    b.part("R{slash}1", "1k", {{"1"}, {"2"}}, {"SDI/out0", ""});
    b.s.nets[0].aliases = {"A{comma}B"};
    const struct {
        const char* target;
        const char* label;  // empty: not found
    } rows[] = {
        {"SDI{slash}out0", "net SDI/out0"},
        {"net:SDI{slash}out0", "net SDI/out0"},
        {"sdi{slash}OUT0", "net SDI/out0"},
        {"D<0>", "net D{lt}0{gt}"},
        {"net:D<0>", "net D{lt}0{gt}"},
        {"A,B", "net SDI/out0"},
        {"U2.D_P/SWDCLK", "U2.1 (D_P{slash}SWDCLK)"},
        {"U2 pin d_p/swdclk", "U2.1 (D_P{slash}SWDCLK)"},
        {"U2.~{RST}", "U2.2 (~{RST})"},
        {"SDI{slash}out1", ""},
        {"D{lt}0", ""},
    };
    for (const auto& r : rows) {
        std::vector<int> nets;
        std::string label;
        EXPECT_EQ(resolveTarget(b.s, r.target, nets, label) ? label : "", r.label) << r.target;
    }
    EXPECT_EQ(findComponent(b.s, "R/1"), 1);
    EXPECT_EQ(findComponent(b.s, "r{slash}1"), 1);
    EXPECT_EQ(findComponent(b.s, "u2"), 0);
    EXPECT_EQ(findComponent(b.s, "R/2"), -1);
    // What is printed keeps the stored spelling.
    EXPECT_NE(describeNet(b.s, 1, "standard").find("Net D{lt}0{gt}"), std::string::npos);
}

TEST(Lookup, KindsPrefixesAndPinLabels) {
    // reference|value|lib_id|kind; a leading '#' marks a power symbol.
    for (const char* row :
         {"#PWR03|GND|power:GND|power symbol", "D5|LED_Red||LED", "D6|red|Device:LED|LED", "D7|SMAJ5.0A TVS||TVS diode",
          "D8|1N4148|Diode:TVS|diode", "U2|AMS1117-3.3||voltage regulator", "U3|LM7805||integrated circuit",
          "IC4|7805||voltage regulator", "U5|X|Regulator_Linear:X|voltage regulator", "U6|TPS7A LDO||voltage regulator",
          "r5|10k||component", "FB1|||inductor / ferrite", "TR1|||transformer", "SP1|||speaker / buzzer",
          "H1|||component"}) {
        std::string f[4];
        std::istringstream in(row);
        for (std::string& field : f) std::getline(in, field, '|');
        Component c;
        c.reference = f[0], c.value = f[1], c.lib_id = f[2], c.power_symbol = row[0] == '#';
        EXPECT_EQ(componentKind(c), f[3]) << row;
    }
    Component component;
    for (const auto& [ref, prefix] : std::vector<std::array<std::string, 2>>{
             {"R12", "R"}, {"#PWR01", "#PWR"}, {"U3A", "U"}, {"LOGO", "LOGO"}, {"", ""}}) {
        component.reference = ref;
        EXPECT_EQ(referencePrefix(component), prefix);
    }
    EXPECT_EQ(pinTypeLabel("open_emitter"), "Open emitter");
    EXPECT_EQ(pinTypeLabel("bogus"), "bogus");
}

TEST(Lookup, DescribeComponentAndNetAtEachLevel) {
    nltest::DesignBuilder b;
    int u = b.part("U2", "LM358", {{"1", "OUT", "output"}, {"2", "~", "bogus"}, {"8", "V+", "power_in"}},
                   {"SIG", "", "VCC"}, "Amplifier_Operational:LM358");
    b.twoPin("R1", "1k", "SIG", "GND");
    Component& c = b.s.components[u];
    c.footprint = "SOIC-8", c.datasheet = "~", c.unit = 2, c.dnp = true, c.sheet = 1;
    c.pins[1].no_connect = c.pins[2].hidden = true;
    c.properties = {{"Value", "LM358"}, {"Empty", ""}, {"MPN", "LM358DR"}};
    b.s.sheets.emplace_back().name = "Amp";
    const std::string head =
        "U2  LM358  (integrated circuit)\nFootprint: SOIC-8\n"
        "Library: Amplifier_Operational:LM358   Sheet: Amp   Unit 2   DNP\nPins:\n";
    EXPECT_EQ(describeComponent(b.s, u, "minimal"), "U2  LM358  (integrated circuit)\n3 pins");
    EXPECT_EQ(describeComponent(b.s, u, "other"),
              head + "  1  OUT  [Output]  -> SIG\n  2  ~  [bogus]  -> (unconnected) [NC]\n");
    EXPECT_EQ(describeComponent(b.s, u, "verbose"), head +
                                                        "  1  OUT  [Output]  -> SIG  (2 pins on net)\n"
                                                        "  2  ~  [bogus]  -> (unconnected) [NC]\n"
                                                        "  8  V+  [Power input]  -> VCC  (1 pins on net)\n"
                                                        "MPN: LM358DR\nValue: LM358\n");

    b.power("#PWR01", "+5V");
    b.part("U1", "AMS1117-3.3", {{"3", "VI", "power_in"}}, {"+5V"});
    b.twoPin("C1", "10u", "+5V", "GND");
    const int rail = b.net("+5V");
    Net& n = b.s.nets[rail];
    n.bus = true, n.wires = {0, 1, 2}, n.sheets = {0, 1, 2}, n.aliases = {"VBUS", "USB_5V"};
    const std::string nhead =
        "Net +5V  [POWER]  [BUS]\n3 pins, 3 wire segments, spans 3 sheets\n"
        "Also labelled: VBUS, USB_5V\nName from: power\nConnected pins:\n";
    EXPECT_EQ(describeNet(b.s, rail, "minimal"), nhead.substr(0, nhead.find("Name from")));
    EXPECT_EQ(describeNet(b.s, rail, "standard"), nhead + "  U1.3  VI  [Power input]\n  C1.1  ~  [Passive]\n");
    EXPECT_EQ(describeNet(b.s, rail, "verbose"), nhead +
                                                     "  #PWR01 power symbol +5V\n"
                                                     "  U1.3  VI  [Power input]  AMS1117-3.3 (voltage regulator)\n"
                                                     "  C1.1  ~  [Passive]  10u (capacitor)\n");
    EXPECT_EQ(describeNet(b.s, b.net("VCC"), "minimal"), "Net VCC\n1 pins, 0 wire segments\n");
}

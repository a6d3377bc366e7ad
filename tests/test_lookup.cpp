#include <gtest/gtest.h>

#include "lookup.h"
#include "query_fixture.h"

using namespace nl;
using nltest::DesignBuilder;

namespace {

// R1 between VIN and OUT, U1 with a named supply pin, an unconnected R2 pin,
// a net whose name holds separators, and a net with an alias.
Schematic lookupDesign() {
    DesignBuilder b;
    b.twoPin("R1", "10k", "VIN", "OUT");
    int u1 = b.part("U1", "NE555",
                    {{"1", "GND", "power_in"},
                     {"8", "VCC", "power_in"},
                     {"3", "Q", "output"},
                     {"VCC", "spare", "input"},
                     {"5", "5", "input"},
                     {"6", "THR", "input"}});
    b.connect(u1, 0, "GND");
    b.connect(u1, 1, "VCC");
    b.connect(u1, 2, "OUT");
    b.connect(u1, 3, "VIN");
    b.connect(u1, 4, "CV");
    b.connect(u1, 5, "OUT");  // second pin on OUT: listed once
    int r2 = b.part("R2", "1k", {{"1"}, {"2"}});
    b.connect(r2, 1, "I2C.SDA");
    b.part("J9", "Conn", {{"1"}, {"2"}});  // nothing connected
    b.s.nets[b.net("VIN")].aliases = {"VBUS", "gnd"};
    return b.s;
}

struct Resolved {
    bool ok = false;
    std::vector<int> nets;
    std::string label, error;
};

Resolved resolve(const Schematic& s, const std::string& target) {
    Resolved r;
    r.nets = {99};  // must be cleared
    r.ok = resolveTarget(s, target, r.nets, r.label, &r.error);
    return r;
}

std::vector<std::string> netNames(const Schematic& s, const std::vector<int>& nets) {
    std::vector<std::string> out;
    for (int n : nets) out.push_back(s.nets[n].name);
    return out;
}

}  // namespace

TEST(Lookup, FindNetPrefersNamesOverAliases) {
    Schematic s = lookupDesign();
    EXPECT_EQ(findNet(s, "OUT"), 1);
    EXPECT_EQ(findNet(s, "VBUS"), 0);
    // GND is a real name on a later net; the alias "gnd" on VIN only answers exact "gnd".
    EXPECT_EQ(findNet(s, "GND"), 2);
    EXPECT_EQ(findNet(s, "gnd"), 0);
    EXPECT_EQ(findNet(s, "out"), -1);
}

TEST(Lookup, ResolveNetPrefixIsCaseInsensitiveButNameIsNot) {
    Schematic s = lookupDesign();
    Resolved r = resolve(s, "  NET:GND ");
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(netNames(s, r.nets), std::vector<std::string>{"GND"});
    EXPECT_EQ(r.label, "net GND");

    r = resolve(s, " net:gnd ");  // only the alias on VIN matches exactly
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.label, "net VIN");

    r = resolve(s, "net:  out");
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.error, "net '  out' not found");
    EXPECT_TRUE(r.nets.empty());
    EXPECT_EQ(resolve(s, "net:nope").error, "net 'nope' not found");
    EXPECT_EQ(resolve(s, "net:R1").error, "net 'R1' not found");  // the prefix never falls back to components
}

TEST(Lookup, ResolvePinFormsAndLabels) {
    Schematic s = lookupDesign();
    for (const char* t : {"R1.2", "R1/2", "R1:2", "R1 pin 2", "R1 2", " R1.  2 "}) {
        Resolved r = resolve(s, t);
        ASSERT_TRUE(r.ok) << t << ": " << r.error;
        EXPECT_EQ(netNames(s, r.nets), std::vector<std::string>{"OUT"}) << t;
        EXPECT_EQ(r.label, "R1.2") << t;  // name "~" is not shown
    }
    // A pin numbered like another pin's name: the first pin in order wins.
    Resolved r = resolve(s, "U1.VCC");
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.label, "U1.8 (VCC)");
    EXPECT_EQ(resolve(s, "U1 pin vcc").label, "U1.8 (VCC)");
    EXPECT_EQ(resolve(s, "U1.5").label, "U1.5");  // name equal to number is not repeated
    EXPECT_EQ(resolve(s, "U1:q").label, "U1.3 (Q)");

    EXPECT_EQ(resolve(s, "R2.1").error, "R2 pin 1 is not connected");
    EXPECT_EQ(resolve(s, "R2.7").error, "R2 has no pin '7'");
    EXPECT_EQ(resolve(s, "U1 pin  TRIG ").error, "U1 has no pin 'TRIG'");
    // The split needs an exact reference, so a lower-case r1.2 stays whole and is no net.
    EXPECT_EQ(resolve(s, "r1.2").error, "'r1.2' is neither a component, a pin (REF.PIN) nor a net name");
}

TEST(Lookup, ResolveComponentsAndBareNetNames) {
    Schematic s = lookupDesign();
    Resolved r = resolve(s, "u1");
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.label, "U1");
    EXPECT_EQ(netNames(s, r.nets), (std::vector<std::string>{"GND", "VCC", "OUT", "VIN", "CV"}));

    r = resolve(s, "J9");
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.error, "J9 has no connected pins");
    EXPECT_EQ(r.label, "J9");

    // A net whose name holds a separator is not split when the part before is no reference.
    r = resolve(s, "I2C.SDA");
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.label, "net I2C.SDA");
    EXPECT_EQ(resolve(s, "i2c.sda").label, "net I2C.SDA");  // names fall back to any case
    EXPECT_EQ(resolve(s, "vbus").error, "'vbus' is neither a component, a pin (REF.PIN) nor a net name");
    EXPECT_EQ(resolve(s, "VBUS").label, "net VIN");
    EXPECT_EQ(resolve(s, "R9").error, "'R9' is neither a component, a pin (REF.PIN) nor a net name");
    EXPECT_EQ(resolve(s, " \t ").error, "empty target");

    std::vector<int> nets{1};
    std::string label;
    EXPECT_FALSE(resolveTarget(s, "nothing", nets, label));  // no error string: just false
    EXPECT_TRUE(nets.empty());
}

TEST(Lookup, ReferencePrefixAndKinds) {
    auto comp = [](const std::string& ref, const std::string& value, const std::string& lib = "") {
        Component c;
        c.reference = ref;
        c.value = value;
        c.lib_id = lib;
        return c;
    };
    EXPECT_EQ(referencePrefix(comp("R12", "")), "R");
    EXPECT_EQ(referencePrefix(comp("#PWR01", "")), "#PWR");
    EXPECT_EQ(referencePrefix(comp("U3A", "")), "U");
    EXPECT_EQ(referencePrefix(comp("LOGO", "")), "LOGO");
    EXPECT_EQ(referencePrefix(comp("", "")), "");

    Component pwr = comp("#PWR03", "GND");
    pwr.power_symbol = true;
    EXPECT_EQ(componentKind(pwr), "power symbol");
    EXPECT_EQ(componentKind(comp("D5", "LED_Red")), "LED");
    EXPECT_EQ(componentKind(comp("D6", "red", "Device:LED")), "LED");
    EXPECT_EQ(componentKind(comp("D7", "SMAJ5.0A TVS")), "TVS diode");
    EXPECT_EQ(componentKind(comp("D8", "1N4148", "Diode:TVS")), "diode");  // only the value names a TVS
    EXPECT_EQ(componentKind(comp("U2", "AMS1117-3.3")), "voltage regulator");
    EXPECT_EQ(componentKind(comp("U3", "LM7805")), "integrated circuit");
    EXPECT_EQ(componentKind(comp("IC4", "7805")), "voltage regulator");
    EXPECT_EQ(componentKind(comp("U5", "X", "Regulator_Linear:LDO")), "voltage regulator");
    EXPECT_EQ(componentKind(comp("U6", "TPS7A LDO")), "voltage regulator");
    EXPECT_EQ(componentKind(comp("r5", "10k")), "component");
    EXPECT_EQ(componentKind(comp("RV1", "")), "resistor");
    EXPECT_EQ(componentKind(comp("FB1", "")), "inductor / ferrite");
    EXPECT_EQ(componentKind(comp("CN2", "")), "connector");
    EXPECT_EQ(componentKind(comp("S1", "")), "switch");
    EXPECT_EQ(componentKind(comp("TR1", "")), "transformer");
    EXPECT_EQ(componentKind(comp("TP3", "")), "test point");
    EXPECT_EQ(componentKind(comp("JP1", "")), "jumper");
    EXPECT_EQ(componentKind(comp("SP1", "")), "speaker / buzzer");
    EXPECT_EQ(componentKind(comp("Y1", "")), "crystal / oscillator");
    EXPECT_EQ(componentKind(comp("H1", "")), "component");

    EXPECT_EQ(pinTypeLabel("tri_state"), "Tri-state");
    EXPECT_EQ(pinTypeLabel("power_in"), "Power input");
    EXPECT_EQ(pinTypeLabel("open_emitter"), "Open emitter");
    EXPECT_EQ(pinTypeLabel("no_connect"), "No connect");
    EXPECT_EQ(pinTypeLabel("bogus"), "bogus");
}

TEST(Lookup, DescribeComponentAtEachLevel) {
    DesignBuilder b;
    int u = b.part("U2", "LM358", {{"1", "OUT", "output"}, {"2", "~", "bogus"}, {"8", "V+", "power_in"}},
                   "Amplifier_Operational:LM358");
    b.connect(u, 0, "SIG");
    b.connect(u, 2, "VCC");
    b.twoPin("R1", "1k", "SIG", "GND");
    Component& c = b.s.components[u];
    c.footprint = "Package_SO:SOIC-8";
    c.datasheet = "~";
    c.unit = 2;
    c.dnp = true;
    c.pins[1].no_connect = true;
    c.pins[2].hidden = true;
    c.properties = {{"Value", "LM358"}, {"Empty", ""}, {"MPN", "LM358DR"}};
    b.s.sheets.push_back({});
    b.s.sheets[1].name = "Amp";
    c.sheet = 1;

    EXPECT_EQ(describeComponent(b.s, u, "minimal"), "U2  LM358  (integrated circuit)\n3 pins");
    EXPECT_EQ(describeComponent(b.s, u, "standard"),
              "U2  LM358  (integrated circuit)\n"
              "Footprint: Package_SO:SOIC-8\n"
              "Library: Amplifier_Operational:LM358   Sheet: Amp   Unit 2   DNP\n"
              "Pins:\n"
              "  1  OUT  [Output]  -> SIG\n"
              "  2  ~  [bogus]  -> (unconnected) [NC]\n");
    EXPECT_EQ(describeComponent(b.s, u, "whatever"), describeComponent(b.s, u, "standard"));
    EXPECT_EQ(describeComponent(b.s, u, "verbose"),
              "U2  LM358  (integrated circuit)\n"
              "Footprint: Package_SO:SOIC-8\n"
              "Library: Amplifier_Operational:LM358   Sheet: Amp   Unit 2   DNP\n"
              "Pins:\n"
              "  1  OUT  [Output]  -> SIG  (2 pins on net)\n"
              "  2  ~  [bogus]  -> (unconnected) [NC]\n"
              "  8  V+  [Power input]  -> VCC  (1 pins on net)\n"
              "MPN: LM358DR\n"
              "Value: LM358\n");

    c.description = "Dual op-amp";
    c.datasheet = "http://x/ds.pdf";
    c.unit = 1;
    c.dnp = false;
    const std::string head =
        "U2  LM358  (integrated circuit)\n"
        "Footprint: Package_SO:SOIC-8\n"
        "Description: Dual op-amp\n"
        "Datasheet: http://x/ds.pdf\n"
        "Library: Amplifier_Operational:LM358   Sheet: Amp\nPins:\n";
    EXPECT_EQ(describeComponent(b.s, u, "standard").substr(0, head.size()), head);
}

TEST(Lookup, DescribeNetAtEachLevel) {
    DesignBuilder b;
    b.power("#PWR01", "+5V");
    int u = b.part("U1", "AMS1117-3.3", {{"3", "VI", "power_in"}});
    b.connect(u, 0, "+5V");
    b.twoPin("C1", "10u", "+5V", "GND");
    Net& n = b.s.nets[b.net("+5V")];
    n.bus = true;
    n.wires = {0, 1, 2};
    n.sheets = {0, 1, 2};
    n.aliases = {"VBUS", "USB_5V"};

    const std::string head =
        "Net +5V  [POWER]  [BUS]\n"
        "3 pins, 3 wire segments, spans 3 sheets\n"
        "Also labelled: VBUS, USB_5V\n";
    EXPECT_EQ(describeNet(b.s, 0, "minimal"), head);
    EXPECT_EQ(describeNet(b.s, 0, "standard"), head +
                                                   "Name from: power\nConnected pins:\n"
                                                   "  U1.3  VI  [Power input]\n"
                                                   "  C1.1  ~  [Passive]\n");
    EXPECT_EQ(describeNet(b.s, 0, "verbose"), head +
                                                  "Name from: power\nConnected pins:\n"
                                                  "  #PWR01 power symbol +5V\n"
                                                  "  U1.3  VI  [Power input]  AMS1117-3.3 (voltage regulator)\n"
                                                  "  C1.1  ~  [Passive]  10u (capacitor)\n");
    EXPECT_EQ(describeNet(b.s, b.net("GND"), "minimal"), "Net GND\n1 pins, 0 wire segments\n");
}

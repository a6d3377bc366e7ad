// The built-in demo is the first design a user sees, so it must be a circuit an
// engineer accepts: a textbook astable 555 blinker with a clean rule check.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "analysis/erc.h"
#include "open/schematic_open.h"

using namespace nl;

TEST(SampleDesign, IsAWorking555Blinker) {
    auto s = loadSampleSchematic();
    ASSERT_TRUE(s);
    EXPECT_TRUE(s->warnings.empty());
    // Power symbols and flags are listed by reference alone; every other pin as REF.NUMBER.
    const std::map<std::string, std::vector<std::string>> want = {
        {"GND", {"#FLG01", "#PWR01", "C1.2", "C2.2", "D1.1", "U1.1"}},
        {"VCC", {"#FLG02", "#PWR02", "#PWR03", "R1.1", "U1.4", "U1.8"}},
        {"DISCH", {"R1.2", "R2.1", "U1.7"}},
        {"OUT", {"R3.1", "U1.3"}},
        {"TRIG_THR", {"C1.1", "R2.2", "U1.2", "U1.6"}},
        {"Net-(C2-Pad1)", {"C2.1", "U1.5"}},
        {"Net-(D1-Pad2)", {"D1.2", "R3.2"}},
    };
    std::map<std::string, std::vector<std::string>> got;
    for (const Net& net : s->nets) {
        std::vector<std::string>& pins = got[net.name];
        for (const auto& [c, p] : net.pins) {
            const Component& comp = s->components[c];
            pins.push_back(comp.reference.starts_with("#") ? comp.reference
                                                           : comp.reference + "." + comp.pins[p].number);
        }
        std::sort(pins.begin(), pins.end());
    }
    EXPECT_EQ(got, want);
    EXPECT_TRUE(s->nets[0].power && s->nets[1].power && !s->nets[2].power);

    // U1's ground and discharge pins carry the types the timer's datasheet gives them.
    const Component& u1 = s->components[0];
    EXPECT_EQ(u1.pins[0].type + " " + u1.pins[6].type, "power_in open_collector");

    ErcOptions all;
    const std::vector<ErcIssue> issues = runErc(*s, all);
    for (const ErcIssue& i : issues) ADD_FAILURE() << i.code << ": " << i.message;
}

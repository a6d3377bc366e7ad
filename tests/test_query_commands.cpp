// The design questions on the command line, as whole texts on the built-in demo.
#include <gtest/gtest.h>

#include "run_netloom.h"

using nltest::runNetloom;

namespace {

std::string golden(const std::string& name) {
    return nltest::slurp(std::string(NETLOOM_SOURCE_DIR) + "/tests/golden/" + name);
}

}  // namespace

TEST(QueryCommands, SummaryOfTheDemo) {
    for (const char* sample : {"sample", "--sample"}) {
        auto r = runNetloom({"--summary", sample, "ignored"});
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.out, golden("summary_sample.txt"));
        EXPECT_EQ(r.err, "");
    }
    auto r = runNetloom({"--summary", "/nonexistent/x.kicad_sch"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "Error: Cannot read file: /nonexistent/x.kicad_sch\n");
}

TEST(QueryCommands, ComponentByReference) {
    auto r = runNetloom({"--component", "sample", "R1"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out,
              "R1  10k  (resistor)\n"
              "Library: Device:R   Sheet: Root\n"
              "Pins:\n"
              "  1  ~  [Passive]  -> VCC  (10 pins on net)\n"
              "  2  ~  [Passive]  -> VCC  (10 pins on net)\n");
    EXPECT_EQ(runNetloom({"--component", "sample", "u1"}).out, golden("component_sample_U1.txt"));
    // Power symbols are components too; case folds only as a fallback.
    r = runNetloom({"--component", "sample", "#pwr01"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out,
              "#PWR01  GND  (power symbol)\n"
              "Library: power:GND   Sheet: Root\n"
              "Pins:\n"
              "  1  GND  [Power input]  -> GND  (4 pins on net)\n");
    r = runNetloom({"--component", "sample", "R1.1"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "No component 'R1.1'\n");
}

TEST(QueryCommands, NetResolvesLikeAnyTarget) {
    auto r = runNetloom({"--net", "sample", "GND"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out,
              "Net GND  [POWER]\n"
              "4 pins, 7 wire segments\n"
              "Name from: power\n"
              "Connected pins:\n"
              "  C1.2  ~  [Passive]  10uF (capacitor)\n"
              "  C2.2  ~  [Passive]  0.01uF (capacitor)\n"
              "  D1.2  A  [Passive]  LED (LED)\n"
              "  #PWR01 power symbol GND\n"
              "\n");
    EXPECT_EQ(runNetloom({"--net", "sample", "U1"}).out, golden("net_sample_U1.txt"));
    EXPECT_EQ(runNetloom({"--net", "sample", "net:gnd"}).err, "Error: net 'gnd' not found\n");
    r = runNetloom({"--net", "sample", "R1.3"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "Error: R1 has no pin '3'\n");
}

TEST(QueryCommands, TraceStatusFollowsTheResult) {
    auto r = runNetloom({"--trace", "sample", "U1.2", "U1.7"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out,
              "Path from U1.2 (TRIG) to U1.7 (DIS): 2 net(s), 1 component hop(s)\n"
              "  [1] net VCC (10 pins)\n"
              "      -> through R2 (4.7k) pin 1 -> pin 2\n"
              "  [2] net Net-(C1-Pad1) (4 pins)\n");
    r = runNetloom({"--trace", "sample", "R3.2", "GND"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out,
              "Path from R3.2 to net GND: 2 net(s), 1 component hop(s)\n"
              "  [1] net Net-(D1-Pad1) (3 pins)\n"
              "      -> through D1 (LED) pin 1 -> pin 2\n"
              "  [2] net GND (4 pins)\n");
    // The path may end on GND but never runs through it, and the NE555 is no passthrough.
    r = runNetloom({"--trace", "sample", "C2.1", "D1.1"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "No path from C2.1 to D1.1 (K) through passive components (max depth 14)\n");
    EXPECT_EQ(r.err, "");
    r = runNetloom({"--trace", "sample", "C2", "X9"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "To: 'X9' is neither a component, a pin (REF.PIN) nor a net name\n");
}

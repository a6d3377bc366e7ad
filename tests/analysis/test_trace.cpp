#include <gtest/gtest.h>

#include "analysis/trace.h"
#include "fixtures/query_fixture.h"

using namespace nl;

namespace {

TraceOptions with(bool ics, int depth = 14) { return {.through_ics = ics, .max_depth = depth}; }

}  // namespace

TEST(Trace, ListingsBlockedPathsAndFailureTexts) {
    // NET_A -R5- NET_B =Q1 (4 pins)= NET_C -J1- NET_X ;  NET_F -R6- GND -R7- NET_G
    nltest::DesignBuilder b;
    b.twoPin("R5", "10k", "NET_A", "NET_B");
    b.part("Q1", "BCV62", {{"1"}, {"2"}, {"3"}, {"4"}}, {"NET_B", "NET_C", "NET_D", "NET_C"});
    b.twoPin("J1", "Conn_01x02", "NET_C", "NET_X");
    b.twoPin("R6", "1k", "NET_F", "GND");
    b.twoPin("R7", "2k", "GND", "NET_G");
    b.power("#PWR01", "GND");
    const Schematic& s = b.s;
    EXPECT_EQ(formatTrace(tracePath(s, "R5", "R5", {}), s),
              "Path from R5 to R5: 1 net(s), 0 component hop(s)\n  [1] net NET_A (1 pins)\n");
    EXPECT_EQ(formatTrace(tracePath(s, "NET_B", "R5.1", {}), s),
              "Path from net NET_B to R5.1: 2 net(s), 1 component hop(s)\n  [1] net NET_B (2 pins)\n"
              "      -> through R5 (10k) pin 2 -> pin 1\n  [2] net NET_A (1 pins)\n");
    // Q1 is passed only with through_ics, leaving by its first pin on NET_C; J1 passes as a two-pin part.
    TraceResult r = tracePath(s, "NET_A", "NET_X", with(true));
    EXPECT_EQ(formatTrace(r, s),
              "Path from net NET_A to net NET_X: 4 net(s), 3 component hop(s)\n"
              "  [1] net NET_A (1 pins)\n"
              "      -> through R5 (10k) pin 1 -> pin 2\n"
              "  [2] net NET_B (2 pins)\n"
              "      -> through Q1 (BCV62) pin 1 -> pin 2\n"
              "  [3] net NET_C (3 pins)\n"
              "      -> through J1 (Conn_01x02) pin 1 -> pin 2\n"
              "  [4] net NET_X (1 pins)\n");
    ASSERT_EQ(r.hops.size(), 3u);
    EXPECT_TRUE(r.hops[1].component == 1 && r.hops[1].pin_in == 0 && r.hops[1].pin_out == 1);
    r = tracePath(s, "NET_A", "NET_X", {});
    EXPECT_EQ(formatTrace(r, s), "No path from net NET_A to net NET_X through passive components (max depth 14)\n");
    EXPECT_TRUE(!r.found && r.nets.empty());
    EXPECT_TRUE(tracePath(s, "NET_B", "NET_D", {.passthrough_prefixes = {"q"}}).found);  // ignoring case
    // Rails end and start paths but never carry them.
    EXPECT_FALSE(tracePath(s, "NET_F", "NET_G", {}).found);
    EXPECT_TRUE(tracePath(s, "NET_F", "GND", {}).found);
    EXPECT_EQ(tracePath(s, "GND", "R7.2", {}).text, "Path from net GND to R7.2: 2 net(s), 1 component hop(s)");
    EXPECT_TRUE(tracePath(s, "R5", "NET_A", with(false, 0)).found);
    EXPECT_EQ(tracePath(s, "R5.1", "R5.2", with(false, 0)).text,
              "No path from R5.1 to R5.2 through passive components (max depth 0)");
    EXPECT_FALSE(tracePath(s, "NET_A", "NET_C", with(true, 1)).found);
    EXPECT_TRUE(tracePath(s, "NET_A", "NET_C", with(true, 2)).found);
    EXPECT_EQ(tracePath(s, "R5", "X9", {}).text, "To: 'X9' is neither a component, a pin (REF.PIN) nor a net name");
    EXPECT_EQ(tracePath(s, "net:nope", "X9", {}).text, "From: net 'nope' not found");
}

TEST(Trace, FewestHopsThenQueueOrder) {
    nltest::DesignBuilder b;
    b.twoPin("R10", "1", "P", "M");  // the long way comes first in P's pin order
    b.twoPin("R11", "2", "M", "Q");
    b.twoPin("RA", "3", "P", "Q");
    b.twoPin("RB", "4", "Q", "P");
    b.part("U1", "X", {{"1"}, {"2"}, {"3"}}, {"S2", "S1"});
    b.twoPin("RC", "5", "S1", "T");
    b.twoPin("RD", "6", "S2", "T");
    for (int i = 0; i < 20; ++i)
        b.twoPin("RN" + std::to_string(i), "1k", "N" + std::to_string(i), "N" + std::to_string(i + 1));
    auto via = [&](const char* from, const char* to, TraceOptions o = {}) {
        std::string refs;
        for (const TraceHop& h : tracePath(b.s, from, to, o).hops) refs += b.s.components[h.component].reference + " ";
        return refs;
    };
    EXPECT_EQ(via("P", "Q"), "RA ");
    EXPECT_EQ(via("U1", "T"), "RD ");  // start nets in resolution order: S2 first
    EXPECT_EQ(via("N0", "N20"), "");
    EXPECT_EQ(via("N0", "N20", with(false, 19)), "");
    const std::string chain = via("N0", "N20", with(false, 20));
    EXPECT_EQ(chain.size(), 90u);  // RN0 to RN19, one hop each
    EXPECT_TRUE(chain.ends_with("RN18 RN19 "));
}

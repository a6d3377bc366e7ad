#include <gtest/gtest.h>

#include "query_fixture.h"
#include "trace.h"

using namespace nl;
using nltest::DesignBuilder;

namespace {

// NET_A -R5- NET_B =Q1(4 pins)= NET_C -J1- NET_X ; NET_F -R6- GND -R7- NET_G
Schematic traceDesign() {
    DesignBuilder b;
    b.twoPin("R5", "10k", "NET_A", "NET_B");
    int q = b.part("Q1", "BCV62", {{"1"}, {"2"}, {"3"}, {"4"}});
    b.connect(q, 0, "NET_B");
    b.connect(q, 1, "NET_C");
    b.connect(q, 2, "NET_D");
    b.connect(q, 3, "NET_C");
    b.twoPin("J1", "Conn_01x02", "NET_C", "NET_X");
    b.twoPin("R6", "1k", "NET_F", "GND");
    b.twoPin("R7", "2k", "GND", "NET_G");
    b.power("#PWR01", "GND");
    return b.s;
}

std::vector<std::string> pathNames(const Schematic& s, const TraceResult& r) {
    std::vector<std::string> out;
    for (int n : r.nets) out.push_back(s.nets[n].name);
    return out;
}

}  // namespace

TEST(Trace, DefaultOptionsMatchTheAnalysisDefaults) {
    TraceOptions o;
    EXPECT_EQ(o.passthrough_prefixes,
              (std::vector<std::string>{"R", "C", "L", "D", "F", "FB", "JP", "TP", "SW", "RN", "FL", "T"}));
    EXPECT_FALSE(o.through_ics);
    EXPECT_EQ(o.max_depth, 14);
}

TEST(Trace, SharedNetAndSingleHopListing) {
    Schematic s = traceDesign();
    TraceResult r = tracePath(s, "R5", "R5", {});
    EXPECT_TRUE(r.found);
    EXPECT_EQ(r.text, "Path from R5 to R5: 1 net(s), 0 component hop(s)");
    EXPECT_EQ(pathNames(s, r), std::vector<std::string>{"NET_A"});
    EXPECT_TRUE(r.hops.empty());

    r = tracePath(s, "net:NET_A", "NET_B", {});
    ASSERT_TRUE(r.found);
    ASSERT_EQ(r.hops.size(), 1u);
    EXPECT_EQ(r.hops[0].component, 0);
    EXPECT_EQ(r.hops[0].pin_in, 0);
    EXPECT_EQ(r.hops[0].pin_out, 1);
    EXPECT_EQ(formatTrace(r, s),
              "Path from net NET_A to net NET_B: 2 net(s), 1 component hop(s)\n"
              "  [1] net NET_A (1 pins)\n"
              "      -> through R5 (10k) pin 1 -> pin 2\n"
              "  [2] net NET_B (2 pins)\n");

    // Walking the other way reports the pins the other way round.
    r = tracePath(s, "NET_B", "R5.1", {});
    EXPECT_EQ(formatTrace(r, s),
              "Path from net NET_B to R5.1: 2 net(s), 1 component hop(s)\n"
              "  [1] net NET_B (2 pins)\n"
              "      -> through R5 (10k) pin 2 -> pin 1\n"
              "  [2] net NET_A (1 pins)\n");
}

TEST(Trace, WhichComponentsArePassable) {
    Schematic s = traceDesign();
    TraceResult r = tracePath(s, "NET_A", "NET_X", {});
    EXPECT_FALSE(r.found);
    EXPECT_EQ(r.text, "No path from net NET_A to net NET_X through passive components (max depth 14)");
    EXPECT_EQ(formatTrace(r, s), r.text + "\n");
    EXPECT_TRUE(r.nets.empty());

    TraceOptions ics;
    ics.through_ics = true;
    r = tracePath(s, "NET_A", "NET_X", ics);
    ASSERT_TRUE(r.found) << r.text;
    // Q1 pin 1 -> pin 2 (the first pin on NET_C), then the two-pin connector J1.
    EXPECT_EQ(pathNames(s, r), (std::vector<std::string>{"NET_A", "NET_B", "NET_C", "NET_X"}));
    EXPECT_EQ(formatTrace(r, s),
              "Path from net NET_A to net NET_X: 4 net(s), 3 component hop(s)\n"
              "  [1] net NET_A (1 pins)\n"
              "      -> through R5 (10k) pin 1 -> pin 2\n"
              "  [2] net NET_B (2 pins)\n"
              "      -> through Q1 (BCV62) pin 1 -> pin 2\n"
              "  [3] net NET_C (3 pins)\n"
              "      -> through J1 (Conn_01x02) pin 1 -> pin 2\n"
              "  [4] net NET_X (1 pins)\n");

    // A prefix in the list is compared ignoring case.
    TraceOptions q;
    q.passthrough_prefixes = {"q"};
    EXPECT_TRUE(tracePath(s, "NET_B", "NET_D", q).found);
    q.passthrough_prefixes = {"QQ"};
    EXPECT_FALSE(tracePath(s, "NET_B", "NET_D", q).found);
}

TEST(Trace, PowerRailsEndPathsButNeverCarryThem) {
    Schematic s = traceDesign();
    TraceResult r = tracePath(s, "NET_F", "NET_G", {});
    EXPECT_FALSE(r.found);
    // Ending on the rail is fine, and so is starting from it.
    EXPECT_TRUE(tracePath(s, "NET_F", "GND", {}).found);
    r = tracePath(s, "GND", "R7.2", {});
    ASSERT_TRUE(r.found);
    EXPECT_EQ(r.text, "Path from net GND to R7.2: 2 net(s), 1 component hop(s)");
}

TEST(Trace, DepthLimitAndResolutionFailures) {
    Schematic s = traceDesign();
    TraceOptions flat;
    flat.max_depth = 0;
    EXPECT_TRUE(tracePath(s, "R5", "NET_A", flat).found);
    EXPECT_EQ(tracePath(s, "R5.1", "R5.2", flat).text,
              "No path from R5.1 to R5.2 through passive components (max depth 0)");
    TraceOptions one;
    one.max_depth = 1;
    one.through_ics = true;
    EXPECT_FALSE(tracePath(s, "NET_A", "NET_C", one).found);
    one.max_depth = 2;
    EXPECT_TRUE(tracePath(s, "NET_A", "NET_C", one).found);

    EXPECT_EQ(tracePath(s, "R5", "X9", {}).text, "To: 'X9' is neither a component, a pin (REF.PIN) nor a net name");
    EXPECT_EQ(tracePath(s, "net:nope", "X9", {}).text, "From: net 'nope' not found");
    EXPECT_EQ(tracePath(s, "R5", "Q1.9", {}).text, "To: Q1 has no pin '9'");
}

TEST(Trace, ShortestPathWithQueueOrderTieBreak) {
    DesignBuilder b;
    // Long way first in P's pin order, then two equally short parallel parts.
    b.twoPin("R10", "1", "P", "M");
    b.twoPin("R11", "2", "M", "Q");
    b.twoPin("RA", "3", "P", "Q");
    b.twoPin("RB", "4", "Q", "P");
    int u = b.part("U1", "X", {{"1"}, {"2"}, {"3"}});
    b.connect(u, 0, "S2");
    b.connect(u, 1, "S1");
    b.twoPin("RC", "5", "S1", "T");
    b.twoPin("RD", "6", "S2", "T");
    TraceResult r = tracePath(b.s, "P", "Q", {});
    ASSERT_TRUE(r.found);
    ASSERT_EQ(r.hops.size(), 1u);
    EXPECT_EQ(b.s.components[r.hops[0].component].reference, "RA");
    // Start nets are searched in the order resolution gave them: S2 (U1 pin 1) before S1.
    r = tracePath(b.s, "U1", "T", {});
    ASSERT_TRUE(r.found);
    EXPECT_EQ(pathNames(b.s, r), (std::vector<std::string>{"S2", "T"}));
    EXPECT_EQ(b.s.components[r.hops[0].component].reference, "RD");
}

TEST(Trace, LongChainIsFollowedToTheDepthLimit) {
    DesignBuilder b;
    for (int i = 0; i < 20; ++i)
        b.twoPin("R" + std::to_string(i + 1), "1k", "N" + std::to_string(i), "N" + std::to_string(i + 1));
    EXPECT_FALSE(tracePath(b.s, "N0", "N20", {}).found);  // 20 hops > 14
    TraceOptions deep;
    deep.max_depth = 20;
    TraceResult r = tracePath(b.s, "N0", "N20", deep);
    ASSERT_TRUE(r.found);
    EXPECT_EQ(r.nets.size(), 21u);
    EXPECT_EQ(r.hops.size(), 20u);
    for (size_t i = 0; i < r.hops.size(); ++i) EXPECT_EQ(r.hops[i].component, static_cast<int>(i));
    deep.max_depth = 19;
    EXPECT_FALSE(tracePath(b.s, "N0", "N20", deep).found);
}

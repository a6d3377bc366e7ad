#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "bus_text.h"

using namespace nl;

namespace {

using Pairs = std::vector<std::pair<std::string, std::string>>;

Pairs members(const std::optional<BusText>& bt) {
    Pairs out;
    if (bt)
        for (const BusMember& m : bt->members) out.push_back({m.name, m.local});
    return out;
}

std::vector<std::string> names(const std::optional<BusText>& bt) {
    std::vector<std::string> out;
    if (bt)
        for (const BusMember& m : bt->members) out.push_back(m.name);
    return out;
}

}  // namespace

TEST(BusText, VectorsAndTheirLimits) {
    const BusAliases none;
    auto d = parseBusText("D[0..2]", none);
    ASSERT_TRUE(d);
    EXPECT_EQ(d->shape, BusShape::Vector);
    EXPECT_EQ(members(d), (Pairs{{"D0", "D0"}, {"D1", "D1"}, {"D2", "D2"}}));
    EXPECT_EQ(names(parseBusText("IRQ-[10..8]", none)), (std::vector<std::string>{"IRQ-10", "IRQ-9", "IRQ-8"}));
    EXPECT_EQ(names(parseBusText("A[007..7]", none)), (std::vector<std::string>{"A7"}));  // leading zeros dropped
    EXPECT_EQ(names(parseBusText("A[1][0..1]", none)), (std::vector<std::string>{"A[1]0", "A[1]1"}));
    auto big = parseBusText("D[1..1024]", none);
    ASSERT_TRUE(big);
    EXPECT_EQ(big->members.size(), 1024u);
    EXPECT_EQ(big->members.back().name, "D1024");
    for (const char* plain : {"D[0..3]x", "[0..3]", "D[0...3]", "D[0..3a]", "D[a..3]", "D[..3]", "D[0..]", "D[1..1025]",
                              "D[1025..1]", "A B[0..1]", "D[0.3]", "D[99999999999999999999..1]", "", "CLK"})
        EXPECT_FALSE(parseBusText(plain, none)) << plain;
}

TEST(BusText, GroupsMarkupAndAliases) {
    BusAliases aliases;
    aliases["AL"] = {"S1", "V[2..3]"};
    aliases["Main-BUS"] = {"GPIO0", "USB_DN"};
    aliases["Nested"] = {"AL"};
    aliases["Empty"] = {};

    auto usb = parseBusText("USB{DP DM}", aliases);
    ASSERT_TRUE(usb);
    EXPECT_EQ(usb->shape, BusShape::Group);
    EXPECT_EQ(members(usb), (Pairs{{"USB.DP", "DP"}, {"USB.DM", "DM"}}));
    EXPECT_EQ(names(parseBusText("{A,B ~{C}}", aliases)), (std::vector<std::string>{"A", "B", "~{C}"}));
    EXPECT_EQ(names(parseBusText("{ A,, B }", aliases)), (std::vector<std::string>{"A", "B"}));
    EXPECT_EQ(members(parseBusText("X{AL B[1..2]}", aliases)),
              (Pairs{{"X.S1", "S1"}, {"X.V2", "V2"}, {"X.V3", "V3"}, {"X.B1", "B1"}, {"X.B2", "B2"}}));
    // An alias is read the same bare or in braces; aliases inside aliases are not expanded.
    const Pairs main{{"GPIO0", "GPIO0"}, {"USB_DN", "USB_DN"}};
    EXPECT_EQ(members(parseBusText("Main-BUS", aliases)), main);
    EXPECT_EQ(members(parseBusText("{Main-BUS}", aliases)), main);
    EXPECT_EQ(parseBusText("Main-BUS", aliases)->shape, BusShape::Group);
    EXPECT_EQ(names(parseBusText("Nested", aliases)), (std::vector<std::string>{"AL"}));
    // The opening brace of a group is not one that opens text markup.
    EXPECT_EQ(names(parseBusText("~{EN}{A B}", aliases)), (std::vector<std::string>{"~{EN}.A", "~{EN}.B"}));
    for (const char* plain : {"~{RESET}", "RS485_~{RE}", "A_{1}", "x^{2}", "{}", "{ , }", "A B{C}", "Empty", "{Empty}",
                              "main-bus", "USB{DP DM} "})
        EXPECT_FALSE(parseBusText(plain, aliases)) << plain;
    // Too many members in all is an ordinary label.
    EXPECT_FALSE(parseBusText("{A[1..1000] B[1..25]}", aliases));
    EXPECT_TRUE(parseBusText("{A[1..1000] B[1..24]}", aliases));
}

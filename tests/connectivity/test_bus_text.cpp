#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "connectivity/bus_text.h"

using namespace nl;

namespace {

// Members as "name" or, where the local part differs, "name/local".
std::vector<std::string> members(const std::string& text, const BusAliases& aliases = {}) {
    std::vector<std::string> out;
    if (auto bt = parseBusText(text, aliases))
        for (const BusMember& m : bt->members) out.push_back(m.name == m.local ? m.name : m.name + "/" + m.local);
    return out;
}

using Names = std::vector<std::string>;

}  // namespace

TEST(BusText, VectorsAndTheirLimits) {
    EXPECT_EQ(parseBusText("D[0..2]", {})->shape, BusShape::Vector);
    EXPECT_EQ(members("D[0..2]"), (Names{"D0", "D1", "D2"}));
    EXPECT_EQ(members("IRQ-[10..8]"), (Names{"IRQ-10", "IRQ-9", "IRQ-8"}));
    EXPECT_EQ(members("A[007..7]"), Names{"A7"});  // leading zeros dropped
    EXPECT_EQ(members("A[1][0..1]"), (Names{"A[1]0", "A[1]1"}));
    const Names big = members("D[1..1024]");
    EXPECT_EQ(big.size(), 1024u);
    EXPECT_EQ(big.back(), "D1024");
    for (const char* plain : {"D[0..3]x", "[0..3]", "D[0...3]", "D[0..3a]", "D[a..3]", "D[..3]", "D[0..]", "D[1..1025]",
                              "D[1025..1]", "A B[0..1]", "D[0.3]", "D[99999999999999999999..1]", "", "CLK"})
        EXPECT_FALSE(parseBusText(plain, {})) << plain;
}

TEST(BusText, GroupsMarkupAndAliases) {
    BusAliases aliases;
    aliases["AL"] = {"S1", "V[2..3]"};
    aliases["Main-BUS"] = {"GPIO0", "USB_DN"};
    aliases["Nested"] = {"AL"};
    aliases["Empty"] = {};
    EXPECT_EQ(parseBusText("USB{DP DM}", aliases)->shape, BusShape::Group);
    EXPECT_EQ(members("USB{DP DM}", aliases), (Names{"USB.DP/DP", "USB.DM/DM"}));
    EXPECT_EQ(members("{A,B ~{C}}", aliases), (Names{"A", "B", "~{C}"}));
    EXPECT_EQ(members("{ A,, B }", aliases), (Names{"A", "B"}));
    EXPECT_EQ(members("X{AL B[1..2]}", aliases), (Names{"X.S1/S1", "X.V2/V2", "X.V3/V3", "X.B1/B1", "X.B2/B2"}));
    // An alias is read the same bare or in braces; aliases inside aliases are not expanded.
    EXPECT_EQ(members("Main-BUS", aliases), (Names{"GPIO0", "USB_DN"}));
    EXPECT_EQ(members("{Main-BUS}", aliases), (Names{"GPIO0", "USB_DN"}));
    EXPECT_EQ(parseBusText("Main-BUS", aliases)->shape, BusShape::Group);
    EXPECT_EQ(members("Nested", aliases), Names{"AL"});
    // The opening brace of a group is not one that opens text markup.
    EXPECT_EQ(members("~{EN}{A B}", aliases), (Names{"~{EN}.A/A", "~{EN}.B/B"}));
    for (const char* plain : {"~{RESET}", "RS485_~{RE}", "A_{1}", "x^{2}", "{}", "{ , }", "A B{C}", "Empty", "{Empty}",
                              "main-bus", "USB{DP DM} ", "{A[1..1000] B[1..25]}"})  // too many members in all
        EXPECT_FALSE(parseBusText(plain, aliases)) << plain;
    EXPECT_TRUE(parseBusText("{A[1..1000] B[1..24]}", aliases));
}

TEST(BusText, MarkupBracesBelongToTheirMember) {
    // Overbar, subscript and superscript markup keeps its braces, blanks and
    // commas inside the member's name; only the group's own brace closes it.
    const std::pair<const char*, Names> groups[] = {
        {"SWD_TRG{~{RESET}, SWDIO, SWDCLK}",
         {"SWD_TRG.~{RESET}/~{RESET}", "SWD_TRG.SWDIO/SWDIO", "SWD_TRG.SWDCLK/SWDCLK"}},
        {"PWR{V_{BAT},GND}", {"PWR.V_{BAT}/V_{BAT}", "PWR.GND/GND"}},
        {"{~{RE SET} x^{2,3}}", {"~{RE SET}", "x^{2,3}"}},
        {"{~{A_{1}} B}", {"~{A_{1}}", "B"}},
        {"V_{BAT}{A ~{B}[0..1]}", {"V_{BAT}.A/A", "V_{BAT}.~{B}0/~{B}0", "V_{BAT}.~{B}1/~{B}1"}},
    };
    for (const auto& [text, expected] : groups) EXPECT_EQ(members(text), expected) << text;
    for (const char* plain : {"{A {B} C}", "A{B}C{D}", "{A ~{B}", "G{~{A} B", "~{A}_{B}", "~{A B}"})
        EXPECT_FALSE(parseBusText(plain, {})) << plain;
}

#include <gtest/gtest.h>

#include "base/text.h"

using namespace nl;

TEST(Text, FormatNumber) {
    EXPECT_EQ(formatNumber(1.5, 2), "1.5");
    EXPECT_EQ(formatNumber(100.0, 2), "100");
    EXPECT_EQ(formatNumber(-0.001, 2), "0");
    EXPECT_EQ(formatNumber(2.0, 0), "2");
    EXPECT_EQ(formatNumber(0.0, 3), "0");
    EXPECT_EQ(formatNumber(100.0, 0), "100");
    EXPECT_EQ(formatNumber(-2.54, 4), "-2.54");
    EXPECT_EQ(formatNumber(1e300, 2).size(), 63u);
}

TEST(Text, CaseAndBlanks) {
    EXPECT_EQ(toLower("AbC-ÄZ"), "abc-Äz");
    EXPECT_EQ(trim(" \t\v\f\r\nx y\n "), "x y");
    EXPECT_EQ(trim(" \t "), "");
    EXPECT_TRUE(equalsNoCase("GnD", "gnd"));
    EXPECT_FALSE(equalsNoCase("GND", "GND1"));
    EXPECT_TRUE(containsNoCase("Vcc_IO", "cc_i"));
    EXPECT_TRUE(containsNoCase("x", ""));
    EXPECT_FALSE(containsNoCase("ab", "abc"));
}

TEST(Text, KicadEscapesResolveLikeKicadShowsThem) {
    const struct {
        const char* stored;
        const char* shown;
    } rows[] = {
        {"D_P{slash}SWDCLK", "D_P/SWDCLK"},
        {"E{slash}1{dblquote}2{lt}3{gt}4{backslash}5{colon}6{comma}7{quote}8{bar}9{dollar}0{space}A{brace}B",
         "E/1\"2<3>4\\5:6,7'8|9$0 A{B"},
        {"T{tab}U{return}V", "T\tU\nV"},
        // Markup and variables keep their braces, with escapes inside them resolved.
        {"~{A{slash}B} x_{1} y^{2} ${VAR}", "~{A/B} x_{1} y^{2} ${VAR}"},
        // Unknown names, unbalanced braces and braces around an escape stay as written.
        {"{at}C{xyz}D {slash", "{at}C{xyz}D {slash"},
        {"u{{slash}}v", "u{/}v"},
        {"{slash}{slash}", "//"},
        {"plain", "plain"},
        {"", ""},
    };
    for (const auto& r : rows) EXPECT_EQ(resolveKicadEscapes(r.stored), r.shown) << r.stored;
    // Deep unbalanced nesting stays linear and intact.
    const std::string deep(200000, '{');
    EXPECT_EQ(resolveKicadEscapes(deep + "slash}"), deep.substr(1) + "/");
}

TEST(Text, NaturalOrder) {
    // Each pair in order; digit runs compare as numbers, everything else byte-wise.
    const std::pair<const char*, const char*> before[] = {
        {"R2", "R10"}, {"U9", "U10"},
        {"1", "2"},    {"2", "10"},
        {"A", "B"},    {"#PWR01", "R1"},
        {"R1", "R1A"}, {"R001", "R2"},
        {"R01", "R1"}, {"C1.2", "C1.10"},
        {"", "0"},     {"x9y", "x10a"},
        {"Z", "a"},    {"R99999999999999999999", "R100000000000000000000"}};
    for (const auto& [a, b] : before) {
        EXPECT_LT(compareNatural(a, b), 0) << a << " < " << b;
        EXPECT_GT(compareNatural(b, a), 0) << b << " > " << a;
    }
    for (const char* same : {"", "R10", "AB12cd"}) EXPECT_EQ(compareNatural(same, same), 0) << same;
}

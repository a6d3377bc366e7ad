#include <gtest/gtest.h>

#include <tuple>
#include <vector>

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

TEST(Text, Utf8AndTerminalSafety) {
    char32_t c = 0;
    // bytes, decoded length (0: not one sequence), code point
    const std::vector<std::tuple<std::string, size_t, char32_t>> cases = {
        {"A", 1, 'A'},
        {"\xC3\xA9", 2, 0xE9},
        {"\xE2\x82\xAC", 3, 0x20AC},
        {"\xF0\x9F\x98\x80", 4, 0x1F600},
        {"\xC0\xAF", 0, 0},
        {"\xE0\x80\xAF", 0, 0},
        {"\xED\xA0\x80", 0, 0},
        {"\xF4\x90\x80\x80", 0, 0},
        {"\xE2\x82", 0, 0},
        {"\x80", 0, 0},
        {"\xFF", 0, 0},
    };
    for (const auto& [bytes, length, code] : cases) {
        EXPECT_EQ(decodeUtf8(bytes, 0, c), length) << bytes;
        if (length) {
            EXPECT_EQ(c, code);
        }
    }
    // what a server might send, what a terminal may be shown
    const std::vector<std::pair<std::string, std::string>> shown = {
        {"plain\ttext\nnext line", "plain\ttext\nnext line"},
        {"\x1b[31mred\x1b[0m and \x1b[2J\x1b[Hclear", "red and clear"},
        {"title\x1b]0;owned\x07 here \x1b]8;;http://x\x1b\\link", "title here link"},
        {"bell\x07 back\x08 cr\r del\x7f", "bell back cr del"},
        {"c1 \xC2\x9B"
         "31m csi",
         "c1  csi"},
        {"bad \xff\xfe bytes", "bad \xEF\xBF\xBD\xEF\xBF\xBD bytes"},
        {"cut \x1b[", "cut "},
        {"caf\xC3\xA9 \xE2\x82\xAC", "caf\xC3\xA9 \xE2\x82\xAC"},
    };
    for (const auto& [in, out] : shown) EXPECT_EQ(printableText(in), out) << in;

    EXPECT_EQ(shortened("abc", 3), "abc");
    EXPECT_EQ(shortened("abcdef", 3), "abc... (6 bytes in all)");
    EXPECT_EQ(shortened("ab\xE2\x82\xAC", 3), "ab... (5 bytes in all)");  // never half a character
    EXPECT_EQ(lineAndColumn("ab\ncd\n", 0), "line 1, column 1");
    EXPECT_EQ(lineAndColumn("ab\ncd\n", 4), "line 2, column 2");
    EXPECT_EQ(lineAndColumn("ab", 99), "line 1, column 3");
}

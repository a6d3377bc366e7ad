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

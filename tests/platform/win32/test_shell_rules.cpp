#include <gtest/gtest.h>

#include "platform/win32/shell_rules.h"

namespace {

using nl::win32::Box;

bool inside(const Box& inner, const Box& outer) {
    return inner.x >= outer.x && inner.y >= outer.y && inner.x + inner.w <= outer.x + outer.w &&
           inner.y + inner.h <= outer.y + outer.h;
}

TEST(Win32Layout, MainWindowSplitsItsClientArea) {
    const auto l = nl::win32::mainLayout(1384, 841, 96);
    EXPECT_EQ(l.canvas, (Box{0, 32, 1384 - 380, 841 - 24 - 32}));
    EXPECT_EQ(l.tabs, (Box{1004, 32, 380, 785}));
    EXPECT_EQ(l.status.y, 817);
    EXPECT_EQ(l.status.h, 24);
    EXPECT_EQ(l.status.x + l.status.w, l.location.x);
    EXPECT_EQ(l.location.x + l.location.w, 1384);
    EXPECT_EQ(l.toolbar, (Box{0, 0, 1384, 32}));
}

TEST(Win32Layout, ScalesWithTheMonitorAndNeverGoesNegative) {
    const auto big = nl::win32::mainLayout(2000, 1200, 144);  // 150 %
    EXPECT_EQ(big.tabs.w, 570);
    EXPECT_EQ(big.status.h, 36);
    EXPECT_EQ(big.canvas.y, 48);
    for (const auto& l :
         {nl::win32::mainLayout(100, 30, 96), nl::win32::mainLayout(0, 0, 96), nl::win32::mainLayout(-5, -5, 192)}) {
        for (const Box& b : {l.toolbar, l.canvas, l.tabs, l.status, l.location}) {
            EXPECT_GE(b.w, 0);
            EXPECT_GE(b.h, 0);
            EXPECT_GE(b.x, 0);
            EXPECT_GE(b.y, 0);
        }
    }
    EXPECT_EQ(nl::win32::scaled(380, 120), 475);
    EXPECT_EQ(nl::win32::scaled(26, 120), 33);  // 32.5 rounds up
}

TEST(Win32Layout, ChatRowSitsBelowTheTranscriptInsideThePage) {
    const Box page{4, 26, 370, 700};
    const auto p = nl::win32::pageLayout(page, 96);
    EXPECT_EQ(p.inspector, page);
    EXPECT_EQ(p.erc, page);
    EXPECT_EQ(p.transcript, (Box{4, 26, 370, 662}));
    EXPECT_EQ(p.input, (Box{8, 696, 292, 26}));
    EXPECT_EQ(p.send, (Box{300, 696, 66, 26}));
    EXPECT_LE(p.input.x + p.input.w, p.send.x);
    EXPECT_GE(p.input.y, p.transcript.y + p.transcript.h);
    EXPECT_TRUE(inside(p.send, page));
    const auto tiny = nl::win32::pageLayout({0, 0, 10, 10}, 96);
    EXPECT_EQ(tiny.transcript.h, 0);
    EXPECT_EQ(tiny.input.w, 0);
}

TEST(Win32Text, LineEndsForEditControls) {
    const struct {
        const char* program;
        const char* edit;
    } cases[] = {
        {"", ""},
        {"a\nb\n", "a\r\nb\r\n"},
        {"\n\n", "\r\n\r\n"},
        {"kept\r\nas is", "kept\r\nas is"},
        {"lone\rcarriage", "lone\rcarriage"},
        {"\xe2\x9c\x85 No issues found.\n", "\xe2\x9c\x85 No issues found.\r\n"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(nl::win32::toCrlf(c.program), c.edit) << c.program;
        if (std::string(c.program).find('\r') == std::string::npos) {
            EXPECT_EQ(nl::win32::fromCrlf(c.edit), c.program) << c.program;
        }
    }
    EXPECT_EQ(nl::win32::fromCrlf("end\r"), "end\r");
    EXPECT_EQ(nl::win32::menuText("R&D/a&&b.sch"), "R&&D/a&&&&b.sch");
}

TEST(Win32DialogTemplate, HeaderWordsInTheOrderTheSystemReadsThem) {
    const uint32_t style = 0x80c800c0;  // popup, caption, system menu, modal frame, set font
    const auto t = nl::win32::dialogTemplate(style, 0, 0, 460, 480, "Settings", 9, "Segoe UI");
    ASSERT_EQ(t.size(), 2u + 2 + 1 + 4 + 1 + 1 + 9 + 1 + 9);
    EXPECT_EQ(t[0], 0x00c0);
    EXPECT_EQ(t[1], 0x80c8);
    EXPECT_EQ(t[2], 0);
    EXPECT_EQ(t[3], 0);
    EXPECT_EQ(t[4], 0);  // no items
    EXPECT_EQ(t[7], 460);
    EXPECT_EQ(t[8], 480);
    EXPECT_EQ(t[9], 0);   // menu
    EXPECT_EQ(t[10], 0);  // class
    EXPECT_EQ(std::u16string(t.begin() + 11, t.begin() + 19), u"Settings");
    EXPECT_EQ(t[19], 0);
    EXPECT_EQ(t[20], 9);
    EXPECT_EQ(std::u16string(t.begin() + 21, t.begin() + 29), u"Segoe UI");
    EXPECT_EQ(t.back(), 0);
    const auto negative = nl::win32::dialogTemplate(style, -10, 5, 1, 1, "", 9, "X");
    EXPECT_EQ(negative[5], 0xfff6);
    EXPECT_EQ(negative[11], 0);  // an empty title is one terminating word
}

}  // namespace

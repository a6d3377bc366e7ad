#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "fixtures/recording_painter.h"
#include "render/page_frame.h"

using namespace nl;
using nl::testing::RecordingPainter;

namespace {

const Theme& kPaper = themeByName("paper");

// Root, its child amp, and amp's child filter.
Schematic kicadDesign(const std::string& paper, Point user = {}) {
    Schematic s;
    s.format = "kicad";
    s.sheets.resize(3);
    s.sheets[0].name = "Root", s.sheets[0].paper = paper, s.sheets[0].paper_size = user;
    s.sheets[1].name = "amp", s.sheets[1].parent = 0;
    s.sheets[2].name = "filter", s.sheets[2].file = "f.kicad_sch", s.sheets[2].parent = 1;
    return s;
}

int count(const RecordingPainter& p, const std::string& text) {
    int n = 0;
    for (const auto& c : p.ofKind("text")) n += c.text == text;
    return n;
}

bool at(const RecordingPainter& p, const std::string& text, Point where) {
    const Point a = p.text(text).points.empty() ? Point{-1, -1} : p.text(text).points[0];
    return std::fabs(a.x - where.x) < 1e-9 && std::fabs(a.y - where.y) < 1e-9;
}

}  // namespace

TEST(PageFrame, PaperOfEachSheet) {
    struct Case {
        std::string paper;
        Point user;
        bool portrait;
        double w, h;
        std::string name;
    };
    const double nan = std::numeric_limits<double>::quiet_NaN();
    for (const Case& c : {Case{"A3", {}, true, 297, 420, "A3"}, Case{"a0", {}, false, 1189, 841, "A0"},
                          Case{"USLegal", {}, true, 215.9, 355.6, "USLegal"},
                          Case{"User", {120, 400}, false, 120, 400, "User"},  // upright as written
                          Case{"", {}, false, 297, 210, "A4"},                // KiCad's default
                          Case{"Tabloid", {}, false, 297, 210, "A4"}, Case{"User", {nan, 200}, false, 297, 210, "A4"},
                          Case{"User", {1e7, 200}, false, 297, 210, "A4"}}) {
        Schematic s = kicadDesign(c.paper, c.user);
        s.sheets[0].paper_portrait = c.portrait;
        const BBox b = sheetPageBox(s, 0);
        EXPECT_TRUE(b.min_x == 0 && b.min_y == 0 && std::fabs(b.max_x - c.w) < 1e-9 && std::fabs(b.max_y - c.h) < 1e-9)
            << c.paper << " " << b.max_x << " x " << b.max_y;
        EXPECT_EQ(titleBlockTexts(s, 0).paper, "Size: " + c.name);
    }
    // An Eagle sheet's page is its drawing's box; the export view follows the frame choice.
    Schematic e = kicadDesign("A4");
    e.format = "eagle";
    e.sheets[0].bbox = {10, 20, 110, 80};
    EXPECT_EQ(sheetPageBox(e, 0).max_y, sheetViewBox(e, 0).max_y);
    Schematic k = kicadDesign("A4");
    EXPECT_EQ(exportViewBox(k, 0, true).max_x, 297);
    EXPECT_EQ(exportViewBox(k, 0, false).max_x, sheetViewBox(k, 0).max_x);
}

TEST(PageFrame, TitleBlockTexts) {
    Schematic s = kicadDesign("A4");
    s.title = "Amp", s.date = "2024-05-01", s.rev = "B", s.company = "Acme";
    s.comment = "first | second | third | fourth | fifth";
    const TitleBlockTexts t = titleBlockTexts(s, 2);
    EXPECT_EQ(t.title + t.date + t.revision + t.company, "Title: AmpDate: 2024-05-01Rev: BAcme");
    EXPECT_EQ(t.file + t.sheet_path + t.sheet_number, "File: f.kicad_schSheet: /amp/filter/Sheet 3/3");
    EXPECT_EQ(t.comments, (std::vector<std::string>{"first", "second", "third", "fourth"}));  // room for four
    s.comment.clear();
    EXPECT_TRUE(titleBlockTexts(s, 0).comments.empty());
}

TEST(PageFrame, BordersZonesAndTitleBlock) {
    Schematic s = kicadDesign("A4");
    s.title = "Amp";
    RecordingPainter p;
    drawPageFrame(p, kPaper, s, 1, sheetPageBox(s, 1));
    const auto rects = p.ofKind("rect");
    ASSERT_EQ(rects.size(), 3u);  // outer and inner border, 2 mm apart, and the title block flush with the inner
    for (auto [i, a, b] :
         {std::tuple{0, Point{10, 10}, Point{287, 200}}, {1, {12, 12}, {285, 198}}, {2, {177, 166}, {285, 198}}}) {
        EXPECT_TRUE(rects[i].points[0].x == a.x && rects[i].points[0].y == a.y && rects[i].points[1].x == b.x &&
                    rects[i].points[1].y == b.y)
            << i;
        EXPECT_FALSE(rects[i].has_brush);
    }
    // KiCad's A4 sheet: columns 1 to 6 top and bottom, rows A to D on both sides, centred between the borders.
    for (const char* label : {"1", "6", "A", "D"}) EXPECT_EQ(count(p, label), 2) << label;
    for (const char* label : {"7", "E"}) EXPECT_EQ(count(p, label), 0) << label;
    EXPECT_TRUE(at(p, "1", {35, 11}) && at(p, "A", {11, 35}));
    // The block's texts, placed from its lower right corner and left-aligned.
    EXPECT_TRUE(at(p, "Title: Amp", {287 - 109, 200 - 10.7}) && p.text("Title: Amp").bold);
    EXPECT_TRUE(at(p, "Sheet: /amp/", {287 - 109, 200 - 17}) && at(p, "Sheet 2/3", {287 - 24, 200 - 4.1}));
    EXPECT_EQ(p.text("Sheet 2/3").h, -1);
}

TEST(PageFrame, ZoneCountsFollowThePaper) {
    struct Case {
        std::string paper;
        Point user;
        int columns;
        const char* last_row;
        int lines;  // marks between zones on the four sides, and the six of the title block
    };
    for (const Case& c : {Case{"A3", {}, 8, "F", 2 * 7 + 2 * 5 + 6}, Case{"A0", {}, 23, "P", 2 * 23 + 2 * 16 + 6},
                          Case{"User", {3000, 1500}, 60, "AD", 2 * 59 + 2 * 29 + 6}}) {
        Schematic s = kicadDesign(c.paper, c.user);
        RecordingPainter p;
        drawPageFrame(p, kPaper, s, 0, sheetPageBox(s, 0));
        EXPECT_EQ(count(p, std::to_string(c.columns)), 2) << c.paper;
        EXPECT_EQ(count(p, std::to_string(c.columns + 1)), 0) << c.paper;
        EXPECT_EQ(count(p, c.last_row), 2) << c.paper;
        EXPECT_EQ(p.count("line"), c.lines) << c.paper;
    }
}

TEST(PageFrame, OnlyKicadSheetsAndOnlyWhenAsked) {
    Schematic eagle = kicadDesign("A4");
    eagle.format = "eagle";
    RecordingPainter onEagle, onTiny;
    drawPageFrame(onEagle, kPaper, eagle, 0, sheetPageBox(eagle, 0));
    EXPECT_TRUE(onEagle.calls.empty());
    Schematic tiny = kicadDesign("User", {25, 25});  // no room inside the margins
    drawPageFrame(onTiny, kPaper, tiny, 0, sheetPageBox(tiny, 0));
    EXPECT_TRUE(onTiny.calls.empty());

    Settings settings;
    RenderContext ctx{&settings, &kPaper};
    Schematic s = kicadDesign("A4");
    RecordingPainter plain, framed;
    renderPage(ctx, plain, s, 0, sheetPageBox(s, 0), nullptr, false);
    renderPage(ctx, framed, s, 0, sheetPageBox(s, 0), nullptr, true);
    EXPECT_TRUE(count(plain, "Sheet 1/3") == 0 && count(framed, "Sheet 1/3") == 1);
    EXPECT_EQ(framed.calls.front().op, plain.calls.front().op);  // the sheet first, the frame over it
}

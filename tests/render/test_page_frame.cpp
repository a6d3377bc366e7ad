#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "fixtures/recording_painter.h"
#include "render/page_frame.h"
#include "render/theme.h"

using namespace nl;
using nl::testing::PaintCall;
using nl::testing::RecordingPainter;

namespace {

const Theme& kPaper = themeByName("paper");

Schematic kicadDesign(const std::string& paper) {
    Schematic s;
    s.format = "kicad";
    s.sheets.resize(3);
    s.sheets[0].name = "Root", s.sheets[0].file = "top.kicad_sch", s.sheets[0].paper = paper;
    s.sheets[1].name = "amp", s.sheets[1].file = "amp.kicad_sch", s.sheets[1].parent = 0;
    s.sheets[2].name = "filter", s.sheets[2].file = "f.kicad_sch", s.sheets[2].parent = 1;
    return s;
}

std::vector<std::string> texts(const RecordingPainter& p) {
    std::vector<std::string> out;
    for (const PaintCall& c : p.ofKind("text")) out.push_back(c.text);
    return out;
}

bool near(Point a, Point b) { return std::fabs(a.x - b.x) < 1e-9 && std::fabs(a.y - b.y) < 1e-9; }

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
    const Case cases[] = {
        {"A4", {}, false, 297, 210, "A4"},
        {"A3", {}, true, 297, 420, "A3"},
        {"a0", {}, false, 1189, 841, "A0"},  // names in any case
        {"E", {}, false, 1117.6, 863.6, "E"},
        {"USLetter", {}, false, 279.4, 215.9, "USLetter"},
        {"USLegal", {}, true, 215.9, 355.6, "USLegal"},
        {"USLedger", {}, false, 431.8, 279.4, "USLedger"},
        {"User", {500, 320}, false, 500, 320, "User"},
        {"User", {120, 400}, false, 120, 400, "User"},  // a user size is upright as written
        {"", {}, false, 297, 210, "A4"},                // no paper: KiCad's default
        {"Tabloid", {}, false, 297, 210, "A4"},         // unknown
        {"User", {0, 0}, false, 297, 210, "A4"},        // a user size without numbers
        {"User", {nan, 200}, false, 297, 210, "A4"},
        {"User", {1e7, 200}, false, 297, 210, "A4"},
    };
    for (const Case& c : cases) {
        Schematic s = kicadDesign(c.paper);
        s.sheets[0].paper_size = c.user;
        s.sheets[0].paper_portrait = c.portrait;
        const BBox b = sheetPageBox(s, 0);
        EXPECT_TRUE(b.min_x == 0 && b.min_y == 0) << c.paper;
        EXPECT_NEAR(b.max_x, c.w, 1e-9) << c.paper;
        EXPECT_NEAR(b.max_y, c.h, 1e-9) << c.paper;
        EXPECT_EQ(sheetPaperName(s, 0), c.name) << c.paper;
        EXPECT_EQ(titleBlockTexts(s, 0).paper, "Size: " + c.name);
    }
    // Eagle sheets are their drawing's box, and the export view follows the frame choice.
    Schematic e = kicadDesign("A4");
    e.format = "eagle";
    e.sheets[0].bbox = {10, 20, 110, 80};
    const BBox view = sheetViewBox(e, 0), page = sheetPageBox(e, 0);
    EXPECT_TRUE(page.min_x == view.min_x && page.max_y == view.max_y);
    EXPECT_FALSE(sheetTakesPageFrame(e, 0));
    Schematic k = kicadDesign("A4");
    k.sheets[0].bbox = {10, 20, 110, 80};
    EXPECT_EQ(exportViewBox(k, 0, true).max_x, 297);
    EXPECT_EQ(exportViewBox(k, 0, false).max_x, sheetViewBox(k, 0).max_x);
}

TEST(PageFrame, TitleBlockTextsFromDesignAndSheet) {
    Schematic s = kicadDesign("A4");
    s.title = "Amplifier", s.date = "2024-05-01", s.rev = "B", s.company = "Acme";
    s.comment = "first | second | third | fourth | fifth";
    TitleBlockTexts t = titleBlockTexts(s, 2);
    EXPECT_EQ(t.title, "Title: Amplifier");
    EXPECT_EQ(t.date, "Date: 2024-05-01");
    EXPECT_EQ(t.revision, "Rev: B");
    EXPECT_EQ(t.company, "Acme");
    EXPECT_EQ(t.file, "File: f.kicad_sch");
    EXPECT_EQ(t.sheet_path, "Sheet: /amp/filter/");
    EXPECT_EQ(t.sheet_number, "Sheet 3/3");
    EXPECT_EQ(t.comments, (std::vector<std::string>{"first", "second", "third", "fourth"}));
    s.comment = "only";
    EXPECT_EQ(titleBlockTexts(s, 0).comments, std::vector<std::string>{"only"});
    s.comment.clear();
    EXPECT_TRUE(titleBlockTexts(s, 0).comments.empty());
}

TEST(PageFrame, BordersZonesAndTitleBlockOnA4) {
    Schematic s = kicadDesign("A4");
    s.title = "Amplifier";
    RecordingPainter p;
    drawPageFrame(p, kPaper, s, 1, sheetPageBox(s, 1));
    const auto rects = p.ofKind("rect");
    ASSERT_EQ(rects.size(), 3u);
    EXPECT_TRUE(near(rects[0].points[0], {10, 10}) && near(rects[0].points[1], {287, 200}));
    EXPECT_TRUE(near(rects[1].points[0], {12, 12}) && near(rects[1].points[1], {285, 198}));
    // The title block's corners: 110 x 34 from the outer border's corner, flush with the inner one.
    EXPECT_TRUE(near(rects[2].points[0], {177, 166}) && near(rects[2].points[1], {285, 198}));
    for (const PaintCall& r : rects) EXPECT_FALSE(r.has_brush || r.dashed);

    // KiCad's A4 sheet: columns 1 to 6 along top and bottom, rows A to D down both sides.
    const std::vector<std::string> all = texts(p);
    for (const char* label : {"1", "2", "3", "4", "5", "6", "A", "B", "C", "D"})
        EXPECT_EQ(std::count(all.begin(), all.end(), label), 2) << label;
    for (const char* absent : {"7", "E"}) EXPECT_EQ(std::count(all.begin(), all.end(), absent), 0) << absent;
    EXPECT_TRUE(near(p.text("1").points[0], {35, 11}));  // centred in the first zone, between the borders
    EXPECT_TRUE(near(p.text("A").points[0], {11, 35}));
    EXPECT_EQ(p.text("1").h, 0);

    // Each text left-aligned at its place in the block, measured from the lower right corner.
    struct Placed {
        const char* text;
        Point at;
        bool bold;
    };
    for (const Placed& t :
         {Placed{"Title: Amplifier", {287 - 109, 200 - 10.7}, true},
          Placed{"Sheet: /amp/", {287 - 109, 200 - 17}, false}, Placed{"Sheet 2/3", {287 - 24, 200 - 4.1}, false},
          Placed{"Netloom Studio", {287 - 109, 200 - 4.1}, false}}) {
        const PaintCall c = p.text(t.text);
        ASSERT_EQ(c.op, "text") << t.text;
        EXPECT_TRUE(near(c.points[0], t.at)) << t.text;
        EXPECT_TRUE(c.h == -1 && c.v == 0 && c.angle == 0 && c.bold == t.bold) << t.text;
        EXPECT_EQ(c.color.r, kPaper.free_text.r);
    }
    EXPECT_GT(p.text("Title: Amplifier").size, p.text("Sheet: /amp/").size);
}

TEST(PageFrame, ZoneCountsFollowThePaper) {
    struct Case {
        std::string paper;
        Point user;
        int columns;
        const char* last_row;
        int lines;  // marks between zones on all four sides, and the six of the title block
    };
    for (const Case& c : {Case{"A3", {}, 8, "F", 2 * 7 + 2 * 5 + 6}, Case{"A0", {}, 23, "P", 2 * 23 + 2 * 16 + 6},
                          Case{"User", {3000, 1500}, 60, "AD", 2 * 59 + 2 * 29 + 6}}) {
        Schematic s = kicadDesign(c.paper);
        s.sheets[0].paper_size = c.user;
        RecordingPainter p;
        drawPageFrame(p, kPaper, s, 0, sheetPageBox(s, 0));
        const std::vector<std::string> all = texts(p);
        EXPECT_EQ(std::count(all.begin(), all.end(), std::to_string(c.columns)), 2) << c.paper;
        EXPECT_EQ(std::count(all.begin(), all.end(), std::to_string(c.columns + 1)), 0) << c.paper;
        EXPECT_EQ(std::count(all.begin(), all.end(), c.last_row), 2) << c.paper;
        EXPECT_EQ(p.count("line"), c.lines) << c.paper;
    }
}

TEST(PageFrame, NoFrameWhereItDoesNotBelong) {
    Schematic eagle = kicadDesign("A4");
    eagle.format = "eagle";
    RecordingPainter onEagle;
    drawPageFrame(onEagle, kPaper, eagle, 0, sheetPageBox(eagle, 0));
    EXPECT_TRUE(onEagle.calls.empty());

    Schematic tiny = kicadDesign("User");
    tiny.sheets[0].paper_size = {25, 25};  // no room inside the margins
    RecordingPainter onTiny;
    drawPageFrame(onTiny, kPaper, tiny, 0, sheetPageBox(tiny, 0));
    EXPECT_TRUE(onTiny.calls.empty());

    // renderPage adds the frame only when asked, after the sheet itself.
    Settings settings;
    RenderContext ctx{&settings, &kPaper};
    Schematic s = kicadDesign("A4");
    RecordingPainter plain, framed;
    renderPage(ctx, plain, s, 0, sheetPageBox(s, 0), nullptr, false);
    renderPage(ctx, framed, s, 0, sheetPageBox(s, 0), nullptr, true);
    EXPECT_EQ(plain.text("Sheet 1/3").op, "");
    EXPECT_EQ(framed.text("Sheet 1/3").op, "text");
    EXPECT_EQ(framed.calls.front().op, plain.calls.front().op);  // the background comes first either way
}

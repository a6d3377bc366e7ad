#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <random>
#include <sstream>

#include "fixtures/recording_painter.h"
#include "open/schematic_open.h"
#include "render/render.h"
#include "render/scene_index.h"
#include "render/theme.h"

using namespace nl;
using nl::testing::PaintCall;
using nl::testing::RecordingPainter;

namespace {

// Designs of every kind at hand: the demo, an Eagle file and, when installed, KiCad's `video`.
std::vector<std::shared_ptr<Schematic>> designs() {
    std::vector<std::shared_ptr<Schematic>> out{loadSampleSchematic()};
    std::string error;
    for (const char* path :
         {NETLOOM_SOURCE_DIR "/tests/fixtures/eagle/two_sheets.sch", "/usr/share/kicad/demos/video/video.kicad_sch"})
        if (std::filesystem::exists(path))
            if (auto s = openSchematicFile(path, &error)) out.push_back(s);
    return out;
}

std::string points(const PaintCall& c) {
    std::ostringstream o;
    o.precision(9);
    for (Point p : c.points) o << " (" << p.x << "," << p.y << ")";
    return o.str();
}

std::string describe(const PaintCall& c) {
    std::ostringstream o;
    o.precision(9);
    // Only the state that shapes this call: a pen or brush that is off, or one a call does not
    // use (texts have their own colour, lines no fill), may differ with what was drawn before.
    o << c.op << " " << c.text << " " << c.radius << " " << c.size << " " << c.angle << " " << c.h << c.v << c.closed
      << c.bold << " dash" << c.dashed << " col" << c.color.b << "," << c.color.a;
    if (c.op == "text") return o.str() + points(c);
    if (c.has_pen) o << " pen" << c.pen.r << "," << c.pen.g << "," << c.pen.a << "," << c.pen_width;
    if (c.has_brush && c.op != "line") o << " brush" << c.brush.r << "," << c.brush.g << "," << c.brush.a;
    return o.str() + points(c);
}

std::vector<std::string> drawn(const Schematic& s, int sheet, const BBox& view, const SceneIndex* index,
                               const Settings& settings = {}) {
    RecordingPainter p;
    RenderContext ctx{&settings, &themeByName(settings.theme), index};
    Highlight h;
    h.nets = {0};
    renderSheet(ctx, p, s, sheet, view, &h);
    std::vector<std::string> out;
    for (const PaintCall& c : p.calls)
        if (c.op == "line" || c.op == "polyline" || c.op == "circle" || c.op == "rect" || c.op == "text")
            out.push_back(describe(c));
    return out;
}

// Whether a drawing call reaches into the rectangle: a point of it lies inside, or, for a text,
// its anchor lies within the text's length of it (monospace glyphs are about 0.6 em wide).
bool touches(const std::string& call, const BBox& b) {
    std::istringstream in(call.substr(call.find(" (") == std::string::npos ? call.size() : call.find(" (")));
    double reach = 0;
    if (call.rfind("text ", 0) == 0) {
        std::istringstream fields(call.substr(5));
        std::string text;
        double radius = 0, size = 0;
        fields >> text >> radius >> size;
        reach = 0.55 * size * static_cast<double>(text.size());
    }
    char open, comma, close;
    double x, y;
    while (in >> open >> x >> comma >> y >> close)
        if (x >= b.min_x - reach && x <= b.max_x + reach && y >= b.min_y - reach && y <= b.max_y + reach) return true;
    return false;
}

}  // namespace

TEST(SceneIndex, AWholeSheetDrawsExactlyWhatAFullPassDraws) {
    for (const auto& s : designs()) {
        const SceneIndex index(*s, Settings{});
        for (int sheet = 0; sheet < static_cast<int>(s->sheets.size()); ++sheet) {
            SCOPED_TRACE(s->path + " sheet " + std::to_string(sheet));
            const BBox view = sheetViewBox(*s, sheet);
            EXPECT_EQ(drawn(*s, sheet, view, &index), drawn(*s, sheet, view, nullptr));
        }
    }
}

TEST(SceneIndex, AZoomedViewLeavesOutNothingThatShows) {
    std::mt19937 random(7);
    for (const auto& s : designs()) {
        const SceneIndex index(*s, Settings{});
        for (int sheet = 0; sheet < static_cast<int>(s->sheets.size()); ++sheet) {
            const BBox box = sheetViewBox(*s, sheet);
            for (int k = 0; k < 5; ++k) {
                std::uniform_real_distribution<double> fx(box.min_x, box.max_x), fy(box.min_y, box.max_y);
                const double x = fx(random), y = fy(random), w = (box.max_x - box.min_x) / (2 + 3 * k);
                const BBox view{x, y, x + w, y + w * 0.6};
                std::vector<std::string> full = drawn(*s, sheet, view, nullptr);
                std::vector<std::string> fast = drawn(*s, sheet, view, &index);
                // The background comes first in both; then the fast pass is a sub-sequence of the full one.
                size_t at = 0;
                for (const std::string& c : fast) {
                    while (at < full.size() && full[at] != c) ++at;
                    ASSERT_LT(at, full.size())
                        << "drawn only with the index: " << c << " in " << s->path << " sheet " << sheet << " view "
                        << view.min_x << "," << view.min_y << " " << view.max_x << "," << view.max_y;
                    ++at;
                }
                std::sort(fast.begin(), fast.end());
                for (const std::string& c : full) {
                    const bool kept = std::binary_search(fast.begin(), fast.end(), c);
                    EXPECT_TRUE(kept || !touches(c, view)) << "left out: " << c;
                }
            }
        }
    }
}

TEST(SceneIndex, HitTestsAnswerAsTheFullPass) {
    for (const auto& s : designs()) {
        const SceneIndex index(*s, Settings{});
        for (int sheet = 0; sheet < static_cast<int>(s->sheets.size()); ++sheet) {
            // A grid over the sheet, and points just off every pin, wire and label of it.
            const BBox box = sheetViewBox(*s, sheet);
            std::vector<Point> points;
            for (int i = 0; i <= 30; ++i)
                for (int j = 0; j <= 30; ++j)
                    points.push_back(
                        {box.min_x + (box.max_x - box.min_x) * i / 30, box.min_y + (box.max_y - box.min_y) * j / 30});
            for (const Component& c : s->components)
                for (const Pin& p : c.pins)
                    if (c.sheet == sheet) points.push_back({p.position.x + 0.3, p.position.y - 0.2});
            for (const Wire& w : s->wires)
                if (w.sheet == sheet) points.push_back({(w.a.x + w.b.x) / 2 + 0.1, (w.a.y + w.b.y) / 2 + 0.5});
            for (const Label& l : s->labels)
                if (l.sheet == sheet) points.push_back({l.position.x - 0.8, l.position.y});
            for (double tolerance : {0.4, 3.0})
                for (Point p : points) {
                    const HitInfo a = hitTest(*s, sheet, p, tolerance),
                                  b = hitTest(*s, sheet, p, tolerance, 1.0, &index);
                    ASSERT_TRUE(a.kind == b.kind && a.index == b.index && a.sub == b.sub)
                        << s->path << " sheet " << sheet << " at " << p.x << "," << p.y << ": " << a.kind << a.index
                        << " vs " << b.kind << b.index;
                }
        }
    }
}

TEST(SceneIndex, DamagedCoordinatesAndLargerTextStillDraw) {
    Schematic s;
    s.sheets.resize(2);
    Wire far;
    far.a = {0, 0}, far.b = {1e30, 0}, far.net = 0;
    Wire lost;
    lost.a = {NAN, 5}, lost.b = {10, 5};
    Label label;
    label.text = "A_VERY_LONG_LABEL_TEXT", label.position = {100, 100};
    s.wires = {far, lost};
    s.labels = {label};
    Wire elsewhere = far;
    elsewhere.sheet = 9;  // no such sheet
    s.wires.push_back(elsewhere);
    computeSheetExtents(s);
    const SceneIndex index(s, Settings{});

    // Far and broken coordinates are kept for every view; the label far away is not drawn here.
    const BBox nearOrigin{-1, -1, 12, 6};
    const std::vector<std::string> full = drawn(s, 0, nearOrigin, nullptr);
    ASSERT_EQ(full.size(), 5u);  // background, halo and wire, the broken wire, the label
    EXPECT_EQ(drawn(s, 0, nearOrigin, &index), std::vector<std::string>(full.begin(), full.begin() + 4));
    EXPECT_EQ(hitTest(s, 0, {50, 0}, 1, 1.0, &index).kind, "wire");
    EXPECT_EQ(hitTest(s, 0, {NAN, 0}, 1, 1.0, &index).kind, "none");

    // Text four times larger than the index allowed for reaches further than its estimate:
    // the paint then does without the index.
    Settings big;
    big.font_scale = 4;
    EXPECT_EQ(drawn(s, 0, nearOrigin, &index, big).size(), 5u);
    EXPECT_FALSE(index.covers(big));
}

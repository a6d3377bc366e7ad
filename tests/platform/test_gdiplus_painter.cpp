#include <gtest/gtest.h>

#ifdef _WIN32

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "open/schematic_open.h"
#include "platform/win32/gdiplus_painter.h"

using namespace nl;

namespace {

// GDI+ runs for the whole test program, as it does for the window.
class GdiplusRunning : public ::testing::Environment {
public:
    void SetUp() override { session_ = std::make_unique<GdiplusSession>(); }
    void TearDown() override { session_.reset(); }

private:
    std::unique_ptr<GdiplusSession> session_;
};
const ::testing::Environment* const kGdiplus = ::testing::AddGlobalTestEnvironment(new GdiplusRunning);

// The pixels of a bitmap as 0xRRGGBB, row by row.
struct Pixels {
    int w = 0, h = 0;
    std::vector<uint32_t> rgb;
    explicit Pixels(Gdiplus::Bitmap& b) : w(static_cast<int>(b.GetWidth())), h(static_cast<int>(b.GetHeight())) {
        const Gdiplus::Rect all(0, 0, w, h);
        Gdiplus::BitmapData data;
        if (b.LockBits(&all, Gdiplus::ImageLockModeRead, PixelFormat32bppARGB, &data) != Gdiplus::Ok) return;
        rgb.resize(static_cast<size_t>(w) * h);
        for (int y = 0; y < h; ++y) {
            const auto* row = reinterpret_cast<const uint32_t*>(static_cast<const unsigned char*>(data.Scan0) +
                                                                static_cast<ptrdiff_t>(y) * data.Stride);
            for (int x = 0; x < w; ++x) rgb[static_cast<size_t>(y) * w + x] = row[x] & 0xffffff;
        }
        b.UnlockBits(&data);
    }
    uint32_t at(int x, int y) const { return rgb[static_cast<size_t>(y) * w + x]; }
    // The bounding box of every pixel that is not white; invalid when none.
    BBox ink() const {
        BBox box;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                if (at(x, y) != 0xffffff) box.add({double(x), double(y)});
        return box;
    }
    int inkInRow(int y) const {
        int n = 0;
        for (int x = 0; x < w; ++x) n += at(x, y) != 0xffffff;
        return n;
    }
};

// A white bitmap of w x h pixels, drawn on at `zoom` pixels per millimetre
// with the settings the canvas and the exports use.
struct Canvas {
    Gdiplus::Bitmap bitmap;
    Gdiplus::Graphics graphics;
    Canvas(int w, int h, double zoom) : bitmap(w, h, PixelFormat32bppARGB), graphics(&bitmap) {
        graphics.Clear(Gdiplus::Color(255, 255, 255, 255));
        graphics.SetSmoothingMode(Gdiplus::SmoothingModeAntiAlias);
        graphics.SetPixelOffsetMode(Gdiplus::PixelOffsetModeHalf);
        graphics.SetTextRenderingHint(Gdiplus::TextRenderingHintAntiAlias);
        graphics.ScaleTransform(static_cast<float>(zoom), static_cast<float>(zoom));
    }
    Pixels pixels() {
        graphics.Flush(Gdiplus::FlushIntentionSync);
        return Pixels(bitmap);
    }
};

const Color kBlack{0, 0, 0, 1};

std::string sourceDir() { return NETLOOM_SOURCE_DIR; }

std::wstring wide(const std::string& s) { return std::wstring(s.begin(), s.end()); }

bool similar(uint32_t a, uint32_t b, int tolerance) {
    for (int shift : {0, 8, 16})
        if (std::abs(int((a >> shift) & 0xff) - int((b >> shift) & 0xff)) > tolerance) return false;
    return true;
}

// The pixels of a that have no pixel of nearly their colour within `radius`
// in b, as a fraction: forgives edges moved by a pixel or two and strokes a
// little wider, not an item missing, added or coloured otherwise.
double unmatchedFraction(const Pixels& a, const Pixels& b, int radius = 2) {
    if (a.w != b.w || a.h != b.h) return 1;
    long unmatched = 0;
    for (int y = 0; y < a.h; ++y)
        for (int x = 0; x < a.w; ++x) {
            const uint32_t c = a.at(x, y);
            bool found = false;
            for (int dy = -radius; dy <= radius && !found; ++dy)
                for (int dx = -radius; dx <= radius && !found; ++dx) {
                    const int u = x + dx, v = y + dy;
                    found = u >= 0 && v >= 0 && u < b.w && v < b.h && similar(c, b.at(u, v), 48);
                }
            unmatched += !found;
        }
    return double(unmatched) / (double(a.w) * a.h);
}

// Both ways: what a has that b lacks, and what b has that a lacks.
double sceneDifference(const Pixels& a, const Pixels& b) {
    return std::max(unmatchedFraction(a, b), unmatchedFraction(b, a));
}

}  // namespace

TEST(GdiplusPainter, MinimumSizesRectangleCornersAndColours) {
    // A hair-thin pen draws as 0.02 mm and a circle of radius 0 as 0.01 mm: at
    // 100 px/mm both are visible, and the same as drawn at the minimum.
    auto draw = [](double width, double radius) {
        Canvas c(100, 100, 100);
        GdiplusPainter p(c.graphics);
        p.setPen(kBlack, width);
        p.drawLine({0.1, 0.3}, {0.9, 0.3});
        p.setBrush(kBlack);
        p.noPen();
        p.drawCircle({0.5, 0.7}, radius);
        EXPECT_EQ(p.lastStatus(), Gdiplus::Ok);
        return c.pixels();
    };
    const Pixels tiny = draw(0.001, 0), least = draw(0.02, 0.01), wider = draw(0.04, 0.02);
    EXPECT_EQ(tiny.rgb, least.rgb);
    EXPECT_NE(tiny.rgb, wider.rgb);
    EXPECT_NE(tiny.inkInRow(30), 0);
    EXPECT_EQ(tiny.inkInRow(34), 0);
    EXPECT_NE(tiny.inkInRow(70), 0);
    EXPECT_LE(tiny.inkInRow(70), 4);

    Canvas a(60, 60, 10), b(60, 60, 10);
    GdiplusPainter pa(a.graphics), pb(b.graphics);
    for (GdiplusPainter* p : {&pa, &pb}) p->setPen(kBlack, 0.2), p->setBrush({1, 0, 0, 1});
    pa.drawRect({1, 1}, {4, 5});
    pb.drawRect({4, 5}, {1, 1});
    const Pixels ia = a.pixels(), ib = b.pixels();

    EXPECT_EQ(ia.rgb, ib.rgb);  // corners in either order
    EXPECT_NEAR(ia.ink().min_x, 9, 1);
    EXPECT_NEAR(ia.ink().max_y, 51, 1);
    EXPECT_EQ(ia.at(25, 30), 0xff0000u);  // filled inside

    // Components are rounded from 255 x, out-of-range values clamped.
    EXPECT_EQ(toArgb({1, 0.5, 0, 1}), 0xffff8000u);
    EXPECT_EQ(toArgb({0.2, 0.4, 0.6, 0.3}), 0x4d336699u);
    EXPECT_EQ(toArgb({2, -1, NAN, 1}), 0xffff0000u);
}

TEST(GdiplusPainter, TextAlignmentAndRotation) {
    auto draw = [](int h, int v, double angle) {
        Canvas c(400, 400, 10);
        {
            GdiplusPainter p(c.graphics);
            p.drawText("WIDE", {20, 20}, 3, angle, h, v, false, kBlack);
            EXPECT_EQ(p.lastStatus(), Gdiplus::Ok);
        }
        return c.pixels().ink();
    };
    // End-aligned and hanging below: ends left of the anchor's x (by GDI+'s
    // padding), starts below its y; four advances of 0.6 x 3 mm.
    const BBox endBelow = draw(1, 1, 0), startAbove = draw(-1, -1, 0), centred = draw(0, 0, 0), up = draw(-1, 1, 90);
    EXPECT_TRUE(endBelow.max_x <= 201 && endBelow.max_x > 185 && endBelow.min_y >= 199) << endBelow.max_x;
    EXPECT_NEAR(endBelow.max_x - endBelow.min_x, 72, 10);
    EXPECT_TRUE(startAbove.min_x >= 199 && startAbove.max_y <= 201);
    EXPECT_NEAR((centred.min_x + centred.max_x) / 2, 200, 4);
    EXPECT_NEAR((centred.min_y + centred.max_y) / 2, 200, 6);
    // At 90 degrees the text runs upwards; "below" becomes to the right.
    EXPECT_TRUE(up.max_y <= 201 && up.min_x >= 199 && up.max_x - up.min_x < up.max_y - up.min_y);
    EXPECT_NEAR(up.max_y - up.min_y, 72, 10);
    // Empty text draws nothing; bad UTF-8 does not stop later drawing.
    Canvas c(100, 100, 10);
    GdiplusPainter p(c.graphics);
    p.drawText("", {5, 5}, 3, 0, 0, 0, false, kBlack);
    EXPECT_FALSE(c.pixels().ink().valid());
    p.drawText("\xff\xc3(\xed\xa0\x80", {1, 1}, 1, 0, -1, 1, true, kBlack);
    p.drawText("Ω µF", {1, 3}, 1, 0, -1, 1, false, kBlack);
    p.setBrush(kBlack);
    p.noPen();
    p.drawRect({5, 5}, {9, 9});
    EXPECT_EQ(p.lastStatus(), Gdiplus::Ok);
    EXPECT_EQ(c.pixels().at(70, 70), 0u);
    EXPECT_NE(c.pixels().inkInRow(35), 0);
}

TEST(GdiplusPainter, ScriptsSmallerAndOffTheBaselineOverbarsAbove) {
    auto inkOf = [](std::initializer_list<TextRun> runs) {
        Canvas c(600, 200, 10);
        {
            GdiplusPainter p(c.graphics);
            p.drawTextLine(std::vector<TextRun>(runs), {5, 10}, 5, 0, -1, 0, false, kBlack);
        }
        return c.pixels().ink();
    };
    const BBox plain = inkOf({{"HH"}}), line = inkOf({{"HH"}, {"HH"}});
    const BBox sub = inkOf({{"HH"}, {"HH", -1}}), sup = inkOf({{"HH"}, {"HH", 1}}), bar = inkOf({{"HH", 0, true}});
    // Runs of one line join as one text would; the text of several runs starts where a single run does.
    EXPECT_NEAR(line.max_x - plain.min_x, 2 * (plain.max_x - plain.min_x) + 0.2 * 50, 5);
    EXPECT_NEAR(line.min_x, plain.min_x, 1.5);
    EXPECT_NEAR(line.min_y, plain.min_y, 1.5);
    // Scripts are 0.8 as wide and hang 0.4 mm (4 px) below or rise 1 mm above the line's capitals.
    EXPECT_NEAR(sub.max_x - plain.max_x, 0.8 * (line.max_x - plain.max_x), 3);
    EXPECT_NEAR(sub.max_y - plain.max_y, 4, 1.5);
    EXPECT_NEAR(sup.min_y - plain.min_y, -10.5 + 0.2 * 36, 2.5);
    EXPECT_NEAR(sub.min_y, plain.min_y, 1);
    // The overbar spans the run's advance above its capitals.
    EXPECT_LT(bar.min_y, plain.min_y - 4);
    EXPECT_TRUE(bar.min_x <= plain.min_x && bar.max_x >= plain.max_x);
    EXPECT_NEAR(bar.max_y, plain.max_y, 1);
    // End alignment takes the whole line, scripts included (less GDI+'s padding).
    Canvas c(600, 200, 10);
    {
        GdiplusPainter p(c.graphics);
        const TextRun runs[] = {{"V"}, {"BAT", -1}};
        p.drawTextLine(runs, {50, 10}, 5, 0, 1, 0, false, kBlack);
    }
    EXPECT_NEAR(c.pixels().ink().max_x, 500 - 0.167 * 50, 6);
}

TEST(GdiplusPainter, ClipStackDashesAndOpenFills) {
    Canvas c(100, 100, 10);
    {
        GdiplusPainter p(c.graphics);
        p.popClip();  // empty stack: nothing happens
        p.pushClip(0, 0, 5, 5);
        p.pushClip(2, 2, 10, 10);  // replaces, does not intersect
        p.setBrush(kBlack);
        p.noPen();
        p.drawRect({0, 0}, {10, 10});
        p.popClip();
        p.setBrush({1, 0, 0, 1});
        p.drawRect({0, 0}, {10, 10});
        // Left on the stack: the painter's destructor restores the graphics.
    }
    Pixels px = c.pixels();
    EXPECT_EQ(px.at(70, 70), 0u);         // second clip
    EXPECT_EQ(px.at(10, 10), 0xff0000u);  // first clip only
    EXPECT_EQ(px.at(10, 80), 0xffffffu);  // outside both
    Gdiplus::SolidBrush blue(Gdiplus::Color(255, 0, 0, 255));
    c.graphics.FillRectangle(&blue, 0, 0, 10, 10);
    EXPECT_EQ(c.pixels().at(10, 80), 0x0000ffu);  // the caller's clip and scale are back

    Canvas d(200, 40, 10);
    {
        GdiplusPainter p(d.graphics);
        p.setPen(kBlack, 0.5);
        p.setDashed(true);
        p.drawLine({1, 1}, {19, 1});
        p.setDashed(false);
        p.drawLine({1, 3}, {19, 3});
        p.noPen();
        p.setBrush(kBlack);
        p.drawPolyline({{2, 2.5}, {8, 2.5}, {8, 3.8}}, false);  // filled though open
        p.setPen({1, 0, 0, 1}, 0.2);
        p.noBrush();
        p.drawPolyline({{12, 0.5}, {18, 0.5}, {18, 3.5}}, false);  // open: no closing side
    }
    px = d.pixels();
    const int dashed = px.inkInRow(10);
    EXPECT_TRUE(dashed > 100 && dashed < 170) << dashed;  // gaps
    EXPECT_GE(px.inkInRow(30), 180);
    EXPECT_NE(px.at(70, 33), 0xffffffu);
    EXPECT_EQ(px.at(150, 20), 0xffffffu);  // the diagonal a closed outline would add
}

// The GDI+ drawing of a sheet against the reviewed Cairo pictures. The fonts
// differ (Liberation Mono for Consolas here, DejaVu there) and Wine strokes
// without anti-aliasing, so about 1.4% of the pixels find no match; another
// theme's colours or a highlighted net make twice that or more.
TEST(GdiplusPainter, SampleDrawnLikeTheCairoReferences) {
    auto sample = loadSampleSchematic();
    ASSERT_TRUE(sample);
    auto reference = [](const std::string& theme) {
        Gdiplus::Bitmap png(wide(sourceDir() + "/tests/reference/sample_" + theme + ".png").c_str());
        return Pixels(png);
    };
    for (const char* theme : {"dark", "light", "blueprint", "paper"}) {
        Settings cfg;
        cfg.theme = theme;
        std::string error;
        auto image = renderSheetBitmap(*sample, 0, cfg, nullptr, 800, &error);
        ASSERT_TRUE(image) << error;
        const Pixels expected = reference(theme);
        ASSERT_EQ(expected.w, 800) << theme;
        const double d = sceneDifference(Pixels(*image), expected);
        EXPECT_LT(d, 0.02) << theme;
    }
    // Another theme's picture, close in colours, is beyond that.
    Settings light;
    light.theme = "light";
    std::string error;
    auto image = renderSheetBitmap(*sample, 0, light, nullptr, 800, &error);
    EXPECT_GT(sceneDifference(Pixels(*image), reference("paper")), 0.02);
    // A highlighted net changes the picture beyond the tolerance too.
    Highlight hl;
    hl.nets.insert(0);
    auto highlighted = renderSheetBitmap(*sample, 0, Settings{}, &hl, 800, &error);
    EXPECT_GT(sceneDifference(Pixels(*highlighted), reference("dark")), 0.02);
}

TEST(GdiplusPainter, PngFileAndRefusedSizes) {
    auto sample = loadSampleSchematic();
    const std::string path = (std::filesystem::temp_directory_path() / "netloom_gdiplus_test.png").string();
    std::string error;
    const DrawingWriters writers = gdiplusDrawingWriters();
    ASSERT_TRUE(writers.png && !writers.pdf);
    ASSERT_TRUE(writers.png(*sample, 0, Settings{}, false, 300, path, &error)) << error;
    auto drawn = renderSheetBitmap(*sample, 0, Settings{}, nullptr, 300, &error);
    {
        Gdiplus::Bitmap back(wide(path).c_str());
        ASSERT_EQ(back.GetWidth(), 300u);
        ASSERT_EQ(back.GetHeight(), drawn->GetHeight());
        EXPECT_EQ(Pixels(back).rgb, Pixels(*drawn).rgb);  // channels in the right order
    }
    auto colourType = [&] {
        std::ifstream f(path, std::ios::binary);
        const std::string bytes((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
        return bytes.size() > 25 && bytes.compare(1, 3, "PNG") == 0 ? int(static_cast<unsigned char>(bytes[25])) : -1;
    };
    EXPECT_EQ(colourType(), 2);  // opaque drawings are written without alpha
    // Translucent pixels keep their alpha.
    Gdiplus::Bitmap glass(2, 1, PixelFormat32bppARGB);
    glass.SetPixel(0, 0, Gdiplus::Color(128, 255, 128, 0));
    glass.SetPixel(1, 0, Gdiplus::Color(128, 255, 128, 0));
    ASSERT_TRUE(writePng(glass, path, &error)) << error;
    EXPECT_EQ(colourType(), 6);
    {
        Gdiplus::Bitmap back(wide(path).c_str());
        Gdiplus::Color c;
        back.GetPixel(1, 0, &c);
        EXPECT_EQ(c.GetValue(), 0x80ff8000u);
    }
    std::filesystem::remove(path);

    EXPECT_FALSE(writers.png(*sample, 0, Settings{}, false, 300, "Z:/nonexistent/dir/x.png", &error));
    EXPECT_EQ(error, "cannot write Z:/nonexistent/dir/x.png");
    EXPECT_FALSE(renderSheetBitmap(*sample, 0, Settings{}, nullptr, 0, &error));
    EXPECT_FALSE(renderSheetBitmap(*sample, 0, Settings{}, nullptr, 40000, &error));
    EXPECT_EQ(error, "image size out of range");
}

// The command line's writers stop GDI+ when a run ends; a window that holds
// a session keeps drawing, and a later writer starts GDI+ again.
TEST(GdiplusPainter, WritersReleaseLeavesARunningSessionAlone) {
    auto sample = loadSampleSchematic();
    const std::string path = (std::filesystem::temp_directory_path() / "netloom_gdiplus_release.png").string();
    std::string error;
    const DrawingWriters writers = gdiplusDrawingWriters();
    ASSERT_TRUE(writers.png(*sample, 0, Settings{}, true, 200, path, &error)) << error;
    writers.release();  // the test program's session still holds GDI+
    Canvas c(20, 20, 1);
    GdiplusPainter p(c.graphics);
    p.setBrush(kBlack);
    p.drawText("X", {2, 2}, 12, 0, -1, 1, true, kBlack);
    p.drawRect({10, 10}, {20, 20});
    EXPECT_EQ(p.lastStatus(), Gdiplus::Ok);
    EXPECT_EQ(c.pixels().at(15, 15), 0u);
    EXPECT_TRUE(c.pixels().ink().min_y < 10);
    EXPECT_TRUE(writers.png(*sample, 0, Settings{}, true, 200, path, &error)) << error;
    std::filesystem::remove(path);
}

#endif

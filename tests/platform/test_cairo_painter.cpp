#include <gtest/gtest.h>

#if NETLOOM_HAVE_CAIRO

#include <fontconfig/fontconfig.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <vector>

#include "fixtures/run_netloom.h"
#include "open/schematic_open.h"
#include "platform/posix/cairo_painter.h"

using namespace nl;

namespace {

// A white image of w x h pixels drawn at `zoom` pixels per millimetre.
struct Canvas {
    SurfacePtr surface;
    cairo_t* cr;
    Canvas(int w, int h, double zoom) : surface(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, w, h)) {
        cr = cairo_create(surface.get());
        cairo_set_source_rgb(cr, 1, 1, 1);
        cairo_paint(cr);
        cairo_scale(cr, zoom, zoom);
    }
    ~Canvas() { cairo_destroy(cr); }
};

uint32_t pixel(cairo_surface_t* s, int x, int y) {
    cairo_surface_flush(s);
    const unsigned char* row = cairo_image_surface_get_data(s) + y * cairo_image_surface_get_stride(s);
    return reinterpret_cast<const uint32_t*>(row)[x] & 0xffffff;
}

// The bounding box of every pixel that is not white, {min x, min y, max x, max y}; invalid when none.
BBox ink(cairo_surface_t* s) {
    BBox b;
    for (int y = 0; y < cairo_image_surface_get_height(s); ++y)
        for (int x = 0; x < cairo_image_surface_get_width(s); ++x)
            if (pixel(s, x, y) != 0xffffff) b.add({double(x), double(y)});
    return b;
}

int inkInRow(cairo_surface_t* s, int y) {
    int n = 0;
    for (int x = 0; x < cairo_image_surface_get_width(s); ++x) n += pixel(s, x, y) != 0xffffff;
    return n;
}

const Color kBlack{0, 0, 0, 1};

// Cairo's font caches and fontconfig's configuration live until the process
// ends; releasing them at the end keeps the leak checker's report clean.
class FontCachesReleased : public ::testing::Environment {
public:
    void TearDown() override {
        cairo_debug_reset_static_data();
        FcFini();
    }
};
const ::testing::Environment* const kFontCaches = ::testing::AddGlobalTestEnvironment(new FontCachesReleased);

std::string sourceDir() { return NETLOOM_SOURCE_DIR; }

}  // namespace

TEST(CairoPainter, MinimumSizesAndRectangleCorners) {
    {
        Canvas c(100, 100, 10);
        CairoPainter p(c.cr, 10);
        p.setPen(kBlack, 0.001);  // drawn 0.02 mm wide: visible at high zoom
        p.drawLine({1, 5}, {9, 5});
        p.setBrush(kBlack);
        p.noPen();
        p.drawCircle({5, 8}, 0);  // radius 0.01 mm: a faint dot
        EXPECT_NE(pixel(c.surface.get(), 50, 50), 0xffffffu);
        EXPECT_EQ(pixel(c.surface.get(), 50, 52), 0xffffffu);
        EXPECT_NE(pixel(c.surface.get(), 50, 80), 0xffffffu);
        EXPECT_EQ(p.lastStatus(), CAIRO_STATUS_SUCCESS);
    }
    Canvas a(60, 60, 10), b(60, 60, 10);
    CairoPainter pa(a.cr, 10), pb(b.cr, 10);
    for (CairoPainter* p : {&pa, &pb}) p->setPen(kBlack, 0.2), p->setBrush({1, 0, 0, 1});
    pa.drawRect({1, 1}, {4, 5});
    pb.drawRect({4, 5}, {1, 1});
    BBox ia = ink(a.surface.get()), ib = ink(b.surface.get());
    EXPECT_TRUE(ia.min_x == ib.min_x && ia.max_y == ib.max_y);  // corners in either order
    EXPECT_NEAR(ia.min_x, 9, 1);
    EXPECT_NEAR(ia.max_y, 51, 1);
    EXPECT_EQ(pixel(a.surface.get(), 25, 30), 0xff0000u);  // filled inside
}

TEST(CairoPainter, TextAlignmentAndRotation) {
    auto draw = [](int h, int v, double angle) {
        Canvas c(400, 400, 10);
        {
            CairoPainter p(c.cr, 10);
            p.drawText("WIDE", {20, 20}, 3, angle, h, v, false, kBlack);
        }
        return ink(c.surface.get());
    };
    // End-aligned and hanging below: ends at the anchor's x, starts at its y; four advances of 0.6 x 3 mm.
    BBox endBelow = draw(1, 1, 0), startAbove = draw(-1, -1, 0), centred = draw(0, 0, 0), up = draw(-1, 1, 90);
    EXPECT_TRUE(endBelow.max_x <= 201 && endBelow.max_x > 185 && endBelow.min_y >= 199);
    EXPECT_NEAR(endBelow.min_x, 128, 8);
    EXPECT_TRUE(startAbove.min_x >= 199 && startAbove.max_y <= 201);
    EXPECT_NEAR((centred.min_x + centred.max_x) / 2, 200, 4);
    EXPECT_NEAR((centred.min_y + centred.max_y) / 2, 200, 6);
    // At 90 degrees the text runs upwards; "below" becomes to the right.
    EXPECT_TRUE(up.max_y <= 201 && up.min_x >= 199 && up.max_x - up.min_x < up.max_y - up.min_y);
    EXPECT_NEAR(up.min_y, 128, 8);
    // Empty text draws nothing; bad UTF-8 does not stop later drawing.
    Canvas c(100, 100, 10);
    CairoPainter p(c.cr, 10);
    p.drawText("", {5, 5}, 3, 0, 0, 0, false, kBlack);
    EXPECT_FALSE(ink(c.surface.get()).valid());
    p.drawText("\xff\xc3(\xed\xa0\x80", {1, 1}, 1, 0, -1, 1, true, kBlack);
    p.setBrush(kBlack);
    p.noPen();
    p.drawRect({5, 5}, {9, 9});
    EXPECT_EQ(p.lastStatus(), CAIRO_STATUS_SUCCESS);
    EXPECT_EQ(pixel(c.surface.get(), 70, 70), 0u);
    EXPECT_FALSE(textFontFamily().empty());
}

TEST(CairoPainter, ScriptsSmallerAndOffTheBaselineOverbarsAbove) {
    auto inkOf = [](std::initializer_list<TextRun> runs) {
        Canvas c(600, 200, 10);
        {
            CairoPainter p(c.cr, 10);
            p.drawTextLine(std::vector<TextRun>(runs), {5, 10}, 5, 0, -1, 0, false, kBlack);
        }
        return ink(c.surface.get());
    };
    const BBox plain = inkOf({{"HH"}}), line = inkOf({{"HH"}, {"HH"}});
    const BBox sub = inkOf({{"HH"}, {"HH", -1}}), sup = inkOf({{"HH"}, {"HH", 1}}), bar = inkOf({{"HH", 0, true}});
    // Scripts are 0.8 as wide and hang 0.4 mm (4 px) below or rise 1 mm above the line's capitals.
    EXPECT_NEAR(sub.max_x - plain.max_x, 0.8 * (line.max_x - plain.max_x), 3);
    EXPECT_NEAR(sub.max_y - plain.max_y, 4, 1.5);
    EXPECT_NEAR(sup.min_y - plain.min_y, -10.5 + 0.2 * 36, 2.5);
    EXPECT_EQ(sub.min_y, plain.min_y);
    // The overbar spans the run's advance above its capitals.
    EXPECT_LT(bar.min_y, plain.min_y - 4);
    EXPECT_TRUE(bar.min_x <= plain.min_x && bar.max_x >= plain.max_x);
    EXPECT_EQ(bar.max_y, plain.max_y);
    // End alignment takes the whole line, scripts included.
    Canvas c(600, 200, 10);
    {
        CairoPainter p(c.cr, 10);
        const TextRun runs[] = {{"V"}, {"BAT", -1}};
        p.drawTextLine(runs, {50, 10}, 5, 0, 1, 0, false, kBlack);
    }
    EXPECT_NEAR(ink(c.surface.get()).max_x, 500, 6);
}

TEST(CairoPainter, ClipStackDashesAndOpenFills) {
    Canvas c(100, 100, 10);
    {
        CairoPainter p(c.cr, 10);
        p.popClip();  // empty stack: nothing happens
        p.pushClip(0, 0, 5, 5);
        p.pushClip(2, 2, 10, 10);  // replaces, does not intersect
        p.setBrush(kBlack);
        p.noPen();
        p.drawRect({0, 0}, {10, 10});
        p.popClip();
        p.setBrush({1, 0, 0, 1});
        p.drawRect({0, 0}, {10, 10});
        // Left on the stack: the painter's destructor restores the context.
    }
    EXPECT_EQ(pixel(c.surface.get(), 70, 70), 0u);         // second clip
    EXPECT_EQ(pixel(c.surface.get(), 10, 10), 0xff0000u);  // first clip only
    EXPECT_EQ(pixel(c.surface.get(), 10, 80), 0xffffffu);  // outside both
    cairo_set_source_rgb(c.cr, 0, 0, 1);
    cairo_paint(c.cr);
    EXPECT_EQ(pixel(c.surface.get(), 10, 80), 0x0000ffu);  // the caller's clip is back

    Canvas d(200, 40, 10);
    {
        CairoPainter p(d.cr, 10);
        p.setPen(kBlack, 0.5);
        p.setDashed(true);
        p.drawLine({1, 1}, {19, 1});
        p.setDashed(false);
        p.drawLine({1, 3}, {19, 3});
        p.noPen();
        p.setBrush(kBlack);
        p.drawPolyline({{2, 2.5}, {8, 2.5}, {8, 3.8}}, false);  // filled though open
    }
    const int dashed = inkInRow(d.surface.get(), 10);
    EXPECT_TRUE(dashed > 100 && dashed < 160) << dashed;  // gaps
    EXPECT_GE(inkInRow(d.surface.get(), 30), 180);
    EXPECT_NE(pixel(d.surface.get(), 70, 33), 0xffffffu);
}

namespace {

// Pixels that differ by more than a small amount in any channel, as a fraction.
double differingFraction(cairo_surface_t* a, cairo_surface_t* b) {
    const int w = cairo_image_surface_get_width(a), h = cairo_image_surface_get_height(a);
    long differing = 0;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            uint32_t pa = pixel(a, x, y), pb = pixel(b, x, y);
            for (int shift : {0, 8, 16})
                if (std::abs(int((pa >> shift) & 0xff) - int((pb >> shift) & 0xff)) > 40) {
                    ++differing;
                    break;
                }
        }
    return double(differing) / (double(w) * h);
}

// Compares a render with its reviewed picture under tests/reference. To accept a
// deliberate change of the drawing, run with NETLOOM_UPDATE_REFERENCES=1 and
// review the new files before committing them.
void expectLikeReference(cairo_surface_t* image, const std::string& name) {
    const std::string ref = sourceDir() + "/tests/reference/" + name + ".png";
    if (std::getenv("NETLOOM_UPDATE_REFERENCES")) {
        ASSERT_EQ(cairo_surface_write_to_png(image, ref.c_str()), CAIRO_STATUS_SUCCESS);
        return;
    }
    SurfacePtr expected(cairo_image_surface_create_from_png(ref.c_str()));
    ASSERT_EQ(cairo_surface_status(expected.get()), CAIRO_STATUS_SUCCESS) << ref;
    ASSERT_EQ(cairo_image_surface_get_width(expected.get()), cairo_image_surface_get_width(image)) << name;
    ASSERT_EQ(cairo_image_surface_get_height(expected.get()), cairo_image_surface_get_height(image)) << name;
    // Font rasterisation may move a few edge pixels; a moved or missing item changes more (even
    // the sample's pin numbers, a few pixels high, are about 150 pixels).
    EXPECT_LT(differingFraction(image, expected.get()), 1e-4) << name;
}

}  // namespace

TEST(CairoPainter, SampleMatchesReferenceImages) {
    auto sample = loadSampleSchematic();
    ASSERT_TRUE(sample);
    for (const char* theme : {"dark", "light", "blueprint", "paper"}) {
        Settings cfg;
        cfg.theme = theme;
        std::string error;
        SurfacePtr image = renderSheetImage(*sample, 0, cfg, nullptr, 800, &error);
        ASSERT_TRUE(image) << error;
        expectLikeReference(image.get(), std::string("sample_") + theme);
    }
    // The tolerance is tight enough to notice the smallest texts going missing.
    Settings cfg;
    cfg.show_pin_numbers = false;
    std::string error;
    SurfacePtr fewer = renderSheetImage(*sample, 0, cfg, nullptr, 800, &error);
    SurfacePtr expected(
        cairo_image_surface_create_from_png((sourceDir() + "/tests/reference/sample_dark.png").c_str()));
    EXPECT_GT(differingFraction(fewer.get(), expected.get()), 1e-4);
}

// Close-ups of what is easiest to get wrong: rotated resistors, gates of a
// multi-unit part, power symbols, sheet symbols with pins, labels at every angle.
TEST(CairoPainter, CloseUpsMatchReferenceImages) {
    Schematic labels;
    labels.format = "kicad";
    labels.sheets.push_back({});
    labels.sheets[0].bbox = {0, 0, 72, 72};
    SheetSymbol sym;
    sym.name = "Child", sym.file = "child.kicad_sch", sym.position = {24, 44}, sym.size = {24, 16};
    const int angles[] = {0, 90, 180, 270};
    for (int i = 0; i < 4; ++i) {
        const int r = angles[i];
        const double ox = r == 0 ? 1 : r == 180 ? -1 : 0, oy = r == 90 ? -1 : r == 270 ? 1 : 0;
        for (int kind : {Local, Global, Hierarchical}) {
            Label l;
            l.kind = kind, l.text = "K" + std::to_string(kind) + "A" + std::to_string(r), l.angle = r;
            l.position = {6.0 + 18 * i, 12.0 + 12 * kind};
            labels.labels.push_back(l);
        }
        Label pin;
        pin.kind = SheetPin, pin.text = "P" + std::to_string(r), pin.angle = r, pin.sheet_symbol = 0;
        pin.position = {36 + 12 * ox, 52 + 8 * oy};
        sym.pins.push_back(static_cast<int>(labels.labels.size()));
        labels.labels.push_back(pin);
    }
    labels.sheet_symbols.push_back(sym);
    std::string error;
    SurfacePtr synthetic = renderRegionImage(labels, 0, Settings{}, nullptr, {0, 0, 72, 72}, 7, &error);
    ASSERT_TRUE(synthetic) << error;
    expectLikeReference(synthetic.get(), "labels_and_sheet_pins");

    // Multi-line texts, markup, escapes, pin number sides and a part not fitted, drawn from a
    // hand-written fixture; tests/reference/README.md says what was compared with KiCad's own plot.
    auto texts = openSchematicFile(sourceDir() + "/tests/fixtures/kicad/texts_and_pins.kicad_sch", &error);
    ASSERT_TRUE(texts) << error;
    Settings light;
    light.theme = "light";
    SurfacePtr textImage = renderRegionImage(*texts, 0, light, nullptr, {5, 15, 245, 105}, 5, &error);
    ASSERT_TRUE(textImage) << error;
    expectLikeReference(textImage.get(), "texts_and_pins");

    const std::string demos = "/usr/share/kicad/demos/";
    if (!std::filesystem::exists(demos + "pic_programmer/pic_programmer.kicad_sch"))
        GTEST_SKIP() << "KiCad demos not installed";
    struct CloseUp {
        const char* design;
        const char* name;
        BBox region;
    } closeUps[] = {{"pic_programmer/pic_programmer.kicad_sch", "pic_programmer_gates", {40, 20, 120, 90}},
                    {"ecc83/ecc83-pp.kicad_sch", "ecc83_tubes", {120, 45, 215, 140}},
                    {"video/video.kicad_sch", "video_sheet_symbols", {160, 35, 240, 110}}};
    for (const CloseUp& c : closeUps) {
        auto s = openSchematicFile(demos + c.design, &error);
        ASSERT_TRUE(s) << error;
        SurfacePtr image = renderRegionImage(*s, 0, light, nullptr, c.region, 6, &error);
        ASSERT_TRUE(image) << error;
        expectLikeReference(image.get(), c.name);
    }
}

TEST(CairoPainter, PngFileAndRefusedSizes) {
    auto sample = loadSampleSchematic();
    const std::string path = (std::filesystem::temp_directory_path() / "netloom_render_test.png").string();
    std::string error;
    ASSERT_TRUE(renderSheetPng(*sample, 0, Settings{}, nullptr, 300, path, &error)) << error;
    SurfacePtr back(cairo_image_surface_create_from_png(path.c_str()));
    SurfacePtr drawn = renderSheetImage(*sample, 0, Settings{}, nullptr, 300, &error);
    ASSERT_EQ(cairo_image_surface_get_width(back.get()), 300);
    ASSERT_EQ(cairo_image_surface_get_height(back.get()), cairo_image_surface_get_height(drawn.get()));
    EXPECT_EQ(differingFraction(back.get(), drawn.get()), 0);  // channels in the right order
    auto colourType = [&] { return static_cast<int>(static_cast<unsigned char>(nltest::slurp(path).at(25))); };
    EXPECT_EQ(colourType(), 2);  // opaque drawings are written without alpha
    // Translucent pixels survive the change from premultiplied to straight alpha.
    SurfacePtr glass(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 2, 1));
    cairo_t* cr = cairo_create(glass.get());
    cairo_set_source_rgba(cr, 1, 0.5, 0, 0.5);
    cairo_paint(cr);
    cairo_destroy(cr);
    ASSERT_TRUE(writePng(glass.get(), path, &error));
    EXPECT_EQ(colourType(), 6);
    SurfacePtr glassBack(cairo_image_surface_create_from_png(path.c_str()));
    cairo_surface_flush(glassBack.get());
    const uint32_t v = *reinterpret_cast<const uint32_t*>(cairo_image_surface_get_data(glassBack.get()));
    for (auto [shift, want] : {std::pair{24, 128}, {16, 128}, {8, 64}})  // alpha, then premultiplied red and green
        EXPECT_NEAR(double((v >> shift) & 0xff), want, 1) << shift;
    std::filesystem::remove(path);
    EXPECT_FALSE(renderSheetPng(*sample, 0, Settings{}, nullptr, 300, "/nonexistent/dir/x.png", &error));
    EXPECT_NE(error.find("/nonexistent/dir/x.png"), std::string::npos);
    EXPECT_FALSE(renderSheetImage(*sample, 0, Settings{}, nullptr, 0, &error));
    EXPECT_FALSE(renderSheetImage(*sample, 0, Settings{}, nullptr, 40000, &error));
    EXPECT_EQ(error, "image size out of range");
}

#endif

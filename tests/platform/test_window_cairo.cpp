#include <gtest/gtest.h>

#if NETLOOM_HAVE_CAIRO

#include <cstdint>
#include <cstdlib>

#include "fixtures/fake_window_shell.h"
#include "open/schematic_open.h"
#include "platform/posix/window_cairo.h"
#include "render/theme.h"

using namespace nl;

namespace {

struct Image {
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, 800, 600);
    ~Image() { cairo_surface_destroy(surface); }
    void paint(WindowController& c) {
        cairo_t* cr = cairo_create(surface);
        paintCanvas(cr, c);
        cairo_destroy(cr);
        cairo_surface_flush(surface);
    }
    uint32_t at(double x, double y) const {
        const unsigned char* row =
            cairo_image_surface_get_data(surface) + static_cast<int>(y) * cairo_image_surface_get_stride(surface);
        return reinterpret_cast<const uint32_t*>(row)[static_cast<int>(x)] & 0xffffff;
    }
};

uint32_t rgb(const Color& c) {
    auto byte = [](double v) { return static_cast<uint32_t>(v * 255 + 0.5); };
    return byte(c.r) << 16 | byte(c.g) << 8 | byte(c.b);
}

// Within a little of the colour: a line a pixel or so wide is blended with the background at its edges.
bool near(uint32_t pixel, const Color& c) {
    const uint32_t want = rgb(c);
    for (int shift : {0, 8, 16})
        if (std::abs(static_cast<int>((pixel >> shift) & 0xff) - static_cast<int>((want >> shift) & 0xff)) > 48)
            return false;
    return true;
}

}  // namespace

// The canvas shows the sheet where the controller's view puts it: a clicked
// net lights up under the pointer that clicked it.
TEST(WindowCanvas, TheHighlightIsDrawnWhereTheClickWas) {
    nltest::FakeWindowShell shell;
    WindowController c(shell, Settings{});
    c.resize(800, 600);
    Image empty;
    empty.paint(c);
    EXPECT_EQ(empty.at(400, 300), rgb(themeByName("dark").background));

    c.start({"netloom", "sample"});
    const Point wire{122.5, 77.47};  // on the OUT net, between U1 pin 3 and R3
    const double x = (wire.x - c.originX()) * c.zoom(), y = (wire.y - c.originY()) * c.zoom();
    Image before;
    before.paint(c);
    EXPECT_TRUE(near(before.at(x, y), themeByName("dark").wire)) << std::hex << before.at(x, y);
    c.buttonPress(1, x, y, false);
    Image after;
    after.paint(c);
    EXPECT_TRUE(near(after.at(x, y), themeByName("dark").highlight)) << std::hex << after.at(x, y);
}

#endif

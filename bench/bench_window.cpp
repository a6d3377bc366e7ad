// The window's canvas as a person sees it: a paint of a 1400 x 900 canvas
// through the window controller and the Cairo painter on an image surface,
// and the hit test behind one hover. Designs: the largest sheet of KiCad's
// `video` demo, and the 50,000-symbol sheet of tools/gen_design.py (made on
// first use in the temporary folder; run from the repository root).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "app/window_controller.h"
#include "open/schematic_open.h"
#if NETLOOM_HAVE_CAIRO
#include "platform/posix/window_cairo.h"
#endif

namespace {

namespace fs = std::filesystem;

constexpr int kWidth = 1400, kHeight = 900;

struct NoShell : nl::WindowShell {
    void changed(unsigned) override {}
    void showMessage(const std::string&, const std::string&, nl::MessageIcon) override {}
    bool chooseFile(nl::FileRequest&, std::string&) override { return false; }
    bool editSettings(nl::SettingsForm&) override { return false; }
    void setBusyCursor(bool) override {}
    void wake() override {}
};

struct Design {
    std::shared_ptr<nl::Schematic> schematic;
    int sheet = 0;
    std::string label;
};

// The sheet with the most drawn items.
int busiestSheet(const nl::Schematic& s, size_t& items) {
    std::vector<size_t> count(s.sheets.size());
    for (const nl::Component& c : s.components) count[c.sheet] += 1 + c.pins.size() + c.graphics.size();
    for (const nl::Wire& w : s.wires) count[w.sheet]++;
    for (const nl::Label& l : s.labels) count[l.sheet]++;
    int best = 0;
    for (size_t i = 0; i < count.size(); ++i)
        if (count[i] > count[best]) best = static_cast<int>(i);
    items = count.empty() ? 0 : count[best];
    return best;
}

const Design& design(bool generated) {
    static const auto load = [](bool big) {
        Design d;
        std::string path = "/usr/share/kicad/demos/video/video.kicad_sch", error;
        if (big) {
            path = (fs::temp_directory_path() / "netloom_gen_50000.kicad_sch").string();
            if (!fs::exists(path) && fs::exists("tools/gen_design.py")) {
                const std::string cmd = "python3 tools/gen_design.py --symbols 50000 --out '" + path + "'";
                if (std::system(cmd.c_str()) != 0) fs::remove(path);
            }
        }
        if (!fs::exists(path)) return d;
        d.schematic = nl::openSchematicFile(path, &error);
        if (!d.schematic) return d;
        size_t items = 0;
        d.sheet = busiestSheet(*d.schematic, items);
        d.label = d.schematic->sheets[d.sheet].name + ", " + std::to_string(items) + " items";
        return d;
    };
    static const Design video = load(false), big = load(true);
    return generated ? big : video;
}

// A controller showing the design's busiest sheet, fitted to the canvas.
struct Window {
    NoShell shell;
    nl::WindowController controller{shell, nl::Settings{}};

    explicit Window(const Design& d) {
        controller.resize(kWidth, kHeight);
        controller.showDesign(d.schematic);
        controller.gotoSheet(d.sheet);
    }
    // The share of the sheet's drawing (its extent, margins left out) the canvas shows.
    double shown() const {
        const nl::BBox s = controller.schematic()->sheets[controller.sheet()].bbox;
        const double x0 = std::max(s.min_x, controller.originX()), y0 = std::max(s.min_y, controller.originY());
        const double x1 = std::min(s.max_x, controller.originX() + kWidth / controller.zoom());
        const double y1 = std::min(s.max_y, controller.originY() + kHeight / controller.zoom());
        return std::max(0.0, x1 - x0) * std::max(0.0, y1 - y0) / ((s.max_x - s.min_x) * (s.max_y - s.min_y));
    }
    // Wheels in about the canvas centre until the canvas shows about `fraction` of the drawing.
    void zoomTo(double fraction) {
        while (shown() > fraction) controller.wheel(1, kWidth / 2.0, kHeight / 2.0);
    }
};

bool ready(benchmark::State& state, const Design& d) {
    if (!d.schematic) {
        state.SkipWithError("design not available (KiCad's demos, or tools/gen_design.py from the source folder)");
        return false;
    }
    return true;
}

#if NETLOOM_HAVE_CAIRO
void paint(benchmark::State& state, bool generated, double fraction) {
    const Design& d = design(generated);
    if (!ready(state, d)) return;
    Window w(d);
    if (fraction < 1) w.zoomTo(fraction);
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, kWidth, kHeight);
    for (auto _ : state) {
        cairo_t* cr = cairo_create(surface);
        nl::paintCanvas(cr, w.controller);
        cairo_destroy(cr);
        cairo_surface_flush(surface);
    }
    cairo_surface_destroy(surface);
    state.counters["zoom"] = w.controller.zoom();
    state.counters["shown_%"] = 100 * w.shown();
    state.SetLabel(d.label);
}

void WindowPaintVideoFit(benchmark::State& state) { paint(state, false, 1); }
void WindowPaintGeneratedFit(benchmark::State& state) { paint(state, true, 1); }
void WindowPaintGeneratedZoomed(benchmark::State& state) { paint(state, true, 0.01); }
BENCHMARK(WindowPaintVideoFit)->Unit(benchmark::kMillisecond);
BENCHMARK(WindowPaintGeneratedFit)->Unit(benchmark::kMillisecond);
BENCHMARK(WindowPaintGeneratedZoomed)->Unit(benchmark::kMillisecond);
#endif

// Mouse moves across the fitted sheet, each one a hover hit test.
void WindowHoverGenerated(benchmark::State& state) {
    const Design& d = design(true);
    if (!ready(state, d)) return;
    Window w(d);
    size_t k = 0;
    for (auto _ : state) {
        const double x = static_cast<double>((k * 37) % kWidth), y = static_cast<double>((k * 53) % kHeight);
        ++k;
        w.controller.pointerMove(x, y);
    }
    state.SetLabel(d.label);
}
BENCHMARK(WindowHoverGenerated)->Unit(benchmark::kMicrosecond);

}  // namespace

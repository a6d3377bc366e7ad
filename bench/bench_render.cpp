// Drawing speed on the largest sheet of KiCad's `video` demo: the whole SVG
// document, a 2000-pixel PNG through Cairo (with and without the PNG
// encoding), and one hit test.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <memory>
#include <string>

#include "open/schematic_open.h"
#include "render/render.h"
#include "render/svg_painter.h"
#if NETLOOM_HAVE_CAIRO
#include "platform/posix/cairo_painter.h"
#endif

namespace {

struct Design {
    std::shared_ptr<nl::Schematic> schematic;
    int sheet = -1;
    std::string label;
};

// The sheet with the most drawn items.
const Design& video() {
    static const Design d = [] {
        Design d;
        std::string error;
        d.schematic = nl::openSchematicFile("/usr/share/kicad/demos/video/video.kicad_sch", &error);
        if (!d.schematic) return d;
        const nl::Schematic& s = *d.schematic;
        std::vector<size_t> items(s.sheets.size());
        for (const nl::Component& c : s.components) items[c.sheet] += 1 + c.pins.size() + c.graphics.size();
        for (const nl::Wire& w : s.wires) items[w.sheet]++;
        for (const nl::Label& l : s.labels) items[l.sheet]++;
        size_t best = 0;
        for (size_t i = 0; i < items.size(); ++i)
            if (items[i] > best) best = items[i], d.sheet = static_cast<int>(i);
        if (d.sheet >= 0) d.label = "video sheet " + s.sheets[d.sheet].name + ", " + std::to_string(best) + " items";
        return d;
    }();
    return d;
}

bool ready(benchmark::State& state) {
    if (!video().schematic || video().sheet < 0) {
        state.SkipWithError("KiCad demo `video` not installed");
        return false;
    }
    state.SetLabel(video().label);
    return true;
}

void RenderSvg(benchmark::State& state) {
    if (!ready(state)) return;
    nl::Settings settings;
    size_t bytes = 0;
    for (auto _ : state) {
        std::string svg = nl::renderSvg(*video().schematic, video().sheet, settings, nullptr, 2000);
        bytes = svg.size();
        benchmark::DoNotOptimize(svg.data());
    }
    state.counters["svg_bytes"] = static_cast<double>(bytes);
}
BENCHMARK(RenderSvg)->Unit(benchmark::kMillisecond);

#if NETLOOM_HAVE_CAIRO
void RenderImageCairo(benchmark::State& state) {
    if (!ready(state)) return;
    nl::Settings settings;
    for (auto _ : state) {
        std::string error;
        nl::SurfacePtr image = nl::renderSheetImage(*video().schematic, video().sheet, settings, nullptr, 2000, &error);
        benchmark::DoNotOptimize(image.get());
    }
}
BENCHMARK(RenderImageCairo)->Unit(benchmark::kMillisecond);

void RenderPngCairo(benchmark::State& state) {
    if (!ready(state)) return;
    nl::Settings settings;
    const std::string path = (std::filesystem::temp_directory_path() / "netloom_bench_render.png").string();
    for (auto _ : state) {
        std::string error;
        if (!nl::renderSheetPng(*video().schematic, video().sheet, settings, nullptr, 2000, path, &error)) {
            state.SkipWithError(error.c_str());
            break;
        }
    }
    std::filesystem::remove(path);
}
BENCHMARK(RenderPngCairo)->Unit(benchmark::kMillisecond);
#endif

// Points spread over the whole view box, so every kind of answer comes up.
void HitTest(benchmark::State& state) {
    if (!ready(state)) return;
    const nl::BBox box = nl::sheetViewBox(*video().schematic, video().sheet);
    std::vector<nl::Point> points;
    for (int i = 0; i < 64; ++i)
        for (int j = 0; j < 64; ++j)
            points.push_back(
                {box.min_x + (box.max_x - box.min_x) * i / 63, box.min_y + (box.max_y - box.min_y) * j / 63});
    size_t k = 0;
    for (auto _ : state) {
        nl::HitInfo hit = nl::hitTest(*video().schematic, video().sheet, points[k++ % points.size()], 1.0);
        benchmark::DoNotOptimize(hit.index);
    }
}
BENCHMARK(HitTest)->Unit(benchmark::kMicrosecond);

}  // namespace

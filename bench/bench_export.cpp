// Whole drawings through Cairo: every sheet of KiCad's `video` demo as one PDF
// (pages, frames, embedded fonts, outline, file written), and the sheet of the
// generated 50,000-symbol design (tools/gen_design.py, run from the repository
// root) as a 4000-pixel PNG, drawn and encoded. Opening is not timed.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "open/schematic_open.h"
#if NETLOOM_HAVE_CAIRO
#include "platform/posix/cairo_export.h"
#include "platform/posix/cairo_painter.h"
#endif

namespace {

namespace fs = std::filesystem;

#if NETLOOM_HAVE_CAIRO

nl::SchematicPtr open(const std::string& path) {
    std::string error;
    return fs::exists(path) ? nl::openSchematicFile(path, &error) : nullptr;
}

nl::SchematicPtr generated50k() {
    const fs::path path = fs::temp_directory_path() / "netloom_gen_50000.kicad_sch";
    if (!fs::exists(path) && fs::exists("tools/gen_design.py")) {
        const std::string cmd = "python3 tools/gen_design.py --symbols 50000 --out '" + path.string() + "'";
        if (std::system(cmd.c_str()) != 0) fs::remove(path);
    }
    return open(path.string());
}

void PdfEverySheetOfVideo(benchmark::State& state) {
    static const nl::SchematicPtr video = open("/usr/share/kicad/demos/video/video.kicad_sch");
    if (!video) {
        state.SkipWithError("KiCad demo `video` not installed");
        return;
    }
    std::vector<int> sheets;
    for (size_t i = 0; i < video->sheets.size(); ++i) sheets.push_back(static_cast<int>(i));
    const std::string path = (fs::temp_directory_path() / "netloom_bench_video.pdf").string();
    nl::Settings settings;
    settings.theme = "paper";
    for (auto _ : state) {
        std::string error;
        if (!nl::writeDesignPdf(*video, sheets, settings, path, &error)) {
            state.SkipWithError(error.c_str());
            break;
        }
    }
    std::error_code ec;
    state.counters["pages"] = static_cast<double>(sheets.size());
    state.counters["pdf_kB"] = static_cast<double>(fs::file_size(path, ec)) / 1000;
    fs::remove(path, ec);
}
BENCHMARK(PdfEverySheetOfVideo)->Unit(benchmark::kMillisecond);

void Png4000OfGenerated50k(benchmark::State& state) {
    static const nl::SchematicPtr design = generated50k();
    if (!design) {
        state.SkipWithError("generated design not available (run from the repository root)");
        return;
    }
    const std::string path = (fs::temp_directory_path() / "netloom_bench_50k.png").string();
    nl::Settings settings;
    for (auto _ : state) {
        std::string error;
        if (!nl::renderSheetPng(*design, 0, settings, nullptr, 4000, path, &error)) {
            state.SkipWithError(error.c_str());
            break;
        }
    }
    std::error_code ec;
    state.counters["symbols"] = static_cast<double>(design->components.size());
    state.counters["png_MB"] = static_cast<double>(fs::file_size(path, ec)) / 1e6;
    fs::remove(path, ec);
}
BENCHMARK(Png4000OfGenerated50k)->Unit(benchmark::kMillisecond)->Iterations(3);

#endif

}  // namespace

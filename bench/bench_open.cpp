// Full opening of a design (read, parse, load, component boxes, nets, sheet
// extents) on the video demo and on generated 5,000- and 50,000-symbol designs.
// The generated files are made by tools/gen_design.py on first use (run the
// program from the repository root) and kept in the temporary directory.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "net_builder.h"
#include "schematic_open.h"

namespace {

namespace fs = std::filesystem;

std::string generatedDesign(int symbols) {
    const fs::path path = fs::temp_directory_path() / ("netloom_gen_" + std::to_string(symbols) + ".kicad_sch");
    if (!fs::exists(path) && fs::exists("tools/gen_design.py")) {
        const std::string cmd =
            "python3 tools/gen_design.py --symbols " + std::to_string(symbols) + " --out '" + path.string() + "'";
        if (std::system(cmd.c_str()) != 0) fs::remove(path);
    }
    return fs::exists(path) ? path.string() : std::string();
}

uintmax_t designBytes(const std::string& root) {
    uintmax_t total = 0;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(fs::path(root).parent_path(), ec))
        if (e.path().extension() == ".kicad_sch" &&
            (e.path() == fs::path(root) || root.find("netloom_gen_") == std::string::npos))
            total += e.file_size(ec);
    return total;
}

void openBenchmark(benchmark::State& state, const std::string& path) {
    if (path.empty()) {
        state.SkipWithError("design not available");
        return;
    }
    size_t components = 0, nets = 0;
    for (auto _ : state) {
        std::string error;
        auto s = nl::openSchematicFile(path, &error);
        if (!s) {
            state.SkipWithError(error.c_str());
            return;
        }
        components = s->components.size();
        nets = s->nets.size();
    }
    const uintmax_t bytes = designBytes(path);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
    state.counters["files_MB"] = bytes / 1e6;
    state.counters["components"] = static_cast<double>(components);
    state.counters["nets"] = static_cast<double>(nets);
}

void BM_OpenVideoDemo(benchmark::State& state) {
    const std::string path = "/usr/share/kicad/demos/video/video.kicad_sch";
    openBenchmark(state, fs::exists(path) ? path : std::string());
}
BENCHMARK(BM_OpenVideoDemo)->Unit(benchmark::kMillisecond);

void BM_OpenGenerated(benchmark::State& state) {
    openBenchmark(state, generatedDesign(static_cast<int>(state.range(0))));
}
BENCHMARK(BM_OpenGenerated)->Arg(5000)->Arg(50000)->Unit(benchmark::kMillisecond);

// The net builder alone, to show that its cost grows with the design and no faster.
void BM_BuildNetsGenerated(benchmark::State& state) {
    const std::string path = generatedDesign(static_cast<int>(state.range(0)));
    std::string error;
    auto s = path.empty() ? nullptr : nl::openSchematicFile(path, &error);
    if (!s) {
        state.SkipWithError("design not available");
        return;
    }
    for (auto _ : state) {
        nl::buildNets(*s);
        benchmark::DoNotOptimize(s->nets.size());
    }
    state.counters["pins_per_second"] =
        benchmark::Counter(static_cast<double>(state.iterations()) * static_cast<double>(s->components.size()) * 1.5,
                           benchmark::Counter::kIsRate);
}
BENCHMARK(BM_BuildNetsGenerated)->Arg(5000)->Arg(50000)->Unit(benchmark::kMillisecond);

}  // namespace

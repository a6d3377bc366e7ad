// Shapes of input that once took time out of all proportion to their size:
// one sub-sheet used by thousands of sheet symbols (each of its symbols
// listing every instance), a text of megabytes of {slash} escapes, and an
// Eagle part with a hundred thousand pins each referenced by a net. Each is
// opened at several sizes; the time per unit (ns_per_unit) stays flat when the
// cost grows linearly. The designs are made by tools/gen_hostile.py on first
// use (run the program from the repository root) and kept in the temporary
// directory.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "open/schematic_open.h"

namespace {

namespace fs = std::filesystem;

std::string hostileDesign(const std::string& shape, long size) {
    const fs::path dir = fs::temp_directory_path() / ("netloom_hostile_" + shape + "_" + std::to_string(size));
    const fs::path list = dir / "root.txt";
    if (!fs::exists(list) && fs::exists("tools/gen_hostile.py")) {
        fs::create_directories(dir);
        const std::string cmd = "python3 tools/gen_hostile.py --shape " + shape + " --size " + std::to_string(size) +
                                " --out '" + dir.string() + "' > '" + list.string() + "'";
        if (std::system(cmd.c_str()) != 0) fs::remove(list);
    }
    std::string root;
    if (FILE* f = std::fopen(list.c_str(), "r")) {
        char line[4096];
        if (std::fgets(line, sizeof line, f)) root = line;
        std::fclose(f);
    }
    while (!root.empty() && (root.back() == '\n' || root.back() == '\r')) root.pop_back();
    return root;
}

// Opens the shape at size state.range(0); `units` says what the size counts.
void openHostile(benchmark::State& state, const std::string& shape) {
    const std::string path = hostileDesign(shape, state.range(0));
    if (path.empty()) {
        state.SkipWithError("tools/gen_hostile.py could not make the design");
        return;
    }
    for (auto _ : state) {
        std::string error;
        auto s = nl::openSchematicFile(path, &error);
        if (!s) {
            state.SkipWithError(error.c_str());
            return;
        }
        benchmark::DoNotOptimize(s->nets.size());
    }
    state.counters["ns_per_unit"] =
        benchmark::Counter(static_cast<double>(state.range(0)),
                           benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

// Sheet symbols using one sub-sheet of four symbols.
void BM_OpenReusedSheet(benchmark::State& state) { openHostile(state, "sheet_instances"); }
BENCHMARK(BM_OpenReusedSheet)->Arg(1000)->Arg(2000)->Arg(4000)->Arg(8000)->Unit(benchmark::kMillisecond);

// {slash} escapes in one label (7 bytes each).
void BM_OpenSlashEscapes(benchmark::State& state) { openHostile(state, "slash_escapes"); }
BENCHMARK(BM_OpenSlashEscapes)->Arg(110000)->Arg(220000)->Arg(440000)->Arg(880000)->Unit(benchmark::kMillisecond);

// Pins of one Eagle part, each referenced by a net of its own.
void BM_OpenEaglePins(benchmark::State& state) { openHostile(state, "eagle_pins"); }
BENCHMARK(BM_OpenEaglePins)->Arg(25000)->Arg(50000)->Arg(100000)->Arg(200000)->Unit(benchmark::kMillisecond);

}  // namespace

// Comparing two revisions of a generated design (tools/gen_design.py, the
// second written with --revise 100: 100 cells changed). The comparison must
// cost less than opening both designs, and grow with the design no faster
// than linearly: BM_DiffOnly at 5,000 and 50,000 symbols shows the growth,
// BM_OpenBoth against BM_OpenBothAndDiff the share of the whole command.
// Run from the repository root; the files are kept in the temporary directory.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <utility>

#include "analysis/design_diff.h"
#include "open/schematic_open.h"

namespace {

namespace fs = std::filesystem;

constexpr int kRevisedCells = 100;

// The design and its revision, or empty paths when the generator cannot run.
std::pair<std::string, std::string> revisionPair(int symbols) {
    std::pair<std::string, std::string> paths;
    for (int revise : {0, kRevisedCells}) {
        // Both written by this checkout's generator, not shared with the other benchmarks'
        // files, so the pair differs only where --revise says.
        const std::string name =
            "netloom_diff_" + std::to_string(symbols) + "_rev" + std::to_string(revise) + ".kicad_sch";
        const fs::path path = fs::temp_directory_path() / name;
        if (!fs::exists(path) && fs::exists("tools/gen_design.py")) {
            const std::string cmd = "python3 tools/gen_design.py --symbols " + std::to_string(symbols) + " --revise " +
                                    std::to_string(revise) + " --out '" + path.string() + "'";
            if (std::system(cmd.c_str()) != 0) fs::remove(path);
        }
        if (!fs::exists(path)) return {};
        (revise ? paths.second : paths.first) = path.string();
    }
    return paths;
}

struct Opened {
    nl::SchematicPtr before, after;
};

Opened openPair(const std::pair<std::string, std::string>& paths) {
    std::string error;
    return {nl::openSchematicFile(paths.first, &error), nl::openSchematicFile(paths.second, &error)};
}

size_t differences(const nl::DesignDiff& d) {
    return d.added_parts.size() + d.removed_parts.size() + d.changed_parts.size() + d.renamed.size() +
           d.changed.size() + d.split.size() + d.merged.size() + d.added_nets.size() + d.removed_nets.size();
}

void BM_DiffOnly(benchmark::State& state) {
    static std::map<int64_t, Opened> opened;
    Opened& pair = opened[state.range(0)];
    if (!pair.before) pair = openPair(revisionPair(static_cast<int>(state.range(0))));
    if (!pair.before || !pair.after) {
        state.SkipWithError("generated designs not available");
        return;
    }
    size_t found = 0;
    for (auto _ : state) {
        const nl::DesignDiff d = nl::diffDesigns(*pair.before, *pair.after);
        benchmark::DoNotOptimize(nl::diffText(d));
        found = differences(d);
    }
    state.counters["components"] = static_cast<double>(pair.before->components.size());
    state.counters["differences"] = static_cast<double>(found);
}
BENCHMARK(BM_DiffOnly)->Arg(5000)->Arg(50000)->Unit(benchmark::kMillisecond);

// What --diff does besides printing, against opening the two designs alone.
void openBothBenchmark(benchmark::State& state, bool diff) {
    const auto paths = revisionPair(static_cast<int>(state.range(0)));
    if (paths.first.empty()) {
        state.SkipWithError("generated designs not available");
        return;
    }
    for (auto _ : state) {
        const Opened pair = openPair(paths);
        if (!pair.before || !pair.after) {
            state.SkipWithError("a generated design did not open");
            return;
        }
        if (diff) benchmark::DoNotOptimize(nl::diffText(nl::diffDesigns(*pair.before, *pair.after)));
    }
}

void BM_OpenBoth(benchmark::State& state) { openBothBenchmark(state, false); }
BENCHMARK(BM_OpenBoth)->Arg(50000)->Unit(benchmark::kMillisecond);

void BM_OpenBothAndDiff(benchmark::State& state) { openBothBenchmark(state, true); }
BENCHMARK(BM_OpenBothAndDiff)->Arg(50000)->Unit(benchmark::kMillisecond);

}  // namespace

// Full opening of a design (read, parse, load, component boxes, nets, sheet
// extents) on the video demo and on generated 5,000- and 50,000-symbol designs,
// both inside this process and as a whole `netloom --list-nets` process (start-up,
// output and exit included, with the process's peak memory); and as whole
// processes on each shape of generated design (flat KiCad 8, KiCad 6 with its
// instance table, a hierarchy of reused sheets) at 5,000 and 50,000 parts.
// The generated files are made by tools/gen_design.py on first use (run the
// program from the repository root) and kept in the temporary directory.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "connectivity/net_builder.h"
#include "open/schematic_open.h"

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

// A design of `shape` (see gen_design.py) with `parts` parts, in a folder of its own.
std::string generatedShape(const std::string& shape, int parts) {
    const fs::path dir = fs::temp_directory_path() / ("netloom_gen_" + shape + "_" + std::to_string(parts));
    const fs::path path = dir / "root.kicad_sch";
    if (!fs::exists(path) && fs::exists("tools/gen_design.py")) {
        fs::create_directories(dir);
        const std::string cmd = "python3 tools/gen_design.py --shape " + shape + " --parts " + std::to_string(parts) +
                                " --out '" + path.string() + "'";
        if (std::system(cmd.c_str()) != 0) fs::remove_all(dir);
    }
    return fs::exists(path) ? path.string() : std::string();
}

// Every sheet file of the design: the root's folder, unless that is the
// temporary folder the single-file designs share.
uintmax_t designBytes(const std::string& root) {
    const fs::path folder = fs::path(root).parent_path();
    const bool shared = fs::path(root).filename().string().rfind("netloom_gen_", 0) == 0;
    uintmax_t total = 0;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(folder, ec))
        if (e.path().extension() == ".kicad_sch" && (!shared || e.path() == fs::path(root))) total += e.file_size(ec);
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

// One `netloom --list-nets` process per iteration, output discarded, run under
// GNU time: Linux counts a spawning process's own resident memory into its
// child's peak, and time is small enough not to hide netloom's. Wall time is
// the benchmark's time; user and system time and the peak come from time.
void processBenchmark(benchmark::State& state, const std::string& path) {
    static const char* const kTime = "/usr/bin/time";
    if (path.empty() || access(kTime, X_OK) != 0) {
        state.SkipWithError(path.empty() ? "design not available" : "GNU time (package time) is not installed");
        return;
    }
    const std::string report = (fs::temp_directory_path() / "netloom_bench_time.txt").string();
    double user = 0, sys = 0, peak = 0;
    for (auto _ : state) {
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
        std::vector<std::string> args = {kTime, "-f", "%e %U %S %M", "-o", report, NETLOOM_BINARY, "--list-nets", path};
        std::vector<char*> argv;
        for (std::string& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        const auto start = std::chrono::steady_clock::now();
        pid_t pid = 0;
        const int spawned = posix_spawn(&pid, kTime, &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        int status = 0;
        if (spawned != 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            state.SkipWithError("netloom --list-nets failed");
            return;
        }
        state.SetIterationTime(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        double wall = 0, u = 0, k = 0, kb = 0;
        FILE* f = std::fopen(report.c_str(), "r");
        const bool read = f && std::fscanf(f, "%lf %lf %lf %lf", &wall, &u, &k, &kb) == 4;
        if (f) std::fclose(f);
        if (!read) {
            state.SkipWithError("could not read GNU time's report");
            return;
        }
        user += u * 1e3;
        sys += k * 1e3;
        peak = std::max(peak, kb / 1024.0);
    }
    const double n = static_cast<double>(state.iterations());
    state.counters["user_ms"] = user / n;
    state.counters["sys_ms"] = sys / n;
    state.counters["peak_MB"] = peak;
    state.counters["peak_per_file_byte"] = peak * 1024 * 1024 / static_cast<double>(designBytes(path));
}

void BM_ProcessVideoDemo(benchmark::State& state) {
    const std::string path = "/usr/share/kicad/demos/video/video.kicad_sch";
    processBenchmark(state, fs::exists(path) ? path : std::string());
}
BENCHMARK(BM_ProcessVideoDemo)->UseManualTime()->Unit(benchmark::kMillisecond);

void BM_ProcessGenerated(benchmark::State& state) {
    processBenchmark(state, generatedDesign(static_cast<int>(state.range(0))));
}
BENCHMARK(BM_ProcessGenerated)->Arg(5000)->Arg(50000)->MinTime(3)->UseManualTime()->Unit(benchmark::kMillisecond);

// Peak memory is the figure to watch here: each shape costs differently per byte of file.
const bool kShapesRegistered = [] {
    for (const char* shape : {"flat", "v6", "hier"})
        benchmark::RegisterBenchmark(("BM_ProcessShape/" + std::string(shape)).c_str(),
                                     [shape](benchmark::State& state) {
                                         const int parts = static_cast<int>(state.range(0));
                                         processBenchmark(state, generatedShape(shape, parts));
                                     })
            ->ArgName("parts")
            ->Arg(5000)
            ->Arg(50000)
            ->MinTime(3)
            ->UseManualTime()
            ->Unit(benchmark::kMillisecond);
    return true;
}();

// The net builder alone, to show that its cost grows with the design and no
// faster. With the second argument set, the CPU caches are flushed before each
// run, as they are when the builder runs once after loading; repeated runs on
// a hot small design would flatter it against a large one that never fits.
void BM_BuildNetsGenerated(benchmark::State& state) {
    const std::string path = generatedDesign(static_cast<int>(state.range(0)));
    std::string error;
    auto s = path.empty() ? nullptr : nl::openSchematicFile(path, &error);
    if (!s) {
        state.SkipWithError("design not available");
        return;
    }
    std::vector<char> flush(state.range(1) ? size_t(256) << 20 : 0, 1);
    for (auto _ : state) {
        if (!flush.empty()) {
            state.PauseTiming();
            for (size_t i = 0; i < flush.size(); i += 64) flush[i] = static_cast<char>(flush[i] + 1);
            benchmark::ClobberMemory();
            state.ResumeTiming();
        }
        nl::buildNets(*s);
        benchmark::DoNotOptimize(s->nets.size());
    }
    state.counters["ns_per_symbol"] =
        benchmark::Counter(static_cast<double>(s->components.size()),
                           benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_BuildNetsGenerated)
    ->ArgsProduct({{5000, 12500, 25000, 50000, 100000}, {0, 1}})
    ->ArgNames({"symbols", "cold"})
    ->Unit(benchmark::kMillisecond);

}  // namespace

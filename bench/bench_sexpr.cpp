// S-expression parsing speed and tree size on real and generated KiCad text.
#include <benchmark/benchmark.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "base/file_io.h"
#include "readers/sexpr.h"

namespace {

// A KiCad-like sheet of about `bytes` bytes: placed symbols with properties,
// pins and uuids, and wires, in KiCad's own indentation.
std::string generatedSheet(size_t bytes) {
    std::string s = "(kicad_sch (version 20230121) (generator eeschema)\n";
    char buf[4096];
    for (int i = 0; s.size() < bytes; ++i) {
        double x = 25.4 + (i % 200) * 7.62, y = 25.4 + (i / 200) * 7.62;
        snprintf(buf, sizeof buf,
                 "  (symbol (lib_id \"Device:R\") (at %.2f %.2f 90) (unit 1)\n"
                 "    (in_bom yes) (on_board yes) (dnp no)\n"
                 "    (uuid \"%08x-1c2d-4e5f-8a9b-0c1d2e3f4a5b\")\n"
                 "    (property \"Reference\" \"R%d\" (at %.2f %.2f 0)\n"
                 "      (effects (font (size 1.27 1.27)) (justify left)))\n"
                 "    (property \"Value\" \"10k\" (at %.2f %.2f 0)\n"
                 "      (effects (font (size 1.27 1.27)) hide))\n"
                 "    (pin \"1\" (uuid \"%08x-aaaa-4bbb-8ccc-0123456789ab\"))\n"
                 "    (pin \"2\" (uuid \"%08x-dddd-4eee-8fff-0123456789ab\")))\n"
                 "  (wire (pts (xy %.2f %.2f) (xy %.2f %.2f))\n"
                 "    (stroke (width 0) (type default)) (uuid \"%08x-0000-4000-8000-000000000000\"))\n",
                 x, y, i * 7919u, i, x, y - 2.54, x, y + 2.54, i * 31u, i * 37u, x, y, x + 5.08, y, i * 41u);
        s += buf;
    }
    s += ")\n";
    return s;
}

void reportSize(benchmark::State& state, size_t fileBytes, const nl::SExprTree& t) {
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * fileBytes));
    state.counters["file_MB"] = fileBytes / 1e6;
    state.counters["nodes"] = static_cast<double>(t.nodeCount());
    state.counters["tree_per_file_byte"] = static_cast<double>(t.memoryBytes()) / fileBytes;
}

void BM_ParseGenerated20MB(benchmark::State& state) {
    static const std::string text = generatedSheet(20u << 20);
    auto owner = std::make_shared<std::string>(text);
    nl::SExprTree last;
    for (auto _ : state) {
        last = nl::SExprTree();  // hand the node storage back for reuse, as between files
        last = nl::parseSExpr(owner, *owner);
        benchmark::DoNotOptimize(last.nodeCount());
    }
    reportSize(state, text.size(), last);
}
BENCHMARK(BM_ParseGenerated20MB)->Unit(benchmark::kMillisecond);

// Cold: a new thread has no recycled node storage, so every page of the tree
// is touched for the first time, as in a fresh process.
void BM_ParseGenerated20MBCold(benchmark::State& state) {
    static const std::string text = generatedSheet(20u << 20);
    auto owner = std::make_shared<std::string>(text);
    size_t nodes = 0, mem = 0;
    for (auto _ : state) {
        double seconds = 0;
        std::thread worker([&] {
            auto t0 = std::chrono::steady_clock::now();
            nl::SExprTree t = nl::parseSExpr(owner, *owner);
            seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
            nodes = t.nodeCount();
            mem = t.memoryBytes();
        });
        worker.join();
        state.SetIterationTime(seconds);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
    state.counters["nodes"] = static_cast<double>(nodes);
    state.counters["tree_per_file_byte"] = static_cast<double>(mem) / text.size();
}
BENCHMARK(BM_ParseGenerated20MBCold)->UseManualTime()->Unit(benchmark::kMillisecond);

void BM_ParseDemoFiles(benchmark::State& state) {
    namespace fs = std::filesystem;
    std::vector<nl::FileData> files;
    size_t total = 0;
    const char* names[] = {"/usr/share/kicad/demos/video/video.kicad_sch",
                           "/usr/share/kicad/demos/kit-dev-coldfire-xilinx_5213/kit-dev-coldfire-xilinx_5213.kicad_sch",
                           "/usr/share/kicad/demos/pic_programmer/pic_programmer.kicad_sch",
                           "/usr/share/kicad/demos/video/esvideo.kicad_sch",
                           "/usr/share/kicad/demos/video/graphic.kicad_sch"};
    for (const char* n : names) {
        nl::FileData f;
        if (fs::exists(n) && nl::readWholeFile(n, f)) {
            total += f.bytes.size();
            files.push_back(f);
        }
    }
    if (files.empty()) {
        state.SkipWithError("kicad-demos not installed");
        return;
    }
    size_t mem = 0;
    for (auto _ : state) {
        mem = 0;
        for (const nl::FileData& f : files) {
            nl::SExprTree t = nl::parseSExpr(f.owner, f.bytes);
            mem += t.memoryBytes();
            benchmark::DoNotOptimize(t.nodeCount());
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * total));
    state.counters["files_MB"] = total / 1e6;
    state.counters["tree_per_file_byte"] = static_cast<double>(mem) / total;
}
BENCHMARK(BM_ParseDemoFiles)->Unit(benchmark::kMillisecond);

}  // namespace

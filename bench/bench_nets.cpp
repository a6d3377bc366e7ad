// Net builder speed on generated designs of 5,000 and 50,000 placed symbols,
// built directly in memory so that only the builder is measured.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <string>

#include "connectivity/net_builder.h"
#include "model/model.h"
#include "open/schematic_open.h"

namespace {

constexpr int kSymbolsPerSheet = 2500;
constexpr int kColumns = 100;

void addWire(nl::Schematic& s, nl::Point a, nl::Point b, int sheet) {
    nl::Wire& w = s.wires.emplace_back();
    w.a = a;
    w.b = b;
    w.sheet = sheet;
}

void addLabel(nl::Schematic& s, int kind, std::string text, nl::Point at, int sheet) {
    nl::Label& l = s.labels.emplace_back();
    l.kind = kind;
    l.text = std::move(text);
    l.position = at;
    l.sheet = sheet;
}

// Rows of resistors and power symbols on sheets of 2,500 symbols. Each symbol
// hangs from a row rail by a stub that ends on the rail's interior (a
// T-connection without a dot); rails join five columns; labels, local and
// global, tie pins across rows and sheets; a third of the stubs have junctions.
nl::Schematic generatedDesign(int symbols) {
    nl::Schematic s;
    const int sheets = (symbols + kSymbolsPerSheet - 1) / kSymbolsPerSheet;
    for (int i = 0; i < sheets; ++i) s.sheets.emplace_back().name = "S" + std::to_string(i);
    s.components.reserve(symbols);
    for (int i = 0; i < symbols; ++i) {
        const int sheet = i / kSymbolsPerSheet, k = i % kSymbolsPerSheet;
        const int col = k % kColumns, row = k / kColumns;
        const double x = 25.4 + col * 10.16, y = 25.4 + row * 15.24;
        nl::Component& c = s.components.emplace_back();
        c.sheet = sheet;
        c.position = {x, y + 3.81};
        if (i % 10 == 9) {
            c.reference = "#PWR" + std::to_string(i);
            c.value = (i / 10) % 2 ? "GND" : "+3V3";
            c.power_symbol = true;
            nl::Pin& p = c.pins.emplace_back();
            p.number = "1";
            p.type = nl::PinType::PowerIn;
            p.position = p.end = {x, y + 7.62};
        } else {
            c.reference = "R" + std::to_string(i);
            c.value = "10k";
            for (int n = 0; n < 2; ++n) {
                nl::Pin& p = c.pins.emplace_back();
                p.number = std::to_string(n + 1);
                p.position = p.end = {x, y + n * 7.62};
            }
            if (i % 3 == 0) addLabel(s, nl::Local, "N" + std::to_string(i / 3 % 400), {x, y}, sheet);
            if (i % 17 == 0) addLabel(s, nl::Global, "G" + std::to_string(i % 50), {x, y}, sheet);
        }
        addWire(s, {x, y + 7.62}, {x, y + 10.16}, sheet);
        if (k % 3 == 0) s.junctions.push_back({{x, y + 10.16}, sheet, -1});
        if (col % 5 == 0) addWire(s, {x - 2.54, y + 10.16}, {x + 4 * 10.16 + 2.54, y + 10.16}, sheet);
    }
    return s;
}

void BM_BuildNets(benchmark::State& state) {
    const int symbols = static_cast<int>(state.range(0));
    nl::Schematic s = generatedDesign(symbols);
    for (auto _ : state) {
        // Rebuilding replaces every net and index, so the same design serves each round.
        nl::buildNets(s);
        benchmark::DoNotOptimize(s.nets.data());
    }
    state.counters["nets"] = static_cast<double>(s.nets.size());
    state.counters["wires"] = static_cast<double>(s.wires.size());
    state.counters["ns_per_symbol"] = benchmark::Counter(
        static_cast<double>(symbols), benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_BuildNets)->Arg(5000)->Arg(50000)->Unit(benchmark::kMillisecond);

// The kicad-demos video design: a real hierarchy with buses across sheets.
void BM_BuildNetsVideo(benchmark::State& state) {
    const std::string path = "/usr/share/kicad/demos/video/video.kicad_sch";
    std::string error;
    auto loaded = std::filesystem::exists(path) ? nl::openSchematicFile(path, &error) : nullptr;
    if (!loaded) {
        state.SkipWithError("video demo not available");
        return;
    }
    nl::Schematic s = *loaded;
    for (auto _ : state) {
        nl::buildNets(s);
        benchmark::DoNotOptimize(s.nets.data());
    }
    state.counters["nets"] = static_cast<double>(s.nets.size());
}
BENCHMARK(BM_BuildNetsVideo)->Unit(benchmark::kMillisecond);

}  // namespace

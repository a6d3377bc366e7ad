// Rule check and report speed on a generated 50,000-symbol design, on the
// video demo and, when NETLOOM_BENCH_DESIGN names a file, on that design.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <map>
#include <memory>
#include <string>

#include "analysis/erc.h"
#include "analysis/reports.h"
#include "base/json_util.h"
#include "connectivity/net_builder.h"
#include "open/schematic_open.h"

namespace {

using nl::Point;

nl::Pin makePin(const char* number, const char* type, Point at) {
    nl::Pin p;
    p.number = number;
    p.name = "~";
    p.type = type;
    p.position = at;
    return p;
}

void addPart(nl::Schematic& s, std::string ref, const char* value, const char* lib, bool power,
             std::vector<nl::Pin> pins) {
    nl::Component c;
    c.reference = std::move(ref);
    c.value = value;
    c.lib_id = lib;
    c.footprint = power ? "" : "Resistor_SMD:R_0603_1608Metric";
    c.power_symbol = power;
    c.pins = std::move(pins);
    c.position = c.pins[0].position;
    s.components.push_back(std::move(c));
}

void addWire(nl::Schematic& s, Point a, Point b) {
    nl::Wire w;
    w.a = a;
    w.b = b;
    s.wires.push_back(w);
}

// Cells of four symbols: a resistor and a capacitor in series, VCC on top,
// GND below, a branch wire teed (without a dot) into the middle wire that ends
// at a local label, and every tenth cell a stray wire that dangles. The tees
// send every branch end through the interior test.
std::shared_ptr<nl::Schematic> generatedDesign(int symbols) {
    auto s = std::make_shared<nl::Schematic>();
    s->title = "generated";
    s->format = "kicad";
    s->sheets.push_back({});
    s->sheets[0].name = "Root";
    const int cells = symbols / 4;
    for (int i = 0; i < cells; ++i) {
        const double x = (i % 100) * 20.32, y = (i / 100) * 25.4;
        const std::string n = std::to_string(i + 1);
        addPart(*s, "R" + n, "10k", "Device:R", false,
                {makePin("1", "passive", {x, y}), makePin("2", "passive", {x, y + 7.62})});
        addPart(*s, "C" + n, "100n", "Device:C", false,
                {makePin("1", "passive", {x, y + 12.7}), makePin("2", "passive", {x, y + 17.78})});
        addPart(*s, "#PWR" + n + "a", "VCC", "power:VCC", true, {makePin("1", "power_in", {x, y})});
        addPart(*s, "#PWR" + n + "b", "GND", "power:GND", true, {makePin("1", "power_in", {x + 2.54, y + 17.78})});
        addWire(*s, {x, y + 7.62}, {x, y + 12.7});
        addWire(*s, {x, y + 10.16}, {x + 5.08, y + 10.16});
        addWire(*s, {x, y + 17.78}, {x + 2.54, y + 17.78});
        if (i % 10 == 0) addWire(*s, {x + 10.16, y}, {x + 10.16, y + 5.08});
        nl::Label l;
        l.text = "N" + n;
        l.position = {x + 5.08, y + 10.16};
        s->labels.push_back(l);
    }
    nl::buildNets(*s);
    return s;
}

const nl::Schematic& large() {
    static const std::shared_ptr<nl::Schematic> s = generatedDesign(50000);
    return *s;
}

const nl::Schematic* fromFile(const char* path) {
    static std::map<std::string, std::shared_ptr<nl::Schematic>> cache;
    if (!path || !*path) return nullptr;
    auto it = cache.find(path);
    if (it == cache.end()) it = cache.emplace(path, nl::openSchematicFile(path, nullptr)).first;
    return it->second.get();
}

const nl::Schematic* video() { return fromFile("/usr/share/kicad/demos/video/video.kicad_sch"); }
const nl::Schematic* named() { return fromFile(std::getenv("NETLOOM_BENCH_DESIGN")); }

template <class Work>
void runOn(benchmark::State& state, const nl::Schematic* s, Work work) {
    if (!s) {
        state.SkipWithError("design not available");
        return;
    }
    size_t size = 0;
    for (auto _ : state) size = work(*s);
    state.counters["components"] = (double)s->components.size();
    state.counters["wires"] = (double)s->wires.size();
    state.counters["output"] = (double)size;
}

size_t erc(const nl::Schematic& s) {
    auto issues = nl::runErc(s, {});
    benchmark::DoNotOptimize(issues.data());
    return issues.size();
}
size_t jsonDump(const nl::Schematic& s) { return nl::schematicJsonText(s, 2).size(); }
size_t jsonTreeDump(const nl::Schematic& s) { return nl::dumpJson(nl::schematicToJson(s), 2).size(); }
size_t jsonBuild(const nl::Schematic& s) { return nl::schematicToJson(s).size(); }
size_t bom(const nl::Schematic& s) { return nl::bomCsv(s).size(); }
size_t netlist(const nl::Schematic& s) { return nl::netlistText(s).size(); }

void BM_ErcLarge(benchmark::State& st) { runOn(st, &large(), erc); }
void BM_JsonDumpLarge(benchmark::State& st) { runOn(st, &large(), jsonDump); }
void BM_JsonBuildLarge(benchmark::State& st) { runOn(st, &large(), jsonBuild); }
void BM_JsonTreeDumpLarge(benchmark::State& st) { runOn(st, &large(), jsonTreeDump); }
void BM_BomLarge(benchmark::State& st) { runOn(st, &large(), bom); }
void BM_NetlistLarge(benchmark::State& st) { runOn(st, &large(), netlist); }
void BM_ErcVideo(benchmark::State& st) { runOn(st, video(), erc); }
void BM_JsonDumpVideo(benchmark::State& st) { runOn(st, video(), jsonDump); }
void BM_BomVideo(benchmark::State& st) { runOn(st, video(), bom); }
void BM_NetlistVideo(benchmark::State& st) { runOn(st, video(), netlist); }
void BM_ErcNamed(benchmark::State& st) { runOn(st, named(), erc); }
void BM_JsonDumpNamed(benchmark::State& st) { runOn(st, named(), jsonDump); }

}  // namespace

BENCHMARK(BM_ErcLarge)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_JsonDumpLarge)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_JsonBuildLarge)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_JsonTreeDumpLarge)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BomLarge)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_NetlistLarge)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ErcVideo)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_JsonDumpVideo)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BomVideo)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_NetlistVideo)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ErcNamed)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_JsonDumpNamed)->Unit(benchmark::kMillisecond);

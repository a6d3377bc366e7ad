// Speed of the design questions once a design is open: summary, search,
// neighbours of the busiest part, power rails and a trace across the whole
// design. Each should grow about linearly with the design; the Arg is the
// number of placed symbols, so doubling it should roughly double the time.
#include <benchmark/benchmark.h>

#include <array>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <string>

#include "analysis/lookup.h"
#include "analysis/overview.h"
#include "analysis/trace.h"
#include "open/schematic_open.h"

namespace {

using nl::Schematic;

struct Builder {
    Schematic s;
    int net(const std::string& name, bool power = false) {
        nl::Net n;
        n.name = name;
        n.name_source = power ? "power" : (name.rfind("Net-", 0) == 0 ? "auto" : "label");
        n.power = power;
        n.sheets = {static_cast<int>(s.nets.size() / 5000) % static_cast<int>(s.sheets.size())};
        s.nets.push_back(n);
        return static_cast<int>(s.nets.size()) - 1;
    }
    int part(const std::string& ref, const std::string& value, int pins) {
        nl::Component c;
        c.reference = ref;
        c.value = value;
        c.lib_id = "Lib:" + value;
        c.footprint = "Package:" + value;
        c.sheet = static_cast<int>(s.components.size() / 25000) % static_cast<int>(s.sheets.size());
        c.position = {static_cast<double>(s.components.size() % 400) * 5,
                      static_cast<double>(s.components.size() / 400)};
        for (int i = 0; i < pins; ++i) {
            nl::Pin p;
            p.number = std::to_string(i + 1);
            p.name = i == 0 ? "GND" : i == 1 ? "VCC" : "P" + std::to_string(i + 1);
            p.type = i < 2 ? "power_in" : "bidirectional";
            p.position = {c.position.x + i, c.position.y};
            c.pins.push_back(p);
        }
        s.components.push_back(std::move(c));
        return static_cast<int>(s.components.size()) - 1;
    }
    void connect(int c, int pin, int n) {
        s.components[c].pins[pin].net = n;
        s.nets[n].pins.emplace_back(c, pin);
    }
};

// Cells of five symbols: an 8-pin IC on the GND and VCC rails, a resistor
// chaining this cell's signal net to the next cell's, a decoupling capacitor,
// a series resistor to a labelled net, and a power symbol on every tenth cell
// (a plain test point otherwise). The resistor chain runs across the design.
std::shared_ptr<Schematic> generatedDesign(int symbols) {
    Builder b;
    b.s.title = "Generated";
    b.s.format = "kicad";
    b.s.sheets.resize(2);
    b.s.sheets[0].name = "Root";
    b.s.sheets[1].name = "Second";
    const int gnd = b.net("GND", true), vcc = b.net("VCC", true);
    const int cells = symbols / 5;
    int chain = b.net("Net-(R0-Pad1)");
    for (int i = 0; i < cells; ++i) {
        const std::string n = std::to_string(i);
        const int sig = b.net("SIG" + n), next = b.net("Net-(RC" + n + "-Pad2)");
        const int u = b.part("U" + n, i % 7 ? "MCU" + n : "AMS1117", 8);
        b.connect(u, 0, gnd);
        b.connect(u, 1, vcc);
        b.connect(u, 2, chain);
        b.connect(u, 3, sig);
        const int rc = b.part("RC" + n, "10k", 2);
        b.connect(rc, 0, chain);
        b.connect(rc, 1, next);
        const int c = b.part("C" + n, "100n", 2);
        b.connect(c, 0, next);
        b.connect(c, 1, gnd);
        const int rs = b.part("RS" + n, "33", 2);
        b.connect(rs, 0, next);
        b.connect(rs, 1, sig);
        if (i % 10 == 0) {
            const int p = b.part("#PWR" + n, "GND", 1);
            b.s.components[p].power_symbol = true;
            b.connect(p, 0, gnd);
        } else {
            b.connect(b.part("TP" + n, "TestPoint", 1), 0, sig);
        }
        if (i % 50 == 0) b.s.texts.push_back({"note " + n, {1, 1}, 0, 1.27, 0, -1, 1});
        chain = next;
    }
    return std::make_shared<Schematic>(std::move(b.s));
}

const Schematic& design(int symbols) {
    static std::map<int, std::shared_ptr<Schematic>> cache;
    auto& d = cache[symbols];
    if (!d) d = generatedDesign(symbols);
    return *d;
}

void setCounters(benchmark::State& state, const Schematic& s) {
    size_t pins = 0;
    for (const nl::Component& c : s.components) pins += c.pins.size();
    state.counters["symbols"] = static_cast<double>(s.components.size());
    state.counters["pins"] = static_cast<double>(pins);
    state.counters["ns_per_pin"] = benchmark::Counter(
        static_cast<double>(pins), benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

int busiestPart(const Schematic& s) {
    size_t best = 0;
    int at = 0;
    for (int i = 0; i < static_cast<int>(s.components.size()); ++i) {
        size_t n = 0;
        for (const nl::Pin& p : s.components[i].pins)
            if (p.net >= 0) n += s.nets[p.net].pins.size();
        if (n > best) best = n, at = i;
    }
    return at;
}

void BM_Summary(benchmark::State& state) {
    const Schematic& s = design(static_cast<int>(state.range(0)));
    for (auto _ : state) benchmark::DoNotOptimize(nl::schematicSummary(s, 200));
    setCounters(state, s);
}

// A query that matches almost nothing scans every component, net, text and pin.
void BM_SearchRare(benchmark::State& state) {
    const Schematic& s = design(static_cast<int>(state.range(0)));
    for (auto _ : state) benchmark::DoNotOptimize(nl::searchSchematic(s, "AMS1117-X", 100));
    setCounters(state, s);
}

// Every part has a GND pin or sits near one: the pin pass yields many hits.
void BM_SearchPins(benchmark::State& state) {
    const Schematic& s = design(static_cast<int>(state.range(0)));
    size_t hits = 0;
    for (auto _ : state) hits = nl::searchSchematic(s, "vcc", 1 << 30).size();
    state.counters["hits"] = static_cast<double>(hits);
    setCounters(state, s);
}

void BM_NeighboursOfBusiestPart(benchmark::State& state) {
    const Schematic& s = design(static_cast<int>(state.range(0)));
    const int k = busiestPart(s);
    size_t n = 0;
    for (auto _ : state) n = nl::componentNeighbours(s, k).size();
    state.counters["neighbours"] = static_cast<double>(n);
    setCounters(state, s);
}

void BM_PowerRails(benchmark::State& state) {
    const Schematic& s = design(static_cast<int>(state.range(0)));
    for (auto _ : state) benchmark::DoNotOptimize(nl::powerRails(s));
    setCounters(state, s);
}

// From the first cell to the last along the resistor chain: every net is
// visited once and the path has one hop per cell.
void BM_TraceAcrossDesign(benchmark::State& state) {
    const Schematic& s = design(static_cast<int>(state.range(0)));
    nl::TraceOptions options;
    options.max_depth = 1 << 30;
    const std::string to = "RC" + std::to_string(s.components.size() / 5 - 1) + ".2";
    size_t hops = 0;
    for (auto _ : state) {
        nl::TraceResult r = nl::tracePath(s, "U0.3", to, options);
        if (!r.found) state.SkipWithError("no path across the design");
        hops = r.hops.size();
    }
    state.counters["hops"] = static_cast<double>(hops);
    setCounters(state, s);
}

// Resolving a late net name and describing a busy net.
void BM_ResolveAndDescribe(benchmark::State& state) {
    const Schematic& s = design(static_cast<int>(state.range(0)));
    const std::string target = "sig" + std::to_string(s.components.size() / 5 - 1);
    for (auto _ : state) {
        std::vector<int> nets;
        std::string label;
        nl::resolveTarget(s, target, nets, label);
        benchmark::DoNotOptimize(nl::describeNet(s, 0, "verbose"));
    }
    setCounters(state, s);
}

#define SIZES ->Arg(12500)->Arg(25000)->Arg(50000)->Unit(benchmark::kMillisecond)
BENCHMARK(BM_Summary) SIZES;
BENCHMARK(BM_SearchRare) SIZES;
BENCHMARK(BM_SearchPins) SIZES;
BENCHMARK(BM_NeighboursOfBusiestPart) SIZES;
BENCHMARK(BM_PowerRails) SIZES;
BENCHMARK(BM_TraceAcrossDesign) SIZES;
BENCHMARK(BM_ResolveAndDescribe) SIZES;

// The 50,000-symbol file of tools/gen_design.py (shared with the opening
// benchmark through the temporary directory; run from the repository root).
// VCC to GND crosses every cell: each resistor leads to a cell net, each
// capacitor on to GND, so the search visits the whole design.
const Schematic* generatedFile() {
    static std::shared_ptr<Schematic> s = [] {
        const std::filesystem::path path = std::filesystem::temp_directory_path() / "netloom_gen_50000.kicad_sch";
        if (!std::filesystem::exists(path) && std::filesystem::exists("tools/gen_design.py")) {
            const std::string cmd = "python3 tools/gen_design.py --symbols 50000 --out '" + path.string() + "'";
            if (std::system(cmd.c_str()) != 0) std::filesystem::remove(path);
        }
        std::string error;
        return std::filesystem::exists(path) ? nl::openSchematicFile(path.string(), &error) : nullptr;
    }();
    return s.get();
}

void BM_GeneratedFile50k(benchmark::State& state) {
    const Schematic* s = generatedFile();
    if (!s) {
        state.SkipWithError("tools/gen_design.py output not available");
        return;
    }
    const int k = busiestPart(*s);
    for (auto _ : state) {
        switch (state.range(0)) {
            case 0:
                benchmark::DoNotOptimize(nl::schematicSummary(*s, 200));
                break;
            case 1:
                benchmark::DoNotOptimize(nl::searchSchematic(*s, "N49", 1 << 30));
                break;
            case 2:
                benchmark::DoNotOptimize(nl::componentNeighbours(*s, k));
                break;
            case 3:
                benchmark::DoNotOptimize(nl::powerRails(*s));
                break;
            default:
                if (!nl::tracePath(*s, "net:VCC", "net:GND", nl::TraceOptions{}).found)
                    state.SkipWithError("VCC does not reach GND");
        }
    }
    state.SetLabel(std::array<const char*, 5>{"summary", "search", "neighbours", "power rails",
                                              "trace VCC-GND"}[static_cast<size_t>(state.range(0))]);
    setCounters(state, *s);
}
BENCHMARK(BM_GeneratedFile50k)->DenseRange(0, 4)->Unit(benchmark::kMillisecond);

// The largest KiCad demo, when installed: every question once per iteration.
void BM_VideoDemoQueries(benchmark::State& state) {
    const std::string path = "/usr/share/kicad/demos/video/video.kicad_sch";
    if (!std::filesystem::exists(path)) {
        state.SkipWithError("video demo not installed");
        return;
    }
    std::string error;
    static std::shared_ptr<Schematic> s = nl::openSchematicFile(path, &error);
    if (!s || s->components.empty() || s->nets.empty()) {
        state.SkipWithError("video demo did not open");
        return;
    }
    const int k = busiestPart(*s);
    const std::string from = s->nets.front().name, to = s->nets.back().name;
    for (auto _ : state) {
        benchmark::DoNotOptimize(nl::schematicSummary(*s, 200));
        benchmark::DoNotOptimize(nl::searchSchematic(*s, "gnd", 1000));
        benchmark::DoNotOptimize(nl::componentNeighbours(*s, k));
        benchmark::DoNotOptimize(nl::powerRails(*s));
        benchmark::DoNotOptimize(nl::tracePath(*s, "net:" + from, "net:" + to, nl::TraceOptions{}));
    }
    setCounters(state, *s);
}
BENCHMARK(BM_VideoDemoQueries)->Unit(benchmark::kMicrosecond);

}  // namespace

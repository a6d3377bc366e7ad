// Eagle opening speed on the largest design of the shared corpus: the XML parse
// alone, the whole load with warm memory, and one cold load as a fresh process
// sees it (run it alone: --benchmark_filter=EagleColdLoad).
#include <benchmark/benchmark.h>

#include <filesystem>
#include <string>

#include "base/file_io.h"
#include "formats/eagle_loader.h"
#include "readers/xml.h"

namespace {

// The largest .sch under the shared corpus, or empty when there is none.
std::string largestDesign() {
    namespace fs = std::filesystem;
    // The build passes absolute source paths, so the repository is two levels above this file.
    const fs::path dir = fs::path(__FILE__).parent_path().parent_path() / "../shared/corpus/eagle";
    std::string best;
    uintmax_t bestSize = 0;
    std::error_code ec;
    if (!fs::is_directory(dir, ec)) return best;
    for (const auto& e : fs::recursive_directory_iterator(dir, ec))
        if (e.path().extension() == ".sch" && e.file_size(ec) > bestSize) {
            bestSize = e.file_size(ec);
            best = e.path().string();
        }
    return best;
}

const std::string& design() {
    static const std::string path = largestDesign();
    return path;
}

bool readDesign(benchmark::State& state, nl::FileData& data) {
    if (design().empty() || !nl::readWholeFile(design(), data)) {
        state.SkipWithError("no Eagle corpus design found");
        return false;
    }
    state.SetLabel(std::filesystem::path(design()).filename().string());
    return true;
}

void EagleXmlParse(benchmark::State& state) {
    nl::FileData data;
    if (!readDesign(state, data)) return;
    size_t elements = 0, treeBytes = 0;
    for (auto _ : state) {
        nl::XmlDocument d = nl::parseXml(data.owner, data.bytes);
        elements = d.elementCount();
        treeBytes = d.memoryBytes();
        benchmark::DoNotOptimize(d);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * data.bytes.size()));
    state.counters["elements"] = static_cast<double>(elements);
    state.counters["tree_per_file"] = static_cast<double>(treeBytes) / static_cast<double>(data.bytes.size());
}
BENCHMARK(EagleXmlParse)->Unit(benchmark::kMillisecond);

void EagleLoad(benchmark::State& state) {
    nl::FileData data;
    if (!readDesign(state, data)) return;
    size_t components = 0, nets = 0;
    for (auto _ : state) {
        std::string error;
        auto s = nl::loadEagleSchematic(data.bytes, design(), &error);
        if (!s) {
            state.SkipWithError(error.c_str());
            return;
        }
        components = s->components.size();
        nets = s->nets.size();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * data.bytes.size()));
    state.counters["components"] = static_cast<double>(components);
    state.counters["nets"] = static_cast<double>(nets);
}
BENCHMARK(EagleLoad)->Unit(benchmark::kMillisecond);

// Reading the file and loading it once, with no memory reused from earlier loads:
// what opening costs a fresh process.
void EagleColdLoad(benchmark::State& state) {
    for (auto _ : state) {
        nl::FileData data;
        if (!readDesign(state, data)) return;
        std::string error;
        auto s = nl::loadEagleSchematic(data.bytes, design(), &error);
        benchmark::DoNotOptimize(s);
    }
}
BENCHMARK(EagleColdLoad)->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(1);

}  // namespace

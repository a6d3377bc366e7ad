#include "open/schematic_open.h"

#include <new>
#include <stdexcept>
#include <vector>

#include "base/file_io.h"
#include "base/heap_reserve.h"
#include "connectivity/net_builder.h"
#include "formats/eagle_loader.h"
#include "formats/kicad_loader.h"
#include "model/load_budget.h"
#include "readers/sexpr.h"

namespace nl {

namespace {

constexpr size_t kSniffBytes = 512;

void fail(std::string* error, std::string message) {
    if (error) *error = std::move(message);
}

// Keeps the records that pass `keep`, in order; `index[i]` becomes the new
// index of record i, or -1.
template <typename T, typename Keep>
void keepIf(std::vector<T>& items, std::vector<int>& index, Keep keep) {
    index.assign(items.size(), -1);
    size_t kept = 0;
    for (size_t i = 0; i < items.size(); ++i)
        if (keep(items[i])) {
            index[i] = static_cast<int>(kept);
            if (kept != i) items[kept] = std::move(items[i]);
            ++kept;
        }
    items.resize(kept);
}

template <typename T, typename Keep>
size_t keepIf(std::vector<T>& items, Keep keep) {
    const size_t before = items.size();
    std::erase_if(items, [&](const T& item) { return !keep(item); });
    return before - items.size();
}

// Leaves out what lies beyond any drawing (a coordinate of 1e308, say): no
// grid, box or picture can be made over it. Runs before the nets are built,
// so only sheet pins refer to other records yet. Returns how many items went.
size_t dropFarItems(Schematic& s) {
    auto nearGraphic = [](const GraphicItem& g) { return !farOff(g); };
    size_t dropped = 0;
    dropped += keepIf(s.wires, [](const Wire& w) { return !farOff(w.a) && !farOff(w.b) && !farOff(w.width); });
    dropped += keepIf(s.junctions, [](const Junction& j) { return !farOff(j.position); });
    dropped += keepIf(s.no_connects, [](const NoConnect& n) { return !farOff(n.position); });
    dropped += keepIf(s.bus_entries, [](const BusEntry& b) { return !farOff(b.position) && !farOff(b.size); });
    dropped += keepIf(s.texts, [](const TextItem& t) { return !farOff(t.position) && !farOff(t.size); });
    dropped += keepIf(s.graphics, nearGraphic);
    dropped += keepIf(s.components, [](const Component& c) { return !farOff(c.position); });
    for (Component& c : s.components) {
        dropped += keepIf(c.graphics, nearGraphic);
        dropped += keepIf(c.fields, nearGraphic);
        dropped += keepIf(c.pins, [](const Pin& p) { return !farOff(p.position) && !farOff(p.end); });
    }
    std::vector<int> symbolIndex, labelIndex;
    size_t before = s.sheet_symbols.size();
    keepIf(s.sheet_symbols, symbolIndex, [](const SheetSymbol& m) { return !farOff(m.position) && !farOff(m.size); });
    dropped += before - s.sheet_symbols.size();
    before = s.labels.size();
    keepIf(s.labels, labelIndex, [&](const Label& l) {
        return !farOff(l.position) && !farOff(l.size) && (l.sheet_symbol < 0 || symbolIndex[l.sheet_symbol] >= 0);
    });
    dropped += before - s.labels.size();
    for (Label& l : s.labels)
        if (l.sheet_symbol >= 0) l.sheet_symbol = symbolIndex[l.sheet_symbol];
    for (SheetSymbol& m : s.sheet_symbols) {
        std::vector<int> pins;
        for (int li : m.pins)
            if (li >= 0 && li < static_cast<int>(labelIndex.size()) && labelIndex[li] >= 0)
                pins.push_back(labelIndex[li]);
        m.pins = std::move(pins);
    }
    return dropped;
}

// `file`, when given, holds `text`: it is let go as soon as the design no longer points into it.
std::shared_ptr<Schematic> loadKicad(std::string_view text, FileData* file, const std::string& path,
                                     std::string* error) {
    try {
        auto s = std::make_shared<Schematic>();
        s->format = "kicad";
        s->path = path;
        const size_t cut = path.find_last_of("/\\");
        Sheet root;
        root.name = "Root";
        root.file = cut == std::string::npos ? path : path.substr(cut + 1);
        s->sheets.push_back(root);
        LoadBudget budget(text.size());
        {
            // What only loading needs (the outline, the instance tables, the sub-sheet files) ends with this block.
            KicadLoadContext ctx;
            ctx.schematic = s.get();
            ctx.budget = &budget;
            ctx.root_dir = cut == std::string::npos ? std::string() : path.substr(0, cut + 1);

            SExprOutline outline;
            try {
                // The caller keeps `text` alive for the whole load, so the outline may point into it.
                outline = outlineSExpr(nullptr, text);
            } catch (const std::runtime_error& e) {
                fail(error, std::string("Parse error: ") + e.what());
                return nullptr;
            }
            if (outline.root().head() != "kicad_sch") {
                fail(error, "Not a KiCad schematic (expected (kicad_sch ...))");
                return nullptr;
            }
            loadKicadSheetItems(ctx, outline, path, 0);
        }
        if (file) *file = FileData();
        if (budget.exceeded) {
            fail(error, budget.message());
            return nullptr;
        }
        if (s->title.empty()) s->title = s->sheets[0].file;
        if (const size_t far = dropFarItems(*s)) s->warnings.push_back(farItemsWarning(far));
        computeComponentBounds(*s);
        buildNets(*s, &budget);
        if (budget.exceeded) {
            fail(error, budget.message());
            return nullptr;
        }
        computeSheetExtents(*s);
        return s;
    } catch (const std::bad_alloc&) {
        fail(error, "Out of memory while loading " + path);
        return nullptr;
    }
}

std::shared_ptr<Schematic> loadText(std::string_view text, FileData* file, const std::string& path,
                                    std::string* error) {
    // A byte-order mark and blank lines before the first element do not count
    // against the bytes looked at.
    size_t lead = text.substr(0, 3) == "\xEF\xBB\xBF" ? 3 : 0;
    while (lead < text.size() && (text[lead] == ' ' || (text[lead] >= '\t' && text[lead] <= '\r'))) ++lead;
    const std::string_view head = text.substr(lead, kSniffBytes);
    auto has = [&](std::string_view marker) { return head.find(marker) != std::string_view::npos; };
    if (has("(kicad_sch")) return loadKicad(text, file, path, error);
    if (has("<eagle") || has("<?xml")) return loadEagleSchematic(text, path, error);
    if (has("EESchema Schematic File")) {
        fail(error, "Legacy KiCad 5 .sch files are not supported yet. Open it in KiCad 6+ and save it as .kicad_sch.");
        return nullptr;
    }
    fail(error, "Unrecognised schematic format (expected KiCad .kicad_sch or Eagle XML .sch)");
    return nullptr;
}

}  // namespace

std::shared_ptr<Schematic> openSchematicFile(const std::string& path, std::string* error) {
    FileData data;
    FileError failure;
    if (!readWholeFile(path, data, &failure)) {
        fail(error, "Cannot read file: " + path + " (" + failure.reason + ")");
        return nullptr;
    }
    expectHeapGrowth(data.bytes.size() * kHeapPerFileByte);
    // A file that shrinks while it is mapped reads as zeros past its new end; the
    // load is then refused rather than trusted.
    const size_t faults = mappedFileFaults();
    std::shared_ptr<Schematic> s = loadText(data.bytes, &data, path, error);
    if (s && mappedFileFaults() != faults) {
        fail(error, "Cannot read file: " + path + " (a file of the design shrank while it was being read)");
        return nullptr;
    }
    return s;
}

std::shared_ptr<Schematic> loadSchematicText(std::string_view text, const std::string& path, std::string* error) {
    return loadText(text, nullptr, path, error);
}

std::shared_ptr<Schematic> loadKicadSchematic(std::string_view text, const std::string& path, std::string* error) {
    return loadKicad(text, nullptr, path, error);
}

std::shared_ptr<Schematic> loadSampleSchematic() {
    auto s = loadKicadSchematic(sampleSchematicText(), "<built-in sample>/555_blinker.kicad_sch", nullptr);
    if (s) s->path = "<built-in sample>";
    return s;
}

}  // namespace nl

#include "open/schematic_open.h"

#include <new>
#include <stdexcept>

#include "base/file_io.h"
#include "base/heap_reserve.h"
#include "connectivity/net_builder.h"
#include "formats/eagle_loader.h"
#include "formats/kicad_loader.h"
#include "readers/sexpr.h"

namespace nl {

namespace {

constexpr size_t kSniffBytes = 512;

void fail(std::string* error, std::string message) {
    if (error) *error = std::move(message);
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
    // `data` keeps the bytes mapped for the whole load.
    const size_t faults = mappedFileFaults();
    std::shared_ptr<Schematic> s = loadSchematicText(data.bytes, path, error);
    if (s && mappedFileFaults() != faults) {
        fail(error, "Cannot read file: " + path + " (a file of the design shrank while it was being read)");
        return nullptr;
    }
    return s;
}

std::shared_ptr<Schematic> loadSchematicText(std::string_view text, const std::string& path, std::string* error) {
    // A byte-order mark and blank lines before the first element do not count
    // against the bytes looked at.
    size_t lead = text.substr(0, 3) == "\xEF\xBB\xBF" ? 3 : 0;
    while (lead < text.size() && (text[lead] == ' ' || (text[lead] >= '\t' && text[lead] <= '\r'))) ++lead;
    const std::string_view head = text.substr(lead, kSniffBytes);
    auto has = [&](std::string_view marker) { return head.find(marker) != std::string_view::npos; };
    if (has("(kicad_sch")) return loadKicadSchematic(text, path, error);
    if (has("<eagle") || has("<?xml")) return loadEagleSchematic(text, path, error);
    if (has("EESchema Schematic File")) {
        fail(error, "Legacy KiCad 5 .sch files are not supported yet. Open it in KiCad 6+ and save it as .kicad_sch.");
        return nullptr;
    }
    fail(error, "Unrecognised schematic format (expected KiCad .kicad_sch or Eagle XML .sch)");
    return nullptr;
}

std::shared_ptr<Schematic> loadKicadSchematic(std::string_view text, const std::string& path, std::string* error) {
    try {
        auto s = std::make_shared<Schematic>();
        s->format = "kicad";
        s->path = path;
        const size_t cut = path.find_last_of("/\\");
        Sheet root;
        root.name = "Root";
        root.file = cut == std::string::npos ? path : path.substr(cut + 1);
        s->sheets.push_back(root);

        KicadLoadContext ctx;
        ctx.schematic = s.get();
        ctx.root_dir = cut == std::string::npos ? std::string() : path.substr(0, cut + 1);

        SExprTree tree;
        try {
            // The caller keeps `text` alive for the whole load, so the tree may point into it.
            tree = parseSExpr(nullptr, text);
        } catch (const std::runtime_error& e) {
            fail(error, std::string("Parse error: ") + e.what());
            return nullptr;
        }
        if (tree.root().head() != "kicad_sch") {
            fail(error, "Not a KiCad schematic (expected (kicad_sch ...))");
            return nullptr;
        }
        loadKicadSheetTree(ctx, tree.root(), path, 0);
        if (s->title.empty()) s->title = s->sheets[0].file;
        computeComponentBounds(*s);
        buildNets(*s);
        computeSheetExtents(*s);
        return s;
    } catch (const std::bad_alloc&) {
        fail(error, "Out of memory while loading " + path);
        return nullptr;
    }
}

std::shared_ptr<Schematic> loadSampleSchematic() {
    auto s = loadKicadSchematic(sampleSchematicText(), "<built-in sample>/555_blinker.kicad_sch", nullptr);
    if (s) s->path = "<built-in sample>";
    return s;
}

}  // namespace nl

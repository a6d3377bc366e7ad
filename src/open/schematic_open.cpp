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
        {
            // What only loading needs (the outline, the instance tables) ends with this block.
            KicadLoadContext ctx;
            ctx.schematic = s.get();
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

std::shared_ptr<Schematic> loadText(std::string_view text, FileData* file, const std::string& path,
                                    std::string* error) {
    const std::string_view head = text.substr(0, kSniffBytes);
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
    if (!readWholeFile(path, data)) {
        fail(error, "Cannot read file: " + path);
        return nullptr;
    }
    expectHeapGrowth(data.bytes.size() * kHeapPerFileByte);
    return loadText(data.bytes, &data, path, error);
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

// Reading KiCad 6+ sheet files (.kicad_sch) into a Schematic, following sheet
// symbols into their sub-sheet files. Geometry is taken as written; placed
// symbols are drawn from the embedded library; connectivity is left to the
// net builder. Problems inside the design become warnings, never failures.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "model/load_budget.h"
#include "model/model.h"
#include "readers/sexpr.h"

namespace nl {

// Reference and unit a design records for one symbol at one instance path.
struct KicadInstance {
    std::string_view reference;
    int unit = 0;  // 0 = not recorded
};

// The root's symbol_instances table (KiCad 6): whole instance paths
// ("/<sheet uuid>.../<symbol uuid>") with their reference and unit, looked up
// by the whole path or by the symbol uuid (the path's last step). A big design
// lists every placed symbol here, so the rows share one text buffer and are
// found through two hash indexes of row numbers; of rows with the same key,
// the last one added counts.
class KicadInstanceTable {
public:
    void reserve(size_t rows, size_t text_bytes);
    void add(std::string_view path, std::string_view reference, int unit);
    bool empty() const { return rows_.empty(); }
    std::optional<KicadInstance> byPath(std::string_view path) const;
    std::optional<std::string_view> referenceOf(std::string_view symbol_uuid) const;

private:
    struct Row {
        uint32_t path, path_size, uuid_size, reference, reference_size;
        int unit;
    };
    std::string_view pathOf(const Row& r) const { return std::string_view(text_).substr(r.path, r.path_size); }
    std::string_view uuidOf(const Row& r) const {
        return std::string_view(text_).substr(r.path + r.path_size - r.uuid_size, r.uuid_size);
    }
    // Open addressing over row number + 1 (0 = empty slot).
    struct Index {
        std::vector<uint32_t> slots;
        size_t used = 0;
    };
    // The slot holding `key`, or the empty slot where it would go.
    template <typename Key>
    size_t slotOf(const Index& index, std::string_view key, Key keyOf) const;
    template <typename Key>
    void enter(Index& index, uint32_t row, Key keyOf);
    std::string text_;
    std::vector<Row> rows_;  // in the order added
    Index by_path_, by_uuid_;
};

// A sub-sheet file, read and outlined once however many sheet symbols use it.
// Large files are let go after each of their first few uses (memory counts
// more than a second read) and only what they cost is remembered.
struct KicadSheetFile {
    std::shared_ptr<const SExprOutline> outline;  // null when the file did not parse or was let go
    std::string error;                            // the parser's message when it did not parse
    size_t records = 0;                           // what one copy makes, placed symbols aside
    size_t bytes = 0;                             // size of the file
    int uses = 0;                                 // sheets loaded from it so far
    // Once a file has been used often, its items stay parsed and each placed
    // symbol's instance paths are indexed: parsing the file and scanning every
    // symbol's list of instances once per use would make N uses cost N squared.
    struct Item {
        std::shared_ptr<const SExprTree> tree;
        std::unordered_map<std::string_view, SExpr> paths;  // instance path -> its (path ...) entry
    };
    std::vector<Item> items;  // by item index; empty until then
};

// One per opened design, alive for the duration of the load.
struct KicadLoadContext {
    Schematic* schematic = nullptr;
    std::string root_dir;   // directory of the root file, with its trailing separator
    std::string root_uuid;  // top-level uuid of the root file
    // From the root's symbol_instances (KiCad 6).
    KicadInstanceTable instances;
    int depth = 0;  // sub-sheet loads in progress

    // Instance path of the sheet being read: "/" + root uuid, then one
    // "/" + sheet-symbol uuid per level.
    std::string instance_path;
    // Normalised paths of the files being read, root first (recursion guard).
    std::vector<std::string> open_files;
    // Library symbols embedded in the sheet file being read: name -> index into
    // lib_symbols. A placed symbol is drawn only from its own file's copy.
    std::map<std::string, int, std::less<>> file_symbols;
    // Every distinct embedded copy read so far, by name.
    std::map<std::string, std::vector<int>, std::less<>> symbol_copies;
    size_t sheet_bytes = 0;  // bytes of sub-sheet files read so far
    bool sheet_limit_warned = false;
    // What the load may still create; none means no limit.
    LoadBudget* budget = nullptr;
    // The sheet file being read, when it is a sub-sheet file (null for the root).
    KicadSheetFile* sheet_file = nullptr;
    // The instance paths of the symbol being placed, when its file indexes them.
    const std::unordered_map<std::string_view, SExpr>* symbol_paths = nullptr;
    // Each sub-sheet file is read and parsed once, however many sheet symbols
    // use it; by normalised path.
    std::map<std::string, KicadSheetFile> sheet_files;
};

// Reads the sheet file whose content is `text` as sheet `sheet_index` (already
// appended to context.schematic->sheets).
void loadKicadSheet(KicadLoadContext& context, std::string_view text, const std::string& path, int sheet_index);
// The same from the outline of the file (the root, which the caller has read already).
void loadKicadSheetItems(KicadLoadContext& context, const SExprOutline& file, const std::string& path, int sheet_index);

// The whole file as bytes; `ok` is set only when it could be opened and read.
std::string readTextFile(const std::string& path, bool& ok);

// Decodes KiCad's brace tokens ({slash}, {colon}, {dblquote}, {bslash},
// {space}, {lbrace}, {rbrace}).
std::string unescapeKicadText(std::string_view text);

// Reads drawing items and pins of one library (sub-)symbol list, tagged with
// unit and body style, into `target`. Also used for sheet-level drawings.
void parseSymbolItems(SExpr list, int unit, int body_style, LibSymbol& target);

// Builds one Component from a placed `symbol` list and appends it.
void placeSymbol(KicadLoadContext& context, SExpr list, int sheet_index);

// (x, y) of numbers 1 and 2 of the named child list; (0, 0) when missing.
Point readXY(SExpr list, std::string_view name);
// Text attributes (font size, bold, justification, hidden) of an effects list.
void readEffects(SExpr effects, GraphicItem& target);
// Stroke width and fill of a drawing item.
void readStrokeFill(SExpr list, GraphicItem& target);
// True when the list holds a bare `hide`, or a `hide` child whose value is not "no".
bool isHiddenFlag(SExpr list);

// Unit and body style encoded in a sub-symbol name such as "R_1_1".
void subSymbolUnitStyle(std::string_view name, int& unit, int& body_style);

}  // namespace nl

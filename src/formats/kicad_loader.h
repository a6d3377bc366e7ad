// Reading KiCad 6+ sheet files (.kicad_sch) into a Schematic, following sheet
// symbols into their sub-sheet files. Geometry is taken as written; placed
// symbols are drawn from the embedded library; connectivity is left to the
// net builder. Problems inside the design become warnings, never failures.
#pragma once

#include <map>
#include <memory>
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
    std::string reference;
    int unit = 0;  // 0 = not recorded
};

// A parsed sub-sheet file.
struct KicadSheetFile {
    std::shared_ptr<const SExprTree> tree;  // null when the file did not parse
    std::string error;                      // the parser's message then
    size_t records = 0;                     // what one copy makes, placed symbols aside
};

// One per opened design, alive for the duration of the load.
struct KicadLoadContext {
    Schematic* schematic = nullptr;
    std::string root_dir;   // directory of the root file, with its trailing separator
    std::string root_uuid;  // top-level uuid of the root file
    // symbol uuid -> reference, from the root's symbol_instances (KiCad 6)
    std::map<std::string, std::string> instance_refs;
    // whole instance path ("/<sheet uuid>.../<symbol uuid>") -> reference and unit
    std::map<std::string, KicadInstance, std::less<>> instance_paths;
    int depth = 0;  // sub-sheet loads in progress

    // Instance path of the sheet being read: "/" + root uuid, then one
    // "/" + sheet-symbol uuid per level.
    std::string instance_path;
    // Normalised paths of the files being read, root first (recursion guard).
    std::vector<std::string> open_files;
    bool sheet_limit_warned = false;
    // What the load may still create; none means no limit.
    LoadBudget* budget = nullptr;
    // Each sub-sheet file is read and parsed once, however many sheet symbols
    // use it; by normalised path.
    std::map<std::string, KicadSheetFile> sheet_files;
    // The `instances` of a symbol in a sub-sheet, by the node of that list:
    // instance path -> its `path` list (made on first use).
    std::map<std::pair<const SExprTree*, uint32_t>, std::unordered_map<std::string_view, SExpr>> instance_lists;
};

// Reads the sheet file whose content is `text` as sheet `sheet_index` (already
// appended to context.schematic->sheets).
void loadKicadSheet(KicadLoadContext& context, std::string_view text, const std::string& path, int sheet_index);
// The same from a parsed tree (the root, which the caller has parsed already).
void loadKicadSheetTree(KicadLoadContext& context, SExpr root, const std::string& path, int sheet_index);

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

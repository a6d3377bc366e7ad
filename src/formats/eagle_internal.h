// Working state of one Eagle load, shared by the loader and the sheet/net reader.
// Everything is in Eagle's y-up millimetres until the loader's final flip.
#pragma once

#include <map>
#include <set>
#include <string>
#include <string_view>
#include <tuple>
#include <unordered_map>
#include <utility>
#include <vector>

#include "formats/eagle_loader.h"
#include "model/load_budget.h"
#include "model/model.h"
#include "readers/xml.h"

namespace nl {

struct EagleSymbol {
    std::vector<GraphicItem> graphics;
    std::vector<EagleRotation> rotations;  // each graphic's own rotation, spin and mirror flags included
    std::vector<EagleAlign> aligns;        // each graphic's alignment as written
    std::vector<LibPin> pins;              // unit 0, body style 0
};

// Appends the drawing items and pins of one `symbol` element to `target`.
void readEagleSymbol(XmlNode symbol, EagleSymbol& target);

// "Sheet N", or the sheet's description with white space runs made single blanks, cut to 40 bytes.
std::string eagleSheetName(XmlNode sheet, int sheetIndex);

// What Eagle's frame placeholders (>DRAWING_NAME, >SHEET, ...) stand for.
struct EagleFrameTexts {
    std::string drawing_name;  // the file name without its extension
    std::string modified;      // the file's modification time, "dd.mm.yyyy hh:mm"
    int sheets = 0;
};

// The text a frame placeholder key (without its '>') stands for on sheet index
// `sheet`; false for keys that are no frame placeholder.
bool eagleFrameText(const EagleFrameTexts& frame, std::string_view key, int sheet, std::string& out);

struct EagleLoad {
    Schematic& sch;
    EagleFrameTexts frame;
    // part name + 0x1F + gate name -> component index
    std::unordered_map<std::string, int> instances;
    std::map<std::pair<std::string, bool>, int> netsByName;  // (name, bus) -> net index
    std::set<std::tuple<int, int, int>> netPins;             // (net, component, pin) already listed
    LoadBudget& budget;
    // component -> pin name -> its pins, for parts with many pins (made on first use)
    std::unordered_map<int, std::unordered_map<std::string_view, std::vector<int>>> pinsByName = {};
};

inline std::string eagleInstanceKey(std::string_view part, std::string_view gate) {
    std::string key;
    key.reserve(part.size() + gate.size() + 1);
    key.append(part);
    key.push_back('\x1F');
    key.append(gate);
    return key;
}

// Appends the Sheet record of sheet index `s` and reads its free drawing (`plain`).
void readEagleSheet(EagleLoad& load, XmlNode sheet, int s);

// Reads the `net` (bus false) or `bus` (bus true) elements of `container` on
// sheet `s`; a null container does nothing.
void readEagleNets(EagleLoad& load, XmlNode container, std::string_view elementName, bool bus, int s);

}  // namespace nl

// Finding one's way around a design in the window: the hierarchical path of
// each sheet, and the places a search text names.
#pragma once

#include <string>
#include <vector>

#include "model/model.h"
#include "render/render.h"

namespace nl {

// "/" for the root, "/child/grandchild/" below it. Designs with several
// top-level sheets (Eagle) give each its own "/name/".
std::vector<std::string> sheetPaths(const Schematic& s);

// One place a search lands on: a sheet, the area to show and what to emphasise there.
struct FindHit {
    int sheet = 0;
    BBox area;
    Highlight highlight;
};

struct FindResult {
    bool ok = false;
    std::string label;  // what was found ("U1", "U1.3 (DIS)", "net GND"), or why not
    std::vector<FindHit> hits;
};

// Resolves `text` as the --net command resolves its target: a reference
// gives every unit of that part, a reference and pin ("U1.3") that pin, a
// net name every sheet the net runs on. `dim_others` goes into each highlight.
FindResult findInDesign(const Schematic& s, const std::string& text, bool dim_others);

}  // namespace nl

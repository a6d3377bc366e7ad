// Whole-design reports: bill of materials (CSV), plain-text netlist and the
// JSON forms of pins, components, nets and the complete design. Pure
// functions of a loaded, connected schematic; indices passed in must be valid.
#pragma once

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "model/model.h"

namespace nl {

// One BOM line: the components sharing value, footprint and library symbol.
struct BomGroup {
    std::string value;
    std::string footprint;
    std::string library;  // lib_id
    std::string description;
    std::vector<std::string> references;  // distinct, ascending byte order
};

// Power symbols, dnp, not-in-BOM and "#" references are left out; later units
// of a part already listed add nothing. Sorted by first reference.
std::vector<BomGroup> bomGroups(const Schematic& s);

// "Qty,References,Value,Footprint,Library,Description" and one line per group.
std::string bomCsv(const Schematic& s);

// Quoted (with doubled quotes) only when the text holds a comma, quote or line feed.
std::string csvField(const std::string& text);

// Header with counts, then each non-bus net and its non-power-symbol pins.
std::string netlistText(const Schematic& s);

nlohmann::json pinToJson(const Schematic& s, int component, int pin);
// `full` adds "unit" always, "properties", and the nets' "labels" and pin "kind".
nlohmann::json componentToJson(const Schematic& s, int component, bool full);
nlohmann::json netToJson(const Schematic& s, int net, bool full);
// The complete design, every component and net in full.
nlohmann::json schematicToJson(const Schematic& s);
// The same text as dumpJson(schematicToJson(s), indent), written one component
// and one net at a time so a large design's whole tree never exists at once.
std::string schematicJsonText(const Schematic& s, int indent);

}  // namespace nl

// Overview questions about a loaded design: the summary text, free-text
// search, one-hop neighbours of a component and the power rails.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "model/model.h"

namespace nl {

struct SearchHit {
    std::string kind;   // "component", "net", "text" or "pin"
    int32_t index = 0;  // component, net or text; for a pin, its component
    std::string title;
    std::string detail;
    int32_t sheet = 0;  // the sheet to show
    Point position;     // where to look on that sheet
};

struct Neighbour {
    int32_t net = -1;        // the shared net
    int32_t component = -1;  // the other component
    int32_t via_pin = -1;    // the queried component's pin on that net
    int32_t their_pin = -1;  // the other component's pin on that net
};

struct PowerRail {
    int32_t net = -1;
    std::string name;
    std::vector<std::pair<int32_t, int32_t>> sources;    // (component, pin)
    std::vector<std::pair<int32_t, int32_t>> consumers;  // (component, pin)
    int32_t pin_count = 0;
    int32_t sheet_count = 0;
};

// A few lines: title, format, counts, power rails, components and named
// signal nets; each list holds at most `limit` items.
std::string schematicSummary(const Schematic& s, int32_t limit);

// Components, then nets, then free texts, then pins named exactly `query`
// (ignoring case); at most about `limit` hits (a last component's pins may
// run past it).
std::vector<SearchHit> searchSchematic(const Schematic& s, const std::string& query, int32_t limit);

// One entry per (own pin, other component's pin) pair sharing a net.
std::vector<Neighbour> componentNeighbours(const Schematic& s, int component);

// Non-bus power nets with their source and consumer pins, most pins first.
std::vector<PowerRail> powerRails(const Schematic& s);

}  // namespace nl

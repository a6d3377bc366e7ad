// What changed electrically between two revisions of a design, whatever their
// formats: the parts added, removed or changed, and how the nets were rewired.
//
// Parts are matched by reference. Power symbols are not parts; the units of a
// multi-unit part are one part, described by its first unit.
//
// Nets are matched by the pins they hold, never by name: automatic names
// follow references, and a relabelled net is still the same wire. A pin is
// named as a board names its pad: reference and pin number (for Eagle, the
// pad). The rules, one side at a time and then across:
//
// 1. Pins of power symbols and pins without a number take no part. When one
//    pin identity lies on several nets of one design (the repeated pins of a
//    multi-unit part, or a reference used twice), those nets count as one: the
//    board has a single pad there.
// 2. A net is a group of at least two pins. A pin alone on its net counts as
//    unconnected, whatever the net is called.
// 3. An old and a new net are linked when a pin of a part present in both
//    designs lies on both. Linked nets form clusters.
// 4. In a cluster of one old and one new net, the pins of common parts that
//    lie on one side only are the pins that joined (new side) or left (old
//    side): they were unconnected before or are unconnected now, or the part's
//    symbol gained or lost that pin. With none, the net is unchanged, or renamed
//    when its name differs (a change between two automatic names does not
//    count). With some, the net changed.
// 5. Any larger cluster: an old net linked to several new nets is split, a new
//    net linked to several old nets is merged; a swap of two connections makes
//    both old nets split and both new nets merged. A pin that joined a new net
//    is listed with its merge, or else with the split part it joined; a pin
//    that left an old net is listed with its split, or else with the merge
//    part it came from.
// 6. An old net linked to nothing is removed, a new one added: all its pins
//    belong to parts on its side only, or all are unconnected on the other side.
// Pins of parts present on one side only never appear in joined, left, split
// or merged lists; the part lines already say it.
#pragma once

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "model/model.h"

namespace nl {

struct PinId {
    std::string ref;
    std::string pin;  // pin number; for Eagle, the pad
    bool operator==(const PinId&) const = default;
};

struct FieldChange {
    std::string field;  // "value", "footprint" or "library"
    std::string old_text;
    std::string new_text;
};

struct PartChange {
    std::string ref;
    std::string value, footprint, library;  // of an added or removed part
    std::vector<FieldChange> fields;        // of a changed part
};

// One net's share in a split (a new net and the old net's pins in it) or in a
// merge (an old net and its pins in the new one). `moved`: pins that joined
// this new net from no net, or left this old net for none.
struct NetPart {
    std::string name;
    std::vector<PinId> pins;
    std::vector<PinId> moved;
};

struct NetChange {
    std::string old_name;        // empty for an added net
    std::string new_name;        // empty for a removed net
    std::vector<PinId> pins;     // added and removed nets: all their pins
    std::vector<PinId> joined;   // changed and merged nets
    std::vector<PinId> left;     // changed and split nets
    std::vector<NetPart> parts;  // split: the new nets; merged: the old nets
};

struct DesignDiff {
    std::vector<PartChange> added_parts, removed_parts, changed_parts;
    std::vector<NetChange> renamed, changed, split, merged, added_nets, removed_nets;
    // Things that limit the comparison (other formats, references used twice).
    std::vector<std::string> notes;
    bool identical() const;
};

// Compares `before` with `after`. Every list is sorted: parts by reference,
// nets by name, pins by reference and number, digits compared as numbers.
// Library symbols and footprints are compared only between designs of one
// format; each format names them its own way.
DesignDiff diffDesigns(const Schematic& before, const Schematic& after);

// The command line's report: notes, then "Components:" and "Nets:" sections
// and the count line; only "No electrical differences." when identical.
std::string diffText(const DesignDiff& d);

// The same content as one object; every key is always present.
nlohmann::json diffToJson(const DesignDiff& d);

}  // namespace nl

#include "app/navigation.h"

#include <algorithm>
#include <deque>
#include <limits>
#include <map>

#include "analysis/lookup.h"
#include "base/text.h"

namespace nl {

namespace {

bool validSheet(const Schematic& s, int sheet) { return sheet >= 0 && sheet < static_cast<int>(s.sheets.size()); }

void addPoint(std::map<int, BBox>& areas, int sheet, Point p) { areas[sheet].add(p); }

FindResult netHits(const Schematic& s, int net, FindResult r, bool dim) {
    const Net& n = s.nets[net];
    std::map<int, BBox> areas;
    for (int w : n.wires)
        if (w >= 0 && w < static_cast<int>(s.wires.size())) {
            addPoint(areas, s.wires[w].sheet, s.wires[w].a);
            addPoint(areas, s.wires[w].sheet, s.wires[w].b);
        }
    for (const auto& [ci, pi] : n.pins)
        if (ci >= 0 && ci < static_cast<int>(s.components.size()) && pi >= 0 &&
            pi < static_cast<int>(s.components[ci].pins.size()))
            addPoint(areas, s.components[ci].sheet, s.components[ci].pins[pi].position);
    for (int l : n.labels)
        if (l >= 0 && l < static_cast<int>(s.labels.size())) addPoint(areas, s.labels[l].sheet, s.labels[l].position);
    for (int j : n.junctions)
        if (j >= 0 && j < static_cast<int>(s.junctions.size()))
            addPoint(areas, s.junctions[j].sheet, s.junctions[j].position);
    for (const auto& [sheet, area] : areas) {
        if (!validSheet(s, sheet)) continue;
        FindHit& hit = r.hits.emplace_back();
        hit.sheet = sheet, hit.area = area;
        hit.highlight.nets = {net};
        hit.highlight.dim_others = dim;
    }
    return r;
}

}  // namespace

std::vector<std::string> sheetPaths(const Schematic& s) {
    const int n = static_cast<int>(s.sheets.size());
    auto parentOf = [&](int i) {
        const int p = s.sheets[i].parent;
        return p >= 0 && p < n && p != i ? p : -1;
    };
    int roots = 0;
    for (int i = 0; i < n; ++i) roots += parentOf(i) < 0;
    std::vector<std::string> paths;
    for (int i = 0; i < n; ++i) {
        std::deque<const std::string*> names;
        int top = i;
        // Bounded, so that a damaged parent chain cannot loop.
        for (int j = i, steps = 0; j >= 0 && steps <= n; j = parentOf(j), ++steps) {
            names.push_front(&s.sheets[j].name);
            top = j;
        }
        // A design with a single root names it "/" and leaves it out of its children's paths.
        if (roots == 1 && parentOf(top) < 0) names.pop_front();
        // Shown as KiCad shows them: "{slash}" is the "/" a path cannot hold.
        std::string path = "/";
        for (const std::string* name : names) path += (s.format == "kicad" ? resolveKicadEscapes(*name) : *name) + "/";
        paths.push_back(path);
    }
    return paths;
}

FindResult findInDesign(const Schematic& s, const std::string& text, bool dim) {
    FindResult r;
    std::vector<int> nets;
    std::string error;
    if (!resolveTarget(s, text, nets, r.label, &error) || nets.empty()) {
        r.label = error;
        return r;
    }
    r.ok = true;
    const int net = nets[0];
    if (nets.size() == 1 && r.label == "net " + s.nets[net].name) return netHits(s, net, r, dim);

    // A part: every unit of it, outlined without dimming anything.
    for (size_t ci = 0; ci < s.components.size(); ++ci) {
        const Component& c = s.components[ci];
        if (c.reference != r.label || !validSheet(s, c.sheet)) continue;
        FindHit& hit = r.hits.emplace_back();
        hit.sheet = c.sheet, hit.area = c.bbox;
        hit.highlight.components = {static_cast<int32_t>(ci)};
        hit.highlight.dim_others = false;
    }
    if (!r.hits.empty()) return r;

    // A pin: the label is the reference, ".", the number, and maybe " (name)".
    for (size_t ci = 0; ci < s.components.size(); ++ci) {
        const Component& c = s.components[ci];
        if (!validSheet(s, c.sheet) || r.label.compare(0, c.reference.size() + 1, c.reference + ".") != 0) continue;
        for (size_t pi = 0; pi < c.pins.size(); ++pi) {
            const Pin& p = c.pins[pi];
            const std::string named = c.reference + "." + p.number;
            if (p.net != net || (r.label != named && r.label.rfind(named + " (", 0) != 0)) continue;
            FindHit& hit = r.hits.emplace_back();
            hit.sheet = c.sheet;
            hit.area.add(p.position);
            hit.area.add(p.end);
            hit.highlight.nets = {net};
            // Pin keys of very large designs do not fit the highlight's integers; the net still shows.
            const long long key = pinKey(static_cast<int>(ci), static_cast<int>(pi));
            if (key <= std::numeric_limits<int32_t>::max()) hit.highlight.pins = {static_cast<int32_t>(key)};
            hit.highlight.dim_others = dim;
        }
    }
    if (!r.hits.empty()) return r;
    return netHits(s, net, r, dim);
}

}  // namespace nl

#include "analysis/overview.h"

#include <algorithm>

#include "analysis/lookup.h"
#include "base/text.h"

namespace nl {

namespace {

void appendItem(std::string& list, size_t& count, const std::string& item) {
    if (count++) list += ", ";
    list += item;
}

}  // namespace

std::string schematicSummary(const Schematic& s, int32_t limit) {
    const size_t L = limit > 0 ? static_cast<size_t>(limit) : 0;
    std::string out = "Schematic: " + s.title;
    if (!s.company.empty()) out += " \xE2\x80\x94 " + s.company;
    if (!s.rev.empty()) out += " (rev " + s.rev + ")";

    out += "\nFormat: " + s.format + ". Sheets: " + std::to_string(s.sheets.size());
    if (s.sheets.size() > 1) {
        out += " (";
        for (size_t i = 0; i < s.sheets.size(); ++i) out += (i ? ", " : "") + s.sheets[i].name;
        out += ")";
    }
    size_t parts = 0;
    for (const Component& c : s.components)
        if (!c.power_symbol) ++parts;
    out += ". Components: " + std::to_string(parts) + ". Nets: " + std::to_string(s.nets.size()) + ".\n";

    std::string rails;
    size_t railCount = 0;
    bool anyPower = false;
    for (const Net& n : s.nets) {
        if (!n.power) continue;
        anyPower = true;
        if (railCount >= L) break;
        appendItem(rails, railCount, n.name + "(" + std::to_string(n.pins.size()) + " pins)");
    }
    if (anyPower) out += "Power rails: " + rails + "\n";

    out += "Components (ref: value [kind]): ";
    size_t listed = 0;
    for (const Component& c : s.components) {
        if (c.power_symbol || c.unit > 1) continue;
        if (listed >= L) {
            // The remainder counts every non-power component, units included.
            out += "... (+" + std::to_string(static_cast<long long>(parts) - static_cast<long long>(L)) +
                   " more, use list_components)";
            break;
        }
        appendItem(out, listed, c.reference + ": " + c.value + " [" + componentKind(c) + "]");
    }

    out += "\nNamed signal nets: ";
    size_t named = 0;
    for (const Net& n : s.nets) {
        if (n.power || n.bus || n.name_source == "auto") continue;
        if (named >= L) {
            out += "...";
            break;
        }
        appendItem(out, named, n.name);
    }
    out += "\n";
    return out;
}

std::vector<SearchHit> searchSchematic(const Schematic& s, const std::string& query, int32_t limit) {
    std::vector<SearchHit> hits;
    const std::string q = trim(query);
    if (q.empty()) return hits;
    const size_t N = limit > 0 ? static_cast<size_t>(limit) : 0;

    for (size_t i = 0; i < s.components.size() && hits.size() < N; ++i) {
        const Component& c = s.components[i];
        if (!containsNoCase(c.reference, q) && !containsNoCase(c.value, q) && !containsNoCase(c.footprint, q) &&
            !containsNoCase(c.description, q))
            continue;
        std::string detail = componentKind(c);
        if (!c.footprint.empty()) detail += "  " + c.footprint;
        hits.push_back(
            {"component", static_cast<int32_t>(i), c.reference + "  " + c.value, detail, c.sheet, c.position});
    }

    for (size_t i = 0; i < s.nets.size() && hits.size() < N; ++i) {
        const Net& n = s.nets[i];
        bool match = containsNoCase(n.name, q);
        for (size_t a = 0; !match && a < n.aliases.size(); ++a) match = containsNoCase(n.aliases[a], q);
        if (!match) continue;
        std::string detail = std::to_string(n.pins.size()) + " pins";
        if (n.power) detail += ", power";
        Point where;
        const auto validPin = [&](const std::pair<int, int>& e) {
            return e.first >= 0 && e.first < static_cast<int>(s.components.size()) && e.second >= 0 &&
                   e.second < static_cast<int>(s.components[e.first].pins.size());
        };
        if (!n.pins.empty() && validPin(n.pins[0]))
            where = s.components[n.pins[0].first].pins[n.pins[0].second].position;
        else if (!n.wires.empty() && n.wires[0] >= 0 && n.wires[0] < static_cast<int>(s.wires.size()))
            where = s.wires[n.wires[0]].a;
        hits.push_back(
            {"net", static_cast<int32_t>(i), "net " + n.name, detail, n.sheets.empty() ? 0 : n.sheets[0], where});
    }

    for (size_t i = 0; i < s.texts.size() && hits.size() < N; ++i) {
        const TextItem& t = s.texts[i];
        if (!containsNoCase(t.text, q)) continue;
        hits.push_back({"text", static_cast<int32_t>(i), "text: " + t.text.substr(0, 60), "", t.sheet, t.position});
    }

    for (size_t i = 0; i < s.components.size() && hits.size() < N; ++i) {
        const Component& c = s.components[i];
        for (const Pin& p : c.pins) {
            if (p.name.empty() || !equalsNoCase(p.name, q)) continue;
            const bool connected = p.net >= 0 && p.net < static_cast<int>(s.nets.size());
            hits.push_back({"pin", static_cast<int32_t>(i), c.reference + " pin " + p.number + " " + p.name,
                            connected ? "net " + s.nets[p.net].name : "unconnected", c.sheet, p.position});
        }
    }
    return hits;
}

std::vector<Neighbour> componentNeighbours(const Schematic& s, int component) {
    std::vector<Neighbour> out;
    const Component& k = s.components[component];
    for (int pi = 0; pi < static_cast<int>(k.pins.size()); ++pi) {
        const int n = k.pins[pi].net;
        if (n < 0 || n >= static_cast<int>(s.nets.size())) continue;
        for (const auto& [ci, theirs] : s.nets[n].pins)
            if (ci != component) out.push_back({n, ci, pi, theirs});
    }
    return out;
}

std::vector<PowerRail> powerRails(const Schematic& s) {
    std::vector<PowerRail> rails;
    for (size_t i = 0; i < s.nets.size(); ++i) {
        const Net& n = s.nets[i];
        if (!n.power || n.bus) continue;
        PowerRail r;
        r.net = static_cast<int32_t>(i);
        r.name = n.name;
        r.pin_count = static_cast<int32_t>(n.pins.size());
        r.sheet_count = static_cast<int32_t>(n.sheets.size());
        for (const auto& [ci, pi] : n.pins) {
            if (ci < 0 || ci >= static_cast<int>(s.components.size())) continue;
            const Component& c = s.components[ci];
            if (c.power_symbol || pi < 0 || pi >= static_cast<int>(c.pins.size())) continue;
            const Pin& p = c.pins[pi];
            if (p.type == PinType::PowerOut)
                r.sources.emplace_back(ci, pi);
            else if (p.type == PinType::PowerIn)
                r.consumers.emplace_back(ci, pi);
            else if ((containsNoCase(p.name, "out") || containsNoCase(p.name, "vo")) &&
                     toLower(componentKind(c)).find("regulator") != std::string::npos)
                r.sources.emplace_back(ci, pi);
        }
        rails.push_back(std::move(r));
    }
    // Stable, so equal rails keep net order and repeated runs agree.
    std::stable_sort(rails.begin(), rails.end(),
                     [](const PowerRail& a, const PowerRail& b) { return a.pin_count > b.pin_count; });
    return rails;
}

}  // namespace nl

#include "analysis/reports.h"

#include <algorithm>
#include <map>
#include <set>

#include "analysis/lookup.h"
#include "base/json_util.h"
#include "base/text.h"

namespace nl {

namespace {

using json = nlohmann::json;

const std::string& sheetNameOf(const Schematic& s, int sheet) {
    static const std::string empty;
    return sheet >= 0 && sheet < (int)s.sheets.size() ? s.sheets[sheet].name : empty;
}

const char* labelKindText(int kind) {
    switch (kind) {
        case Global:
            return "global";
        case Hierarchical:
            return "hierarchical";
        case SheetPin:
            return "sheet_pin";
        default:
            return "local";
    }
}

json sheetsJson(const Schematic& s) {
    json sheets = json::array();
    for (const Sheet& sh : s.sheets) sheets.push_back({{"name", sh.name}, {"file", sh.file}});
    return sheets;
}

json positionJson(Point p) { return json::array({formatNumber(p.x, 2), formatNumber(p.y, 2)}); }

}  // namespace

std::vector<BomGroup> bomGroups(const Schematic& s) {
    struct Entry {
        BomGroup group;
        std::set<std::string> references;  // a 10k resistor group may hold thousands
    };
    std::map<std::string, Entry> byKey;
    std::set<std::string> listed;  // every reference already in some group
    for (const Component& c : s.components) {
        if (c.power_symbol || !c.in_bom || c.dnp || (!c.reference.empty() && c.reference[0] == '#')) continue;
        if (c.unit > 1 && listed.count(c.reference)) continue;
        Entry& e = byKey[c.value + "|" + c.footprint + "|" + c.lib_id];
        e.group.value = c.value;
        e.group.footprint = c.footprint;
        e.group.library = c.lib_id;
        e.group.description = c.description;
        e.references.insert(c.reference);
        listed.insert(c.reference);
    }
    std::vector<BomGroup> groups;
    groups.reserve(byKey.size());
    for (auto& [key, e] : byKey) {
        e.group.references.assign(e.references.begin(), e.references.end());  // ascending byte order
        groups.push_back(std::move(e.group));
    }
    // Equal first references (one reference on parts of different values)
    // keep the order of their group keys.
    std::stable_sort(groups.begin(), groups.end(),
                     [](const BomGroup& a, const BomGroup& b) { return a.references[0] < b.references[0]; });
    return groups;
}

std::string csvField(const std::string& text) {
    if (text.find_first_of(",\"\n") == std::string::npos) return text;
    std::string out = "\"";
    for (char c : text) {
        if (c == '"') out += '"';
        out += c;
    }
    out += '"';
    return out;
}

std::string bomCsv(const Schematic& s) {
    std::string out = "Qty,References,Value,Footprint,Library,Description\n";
    for (const BomGroup& g : bomGroups(s)) {
        std::string refs;
        for (const std::string& r : g.references) refs += (refs.empty() ? "" : " ") + r;
        out += std::to_string(g.references.size()) + "," + csvField(refs) + "," + csvField(g.value) + "," +
               csvField(g.footprint) + "," + csvField(g.library) + "," + csvField(g.description) + "\n";
    }
    return out;
}

std::string netlistText(const Schematic& s) {
    std::string out = "# Netloom netlist for " + s.title + "\n";
    out += "# " + std::to_string(s.nets.size()) + " nets, " + std::to_string(s.components.size()) + " components\n\n";
    for (const Net& net : s.nets) {
        if (net.bus) continue;
        out += net.name;
        if (net.power) out += "  [power]";
        out += "\n";
        for (auto [ci, pi] : net.pins) {
            const Component& c = s.components[ci];
            if (c.power_symbol) continue;
            const Pin& p = c.pins[pi];
            out += "    " + c.reference + "." + p.number + "  " + p.name + "  " + p.type + "\n";
        }
    }
    return out;
}

json pinToJson(const Schematic& s, int component, int pin) {
    const Pin& p = s.components[component].pins[pin];
    json j = {{"number", p.number}, {"name", p.name}, {"type", p.type}};
    j["net"] = p.net >= 0 ? s.nets[p.net].name : std::string();
    if (p.no_connect) j["no_connect"] = true;
    if (p.hidden) j["hidden"] = true;
    if (p.net >= 0) j["net_pins"] = s.nets[p.net].pins.size();
    return j;
}

json componentToJson(const Schematic& s, int component, bool full) {
    const Component& c = s.components[component];
    json j = {{"ref", c.reference},
              {"value", c.value},
              {"kind", componentKind(c)},
              {"footprint", c.footprint},
              {"sheet", sheetNameOf(s, c.sheet)},
              {"pin_count", c.pins.size()},
              {"library", c.lib_id},
              {"position_mm", positionJson(c.position)}};
    if (!c.description.empty()) j["description"] = c.description;
    if (!c.datasheet.empty() && c.datasheet != "~") j["datasheet"] = c.datasheet;
    if (c.dnp) j["dnp"] = true;
    if (c.power_symbol) j["power_symbol"] = true;
    if (c.unit > 1 || full) j["unit"] = c.unit;
    json pins = json::array();
    for (int pi = 0; pi < (int)c.pins.size(); ++pi) pins.push_back(pinToJson(s, component, pi));
    j["pins"] = std::move(pins);
    if (full) {
        json props = json::object();
        for (const auto& [k, v] : c.properties) props[k] = v;
        j["properties"] = std::move(props);
    }
    return j;
}

json netToJson(const Schematic& s, int net, bool full) {
    const Net& n = s.nets[net];
    json j = {{"name", n.name},
              {"power", n.power},
              {"name_source", n.name_source},
              {"pin_count", n.pins.size()},
              {"wire_segments", n.wires.size()}};
    if (n.bus) j["bus"] = true;
    if (!n.aliases.empty()) j["aliases"] = n.aliases;
    json sheets = json::array();
    for (int si : n.sheets) sheets.push_back(sheetNameOf(s, si));
    j["sheets"] = std::move(sheets);
    json pins = json::array();
    for (auto [ci, pi] : n.pins) {
        const Component& c = s.components[ci];
        const Pin& p = c.pins[pi];
        json e = {{"ref", c.reference}, {"pin", p.number}, {"pin_name", p.name}, {"type", p.type}, {"value", c.value}};
        if (c.power_symbol) e["power_symbol"] = true;
        if (full) e["kind"] = componentKind(c);
        pins.push_back(std::move(e));
    }
    j["pins"] = std::move(pins);
    if (full) {
        json labels = json::array();
        for (int li : n.labels) {
            const Label& l = s.labels[li];
            labels.push_back({{"text", l.text}, {"kind", labelKindText(l.kind)}, {"sheet", sheetNameOf(s, l.sheet)}});
        }
        j["labels"] = std::move(labels);
    }
    return j;
}

json schematicToJson(const Schematic& s) {
    json components = json::array();
    for (int ci = 0; ci < (int)s.components.size(); ++ci) components.push_back(componentToJson(s, ci, true));
    json nets = json::array();
    for (int ni = 0; ni < (int)s.nets.size(); ++ni) nets.push_back(netToJson(s, ni, true));
    return {{"title", s.title},        {"format", s.format},
            {"path", s.path},          {"company", s.company},
            {"date", s.date},          {"rev", s.rev},
            {"sheets", sheetsJson(s)}, {"components", std::move(components)},
            {"nets", std::move(nets)}, {"warnings", s.warnings}};
}

std::string schematicJsonText(const Schematic& s, int indent) {
    const bool pretty = indent >= 0;
    const std::string eol = pretty ? "\n" : "", pad(pretty ? indent : 0, ' ');
    // About what a component and a net pin take when indented: one growth
    // step at most instead of a dozen copies of a text of tens of megabytes.
    size_t netPins = 0;
    for (const Net& n : s.nets) netPins += n.pins.size();
    std::string out;
    out.reserve(pretty ? s.components.size() * 700 + netPins * 200 + 4096 : 0);
    out += "{" + eol;
    bool firstKey = true;
    auto key = [&](const char* name) {
        if (!firstKey) out += "," + eol;
        firstKey = false;
        out += pad + "\"" + name + "\":" + (pretty ? " " : "");
    };
    auto field = [&](const char* name, const json& v) {
        key(name);
        appendJson(out, v, indent, 1);
    };
    // An array written element by element, laid out as the serializer would.
    auto lazyArray = [&](size_t count, auto element) {
        if (count == 0) {
            out += "[]";
            return;
        }
        out += "[" + eol;
        for (size_t i = 0; i < count; ++i) {
            if (i) out += "," + eol;
            out += pad + pad;
            appendJson(out, element((int)i), indent, 2);
        }
        out += eol + pad + "]";
    };
    // Keys in ascending byte order, as the ordered object writes them.
    field("company", s.company);
    key("components");
    lazyArray(s.components.size(), [&](int i) { return componentToJson(s, i, true); });
    field("date", s.date);
    field("format", s.format);
    key("nets");
    lazyArray(s.nets.size(), [&](int i) { return netToJson(s, i, true); });
    field("path", s.path);
    field("rev", s.rev);
    field("sheets", sheetsJson(s));
    field("title", s.title);
    field("warnings", s.warnings);
    out += eol + "}";
    return out;
}

}  // namespace nl

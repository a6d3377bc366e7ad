#include "analysis/lookup.h"

#include <unordered_map>
#include <unordered_set>

#include "base/text.h"

namespace nl {

int findNet(const Schematic& s, std::string_view name) {
    const int n = static_cast<int>(s.nets.size());
    for (int i = 0; i < n; ++i)
        if (s.nets[i].name == name) return i;
    for (int i = 0; i < n; ++i)
        for (const std::string& a : s.nets[i].aliases)
            if (a == name) return i;
    return -1;
}

std::string referencePrefix(const Component& c) {
    const std::string& r = c.reference;
    size_t i = 0;
    while (i < r.size() && !(r[i] >= '0' && r[i] <= '9')) ++i;
    return r.substr(0, i);
}

namespace {

bool contains(const std::string& text, std::string_view part) { return text.find(part) != std::string::npos; }

bool isOneOf(const std::string& p, std::initializer_list<std::string_view> set) {
    for (std::string_view x : set)
        if (p == x) return true;
    return false;
}

}  // namespace

std::string componentKind(const Component& c) {
    if (c.power_symbol) return "power symbol";
    const std::string p = referencePrefix(c);
    const std::string v = toLower(c.value);
    const std::string l = toLower(c.lib_id);
    if (isOneOf(p, {"R", "RN", "RV"})) return "resistor";
    if (p == "C") return "capacitor";
    if (isOneOf(p, {"L", "FB"})) return "inductor / ferrite";
    if (p == "D") {
        if (contains(v, "led") || contains(l, "led")) return "LED";
        if (contains(v, "tvs")) return "TVS diode";
        return "diode";
    }
    if (p == "Q") return "transistor";
    if (isOneOf(p, {"U", "IC"})) {
        // A value starting with 78 is the classic regulator family (7805); LM7805 is not caught on purpose.
        if (contains(l, "regulator") || contains(v, "1117") || v.rfind("78", 0) == 0 || contains(v, "ldo"))
            return "voltage regulator";
        return "integrated circuit";
    }
    if (isOneOf(p, {"J", "P", "CN", "X"})) return "connector";
    if (p == "Y") return "crystal / oscillator";
    if (isOneOf(p, {"SW", "S"})) return "switch";
    if (p == "F") return "fuse";
    if (isOneOf(p, {"T", "TR"})) return "transformer";
    if (p == "K") return "relay";
    if (p == "TP") return "test point";
    if (p == "JP") return "jumper";
    if (p == "BT") return "battery";
    if (p == "M") return "motor";
    if (isOneOf(p, {"LS", "SP"})) return "speaker / buzzer";
    return "component";
}

const std::string& pinTypeLabel(const std::string& type) {
    // Built once; the chat worker and the window thread may both ask.
    static const std::unordered_map<std::string, std::string> labels = {
        {"input", "Input"},
        {"output", "Output"},
        {"bidirectional", "Bidirectional"},
        {"tri_state", "Tri-state"},
        {"passive", "Passive"},
        {"free", "Free"},
        {"unspecified", "Unspecified"},
        {"power_in", "Power input"},
        {"power_out", "Power output"},
        {"open_collector", "Open collector"},
        {"open_emitter", "Open emitter"},
        {"no_connect", "No connect"},
    };
    auto it = labels.find(type);
    return it == labels.end() ? type : it->second;
}

namespace {

bool fail(std::string* error, std::string message) {
    if (error) *error = std::move(message);
    return false;
}

bool isReference(const Schematic& s, std::string_view text) {
    for (const Component& c : s.components)
        if (c.reference == text) return true;
    return false;
}

// A name as KiCad shows it, so "SDI/out0" finds the file's "SDI{slash}out0" and the other way round.
bool sameShownName(std::string_view stored, std::string_view typed, bool anyCase) {
    if (stored.find('{') == std::string_view::npos && typed.find('{') == std::string_view::npos) return false;
    const std::string a = resolveKicadEscapes(stored), b = resolveKicadEscapes(typed);
    return anyCase ? equalsNoCase(a, b) : a == b;
}

// A net whose name or alias reads as `name` once escapes are resolved; -1 when none.
int findShownNet(const Schematic& s, std::string_view name, bool anyCase) {
    const int n = static_cast<int>(s.nets.size());
    for (int i = 0; i < n; ++i)
        if (sameShownName(s.nets[i].name, name, anyCase)) return i;
    for (int i = 0; i < n; ++i)
        for (const std::string& a : s.nets[i].aliases)
            if (sameShownName(a, name, anyCase)) return i;
    return -1;
}

}  // namespace

int findComponent(const Schematic& s, std::string_view ref) {
    const int n = static_cast<int>(s.components.size());
    for (int i = 0; i < n; ++i)
        if (s.components[i].reference == ref) return i;
    for (int i = 0; i < n; ++i)
        if (equalsNoCase(s.components[i].reference, ref)) return i;
    for (int i = 0; i < n; ++i)
        if (sameShownName(s.components[i].reference, ref, true)) return i;
    return -1;
}

bool resolveTarget(const Schematic& s, const std::string& target, std::vector<int>& nets, std::string& label,
                   std::string* error) {
    nets.clear();
    const std::string t = trim(target);
    if (t.empty()) return fail(error, "empty target");

    if (toLower(t.substr(0, 4)) == "net:") {
        const std::string rest = t.substr(4);
        int n = findNet(s, trim(rest));
        if (n < 0) n = findShownNet(s, trim(rest), false);
        if (n < 0) return fail(error, "net '" + rest + "' not found");
        nets.push_back(n);
        label = "net " + s.nets[n].name;
        return true;
    }

    // A separator splits only where the text before it is an exact reference,
    // so net names such as "VCC 3V3" or "I2C.SDA" stay whole.
    std::string refPart = t, pinPart;
    for (std::string_view sep : {".", "/", ":", " pin ", " "}) {
        const size_t at = t.find(sep);
        if (at == std::string::npos || !isReference(s, std::string_view(t).substr(0, at))) continue;
        refPart = t.substr(0, at);
        pinPart = trim(std::string_view(t).substr(at + sep.size()));
        break;
    }

    const int ci = findComponent(s, refPart);
    if (ci >= 0) {
        const Component& c = s.components[ci];
        const std::string& ref = c.reference;
        if (!pinPart.empty()) {
            for (const Pin& p : c.pins) {
                if (p.number != pinPart && !equalsNoCase(p.name, pinPart) && !sameShownName(p.number, pinPart, false) &&
                    !sameShownName(p.name, pinPart, true))
                    continue;
                if (p.net < 0) return fail(error, ref + " pin " + pinPart + " is not connected");
                nets.push_back(p.net);
                label = ref + "." + p.number;
                if (!p.name.empty() && p.name != "~" && p.name != p.number) label += " (" + p.name + ")";
                return true;
            }
            return fail(error, ref + " has no pin '" + pinPart + "'");
        }
        label = ref;
        std::unordered_set<int> seen;
        for (const Pin& p : c.pins)
            if (p.net >= 0 && seen.insert(p.net).second) nets.push_back(p.net);
        if (nets.empty()) return fail(error, ref + " has no connected pins");
        return true;
    }

    int n = findNet(s, t);
    for (int i = 0; n < 0 && i < static_cast<int>(s.nets.size()); ++i)
        if (equalsNoCase(s.nets[i].name, t)) n = i;
    if (n < 0) n = findShownNet(s, t, true);
    if (n < 0) return fail(error, "'" + t + "' is neither a component, a pin (REF.PIN) nor a net name");
    nets.push_back(n);
    label = "net " + s.nets[n].name;
    return true;
}

std::string describeComponent(const Schematic& s, int component, const std::string& detail) {
    const Component& c = s.components[component];
    const bool verbose = detail == "verbose";
    std::string out = c.reference + "  " + c.value + "  (" + componentKind(c) + ")\n";
    if (detail == "minimal") return out + std::to_string(c.pins.size()) + " pins";

    if (!c.footprint.empty()) out += "Footprint: " + c.footprint + "\n";
    if (!c.description.empty()) out += "Description: " + c.description + "\n";
    if (!c.datasheet.empty() && c.datasheet != "~") out += "Datasheet: " + c.datasheet + "\n";
    const bool sheetValid = c.sheet >= 0 && c.sheet < static_cast<int>(s.sheets.size());
    out += "Library: " + c.lib_id + "   Sheet: " + (sheetValid ? s.sheets[c.sheet].name : std::string());
    if (c.unit > 1) out += "   Unit " + std::to_string(c.unit);
    if (c.dnp) out += "   DNP";
    out += "\nPins:\n";

    for (const Pin& p : c.pins) {
        if (p.hidden && !verbose) continue;
        const Net* net = p.net >= 0 && p.net < static_cast<int>(s.nets.size()) ? &s.nets[p.net] : nullptr;
        out += "  " + p.number + "  " + p.name + "  [" + pinTypeLabel(p.type) + "]  -> ";
        out += net ? net->name : "(unconnected)";
        if (p.no_connect) out += " [NC]";
        if (verbose && net) out += "  (" + std::to_string(net->pins.size()) + " pins on net)";
        out += "\n";
    }
    if (verbose)
        for (const auto& [key, value] : c.properties)
            if (!value.empty()) out += key + ": " + value + "\n";
    return out;
}

std::string describeNet(const Schematic& s, int net, const std::string& detail) {
    const Net& n = s.nets[net];
    const bool verbose = detail == "verbose";
    std::string out = "Net " + n.name;
    if (n.power) out += "  [POWER]";
    if (n.bus) out += "  [BUS]";
    out += "\n" + std::to_string(n.pins.size()) + " pins, " + std::to_string(n.wires.size()) + " wire segments";
    if (n.sheets.size() > 1) out += ", spans " + std::to_string(n.sheets.size()) + " sheets";
    out += "\n";
    if (!n.aliases.empty()) {
        out += "Also labelled: ";
        for (size_t i = 0; i < n.aliases.size(); ++i) out += (i ? ", " : "") + n.aliases[i];
        out += "\n";
    }
    if (detail == "minimal") return out;

    out += "Name from: " + n.name_source + "\nConnected pins:\n";
    for (const auto& [ci, pi] : n.pins) {
        if (ci < 0 || ci >= static_cast<int>(s.components.size())) continue;
        const Component& c = s.components[ci];
        if (c.power_symbol) {
            if (verbose) out += "  " + c.reference + " power symbol " + c.value + "\n";
            continue;
        }
        if (pi < 0 || pi >= static_cast<int>(c.pins.size())) continue;
        const Pin& p = c.pins[pi];
        out += "  " + c.reference + "." + p.number + "  " + p.name + "  [" + pinTypeLabel(p.type) + "]";
        if (verbose) out += "  " + c.value + " (" + componentKind(c) + ")";
        out += "\n";
    }
    return out;
}

}  // namespace nl

#include "analysis/erc.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <memory>
#include <set>
#include <string_view>

#include "base/text.h"

namespace nl {

namespace {

bool isDriverType(const std::string& t) {
    return t == PinType::Output || t == PinType::PowerOut || t == PinType::TriState || t == PinType::Bidirectional ||
           t == PinType::OpenCollector || t == PinType::OpenEmitter;
}

bool endsWithQuestionMark(const std::string& s) { return !s.empty() && s.back() == '?'; }

std::string sheetName(const Schematic& s, int sheet) {
    return sheet >= 0 && sheet < (int)s.sheets.size() ? s.sheets[sheet].name : std::string();
}

// Severity rank for the final stable sort: errors, warnings, everything else.
int severityRank(const std::string& severity) {
    if (severity == "error") return 0;
    if (severity == "warning") return 1;
    return 2;
}

class Collector {
public:
    explicit Collector(std::vector<ErcIssue>& out) : out_(out) {}
    void add(const char* severity, const char* code, std::string message, Point position, int sheet, int component,
             int net) {
        out_.push_back({severity, code, std::move(message), position, sheet, component, net});
    }

private:
    std::vector<ErcIssue>& out_;
};

// ---- Per-net checks ----

void checkNets(const Schematic& s, const ErcOptions& o, Collector& c) {
    for (int ni = 0; ni < (int)s.nets.size(); ++ni) {
        const Net& net = s.nets[ni];
        if (net.bus) continue;
        bool hasPowerSymbol = false;
        int sources = 0, realPins = 0, powerInputs = 0, drivers = 0;
        std::vector<std::string> outputs;
        for (auto [ci, pi] : net.pins) {
            const Component& comp = s.components[ci];
            const Pin& pin = comp.pins[pi];
            if (comp.power_symbol) {
                hasPowerSymbol = true;
                ++sources;
                continue;
            }
            if (pin.type == PinType::PowerOut) ++sources;
            ++realPins;
            if (pin.type == PinType::PowerIn) ++powerInputs;
            if (pin.type == PinType::Output) outputs.push_back(comp.reference + "." + pin.number);
            if (isDriverType(pin.type)) ++drivers;
        }
        Point anchor;
        if (!net.pins.empty())
            anchor = s.components[net.pins[0].first].pins[net.pins[0].second].position;
        else if (!net.wires.empty())
            anchor = s.wires[net.wires[0]].a;
        const int sheet = net.sheets.empty() ? 0 : net.sheets[0];
        const int netComponent = net.pins.empty() ? -1 : net.pins[0].first;

        if (o.single_pin && (hasPowerSymbol ? 1 : 0) + realPins == 1 && net.labels.empty() && !net.wires.empty()) {
            const Component& comp = s.components[net.pins[0].first];
            const Pin& pin = comp.pins[net.pins[0].second];
            if (!pin.no_connect)
                c.add("warning", "NET_SINGLE_PIN",
                      "Net " + net.name + " only reaches " + comp.reference + " pin " + pin.number + " (" + pin.name +
                          ") — a wire goes nowhere",
                      anchor, sheet, net.pins[0].first, ni);
        }
        if (o.power && drivers == 0 && sources == 0 && !hasPowerSymbol && powerInputs >= 1)
            c.add("error", "POWER_NOT_DRIVEN",
                  "Power input pins on net " + net.name + " are not driven by any power output or power symbol", anchor,
                  sheet, netComponent, ni);
        if (o.outputs && outputs.size() >= 2) {
            std::string list;
            for (const std::string& t : outputs) list += (list.empty() ? "" : ", ") + t;
            c.add("error", "OUTPUT_CONFLICT",
                  "Net " + net.name + " has " + std::to_string(outputs.size()) +
                      " output pins driving each other: " + list,
                  anchor, sheet, netComponent, ni);
        }
        if (o.outputs && sources >= 2 && !hasPowerSymbol)
            c.add("warning", "POWER_OUT_CONFLICT",
                  "Net " + net.name + " joins " + std::to_string(sources) + " power output pins", anchor, sheet,
                  netComponent, ni);
        if (o.power && realPins == 0 && hasPowerSymbol && net.wires.empty())
            c.add("warning", "POWER_SYMBOL_FLOATING", "Power symbol " + net.name + " is not connected to anything",
                  anchor, sheet, netComponent, ni);
        if (o.labels && net.labels.size() == 1) {
            const Label& label = s.labels[net.labels[0]];
            if (net.pins.empty() && net.wires.empty())
                c.add("warning", "LABEL_FLOATING", "Label '" + label.text + "' is not attached to any wire or pin",
                      label.position, label.sheet, -1, ni);
            if (label.kind == Local && net.pins.size() <= 1 && !net.wires.empty())
                c.add("info", "LABEL_SINGLE",
                      "Local label '" + label.text + "' appears only once on sheet " + sheetName(s, label.sheet) +
                          "; it does not connect to another label",
                      label.position, label.sheet, -1, ni);
        }
    }
}

// ---- Pins ----

void checkOpenPins(const Schematic& s, Collector& c) {
    for (int ci = 0; ci < (int)s.components.size(); ++ci) {
        const Component& comp = s.components[ci];
        for (const Pin& pin : comp.pins) {
            if (pin.no_connect || pin.implicit_power || pin.hidden) continue;
            if (pin.type == PinType::NoConnect || pin.type == PinType::Unspecified || pin.type == PinType::Free)
                continue;
            if (pin.net < 0) {
                c.add("warning", "PIN_UNCONNECTED",
                      comp.reference + " pin " + pin.number + " (" + pin.name + ") is not connected", pin.position,
                      comp.sheet, ci, -1);
                continue;
            }
            const Net& net = s.nets[pin.net];
            if (net.pins.size() == 1 && net.wires.empty() && net.labels.empty()) {
                const bool isInput = pin.type == PinType::Input || pin.type == PinType::PowerIn;
                c.add(isInput ? "error" : "warning", "PIN_UNCONNECTED",
                      comp.reference + " pin " + pin.number + " (" + pin.name + ", " + pin.type + ") is not connected",
                      pin.position, comp.sheet, ci, pin.net);
            }
        }
    }
}

void checkNoConnectFlags(const Schematic& s, Collector& c) {
    for (int ci = 0; ci < (int)s.components.size(); ++ci) {
        const Component& comp = s.components[ci];
        for (const Pin& pin : comp.pins) {
            if (!pin.no_connect || pin.net < 0) continue;
            const Net& net = s.nets[pin.net];
            if (net.pins.size() > 1 || !net.wires.empty())
                c.add("warning", "NC_CONNECTED",
                      comp.reference + " pin " + pin.number + " has a no-connect flag but is wired to net " + net.name,
                      pin.position, comp.sheet, ci, pin.net);
        }
    }
}

// ---- Dangling wire ends ----

// A sheet and a position in whole micrometres: equal keys are the same point.
struct PointKey {
    int sheet;
    long long x, y;
    auto operator<=>(const PointKey&) const = default;
};

long long micrometres(double mm) {
    const double v = std::round(mm * 1000.0);  // halves away from zero
    // Hostile coordinates must not overflow; such points can only meet their equals.
    if (!(v > -9e15)) return std::isnan(v) ? 0 : -9000000000000000LL;
    if (v > 9e15) return 9000000000000000LL;
    return (long long)v;
}

PointKey keyOf(int sheet, Point p) { return {sheet, micrometres(p.x), micrometres(p.y)}; }

// Strictly inside wire AB (its end points excluded) and within 0.02 mm of it.
bool onInterior(Point p, Point a, Point b) {
    const double dx = b.x - a.x, dy = b.y - a.y;
    const double len2 = dx * dx + dy * dy;
    if (std::sqrt(len2) < 1e-9) return false;
    const double t = ((p.x - a.x) * dx + (p.y - a.y) * dy) / len2;
    if (!(t > 1e-6 && t < 0.999999)) return false;
    const double fx = a.x + t * dx - p.x, fy = a.y + t * dy - p.y;
    return std::sqrt(fx * fx + fy * fy) < 0.02;
}

// Finds the non-bus wires whose interior a point may lie on without comparing
// against every wire: each wire is entered in the 10 mm cells that its box,
// widened by more than the 0.02 mm tolerance, covers, so the cell holding a
// point lists every wire that can pass the interior test for it. Wires that
// would cover too many cells (or have unusable coordinates) are kept aside and
// tried against every point on their sheet.
class WireGrid {
public:
    explicit WireGrid(const Schematic& s) : s_(s) {
        for (int wi = 0; wi < (int)s.wires.size(); ++wi) {
            const Wire& w = s.wires[wi];
            if (w.bus) continue;
            const double x0 = std::min(w.a.x, w.b.x) - kMargin, x1 = std::max(w.a.x, w.b.x) + kMargin;
            const double y0 = std::min(w.a.y, w.b.y) - kMargin, y1 = std::max(w.a.y, w.b.y) + kMargin;
            if (!std::isfinite(x0) || !std::isfinite(x1) || !std::isfinite(y0) || !std::isfinite(y1)) continue;
            const long long cx0 = cellOf(x0), cx1 = cellOf(x1), cy0 = cellOf(y0), cy1 = cellOf(y1);
            // Each side on its own first: their product could overflow.
            const long long columns = cx1 - cx0 + 1, rows = cy1 - cy0 + 1;
            if (columns > kMaxCells || rows > kMaxCells || columns * rows > kMaxCells) {
                wide_.push_back(wi);
                continue;
            }
            for (long long cy = cy0; cy <= cy1; ++cy)
                for (long long cx = cx0; cx <= cx1; ++cx) cells_.push_back({{w.sheet, cx, cy}, wi});
        }
        std::sort(cells_.begin(), cells_.end());
    }

    // Calls visit(wire index) for every non-bus wire of `sheet` whose interior
    // p might lie on (a superset of those that do); stops when visit returns true.
    template <class Visit>
    bool anyCandidate(int sheet, Point p, Visit visit) const {
        if (!std::isfinite(p.x) || !std::isfinite(p.y)) return false;  // can never pass the test
        const PointKey cell{sheet, cellOf(p.x), cellOf(p.y)};
        auto it = std::lower_bound(cells_.begin(), cells_.end(), Entry{cell, -1});
        for (; it != cells_.end() && it->cell == cell; ++it)
            if (visit(it->wire)) return true;
        for (int wi : wide_)
            if (s_.wires[wi].sheet == sheet && visit(wi)) return true;
        return false;
    }

private:
    static constexpr double kCellSize = 10.0;
    static constexpr double kMargin = 0.05;
    static constexpr long long kMaxCells = 4096;

    struct Entry {
        PointKey cell;
        int wire;
        auto operator<=>(const Entry&) const = default;
    };

    static long long cellOf(double v) {
        const double c = std::floor(v / kCellSize);
        return (long long)std::clamp(c, -1e15, 1e15);
    }

    const Schematic& s_;
    std::vector<Entry> cells_;
    std::vector<int> wide_;
};

// Eagle draws short wires from pins to a label of the wire's own net on
// purpose; such a labelled stub is finished, not dangling.
std::vector<char> eagleLabelledWires(const Schematic& s, const std::vector<std::pair<PointKey, int>>& endsByKey,
                                     const WireGrid& grid) {
    std::vector<char> labelled(s.wires.size(), 0);
    for (const Label& label : s.labels) {
        if (label.net < 0) continue;
        const PointKey k = keyOf(label.sheet, label.position);
        auto it = std::lower_bound(endsByKey.begin(), endsByKey.end(), std::make_pair(k, -1));
        for (; it != endsByKey.end() && it->first == k; ++it)
            if (s.wires[it->second].net == label.net) labelled[it->second] = 1;
        // Several wires may carry the label on their interior; mark them all.
        grid.anyCandidate(label.sheet, label.position, [&](int wi) {
            const Wire& w = s.wires[wi];
            if (w.net == label.net && onInterior(label.position, w.a, w.b)) labelled[wi] = 1;
            return false;
        });
    }
    return labelled;
}

void checkDanglingWires(const Schematic& s, Collector& c) {
    // Both ends of every non-bus wire, sorted by key: counts by equal range.
    std::vector<std::pair<PointKey, int>> ends;
    for (int wi = 0; wi < (int)s.wires.size(); ++wi) {
        const Wire& w = s.wires[wi];
        if (w.bus) continue;
        ends.push_back({keyOf(w.sheet, w.a), wi});
        ends.push_back({keyOf(w.sheet, w.b), wi});
    }
    if (ends.empty()) return;
    std::sort(ends.begin(), ends.end());

    std::vector<PointKey> anchors;
    for (const Component& comp : s.components)
        for (const Pin& pin : comp.pins) anchors.push_back(keyOf(comp.sheet, pin.position));
    for (const Label& l : s.labels) anchors.push_back(keyOf(l.sheet, l.position));
    for (const Junction& j : s.junctions) anchors.push_back(keyOf(j.sheet, j.position));
    for (const NoConnect& n : s.no_connects) anchors.push_back(keyOf(n.sheet, n.position));
    for (const BusEntry& e : s.bus_entries) {
        anchors.push_back(keyOf(e.sheet, e.position));
        anchors.push_back(keyOf(e.sheet, {e.position.x + e.size.x, e.position.y + e.size.y}));
    }
    std::sort(anchors.begin(), anchors.end());

    auto endCount = [&](const PointKey& k) {
        auto lo = std::lower_bound(ends.begin(), ends.end(), std::make_pair(k, -1));
        auto hi = std::upper_bound(ends.begin(), ends.end(), std::make_pair(k, (int)s.wires.size()));
        return hi - lo;
    };

    // The grid is only worth building once some end fails the key tests.
    std::unique_ptr<WireGrid> grid;
    auto gridRef = [&]() -> const WireGrid& {
        if (!grid) grid = std::make_unique<WireGrid>(s);
        return *grid;
    };
    std::vector<char> labelled;
    const bool eagle = s.format == "eagle";

    for (int wi = 0; wi < (int)s.wires.size(); ++wi) {
        const Wire& w = s.wires[wi];
        if (w.bus) continue;
        for (Point p : {w.a, w.b}) {
            const PointKey k = keyOf(w.sheet, p);
            if (endCount(k) >= 2 || std::binary_search(anchors.begin(), anchors.end(), k)) continue;
            if (eagle) {
                if (labelled.empty()) labelled = eagleLabelledWires(s, ends, gridRef());
                if (labelled[wi]) continue;
            }
            const bool onOther = gridRef().anyCandidate(w.sheet, p, [&](int other) {
                return other != wi && onInterior(p, s.wires[other].a, s.wires[other].b);
            });
            if (onOther) continue;
            const std::string netName = w.net >= 0 ? s.nets[w.net].name : "?";
            c.add("warning", "WIRE_DANGLING",
                  "Wire end at (" + formatNumber(p.x, 2) + ", " + formatNumber(p.y, 2) + ") on net " + netName +
                      " connects to nothing",
                  p, w.sheet, -1, w.net);
        }
    }
}

// ---- References, names, hierarchy ----

void checkReferences(const Schematic& s, Collector& c) {
    std::map<std::string, std::vector<int>> byKey;
    for (int ci = 0; ci < (int)s.components.size(); ++ci) {
        const Component& comp = s.components[ci];
        if (comp.power_symbol) continue;
        if (comp.reference.empty())
            c.add("warning", "REF_UNANNOTATED",
                  "Component '" + comp.value + "' (" + comp.value + ") has no final reference designator",
                  comp.position, comp.sheet, ci, -1);
        else if (endsWithQuestionMark(comp.reference))
            c.add("warning", "REF_UNANNOTATED",
                  "Component '" + comp.reference + "' (" + comp.value + ") has no final reference designator",
                  comp.position, comp.sheet, ci, -1);
        byKey[comp.reference + "#" + std::to_string(comp.unit)].push_back(ci);
    }
    for (const auto& [key, list] : byKey) {
        if (list.size() < 2) continue;
        const Component& first = s.components[list[0]];
        if (first.reference.empty() || endsWithQuestionMark(first.reference)) continue;
        const Component& second = s.components[list[1]];
        c.add("error", "REF_DUPLICATE",
              "Reference " + first.reference + " (unit " + std::to_string(first.unit) + ") is used by " +
                  std::to_string(list.size()) + " symbols",
              second.position, second.sheet, list[1], -1);
    }
}

void checkNetNames(const Schematic& s, Collector& c) {
    std::map<std::string, std::vector<int>> byFolded;
    for (int ni = 0; ni < (int)s.nets.size(); ++ni)
        if (s.nets[ni].name_source != "auto") byFolded[toLower(s.nets[ni].name)].push_back(ni);
    for (const auto& [folded, list] : byFolded) {
        if (list.size() < 2) continue;
        std::string names;
        for (int ni : list) names += (names.empty() ? "" : " / ") + s.nets[ni].name;
        const Net& first = s.nets[list[0]];
        const Point at = first.labels.empty() ? Point{} : s.labels[first.labels[0]].position;
        c.add("warning", "NET_NAME_CASE",
              "Nets " + names + " differ only by letter case — probably meant to be one net", at,
              first.sheets.empty() ? 0 : first.sheets[0], -1, list[0]);
    }
}

void checkHierarchy(const Schematic& s, Collector& c) {
    // Hierarchical label texts per sheet, gathered once: a sheet may be
    // instantiated many times.
    std::map<int, std::set<std::string>> hierBySheet;
    for (const Label& l : s.labels)
        if (l.kind == Hierarchical) hierBySheet[l.sheet].insert(l.text);
    const std::set<std::string> none;
    for (const SheetSymbol& sym : s.sheet_symbols) {
        if (sym.child < 0) continue;
        std::set<std::string> pins;
        for (int li : sym.pins) pins.insert(s.labels[li].text);
        auto h = hierBySheet.find(sym.child);
        const std::set<std::string>& hier = h == hierBySheet.end() ? none : h->second;
        for (const std::string& t : pins)
            if (!hier.count(t))
                c.add("error", "SHEET_PIN_UNMATCHED",
                      "Sheet pin '" + t + "' on " + sym.name + " has no hierarchical label inside the sheet",
                      sym.position, sym.sheet, -1, -1);
        for (const std::string& t : hier)
            if (!pins.count(t))
                c.add(
                    "warning", "HIER_LABEL_UNMATCHED",
                    "Hierarchical label '" + t + "' in sheet " + sym.name + " has no matching sheet pin on the parent",
                    sym.position, sym.child, -1, -1);
    }
}

}  // namespace

std::vector<ErcIssue> runErc(const Schematic& s, const ErcOptions& o) {
    std::vector<ErcIssue> issues;
    Collector c(issues);
    checkNets(s, o, c);
    if (o.unconnected) {
        checkOpenPins(s, c);
        checkNoConnectFlags(s, c);
    }
    if (o.dangling) checkDanglingWires(s, c);
    if (o.duplicates) checkReferences(s, c);
    if (o.names) checkNetNames(s, c);
    if (o.labels) checkHierarchy(s, c);
    std::stable_sort(issues.begin(), issues.end(), [](const ErcIssue& a, const ErcIssue& b) {
        return severityRank(a.severity) < severityRank(b.severity);
    });
    return issues;
}

nlohmann::json issuesToJson(const Schematic& s, const std::vector<ErcIssue>& issues) {
    nlohmann::json out = nlohmann::json::array();
    for (const ErcIssue& i : issues)
        out.push_back(
            {{"severity", i.severity},
             {"code", i.code},
             {"message", i.message},
             {"sheet", sheetName(s, i.sheet)},
             {"at_mm", nlohmann::json::array({formatNumber(i.position.x, 2), formatNumber(i.position.y, 2)})}});
    return out;
}

std::string ercReportText(const Schematic& s, const std::vector<ErcIssue>& issues) {
    std::string out;
    int errors = 0, warnings = 0;
    for (const ErcIssue& i : issues) {
        out += "[" + i.severity + "] " + i.code + "  " + i.message + "  (sheet " + sheetName(s, i.sheet) + ")\n";
        if (i.severity == "error") ++errors;
        if (i.severity == "warning") ++warnings;
    }
    out += '\n';
    out += std::to_string(errors) + " error(s), " + std::to_string(warnings) + " warning(s), " +
           std::to_string(issues.size()) + " total.\n";
    return out;
}

}  // namespace nl

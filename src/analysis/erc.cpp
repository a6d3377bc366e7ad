#include "analysis/erc.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <memory>
#include <set>
#include <string_view>
#include <tuple>
#include <unordered_map>

#include "analysis/erc_internal.h"
#include "base/text.h"
#include "connectivity/bus_text.h"
#include "connectivity/net_builder.h"

namespace nl {

namespace {

// KiCad's names for the rules each issue stands for.
constexpr const char* kPinNotConnected = "pin_not_connected";
constexpr const char* kNoConnectConnected = "no_connect_connected";
constexpr const char* kPowerPinNotDriven = "power_pin_not_driven";
constexpr const char* kPinNotDriven = "pin_not_driven";
constexpr const char* kPinToPin = "pin_to_pin";
constexpr const char* kLabelDangling = "label_dangling";
constexpr const char* kGlobalLabelDangling = "global_label_dangling";
constexpr const char* kHierLabelMismatch = "hier_label_mismatch";
constexpr const char* kWireEndpoint = "unconnected_wire_endpoint";
constexpr const char* kWireDangling = "wire_dangling";
constexpr const char* kSimilarLabels = "similar_labels";
constexpr const char* kSimilarPower = "similar_power";
constexpr const char* kSimilarLabelAndPower = "similar_label_and_power";
constexpr const char* kDuplicateReference = "duplicate_reference";
constexpr const char* kUnannotated = "unannotated";
constexpr const char* kMultipleNetNames = "multiple_net_names";

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

using PinRef = std::pair<int, int>;  // (component, pin)

// What a pin's type means to the per-net checks. Rails hold many pins, so
// each type is told apart with a single comparison.
enum class Role : unsigned char { Input, Output, PowerIn, PowerOut, Driver, Other };

Role roleOf(const std::string& type) {
    switch (type.size()) {
        case 5:
            return type == PinType::Input ? Role::Input : Role::Other;
        case 6:
            return type == PinType::Output ? Role::Output : Role::Other;
        case 7:
            return type == PinType::Passive ? Role::Driver : Role::Other;
        case 8:
            return type == PinType::PowerIn ? Role::PowerIn : Role::Other;
        case 9:
            return type == PinType::PowerOut ? Role::PowerOut : type == PinType::TriState ? Role::Driver : Role::Other;
        case 13:
            return type == PinType::Bidirectional ? Role::Driver : Role::Other;
        default:
            return Role::Other;
    }
}

// ---- Geometry ----

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

// Finds the wires (or the buses) whose interior a point may lie on without
// comparing against every wire: each wire is entered in the 10 mm cells that
// its box, widened by more than the 0.02 mm tolerance, covers, so the cell
// holding a point lists every wire that can pass the interior test for it.
// Wires that would cover too many cells (or have unusable coordinates) are
// kept aside and tried against every point on their sheet.
class WireGrid {
public:
    WireGrid(const Schematic& s, bool buses) : s_(s) {
        for (int wi = 0; wi < (int)s.wires.size(); ++wi) {
            const Wire& w = s.wires[wi];
            if (w.bus != buses) continue;
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

    // Calls visit(wire index) for every wire of `sheet` whose interior p lies
    // on; stops at, and returns true for, the first call that returns true.
    template <class Visit>
    bool anyOn(int sheet, Point p, Visit visit) const {
        if (!std::isfinite(p.x) || !std::isfinite(p.y)) return false;  // can never pass the test
        auto test = [&](int wi) { return onInterior(p, s_.wires[wi].a, s_.wires[wi].b) && visit(wi); };
        const PointKey cell{sheet, cellOf(p.x), cellOf(p.y)};
        auto it = std::lower_bound(cells_.begin(), cells_.end(), Entry{cell, -1});
        for (; it != cells_.end() && it->cell == cell; ++it)
            if (test(it->wire)) return true;
        for (int wi : wide_)
            if (s_.wires[wi].sheet == sheet && test(wi)) return true;
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

// What lies at each point: the records the checks ask about by position.
enum class At : unsigned char { Pin, WireEnd, Label, Junction, NoConnect, BusEntry };

struct PointItem {
    PointKey key;
    At kind;
    int index;  // into the sequence of its kind (components for pins)
    int pin;    // the pin's index on its component; 0 otherwise
    int net;    // the item's net, -1 for none (junctions, flags and bus entries)
    auto operator<=>(const PointItem&) const = default;
};

class PointIndex {
public:
    explicit PointIndex(const Schematic& s) {
        for (int ci = 0; ci < (int)s.components.size(); ++ci) {
            const Component& c = s.components[ci];
            for (int pi = 0; pi < (int)c.pins.size(); ++pi)
                items_.push_back({keyOf(c.sheet, c.pins[pi].position), At::Pin, ci, pi, c.pins[pi].net});
        }
        for (int wi = 0; wi < (int)s.wires.size(); ++wi) {
            items_.push_back({keyOf(s.wires[wi].sheet, s.wires[wi].a), At::WireEnd, wi, 0, s.wires[wi].net});
            items_.push_back({keyOf(s.wires[wi].sheet, s.wires[wi].b), At::WireEnd, wi, 1, s.wires[wi].net});
        }
        for (int li = 0; li < (int)s.labels.size(); ++li)
            items_.push_back({keyOf(s.labels[li].sheet, s.labels[li].position), At::Label, li, 0, s.labels[li].net});
        for (int ji = 0; ji < (int)s.junctions.size(); ++ji)
            items_.push_back({keyOf(s.junctions[ji].sheet, s.junctions[ji].position), At::Junction, ji, 0, -1});
        for (int ni = 0; ni < (int)s.no_connects.size(); ++ni)
            items_.push_back({keyOf(s.no_connects[ni].sheet, s.no_connects[ni].position), At::NoConnect, ni, 0, -1});
        for (int bi = 0; bi < (int)s.bus_entries.size(); ++bi) {
            const BusEntry& e = s.bus_entries[bi];
            items_.push_back({keyOf(e.sheet, e.position), At::BusEntry, bi, 0, -1});
            items_.push_back(
                {keyOf(e.sheet, {e.position.x + e.size.x, e.position.y + e.size.y}), At::BusEntry, bi, 1, -1});
        }
        std::sort(items_.begin(), items_.end());
    }

    struct Range {
        const PointItem* first;
        const PointItem* last;
        const PointItem* begin() const { return first; }
        const PointItem* end() const { return last; }
    };
    Range at(const PointKey& key) const {
        auto lo = std::lower_bound(items_.begin(), items_.end(), key,
                                   [](const PointItem& i, const PointKey& k) { return i.key < k; });
        auto hi = lo;
        while (hi != items_.end() && hi->key == key) ++hi;
        return {items_.data() + (lo - items_.begin()), items_.data() + (hi - items_.begin())};
    }
    Range at(int sheet, Point p) const { return at(keyOf(sheet, p)); }
    const std::vector<PointItem>& all() const { return items_; }

private:
    std::vector<PointItem> items_;
};

struct UnionFind {
    std::vector<int> parent;
    explicit UnionFind(size_t n) : parent(n) {
        for (size_t i = 0; i < n; ++i) parent[i] = (int)i;
    }
    int find(int x) {
        while (parent[x] != x) x = parent[x] = parent[parent[x]];
        return x;
    }
    void unite(int a, int b) { parent[find(a)] = find(b); }
};

// "A and B", "A, B and C".
std::string joinWithAnd(const std::vector<std::string_view>& names) {
    std::string out;
    for (size_t i = 0; i < names.size(); ++i) {
        if (i > 0) out += i + 1 == names.size() ? " and " : ", ";
        out += names[i];
    }
    return out;
}

class Checker {
public:
    Checker(const Schematic& s, const ErcOptions& o)
        : s_(s),
          o_(o),
          eagle_(s.format == "eagle"),
          points_(s),
          wires_(s, false),
          buses_(s, true),
          busText_(s.labels.size(), 0) {
        for (size_t li = 0; li < s.labels.size(); ++li)
            busText_[li] = parseBusText(s.labels[li].text, s.bus_aliases).has_value();
        findNoConnectNets();
    }

    std::vector<ErcFinding> run() {
        checkNets();
        if (o_.labels) checkLabels();
        if (o_.unconnected) {
            checkOpenPins();
            checkOpenSheetPins();
            checkNoConnectFlags();
            checkNoConnectPins();
        }
        if (o_.dangling) checkDanglingWires();
        if (o_.duplicates) checkReferences();
        if (o_.names) {
            checkNameCase();
            checkNameConflicts();
        }
        if (o_.labels) checkHierarchy();
        reportOncePerSheetFile();
        return std::move(out_);
    }

private:
    const Schematic& s_;
    const ErcOptions& o_;
    const bool eagle_;  // connectivity from the file's segments, not from where things are drawn
    PointIndex points_;
    WireGrid wires_;
    WireGrid buses_;
    std::vector<char> busText_;         // per label: its text names several signals
    std::vector<char> holdsNoConnect_;  // per net
    std::vector<ErcFinding> out_;

    const Pin& pinOf(PinRef r) const { return s_.components[r.first].pins[r.second]; }

    ErcFinding& add(const char* severity, const char* code, std::string message, Point position, int sheet,
                    int component, int net, std::vector<const char*> rules) {
        out_.push_back(
            {{severity, code, std::move(message), position, sheet, component, net}, std::move(rules), {}, {}});
        return out_.back();
    }

    // Pins of one component that share a point and a name are one pin to the eye (stacked pins).
    std::tuple<int, long long, long long, std::string_view> stackOf(PinRef r) const {
        const Component& c = s_.components[r.first];
        const Pin& p = c.pins[r.second];
        return {r.first, micrometres(p.position.x), micrometres(p.position.y), p.name};
    }

    // By reference, then pin number, then unit: the units of one part share
    // their power pins' numbers.
    bool naturallyBefore(PinRef a, PinRef b) const {
        const Component& ca = s_.components[a.first];
        const Component& cb = s_.components[b.first];
        if (int c = compareNatural(ca.reference, cb.reference)) return c < 0;
        if (int c = compareNatural(pinOf(a).number, pinOf(b).number)) return c < 0;
        if (ca.unit != cb.unit) return ca.unit < cb.unit;
        return a < b;
    }

    // The pin KiCad marks for an undriven input: the first in natural order,
    // visible before hidden, power inputs before plain inputs.
    PinRef shownPin(std::vector<PinRef> pins) const {
        std::sort(pins.begin(), pins.end(), [&](PinRef a, PinRef b) { return naturallyBefore(a, b); });
        PinRef kept = pins[0];
        for (size_t i = 1; i < pins.size(); ++i) {
            const Pin& k = pinOf(kept);
            const Pin& p = pinOf(pins[i]);
            if ((k.hidden && !p.hidden) || (p.type == PinType::PowerIn && k.type != PinType::PowerIn)) kept = pins[i];
        }
        return kept;
    }

    std::string pinText(PinRef r) const { return s_.components[r.first].reference + "." + pinOf(r).number; }

    std::string netName(int net) const { return net >= 0 ? s_.nets[net].name : std::string("?"); }

    // The net a no-connect flag lies on: that of a pin, wire end or label at
    // its point, else of a wire passing through it; -1 when it lies on nothing.
    int netOfFlag(const NoConnect& n) const {
        for (const PointItem& i : points_.at(n.sheet, n.position)) {
            if (i.kind == At::Pin) return pinOf({i.index, i.pin}).net;
            if (i.kind == At::WireEnd && !s_.wires[i.index].bus) return s_.wires[i.index].net;
            if (i.kind == At::Label && !busText_[i.index]) return s_.labels[i.index].net;
        }
        int net = -1;
        wires_.anyOn(n.sheet, n.position, [&](int wi) {
            net = s_.wires[wi].net;
            return true;
        });
        return net;
    }

    void findNoConnectNets() {
        holdsNoConnect_.assign(s_.nets.size(), 0);
        auto mark = [&](int net) {
            if (net >= 0 && net < (int)s_.nets.size()) holdsNoConnect_[net] = 1;
        };
        for (const NoConnect& n : s_.no_connects) {
            for (const PointItem& i : points_.at(n.sheet, n.position)) {
                if (i.kind == At::Pin) mark(pinOf({i.index, i.pin}).net);
                if (i.kind == At::WireEnd && !s_.wires[i.index].bus) mark(s_.wires[i.index].net);
                if (i.kind == At::Label) mark(s_.labels[i.index].net);
            }
            wires_.anyOn(n.sheet, n.position, [&](int wi) {
                mark(s_.wires[wi].net);
                return false;
            });
        }
        for (const Component& c : s_.components)
            for (const Pin& p : c.pins)
                if (p.no_connect) mark(p.net);
    }

    // ---- Per-net checks ----

    void checkNets() {
        for (int ni = 0; ni < (int)s_.nets.size(); ++ni) {
            const Net& net = s_.nets[ni];
            if (net.bus) continue;
            bool hasPowerSymbol = false, powerIn = false, powerOut = false, input = false, driven = false;
            int realPins = 0;
            std::vector<PinRef> undriven, outputs, powerOutputs;
            for (PinRef r : net.pins) {
                const Pin& pin = pinOf(r);
                if (s_.components[r.first].power_symbol)
                    hasPowerSymbol = true;
                else
                    ++realPins;
                switch (roleOf(pin.type)) {
                    case Role::PowerIn:
                        powerIn = true;
                        undriven.push_back(r);
                        break;
                    case Role::Input:
                        input = true;
                        undriven.push_back(r);
                        break;
                    case Role::PowerOut:
                        powerOut = driven = true;
                        // Eagle draws a rail with many supply symbols, each a power output.
                        if (!eagle_ || !s_.components[r.first].power_symbol) powerOutputs.push_back(r);
                        break;
                    case Role::Output:
                        driven = true;
                        outputs.push_back(r);
                        break;
                    case Role::Driver:
                        driven = true;
                        break;
                    case Role::Other:
                        break;
                }
            }
            Point anchor;
            if (!net.pins.empty())
                anchor = pinOf(net.pins[0]).position;
            else if (!net.wires.empty())
                anchor = s_.wires[net.wires[0]].a;
            const int sheet = net.sheets.empty() ? 0 : net.sheets[0];
            const int netComponent = net.pins.empty() ? -1 : net.pins[0].first;
            const bool flagged = holdsNoConnect_[ni];

            if (o_.single_pin && (hasPowerSymbol ? 1 : 0) + realPins == 1 && net.labels.empty() && !net.wires.empty()) {
                const Component& comp = s_.components[net.pins[0].first];
                const Pin& pin = pinOf(net.pins[0]);
                if (!pin.no_connect)
                    add("warning", "NET_SINGLE_PIN",
                        "Net " + net.name + " only reaches " + comp.reference + " pin " + pin.number + " (" + pin.name +
                            ") — a wire goes nowhere",
                        anchor, sheet, net.pins[0].first, ni, {kPinNotConnected})
                        .item_uuid = pin.uuid;
            }
            if (o_.power && powerIn && !powerOut && !flagged) {
                const PinRef r = shownPin(undriven);
                add("error", "POWER_NOT_DRIVEN",
                    "Power input pin " + s_.components[r.first].reference + " pin " + pinOf(r).number + " on net " +
                        net.name +
                        " is not driven by any power output pin (a power symbol does not drive a net: add a "
                        "PWR_FLAG where the supply enters)",
                    pinOf(r).position, s_.components[r.first].sheet, r.first, ni, {kPowerPinNotDriven})
                    .item_uuid = pinOf(r).uuid;
            }
            if (o_.power && !powerIn && input && !driven && !flagged) {
                const PinRef r = shownPin(undriven);
                add("error", "INPUT_NOT_DRIVEN",
                    "Input pin " + s_.components[r.first].reference + " pin " + pinOf(r).number + " on net " +
                        net.name +
                        " is not driven by any output, bidirectional, tri-state, passive or power output pin",
                    pinOf(r).position, s_.components[r.first].sheet, r.first, ni, {kPinNotDriven})
                    .item_uuid = pinOf(r).uuid;
            }
            if (o_.outputs) {
                checkConflict(ni, outputs, "error", "OUTPUT_CONFLICT", " output pins driving each other: ", " has ");
                checkConflict(ni, powerOutputs, "warning", "POWER_OUT_CONFLICT", " power output pins: ", " joins ");
            }
            if (o_.power && realPins == 0 && hasPowerSymbol && net.wires.empty())
                add("warning", "POWER_SYMBOL_FLOATING", "Power symbol " + net.name + " is not connected to anything",
                    anchor, sheet, netComponent, ni, {kPinNotConnected})
                    .item_uuid = pinOf(net.pins[0]).uuid;
        }
    }

    // Two or more stacks of `pins` (all of one type) on net `ni` drive each other.
    void checkConflict(int ni, const std::vector<PinRef>& pins, const char* severity, const char* code,
                       const char* listIntro, const char* verb) {
        if (pins.size() < 2) return;
        std::map<std::tuple<int, long long, long long, std::string_view>, size_t> stackIndex;
        std::vector<PinRef> shown;  // the first pin of each stack, in net order
        for (PinRef r : pins)
            if (stackIndex.emplace(stackOf(r), shown.size()).second) shown.push_back(r);
        if (shown.size() < 2) return;
        std::string list;
        for (PinRef r : shown) list += (list.empty() ? "" : ", ") + pinText(r);
        PinRef first = pins[0];
        for (PinRef r : pins)
            if (naturallyBefore(r, first)) first = r;
        const Net& net = s_.nets[ni];
        ErcFinding& f = add(severity, code, "Net " + net.name + verb + std::to_string(shown.size()) + listIntro + list,
                            pinOf(first).position, s_.components[first.first].sheet, first.first, ni, {kPinToPin});
        f.stacks.resize(shown.size());
        for (PinRef r : net.pins) {
            auto it = stackIndex.find(stackOf(r));
            if (it != stackIndex.end()) f.stacks[it->second].push_back(pinOf(r).uuid);
        }
    }

    // ---- Labels ----

    // A label is attached when its point is a pin, a no-connect flag, a sheet
    // pin, or a wire's end or middle (a bus's, for a bus text).
    bool attached(int li) const {
        const Label& l = s_.labels[li];
        if (eagle_) {  // an Eagle label belongs to a segment of its net, wherever it is drawn
            const int n = l.net;
            return n >= 0 && n < (int)s_.nets.size() && (!s_.nets[n].wires.empty() || !s_.nets[n].pins.empty());
        }
        const bool bus = busText_[li];
        for (const PointItem& i : points_.at(l.sheet, l.position)) {
            if (i.kind == At::Pin || i.kind == At::NoConnect) return true;
            if (i.kind == At::Label && i.index != li && s_.labels[i.index].kind == SheetPin) return true;
            if (i.kind == At::WireEnd && s_.wires[i.index].bus == bus) return true;
        }
        return (bus ? buses_ : wires_).anyOn(l.sheet, l.position, [](int) { return true; });
    }

    void checkLabels() {
        std::vector<char> floating(s_.labels.size(), 0);
        std::set<std::pair<int, int>> floatingOn;  // (net, sheet)
        for (int li = 0; li < (int)s_.labels.size(); ++li) {
            if (s_.labels[li].kind == SheetPin || attached(li)) continue;
            floating[li] = 1;
            floatingOn.insert({s_.labels[li].net, s_.labels[li].sheet});
        }
        for (int li = 0; li < (int)s_.labels.size(); ++li) {
            const Label& l = s_.labels[li];
            const char* rule = l.kind == Global ? kGlobalLabelDangling : kLabelDangling;
            if (floating[li]) {
                add("warning", "LABEL_FLOATING", "Label '" + l.text + "' is not attached to any wire or pin",
                    l.position, l.sheet, -1, l.net, {rule})
                    .item_uuid = l.uuid;
                continue;
            }
            if (l.kind == SheetPin || busText_[li] || l.net < 0 || l.net >= (int)s_.nets.size()) continue;
            const Net& net = s_.nets[l.net];
            if (net.bus || net.pins.size() > 1 || holdsNoConnect_[l.net] || floatingOn.count({l.net, l.sheet}))
                continue;
            std::string reach = net.pins.empty() ? "' reaches no pin on net "
                                                 : "' only reaches " + s_.components[net.pins[0].first].reference +
                                                       " pin " + pinOf(net.pins[0]).number + " on net ";
            add("info", "LABEL_SINGLE", "Label '" + l.text + reach + net.name + "; it connects nothing else",
                l.position, l.sheet, -1, l.net, {rule})
                .item_uuid = l.uuid;
        }
    }

    // ---- Pins ----

    void checkOpenPins() {
        for (int ci = 0; ci < (int)s_.components.size(); ++ci) {
            const Component& comp = s_.components[ci];
            std::set<std::pair<std::pair<long long, long long>, std::string_view>> reported;  // stacks
            for (int pi = 0; pi < (int)comp.pins.size(); ++pi) {
                const Pin& pin = comp.pins[pi];
                if (pin.no_connect || pin.implicit_power) continue;
                if (pin.type == PinType::NoConnect || pin.type == PinType::Free) continue;
                if (pin.net < 0) {
                    add("warning", "PIN_UNCONNECTED",
                        comp.reference + " pin " + pin.number + " (" + pin.name + ") is not connected", pin.position,
                        comp.sheet, ci, -1, {kPinNotConnected})
                        .item_uuid = pin.uuid;
                    continue;
                }
                const Net& net = s_.nets[pin.net];
                if (!net.wires.empty() || !net.labels.empty() || holdsNoConnect_[pin.net]) continue;
                const auto stack = stackOf({ci, pi});
                const bool alone =
                    std::all_of(net.pins.begin(), net.pins.end(), [&](PinRef r) { return stackOf(r) == stack; });
                if (!alone || !reported.insert({{std::get<1>(stack), std::get<2>(stack)}, pin.name}).second) continue;
                const bool isInput = pin.type == PinType::Input || pin.type == PinType::PowerIn;
                add(isInput ? "error" : "warning", "PIN_UNCONNECTED",
                    comp.reference + " pin " + pin.number + " (" + pin.name + ", " + pin.type + ") is not connected",
                    pin.position, comp.sheet, ci, pin.net, {kPinNotConnected})
                    .item_uuid = pin.uuid;
            }
        }
    }

    // A sheet pin is attached when its point on the parent sheet is a pin, a
    // no-connect flag, another label, or a wire's end or middle (a bus's, for a bus text).
    void checkOpenSheetPins() {
        for (const SheetSymbol& sym : s_.sheet_symbols)
            for (int li : sym.pins) {
                if (li < 0 || li >= (int)s_.labels.size()) continue;
                const Label& l = s_.labels[li];
                const bool bus = busText_[li];
                bool found = false;
                for (const PointItem& i : points_.at(l.sheet, l.position))
                    found = found || i.kind == At::Pin || i.kind == At::NoConnect ||
                            (i.kind == At::Label && i.index != li) ||
                            (i.kind == At::WireEnd && s_.wires[i.index].bus == bus);
                if (found || (bus ? buses_ : wires_).anyOn(l.sheet, l.position, [](int) { return true; })) continue;
                add("warning", "PIN_UNCONNECTED", "Sheet pin '" + l.text + "' on " + sym.name + " is not connected",
                    l.position, l.sheet, -1, l.net, {kPinNotConnected})
                    .item_uuid = l.uuid;
            }
    }

    // A no-connect flag on a net that reaches two or more pins says "unused"
    // about something that is used. On a sheet pin or hierarchical label it
    // marks an unused port, which says nothing about the pins behind it.
    void checkNoConnectFlags() {
        for (const NoConnect& n : s_.no_connects) {
            bool port = false;
            PinRef under{-1, -1};
            for (const PointItem& i : points_.at(n.sheet, n.position)) {
                if (i.kind == At::Label)
                    port = port || s_.labels[i.index].kind == SheetPin || s_.labels[i.index].kind == Hierarchical;
                if (i.kind == At::Pin && under.first < 0) under = {i.index, i.pin};
            }
            const int ni = netOfFlag(n);
            if (port || ni < 0) continue;
            const Net& net = s_.nets[ni];
            std::set<std::tuple<int, long long, long long, std::string_view>> seen;
            std::vector<PinRef> stacks, power;
            for (PinRef r : net.pins)
                if (seen.insert(stackOf(r)).second) (s_.components[r.first].power_symbol ? power : stacks).push_back(r);
            stacks.insert(stacks.end(), power.begin(), power.end());  // real parts first
            if (stacks.size() < 2) continue;
            std::string list;
            for (size_t k = 0; k < stacks.size() && k < 4; ++k) list += (k ? ", " : "") + pinText(stacks[k]);
            if (stacks.size() > 4) list += ", …";
            const std::string where =
                under.first >= 0 ? "on " + s_.components[under.first].reference + " pin " + pinOf(under).number
                                 : "at (" + formatNumber(n.position.x, 2) + ", " + formatNumber(n.position.y, 2) + ")";
            add("warning", "NC_CONNECTED",
                "No-connect flag " + where + " is on net " + net.name + ", which reaches " +
                    std::to_string(stacks.size()) + " pins: " + list,
                n.position, n.sheet, under.first, ni, {kNoConnectConnected});
        }
    }

    // A pin that is itself of type no_connect must not be wired.
    void checkNoConnectPins() {
        for (int ci = 0; ci < (int)s_.components.size(); ++ci) {
            const Component& comp = s_.components[ci];
            for (int pi = 0; pi < (int)comp.pins.size(); ++pi) {
                const Pin& pin = comp.pins[pi];
                if (pin.type != PinType::NoConnect) continue;
                bool wired = false;
                for (const PointItem& i : points_.at(comp.sheet, pin.position))
                    wired = wired || (i.kind == At::WireEnd && !s_.wires[i.index].bus) || i.kind == At::Label ||
                            (i.kind == At::Pin && pinOf({i.index, i.pin}).type != PinType::NoConnect);
                if (wired)
                    add("warning", "NC_CONNECTED",
                        comp.reference + " pin " + pin.number + " is of type no_connect but is wired to net " +
                            netName(pin.net),
                        pin.position, comp.sheet, ci, pin.net, {kNoConnectConnected});
            }
        }
    }

    // ---- Dangling wire ends ----

    // Eagle draws short wires from pins to a label of the wire's own net on
    // purpose; such a labelled stub is finished, not dangling.
    std::vector<char> eagleLabelledWires() const {
        std::vector<char> labelled(s_.wires.size(), 0);
        for (const Label& label : s_.labels) {
            if (label.net < 0) continue;
            for (const PointItem& i : points_.at(label.sheet, label.position))
                if (i.kind == At::WireEnd && s_.wires[i.index].net == label.net) labelled[i.index] = 1;
            // Several wires may carry the label on their interior; mark them all.
            wires_.anyOn(label.sheet, label.position, [&](int wi) {
                if (s_.wires[wi].net == label.net) labelled[wi] = 1;
                return false;
            });
        }
        return labelled;
    }

    void checkDanglingWires() {
        std::vector<char> labelled;
        const bool eagle = eagle_;
        if (eagle) labelled = eagleLabelledWires();
        for (int wi = 0; wi < (int)s_.wires.size(); ++wi) {
            const Wire& w = s_.wires[wi];
            if (w.bus) continue;
            for (Point p : {w.a, w.b}) {
                int ends = 0;
                bool anchored = false;
                for (const PointItem& i : points_.at(w.sheet, p)) {
                    if (i.kind == At::WireEnd) {
                        ends += !s_.wires[i.index].bus;
                    } else {
                        anchored = true;
                    }
                }
                if (ends >= 2 || anchored || (eagle && labelled[wi])) continue;
                const bool onOther = wires_.anyOn(w.sheet, p, [&](int other) { return other != wi; });
                // Eagle joins a wire end to a wire's middle; KiCad only at a junction.
                if (onOther && eagle) continue;
                const Net* net = w.net >= 0 ? &s_.nets[w.net] : nullptr;
                std::vector<const char*> rules{kWireEndpoint};
                if (!net || (net->pins.empty() && net->labels.empty())) rules.push_back(kWireDangling);
                add("warning", "WIRE_DANGLING",
                    "Wire end at (" + formatNumber(p.x, 2) + ", " + formatNumber(p.y, 2) + ") on net " +
                        netName(w.net) +
                        (onOther ? " touches another wire without a junction (KiCad leaves it unconnected)"
                                 : " connects to nothing"),
                    p, w.sheet, -1, w.net, std::move(rules))
                    .item_uuid = w.uuid;
            }
        }
    }

    // ---- References ----

    void checkReferences() {
        std::map<std::string, std::vector<int>> byKey;
        for (int ci = 0; ci < (int)s_.components.size(); ++ci) {
            const Component& comp = s_.components[ci];
            if (comp.power_symbol) continue;
            if (comp.reference.empty())
                add("warning", "REF_UNANNOTATED",
                    "Component '" + comp.value + "' (" + comp.value + ") has no final reference designator",
                    comp.position, comp.sheet, ci, -1, {kUnannotated});
            else if (endsWithQuestionMark(comp.reference))
                add("warning", "REF_UNANNOTATED",
                    "Component '" + comp.reference + "' (" + comp.value + ") has no final reference designator",
                    comp.position, comp.sheet, ci, -1, {kUnannotated});
            byKey[comp.reference + "#" + std::to_string(comp.unit)].push_back(ci);
        }
        for (const auto& [key, list] : byKey) {
            if (list.size() < 2) continue;
            const Component& first = s_.components[list[0]];
            if (first.reference.empty() || endsWithQuestionMark(first.reference)) continue;
            const Component& second = s_.components[list[1]];
            add("error", "REF_DUPLICATE",
                "Reference " + first.reference + " (unit " + std::to_string(first.unit) + ") is used by " +
                    std::to_string(list.size()) + " symbols",
                second.position, second.sheet, list[1], -1, {kDuplicateReference});
        }
    }

    // ---- Names ----

    // Spellings that differ only by letter case. The same spelling twice is
    // never reported: a local label on two sheets names two nets on purpose.
    void checkNameCase() {
        struct Use {
            std::string_view text;
            bool power;
            Point position;
            int sheet, net, component;
        };
        std::vector<Use> uses;
        for (const Label& l : s_.labels)
            if (l.kind != SheetPin) uses.push_back({l.text, false, l.position, l.sheet, l.net, -1});
        for (int ci = 0; ci < (int)s_.components.size(); ++ci) {
            const Component& c = s_.components[ci];
            if (!c.power_symbol) continue;
            for (const Pin& p : c.pins) {
                const std::string_view name = powerNameOf(s_, c, p);
                if (!name.empty()) {
                    uses.push_back({name, true, c.position, c.sheet, p.net, ci});
                    break;
                }
            }
        }
        std::map<std::string, std::map<std::string_view, std::vector<size_t>>> groups;  // folded -> spelling -> uses
        for (size_t u = 0; u < uses.size(); ++u) groups[toLower(uses[u].text)][uses[u].text].push_back(u);
        for (const auto& [folded, spellings] : groups) {
            if (spellings.size() < 2) continue;
            std::vector<std::string_view> names;
            std::vector<std::pair<bool, bool>> kinds;  // (a label, a power name) per spelling
            bool oneNet = true;
            const int net0 = uses[spellings.begin()->second[0]].net;
            for (const auto& [name, list] : spellings) {
                names.push_back(name);
                std::pair<bool, bool> k{false, false};
                for (size_t u : list) {
                    (uses[u].power ? k.second : k.first) = true;
                    oneNet = oneNet && uses[u].net == net0;
                }
                kinds.push_back(k);
            }
            std::vector<const char*> rules;
            auto addRule = [&](const char* r) {
                if (std::find(rules.begin(), rules.end(), r) == rules.end()) rules.push_back(r);
            };
            for (size_t i = 0; i < kinds.size(); ++i)
                for (size_t j = i + 1; j < kinds.size(); ++j) {
                    if (kinds[i].first && kinds[j].first) addRule(kSimilarLabels);
                    if (kinds[i].second && kinds[j].second) addRule(kSimilarPower);
                    if ((kinds[i].first && kinds[j].second) || (kinds[i].second && kinds[j].first))
                        addRule(kSimilarLabelAndPower);
                }
            std::string list;
            for (std::string_view n : names) (list += list.empty() ? "" : " / ") += n;
            const Use& at = uses[std::next(spellings.begin())->second[0]];
            add("warning", "NET_NAME_CASE",
                "Names " + list + " differ only by letter case" +
                    (oneNet && net0 >= 0 ? " on one net, " + s_.nets[net0].name : std::string()) +
                    " — probably meant to be one net",
                at.position, at.sheet, at.component, at.net, std::move(rules));
        }
    }

    // Two names on what the drawing of one sheet joins: KiCad picks one of
    // them for the netlist and warns that the other is lost.
    void checkNameConflicts() {
        // Nodes: wires, labels, then pins.
        const int W = (int)s_.wires.size(), L = (int)s_.labels.size();
        std::vector<int> pinBase(s_.components.size() + 1, 0);
        for (size_t ci = 0; ci < s_.components.size(); ++ci)
            pinBase[ci + 1] = pinBase[ci] + (int)s_.components[ci].pins.size();
        const int pinStart = W + L;
        // The names each item carries, strongest first by kind, then power
        // symbols before other parts, then names without "-Pad", then bytes.
        struct Name {
            std::string_view text;
            int kind;      // 0 global label, 1 power pin, 2 local label, 3 hierarchical label
            int ordinary;  // 1 for a power pin of an ordinary part
            Point position;
            int sheet, node, net, component;
            bool operator<(const Name& o) const {
                const bool pad = text.find("-Pad") != std::string_view::npos;
                const bool opad = o.text.find("-Pad") != std::string_view::npos;
                return std::tie(kind, ordinary, pad, text) < std::tie(o.kind, o.ordinary, opad, o.text);
            }
        };
        std::vector<Name> names;  // labels in file order, then pins
        for (int li = 0; li < L; ++li) {
            const Label& l = s_.labels[li];
            if (busText_[li] || l.kind == SheetPin) continue;
            const int kind = l.kind == Global ? 0 : l.kind == Hierarchical ? 3 : 2;
            names.push_back({l.text, kind, 0, l.position, l.sheet, W + li, l.net, -1});
        }
        for (int ci = 0; ci < (int)s_.components.size(); ++ci) {
            const Component& c = s_.components[ci];
            for (int pi = 0; pi < (int)c.pins.size(); ++pi) {
                const std::string_view name = powerNameOf(s_, c, c.pins[pi]);
                if (!name.empty())
                    names.push_back({name, 1, c.power_symbol ? 0 : 1, c.pins[pi].position, c.sheet,
                                     pinStart + pinBase[ci] + pi, c.pins[pi].net, ci});
            }
        }
        // A connection lies inside one net, so only the drawing of nets that
        // carry two names needs walking.
        std::vector<char> walked(s_.nets.size(), 0);
        auto isWalked = [&](int net) { return net >= 0 && net < (int)walked.size() && walked[net]; };
        {
            std::unordered_map<int, std::string_view> firstOfNet;
            for (const Name& n : names) {
                if (n.net < 0 || n.net >= (int)walked.size()) continue;
                auto [it, first] = firstOfNet.emplace(n.net, n.text);
                if (!first && it->second != n.text) walked[n.net] = 1;
            }
        }
        std::erase_if(names, [&](const Name& n) { return !isWalked(n.net); });
        if (names.empty()) return;
        UnionFind uf(pinStart + pinBase.back());
        // Junctions and no-connect flags are left out: they join only what meets at their point anyway.
        auto nodeOf = [&](const PointItem& i) -> int {
            if (!isWalked(i.net)) return -1;
            switch (i.kind) {
                case At::WireEnd:
                    return s_.wires[i.index].bus ? -1 : i.index;
                case At::Label:
                    return busText_[i.index] ? -1 : W + i.index;
                case At::Pin:
                    return pinOf({i.index, i.pin}).type == PinType::NoConnect ? -1
                                                                              : pinStart + pinBase[i.index] + i.pin;
                default:
                    return -1;
            }
        };
        // Items at one point, and points on a wire's middle, are joined.
        const std::vector<PointItem>& all = points_.all();
        for (size_t b = 0; b < all.size();) {
            size_t e = b;
            int first = -1;
            for (; e < all.size() && all[e].key == all[b].key; ++e) {
                const int node = nodeOf(all[e]);
                if (node < 0) continue;
                if (first < 0)
                    first = node;
                else
                    uf.unite(node, first);
            }
            if (first >= 0) {
                const Point p{all[b].key.x / 1000.0, all[b].key.y / 1000.0};
                wires_.anyOn(all[b].key.sheet, p, [&](int wi) {
                    uf.unite(wi, first);
                    return false;
                });
            }
            b = e;
        }
        // One sheet's connections that carry a common name are one connection.
        struct SheetNameHash {
            size_t operator()(const std::pair<int, std::string_view>& k) const {
                return std::hash<std::string_view>{}(k.second) * 31 + static_cast<size_t>(k.first);
            }
        };
        std::unordered_map<std::pair<int, std::string_view>, int, SheetNameHash> byName;
        for (const Name& n : names) {
            auto [it, first] = byName.emplace(std::make_pair(n.sheet, n.text), n.node);
            if (!first) uf.unite(n.node, it->second);
        }
        // Most connections carry one name, however often (a rail's power symbols):
        // only those with a second one are looked at closely.
        std::unordered_map<int, size_t> firstName;  // connection -> its first name
        std::vector<int> order;                     // connections with two names, by their first name
        std::unordered_map<int, std::vector<size_t>> byConnection;
        for (size_t k = 0; k < names.size(); ++k) {
            const int root = uf.find(names[k].node);
            auto [it, first] = firstName.emplace(root, k);
            if (first || names[it->second].text == names[k].text || byConnection.count(root)) continue;
            byConnection[root];
            order.push_back(root);
        }
        std::sort(order.begin(), order.end(), [&](int a, int b) { return firstName[a] < firstName[b]; });
        for (size_t k = 0; k < names.size(); ++k) {
            auto it = byConnection.find(uf.find(names[k].node));
            if (it != byConnection.end()) it->second.push_back(k);
        }
        for (int root : order) {
            const std::vector<size_t>& list = byConnection[root];
            std::map<std::string_view, const Name*> best;  // each distinct name at its strongest
            for (size_t k : list) {
                auto [it, first] = best.emplace(names[k].text, &names[k]);
                if (!first && names[k] < *it->second) it->second = &names[k];
            }
            if (best.size() < 2) continue;
            std::vector<const Name*> ranked;
            for (const auto& [text, n] : best) ranked.push_back(n);
            std::stable_sort(ranked.begin(), ranked.end(), [](const Name* a, const Name* b) { return *a < *b; });
            std::vector<std::string_view> texts;
            for (const Name* n : ranked) texts.push_back(n->text);
            const std::string_view used = texts[0];
            const Name* at = nullptr;
            for (size_t k : list)
                if (names[k].text == texts[1]) {
                    at = &names[k];
                    break;
                }
            const int ni = at->net;
            std::string message = "Net names " + joinWithAnd(texts) + (texts.size() == 2 ? " are both" : " are all") +
                                  " attached to one connection; " + std::string(used) + " is used";
            if (ni >= 0 && s_.nets[ni].name != used) message += " on this sheet, the net is named " + s_.nets[ni].name;
            add("warning", "NET_NAME_CONFLICT", std::move(message), at->position, at->sheet, at->component, ni,
                {kMultipleNetNames});
        }
    }

    // ---- Hierarchy ----

    void checkHierarchy() {
        // Hierarchical labels per sheet, the first of each text, gathered
        // once: a sheet may be instantiated many times.
        std::map<int, std::map<std::string, int>> hierBySheet;
        for (int li = 0; li < (int)s_.labels.size(); ++li)
            if (s_.labels[li].kind == Hierarchical) hierBySheet[s_.labels[li].sheet].emplace(s_.labels[li].text, li);
        const std::map<std::string, int> none;
        for (const SheetSymbol& sym : s_.sheet_symbols) {
            if (sym.child < 0) continue;
            std::map<std::string, int> pins;
            for (int li : sym.pins) pins.emplace(s_.labels[li].text, li);
            auto h = hierBySheet.find(sym.child);
            const std::map<std::string, int>& hier = h == hierBySheet.end() ? none : h->second;
            for (const auto& [t, li] : pins)
                if (!hier.count(t))
                    add("error", "SHEET_PIN_UNMATCHED",
                        "Sheet pin '" + t + "' on " + sym.name + " has no hierarchical label inside the sheet",
                        s_.labels[li].position, sym.sheet, -1, -1, {kHierLabelMismatch});
            for (const auto& [t, li] : hier)
                if (!pins.count(t))
                    add("warning", "HIER_LABEL_UNMATCHED",
                        "Hierarchical label '" + t + "' in sheet " + sym.name +
                            " has no matching sheet pin on the parent",
                        s_.labels[li].position, sym.child, -1, -1, {kHierLabelMismatch});
        }
    }

    // A mistake in the drawing of a sheet used several times is one mistake.
    void reportOncePerSheetFile() {
        static const std::set<std::string_view> kDrawing = {"WIRE_DANGLING",    "PIN_UNCONNECTED", "NC_CONNECTED",
                                                            "NET_SINGLE_PIN",   "LABEL_FLOATING",  "LABEL_SINGLE",
                                                            "NET_NAME_CONFLICT"};
        const bool byFile = s_.format != "eagle";  // Eagle's sheets are pages of one file
        std::set<std::tuple<std::string_view, std::string_view, int, long long, long long>> seen;
        size_t kept = 0;
        for (ErcFinding& f : out_) {
            const ErcIssue& i = f.issue;
            const auto drawing = kDrawing.find(i.code);
            if (drawing != kDrawing.end()) {
                const bool valid = i.sheet >= 0 && i.sheet < (int)s_.sheets.size();
                const std::string_view file = byFile && valid ? std::string_view(s_.sheets[i.sheet].file) : "";
                const int sheet = byFile && valid ? 0 : i.sheet;
                // The code is keyed by the set's own text: the findings move while they are compacted.
                if (!seen.insert({*drawing, file, sheet, micrometres(i.position.x), micrometres(i.position.y)}).second)
                    continue;
            }
            if (&out_[kept] != &f) out_[kept] = std::move(f);
            ++kept;
        }
        out_.resize(kept);
    }
};

}  // namespace

std::vector<ErcFinding> collectErcFindings(const Schematic& s, const ErcOptions& options) {
    return Checker(s, options).run();
}

namespace {

void sortBySeverity(std::vector<ErcIssue>& issues) {
    std::stable_sort(issues.begin(), issues.end(), [](const ErcIssue& a, const ErcIssue& b) {
        return severityRank(a.severity) < severityRank(b.severity);
    });
}

}  // namespace

std::vector<ErcIssue> runErc(const Schematic& s, const ErcOptions& o) {
    std::vector<ErcIssue> issues;
    for (ErcFinding& f : collectErcFindings(s, o)) issues.push_back(std::move(f.issue));
    sortBySeverity(issues);
    return issues;
}

ErcReport runErc(const Schematic& s, const ErcOptions& o, const ErcProject& project) {
    ErcReport report;
    report.project_file = project.file;
    const ErcProjectFilter filter(s, project);
    for (ErcFinding& f : collectErcFindings(s, o)) {
        if (filter.hides(f))
            ++report.hidden;
        else
            report.issues.push_back(std::move(f.issue));
    }
    sortBySeverity(report.issues);
    return report;
}

ErcReport runProjectErc(const Schematic& s, const ErcOptions& o) { return runErc(s, o, readErcProject(s)); }

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

std::string ercReportText(const Schematic& s, const ErcReport& report) {
    std::string out = ercReportText(s, report.issues);
    const std::string hidden = ercHiddenText(report);
    if (!hidden.empty()) out += hidden + "\n";
    return out;
}

std::string ercHiddenText(const ErcReport& report) {
    if (report.hidden <= 0) return {};
    return std::to_string(report.hidden) + " issue(s) hidden by the project's ERC settings (" + report.project_file +
           ").";
}

}  // namespace nl

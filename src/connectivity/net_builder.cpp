#include "connectivity/net_builder.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "base/text.h"
#include "connectivity/bus_text.h"

namespace nl {

// ---------------------------------------------------------------------------
// buildNets

namespace {

struct UnionFind {
    std::vector<int32_t> parent;

    int make() {
        parent.push_back(static_cast<int32_t>(parent.size()));
        return static_cast<int>(parent.size()) - 1;
    }
    int find(int x) {
        while (parent[x] != x) {
            parent[x] = parent[parent[x]];
            x = parent[x];
        }
        return x;
    }
    // The first root goes under the second.
    void unite(int a, int b) {
        a = find(a);
        b = find(b);
        if (a != b) parent[a] = b;
    }
};

// Far beyond any drawing, yet safe to convert, add and multiply by 1000.
constexpr double kMaxMicrometres = 4e15;

int64_t toMicrometres(double mm) {
    const double v = mm * 1000.0;
    if (std::isnan(v)) return static_cast<int64_t>(kMaxMicrometres) + 1;
    if (v >= kMaxMicrometres) return static_cast<int64_t>(kMaxMicrometres);
    if (v <= -kMaxMicrometres) return -static_cast<int64_t>(kMaxMicrometres);
    return std::llround(v);  // halves away from zero
}

struct PointKey {
    int64_t x;
    int64_t y;
    int32_t sheet;
    bool operator==(const PointKey&) const = default;
};

uint64_t mix64(uint64_t z) {
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
    return z ^ (z >> 31);
}

struct PointKeyHash {
    size_t operator()(const PointKey& k) const {
        uint64_t h = mix64(static_cast<uint64_t>(k.x) + 0x9e3779b97f4a7c15ULL);
        h = mix64(h ^ static_cast<uint64_t>(k.y));
        return static_cast<size_t>(mix64(h ^ static_cast<uint32_t>(k.sheet)));
    }
};

// Open addressing with linear probing: one flat array, no allocation per
// entry, which matters with hundreds of thousands of points.
template <typename Key, typename Hash>
class FlatMap {
public:
    explicit FlatMap(size_t expected = 0) { rehash(capacityFor(expected)); }

    // The value slot for key, and whether it was just created (then holding -1).
    std::pair<int*, bool> emplace(const Key& key) {
        if ((size_ + 1) * 10 > slots_.size() * 7) rehash(slots_.size() * 2);
        size_t i = Hash{}(key)&mask_;
        while (slots_[i].value != kEmpty) {
            if (slots_[i].key == key) return {&slots_[i].value, false};
            i = (i + 1) & mask_;
        }
        slots_[i].key = key;
        slots_[i].value = -1;
        ++size_;
        return {&slots_[i].value, true};
    }
    // Starts loading the key's first slot into cache.
    void prefetch(const Key& key) const { __builtin_prefetch(&slots_[Hash{}(key)&mask_]); }
    const int* find(const Key& key) const {
        size_t i = Hash{}(key)&mask_;
        while (slots_[i].value != kEmpty) {
            if (slots_[i].key == key) return &slots_[i].value;
            i = (i + 1) & mask_;
        }
        return nullptr;
    }

private:
    static constexpr int kEmpty = std::numeric_limits<int>::min();
    struct Slot {
        Key key{};
        int value = kEmpty;
    };
    static size_t capacityFor(size_t n) {
        size_t c = 16;
        while (c * 7 < n * 10) c *= 2;
        return c;
    }
    void rehash(size_t capacity) {
        std::vector<Slot> old = std::move(slots_);
        slots_.assign(capacity, Slot{});
        mask_ = capacity - 1;
        size_ = 0;
        for (const Slot& s : old)
            if (s.value != kEmpty) *emplace(s.key).first = s.value;
    }
    std::vector<Slot> slots_;
    size_t mask_ = 0;
    size_t size_ = 0;
};

struct U64Hash {
    size_t operator()(uint64_t k) const { return static_cast<size_t>(mix64(k)); }
};

// Integer-micrometre points of one kind (wire/pin/label points, or bus points) to nodes.
// Each distinct point is kept once, in the list of points in the order they were
// first met; the hash table holds only an index into that list and part of the
// hash, so on a big board it takes a quarter of what full keys would.
class PointMap {
public:
    PointMap(UnionFind& uf, size_t expected) : uf_(uf) {
        order_.reserve(expected);
        rehash(capacityFor(expected));
    }

    int node(int sheet, Point p) { return node(keyOf(sheet, p)); }
    int node(const PointKey& key) {
        if ((order_.size() + 1) * 10 > slots_.size() * 7) rehash(slots_.size() * 2);
        const uint64_t h = hashOf(key);
        size_t i = h & mask_;
        for (; slots_[i].index != kEmpty; i = (i + 1) & mask_)
            if (slots_[i].tag == tagOf(h) && order_[slots_[i].index].first == key)
                return order_[slots_[i].index].second;
        slots_[i] = {static_cast<uint32_t>(order_.size()), tagOf(h)};
        const int n = uf_.make();
        order_.push_back({key, n});
        return n;
    }
    void prefetch(const PointKey& key) const { __builtin_prefetch(&slots_[hashOf(key) & mask_]); }
    // -1 when no item lies at the point.
    int find(int sheet, Point p) const {
        const PointKey key = keyOf(sheet, p);
        const uint64_t h = hashOf(key);
        for (size_t i = h & mask_; slots_[i].index != kEmpty; i = (i + 1) & mask_)
            if (slots_[i].tag == tagOf(h) && order_[slots_[i].index].first == key)
                return order_[slots_[i].index].second;
        return -1;
    }
    // Every distinct point with its node, in the order the points were first
    // met: design order, which keeps neighbouring lookups close in memory.
    const std::vector<std::pair<PointKey, int>>& points() const { return order_; }
    static PointKey keyOf(int sheet, Point p) { return {toMicrometres(p.x), toMicrometres(p.y), sheet}; }
    // Gives the memory back once no point is looked up any more; the map is empty after.
    void release() {
        std::vector<std::pair<PointKey, int>>().swap(order_);
        std::vector<Slot>(1, Slot{kEmpty, 0}).swap(slots_);
        mask_ = 0;
    }

private:
    static constexpr uint32_t kEmpty = ~uint32_t(0);
    struct Slot {
        uint32_t index;  // into order_
        uint32_t tag;    // the hash's upper half: most mismatches never fetch the point
    };
    static uint64_t hashOf(const PointKey& key) { return PointKeyHash{}(key); }
    static uint32_t tagOf(uint64_t hash) { return static_cast<uint32_t>(hash >> 32); }
    static size_t capacityFor(size_t n) {
        size_t c = 16;
        while (c * 7 < n * 10) c *= 2;
        return c;
    }
    void rehash(size_t capacity) {
        slots_.assign(capacity, Slot{kEmpty, 0});
        mask_ = capacity - 1;
        for (size_t n = 0; n < order_.size(); ++n) {
            const uint64_t h = hashOf(order_[n].first);
            size_t i = h & mask_;
            while (slots_[i].index != kEmpty) i = (i + 1) & mask_;
            slots_[i] = {static_cast<uint32_t>(n), tagOf(h)};
        }
    }
    UnionFind& uf_;
    std::vector<Slot> slots_;
    size_t mask_ = 0;
    std::vector<std::pair<PointKey, int>> order_;
};

int32_t cellOf(double mm) {
    const double c = std::floor(mm / 10.0);
    if (!(c > -2e9)) return -2000000000;  // also NaN
    if (c > 2e9) return 2000000000;
    return static_cast<int32_t>(c);
}

uint64_t cellKey(int sheet, int32_t cx, int32_t cy) {
    return static_cast<uint64_t>(int64_t{cy} + 1000000) ^ (static_cast<uint64_t>(int64_t{cx} + 1000000) << 24) ^
           (static_cast<uint64_t>(static_cast<uint32_t>(sheet)) << 48);
}

// Segments registered in the 10 mm cells of their bounding boxes, so a point
// is tested only against the segments of its own cell. A segment covering
// more cells than any drawing needs (a 40 m straight wire, a 64 cm diagonal)
// is kept aside and tested against every point with the same cell-range
// condition, so hostile coordinates cannot blow up memory.
class SegmentGrid {
public:
    void add(const Wire& w, int index) {
        const int32_t x0 = cellOf(std::min(w.a.x, w.b.x)), x1 = cellOf(std::max(w.a.x, w.b.x));
        const int32_t y0 = cellOf(std::min(w.a.y, w.b.y)), y1 = cellOf(std::max(w.a.y, w.b.y));
        const int64_t columns = int64_t{x1} - x0 + 1, rows = int64_t{y1} - y0 + 1;  // each below 2^32
        if (columns > kMaxCellsPerSegment || rows > kMaxCellsPerSegment || columns * rows > kMaxCellsPerSegment) {
            oversized_.push_back({index, w.sheet, x0, x1, y0, y1});
            return;
        }
        for (int32_t cx = x0; cx <= x1; ++cx)
            for (int32_t cy = y0; cy <= y1; ++cy) {
                auto [slot, inserted] = slot_.emplace(cellKey(w.sheet, cx, cy));
                if (inserted) {
                    *slot = static_cast<int>(count_.size());
                    count_.push_back(0);
                }
                ++count_[*slot];
                pending_.push_back({*slot, index});
            }
    }

    // Turns the registrations into one flat array per cell; call once after the last add.
    void freeze() {
        start_.assign(count_.size() + 1, 0);
        for (size_t i = 0; i < count_.size(); ++i) start_[i + 1] = start_[i] + count_[i];
        items_.resize(pending_.size());
        std::vector<int> fill(start_.begin(), start_.end() - 1);
        for (auto [slot, wire] : pending_) items_[fill[slot]++] = wire;
        pending_.clear();
        pending_.shrink_to_fit();
    }

    void prefetch(int sheet, Point p) const { slot_.prefetch(cellKey(sheet, cellOf(p.x), cellOf(p.y))); }
    void release() { *this = SegmentGrid(); }

    template <typename F>
    void forEachCandidate(int sheet, Point p, F&& f) const {
        const int32_t cx = cellOf(p.x), cy = cellOf(p.y);
        if (const int* slot = slot_.find(cellKey(sheet, cx, cy)))
            for (int i = start_[*slot]; i < start_[*slot + 1]; ++i) f(items_[i]);
        for (const Oversized& o : oversized_)
            if (o.sheet == sheet && cx >= o.x0 && cx <= o.x1 && cy >= o.y0 && cy <= o.y1) f(o.index);
    }

private:
    static constexpr int64_t kMaxCellsPerSegment = 4096;
    struct Oversized {
        int index, sheet;
        int32_t x0, x1, y0, y1;
    };
    FlatMap<uint64_t, U64Hash> slot_;
    std::vector<int> count_;
    std::vector<std::pair<int, int>> pending_;
    std::vector<int> start_;
    std::vector<int> items_;
    std::vector<Oversized> oversized_;
};

// Strictly inside the segment (ends excluded) and within 0.02 mm of it.
bool onInterior(Point p, Point a, Point b) {
    const double dx = b.x - a.x, dy = b.y - a.y;
    const double l2 = dx * dx + dy * dy;
    if (!(std::sqrt(l2) >= 1e-9)) return false;
    const double t = ((p.x - a.x) * dx + (p.y - a.y) * dy) / l2;
    if (!(t > 1e-6 && t < 0.999999)) return false;
    const double ex = a.x + t * dx - p.x, ey = a.y + t * dy - p.y;
    return std::sqrt(ex * ex + ey * ey) < 0.02;
}

Point fromKey(const PointKey& k) { return {static_cast<double>(k.x) / 1000.0, static_cast<double>(k.y) / 1000.0}; }

// Named nodes: power rails, label scopes and bus members.
class NamedNodes {
public:
    explicit NamedNodes(UnionFind& uf) : uf_(uf) {}
    int node(std::string key) {
        auto [it, inserted] = map_.try_emplace(std::move(key), 0);
        if (inserted) it->second = uf_.make();
        return it->second;
    }

private:
    UnionFind& uf_;
    std::unordered_map<std::string, int> map_;
};

std::string localKey(int sheet, std::string_view text) {
    std::string k = "local:" + std::to_string(sheet) + ":";
    k += text;
    return k;
}

// KiCad 6 files named power nets after the power pin rather than the value.
bool namesPowerByPin(const Schematic& s, int sheet) {
    if (sheet < 0 || sheet >= static_cast<int>(s.sheets.size())) return false;
    const long long v = s.sheets[sheet].version;
    return v >= 1 && v <= 20230120;
}

}  // namespace

// The rail a pin joins and names, or empty. Power symbols act only through
// their power inputs (a PWR_FLAG, all power outputs, names nothing), and only
// hidden power inputs of ordinary parts are implicit rail connections.
std::string_view powerNameOf(const Schematic& s, const Component& c, const Pin& p) {
    if (std::string_view(p.type) != PinType::PowerIn) return {};
    if (c.power_symbol) return namesPowerByPin(s, c.sheet) ? std::string_view(p.name) : std::string_view(c.value);
    if (p.implicit_power) return p.name;
    return {};
}

namespace {

struct Candidate {
    int priority;
    std::string_view name;
    const char* source;
};

struct CandidateKeyHash {
    size_t operator()(const std::pair<int, std::string_view>& k) const {
        return std::hash<std::string_view>{}(k.second) ^ static_cast<size_t>(k.first);
    }
};

// Byte order, a prefix before its extensions (char_traits<char> compares as unsigned char).
bool lessName(std::string_view a, std::string_view b) { return a < b; }

// What naming needs of each pin, gathered while the pins are first walked:
// the records themselves are large and would be fetched again net by net.
struct PinFacts {
    const std::vector<size_t>& base;            // component -> index of its first pin
    const std::vector<std::string_view>& rail;  // per pin: the rail it names, or empty
    const std::vector<int>& sheet;              // per component
};

void nameNet(const Schematic& s, const PinFacts& facts, Net& net, int ordinal, std::vector<Candidate>& cands) {
    cands.clear();
    for (auto [ci, pi] : net.pins) {
        const std::string_view rail = facts.rail[facts.base[ci] + pi];
        if (!rail.empty()) cands.push_back({0, rail, "power"});
    }
    for (int li : net.labels) {
        const Label& l = s.labels[li];
        switch (l.kind) {
            case Global:
                cands.push_back({1, l.text, "global_label"});
                break;
            case Hierarchical:
                cands.push_back({2, l.text, "hier_label"});
                break;
            case SheetPin:
                cands.push_back({3, l.text, "sheet_pin"});
                break;
            default:
                cands.push_back({4, l.text, "label"});
                break;
        }
    }
    if (cands.size() > 16) {
        // A rail's net offers its name once per power symbol: thousands of equal
        // candidates on a big board. Only the distinct ones need sorting.
        std::unordered_set<std::pair<int, std::string_view>, CandidateKeyHash> distinct;
        size_t kept = 0;
        for (const Candidate& c : cands)
            if (distinct.insert({c.priority, c.name}).second) cands[kept++] = c;
        cands.resize(kept);
    }
    if (!cands.empty()) {
        std::stable_sort(cands.begin(), cands.end(), [](const Candidate& a, const Candidate& b) {
            if (a.priority != b.priority) return a.priority < b.priority;
            return lessName(a.name, b.name);
        });
        net.name = cands[0].name;
        net.name_source = cands[0].source;
        if (cands.size() <= 16) {
            for (size_t i = 1; i < cands.size(); ++i) {
                const std::string_view n = cands[i].name;
                if (n != net.name && std::find(net.aliases.begin(), net.aliases.end(), n) == net.aliases.end())
                    net.aliases.emplace_back(n);
            }
        } else {
            std::unordered_set<std::string_view> seen;
            seen.insert(net.name);
            for (size_t i = 1; i < cands.size(); ++i)
                if (seen.insert(cands[i].name).second) net.aliases.emplace_back(cands[i].name);
        }
    } else if (!net.pins.empty()) {
        const Component* best_c = nullptr;
        const Pin* best_p = nullptr;
        for (auto [ci, pi] : net.pins) {
            const Component& c = s.components[ci];
            const Pin& p = c.pins[pi];
            if (!best_c || c.reference < best_c->reference ||
                (c.reference == best_c->reference && p.number < best_p->number)) {
                best_c = &c;
                best_p = &p;
            }
        }
        net.name = "Net-(" + best_c->reference + "-Pad" + best_p->number + ")";
        net.name_source = "auto";
    } else {
        net.name = (net.bus ? "Bus-" : "Net-floating-") + std::to_string(ordinal);
        net.name_source = "auto";
    }
    net.power = net.name_source == "power" || isPowerNetName(net.name);

    // Items come in design order, so runs of one sheet are common: keep one per run.
    auto addSheet = [&net](int sheet) {
        if (net.sheets.empty() || net.sheets.back() != sheet) net.sheets.push_back(sheet);
    };
    for (int w : net.wires) addSheet(s.wires[w].sheet);
    for (auto [ci, pi] : net.pins) addSheet(facts.sheet[ci]);
    for (int li : net.labels) addSheet(s.labels[li].sheet);
    std::sort(net.sheets.begin(), net.sheets.end());
    net.sheets.erase(std::unique(net.sheets.begin(), net.sheets.end()), net.sheets.end());
}

}  // namespace

void buildNets(Schematic& s, LoadBudget* budget) {
    UnionFind uf;
    size_t pin_total = 0;
    for (const Component& c : s.components) pin_total += c.pins.size();
    // Most wire ends, junctions and labels share their point with a pin or another wire.
    const size_t point_guess = s.wires.size() + s.labels.size() + pin_total;
    uf.parent.reserve(point_guess + 64);
    PointMap points(uf, point_guess);
    PointMap bus_points(uf, 0);
    NamedNodes named(uf);
    SegmentGrid wire_grid;
    SegmentGrid bus_grid;

    // Labels that stand for several signals live among the bus points.
    std::vector<std::optional<BusText>> bus_text(s.labels.size());
    for (size_t i = 0; i < s.labels.size() && !(budget && budget->exceeded); ++i) {
        bus_text[i] = parseBusText(s.labels[i].text, s.bus_aliases);
        if (bus_text[i] && budget && !budget->charge(bus_text[i]->members.size())) bus_text[i].reset();
    }

    // 1. Wires and buses.
    // The point map outgrows the CPU caches on a big design, so each lookup is
    // announced a few wires ahead. Keys are made when announced and kept only
    // until used, in a ring of kRing.
    constexpr size_t kAhead = 8, kRing = 16;
    static_assert(kAhead < kRing);
    std::array<PointKey, 2 * kRing> wire_keys;
    auto wireKeys = [&](size_t i) {
        wire_keys[2 * (i % kRing)] = PointMap::keyOf(s.wires[i].sheet, s.wires[i].a);
        wire_keys[2 * (i % kRing) + 1] = PointMap::keyOf(s.wires[i].sheet, s.wires[i].b);
    };
    for (size_t i = 0; i < kAhead && i < s.wires.size(); ++i) wireKeys(i);
    std::vector<int> wire_node(s.wires.size());
    for (size_t i = 0; i < s.wires.size(); ++i) {
        const Wire& w = s.wires[i];
        if (i + kAhead < s.wires.size()) {
            const size_t j = i + kAhead;
            wireKeys(j);
            const PointMap& ahead = s.wires[j].bus ? bus_points : points;
            ahead.prefetch(wire_keys[2 * (j % kRing)]);
            ahead.prefetch(wire_keys[2 * (j % kRing) + 1]);
        }
        PointMap& map = w.bus ? bus_points : points;
        const int a = map.node(wire_keys[2 * (i % kRing)]);
        const int b = map.node(wire_keys[2 * (i % kRing) + 1]);
        uf.unite(a, b);
        wire_node[i] = a;
        (w.bus ? bus_grid : wire_grid).add(w, static_cast<int>(i));
    }
    wire_grid.freeze();
    bus_grid.freeze();

    // 2. Junctions, no-connect markers, labels.
    // Each item's map lookup is announced a few items ahead, as for wires.
    auto nodesOf = [&](const auto& items, auto&& mapOf) {
        std::array<PointKey, kRing> keys;
        auto keyOf = [&](size_t i) { return keys[i % kRing] = PointMap::keyOf(items[i].sheet, items[i].position); };
        for (size_t i = 0; i < kAhead && i < items.size(); ++i) keyOf(i);
        std::vector<int> nodes(items.size());
        for (size_t i = 0; i < items.size(); ++i) {
            if (i + kAhead < items.size()) mapOf(i + kAhead).prefetch(keyOf(i + kAhead));
            nodes[i] = mapOf(i).node(keys[i % kRing]);
        }
        return nodes;
    };
    auto pointMap = [&](size_t) -> PointMap& { return points; };
    const std::vector<int> junction_node = nodesOf(s.junctions, pointMap);
    const std::vector<int> marker_node = nodesOf(s.no_connects, pointMap);
    const std::vector<int> label_node =
        nodesOf(s.labels, [&](size_t i) -> PointMap& { return bus_text[i] ? bus_points : points; });

    // 3. Pins. A pin of type no_connect stays out of the point map so that two
    // such pins stacked on one spot remain apart; it still joins whatever else
    // lies at its point or on a wire through it.
    std::vector<size_t> pin_base(s.components.size() + 1, 0);
    for (size_t ci = 0; ci < s.components.size(); ++ci) pin_base[ci + 1] = pin_base[ci] + s.components[ci].pins.size();
    std::vector<int> pin_node(pin_total);
    struct LoosePin {
        int node;
        int sheet;
        Point position;
    };
    std::vector<LoosePin> loose_nc_pins;                   // no-connect pins that met nothing at their point
    std::vector<std::pair<int, int>> nc_pins;              // (component, pin) of every no-connect pin
    std::unordered_map<std::string_view, int> rail_nodes;  // saves building a key per power pin
    std::vector<std::string_view> pin_rail(pin_total);
    // The pin kAhead pins further on, whose key is made and announced next.
    std::array<PointKey, kRing> pin_keys;
    size_t ahead_c = 0, ahead_p = 0;
    auto nextPinKey = [&](size_t flat) {
        while (s.components[ahead_c].pins.size() <= ahead_p) {
            ahead_p = 0;
            ++ahead_c;
        }
        const Component& c = s.components[ahead_c];
        return pin_keys[flat % kRing] = PointMap::keyOf(c.sheet, c.pins[ahead_p++].position);
    };
    for (size_t flat = 0; flat < kAhead && flat < pin_total; ++flat) nextPinKey(flat);
    for (size_t ci = 0; ci < s.components.size(); ++ci) {
        const Component& c = s.components[ci];
        for (size_t pi = 0; pi < c.pins.size(); ++pi) {
            const Pin& p = c.pins[pi];
            const size_t flat = pin_base[ci] + pi;
            if (flat + kAhead < pin_total) points.prefetch(nextPinKey(flat + kAhead));
            int node;
            if (std::string_view(p.type) == PinType::NoConnect) {
                node = uf.make();
                nc_pins.push_back({static_cast<int>(ci), static_cast<int>(pi)});
            } else {
                node = points.node(pin_keys[flat % kRing]);
            }
            pin_node[flat] = node;
            const std::string_view rail = powerNameOf(s, c, p);
            pin_rail[flat] = rail;
            if (!rail.empty()) {
                auto [it, first] = rail_nodes.try_emplace(rail, -1);
                if (first) it->second = named.node("power:" + std::string(rail));
                uf.unite(node, it->second);
            }
        }
    }
    for (auto [ci, pi] : nc_pins) {
        const Component& c = s.components[ci];
        const Pin& p = c.pins[pi];
        const int node = pin_node[pin_base[ci] + pi];
        const int there = points.find(c.sheet, p.position);
        if (there >= 0)
            uf.unite(node, there);
        else
            loose_nc_pins.push_back({node, c.sheet, p.position});
    }

    // 4. Bus entries join nothing.

    // 5. T-connections: points lying on a wire's interior, and bus points on a bus's interior.
    auto joinInteriors = [&](const SegmentGrid& grid, int sheet, Point p, int node) {
        grid.forEachCandidate(sheet, p, [&](int wi) {
            const Wire& w = s.wires[wi];
            if (w.sheet == sheet && onInterior(p, w.a, w.b)) uf.unite(wire_node[wi], node);
        });
    };
    const std::vector<std::pair<PointKey, int>>& all_points = points.points();
    for (size_t i = 0; i < all_points.size(); ++i) {
        if (i + kAhead < all_points.size())
            wire_grid.prefetch(all_points[i + kAhead].first.sheet, fromKey(all_points[i + kAhead].first));
        joinInteriors(wire_grid, all_points[i].first.sheet, fromKey(all_points[i].first), all_points[i].second);
    }
    for (const LoosePin& lp : loose_nc_pins)  // at the rounded point, like every point of the map
        joinInteriors(wire_grid, lp.sheet, fromKey(PointMap::keyOf(lp.sheet, lp.position)), lp.node);
    for (const auto& [key, node] : bus_points.points()) joinInteriors(bus_grid, key.sheet, fromKey(key), node);
    // Nothing is looked up by position any more: the memory goes to the nets built next.
    points.release();
    bus_points.release();
    wire_grid.release();
    bus_grid.release();

    // 6. Labels by scope. Sheet pins meet their hierarchical labels only after
    // 6b has seen every bus as drawn on its own sheet.
    std::unordered_map<std::string, std::vector<int>> sheet_pins;  // child sheet + text -> sheet-pin labels
    for (const SheetSymbol& sym : s.sheet_symbols) {
        if (sym.child < 0) continue;
        for (int li : sym.pins) {
            if (li < 0 || li >= static_cast<int>(s.labels.size())) continue;
            sheet_pins[localKey(sym.child, s.labels[li].text)].push_back(li);
        }
    }
    std::vector<std::pair<int, int>> hier_links;  // (hierarchical label, sheet pin)
    for (size_t i = 0; i < s.labels.size(); ++i) {
        const Label& l = s.labels[i];
        switch (l.kind) {
            case Local:
                uf.unite(label_node[i], named.node(localKey(l.sheet, l.text)));
                break;
            case Global:
                uf.unite(label_node[i], named.node("global:" + l.text));
                break;
            case Hierarchical: {
                // Also a local name on its own sheet: a local label of the same text is the same signal.
                std::string key = localKey(l.sheet, l.text);
                auto it = sheet_pins.find(key);
                if (it != sheet_pins.end())
                    for (int pin_label : it->second) hier_links.push_back({static_cast<int>(i), pin_label});
                uf.unite(label_node[i], named.node(std::move(key)));
                break;
            }
            default:
                break;
        }
    }

    // 6b. Bus members. Each member of a bus text is the signal of that name on
    // the text's sheet (everywhere, for a global label), and the texts on one
    // bus carry the same signals: vectors by position, groups by local name.
    // A bus's texts are its labels (local, global, hierarchical) or, when it
    // has none, its sheet pins. A sheet pin carries its sub-sheet's members
    // onto the parent's bus, where they meet the signals matched in the same
    // way; a bus label wins over the pin's own names.
    {
        std::vector<int> bus_of(s.labels.size(), -1);  // the bus on the item's own sheet
        std::vector<char> labelled(uf.parent.size(), 0);
        for (size_t i = 0; i < s.labels.size(); ++i) {
            if (!bus_text[i]) continue;
            bus_of[i] = uf.find(label_node[i]);
            if (s.labels[i].kind != SheetPin) labelled[bus_of[i]] = 1;
        }
        std::unordered_map<uint64_t, int> by_position;
        std::unordered_map<std::string, int> by_local;
        // The node of the signal at member k's place on a bus (its position in a
        // vector, its local name in a group), -1 while there is none.
        auto slotOf = [&](int bus, const BusText& bt, size_t k) -> int& {
            if (bt.shape == BusShape::Vector)
                return by_position.try_emplace(static_cast<uint64_t>(bus) * (kMaxBusMembers + 1) + k, -1).first->second;
            return by_local.try_emplace(std::to_string(bus) + ":" + bt.members[k].local, -1).first->second;
        };
        auto place = [&](int bus, const BusText& bt, size_t k, int node) {
            int& slot = slotOf(bus, bt, k);
            if (slot < 0)
                slot = node;
            else
                uf.unite(node, slot);
        };
        for (size_t i = 0; i < s.labels.size(); ++i) {
            if (!bus_text[i] || s.labels[i].kind == SheetPin) continue;
            const Label& l = s.labels[i];
            const BusText& bt = *bus_text[i];
            for (size_t k = 0; k < bt.members.size(); ++k) {
                const std::string& name = bt.members[k].name;
                place(bus_of[i], bt, k, named.node(l.kind == Global ? "global:" + name : localKey(l.sheet, name)));
            }
        }
        std::vector<int> child_sheet(s.labels.size(), -1);  // per sheet pin met by a hierarchical label
        for (auto [hier, pin] : hier_links) child_sheet[pin] = s.labels[hier].sheet;
        for (size_t i = 0; i < s.labels.size(); ++i) {
            if (!bus_text[i] || s.labels[i].kind != SheetPin) continue;
            const int bus = bus_of[i];
            const BusText& bt = *bus_text[i];
            for (size_t k = 0; k < bt.members.size(); ++k) {
                const std::string& name = bt.members[k].name;
                int parent = -1;
                if (labelled[bus]) {
                    parent = slotOf(bus, bt, k);
                } else {
                    parent = named.node(localKey(s.labels[i].sheet, name));
                    place(bus, bt, k, parent);
                }
                if (parent >= 0 && child_sheet[i] >= 0) uf.unite(named.node(localKey(child_sheet[i], name)), parent);
            }
        }
    }
    for (auto [hier, pin] : hier_links) uf.unite(label_node[hier], label_node[pin]);

    // 7. No-connect flags reach every pin of a marked net.
    if (!marker_node.empty()) {
        std::vector<char> marked(uf.parent.size(), 0);
        for (int n : marker_node) marked[uf.find(n)] = 1;
        for (size_t ci = 0; ci < s.components.size(); ++ci) {
            Component& c = s.components[ci];
            for (size_t pi = 0; pi < c.pins.size(); ++pi)
                if (marked[uf.find(pin_node[pin_base[ci] + pi])]) c.pins[pi].no_connect = true;
        }
    }

    // 8. Nets, created in item order. Item lists are counted first so each is allocated once.
    s.nets.clear();
    std::vector<int> net_of_root(uf.parent.size(), -1);
    int net_count = 0;
    auto netFor = [&](int node) {
        int& n = net_of_root[uf.find(node)];
        if (n < 0) n = net_count++;
        return n;
    };
    // Pin nets are kept in a flat array until the final numbering: pins are
    // large records, and walking them once instead of four times is what keeps
    // a big board's cost in line with a small one's.
    for (size_t i = 0; i < s.wires.size(); ++i) s.wires[i].net = netFor(wire_node[i]);
    std::vector<int>& pin_net = pin_node;
    for (int& n : pin_net) n = netFor(n);
    for (size_t i = 0; i < s.labels.size(); ++i) s.labels[i].net = netFor(label_node[i]);
    for (size_t i = 0; i < s.junctions.size(); ++i) s.junctions[i].net = netFor(junction_node[i]);

    s.nets.resize(net_count);
    {
        std::vector<int> counts(static_cast<size_t>(net_count) * 4, 0);
        for (const Wire& w : s.wires) ++counts[w.net * 4];
        for (int n : pin_net) ++counts[n * 4 + 1];
        for (const Label& l : s.labels) ++counts[l.net * 4 + 2];
        for (const Junction& j : s.junctions) ++counts[j.net * 4 + 3];
        for (int n = 0; n < net_count; ++n) {
            Net& net = s.nets[n];
            net.wires.reserve(counts[n * 4]);
            net.pins.reserve(counts[n * 4 + 1]);
            net.labels.reserve(counts[n * 4 + 2]);
            net.junctions.reserve(counts[n * 4 + 3]);
        }
    }
    for (size_t i = 0; i < s.wires.size(); ++i) {
        Net& net = s.nets[s.wires[i].net];
        net.wires.push_back(static_cast<int>(i));
        if (s.wires[i].bus) net.bus = true;
    }
    for (size_t ci = 0; ci < s.components.size(); ++ci) {
        const size_t pins = pin_base[ci + 1] - pin_base[ci];
        for (size_t pi = 0; pi < pins; ++pi)
            s.nets[pin_net[pin_base[ci] + pi]].pins.push_back({static_cast<int>(ci), static_cast<int>(pi)});
    }
    for (size_t i = 0; i < s.labels.size(); ++i) s.nets[s.labels[i].net].labels.push_back(static_cast<int>(i));
    for (size_t i = 0; i < s.junctions.size(); ++i) s.nets[s.junctions[i].net].junctions.push_back(static_cast<int>(i));

    // 9. Names.
    std::vector<Candidate> cands;
    std::vector<int> component_sheet(s.components.size());
    for (size_t ci = 0; ci < s.components.size(); ++ci) component_sheet[ci] = s.components[ci].sheet;
    const PinFacts facts{pin_base, pin_rail, component_sheet};
    for (size_t i = 0; i < s.nets.size(); ++i) nameNet(s, facts, s.nets[i], static_cast<int>(i) + 1, cands);

    // 10. Named before automatic, power before the rest, then by name.
    struct SortKey {
        bool automatic;
        bool power;
        std::string_view name;
        int index;
    };
    std::vector<SortKey> keys(s.nets.size());
    for (size_t i = 0; i < keys.size(); ++i)
        keys[i] = {s.nets[i].name_source == "auto", s.nets[i].power, s.nets[i].name, static_cast<int>(i)};
    std::stable_sort(keys.begin(), keys.end(), [](const SortKey& x, const SortKey& y) {
        if (x.automatic != y.automatic) return y.automatic;
        if (x.power != y.power) return x.power;
        return lessName(x.name, y.name);
    });
    std::vector<int> order(keys.size());
    for (size_t i = 0; i < keys.size(); ++i) order[i] = keys[i].index;
    std::vector<int> new_index(order.size());
    std::vector<Net> sorted;
    sorted.reserve(order.size());
    for (size_t i = 0; i < order.size(); ++i) {
        new_index[order[i]] = static_cast<int>(i);
        sorted.push_back(std::move(s.nets[order[i]]));
    }
    s.nets = std::move(sorted);
    for (Wire& w : s.wires) w.net = new_index[w.net];
    for (size_t ci = 0; ci < s.components.size(); ++ci) {
        std::vector<Pin>& pins = s.components[ci].pins;
        for (size_t pi = 0; pi < pins.size(); ++pi) pins[pi].net = new_index[pin_net[pin_base[ci] + pi]];
    }
    for (Label& l : s.labels) l.net = new_index[l.net];
    for (Junction& j : s.junctions) j.net = new_index[j.net];
}

}  // namespace nl

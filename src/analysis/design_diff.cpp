#include "analysis/design_diff.h"

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <utility>

namespace nl {

namespace {

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// Digit runs compare as numbers (R2 before R10, U1.9 before U1.10); texts
// that still tie (R01, R1) fall back to byte order.
int naturalCompare(std::string_view a, std::string_view b) {
    size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        if (isDigit(a[i]) && isDigit(b[j])) {
            size_t ei = i, ej = j;
            while (ei < a.size() && isDigit(a[ei])) ++ei;
            while (ej < b.size() && isDigit(b[ej])) ++ej;
            size_t si = i, sj = j;
            while (si + 1 < ei && a[si] == '0') ++si;
            while (sj + 1 < ej && b[sj] == '0') ++sj;
            if (ei - si != ej - sj) return ei - si < ej - sj ? -1 : 1;
            if (int c = a.substr(si, ei - si).compare(b.substr(sj, ej - sj))) return c < 0 ? -1 : 1;
            i = ei, j = ej;
            continue;
        }
        if (a[i] != b[j]) return static_cast<unsigned char>(a[i]) < static_cast<unsigned char>(b[j]) ? -1 : 1;
        ++i, ++j;
    }
    if (i < a.size() || j < b.size()) return i < a.size() ? 1 : -1;
    const int c = a.compare(b);
    return c < 0 ? -1 : c > 0 ? 1 : 0;
}

bool pinLess(const PinId& a, const PinId& b) {
    const int c = naturalCompare(a.ref, b.ref);
    return c ? c < 0 : naturalCompare(a.pin, b.pin) < 0;
}

void sortPins(std::vector<PinId>& pins) { std::sort(pins.begin(), pins.end(), pinLess); }

struct UnionFind {
    std::vector<int> parent;
    explicit UnionFind(size_t n) : parent(n) {
        for (size_t i = 0; i < n; ++i) parent[i] = static_cast<int>(i);
    }
    int find(int x) {
        while (parent[x] != x) x = parent[x] = parent[parent[x]];
        return x;
    }
    void unite(int a, int b) { parent[find(a)] = find(b); }
};

// Items grouped by a small integer key, keeping their order within each group
// (a counting sort: linear, so the comparison stays linear in the design).
struct Buckets {
    std::vector<int> begin;  // items of bucket b: order[begin[b] .. begin[b + 1])
    std::vector<int> order;
    Buckets(const std::vector<int>& key, int buckets, const std::vector<int>* within = nullptr)
        : begin(static_cast<size_t>(buckets) + 1, 0), order(key.size()) {
        for (int k : key) ++begin[static_cast<size_t>(k) + 1];
        for (size_t b = 0; b < static_cast<size_t>(buckets); ++b) begin[b + 1] += begin[b];
        std::vector<int> next(begin.begin(), begin.end() - 1);
        for (size_t n = 0; n < key.size(); ++n) {
            const int item = within ? (*within)[n] : static_cast<int>(n);
            order[static_cast<size_t>(next[key[item]]++)] = item;
        }
    }
};

// One design reduced to what the comparison needs: its parts by reference and
// its pin identities grouped into nets.
struct Side {
    const Schematic& s;
    std::unordered_map<std::string_view, int> part_of;
    std::vector<std::string_view> refs;  // per part
    std::vector<int> rep;                // per part: the component describing it
    std::vector<std::string_view> duplicated;
    // One entry per pin identity, ordered by part and then by number.
    std::vector<int> key_part;
    std::vector<std::string_view> key_number;
    std::vector<int> part_keys;  // keys of part p: part_keys[p] .. part_keys[p + 1]
    std::vector<int> key_group;
    int groups = 0;
    std::vector<int> group_net;  // the net that names each group
    std::vector<int> group_size;
    std::vector<int> component_part;  // -1 for power symbols

    explicit Side(const Schematic& design) : s(design) {
        collectParts();
        collectKeys();
    }

    bool isNet(int g) const { return group_size[g] >= 2; }
    const std::string& name(int g) const {
        static const std::string none;
        return group_net[g] >= 0 ? s.nets[group_net[g]].name : none;
    }
    bool automatic(int g) const { return group_net[g] < 0 || s.nets[group_net[g]].name_source == "auto"; }
    PinId pin(int k) const { return {std::string(refs[key_part[k]]), std::string(key_number[k])}; }

private:
    static int unitOf(const Component& c) { return c.unit > 1 ? c.unit : 1; }

    void collectParts() {
        std::vector<int> rep_unit;
        std::vector<uint64_t> units;              // per part: the units seen, below 64
        std::unordered_set<uint64_t> high_units;  // (part, unit) for the rare higher ones
        component_part.assign(s.components.size(), -1);
        part_of.reserve(s.components.size());
        for (size_t ci = 0; ci < s.components.size(); ++ci) {
            const Component& c = s.components[ci];
            if (c.power_symbol) continue;
            auto [it, fresh] = part_of.try_emplace(c.reference, static_cast<int>(refs.size()));
            const int p = it->second, unit = unitOf(c);
            if (fresh) {
                refs.push_back(c.reference);
                rep.push_back(static_cast<int>(ci));
                rep_unit.push_back(unit);
                units.push_back(0);
            } else if (unit < rep_unit[p]) {
                rep[p] = static_cast<int>(ci);
                rep_unit[p] = unit;
            }
            component_part[ci] = p;
            // A unit placed twice is a second part under the same reference.
            const uint64_t bit = unit < 64 ? uint64_t{1} << unit : 0;
            const bool again =
                bit ? (units[p] & bit) != 0
                    : !high_units.insert(static_cast<uint64_t>(p) << 32 | static_cast<uint32_t>(unit)).second;
            units[p] |= bit;
            if (again) duplicated.push_back(refs[p]);
        }
        std::sort(duplicated.begin(), duplicated.end());
        duplicated.erase(std::unique(duplicated.begin(), duplicated.end()), duplicated.end());
    }

    void collectKeys() {
        // Every pin with a number, bucketed by part; a pin on no net gets a net of its own.
        const int nets = static_cast<int>(s.nets.size());
        std::vector<int> pin_part, pin_net;
        std::vector<std::string_view> pin_number;
        int lone = 0;
        for (size_t ci = 0; ci < s.components.size(); ++ci) {
            const int p = component_part[ci];
            if (p < 0) continue;
            for (const Pin& pin : s.components[ci].pins) {
                if (pin.number.empty()) continue;
                pin_part.push_back(p);
                pin_number.push_back(pin.number);
                pin_net.push_back(pin.net >= 0 && pin.net < nets ? pin.net : nets + lone++);
            }
        }
        Buckets by_part(pin_part, static_cast<int>(refs.size()));
        UnionFind nets_of(static_cast<size_t>(nets + lone));
        std::vector<int> key_net;
        part_keys.assign(refs.size() + 1, 0);
        for (size_t p = 0; p < refs.size(); ++p) {
            auto first = by_part.order.begin() + by_part.begin[p], last = by_part.order.begin() + by_part.begin[p + 1];
            std::sort(first, last, [&](int x, int y) { return pin_number[x] < pin_number[y]; });
            for (auto it = first; it != last; ++it) {
                // The same identity twice: one pad, so its nets are one.
                if (it != first && pin_number[*it] == pin_number[*(it - 1)]) {
                    nets_of.unite(pin_net[*it], key_net.back());
                    continue;
                }
                key_part.push_back(static_cast<int>(p));
                key_number.push_back(pin_number[*it]);
                key_net.push_back(pin_net[*it]);
            }
            part_keys[p + 1] = static_cast<int>(key_part.size());
        }
        std::vector<int> dense(static_cast<size_t>(nets + lone), -1);
        key_group.resize(key_net.size());
        for (size_t k = 0; k < key_net.size(); ++k) {
            int& g = dense[nets_of.find(key_net[k])];
            if (g < 0) g = groups++;
            key_group[k] = g;
        }
        group_size.assign(groups, 0);
        for (int g : key_group) ++group_size[g];
        // Nets are stored best-named first, so a group takes its first net's name.
        group_net.assign(groups, -1);
        for (int n = 0; n < nets; ++n) {
            const int g = dense[nets_of.find(n)];
            if (g >= 0 && group_net[g] < 0) group_net[g] = n;
        }
    }
};

struct Comparison {
    const Side& a;  // before
    const Side& b;  // after
    DesignDiff d;

    // Links: a pin of a common part on an old net and on a new net.
    std::vector<int> link_old, link_new, link_key;  // link_key: the key on the old side
    std::vector<int> left_group, left_key;          // old net, key now on no net (or gone)
    std::vector<int> joined_group, joined_key;      // new net, key formerly on no net (or not there)

    Comparison(const Side& before, const Side& after) : a(before), b(after) {}

    void run() {
        const bool same_format = a.s.format == b.s.format;
        if (!same_format)
            d.notes.push_back("The designs are in different formats (" + a.s.format + " and " + b.s.format +
                              "): library symbols and footprints are not compared.");
        noteDuplicates(a, "old");
        noteDuplicates(b, "new");
        std::vector<char> matched(b.refs.size(), 0);
        for (size_t p = 0; p < a.refs.size(); ++p) {
            auto it = b.part_of.find(a.refs[p]);
            if (it == b.part_of.end()) {
                d.removed_parts.push_back(partOf(a, static_cast<int>(p)));
                continue;
            }
            matched[it->second] = 1;
            comparePart(a.s.components[a.rep[p]], b.s.components[b.rep[it->second]], same_format);
            linkPins(static_cast<int>(p), it->second);
        }
        for (size_t q = 0; q < b.refs.size(); ++q)
            if (!matched[q]) d.added_parts.push_back(partOf(b, static_cast<int>(q)));
        classifyNets();
        sortAll();
    }

    void noteDuplicates(const Side& side, const char* which) {
        if (side.duplicated.empty()) return;
        std::string text = std::string("The ") + which + " design uses ";
        const size_t shown = std::min<size_t>(side.duplicated.size(), 10);
        for (size_t i = 0; i < shown; ++i) text += (i ? ", " : "") + std::string(side.duplicated[i]);
        if (shown < side.duplicated.size()) text += " and " + std::to_string(side.duplicated.size() - shown) + " more";
        text += shown > 1 ? " each for more than one part" : " for more than one part";
        d.notes.push_back(text + "; each reference is compared as one part.");
    }

    static PartChange partOf(const Side& side, int p) {
        const Component& c = side.s.components[side.rep[p]];
        return {c.reference, c.value, c.footprint, c.lib_id, {}};
    }

    void comparePart(const Component& x, const Component& y, bool same_format) {
        PartChange change{x.reference, {}, {}, {}, {}};
        auto field = [&](const char* name, const std::string& before, const std::string& after) {
            if (before != after) change.fields.push_back({name, before, after});
        };
        field("value", x.value, y.value);
        if (same_format) {
            field("footprint", x.footprint, y.footprint);
            field("library", x.lib_id, y.lib_id);
        }
        if (!change.fields.empty()) d.changed_parts.push_back(std::move(change));
    }

    // Walks the numbers of one common part on both sides together.
    void linkPins(int p, int q) {
        int i = a.part_keys[p], j = b.part_keys[q];
        const int i_end = a.part_keys[p + 1], j_end = b.part_keys[q + 1];
        while (i < i_end || j < j_end) {
            const bool take_a = j == j_end || (i < i_end && a.key_number[i] <= b.key_number[j]);
            const bool take_b = i == i_end || (j < j_end && b.key_number[j] <= a.key_number[i]);
            const int ga = take_a ? a.key_group[i] : -1, gb = take_b ? b.key_group[j] : -1;
            const bool net_a = take_a && a.isNet(ga), net_b = take_b && b.isNet(gb);
            if (net_a && net_b) {
                link_old.push_back(ga), link_new.push_back(gb), link_key.push_back(i);
            } else if (net_a) {
                left_group.push_back(ga), left_key.push_back(i);
            } else if (net_b) {
                joined_group.push_back(gb), joined_key.push_back(j);
            }
            i += take_a, j += take_b;
        }
    }

    // The pins of `keys` listed in bucket `g`.
    static std::vector<PinId> pinsIn(const Side& side, const Buckets& buckets, const std::vector<int>& keys, int g) {
        std::vector<PinId> pins;
        for (int n = buckets.begin[g]; n < buckets.begin[g + 1]; ++n) pins.push_back(side.pin(keys[buckets.order[n]]));
        sortPins(pins);
        return pins;
    }

    void classifyNets() {
        // Links sorted by (old net, new net) and by (new net, old net): two
        // stable counting passes each. Each run of equal pairs is one pair.
        const Buckets new_first(link_new, b.groups);
        const Buckets by_old(link_old, a.groups, &new_first.order);
        const Buckets old_first(link_old, a.groups);
        const Buckets by_new(link_new, b.groups, &old_first.order);
        std::vector<int> partners(a.groups, 0), feeders(b.groups, 0);
        auto runEnd = [&](const std::vector<int>& order, size_t n) {
            size_t e = n + 1;
            while (e < order.size() && link_old[order[e]] == link_old[order[n]] &&
                   link_new[order[e]] == link_new[order[n]])
                ++e;
            return e;
        };
        for (size_t n = 0; n < by_old.order.size(); n = runEnd(by_old.order, n)) {
            ++partners[link_old[by_old.order[n]]];
            ++feeders[link_new[by_old.order[n]]];
        }
        const Buckets left(left_group, a.groups), joined(joined_group, b.groups);
        auto pairPins = [&](const std::vector<int>& order, size_t n, size_t e) {
            std::vector<PinId> pins;
            for (size_t k = n; k < e; ++k) pins.push_back(a.pin(link_key[order[k]]));
            sortPins(pins);
            return pins;
        };

        for (int g = 0; g < a.groups; ++g) {
            if (!a.isNet(g)) continue;
            if (partners[g] == 0) {
                d.removed_nets.push_back({a.name(g), "", groupPins(a, g), {}, {}, {}});
                continue;
            }
            const size_t first = static_cast<size_t>(by_old.begin[g]);
            if (partners[g] == 1) {
                const int h = link_new[by_old.order[first]];
                if (feeders[h] != 1) continue;  // a source of a merge
                const bool moved = joined.begin[h] != joined.begin[h + 1] || left.begin[g] != left.begin[g + 1];
                if (moved)
                    d.changed.push_back(
                        {a.name(g), b.name(h), {}, pinsIn(b, joined, joined_key, h), pinsIn(a, left, left_key, g), {}});
                else if (a.name(g) != b.name(h) && !(a.automatic(g) && b.automatic(h)))
                    d.renamed.push_back({a.name(g), b.name(h), {}, {}, {}, {}});
                continue;
            }
            NetChange split{a.name(g), "", {}, {}, pinsIn(a, left, left_key, g), {}};
            const size_t end = static_cast<size_t>(by_old.begin[g + 1]);
            for (size_t n = first, e; n < end; n = e) {
                e = runEnd(by_old.order, n);
                const int h = link_new[by_old.order[n]];
                split.parts.push_back({b.name(h), pairPins(by_old.order, n, e),
                                       feeders[h] == 1 ? pinsIn(b, joined, joined_key, h) : std::vector<PinId>()});
            }
            d.split.push_back(std::move(split));
        }
        for (int h = 0; h < b.groups; ++h) {
            if (!b.isNet(h)) continue;
            if (feeders[h] == 0) {
                d.added_nets.push_back({"", b.name(h), groupPins(b, h), {}, {}, {}});
                continue;
            }
            if (feeders[h] == 1) continue;
            NetChange merged{"", b.name(h), {}, pinsIn(b, joined, joined_key, h), {}, {}};
            const size_t end = static_cast<size_t>(by_new.begin[h + 1]);
            for (size_t n = static_cast<size_t>(by_new.begin[h]), e; n < end; n = e) {
                e = runEnd(by_new.order, n);
                const int g = link_old[by_new.order[n]];
                merged.parts.push_back({a.name(g), pairPins(by_new.order, n, e),
                                        partners[g] == 1 ? pinsIn(a, left, left_key, g) : std::vector<PinId>()});
            }
            d.merged.push_back(std::move(merged));
        }
    }

    // Every pin of one group, for added and removed nets; the grouping of
    // all keys is made once, on the first such net.
    std::vector<PinId> groupPins(const Side& side, int g) {
        std::optional<Buckets>& by_group = &side == &a ? a_by_group : b_by_group;
        if (!by_group) by_group.emplace(side.key_group, side.groups);
        std::vector<PinId> pins;
        for (int n = by_group->begin[g]; n < by_group->begin[g + 1]; ++n) pins.push_back(side.pin(by_group->order[n]));
        sortPins(pins);
        return pins;
    }
    std::optional<Buckets> a_by_group, b_by_group;

    void sortAll() {
        auto byRef = [](const PartChange& x, const PartChange& y) { return naturalCompare(x.ref, y.ref) < 0; };
        for (auto* parts : {&d.added_parts, &d.removed_parts, &d.changed_parts})
            std::sort(parts->begin(), parts->end(), byRef);
        // Names may repeat (two local nets "A" on different sheets); the pins then decide.
        auto anchor = [](const NetChange& c) -> std::vector<PinId> {
            if (!c.pins.empty()) return {c.pins.front()};
            if (!c.parts.empty()) return {c.parts.front().pins.front()};
            if (!c.left.empty()) return {c.left.front()};
            return c.joined.empty() ? std::vector<PinId>() : std::vector<PinId>{c.joined.front()};
        };
        auto order = [&](bool new_first) {
            return [&, new_first](const NetChange& x, const NetChange& y) {
                const std::string& x1 = new_first ? x.new_name : x.old_name;
                const std::string& y1 = new_first ? y.new_name : y.old_name;
                if (int c = naturalCompare(x1, y1)) return c < 0;
                if (int c = naturalCompare(new_first ? x.old_name : x.new_name, new_first ? y.old_name : y.new_name))
                    return c < 0;
                const auto ax = anchor(x), ay = anchor(y);
                return std::lexicographical_compare(ax.begin(), ax.end(), ay.begin(), ay.end(), pinLess);
            };
        };
        // A part always holds a pin: it exists because a pin links its two nets.
        auto partOrder = [](const NetPart& x, const NetPart& y) {
            const int n = naturalCompare(x.name, y.name);
            return n ? n < 0 : pinLess(x.pins.front(), y.pins.front());
        };
        for (auto* nets : {&d.split, &d.merged})
            for (NetChange& c : *nets) std::sort(c.parts.begin(), c.parts.end(), partOrder);
        for (auto* nets : {&d.renamed, &d.changed, &d.split, &d.removed_nets})
            std::stable_sort(nets->begin(), nets->end(), order(false));
        for (auto* nets : {&d.merged, &d.added_nets}) std::stable_sort(nets->begin(), nets->end(), order(true));
    }
};

}  // namespace

bool DesignDiff::identical() const {
    return added_parts.empty() && removed_parts.empty() && changed_parts.empty() && renamed.empty() &&
           changed.empty() && split.empty() && merged.empty() && added_nets.empty() && removed_nets.empty();
}

DesignDiff diffDesigns(const Schematic& before, const Schematic& after) {
    const Side a(before), b(after);
    Comparison c(a, b);
    c.run();
    return std::move(c.d);
}

namespace {

std::string pinsText(const std::vector<PinId>& pins) {
    std::string text;
    for (const PinId& p : pins) (text += text.empty() ? "" : " ") += p.ref + "." + p.pin;
    return text;
}

// "  joined A.1 B.2" when there are any.
std::string tagged(const char* tag, const std::vector<PinId>& pins) {
    return pins.empty() ? std::string() : std::string("  ") + tag + " " + pinsText(pins);
}

std::string namesText(const NetChange& c) {
    return c.old_name == c.new_name ? c.old_name : c.old_name + " -> " + c.new_name;
}

std::string quoted(const std::string& text) { return "\"" + text + "\""; }

const char* fieldLabel(const std::string& field) { return field == "library" ? "library symbol" : field.c_str(); }

nlohmann::json pinsJson(const std::vector<PinId>& pins) {
    nlohmann::json list = nlohmann::json::array();
    for (const PinId& p : pins) list.push_back({{"pin", p.pin}, {"ref", p.ref}});
    return list;
}

nlohmann::json partsJson(const std::vector<NetPart>& parts, const char* moved) {
    nlohmann::json list = nlohmann::json::array();
    for (const NetPart& p : parts)
        list.push_back({{"name", p.name}, {"pins", pinsJson(p.pins)}, {moved, pinsJson(p.moved)}});
    return list;
}

}  // namespace

std::string diffText(const DesignDiff& d) {
    std::string out;
    for (const std::string& note : d.notes) out += "Note: " + note + "\n";
    if (d.identical()) return out + "No electrical differences.\n";
    if (!d.added_parts.empty() || !d.removed_parts.empty() || !d.changed_parts.empty()) out += "Components:\n";
    for (const auto& [label, list] : {std::pair{"added  ", &d.added_parts}, std::pair{"removed", &d.removed_parts}})
        for (const PartChange& p : *list)
            out += std::string("  ") + label + "  " + p.ref + (p.value.empty() ? "" : "  " + p.value) + "\n";
    for (const PartChange& p : d.changed_parts) {
        out += "  changed  " + p.ref + " ";
        for (size_t i = 0; i < p.fields.size(); ++i)
            out += std::string(i ? "; " : " ") + fieldLabel(p.fields[i].field) + " " + quoted(p.fields[i].old_text) +
                   " -> " + quoted(p.fields[i].new_text);
        out += "\n";
    }
    if (!d.renamed.empty() || !d.changed.empty() || !d.split.empty() || !d.merged.empty() || !d.added_nets.empty() ||
        !d.removed_nets.empty())
        out += "Nets:\n";
    for (const NetChange& c : d.renamed) out += "  renamed  " + c.old_name + " -> " + c.new_name + "\n";
    for (const NetChange& c : d.changed)
        out += "  changed  " + namesText(c) + tagged("joined", c.joined) + tagged("left", c.left) + "\n";
    for (const NetChange& c : d.split) {
        out += "  split    " + c.old_name + tagged("left", c.left) + "\n";
        for (const NetPart& p : c.parts)
            out += "             -> " + p.name + "  " + pinsText(p.pins) + tagged("joined", p.moved) + "\n";
    }
    for (const NetChange& c : d.merged) {
        out += "  merged   " + c.new_name + tagged("joined", c.joined) + "\n";
        for (const NetPart& p : c.parts)
            out += "             <- " + p.name + "  " + pinsText(p.pins) + tagged("left", p.moved) + "\n";
    }
    for (const NetChange& c : d.added_nets) out += "  added    " + c.new_name + "  " + pinsText(c.pins) + "\n";
    for (const NetChange& c : d.removed_nets) out += "  removed  " + c.old_name + "  " + pinsText(c.pins) + "\n";
    out += "\nComponents: " + std::to_string(d.added_parts.size()) + " added, " +
           std::to_string(d.removed_parts.size()) + " removed, " + std::to_string(d.changed_parts.size()) +
           " changed. Nets: " + std::to_string(d.renamed.size()) + " renamed, " + std::to_string(d.changed.size()) +
           " changed, " + std::to_string(d.split.size()) + " split, " + std::to_string(d.merged.size()) + " merged, " +
           std::to_string(d.added_nets.size()) + " added, " + std::to_string(d.removed_nets.size()) + " removed.\n";
    return out;
}

nlohmann::json diffToJson(const DesignDiff& d) {
    using nlohmann::json;
    auto parts = [](const std::vector<PartChange>& list) {
        json out = json::array();
        for (const PartChange& p : list)
            out.push_back({{"footprint", p.footprint}, {"library", p.library}, {"ref", p.ref}, {"value", p.value}});
        return out;
    };
    json changed_parts = json::array();
    for (const PartChange& p : d.changed_parts) {
        json fields = json::object();
        for (const FieldChange& f : p.fields) fields[f.field] = {{"new", f.new_text}, {"old", f.old_text}};
        changed_parts.push_back({{"changes", fields}, {"ref", p.ref}});
    }
    auto nets = [](const std::vector<NetChange>& list, auto fill) {
        json out = json::array();
        for (const NetChange& c : list) {
            json item = json::object();
            fill(item, c);
            out.push_back(std::move(item));
        }
        return out;
    };
    auto named = [](bool old_side) {
        return [old_side](json& item, const NetChange& c) {
            item["name"] = old_side ? c.old_name : c.new_name;
            item["pins"] = pinsJson(c.pins);
        };
    };
    json result;
    result["components"] = {
        {"added", parts(d.added_parts)}, {"changed", changed_parts}, {"removed", parts(d.removed_parts)}};
    result["nets"] = {
        {"added", nets(d.added_nets, named(false))},
        {"changed", nets(d.changed,
                         [](json& item, const NetChange& c) {
                             item = {{"joined", pinsJson(c.joined)},
                                     {"left", pinsJson(c.left)},
                                     {"new", c.new_name},
                                     {"old", c.old_name}};
                         })},
        {"merged",
         nets(d.merged,
              [](json& item, const NetChange& c) {
                  item = {{"from", partsJson(c.parts, "left")}, {"joined", pinsJson(c.joined)}, {"name", c.new_name}};
              })},
        {"removed", nets(d.removed_nets, named(true))},
        {"renamed", nets(d.renamed,
                         [](json& item, const NetChange& c) {
                             item = {{"new", c.new_name}, {"old", c.old_name}};
                         })},
        {"split",
         nets(d.split,
              [](json& item, const NetChange& c) {
                  item = {{"into", partsJson(c.parts, "joined")}, {"left", pinsJson(c.left)}, {"name", c.old_name}};
              })},
    };
    result["counts"] = {
        {"components",
         {{"added", d.added_parts.size()}, {"changed", d.changed_parts.size()}, {"removed", d.removed_parts.size()}}},
        {"nets",
         {{"added", d.added_nets.size()},
          {"changed", d.changed.size()},
          {"merged", d.merged.size()},
          {"removed", d.removed_nets.size()},
          {"renamed", d.renamed.size()},
          {"split", d.split.size()}}},
    };
    result["identical"] = d.identical();
    result["notes"] = d.notes;
    return result;
}

}  // namespace nl

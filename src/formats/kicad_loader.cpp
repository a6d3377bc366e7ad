#include "formats/kicad_loader.h"

#include <algorithm>
#include <charconv>
#include <climits>
#include <cmath>
#include <stdexcept>
#include <utility>

#include "base/file_io.h"
#include "base/heap_reserve.h"
#include "base/text.h"

namespace nl {

namespace {

// Sub-sheet files are opened while fewer than 64 loads are in progress, so
// sheets nest at most 64 levels below the root.
constexpr int kMaxSubSheetDepth = 63;

constexpr double kPi = 3.14159265358979323846;

// Numbers that are not finite (nan, inf, overflow) count as unreadable.
double num(SExpr list, size_t i, double fallback) {
    const double v = list.num(i, fallback);
    return std::isfinite(v) ? v : fallback;
}

int toInt(double v) {
    if (!(v > INT_MIN && v < INT_MAX)) return v > 0 ? INT_MAX : (v < 0 ? INT_MIN : 0);
    return static_cast<int>(v);
}

// Children after the head, lists and atoms alike.
template <typename F>
void forArgs(SExpr list, F&& f) {
    bool first = true;
    for (SExpr c : list.children()) {
        if (first) {
            first = false;
            continue;
        }
        f(c);
    }
}

// Numbers 1..n of a list in one walk; entries that do not read keep their value.
void readNumbers(SExpr list, double* out, int n) {
    if (!list) return;
    int i = 0;
    forArgs(list, [&](SExpr c) {
        if (i >= n) return;
        if (!c.is_list()) {
            double v;
            if (parseDouble(c.text(), v) && std::isfinite(v)) out[i] = v;
        }
        ++i;
    });
}

// Position and angle from an `at` list.
void readAt(SExpr at, Point& p, double& angle) {
    double v[3] = {0, 0, 0};
    readNumbers(at, v, 3);
    p = {v[0], v[1]};
    angle = v[2];
}

std::string_view dirOf(std::string_view path) {
    const size_t cut = path.find_last_of("/\\");
    return cut == std::string_view::npos ? std::string_view() : path.substr(0, cut + 1);
}

// A path key for the recursion guard: separators unified, "." and "x/.." dropped.
std::string normalisedPath(std::string_view path) {
    std::vector<std::string_view> parts;
    const bool absolute = !path.empty() && (path[0] == '/' || path[0] == '\\');
    size_t i = 0;
    while (i <= path.size()) {
        size_t j = path.find_first_of("/\\", i);
        if (j == std::string_view::npos) j = path.size();
        std::string_view part = path.substr(i, j - i);
        if (part == "..") {
            if (!parts.empty() && parts.back() != "..")
                parts.pop_back();
            else
                parts.push_back(part);
        } else if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
        i = j + 1;
    }
    std::string out = absolute ? "/" : "";
    for (size_t k = 0; k < parts.size(); ++k) {
        if (k) out += '/';
        out += parts[k];
    }
    return out;
}

bool parseWholeInt(std::string_view s, int& out) {
    if (s.empty()) return false;
    for (char ch : s)
        if (ch < '0' || ch > '9') return false;
    auto r = std::from_chars(s.data(), s.data() + s.size(), out);
    return r.ec == std::errc() && r.ptr == s.data() + s.size();
}

// Pin name and number effects: the text size and whether it is hidden.
void readPinTextEffects(SExpr list, double& size, bool& hidden) {
    if (!list) return;
    SExpr effects = list.find("effects");
    if (!effects) return;
    GraphicItem t;
    readEffects(effects, t);
    size = t.size;
    hidden = isHiddenFlag(effects);
}

GraphicItem arcItem(SExpr item) {
    GraphicItem g;
    const Point s = readXY(item, "start"), m = readXY(item, "mid"), e = readXY(item, "end");
    const double d = 2 * (s.x * (m.y - e.y) + m.x * (e.y - s.y) + e.x * (s.y - m.y));
    if (std::fabs(d) < 1e-9 || !std::isfinite(d)) {
        g.kind = Polyline;
        g.points = {s, m, e};
        return g;
    }
    const double s2 = s.x * s.x + s.y * s.y, m2 = m.x * m.x + m.y * m.y, e2 = e.x * e.x + e.y * e.y;
    const double cx = (s2 * (m.y - e.y) + m2 * (e.y - s.y) + e2 * (s.y - m.y)) / d;
    const double cy = (s2 * (e.x - m.x) + m2 * (s.x - e.x) + e2 * (m.x - s.x)) / d;
    const double r = std::hypot(s.x - cx, s.y - cy);
    const double a0 = std::atan2(s.y - cy, s.x - cx);
    const double am = std::atan2(m.y - cy, m.x - cx);
    const double ae = std::atan2(e.y - cy, e.x - cx);
    auto reduce = [](double a) {
        a = std::fmod(a, 2 * kPi);
        if (a < 0) a += 2 * kPi;
        return a;
    };
    double sweep = reduce(ae - a0);
    const double toMid = reduce(am - a0);
    if (sweep < toMid) sweep = -(2 * kPi - sweep);
    g.kind = Polyline;
    if (!std::isfinite(r) || !std::isfinite(sweep)) {
        g.points = {s, m, e};
        return g;
    }
    const int n = std::max(static_cast<int>(std::fabs(sweep) * 12), 6);
    g.points.reserve(n + 1);
    for (int i = 0; i <= n; ++i) {
        const double a = a0 + i * sweep / n;
        g.points.push_back({cx + r * std::cos(a), cy + r * std::sin(a)});
    }
    return g;
}

std::vector<Point> readPts(SExpr item) {
    std::vector<Point> pts;
    SExpr list = item.find("pts");
    if (!list) return pts;
    forArgs(list, [&](SExpr c) {
        if (c.is_list() && c.head() == "xy") {
            double v[2] = {0, 0};
            readNumbers(c, v, 2);
            pts.push_back({v[0], v[1]});
        }
    });
    return pts;
}

std::vector<Point> bezierPoints(const std::vector<Point>& p) {
    std::vector<Point> out;
    out.reserve(17);
    for (int i = 0; i <= 16; ++i) {
        const double t = i / 16.0, u = 1 - t;
        const double a = u * u * u, b = 3 * u * u * t, c = 3 * u * t * t, d = t * t * t;
        out.push_back(
            {a * p[0].x + b * p[1].x + c * p[2].x + d * p[3].x, a * p[0].y + b * p[1].y + c * p[2].y + d * p[3].y});
    }
    return out;
}

LibPin readLibPin(SExpr item, int unit, int body_style) {
    LibPin pin;
    pin.type = std::string(item.view(1, "passive"));
    pin.shape = std::string(item.view(2, "line"));
    pin.unit = unit;
    pin.body_style = body_style;
    forArgs(item, [&](SExpr c) {
        if (!c.is_list()) return;
        const std::string_view h = c.head();
        if (h == "at") {
            readAt(c, pin.position, pin.angle);
        } else if (h == "length") {
            pin.length = num(c, 1, 2.54);
        } else if (h == "name") {
            pin.name = unescapeKicadText(c.view(1));
            readPinTextEffects(c, pin.name_size, pin.name_hidden);
        } else if (h == "number") {
            pin.number = std::string(c.view(1));
            readPinTextEffects(c, pin.number_size, pin.number_hidden);
        }
    });
    pin.hidden = isHiddenFlag(item);
    return pin;
}

// Reads one drawing item into `out`; false when the list is no drawing item
// (or one that is dropped).
bool readDrawingItem(SExpr item, std::string_view h, GraphicItem& out) {
    GraphicItem g;
    if (h == "rectangle") {
        const Point s = readXY(item, "start"), e = readXY(item, "end");
        g.kind = Polygon;
        g.points = {{s.x, s.y}, {e.x, s.y}, {e.x, e.y}, {s.x, e.y}};
    } else if (h == "circle") {
        g.kind = Circle;
        g.points = {readXY(item, "center")};
        SExpr r = item.find("radius");
        g.radius = r ? num(r, 1, 0) : 0;
    } else if (h == "arc") {
        g = arcItem(item);
    } else if (h == "text") {
        g.kind = Text;
        g.text = std::string(item.view(1));
        Point p;
        readAt(item.find("at"), p, g.angle);
        g.points = {p};
        readEffects(item.find("effects"), g);
        out = std::move(g);
        return true;
    } else if (h == "polyline" || h == "bezier") {
        std::vector<Point> pts = readPts(item);
        if (h == "bezier" && pts.size() == 4) pts = bezierPoints(pts);
        if (pts.size() < 2) return false;
        g.points = std::move(pts);
        readStrokeFill(item, g);
        g.kind = (g.fill_outline || g.fill_background) ? Polygon : Polyline;
        out = std::move(g);
        return true;
    } else {
        return false;
    }
    readStrokeFill(item, g);
    out = std::move(g);
    return true;
}

void readTitleBlock(Schematic& s, SExpr tb) {
    forArgs(tb, [&](SExpr c) {
        if (!c.is_list()) return;
        const std::string_view h = c.head();
        if (h == "title")
            s.title = c.str(1);
        else if (h == "date")
            s.date = c.str(1);
        else if (h == "rev")
            s.rev = c.str(1);
        else if (h == "company")
            s.company = c.str(1);
        else if (h == "comment") {
            if (!s.comment.empty()) s.comment += " | ";
            s.comment += c.view(2);
        }
    });
}

void readSymbolInstances(KicadLoadContext& ctx, SExpr list) {
    size_t rows = 0, bytes = 0;
    forArgs(list, [&](SExpr p) {
        if (!p.is_list() || p.head() != "path") return;
        ++rows;
        bytes += p.view(1).size() + p.find("reference").view(1).size();
    });
    ctx.instances.reserve(rows, bytes);
    forArgs(list, [&](SExpr p) {
        if (!p.is_list() || p.head() != "path") return;
        SExpr u = p.find("unit");
        ctx.instances.add(p.view(1), p.find("reference").view(1), u ? toInt(num(u, 1, 0)) : 0);
    });
}

std::shared_ptr<LibSymbol> readLibSymbol(SExpr list) {
    auto sym = std::make_shared<LibSymbol>();
    sym->name = list.str(1);
    bool directPins = false;
    size_t index = 0;
    for (SExpr c : list.children()) {
        if (index++ < 2) continue;
        if (!c.is_list()) {
            if (c.text() == "power") sym->power = true;
            continue;
        }
        const std::string_view h = c.head();
        if (h == "power") {
            sym->power = true;
        } else if (h == "extends") {
            sym->extends = c.str(1);
        } else if (h == "property") {
            sym->properties[c.str(1)] = c.str(2);
        } else if (h == "pin_names") {
            sym->hide_pin_names = isHiddenFlag(c);
            SExpr off = c.find("offset");
            sym->pin_name_offset = off ? num(off, 1, 0.508) : 0.508;
        } else if (h == "pin_numbers") {
            sym->hide_pin_numbers = isHiddenFlag(c);
        } else if (h == "symbol") {
            int unit = 0, style = 0;
            subSymbolUnitStyle(c.view(1), unit, style);
            parseSymbolItems(c, unit, style, *sym);
        } else if (h == "pin") {
            directPins = true;
        }
    }
    if (directPins) parseSymbolItems(list, 0, 0, *sym);
    return sym;
}

// Completes derived symbols from their parents among the same file's symbols.
void resolveExtends(const std::vector<std::shared_ptr<LibSymbol>>& symbols,
                    const std::map<std::string, size_t, std::less<>>& by_name, LoadBudget* budget) {
    for (const auto& symPtr : symbols) {
        LibSymbol& sym = *symPtr;
        if (sym.extends.empty() || !sym.graphics.empty() || !sym.pins.empty()) continue;
        const size_t colon = sym.name.find(':');
        const std::string prefix = colon == std::string::npos ? std::string() : sym.name.substr(0, colon + 1);
        auto it = by_name.find(prefix + sym.extends);
        if (it == by_name.end()) it = by_name.find(sym.extends);
        if (it == by_name.end()) continue;
        const LibSymbol& parent = *symbols[it->second];
        if (&parent == &sym) continue;
        if (budget) {  // thousands of symbols may extend one large parent
            size_t records = 0;
            for (const LibPin& p : parent.pins) records += recordsOf(p);
            for (const GraphicItem& g : parent.graphics) records += recordsOf(g);
            if (!budget->charge(records)) continue;
        }
        sym.graphics = parent.graphics;
        sym.pins = parent.pins;
        sym.power = sym.power || parent.power;
        sym.hide_pin_names = parent.hide_pin_names;
        sym.hide_pin_numbers = parent.hide_pin_numbers;
        sym.pin_name_offset = parent.pin_name_offset;
    }
}

// Fills ctx.file_symbols with this file's symbols. Two files may embed
// different symbols under one name (a pin typed differently, say); each keeps
// its own, and identical copies share one entry.
void readLibSymbols(KicadLoadContext& ctx, SExpr list) {
    Schematic& s = *ctx.schematic;
    std::vector<std::shared_ptr<LibSymbol>> own;
    std::map<std::string, size_t, std::less<>> by_name;
    forArgs(list, [&](SExpr c) {
        if (!c.is_list() || c.head() != "symbol") return;
        if (!by_name.try_emplace(c.str(1), own.size()).second) return;  // the first of a name counts
        own.push_back(readLibSymbol(c));
    });
    resolveExtends(own, by_name, ctx.budget);
    for (std::shared_ptr<LibSymbol>& sym : own) {
        std::vector<int>& copies = ctx.symbol_copies[sym->name];
        int index = -1;
        for (int i : copies)
            if (*s.lib_symbols[i] == *sym) {
                index = i;
                break;
            }
        if (index < 0) {
            index = static_cast<int>(s.lib_symbols.size());
            copies.push_back(index);
            s.lib_symbol_index.try_emplace(sym->name, index);
            s.lib_symbols.push_back(std::move(sym));
        }
        ctx.file_symbols[s.lib_symbols[index]->name] = index;
    }
}

void readWire(Schematic& s, SExpr item, bool bus, int sheet) {
    std::vector<Point> pts = readPts(item);
    if (pts.size() < 2) return;
    double width = 0;
    if (SExpr stroke = item.find("stroke"))
        if (SExpr w = stroke.find("width")) width = num(w, 1, 0);
    const ItemId uuid = ItemId::parse(item.find("uuid").view(1));
    for (size_t i = 0; i + 1 < pts.size(); ++i) {
        Wire w;
        w.a = pts[i];
        w.b = pts[i + 1];
        w.sheet = sheet;
        w.bus = bus;
        w.width = width;
        w.uuid = uuid;
        s.wires.push_back(w);
    }
}

Label readLabel(SExpr item, int kind, int sheet) {
    Label l;
    l.kind = kind;
    l.text = unescapeKicadText(item.view(1));
    l.sheet = sheet;
    forArgs(item, [&](SExpr c) {
        if (!c.is_list()) return;
        const std::string_view h = c.head();
        if (h == "shape") {
            l.shape = c.str(1);
        } else if (h == "at") {
            readAt(c, l.position, l.angle);
        } else if (h == "effects") {
            GraphicItem t;
            readEffects(c, t);
            l.size = t.size;
        } else if (h == "uuid") {
            l.uuid = ItemId::parse(c.view(1));
        }
    });
    return l;
}

void readText(Schematic& s, SExpr item, bool box, int sheet) {
    TextItem t;
    t.text = unescapeKicadText(item.view(1));
    t.sheet = sheet;
    readAt(item.find("at"), t.position, t.angle);
    GraphicItem fx;
    fx.h_justify = -1;
    fx.v_justify = 1;
    readEffects(item.find("effects"), fx);
    t.size = fx.size;
    t.h_justify = fx.h_justify;
    t.v_justify = box ? -1 : fx.v_justify;
    if (box)
        if (SExpr size = item.find("size")) {
            double v[2] = {0, 0};
            readNumbers(size, v, 2);
            GraphicItem g;
            g.kind = Polygon;
            const Point p = t.position;
            g.points = {p, {p.x + v[0], p.y}, {p.x + v[0], p.y + v[1]}, {p.x, p.y + v[1]}};
            g.unit = sheet;
            s.graphics.push_back(std::move(g));
        }
    s.texts.push_back(std::move(t));
}

void readBusAlias(Schematic& s, SExpr item) {
    std::string name = unescapeKicadText(item.view(1));
    if (s.bus_aliases.count(name)) return;
    std::vector<std::string> members;
    if (SExpr m = item.find("members"))
        forArgs(m, [&](SExpr c) {
            if (!c.is_list()) members.push_back(unescapeKicadText(c.text()));
        });
    s.bus_aliases.emplace(std::move(name), std::move(members));
}

void readSheetSymbol(KicadLoadContext& ctx, SExpr item, const std::string& path, int sheet_index);

// Counts the top-level records of a sheet so the sequences grow once.
void reserveFor(Schematic& s, SExpr root) {
    size_t symbols = 0, wires = 0, junctions = 0, labels = 0, ncs = 0;
    forArgs(root, [&](SExpr c) {
        const std::string_view h = c.head();
        if (h == "symbol")
            ++symbols;
        else if (h == "wire" || h == "bus")
            ++wires;
        else if (h == "junction")
            ++junctions;
        else if (h == "no_connect")
            ++ncs;
        else if (h == "label" || h == "global_label" || h == "hierarchical_label")
            ++labels;
    });
    // Growing by at least half keeps a design of many small sheets from
    // copying all its records once per sheet.
    auto grow = [](auto& items, size_t more) {
        if (items.size() + more > items.capacity())
            items.reserve(std::max(items.size() + more, items.capacity() + items.capacity() / 2));
    };
    grow(s.components, symbols);
    grow(s.wires, wires);
    grow(s.junctions, junctions);
    grow(s.no_connects, ncs);
    grow(s.labels, labels);
}

}  // namespace

void KicadInstanceTable::reserve(size_t rows, size_t text_bytes) {
    rows_.reserve(rows);
    text_.reserve(text_bytes);
    size_t slots = 16;
    while (slots * 7 < rows * 10) slots *= 2;
    by_path_.slots.assign(slots, 0);
    by_uuid_.slots.assign(slots, 0);
}

template <typename Key>
size_t KicadInstanceTable::slotOf(const Index& index, std::string_view key, Key keyOf) const {
    const size_t mask = index.slots.size() - 1;
    size_t i = std::hash<std::string_view>{}(key)&mask;
    while (index.slots[i] != 0 && keyOf(rows_[index.slots[i] - 1]) != key) i = (i + 1) & mask;
    return i;
}

template <typename Key>
void KicadInstanceTable::enter(Index& index, uint32_t row, Key keyOf) {
    if ((index.used + 1) * 10 > index.slots.size() * 7) {
        Index bigger;
        bigger.slots.assign(std::max<size_t>(16, index.slots.size() * 2), 0);
        for (uint32_t slot : index.slots)
            if (slot != 0) {
                bigger.slots[slotOf(bigger, keyOf(rows_[slot - 1]), keyOf)] = slot;
                ++bigger.used;
            }
        index = std::move(bigger);
    }
    uint32_t& slot = index.slots[slotOf(index, keyOf(rows_[row]), keyOf)];
    if (slot == 0) ++index.used;
    slot = row + 1;  // a later row with the same key replaces the earlier one
}

void KicadInstanceTable::add(std::string_view path, std::string_view reference, int unit) {
    const size_t cut = path.rfind('/');
    Row r{};
    r.path = static_cast<uint32_t>(text_.size());
    r.path_size = static_cast<uint32_t>(path.size());
    r.uuid_size = static_cast<uint32_t>(cut == std::string_view::npos ? path.size() : path.size() - cut - 1);
    text_ += path;
    r.reference = static_cast<uint32_t>(text_.size());
    r.reference_size = static_cast<uint32_t>(reference.size());
    text_ += reference;
    r.unit = unit;
    rows_.push_back(r);
    const uint32_t row = static_cast<uint32_t>(rows_.size() - 1);
    enter(by_path_, row, [this](const Row& x) { return pathOf(x); });
    enter(by_uuid_, row, [this](const Row& x) { return uuidOf(x); });
}

std::optional<KicadInstance> KicadInstanceTable::byPath(std::string_view path) const {
    if (by_path_.slots.empty()) return std::nullopt;
    const uint32_t slot = by_path_.slots[slotOf(by_path_, path, [this](const Row& x) { return pathOf(x); })];
    if (slot == 0) return std::nullopt;
    const Row& r = rows_[slot - 1];
    return KicadInstance{std::string_view(text_).substr(r.reference, r.reference_size), r.unit};
}

std::optional<std::string_view> KicadInstanceTable::referenceOf(std::string_view symbol_uuid) const {
    if (by_uuid_.slots.empty()) return std::nullopt;
    const uint32_t slot = by_uuid_.slots[slotOf(by_uuid_, symbol_uuid, [this](const Row& x) { return uuidOf(x); })];
    if (slot == 0) return std::nullopt;
    const Row& r = rows_[slot - 1];
    return std::string_view(text_).substr(r.reference, r.reference_size);
}

std::string unescapeKicadText(std::string_view text) {
    std::string s(text);
    if (text.find('{') == std::string_view::npos) return s;
    static const std::pair<std::string_view, char> kTokens[] = {
        {"{slash}", '/'}, {"{colon}", ':'},  {"{dblquote}", '"'}, {"{bslash}", '\\'},
        {"{space}", ' '}, {"{lbrace}", '{'}, {"{rbrace}", '}'},
    };
    std::string out;
    for (const auto& [token, ch] : kTokens) {
        if (s.find(token) == std::string::npos) continue;
        // Replacing the first occurrence again and again until none is left
        // lets a replacement complete a token with the text before it
        // ("{lbrace}lbrace}" is "{"). One pass that replaces a token as soon as
        // the output ends with it gives the same text in linear time: a token
        // can only be completed at the end of what is written so far.
        out.clear();
        out.reserve(s.size());
        for (char c : s) {
            out.push_back(c);
            while (out.size() >= token.size() && out.back() == '}' &&
                   std::string_view(out).substr(out.size() - token.size()) == token) {
                out.resize(out.size() - token.size());
                out.push_back(ch);
            }
        }
        s.swap(out);
    }
    return s;
}

Point readXY(SExpr list, std::string_view name) {
    if (!list) return {};
    SExpr c = list.find(name);
    if (!c) return {};
    double v[2] = {0, 0};
    readNumbers(c, v, 2);
    return {v[0], v[1]};
}

bool isHiddenFlag(SExpr list) {
    bool hidden = false;
    forArgs(list, [&](SExpr c) {
        if (hidden) return;
        if (!c.is_list()) {
            if (c.text() == "hide") hidden = true;
        } else if (c.head() == "hide") {
            if (c.view(1) != "no") hidden = true;
        }
    });
    return hidden;
}

void readEffects(SExpr effects, GraphicItem& t) {
    if (!effects) return;
    forArgs(effects, [&](SExpr c) {
        if (!c.is_list()) {
            if (c.text() == "hide") t.hidden = true;
            return;
        }
        const std::string_view h = c.head();
        if (h == "font") {
            t.size = 1.27;
            forArgs(c, [&](SExpr f) {
                if (!f.is_list()) {
                    if (f.text() == "bold") t.bold = true;
                } else if (f.head() == "size") {
                    double v[2] = {NAN, NAN};
                    readNumbers(f, v, 2);
                    t.size = std::isfinite(v[1]) ? v[1] : std::isfinite(v[0]) ? v[0] : 1.27;
                } else if (f.head() == "bold") {
                    if (f.view(1) == "yes") t.bold = true;
                }
            });
        } else if (h == "justify") {
            forArgs(c, [&](SExpr j) {
                if (j.is_list()) return;
                const std::string_view a = j.text();
                if (a == "left")
                    t.h_justify = -1;
                else if (a == "right")
                    t.h_justify = 1;
                else if (a == "top")
                    t.v_justify = -1;
                else if (a == "bottom")
                    t.v_justify = 1;
            });
        } else if (h == "hide") {
            if (c.view(1) == "yes") t.hidden = true;
        }
    });
}

void readStrokeFill(SExpr list, GraphicItem& t) {
    forArgs(list, [&](SExpr c) {
        if (!c.is_list()) return;
        const std::string_view h = c.head();
        if (h == "stroke") {
            SExpr w = c.find("width");
            t.width = w ? num(w, 1, 0) : 0;
        } else if (h == "fill") {
            const std::string_view type = c.find("type").view(1);
            if (type == "outline")
                t.fill_outline = true;
            else if (type == "background" || type == "color")
                t.fill_background = true;
        }
    });
}

void subSymbolUnitStyle(std::string_view name, int& unit, int& body_style) {
    unit = 0;
    body_style = 0;
    const size_t last = name.rfind('_');
    if (last == std::string_view::npos || last == 0) return;
    const size_t before = name.rfind('_', last - 1);
    if (before == std::string_view::npos) return;
    int u = 0, st = 0;
    if (!parseWholeInt(name.substr(before + 1, last - before - 1), u)) return;
    unit = u;
    if (parseWholeInt(name.substr(last + 1), st)) body_style = st;
}

void parseSymbolItems(SExpr list, int unit, int body_style, LibSymbol& target) {
    forArgs(list, [&](SExpr c) {
        if (!c.is_list()) return;
        const std::string_view h = c.head();
        if (h == "pin") {
            target.pins.push_back(readLibPin(c, unit, body_style));
            return;
        }
        GraphicItem g;
        if (!readDrawingItem(c, h, g)) return;
        g.unit = unit;
        g.body_style = body_style;
        target.graphics.push_back(std::move(g));
    });
}

void placeSymbol(KicadLoadContext& ctx, SExpr list, int sheet_index) {
    Schematic& s = *ctx.schematic;
    Component c;
    c.sheet = sheet_index;
    std::string_view lib_id, lib_name;
    double convert = 1, body_style = 1;
    bool haveBodyStyle = false;
    int referenceField = -1;
    SExpr instances;
    c.fields.reserve(3);  // Reference, Value and Footprint, the fields every placed symbol has
    std::vector<std::pair<std::string_view, std::string_view>> pinUuids;  // number -> uuid
    forArgs(list, [&](SExpr e) {
        if (!e.is_list()) return;
        const std::string_view h = e.head();
        if (h == "lib_id") {
            lib_id = e.view(1);
        } else if (h == "lib_name") {
            lib_name = e.view(1);
        } else if (h == "at") {
            readAt(e, c.position, c.rotation);
        } else if (h == "mirror") {
            const std::string_view m = e.view(1);
            if (m == "x") c.mirror_x = true;
            if (m == "y") c.mirror_y = true;
        } else if (h == "unit") {
            c.unit = toInt(num(e, 1, 1));
        } else if (h == "convert") {
            convert = num(e, 1, 1);
        } else if (h == "body_style") {
            body_style = num(e, 1, 1);
            haveBodyStyle = true;
        } else if (h == "uuid") {
            c.uuid = e.str(1);
        } else if (h == "dnp") {
            c.dnp = e.view(1) == "yes";
        } else if (h == "in_bom") {
            c.in_bom = e.view(1) != "no";
        } else if (h == "instances") {
            instances = e;
        } else if (h == "pin") {
            pinUuids.push_back({e.view(1), e.find("uuid").view(1)});
        } else if (h == "property") {
            const std::string_view name = e.view(1);
            if (name.substr(0, 3) == "ki_") return;
            std::string value = unescapeKicadText(e.view(2));
            if (name == "Datasheet") {
                c.datasheet = std::move(value);
                return;
            }
            if (name == "Description") {
                c.description = std::move(value);
                return;
            }
            GraphicItem field;
            field.kind = Text;
            field.text = value;
            Point p;
            readAt(e.find("at"), p, field.angle);
            field.points = {p};
            readEffects(e.find("effects"), field);
            if (isHiddenFlag(e)) field.hidden = true;
            if (name == "Reference") {
                c.reference = std::move(value);
                referenceField = static_cast<int>(c.fields.size());
                c.fields.push_back(std::move(field));
            } else if (name == "Value") {
                c.value = std::move(value);
                c.fields.push_back(std::move(field));
            } else if (name == "Footprint") {
                c.footprint = std::move(value);
                field.hidden = true;
                c.fields.push_back(std::move(field));
            } else {
                const bool show = !field.hidden && !value.empty();
                c.properties[std::string(name)] = std::move(value);
                if (show) c.fields.push_back(std::move(field));
            }
        }
    });
    if (c.fields.capacity() > c.fields.size()) c.fields.shrink_to_fit();
    c.lib_id = std::string(lib_id.empty() ? lib_name : lib_id);
    c.body_style = toInt(haveBodyStyle ? body_style : convert);

    // Instance data. A sheet used twice tells its copies apart by the
    // instance path, so the path of the sheet being read is tried first.
    bool resolved = false;
    auto useInstance = [&](SExpr p) {
        std::string_view ref = p.find("reference").view(1);
        if (ref.empty()) return false;
        c.reference = std::string(ref);
        if (SExpr u = p.find("unit")) c.unit = toInt(num(u, 1, c.unit));
        return true;
    };
    if (ctx.symbol_paths) {
        const auto found = ctx.symbol_paths->find(ctx.instance_path);
        if (found != ctx.symbol_paths->end()) resolved = useInstance(found->second);
    } else if (instances) {
        forArgs(instances, [&](SExpr project) {
            if (resolved || !project.is_list() || project.head() != "project") return;
            forArgs(project, [&](SExpr p) {
                if (resolved || !p.is_list() || p.head() != "path") return;
                if (p.view(1) != ctx.instance_path) return;
                resolved = useInstance(p);
            });
        });
    }
    if (!resolved && !ctx.instances.empty() && !c.uuid.empty()) {
        // KiCad 6 keys its root-level table by the path below the root.
        const std::string_view ip = ctx.instance_path;
        const size_t second = ip.size() > 1 ? ip.find('/', 1) : std::string_view::npos;
        std::string key(second == std::string_view::npos ? std::string_view() : ip.substr(second));
        key += '/';
        key += c.uuid;
        const std::optional<KicadInstance> row = ctx.instances.byPath(key);
        if (row && !row->reference.empty()) {
            c.reference = std::string(row->reference);
            if (row->unit != 0) c.unit = row->unit;
            resolved = true;
        }
    }
    if (!resolved) {
        if (instances) {
            std::string matched, fallback;
            forArgs(instances, [&](SExpr project) {
                if (!project.is_list() || project.head() != "project") return;
                forArgs(project, [&](SExpr p) {
                    if (!p.is_list() || p.head() != "path") return;
                    std::string_view ref = p.find("reference").view(1);
                    if (fallback.empty() && !ref.empty()) fallback = std::string(ref);
                    if (!ctx.root_uuid.empty() && p.view(1).find(ctx.root_uuid) != std::string_view::npos) {
                        matched = std::string(ref);
                        SExpr u = p.find("unit");
                        c.unit = u ? toInt(num(u, 1, c.unit)) : c.unit;
                    }
                });
            });
            if (!matched.empty())
                c.reference = std::move(matched);
            else if (!fallback.empty())
                c.reference = std::move(fallback);
        }
        if ((c.reference.empty() || c.reference.back() == '?') && !c.uuid.empty()) {
            if (const std::optional<std::string_view> ref = ctx.instances.referenceOf(c.uuid))
                c.reference = std::string(*ref);
        }
    }
    if (referenceField >= 0 && !c.reference.empty()) c.fields[referenceField].text = c.reference;

    const LibSymbol* lib = nullptr;
    for (std::string_view name : {lib_name, std::string_view(c.lib_id)}) {
        auto it = name.empty() ? ctx.file_symbols.end() : ctx.file_symbols.find(name);
        if (it == ctx.file_symbols.end()) continue;
        lib = s.lib_symbols[c.lib_symbol = it->second].get();
        break;
    }
    if (!lib) {
        s.warnings.push_back("Symbol '" + c.lib_id + "' for " + c.reference +
                             " not found in lib_symbols; drawn as a box");
        GraphicItem box;
        box.kind = Polygon;
        const Point p = c.position;
        box.points = {
            {p.x - 2.54, p.y - 2.54}, {p.x + 2.54, p.y - 2.54}, {p.x + 2.54, p.y + 2.54}, {p.x - 2.54, p.y + 2.54}};
        c.graphics.push_back(std::move(box));
        s.components.push_back(std::move(c));
        return;
    }
    c.power_symbol = lib->power || c.lib_id.rfind("power:", 0) == 0;
    const Placement place = placementOf(c.position, c.rotation, c.mirror_x, c.mirror_y);
    auto chosen = [&](int unit, int style) {
        return (unit == 0 || unit == c.unit) && (style == 0 || style == c.body_style);
    };
    if (ctx.budget) {
        size_t records = 0;
        for (const GraphicItem& g : lib->graphics)
            if (chosen(g.unit, g.body_style)) records += recordsOf(g);
        for (const LibPin& lp : lib->pins)
            if (chosen(lp.unit, lp.body_style)) records += recordsOf(lp);
        if (!ctx.budget->charge(records)) {
            s.components.push_back(std::move(c));  // the load fails; no need to draw it
            return;
        }
    }
    // A multi-unit library symbol holds every unit's items: a placed unit takes only its own.
    c.graphics.reserve(std::count_if(lib->graphics.begin(), lib->graphics.end(),
                                     [&](const GraphicItem& g) { return chosen(g.unit, g.body_style); }));
    for (const GraphicItem& g : lib->graphics) {
        if (!chosen(g.unit, g.body_style)) continue;
        GraphicItem placed = g;
        for (Point& p : placed.points) p = place.apply(p);
        if (placed.kind == Text) placed.angle = placedTextAngle(place, g.angle);
        c.graphics.push_back(std::move(placed));
    }
    std::sort(pinUuids.begin(), pinUuids.end());
    c.pins.reserve(std::count_if(lib->pins.begin(), lib->pins.end(),
                                 [&](const LibPin& lp) { return chosen(lp.unit, lp.body_style); }));
    for (const LibPin& lp : lib->pins) {
        if (!chosen(lp.unit, lp.body_style)) continue;
        Pin pin = placePin(lp, place);
        auto named = std::lower_bound(pinUuids.begin(), pinUuids.end(),
                                      std::make_pair(std::string_view(pin.number), std::string_view()));
        if (named != pinUuids.end() && named->first == pin.number) pin.uuid = ItemId::parse(named->second);
        // Only hidden power inputs join a rail by their name; a hidden power
        // output (a regulator's) connects by position like any other pin.
        pin.implicit_power = pin.hidden && pin.type == PinType::PowerIn && !c.power_symbol;
        c.pins.push_back(std::move(pin));
    }
    s.components.push_back(std::move(c));
}

namespace {

// The records one copy of a sheet makes: one per element, per point of its
// wires and drawings and per 64 bytes of its texts. What the symbols it places
// copy from the library, and the sheets it names, are charged when placed and read.
size_t sheetRecords(const SExprOutline& file) {
    size_t records = 0, textBytes = 0;
    std::vector<SExpr> open;
    for (size_t i = 1; i < file.size(); ++i) {
        if (!file.item(i).is_list()) continue;
        const SExprTree tree = file.parse(i);
        const SExpr c = tree.root();
        ++records;
        if (SExpr pts = c.find("pts")) records += pts.childCount();
        // Its texts are copied with it, however long they are; a symbol's
        // list of instances is only looked up.
        open.assign(1, c);
        while (!open.empty()) {
            const SExpr e = open.back();
            open.pop_back();
            for (SExpr k : e.children())
                if (!k.is_list())
                    textBytes += k.text().size();
                else if (k.head() != "instances")
                    open.push_back(k);
        }
    }
    return records + textBytes / 64;
}

// Sub-sheet files up to this size stay outlined for the whole load, so a small
// sheet used many times is read once; bigger ones are read again per use,
// until a file used this often is kept too: reading it once per use of a
// sheet reused thousands of times would cost more than any memory it holds.
constexpr size_t kSheetFileKeptBytes = 1 << 20;
constexpr int kSheetFileRereads = 8;

// A placed symbol's instance paths, each to the first entry for it that names
// a reference: what the scan in placeSymbol would find.
std::unordered_map<std::string_view, SExpr> instancePaths(SExpr symbol) {
    std::unordered_map<std::string_view, SExpr> paths;
    const SExpr instances = symbol.find("instances");
    if (!instances) return paths;
    forArgs(instances, [&](SExpr project) {
        if (!project.is_list() || project.head() != "project") return;
        forArgs(project, [&](SExpr p) {
            if (p.is_list() && p.head() == "path" && !p.find("reference").view(1).empty()) paths.emplace(p.view(1), p);
        });
    });
    return paths;
}

// Reads and outlines the sheet file at `path` into `entry`; false (with
// `failure` set) when it cannot be read. A parse failure is kept in the entry.
bool readSheetFile(KicadLoadContext& ctx, const std::string& path, KicadSheetFile& entry, FileError& failure) {
    FileData data;
    if (!readWholeFile(path, data, &failure)) return false;
    // The budget grows with distinct files, not with reads.
    if (ctx.budget && entry.bytes == 0) ctx.budget->input_bytes += data.bytes.size();
    expectHeapGrowth(data.bytes.size() * kHeapPerFileByte);
    const bool again = entry.bytes != 0;
    entry.bytes = data.bytes.size();
    try {
        entry.outline = std::make_shared<const SExprOutline>(outlineSExpr(data.owner, data.bytes));
        if (!again) entry.records = sheetRecords(*entry.outline);
    } catch (const std::runtime_error& e) {
        entry.error = e.what();
    }
    return true;
}

void readSheetSymbol(KicadLoadContext& ctx, SExpr item, const std::string& path, int sheet_index) {
    Schematic& s = *ctx.schematic;
    SheetSymbol sym;
    sym.position = readXY(item, "at");
    sym.size = readXY(item, "size");
    sym.sheet = sheet_index;
    const int symIndex = static_cast<int>(s.sheet_symbols.size());
    std::string_view uuid;
    forArgs(item, [&](SExpr c) {
        if (!c.is_list()) return;
        const std::string_view h = c.head();
        if (h == "uuid") {
            uuid = c.view(1);
            sym.uuid = std::string(uuid);
        } else if (h == "property") {
            const std::string_view name = c.view(1);
            if (name == "Sheetname" || name == "Sheet name") {
                sym.name = c.str(2);
            } else if (name == "Sheetfile" || name == "Sheet file") {
                sym.file = c.str(2);
            } else if (SExpr id = c.find("id")) {
                // KiCad 6 wrote these two names in the user's language; the id stays.
                const double n = num(id, 1, -1);
                if (n == 0) sym.name = c.str(2);
                if (n == 1) sym.file = c.str(2);
            }
        } else if (h == "pin") {
            Label l = readLabel(c, SheetPin, sheet_index);
            l.shape = c.str(2);
            l.sheet_symbol = symIndex;
            sym.pins.push_back(static_cast<int>(s.labels.size()));
            s.labels.push_back(std::move(l));
        }
    });
    s.sheet_symbols.push_back(sym);
    if (sym.file.empty()) return;
    if (ctx.depth > kMaxSubSheetDepth) {
        if (!ctx.sheet_limit_warned)
            s.warnings.push_back("Sheet file '" + sym.file + "' not loaded: the hierarchy is deeper than " +
                                 std::to_string(kMaxSubSheetDepth + 1) + " levels");
        ctx.sheet_limit_warned = true;
        return;
    }

    // A name with a root ("/x", "\\server\x", "C:\x") is used as it is.
    const bool absolute = sym.file[0] == '/' || sym.file[0] == '\\' ||
                          (sym.file.size() > 2 && sym.file[1] == ':' && (sym.file[2] == '/' || sym.file[2] == '\\'));
    FileError failure;
    // The parsed file at `candidate`, read on first use; end() when it cannot be read.
    auto sheetFile = [&](const std::string& candidate) {
        std::string key = normalisedPath(candidate);
        auto it = ctx.sheet_files.find(key);
        if (it != ctx.sheet_files.end()) return it;
        KicadSheetFile entry;
        if (!readSheetFile(ctx, candidate, entry, failure)) return ctx.sheet_files.end();
        return ctx.sheet_files.emplace(std::move(key), std::move(entry)).first;
    };
    std::string readPath = absolute ? sym.file : std::string(dirOf(path)) + sym.file;
    auto cached = sheetFile(readPath);
    if (cached == ctx.sheet_files.end() && failure.missing && !absolute && !ctx.root_dir.empty()) {
        readPath = ctx.root_dir + sym.file;
        cached = sheetFile(readPath);
    }
    if (cached == ctx.sheet_files.end()) {
        if (failure.missing)
            s.warnings.push_back("Sheet file '" + sym.file + "' not found next to the root schematic");
        else
            s.warnings.push_back("Sheet file '" + sym.file + "' cannot be read: " + failure.reason);
        return;
    }
    std::string key = cached->first;
    for (const std::string& open : ctx.open_files)
        if (open == key) {
            s.warnings.push_back("Sheet file '" + sym.file + "' contains itself; its copy inside is not loaded");
            return;
        }
    if (ctx.budget && !ctx.budget->charge(cached->second.records + 1)) {
        if (!ctx.sheet_limit_warned)
            s.warnings.push_back("Sheet file '" + sym.file + "' not loaded: the hierarchy holds too many sheets");
        ctx.sheet_limit_warned = true;
        return;
    }

    Sheet child;
    child.name = sym.name.empty() ? sym.file : sym.name;
    child.file = sym.file;
    child.parent = sheet_index;
    const int childIndex = static_cast<int>(s.sheets.size());
    s.sheets.push_back(std::move(child));
    s.sheet_symbols[symIndex].child = childIndex;

    const std::string savedPath = ctx.instance_path;
    ctx.instance_path += '/';
    ctx.instance_path += uuid;
    ctx.open_files.push_back(std::move(key));
    std::map<std::string, int, std::less<>> savedSymbols = std::move(ctx.file_symbols);
    ++ctx.depth;
    KicadSheetFile& entry = cached->second;
    if (!entry.outline && entry.error.empty() && !readSheetFile(ctx, readPath, entry, failure))
        s.warnings.push_back("Sheet file '" + sym.file + "' cannot be read again: " + failure.reason);
    if (entry.outline) {
        // Held by this use: a nested use of the same file cannot let it go underneath.
        const std::shared_ptr<const SExprOutline> file = entry.outline;
        KicadSheetFile* const savedFile = std::exchange(ctx.sheet_file, &entry);
        ++entry.uses;
        loadKicadSheetItems(ctx, *file, readPath, childIndex);
        ctx.sheet_file = savedFile;
        if (entry.bytes > kSheetFileKeptBytes && entry.uses < kSheetFileRereads) entry.outline.reset();
    } else if (!entry.error.empty()) {
        s.warnings.push_back("Sheet '" + readPath + "': " + entry.error);
    }
    --ctx.depth;
    ctx.file_symbols = std::move(savedSymbols);
    ctx.open_files.pop_back();
    ctx.instance_path = savedPath;
}

}  // namespace

void loadKicadSheetItems(KicadLoadContext& ctx, const SExprOutline& file, const std::string& path, int sheet_index) {
    Schematic& s = *ctx.schematic;
    const SExpr root = file.root();
    if (root.head() != "kicad_sch") {
        s.warnings.push_back("Sheet '" + path + "' is not a kicad_sch file");
        return;
    }
    const SExprTree uuid = file.parseFirst("uuid");
    if (sheet_index == 0) {
        ctx.root_uuid = uuid.root().str(1);
        ctx.instance_path = "/" + ctx.root_uuid;
        ctx.open_files.assign(1, normalisedPath(path));
        if (const SExprTree tb = file.parseFirst("title_block"); tb.root()) readTitleBlock(s, tb.root());
        if (const SExprTree si = file.parseFirst("symbol_instances"); si.root()) readSymbolInstances(ctx, si.root());
    }
    {
        Sheet& sheet = s.sheets[sheet_index];
        sheet.uuid = uuid.root().str(1);
        const SExprTree paperTree = file.parseFirst("paper");
        const SExpr paper = paperTree.root();
        sheet.paper = paper.str(1);
        if (sheet.paper == "User") sheet.paper_size = {num(paper, 2, 0), num(paper, 3, 0)};
        for (size_t i = 2; i < paper.childCount(); ++i)
            if (paper.view(i) == "portrait") sheet.paper_portrait = true;
        sheet.version = 0;
        if (const SExprTree v = file.parseFirst("version"); v.root()) {
            const double n = num(v.root(), 1, 0);
            sheet.version = n > 0 && n < 9e18 ? static_cast<long long>(n) : 0;
        }
    }
    ctx.file_symbols.clear();
    if (const SExprTree lib = file.parseFirst("lib_symbols"); lib.root()) readLibSymbols(ctx, lib.root());
    reserveFor(s, root);

    // Items are parsed one at a time, so the tree of the whole file never
    // exists; but a file used often keeps them (see KicadSheetFile).
    KicadSheetFile* const kept = ctx.sheet_file && ctx.sheet_file->uses > kSheetFileRereads ? ctx.sheet_file : nullptr;
    if (kept && kept->items.size() != file.size()) kept->items.assign(file.size(), {});
    auto forItems = [&](auto&& wanted, auto&& f) {
        for (size_t i = 1; i < file.size(); ++i) {
            const SExpr item = file.item(i);
            if (!item.is_list() || !wanted(item.head())) continue;
            if (!kept) {
                const SExprTree tree = file.parse(i);
                f(tree.root());
                continue;
            }
            KicadSheetFile::Item& k = kept->items[i];
            if (!k.tree) {
                k.tree = std::make_shared<const SExprTree>(file.parse(i));
                if (item.head() == "symbol") k.paths = instancePaths(k.tree->root());
            }
            ctx.symbol_paths = item.head() == "symbol" ? &k.paths : nullptr;
            f(k.tree->root());
            ctx.symbol_paths = nullptr;
        }
    };
    auto drawing = [](std::string_view h) {
        return h == "polyline" || h == "rectangle" || h == "circle" || h == "arc" || h == "bezier";
    };
    // The large sections read above need not be parsed again.
    auto firstPass = [&](std::string_view h) { return h != "lib_symbols" && h != "symbol_instances" && !drawing(h); };
    forItems(firstPass, [&](SExpr c) {
        const std::string_view h = c.head();
        if (h == "wire" || h == "bus") {
            readWire(s, c, h == "bus", sheet_index);
        } else if (h == "junction") {
            Junction j;
            j.position = readXY(c, "at");
            j.sheet = sheet_index;
            s.junctions.push_back(j);
        } else if (h == "no_connect") {
            s.no_connects.push_back({readXY(c, "at"), sheet_index});
        } else if (h == "bus_entry") {
            s.bus_entries.push_back({readXY(c, "at"), readXY(c, "size"), sheet_index});
        } else if (h == "label") {
            s.labels.push_back(readLabel(c, Local, sheet_index));
        } else if (h == "global_label") {
            s.labels.push_back(readLabel(c, Global, sheet_index));
        } else if (h == "hierarchical_label") {
            s.labels.push_back(readLabel(c, Hierarchical, sheet_index));
        } else if (h == "text" || h == "text_box") {
            readText(s, c, h == "text_box", sheet_index);
        } else if (h == "symbol") {
            placeSymbol(ctx, c, sheet_index);
        } else if (h == "sheet") {
            readSheetSymbol(ctx, c, path, sheet_index);
        } else if (h == "bus_alias") {
            readBusAlias(s, c);
        }
    });

    forItems(drawing, [&](SExpr c) {
        const std::string_view h = c.head();
        GraphicItem g;
        if (!readDrawingItem(c, h, g)) return;
        g.unit = sheet_index;
        g.body_style = 0;
        s.graphics.push_back(std::move(g));
    });
}

void loadKicadSheet(KicadLoadContext& ctx, std::string_view text, const std::string& path, int sheet_index) {
    try {
        const SExprOutline file = outlineSExpr(nullptr, text);
        loadKicadSheetItems(ctx, file, path, sheet_index);
    } catch (const std::runtime_error& e) {
        ctx.schematic->warnings.push_back("Sheet '" + path + "': " + e.what());
    }
}

std::string readTextFile(const std::string& path, bool& ok) {
    FileData data;
    ok = readWholeFile(path, data);
    return ok ? std::string(data.bytes) : std::string();
}

}  // namespace nl

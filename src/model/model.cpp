#include "model/model.h"

#include <array>
#include <cmath>
#include <string>

#include "base/text.h"

namespace nl {

ItemId ItemId::parse(std::string_view text) {
    auto hex = [](char c) -> int {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    };
    ItemId id;
    if (text.size() == 8) {
        for (char c : text) {
            const int d = hex(c);
            if (d < 0) return {};
            id.low = id.low << 4 | static_cast<uint64_t>(d);
        }
        return id;
    }
    if (text.size() != 36) return {};
    int digits = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        if (i == 8 || i == 13 || i == 18 || i == 23) {
            if (text[i] != '-') return {};
            continue;
        }
        const int d = hex(text[i]);
        if (d < 0) return {};
        uint64_t& half = digits < 16 ? id.high : id.low;
        half = half << 4 | static_cast<uint64_t>(d);
        ++digits;
    }
    return id;
}

std::string ItemId::text() const {
    if (empty()) return {};
    static const char digits[] = "0123456789abcdef";
    std::string out;
    out.reserve(36);
    for (int i = 0; i < 32; ++i) {
        if (i == 8 || i == 12 || i == 16 || i == 20) out += '-';
        const uint64_t half = i < 16 ? high : low;
        out += digits[(half >> (60 - 4 * (i % 16))) & 15];
    }
    return out;
}

int roundedAngle(double degrees) {
    if (!std::isfinite(degrees)) return 0;
    double r = std::round(std::fmod(degrees, 360.0));  // std::round rounds halves away from zero
    int a = static_cast<int>(r) % 360;
    if (a < 0) a += 360;
    return a;
}

Placement placementOf(Point position, double rotation, bool mirror_x, bool mirror_y) {
    Placement p;
    switch (roundedAngle(rotation)) {
        case 90:
            p.m0 = 0, p.m1 = -1, p.m2 = -1, p.m3 = 0;
            break;
        case 180:
            p.m0 = -1, p.m1 = 0, p.m2 = 0, p.m3 = 1;
            break;
        case 270:
            p.m0 = 0, p.m1 = 1, p.m2 = 1, p.m3 = 0;
            break;
        default:
            p.m0 = 1, p.m1 = 0, p.m2 = 0, p.m3 = -1;
            break;
    }
    if (mirror_x) p.m2 = -p.m2, p.m3 = -p.m3;
    if (mirror_y) p.m0 = -p.m0, p.m1 = -p.m1;
    p.origin = position;
    return p;
}

static double degToRad(double d) { return d * 3.14159265358979323846 / 180.0; }

Pin placePin(const LibPin& lib, const Placement& placement) {
    Pin pin;
    pin.name = lib.name;
    pin.number = lib.number;
    pin.type = lib.type;
    pin.shape = lib.shape;
    pin.length = lib.length;
    pin.hidden = lib.hidden;
    pin.name_size = lib.name_size;
    pin.number_size = lib.number_size;
    pin.name_hidden = lib.name_hidden;
    pin.number_hidden = lib.number_hidden;
    pin.position = placement.apply(lib.position);
    double a = degToRad(lib.angle);
    Point d = placement.direction({std::cos(a), std::sin(a)});
    pin.end = {pin.position.x + lib.length * d.x, pin.position.y + lib.length * d.y};
    pin.angle = std::atan2(d.y, d.x) * 180.0 / 3.14159265358979323846;
    return pin;
}

double placedTextAngle(const Placement& placement, double library_angle) {
    double a = degToRad(library_angle);
    Point d = placement.direction({std::cos(a), std::sin(a)});
    int r = roundedAngle(std::atan2(-d.y, d.x) * 180.0 / 3.14159265358979323846);
    return (r == 90 || r == 270) ? 90.0 : 0.0;
}

std::string sheetPath(const Schematic& s, int sheet) {
    const int n = static_cast<int>(s.sheets.size());
    if (sheet < 0 || sheet >= n) return {};
    std::vector<int> chain;  // from the sheet up to, not including, a KiCad root
    for (int i = sheet; i >= 0 && i < n && static_cast<int>(chain.size()) < n; i = s.sheets[i].parent) {
        if (s.sheets[i].parent < 0 && s.format != "eagle") break;
        chain.push_back(i);
    }
    std::string path = "/";
    for (auto it = chain.rbegin(); it != chain.rend(); ++it) path += s.sheets[*it].name + "/";
    return path;
}

void computeSheetExtents(Schematic& s) {
    const int n = static_cast<int>(s.sheets.size());
    std::vector<BBox> boxes(n);
    auto at = [&](int sheet) -> BBox* { return sheet >= 0 && sheet < n ? &boxes[sheet] : nullptr; };
    for (const Component& c : s.components)
        if (BBox* b = at(c.sheet); b && c.bbox.valid()) {
            b->add({c.bbox.min_x, c.bbox.min_y});
            b->add({c.bbox.max_x, c.bbox.max_y});
        }
    for (const Wire& w : s.wires)
        if (BBox* b = at(w.sheet)) b->add(w.a), b->add(w.b);
    for (const Label& l : s.labels)
        if (BBox* b = at(l.sheet)) b->add(l.position);
    for (const TextItem& t : s.texts)
        if (BBox* b = at(t.sheet)) b->add(t.position);
    for (const GraphicItem& g : s.graphics)
        if (BBox* b = at(g.unit))
            for (Point p : g.points) b->add(p);
    for (const SheetSymbol& sym : s.sheet_symbols)
        if (BBox* b = at(sym.sheet)) {
            b->add(sym.position);
            b->add({sym.position.x + sym.size.x, sym.position.y + sym.size.y});
        }
    for (int i = 0; i < n; ++i) s.sheets[i].bbox = boxes[i];
}

namespace {

bool isDigit(char c) { return c >= '0' && c <= '9'; }

bool startsWith(std::string_view s, std::string_view p) { return s.substr(0, p.size()) == p; }

bool endsWith(std::string_view s, std::string_view p) {
    return s.size() >= p.size() && s.substr(s.size() - p.size()) == p;
}

}  // namespace

bool isPowerNetName(std::string_view name) {
    const std::string s = toLower(trim(name));
    if (s.empty()) return false;
    if (s[0] == '+' || s[0] == '-') return true;

    static constexpr std::array<std::string_view, 33> kNames = {
        "gnd", "vcc", "vdd",  "vss",   "vee",  "vbus", "vbat", "vin",   "vout",  "3v3",   "3.3v",
        "5v",  "12v", "1v8",  "agnd",  "dgnd", "pgnd", "vref", "avcc",  "avdd",  "vpp",   "v+",
        "v-",  "pwr", "vsys", "vcore", "vio",  "vdda", "vssa", "vddio", "vccio", "earth", "chassis"};
    for (std::string_view n : kNames)
        if (s == n) return true;

    int vs = 0;
    bool only_digits_dots_v = true;
    for (char c : s) {
        if (c == 'v')
            ++vs;
        else if (!isDigit(c) && c != '.')
            only_digits_dots_v = false;
    }
    if (only_digits_dots_v && vs == 1) return true;

    static constexpr std::array<std::string_view, 10> kPrefixes = {"vcc",  "vdd",  "vss",  "vee",  "gnd",
                                                                   "vbus", "vbat", "vref", "avcc", "avdd"};
    for (std::string_view p : kPrefixes) {
        const std::string under = std::string(p) + "_";
        const std::string dash = std::string(p) + "-";
        if (startsWith(s, under) || startsWith(s, dash)) return true;
        if (s.size() > p.size() + 1 && endsWith(s, "_" + std::string(p))) return true;
        if (startsWith(s, p) && s.size() <= p.size() + 2 && isDigit(s.back())) return true;
    }
    return false;
}

void computeComponentBounds(Schematic& s) {
    for (Component& c : s.components) {
        BBox box;
        for (const GraphicItem& g : c.graphics) {
            if (g.kind == Text) continue;
            if (g.kind == Circle) {
                if (g.points.empty()) continue;
                const Point m = g.points[0];
                box.add({m.x - g.radius, m.y - g.radius});
                box.add({m.x + g.radius, m.y + g.radius});
                continue;
            }
            for (Point p : g.points) box.add(p);
        }
        for (const Pin& p : c.pins) {
            box.add(p.position);
            box.add(p.end);
        }
        if (!box.valid()) {
            box = BBox{};
            box.add(c.position);
            box.min_x -= 2.54;
            box.min_y -= 2.54;
            box.max_x += 2.54;
            box.max_y += 2.54;
        }
        box.min_x -= 0.3;
        box.min_y -= 0.3;
        box.max_x += 0.3;
        box.max_y += 0.3;
        c.bbox = box;
    }
}

}  // namespace nl

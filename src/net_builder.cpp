#include "net_builder.h"

#include <array>

#include "text.h"

namespace nl {

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

void buildNets(Schematic& s) { (void)s; }

}  // namespace nl

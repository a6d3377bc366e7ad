#include "render/theme.h"

#include <array>

#include "base/text.h"

namespace nl {

namespace {

Color rgb(double r, double g, double b, double a = 1) { return {r, g, b, a}; }

// Colours the themes share; light and paper differ from dark only where they must.
void fillCommon(Theme& t) {
    t.no_connect = rgb(0.85, 0.25, 0.25);
    t.local_label = rgb(0.3, 0.9, 0.5);
    t.sheet_symbol = rgb(0.95, 0.5, 0.9);
    t.global_label = rgb(0.95, 0.45, 0.45);
    t.hierarchical_label = rgb(0.95, 0.5, 0.9);
    t.sheet_pin = rgb(0.6, 0.45, 0.95);
    t.power_symbol = rgb(0.95, 0.35, 0.35);
    t.selection = rgb(0.3, 0.7, 1);
    t.highlight = rgb(1, 0.8, 0);
    t.hover = rgb(1, 0.55, 0);
    t.extra2 = rgb(0.95, 0.25, 0.25);
    t.extra3 = rgb(0.95, 0.75, 0.15);
    t.extra4 = rgb(0.4, 0.7, 0.95);
}

Theme dark() {
    Theme t;
    fillCommon(t);
    t.background = rgb(0.047, 0.055, 0.067);
    t.grid = rgb(0.16, 0.18, 0.21);
    t.sheet_drawing = rgb(0.35, 0.38, 0.42);
    t.wire = rgb(0, 0.75, 0.35);
    t.bus = rgb(0.25, 0.45, 0.95);
    t.junction = rgb(0, 0.85, 0.4);
    t.symbol_outline = rgb(0.65, 0.72, 0.95);
    t.symbol_fill = rgb(0.1, 0.12, 0.16);
    t.drawing_fill = rgb(0.85, 0.65, 0.15, 0.25);
    t.pin = rgb(0.65, 0.72, 0.95);
    t.pin_name = rgb(0.95, 0.85, 0.4);
    t.pin_number = rgb(0.5, 0.85, 0.95);
    t.reference = rgb(0.45, 0.85, 0.95);
    t.field = rgb(0.95, 0.75, 0.35);
    t.symbol_text = rgb(0.6, 0.65, 0.7);
    t.free_text = rgb(0.75, 0.78, 0.82);
    t.extra1 = rgb(0.047, 0.055, 0.067, 0.72);
    return t;
}

Theme light() {
    Theme t;
    fillCommon(t);
    t.background = rgb(1, 1, 1);
    t.grid = rgb(0.88, 0.89, 0.91);
    t.sheet_drawing = rgb(0.3, 0.3, 0.3);
    t.wire = rgb(0, 0.45, 0.15);
    t.bus = rgb(0.1, 0.25, 0.75);
    t.junction = rgb(0, 0.5, 0.2);
    t.symbol_outline = rgb(0.1, 0.1, 0.4);
    t.symbol_fill = rgb(1, 0.98, 0.88);
    t.drawing_fill = rgb(0.95, 0.75, 0.2, 0.3);
    t.pin = rgb(0.1, 0.1, 0.4);
    t.pin_name = rgb(0.5, 0.35, 0);
    t.pin_number = rgb(0, 0.35, 0.55);
    t.reference = rgb(0, 0.3, 0.55);
    t.field = rgb(0.5, 0.3, 0);
    t.symbol_text = rgb(0.35, 0.35, 0.35);
    t.free_text = rgb(0.15, 0.15, 0.15);
    t.extra1 = rgb(1, 1, 1, 0.72);
    return t;
}

Theme blueprint() {
    Theme t;
    t.background = rgb(0.055, 0.14, 0.33);
    t.grid = rgb(0.16, 0.26, 0.48);
    t.sheet_drawing = rgb(0.75, 0.82, 0.95);
    t.wire = rgb(0.95, 0.95, 0.9);
    t.bus = rgb(1, 0.85, 0.3);
    t.junction = rgb(1, 1, 1);
    t.no_connect = rgb(1, 0.5, 0.5);
    t.symbol_outline = rgb(0.95, 0.95, 1);
    t.symbol_fill = rgb(0.09, 0.2, 0.42);
    t.drawing_fill = rgb(1, 0.85, 0.3, 0.15);
    t.pin = rgb(0.9, 0.93, 1);
    t.pin_name = rgb(1, 0.9, 0.6);
    t.pin_number = rgb(0.7, 0.95, 1);
    t.reference = rgb(0.8, 0.95, 1);
    t.field = rgb(1, 0.85, 0.5);
    t.symbol_text = rgb(0.7, 0.8, 0.9);
    t.local_label = rgb(0.6, 1, 0.7);
    t.sheet_symbol = rgb(1, 0.75, 1);
    t.free_text = rgb(0.9, 0.93, 1);
    t.global_label = rgb(1, 0.6, 0.6);
    t.hierarchical_label = rgb(1, 0.75, 1);
    t.sheet_pin = rgb(0.8, 0.7, 1);
    t.power_symbol = rgb(1, 0.55, 0.55);
    t.selection = rgb(1, 1, 0.3);
    t.highlight = rgb(1, 0.75, 0);
    t.hover = rgb(1, 0.5, 0);
    t.extra1 = rgb(0.055, 0.14, 0.33, 0.72);
    t.extra2 = rgb(1, 0.5, 0.5);
    t.extra3 = rgb(1, 0.85, 0.4);
    t.extra4 = rgb(0.6, 0.85, 1);
    return t;
}

Theme paper() {
    Theme t = light();
    t.background = rgb(0.98, 0.96, 0.9);
    t.grid = rgb(0.88, 0.85, 0.75);
    t.wire = rgb(0.15, 0.1, 0.05);
    t.symbol_outline = rgb(0.1, 0.07, 0.03);
    t.symbol_fill = rgb(0.98, 0.96, 0.9);
    t.free_text = rgb(0.1, 0.07, 0.03);
    t.extra1 = rgb(0.98, 0.96, 0.9, 0.72);
    return t;
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

const Theme& themeByName(std::string_view name) {
    // A function-local static is initialised exactly once, even when the
    // window and an export thread ask for it at the same time.
    static const std::array<Theme, 4> themes = {dark(), light(), blueprint(), paper()};
    const std::string n = toLower(name);
    if (n == "light") return themes[1];
    if (n == "blueprint") return themes[2];
    if (n == "paper") return themes[3];
    return themes[0];
}

Color parseColorText(std::string_view text) {
    const Color black{0, 0, 0, 1};
    if (text.empty() || text[0] != '#' || (text.size() != 7 && text.size() != 9)) return black;
    double v[4] = {0, 0, 0, 1};
    for (size_t i = 0; i + 1 < text.size(); i += 2) {
        int hi = hexDigit(text[i + 1]), lo = hexDigit(text[i + 2]);
        if (hi < 0 || lo < 0) return black;
        v[i / 2] = (hi * 16 + lo) / 255.0;
    }
    return {v[0], v[1], v[2], v[3]};
}

}  // namespace nl

// The four built-in colour themes of the drawing.
#pragma once

#include <string>
#include <string_view>

#include "render/painter.h"

namespace nl {

struct Theme {
    Color background;
    Color grid;
    Color sheet_drawing;
    Color wire;
    Color bus;
    Color junction;
    Color no_connect;
    Color symbol_outline;
    Color symbol_fill;
    Color drawing_fill;
    Color pin;
    Color pin_name;
    Color pin_number;
    Color reference;
    Color field;
    Color symbol_text;
    Color local_label;
    Color sheet_symbol;
    Color free_text;
    Color global_label;
    Color hierarchical_label;
    Color sheet_pin;
    Color power_symbol;
    Color selection;
    Color highlight;
    Color hover;                           // the window's hover marker
    Color extra1, extra2, extra3, extra4;  // carried for the window, not drawn here
    bool reserved = false;
};

// "dark", "light", "blueprint" or "paper", any case; anything else gives dark.
// The table is built once and never changes.
const Theme& themeByName(std::string_view name);

// "#rrggbb" or "#rrggbbaa"; any other form gives opaque black.
Color parseColorText(std::string_view text);

}  // namespace nl

// The scene renderer: draws one sheet of a loaded design onto a Painter, in
// sheet millimetres, with the theme, layer order, widths, sizes and emphasis
// rules of the drawing. Also the hit test under the mouse and the default view
// box of a sheet.
#pragma once

#include <cstdint>
#include <set>
#include <string>

#include "model/model.h"
#include "render/painter.h"
#include "render/theme.h"
#include "settings/settings.h"

namespace nl {

class SceneIndex;

// File sizes are the height of a capital letter; the painters' size is the em
// of a monospace face, whose capitals are 0.73 of it.
inline constexpr double kTextEmPerCapital = 1.37;

// Reads theme, glow, show_grid, show_pin_numbers, show_pin_names, show_hidden_pins,
// number_highlighted_pins, font_scale and wire_width of the settings.
struct RenderContext {
    const Settings* settings = nullptr;
    const Theme* theme = nullptr;
    // When given (and it covers the settings), only what it finds in the visible rectangle is drawn.
    const SceneIndex* index = nullptr;
};

// What to emphasise.
struct Highlight {
    std::set<int32_t> nets;
    std::set<int32_t> components;
    std::set<int32_t> pins;  // component index * 100000 + pin index
    bool dim_others = true;
};

struct HitInfo {
    std::string kind = "none";  // none, pin, junction, wire, label, component, sheet_symbol
    int32_t index = -1;
    int32_t sub = -1;
    int32_t net = -1;
    Point position;
};

// visible: the rectangle the caller shows (min x, min y, max x, max y, mm).
// highlight may be null: nothing is emphasised or dimmed.
void renderSheet(const RenderContext& ctx, Painter& painter, const Schematic& s, int sheet, const BBox& visible,
                 const Highlight* highlight);

// A label is found near its position or anywhere on its drawn text, whose
// size follows font_scale as the drawing does. With an index built for `s`,
// only items near p are looked at; the answer is the same.
HitInfo hitTest(const Schematic& s, int sheet, Point p, double tolerance, double font_scale = 1.0,
                const SceneIndex* index = nullptr);

// The rectangle that shows a whole sheet with a margin around it.
BBox sheetViewBox(const Schematic& s, int sheet);

}  // namespace nl

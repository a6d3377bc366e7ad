#include "render/scene_index.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "settings/settings.h"

namespace nl {

namespace {

// The painters' text size is the em of a monospace face: advances are about
// 0.6 em, lines about 1.2 em. The estimates below round both up.
constexpr double kEmToFileSize = 1.37;
constexpr double kAdvance = 0.62;
constexpr double kLineHeight = 1.3;
// Coordinates beyond this are damaged input; such items are checked one by one.
constexpr double kFar = 1e7;
// An item covering more cells than this is checked one by one instead.
constexpr size_t kMaxCellsPerItem = 64;
constexpr int kMaxGridSide = 2048;

bool meets(const BBox& a, const BBox& b) {
    return a.min_x <= b.max_x && b.min_x <= a.max_x && a.min_y <= b.max_y && b.min_y <= a.max_y;
}

void grow(BBox& b, double by) { b.min_x -= by, b.min_y -= by, b.max_x += by, b.max_y += by; }

// A square around the anchor that holds the text at any alignment and angle.
void addText(BBox& box, const std::string& text, Point at, double fileSize, double fontScale) {
    if (text.empty()) return;
    size_t lines = 1, longest = 0, run = 0;
    for (char c : text) {
        if (c == '\n') {
            ++lines, run = 0;
        } else {
            longest = std::max(longest, ++run);
        }
    }
    const double em = std::fabs(fileSize > 0 ? fileSize : 1.27) * kEmToFileSize * fontScale;
    const double half = em * (kAdvance * static_cast<double>(longest) + kLineHeight * static_cast<double>(lines) + 1);
    box.add({at.x - half, at.y - half});
    box.add({at.x + half, at.y + half});
}

void addShape(BBox& box, const GraphicItem& g) {
    if (g.kind == Circle) {
        if (g.points.empty()) return;
        const Point m = g.points[0];
        const double r = std::fabs(g.radius);
        box.add({m.x - r, m.y - r});
        box.add({m.x + r, m.y + r});
        return;
    }
    for (Point p : g.points) box.add(p);
}

bool finiteBox(const BBox& b) {
    return b.valid() && std::fabs(b.min_x) < kFar && std::fabs(b.max_x) < kFar && std::fabs(b.min_y) < kFar &&
           std::fabs(b.max_y) < kFar;
}

}  // namespace

SceneIndex::SceneIndex(const Schematic& s, const Settings& settings)
    : font_scale_(std::max(1.0, settings.font_scale)), glow_(std::max(7.0, settings.glow)) {
    const double fs = font_scale_;
    // Half the widest halo any layer draws, plus the widest plain stroke.
    const double stroke = 0.1 * glow_ + 0.5;
    sheets_.resize(s.sheets.size());
    auto put = [&](int sheet, Kind kind, size_t index, BBox box, double width) {
        if (sheet < 0 || sheet >= static_cast<int>(sheets_.size()) || !box.valid()) return;
        grow(box, stroke + (std::isfinite(width) ? std::fabs(width) / 2 : 0));
        sheets_[sheet].entries.push_back({box, static_cast<int32_t>(index), kind});
    };

    for (size_t i = 0; i < s.graphics.size(); ++i) {
        BBox b;
        addShape(b, s.graphics[i]);
        put(s.graphics[i].unit, kGraphic, i, b, s.graphics[i].width);
    }
    for (size_t i = 0; i < s.sheet_symbols.size(); ++i) {
        const SheetSymbol& sym = s.sheet_symbols[i];
        BBox b;
        b.add(sym.position);
        b.add({sym.position.x + sym.size.x, sym.position.y + sym.size.y});
        addText(b, sym.name, {sym.position.x, sym.position.y - 0.6}, 1.3, fs);
        addText(b, "File: " + sym.file, {sym.position.x, b.max_y + 1.0}, 1.0, fs);
        for (int li : sym.pins)
            if (li >= 0 && li < static_cast<int>(s.labels.size()))
                addText(b, s.labels[li].text, s.labels[li].position, s.labels[li].size * 2, fs);
        put(sym.sheet, kSheetSymbol, i, b, 0);
    }
    for (size_t i = 0; i < s.wires.size(); ++i) {
        BBox b;
        b.add(s.wires[i].a);
        b.add(s.wires[i].b);
        put(s.wires[i].sheet, kWire, i, b, s.wires[i].width);
    }
    for (size_t i = 0; i < s.junctions.size(); ++i) {
        BBox b;
        b.add(s.junctions[i].position);
        put(s.junctions[i].sheet, kJunction, i, b, 1.0);
    }
    for (size_t i = 0; i < s.no_connects.size(); ++i) {
        BBox b;
        b.add(s.no_connects[i].position);
        put(s.no_connects[i].sheet, kNoConnect, i, b, 1.2);
    }
    for (size_t i = 0; i < s.bus_entries.size(); ++i) {
        const BusEntry& e = s.bus_entries[i];
        BBox b;
        b.add(e.position);
        b.add({e.position.x + e.size.x, e.position.y + e.size.y});
        put(e.sheet, kBusEntry, i, b, 0);
    }
    for (size_t i = 0; i < s.components.size(); ++i) {
        const Component& c = s.components[i];
        BBox b = c.bbox;
        b.add(c.position);
        double width = 0;
        for (const GraphicItem& g : c.graphics) {
            if (g.kind == Text) {
                if (!g.points.empty()) addText(b, g.text, g.points[0], g.size, fs);
            } else {
                addShape(b, g);
                if (std::isfinite(g.width)) width = std::max(width, std::fabs(g.width));
            }
        }
        // The reference may carry a unit letter or two.
        for (const GraphicItem& f : c.fields)
            if (!f.points.empty()) addText(b, f.text + "AB", f.points[0], f.size, fs);
        // The library symbol as the renderer finds it: by index, else by the part's lib_id.
        int lib = c.lib_symbol;
        if (lib < 0 || lib >= static_cast<int>(s.lib_symbols.size())) {
            const auto it = s.lib_symbol_index.find(c.lib_id);
            lib = it == s.lib_symbol_index.end() ? -1 : it->second;
        }
        const bool hasLib = lib >= 0 && lib < static_cast<int>(s.lib_symbols.size()) && s.lib_symbols[lib];
        const double nameOffset = hasLib ? s.lib_symbols[lib]->pin_name_offset : 0.508;
        for (const Pin& p : c.pins) {
            b.add(p.position);
            b.add(p.end);
            // Names stand off the inner end into the body by the symbol's name offset (or sit on
            // the pin's middle when it has none); numbers sit on the middle.
            const Point middle{(p.position.x + p.end.x) / 2, (p.position.y + p.end.y) / 2};
            const double a = p.angle * std::numbers::pi / 180;
            const Point name =
                nameOffset > 0 ? Point{p.end.x + nameOffset * std::cos(a), p.end.y + nameOffset * std::sin(a)} : middle;
            addText(b, p.name, name, p.name_size > 0 ? p.name_size : 0.9, fs);
            addText(b, p.number, middle, p.number_size > 0 ? p.number_size : 0.8, fs);
        }
        put(c.sheet, kComponent, i, b, width);
    }
    for (size_t i = 0; i < s.labels.size(); ++i) {
        const Label& l = s.labels[i];
        BBox b;
        b.add(l.position);
        // The flag and the tick push the text off its position by about one text size.
        addText(b, l.text + "MM", l.position, l.size, fs);
        put(l.sheet, kLabel, i, b, 0);
    }
    for (size_t i = 0; i < s.texts.size(); ++i) {
        BBox b;
        b.add(s.texts[i].position);
        addText(b, s.texts[i].text, s.texts[i].position, s.texts[i].size, fs);
        put(s.texts[i].sheet, kText, i, b, 0);
    }
    for (Grid& g : sheets_) build(g);
}

void SceneIndex::build(Grid& g) {
    std::vector<uint32_t> gridded;
    for (uint32_t e = 0; e < g.entries.size(); ++e) {
        if (finiteBox(g.entries[e].box)) {
            const BBox& b = g.entries[e].box;
            g.bounds.add({b.min_x, b.min_y});
            g.bounds.add({b.max_x, b.max_y});
            gridded.push_back(e);
        } else {
            g.large.push_back(e);
        }
    }
    if (gridded.empty()) return;
    const double w = std::max(g.bounds.max_x - g.bounds.min_x, 1e-3),
                 h = std::max(g.bounds.max_y - g.bounds.min_y, 1e-3);
    // About two items per cell.
    g.cell = std::max(std::sqrt(w * h / (static_cast<double>(gridded.size()) / 2 + 1)), 0.5);
    g.cell = std::max({g.cell, w / kMaxGridSide, h / kMaxGridSide});
    g.cols = std::max(1, static_cast<int>(std::ceil(w / g.cell)));
    g.rows = std::max(1, static_cast<int>(std::ceil(h / g.cell)));
    auto span = [&](const BBox& b, int& x0, int& y0, int& x1, int& y1) {
        x0 = std::clamp(static_cast<int>((b.min_x - g.bounds.min_x) / g.cell), 0, g.cols - 1);
        x1 = std::clamp(static_cast<int>((b.max_x - g.bounds.min_x) / g.cell), 0, g.cols - 1);
        y0 = std::clamp(static_cast<int>((b.min_y - g.bounds.min_y) / g.cell), 0, g.rows - 1);
        y1 = std::clamp(static_cast<int>((b.max_y - g.bounds.min_y) / g.cell), 0, g.rows - 1);
    };
    // Two passes: count per cell, then fill.
    std::vector<uint32_t> count(static_cast<size_t>(g.cols) * g.rows + 1, 0);
    std::vector<uint32_t> placed;
    for (uint32_t e : gridded) {
        int x0, y0, x1, y1;
        span(g.entries[e].box, x0, y0, x1, y1);
        if (static_cast<size_t>(x1 - x0 + 1) * static_cast<size_t>(y1 - y0 + 1) > kMaxCellsPerItem) {
            g.large.push_back(e);
            continue;
        }
        placed.push_back(e);
        for (int y = y0; y <= y1; ++y)
            for (int x = x0; x <= x1; ++x) ++count[static_cast<size_t>(y) * g.cols + x];
    }
    g.cell_start.assign(count.size(), 0);
    for (size_t c = 1; c < count.size(); ++c) g.cell_start[c] = g.cell_start[c - 1] + count[c - 1];
    g.slots.resize(g.cell_start.back());
    std::vector<uint32_t> fill(g.cell_start.begin(), g.cell_start.end() - 1);
    for (uint32_t e : placed) {
        int x0, y0, x1, y1;
        span(g.entries[e].box, x0, y0, x1, y1);
        for (int y = y0; y <= y1; ++y)
            for (int x = x0; x <= x1; ++x) g.slots[fill[static_cast<size_t>(y) * g.cols + x]++] = e;
    }
    std::sort(g.large.begin(), g.large.end());
}

void SceneIndex::query(int sheet, const BBox& area, SceneItems& out) const {
    out = SceneItems{};
    if (sheet < 0 || sheet >= static_cast<int>(sheets_.size())) return;
    const Grid& g = sheets_[sheet];
    std::vector<uint32_t> found;
    for (uint32_t e : g.large)
        if (meets(g.entries[e].box, area)) found.push_back(e);
    if (g.cols > 0 && meets(g.bounds, area)) {
        auto cellOf = [&](double v, double origin, int n) {
            return std::clamp(static_cast<int>(std::floor((v - origin) / g.cell)), 0, n - 1);
        };
        const int x0 = cellOf(area.min_x, g.bounds.min_x, g.cols), x1 = cellOf(area.max_x, g.bounds.min_x, g.cols);
        const int y0 = cellOf(area.min_y, g.bounds.min_y, g.rows), y1 = cellOf(area.max_y, g.bounds.min_y, g.rows);
        const size_t cells = static_cast<size_t>(x1 - x0 + 1) * static_cast<size_t>(y1 - y0 + 1);
        if (cells * 4 >= static_cast<size_t>(g.cols) * g.rows) {
            // Most of the sheet: one pass over it is cheaper than gathering and sorting.
            found.clear();
            for (uint32_t e = 0; e < g.entries.size(); ++e)
                if (meets(g.entries[e].box, area)) found.push_back(e);
        } else {
            for (int y = y0; y <= y1; ++y)
                for (int x = x0; x <= x1; ++x) {
                    const size_t c = static_cast<size_t>(y) * g.cols + x;
                    for (uint32_t k = g.cell_start[c]; k < g.cell_start[c + 1]; ++k) {
                        const uint32_t e = g.slots[k];
                        const BBox& b = g.entries[e].box;
                        // Reported once: from the first cell that both the item and the area cover.
                        const int ex = std::max(x0, cellOf(b.min_x, g.bounds.min_x, g.cols));
                        const int ey = std::max(y0, cellOf(b.min_y, g.bounds.min_y, g.rows));
                        if (ex == x && ey == y && meets(b, area)) found.push_back(e);
                    }
                }
            std::sort(found.begin(), found.end());
        }
    }
    for (uint32_t e : found) {
        const Entry& entry = g.entries[e];
        switch (entry.kind) {
            case kGraphic:
                out.graphics.push_back(entry.index);
                break;
            case kSheetSymbol:
                out.sheet_symbols.push_back(entry.index);
                break;
            case kWire:
                out.wires.push_back(entry.index);
                break;
            case kJunction:
                out.junctions.push_back(entry.index);
                break;
            case kNoConnect:
                out.no_connects.push_back(entry.index);
                break;
            case kBusEntry:
                out.bus_entries.push_back(entry.index);
                break;
            case kComponent:
                out.components.push_back(entry.index);
                break;
            case kLabel:
                out.labels.push_back(entry.index);
                break;
            case kText:
                out.texts.push_back(entry.index);
                break;
        }
    }
}

bool SceneIndex::covers(const Settings& settings) const {
    return settings.font_scale <= font_scale_ && settings.glow <= glow_;
}

}  // namespace nl

#include "render.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>

namespace nl {

namespace {

constexpr double kGridStep = 2.54;
// Beyond this many lines per direction the grid would be a solid fill; it is left out.
constexpr double kMaxGridLines = 4000;

class Emphasis {
public:
    explicit Emphasis(const Highlight* h) : h_(h) {}

    bool netEmphasised(int net) const { return h_ && net != -1 && h_->nets.count(net) != 0; }
    bool netDimmed(int net) const { return dimming() && (net == -1 || h_->nets.count(net) == 0); }
    // Dimming only happens while some net is highlighted.
    bool dimming() const { return h_ && h_->dim_others && !h_->nets.empty(); }
    bool selected(int component) const { return h_ && h_->components.count(component) != 0; }
    bool pinListed(int component, int pin) const {
        if (!h_) return false;
        long long key = pinKey(component, pin);
        if (key > std::numeric_limits<int32_t>::max()) return false;
        return h_->pins.count(static_cast<int32_t>(key)) != 0;
    }

private:
    const Highlight* h_;
};

Point midpoint(Point a, Point b) { return {(a.x + b.x) / 2, (a.y + b.y) / 2}; }
Point offset(Point a, Point d) { return {a.x + d.x, a.y + d.y}; }
double orDefault(double v, double fallback) { return v == 0 ? fallback : v; }

void drawBackground(Painter& p, const Theme& t, const BBox& v) {
    p.setBrush(t.background);
    p.noPen();
    p.drawRect({v.min_x, v.min_y}, {v.max_x, v.max_y});
}

void drawGrid(Painter& p, const Theme& t, const BBox& v) {
    double x0 = std::floor(v.min_x / kGridStep) * kGridStep, x1 = std::ceil(v.max_x / kGridStep) * kGridStep;
    double y0 = std::floor(v.min_y / kGridStep) * kGridStep, y1 = std::ceil(v.max_y / kGridStep) * kGridStep;
    if (!std::isfinite(x0) || !std::isfinite(x1) || !std::isfinite(y0) || !std::isfinite(y1)) return;
    if ((x1 - x0) / kGridStep > kMaxGridLines || (y1 - y0) / kGridStep > kMaxGridLines) return;
    // The end is a multiple of the step; the tolerance keeps it despite the summed rounding.
    const double eps = kGridStep * 1e-6;
    p.setPen(t.grid, 0.03);
    for (double x = x0; x <= x1 + eps; x += kGridStep) p.drawLine({x, v.min_y}, {x, v.max_y});
    for (double y = y0; y <= y1 + eps; y += kGridStep) p.drawLine({v.min_x, y}, {v.max_x, y});
}

void drawShape(Painter& p, const GraphicItem& g) {
    if (g.kind == Circle) {
        if (!g.points.empty()) p.drawCircle(g.points[0], g.radius);
    } else {
        p.drawPolyline(g.points, g.kind == Polygon);
    }
}

void drawSheetDrawings(Painter& p, const Theme& t, const Schematic& s, int sheet) {
    for (const GraphicItem& g : s.graphics) {
        if (g.unit != sheet) continue;
        p.setPen(t.sheet_drawing, orDefault(g.width, 0.1));
        if (g.fill_background)
            p.setBrush(withAlpha(t.drawing_fill, 1));
        else
            p.noBrush();
        drawShape(p, g);
    }
}

void drawSheetSymbols(Painter& p, const Settings& cfg, const Theme& t, const Schematic& s, int sheet,
                      const Emphasis& em) {
    const double fs = cfg.font_scale;
    for (const SheetSymbol& sym : s.sheet_symbols) {
        if (sym.sheet != sheet) continue;
        p.noBrush();
        p.setPen(t.sheet_symbol, 0.2);
        Point a = sym.position, b = offset(sym.position, sym.size);
        p.drawRect(a, b);
        p.drawText(sym.name, {a.x, a.y - 0.6}, 1.3 * fs, 0, -1, 1, true, t.sheet_symbol);
        p.drawText(sym.file, {a.x, b.y + 1.0}, fs, 0, -1, -1, false, withAlpha(t.sheet_symbol, 0.7));
        for (int li : sym.pins) {
            if (li < 0 || li >= static_cast<int>(s.labels.size())) continue;
            const Label& l = s.labels[li];
            bool emph = em.netEmphasised(l.net);
            Color c = emph ? t.highlight : t.sheet_pin;
            p.setPen(c, emph ? 0.3 : 0.15);
            int h = roundedAngle(l.angle) == 180 ? 1 : -1;
            p.drawText(l.text, l.position, fs * l.size, 0, h, 0, false, c);
        }
    }
}

void drawWires(Painter& p, const Settings& cfg, const Theme& t, const Schematic& s, int sheet,
               const Emphasis& em) {
    for (const Wire& w : s.wires) {
        if (w.sheet != sheet) continue;
        double width = orDefault(w.width, 0.2 * cfg.wire_width);
        Color c = w.bus ? t.bus : t.wire;
        if (em.netDimmed(w.net)) c.a = 0.25;
        if (em.netEmphasised(w.net)) {
            p.setPen(withAlpha(t.highlight, 0.35), width + 0.1 * cfg.glow);
            p.drawLine(w.a, w.b);
            c = t.highlight;
            width = std::max(width, 0.25);
        }
        p.setPen(c, width);
        p.setDashed(false);
        p.drawLine(w.a, w.b);
    }
}

void drawJunctionsAndMarkers(Painter& p, const Theme& t, const Schematic& s, int sheet, const Emphasis& em) {
    for (const Junction& j : s.junctions) {
        if (j.sheet != sheet) continue;
        bool emph = em.netEmphasised(j.net);
        Color c = emph ? t.highlight : t.junction;
        if (em.netDimmed(j.net)) c.a = 0.25;
        p.setBrush(c);
        p.noPen();
        p.drawCircle(j.position, emph ? 0.5 : 0.35);
    }
    for (const NoConnect& n : s.no_connects) {
        if (n.sheet != sheet) continue;
        p.setPen(t.no_connect, 0.2);
        Point q = n.position;
        p.drawLine({q.x - 0.6, q.y - 0.6}, {q.x + 0.6, q.y + 0.6});
        p.drawLine({q.x - 0.6, q.y + 0.6}, {q.x + 0.6, q.y - 0.6});
    }
    for (const BusEntry& e : s.bus_entries) {
        if (e.sheet != sheet) continue;
        p.setPen(t.bus, 0.15);
        p.drawLine(e.position, offset(e.position, e.size));
    }
}

bool componentDimmed(const Component& c, int ci, const Emphasis& em, const Highlight* h) {
    if (!em.dimming() || em.selected(ci)) return false;
    for (size_t pi = 0; pi < c.pins.size(); ++pi) {
        if (c.pins[pi].net != -1 && h->nets.count(c.pins[pi].net)) return false;
        if (em.pinListed(ci, static_cast<int>(pi))) return false;
    }
    return true;
}

struct ComponentStyle {
    bool selected = false;
    double s = 1;  // alpha of undimmed colours
    Color outline;
};

void drawComponentGraphics(Painter& p, const Settings& cfg, const Theme& t, const Component& c,
                           const ComponentStyle& st) {
    for (const GraphicItem& g : c.graphics) {
        double w = orDefault(g.width, 0.15);
        switch (g.kind) {
            case Circle:
                if (g.fill_background)
                    p.setBrush(withAlpha(t.drawing_fill, st.s));
                else if (g.fill_outline)
                    p.setBrush(st.outline);
                else
                    p.noBrush();
                p.setPen(st.outline, w);
                drawShape(p, g);
                break;
            case Polygon:
                if (g.fill_background)
                    p.setBrush(c.power_symbol ? withAlpha(t.power_symbol, 0.15 * st.s)
                                              : withAlpha(t.symbol_fill, st.s));
                else if (g.fill_outline)
                    p.setBrush(st.outline);
                else
                    p.noBrush();
                p.setPen(st.outline, w);
                drawShape(p, g);
                break;
            case Text: {
                if (g.hidden && !cfg.show_hidden_pins) break;
                if (g.points.empty()) break;
                Color tc = st.selected ? t.selection : withAlpha(t.symbol_text, st.s);
                p.drawText(g.text, g.points[0], orDefault(g.size, 1.27) * cfg.font_scale, g.angle, g.h_justify,
                           g.v_justify, g.bold, tc);
                break;
            }
            default:
                p.noBrush();
                p.setPen(c.power_symbol ? withAlpha(t.power_symbol, st.s) : st.outline, w);
                drawShape(p, g);
                break;
        }
    }
}

bool shownPinText(const std::string& s) { return !s.empty() && s != "~"; }

void drawPins(Painter& p, const Settings& cfg, const Theme& t, const Component& c, int ci,
              const ComponentStyle& st, const Emphasis& em) {
    for (size_t pi = 0; pi < c.pins.size(); ++pi) {
        const Pin& pin = c.pins[pi];
        if (pin.hidden && !cfg.show_hidden_pins) continue;
        bool emph = em.pinListed(ci, static_cast<int>(pi)) || em.netEmphasised(pin.net) || st.selected;
        bool dashed = pin.no_connect && pin.net == -1;
        if (emph) {
            p.setPen(withAlpha(t.highlight, 0.4), 0.08 * cfg.glow + 0.28);
            p.drawLine(pin.position, pin.end);
            p.setPen(t.highlight, 0.28);
            p.setDashed(dashed);
            p.drawLine(pin.position, pin.end);
            p.setBrush(t.highlight);
            p.noPen();
            p.drawCircle(pin.position, 0.35);
        } else {
            p.setPen(withAlpha(t.pin, st.s), 0.12);
            p.setDashed(dashed);
            p.drawLine(pin.position, pin.end);
        }
        if (cfg.show_pin_numbers && shownPinText(pin.number)) {
            int v = emph && cfg.number_highlighted_pins ? 1 : -1;
            p.drawText(pin.number, midpoint(pin.position, pin.end), 0.8 * cfg.font_scale, 0, 0, v, false,
                       emph ? t.highlight : withAlpha(t.pin_number, st.s));
        }
        if (cfg.show_pin_names && shownPinText(pin.name)) {
            // Texts run away from the pin: end-aligned when the pin leaves the body to the left.
            double a = std::atan2(pin.position.y - pin.end.y, pin.position.x - pin.end.x) * 180.0 / std::numbers::pi;
            int h = std::fabs(a) >= 90 ? 1 : -1;
            p.drawText(pin.name, pin.end, 0.9 * cfg.font_scale, 0, h, 0, false,
                       emph ? t.highlight : withAlpha(t.pin_name, st.s));
        }
    }
}

void drawFields(Painter& p, const Settings& cfg, const Theme& t, const Component& c, const ComponentStyle& st) {
    for (size_t fi = 0; fi < c.fields.size(); ++fi) {
        const GraphicItem& f = c.fields[fi];
        if (f.hidden || f.points.empty()) continue;
        Color fc = st.selected ? t.selection : withAlpha(fi == 0 ? t.reference : t.field, st.s);
        p.drawText(f.text, f.points[0], orDefault(f.size, 1.27) * cfg.font_scale, f.angle, f.h_justify, f.v_justify,
                   f.bold, fc);
    }
}

void drawComponents(Painter& p, const Settings& cfg, const Theme& t, const Schematic& s, int sheet,
                    const Emphasis& em, const Highlight* h) {
    for (size_t ci = 0; ci < s.components.size(); ++ci) {
        const Component& c = s.components[ci];
        if (c.sheet != sheet) continue;
        const int index = static_cast<int>(ci);
        ComponentStyle st;
        st.selected = em.selected(index);
        st.s = componentDimmed(c, index, em, h) ? 0.25 : 1;
        st.outline = st.selected ? t.selection : withAlpha(t.symbol_outline, st.s);
        drawComponentGraphics(p, cfg, t, c, st);
        drawPins(p, cfg, t, c, index, st, em);
        drawFields(p, cfg, t, c, st);
        if (st.selected) {
            p.noBrush();
            p.setPen(t.selection, 0.25);
            p.setDashed(true);
            p.drawRect({c.bbox.min_x, c.bbox.min_y}, {c.bbox.max_x, c.bbox.max_y});
            p.setDashed(false);
        }
    }
}

Color labelColor(const Theme& t, int kind) {
    switch (kind) {
        case Global:
            return t.global_label;
        case Hierarchical:
            return t.hierarchical_label;
        case SheetPin:
            return t.sheet_pin;
        default:
            return t.local_label;
    }
}

void drawLabelsAndTexts(Painter& p, const Settings& cfg, const Theme& t, const Schematic& s, int sheet,
                        const Emphasis& em) {
    for (const Label& l : s.labels) {
        if (l.sheet != sheet) continue;
        Color c = em.netEmphasised(l.net) ? t.highlight : labelColor(t, l.kind);
        if (em.netDimmed(l.net)) c.a = 0.3;
        const int r = roundedAngle(l.angle);
        const bool flipped = r == 180;
        p.drawText(l.text, l.position, cfg.font_scale * l.size, flipped ? 0 : l.angle, flipped ? 1 : -1, 0,
                   l.kind != Local, c);
        if (l.kind == Global || l.kind == Hierarchical) {
            Point d{0, 0};
            if (r == 0) d = {-1.2, 0};
            if (r == 180) d = {1.2, 0};
            if (r == 90) d = {0, -1.2};
            if (r == 270) d = {0, 1.2};
            p.setPen(c, 0.12);
            p.drawLine(l.position, offset(l.position, d));
        }
    }
    for (const TextItem& tx : s.texts) {
        if (tx.sheet != sheet) continue;
        p.drawText(tx.text, tx.position, cfg.font_scale * tx.size, tx.angle, tx.h_justify, tx.v_justify, false,
                   t.free_text);
    }
}

double distance(Point a, Point b) { return std::hypot(a.x - b.x, a.y - b.y); }

double segmentDistance(Point p, Point a, Point b) {
    double dx = b.x - a.x, dy = b.y - a.y;
    double len2 = dx * dx + dy * dy;
    if (len2 < 1e-12) return distance(p, a);
    double u = ((p.x - a.x) * dx + (p.y - a.y) * dy) / len2;
    u = std::clamp(u, 0.0, 1.0);
    return distance(p, {a.x + u * dx, a.y + u * dy});
}

bool contains(const BBox& b, Point p) { return p.x >= b.min_x && p.x <= b.max_x && p.y >= b.min_y && p.y <= b.max_y; }

}  // namespace

void renderSheet(const RenderContext& ctx, Painter& p, const Schematic& s, int sheet, const BBox& visible,
                 const Highlight* highlight) {
    static const Settings defaults;
    const Settings& cfg = ctx.settings ? *ctx.settings : defaults;
    const Theme& t = ctx.theme ? *ctx.theme : themeByName(cfg.theme);
    const Emphasis em(highlight);
    drawBackground(p, t, visible);
    if (cfg.show_grid) drawGrid(p, t, visible);
    drawSheetDrawings(p, t, s, sheet);
    drawSheetSymbols(p, cfg, t, s, sheet, em);
    drawWires(p, cfg, t, s, sheet, em);
    drawJunctionsAndMarkers(p, t, s, sheet, em);
    drawComponents(p, cfg, t, s, sheet, em, highlight);
    drawLabelsAndTexts(p, cfg, t, s, sheet, em);
}

HitInfo hitTest(const Schematic& s, int sheet, Point p, double r) {
    HitInfo hit;
    double best = r;
    for (size_t ci = 0; ci < s.components.size(); ++ci) {
        const Component& c = s.components[ci];
        if (c.sheet != sheet) continue;
        for (size_t pi = 0; pi < c.pins.size(); ++pi) {
            double d = distance(p, c.pins[pi].position);
            if (d < best) {
                best = d;
                hit = {"pin", static_cast<int32_t>(ci), static_cast<int32_t>(pi), c.pins[pi].net, c.pins[pi].position};
            }
        }
    }
    if (hit.kind != "none") return hit;
    for (size_t i = 0; i < s.junctions.size(); ++i) {
        const Junction& j = s.junctions[i];
        if (j.sheet != sheet) continue;
        double d = distance(p, j.position);
        if (d < best) {
            best = d;
            hit = {"junction", static_cast<int32_t>(i), -1, j.net, j.position};
        }
    }
    if (hit.kind != "none") return hit;
    for (size_t i = 0; i < s.wires.size(); ++i) {
        const Wire& w = s.wires[i];
        if (w.sheet != sheet) continue;
        double d = segmentDistance(p, w.a, w.b);
        if (d < best) {
            best = d;
            hit = {"wire", static_cast<int32_t>(i), -1, w.net, p};
        }
    }
    if (hit.kind != "none") return hit;
    for (size_t i = 0; i < s.labels.size(); ++i) {
        const Label& l = s.labels[i];
        if (l.sheet == sheet && distance(p, l.position) <= 1.5 * r)
            return {"label", static_cast<int32_t>(i), -1, l.net, l.position};
    }
    double bestArea = std::numeric_limits<double>::infinity();
    for (size_t i = 0; i < s.components.size(); ++i) {
        const Component& c = s.components[i];
        if (c.sheet != sheet || !contains(c.bbox, p)) continue;
        double area = (c.bbox.max_x - c.bbox.min_x) * (c.bbox.max_y - c.bbox.min_y);
        if (area < bestArea) {
            bestArea = area;
            hit = {"component", static_cast<int32_t>(i), -1, -1, c.position};
        }
    }
    if (hit.kind != "none") return hit;
    for (size_t i = 0; i < s.sheet_symbols.size(); ++i) {
        const SheetSymbol& sym = s.sheet_symbols[i];
        BBox box;
        box.add(sym.position);
        box.add(offset(sym.position, sym.size));
        if (sym.sheet == sheet && contains(box, p))
            return {"sheet_symbol", static_cast<int32_t>(i), -1, -1, sym.position};
    }
    return hit;
}

BBox sheetViewBox(const Schematic& s, int sheet) {
    BBox b;
    if (sheet >= 0 && sheet < static_cast<int>(s.sheets.size())) b = s.sheets[sheet].bbox;
    if (!b.valid()) b = {0, 0, 100, 100};
    double m = std::max(5.0, 0.06 * std::max(b.max_x - b.min_x, b.max_y - b.min_y));
    return {b.min_x - m, b.min_y - m, b.max_x + m, b.max_y + m};
}

}  // namespace nl

#include "render/render.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>

#include "render/scene_index.h"
#include "render/text_layout.h"

namespace nl {

namespace {

constexpr double kGridStep = 2.54;
// KiCad's label flag length (one text size) plus its default text offset ratio.
constexpr double kLabelOffset = 1.15;
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

// Every text goes through here, so that sizes are scaled and texts laid out in one place.
void text(Painter& p, TextSyntax syntax, const std::string& s, Point at, double size, double angle, int h, int v,
          bool bold, const Color& c) {
    drawTextBlock(p, s, syntax, at, size * kTextEmPerCapital, angle, h, v, bold, c);
}

// KiCad's texts carry its escapes and markup; Eagle's are drawn as written.
TextSyntax syntaxOf(const Schematic& s) { return s.format == "eagle" ? TextSyntax::Plain : TextSyntax::Kicad; }

// The direction out of the box or past the flag for a rounded angle of 0, 90, 180 or 270.
Point outward(int r) {
    switch (r) {
        case 90:
            return {0, -1};
        case 180:
            return {-1, 0};
        case 270:
            return {0, 1};
        default:
            return {1, 0};
    }
}

bool square(int r) { return r == 0 || r == 90 || r == 180 || r == 270; }

// How a text written in a symbol's own frame is drawn once the symbol is
// rotated and mirrored: turned to stay readable (horizontal, or vertical
// reading up), its justifications following the flips. v is the painter's.
struct TextPose {
    double angle;
    int h;
    int v;
};

TextPose poseInSymbol(const Placement& m, bool vertical, int h_justify, int v_justify) {
    // Reading and glyph-down directions in sheet axes, through the placement seen in sheet axes.
    const int tx = vertical ? 0 : 1, ty = vertical ? -1 : 0, ux = vertical ? 1 : 0, uy = vertical ? 0 : 1;
    const int m0 = static_cast<int>(m.m0), m1 = static_cast<int>(m.m1), m2 = static_cast<int>(m.m2),
              m3 = static_cast<int>(m.m3);
    const int Tx = m0 * tx - m1 * ty, Ty = m2 * tx - m3 * ty;
    const int Ux = m0 * ux - m1 * uy, Uy = m2 * ux - m3 * uy;
    if (Tx == 1 || Tx == -1) return {0, h_justify * Tx, -(v_justify * Uy)};
    return {90, h_justify * -Ty, -(v_justify * Ux)};
}

bool verticalAngle(double angle) {
    const int r = roundedAngle(angle);
    return r == 90 || r == 270;
}

const LibSymbol* librarySymbol(const Schematic& s, const Component& c) {
    if (c.lib_symbol >= 0 && c.lib_symbol < static_cast<int>(s.lib_symbols.size()))
        return s.lib_symbols[c.lib_symbol].get();
    auto it = s.lib_symbol_index.find(c.lib_id);
    if (it == s.lib_symbol_index.end() || it->second < 0 || it->second >= static_cast<int>(s.lib_symbols.size()))
        return nullptr;
    return s.lib_symbols[it->second].get();
}

bool multiUnit(const LibSymbol& lib) {
    for (const GraphicItem& g : lib.graphics)
        if (g.unit >= 2) return true;
    for (const LibPin& p : lib.pins)
        if (p.unit >= 2) return true;
    return false;
}

// A, B, ... Z, AA, AB, ...
std::string unitLetters(int unit) {
    std::string s;
    for (long long n = unit; n > 0; n = (n - 1) / 26) s.insert(s.begin(), static_cast<char>('A' + (n - 1) % 26));
    return s;
}

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

void drawSheetDrawings(Painter& p, const Theme& t, const Schematic& s, int sheet, const SceneItems* only) {
    for (const GraphicItem& g : picked(s.graphics, only, &SceneItems::graphics)) {
        if (g.unit != sheet) continue;
        p.setPen(t.sheet_drawing, orDefault(g.width, 0.1));
        if (g.fill_background)
            p.setBrush(withAlpha(t.drawing_fill, 1));
        else
            p.noBrush();
        drawShape(p, g);
    }
}

// Where and how a label's (or sheet pin's) text is drawn; sizes before kTextEmPerCapital.
struct TextPlace {
    Point anchor;
    double size;
    double angle;
    int h, v;
    bool bold;
};

TextPlace labelTextPlace(const Label& l, double fontScale) {
    int r = roundedAngle(l.angle);
    const double size = fontScale * l.size, k = kLabelOffset * l.size;
    if (l.kind == SheetPin) {
        // Inside the sheet's box, running from the edge inwards.
        if (!square(r)) r = 0;
        const Point o = outward(r);
        return {{l.position.x - k * o.x, l.position.y - k * o.y},
                size,
                r == 0 || r == 180 ? 0.0 : 90.0,
                r == 0 || r == 90 ? 1 : -1,
                0,
                false};
    }
    if (!square(r)) return {l.position, size, l.angle, -1, 0, l.kind != Local};
    // Never upside down or reading downwards; local labels sit on the wire, the others after their flag.
    const double angle = r == 0 || r == 180 ? 0 : 90;
    const int h = r == 0 || r == 90 ? -1 : 1;
    if (l.kind == Local) return {l.position, size, angle, h, -1, false};
    const Point o = outward(r);
    return {{l.position.x + k * o.x, l.position.y + k * o.y}, size, angle, h, 0, true};
}

void drawSheetSymbols(Painter& p, const Settings& cfg, const Theme& t, const Schematic& s, int sheet,
                      const Emphasis& em, const SceneItems* only) {
    const double fs = cfg.font_scale;
    const TextSyntax syntax = syntaxOf(s);
    for (const SheetSymbol& sym : picked(s.sheet_symbols, only, &SceneItems::sheet_symbols)) {
        if (sym.sheet != sheet) continue;
        p.noBrush();
        p.setPen(t.sheet_symbol, 0.2);
        Point a = sym.position, b = offset(sym.position, sym.size);
        p.drawRect(a, b);
        text(p, syntax, sym.name, {a.x, a.y - 0.6}, 1.3 * fs, 0, -1, -1, true, t.sheet_symbol);
        if (!sym.file.empty())
            text(p, syntax, "File: " + sym.file, {a.x, b.y + 1.0}, fs, 0, -1, 1, false, withAlpha(t.sheet_symbol, 0.7));
        for (int li : sym.pins) {
            if (li < 0 || li >= static_cast<int>(s.labels.size())) continue;
            const Label& l = s.labels[li];
            bool emph = em.netEmphasised(l.net);
            Color c = emph ? t.highlight : t.sheet_pin;
            p.setPen(c, emph ? 0.3 : 0.15);
            const TextPlace at = labelTextPlace(l, fs);
            text(p, syntax, l.text, at.anchor, at.size, at.angle, at.h, at.v, at.bold, c);
        }
    }
}

void drawWires(Painter& p, const Settings& cfg, const Theme& t, const Schematic& s, int sheet, const Emphasis& em,
               const SceneItems* only) {
    for (const Wire& w : picked(s.wires, only, &SceneItems::wires)) {
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

void drawJunctionsAndMarkers(Painter& p, const Theme& t, const Schematic& s, int sheet, const Emphasis& em,
                             const SceneItems* only) {
    for (const Junction& j : picked(s.junctions, only, &SceneItems::junctions)) {
        if (j.sheet != sheet) continue;
        bool emph = em.netEmphasised(j.net);
        Color c = emph ? t.highlight : t.junction;
        if (em.netDimmed(j.net)) c.a = 0.25;
        p.setBrush(c);
        p.noPen();
        p.drawCircle(j.position, emph ? 0.5 : 0.35);
    }
    for (const NoConnect& n : picked(s.no_connects, only, &SceneItems::no_connects)) {
        if (n.sheet != sheet) continue;
        p.setPen(t.no_connect, 0.2);
        Point q = n.position;
        p.drawLine({q.x - 0.6, q.y - 0.6}, {q.x + 0.6, q.y + 0.6});
        p.drawLine({q.x - 0.6, q.y + 0.6}, {q.x + 0.6, q.y - 0.6});
    }
    for (const BusEntry& e : picked(s.bus_entries, only, &SceneItems::bus_entries)) {
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
    TextSyntax syntax = TextSyntax::Kicad;
    // Do-not-populate parts are greyed half-way into the background, as KiCad greys them.
    bool dnp = false;
    Color background;

    Color tone(const Color& c) const {
        if (!dnp) return c;
        const double grey = (std::max({c.r, c.g, c.b}) + std::min({c.r, c.g, c.b})) / 2;
        return {(grey + background.r) / 2, (grey + background.g) / 2, (grey + background.b) / 2, c.a};
    }
};

void drawComponentGraphics(Painter& p, const Settings& cfg, const Theme& t, const Component& c,
                           const ComponentStyle& st, bool symbolFrame) {
    const Placement m = placementOf(c.position, c.rotation, c.mirror_x, c.mirror_y);
    for (const GraphicItem& g : c.graphics) {
        double w = orDefault(g.width, 0.15);
        switch (g.kind) {
            case Circle:
            case Polygon:
                // Circles fill with the drawing colour, bodies with the symbol (or power) fill.
                if (g.fill_background)
                    p.setBrush(st.tone(g.kind == Circle ? withAlpha(t.drawing_fill, st.s)
                                       : c.power_symbol ? withAlpha(t.power_symbol, 0.15 * st.s)
                                                        : withAlpha(t.symbol_fill, st.s)));
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
                Color tc = st.selected ? t.selection : st.tone(withAlpha(t.symbol_text, st.s));
                TextPose pose{g.angle, g.h_justify, -g.v_justify};
                if (symbolFrame) {
                    // The stored angle is already placed; undo the turn to learn the library's orientation.
                    const bool verticalInLibrary = (roundedAngle(g.angle) == 90) != (m.m0 == 0);
                    pose = poseInSymbol(m, verticalInLibrary, g.h_justify, g.v_justify);
                    // KiCad puts library texts that are vertical in the library on the other side.
                    if (verticalInLibrary) pose.v = -pose.v;
                }
                text(p, st.syntax, g.text, g.points[0], orDefault(g.size, 1.27) * cfg.font_scale, pose.angle, pose.h,
                     pose.v, g.bold, tc);
                break;
            }
            default:
                p.noBrush();
                p.setPen(c.power_symbol ? st.tone(withAlpha(t.power_symbol, st.s)) : st.outline, w);
                drawShape(p, g);
                break;
        }
    }
}

// The inversion bubble outside the body and the clock wedge inside it, in the pin's pen.
void drawPinShape(Painter& p, const Pin& pin) {
    const bool inverted = pin.shape.find("inverted") != std::string::npos;
    const bool clock = pin.shape.find("clock") != std::string::npos;
    if (!inverted && !clock) return;
    constexpr double r = 0.635;  // half KiCad's default pin text size
    const double a = pin.angle * std::numbers::pi / 180;
    const Point D{std::cos(a), std::sin(a)}, P{-D.y, D.x};
    const Point E = pin.end;
    p.setDashed(false);
    p.noBrush();
    if (inverted) p.drawCircle({E.x - r * D.x, E.y - r * D.y}, r);
    if (clock)
        p.drawPolyline({{E.x + r * P.x, E.y + r * P.y}, {E.x + r * D.x, E.y + r * D.y}, {E.x - r * P.x, E.y - r * P.y}},
                       false);
}

bool shownPinText(const std::string& s) { return !s.empty() && s != "~"; }

void drawPins(Painter& p, const Settings& cfg, const Theme& t, const Component& c, int ci, const ComponentStyle& st,
              const Emphasis& em, const LibSymbol* lib) {
    const double nameOffset = lib ? lib->pin_name_offset : 0.508;
    const bool namesShown = cfg.show_pin_names && !(lib && lib->hide_pin_names);
    const bool numbersShown = cfg.show_pin_numbers && !(lib && lib->hide_pin_numbers);
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
            drawPinShape(p, pin);
            p.setBrush(t.highlight);
            p.noPen();
            p.drawCircle(pin.position, 0.35);
        } else {
            p.setPen(st.tone(withAlpha(t.pin, st.s)), 0.12);
            p.setDashed(dashed);
            p.drawLine(pin.position, pin.end);
            drawPinShape(p, pin);
        }
        // Eagle marks pins whose texts its symbols hide in the shape.
        const bool quiet = pin.shape.find("|quiet") != std::string::npos;
        const bool showName = namesShown && shownPinText(pin.name) && !pin.name_hidden && !quiet &&
                              pin.shape.find("|noname") == std::string::npos;
        const bool showNumber = numbersShown && shownPinText(pin.number) && !pin.number_hidden && !quiet &&
                                pin.shape.find("|nonum") == std::string::npos;
        if (!showName && !showNumber) continue;
        // D points from the connection point into the body.
        const double a = pin.angle * std::numbers::pi / 180;
        const Point D{std::cos(a), std::sin(a)};
        const bool horizontal = std::fabs(D.x) >= std::fabs(D.y);
        const double angle = horizontal ? 0 : 90;
        const Point M = midpoint(pin.position, pin.end);
        const double fs = cfg.font_scale;
        if (showNumber) {
            // Above the pin line (left of a vertical one), unless a name outside the body takes that side.
            text(p, st.syntax, pin.number, M, (pin.number_size > 0 ? pin.number_size : 0.8) * fs, angle, 0,
                 nameOffset > 0 || !showName ? -1 : 1, false,
                 emph ? t.highlight : st.tone(withAlpha(t.pin_number, st.s)));
        }
        if (showName) {
            const double size = (pin.name_size > 0 ? pin.name_size : 0.9) * fs;
            const Color color = emph ? t.highlight : st.tone(withAlpha(t.pin_name, st.s));
            if (nameOffset > 0) {
                const Point at{pin.end.x + nameOffset * D.x, pin.end.y + nameOffset * D.y};
                const bool intoBody = horizontal ? D.x > 0 : D.y < 0;
                text(p, st.syntax, pin.name, at, size, angle, intoBody ? -1 : 1, 0, false, color);
            } else {
                text(p, st.syntax, pin.name, M, size, angle, 0, -1, false, color);
            }
        }
    }
}

void drawFields(Painter& p, const Settings& cfg, const Theme& t, const Component& c, const ComponentStyle& st,
                bool symbolFrame, const LibSymbol* lib) {
    const Placement m = placementOf(c.position, c.rotation, c.mirror_x, c.mirror_y);
    for (size_t fi = 0; fi < c.fields.size(); ++fi) {
        const GraphicItem& f = c.fields[fi];
        if (f.hidden || f.points.empty()) continue;
        Color fc = st.selected ? t.selection : st.tone(withAlpha(fi == 0 ? t.reference : t.field, st.s));
        const TextPose pose = symbolFrame ? poseInSymbol(m, verticalAngle(f.angle), f.h_justify, f.v_justify)
                                          : TextPose{f.angle, f.h_justify, -f.v_justify};
        const bool unitSuffix = fi == 0 && lib && f.text == c.reference && multiUnit(*lib);
        text(p, st.syntax, unitSuffix ? f.text + unitLetters(c.unit) : f.text, f.points[0],
             orDefault(f.size, 1.27) * cfg.font_scale, pose.angle, pose.h, pose.v, f.bold, fc);
    }
}

// KiCad's cross over a part that is not fitted: corner to corner over the body,
// grown towards the pins' ends (0.6 of their reach, at least 0.3 of the other axis's).
void drawDnpCross(Painter& p, const Theme& t, const Component& c, const ComponentStyle& st) {
    BBox body;  // the outlines' outer edges
    for (const GraphicItem& g : c.graphics) {
        if (g.kind == Text) continue;
        const double half = orDefault(g.width, 0.15) / 2;
        const double r = (g.kind == Circle ? g.radius : 0) + half;
        const size_t n = g.kind == Circle ? std::min<size_t>(g.points.size(), 1) : g.points.size();
        for (size_t i = 0; i < n; ++i) {
            body.add({g.points[i].x - r, g.points[i].y - r});
            body.add({g.points[i].x + r, g.points[i].y + r});
        }
    }
    if (!body.valid()) body = c.bbox;
    if (!body.valid()) return;
    BBox reach = body;
    for (const Pin& pin : c.pins) reach.add(pin.position), reach.add(pin.end);
    const double rx = std::max(body.min_x - reach.min_x, reach.max_x - body.max_x);
    const double ry = std::max(body.min_y - reach.min_y, reach.max_y - body.max_y);
    const double mx = std::max(0.6 * rx, 0.3 * ry), my = std::max(0.6 * ry, 0.3 * rx);
    p.setPen(withAlpha(t.no_connect, st.s), 0.45);
    p.setDashed(false);
    p.drawLine({body.min_x - mx, body.min_y - my}, {body.max_x + mx, body.max_y + my});
    p.drawLine({body.max_x + mx, body.min_y - my}, {body.min_x - mx, body.max_y + my});
}

void drawComponents(Painter& p, const Settings& cfg, const Theme& t, const Schematic& s, int sheet, const Emphasis& em,
                    const Highlight* h, const SceneItems* only) {
    // KiCad writes fields and library texts in the symbol's frame; Eagle's loader has placed them already.
    const bool symbolFrame = s.format != "eagle";
    for (size_t ci : pickedIndices(s.components.size(), only, &SceneItems::components)) {
        const Component& c = s.components[ci];
        if (c.sheet != sheet) continue;
        const int index = static_cast<int>(ci);
        const LibSymbol* lib = librarySymbol(s, c);
        ComponentStyle st;
        st.selected = em.selected(index);
        st.s = componentDimmed(c, index, em, h) ? 0.25 : 1;
        st.syntax = syntaxOf(s);
        st.dnp = c.dnp;
        st.background = t.background;
        st.outline = st.selected ? t.selection : st.tone(withAlpha(t.symbol_outline, st.s));
        drawComponentGraphics(p, cfg, t, c, st, symbolFrame);
        drawPins(p, cfg, t, c, index, st, em, lib);
        drawFields(p, cfg, t, c, st, symbolFrame, lib);
        if (c.dnp) drawDnpCross(p, t, c, st);
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
                        const Emphasis& em, const SceneItems* only) {
    const TextSyntax syntax = syntaxOf(s);
    for (const Label& l : picked(s.labels, only, &SceneItems::labels)) {
        // Sheet pins are drawn with their sheet symbol.
        if (l.sheet != sheet || l.kind == SheetPin) continue;
        Color c = em.netEmphasised(l.net) ? t.highlight : labelColor(t, l.kind);
        if (em.netDimmed(l.net)) c.a = 0.3;
        const int r = roundedAngle(l.angle);
        const TextPlace at = labelTextPlace(l, cfg.font_scale);
        text(p, syntax, l.text, at.anchor, at.size, at.angle, at.h, at.v, at.bold, c);
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
    // Eagle's loader has turned its texts to read as Eagle shows them; KiCad's read from the left or from below.
    const bool placed = s.format == "eagle";
    for (const TextItem& tx : picked(s.texts, only, &SceneItems::texts)) {
        if (tx.sheet != sheet) continue;
        const int r = roundedAngle(tx.angle);
        const double angle = placed ? tx.angle : r == 0 || r == 180 ? 0 : r == 90 || r == 270 ? 90 : tx.angle;
        text(p, syntax, tx.text, tx.position, cfg.font_scale * tx.size, angle, tx.h_justify, -tx.v_justify, false,
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

// On the box of the label's whole text block as it is drawn.
bool onLabelText(const Schematic& s, const Label& l, Point p, double fontScale) {
    const double em = fontScale * l.size * kTextEmPerCapital;
    // No text block reaches further than this; most labels are passed by without laying them out.
    const double reach = kLabelOffset * l.size + em * (1.2 * static_cast<double>(l.text.size()) + 2);
    if (!(distance(p, l.position) <= reach)) return false;
    const TextPlace at = labelTextPlace(l, fontScale);
    const TextBlock block(l.text, syntaxOf(s));
    return contains(textBlockBox(block, at.anchor, em, at.angle, at.h, at.v), p);
}

}  // namespace

void renderSheet(const RenderContext& ctx, Painter& p, const Schematic& s, int sheet, const BBox& visible,
                 const Highlight* highlight) {
    static const Settings defaults;
    const Settings& cfg = ctx.settings ? *ctx.settings : defaults;
    const Theme& t = ctx.theme ? *ctx.theme : themeByName(cfg.theme);
    const Emphasis em(highlight);
    SceneItems picks;
    const SceneItems* only = nullptr;
    if (ctx.index && ctx.index->covers(cfg)) {
        ctx.index->query(sheet, visible, picks);
        only = &picks;
    }
    drawBackground(p, t, visible);
    if (cfg.show_grid) drawGrid(p, t, visible);
    drawSheetDrawings(p, t, s, sheet, only);
    drawSheetSymbols(p, cfg, t, s, sheet, em, only);
    drawWires(p, cfg, t, s, sheet, em, only);
    drawJunctionsAndMarkers(p, t, s, sheet, em, only);
    drawComponents(p, cfg, t, s, sheet, em, highlight, only);
    drawLabelsAndTexts(p, cfg, t, s, sheet, em, only);
}

HitInfo hitTest(const Schematic& s, int sheet, Point p, double r, double font_scale, const SceneIndex* index) {
    HitInfo hit;
    double best = r;
    SceneItems near;
    const SceneItems* only = nullptr;
    if (index) {
        // Labels answer within 1.5 r; everything else within r or by containing p.
        const double reach = std::isfinite(r) ? 1.5 * std::fabs(r) : 1e300;
        index->query(sheet, {p.x - reach, p.y - reach, p.x + reach, p.y + reach}, near);
        only = &near;
    }
    for (size_t ci : pickedIndices(s.components.size(), only, &SceneItems::components)) {
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
    for (size_t i : pickedIndices(s.junctions.size(), only, &SceneItems::junctions)) {
        const Junction& j = s.junctions[i];
        if (j.sheet != sheet) continue;
        double d = distance(p, j.position);
        if (d < best) {
            best = d;
            hit = {"junction", static_cast<int32_t>(i), -1, j.net, j.position};
        }
    }
    if (hit.kind != "none") return hit;
    for (size_t i : pickedIndices(s.wires.size(), only, &SceneItems::wires)) {
        const Wire& w = s.wires[i];
        if (w.sheet != sheet) continue;
        double d = segmentDistance(p, w.a, w.b);
        if (d < best) {
            best = d;
            hit = {"wire", static_cast<int32_t>(i), -1, w.net, p};
        }
    }
    if (hit.kind != "none") return hit;
    for (size_t i : pickedIndices(s.labels.size(), only, &SceneItems::labels)) {
        const Label& l = s.labels[i];
        if (l.sheet == sheet && (distance(p, l.position) <= 1.5 * r || onLabelText(s, l, p, font_scale)))
            return {"label", static_cast<int32_t>(i), -1, l.net, l.position};
    }
    double bestArea = std::numeric_limits<double>::infinity();
    for (size_t i : pickedIndices(s.components.size(), only, &SceneItems::components)) {
        const Component& c = s.components[i];
        if (c.sheet != sheet || !contains(c.bbox, p)) continue;
        double area = (c.bbox.max_x - c.bbox.min_x) * (c.bbox.max_y - c.bbox.min_y);
        if (area < bestArea) {
            bestArea = area;
            hit = {"component", static_cast<int32_t>(i), -1, -1, c.position};
        }
    }
    if (hit.kind != "none") return hit;
    for (size_t i : pickedIndices(s.sheet_symbols.size(), only, &SceneItems::sheet_symbols)) {
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

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>

#include "recording_painter.h"
#include "render.h"
#include "theme.h"

using namespace nl;
using nl::testing::PaintCall;
using nl::testing::RecordingPainter;

namespace {

Schematic oneSheet() {
    Schematic s;
    s.sheets.push_back({});
    s.sheets[0].name = "Root";
    return s;
}

Wire wire(Point a, Point b, int net, int sheet = 0) {
    Wire w;
    w.a = a, w.b = b, w.net = net, w.sheet = sheet;
    return w;
}

// A placed pin: its angle is the direction from the connection point into the body.
Pin pin(Point pos, Point end, const std::string& name, const std::string& number, int net) {
    Pin p;
    p.position = pos, p.end = end, p.name = name, p.number = number, p.net = net;
    p.angle = std::atan2(end.y - pos.y, end.x - pos.x) * 180 / 3.14159265358979323846;
    return p;
}

constexpr double kText = 1.37;  // text sizes are capital heights; the painters take the em

Label label(int kind, const std::string& text, Point pos, double angle, int net = -1) {
    Label l;
    l.kind = kind, l.text = text, l.position = pos, l.angle = angle, l.net = net;
    return l;
}

GraphicItem field(const std::string& text, Point at) {
    GraphicItem f;
    f.kind = Text, f.text = text, f.points = {at};
    return f;
}

// A resistor-like part with one body rectangle, two pins and two fields.
Component part(const std::string& ref, Point at, int net1, int net2) {
    Component c;
    c.reference = ref;
    c.position = at;
    GraphicItem body;
    body.kind = Polygon;
    body.fill_background = true;
    body.points = {{at.x - 1, at.y - 2}, {at.x + 1, at.y - 2}, {at.x + 1, at.y + 2}, {at.x - 1, at.y + 2}};
    c.graphics.push_back(body);
    c.pins.push_back(pin({at.x, at.y - 5}, {at.x, at.y - 2}, "A", "1", net1));
    c.pins.push_back(pin({at.x, at.y + 5}, {at.x, at.y + 2}, "B", "2", net2));
    c.fields.push_back(field(ref, {at.x + 2, at.y}));
    c.fields.push_back(field("10k", {at.x + 2, at.y + 2}));
    c.bbox = {at.x - 1, at.y - 5, at.x + 1, at.y + 5};
    return c;
}

RecordingPainter render(const Schematic& s, const Settings& cfg = {}, const Highlight* h = nullptr, int sheet = 0,
                        BBox visible = {0, 0, 100, 100}) {
    RecordingPainter p;
    RenderContext ctx{&cfg, &themeByName(cfg.theme)};
    renderSheet(ctx, p, s, sheet, visible, h);
    return p;
}

bool sameColor(const Color& a, const Color& b) { return a.r == b.r && a.g == b.g && a.b == b.b && a.a == b.a; }

std::vector<PaintCall> linesAt(const RecordingPainter& p, Point a) {
    std::vector<PaintCall> out;
    for (const PaintCall& c : p.ofKind("line"))
        if (c.points[0].x == a.x && c.points[0].y == a.y) out.push_back(c);
    return out;
}

}  // namespace

TEST(Theme, LookupByNameAndTableValues) {
    EXPECT_EQ(&themeByName("BluePrint"), &themeByName("blueprint"));
    EXPECT_EQ(&themeByName("solarized"), &themeByName("dark"));
    EXPECT_EQ(&themeByName(""), &themeByName("dark"));
    EXPECT_NE(&themeByName("light"), &themeByName("paper"));

    const Theme& dark = themeByName("dark");
    EXPECT_DOUBLE_EQ(dark.background.r, 0.047);
    EXPECT_DOUBLE_EQ(dark.drawing_fill.a, 0.25);
    EXPECT_DOUBLE_EQ(dark.extra1.a, 0.72);
    EXPECT_FALSE(dark.reserved);
    const Theme& paper = themeByName("PAPER");
    EXPECT_DOUBLE_EQ(paper.wire.r, 0.15);
    EXPECT_DOUBLE_EQ(paper.pin.b, 0.4);  // shared with light
    EXPECT_DOUBLE_EQ(paper.symbol_fill.g, 0.96);
    const Theme& bp = themeByName("blueprint");
    EXPECT_DOUBLE_EQ(bp.selection.b, 0.3);
    EXPECT_DOUBLE_EQ(bp.highlight.g, 0.75);
    EXPECT_DOUBLE_EQ(bp.drawing_fill.a, 0.15);
    EXPECT_DOUBLE_EQ(themeByName("light").free_text.r, 0.15);
    // Thirty colours and a flag, in table order: hover is index 25.
    EXPECT_EQ(reinterpret_cast<const Color*>(&dark) + 25, &dark.hover);

    Color c = parseColorText("#ff8000");
    EXPECT_DOUBLE_EQ(c.r, 1);
    EXPECT_DOUBLE_EQ(c.g, 128 / 255.0);
    EXPECT_DOUBLE_EQ(c.a, 1);
    EXPECT_DOUBLE_EQ(parseColorText("#FF800080").a, 128 / 255.0);
    EXPECT_TRUE(sameColor(parseColorText("#fff"), Color{0, 0, 0, 1}));
    EXPECT_TRUE(sameColor(parseColorText("#gg0000"), Color{0, 0, 0, 1}));
}

TEST(Render, LayerOrderAndOtherSheetsSkipped) {
    Schematic s = oneSheet();
    s.sheets.push_back({});
    GraphicItem frame;
    frame.kind = Polyline;
    frame.points = {{0, 0}, {50, 0}};
    frame.unit = 0;
    s.graphics.push_back(frame);
    SheetSymbol sym;
    sym.name = "Sub", sym.file = "sub.kicad_sch", sym.position = {60, 60}, sym.size = {20, 10};
    s.sheet_symbols.push_back(sym);
    s.wires.push_back(wire({10, 10}, {20, 10}, 0));
    s.wires.push_back(wire({11, 11}, {21, 11}, 0, 1));  // other sheet
    s.junctions.push_back({{10, 10}, 0, 0});
    s.components.push_back(part("R1", {30, 30}, 0, -1));
    s.labels.push_back(label(Local, "CLK", {20, 10}, 0, 0));
    TextItem t;
    t.text = "note", t.position = {5, 90};
    s.texts.push_back(t);

    RecordingPainter p = render(s);
    auto indexOf = [&](auto pred) {
        auto it = std::find_if(p.calls.begin(), p.calls.end(), pred);
        return it == p.calls.end() ? -1 : static_cast<int>(it - p.calls.begin());
    };
    int bg = indexOf([](const PaintCall& c) { return c.op == "rect"; });
    int drawing = indexOf([](const PaintCall& c) { return c.op == "polyline" && !c.closed; });
    int symbol = indexOf([](const PaintCall& c) { return c.op == "rect" && c.points[0].x == 60; });
    int wireAt = indexOf([](const PaintCall& c) { return c.op == "line" && c.points[0].x == 10; });
    int junction = indexOf([](const PaintCall& c) { return c.op == "circle"; });
    int body = indexOf([](const PaintCall& c) { return c.op == "polyline" && c.closed; });
    int lbl = indexOf([](const PaintCall& c) { return c.op == "text" && c.text == "CLK"; });
    int note = indexOf([](const PaintCall& c) { return c.op == "text" && c.text == "note"; });
    EXPECT_EQ(bg, 2);  // after setBrush and noPen
    EXPECT_TRUE(bg < drawing && drawing < symbol && symbol < wireAt && wireAt < junction && junction < body &&
                body < lbl && lbl < note)
        << bg << " " << drawing << " " << symbol << " " << wireAt << " " << junction << " " << body << " " << lbl << " "
        << note;
    EXPECT_FALSE(p.calls[bg].has_pen);
    EXPECT_TRUE(sameColor(p.calls[bg].brush, themeByName("dark").background));
    EXPECT_TRUE(linesAt(p, {11, 11}).empty());
    // The sheet drawing: its width 0 becomes 0.1, in the sheet drawing colour, unfilled.
    EXPECT_DOUBLE_EQ(p.calls[drawing].pen_width, 0.1);
    EXPECT_FALSE(p.calls[drawing].has_brush);
    // Nothing but the background on the second sheet, which has no items of its own but the wire.
    RecordingPainter other = render(s, {}, nullptr, 1);
    EXPECT_EQ(other.count("line"), 1);
    EXPECT_EQ(other.count("text"), 0);
}

TEST(Render, GridLinesOnlyWhenEnabledAtMultiplesOfTheStep) {
    Schematic s = oneSheet();
    Settings cfg;
    EXPECT_EQ(render(s, cfg, nullptr, 0, {1, 1, 6, 6}).count("line"), 0);
    cfg.show_grid = true;
    RecordingPainter p = render(s, cfg, nullptr, 0, {1, 1, 6, 6});
    std::vector<double> xs;
    for (const PaintCall& c : p.ofKind("line"))
        if (c.points[0].x == c.points[1].x) {
            xs.push_back(c.points[0].x);
            EXPECT_EQ(c.points[0].y, 1);
            EXPECT_EQ(c.points[1].y, 6);
            EXPECT_DOUBLE_EQ(c.pen_width, 0.03);
        }
    ASSERT_EQ(xs.size(), 4u);
    EXPECT_NEAR(xs[0], 0, 1e-9);
    EXPECT_NEAR(xs[1], 2.54, 1e-9);
    EXPECT_NEAR(xs[2], 5.08, 1e-9);
    EXPECT_NEAR(xs[3], 7.62, 1e-9);
    // A view zoomed out to kilometres does not produce millions of lines.
    EXPECT_LT(render(s, cfg, nullptr, 0, {-1e7, -1e7, 1e7, 1e7}).count("line"), 10000);
}

TEST(Render, WireWidthsHaloAndBusColour) {
    Schematic s = oneSheet();
    s.wires.push_back(wire({0, 0}, {10, 0}, 3));
    Wire bus = wire({0, 5}, {10, 5}, 4);
    bus.bus = true;
    s.wires.push_back(bus);
    Wire thick = wire({0, 9}, {10, 9}, 3);
    thick.width = 0.6;
    s.wires.push_back(thick);
    const Theme& t = themeByName("dark");

    Settings cfg;
    RecordingPainter plain = render(s, cfg);
    auto w = linesAt(plain, {0, 0});
    ASSERT_EQ(w.size(), 1u);
    EXPECT_DOUBLE_EQ(w[0].pen_width, 0.2);
    EXPECT_TRUE(sameColor(w[0].pen, t.wire));
    EXPECT_TRUE(sameColor(linesAt(plain, {0, 5})[0].pen, t.bus));

    cfg.wire_width = 2.5;
    EXPECT_DOUBLE_EQ(linesAt(render(s, cfg), {0, 0})[0].pen_width, 0.5);

    cfg.wire_width = 1;
    Highlight h;
    h.nets = {3};
    RecordingPainter hl = render(s, cfg, &h);
    w = linesAt(hl, {0, 0});
    ASSERT_EQ(w.size(), 2u);
    EXPECT_NEAR(w[0].pen_width, 0.9, 1e-12);  // halo at glow 7
    EXPECT_TRUE(sameColor(w[0].pen, withAlpha(t.highlight, 0.35)));
    EXPECT_DOUBLE_EQ(w[1].pen_width, 0.25);
    EXPECT_TRUE(sameColor(w[1].pen, t.highlight));
    EXPECT_FALSE(w[1].dashed);
    auto tw = linesAt(hl, {0, 9});
    ASSERT_EQ(tw.size(), 2u);
    EXPECT_NEAR(tw[0].pen_width, 1.3, 1e-12);
    EXPECT_DOUBLE_EQ(tw[1].pen_width, 0.6);  // wider than the minimum: kept
    // The bus is on another net and is dimmed.
    EXPECT_DOUBLE_EQ(linesAt(hl, {0, 5})[0].pen.a, 0.25);
}

TEST(Render, DimmingFollowsHighlightedNetsOnly) {
    Schematic s = oneSheet();
    s.wires.push_back(wire({0, 0}, {10, 0}, 1));
    s.wires.push_back(wire({0, 5}, {10, 5}, 2));
    s.wires.push_back(wire({0, 7}, {10, 7}, -1));
    s.labels.push_back(label(Local, "ON", {0, 0}, 0, 1));
    s.labels.push_back(label(Global, "OFF", {0, 5}, 0, 2));
    s.junctions.push_back({{3, 5}, 0, 2});
    s.junctions.push_back({{3, 0}, 0, 1});
    s.components.push_back(part("R1", {30, 30}, 1, 5));  // touches net 1
    s.components.push_back(part("R2", {50, 30}, 2, 5));  // does not
    s.components.push_back(part("R3", {70, 30}, 2, 5));  // named by a pin key
    const Theme& t = themeByName("dark");

    Highlight h;
    h.nets = {1};
    h.pins = {2 * 100000 + 1};
    RecordingPainter p = render(s, {}, &h);
    EXPECT_DOUBLE_EQ(linesAt(p, {0, 5})[0].pen.a, 0.25);
    EXPECT_DOUBLE_EQ(linesAt(p, {0, 7})[0].pen.a, 0.25);  // no net at all counts as another net
    EXPECT_DOUBLE_EQ(p.text("OFF").color.a, 0.3);
    EXPECT_TRUE(sameColor(p.text("ON").color, t.highlight));
    EXPECT_DOUBLE_EQ(p.text("R1").color.a, 1);
    EXPECT_DOUBLE_EQ(p.text("R2").color.a, 0.25);
    EXPECT_DOUBLE_EQ(p.text("R3").color.a, 1);
    auto circles = p.ofKind("circle");
    ASSERT_GE(circles.size(), 2u);
    EXPECT_DOUBLE_EQ(circles[0].radius, 0.35);
    EXPECT_DOUBLE_EQ(circles[0].brush.a, 0.25);
    EXPECT_DOUBLE_EQ(circles[1].radius, 0.5);
    EXPECT_TRUE(sameColor(circles[1].brush, t.highlight));

    // Without dim_others, or with no net highlighted, nothing is dimmed even with a selection.
    h.dim_others = false;
    RecordingPainter noDim = render(s, {}, &h);
    EXPECT_DOUBLE_EQ(linesAt(noDim, {0, 5})[0].pen.a, 1);
    EXPECT_DOUBLE_EQ(noDim.text("R2").color.a, 1);
    Highlight sel;
    sel.components = {0};
    RecordingPainter selected = render(s, {}, &sel);
    EXPECT_DOUBLE_EQ(linesAt(selected, {0, 5})[0].pen.a, 1);
    EXPECT_DOUBLE_EQ(selected.text("R2").color.a, 1);
    EXPECT_TRUE(sameColor(selected.text("R1").color, t.selection));
    EXPECT_TRUE(sameColor(selected.text("10k").color, t.selection));
    // Indices outside the design emphasise nothing.
    Highlight bogus;
    bogus.nets = {999};
    bogus.components = {-5, 1 << 30};
    bogus.pins = {2147483647};
    RecordingPainter b = render(s, {}, &bogus);
    EXPECT_TRUE(sameColor(b.text("ON").color, withAlpha(t.local_label, 0.3)));
}

TEST(Render, PinLinesNamesNumbersAndVisibility) {
    Schematic s = oneSheet();
    Component c;
    // Without a library symbol names stand 0.508 mm inside the body and run on into it.
    c.pins.push_back(pin({0, 10}, {2.54, 10}, "IN", "1", 4));
    c.pins.push_back(pin({20, 10}, {17.46, 10}, "OUT", "2", 5));
    c.pins.push_back(pin({10, 0}, {10, 2.54}, "~", "~", -1));
    Pin hidden = pin({10, 20}, {10, 17.46}, "GND", "7", 6);
    hidden.hidden = true;
    c.pins.push_back(hidden);
    Pin nc = pin({30, 10}, {27.46, 10}, "NC", "8", -1);
    nc.no_connect = true;
    c.pins.push_back(nc);
    Pin ncWired = nc;
    ncWired.position = {30, 20}, ncWired.end = {27.46, 20}, ncWired.net = 9, ncWired.name = "NCW";
    c.pins.push_back(ncWired);
    c.bbox = {0, 0, 30, 20};
    s.components.push_back(c);
    const Theme& t = themeByName("dark");

    Settings cfg;
    RecordingPainter p = render(s, cfg);
    auto in = linesAt(p, {0, 10});
    ASSERT_EQ(in.size(), 1u);
    EXPECT_DOUBLE_EQ(in[0].pen_width, 0.12);
    EXPECT_TRUE(sameColor(in[0].pen, t.pin));
    EXPECT_FALSE(in[0].dashed);
    EXPECT_TRUE(linesAt(p, {30, 10})[0].dashed);
    EXPECT_FALSE(linesAt(p, {30, 20})[0].dashed);  // flagged but connected
    PaintCall inName = p.text("IN"), outName = p.text("OUT"), num = p.text("1");
    EXPECT_EQ(inName.h, -1);
    EXPECT_EQ(outName.h, 1);
    EXPECT_EQ(inName.v, 0);
    EXPECT_NEAR(inName.points[0].x, 2.54 + 0.508, 1e-12);
    EXPECT_NEAR(outName.points[0].x, 17.46 - 0.508, 1e-12);
    EXPECT_NEAR(inName.size, 0.9 * kText, 1e-12);
    EXPECT_TRUE(sameColor(inName.color, t.pin_name));
    EXPECT_DOUBLE_EQ(num.points[0].x, 1.27);
    EXPECT_EQ(num.h, 0);
    EXPECT_EQ(num.v, -1);
    EXPECT_NEAR(num.size, 0.8 * kText, 1e-12);
    EXPECT_TRUE(sameColor(num.color, t.pin_number));
    EXPECT_TRUE(p.text("~").op.empty());
    EXPECT_TRUE(p.text("GND").op.empty());
    EXPECT_TRUE(linesAt(p, {10, 20}).empty());

    cfg.show_hidden_pins = true;
    cfg.font_scale = 2;
    RecordingPainter shown = render(s, cfg);
    EXPECT_EQ(shown.text("GND").op, "text");
    EXPECT_NEAR(shown.text("GND").size, 1.8 * kText, 1e-12);
    cfg.show_pin_names = false;
    cfg.show_pin_numbers = false;
    RecordingPainter bare = render(s, cfg);
    EXPECT_EQ(bare.count("text"), 0);
    EXPECT_EQ(bare.count("line"), 6);

    // Emphasised pin: halo, highlight line, dot at the connection point; the number keeps its side.
    Highlight h;
    h.nets = {4};
    Settings hcfg;
    RecordingPainter hp = render(s, hcfg, &h);
    auto lines = linesAt(hp, {0, 10});
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_NEAR(lines[0].pen_width, 0.84, 1e-12);
    EXPECT_DOUBLE_EQ(lines[0].pen.a, 0.4);
    EXPECT_DOUBLE_EQ(lines[1].pen_width, 0.28);
    auto dots = hp.ofKind("circle");
    ASSERT_EQ(dots.size(), 1u);
    EXPECT_DOUBLE_EQ(dots[0].radius, 0.35);
    EXPECT_FALSE(dots[0].has_pen);
    EXPECT_EQ(hp.text("1").v, -1);
    EXPECT_TRUE(sameColor(hp.text("1").color, t.highlight));
    EXPECT_TRUE(sameColor(hp.text("IN").color, t.highlight));
    EXPECT_TRUE(sameColor(hp.text("OUT").color, t.pin_name));
}

TEST(Render, ComponentFillsFieldsAndSelectionBox) {
    Schematic s = oneSheet();
    Component c = part("U1", {10, 10}, -1, -1);
    GraphicItem ring;
    ring.kind = Circle, ring.points = {{10, 10}}, ring.radius = 1, ring.fill_background = true, ring.width = 0.3;
    c.graphics.push_back(ring);
    GraphicItem solid = c.graphics[0];
    solid.fill_background = false, solid.fill_outline = true;
    c.graphics.push_back(solid);
    GraphicItem hiddenText = field("secret", {10, 12});
    hiddenText.hidden = true;
    c.graphics.push_back(hiddenText);
    GraphicItem label = field("ANODE", {10, 14});
    label.size = 0, label.angle = 90, label.h_justify = 1, label.v_justify = -1, label.bold = true;
    c.graphics.push_back(label);
    c.fields[1].hidden = true;
    s.components.push_back(c);
    Component pwr = part("#PWR1", {50, 10}, -1, -1);
    pwr.power_symbol = true;
    GraphicItem stroke;
    stroke.kind = Polyline, stroke.points = {{50, 5}, {52, 5}};
    pwr.graphics.push_back(stroke);
    s.components.push_back(pwr);
    const Theme& t = themeByName("light");
    Settings cfg;
    cfg.theme = "light";

    RecordingPainter p = render(s, cfg);
    auto polys = p.ofKind("polyline");
    ASSERT_EQ(polys.size(), 4u);
    EXPECT_TRUE(sameColor(polys[0].brush, t.symbol_fill));
    EXPECT_DOUBLE_EQ(polys[0].pen_width, 0.15);
    EXPECT_TRUE(sameColor(polys[1].brush, t.symbol_outline));  // outline-filled
    EXPECT_TRUE(sameColor(polys[2].brush, withAlpha(t.power_symbol, 0.15)));
    EXPECT_FALSE(polys[3].has_brush);
    EXPECT_TRUE(sameColor(polys[3].pen, t.power_symbol));
    auto ringCall = p.ofKind("circle")[0];
    EXPECT_TRUE(sameColor(ringCall.brush, withAlpha(t.drawing_fill, 1)));
    EXPECT_DOUBLE_EQ(ringCall.pen_width, 0.3);
    EXPECT_TRUE(p.text("secret").op.empty());
    EXPECT_EQ(std::count_if(p.calls.begin(), p.calls.end(), [](const PaintCall& c) { return c.text == "10k"; }), 1);
    PaintCall anode = p.text("ANODE");
    EXPECT_NEAR(anode.size, 1.27 * kText, 1e-12);
    EXPECT_EQ(anode.angle, 90);
    EXPECT_EQ(anode.h, 1);
    EXPECT_EQ(anode.v, -1);
    EXPECT_TRUE(anode.bold);
    EXPECT_TRUE(sameColor(anode.color, t.symbol_text));
    EXPECT_TRUE(sameColor(p.text("U1").color, t.reference));
    EXPECT_EQ(p.count("rect"), 1);  // background only

    Highlight h;
    h.components = {0};
    RecordingPainter sel = render(s, cfg, &h);
    auto rects = sel.ofKind("rect");
    ASSERT_EQ(rects.size(), 2u);
    EXPECT_TRUE(rects[1].dashed);
    EXPECT_DOUBLE_EQ(rects[1].pen_width, 0.25);
    EXPECT_EQ(rects[1].points[0].y, 5);
    auto rectAt = std::find_if(sel.calls.begin(), sel.calls.end(),
                               [](const PaintCall& c) { return c.op == "rect" && c.points[0].y == 5; });
    ASSERT_NE(rectAt, sel.calls.end());
    EXPECT_EQ((rectAt + 1)->op, "setDashed");
    EXPECT_FALSE((rectAt + 1)->bold);  // dashing switched off again
    EXPECT_TRUE(sameColor(sel.ofKind("polyline")[0].pen, t.selection));
    // Every pin of a selected component is emphasised.
    EXPECT_EQ(linesAt(sel, {10, 5}).size(), 2u);
}

TEST(Render, SheetSymbolsAndSheetPins) {
    Schematic s = oneSheet();
    SheetSymbol sym;
    sym.name = "Power", sym.file = "power.kicad_sch", sym.position = {10, 20}, sym.size = {30, 15};
    s.labels.push_back(label(SheetPin, "VIN", {10, 25}, 180, 2));
    s.labels.push_back(label(SheetPin, "VOUT", {40, 25}, 0, 3));
    s.labels.back().size = 2;
    sym.pins = {0, 1, 7};  // 7 does not exist
    s.sheet_symbols.push_back(sym);
    const Theme& t = themeByName("dark");
    Settings cfg;
    cfg.font_scale = 1.5;
    Highlight h;
    h.nets = {2};
    h.dim_others = false;
    RecordingPainter p = render(s, cfg, &h);

    auto rect = p.ofKind("rect")[1];
    EXPECT_EQ(rect.points[1].x, 40);
    EXPECT_EQ(rect.points[1].y, 35);
    EXPECT_DOUBLE_EQ(rect.pen_width, 0.2);
    EXPECT_FALSE(rect.has_brush);
    PaintCall name = p.text("Power"), file = p.text("File: power.kicad_sch");
    EXPECT_NEAR(name.points[0].y, 19.4, 1e-12);
    EXPECT_NEAR(name.size, 1.95 * kText, 1e-12);
    EXPECT_TRUE(name.bold);
    EXPECT_EQ(name.v, -1);
    EXPECT_DOUBLE_EQ(file.points[0].y, 36);
    EXPECT_EQ(file.v, 1);
    EXPECT_NEAR(file.size, 1.5 * kText, 1e-12);
    EXPECT_TRUE(sameColor(file.color, withAlpha(t.sheet_symbol, 0.7)));
    PaintCall vin = p.text("VIN");
    EXPECT_EQ(vin.h, -1);  // on the left edge, running into the box
    EXPECT_FALSE(vin.bold);
    EXPECT_TRUE(sameColor(vin.color, t.highlight));
    EXPECT_DOUBLE_EQ(vin.pen_width, 0.3);
    PaintCall vout = p.text("VOUT");
    EXPECT_EQ(vout.h, 1);
    EXPECT_NEAR(vout.size, 3 * kText, 1e-12);
    EXPECT_TRUE(sameColor(vout.color, t.sheet_pin));
    EXPECT_DOUBLE_EQ(vout.pen_width, 0.15);
}

TEST(HitTest, PriorityNearestAndSmallestBox) {
    Schematic s = oneSheet();
    s.components.push_back(part("BIG", {20, 20}, 1, 2));
    s.components.back().bbox = {0, 0, 40, 40};
    s.components.push_back(part("SMALL", {20, 20}, 1, 2));
    s.components.back().bbox = {15, 15, 25, 25};
    s.components.push_back(part("SAME", {20, 20}, 1, 2));
    s.components.back().bbox = {15, 15, 25, 25};
    s.wires.push_back(wire({20, 15}, {60, 15}, 1));  // through the top pins
    s.wires.push_back(wire({70, 70}, {70, 70}, 8));  // zero length
    s.junctions.push_back({{50, 15}, 0, 1});
    s.labels.push_back(label(Local, "A", {80, 80}, 0, 4));
    s.labels.push_back(label(Local, "B", {80.5, 80}, 0, 5));
    SheetSymbol sym;
    sym.position = {100, 100}, sym.size = {10, 10};
    s.sheet_symbols.push_back(sym);

    HitInfo pinHit = hitTest(s, 0, {20.2, 15.1}, 0.5);
    EXPECT_EQ(pinHit.kind, "pin");
    EXPECT_EQ(pinHit.index, 0);  // equal distances: the first found
    EXPECT_EQ(pinHit.sub, 0);
    EXPECT_EQ(pinHit.net, 1);
    EXPECT_EQ(pinHit.position.y, 15);
    EXPECT_EQ(hitTest(s, 0, {50.1, 15}, 0.5).kind, "junction");
    HitInfo w = hitTest(s, 0, {40, 15.3}, 0.5);
    EXPECT_EQ(w.kind, "wire");
    EXPECT_EQ(w.index, 0);
    EXPECT_EQ(w.position.y, 15.3);
    EXPECT_EQ(hitTest(s, 0, {70.3, 70}, 0.5).index, 1);
    EXPECT_EQ(hitTest(s, 0, {40, 15.5}, 0.5).kind, "component");  // distance must be below the tolerance
    HitInfo l = hitTest(s, 0, {80.6, 80}, 0.5);
    EXPECT_EQ(l.kind, "label");
    EXPECT_EQ(l.index, 0);  // first in order within 1.5 x tolerance, not the nearest
    EXPECT_EQ(l.net, 4);
    HitInfo c = hitTest(s, 0, {22, 22}, 0.5);
    EXPECT_EQ(c.kind, "component");
    EXPECT_EQ(c.index, 1);
    EXPECT_EQ(c.sub, -1);
    EXPECT_EQ(c.net, -1);
    EXPECT_EQ(hitTest(s, 0, {40, 40}, 0.1).index, 0);  // box edges count
    HitInfo sh = hitTest(s, 0, {105, 105}, 0.5);
    EXPECT_EQ(sh.kind, "sheet_symbol");
    EXPECT_EQ(sh.position.x, 100);
    HitInfo none = hitTest(s, 0, {200, 200}, 0.5);
    EXPECT_EQ(none.kind, "none");
    EXPECT_EQ(none.index, -1);
    EXPECT_EQ(none.position.x, 0);
    EXPECT_EQ(hitTest(s, 1, {22, 22}, 0.5).kind, "none");
}

TEST(ViewBox, EmptySheetAndMargins) {
    Schematic s = oneSheet();
    s.sheets.push_back({});
    s.sheets[1].bbox = {0, 0, 200, 100};
    BBox e = sheetViewBox(s, 0);
    EXPECT_DOUBLE_EQ(e.min_x, -6);
    EXPECT_DOUBLE_EQ(e.min_y, -6);
    EXPECT_DOUBLE_EQ(e.max_x, 106);
    EXPECT_DOUBLE_EQ(e.max_y, 106);
    BBox b = sheetViewBox(s, 1);
    EXPECT_DOUBLE_EQ(b.min_x, -12);
    EXPECT_DOUBLE_EQ(b.max_y, 112);
    s.sheets[1].bbox = {10, 10, 20, 20};
    EXPECT_DOUBLE_EQ(sheetViewBox(s, 1).min_x, 5);  // at least 5 mm
    EXPECT_DOUBLE_EQ(sheetViewBox(s, 7).max_x, 106);
}

// ---- Texts placed as KiCad places them ----

namespace {

// The side of the anchor a drawn text's body lies on, in sheet axes: along its
// reading direction and across it.
struct Body {
    Point along, across;
};

Body drawnBody(const PaintCall& c) {
    // Painter h: -1 start (body follows the reading direction), 1 end; v: -1 above, 1 below.
    Point read = c.angle == 90 ? Point{0, -1} : Point{1, 0};
    Point down = c.angle == 90 ? Point{1, 0} : Point{0, 1};
    return {{-c.h * read.x, -c.h * read.y}, {c.v * down.x, c.v * down.y}};
}

// The same for a text written in the symbol's frame, mapped through the placement.
Body expectedBody(const Placement& m, bool vertical, int hj, int vj) {
    Point read = vertical ? Point{0, -1} : Point{1, 0};
    Point down = vertical ? Point{1, 0} : Point{0, 1};
    // Left-justified texts follow their anchor; bottom-justified ones stand above it.
    Point along{-hj * read.x, -hj * read.y}, across{-vj * down.x, -vj * down.y};
    auto inSheet = [&](Point d) { return m.direction({d.x, -d.y}); };  // the placement works in y-up library axes
    return {inSheet(along), inSheet(across)};
}

Schematic withLibrary(Component c, LibSymbol lib) {
    Schematic s = oneSheet();
    s.format = "kicad";
    c.lib_id = lib.name;
    s.lib_symbol_index[lib.name] = 0;
    s.lib_symbols.push_back(std::make_shared<LibSymbol>(std::move(lib)));
    s.components.push_back(std::move(c));
    return s;
}

}  // namespace

TEST(RenderText, FieldsFollowEveryRotationAndMirror) {
    int checked = 0;
    for (double rotation : {0.0, 90.0, 180.0, 270.0})
        for (int mirror = 0; mirror < 3; ++mirror) {
            Component c;
            c.reference = "R1";
            c.position = {50, 50};
            c.rotation = rotation;
            c.mirror_x = mirror == 1;
            c.mirror_y = mirror == 2;
            GraphicItem horizontal = field("HORIZ", {52, 50});
            horizontal.h_justify = -1, horizontal.v_justify = 1;
            GraphicItem vertical = field("VERT", {48, 50});
            vertical.angle = 90, vertical.h_justify = 1, vertical.v_justify = -1;
            c.fields = {horizontal, vertical};
            Schematic s = oneSheet();
            s.components.push_back(c);
            RecordingPainter p = render(s);
            const Placement m = placementOf(c.position, rotation, c.mirror_x, c.mirror_y);
            for (const auto& [name, f] : {std::pair{"HORIZ", horizontal}, std::pair{"VERT", vertical}}) {
                PaintCall call = p.text(name);
                ASSERT_EQ(call.op, "text");
                EXPECT_TRUE(call.angle == 0 || call.angle == 90);
                Body got = drawnBody(call), want = expectedBody(m, f.angle == 90, f.h_justify, f.v_justify);
                EXPECT_NEAR(got.along.x, want.along.x, 1e-9) << name << " rot " << rotation << " mirror " << mirror;
                EXPECT_NEAR(got.along.y, want.along.y, 1e-9) << name << " rot " << rotation << " mirror " << mirror;
                EXPECT_NEAR(got.across.x, want.across.x, 1e-9) << name << " rot " << rotation << " mirror " << mirror;
                EXPECT_NEAR(got.across.y, want.across.y, 1e-9) << name << " rot " << rotation << " mirror " << mirror;
                EXPECT_DOUBLE_EQ(call.points[0].x, f.points[0].x);  // the anchor is in sheet coordinates already
                ++checked;
            }
        }
    EXPECT_EQ(checked, 24);

    // Spot checks against KiCad's plots: a resistor drawn horizontally (rotation 90) shows both of its
    // vertical fields horizontal; C3's value, vertical and left-justified, ends at its anchor.
    Component r;
    r.reference = "C3", r.rotation = 90;
    GraphicItem value = field("22uF/25V", {276.86, 40});
    value.angle = 90, value.h_justify = -1;
    r.fields = {value};
    Schematic s = oneSheet();
    s.components.push_back(r);
    PaintCall v = render(s).text("22uF/25V");
    EXPECT_EQ(v.angle, 0);
    EXPECT_EQ(v.h, 1);
    EXPECT_EQ(v.v, 0);
    // Eagle's loader places its texts itself: only the vertical sense is turned round.
    s.format = "eagle";
    v = render(s).text("22uF/25V");
    EXPECT_EQ(v.angle, 90);
    EXPECT_EQ(v.h, -1);
}

TEST(RenderText, LibraryTextsAndFreeTexts) {
    Component c;
    c.position = {10, 10};
    GraphicItem flat = field("FLAT", {10, 10});
    flat.v_justify = 1;  // placed angle 0 at rotation 0: horizontal in the library
    GraphicItem upright = field("UPRIGHT", {10, 12});
    upright.angle = 90, upright.v_justify = 1;  // vertical in the library
    c.graphics = {flat, upright};
    Schematic s = oneSheet();
    s.components.push_back(c);
    RecordingPainter p = render(s);
    EXPECT_EQ(p.text("FLAT").v, -1);    // bottom-justified: above its anchor
    EXPECT_EQ(p.text("UPRIGHT").v, 1);  // measured: KiCad puts these on the other side
    EXPECT_EQ(p.text("UPRIGHT").angle, 90);
    // At rotation 90 the stored angle 90 is the library's horizontal text turned.
    s.components[0].rotation = 90;
    s.components[0].graphics[1].v_justify = 0;
    PaintCall turned = render(s).text("UPRIGHT");
    EXPECT_EQ(turned.angle, 90);
    EXPECT_EQ(turned.v, 0);

    Schematic f = oneSheet();
    const std::pair<double, double> cases[] = {{0, 0}, {180, 0}, {90, 90}, {270, 90}, {30, 30}};
    for (auto [written, drawn] : cases) {
        TextItem tx;
        tx.text = "T" + std::to_string(int(written)), tx.angle = written, tx.h_justify = 1, tx.v_justify = 1;
        f.texts.push_back(tx);
    }
    RecordingPainter fp = render(f);
    for (auto [written, drawn] : cases) {
        PaintCall call = fp.text("T" + std::to_string(int(written)));
        EXPECT_EQ(call.angle, drawn) << written;
        EXPECT_EQ(call.h, 1);
        EXPECT_EQ(call.v, -1);  // bottom-justified: above the anchor
        EXPECT_FALSE(call.bold);
        EXPECT_TRUE(sameColor(call.color, themeByName("dark").free_text));
        EXPECT_NEAR(call.size, 1.27 * 1.37, 1e-12);
    }
}

TEST(RenderText, PinNamesInsideOrBesideAndNumbersOpposite) {
    // Four pins pointing into a body centred on (0, 0): from the left, right, top and bottom.
    auto placed = [](Point pos, Point end, double angle, const char* name, const char* number) {
        Pin p = pin(pos, end, name, number, -1);
        p.angle = angle;
        return p;
    };
    Component c;
    c.pins = {placed({-5, 0}, {-2.46, 0}, 0, "LEFT", "1"), placed({5, 0}, {2.46, 0}, 180, "RIGHT", "2"),
              placed({0, -5}, {0, -2.46}, 90, "TOP", "3"), placed({0, 5}, {0, 2.46}, 270, "BOT", "4")};
    c.pins[1].name_size = 0.508;
    c.pins[1].number_size = 1.5;
    LibSymbol lib;
    lib.name = "Chip";
    lib.pin_name_offset = 1.016;
    Schematic s = withLibrary(c, lib);
    RecordingPainter p = render(s);
    PaintCall left = p.text("LEFT"), right = p.text("RIGHT"), top = p.text("TOP"), bot = p.text("BOT");
    EXPECT_NEAR(left.points[0].x, -2.46 + 1.016, 1e-9);
    EXPECT_EQ(left.h, -1);  // runs on into the body
    EXPECT_EQ(left.v, 0);
    EXPECT_EQ(left.angle, 0);
    EXPECT_NEAR(right.points[0].x, 2.46 - 1.016, 1e-9);
    EXPECT_EQ(right.h, 1);
    EXPECT_NEAR(right.size, 0.508 * 1.37, 1e-12);
    EXPECT_NEAR(top.points[0].y, -2.46 + 1.016, 1e-9);  // pin angle 90 points down the screen into the body
    EXPECT_EQ(top.angle, 90);
    EXPECT_EQ(top.h, 1);  // reading up, ending before the pin
    EXPECT_NEAR(bot.points[0].y, 2.46 - 1.016, 1e-9);
    EXPECT_EQ(bot.h, -1);
    PaintCall one = p.text("1"), two = p.text("2"), three = p.text("3");
    EXPECT_NEAR(one.points[0].x, (-5 - 2.46) / 2, 1e-9);
    EXPECT_EQ(one.h, 0);
    EXPECT_EQ(one.v, -1);  // above the line
    EXPECT_NEAR(two.size, 1.5 * 1.37, 1e-12);
    EXPECT_EQ(three.angle, 90);
    EXPECT_EQ(three.v, -1);  // left of a vertical line
    EXPECT_NEAR(one.size, 0.8 * 1.37, 1e-12);
    EXPECT_NEAR(left.size, 0.9 * 1.37, 1e-12);

    // Emphasised pins keep their number's side.
    s.components[0].pins[0].net = 3;
    Highlight h;
    h.nets = {3};
    EXPECT_EQ(render(s, {}, &h).text("1").v, -1);

    // Offset 0: names above (left of) the line, numbers below (right of) it, both centred on the pin.
    s.lib_symbols[0]->pin_name_offset = 0;
    RecordingPainter z = render(s);
    EXPECT_NEAR(z.text("LEFT").points[0].x, (-5 - 2.46) / 2, 1e-9);
    EXPECT_EQ(z.text("LEFT").h, 0);
    EXPECT_EQ(z.text("LEFT").v, -1);
    EXPECT_EQ(z.text("1").v, 1);
    EXPECT_EQ(z.text("TOP").v, -1);
    EXPECT_EQ(z.text("3").v, 1);
}

TEST(RenderText, PinTextHideFlags) {
    Component c;
    c.pins = {pin({0, 0}, {2.54, 0}, "A", "1", -1), pin({0, 5}, {2.54, 5}, "B", "2", -1)};
    c.pins[1].name_hidden = true;
    c.pins[1].number_hidden = true;
    LibSymbol lib;
    lib.name = "R";
    Schematic s = withLibrary(c, lib);
    auto texts = [&](const Settings& cfg = {}) {
        std::string all;
        for (const PaintCall& call : render(s, cfg).ofKind("text")) all += call.text + " ";
        return all;
    };
    EXPECT_EQ(texts(), "1 A ");
    s.lib_symbols[0]->hide_pin_numbers = true;
    EXPECT_EQ(texts(), "A ");
    s.lib_symbols[0]->hide_pin_names = true;
    EXPECT_EQ(texts(), "");
    EXPECT_EQ(render(s).count("line"), 2);  // the pin lines stay
    s.lib_symbols[0]->hide_pin_names = false;
    Settings noNames;
    noNames.show_pin_names = false;
    EXPECT_EQ(texts(noNames), "");

    // Eagle pins say it in their shape.
    Schematic e = oneSheet();
    e.format = "eagle";
    Component ec;
    ec.pins = {pin({0, 0}, {2.54, 0}, "Q", "1", -1), pin({0, 5}, {2.54, 5}, "NN", "2", -1),
               pin({0, 9}, {2.54, 9}, "NU", "3", -1), pin({0, 12}, {2.54, 12}, "P", "4", -1)};
    ec.pins[0].shape = "line|quiet";
    ec.pins[1].shape = "dot|noname";
    ec.pins[2].shape = "line|nonum";
    e.components.push_back(ec);
    std::string all;
    for (const PaintCall& call : render(e).ofKind("text")) all += call.text + " ";
    EXPECT_EQ(all, "2 NU 4 P ");
}

TEST(RenderText, SheetPinsOnceInsideTheBox) {
    Schematic s = oneSheet();
    SheetSymbol sym;
    sym.name = "Sub", sym.file = "sub.kicad_sch", sym.position = {10, 10}, sym.size = {20, 20};
    s.labels = {label(SheetPin, "E", {30, 15}, 0), label(SheetPin, "N", {15, 10}, 90),
                label(SheetPin, "W", {10, 20}, 180), label(SheetPin, "S", {20, 30}, 270),
                label(SheetPin, "ODD", {30, 25}, 45)};
    for (int i = 0; i < 5; ++i) sym.pins.push_back(i);
    s.sheet_symbols.push_back(sym);
    RecordingPainter p = render(s);
    const double k = 1.15 * 1.27;
    struct Want {
        const char* text;
        double x, y, angle;
        int h;
    } wants[] = {{"E", 30 - k, 15, 0, 1},
                 {"N", 15, 10 + k, 90, 1},
                 {"W", 10 + k, 20, 0, -1},
                 {"S", 20, 30 - k, 90, -1},
                 {"ODD", 30 - k, 25, 0, 1}};
    for (const Want& w : wants) {
        int seen = 0;
        for (const PaintCall& c : p.ofKind("text"))
            if (c.text == w.text) {
                ++seen;
                EXPECT_NEAR(c.points[0].x, w.x, 1e-9) << w.text;
                EXPECT_NEAR(c.points[0].y, w.y, 1e-9) << w.text;
                EXPECT_EQ(c.angle, w.angle) << w.text;
                EXPECT_EQ(c.h, w.h) << w.text;
                EXPECT_EQ(c.v, 0);
                EXPECT_FALSE(c.bold);
            }
        EXPECT_EQ(seen, 1) << w.text;
    }
    PaintCall name = p.text("Sub"), file = p.text("File: sub.kicad_sch");
    EXPECT_EQ(name.v, -1);  // above the box
    EXPECT_DOUBLE_EQ(name.points[0].y, 9.4);
    EXPECT_EQ(file.v, 1);  // below it
    EXPECT_DOUBLE_EQ(file.points[0].y, 31);
    s.sheet_symbols[0].file.clear();
    EXPECT_EQ(render(s).count("text"), 6);  // no "File: " alone
}

TEST(RenderText, LabelsReadableAndOffsetPastTheirFlag) {
    Schematic s = oneSheet();
    for (int r : {0, 90, 180, 270}) {
        s.labels.push_back(label(Local, "L" + std::to_string(r), {10, 10}, r));
        s.labels.push_back(label(Global, "G" + std::to_string(r), {50, 50}, r));
    }
    s.labels.push_back(label(Hierarchical, "H45", {70, 70}, 45));
    s.labels.back().size = 2;
    RecordingPainter p = render(s);
    const double k = 1.15 * 1.27;
    for (int r : {0, 90, 180, 270}) {
        PaintCall l = p.text("L" + std::to_string(r)), g = p.text("G" + std::to_string(r));
        const double angle = r == 0 || r == 180 ? 0 : 90;
        const int h = r == 0 || r == 90 ? -1 : 1;
        EXPECT_EQ(l.angle, angle) << r;
        EXPECT_EQ(l.h, h) << r;
        EXPECT_EQ(l.v, -1) << r;
        EXPECT_DOUBLE_EQ(l.points[0].x, 10);
        EXPECT_FALSE(l.bold);
        EXPECT_EQ(g.angle, angle) << r;
        EXPECT_EQ(g.h, h) << r;
        EXPECT_EQ(g.v, 0) << r;
        EXPECT_TRUE(g.bold);
        const double ox = r == 0 ? 1 : r == 180 ? -1 : 0, oy = r == 90 ? -1 : r == 270 ? 1 : 0;
        EXPECT_NEAR(g.points[0].x, 50 + k * ox, 1e-9) << r;
        EXPECT_NEAR(g.points[0].y, 50 + k * oy, 1e-9) << r;
        EXPECT_NEAR(g.size, 1.27 * 1.37, 1e-12);
    }
    PaintCall odd = p.text("H45");
    EXPECT_EQ(odd.angle, 45);
    EXPECT_EQ(odd.h, -1);
    EXPECT_DOUBLE_EQ(odd.points[0].x, 70);
    EXPECT_NEAR(odd.size, 2 * 1.37, 1e-12);
    // Global and hierarchical labels keep a 1.2 mm tick behind their position; local labels have none.
    EXPECT_TRUE(linesAt(p, {10, 10}).empty());
    auto ticks = linesAt(p, {50, 50});
    ASSERT_EQ(ticks.size(), 4u);
    const Point ends[] = {{48.8, 50}, {50, 48.8}, {51.2, 50}, {50, 51.2}};  // 0, 90, 180, 270
    for (int i = 0; i < 4; ++i) {
        EXPECT_NEAR(ticks[i].points[1].x, ends[i].x, 1e-9) << i;
        EXPECT_NEAR(ticks[i].points[1].y, ends[i].y, 1e-9) << i;
        EXPECT_DOUBLE_EQ(ticks[i].pen_width, 0.12);
    }
    auto zero = linesAt(p, {70, 70});
    ASSERT_EQ(zero.size(), 1u);
    EXPECT_EQ(zero[0].points[1].x, 70);  // other angles: no offset
}

TEST(RenderText, UnitLetterAfterTheReference) {
    Component c;
    c.reference = "U2";
    c.unit = 1;
    c.fields = {field("U2", {0, 0}), field("U2", {0, 5})};
    LibSymbol lib;
    lib.name = "74LS125";
    LibPin p1, p2;
    p1.unit = 1, p2.unit = 4;
    lib.pins = {p1, p2};
    Schematic s = withLibrary(c, lib);
    auto firstText = [&] { return render(s).ofKind("text")[0].text; };
    EXPECT_EQ(firstText(), "U2A");
    EXPECT_EQ(render(s).ofKind("text")[1].text, "U2");  // only the first field
    s.components[0].unit = 4;
    EXPECT_EQ(firstText(), "U2D");
    s.components[0].unit = 26;
    EXPECT_EQ(firstText(), "U2Z");
    s.components[0].unit = 27;
    EXPECT_EQ(firstText(), "U2AA");
    s.components[0].unit = 28;
    EXPECT_EQ(firstText(), "U2AB");
    s.components[0].fields[0].text = "U?";  // not the reference
    EXPECT_EQ(firstText(), "U?");
    s.components[0].fields[0].text = "U2";
    s.lib_symbols[0]->pins[1].unit = 0;  // a single-unit symbol
    EXPECT_EQ(firstText(), "U2");
}

TEST(RenderText, PinShapesBubbleAndClock) {
    Component c;
    c.pins = {pin({0, 0}, {2.54, 0}, "", "", -1), pin({0, 5}, {2.54, 5}, "", "", -1),
              pin({0, 10}, {2.54, 10}, "", "", -1), pin({10, 0}, {10, 2.54}, "", "", -1)};
    c.pins[0].shape = "line";
    c.pins[1].shape = "inverted";
    c.pins[2].shape = "inverted_clock";
    c.pins[3].shape = "clock";
    Schematic s = oneSheet();
    s.components.push_back(c);
    RecordingPainter p = render(s);
    auto circles = p.ofKind("circle");
    ASSERT_EQ(circles.size(), 2u);
    EXPECT_NEAR(circles[0].points[0].x, 2.54 - 0.635, 1e-9);  // touching the body from outside
    EXPECT_NEAR(circles[0].points[0].y, 5, 1e-9);
    EXPECT_DOUBLE_EQ(circles[0].radius, 0.635);
    EXPECT_FALSE(circles[0].has_brush);
    EXPECT_TRUE(circles[0].has_pen);
    auto wedges = p.ofKind("polyline");
    ASSERT_EQ(wedges.size(), 2u);
    EXPECT_FALSE(wedges[1].closed);
    EXPECT_NEAR(wedges[1].points[1].y, 2.54 + 0.635, 1e-9);  // its tip inside the body
    EXPECT_NEAR(wedges[1].points[0].x, 10 - 0.635, 1e-9);
    EXPECT_NEAR(wedges[1].points[2].x, 10 + 0.635, 1e-9);
    // An emphasised pin draws it in the highlight colour, before the dot at its end.
    Highlight h;
    h.components = {0};
    RecordingPainter hp = render(s, {}, &h);
    auto hc = hp.ofKind("circle");
    ASSERT_EQ(hc.size(), 6u);  // two bubbles and four dots
    EXPECT_TRUE(sameColor(hc[1].pen, themeByName("dark").highlight));
    EXPECT_DOUBLE_EQ(hc[1].radius, 0.635);
}

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>

#include "fixtures/recording_painter.h"
#include "render/render.h"
#include "render/text_layout.h"
#include "render/theme.h"

using namespace nl;
using nl::testing::PaintCall;
using nl::testing::RecordingPainter;

namespace {

constexpr double kText = 1.37;         // text sizes are capital heights; the painters take the em
constexpr double kFlag = 1.15 * 1.27;  // how far label and sheet-pin texts stand off their position
const Theme& kDark = themeByName("dark");

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
Pin pin(Point pos, Point end, const std::string& name, const std::string& number, int net = -1) {
    Pin p;
    p.position = pos, p.end = end, p.name = name, p.number = number, p.net = net;
    p.angle = std::atan2(end.y - pos.y, end.x - pos.x) * 180 / 3.14159265358979323846;
    return p;
}

Label label(int kind, const std::string& text, Point pos, double angle, int net = -1) {
    Label l;
    l.kind = kind, l.text = text, l.position = pos, l.angle = angle, l.net = net;
    return l;
}

GraphicItem field(const std::string& text, Point at, double angle = 0, int h = 0, int v = 0) {
    GraphicItem f;
    f.kind = Text, f.text = text, f.points = {at}, f.angle = angle, f.h_justify = h, f.v_justify = v;
    return f;
}

// A resistor-like part with one body rectangle, two pins and two fields.
Component part(const std::string& ref, Point at, int net1, int net2) {
    Component c;
    c.reference = ref, c.position = at;
    GraphicItem body;
    body.kind = Polygon, body.fill_background = true;
    body.points = {{at.x - 1, at.y - 2}, {at.x + 1, at.y - 2}, {at.x + 1, at.y + 2}, {at.x - 1, at.y + 2}};
    c.graphics.push_back(body);
    c.pins = {pin({at.x, at.y - 5}, {at.x, at.y - 2}, "A", "1", net1),
              pin({at.x, at.y + 5}, {at.x, at.y + 2}, "B", "2", net2)};
    c.fields = {field(ref, {at.x + 2, at.y}), field("10k", {at.x + 2, at.y + 2})};
    c.bbox = {at.x - 1, at.y - 5, at.x + 1, at.y + 5};
    return c;
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

RecordingPainter render(const Schematic& s, const Settings& cfg = {}, const Highlight* h = nullptr, int sheet = 0,
                        BBox visible = {0, 0, 100, 100}) {
    RecordingPainter p;
    RenderContext ctx{&cfg, &themeByName(cfg.theme)};
    renderSheet(ctx, p, s, sheet, visible, h);
    return p;
}

bool same(const Color& a, const Color& b) { return a.r == b.r && a.g == b.g && a.b == b.b && a.a == b.a; }

std::vector<PaintCall> linesAt(const RecordingPainter& p, Point a) {
    std::vector<PaintCall> out;
    for (const PaintCall& c : p.ofKind("line"))
        if (c.points[0].x == a.x && c.points[0].y == a.y) out.push_back(c);
    return out;
}

std::string allTexts(const RecordingPainter& p) {
    std::string all;
    for (const PaintCall& call : p.ofKind("text")) all += call.text + " ";
    return all;
}

}  // namespace

TEST(Theme, LookupByNameSpotValuesAndColourText) {
    EXPECT_EQ(&themeByName("BluePrint"), &themeByName("blueprint"));
    EXPECT_EQ(&themeByName("solarized"), &kDark);
    EXPECT_EQ(&themeByName(""), &kDark);
    EXPECT_NE(&themeByName("light"), &themeByName("paper"));
    EXPECT_DOUBLE_EQ(kDark.background.r, 0.047);
    EXPECT_DOUBLE_EQ(themeByName("PAPER").symbol_fill.g, 0.96);
    EXPECT_DOUBLE_EQ(themeByName("blueprint").highlight.g, 0.75);
    EXPECT_DOUBLE_EQ(themeByName("light").free_text.r, 0.15);
    // Thirty colours and a flag, in table order: hover is index 25.
    EXPECT_EQ(reinterpret_cast<const Color*>(&kDark) + 25, &kDark.hover);
    Color c = parseColorText("#ff8000");
    EXPECT_TRUE(same(c, Color{1, 128 / 255.0, 0, 1}));
    EXPECT_DOUBLE_EQ(parseColorText("#FF800080").a, 128 / 255.0);
    EXPECT_TRUE(same(parseColorText("#fff"), Color{0, 0, 0, 1}));
    EXPECT_TRUE(same(parseColorText("#gg0000"), Color{0, 0, 0, 1}));
}

TEST(Render, LayerOrderAndOtherSheetsSkipped) {
    Schematic s = oneSheet();
    s.sheets.push_back({});
    GraphicItem frame;
    frame.kind = Polyline, frame.points = {{0, 0}, {50, 0}}, frame.unit = 0;
    s.graphics.push_back(frame);
    SheetSymbol sym;
    sym.name = "Sub", sym.file = "sub.kicad_sch", sym.position = {60, 60}, sym.size = {20, 10};
    s.sheet_symbols.push_back(sym);
    s.wires = {wire({10, 10}, {20, 10}, 0), wire({11, 11}, {21, 11}, 0, 1)};
    s.junctions.push_back({{10, 10}, 0, 0});
    s.components.push_back(part("R1", {30, 30}, 0, -1));
    s.labels.push_back(label(Local, "CLK", {20, 10}, 0, 0));
    TextItem t;
    t.text = "note", t.position = {5, 90};
    s.texts.push_back(t);

    RecordingPainter p = render(s);
    auto at = [&](auto pred) {
        return static_cast<int>(std::find_if(p.calls.begin(), p.calls.end(), pred) - p.calls.begin());
    };
    const int order[] = {at([](const PaintCall& c) { return c.op == "rect"; }),
                         at([](const PaintCall& c) { return c.op == "polyline" && !c.closed; }),
                         at([](const PaintCall& c) { return c.op == "rect" && c.points[0].x == 60; }),
                         at([](const PaintCall& c) { return c.op == "line" && c.points[0].x == 10; }),
                         at([](const PaintCall& c) { return c.op == "circle"; }),
                         at([](const PaintCall& c) { return c.op == "polyline" && c.closed; }),
                         at([](const PaintCall& c) { return c.text == "CLK"; }),
                         at([](const PaintCall& c) { return c.text == "note"; })};
    EXPECT_EQ(order[0], 2);  // after setBrush and noPen
    EXPECT_TRUE(std::is_sorted(std::begin(order), std::end(order)) && order[7] < int(p.calls.size()));
    EXPECT_FALSE(p.calls[order[0]].has_pen);
    EXPECT_TRUE(same(p.calls[order[0]].brush, kDark.background));
    EXPECT_TRUE(linesAt(p, {11, 11}).empty());
    EXPECT_DOUBLE_EQ(p.calls[order[1]].pen_width, 0.1);  // the sheet drawing's width 0
    EXPECT_FALSE(p.calls[order[1]].has_brush);
    RecordingPainter other = render(s, {}, nullptr, 1);
    EXPECT_EQ(other.count("line"), 1);
    EXPECT_EQ(other.count("text"), 0);
}

TEST(Render, GridLinesOnlyWhenEnabledAtMultiplesOfTheStep) {
    Schematic s = oneSheet();
    Settings cfg;
    EXPECT_EQ(render(s, cfg, nullptr, 0, {1, 1, 6, 6}).count("line"), 0);
    cfg.show_grid = true;
    std::vector<double> xs;
    for (const PaintCall& c : render(s, cfg, nullptr, 0, {1, 1, 6, 6}).ofKind("line"))
        if (c.points[0].x == c.points[1].x) {
            xs.push_back(std::round(c.points[0].x * 100) / 100);
            EXPECT_TRUE(c.points[0].y == 1 && c.points[1].y == 6 && c.pen_width == 0.03);
        }
    EXPECT_EQ(xs, (std::vector<double>{0, 2.54, 5.08, 7.62}));
    // A view zoomed out to kilometres does not produce millions of lines.
    EXPECT_LT(render(s, cfg, nullptr, 0, {-1e7, -1e7, 1e7, 1e7}).count("line"), 10000);
}

TEST(Render, WireWidthsHaloAndDimming) {
    Schematic s = oneSheet();
    s.wires = {wire({0, 0}, {10, 0}, 1), wire({0, 5}, {10, 5}, 2), wire({0, 7}, {10, 7}, -1), wire({0, 9}, {10, 9}, 1)};
    s.wires[1].bus = true;
    s.wires[3].width = 0.6;
    s.labels = {label(Local, "ON", {0, 0}, 0, 1), label(Global, "OFF", {0, 5}, 0, 2)};
    s.junctions = {{{3, 5}, 0, 2}, {{3, 0}, 0, 1}};
    s.components = {part("R1", {30, 30}, 1, 5), part("R2", {50, 30}, 2, 5), part("R3", {70, 30}, 2, 5)};

    Settings cfg;
    RecordingPainter plain = render(s, cfg);
    EXPECT_DOUBLE_EQ(linesAt(plain, {0, 0})[0].pen_width, 0.2);
    EXPECT_TRUE(same(linesAt(plain, {0, 5})[0].pen, kDark.bus));
    cfg.wire_width = 2.5;
    EXPECT_DOUBLE_EQ(linesAt(render(s, cfg), {0, 0})[0].pen_width, 0.5);

    Highlight h;
    h.nets = {1};
    h.pins = {2 * 100000 + 1};  // R3's first pin
    RecordingPainter hl = render(s, {}, &h);
    auto w = linesAt(hl, {0, 0}), thick = linesAt(hl, {0, 9});
    ASSERT_EQ(w.size(), 2u);
    EXPECT_NEAR(w[0].pen_width, 0.9, 1e-12);  // halo at glow 7
    EXPECT_TRUE(same(w[0].pen, withAlpha(kDark.highlight, 0.35)));
    EXPECT_DOUBLE_EQ(w[1].pen_width, 0.25);
    EXPECT_TRUE(same(w[1].pen, kDark.highlight) && !w[1].dashed);
    ASSERT_EQ(thick.size(), 2u);
    EXPECT_NEAR(thick[0].pen_width, 1.3, 1e-12);
    EXPECT_DOUBLE_EQ(thick[1].pen_width, 0.6);  // wider than the minimum: kept
    EXPECT_DOUBLE_EQ(linesAt(hl, {0, 5})[0].pen.a, 0.25);
    EXPECT_DOUBLE_EQ(linesAt(hl, {0, 7})[0].pen.a, 0.25);  // no net at all counts as another net
    EXPECT_DOUBLE_EQ(hl.text("OFF").color.a, 0.3);
    EXPECT_TRUE(same(hl.text("ON").color, kDark.highlight));
    EXPECT_DOUBLE_EQ(hl.text("R1").color.a, 1);
    EXPECT_DOUBLE_EQ(hl.text("R2").color.a, 0.25);
    EXPECT_DOUBLE_EQ(hl.text("R3").color.a, 1);
    auto circles = hl.ofKind("circle");
    ASSERT_GE(circles.size(), 2u);
    EXPECT_TRUE(circles[0].radius == 0.35 && circles[0].brush.a == 0.25);
    EXPECT_TRUE(circles[1].radius == 0.5 && same(circles[1].brush, kDark.highlight));

    // Without dim_others, or with no net highlighted, nothing is dimmed even with a selection.
    h.dim_others = false;
    Highlight sel;
    sel.components = {0};
    for (const Highlight* x : {&h, &sel}) {
        RecordingPainter p = render(s, {}, x);
        EXPECT_DOUBLE_EQ(linesAt(p, {0, 5})[0].pen.a, 1);
        EXPECT_DOUBLE_EQ(p.text("R2").color.a, 1);
    }
    EXPECT_TRUE(same(render(s, {}, &sel).text("10k").color, kDark.selection));
    // Indices outside the design emphasise nothing.
    Highlight bogus;
    bogus.nets = {999}, bogus.components = {-5, 1 << 30}, bogus.pins = {2147483647};
    EXPECT_TRUE(same(render(s, {}, &bogus).text("ON").color, withAlpha(kDark.local_label, 0.3)));
}

TEST(Render, PinLinesTextsVisibilityAndEmphasis) {
    Schematic s = oneSheet();
    Component c;
    // Without a library symbol names stand 0.508 mm inside the body and run on into it.
    c.pins = {pin({0, 10}, {2.54, 10}, "IN", "1", 4), pin({20, 10}, {17.46, 10}, "OUT", "2", 5),
              pin({10, 0}, {10, 2.54}, "~", "~"),     pin({10, 20}, {10, 17.46}, "GND", "7", 6),
              pin({30, 10}, {27.46, 10}, "NC", "8"),  pin({30, 20}, {27.46, 20}, "NCW", "8", 9)};
    c.pins[3].hidden = true;
    c.pins[4].no_connect = c.pins[5].no_connect = true;
    c.bbox = {0, 0, 30, 20};
    s.components.push_back(c);

    Settings cfg;
    RecordingPainter p = render(s, cfg);
    auto in = linesAt(p, {0, 10});
    ASSERT_EQ(in.size(), 1u);
    EXPECT_TRUE(in[0].pen_width == 0.12 && same(in[0].pen, kDark.pin) && !in[0].dashed);
    EXPECT_TRUE(linesAt(p, {30, 10})[0].dashed);
    EXPECT_FALSE(linesAt(p, {30, 20})[0].dashed);  // flagged but connected
    PaintCall inName = p.text("IN"), outName = p.text("OUT"), num = p.text("1");
    EXPECT_TRUE(inName.h == -1 && outName.h == 1 && inName.v == 0);
    EXPECT_NEAR(inName.points[0].x, 2.54 + 0.508, 1e-12);
    EXPECT_NEAR(outName.points[0].x, 17.46 - 0.508, 1e-12);
    EXPECT_NEAR(inName.size, 0.9 * kText, 1e-12);
    EXPECT_TRUE(same(inName.color, kDark.pin_name) && same(num.color, kDark.pin_number));
    EXPECT_TRUE(num.points[0].x == 1.27 && num.h == 0 && num.v == -1);
    EXPECT_NEAR(num.size, 0.8 * kText, 1e-12);
    EXPECT_TRUE(p.text("~").op.empty() && p.text("GND").op.empty() && linesAt(p, {10, 20}).empty());

    cfg.show_hidden_pins = true;
    cfg.font_scale = 2;
    EXPECT_NEAR(render(s, cfg).text("GND").size, 1.8 * kText, 1e-12);
    cfg.show_pin_names = cfg.show_pin_numbers = false;
    RecordingPainter bare = render(s, cfg);
    EXPECT_EQ(bare.count("text"), 0);
    EXPECT_EQ(bare.count("line"), 6);

    // Emphasised pin: halo, highlight line, dot at the connection point; the number keeps its side.
    Highlight h;
    h.nets = {4};
    RecordingPainter hp = render(s, {}, &h);
    auto lines = linesAt(hp, {0, 10});
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_NEAR(lines[0].pen_width, 0.84, 1e-12);
    EXPECT_TRUE(lines[0].pen.a == 0.4 && lines[1].pen_width == 0.28);
    auto dots = hp.ofKind("circle");
    ASSERT_EQ(dots.size(), 1u);
    EXPECT_TRUE(dots[0].radius == 0.35 && !dots[0].has_pen);
    EXPECT_EQ(hp.text("1").v, -1);
    EXPECT_TRUE(same(hp.text("1").color, kDark.highlight) && same(hp.text("IN").color, kDark.highlight));
    EXPECT_TRUE(same(hp.text("OUT").color, kDark.pin_name));
}

TEST(Render, ComponentFillsFieldsAndSelectionBox) {
    Schematic s = oneSheet();
    Component c = part("U1", {10, 10}, -1, -1);
    GraphicItem ring;
    ring.kind = Circle, ring.points = {{10, 10}}, ring.radius = 1, ring.fill_background = true, ring.width = 0.3;
    GraphicItem solid = c.graphics[0];
    solid.fill_background = false, solid.fill_outline = true;
    GraphicItem secret = field("secret", {10, 12}), anode = field("ANODE", {10, 14}, 90, 1, -1);
    secret.hidden = true;
    anode.size = 0, anode.bold = true;
    c.graphics.insert(c.graphics.end(), {ring, solid, secret, anode});
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
    EXPECT_TRUE(same(polys[0].brush, t.symbol_fill) && polys[0].pen_width == 0.15);
    EXPECT_TRUE(same(polys[1].brush, t.symbol_outline));  // outline-filled
    EXPECT_TRUE(same(polys[2].brush, withAlpha(t.power_symbol, 0.15)));
    EXPECT_TRUE(!polys[3].has_brush && same(polys[3].pen, t.power_symbol));
    auto ringCall = p.ofKind("circle")[0];
    EXPECT_TRUE(same(ringCall.brush, withAlpha(t.drawing_fill, 1)) && ringCall.pen_width == 0.3);
    EXPECT_EQ(allTexts(p).find("secret"), std::string::npos);
    EXPECT_EQ(std::count_if(p.calls.begin(), p.calls.end(), [](const PaintCall& c) { return c.text == "10k"; }), 1);
    PaintCall a = p.text("ANODE");
    EXPECT_NEAR(a.size, 1.27 * kText, 1e-12);
    EXPECT_TRUE(a.angle == 90 && a.h == 1 && a.v == -1 && a.bold && same(a.color, t.symbol_text));
    EXPECT_TRUE(same(p.text("U1").color, t.reference));
    EXPECT_EQ(p.count("rect"), 1);  // background only

    Highlight h;
    h.components = {0};
    RecordingPainter sel = render(s, cfg, &h);
    auto box = std::find_if(sel.calls.begin(), sel.calls.end(),
                            [](const PaintCall& c) { return c.op == "rect" && c.points[0].y == 5; });
    ASSERT_NE(box, sel.calls.end());
    EXPECT_TRUE(box->dashed && box->pen_width == 0.25);
    EXPECT_TRUE((box + 1)->op == "setDashed" && !(box + 1)->bold);  // dashing switched off again
    EXPECT_TRUE(same(sel.ofKind("polyline")[0].pen, t.selection));
    EXPECT_EQ(linesAt(sel, {10, 5}).size(), 2u);  // every pin of a selected component is emphasised
}

TEST(Render, SheetSymbolBoxTitleAndPinsOnceInside) {
    Schematic s = oneSheet();
    SheetSymbol sym;
    sym.name = "Sub", sym.file = "sub.kicad_sch", sym.position = {10, 10}, sym.size = {20, 20};
    s.labels = {label(SheetPin, "E", {30, 15}, 0, 2), label(SheetPin, "N", {15, 10}, 90),
                label(SheetPin, "W", {10, 20}, 180, 3), label(SheetPin, "S", {20, 30}, 270),
                label(SheetPin, "ODD", {30, 25}, 45)};
    sym.pins = {0, 1, 2, 3, 4, 7};  // 7 does not exist
    s.sheet_symbols.push_back(sym);
    RecordingPainter p = render(s);
    struct Row {
        const char* text;
        double x, y, angle;
        int h;
    } rows[] = {{"E", 30 - kFlag, 15, 0, 1},
                {"N", 15, 10 + kFlag, 90, 1},
                {"W", 10 + kFlag, 20, 0, -1},
                {"S", 20, 30 - kFlag, 90, -1},
                {"ODD", 30 - kFlag, 25, 0, 1}};
    for (const Row& r : rows) {
        EXPECT_EQ(std::count_if(p.calls.begin(), p.calls.end(), [&](const PaintCall& c) { return c.text == r.text; }),
                  1);
        PaintCall c = p.text(r.text);
        EXPECT_NEAR(c.points[0].x, r.x, 1e-9) << r.text;
        EXPECT_NEAR(c.points[0].y, r.y, 1e-9) << r.text;
        EXPECT_TRUE(c.angle == r.angle && c.h == r.h && c.v == 0 && !c.bold) << r.text;
    }
    auto rect = p.ofKind("rect")[1];
    EXPECT_TRUE(rect.points[1].x == 30 && rect.points[1].y == 30 && rect.pen_width == 0.2 && !rect.has_brush);
    PaintCall name = p.text("Sub"), file = p.text("File: sub.kicad_sch");
    EXPECT_TRUE(name.v == -1 && name.bold && file.v == 1);  // above and below the box
    EXPECT_NEAR(name.points[0].y, 9.4, 1e-12);
    EXPECT_DOUBLE_EQ(file.points[0].y, 31);
    EXPECT_TRUE(same(file.color, withAlpha(kDark.sheet_symbol, 0.7)));

    Settings cfg;
    cfg.font_scale = 1.5;
    Highlight h;
    h.nets = {2};
    h.dim_others = false;
    s.labels[2].size = 2;
    RecordingPainter big = render(s, cfg, &h);
    EXPECT_TRUE(same(big.text("E").color, kDark.highlight) && big.text("E").pen_width == 0.3);
    EXPECT_TRUE(same(big.text("W").color, kDark.sheet_pin) && big.text("W").pen_width == 0.15);
    EXPECT_NEAR(big.text("W").size, 3 * kText, 1e-12);
    EXPECT_NEAR(big.text("Sub").size, 1.95 * kText, 1e-12);
    EXPECT_NEAR(big.text("File: sub.kicad_sch").size, 1.5 * kText, 1e-12);
    s.sheet_symbols[0].file.clear();
    EXPECT_EQ(render(s).count("text"), 6);  // no "File: " alone
}

TEST(HitTest, PriorityNearestAndSmallestBox) {
    Schematic s = oneSheet();
    s.components = {part("BIG", {20, 20}, 1, 2), part("SMALL", {20, 20}, 1, 2), part("SAME", {20, 20}, 1, 2)};
    s.components[0].bbox = {0, 0, 40, 40};
    s.components[1].bbox = s.components[2].bbox = {15, 15, 25, 25};
    s.wires = {wire({20, 15}, {60, 15}, 1), wire({70, 70}, {70, 70}, 8)};  // through the top pins; zero length
    s.junctions.push_back({{50, 15}, 0, 1});
    s.labels = {label(Local, "A", {80, 80}, 0, 4), label(Local, "B", {80.5, 80}, 0, 5)};
    SheetSymbol sym;
    sym.position = {100, 100}, sym.size = {10, 10};
    s.sheet_symbols.push_back(sym);

    HitInfo pinHit = hitTest(s, 0, {20.2, 15.1}, 0.5);
    EXPECT_EQ(pinHit.kind, "pin");
    EXPECT_TRUE(pinHit.index == 0 && pinHit.sub == 0 && pinHit.net == 1 && pinHit.position.y == 15);  // first found
    EXPECT_EQ(hitTest(s, 0, {50.1, 15}, 0.5).kind, "junction");
    HitInfo w = hitTest(s, 0, {40, 15.3}, 0.5);
    EXPECT_TRUE(w.kind == "wire" && w.index == 0 && w.position.y == 15.3);
    EXPECT_EQ(hitTest(s, 0, {70.3, 70}, 0.5).index, 1);
    EXPECT_EQ(hitTest(s, 0, {40, 15.5}, 0.5).kind, "component");  // distance must be below the tolerance
    HitInfo l = hitTest(s, 0, {80.6, 80}, 0.5);
    EXPECT_TRUE(l.kind == "label" && l.index == 0 && l.net == 4);  // first within 1.5 x tolerance, not the nearest
    HitInfo c = hitTest(s, 0, {22, 22}, 0.5);
    EXPECT_TRUE(c.kind == "component" && c.index == 1 && c.sub == -1 && c.net == -1);
    EXPECT_EQ(hitTest(s, 0, {40, 40}, 0.1).index, 0);  // box edges count
    HitInfo sh = hitTest(s, 0, {105, 105}, 0.5);
    EXPECT_TRUE(sh.kind == "sheet_symbol" && sh.position.x == 100);
    // A label is found anywhere on its drawn text too, as large as the drawing makes it.
    s.labels.push_back(label(Local, "A_LONG_LABEL\nSECOND_LINE", {80, 120}, 0, 6));
    EXPECT_EQ(hitTest(s, 0, {90, 119.5}, 0.5).net, 6);
    EXPECT_EQ(hitTest(s, 0, {90, 117}, 0.5).net, 6);  // the first line, above the last
    EXPECT_EQ(hitTest(s, 0, {90, 120.8}, 0.5).kind, "none");
    EXPECT_EQ(hitTest(s, 0, {100, 119.5}, 0.5).kind, "none");
    EXPECT_EQ(hitTest(s, 0, {100, 119.5}, 0.5, 2).net, 6);
    HitInfo none = hitTest(s, 0, {200, 200}, 0.5);
    EXPECT_TRUE(none.kind == "none" && none.index == -1 && none.position.x == 0);
    EXPECT_EQ(hitTest(s, 1, {22, 22}, 0.5).kind, "none");
}

TEST(ViewBox, EmptySheetAndMargins) {
    Schematic s = oneSheet();
    s.sheets.push_back({});
    s.sheets[1].bbox = {0, 0, 200, 100};
    BBox e = sheetViewBox(s, 0), b = sheetViewBox(s, 1);
    EXPECT_TRUE(e.min_x == -6 && e.min_y == -6 && e.max_x == 106 && e.max_y == 106);
    EXPECT_TRUE(b.min_x == -12 && b.max_y == 112);
    s.sheets[1].bbox = {10, 10, 20, 20};
    EXPECT_DOUBLE_EQ(sheetViewBox(s, 1).min_x, 5);  // at least 5 mm
    EXPECT_DOUBLE_EQ(sheetViewBox(s, 7).max_x, 106);
}

namespace {

// The side of the anchor a text's body lies on, in sheet axes: along its reading direction and across it.
struct Body {
    Point along, across;
};

Body drawnBody(const PaintCall& c) {
    // Painter h: -1 start (body follows the reading direction), 1 end; v: -1 above, 1 below.
    Point read = c.angle == 90 ? Point{0, -1} : Point{1, 0}, down = c.angle == 90 ? Point{1, 0} : Point{0, 1};
    return {{-c.h * read.x, -c.h * read.y}, {c.v * down.x, c.v * down.y}};
}

// The same for a text written in the symbol's frame, mapped through the placement (y-up library axes).
// Left-justified texts follow their anchor; bottom-justified ones stand above it.
Body expectedBody(const Placement& m, const GraphicItem& f) {
    Point read = f.angle == 90 ? Point{0, -1} : Point{1, 0}, down = f.angle == 90 ? Point{1, 0} : Point{0, 1};
    auto inSheet = [&](double x, double y) { return m.direction({x, -y}); };
    return {inSheet(-f.h_justify * read.x, -f.h_justify * read.y),
            inSheet(-f.v_justify * down.x, -f.v_justify * down.y)};
}

}  // namespace

TEST(RenderText, FieldsStayReadableInEveryOrientation) {
    struct Row {
        double rotation;
        bool mirror_x, mirror_y;
    } rows[] = {{0, false, false}, {90, false, false}, {180, false, false}, {270, false, false},
                {0, true, false},  {90, false, true},  {180, true, false},  {270, false, true}};
    const GraphicItem fields[] = {field("HORIZ", {52, 50}, 0, -1, 1), field("VERT", {48, 50}, 90, 1, -1)};
    for (const Row& r : rows) {
        Component c;
        c.reference = "R1", c.position = {50, 50}, c.rotation = r.rotation;
        c.mirror_x = r.mirror_x, c.mirror_y = r.mirror_y;
        c.fields = {fields[0], fields[1]};
        Schematic s = oneSheet();
        s.components.push_back(c);
        RecordingPainter p = render(s);
        const Placement m = placementOf(c.position, r.rotation, r.mirror_x, r.mirror_y);
        for (const GraphicItem& f : fields) {
            PaintCall call = p.text(f.text);
            ASSERT_EQ(call.op, "text");
            const std::string where =
                f.text + " rot " + std::to_string(r.rotation) + (r.mirror_x ? " mx" : "") + (r.mirror_y ? " my" : "");
            EXPECT_TRUE(call.angle == 0 || call.angle == 90) << where;
            Body got = drawnBody(call), want = expectedBody(m, f);
            EXPECT_NEAR(got.along.x, want.along.x, 1e-9) << where;
            EXPECT_NEAR(got.along.y, want.along.y, 1e-9) << where;
            EXPECT_NEAR(got.across.x, want.across.x, 1e-9) << where;
            EXPECT_NEAR(got.across.y, want.across.y, 1e-9) << where;
            EXPECT_DOUBLE_EQ(call.points[0].x, f.points[0].x);  // the anchor is in sheet coordinates already
        }
    }
    // As KiCad plots it: C3 at rotation 90, its vertical left-justified value drawn horizontal, ending at its anchor.
    Component r;
    r.reference = "C3", r.rotation = 90;
    r.fields = {field("22uF/25V", {276.86, 40}, 90, -1)};
    Schematic s = oneSheet();
    s.components.push_back(r);
    PaintCall v = render(s).text("22uF/25V");
    EXPECT_TRUE(v.angle == 0 && v.h == 1 && v.v == 0);
    s.format = "eagle";  // Eagle's loader places its texts itself: only the vertical sense is turned round
    v = render(s).text("22uF/25V");
    EXPECT_TRUE(v.angle == 90 && v.h == -1);
}

TEST(RenderText, LibraryTextsAndFreeTexts) {
    Component c;
    c.position = {10, 10};
    c.graphics = {field("FLAT", {10, 10}, 0, 0, 1), field("UPRIGHT", {10, 12}, 90, 0, 1)};
    Schematic s = oneSheet();
    s.components.push_back(c);
    RecordingPainter p = render(s);
    EXPECT_EQ(p.text("FLAT").v, -1);                                         // bottom-justified: above its anchor
    EXPECT_TRUE(p.text("UPRIGHT").v == 1 && p.text("UPRIGHT").angle == 90);  // measured: KiCad's other side
    // At rotation 90 the stored angle 90 is the library's horizontal text turned.
    s.components[0].rotation = 90;
    s.components[0].graphics[1].v_justify = 0;
    PaintCall turned = render(s).text("UPRIGHT");
    EXPECT_TRUE(turned.angle == 90 && turned.v == 0);

    Schematic f = oneSheet();
    const std::pair<double, double> cases[] = {{0, 0}, {180, 0}, {90, 90}, {270, 90}, {30, 30}};  // written, drawn
    for (auto [written, drawn] : cases) {
        TextItem tx;
        tx.text = "T" + std::to_string(int(written)), tx.angle = written, tx.h_justify = 1, tx.v_justify = 1;
        f.texts.push_back(tx);
    }
    RecordingPainter fp = render(f);
    for (auto [written, drawn] : cases) {
        PaintCall call = fp.text("T" + std::to_string(int(written)));
        EXPECT_TRUE(call.angle == drawn && call.h == 1 && call.v == -1 && !call.bold) << written;
        EXPECT_TRUE(same(call.color, kDark.free_text));
        EXPECT_NEAR(call.size, 1.27 * kText, 1e-12);
    }
}

TEST(RenderText, PinNamesInsideOrBesideAndNumbersOpposite) {
    // Four pins pointing into a body centred on (0, 0): from the left, right, top and bottom.
    Component c;
    c.pins = {pin({-5, 0}, {-2.46, 0}, "LEFT", "1"), pin({5, 0}, {2.46, 0}, "RIGHT", "2"),
              pin({0, -5}, {0, -2.46}, "TOP", "3"), pin({0, 5}, {0, 2.46}, "BOT", "4")};
    const double angles[] = {0, 180, 90, 270};  // exact, as the loader stores them
    for (int i = 0; i < 4; ++i) c.pins[i].angle = angles[i];
    c.pins[1].name_size = 0.508, c.pins[1].number_size = 1.5;
    LibSymbol lib;
    lib.name = "Chip", lib.pin_name_offset = 1.016;
    Schematic s = withLibrary(c, lib);
    // Names run on into the body from 1.016 inside its edge; numbers sit above (left of) the pin's middle.
    struct Row {
        const char* name;
        const char* number;
        Point nameAt;
        double angle;
        int h;
        double nameSize, numberSize;
    } rows[] = {{"LEFT", "1", {-2.46 + 1.016, 0}, 0, -1, 0.9, 0.8},
                {"RIGHT", "2", {2.46 - 1.016, 0}, 0, 1, 0.508, 1.5},
                {"TOP", "3", {0, -2.46 + 1.016}, 90, 1, 0.9, 0.8},  // reading up, ending before the pin
                {"BOT", "4", {0, 2.46 - 1.016}, 90, -1, 0.9, 0.8}};
    RecordingPainter p = render(s);
    for (const Row& r : rows) {
        PaintCall name = p.text(r.name), num = p.text(r.number);
        EXPECT_NEAR(name.points[0].x, r.nameAt.x, 1e-9) << r.name;
        EXPECT_NEAR(name.points[0].y, r.nameAt.y, 1e-9) << r.name;
        EXPECT_TRUE(name.angle == r.angle && name.h == r.h && name.v == 0) << r.name;
        EXPECT_NEAR(name.size, r.nameSize * kText, 1e-12) << r.name;
        EXPECT_TRUE(num.angle == r.angle && num.h == 0 && num.v == -1) << r.number;
        EXPECT_NEAR(num.size, r.numberSize * kText, 1e-12) << r.number;
    }
    EXPECT_NEAR(p.text("1").points[0].x, (-5 - 2.46) / 2, 1e-9);
    s.components[0].pins[0].net = 3;
    Highlight h;
    h.nets = {3};
    EXPECT_EQ(render(s, {}, &h).text("1").v, -1);  // emphasised pins keep their number's side

    // Offset 0: names above (left of) the line, numbers below (right of) it, both centred on the pin.
    s.lib_symbols[0]->pin_name_offset = 0;
    RecordingPainter z = render(s);
    EXPECT_NEAR(z.text("LEFT").points[0].x, (-5 - 2.46) / 2, 1e-9);
    EXPECT_TRUE(z.text("LEFT").h == 0 && z.text("LEFT").v == -1 && z.text("TOP").v == -1);
    EXPECT_TRUE(z.text("1").v == 1 && z.text("3").v == 1);
}

TEST(RenderText, NumbersTakeTheNameSideWhenNoNameIsDrawnThere) {
    // Names outside the body (offset 0): a number goes below a horizontal pin (right of a vertical
    // one) only when a name is drawn above it; otherwise it takes the name's side.
    Component c;
    c.pins = {pin({0, 0}, {2.54, 0}, "A", "1"), pin({0, 5}, {2.54, 5}, "~", "2"), pin({0, 9}, {2.54, 9}, "", "3"),
              pin({9, 0}, {9, 2.54}, "V", "4"), pin({12, 0}, {12, 2.54}, "~", "5")};
    LibSymbol lib;
    lib.name = "R", lib.pin_name_offset = 0;
    Schematic s = withLibrary(c, lib);
    Settings noNames;
    noNames.show_pin_names = false;
    const struct {
        const char* what;
        bool hideNames;
        double offset;
        const Settings cfg;
        const char* sides;  // v of numbers 1..5
    } rows[] = {
        {"names shown", false, 0, {}, "1 -1 -1 1 -1"},
        {"symbol hides names", true, 0, {}, "-1 -1 -1 -1 -1"},
        {"names off in the settings", false, 0, noNames, "-1 -1 -1 -1 -1"},
        {"names inside the body", false, 0.5, {}, "-1 -1 -1 -1 -1"},
    };
    for (const auto& r : rows) {
        s.lib_symbols[0]->hide_pin_names = r.hideNames;
        s.lib_symbols[0]->pin_name_offset = r.offset;
        RecordingPainter p = render(s, r.cfg);
        std::string sides;
        for (const char* n : {"1", "2", "3", "4", "5"})
            sides += std::string(sides.empty() ? "" : " ") + std::to_string(p.text(n).v);
        EXPECT_EQ(sides, r.sides) << r.what;
    }
}

TEST(Render, DoNotPopulatePartsGreyedWithACross) {
    Schematic s = oneSheet();
    s.components = {part("R1", {10, 10}, 1, 2)};
    const RecordingPainter fitted = render(s);
    s.components[0].dnp = true;
    const RecordingPainter dnp = render(s);
    // Grey of the colour's lightness, half-way into the background; alpha kept.
    auto greyed = [](const Color& c, double a) {
        const double l = (std::max({c.r, c.g, c.b}) + std::min({c.r, c.g, c.b})) / 2;
        return Color{(l + kDark.background.r) / 2, (l + kDark.background.g) / 2, (l + kDark.background.b) / 2, a};
    };
    const PaintCall body = dnp.ofKind("polyline")[0];
    EXPECT_TRUE(same(body.pen, greyed(kDark.symbol_outline, 1)) && same(body.brush, greyed(kDark.symbol_fill, 1)));
    EXPECT_TRUE(same(linesAt(dnp, {10, 5})[0].pen, greyed(kDark.pin, 1)));
    EXPECT_TRUE(same(dnp.text("R1").color, greyed(kDark.reference, 1)) &&
                same(dnp.text("1").color, greyed(kDark.pin_number, 1)));
    // The cross: corner to corner over the body's outer edges, grown towards the pins' ends.
    ASSERT_EQ(dnp.count("line"), fitted.count("line") + 2);
    const auto lines = dnp.ofKind("line");
    const PaintCall a = lines[lines.size() - 2], b = lines.back();
    EXPECT_TRUE(same(a.pen, kDark.no_connect) && a.pen_width == 0.45 && !a.dashed);
    const double mx = 0.3 * (5 - 2.075), my = 0.6 * (5 - 2.075);
    EXPECT_NEAR(a.points[0].x, 10 - 1.075 - mx, 1e-9);
    EXPECT_NEAR(a.points[0].y, 10 - 2.075 - my, 1e-9);
    EXPECT_NEAR(a.points[1].x, 10 + 1.075 + mx, 1e-9);
    EXPECT_NEAR(b.points[0].x, a.points[1].x, 1e-9);
    EXPECT_NEAR(b.points[1].y, 10 + 2.075 + my, 1e-9);
    // Emphasis still shows in its own colours.
    Highlight h;
    h.nets = {1};
    h.components = {0};
    const RecordingPainter picked = render(s, {}, &h);
    EXPECT_TRUE(same(picked.text("R1").color, kDark.selection) && same(picked.text("1").color, kDark.highlight));
}

TEST(RenderText, MarkupAndEscapesInKicadDesignsOnly) {
    Schematic s = oneSheet();
    s.format = "kicad";
    Component c = part("U1", {10, 10}, 1, 2);
    c.pins[0].name = "~{RESET}", c.pins[0].number = "A{slash}1";
    c.fields[1].text = "V_{BAT}";
    s.components.push_back(c);
    s.labels = {label(Global, "SDI{slash}out0", {40, 40}, 0, 3)};
    TextItem note;
    note.text = "Stackup:\nJLC7628", note.position = {50, 50}, note.size = 2, note.v_justify = 1;
    s.texts.push_back(note);
    RecordingPainter k = render(s);
    EXPECT_TRUE(k.text("RESET").runs.size() == 1 && k.text("RESET").runs[0].overbar);
    EXPECT_EQ(k.text("VBAT").runs.size(), 2u);
    EXPECT_EQ(k.text("VBAT").runs[1].shift, -1);
    EXPECT_FALSE(k.text("A/1").op.empty());
    EXPECT_FALSE(k.text("SDI/out0").op.empty());
    // Bottom-justified: the last line where the text stands, the first one pitch above it.
    EXPECT_NEAR(k.text("JLC7628").points[0].y, 50, 1e-12);
    EXPECT_NEAR(k.text("Stackup:").points[0].y, 50 - kLinePitch * 2 * kText, 1e-12);
    // Eagle's texts are drawn as written, lines apart.
    s.format = "eagle";
    RecordingPainter e = render(s);
    EXPECT_EQ(e.text("~{RESET}").runs.size(), 1u);
    EXPECT_FALSE(e.text("SDI{slash}out0").op.empty());
    EXPECT_FALSE(e.text("JLC7628").op.empty());
}

TEST(RenderText, PinTextHideFlagsAndEagleShapes) {
    Component c;
    c.pins = {pin({0, 0}, {2.54, 0}, "A", "1"), pin({0, 5}, {2.54, 5}, "B", "2")};
    c.pins[1].name_hidden = c.pins[1].number_hidden = true;
    LibSymbol lib;
    lib.name = "R";
    Schematic s = withLibrary(c, lib);
    EXPECT_EQ(allTexts(render(s)), "1 A ");
    s.lib_symbols[0]->hide_pin_numbers = true;
    EXPECT_EQ(allTexts(render(s)), "A ");
    s.lib_symbols[0]->hide_pin_names = true;
    EXPECT_EQ(allTexts(render(s)), "");
    EXPECT_EQ(render(s).count("line"), 2);  // the pin lines stay
    s.lib_symbols[0]->hide_pin_names = false;
    Settings noNames;
    noNames.show_pin_names = false;
    EXPECT_EQ(allTexts(render(s, noNames)), "");

    Schematic e = oneSheet();
    e.format = "eagle";
    Component ec;
    ec.pins = {pin({0, 0}, {2.54, 0}, "Q", "1"), pin({0, 5}, {2.54, 5}, "NN", "2"), pin({0, 9}, {2.54, 9}, "NU", "3"),
               pin({0, 12}, {2.54, 12}, "P", "4")};
    ec.pins[0].shape = "line|quiet", ec.pins[1].shape = "dot|noname", ec.pins[2].shape = "line|nonum";
    e.components.push_back(ec);
    EXPECT_EQ(allTexts(render(e)), "2 NU 4 P ");
}

TEST(RenderText, LabelsReadableAndOffsetPastTheirFlag) {
    struct Row {
        int rotation;
        double angle;
        int h;
        Point flag, tickEnd;  // the global label's text offset and its tick's far end
    } rows[] = {{0, 0, -1, {1, 0}, {48.8, 50}},
                {90, 90, -1, {0, -1}, {50, 48.8}},
                {180, 0, 1, {-1, 0}, {51.2, 50}},
                {270, 90, 1, {0, 1}, {50, 51.2}}};
    Schematic s = oneSheet();
    for (const Row& r : rows) {
        s.labels.push_back(label(Local, "L" + std::to_string(r.rotation), {10, 10}, r.rotation));
        s.labels.push_back(label(Global, "G" + std::to_string(r.rotation), {50, 50}, r.rotation));
    }
    s.labels.push_back(label(Hierarchical, "H45", {70, 70}, 45));
    s.labels.back().size = 2;
    RecordingPainter p = render(s);
    auto ticks = linesAt(p, {50, 50});
    ASSERT_EQ(ticks.size(), 4u);  // global and hierarchical labels keep a 1.2 mm tick behind their position
    for (int i = 0; i < 4; ++i) {
        const Row& r = rows[i];
        PaintCall l = p.text("L" + std::to_string(r.rotation)), g = p.text("G" + std::to_string(r.rotation));
        EXPECT_TRUE(l.angle == r.angle && l.h == r.h && l.v == -1 && l.points[0].x == 10 && !l.bold) << r.rotation;
        EXPECT_TRUE(g.angle == r.angle && g.h == r.h && g.v == 0 && g.bold) << r.rotation;
        EXPECT_NEAR(g.points[0].x, 50 + kFlag * r.flag.x, 1e-9) << r.rotation;
        EXPECT_NEAR(g.points[0].y, 50 + kFlag * r.flag.y, 1e-9) << r.rotation;
        EXPECT_NEAR(g.size, 1.27 * kText, 1e-12);
        EXPECT_NEAR(ticks[i].points[1].x, r.tickEnd.x, 1e-9) << r.rotation;
        EXPECT_NEAR(ticks[i].points[1].y, r.tickEnd.y, 1e-9) << r.rotation;
        EXPECT_DOUBLE_EQ(ticks[i].pen_width, 0.12);
    }
    PaintCall odd = p.text("H45");
    EXPECT_TRUE(odd.angle == 45 && odd.h == -1 && odd.points[0].x == 70);
    EXPECT_NEAR(odd.size, 2 * kText, 1e-12);
    EXPECT_TRUE(linesAt(p, {10, 10}).empty());  // local labels have no tick
    auto zero = linesAt(p, {70, 70});
    ASSERT_EQ(zero.size(), 1u);
    EXPECT_EQ(zero[0].points[1].x, 70);  // other angles: no offset
}

TEST(RenderText, UnitLetterAfterTheReference) {
    Component c;
    c.reference = "U2", c.unit = 1;
    c.fields = {field("U2", {0, 0}), field("U2", {0, 5})};
    LibSymbol lib;
    lib.name = "74LS125";
    LibPin p1, p2;
    p1.unit = 1, p2.unit = 4;
    lib.pins = {p1, p2};
    Schematic s = withLibrary(c, lib);
    EXPECT_EQ(allTexts(render(s)), "U2A U2 ");  // only the first field
    for (auto [unit, shown] : {std::pair{4, "U2D"}, {26, "U2Z"}, {27, "U2AA"}, {28, "U2AB"}}) {
        s.components[0].unit = unit;
        EXPECT_EQ(render(s).ofKind("text")[0].text, shown);
    }
    s.components[0].fields[0].text = "U?";  // not the reference
    EXPECT_EQ(render(s).ofKind("text")[0].text, "U?");
    s.components[0].fields[0].text = "U2";
    s.lib_symbols[0]->pins[1].unit = 0;  // a single-unit symbol
    EXPECT_EQ(render(s).ofKind("text")[0].text, "U2");
}

TEST(RenderText, PinShapesBubbleAndClock) {
    Component c;
    c.pins = {pin({0, 0}, {2.54, 0}, "", ""), pin({0, 5}, {2.54, 5}, "", ""), pin({0, 10}, {2.54, 10}, "", ""),
              pin({10, 0}, {10, 2.54}, "", "")};
    c.pins[0].shape = "line", c.pins[1].shape = "inverted", c.pins[2].shape = "inverted_clock";
    c.pins[3].shape = "clock";
    Schematic s = oneSheet();
    s.components.push_back(c);
    RecordingPainter p = render(s);
    auto circles = p.ofKind("circle");
    ASSERT_EQ(circles.size(), 2u);
    EXPECT_NEAR(circles[0].points[0].x, 2.54 - 0.635, 1e-9);  // touching the body from outside
    EXPECT_NEAR(circles[0].points[0].y, 5, 1e-9);
    EXPECT_TRUE(circles[0].radius == 0.635 && !circles[0].has_brush && circles[0].has_pen);
    auto wedges = p.ofKind("polyline");
    ASSERT_EQ(wedges.size(), 2u);
    EXPECT_FALSE(wedges[1].closed);
    EXPECT_NEAR(wedges[1].points[1].y, 2.54 + 0.635, 1e-9);  // its tip inside the body
    EXPECT_NEAR(wedges[1].points[0].x, 10 - 0.635, 1e-9);
    EXPECT_NEAR(wedges[1].points[2].x, 10 + 0.635, 1e-9);
    // An emphasised pin draws it in the highlight colour, before the dot at its end.
    Highlight h;
    h.components = {0};
    auto hc = render(s, {}, &h).ofKind("circle");
    ASSERT_EQ(hc.size(), 6u);  // two bubbles and four dots
    EXPECT_TRUE(same(hc[1].pen, kDark.highlight) && hc[1].radius == 0.635);
}

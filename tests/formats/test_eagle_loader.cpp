#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "base/file_io.h"
#include "base/text.h"
#include "formats/eagle_loader.h"

using namespace nl;

namespace {

const std::string kFixtures = std::string(NETLOOM_SOURCE_DIR) + "/tests/fixtures/eagle/";

std::string readFile(const std::string& path) {
    FileData data;
    EXPECT_TRUE(readWholeFile(path, data)) << path;
    return std::string(data.bytes);
}

std::shared_ptr<Schematic> load(const std::string& text, std::string* error = nullptr) {
    return loadEagleSchematic(text, "dir/test.sch", error);
}

std::string doc(const std::string& libraries, const std::string& parts, const std::string& sheets) {
    return "<eagle version=\"9.6\"><drawing><schematic><libraries>" + libraries + "</libraries><parts>" + parts +
           "</parts><sheets>" + sheets + "</sheets></schematic></drawing></eagle>";
}

std::string num(double v) { return formatNumber(v, 4); }
std::string pt(Point p) { return "(" + num(p.x) + "," + num(p.y) + ")"; }

std::string pinText(const Pin& p) {
    return p.name + " " + p.number + " " + p.type + " " + p.shape + " " + num(p.length) + " " + pt(p.position) +
           pt(p.end) + " " + std::to_string(roundedAngle(p.angle));
}

// Text, anchor, size, angle, justification and visibility of a field or drawn text.
std::string textOf(const GraphicItem& g) {
    return g.text + " " + pt(g.points.at(0)) + " " + num(g.size) + " " + num(g.angle) + " " +
           std::to_string(g.h_justify) + "," + std::to_string(g.v_justify) + (g.hidden ? " hidden" : "");
}

std::string boxOf(const std::vector<Point>& points) {
    BBox box;
    for (Point p : points) box.add(p);
    return pt({box.min_x, box.min_y}) + pt({box.max_x, box.max_y});
}

std::string kinds(const std::vector<GraphicItem>& items) {
    const char* names[] = {"?", "line", "poly", "circle", "text"};
    std::string out;
    for (const GraphicItem& g : items)
        out += std::string(out.empty() ? "" : " ") + names[g.kind] + (g.fill_outline ? "+" : "");
    return out;
}

// Name, origin, kind, sheets and how many pins, wires, labels and junctions it holds.
std::string netText(const Net* n) {
    if (!n) return "missing";
    std::string out = n->name + " " + n->name_source + (n->power ? " power" : "") + (n->bus ? " bus" : "") + " @";
    for (int sheet : n->sheets) out += std::to_string(sheet);
    for (size_t count : {n->pins.size(), n->wires.size(), n->labels.size(), n->junctions.size()})
        out += " " + std::to_string(count);
    return out;
}

const Component* find(const Schematic& s, const std::string& ref, const std::string& gate) {
    for (const Component& c : s.components)
        if (c.reference == ref && c.properties.count("Gate") && c.properties.at("Gate") == gate) return &c;
    return nullptr;
}

const Net* netNamed(const Schematic& s, const std::string& name, bool bus = false) {
    for (const Net& n : s.nets)
        if (n.name == name && n.bus == bus) return &n;
    return nullptr;
}

class EagleTwoSheets : public ::testing::Test {
protected:
    void SetUp() override {
        std::string err;
        s = loadEagleSchematic(readFile(kFixtures + "two_sheets.sch"), "C:\\designs\\two_sheets.sch", &err);
        ASSERT_TRUE(s) << err;
        a = find(*s, "IC1", "A");
        b = find(*s, "IC1", "B");
        p = find(*s, "IC1", "P");
        ASSERT_TRUE(a && b && p);
    }
    std::shared_ptr<Schematic> s;
    const Component *a = nullptr, *b = nullptr, *p = nullptr;
};

}  // namespace

TEST(EagleGeometry, RotationTransformAlignAndArcs) {
    std::string rotations;
    for (const char* text : {"SMR90", "R", "MR270", "R45.5", "Rxyz", ""}) {
        EagleRotation r = parseEagleRotation(text);
        rotations += std::string(r.spin ? "S" : "") + (r.mirror ? "M" : "") + num(r.angle) + " ";
    }
    EXPECT_EQ(rotations, "SM90 0 M270 45.5 0 0 ");
    // Rotate first, then mirror: (1, 0) turned to (0, 1) stays on the y axis.
    EXPECT_EQ(pt(eagleTransform({1, 0}, true, 90)), "(0,1)");
    EXPECT_EQ(pt(eagleTransform({1, 2}, true, 0)), "(-1,2)");
    EXPECT_EQ(pt(eagleTransform({1, 2}, false, 180)), "(-1,-2)");
    std::string aligns;
    for (const char* text : {"bottom-left", "center", "top-center", "center-left", "bottom-right", "top-right"})
        aligns += std::to_string(parseEagleAlign(text).h_justify) + "," +
                  std::to_string(parseEagleAlign(text).v_justify) + " ";
    EXPECT_EQ(aligns, "-1,1 0,0 0,-1 -1,0 1,1 1,-1 ");
    EXPECT_EQ(eagleArc({0, 0}, {2, 0}, 0.005).size(), 2u);
    EXPECT_EQ(eagleArc({0, 0}, {2, 0}, 10).size(), 5u);  // at least four segments
    EXPECT_EQ(eagleArc({1, 1}, {1, 1}, 90).size(), 2u);  // no chord, no arc
    // A quarter turn counter-clockwise from (0,0) to (2,0) bulges below the chord (y up).
    std::vector<Point> arc = eagleArc({0, 0}, {2, 0}, 90);
    ASSERT_EQ(arc.size(), 16u);
    EXPECT_EQ(pt(arc.front()) + pt(arc.back()), "(0,0)(2,0)");
    for (Point q : arc) EXPECT_NEAR(std::hypot(q.x - 1, q.y - 1), std::sqrt(2.0), 1e-9);
    EXPECT_LT(arc[8].y, 0);
    EXPECT_GT(eagleArc({0, 0}, {2, 0}, -90)[8].y, 0);
}

TEST(EagleGeometry, TextsReadAsEagleShowsThem) {
    const struct {
        const char* rot;
        const char* align;
        bool partMirror;
        double partAngle;
        const char* pose;  // angle h,v
    } rows[] = {
        {"R0", "bottom-left", false, 0, "0 -1,1"},
        {"R180", "bottom-left", false, 0, "0 1,-1"},  // turned to read from the left, alignment flipped
        {"R270", "bottom-left", false, 0, "90 1,-1"},
        {"R135", "top-center", false, 0, "315 0,1"},
        {"R271", "bottom-left", false, 0, "271 -1,1"},
        {"SR180", "bottom-left", false, 0, "180 -1,1"},  // spinning texts are drawn as turned
        {"MR0", "bottom-left", false, 0, "0 1,1"},       // mirrored: placed on the other side, not backwards
        {"MR90", "bottom-left", false, 0, "90 -1,-1"},
        {"MR180", "bottom-left", false, 0, "0 -1,-1"},
        {"R0", "bottom-left", false, 180, "0 1,-1"},  // the part's turn counts too
        {"R0", "bottom-left", true, 0, "0 1,1"},
        {"MR0", "bottom-left", true, 0, "0 -1,1"},  // two mirrors cancel
        {"R90", "bottom-left", true, 90, "0 -1,-1"},
    };
    for (const auto& r : rows) {
        const EagleTextPose p =
            eagleTextPose(parseEagleRotation(r.rot), parseEagleAlign(r.align), r.partMirror, r.partAngle);
        EXPECT_EQ(num(p.angle) + " " + std::to_string(p.h_justify) + "," + std::to_string(p.v_justify), r.pose)
            << r.rot << " " << r.align << " part " << r.partMirror << r.partAngle;
    }
}

TEST(EagleParts, FramePlaceholdersAreFilledIn) {
    const std::string frame =
        "<library name=\"frames\"><symbols><symbol name=\"FRAME\">"
        "<text x=\"1\" y=\"1\" size=\"2\">&gt;DRAWING_NAME</text><text x=\"1\" y=\"4\" "
        "size=\"2\">&gt;LAST_DATE_TIME</text>"
        "<text x=\"1\" y=\"7\" size=\"2\">&gt;SHEET</text><text x=\"1\" y=\"9\" size=\"2\">&gt;SHEETS</text>"
        "<text x=\"1\" y=\"11\" size=\"2\">&gt;SHEET_TOTAL</text><text x=\"1\" y=\"13\" size=\"2\">&gt;NAME</text>"
        "<text x=\"1\" y=\"15\" size=\"2\">&gt;AUTHOR</text></symbol></symbols>"
        "<devicesets><deviceset name=\"FRAME\"><gates><gate name=\"G$1\" symbol=\"FRAME\"/></gates>"
        "<devices><device name=\"\"/></devices></deviceset></devicesets></library>";
    const std::string text = doc(frame, "<part name=\"FRAME1\" library=\"frames\" deviceset=\"FRAME\" device=\"\"/>",
                                 "<sheet><plain><text x=\"0\" y=\"0\" size=\"2\">&gt;SHEET</text></plain></sheet>"
                                 "<sheet><instances><instance part=\"FRAME1\" gate=\"G$1\" x=\"0\" y=\"0\"/>"
                                 "</instances></sheet>");
    const std::filesystem::path path = std::filesystem::path(::testing::TempDir()) / "frame_test.v2.sch";
    std::ofstream(path) << text;
    // The file's time in the local time zone, made UTC here so the test does not depend on the machine's.
    const char* tz = std::getenv("TZ");
    const std::string savedTz = tz ? tz : "";
    setenv("TZ", "UTC", 1);
    tzset();
    std::filesystem::last_write_time(
        path, std::chrono::file_clock::from_sys(
                  std::chrono::sys_seconds{std::chrono::sys_days{std::chrono::year{2026} / 12 / 6}} +
                  std::chrono::hours{14} + std::chrono::minutes{3}));
    auto s = loadEagleSchematic(text, path.string(), nullptr);
    if (tz)
        setenv("TZ", savedTz.c_str(), 1);
    else
        unsetenv("TZ");
    tzset();
    ASSERT_TRUE(s);
    ASSERT_EQ(s->texts.size(), 1u);
    EXPECT_EQ(s->texts[0].text, "1/2");
    ASSERT_EQ(s->components.size(), 1u);
    std::string drawn;
    for (const GraphicItem& g : s->components[0].graphics) drawn += g.text + "|";
    // The frame's own texts are part of its drawing; the part's name stays a field, an unknown key is dropped.
    EXPECT_EQ(drawn, "frame_test.v2|06.12.2026 14:03|2/2|2|2|");
    ASSERT_EQ(s->components[0].fields.size(), 1u);
    EXPECT_EQ(s->components[0].fields[0].text, "FRAME1");
    // Without a file to ask, name and date are left out.
    auto unsaved = loadEagleSchematic(text, "", nullptr);
    ASSERT_TRUE(unsaved);
    drawn.clear();
    for (const GraphicItem& g : unsaved->components[0].graphics) drawn += g.text + "|";
    EXPECT_EQ(drawn, "2/2|2|2|");
    std::filesystem::remove(path);
}

TEST_F(EagleTwoSheets, SheetsDrawingInstancesAndFields) {
    EXPECT_EQ(s->format + "|" + s->path + "|" + s->title + "|" + s->rev,
              "eagle|C:\\designs\\two_sheets.sch|two_sheets.sch|Eagle 9.6.2");
    ASSERT_EQ(s->sheets.size(), 3u);
    // White space runs inside a description become single blanks; long ones are cut at 40 bytes.
    EXPECT_EQ(s->sheets[0].name + "|" + s->sheets[1].name + "|" + s->sheets[2].name,
              "Logic and power|Sheet 2|A description that is much longer than f");
    EXPECT_EQ(s->sheets[0].file + " " + std::to_string(s->sheets[1].parent), "two_sheets.sch -1");
    EXPECT_TRUE(s->sheets[0].bbox.valid());
    EXPECT_EQ(s->warnings, std::vector<std::string>{"Instance of unknown part GHOST"});

    ASSERT_EQ(s->texts.size(), 1u);
    const TextItem& t = s->texts[0];
    EXPECT_EQ(t.text + " " + pt(t.position) + " " + num(t.size) + " " + num(t.angle), "Note <1> (10,-20) 2.54 90");
    EXPECT_EQ(t.h_justify * 10 + t.v_justify, -1);  // top-center
    // wire, frame, rectangle, circle; the plain polygon is not a sheet drawing item.
    EXPECT_EQ(kinds(s->graphics), "line poly poly+ circle");
    EXPECT_DOUBLE_EQ(s->graphics[0].width, 0.1);
    // Polygons are flipped and their point order reversed.
    EXPECT_EQ(pt(s->graphics[2].points.front()) + pt(s->graphics[2].points.back()), "(1,-3)(1,-1)");
    EXPECT_EQ(pt(s->graphics[3].points[0]) + " r" + num(s->graphics[3].radius), "(5,-5) r1");
    for (const GraphicItem& g : s->graphics) EXPECT_EQ(g.unit, 0);

    ASSERT_EQ(s->components.size(), 5u);
    // Units follow the sorted gate names, not the file's order (B, A, P).
    EXPECT_EQ(
        std::to_string(a->unit) + std::to_string(b->unit) + std::to_string(p->unit) + " on " + std::to_string(p->sheet),
        "123 on 1");
    EXPECT_EQ(a->lib_id + " " + a->footprint + " " + a->properties.at("Device") + " " + a->properties.at("MPN"),
              "logic:74*00 N N SN74LS00N");
    EXPECT_EQ(pt(a->position), "(10,-20)");
    EXPECT_TRUE(b->mirror_y && !b->mirror_x && b->rotation == 90);

    // Symbol drawing: the two-vertex polygon is dropped, the other filled; points are placed and flipped.
    ASSERT_EQ(kinds(a->graphics), "line poly+ text");
    EXPECT_EQ(pt(a->graphics[0].points[0]), "(7.46,-22.54)");
    EXPECT_EQ(pt(a->graphics[1].points[0]) + pt(a->graphics[1].points[2]), "(11,-21)(10,-20)");
    EXPECT_EQ(textOf(a->graphics[2]), "& body (10,-20) 1.27 90 -1,1");
    EXPECT_DOUBLE_EQ(b->graphics[2].angle, 0);  // 90 + 90 lies flat

    // No instance attributes: fields placed like drawing items; with them, where the instance says.
    ASSERT_EQ(a->fields.size(), 2u);
    EXPECT_EQ(textOf(a->fields[0]), "IC1 (11,-22) 1.778 0 -1,1");
    EXPECT_EQ(textOf(a->fields[1]), "74LS00N (11,-18) 1.778 0 -1,1");
    ASSERT_EQ(b->fields.size(), 2u);
    EXPECT_EQ(textOf(b->fields[0]), "IC1 (40,-30) 2 90 -1,0");
    EXPECT_EQ(textOf(b->fields[1]), "74LS00N (40,-25) 1.778 0 -1,1 hidden");
    // An empty value with no instance attribute gives no field (the power rule names it later).
    const Component* sup2 = find(*s, "SUPPLY2", "1");
    ASSERT_TRUE(sup2 && sup2->fields.empty() && sup2->power_symbol);
    EXPECT_EQ(sup2->value, "GND");
}

TEST_F(EagleTwoSheets, PinsPadsNetsAndLabels) {
    ASSERT_EQ(a->pins.size(), 3u);
    EXPECT_EQ(pinText(a->pins[0]), "A 1 input line 5.08 (2.38,-22.54)(7.46,-22.54) 0");
    EXPECT_EQ(pinText(a->pins[1]), "B 2 input inverted|noname 2.54 (2.38,-17.46)(4.92,-17.46) 0");
    EXPECT_EQ(pinText(a->pins[2]), "Y 3 output line|quiet 7.62 (17.62,-20)(10,-20) 180");
    // MR90: turned a quarter first, then mirrored (the other order swaps pin ends).
    EXPECT_EQ(pinText(b->pins[0]), "A 4 input line 5.08 (32.54,-12.38)(32.54,-17.46) 270");
    // "7 15": one pin per pad, in the order written, both on the net; "nc" nobody references: on a net of its own.
    ASSERT_EQ(p->pins.size(), 4u);
    EXPECT_EQ(pinText(p->pins[0]), "VCC 14 power_in line 0 (60,-5.08)(60,-5.08) 0");
    EXPECT_EQ(pinText(p->pins[1]), "GND 7 power_in line 0 (60,5.08)(60,5.08) 0");
    EXPECT_EQ(pinText(p->pins[2]), "GND 15 power_in line 0 (60,5.08)(60,5.08) 0");
    EXPECT_EQ(p->pins[1].net, p->pins[2].net);
    EXPECT_FALSE(p->power_symbol);  // power inputs only
    const Pin& nc = p->pins[3];
    ASSERT_TRUE(nc.type == "unspecified" && nc.no_connect && nc.net >= 0);
    EXPECT_EQ(netText(&s->nets[nc.net]), "Net-(IC1-Pad8) auto @1 1 0 0 0");
    for (const Component& c : s->components)
        for (const Pin& pin : c.pins) EXPECT_GE(pin.net, 0) << c.reference << "." << pin.number;

    // SUPPLY1 twice in one segment is listed once; the two GND pads of IC1 both count.
    EXPECT_EQ(netText(netNamed(*s, "GND")), "GND eagle power @01 4 2 1 1");
    EXPECT_EQ(netText(netNamed(*s, "VCC")), "VCC eagle power @1 1 1 0 0");  // power by its name
    EXPECT_EQ(netText(netNamed(*s, "N$1")), "N$1 auto @0 2 1 0 0");         // unknown parts and pins are ignored
    // A net and a bus of one name stay apart.
    EXPECT_EQ(netText(netNamed(*s, "D[0..7]")), "D[0..7] eagle @0 0 1 0 0");
    EXPECT_EQ(netText(netNamed(*s, "D[0..7]", true)), "D[0..7] eagle bus @0 0 1 0 0");
    const Net* gnd = netNamed(*s, "GND");
    ASSERT_TRUE(gnd && gnd->labels.size() == 1 && gnd->junctions.size() == 1 && gnd->wires.size() == 2);
    EXPECT_EQ(s->wires[gnd->wires[1]].sheet, 1);
    const Label& l = s->labels[gnd->labels[0]];
    EXPECT_EQ(
        l.text + " " + pt(l.position) + " " + num(l.size) + " " + num(l.angle) + (l.kind == Global ? " global" : ""),
        "GND (52,-15) 1.27 180 global");
    EXPECT_EQ(pt(s->junctions[gnd->junctions[0]].position), "(50,-15)");
    const Wire& bus = s->wires[netNamed(*s, "D[0..7]", true)->wires[0]];
    EXPECT_TRUE(bus.bus && bus.width == 0.762);
    for (size_t i = 0; i < s->nets.size(); ++i)
        for (auto [ci, pi] : s->nets[i].pins) EXPECT_EQ(s->components[ci].pins[pi].net, static_cast<int>(i));
}

TEST(EagleParts, ValuesPowerSymbolsLibrariesAndSymbolItems) {
    auto s = load(readFile(kFixtures + "parts.sch"));
    ASSERT_TRUE(s);
    std::string values, pins;
    for (const Component& c : s->components) {
        values += (c.power_symbol ? "*" : "") + c.value + "|";
        pins += (c.pins.empty() ? "-" : c.pins[0].name) + "|";
    }
    // Values from device set names: only the first "*" and "?" are replaced; a value present, though
    // empty, stays empty. Power symbols have supply pins only (a regulator's output is not enough);
    // an empty first pin name leaves the value empty, so the device set names it.
    EXPECT_EQ(values, "74LS00N|R0603|74Dx*?||10u|*+5V|D|*D|D|D|D|D|D|D|");
    // Libraries of one name are told apart by urn: the same name and urn again replaced the first;
    // without a urn match, the last one read of that name.
    EXPECT_EQ(pins, "-|-|-|-|-|+5V|IN||C|B|C|C|O|1|");
    // A supply output pin makes its net a power net whatever its name.
    EXPECT_TRUE(netNamed(*s, "RAIL")->power);
    EXPECT_FALSE(netNamed(*s, "OTHER")->power);
    EXPECT_EQ(s->components[9].lib_id, "supply1:D");
    // An unknown library: drawn as a 5.08 mm box around the position, no pins.
    ASSERT_EQ(s->warnings.size(), 5u);
    EXPECT_EQ(s->warnings[0], "Symbol for A (gone:74*00) not found; drawn as a box");
    ASSERT_EQ(s->components[0].graphics.size(), 1u);
    EXPECT_EQ(boxOf(s->components[0].graphics[0].points), "(-2.54,-2.54)(2.54,2.54)");
    EXPECT_EQ(s->components[0].unit, 1);

    const Component& c = s->components.back();
    EXPECT_EQ(c.reference, "U&1");
    // A filled circle has width 0; the rectangle turns about its centre (2, 1), then the y flip.
    ASSERT_EQ(kinds(c.graphics), "poly+ circle+ circle line");
    EXPECT_EQ(boxOf(c.graphics[0].points), "(1,-3)(3,1)");
    EXPECT_EQ(c.graphics[3].points.size(), 16u);
    // Placeholder texts: a part attribute (CDATA, trimmed); an unknown one is empty and dropped.
    ASSERT_EQ(c.fields.size(), 1u);
    EXPECT_EQ(c.fields[0].text, "X<1");
    // The repeated symbol name added its pin to the first; without connects the number is the name.
    ASSERT_EQ(c.pins.size(), 3u);
    EXPECT_EQ(pinText(c.pins[0]), "1 1 open_collector line 0 (0,0)(0,0) 0");
    EXPECT_EQ(pinText(c.pins[1]), "2 2 passive clock|nonum 5.08 (0,0)(5.08,0) 0");
    EXPECT_EQ(pinText(c.pins[2]), "3 3 tri_state inverted_clock 5.08 (0,0)(5.08,0) 0");
}

TEST(EagleParts, PlaceholdersInAnyCase) {
    // Eagle reads ">Name" as >NAME; the instance's own attribute is found whatever its case too.
    const std::string lib =
        "<library name=\"lib\"><symbols><symbol name=\"S\">"
        "<wire x1=\"0\" y1=\"0\" x2=\"2\" y2=\"0\" width=\"0.1\" layer=\"94\"/>"
        "<text x=\"0\" y=\"1\" size=\"1.778\" layer=\"95\">&gt;Name</text>"
        "<text x=\"0\" y=\"-1\" size=\"1.778\" layer=\"96\">&gt;value</text>"
        "<text x=\"0\" y=\"-3\" size=\"1.778\" layer=\"97\">&gt;mpn</text>"
        "</symbol></symbols><devicesets><deviceset name=\"D\" prefix=\"U\"><gates>"
        "<gate name=\"G$1\" symbol=\"S\" x=\"0\" y=\"0\"/></gates><devices><device name=\"\">"
        "<technologies><technology name=\"\"/></technologies></device></devices></deviceset></devicesets></library>";
    const std::string parts =
        "<part name=\"U7\" library=\"lib\" deviceset=\"D\" device=\"\" value=\"LM358\">"
        "<attribute name=\"MPN\" value=\"X-1\"/></part>";
    const std::string sheets =
        "<sheet><instances><instance part=\"U7\" gate=\"G$1\" x=\"10\" y=\"10\" smashed=\"yes\">"
        "<attribute name=\"NAME\" x=\"20\" y=\"30\" size=\"2\" layer=\"95\"/></instance></instances></sheet>";
    auto s = load(doc(lib, parts, sheets));
    ASSERT_TRUE(s);
    ASSERT_EQ(s->components.size(), 1u);
    std::vector<std::string> fields;
    for (const GraphicItem& f : s->components[0].fields) fields.push_back(textOf(f));
    EXPECT_EQ(fields, (std::vector<std::string>{"U7 (20,-30) 2 0 -1,1", "LM358 (10,-9) 1.778 0 -1,1",
                                                "X-1 (10,-7) 1.778 0 -1,1"}));
}

TEST(EagleDamaged, RefusedTruncatedCorruptedOddAndHugeInputs) {
    const std::pair<std::string, std::string> cases[] = {
        {"", "XML parse error: empty XML document"},
        {"<eagle><drawing>", "XML parse error: unterminated element <drawing>"},
        {"<?xml version=\"1.0\"?><svg/>", "Not an Eagle file (root element is <svg>)"},
        {readFile(kFixtures + "board.brd"), "This Eagle file has no <schematic> (is it a board or library?)"},
        {readFile(kFixtures + "library.lbr"), "This Eagle file has no <schematic> (is it a board or library?)"},
        {readFile(kFixtures + "old_binary.sch"), "XML parse error: junk before root element"},
        {"<eagle><drawing><schematic><parts/></schematic></drawing></eagle>", "Eagle schematic has no sheets"},
    };
    for (const auto& [text, message] : cases) {
        std::string err;
        EXPECT_FALSE(load(text, &err));
        EXPECT_EQ(err.substr(0, err.find(" at line ")), message);  // parse errors say where
    }
    EXPECT_FALSE(loadEagleSchematic("<x/>", "x.sch", nullptr));  // the error text is optional
    // An empty sheets element is a design without sheets, not a failure.
    auto empty = load(doc("", "", ""));
    ASSERT_TRUE(empty);
    EXPECT_TRUE(empty->sheets.empty());

    const std::string good = readFile(kFixtures + "two_sheets.sch");
    ASSERT_FALSE(good.empty());
    for (size_t cut = 0; cut + 10 <= good.size(); cut += 37) {  // the last 10 bytes are the final closing tag
        std::string err;
        EXPECT_FALSE(load(good.substr(0, cut), &err)) << cut;
        EXPECT_EQ(err.rfind("XML parse error: ", 0), 0u) << cut << ": " << err;
    }
    std::minstd_rand rng(12345);
    const char junk[] = {'<', '>', '"', '&', '/', '\0', 'x', '9', '-', ' '};
    for (int round = 0; round < 300; ++round) {
        std::string bad = good, err;
        for (int k = 0; k < 4; ++k) bad[rng() % bad.size()] = junk[rng() % sizeof junk];
        EXPECT_TRUE(load(bad, &err) || !err.empty());
    }

    // Entities and CDATA in odd places.
    auto s = load(readFile(kFixtures + "odd_places.sch"));
    ASSERT_TRUE(s);
    ASSERT_EQ(s->labels.size(), 1u);
    EXPECT_EQ(s->rev + "|" + s->sheets[0].name + "|" + s->labels[0].text, "Eagle 9|Power & IO|A&B");
    EXPECT_TRUE(netNamed(*s, "\xCE\xA9"));

    // A 100 MB description: read in place and cut to a sheet name.
    s = load(doc("", "", "<sheet><description>" + std::string(100u << 20, 'x') + "</description></sheet>"));
    ASSERT_TRUE(s);
    EXPECT_EQ(s->sheets[0].name, std::string(40, 'x'));

    // A pin wired to 20,000 pads, placed 60 times: 1.2 million pins from 150 kB.
    std::string pads, insts, fewer, refs;
    for (int i = 0; i < 20000; ++i) pads += "P" + std::to_string(i) + " ";
    for (int i = 0; i < 60; ++i) {
        insts += "<instance part=\"U" + std::to_string(i) + "\" gate=\"G\" x=\"0\" y=\"0\"/>";
        refs += "<part name=\"U" + std::to_string(i) + "\" library=\"l\" deviceset=\"D\" device=\"\"/>";
        if (i == 2) fewer = insts;
    }
    const std::string library =
        "<library name=\"l\"><symbols><symbol name=\"S\"><pin name=\"A\" x=\"0\" y=\"0\"/></symbol></symbols>"
        "<devicesets><deviceset name=\"D\"><gates><gate name=\"G\" symbol=\"S\"/></gates><devices><device name=\"\">"
        "<connects><connect gate=\"G\" pin=\"A\" pad=\"" +
        pads +
        "\"/></connects></device></devices></deviceset>"
        "</devicesets></library>";
    std::string err;
    const std::string text = doc(library, refs, "<sheet><instances>" + insts + "</instances></sheet>");
    EXPECT_FALSE(load(text, &err));
    EXPECT_EQ(err,
              "Design too large: it would need more than 1000000 pins, drawing items, bus members and other "
              "records, the limit for 0.1 MB of schematic files; it was not opened");
    // Placed a few times, the same part is an ordinary design.
    s = load(doc(library, refs, "<sheet><instances>" + fewer + "</instances></sheet>"));
    ASSERT_TRUE(s);
    EXPECT_EQ(s->components.size(), 3u);
    EXPECT_EQ(s->components.back().pins.size(), 20000u);
}

TEST(EagleParts, ManyPinsAndItemsFarAway) {
    // References to the pins of a part with more pins than are searched one by one.
    std::string pins, nets;
    for (int i = 0; i < 100; ++i) {
        pins += "<pin name=\"P" + std::to_string(i % 50) + "\" x=\"" + std::to_string(i) + "\" y=\"0\"/>";
        if (i < 50)
            nets += "<net name=\"N" + std::to_string(i) + "\"><segment><pinref part=\"U\" gate=\"G\" pin=\"P" +
                    std::to_string(i) + "\"/></segment></net>";
    }
    auto s =
        load(doc("<library name=\"l\"><symbols><symbol name=\"S\">" + pins +
                     "<wire x1=\"0\" y1=\"0\" x2=\"1e300\" y2=\"0\" width=\"0.1\"/></symbol></symbols>"
                     "<devicesets><deviceset name=\"D\"><gates><gate name=\"G\" symbol=\"S\"/></gates><devices>"
                     "<device name=\"\"/></devices></deviceset></devicesets></library>",
                 "<part name=\"U\" library=\"l\" deviceset=\"D\" device=\"\"/>"
                 "<part name=\"V\" library=\"l\" deviceset=\"D\" device=\"\"/>",
                 "<sheet><plain><text x=\"-1e308\" y=\"0\">far</text><circle x=\"0\" y=\"0\" radius=\"1e9\"/>"
                 "</plain><instances><instance part=\"U\" gate=\"G\" x=\"0\" y=\"0\"/>"
                 "<instance part=\"V\" gate=\"G\" x=\"2e6\" y=\"0\"/></instances><nets>" +
                     nets +
                     "<net name=\"F\"><segment><wire x1=\"0\" y1=\"0\" x2=\"0\" y2=\"1e7\"/>"
                     "<junction x=\"1e300\" y=\"0\"/><label x=\"0\" y=\"-1e300\"/></segment></net></nets></sheet>"));
    ASSERT_TRUE(s);
    ASSERT_EQ(s->components.size(), 1u);  // V stands two kilometres away
    const Component& u = s->components[0];
    ASSERT_EQ(u.pins.size(), 100u);
    for (size_t i = 0; i < u.pins.size(); ++i) {
        const Net& n = s->nets[u.pins[i].net];
        EXPECT_EQ(n.name, "N" + std::to_string(i % 50)) << i;  // both pins of a name join its net
        EXPECT_EQ(n.pins.size(), 2u);
    }
    EXPECT_TRUE(u.graphics.empty());  // the symbol's wire reaches 1e300
    EXPECT_TRUE(s->texts.empty() && s->graphics.empty() && s->wires.empty() && s->junctions.empty() &&
                s->labels.empty());
    EXPECT_EQ(s->warnings, std::vector<std::string>{"7 items lie more than a kilometre from the sheet's origin (or is "
                                                    "that large) and were left out"});
}

// Every real design opens without warnings, and its pins sit where its wires end:
// a wrong transform order shows up as pins off their wires.
TEST(EagleCorpus, RealDesignsOpenAndPinsMeetTheirWires) {
    const std::filesystem::path dir = std::filesystem::path(NETLOOM_SOURCE_DIR) / "../shared/corpus/eagle";
    if (!std::filesystem::is_directory(dir)) GTEST_SKIP() << "no Eagle corpus at " << dir;
    int designs = 0;
    for (const auto& f : std::filesystem::recursive_directory_iterator(dir)) {
        if (f.path().extension() != ".sch") continue;
        ++designs;
        std::string err;
        auto s = load(readFile(f.path().string()), &err);
        ASSERT_TRUE(s) << f.path() << ": " << err;
        EXPECT_TRUE(s->warnings.empty()) << f.path() << ": " << s->warnings.front();
        int onWire = 0, offWire = 0;
        for (const Component& c : s->components) {
            EXPECT_TRUE(!c.power_symbol || !c.pins.empty()) << c.reference;  // a power symbol has its pin
            for (const Pin& p : c.pins) {
                auto at = [&](Point e) { return std::hypot(e.x - p.position.x, e.y - p.position.y) < 0.01; };
                bool wired = false, touches = false;
                for (auto [ci, pi] : s->nets[p.net].pins)  // pins may also meet pin to pin
                    touches = touches || (&s->components[ci].pins[pi] != &p && s->components[ci].sheet == c.sheet &&
                                          at(s->components[ci].pins[pi].position));
                for (int wi : s->nets[p.net].wires) {
                    const Wire& w = s->wires[wi];
                    wired = wired || w.sheet == c.sheet;
                    touches = touches || (w.sheet == c.sheet && (at(w.a) || at(w.b)));
                }
                if (wired) ++(touches ? onWire : offWire);
            }
        }
        EXPECT_GT(onWire, 0) << f.path();
        EXPECT_EQ(offWire, 0) << f.path() << ": " << offWire << " pins off their wires";
    }
    EXPECT_GE(designs, 8);
}

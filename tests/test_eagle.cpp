#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "eagle_loader.h"
#include "file_io.h"

using namespace nl;

namespace {

const std::string kFixtures = std::string(NETLOOM_SOURCE_DIR) + "/tests/fixtures/eagle/";

std::string readFile(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    std::stringstream ss;
    ss << f.rdbuf();
    return ss.str();
}

std::shared_ptr<Schematic> load(const std::string& text, std::string* error = nullptr,
                                const std::string& path = "dir/test.sch") {
    std::string err;
    auto s = loadEagleSchematic(text, path, &err);
    if (error) *error = err;
    return s;
}

std::string errorOf(const std::string& text) {
    std::string err;
    EXPECT_FALSE(load(text, &err)) << text.substr(0, 80);
    return err;
}

std::string doc(const std::string& libraries, const std::string& parts, const std::string& sheets) {
    return "<eagle version=\"9.6\"><drawing><schematic><libraries>" + libraries + "</libraries><parts>" + parts +
           "</parts><sheets>" + sheets + "</sheets></schematic></drawing></eagle>";
}

// One library `name` (urn optional) with one symbol "S" holding `pins` and one
// device set "D" with gate "G" and device "" without connects.
std::string library(const std::string& name, const std::string& urn, const std::string& pins) {
    return "<library name=\"" + name + "\"" + (urn.empty() ? "" : " urn=\"" + urn + "\"") +
           "><symbols><symbol name=\"S\">" + pins +
           "</symbol></symbols><devicesets><deviceset name=\"D\"><gates><gate name=\"G\" symbol=\"S\"/></gates>"
           "<devices><device name=\"\"/></devices></deviceset></devicesets></library>";
}

const Component* find(const Schematic& s, const std::string& ref, const std::string& gate) {
    for (const Component& c : s.components) {
        auto g = c.properties.find("Gate");
        if (c.reference == ref && g != c.properties.end() && g->second == gate) return &c;
    }
    return nullptr;
}

const Net* netNamed(const Schematic& s, const std::string& name, bool bus = false) {
    for (const Net& n : s.nets)
        if (n.name == name && n.bus == bus) return &n;
    return nullptr;
}

void expectPoint(Point p, double x, double y) {
    EXPECT_NEAR(p.x, x, 1e-9);
    EXPECT_NEAR(p.y, y, 1e-9);
}

class EagleTwoSheets : public ::testing::Test {
protected:
    void SetUp() override {
        std::string err;
        s = loadEagleSchematic(readFile(kFixtures + "two_sheets.sch"), "C:\\designs\\two_sheets.sch", &err);
        ASSERT_TRUE(s) << err;
    }
    std::shared_ptr<Schematic> s;
};

}  // namespace

TEST(EagleGeometry, RotationTransformAlignAndArcs) {
    EagleRotation r = parseEagleRotation("SMR90");
    EXPECT_TRUE(r.spin);
    EXPECT_TRUE(r.mirror);
    EXPECT_DOUBLE_EQ(r.angle, 90);
    r = parseEagleRotation("R");
    EXPECT_FALSE(r.mirror);
    EXPECT_DOUBLE_EQ(r.angle, 0);
    EXPECT_DOUBLE_EQ(parseEagleRotation("R45.5").angle, 45.5);
    EXPECT_DOUBLE_EQ(parseEagleRotation("Rxyz").angle, 0);
    EXPECT_DOUBLE_EQ(parseEagleRotation("").angle, 0);
    EXPECT_TRUE(parseEagleRotation("MR270").mirror);

    // Rotate first, then mirror: (1, 0) turned to (0, 1) stays on the y axis.
    Point p = eagleTransform({1, 0}, true, 90);
    EXPECT_NEAR(p.x, 0, 1e-12);
    EXPECT_NEAR(p.y, 1, 1e-12);
    p = eagleTransform({1, 2}, true, 0);
    expectPoint(p, -1, 2);
    p = eagleTransform({1, 2}, false, 180);
    expectPoint(p, -1, -2);

    auto align = [](const char* t) {
        EagleAlign a = parseEagleAlign(t);
        return std::make_pair(a.h_justify, a.v_justify);
    };
    EXPECT_EQ(align("bottom-left"), std::make_pair(-1, 1));
    EXPECT_EQ(align("center"), std::make_pair(0, 0));
    EXPECT_EQ(align("top-center"), std::make_pair(0, -1));
    EXPECT_EQ(align("center-left"), std::make_pair(-1, 0));
    EXPECT_EQ(align("bottom-right"), std::make_pair(1, 1));
    EXPECT_EQ(align("top-right"), std::make_pair(1, -1));

    std::vector<Point> straight = eagleArc({0, 0}, {2, 0}, 0.005);
    ASSERT_EQ(straight.size(), 2u);
    // A quarter turn counter-clockwise from (0,0) to (2,0) bulges below the chord (y up).
    std::vector<Point> arc = eagleArc({0, 0}, {2, 0}, 90);
    ASSERT_EQ(arc.size(), 16u);
    expectPoint(arc.front(), 0, 0);
    expectPoint(arc.back(), 2, 0);
    for (Point q : arc) EXPECT_NEAR(std::hypot(q.x - 1, q.y - 1), std::sqrt(2.0), 1e-9);
    EXPECT_LT(arc[8].y, 0);
    EXPECT_GT(eagleArc({0, 0}, {2, 0}, -90)[8].y, 0);
    EXPECT_EQ(eagleArc({0, 0}, {2, 0}, 10).size(), 5u);  // at least four segments
    EXPECT_EQ(eagleArc({1, 1}, {1, 1}, 90).size(), 2u);  // no chord, no arc
}

TEST(EagleLoad, FailuresAndRefusedFiles) {
    EXPECT_EQ(errorOf(""), "XML parse error: empty XML document");
    EXPECT_EQ(errorOf("<eagle><drawing>"), "XML parse error: unterminated element <drawing>");
    EXPECT_EQ(errorOf("<?xml version=\"1.0\"?><svg/>"), "Not an Eagle file (root element is <svg>)");
    EXPECT_EQ(errorOf(readFile(kFixtures + "board.brd")),
              "This Eagle file has no <schematic> (is it a board or library?)");
    EXPECT_EQ(errorOf(readFile(kFixtures + "library.lbr")),
              "This Eagle file has no <schematic> (is it a board or library?)");
    EXPECT_EQ(errorOf(readFile(kFixtures + "old_binary.sch")), "XML parse error: junk before root element");
    EXPECT_EQ(errorOf("<eagle><drawing><schematic><parts/></schematic></drawing></eagle>"),
              "Eagle schematic has no sheets");
    // The error text is optional.
    EXPECT_FALSE(loadEagleSchematic("<x/>", "x.sch", nullptr));
    // An empty sheets element is a design without sheets, not a failure.
    auto empty = load(doc("", "", ""));
    ASSERT_TRUE(empty);
    EXPECT_TRUE(empty->sheets.empty());
}

TEST_F(EagleTwoSheets, DesignRecordAndSheets) {
    EXPECT_EQ(s->format, "eagle");
    EXPECT_EQ(s->path, "C:\\designs\\two_sheets.sch");
    EXPECT_EQ(s->title, "two_sheets.sch");
    EXPECT_EQ(s->rev, "Eagle 9.6.2");
    EXPECT_TRUE(s->lib_symbols.empty());
    ASSERT_EQ(s->sheets.size(), 3u);
    // White space runs inside a description become single blanks; long ones are cut at 40 bytes.
    EXPECT_EQ(s->sheets[0].name, "Logic and power");
    EXPECT_EQ(s->sheets[1].name, "Sheet 2");
    EXPECT_EQ(s->sheets[2].name, std::string("A description that is much longer than forty").substr(0, 40));
    EXPECT_EQ(s->sheets[0].file, "two_sheets.sch");
    EXPECT_EQ(s->sheets[1].parent, -1);
    EXPECT_TRUE(s->sheets[0].bbox.valid());
    ASSERT_EQ(s->warnings.size(), 1u);
    EXPECT_EQ(s->warnings[0], "Instance of unknown part GHOST");
}

TEST_F(EagleTwoSheets, PlainDrawing) {
    ASSERT_EQ(s->texts.size(), 1u);
    const TextItem& t = s->texts[0];
    EXPECT_EQ(t.text, "Note <1>");
    expectPoint(t.position, 10, -20);
    EXPECT_DOUBLE_EQ(t.size, 2.54);
    EXPECT_DOUBLE_EQ(t.angle, 90);
    EXPECT_EQ(t.h_justify, 0);
    EXPECT_EQ(t.v_justify, -1);
    // wire, frame, rectangle, circle; the plain polygon is not a sheet drawing item.
    ASSERT_EQ(s->graphics.size(), 4u);
    EXPECT_EQ(s->graphics[0].kind, Polyline);
    EXPECT_DOUBLE_EQ(s->graphics[0].width, 0.1);
    EXPECT_EQ(s->graphics[1].kind, Polygon);
    EXPECT_FALSE(s->graphics[1].fill_outline);
    EXPECT_TRUE(s->graphics[2].fill_outline);
    // Polygons are flipped and their point order reversed.
    ASSERT_EQ(s->graphics[2].points.size(), 4u);
    expectPoint(s->graphics[2].points[0], 1, -3);
    expectPoint(s->graphics[2].points[3], 1, -1);
    EXPECT_EQ(s->graphics[3].kind, Circle);
    EXPECT_DOUBLE_EQ(s->graphics[3].radius, 1);
    expectPoint(s->graphics[3].points[0], 5, -5);
    for (const GraphicItem& g : s->graphics) EXPECT_EQ(g.unit, 0);
}

TEST_F(EagleTwoSheets, InstancesUnitsAndPlacement) {
    ASSERT_EQ(s->components.size(), 5u);
    const Component* a = find(*s, "IC1", "A");
    const Component* b = find(*s, "IC1", "B");
    const Component* p = find(*s, "IC1", "P");
    ASSERT_TRUE(a && b && p);
    // Units follow the sorted gate names, not the file's order (B, A, P).
    EXPECT_EQ(a->unit, 1);
    EXPECT_EQ(b->unit, 2);
    EXPECT_EQ(p->unit, 3);
    EXPECT_EQ(p->sheet, 1);
    EXPECT_EQ(a->lib_id, "logic:74*00");
    EXPECT_EQ(a->footprint, "N");
    EXPECT_EQ(a->properties.at("Device"), "N");
    EXPECT_EQ(a->properties.at("MPN"), "SN74LS00N");
    EXPECT_TRUE(a->in_bom);
    expectPoint(a->position, 10, -20);
    EXPECT_TRUE(b->mirror_y);
    EXPECT_FALSE(b->mirror_x);
    EXPECT_DOUBLE_EQ(b->rotation, 90);

    // Symbol drawing: the two-vertex polygon is dropped; points are placed and flipped.
    ASSERT_EQ(a->graphics.size(), 3u);
    expectPoint(a->graphics[0].points[0], 7.46, -22.54);
    ASSERT_EQ(a->graphics[1].points.size(), 3u);
    expectPoint(a->graphics[1].points[0], 11, -21);
    expectPoint(a->graphics[1].points[2], 10, -20);
    EXPECT_EQ(a->graphics[2].text, "& body");
    EXPECT_DOUBLE_EQ(a->graphics[2].angle, 90);
    EXPECT_DOUBLE_EQ(b->graphics[2].angle, 0);  // 90 + 90 lies flat
    EXPECT_TRUE(a->bbox.valid());
}

TEST_F(EagleTwoSheets, PinsNumbersShapesAndMirroring) {
    const Component* a = find(*s, "IC1", "A");
    const Component* b = find(*s, "IC1", "B");
    ASSERT_TRUE(a && b);
    ASSERT_EQ(a->pins.size(), 3u);
    const Pin& pa = a->pins[0];
    EXPECT_EQ(pa.name, "A");
    EXPECT_EQ(pa.number, "1");
    EXPECT_EQ(pa.type, "input");
    EXPECT_EQ(pa.shape, "line");
    EXPECT_DOUBLE_EQ(pa.length, 5.08);
    expectPoint(pa.position, 2.38, -22.54);
    expectPoint(pa.end, 7.46, -22.54);
    EXPECT_NEAR(pa.angle, 0, 1e-9);
    EXPECT_EQ(a->pins[1].shape, "inverted|noname");
    EXPECT_DOUBLE_EQ(a->pins[1].length, 2.54);
    const Pin& py = a->pins[2];
    EXPECT_EQ(py.shape, "line|quiet");
    EXPECT_EQ(py.type, "output");
    EXPECT_DOUBLE_EQ(py.length, 7.62);
    expectPoint(py.position, 17.62, -20);
    EXPECT_NEAR(std::fabs(py.angle), 180, 1e-9);
    // MR90: turned a quarter first, then mirrored (the other order swaps pin ends).
    const Pin& pb = b->pins[0];
    EXPECT_EQ(pb.number, "4");
    expectPoint(pb.position, 32.54, -12.38);
    expectPoint(pb.end, 32.54, -17.46);
    EXPECT_NEAR(pb.angle, -90, 1e-9);
}

TEST_F(EagleTwoSheets, MultiPadPinsAndNoConnects) {
    const Component* p = find(*s, "IC1", "P");
    ASSERT_TRUE(p);
    ASSERT_EQ(p->pins.size(), 4u);
    EXPECT_EQ(p->pins[0].number, "14");
    EXPECT_EQ(p->pins[0].type, "power_in");
    // "7 15": one pin per pad, in the order written, both on the net.
    EXPECT_EQ(p->pins[1].name, "GND");
    EXPECT_EQ(p->pins[1].number, "7");
    EXPECT_EQ(p->pins[2].name, "GND");
    EXPECT_EQ(p->pins[2].number, "15");
    expectPoint(p->pins[1].position, p->pins[2].position.x, p->pins[2].position.y);
    EXPECT_EQ(p->pins[1].net, p->pins[2].net);
    EXPECT_FALSE(p->power_symbol);  // power inputs only
    // A "nc" pin nobody references: unspecified, flagged, on a net of its own.
    const Pin& nc = p->pins[3];
    EXPECT_EQ(nc.type, "unspecified");
    EXPECT_TRUE(nc.no_connect);
    ASSERT_GE(nc.net, 0);
    EXPECT_EQ(s->nets[nc.net].name, "Net-(IC1-Pad8)");
    EXPECT_EQ(s->nets[nc.net].name_source, "auto");
    EXPECT_EQ(s->nets[nc.net].sheets, std::vector<int>{1});
    ASSERT_EQ(s->nets[nc.net].pins.size(), 1u);
    for (const Component& c : s->components)
        for (const Pin& pin : c.pins) EXPECT_GE(pin.net, 0) << c.reference << "." << pin.number;
}

TEST_F(EagleTwoSheets, FieldsFromPlaceholders) {
    const Component* a = find(*s, "IC1", "A");
    const Component* b = find(*s, "IC1", "B");
    ASSERT_TRUE(a && b);
    // No instance attributes: placed like drawing items.
    ASSERT_EQ(a->fields.size(), 2u);
    EXPECT_EQ(a->fields[0].text, "IC1");
    expectPoint(a->fields[0].points[0], 11, -22);
    EXPECT_EQ(a->fields[1].text, "74LS00N");
    EXPECT_FALSE(a->fields[1].hidden);
    // The instance's own attributes place the texts where it says, in sheet coordinates.
    ASSERT_EQ(b->fields.size(), 2u);
    EXPECT_EQ(b->fields[0].text, "IC1");
    expectPoint(b->fields[0].points[0], 40, -30);
    EXPECT_DOUBLE_EQ(b->fields[0].size, 2);
    EXPECT_DOUBLE_EQ(b->fields[0].angle, 90);
    EXPECT_EQ(b->fields[0].h_justify, -1);
    EXPECT_EQ(b->fields[0].v_justify, 0);
    EXPECT_TRUE(b->fields[1].hidden);
    // An empty value with no instance attribute gives no field (the power rule names it later).
    const Component* sup2 = find(*s, "SUPPLY2", "1");
    ASSERT_TRUE(sup2);
    EXPECT_TRUE(sup2->fields.empty());
    EXPECT_EQ(sup2->value, "GND");
    EXPECT_TRUE(sup2->power_symbol);
}

TEST_F(EagleTwoSheets, NetsAcrossSheetsBussesAndLabels) {
    const Net* gnd = netNamed(*s, "GND");
    ASSERT_TRUE(gnd);
    EXPECT_EQ(gnd->sheets, (std::vector<int>{0, 1}));
    EXPECT_EQ(gnd->wires.size(), 2u);
    EXPECT_EQ(s->wires[gnd->wires[1]].sheet, 1);
    EXPECT_EQ(gnd->name_source, "eagle");
    EXPECT_TRUE(gnd->power);
    // SUPPLY1 twice in one segment is listed once; the two GND pads of IC1 both count.
    EXPECT_EQ(gnd->pins.size(), 4u);
    ASSERT_EQ(gnd->labels.size(), 1u);
    const Label& l = s->labels[gnd->labels[0]];
    EXPECT_EQ(l.text, "GND");
    EXPECT_EQ(l.kind, Global);
    EXPECT_DOUBLE_EQ(l.angle, 180);
    EXPECT_DOUBLE_EQ(l.size, 1.27);
    expectPoint(l.position, 52, -15);
    ASSERT_EQ(gnd->junctions.size(), 1u);
    expectPoint(s->junctions[gnd->junctions[0]].position, 50, -15);

    const Net* n1 = netNamed(*s, "N$1");
    ASSERT_TRUE(n1);
    EXPECT_EQ(n1->name_source, "auto");
    EXPECT_FALSE(n1->power);
    EXPECT_EQ(n1->pins.size(), 2u);  // unknown parts and pins are ignored

    const Net* dnet = netNamed(*s, "D[0..7]", false);
    const Net* dbus = netNamed(*s, "D[0..7]", true);
    ASSERT_TRUE(dnet && dbus);
    EXPECT_NE(dnet, dbus);
    ASSERT_EQ(dbus->wires.size(), 1u);
    EXPECT_TRUE(s->wires[dbus->wires[0]].bus);
    EXPECT_DOUBLE_EQ(s->wires[dbus->wires[0]].width, 0.762);

    const Net* vcc = netNamed(*s, "VCC");
    ASSERT_TRUE(vcc);
    EXPECT_TRUE(vcc->power);  // by its name
    for (size_t i = 0; i < s->nets.size(); ++i)
        for (auto [ci, pi] : s->nets[i].pins) EXPECT_EQ(s->components[ci].pins[pi].net, static_cast<int>(i));
}

TEST(EagleParts, ValuesFromDeviceSetNames) {
    std::string parts =
        "<part name=\"A\" library=\"l\" deviceset=\"74*00\" device=\"N\" technology=\"LS\"/>"
        "<part name=\"B\" library=\"l\" deviceset=\"R?\" device=\"0603\"/>"
        "<part name=\"C\" library=\"l\" deviceset=\"74*?x*?\" device=\"D\"/>"
        "<part name=\"D\" library=\"l\" deviceset=\"CAP\" device=\"-US\" value=\"\"/>"
        "<part name=\"E\" library=\"l\" deviceset=\"CAP\" device=\"-US\" value=\"10u\"/>";
    std::string insts;
    for (char c : std::string("ABCDE"))
        insts += std::string("<instance part=\"") + c + "\" gate=\"G\" x=\"0\" y=\"0\"/>";
    auto s = load(doc("", parts, "<sheet><instances>" + insts + "</instances></sheet>"));
    ASSERT_TRUE(s);
    ASSERT_EQ(s->components.size(), 5u);
    EXPECT_EQ(s->components[0].value, "74LS00N");
    EXPECT_EQ(s->components[1].value, "R0603");
    EXPECT_EQ(s->components[2].value, "74Dx*?");  // only the first of each
    EXPECT_EQ(s->components[3].value, "");        // present, though empty
    EXPECT_EQ(s->components[4].value, "10u");
    // Unknown library: drawn as a 5.08 mm box around the position, no pins.
    ASSERT_EQ(s->warnings.size(), 5u);
    EXPECT_EQ(s->warnings[0], "Symbol for A (l:74*00) not found; drawn as a box");
    ASSERT_EQ(s->components[0].graphics.size(), 1u);
    EXPECT_EQ(s->components[0].graphics[0].points.size(), 4u);
    EXPECT_TRUE(s->components[0].pins.empty());
    EXPECT_EQ(s->components[0].unit, 1);
}

TEST(EagleParts, PowerSymbolsNeedOnlySupplyPins) {
    std::string libs = library("sup", "", "<pin name=\"+5V\" x=\"0\" y=\"0\" direction=\"sup\"/>") +
                       library("reg", "",
                               "<pin name=\"IN\" x=\"0\" y=\"0\" direction=\"pwr\"/>"
                               "<pin name=\"OUT\" x=\"5\" y=\"0\" direction=\"sup\"/>") +
                       library("two", "",
                               "<pin name=\"\" x=\"0\" y=\"0\" direction=\"sup\"/>"
                               "<pin name=\"B\" x=\"5\" y=\"0\" direction=\"sup\"/>");
    std::string parts =
        "<part name=\"P1\" library=\"sup\" deviceset=\"D\" device=\"\" value=\"\"/>"
        "<part name=\"U1\" library=\"reg\" deviceset=\"D\" device=\"\"/>"
        "<part name=\"P2\" library=\"two\" deviceset=\"D\" device=\"\" value=\"\"/>";
    std::string sheet =
        "<sheet><instances><instance part=\"P1\" gate=\"G\" x=\"0\" y=\"0\"/>"
        "<instance part=\"U1\" gate=\"G\" x=\"0\" y=\"0\"/><instance part=\"P2\" gate=\"G\" x=\"0\" y=\"0\"/>"
        "</instances><nets><net name=\"RAIL\"><segment><pinref part=\"U1\" gate=\"G\" pin=\"OUT\"/></segment></net>"
        "<net name=\"OTHER\"><segment><pinref part=\"U1\" gate=\"G\" pin=\"IN\"/></segment></net></nets></sheet>";
    auto s = load(doc(libs, parts, sheet));
    ASSERT_TRUE(s);
    ASSERT_EQ(s->components.size(), 3u);
    EXPECT_TRUE(s->components[0].power_symbol);
    EXPECT_EQ(s->components[0].value, "+5V");
    // A regulator with one supply output among other pins is a real part.
    EXPECT_FALSE(s->components[1].power_symbol);
    EXPECT_EQ(s->components[1].value, "D");
    // The first pin's empty name leaves the value empty, so the device set names it.
    EXPECT_TRUE(s->components[2].power_symbol);
    EXPECT_EQ(s->components[2].value, "D");
    // A supply output pin makes its net a power net whatever its name.
    EXPECT_TRUE(netNamed(*s, "RAIL")->power);
    EXPECT_FALSE(netNamed(*s, "OTHER")->power);
}

TEST(EagleParts, LibrariesOfOneNameToldApartByUrn) {
    std::string libs = library("supply1", "urn:a", "<pin name=\"A\" x=\"0\" y=\"0\"/>") +
                       library("supply1", "urn:b", "<pin name=\"B\" x=\"0\" y=\"0\"/>") +
                       library("supply1", "urn:a", "<pin name=\"C\" x=\"0\" y=\"0\"/>") +
                       library("other", "", "<pin name=\"O\" x=\"0\" y=\"0\"/>");
    std::string parts =
        "<part name=\"P1\" library=\"supply1\" library_urn=\"urn:a\" deviceset=\"D\" device=\"\"/>"
        "<part name=\"P2\" library=\"supply1\" library_urn=\"urn:b\" deviceset=\"D\" device=\"\"/>"
        "<part name=\"P3\" library=\"supply1\" deviceset=\"D\" device=\"\"/>"
        "<part name=\"P4\" library=\"supply1\" library_urn=\"urn:zzz\" deviceset=\"D\" device=\"\"/>"
        "<part name=\"P5\" library=\"other\" library_urn=\"urn:x\" deviceset=\"D\" device=\"\"/>";
    std::string insts;
    for (int i = 1; i <= 5; ++i) insts += "<instance part=\"P" + std::to_string(i) + "\" gate=\"G\" x=\"0\" y=\"0\"/>";
    auto s = load(doc(libs, parts, "<sheet><instances>" + insts + "</instances></sheet>"));
    ASSERT_TRUE(s);
    ASSERT_EQ(s->components.size(), 5u);
    auto pinOf = [&](int i) { return s->components[i].pins.empty() ? "" : s->components[i].pins[0].name; };
    EXPECT_EQ(pinOf(0), "C");  // the same name and urn again replaced the first
    EXPECT_EQ(pinOf(1), "B");
    EXPECT_EQ(pinOf(2), "C");  // no urn match: the last one read of that name
    EXPECT_EQ(pinOf(3), "C");
    EXPECT_EQ(pinOf(4), "O");
    EXPECT_EQ(s->components[1].lib_id, "supply1:D");
    EXPECT_TRUE(s->warnings.empty());
}

TEST(EagleParts, SymbolItemsAndRepeatedNames) {
    std::string sym =
        "<symbol name=\"S\"><rectangle x1=\"0\" y1=\"0\" x2=\"4\" y2=\"2\" rot=\"R90\"/>"
        "<circle x=\"1\" y=\"1\" radius=\"2\" width=\"0\"/><circle x=\"1\" y=\"1\" radius=\"2\" width=\"0.2\"/>"
        "<wire x1=\"0\" y1=\"0\" x2=\"2\" y2=\"0\" curve=\"90\"/><text x=\"0\" y=\"0\">  <![CDATA[>MPN]]>  </text>"
        "<text x=\"0\" y=\"0\">&gt;MISSING</text><pin name=\"1\" x=\"0\" y=\"0\" length=\"point\" direction=\"oc\"/>"
        "<pin name=\"2\" x=\"0\" y=\"0\" direction=\"weird\" function=\"clk\" visible=\"pin\"/></symbol>"
        "<symbol name=\"S\"><pin name=\"3\" x=\"0\" y=\"0\" direction=\"hiz\" function=\"dotclk\"/></symbol>";
    std::string libs = "<library name=\"l\"><symbols>" + sym +
                       "</symbols><devicesets><deviceset name=\"D\"><gates><gate name=\"G\" symbol=\"S\"/></gates>"
                       "<devices><device name=\"\"/></devices></deviceset></devicesets></library>";
    std::string parts =
        "<part name=\"U&amp;1\" library=\"l\" deviceset=\"D\" device=\"\"><attribute name=\"MPN\" "
        "value=\"X&lt;1\"/></part>";
    auto s = load(doc(libs, parts,
                      "<sheet><instances><instance part=\"U&#38;1\" gate=\"G\" x=\"0\" y=\"0\"/>"
                      "</instances></sheet>"));
    ASSERT_TRUE(s);
    ASSERT_EQ(s->components.size(), 1u);
    const Component& c = s->components[0];
    EXPECT_EQ(c.reference, "U&1");
    ASSERT_EQ(c.graphics.size(), 4u);
    // The rectangle turned about its centre (2, 1): x spans 1..3, y spans 1..-1 (flipped: -3..1).
    BBox box;
    for (Point p : c.graphics[0].points) box.add(p);
    EXPECT_NEAR(box.min_x, 1, 1e-9);
    EXPECT_NEAR(box.max_x, 3, 1e-9);
    EXPECT_NEAR(box.min_y, -3, 1e-9);
    EXPECT_NEAR(box.max_y, 1, 1e-9);
    EXPECT_TRUE(c.graphics[0].fill_outline);
    EXPECT_TRUE(c.graphics[1].fill_outline);
    EXPECT_FALSE(c.graphics[2].fill_outline);
    EXPECT_EQ(c.graphics[3].points.size(), 16u);
    // Placeholder texts: a part attribute (CDATA, trimmed); an unknown one is empty and dropped.
    ASSERT_EQ(c.fields.size(), 1u);
    EXPECT_EQ(c.fields[0].text, "X<1");
    // The repeated symbol name added its pin to the first.
    ASSERT_EQ(c.pins.size(), 3u);
    EXPECT_EQ(c.pins[0].type, "open_collector");
    EXPECT_DOUBLE_EQ(c.pins[0].length, 0);
    EXPECT_EQ(c.pins[1].type, "passive");
    EXPECT_EQ(c.pins[1].shape, "clock|nonum");
    EXPECT_DOUBLE_EQ(c.pins[1].length, 5.08);
    EXPECT_EQ(c.pins[2].type, "tri_state");
    EXPECT_EQ(c.pins[2].shape, "inverted_clock");
    EXPECT_EQ(c.pins[0].number, "1");  // no connects: the name
}

TEST(EagleDamaged, TruncatedAndCorruptedFilesNeverCrash) {
    const std::string good = readFile(kFixtures + "two_sheets.sch");
    ASSERT_FALSE(good.empty());
    for (size_t cut = 0; cut < good.size(); cut += 37) {
        std::string err;
        auto s = load(good.substr(0, cut), &err);
        if (cut + 10 > good.size()) continue;  // inside the final closing tag, which needs no ">"
        EXPECT_FALSE(s) << cut;
        EXPECT_EQ(err.rfind("XML parse error: ", 0), 0u) << cut << ": " << err;
    }
    uint32_t seed = 12345;
    for (int round = 0; round < 300; ++round) {
        std::string bad = good;
        for (int k = 0; k < 4; ++k) {
            seed = seed * 1664525u + 1013904223u;
            const char junk[] = {'<', '>', '"', '&', '/', '\0', 'x', '9', '-', ' '};
            bad[(seed >> 8) % bad.size()] = junk[(seed >> 4) % sizeof junk];
        }
        std::string err;
        auto s = load(bad, &err);
        EXPECT_TRUE(s || !err.empty());
    }
}

TEST(EagleDamaged, EntitiesAndCdataInOddPlaces) {
    std::string sheet =
        "<sheet><description><![CDATA[ Power ]]>&amp;<!-- c --> <![CDATA[IO]]></description>"
        "<nets><net name=\"A&amp;B\"><segment><label x=\"0\" y=\"0\"/></segment></net>"
        "<net name=\"&#x3A9;\"><segment/></net></nets></sheet>";
    auto s = load(
        "<!DOCTYPE eagle [<!ENTITY x \"y\">]><eagle version=\"&#57;\"><drawing><schematic><parts/>"
        "<![CDATA[<sheets/>]]><sheets>" +
        sheet + "</sheets></schematic></drawing></eagle>");
    ASSERT_TRUE(s);
    EXPECT_EQ(s->rev, "Eagle 9");
    EXPECT_EQ(s->sheets[0].name, "Power & IO");
    ASSERT_EQ(s->labels.size(), 1u);
    EXPECT_EQ(s->labels[0].text, "A&B");
    EXPECT_TRUE(netNamed(*s, "\xCE\xA9"));
}

TEST(EagleDamaged, HugeInputs) {
    // A 100 MB description: read in place and cut to a sheet name.
    std::string big = doc("", "", "<sheet><description>@</description></sheet>");
    big.replace(big.find('@'), 1, std::string(100u << 20, 'x'));
    auto s = load(big);
    ASSERT_TRUE(s);
    EXPECT_EQ(s->sheets[0].name, std::string(40, 'x'));
    big.clear();
    big.shrink_to_fit();

    // One large symbol placed many times: the copies are capped with a warning.
    std::string pins;
    for (int i = 0; i < 500; ++i) pins += "<pin name=\"P" + std::to_string(i) + "\" x=\"0\" y=\"0\"/>";
    std::string insts;
    for (int i = 0; i < 200; ++i) insts += "<instance part=\"U\" gate=\"G\" x=\"0\" y=\"0\"/>";
    s = load(doc(library("l", "", pins), "<part name=\"U\" library=\"l\" deviceset=\"D\" device=\"\"/>",
                 "<sheet><instances>" + insts + "</instances></sheet>"));
    ASSERT_TRUE(s);
    EXPECT_EQ(s->components.size(), 200u);
    ASSERT_EQ(s->warnings.size(), 1u);
    EXPECT_EQ(s->warnings[0], "Too many symbol items in this design; later instances are left without symbols");
    EXPECT_EQ(s->components.front().pins.size(), 500u);
    EXPECT_TRUE(s->components.back().pins.empty());
}

// Every real design opens without warnings, and its pins sit where its wires end:
// a wrong transform order shows up as pins off their wires.
TEST(EagleCorpus, RealDesignsOpenAndPinsMeetTheirWires) {
    const std::filesystem::path dir = std::filesystem::path(NETLOOM_SOURCE_DIR) / "../shared/corpus/eagle";
    if (!std::filesystem::is_directory(dir)) GTEST_SKIP() << "no Eagle corpus at " << dir;
    int designs = 0;
    for (const auto& folder : std::filesystem::directory_iterator(dir)) {
        if (!folder.is_directory()) continue;
        for (const auto& f : std::filesystem::directory_iterator(folder.path())) {
            if (f.path().extension() != ".sch") continue;
            ++designs;
            FileData data;
            ASSERT_TRUE(readWholeFile(f.path().string(), data));
            std::string err;
            auto s = loadEagleSchematic(data.bytes, f.path().string(), &err);
            ASSERT_TRUE(s) << f.path() << ": " << err;
            EXPECT_TRUE(s->warnings.empty()) << f.path() << ": " << s->warnings.front();
            int onWire = 0, offWire = 0;
            for (const Component& c : s->components) {
                if (c.power_symbol) {
                    EXPECT_FALSE(c.pins.empty()) << c.reference;
                }
                for (const Pin& p : c.pins) {
                    const Net& n = s->nets[p.net];
                    bool wired = false, touches = false;
                    auto at = [&](Point e) {
                        return std::fabs(e.x - p.position.x) < 0.01 && std::fabs(e.y - p.position.y) < 0.01;
                    };
                    for (auto [ci, pi] : n.pins)  // pins may also meet pin to pin
                        if (&s->components[ci].pins[pi] != &p && s->components[ci].sheet == c.sheet &&
                            at(s->components[ci].pins[pi].position))
                            touches = true;
                    for (int wi : n.wires) {
                        const Wire& w = s->wires[wi];
                        if (w.sheet != c.sheet) continue;
                        wired = true;
                        if (at(w.a) || at(w.b)) touches = true;
                    }
                    if (wired) ++(touches ? onWire : offWire);
                }
            }
            EXPECT_GT(onWire, 0) << f.path();
            EXPECT_EQ(offWire, 0) << f.path() << ": " << offWire << " pins off their wires";
        }
    }
    EXPECT_GE(designs, 8);
}

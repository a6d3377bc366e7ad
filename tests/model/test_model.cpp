#include <gtest/gtest.h>

#include "model/model.h"

using namespace nl;

TEST(Placement, RotationsAndMirrors) {
    Placement p45 = placementOf({0, 0}, 45, false, false);
    EXPECT_EQ(p45.m0, 1);
    EXPECT_EQ(p45.m3, -1);
    Placement pm90 = placementOf({0, 0}, -90, false, false);
    Placement p270 = placementOf({0, 0}, 270, false, false);
    EXPECT_EQ(pm90.m1, p270.m1);
    EXPECT_EQ(pm90.m2, p270.m2);
    Point q = placementOf({10, 10}, 0, true, true).apply({1, 2});
    EXPECT_DOUBLE_EQ(q.x, 9);
    EXPECT_DOUBLE_EQ(q.y, 12);
    EXPECT_EQ(roundedAngle(89.5), 90);
    EXPECT_EQ(roundedAngle(-0.5), 359);
    EXPECT_EQ(roundedAngle(719.6), 0);
}

TEST(Placement, PinPositionEndAndAngle) {
    LibPin lp;
    lp.position = {0, 5.08};
    lp.angle = 270;
    lp.length = 2.54;
    Pin pin = placePin(lp, placementOf({100, 50}, 0, false, false));
    EXPECT_NEAR(pin.position.x, 100, 1e-9);
    EXPECT_NEAR(pin.position.y, 44.92, 1e-9);
    EXPECT_NEAR(pin.end.x, 100, 1e-9);
    EXPECT_NEAR(pin.end.y, 47.46, 1e-9);
    EXPECT_NEAR(pin.angle, 90, 1e-9);
}

TEST(Placement, LibraryTextsAreHorizontalOrVertical) {
    EXPECT_EQ(placedTextAngle(placementOf({0, 0}, 0, false, false), 0), 0);
    EXPECT_EQ(placedTextAngle(placementOf({0, 0}, 90, false, false), 0), 90);
    EXPECT_EQ(placedTextAngle(placementOf({0, 0}, 90, false, false), 90), 0);
    EXPECT_EQ(placedTextAngle(placementOf({0, 0}, 0, false, false), 270), 90);
    EXPECT_EQ(placedTextAngle(placementOf({0, 0}, 0, false, false), 45), 0);
}

TEST(SheetExtents, UnionOfRecordsPerSheet) {
    Schematic s;
    s.sheets.resize(3);
    Component c;
    c.sheet = 0;
    c.bbox = {1, 2, 3, 4};
    s.components.push_back(c);
    Component invalid;
    invalid.sheet = 0;  // keeps the empty box, so it must not count
    s.components.push_back(invalid);
    s.wires.push_back({{-5, 0}, {0, 0}, -1, 0, false, 0});
    s.junctions.push_back({{100, 100}, 0, -1});  // junctions do not count
    SheetSymbol sym;
    sym.sheet = 1;
    sym.position = {10, 10};
    sym.size = {5, 6};
    s.sheet_symbols.push_back(sym);
    GraphicItem g;
    g.unit = 1;
    g.points = {{0, 30}};
    s.graphics.push_back(g);
    computeSheetExtents(s);
    EXPECT_EQ(s.sheets[0].bbox.min_x, -5);
    EXPECT_EQ(s.sheets[0].bbox.max_y, 4);
    EXPECT_EQ(s.sheets[1].bbox.min_y, 10);
    EXPECT_EQ(s.sheets[1].bbox.max_x, 15);
    EXPECT_EQ(s.sheets[1].bbox.max_y, 30);
    EXPECT_FALSE(s.sheets[2].bbox.valid());
    EXPECT_EQ(s.sheets[2].bbox.min_x, 1e9);
}

TEST(SheetPaths, KicadHierarchyAndEagleSheets) {
    Schematic s;
    s.format = "kicad";
    s.sheets.resize(5);
    const char* names[] = {"Root", "amp", "filter", "amp copy", "loop"};
    const int parents[] = {-1, 0, 1, 0, 4};  // the last one is its own parent: a damaged model
    for (int i = 0; i < 5; ++i) s.sheets[i].name = names[i], s.sheets[i].parent = parents[i];
    EXPECT_EQ(sheetPath(s, 0), "/");
    EXPECT_EQ(sheetPath(s, 1), "/amp/");
    EXPECT_EQ(sheetPath(s, 2), "/amp/filter/");
    EXPECT_EQ(sheetPath(s, 3), "/amp copy/");
    EXPECT_EQ(sheetPath(s, 4).rfind("/loop/loop/", 0), 0u);  // ends instead of looping
    EXPECT_EQ(sheetPath(s, 5), "");
    EXPECT_EQ(sheetPath(s, -1), "");
    // Eagle's sheets all stand at the top, the first one included.
    s.format = "eagle";
    s.sheets.resize(2);
    s.sheets[1].parent = -1;
    EXPECT_EQ(sheetPath(s, 0), "/Root/");
    EXPECT_EQ(sheetPath(s, 1), "/amp/");
}

TEST(PowerNames, RailNamesAndLookalikes) {
    for (const char* yes : {"GND_ISO", "gnd-a", "+3V3", "-12V", "3.3v", "VDD1", "motor_vcc", " GND ", "Earth", "v",
                            "12v", "1.8V", "vdda1", "vcc12", "AVDD_2", "V+"})
        EXPECT_TRUE(isPowerNetName(yes)) << yes;
    for (const char* no : {"VDDQ", "VCCINT", "SDA", "", "   ", "3v3v", "_vcc", "vcc123", "GNDA", "CLK", "v1x"})
        EXPECT_FALSE(isPowerNetName(no)) << no;
}

TEST(ComponentBounds, GraphicsPinsAndFallback) {
    Schematic s;
    Component& c = s.components.emplace_back();
    c.graphics.resize(2);
    c.graphics[0].kind = Circle, c.graphics[0].points = {{10, 20}}, c.graphics[0].radius = 2;
    c.graphics[1].kind = Text, c.graphics[1].points = {{100, 100}};  // texts do not count, pins do
    c.pins.emplace_back().position = {5, 20};
    c.pins[0].end = {8, 20};
    s.components.emplace_back().position = {50, 60};  // nothing drawn: a box around the position
    computeComponentBounds(s);
    const BBox &a = s.components[0].bbox, &b = s.components[1].bbox;
    const double got[] = {a.min_x, a.max_x, a.min_y, a.max_y, b.min_x, b.max_y};
    const double want[] = {4.7, 12.3, 17.7, 22.3, 50 - 2.84, 60 + 2.84};
    for (int i = 0; i < 6; ++i) EXPECT_NEAR(got[i], want[i], 1e-9) << i;
}

TEST(ItemIds, CanonicalAndLegacyFormsOnly) {
    // KiCad's own spellings: the 8-4-4-4-12 form in either case, and an old time stamp.
    EXPECT_EQ(ItemId::parse("0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0").text(), "0f1e2d3c-4b5a-6978-8796-a5b4c3d2e1f0");
    EXPECT_EQ(ItemId::parse("5f3c1234").text(), "00000000-0000-0000-0000-00005f3c1234");
    EXPECT_EQ(ItemId::parse("ffffffff-ffff-ffff-ffff-ffffffffffff").text(), "ffffffff-ffff-ffff-ffff-ffffffffffff");
    EXPECT_NE(ItemId::parse("00000000-0000-0000-0000-000000000001"),
              ItemId::parse("00000000-0000-0000-0001-000000000000"));
    // Anything else is no id, and two missing ids never name the same item by accident.
    for (const char* text : {"", "p1", "5f3c123", "5f3c12345", "0f1e2d3c-4b5a-6978-8796-a5b4c3d2e1f",
                             "0f1e2d3c-4b5a-6978-8796-a5b4c3d2e1f00", "0f1e2d3c_4b5a-6978-8796-a5b4c3d2e1f0",
                             "0f1e2d3c-4b5a-6978-8796a-5b4c3d2e1f0", "0f1e2d3c-4b5a-6978-8796-a5b4c3d2e1fg",
                             "00000000-0000-0000-0000-000000000000", "00000000"})
        EXPECT_TRUE(ItemId::parse(text).empty() && ItemId::parse(text).text().empty()) << text;
}

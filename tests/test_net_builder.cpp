#include <gtest/gtest.h>

#include "net_builder.h"

using namespace nl;

TEST(PowerNames, RailNamesAndLookalikes) {
    for (const char* yes : {"GND_ISO", "gnd-a", "+3V3", "-12V", "3.3v", "VDD1", "motor_vcc", " GND ", "Earth", "v",
                            "12v", "1.8V", "vdda1", "vcc12", "AVDD_2", "V+"})
        EXPECT_TRUE(isPowerNetName(yes)) << yes;
    for (const char* no : {"VDDQ", "VCCINT", "SDA", "", "   ", "3v3v", "_vcc", "vcc123", "GNDA", "CLK", "v1x"})
        EXPECT_FALSE(isPowerNetName(no)) << no;
}

TEST(ComponentBounds, GraphicsPinsAndFallback) {
    Schematic s;
    Component c;
    GraphicItem circle;
    circle.kind = Circle;
    circle.points = {{10, 20}};
    circle.radius = 2;
    GraphicItem text;
    text.kind = Text;
    text.points = {{100, 100}};
    c.graphics = {circle, text};
    Pin p;
    p.position = {5, 20};
    p.end = {8, 20};
    c.pins.push_back(p);
    s.components.push_back(c);

    Component empty;
    empty.position = {50, 60};
    s.components.push_back(empty);

    computeComponentBounds(s);
    const BBox& a = s.components[0].bbox;
    EXPECT_NEAR(a.min_x, 4.7, 1e-9);  // the pin tip, not the text
    EXPECT_NEAR(a.max_x, 12.3, 1e-9);
    EXPECT_NEAR(a.min_y, 17.7, 1e-9);
    EXPECT_NEAR(a.max_y, 22.3, 1e-9);
    const BBox& b = s.components[1].bbox;
    EXPECT_NEAR(b.min_x, 50 - 2.84, 1e-9);
    EXPECT_NEAR(b.max_y, 60 + 2.84, 1e-9);
}

#include <gtest/gtest.h>

#include "app/navigation.h"
#include "fixtures/window_designs.h"

using namespace nl;

TEST(SheetPaths, HierarchyFlatSheetsAndBrokenParents) {
    nltest::WindowDesign kicad;
    const int root = kicad.sheet("Root", -1);
    const int power = kicad.sheet("Power", root);
    kicad.sheet("Regulator", power);
    kicad.sheet("I{slash}O", root);  // KiCad's spelling of "I/O" in a name
    EXPECT_EQ(sheetPaths(*kicad.done()), (std::vector<std::string>{"/", "/Power/", "/Power/Regulator/", "/I/O/"}));

    // Eagle's sheets have no parent: each is a top-level page of its own.
    nltest::WindowDesign eagle;
    eagle.sheet("Logic", -1);
    eagle.sheet("Sheet 2", -1);
    eagle.s->format = "eagle";  // its texts have no escapes
    EXPECT_EQ(sheetPaths(*eagle.done()), (std::vector<std::string>{"/Logic/", "/Sheet 2/"}));
    eagle.sheet("{slash}", -1);
    EXPECT_EQ(sheetPaths(*eagle.done()).back(), "/{slash}/");

    // Parents pointing in a circle, at themselves or past the end still give a path each.
    nltest::WindowDesign broken;
    broken.sheet("A", 1);
    broken.sheet("B", 0);
    broken.sheet("C", 2);
    broken.sheet("D", 42);
    const std::vector<std::string> paths = sheetPaths(*broken.done());
    ASSERT_EQ(paths.size(), 4u);
    EXPECT_EQ(paths[2], "/C/");
    EXPECT_EQ(paths[3], "/D/");
}

TEST(FindInDesign, HitsFollowWhatTheTextNames) {
    nltest::WindowDesign d;
    const int root = d.sheet("Root", -1);
    const int child = d.sheet("child", root);
    d.part("U1", root, {10, 10}, "A", "B");
    d.part("U1", child, {30, 30}, "B", "");  // a second unit of the same part
    d.net("FLOATING");                       // named, but drawn nowhere
    const auto s = d.done();

    FindResult r = findInDesign(*s, "U1", true);
    ASSERT_EQ(r.hits.size(), 2u);
    EXPECT_EQ(r.hits[1].sheet, child);
    EXPECT_EQ(r.hits[1].highlight.components, std::set<int32_t>{1});
    EXPECT_FALSE(r.hits[0].highlight.dim_others);

    r = findInDesign(*s, "B", true);  // a net on both sheets, one hit per sheet
    ASSERT_EQ(r.hits.size(), 2u);
    EXPECT_EQ(r.label, "net B");
    EXPECT_TRUE(r.hits[0].highlight.dim_others);
    EXPECT_NEAR(r.hits[1].area.min_y, 26.19, 1e-9);

    r = findInDesign(*s, "FLOATING", true);
    EXPECT_TRUE(r.ok);
    EXPECT_TRUE(r.hits.empty());
}

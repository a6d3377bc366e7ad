#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <numbers>
#include <random>
#include <tuple>

#include "formats/kicad_loader.h"
#include "open/schematic_open.h"

namespace nl {
namespace {

const std::string kFixtures = std::string(NETLOOM_SOURCE_DIR) + "/tests/fixtures/kicad/";

std::shared_ptr<Schematic> load(const std::string& body, std::string* error = nullptr) {
    return loadKicadSchematic("(kicad_sch (version 20231120) (uuid \"root\")\n" + body + "\n)", "mem/test.kicad_sch",
                              error);
}

const Component* byRef(const Schematic& s, const std::string& ref) {
    for (const Component& c : s.components)
        if (c.reference == ref) return &c;
    return nullptr;
}

// A scratch directory removed at the end of the test.
struct TempDir {
    std::filesystem::path dir;
    TempDir() {
        dir = std::filesystem::temp_directory_path() /
              ("netloom_kicad_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "_" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(dir);
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(dir, ec);
    }
    std::string write(const std::string& name, const std::string& text) const {
        std::ofstream(dir / name, std::ios::binary) << text;
        return (dir / name).string();
    }
};

const char* kDualLib = R"((lib_symbols
  (symbol "Amp:Dual" (in_bom yes)
    (property "Reference" "U" (at 0 0 0))
    (symbol "Dual_0_1" (rectangle (start -5 -5) (end 5 5) (stroke (width 0.2)) (fill (type color))))
    (symbol "Dual_1_1"
      (pin input line (at -7.62 2.54 0) (length 2.54) (name "IN+" (effects (font (size 1.1 1.2)))) (number "3"))
      (pin output line (at 7.62 0 180) (length 2.54) (name "OUT") (number "1")))
    (symbol "Dual_2_1"
      (pin input line (at -7.62 2.54 0) (length 2.54) (name "IN+") (number "5")))
    (symbol "Dual_1_2"
      (pin input line (at 0 0 0) (length 2.54) (name "ALT") (number "9")))
    (symbol "Dual_0_0"
      (pin power_in line (at 0 7.62 270) (length 2.54) hide (name "V+" (effects (font (size 1.27 1.27)) hide)) (number "8"))
      (pin power_out line (at 0 -7.62 90) (length 2.54) (hide yes) (name "VREG") (number "4"))))
  (symbol "Amp:DualB" (extends "Dual") (property "Value" "DualB" (at 0 0 0)))
  (symbol "power:+5V" (power) (symbol "+5V_1_1"
      (pin power_in line (at 0 0 90) (length 0) hide (name "+5V") (number "1")))))
)";

TEST(KicadLoader, LibrarySymbolsUnitsAndPlacement) {
    auto s = load(std::string(kDualLib) + R"(
  (symbol (lib_id "Amp:Dual") (at 100 50 0) (unit 2) (uuid "u1b")
    (property "Reference" "U1" (at 0 0 0)))
  (symbol (lib_id "Amp:Dual") (at 100 50 90) (mirror x) (unit 1) (convert 2) (uuid "u1a")
    (property "Reference" "U2" (at 0 0 0)))
  (symbol (lib_id "Amp:DualB") (at 0 0 0) (unit 1) (body_style 1) (convert 2) (uuid "u3")
    (property "Reference" "U3" (at 0 0 0)))
  (symbol (lib_id "power:+5V") (at 10 10 0) (uuid "p1") (property "Reference" "#PWR1" (at 0 0 0))
    (property "Value" "+5V" (at 0 0 0))))");
    ASSERT_TRUE(s);
    EXPECT_TRUE(s->warnings.empty());
    ASSERT_EQ(s->lib_symbols.size(), 3u);
    const LibSymbol& dual = *s->lib_symbols[0];
    ASSERT_EQ(dual.pins.size(), 6u);
    EXPECT_TRUE(dual.pins[0].unit == 1 && dual.pins[3].body_style == 2);
    EXPECT_EQ(dual.pins[4].unit, 0);  // "_0_0": common to every unit and style
    EXPECT_DOUBLE_EQ(dual.pins[0].name_size, 1.2);
    EXPECT_DOUBLE_EQ(dual.pins[1].name_size, 0);                                          // no effects: not given
    EXPECT_TRUE(dual.pins[4].name_hidden && dual.pins[4].hidden && dual.pins[5].hidden);  // also (hide yes)
    ASSERT_EQ(dual.graphics.size(), 1u);
    EXPECT_TRUE(dual.graphics[0].fill_background && dual.graphics[0].kind == Polygon);

    // Unit 2 gets the common items and its own pin only, and keeps no room for the others'.
    const Component* u1 = byRef(*s, "U1");
    ASSERT_TRUE(u1);
    ASSERT_EQ(u1->pins.size(), 3u);
    EXPECT_TRUE(u1->pins.capacity() == 3u && u1->graphics.capacity() == 1u && u1->fields.capacity() == 1u);
    EXPECT_EQ(u1->pins[0].number, "5");
    EXPECT_EQ(u1->graphics.size(), 1u);
    EXPECT_DOUBLE_EQ(u1->pins[0].position.x, 100 - 7.62);
    EXPECT_DOUBLE_EQ(u1->pins[0].position.y, 50 - 2.54);
    EXPECT_TRUE(u1->pins[1].implicit_power && !u1->pins[2].implicit_power);  // only the hidden power input

    // Rotation 90 with mirror x; body style 2 keeps only the alternate and common pins.
    const Component* u2 = byRef(*s, "U2");
    ASSERT_TRUE(u2);
    ASSERT_EQ(u2->pins.size(), 3u);
    EXPECT_EQ(u2->pins[0].number, "9");
    EXPECT_TRUE(u2->graphics.empty());
    // (0, -1, -1, 0) mirrored about x gives (0, -1, 1, 0): library (0, 7.62) -> (92.38, 50)
    EXPECT_NEAR(u2->pins[1].position.x, 92.38, 1e-9);
    EXPECT_NEAR(u2->pins[1].position.y, 50, 1e-9);
    EXPECT_NEAR(u2->pins[1].end.x, 92.38 + 2.54, 1e-9);
    EXPECT_NEAR(u2->pins[1].angle, 0, 1e-9);

    // body_style wins over convert; extends copies the parent's drawing.
    const Component* u3 = byRef(*s, "U3");
    ASSERT_TRUE(u3);
    EXPECT_TRUE(u3->body_style == 1 && u3->pins.size() == 4u);
    EXPECT_EQ(s->lib_symbols[1]->properties.at("Value"), "DualB");

    const Component* pwr = byRef(*s, "#PWR1");
    ASSERT_TRUE(pwr);
    EXPECT_TRUE(pwr->power_symbol && !pwr->pins[0].implicit_power);
}

TEST(KicadLoader, DrawingItemGeometry) {
    auto s = load(R"(
  (arc (start 1 0) (mid 0 1) (end -1 0))
  (arc (start 1 0) (mid 0 -1) (end -1 0))
  (arc (start 0 0) (mid 1 1) (end 2 2))
  (bezier (pts (xy 0 0) (xy 0 10) (xy 10 10) (xy 10 0)))
  (polyline (pts (xy 0 0) (xy 1 0) (xy 1 1)) (fill (type outline)))
  (polyline (pts (xy 0 0)))
  (polyline (pts (xy 0 0) (xy 5 5)) (stroke (width 0.3)))
  (circle (center 3 4) (radius 2))
  (rectangle (start 1 2) (end 3 4)))");
    ASSERT_TRUE(s);
    const auto& g = s->graphics;
    ASSERT_EQ(g.size(), 8u);  // the one-point polyline is dropped
    ASSERT_EQ(g[0].points.size(), 38u);
    EXPECT_NEAR(g[0].points[0].x, 1, 1e-9);
    EXPECT_NEAR(g[0].points[19].y, std::sin(19 * std::numbers::pi / 37), 1e-9);  // sweeps up through (0, 1)
    EXPECT_NEAR(g[0].points[37].x, -1, 1e-9);
    EXPECT_LT(g[1].points[19].y, -0.9);  // the same arc through (0, -1) sweeps down
    ASSERT_EQ(g[2].points.size(), 3u);   // collinear: kept as a polyline
    EXPECT_EQ(g[2].kind, Polyline);
    ASSERT_EQ(g[3].points.size(), 17u);
    EXPECT_NEAR(g[3].points[8].x, 5, 1e-9);
    EXPECT_NEAR(g[3].points[8].y, 7.5, 1e-9);
    EXPECT_TRUE(g[4].kind == Polygon && g[5].kind == Polyline && g[5].width == 0.3);
    EXPECT_TRUE(g[6].kind == Circle && g[6].radius == 2);
    ASSERT_EQ(g[7].points.size(), 4u);
    EXPECT_TRUE(g[7].points[1].x == 3 && g[7].points[1].y == 2);
    for (const GraphicItem& item : g) EXPECT_EQ(item.unit, 0);  // the sheet index
}

TEST(KicadLoader, PropertiesAndFields) {
    auto s = load(std::string(kDualLib) + R"(
  (symbol (lib_id "Amp:Dual") (at 10 20 0) (unit 1) (dnp yes) (in_bom no) (uuid "a")
    (property "Reference" "U{slash}7" (at 1 2 0) (effects (font (size 2 2) bold) (justify left top)))
    (property "Value" "TL072" (at 3 4 90))
    (property "Footprint" "Pkg:SO8" (at 0 0 0))
    (property "Datasheet" "~" (at 0 0 0))
    (property "Description" "dual op-amp" (at 0 0 0))
    (property "ki_keywords" "amp" (at 0 0 0))
    (property "MPN" "" (at 0 0 0))
    (property "Tol" "1%" (at 0 0 0) (hide yes))
    (property "Shown" "yes" (at 5 6 0)))
  (symbol (lib_id "Amp:Dual") (at 10 20 0) (uuid "b") (dnp) (in_bom)
    (property "Reference" "U8" (at 1 2 0))))");
    ASSERT_TRUE(s);
    const Component& c = s->components[0];
    EXPECT_EQ(c.reference + "|" + c.value + "|" + c.footprint + "|" + c.datasheet + "|" + c.description,
              "U/7|TL072|Pkg:SO8|~|dual op-amp");
    EXPECT_TRUE(c.dnp && !c.in_bom);
    EXPECT_EQ(c.properties.count("ki_keywords"), 0u);
    EXPECT_TRUE(c.properties.at("MPN").empty() && c.properties.at("Tol") == "1%");
    // Reference, Value, Footprint (hidden) and the one shown custom property.
    ASSERT_EQ(c.fields.size(), 4u);
    EXPECT_TRUE(c.fields[0].text == "U/7" && c.fields[0].size == 2 && c.fields[0].bold);
    EXPECT_TRUE(c.fields[0].h_justify == -1 && c.fields[0].v_justify == -1);
    EXPECT_DOUBLE_EQ(c.fields[1].angle, 90);
    EXPECT_DOUBLE_EQ(c.fields[1].points[0].x, 3);  // not transformed
    EXPECT_TRUE(c.fields[2].hidden && c.fields[3].text == "yes");
    EXPECT_TRUE(!s->components[1].dnp && s->components[1].in_bom);  // bare (dnp) and (in_bom)
}

TEST(KicadLoader, ReusedSheetsGetTheirOwnReferences) {
    std::string error;
    auto s = openSchematicFile(kFixtures + "reuse_root.kicad_sch", &error);
    ASSERT_TRUE(s) << error;
    ASSERT_EQ(s->sheets.size(), 3u);
    EXPECT_TRUE(s->sheets[1].name == "Left" && s->sheets[2].name == "Right" && s->sheets[1].parent == 0);
    EXPECT_TRUE(s->sheets[1].paper == "A5" && s->sheets[1].version == 20231120);
    ASSERT_EQ(s->sheet_symbols.size(), 3u);
    EXPECT_TRUE(s->sheet_symbols[0].child == 1 && s->sheet_symbols[1].child == 2 && s->sheet_symbols[2].child == -1);
    ASSERT_EQ(s->sheet_symbols[0].pins.size(), 1u);
    const Label& pin = s->labels[s->sheet_symbols[0].pins[0]];
    EXPECT_TRUE(pin.kind == SheetPin && pin.shape == "input" && pin.sheet_symbol == 0);

    const Component* r1 = byRef(*s, "R1");
    const Component* r2 = byRef(*s, "R2");
    ASSERT_TRUE(r1 && r2);
    EXPECT_TRUE(r1->sheet == 1 && r2->sheet == 2 && r1->fields[0].text == "R1");
    EXPECT_FALSE(byRef(*s, "R99"));

    // lib_name picks the embedded copy; lib_id stays the reported name.
    const Component* r10 = byRef(*s, "R10");
    ASSERT_TRUE(r10);
    EXPECT_EQ(r10->lib_id, "Device:R");
    ASSERT_EQ(r10->pins.size(), 1u);
    EXPECT_TRUE(r10->pins[0].name == "A" && r10->pins[0].name_hidden && r10->pins[0].number_size == 0.8);

    const Component* x1 = byRef(*s, "X1");
    ASSERT_TRUE(x1);
    EXPECT_TRUE(x1->pins.empty());
    ASSERT_EQ(x1->graphics.size(), 1u);
    EXPECT_DOUBLE_EQ(x1->graphics[0].points[0].x, 60 - 2.54);

    const std::vector<std::string> expected = {
        "Symbol 'Nowhere:X' for X1 not found in lib_symbols; drawn as a box",
        "Sheet file 'missing_child.kicad_sch' not found next to the root schematic"};
    EXPECT_EQ(s->warnings, expected);

    // Newer elements around them load quietly; the first alias definition wins.
    ASSERT_EQ(s->bus_aliases.count("DATA"), 1u);
    EXPECT_EQ(s->bus_aliases.at("DATA"), (std::vector<std::string>{"D0", "D1", "D/2"}));
    ASSERT_EQ(s->texts.size(), 1u);
    EXPECT_EQ(s->texts[0].v_justify, -1);
    ASSERT_EQ(s->graphics.size(), 1u);
    EXPECT_TRUE(s->graphics[0].points[2].x == 30 && s->graphics[0].points[2].y == 15);
}

TEST(KicadLoader, ASheetUsedManyTimesReadsAlikeOnEveryUse) {
    // Twenty uses of one sheet: past the first few the file's items stay
    // parsed and the instance paths indexed; every use must still find its
    // own reference, the first entry naming one, and fall back alike.
    TempDir t;
    const int uses = 20;
    std::string root = "(kicad_sch (version 20231120) (uuid \"00000000-0000-0000-0000-0000000000aa\")\n";
    std::string paths[2];
    for (int i = 0; i < uses; ++i) {
        char uuid[40];
        std::snprintf(uuid, sizeof uuid, "00000000-0000-0000-0000-%012d", i + 1);
        root += "(sheet (at " + std::to_string(i * 20) + " 0) (size 10 10) (uuid \"" + uuid +
                "\") (property \"Sheetname\" \"S" + std::to_string(i) +
                "\" (at 0 0 0)) (property \"Sheetfile\" \"child.kicad_sch\" (at 0 0 0)))\n";
        const std::string path = std::string("/00000000-0000-0000-0000-0000000000aa/") + uuid;
        if (i == 2 || i == 14) continue;  // no entry for these uses, one before the file is kept, one after
        for (int k = 0; k < 2; ++k) {
            if (i == 3) paths[k] += "(path \"" + path + "\" (reference \"\") (unit 1))";  // names nothing
            paths[k] += "(path \"" + path + "\" (reference \"U" + std::to_string(100 * k + i) + "\") (unit " +
                        std::to_string(k + 1) + "))";
        }
    }
    t.write("root.kicad_sch", root + ")");
    std::string child = std::string("(kicad_sch (version 20231120) (uuid \"00000000-0000-0000-0000-0000000000bb\")\n") +
                        kDualLib + "\n(wire (pts (xy 0 0) (xy 5 0)))\n";
    for (int k = 0; k < 2; ++k)
        child += "(symbol (lib_id \"Amp:Dual\") (at " + std::to_string(30 * k) + " 0 0) (unit " +
                 std::to_string(k + 1) + ") (uuid \"00000000-0000-0000-0000-00000000000" + std::to_string(k) +
                 "\") (property \"Reference\" \"U?\" (at 0 0 0)) (instances (project \"p\" " + paths[k] + ")))\n";
    t.write("child.kicad_sch", child + ")");

    std::string error;
    auto s = openSchematicFile((t.dir / "root.kicad_sch").string(), &error);
    ASSERT_TRUE(s) << error;
    ASSERT_EQ(s->sheets.size(), size_t(uses + 1));
    ASSERT_EQ(s->components.size(), size_t(2 * uses));
    EXPECT_EQ(s->wires.size(), size_t(uses));
    for (const Component& c : s->components) {
        const int use = c.sheet - 1, k = c.unit - 1;
        // Without an entry of its own, a use takes the last one listed under the root, kept or not.
        const std::string want = "U" + std::to_string(100 * k + (use == 2 || use == 14 ? uses - 1 : use));
        EXPECT_EQ(c.reference, want) << "use " << use << " unit " << c.unit;
    }
}

TEST(KicadLoader, EachSheetFileKeepsItsOwnLibrarySymbols) {
    // Three files embed Diode:D_Schottky: the root and "Clamp" an outlined one
    // with a passive cathode, "Supply" a filled one whose cathode is a power
    // output. kicad-cli (KiCad 9.0.8) exports the same pin types.
    std::string error;
    auto s = openSchematicFile(kFixtures + "lib_copies.kicad_sch", &error);
    ASSERT_TRUE(s) << error;
    EXPECT_TRUE(s->warnings.empty());
    const Component *d1 = byRef(*s, "D1"), *d2 = byRef(*s, "D2"), *d3 = byRef(*s, "D3");
    ASSERT_TRUE(d1 && d2 && d3);
    ASSERT_TRUE(d1->pins.size() == 2 && d2->pins.size() == 2 && d3->pins.size() == 2);
    EXPECT_EQ(d1->pins[0].type + " " + d2->pins[0].type + " " + d3->pins[0].type, "passive power_out passive");
    ASSERT_TRUE(!d1->graphics.empty() && !d2->graphics.empty());
    EXPECT_TRUE(d1->graphics[0].kind == Polyline && d2->graphics[0].kind == Polygon);
    // Equal copies are kept once; the name alone still finds the first.
    EXPECT_EQ(s->lib_symbols.size(), 2u);
    EXPECT_TRUE(d1->lib_symbol == d3->lib_symbol && d1->lib_symbol != d2->lib_symbol);
    EXPECT_EQ(s->lib_symbol_index.at("Diode:D_Schottky"), d1->lib_symbol);

    // A derived symbol completes from its own file's parent, and a file without
    // a copy of its own is not drawn from another file's.
    TempDir t;
    t.write("root.kicad_sch", R"((kicad_sch (uuid "r")
      (lib_symbols (symbol "L:P" (symbol "P_1_1" (pin input line (at 0 0 0) (name "I") (number "1"))))
        (symbol "L:Q" (extends "P")) (symbol "L:Z" (pin passive line (at 0 0 0) (number "1"))))
      (sheet (at 0 0) (size 1 1) (uuid "s") (property "Sheetfile" "child.kicad_sch" (at 0 0 0)))))");
    t.write("child.kicad_sch", R"((kicad_sch (uuid "c")
      (lib_symbols (symbol "L:P" (symbol "P_1_1" (pin output line (at 0 0 0) (name "O") (number "1"))))
        (symbol "L:Q" (extends "P")))
      (symbol (lib_id "L:Q") (at 0 0 0) (uuid "q") (property "Reference" "U1" (at 0 0 0)))
      (symbol (lib_id "L:Z") (at 9 9 0) (uuid "z") (property "Reference" "U2" (at 0 0 0)))))");
    s = openSchematicFile((t.dir / "root.kicad_sch").string(), &error);
    ASSERT_TRUE(s) << error;
    const Component* u1 = byRef(*s, "U1");
    ASSERT_TRUE(u1 && u1->pins.size() == 1);
    EXPECT_EQ(u1->pins[0].type + " " + u1->pins[0].name, "output O");
    EXPECT_EQ(s->warnings, std::vector<std::string>{"Symbol 'L:Z' for U2 not found in lib_symbols; drawn as a box"});
}

TEST(KicadLoader, ItemsKeepTheirUuids) {
    // Project settings name single pins, labels, sheet pins and wires by uuid.
    std::string error;
    auto s = openSchematicFile(kFixtures + "erc/erc_sheet_pins.kicad_sch", &error);
    ASSERT_TRUE(s) << error;
    auto id = [](int n, int file) {
        char text[40];
        std::snprintf(text, sizeof text, "%08x-0000-4000-8000-%012d", n, file);
        return std::string(text);
    };
    const Component* r1 = byRef(*s, "R1");
    ASSERT_TRUE(r1 && r1->pins.size() == 2u);
    EXPECT_TRUE(r1->pins[0].uuid.text() == id(2, 2) && r1->pins[1].uuid.text() == id(3, 2));
    ASSERT_TRUE(s->wires.size() >= 1u && s->sheet_symbols.size() == 1u);
    EXPECT_EQ(s->wires[0].uuid.text(), id(5, 2));
    EXPECT_EQ(s->sheet_symbols[0].uuid, id(7, 2));
    EXPECT_EQ(s->labels[s->sheet_symbols[0].pins[1]].uuid.text(), id(9, 2));
    const auto lost = std::find_if(s->labels.begin(), s->labels.end(), [](const Label& l) { return l.text == "LOST"; });
    ASSERT_NE(lost, s->labels.end());
    EXPECT_EQ(lost->uuid.text(), id(12, 3));
    // A pin the placed symbol does not list keeps an empty uuid.
    auto bare = load(std::string(kDualLib) + R"(
  (symbol (lib_id "Amp:Dual") (at 0 0 0) (unit 1) (uuid "u") (pin "1" (uuid "0000ABCD"))
    (property "Reference" "U1" (at 0 0 0))))");
    ASSERT_TRUE(bare && !bare->components.empty());
    for (const Pin& p : bare->components[0].pins)
        EXPECT_EQ(p.uuid.text(), p.number == "1" ? "00000000-0000-0000-0000-00000000abcd" : "") << p.number;
}

TEST(KicadLoader, KiCad6InstanceTableAndLocalisedSheetNames) {
    std::string error;
    auto s = openSchematicFile(kFixtures + "k6_root.kicad_sch", &error);
    ASSERT_TRUE(s) << error;
    EXPECT_TRUE(s->warnings.empty());
    EXPECT_EQ(s->title + "|" + s->comment, "Six|first | second");
    ASSERT_EQ(s->sheets.size(), 3u);
    EXPECT_TRUE(s->sheets[1].name == "Alpha" && s->sheets[2].file == "k6_child.kicad_sch");
    EXPECT_EQ(s->sheets[0].version, 20211123);
    const LibSymbol& lib = *s->lib_symbols[0];
    EXPECT_TRUE(lib.hide_pin_names && lib.hide_pin_numbers && lib.pin_name_offset == 0.254);

    EXPECT_TRUE(byRef(*s, "C1"));
    // Each copy of the reused sheet takes its entry by whole path, unit included.
    const Component* r7 = byRef(*s, "R7");
    const Component* r8 = byRef(*s, "R8");
    ASSERT_TRUE(r7 && r8);
    ASSERT_EQ(r7->pins.size(), 1u);
    EXPECT_TRUE(r7->unit == 2 && r7->pins[0].number == "3" && r8->unit == 1 && r8->sheet == 2);
    // No whole-path entry: the last path segment still names it.
    int r5 = 0;
    for (const Component& c : s->components) r5 += c.reference == "R5";
    EXPECT_EQ(r5, 2);

    // Of rows with the same key the last one in the file counts, by whole path and by uuid alike.
    s = load(std::string(kDualLib) + R"(
  (symbol (lib_id "Amp:Dual") (at 0 0 0) (unit 1) (uuid "a") (property "Reference" "U?" (at 0 0 0)))
  (symbol (lib_id "Amp:Dual") (at 0 0 0) (unit 1) (uuid "b") (property "Reference" "U?" (at 0 0 0)))
  (symbol_instances (path "/a" (reference "U1") (unit 1)) (path "/a" (reference "U2") (unit 2))
    (path "/z/b" (reference "U3")) (path "/y/b" (reference "U4"))))");
    ASSERT_TRUE(s);
    EXPECT_TRUE(byRef(*s, "U2") && byRef(*s, "U2")->unit == 2 && !byRef(*s, "U1"));
    EXPECT_TRUE(byRef(*s, "U4") && !byRef(*s, "U3"));
}

TEST(KicadLoader, HostileHierarchiesEndWithWarnings) {
    std::string error;
    auto s = openSchematicFile(kFixtures + "self_loop.kicad_sch", &error);
    ASSERT_TRUE(s) << error;
    EXPECT_EQ(s->sheets.size(), 1u);
    ASSERT_EQ(s->warnings.size(), 2u);
    EXPECT_NE(s->warnings[0].find("self_loop.kicad_sch"), std::string::npos);

    // A child that includes its parent, and twelve plain levels below that.
    TempDir t;
    t.write("a.kicad_sch", R"((kicad_sch (sheet (at 0 0) (size 1 1) (uuid "x")
      (property "Sheetname" "B" (at 0 0 0)) (property "Sheetfile" "b.kicad_sch" (at 0 0 0)))))");
    t.write("b.kicad_sch", R"((kicad_sch (sheet (at 0 0) (size 1 1) (uuid "y")
      (property "Sheetname" "A" (at 0 0 0)) (property "Sheetfile" "a.kicad_sch" (at 0 0 0)))))");
    s = openSchematicFile((t.dir / "a.kicad_sch").string(), &error);
    ASSERT_TRUE(s);
    EXPECT_TRUE(s->sheets.size() == 2u && s->sheet_symbols.size() == 2u && s->sheet_symbols[1].child == -1);

    for (int i = 0; i < 70; ++i)
        t.write("l" + std::to_string(i) + ".kicad_sch",
                "(kicad_sch (sheet (at 0 0) (size 1 1) (uuid \"u\") (property \"Sheetfile\" \"l" +
                    std::to_string(i + 1) + ".kicad_sch\" (at 0 0 0))))");
    s = openSchematicFile((t.dir / "l4.kicad_sch").string(), &error);
    ASSERT_TRUE(s);
    EXPECT_EQ(s->sheets.size(), 65u);  // the root and 64 levels below it, then a warning
    EXPECT_TRUE(s->sheet_symbols.size() == 65u && s->sheet_symbols.back().child == -1);
    EXPECT_EQ(s->warnings, std::vector<std::string>{
                               "Sheet file 'l69.kicad_sch' not loaded: the hierarchy is deeper than 64 levels"});
    s = openSchematicFile((t.dir / "l40.kicad_sch").string(), &error);
    ASSERT_TRUE(s);
    EXPECT_TRUE(s->sheets.size() == 30u && s->warnings.size() == 1u);  // l69 names a file that is not there

    // A broken sub-sheet is a warning; the root still opens.
    t.write("r.kicad_sch", R"((kicad_sch (sheet (at 0 0) (size 1 1) (uuid "z")
      (property "Sheetfile" "bad.kicad_sch" (at 0 0 0))) (sheet (at 0 0) (size 1 1) (uuid "w")
      (property "Sheetfile" "notkicad.kicad_sch" (at 0 0 0)))))");
    t.write("bad.kicad_sch", "(kicad_sch (junction (at 1 2)) (wire (pts (xy 0 0)");
    t.write("notkicad.kicad_sch", "(eagle)");
    s = openSchematicFile((t.dir / "r.kicad_sch").string(), &error);
    ASSERT_TRUE(s);
    ASSERT_EQ(s->warnings.size(), 2u);
    EXPECT_EQ(s->warnings[0],
              "Sheet '" + (t.dir / "bad.kicad_sch").string() + "': unbalanced parenthesis at line 1, column 51");
    EXPECT_EQ(s->warnings[1], "Sheet '" + (t.dir / "notkicad.kicad_sch").string() + "' is not a kicad_sch file");
    EXPECT_EQ(s->sheets.size(), 3u);
    EXPECT_TRUE(s->junctions.empty());  // nothing of a sheet that breaks further on
}

TEST(KicadLoader, SubSheetPathsAndUnreadableFiles) {
    TempDir t;
    std::filesystem::create_directories(t.dir / "lib");
    t.write("lib/shared.kicad_sch", "(kicad_sch (label \"SHARED\" (at 0 0 0)))");
    std::filesystem::create_directories(t.dir / "folder.kicad_sch");
    mkfifo((t.dir / "pipe.kicad_sch").c_str(), 0600);
    const std::string absolute = (t.dir / "lib" / "shared.kicad_sch").string();
    t.write("root.kicad_sch",
            "(kicad_sch (uuid \"r\") (sheet (at 0 0) (size 1 1) (uuid \"a\") (property \"Sheetfile\" \"" + absolute +
                "\" (at 0 0 0)))\n"
                "(sheet (at 0 0) (size 1 1) (uuid \"b\") (property \"Sheetfile\" \"folder.kicad_sch\"))\n"
                "(sheet (at 0 0) (size 1 1) (uuid \"c\") (property \"Sheetfile\" \"pipe.kicad_sch\")))");
    // However the root is named, an absolute sub-sheet name is found; files
    // that are not regular are refused with the reason, never read.
    const std::filesystem::path cwd = std::filesystem::current_path();
    std::filesystem::current_path(t.dir);
    for (const std::string& root :
         {std::string("root.kicad_sch"), std::string("./root.kicad_sch"), (t.dir / "root.kicad_sch").string()}) {
        std::string error;
        auto s = openSchematicFile(root, &error);
        ASSERT_TRUE(s) << error;
        ASSERT_EQ(s->sheets.size(), 2u) << root;
        EXPECT_EQ(s->labels.size(), 1u);
        EXPECT_EQ(s->warnings,
                  (std::vector<std::string>{"Sheet file 'folder.kicad_sch' cannot be read: is a folder",
                                            "Sheet file 'pipe.kicad_sch' cannot be read: not a regular file"}));
    }
    std::filesystem::current_path(cwd);
}

TEST(KicadLoader, UnescapingIsLinearAndMatchesRepeatedReplacement) {
    // The definition: for each token in turn, replace its first occurrence until none is left.
    auto reference = [](std::string s) {
        for (const auto& [token, ch] : std::vector<std::pair<std::string, char>>{{"{slash}", '/'},
                                                                                 {"{colon}", ':'},
                                                                                 {"{dblquote}", '"'},
                                                                                 {"{bslash}", '\\'},
                                                                                 {"{space}", ' '},
                                                                                 {"{lbrace}", '{'},
                                                                                 {"{rbrace}", '}'}})
            for (size_t at; (at = s.find(token)) != std::string::npos;) s.replace(at, token.size(), 1, ch);
        return s;
    };
    // Random texts made of token pieces, so that replacements complete further tokens.
    const char* pieces[] = {"{", "}", "lbrace", "rbrace", "{slash}", "slash}", "{lbrace}", "{rbrace}", "x", "{space"};
    std::minstd_rand rng(7);
    for (int round = 0; round < 3000; ++round) {
        std::string text;
        for (int k = rng() % 12; k > 0; --k) text += pieces[rng() % std::size(pieces)];
        ASSERT_EQ(unescapeKicadText(text), reference(text)) << text;
    }
    // Three megabytes of escapes decode in one pass.
    std::string many;
    for (int i = 0; i < 400000; ++i) many += "{slash}";
    EXPECT_EQ(unescapeKicadText(many), std::string(400000, '/'));
}

TEST(KicadLoader, LabelsTextsAndUnescaping) {
    EXPECT_EQ(unescapeKicadText("a{slash}b{unknown}"), "a/b{unknown}");
    EXPECT_EQ(unescapeKicadText("{lbrace}lbrace}"), "{");  // a replacement can complete a token
    EXPECT_EQ(unescapeKicadText("{dblquote}x{space}{bslash}{colon}{rbrace}"), "\"x \\:}");

    auto s = load(R"(
  (label "CLK{slash}2" (at 1 2 90) (effects (font (size 2 2)) (justify left bottom)))
  (global_label "VBUS" (shape input) (at 3 4 180) (fields_autoplaced) (effects (font (size 1.27 1.27)))
    (property "Intersheetrefs" "${INTERSHEET_REFS}" (at 0 0 0) (effects (font (size 1.27 1.27)) (hide yes))))
  (hierarchical_label "H" (shape output) (at 5 6 0))
  (text "free	text" (at 7 8 0) (effects (font (size 1.524 1.524)) (justify right)))
  (wire (pts (xy 0 0) (xy 10 0) (xy 10 10)) (stroke (width 0.1) (type solid)))
  (bus (pts (xy 0 20) (xy 10 20)))
  (junction (at 10 0) (diameter 0))
  (no_connect (at 10 10))
  (bus_entry (at 10 20) (size 2.54 2.54)))");
    ASSERT_TRUE(s);
    ASSERT_EQ(s->labels.size(), 3u);
    const auto& l = s->labels;
    EXPECT_TRUE(l[0].text == "CLK/2" && l[0].kind == Local && l[0].size == 2 && l[0].angle == 90);
    EXPECT_TRUE(l[1].kind == Global && l[1].shape == "input" && l[2].kind == Hierarchical && l[2].size == 1.27);
    ASSERT_EQ(s->texts.size(), 1u);
    EXPECT_TRUE(s->texts[0].h_justify == 1 && s->texts[0].v_justify == 1 && s->texts[0].size == 1.524);
    ASSERT_EQ(s->wires.size(), 3u);  // a three-point wire is two segments
    EXPECT_TRUE(!s->wires[1].bus && s->wires[1].a.x == 10 && s->wires[1].b.y == 10 && s->wires[0].width == 0.1);
    EXPECT_TRUE(s->wires[2].bus && s->junctions.size() == 1u && s->no_connects.size() == 1u);
    ASSERT_EQ(s->bus_entries.size(), 1u);
    EXPECT_DOUBLE_EQ(s->bus_entries[0].size.y, 2.54);
}

TEST(KicadLoader, DamagedNumbersAndBytesNeverBreakLoading) {
    std::string error;
    std::string body = std::string(kDualLib) + R"(
  (symbol (lib_id "Amp:Dual") (at nan 100 inf) (unit 1e30) (uuid "n")
    (property "Reference" "U@FF@" (at nan nan nan)))
  (wire (pts (xy nan 0) (xy 1e300 -1e300)))
  (label "@C3@" (at abc def))
  (symbol (lib_id "Amp:Dual") (at 1 2 0) (unit -5) (uuid "m")))";
    body.replace(body.find("@FF@"), 4, "\xff\xfe");
    body.replace(body.find("@C3@"), 4, "\xc3");
    auto s = load(body, &error);
    ASSERT_TRUE(s) << error;
    ASSERT_EQ(s->components.size(), 2u);
    EXPECT_TRUE(s->components[0].position.x == 0 && s->components[0].position.y == 100);  // unreadable: default
    EXPECT_TRUE(s->components[0].reference == "U\xff\xfe" && s->labels[0].text == "\xc3");
    EXPECT_TRUE(s->wires.empty());  // it reaches 1e300: left out, with a warning
    EXPECT_EQ(s->warnings.back().rfind("1 item lies more than a kilometre", 0), 0u);
    // An absurd unit selects only the common items.
    EXPECT_TRUE(s->components[0].pins.size() == 2u && s->components[1].pins.size() == 2u);
}

TEST(KicadLoader, PaperNamesSizesAndOrientation) {
    struct Case {
        const char* paper;
        std::string name;
        Point size;
        bool portrait;
    };
    for (const Case& c :
         {Case{"(paper \"A3\" portrait)", "A3", {0, 0}, true}, Case{"(paper \"USLetter\")", "USLetter", {0, 0}, false},
          Case{"(paper \"User\" 500 320.5)", "User", {500, 320.5}, false},
          Case{"(paper \"User\" wide)", "User", {0, 0}, false}, Case{"", "", {0, 0}, false}}) {
        auto s = load(c.paper);
        ASSERT_TRUE(s) << c.paper;
        const Sheet& sh = s->sheets[0];
        EXPECT_EQ(sh.paper, c.name) << c.paper;
        EXPECT_TRUE(sh.paper_size.x == c.size.x && sh.paper_size.y == c.size.y) << c.paper;
        EXPECT_EQ(sh.paper_portrait, c.portrait) << c.paper;
    }
}

TEST(KicadLoader, SmallReaders) {
    Schematic s;
    s.sheets.resize(1);
    KicadLoadContext ctx;
    ctx.schematic = &s;
    loadKicadSheet(ctx, "junk", "a.kicad_sch", 0);
    loadKicadSheet(ctx, "(kicad_sch (paper \"A3\") (junction (at 1 2)))", "b.kicad_sch", 0);
    EXPECT_EQ(s.warnings,
              std::vector<std::string>{"Sheet 'a.kicad_sch': expected a list at top level at line 1, column 1"});
    EXPECT_EQ(s.sheets[0].paper, "A3");
    EXPECT_EQ(s.junctions.size(), 1u);

    bool ok = true;
    EXPECT_EQ(readTextFile("/no/such/file", ok), "");
    EXPECT_FALSE(ok);
    EXPECT_EQ(readTextFile(kFixtures + "self_loop.kicad_sch", ok).substr(0, 10), "(kicad_sch");
    EXPECT_TRUE(ok);

    for (auto [name, unit, style] : std::vector<std::tuple<std::string, int, int>>{
             {"LED_0_1", 0, 1}, {"Conn_01x02_2_1", 2, 1}, {"LED_1", 0, 0}, {"LED_x_1", 0, 0}, {"LED_3_b", 3, 0}}) {
        int u = -1, st = -1;
        subSymbolUnitStyle(name, u, st);
        EXPECT_TRUE(u == unit && st == style) << name;
    }
}

}  // namespace
}  // namespace nl

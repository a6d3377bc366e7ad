#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "app/cli.h"
#include "fixtures/run_netloom.h"
#include "model/load_budget.h"
#include "open/schematic_open.h"

namespace nl {
namespace {

std::string errorOf(std::string_view text, const std::string& path = "x.sch") {
    std::string error = "untouched";
    EXPECT_FALSE(loadSchematicText(text, path, &error));
    return error;
}

TEST(OpenSchematic, FormatDetectionAndErrors) {
    const std::string unrecognised = "Unrecognised schematic format (expected KiCad .kicad_sch or Eagle XML .sch)";
    EXPECT_EQ(errorOf(""), unrecognised);
    EXPECT_EQ(errorOf(std::string_view("\x00\x01\x02 garbage", 11)), unrecognised);
    // The marker must lie in the first 512 bytes (after any blank lines and byte-order mark).
    EXPECT_EQ(errorOf("(comment " + std::string(600, 'x') + ") (kicad_sch (version 1))"), unrecognised);
    EXPECT_EQ(errorOf("EESchema Schematic File Version 4\n"),
              "Legacy KiCad 5 .sch files are not supported yet. Open it in KiCad 6+ and save it as .kicad_sch.");
    // XML that is not Eagle goes to the Eagle loader, which has its own word.
    const std::string xml = errorOf("<?xml version=\"1.0\"?><svg/>");
    EXPECT_NE(xml, unrecognised);
    EXPECT_FALSE(xml.empty());

    EXPECT_EQ(errorOf("(kicad_sch (version 2"), "Parse error: unbalanced parenthesis at line 1, column 22");
    EXPECT_EQ(errorOf("(foo (kicad_sch))"), "Not a KiCad schematic (expected (kicad_sch ...))");
    EXPECT_EQ(errorOf("(kicad_sch\n"), "Parse error: unbalanced parenthesis at line 2, column 1");

    std::string error;
    EXPECT_FALSE(openSchematicFile("/no/such/dir/x.kicad_sch", &error));
    EXPECT_EQ(error, "Cannot read file: /no/such/dir/x.kicad_sch (No such file or directory)");
    EXPECT_FALSE(openSchematicFile(std::filesystem::temp_directory_path().string(), &error));
    EXPECT_FALSE(loadSchematicText("", "x", nullptr));  // no error text: silent

    // Success leaves the error text alone; no title block: the file name.
    error = "kept";
    auto s = loadSchematicText("(kicad_sch (version 20231120))", "C:\\designs\\board.kicad_sch", &error);
    ASSERT_TRUE(s);
    EXPECT_EQ(error + "|" + s->format + "|" + s->path, "kept|kicad|C:\\designs\\board.kicad_sch");
    ASSERT_EQ(s->sheets.size(), 1u);
    EXPECT_EQ(s->title + "|" + s->sheets[0].name + "|" + s->sheets[0].file, "board.kicad_sch|Root|board.kicad_sch");
    EXPECT_TRUE(s->sheets[0].parent == -1 && !s->sheets[0].bbox.valid());
    auto t = loadSchematicText("(kicad_sch (version 20231120))", "C:/designs/board.kicad_sch", &error);
    ASSERT_TRUE(t);
    EXPECT_EQ(t->sheets[0].file, s->sheets[0].file);
}

TEST(OpenSchematic, SampleDesignFacts) {
    auto s = loadSampleSchematic();
    ASSERT_TRUE(s);
    EXPECT_TRUE(s->warnings.empty() && s->sheets[0].bbox.valid());
    EXPECT_EQ(s->path + "|" + s->title + "|" + s->date,
              "<built-in sample>|555 LED Blinker \xE2\x80\x94 Netloom Demo|2026-11-04");
    EXPECT_EQ(s->sheets[0].file + "|" + s->sheets[0].paper + "|" + std::to_string(s->sheets[0].version),
              "555_blinker.kicad_sch|A4|20230121");
    EXPECT_EQ(std::to_string(s->components.size()) + " " + std::to_string(s->lib_symbols.size()) + " " +
                  std::to_string(s->wires.size()) + " " + std::to_string(s->junctions.size()) + " " +
                  std::to_string(s->labels.size()) + " " + std::to_string(s->texts.size()),
              "12 7 27 8 3 1");
    EXPECT_DOUBLE_EQ(s->components[0].pins[7].position.x, 110.49);  // U1 VCC
    EXPECT_DOUBLE_EQ(s->components[0].pins[7].position.y, 74.93);
    EXPECT_DOUBLE_EQ(s->components[1].fields[0].angle, 90);
    EXPECT_TRUE(s->components[7].pins[0].name_hidden && s->components[7].fields[0].hidden);  // #PWR01
}

TEST(OpenSchematic, CommandLineInput) {
    std::string error;
    SchematicPtr a = openInput("sample", error);
    SchematicPtr b = openInput("--sample", error);
    ASSERT_TRUE(a && b);
    EXPECT_EQ(a->path, "<built-in sample>");
    EXPECT_NE(a.get(), b.get());
    EXPECT_FALSE(openInput("missing.kicad_sch", error));
    EXPECT_EQ(error, "Cannot read file: missing.kicad_sch (No such file or directory)");
    EXPECT_FALSE(openInput("/dev/zero", error));
    EXPECT_EQ(error, "Cannot read file: /dev/zero (not a regular file)");

    nltest::RunResult r = nltest::runNetloom({"--list-nets", "sample"});
    EXPECT_EQ(r.status, 0);
    std::string expected;
    for (const Net& net : a->nets)
        expected += net.name + (net.power ? "\tpower\t" : "\tsignal\t") + std::to_string(net.pins.size()) + " pins\t" +
                    std::to_string(net.wires.size()) + " wires\n";
    EXPECT_EQ(r.out, expected);
    EXPECT_EQ(r.err, "");
    r = nltest::runNetloom({"--list-components", "--sample"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out.substr(0, r.out.find('\n') + 1), "U1\tNE555\tintegrated circuit\t\n");
    EXPECT_EQ(r.out.find("#PWR"), std::string::npos);
    // A second unit of a part is not listed again.
    r = nltest::runNetloom(
        {"--list-components", std::string(NETLOOM_SOURCE_DIR) + "/tests/fixtures/kicad/k6_root.kicad_sch"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out.find("R7\t"), std::string::npos);
    EXPECT_NE(r.out.find("R8\t\t"), std::string::npos);
    EXPECT_NE(r.out.find("C1\t100n\t"), std::string::npos);
}

TEST(OpenSchematic, ByteOrderMarkAndLeadingBlanks) {
    const std::string kicad(sampleSchematicText());
    const std::string eagle =
        "<?xml version=\"1.0\"?>\n<eagle version=\"9\"><drawing><schematic><sheets><sheet/>"
        "</sheets></schematic></drawing></eagle>";
    for (const std::string& lead : {std::string("\xEF\xBB\xBF"), std::string("\xEF\xBB\xBF\r\n\t "),
                                    std::string(4000, '\n'), std::string(600, ' ')}) {
        std::string error;
        auto k = loadSchematicText(lead + kicad, "x.kicad_sch", &error);
        ASSERT_TRUE(k) << error;
        EXPECT_EQ(k->components.size(), 12u);
        auto e = loadSchematicText(lead + eagle, "x.sch", &error);
        ASSERT_TRUE(e) << error;
        EXPECT_EQ(e->format, "eagle");
    }
}

TEST(OpenSchematic, ItemsBeyondAnyDrawingAreLeftOut) {
    const std::string lib =
        "(lib_symbols (symbol \"D:R\" (symbol \"R_1_1\" (rectangle (start -1 -2) (end 1 2))"
        " (pin passive line (at 0 3 270) (length 1) (name \"~\") (number \"1\"))"
        " (pin passive line (at 0 1e300 90) (length 1) (name \"~\") (number \"2\")))))";
    std::string error;
    auto s =
        loadSchematicText("(kicad_sch (version 20231120) (uuid \"r\")" + lib +
                              "(wire (pts (xy 0 0) (xy 10 0))) (wire (pts (xy 10 0) (xy 4.3e10 4.3e10)))"
                              "(junction (at 1e308 0)) (no_connect (at 0 -1e308)) (bus_entry (at 0 0) (size 2e6 0))"
                              "(label \"IN\" (at 0 0 0)) (label \"FAR\" (at 0 2e6 0)) (text \"t\" (at 0 0 0) (effects "
                              "(font (size 1e7 1e7))))"
                              "(circle (center 0 0) (radius 1e300)) (polyline (pts (xy 0 0) (xy 1 1)))"
                              "(symbol (lib_id \"D:R\") (at 10 0 0) (property \"Reference\" \"R1\" (at 1e9 0 0)))"
                              "(symbol (lib_id \"D:R\") (at -1e308 0 0) (property \"Reference\" \"R2\" (at 0 0 0)))"
                              "(sheet (at 1e12 0) (size 10 10) (uuid \"s\") (pin \"P\" input (at 1e12 5 180)))"
                              "(sheet (at 50 0) (size 10 10) (uuid \"t\") (pin \"Q\" input (at 50 5 180))))",
                          "far.kicad_sch", &error);
    ASSERT_TRUE(s) << error;
    EXPECT_EQ(s->warnings, std::vector<std::string>{"12 items lie more than a kilometre from the sheet's origin (or is "
                                                    "that large) and were left out"});
    EXPECT_EQ(s->wires.size() + s->junctions.size() + s->no_connects.size() + s->bus_entries.size(), 1u);
    EXPECT_EQ(s->texts.size() + s->graphics.size(), 1u);
    ASSERT_EQ(s->components.size(), 1u);
    EXPECT_EQ(s->components[0].pins.size(), 1u);
    EXPECT_TRUE(s->components[0].fields.empty());
    // The nearer sheet symbol keeps its pin, renumbered.
    ASSERT_EQ(s->sheet_symbols.size(), 1u);
    ASSERT_EQ(s->labels.size(), 2u);
    ASSERT_EQ(s->sheet_symbols[0].pins, std::vector<int>{1});
    EXPECT_EQ(s->labels[1].text + std::to_string(s->labels[1].sheet_symbol), "Q0");
    EXPECT_TRUE(s->sheets[0].bbox.valid() && s->sheets[0].bbox.max_x < 1e3);
}

TEST(OpenSchematic, RecordsAreBoundedByTheDesignsSize) {
    // A symbol of 2,000 pins placed 520 times: 1.04 million pins from 110 kB.
    std::string pins, placed, fewer, quarter;
    for (int i = 0; i < 2000; ++i) {
        pins += "(pin passive line (at 0 " + std::to_string(i) + " 0) (length 1))";
        if (i == 499) quarter = pins;
    }
    for (int i = 0; i < 520; ++i) {
        placed += "(symbol (lib_id \"B:U\") (at " + std::to_string(i) + " 0 0))";
        if (i == 19) fewer = placed;
    }
    const std::string head = "(kicad_sch (lib_symbols (symbol \"B:U\" (symbol \"U_1_1\" " + pins + ")))";
    std::string error;
    EXPECT_FALSE(loadSchematicText(head + placed + ")", "big.kicad_sch", &error));
    EXPECT_EQ(error,
              "Design too large: it would need more than 1000000 pins, drawing items, bus members and other "
              "records, the limit for 0.1 MB of schematic files; it was not opened");
    // The same symbol placed 20 times is an ordinary design.
    auto s = loadSchematicText(head + fewer + ")", "big.kicad_sch", &error);
    ASSERT_TRUE(s) << error;
    EXPECT_EQ(s->components.size(), 20u);

    // Many symbols extending one large parent, and one long text placed many times.
    std::string children, texts;
    for (int i = 0; i < 2100; ++i) children += "(symbol \"B:C" + std::to_string(i) + "\" (extends \"U\"))";
    const std::string parent = "(symbol \"B:U\" (symbol \"U_1_1\" " + quarter + "))";
    EXPECT_FALSE(loadSchematicText("(kicad_sch (lib_symbols " + parent + children + "))", "ext.kicad_sch", &error));
    EXPECT_EQ(error.rfind("Design too large: ", 0), 0u) << error;
    for (int i = 0; i < 1100; ++i) texts += "(symbol (lib_id \"T:T\") (at " + std::to_string(i) + " 0 0))";
    EXPECT_FALSE(loadSchematicText("(kicad_sch (lib_symbols (symbol \"T:T\" (symbol \"T_0_1\" (text \"" +
                                       std::string(65536, 't') + "\" (at 0 0 0))))) " + texts + ")",
                                   "text.kicad_sch", &error));
    EXPECT_EQ(error.rfind("Design too large: ", 0), 0u) << error;

    // Bus labels of a thousand signals each, 1,050 of them: 1.05 million members.
    std::string labels;
    for (int i = 0; i < 1050; ++i) labels += "(label \"D[0..999]\" (at " + std::to_string(i * 5) + " 0 0))";
    EXPECT_FALSE(loadSchematicText("(kicad_sch " + labels + ")", "bus.kicad_sch", &error));
    EXPECT_EQ(error.rfind("Design too large: it would need more than 1000000 ", 0), 0u) << error;

    LoadBudget budget(40'000'000);
    EXPECT_EQ(budget.limit(), 10'000'000u);
    EXPECT_TRUE(budget.charge(9'999'999));
    EXPECT_FALSE(budget.charge(2));
    EXPECT_FALSE(budget.charge(0));  // spent for good
    EXPECT_TRUE(budget.exceeded);
}

TEST(OpenSchematic, TruncatedAndFlippedSampleNeverFails) {
    // Every cut of the demo either opens (with warnings at most) or fails with a message.
    const std::string text(sampleSchematicText());
    for (size_t cut = 0; cut < text.size(); cut += 97) {
        std::string error;
        auto s = loadSchematicText(std::string_view(text).substr(0, cut), "cut.kicad_sch", &error);
        EXPECT_TRUE(s || !error.empty()) << cut;
    }
    std::string flipped = text;
    for (size_t i = 11; i < flipped.size(); i += 13) flipped[i] = static_cast<char>(flipped[i] ^ 0x5a);
    std::string error;
    auto s = loadSchematicText(flipped, "flip.kicad_sch", &error);
    EXPECT_TRUE(s || !error.empty());
}

}  // namespace
}  // namespace nl

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>

#include "app/drawing_commands.h"
#include "fixtures/run_netloom.h"

using namespace nl;
using nltest::runNetloom;

namespace {

// Root with two instances of one file (left, right) and a child below the left one.
Schematic hierarchy() {
    Schematic s;
    s.format = "kicad";
    s.path = "/designs/Amp Board.kicad_sch";
    s.sheets.resize(5);
    const char* names[] = {"Root", "left", "Left", "inner", "inner"};
    const int parents[] = {-1, 0, 0, 1, 2};
    for (int i = 0; i < 5; ++i) s.sheets[i].name = names[i], s.sheets[i].parent = parents[i];
    s.sheets[1].file = s.sheets[2].file = "half.kicad_sch";
    return s;
}

std::vector<int> all(const Schematic& s) {
    std::vector<int> v;
    for (size_t i = 0; i < s.sheets.size(); ++i) v.push_back(static_cast<int>(i));
    return v;
}

// A scratch folder removed at the end of the test.
struct TempDir {
    std::filesystem::path dir;
    TempDir() {
        dir = std::filesystem::temp_directory_path() /
              ("netloom_drawings_" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        std::filesystem::remove_all(dir);
        std::filesystem::create_directories(dir);
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(dir, ec);
    }
    std::string operator/(const std::string& name) const { return (dir / name).string(); }
};

const std::string kReuse = std::string(NETLOOM_SOURCE_DIR) + "/tests/fixtures/kicad/reuse_root.kicad_sch";

}  // namespace

// Malformed modifiers are checked through the program with the usage text (test_cli.cpp).
TEST(DrawingCommands, ModifiersParsed) {
    DrawingRequest r;
    ASSERT_TRUE(parseDrawingRequest(
        {"--png", "in", "out", "--sheet", "x", "--theme", "a", "--theme", "Paper", "--width", "640", "--frame"}, r));
    EXPECT_TRUE(r.format == "png" && r.file == "in" && r.out == "out" && r.sheet == "x" && r.theme == "Paper" &&
                r.width == "640" && r.frame);
    ASSERT_TRUE(
        parseDrawingRequest({"--svg", "in", "out", "--sheet", "--frame"}, r));  // a value, whatever it looks like
    EXPECT_TRUE(r.sheet == "--frame" && !r.frame);
    EXPECT_TRUE(parseDrawingRequest({"--pdf", "in", "out", "--frame"}, r));  // the PDF has it anyway
    EXPECT_FALSE(parseDrawingRequest({"--svg", "in", "out", "extra"}, r));
}

TEST(DrawingCommands, SheetsByIndexPathOrName) {
    const Schematic s = hierarchy();
    struct Case {
        std::string wanted;
        int sheet;
    };
    for (const Case& c :
         {Case{"0", 0}, Case{"3", 3}, Case{"/", 0}, Case{"/left/", 1}, Case{"/Left", 2}, Case{"/left/inner/", 3},
          Case{"/Left/inner", 4}, Case{"left", 1}, Case{"Left", 2}, Case{"ROOT", 0}}) {
        std::string error;
        EXPECT_EQ(resolveSheetArgument(s, c.wanted, &error), c.sheet) << c.wanted << ": " << error;
    }
    std::string error;
    // A "/" in a name is written {slash}; the path the window shows has the "/" itself.
    Schematic slashed = hierarchy();
    slashed.sheets[3].name = "I{slash}O";
    for (const char* path : {"/left/I{slash}O/", "/left/I/O/", "/left/I/O"})
        EXPECT_EQ(resolveSheetArgument(slashed, path, &error), 3) << path << ": " << error;
    EXPECT_EQ(resolveSheetArgument(s, "LEFT", &error), -1);  // fits left and Left once case is ignored
    EXPECT_EQ(error, "Sheet name 'LEFT' fits several sheets; give its path:\n  1  /left/\n  2  /Left/");
    EXPECT_EQ(resolveSheetArgument(s, "inner", &error), -1);
    EXPECT_NE(error.find("/left/inner/"), std::string::npos);
    for (const std::string unknown : {"5", "/left/inner/x", "", "99999999999"}) {
        EXPECT_EQ(resolveSheetArgument(s, unknown, &error), -1) << unknown;
        EXPECT_EQ(error.rfind("No sheet '" + unknown +
                                  "' in the design. Its sheets:\n  0  /  ()\n  1  /left/  "
                                  "(half.kicad_sch)\n",
                              0),
                  0u)
            << error;
    }
}

TEST(DrawingCommands, FileNamesSafeAndUnique) {
    Schematic s = hierarchy();
    EXPECT_EQ(sheetFileNames(s, all(s), ".svg"),
              (std::vector<std::string>{"Amp_Board.svg", "Amp_Board-left.svg", "Amp_Board-Left-2.svg",
                                        "Amp_Board-left-inner.svg", "Amp_Board-Left-inner-2.svg"}));
    // Characters Windows refuses, device names, blanks and dots at the ends, and very long names.
    s.path = "C:\\work\\con.kicad_sch";
    s.sheets[1].name = "a<b>:c\"d|e?f*g\\h";
    s.sheets[2].name = " ..Power. ";
    s.sheets[3].name = std::string(200, 'x');
    s.sheets[4].name = "\xc3\xa9t\xc3\xa9";
    const std::vector<std::string> names = sheetFileNames(s, all(s), ".png");
    EXPECT_EQ(names[0], "con_.png");
    EXPECT_EQ(names[1], "con-a_b_c_d_e_f_g_h.png");
    EXPECT_EQ(names[2], "con-Power.png");
    EXPECT_EQ(names[3], "con-a_b_c_d_e_f_g_h-" + std::string(60, 'x') + ".png");
    EXPECT_EQ(names[4], "con-Power-t.png");
    s.path = "<built-in sample>/";
    EXPECT_EQ(sheetFileNames(s, {0}, ".svg")[0], "design.svg");
}

TEST(DrawingCommands, CommandLineRunsAndRefusals) {
    TempDir tmp;
    // One sheet by path, the theme overridden for this run only, the frame added.
    auto r = runNetloom({"--svg", kReuse, tmp / "right.svg", "--sheet", "/Right/", "--theme", "BluePrint", "--frame"});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string svg = nltest::slurp(tmp / "right.svg");
    EXPECT_EQ(r.out, "Wrote " + (tmp / "right.svg") + " (" + std::to_string(svg.size()) + " bytes)\n");
    EXPECT_NE(svg.find("fill=\"#0e2454\""), std::string::npos);  // blueprint background
    EXPECT_NE(svg.find(">Sheet: /Right/</text>"), std::string::npos);
    EXPECT_NE(svg.find(" width=\"2000\" height=\"1410\" "), std::string::npos);  // the child's A5 page

    // A folder takes every sheet, one "Wrote" line each.
    r = runNetloom({"--svg", kReuse, tmp.dir.string()});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::regex wrote("Wrote (.*) \\((\\d+) bytes\\)");
    int files = 0;
    for (std::sregex_iterator it(r.out.begin(), r.out.end(), wrote), end; it != end; ++it, ++files)
        EXPECT_EQ(std::to_string(std::filesystem::file_size((*it)[1].str())), (*it)[2].str());
    EXPECT_EQ(files, 3);
    EXPECT_NE(r.out.find("reuse_root-Right.svg"), std::string::npos);

    struct Refusal {
        std::vector<std::string> args;
        std::string err;
    };
    const std::string nowhere = tmp / "no/such/dir/x.svg";
    for (const Refusal& f : std::vector<Refusal>{
             {{"--svg", "sample", tmp / "x.svg", "--theme", "neon"},
              "Error: Unknown theme 'neon'; the themes are dark, light, blueprint and paper\n"},
             {{"--png", "sample", tmp / "x.png", "--width", "2000px"},
              "Error: --width takes a whole number of pixels from 100 to 20000, not '2000px'\n"},
             {{"--png", "sample", tmp / "x.png", "--width", "20001"},
              "Error: --width takes a whole number of pixels from 100 to 20000, not '20001'\n"},
             {{"--svg", "sample", tmp / "x.svg", "--sheet", "/gone/"},
              "Error: No sheet '/gone/' in the design. Its sheets:\n  0  /  (555_blinker.kicad_sch)\n"},
             {{"--svg", "sample", nowhere}, "Error: cannot write " + nowhere + ": No such file or directory\n"},
         }) {
        r = runNetloom(f.args);
        EXPECT_EQ(r.status, 1) << f.args[4];
        EXPECT_EQ(r.err, f.err);
        EXPECT_EQ(r.out, "");
    }
    // A design without sheets has nothing to put into a folder or a PDF.
    const std::string empty = tmp / "empty.sch";
    std::ofstream(empty) << "<?xml version=\"1.0\"?>\n<eagle version=\"9.6\"><drawing><schematic><libraries/>"
                            "<parts/><sheets/></schematic></drawing></eagle>\n";
    for (const char* format : {"--svg", "--pdf"}) {
        r = runNetloom({format, empty, tmp.dir.string()});
        EXPECT_TRUE(r.status == 1 && r.out.empty()) << format;
        EXPECT_EQ(r.err, "Error: the design has no sheets\n") << format;
    }
    r = runNetloom({"--pdf", "sample", tmp.dir.string()});  // a folder is no PDF file
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err.rfind("Error: cannot write " + tmp.dir.string(), 0), 0u) << r.err;
    EXPECT_FALSE(std::filesystem::exists(tmp / "x.svg") || std::filesystem::exists(tmp / "x.png"));
}

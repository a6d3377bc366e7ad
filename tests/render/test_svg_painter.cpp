#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <limits>
#include <regex>

#include "fixtures/run_netloom.h"
#include "open/schematic_open.h"
#include "render/svg_painter.h"

using namespace nl;

TEST(Svg, DocumentSizeAndBackground) {
    Schematic s;
    s.sheets.push_back({});
    std::string doc = renderSvg(s, 0, Settings{}, nullptr, 2000);
    EXPECT_EQ(doc,
              "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
              "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"2000\" height=\"2000\" viewBox=\"0 0 2000 2000\">\n"
              "<rect x=\"0\" y=\"0\" width=\"2000\" height=\"2000\" stroke=\"none\" fill=\"#0c0e11\" "
              "fill-opacity=\"1.000\"/>\n</svg>\n");
    // Height follows the box's aspect, rounded half away from zero: box 112 x 62 with the margin.
    s.sheets[0].bbox = {0, 0, 100, 50};
    EXPECT_NE(renderSvg(s, 0, Settings{}, nullptr, 1000).find("width=\"1000\" height=\"554\" viewBox=\"0 0 1000 554\""),
              std::string::npos);  // 553.57
    Settings light;
    light.theme = "Light";
    EXPECT_NE(renderSvg(s, 0, light, nullptr, 100).find("fill=\"#ffffff\""), std::string::npos);
}

TEST(Svg, ShapeElementsStrokeAndFill) {
    SvgPainter p(10, {1, 2});
    p.setPen({1, 0, 0, 0.5}, 0.001);
    p.drawLine({1, 2}, {2.5, 3});
    p.noPen();
    p.setBrush({0, 0, 1, 0.25});
    p.drawCircle({2, 2}, 0.5);
    p.setPen({0, 1, 0, 1}, 0.2);
    p.setDashed(true);
    p.noBrush();
    p.drawRect({3, 4}, {1, 2});
    p.drawPolyline({{1, 2}}, false);  // a single point writes nothing
    p.drawPolyline({{1, 2}, {2, 2}, {2, 3}}, true);
    p.setDashed(false);
    p.drawPolyline({{1, 2}, {2, 2}}, false);
    const std::string expected =
        "<line x1=\"0\" y1=\"0\" x2=\"15\" y2=\"10\" stroke=\"#ff0000\" stroke-opacity=\"0.500\" "
        "stroke-width=\"0.0500\" stroke-linecap=\"round\" stroke-linejoin=\"round\"/>\n"
        "<circle cx=\"10\" cy=\"0\" r=\"5\" stroke=\"none\" fill=\"#0000ff\" fill-opacity=\"0.250\"/>\n"
        "<rect x=\"0\" y=\"0\" width=\"20\" height=\"20\" stroke=\"#00ff00\" stroke-opacity=\"1.000\" "
        "stroke-width=\"2.0000\" stroke-linecap=\"round\" stroke-linejoin=\"round\" stroke-dasharray=\"4,3\" "
        "fill=\"none\"/>\n"
        "<polygon points=\"0,0 10,0 10,10 \" stroke=\"#00ff00\" stroke-opacity=\"1.000\" stroke-width=\"2.0000\" "
        "stroke-linecap=\"round\" stroke-linejoin=\"round\" stroke-dasharray=\"4,3\" fill=\"none\"/>\n"
        "<polyline points=\"0,0 10,0 \" stroke=\"#00ff00\" stroke-opacity=\"1.000\" stroke-width=\"2.0000\" "
        "stroke-linecap=\"round\" stroke-linejoin=\"round\" fill=\"none\"/>\n";
    EXPECT_EQ(p.body(), expected);

    // Numbers in general notation; colour components 255 x c + 0.5 truncated, out-of-range ones clamped.
    SvgPainter q(1, {0, 0});
    q.setPen({0.5, 0.2, 0.8, 1}, 1);
    q.drawLine({12.5, 0.0001}, {1234567, -0.000012345});
    q.setPen({2, -1, 0.999, 1}, 1);
    q.drawLine({0, 0}, {1, 1});
    EXPECT_NE(q.body().find("x1=\"12.5\" y1=\"0.0001\" x2=\"1.23457e+06\" y2=\"-1.2345e-05\" stroke=\"#8033cc\""),
              std::string::npos)
        << q.body();
    EXPECT_NE(q.body().find("stroke=\"#ff00ff\""), std::string::npos);
}

TEST(Svg, TextElements) {
    SvgPainter p(2, {0, 0});
    p.drawText("", {1, 1}, 1, 0, 0, 0, false, {1, 1, 1, 1});  // writes nothing
    p.drawText("R&D <1> \"q\"", {10, 20}, 2, 0, -1, -1, false, {1, 1, 1, 0.3});
    p.drawText("U1", {10, 20}, 2, 90, 0, 0, true, {0, 0, 0, 1});
    p.drawText("X", {10.123, 20.456}, 1, 45.5, 1, 1, false, {0, 0, 0, 1});
    const std::string expected =
        "<text x=\"20\" y=\"39\" font-size=\"4\" fill=\"#ffffff\" fill-opacity=\"0.3\" text-anchor=\"start\" "
        "font-family=\"monospace\">R&amp;D &lt;1&gt; \"q\"</text>\n"
        "<text x=\"20\" y=\"41.32\" font-size=\"4\" fill=\"#000000\" fill-opacity=\"1\" text-anchor=\"middle\" "
        "font-family=\"monospace\" font-weight=\"bold\" transform=\"rotate(-90 20 40)\">U1</text>\n"
        "<text x=\"20.246\" y=\"42.712\" font-size=\"2\" fill=\"#000000\" fill-opacity=\"1\" text-anchor=\"end\" "
        "font-family=\"monospace\" transform=\"rotate(-45.5 20.25 40.91)\">X</text>\n";
    EXPECT_EQ(p.body(), expected);
}

TEST(Svg, StyledRunsBecomeTspansOfOneSearchableLine) {
    SvgPainter p(10, {0, 0});
    const TextRun runs[] = {{"V"}, {"BAT", -1}, {"&2", 1}, {"RST", 0, true}, {""}, {"x"}};
    p.drawTextLine(runs, {1, 2}, 1, 0, 0, 1, false, {0, 0, 0, 1});
    // Sizes and shifts follow the runs; each shift is undone by the next run's, so the line
    // stays one chunk that text-anchor centres as a whole.
    EXPECT_EQ(p.body(),
              "<text x=\"10\" y=\"29\" font-size=\"10\" fill=\"#000000\" fill-opacity=\"1\" text-anchor=\"middle\" "
              "font-family=\"monospace\">V<tspan font-size=\"8\" dy=\"0.8\">BAT</tspan><tspan font-size=\"8\" "
              "dy=\"-2.9\">&amp;2</tspan><tspan dy=\"2.1\" text-decoration=\"overline\">RST</tspan>x</text>\n");
    SvgPainter q(10, {0, 0});
    const TextRun empty[] = {{""}, {"", 1}};
    q.drawTextLine(empty, {1, 2}, 1, 0, 0, 1, false, {0, 0, 0, 1});
    EXPECT_EQ(q.body(), "");

    // Through the renderer: a note's lines are elements of their own, no raw line break survives.
    Schematic s;
    s.sheets.push_back({});
    TextItem note;
    note.text = "Stackup used:\nJLC7628\n~{RESET} is V_{BAT}";
    note.position = {10, 10};
    s.texts.push_back(note);
    const std::string svg = renderSvg(s, 0, Settings{}, nullptr, 2000);
    EXPECT_NE(svg.find(">Stackup used:</text>"), std::string::npos);
    EXPECT_NE(svg.find(">JLC7628</text>"), std::string::npos);
    EXPECT_NE(svg.find("<tspan text-decoration=\"overline\">RESET</tspan> is V<tspan"), std::string::npos);
    EXPECT_EQ(svg.find("used:\n"), std::string::npos);
}

TEST(Svg, TextsAndNumbersStayWellFormed) {
    // Whatever bytes a design holds, the document stays XML: what XML cannot
    // hold becomes U+FFFD, and a number that is not finite is written as 0.
    SvgPainter p(1, {0, 0});
    const std::string r = "\xEF\xBF\xBD";
    const std::pair<std::string, std::string> texts[] = {
        {"a\x01"
         "b\x1b[31m",
         "a" + r + "b" + r + "[31m"},
        {"tab\tline\nend", "tab\tline\nend"},
        {"bad \xff\xc3", "bad " + r + r},
        {"\xEF\xBF\xBE \xED\xA0\x80 caf\xC3\xA9", r + " " + r + r + r + " caf\xC3\xA9"},
    };
    for (const auto& [text, shown] : texts) {
        SvgPainter q(1, {0, 0});
        q.drawText(text, {0, 0}, 1, 0, -1, 1, false, {0, 0, 0, 1});
        const std::string& body = q.body();
        EXPECT_EQ(body.substr(body.find('>') + 1, body.rfind("</") - body.find('>') - 1), shown);
    }
    p.setPen({0, 0, 0, 1}, 1);
    p.drawLine({std::numeric_limits<double>::infinity(), 0}, {0, std::nan("")});
    EXPECT_EQ(p.body().substr(0, 33), "<line x1=\"0\" y1=\"0\" x2=\"0\" y2=\"0\"");
}

TEST(Svg, CommandWritesTheRootSheet) {
    const std::string path = ::testing::TempDir() + "netloom_svg_cmd.svg";
    const std::string settings = ::testing::TempDir() + "netloom_svg_settings.json";
    std::ofstream(settings) << "{\"theme\": \"paper\", \"show_grid\": true}";
    nltest::RunResult r = nltest::runNetloom({"--svg", "sample", path}, {"NETLOOM_SETTINGS=" + settings});
    EXPECT_EQ(r.status, 0) << r.err;
    std::string svg = nltest::slurp(path);
    EXPECT_EQ(r.out, "Wrote " + path + " (" + std::to_string(svg.size()) + " bytes)\n");
    EXPECT_EQ(svg.rfind("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<svg ", 0), 0u);
    EXPECT_NE(svg.find(" width=\"2000\" "), std::string::npos);
    EXPECT_NE(svg.find("fill=\"#faf5e6\""), std::string::npos);    // the paper theme's background
    EXPECT_NE(svg.find("stroke=\"#e0d9bf\""), std::string::npos);  // its grid
    // A broken settings file leaves the defaults in force, with one warning.
    std::ofstream(settings) << "{\"theme\": ";
    r = nltest::runNetloom({"--svg", "--sample", path}, {"NETLOOM_SETTINGS=" + settings});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err.rfind("Warning: the settings file " + settings + " is not valid JSON: ", 0), 0u) << r.err;
    EXPECT_NE(nltest::slurp(path).find("fill=\"#0c0e11\""), std::string::npos);
    std::remove(path.c_str());
    std::remove(settings.c_str());

    r = nltest::runNetloom({"--svg", "sample", "/nonexistent-dir/out.svg"});
    EXPECT_TRUE(r.status == 1 && r.out.empty());
    EXPECT_EQ(r.err, "Error: cannot write /nonexistent-dir/out.svg: No such file or directory\n");
    r = nltest::runNetloom({"--svg", "/nonexistent-dir/in.kicad_sch", path});
    EXPECT_TRUE(r.status == 1 && r.err.rfind("Error: ", 0) == 0);
    EXPECT_EQ(nltest::runNetloom({"--svg", "sample"}).status, 1);  // too few arguments: usage
}

// Every sheet of every shared-corpus design: what a text element shows has no raw line break,
// and, from a KiCad file, no escape KiCad resolves and no complete markup span.
TEST(Svg, CorpusTextsShowNoBreaksEscapesOrMarkup) {
    namespace fs = std::filesystem;
    const fs::path corpus = fs::path(NETLOOM_SOURCE_DIR) / "../shared/corpus";
    std::error_code ec;
    if (!fs::is_directory(corpus, ec)) GTEST_SKIP() << "no shared corpus at " << corpus;
    const std::regex element("<text [^>]*>((?:[^<]|<tspan[^>]*>|</tspan>)*)</text>");
    const std::regex escape(
        "\\{(dblquote|quote|lt|gt|backslash|slash|bar|comma|colon|space|dollar|tab|return|brace)\\}");
    const std::regex markup("[~_^]\\{[^{}]*\\}");
    const std::regex tags("<[^>]*>");
    int designs = 0, texts = 0;
    for (auto it = fs::recursive_directory_iterator(corpus, ec); !ec && it != fs::recursive_directory_iterator();
         it.increment(ec)) {
        const fs::path board = it->path();
        const bool kicad = board.extension() == ".kicad_pcb", eagle = board.extension() == ".brd";
        if (!kicad && !eagle) continue;
        const fs::path design = fs::path(board).replace_extension(kicad ? ".kicad_sch" : ".sch");
        if (!fs::exists(design)) continue;
        std::string error;
        std::shared_ptr<Schematic> s = openSchematicFile(design.string(), &error);
        ASSERT_TRUE(s) << design << ": " << error;
        ++designs;
        for (int sheet = 0; sheet < static_cast<int>(s->sheets.size()); ++sheet) {
            const std::string svg = renderSvg(*s, sheet, Settings{}, nullptr, 2000);
            for (auto m = std::sregex_iterator(svg.begin(), svg.end(), element); m != std::sregex_iterator(); ++m) {
                const std::string shown = std::regex_replace((*m)[1].str(), tags, "");
                ++texts;
                EXPECT_EQ(shown.find_first_of("\r\n"), std::string::npos)
                    << design << " sheet " << sheet << ": " << shown;
                if (!kicad) continue;
                EXPECT_FALSE(std::regex_search(shown, escape)) << design << " sheet " << sheet << ": " << shown;
                EXPECT_FALSE(std::regex_search(shown, markup)) << design << " sheet " << sheet << ": " << shown;
            }
        }
    }
    EXPECT_GT(designs, 0);
    EXPECT_GT(texts, 1000);
}

#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "fixtures/recording_painter.h"
#include "render/text_layout.h"

using namespace nl;
using nl::testing::RecordingPainter;

namespace {

// Each line's runs as [text], marked o (overbar), _ (subscript) or ^ (superscript); lines joined by " / ".
std::string described(std::string_view text, TextSyntax syntax = TextSyntax::Kicad) {
    const TextBlock block(text, syntax);
    std::string out;
    for (size_t i = 0; i < block.lineCount(); ++i) {
        if (i) out += " / ";
        bool first = true;
        for (const TextRun& r : block.line(i)) {
            if (!first) out += '|';
            first = false;
            if (r.overbar) out += 'o';
            if (r.shift < 0) out += '_';
            if (r.shift > 0) out += '^';
            out += "[" + std::string(r.text) + "]";
        }
    }
    return out;
}

}  // namespace

TEST(TextLayout, LinesMarkupAndEscapesAsKicadShowsThem) {
    const struct {
        const char* text;
        const char* runs;
    } rows[] = {
        {"plain", "[plain]"},
        {"", ""},
        {"Stackup used:\nline two\r\nthree", "[Stackup used:] / [line two] / [three]"},
        {"\nafter\n", " / [after] / "},
        {"T\tU ab\tc", "[T   U ab    c]"},  // stops every four characters
        {"~{RESET}", "o[RESET]"},
        {"V_{BAT} I^{2}C", "[V]|_[BAT]|[ I]|^[2]|[C]"},
        {"~{a_{b}c}", "o[a]|o_[b]|o[c]"},
        {"p_{q^{r}s}t", "[p]|_[q]|^[r]|_[s]|[t]"},
        // Bus groups keep their braces; a member's markup is drawn.
        {"SWD{~{RST}, IO}", "[SWD{]|o[RST]|[, IO}]"},
        // Balanced braces inside markup are text; unbalanced ones, lone and doubled tildes are drawn as typed.
        {"~{open x~y {z} b}", "o[open x~y {z} b]"},
        {"~{unbal x~y {z}", "[~{unbal x~y {z}]"},
        {"~{x}y}z", "o[x]|[y}z]"},
        {"a~b ~~{C} ~{D}~", "[a~b ~]|o[C]|[ ]|o[D]|[~]"},
        {"e~{}f_{}g", "[e]|[f]|[g]"},
        {"${VAR} _x ^{", "[${VAR} _x ^{]"},
        // Escapes are resolved before markup and line breaks are found.
        {"D_P{slash}SWDCLK", "[D_P/SWDCLK]"},
        {"~{crst}{slash}out2", "o[crst]|[/out2]"},
        {"w_{a}{return}~{b}", "[w]|_[a] / o[b]"},
        {"~{A{slash}B}", "o[A/B]"},
    };
    for (const auto& r : rows) EXPECT_EQ(described(r.text), r.runs) << r.text;
    // Eagle texts only break into lines.
    EXPECT_EQ(described("~{X}{slash}\nY", TextSyntax::Plain), "[~{X}{slash}] / [Y]");
    // Hostile nesting is handled without recursion: deep but balanced, and deep but never closed.
    const std::string opens(100000, '{'), closes(100000, '}');
    std::string nested;
    for (int i = 0; i < 100000; ++i) nested += "~{";
    EXPECT_EQ(described(nested + "x" + closes), "o[x]");
    EXPECT_EQ(described(nested + "x").size(), nested.size() + 3);
    EXPECT_EQ(described(opens + "x"), "[" + opens + "x]");
}

TEST(TextLayout, LinesStackAlongTheTextsOwnVerticalDirection) {
    const double p = kLinePitch * 2;  // pitch at an em of 2
    const struct {
        int v;
        double angle;
        Point first, last;  // line 0 and line 2 of three, anchor (10, 20)
    } rows[] = {
        {-1, 0, {10, 20 - 2 * p}, {10, 20}},   // bottom: the last line where a single line would be
        {1, 0, {10, 20}, {10, 20 + 2 * p}},    // top: the first line there
        {0, 0, {10, 20 - p}, {10, 20 + p}},    // centre: the block's middle there
        {-1, 90, {10 - 2 * p, 20}, {10, 20}},  // reading up: lines stack to the right
        {1, 270, {10, 20}, {10 - 2 * p, 20}},
    };
    for (const auto& r : rows) {
        const Point a = lineAnchor({10, 20}, 2, r.angle, r.v, 0, 3), b = lineAnchor({10, 20}, 2, r.angle, r.v, 2, 3);
        EXPECT_NEAR(a.x, r.first.x, 1e-9) << r.v << " " << r.angle;
        EXPECT_NEAR(a.y, r.first.y, 1e-9) << r.v << " " << r.angle;
        EXPECT_NEAR(b.x, r.last.x, 1e-9) << r.v << " " << r.angle;
        EXPECT_NEAR(b.y, r.last.y, 1e-9) << r.v << " " << r.angle;
    }
    // KiCad's pitch: 4.09 mm for a 2.54 mm text (its em is 1.37 times that).
    EXPECT_NEAR(kLinePitch * 2.54 * 1.37, 4.09, 0.005);
    // One line stays exactly on its anchor, whatever the arguments.
    const Point one = lineAnchor({1.1, 2.2}, NAN, NAN, -1, 0, 1);
    EXPECT_TRUE(one.x == 1.1 && one.y == 2.2);

    // Every line is drawn, empty ones skipped but counted, each with the block's alignment.
    RecordingPainter rec;
    drawTextBlock(rec, "A\n\n~{C}", TextSyntax::Kicad, {0, 0}, 1, 0, 1, 1, true, {});
    ASSERT_EQ(rec.count("text"), 2);
    EXPECT_NEAR(rec.text("C").points[0].y, 2 * kLinePitch, 1e-12);
    EXPECT_TRUE(rec.text("C").runs[0].overbar && rec.text("C").h == 1 && rec.text("C").v == 1 && rec.text("C").bold);
}

TEST(TextLayout, BlockBoxCoversEveryLineTurnedWithTheText) {
    const TextBlock one("ABCD", TextSyntax::Kicad), two("ABCD\nAB_{CD}", TextSyntax::Kicad);
    const struct {
        const TextBlock* block;
        double angle;
        int h, v;
        BBox box;
    } rows[] = {
        {&one, 0, -1, 1, {10, 20, 12.4, 21.15}},                  // starts at, hangs below the anchor
        {&one, 0, 0, 0, {8.8, 19.425, 11.2, 20.575}},             // centred both ways
        {&two, 0, 1, -1, {7.6, 20 - 1.15 - kLinePitch, 10, 20}},  // ends at, stands above; widest line
        {&two, 90, -1, 1, {10, 17.6, 11.15 + kLinePitch, 20}},    // reading up, lines stacked rightwards
    };
    for (const auto& r : rows) {
        const BBox b = textBlockBox(*r.block, {10, 20}, 1, r.angle, r.h, r.v);
        EXPECT_NEAR(b.min_x, r.box.min_x, 1e-9) << r.angle << r.h << r.v;
        EXPECT_NEAR(b.min_y, r.box.min_y, 1e-9) << r.angle << r.h << r.v;
        EXPECT_NEAR(b.max_x, r.box.max_x, 1e-9) << r.angle << r.h << r.v;
        EXPECT_NEAR(b.max_y, r.box.max_y, 1e-9) << r.angle << r.h << r.v;
    }
}

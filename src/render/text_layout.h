// The one text-layout step every painter and the hit test share: a text as a
// file stores it becomes lines of runs (escapes resolved, markup taken apart),
// each line anchored along the text's own vertical direction, and the block
// has a box. Painters then draw one laid-out line at a time.
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "model/model.h"
#include "render/painter.h"

namespace nl {

enum class TextSyntax {
    Plain,  // line breaks only (Eagle)
    Kicad,  // line breaks, brace escapes and ~{overbar} _{sub} ^{super} markup
};

// KiCad spaces the lines of a block 1.61 capital heights apart; painters take
// the em of a monospace face, 1.37 capital heights, so in ems that is this pitch.
inline constexpr double kLinePitch = 1.61 / 1.37;
// The advance of one character of a monospace face, in ems.
inline constexpr double kCharAdvance = 0.6;

// A laid-out text. Runs refer to the text given (which must outlive the block)
// or to the block's own copy, so a block is neither copied nor moved.
class TextBlock {
public:
    TextBlock(std::string_view text, TextSyntax syntax);
    TextBlock(const TextBlock&) = delete;
    TextBlock& operator=(const TextBlock&) = delete;

    size_t lineCount() const { return simple_ ? 1 : starts_.size() - 1; }
    std::span<const TextRun> line(size_t i) const;

private:
    void layOut(std::string_view text, TextSyntax syntax);

    bool simple_ = true;
    TextRun single_;
    std::string storage_;
    std::vector<TextRun> runs_;
    std::vector<size_t> starts_;  // each line's first run, then the end
};

// Where line `index` of a block of `count` lines is anchored, for a block
// anchored at `anchor` with the painter's vertical alignment v: -1 puts the
// last line where a single line would stand, 1 the first, 0 centres the block.
Point lineAnchor(Point anchor, double size, double angle, int v, size_t index, size_t count);

// The axis-aligned box (sheet millimetres) the block covers when drawn with
// these painter arguments; widths are estimated with the monospace advance.
BBox textBlockBox(const TextBlock& block, Point anchor, double size, double angle, int h, int v);

// Lays out `text` and draws it line by line.
void drawTextBlock(Painter& painter, std::string_view text, TextSyntax syntax, Point anchor, double size, double angle,
                   int h, int v, bool bold, const Color& color);

}  // namespace nl

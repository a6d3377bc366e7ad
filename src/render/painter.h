// The abstract drawing surface the scene renderer draws on, in sheet
// millimetres with y downwards. Painters only turn primitives into output;
// every colour, width and size is the renderer's decision.
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "model/model.h"

namespace nl {

// Components 0..1.
struct Color {
    double r = 0, g = 0, b = 0, a = 1;
};

// The colour with its alpha replaced.
inline Color withAlpha(Color c, double a) {
    c.a = a;
    return c;
}

// How runs are drawn, in ems of the size a painter is given: sub- and
// superscripts smaller and off the baseline, overbars above the capitals, as
// KiCad draws them.
inline constexpr double kScriptScale = 0.8;
inline constexpr double kSubscriptDrop = 0.08;
inline constexpr double kSuperscriptRise = 0.21;
inline constexpr double kOverbarRise = 0.86;
inline constexpr double kOverbarWidth = 0.06;

// A piece of one line of text drawn in one style. Painters receive runs that
// are already laid out (lines split, escapes resolved, markup taken apart) and
// only draw them.
struct TextRun {
    std::string_view text;
    int shift = 0;  // 0 on the baseline, -1 subscript, 1 superscript
    bool overbar = false;
    // Its size and how far its baseline stands above the line's, in ems of the line's size.
    double scale() const { return shift != 0 ? kScriptScale : 1.0; }
    double rise() const { return shift < 0 ? -kSubscriptDrop : shift > 0 ? kSuperscriptRise : 0; }
};

class Painter {
public:
    virtual ~Painter() = default;
    // Later lines and outlines use this colour and width (mm).
    virtual void setPen(const Color& color, double width) = 0;
    // Later closed shapes are filled with this colour.
    virtual void setBrush(const Color& color) = 0;
    virtual void noBrush() = 0;
    virtual void noPen() = 0;
    virtual void drawLine(Point a, Point b) = 0;
    // closed draws a polygon.
    virtual void drawPolyline(const std::vector<Point>& points, bool closed) = 0;
    virtual void drawCircle(Point centre, double radius) = 0;
    // An axis-aligned rectangle between two opposite corners.
    virtual void drawRect(Point a, Point b) = 0;
    // One line of text made of runs. h: -1 start, 0 middle, 1 end, over the
    // whole line. v: -1 text above the anchor, 0 centred on it, 1 below it.
    // angle in degrees, counter-clockwise on screen. Lines of a block are
    // placed by the caller (render/text_layout.h).
    virtual void drawTextLine(std::span<const TextRun> runs, Point anchor, double size, double angle, int h, int v,
                              bool bold, const Color& color) = 0;
    // One line of plain text, drawn as it is written.
    void drawText(std::string_view text, Point anchor, double size, double angle, int h, int v, bool bold,
                  const Color& color) {
        const TextRun run{text};
        drawTextLine({&run, 1}, anchor, size, angle, h, v, bold, color);
    }
    virtual void setDashed(bool dashed) = 0;
    // Restricts drawing to a rectangle until the matching popClip.
    virtual void pushClip(double /*min_x*/, double /*min_y*/, double /*max_x*/, double /*max_y*/) {}
    virtual void popClip() {}
};

}  // namespace nl

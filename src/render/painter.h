// The abstract drawing surface the scene renderer draws on, in sheet
// millimetres with y downwards. Painters only turn primitives into output;
// every colour, width and size is the renderer's decision.
#pragma once

#include <string>
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
    // h: -1 start, 0 middle, 1 end. v: -1 text above the anchor, 0 centred
    // on it, 1 below it. angle in degrees, counter-clockwise on screen.
    virtual void drawText(const std::string& text, Point anchor, double size, double angle, int h, int v, bool bold,
                          const Color& color) = 0;
    virtual void setDashed(bool dashed) = 0;
    // Restricts drawing to a rectangle until the matching popClip.
    virtual void pushClip(double /*min_x*/, double /*min_y*/, double /*max_x*/, double /*max_y*/) {}
    virtual void popClip() {}
};

}  // namespace nl

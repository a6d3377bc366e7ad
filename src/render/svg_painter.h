// The painter that writes SVG elements, and the whole-document export of a sheet.
#pragma once

#include <string>

#include "render/painter.h"
#include "render/render.h"

namespace nl {

// Maps sheet millimetres to pixels: (p - origin) * scale. One element per
// drawing call, appended to body(); the SVG output is never clipped.
class SvgPainter : public Painter {
public:
    SvgPainter(double scale, Point origin) : scale_(scale), origin_(origin) {}

    void setPen(const Color& color, double width) override;
    void setBrush(const Color& color) override;
    void noBrush() override { has_brush_ = false; }
    void noPen() override { has_pen_ = false; }
    void drawLine(Point a, Point b) override;
    void drawPolyline(const std::vector<Point>& points, bool closed) override;
    void drawCircle(Point centre, double radius) override;
    void drawRect(Point a, Point b) override;
    void drawTextLine(std::span<const TextRun> runs, Point anchor, double size, double angle, int h, int v, bool bold,
                      const Color& color) override;
    void setDashed(bool dashed) override { dashed_ = dashed; }

    const std::string& body() const { return body_; }

private:
    void number(double v);  // "%g"
    void x(double v) { number((v - origin_.x) * scale_); }
    void y(double v) { number((v - origin_.y) * scale_); }
    void stroke();
    void fill();

    double scale_;
    Point origin_;
    Color pen_color_;
    Color brush_color_;
    bool has_pen_ = false;
    bool has_brush_ = false;
    bool dashed_ = false;
    double pen_width_ = 0.15;
    std::string body_;
};

// A complete SVG document of one sheet, width_px pixels wide. With `frame`,
// the sheet's page with its border and title block (see page_frame.h).
std::string renderSvg(const Schematic& s, int sheet, const Settings& settings, const Highlight* highlight, int width_px,
                      bool frame = false);

}  // namespace nl

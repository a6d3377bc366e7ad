// A Painter that records every call with the pen, brush and dash state in force,
// so tests can check what the renderer drew without parsing any output.
#pragma once

#include <string>
#include <vector>

#include "painter.h"

namespace nl::testing {

struct PaintCall {
    std::string op;  // setPen, setBrush, noBrush, noPen, line, polyline, circle, rect, text, setDashed
    std::vector<Point> points;
    double radius = 0, size = 0, angle = 0;
    bool closed = false, bold = false;  // bold also carries setDashed's argument
    std::string text;
    int h = 0, v = 0;
    Color color;  // the text's colour, or the colour passed to setPen / setBrush
    // state in force when the call was made
    bool has_pen = false, has_brush = false, dashed = false;
    Color pen, brush;
    double pen_width = 0;
};

class RecordingPainter : public Painter {
public:
    std::vector<PaintCall> calls;

    void setPen(const Color& c, double w) override {
        pen_ = c, pen_width_ = w, has_pen_ = true, add("setPen").color = c;
    }
    void setBrush(const Color& c) override { brush_ = c, has_brush_ = true, add("setBrush").color = c; }
    void noBrush() override { has_brush_ = false, add("noBrush"); }
    void noPen() override { has_pen_ = false, add("noPen"); }
    void drawLine(Point a, Point b) override { add("line").points = {a, b}; }
    void drawPolyline(const std::vector<Point>& pts, bool closed) override {
        PaintCall& c = add("polyline");
        c.points = pts, c.closed = closed;
    }
    void drawCircle(Point c, double r) override {
        PaintCall& call = add("circle");
        call.points = {c}, call.radius = r;
    }
    void drawRect(Point a, Point b) override { add("rect").points = {a, b}; }
    void drawText(const std::string& text, Point anchor, double size, double angle, int h, int v, bool bold,
                  const Color& color) override {
        PaintCall& c = add("text");
        c.text = text, c.points = {anchor}, c.size = size, c.angle = angle, c.h = h, c.v = v, c.bold = bold;
        c.color = color;
    }
    void setDashed(bool d) override { dashed_ = d, add("setDashed").bold = d; }
    void pushClip(double, double, double, double) override {}
    void popClip() override {}

    std::vector<PaintCall> ofKind(const std::string& op) const {
        std::vector<PaintCall> out;
        for (const PaintCall& c : calls)
            if (c.op == op) out.push_back(c);
        return out;
    }
    // The first text call with this text; a default call (op empty) when there is none.
    PaintCall text(const std::string& t) const {
        for (const PaintCall& c : calls)
            if (c.op == "text" && c.text == t) return c;
        return {};
    }
    int count(const std::string& op) const { return static_cast<int>(ofKind(op).size()); }

private:
    PaintCall& add(const char* op) {
        PaintCall c;
        c.op = op, c.has_pen = has_pen_, c.has_brush = has_brush_, c.dashed = dashed_;
        c.pen = pen_, c.brush = brush_, c.pen_width = pen_width_;
        calls.push_back(c);
        return calls.back();
    }
    Color pen_, brush_;
    double pen_width_ = 0.15;
    bool has_pen_ = false, has_brush_ = false, dashed_ = false;
};

}  // namespace nl::testing

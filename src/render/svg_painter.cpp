#include "render/svg_painter.h"

#include <algorithm>
#include <charconv>
#include <cmath>

#include "base/text.h"
#include "render/page_frame.h"

namespace nl {

namespace {

// printf-style formats without the C locale's influence: to_chars is locale-free.
void appendFormatted(std::string& out, double v, std::chars_format fmt, int precision) {
    char buf[64];
    auto r = std::to_chars(buf, buf + sizeof buf, v, fmt, precision);
    if (r.ec == std::errc()) out.append(buf, r.ptr);
}

void appendColor(std::string& out, const Color& c) {
    static const char* hex = "0123456789abcdef";
    out += '#';
    for (double comp : {c.r, c.g, c.b}) {
        double scaled = 255 * comp + 0.5;
        int v = std::isfinite(scaled) ? static_cast<int>(std::clamp(scaled, 0.0, 255.0)) : 0;
        out += hex[v >> 4];
        out += hex[v & 15];
    }
}

// Design texts may hold any bytes; the document must stay well-formed XML, so
// what XML cannot hold (bytes that are not UTF-8, control characters, the two
// non-characters U+FFFE and U+FFFF) is replaced by U+FFFD.
void appendEscaped(std::string& out, std::string_view text) {
    size_t i = 0;
    while (i < text.size()) {
        char32_t c;
        const size_t n = decodeUtf8(text, i, c);
        if (n == 0 || (c < 0x20 && c != '\t' && c != '\n' && c != '\r') || c == 0xFFFE || c == 0xFFFF) {
            out += "\xEF\xBF\xBD";
            i += n == 0 ? 1 : n;
            continue;
        }
        if (c == '&')
            out += "&amp;";
        else if (c == '<')
            out += "&lt;";
        else if (c == '>')
            out += "&gt;";
        else
            out.append(text, i, n);
        i += n;
    }
}

}  // namespace

// A number that is not finite would make the attribute unreadable.
void SvgPainter::number(double v) { appendFormatted(body_, std::isfinite(v) ? v : 0.0, std::chars_format::general, 6); }

void SvgPainter::setPen(const Color& color, double width) {
    pen_color_ = color;
    pen_width_ = width;
    has_pen_ = true;
}

void SvgPainter::setBrush(const Color& color) {
    brush_color_ = color;
    has_brush_ = true;
}

void SvgPainter::stroke() {
    if (!has_pen_) {
        body_ += "stroke=\"none\"";
        return;
    }
    body_ += "stroke=\"";
    appendColor(body_, pen_color_);
    body_ += "\" stroke-opacity=\"";
    appendFormatted(body_, pen_color_.a, std::chars_format::fixed, 3);
    body_ += "\" stroke-width=\"";
    appendFormatted(body_, std::max(pen_width_ * scale_, 0.05), std::chars_format::fixed, 4);
    body_ += "\" stroke-linecap=\"round\" stroke-linejoin=\"round\"";
    if (dashed_) body_ += " stroke-dasharray=\"4,3\"";
}

void SvgPainter::fill() {
    if (!has_brush_) {
        body_ += "fill=\"none\"";
        return;
    }
    body_ += "fill=\"";
    appendColor(body_, brush_color_);
    body_ += "\" fill-opacity=\"";
    appendFormatted(body_, brush_color_.a, std::chars_format::fixed, 3);
    body_ += '"';
}

void SvgPainter::drawLine(Point a, Point b) {
    body_ += "<line x1=\"";
    x(a.x);
    body_ += "\" y1=\"";
    y(a.y);
    body_ += "\" x2=\"";
    x(b.x);
    body_ += "\" y2=\"";
    y(b.y);
    body_ += "\" ";
    stroke();
    body_ += "/>\n";
}

void SvgPainter::drawPolyline(const std::vector<Point>& points, bool closed) {
    if (points.size() < 2) return;
    body_ += closed ? "<polygon points=\"" : "<polyline points=\"";
    for (Point p : points) {
        x(p.x);
        body_ += ',';
        y(p.y);
        body_ += ' ';
    }
    body_ += "\" ";
    stroke();
    body_ += ' ';
    fill();
    body_ += "/>\n";
}

void SvgPainter::drawCircle(Point c, double r) {
    body_ += "<circle cx=\"";
    x(c.x);
    body_ += "\" cy=\"";
    y(c.y);
    body_ += "\" r=\"";
    number(r * scale_);
    body_ += "\" ";
    stroke();
    body_ += ' ';
    fill();
    body_ += "/>\n";
}

void SvgPainter::drawRect(Point a, Point b) {
    double ax = (a.x - origin_.x) * scale_, ay = (a.y - origin_.y) * scale_;
    double bx = (b.x - origin_.x) * scale_, by = (b.y - origin_.y) * scale_;
    body_ += "<rect x=\"";
    number(std::min(ax, bx));
    body_ += "\" y=\"";
    number(std::min(ay, by));
    body_ += "\" width=\"";
    number(std::fabs(bx - ax));
    body_ += "\" height=\"";
    number(std::fabs(by - ay));
    body_ += "\" ";
    stroke();
    body_ += ' ';
    fill();
    body_ += "/>\n";
}

void SvgPainter::drawTextLine(std::span<const TextRun> runs, Point anchor, double size, double angle, int h, int v,
                              bool bold, const Color& color) {
    if (std::all_of(runs.begin(), runs.end(), [](const TextRun& r) { return r.text.empty(); })) return;
    const double X = (anchor.x - origin_.x) * scale_, Y = (anchor.y - origin_.y) * scale_;
    // SVG places the baseline at y; these shifts put the glyphs above, on or below the anchor.
    const double dy = (v < 0 ? -0.25 : v == 0 ? 0.33 : 0.9) * size * scale_;
    body_ += "<text x=\"";
    number(X);
    body_ += "\" y=\"";
    number(Y + dy);
    body_ += "\" font-size=\"";
    number(size * scale_);
    body_ += "\" fill=\"";
    appendColor(body_, color);
    body_ += "\" fill-opacity=\"";
    number(color.a);
    body_ += "\" text-anchor=\"";
    body_ += h < 0 ? "start" : h == 0 ? "middle" : "end";
    body_ += "\" font-family=\"monospace\"";
    if (bold) body_ += " font-weight=\"bold\"";
    if (angle != 0) {
        body_ += " transform=\"rotate(";
        body_ += formatNumber(-angle, 2);
        body_ += ' ';
        body_ += formatNumber(X, 2);
        body_ += ' ';
        body_ += formatNumber(Y, 2);
        body_ += ")\"";
    }
    body_ += '>';
    // Styled runs become tspans; relative shifts (dy) keep the line one text
    // chunk, so text-anchor aligns it as a whole and the words stay searchable.
    double baseline = 0;  // the current run's offset below the line's baseline, pixels
    for (const TextRun& r : runs) {
        if (r.text.empty()) continue;
        const double target = -r.rise() * size * scale_;
        if (r.shift == 0 && !r.overbar && target == baseline) {
            appendEscaped(body_, r.text);
            continue;
        }
        body_ += "<tspan";
        if (r.shift != 0) {
            body_ += " font-size=\"";
            number(r.scale() * size * scale_);
            body_ += '"';
        }
        if (target != baseline) {
            body_ += " dy=\"";
            number(target - baseline);
            body_ += '"';
            baseline = target;
        }
        if (r.overbar) body_ += " text-decoration=\"overline\"";
        body_ += '>';
        appendEscaped(body_, r.text);
        body_ += "</tspan>";
    }
    body_ += "</text>\n";
}

std::string renderSvg(const Schematic& s, int sheet, const Settings& settings, const Highlight* highlight, int width_px,
                      bool frame) {
    const Theme& theme = themeByName(settings.theme);
    const BBox box = exportViewBox(s, sheet, frame);
    const double scale = width_px / std::max(box.max_x - box.min_x, 1.0);
    const double height = std::round((box.max_y - box.min_y) * scale);
    const long long H = std::isfinite(height) && std::fabs(height) < 1e15 ? static_cast<long long>(height) : 0;

    SvgPainter painter(scale, {box.min_x, box.min_y});
    RenderContext ctx{&settings, &theme};
    renderPage(ctx, painter, s, sheet, box, highlight, frame);

    const std::string W = std::to_string(width_px), Hs = std::to_string(H);
    std::string doc;
    doc.reserve(painter.body().size() + 200);
    doc += "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    doc += "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + W + "\" height=\"" + Hs + "\" viewBox=\"0 0 " + W +
           " " + Hs + "\">\n";
    doc += painter.body();
    doc += "</svg>\n";
    return doc;
}

}  // namespace nl

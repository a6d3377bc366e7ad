// The Painter on Cairo: draws the scene on any Cairo surface, an in-memory
// image (PNG export, tests) or a window's. Same rules as the Windows painter:
// minimum pen width and circle radius, box-based text alignment, a monospace
// font chosen once per process, and a stack of replaced clips.
#pragma once

#if NETLOOM_HAVE_CAIRO

#include <cairo.h>

#include <memory>
#include <string>

#include "render/painter.h"
#include "render/render.h"

namespace nl {

class CairoPainter : public Painter {
public:
    // cr's transform already maps sheet millimetres to device pixels; zoom is
    // pixels per millimetre. The painter leaves cr's state as it found it.
    CairoPainter(cairo_t* cr, double zoom);
    ~CairoPainter() override;
    CairoPainter(const CairoPainter&) = delete;
    CairoPainter& operator=(const CairoPainter&) = delete;

    void setPen(const Color& color, double width) override;
    void setBrush(const Color& color) override;
    void noBrush() override { has_brush_ = false; }
    void noPen() override {
        flushLines();
        has_pen_ = false;
    }
    void drawLine(Point a, Point b) override;
    void drawPolyline(const std::vector<Point>& points, bool closed) override;
    void drawCircle(Point centre, double radius) override;
    void drawRect(Point a, Point b) override;
    void drawTextLine(std::span<const TextRun> runs, Point anchor, double size, double angle, int h, int v, bool bold,
                      const Color& color) override;
    void setDashed(bool dashed) override {
        if (dashed != dashed_) flushLines();
        dashed_ = dashed;
    }
    void pushClip(double min_x, double min_y, double max_x, double max_y) override;
    void popClip() override;

    double zoom() const { return zoom_; }
    // The last failure met while drawing (CAIRO_STATUS_SUCCESS when none).
    // Strokes what is pending first, so the status covers every call so far.
    cairo_status_t lastStatus() {
        flushLines();
        return status_;
    }

private:
    void strokeAndFill(bool fill, bool stroke);
    // Strokes the lines drawn since the pen last changed, as one path: one
    // stroke per wire is most of what a zoomed-in paint costs.
    void flushLines();
    void check();
    cairo_font_face_t* face(bool bold);

    cairo_t* cr_;
    double zoom_;
    Color pen_color_;
    Color brush_color_;
    bool has_pen_ = false;
    bool has_brush_ = false;
    bool dashed_ = false;
    bool lines_pending_ = false;  // the current path holds unstroked lines
    bool options_set_ = false;    // font_options_ given to cr_
    double pen_width_ = 0.15;
    int clip_depth_ = 0;
    cairo_status_t status_ = CAIRO_STATUS_SUCCESS;
    cairo_font_face_t* regular_ = nullptr;
    cairo_font_face_t* bold_ = nullptr;
    cairo_font_options_t* font_options_ = nullptr;
};

// The family texts are drawn in: the first installed of "Consolas" and
// "Courier New", else the generic "monospace". Looked up once per process.
const std::string& textFontFamily();

struct SurfaceDeleter {
    void operator()(cairo_surface_t* s) const { cairo_surface_destroy(s); }
};
using SurfacePtr = std::unique_ptr<cairo_surface_t, SurfaceDeleter>;

// One sheet on a new ARGB image width_px wide, framed and scaled as the SVG
// export frames it (exportViewBox, height by its aspect; with `frame`, the
// page with its border and title block). Null with a message in error when
// the image cannot be made.
SurfacePtr renderSheetImage(const Schematic& s, int sheet, const Settings& settings, const Highlight* highlight,
                            int width_px, std::string* error, bool frame = false);

// A region of a sheet (millimetres) at px_per_mm, for close-ups.
SurfacePtr renderRegionImage(const Schematic& s, int sheet, const Settings& settings, const Highlight* highlight,
                             const BBox& region, double px_per_mm, std::string* error);

// An ARGB image surface as an RGBA PNG file; false with a message on failure.
bool writePng(cairo_surface_t* image, const std::string& path, std::string* error);

// renderSheetImage written to a PNG file; false with a message on failure.
bool renderSheetPng(const Schematic& s, int sheet, const Settings& settings, const Highlight* highlight, int width_px,
                    const std::string& path, std::string* error, bool frame = false);

}  // namespace nl

#endif

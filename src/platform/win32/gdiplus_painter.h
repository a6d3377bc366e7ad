// The Painter on GDI+: draws the scene on any GDI+ graphics object, the
// window's off-screen canvas bitmap or an in-memory image (PNG export, tests).
// Same rules as the Cairo painter: minimum pen width and circle radius,
// box-based text alignment, a monospace font family chosen once per process,
// and a stack of replaced clips. Every pen, brush and font is made for one
// call, so nothing is cached between frames.
#pragma once

#ifdef _WIN32

// GDI+'s headers need IStream and PROPID, which the lean
// windows.h leaves out, so the order of these includes matters.
// clang-format off
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <objidl.h>
#include <propidl.h>
#include <gdiplus.h>
// clang-format on

#include <memory>
#include <string>
#include <vector>

#include "render/drawing_export.h"
#include "render/painter.h"
#include "render/render.h"

namespace nl {

class WindowController;

// Starts GDI+ for the process on first call; later calls only report whether
// it runs. False with a message when it cannot start. Thread-safe.
bool startGdiplus(std::string* error = nullptr);

// Ends GDI+ if it was started and no GdiplusSession holds it, releasing the
// kept font families first. Call only when no GDI+ object is left (the
// window closed, the command done).
void stopGdiplus();

// Keeps GDI+ running for a scope (the window's lifetime): while one exists,
// stopGdiplus leaves GDI+ alone, and the last one to go stops it.
class GdiplusSession {
public:
    GdiplusSession();
    ~GdiplusSession();
    GdiplusSession(const GdiplusSession&) = delete;
    GdiplusSession& operator=(const GdiplusSession&) = delete;
    bool ok() const { return ok_; }
    const std::string& error() const { return error_; }

private:
    std::string error_;
    bool ok_ = false;
};

class GdiplusPainter : public Painter {
public:
    // graphics's world transform already maps sheet millimetres to pixels;
    // the painter leaves its state as it found it. GDI+ must be running.
    explicit GdiplusPainter(Gdiplus::Graphics& graphics);
    ~GdiplusPainter() override;
    GdiplusPainter(const GdiplusPainter&) = delete;
    GdiplusPainter& operator=(const GdiplusPainter&) = delete;

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
    void pushClip(double min_x, double min_y, double max_x, double max_y) override;
    void popClip() override;

    // Pixels per millimetre, as the canvas sets it.
    void setZoom(double zoom) { zoom_ = zoom; }
    double zoom() const { return zoom_; }
    // The last failure met while drawing (Gdiplus::Ok when none).
    Gdiplus::Status lastStatus() const { return status_; }

private:
    void check(Gdiplus::Status status);
    void stroke(Gdiplus::GraphicsPath& path, bool roundJoins);

    Gdiplus::Graphics& graphics_;
    Gdiplus::Status status_ = Gdiplus::Ok;
    double zoom_ = 1;
    Color pen_color_;
    Color brush_color_;
    bool has_pen_ = false;
    bool has_brush_ = false;
    bool dashed_ = false;
    double pen_width_ = 0.15;
    std::vector<Gdiplus::GraphicsState> clips_;
};

// A Color as a GDI+ ARGB value (each component rounded from 255 x).
Gdiplus::ARGB toArgb(const Color& color);

// The canvas as the controller shows it: background, then the sheet at the
// controller's zoom and origin. Draws nothing but the background when no
// design is open (the shell adds its own invitation). graphics's transform is
// left as it was.
void paintCanvas(Gdiplus::Graphics& graphics, WindowController& controller);

// One sheet on a new 32-bit ARGB bitmap width_px wide, framed and scaled as
// the SVG export frames it (exportViewBox, height by its aspect; with `frame`,
// the page with its border and title block). Null with a message in error
// when the bitmap cannot be made. GDI+ must be running.
std::unique_ptr<Gdiplus::Bitmap> renderSheetBitmap(const Schematic& s, int sheet, const Settings& settings,
                                                   const Highlight* highlight, int width_px, std::string* error,
                                                   bool frame = false);

// A bitmap written through GDI+'s PNG encoder to a UTF-8 path; false with a
// message on failure.
bool writePng(Gdiplus::Bitmap& bitmap, const std::string& path, std::string* error);

// The GDI+ writers as the core takes them (drawing_export.h): PNG only, PDF
// left null. `release` stops GDI+.
DrawingWriters gdiplusDrawingWriters();

}  // namespace nl

#endif

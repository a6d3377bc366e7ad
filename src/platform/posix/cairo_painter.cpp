#include "platform/posix/cairo_painter.h"

#if NETLOOM_HAVE_CAIRO

#include <fontconfig/fontconfig.h>
#include <png.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numbers>
#include <vector>

#include "base/text.h"
#include "render/page_frame.h"

namespace nl {

namespace {

constexpr double kMinPenWidth = 0.02;  // mm
constexpr double kMinRadius = 0.01;    // mm
// Cairo images are limited to 32767 pixels a side.
constexpr int kMaxImageSide = 32767;

bool finite(Point p) { return std::isfinite(p.x) && std::isfinite(p.y); }

bool fontInstalled(const char* family) {
    FcPattern* pattern = FcPatternCreate();
    FcPatternAddString(pattern, FC_FAMILY, reinterpret_cast<const FcChar8*>(family));
    FcObjectSet* objects = FcObjectSetBuild(FC_FAMILY, nullptr);
    FcFontSet* fonts = FcFontList(nullptr, pattern, objects);
    const bool found = fonts && fonts->nfont > 0;
    if (fonts) FcFontSetDestroy(fonts);
    FcObjectSetDestroy(objects);
    FcPatternDestroy(pattern);
    return found;
}

void setSource(cairo_t* cr, const Color& c) { cairo_set_source_rgba(cr, c.r, c.g, c.b, c.a); }

}  // namespace

const std::string& textFontFamily() {
    static const std::string family = [] {
        for (const char* name : {"Consolas", "Courier New"})
            if (fontInstalled(name)) return std::string(name);
        return std::string("monospace");
    }();
    return family;
}

CairoPainter::CairoPainter(cairo_t* cr, double zoom) : cr_(cr), zoom_(zoom) {
    // Unhinted outlines and metrics: text keeps its size at every zoom, as the SVG's does.
    font_options_ = cairo_font_options_create();
    cairo_font_options_set_hint_metrics(font_options_, CAIRO_HINT_METRICS_OFF);
    cairo_font_options_set_hint_style(font_options_, CAIRO_HINT_STYLE_NONE);
}

CairoPainter::~CairoPainter() {
    flushLines();
    while (clip_depth_ > 0) popClip();
    if (regular_) cairo_font_face_destroy(regular_);
    if (bold_) cairo_font_face_destroy(bold_);
    cairo_font_options_destroy(font_options_);
}

void CairoPainter::check() {
    cairo_status_t s = cairo_status(cr_);
    if (s != CAIRO_STATUS_SUCCESS) status_ = s;
}

void CairoPainter::setPen(const Color& color, double width) {
    if (lines_pending_ && (color.r != pen_color_.r || color.g != pen_color_.g || color.b != pen_color_.b ||
                           color.a != pen_color_.a || width != pen_width_))
        flushLines();
    pen_color_ = color;
    pen_width_ = width;
    has_pen_ = true;
}

void CairoPainter::setBrush(const Color& color) {
    flushLines();
    brush_color_ = color;
    has_brush_ = true;
}

// Fills, then outlines, the current path; the path is consumed.
void CairoPainter::strokeAndFill(bool fill, bool stroke) {
    if (fill) {
        setSource(cr_, brush_color_);
        cairo_set_fill_rule(cr_, CAIRO_FILL_RULE_EVEN_ODD);
        cairo_fill_preserve(cr_);
    }
    if (stroke) {
        setSource(cr_, pen_color_);
        const double w = std::isfinite(pen_width_) ? std::max(pen_width_, kMinPenWidth) : kMinPenWidth;
        cairo_set_line_width(cr_, w);
        cairo_set_line_join(cr_, CAIRO_LINE_JOIN_ROUND);
        if (dashed_) {
            // Dashes of three widths and gaps of one; caps are flat on dashes
            // (round caps would close gaps that are one width long).
            const double pattern[] = {3 * w, w};
            cairo_set_dash(cr_, pattern, 2, 0);
            cairo_set_line_cap(cr_, CAIRO_LINE_CAP_BUTT);
        } else {
            cairo_set_dash(cr_, nullptr, 0, 0);
            cairo_set_line_cap(cr_, CAIRO_LINE_CAP_ROUND);
        }
        cairo_stroke_preserve(cr_);
    }
    cairo_new_path(cr_);
    check();
}

void CairoPainter::flushLines() {
    if (!lines_pending_) return;
    lines_pending_ = false;
    strokeAndFill(false, true);
}

void CairoPainter::drawLine(Point a, Point b) {
    if (!has_pen_ || !finite(a) || !finite(b)) return;
    if (!lines_pending_) cairo_new_path(cr_);
    cairo_move_to(cr_, a.x, a.y);
    cairo_line_to(cr_, b.x, b.y);
    lines_pending_ = true;
}

void CairoPainter::drawPolyline(const std::vector<Point>& points, bool closed) {
    flushLines();
    if (points.size() < 2 || !(has_pen_ || has_brush_)) return;
    if (!std::all_of(points.begin(), points.end(), finite)) return;
    cairo_new_path(cr_);
    cairo_move_to(cr_, points[0].x, points[0].y);
    for (size_t i = 1; i < points.size(); ++i) cairo_line_to(cr_, points[i].x, points[i].y);
    // An open shape with a brush is filled as if closed; only its outline stays open.
    if (has_brush_) {
        setSource(cr_, brush_color_);
        cairo_set_fill_rule(cr_, CAIRO_FILL_RULE_EVEN_ODD);
        cairo_fill_preserve(cr_);
    }
    if (closed) cairo_close_path(cr_);
    strokeAndFill(false, has_pen_);
}

void CairoPainter::drawCircle(Point c, double r) {
    flushLines();
    if (!finite(c) || !std::isfinite(r)) return;
    cairo_new_path(cr_);
    cairo_arc(cr_, c.x, c.y, std::max(r, kMinRadius), 0, 2 * std::numbers::pi);
    cairo_close_path(cr_);
    strokeAndFill(has_brush_, has_pen_);
}

void CairoPainter::drawRect(Point a, Point b) {
    flushLines();
    if (!finite(a) || !finite(b)) return;
    cairo_new_path(cr_);
    cairo_rectangle(cr_, std::min(a.x, b.x), std::min(a.y, b.y), std::fabs(b.x - a.x), std::fabs(b.y - a.y));
    strokeAndFill(has_brush_, has_pen_);
}

cairo_font_face_t* CairoPainter::face(bool bold) {
    cairo_font_face_t*& slot = bold ? bold_ : regular_;
    if (!slot) {
        const cairo_font_weight_t weight = bold ? CAIRO_FONT_WEIGHT_BOLD : CAIRO_FONT_WEIGHT_NORMAL;
        slot = cairo_toy_font_face_create(textFontFamily().c_str(), CAIRO_FONT_SLANT_NORMAL, weight);
        if (cairo_font_face_status(slot) != CAIRO_STATUS_SUCCESS) {
            cairo_font_face_destroy(slot);
            slot = cairo_toy_font_face_create("sans-serif", CAIRO_FONT_SLANT_NORMAL, weight);
        }
    }
    return slot;
}

void CairoPainter::drawTextLine(std::span<const TextRun> runs, Point anchor, double size, double angle, int h, int v,
                                bool bold, const Color& color) {
    flushLines();
    if (!finite(anchor) || !std::isfinite(size) || size <= 0 || !std::isfinite(angle)) return;
    struct Piece {
        std::string utf8;
        double size, advance, rise;
        bool overbar;
    };
    std::vector<Piece> pieces;
    pieces.reserve(runs.size());
    for (const TextRun& r : runs) {
        if (r.text.empty()) continue;
        pieces.push_back({validUtf8(r.text), r.scale() * size, 0, r.rise() * size, r.overbar});
    }
    if (pieces.empty()) return;
    // The matrix, not cairo_save: a paint shows thousands of texts, and the
    // rest of the state is set by every drawing call anyway.
    cairo_matrix_t matrix;
    cairo_get_matrix(cr_, &matrix);
    // Each font setting drops Cairo's scaled font: set only what changed.
    if (cairo_font_face_t* f = face(bold); cairo_get_font_face(cr_) != f) cairo_set_font_face(cr_, f);
    if (!options_set_) {
        cairo_set_font_options(cr_, font_options_);
        options_set_ = true;
    }
    cairo_matrix_t font_matrix;
    cairo_get_font_matrix(cr_, &font_matrix);
    if (font_matrix.xx != size || font_matrix.yy != size || font_matrix.xy != 0 || font_matrix.yx != 0)
        cairo_set_font_size(cr_, size);
    cairo_font_extents_t fe;
    cairo_font_extents(cr_, &fe);
    // The line's layout box: the runs' advances by the font's line height.
    // Sizes are set only when they change: each change costs a font lookup.
    // Each run is turned into glyphs once, for measuring and for drawing.
    double W = 0, current = size;
    auto sized = [&](double s) {
        if (s != current) cairo_set_font_size(cr_, current = s);
    };
    struct Glyphs {
        cairo_glyph_t* glyphs = nullptr;
        int count = 0;
        ~Glyphs() { cairo_glyph_free(glyphs); }
    };
    std::vector<Glyphs> shaped(pieces.size());
    for (size_t i = 0; i < pieces.size(); ++i) {
        sized(pieces[i].size);
        cairo_scaled_font_t* font = cairo_get_scaled_font(cr_);
        if (cairo_scaled_font_text_to_glyphs(font, 0, 0, pieces[i].utf8.data(), static_cast<int>(pieces[i].utf8.size()),
                                             &shaped[i].glyphs, &shaped[i].count, nullptr, nullptr,
                                             nullptr) != CAIRO_STATUS_SUCCESS) {
            shaped[i].glyphs = nullptr, shaped[i].count = 0;
            continue;
        }
        cairo_text_extents_t te;
        cairo_scaled_font_glyph_extents(font, shaped[i].glyphs, shaped[i].count, &te);
        pieces[i].advance = te.x_advance;
        W += pieces[i].advance;
    }
    const double H = fe.ascent + fe.descent;
    const double ox = h < 0 ? 0 : h == 0 ? -W / 2 : -W;
    const double oy = v < 0 ? -H : v == 0 ? -H / 2 : 0;
    cairo_translate(cr_, anchor.x, anchor.y);
    if (angle != 0) cairo_rotate(cr_, -angle * std::numbers::pi / 180);
    setSource(cr_, color);
    double x = ox;
    const double baseline = oy + fe.ascent;
    for (size_t i = 0; i < pieces.size(); ++i) {
        const Piece& piece = pieces[i];
        sized(piece.size);
        for (int g = 0; g < shaped[i].count; ++g) {
            shaped[i].glyphs[g].x += x;
            shaped[i].glyphs[g].y += baseline - piece.rise;
        }
        cairo_show_glyphs(cr_, shaped[i].glyphs, shaped[i].count);
        if (piece.overbar) {
            // At the line's height, so a bar over a subscript joins its neighbours'; above a superscript.
            const double y = baseline - std::max(kOverbarRise * size, piece.rise + kOverbarRise * piece.size);
            cairo_new_path(cr_);
            cairo_move_to(cr_, x, y);
            cairo_line_to(cr_, x + piece.advance, y);
            cairo_set_line_width(cr_, kOverbarWidth * size);
            cairo_set_line_cap(cr_, CAIRO_LINE_CAP_BUTT);
            cairo_set_dash(cr_, nullptr, 0, 0);
            cairo_stroke(cr_);
        }
        x += piece.advance;
    }
    check();
    cairo_set_matrix(cr_, &matrix);
}

void CairoPainter::pushClip(double min_x, double min_y, double max_x, double max_y) {
    flushLines();
    cairo_save(cr_);
    ++clip_depth_;
    cairo_reset_clip(cr_);
    cairo_new_path(cr_);
    cairo_rectangle(cr_, min_x, min_y, max_x - min_x, max_y - min_y);
    cairo_clip(cr_);
    check();
}

void CairoPainter::popClip() {
    flushLines();
    if (clip_depth_ == 0) return;
    cairo_restore(cr_);
    --clip_depth_;
}

namespace {

// The view rectangle drawn onto a new w x h image at `scale` pixels per millimetre.
SurfacePtr drawImage(const Schematic& s, int sheet, const Settings& settings, const Highlight* highlight,
                     const BBox& view, double scale, double w, double h, bool frame, std::string* error) {
    if (!(w >= 1 && w <= kMaxImageSide && h >= 1 && h <= kMaxImageSide) || !(scale > 0 && std::isfinite(scale))) {
        if (error) *error = "image size out of range";
        return nullptr;
    }
    SurfacePtr surface(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, static_cast<int>(w), static_cast<int>(h)));
    if (cairo_surface_status(surface.get()) != CAIRO_STATUS_SUCCESS) {
        if (error) *error = cairo_status_to_string(cairo_surface_status(surface.get()));
        return nullptr;
    }
    cairo_t* cr = cairo_create(surface.get());
    const Theme& theme = themeByName(settings.theme);
    // The renderer's background ends at the view's edge, which rounding can put
    // inside the last pixel row; painting it under everything keeps the image opaque.
    setSource(cr, theme.background);
    cairo_paint(cr);
    cairo_scale(cr, scale, scale);
    cairo_translate(cr, -view.min_x, -view.min_y);
    {
        RenderContext ctx{&settings, &theme};
        CairoPainter painter(cr, scale);
        renderPage(ctx, painter, s, sheet, view, highlight, frame);
    }
    cairo_destroy(cr);
    cairo_surface_flush(surface.get());
    return surface;
}

}  // namespace

SurfacePtr renderSheetImage(const Schematic& s, int sheet, const Settings& settings, const Highlight* highlight,
                            int width_px, std::string* error, bool frame) {
    const BBox box = exportViewBox(s, sheet, frame);
    const double scale = width_px / std::max(box.max_x - box.min_x, 1.0);
    return drawImage(s, sheet, settings, highlight, box, scale, width_px, std::round((box.max_y - box.min_y) * scale),
                     frame, error);
}

SurfacePtr renderRegionImage(const Schematic& s, int sheet, const Settings& settings, const Highlight* highlight,
                             const BBox& region, double px_per_mm, std::string* error) {
    return drawImage(s, sheet, settings, highlight, region, px_per_mm,
                     std::round((region.max_x - region.min_x) * px_per_mm),
                     std::round((region.max_y - region.min_y) * px_per_mm), false, error);
}

namespace {

// Every pixel fully opaque: the image needs no alpha channel.
bool opaque(const unsigned char* data, int w, int h, int stride) {
    for (int y = 0; y < h; ++y) {
        const uint32_t* px = reinterpret_cast<const uint32_t*>(data + static_cast<size_t>(y) * stride);
        uint32_t all = 0xff000000u;
        for (int x = 0; x < w; ++x) all &= px[x];
        if (all < 0xff000000u) return false;
    }
    return true;
}

// libpng reports failures by longjmp, so nothing with a destructor may live in
// this frame; the caller owns the file and the row buffer (4 bytes a pixel).
// Drawings are opaque but for their own translucent fills; without an alpha
// channel a quarter less goes through zlib.
bool encodePng(std::FILE* f, const unsigned char* data, int w, int h, int stride, bool rgb, unsigned char* row) {
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (!png || !info || setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return false;
    }
    png_init_io(png, f);
    png_set_compression_level(png, 1);
    // Opaque drawings repeat whole pixels, which deflate finds unfiltered; "sub"
    // only costs time there. With alpha it still pays.
    png_set_filter(png, PNG_FILTER_TYPE_BASE, rgb ? PNG_FILTER_NONE : PNG_FILTER_SUB);
    png_set_IHDR(png, info, w, h, 8, rgb ? PNG_COLOR_TYPE_RGB : PNG_COLOR_TYPE_RGB_ALPHA, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (int y = 0; y < h; ++y) {
        // Cairo keeps native-endian premultiplied ARGB; PNG wants straight RGB(A) bytes.
        const uint32_t* px = reinterpret_cast<const uint32_t*>(data + static_cast<size_t>(y) * stride);
        unsigned char* out = row;
        if (rgb) {  // opaque: nothing to undo, the bytes only change places
            for (int x = 0; x < w; ++x, out += 3) {
                const uint32_t v = px[x];
                out[0] = static_cast<unsigned char>(v >> 16);
                out[1] = static_cast<unsigned char>(v >> 8);
                out[2] = static_cast<unsigned char>(v);
            }
            png_write_row(png, row);
            continue;
        }
        for (int x = 0; x < w; ++x, out += 4) {
            const uint32_t v = px[x];
            const unsigned a = v >> 24;
            for (int c = 0; c < 3; ++c) {
                const unsigned premultiplied = (v >> (16 - 8 * c)) & 0xff;
                out[c] = static_cast<unsigned char>(
                    a == 255 || a == 0 ? premultiplied : std::min(255u, (premultiplied * 255 + a / 2) / a));
            }
            out[3] = static_cast<unsigned char>(a);
        }
        png_write_row(png, row);
    }
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return true;
}

}  // namespace

// Cairo's own PNG writer compresses hard and takes several times longer than
// drawing the sheet; drawings are mostly flat colour, so the fastest zlib level
// keeps files small at a fraction of the time.
bool writePng(cairo_surface_t* image, const std::string& path, std::string* error) {
    const int w = cairo_image_surface_get_width(image), h = cairo_image_surface_get_height(image);
    cairo_surface_flush(image);
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) {
        if (error) *error = "cannot write " + path;
        return false;
    }
    std::vector<unsigned char> row(static_cast<size_t>(w) * 4);
    const unsigned char* data = cairo_image_surface_get_data(image);
    const int stride = cairo_image_surface_get_stride(image);
    const bool encoded = encodePng(f, data, w, h, stride, opaque(data, w, h, stride), row.data());
    const bool closed = std::fclose(f) == 0;
    if (!encoded || !closed) {
        if (error) *error = "cannot write " + path + (encoded ? "" : ": PNG encoding failed");
        return false;
    }
    return true;
}

bool renderSheetPng(const Schematic& s, int sheet, const Settings& settings, const Highlight* highlight, int width_px,
                    const std::string& path, std::string* error, bool frame) {
    SurfacePtr image = renderSheetImage(s, sheet, settings, highlight, width_px, error, frame);
    if (!image) return false;
    return writePng(image.get(), path, error);
}

}  // namespace nl

#endif

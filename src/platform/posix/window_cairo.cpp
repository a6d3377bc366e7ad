#include "platform/posix/window_cairo.h"

#if NETLOOM_HAVE_CAIRO

#include <cairo-pdf.h>

#include <algorithm>

#include "platform/posix/cairo_painter.h"
#include "render/theme.h"

namespace nl {

namespace {

constexpr double kPointsPerMm = 72 / 25.4;
constexpr double kMaxPageSide = 14400;  // points

bool failed(cairo_status_t status, const std::string& path, std::string* error) {
    if (status == CAIRO_STATUS_SUCCESS) return false;
    if (error) *error = "Cannot write " + path + ": " + cairo_status_to_string(status);
    return true;
}

}  // namespace

void paintCanvas(cairo_t* cr, WindowController& c) {
    const Color bg = c.background();
    cairo_set_source_rgb(cr, bg.r, bg.g, bg.b);
    cairo_paint(cr);
    if (!c.hasSchematic()) return;
    cairo_save(cr);
    cairo_scale(cr, c.zoom(), c.zoom());
    cairo_translate(cr, -c.originX(), -c.originY());
    {
        CairoPainter painter(cr, c.zoom());
        c.paint(painter);
    }
    cairo_restore(cr);
}

bool writeSheetsPdf(const Schematic& s, const Settings& settings, const Highlight* highlight, const std::string& path,
                    std::string* error) {
    cairo_surface_t* surface = cairo_pdf_surface_create(path.c_str(), 595, 842);
    if (failed(cairo_surface_status(surface), path, error)) {
        cairo_surface_destroy(surface);
        return false;
    }
    const Theme& theme = themeByName(settings.theme);
    RenderContext ctx;
    ctx.settings = &settings;
    ctx.theme = &theme;
    cairo_status_t status = CAIRO_STATUS_SUCCESS;
    for (int sheet = 0; sheet < static_cast<int>(s.sheets.size()) && status == CAIRO_STATUS_SUCCESS; ++sheet) {
        const BBox box = sheetViewBox(s, sheet);
        const double w = box.max_x - box.min_x, h = box.max_y - box.min_y;
        const double scale = std::min(kPointsPerMm, kMaxPageSide / std::max({w, h, 1.0}));
        cairo_pdf_surface_set_size(surface, w * scale, h * scale);
        cairo_t* cr = cairo_create(surface);
        cairo_scale(cr, scale, scale);
        cairo_translate(cr, -box.min_x, -box.min_y);
        {
            CairoPainter painter(cr, scale);
            renderSheet(ctx, painter, s, sheet, box, highlight);
        }
        cairo_show_page(cr);
        status = cairo_status(cr);
        cairo_destroy(cr);
    }
    cairo_surface_finish(surface);
    if (status == CAIRO_STATUS_SUCCESS) status = cairo_surface_status(surface);
    cairo_surface_destroy(surface);
    return !failed(status, path, error);
}

}  // namespace nl

#endif

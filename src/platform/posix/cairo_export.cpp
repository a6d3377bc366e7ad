#include "platform/posix/cairo_export.h"

#if NETLOOM_HAVE_CAIRO

#include <cairo-pdf.h>
#include <fontconfig/fontconfig.h>

#include <cmath>
#include <map>

#include "base/text.h"
#include "platform/posix/cairo_painter.h"
#include "render/drawing_export.h"
#include "render/page_frame.h"

namespace nl {

namespace {

constexpr double kPointsPerMm = 72 / 25.4;
// PDF viewers refuse pages beyond 200 inches a side (PDF 1.6 limits).
constexpr double kMaxPagePoints = 14400;

bool fail(std::string* error, const std::string& message) {
    if (error) *error = message;
    return false;
}

}  // namespace

cairo_status_t drawSheetPage(cairo_t* cr, const Schematic& s, int sheet, const Settings& settings,
                             const Highlight* highlight, const BBox& view, double scale, bool frame) {
    cairo_save(cr);
    cairo_scale(cr, scale, scale);
    cairo_translate(cr, -view.min_x, -view.min_y);
    cairo_status_t status;
    {
        const Theme& theme = themeByName(settings.theme);
        RenderContext ctx{&settings, &theme};
        CairoPainter painter(cr, scale);
        painter.pushClip(view.min_x, view.min_y, view.max_x, view.max_y);
        renderPage(ctx, painter, s, sheet, view, highlight, frame);
        painter.popClip();
        status = painter.lastStatus();
    }
    cairo_restore(cr);
    return status != CAIRO_STATUS_SUCCESS ? status : cairo_status(cr);
}

bool writeDesignPdf(const Schematic& s, const std::vector<int>& sheets, const Settings& settings,
                    const std::string& path, std::string* error, const Highlight* highlight) {
    const int n = static_cast<int>(s.sheets.size());
    for (int sheet : sheets)
        if (sheet < 0 || sheet >= n) return fail(error, "no sheet " + std::to_string(sheet) + " in the design");
    if (sheets.empty()) return fail(error, "the design has no sheets");

    // The first page's size is set again below, like every other's.
    SurfacePtr surface(cairo_pdf_surface_create(path.c_str(), 595, 842));
    if (cairo_surface_status(surface.get()) != CAIRO_STATUS_SUCCESS)
        return fail(error, "cannot write " + path + ": " + cairo_status_to_string(cairo_surface_status(surface.get())));
    cairo_pdf_surface_set_metadata(surface.get(), CAIRO_PDF_METADATA_TITLE, validUtf8(s.title).c_str());
    cairo_pdf_surface_set_metadata(surface.get(), CAIRO_PDF_METADATA_CREATOR, "Netloom Studio");

    std::map<int, int> outline;  // sheet -> its outline entry, so children nest under parents
    cairo_status_t status = CAIRO_STATUS_SUCCESS;
    for (size_t page = 0; page < sheets.size() && status == CAIRO_STATUS_SUCCESS; ++page) {
        const int sheet = sheets[page];
        const BBox box = sheetPageBox(s, sheet);
        const double w = std::min((box.max_x - box.min_x) * kPointsPerMm, kMaxPagePoints);
        const double h = std::min((box.max_y - box.min_y) * kPointsPerMm, kMaxPagePoints);
        const double scale = std::min(w / (box.max_x - box.min_x), h / (box.max_y - box.min_y));
        cairo_pdf_surface_set_size(surface.get(), w, h);
        cairo_t* cr = cairo_create(surface.get());
        status = drawSheetPage(cr, s, sheet, settings, highlight, box, scale, true);
        cairo_show_page(cr);
        if (status == CAIRO_STATUS_SUCCESS) status = cairo_status(cr);
        cairo_destroy(cr);

        const int parent = s.sheets[sheet].parent;
        const auto up = outline.find(parent);
        outline[sheet] =
            cairo_pdf_surface_add_outline(surface.get(), up == outline.end() ? CAIRO_PDF_OUTLINE_ROOT : up->second,
                                          validUtf8(sheetPath(s, sheet)).c_str(),
                                          ("page=" + std::to_string(page + 1)).c_str(), CAIRO_PDF_OUTLINE_FLAG_OPEN);
    }
    cairo_surface_finish(surface.get());
    if (status == CAIRO_STATUS_SUCCESS) status = cairo_surface_status(surface.get());
    if (status != CAIRO_STATUS_SUCCESS)
        return fail(error, "cannot write " + path + ": " + cairo_status_to_string(status));
    return true;
}

DrawingWriters cairoDrawingWriters() {
    DrawingWriters writers;
    writers.pdf = [](const Schematic& s, const std::vector<int>& sheets, const Settings& settings,
                     const std::string& path,
                     std::string* error) { return writeDesignPdf(s, sheets, settings, path, error); };
    writers.png = [](const Schematic& s, int sheet, const Settings& settings, bool frame, int width_px,
                     const std::string& path, std::string* error) {
        return renderSheetPng(s, sheet, settings, nullptr, width_px, path, error, frame);
    };
    writers.release = [] {
        cairo_debug_reset_static_data();
        FcFini();
    };
    return writers;
}

}  // namespace nl

#endif

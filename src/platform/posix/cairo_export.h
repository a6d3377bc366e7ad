// Whole pages of a design through Cairo: one sheet drawn as a page onto any
// Cairo context (the window's, an image, a PDF page), and the PDF of a design.
// The PNG side is renderSheetImage / renderSheetPng of cairo_painter.h.
#pragma once

#if NETLOOM_HAVE_CAIRO

#include <cairo.h>

#include <string>
#include <vector>

#include "render/drawing_export.h"
#include "render/render.h"
#include "settings/settings.h"

namespace nl {

// Draws `view` (millimetres) of a sheet onto cr at `scale` device units per
// millimetre, the view's top-left corner at cr's current origin, clipped to
// the view; with `frame`, the page's border and title block too. The theme
// is the settings'. cr's state is left as it was. Returns Cairo's status.
cairo_status_t drawSheetPage(cairo_t* cr, const Schematic& s, int sheet, const Settings& settings,
                             const Highlight* highlight, const BBox& view, double scale, bool frame);

// `sheets` in that order, one page each the size of its sheet's page
// (sheetPageBox), the frame drawn, the texts as real text, the document
// outline nested as the hierarchy with the sheet paths as titles; `highlight`
// emphasised on every page as the window shows it.
bool writeDesignPdf(const Schematic& s, const std::vector<int>& sheets, const Settings& settings,
                    const std::string& path, std::string* error, const Highlight* highlight = nullptr);

// The Cairo writers, as the core takes them (drawing_export.h).
DrawingWriters cairoDrawingWriters();

}  // namespace nl

#endif

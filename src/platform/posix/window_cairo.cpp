#include "platform/posix/window_cairo.h"

#if NETLOOM_HAVE_CAIRO

#include "platform/posix/cairo_painter.h"
#include "render/theme.h"

namespace nl {

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

}  // namespace nl

#endif

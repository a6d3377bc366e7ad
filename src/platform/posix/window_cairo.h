// What the window draws through Cairo: its canvas.
#pragma once

#if NETLOOM_HAVE_CAIRO

#include <cairo.h>

#include "app/window_controller.h"
#include "render/render.h"

namespace nl {

// The canvas as the controller shows it: background, then the sheet at the
// controller's zoom and origin. Draws nothing but the background when no
// design is open (the shell adds its own invitation).
void paintCanvas(cairo_t* cr, WindowController& controller);

}  // namespace nl

#endif

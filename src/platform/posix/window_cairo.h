// What the window draws through Cairo: its canvas, and the PDF export with
// every sheet of the design on a page of its own (PNG is renderSheetPng).
#pragma once

#if NETLOOM_HAVE_CAIRO

#include <cairo.h>

#include <string>

#include "app/window_controller.h"
#include "render/render.h"

namespace nl {

// The canvas as the controller shows it: background, then the sheet at the
// controller's zoom and origin. Draws nothing but the background when no
// design is open (the shell adds its own invitation).
void paintCanvas(cairo_t* cr, WindowController& controller);

// Each page is its sheet's view box at true size (1 mm = 72 / 25.4 points),
// scaled down when a side would pass the 200 inches PDF readers accept.
// False with a message when the file cannot be written.
bool writeSheetsPdf(const Schematic& s, const Settings& settings, const Highlight* highlight, const std::string& path,
                    std::string* error);

}  // namespace nl

#endif

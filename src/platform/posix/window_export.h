// The window's exports that go through Cairo: a PNG of one sheet and a PDF
// with every sheet of the design on a page of its own.
#pragma once

#if NETLOOM_HAVE_CAIRO

#include <string>

#include "render/render.h"

namespace nl {

// Each page is its sheet's view box at true size (1 mm = 72 / 25.4 points),
// scaled down when a side would pass the 200 inches PDF readers accept.
// False with a message when the file cannot be written.
bool writeSheetsPdf(const Schematic& s, const Settings& settings, const Highlight* highlight, const std::string& path,
                    std::string* error);

}  // namespace nl

#endif

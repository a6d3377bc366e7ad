// Drawings in formats the core does not write itself (PDF, PNG). Each platform
// registers the writers it has at start-up; a build without them leaves them
// null, and the command line says the format is not available.
#pragma once

#include <string>
#include <vector>

#include "model/model.h"
#include "settings/settings.h"

namespace nl {

struct DrawingWriters {
    // `sheets` one page each in that order, every page the size of its sheet's
    // paper with the frame drawn, the text kept as text, and an outline of the
    // sheet paths. False with a message on failure.
    bool (*pdf)(const Schematic& s, const std::vector<int>& sheets, const Settings& settings, const std::string& path,
                std::string* error) = nullptr;
    // One sheet as a PNG image width_px wide, framed as the SVG export frames it.
    bool (*png)(const Schematic& s, int sheet, const Settings& settings, bool frame, int width_px,
                const std::string& path, std::string* error) = nullptr;
    // Frees the font caches the writers filled. Only for a process that draws
    // nothing more (a command-line run about to end): the leak checker sees
    // the caches' memory as lost otherwise.
    void (*release)() = nullptr;
};

// Installs the platform's writers. Call once at start-up, before any other thread exists.
void setDrawingWriters(const DrawingWriters& writers);
const DrawingWriters& drawingWriters();

}  // namespace nl

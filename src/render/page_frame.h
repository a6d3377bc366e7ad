// A sheet drawn as a printed page: the paper it is laid out on, the border
// with its zone marks and KiCad's default title block. Everything is drawn
// through the Painter, so every export and the window show the same frame.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "model/model.h"
#include "render/painter.h"
#include "render/render.h"
#include "render/theme.h"

namespace nl {

// A named paper size, landscape (width >= height), millimetres.
struct PaperSize {
    const char* name;
    double width;
    double height;
};

// The sizes KiCad offers: A5..A0, A..E, USLetter, USLegal, USLedger, GERBER.
const std::vector<PaperSize>& paperSizes();

// Case-insensitive; null for a name outside the table ("User" included).
const PaperSize* paperSizeByName(std::string_view name);

// True when the page of this sheet is its paper with a frame drawn by us:
// KiCad sheets. Eagle sheets carry their frame in their own drawing.
bool sheetTakesPageFrame(const Schematic& s, int sheet);

// The rectangle a page of this sheet shows: a KiCad sheet's paper from (0, 0)
// (A4 when it names none or an unknown one, User sizes as written, portrait
// turned upright), an Eagle sheet's drawing with its margin (sheetViewBox).
BBox sheetPageBox(const Schematic& s, int sheet);

// The paper's name as the title block shows it ("A4", "User").
std::string sheetPaperName(const Schematic& s, int sheet);

// The texts of the title block, each with its prefix ("Title: ...").
struct TitleBlockTexts {
    std::string title, date, revision, paper, program, sheet_number, file, sheet_path, company;
    std::vector<std::string> comments;  // at most four, in order
};
TitleBlockTexts titleBlockTexts(const Schematic& s, int sheet);

// The border, zone marks and title block over `page` (sheetPageBox), in the
// theme's sheet-drawing and free-text colours. Draws nothing on a sheet that
// takes no frame.
void drawPageFrame(Painter& painter, const Theme& theme, const Schematic& s, int sheet, const BBox& page);

// The rectangle an export shows: the page when the frame is drawn on a sheet
// that takes one, else the sheet's own view box.
BBox exportViewBox(const Schematic& s, int sheet, bool frame);

// renderSheet over `view`, then the frame when asked for.
void renderPage(const RenderContext& ctx, Painter& painter, const Schematic& s, int sheet, const BBox& view,
                const Highlight* highlight, bool frame);

}  // namespace nl

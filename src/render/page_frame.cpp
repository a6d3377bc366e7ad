#include "render/page_frame.h"

#include <algorithm>
#include <cmath>

#include "base/text.h"

namespace nl {

namespace {

// KiCad's default drawing sheet: 10 mm margins, a second border 2 mm inside
// the first, zone marks every 50 mm between the two, and a title block
// 108 x 32 mm in the lower right corner of the inner border.
constexpr double kMargin = 10;
constexpr double kBorderGap = 2;
constexpr double kZone = 50;
constexpr double kLineWidth = 0.15;
constexpr double kTextSize = 1.5;  // capital heights, as in the drawing sheet
constexpr double kZoneTextSize = 1.3;
constexpr double kTitleSize = 2;
// Beyond this many zones a side (a 5-metre user sheet) the marks stop.
constexpr int kMaxZones = 100;
// Anything bigger is not paper; such a user size falls back to the default.
constexpr double kMaxPaper = 10000;

const char* kDefaultPaper = "A4";

bool usable(Point size) {
    return std::isfinite(size.x) && std::isfinite(size.y) && size.x > 1 && size.y > 1 && size.x <= kMaxPaper &&
           size.y <= kMaxPaper;
}

// Zone labels: 1, 2, 3... along the top and bottom; A..Z, AA.. down the sides.
std::string zoneLabel(int i, bool letters) {
    if (!letters) return std::to_string(i + 1);
    std::string out;
    for (int n = i + 1; n > 0; n = (n - 1) / 26) out.insert(out.begin(), static_cast<char>('A' + (n - 1) % 26));
    return out;
}

void text(Painter& p, const std::string& s, Point at, double size, int h, bool bold, const Color& c) {
    p.drawText(s, at, size * kTextEmPerCapital, 0, h, 0, bold, c);
}

// Marks and labels along one side. `along` is the unit step of the side,
// `inward` points from the outer border towards the inner one.
void zoneSide(Painter& p, const Theme& t, Point corner, Point along, Point inward, double length, bool letters) {
    p.setPen(t.sheet_drawing, kLineWidth);
    for (int i = 1; i < kMaxZones && i * kZone < length; ++i) {  // none on the border itself
        const Point a{corner.x + along.x * i * kZone, corner.y + along.y * i * kZone};
        p.drawLine(a, {a.x + inward.x * kBorderGap, a.y + inward.y * kBorderGap});
    }
    for (int i = 0; i < kMaxZones && (i + 0.5) * kZone <= length; ++i) {
        const double d = (i + 0.5) * kZone;
        const Point at{corner.x + along.x * d + inward.x * kBorderGap / 2,
                       corner.y + along.y * d + inward.y * kBorderGap / 2};
        text(p, zoneLabel(i, letters), at, kZoneTextSize, 0, false, t.sheet_drawing);
    }
}

}  // namespace

const std::vector<PaperSize>& paperSizes() {
    static const std::vector<PaperSize> sizes = {
        {"A5", 210, 148},          {"A4", 297, 210},           {"A3", 420, 297},         {"A2", 594, 420},
        {"A1", 841, 594},          {"A0", 1189, 841},          {"A", 279.4, 215.9},      {"B", 431.8, 279.4},
        {"C", 558.8, 431.8},       {"D", 863.6, 558.8},        {"E", 1117.6, 863.6},     {"USLetter", 279.4, 215.9},
        {"USLegal", 355.6, 215.9}, {"USLedger", 431.8, 279.4}, {"GERBER", 812.8, 812.8},
    };
    return sizes;
}

const PaperSize* paperSizeByName(std::string_view name) {
    for (const PaperSize& p : paperSizes())
        if (equalsNoCase(p.name, name)) return &p;
    return nullptr;
}

bool sheetTakesPageFrame(const Schematic& s, int sheet) {
    return s.format != "eagle" && sheet >= 0 && sheet < static_cast<int>(s.sheets.size());
}

std::string sheetPaperName(const Schematic& s, int sheet) {
    if (sheet < 0 || sheet >= static_cast<int>(s.sheets.size())) return kDefaultPaper;
    const Sheet& sh = s.sheets[sheet];
    if (sh.paper == "User" && usable(sh.paper_size)) return sh.paper;
    const PaperSize* p = paperSizeByName(sh.paper);
    return p ? p->name : kDefaultPaper;
}

BBox sheetPageBox(const Schematic& s, int sheet) {
    if (!sheetTakesPageFrame(s, sheet)) return sheetViewBox(s, sheet);
    const Sheet& sh = s.sheets[sheet];
    if (sh.paper == "User" && usable(sh.paper_size)) return {0, 0, sh.paper_size.x, sh.paper_size.y};
    const PaperSize* p = paperSizeByName(sheetPaperName(s, sheet));
    return sh.paper_portrait ? BBox{0, 0, p->height, p->width} : BBox{0, 0, p->width, p->height};
}

TitleBlockTexts titleBlockTexts(const Schematic& s, int sheet) {
    TitleBlockTexts t;
    t.title = "Title: " + s.title;
    t.date = "Date: " + s.date;
    t.revision = "Rev: " + s.rev;
    t.paper = "Size: " + sheetPaperName(s, sheet);
    t.program = "Netloom Studio";
    t.sheet_number = "Sheet " + std::to_string(sheet + 1) + "/" + std::to_string(s.sheets.size());
    const bool known = sheet >= 0 && sheet < static_cast<int>(s.sheets.size());
    t.file = "File: " + (known ? s.sheets[sheet].file : std::string());
    t.sheet_path = "Sheet: " + sheetPath(s, sheet);
    t.company = s.company;
    // The loader keeps the comments joined; the block has room for four.
    static const std::string kJoin = " | ";
    for (size_t from = 0; !s.comment.empty() && t.comments.size() < 4;) {
        const size_t cut = s.comment.find(kJoin, from);
        t.comments.push_back(s.comment.substr(from, cut == std::string::npos ? std::string::npos : cut - from));
        if (cut == std::string::npos) break;
        from = cut + kJoin.size();
    }
    return t;
}

void drawPageFrame(Painter& p, const Theme& t, const Schematic& s, int sheet, const BBox& page) {
    if (!sheetTakesPageFrame(s, sheet)) return;
    const double left = page.min_x + kMargin, top = page.min_y + kMargin;
    const double right = page.max_x - kMargin, bottom = page.max_y - kMargin;
    if (right - left < 4 * kBorderGap || bottom - top < 4 * kBorderGap) return;  // no room for a border

    p.noBrush();
    p.setDashed(false);
    p.setPen(t.sheet_drawing, kLineWidth);
    p.drawRect({left, top}, {right, bottom});
    p.drawRect({left + kBorderGap, top + kBorderGap}, {right - kBorderGap, bottom - kBorderGap});
    const double width = right - left, height = bottom - top;
    zoneSide(p, t, {left, top}, {1, 0}, {0, 1}, width, false);
    zoneSide(p, t, {left, bottom}, {1, 0}, {0, -1}, width, false);
    zoneSide(p, t, {left, top}, {0, 1}, {1, 0}, height, true);
    zoneSide(p, t, {right, top}, {0, 1}, {-1, 0}, height, true);

    // The title block is laid out from the lower right corner, x leftwards and y upwards.
    auto at = [&](double x, double y) { return Point{right - x, bottom - y}; };
    p.setPen(t.sheet_drawing, kLineWidth);
    p.drawRect(at(110, 34), at(kBorderGap, kBorderGap));
    for (double y : {5.5, 8.5, 12.5, 18.5}) p.drawLine(at(110, y), at(kBorderGap, y));
    p.drawLine(at(90, 8.5), at(90, 5.5));
    p.drawLine(at(26, 8.5), at(26, kBorderGap));

    const TitleBlockTexts tb = titleBlockTexts(s, sheet);
    const Color& c = t.free_text;
    text(p, tb.date, at(87, 6.9), kTextSize, -1, false, c);
    text(p, tb.program, at(109, 4.1), kTextSize, -1, false, c);
    text(p, tb.revision, at(24, 6.9), kTextSize, -1, true, c);
    text(p, tb.paper, at(109, 6.9), kTextSize, -1, false, c);
    text(p, tb.sheet_number, at(24, 4.1), kTextSize, -1, false, c);
    text(p, tb.title, at(109, 10.7), kTitleSize, -1, true, c);
    text(p, tb.file, at(109, 14.3), kTextSize, -1, false, c);
    text(p, tb.sheet_path, at(109, 17), kTextSize, -1, false, c);
    text(p, tb.company, at(109, 20), kTextSize, -1, true, c);
    for (size_t i = 0; i < tb.comments.size(); ++i)
        text(p, tb.comments[i], at(109, 23 + 3.0 * i), kTextSize, -1, false, c);
}

BBox exportViewBox(const Schematic& s, int sheet, bool frame) {
    return frame ? sheetPageBox(s, sheet) : sheetViewBox(s, sheet);
}

void renderPage(const RenderContext& ctx, Painter& painter, const Schematic& s, int sheet, const BBox& view,
                const Highlight* highlight, bool frame) {
    renderSheet(ctx, painter, s, sheet, view, highlight);
    if (frame && ctx.theme) drawPageFrame(painter, *ctx.theme, s, sheet, sheetPageBox(s, sheet));
}

}  // namespace nl

#include "platform/win32/gdiplus_painter.h"

#ifdef _WIN32

#include <algorithm>
#include <cmath>
#include <mutex>

#include "app/window_controller.h"
#include "base/text.h"
#include "render/page_frame.h"
#include "render/theme.h"

namespace nl {

namespace {

constexpr double kMinPenWidth = 0.02;  // mm
constexpr double kMinRadius = 0.01;    // mm
// The same limit as the Cairo images, so both builds refuse the same widths.
constexpr int kMaxImageSide = 32767;

bool finite(Point p) { return std::isfinite(p.x) && std::isfinite(p.y); }

Gdiplus::PointF toPoint(Point p) { return {static_cast<Gdiplus::REAL>(p.x), static_cast<Gdiplus::REAL>(p.y)}; }

std::wstring toWide(std::string_view utf8) {
    const std::string valid = validUtf8(utf8);
    if (valid.empty()) return {};
    const int n = MultiByteToWideChar(CP_UTF8, 0, valid.data(), static_cast<int>(valid.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(std::max(n, 0)), L'\0');
    if (n > 0) MultiByteToWideChar(CP_UTF8, 0, valid.data(), static_cast<int>(valid.size()), wide.data(), n);
    return wide;
}

// Process-wide GDI+ state: the start-up token and the two generic font
// families, which GDI+ hands out as objects that must go before it stops.
struct Runtime {
    std::mutex mutex;
    ULONG_PTR token = 0;
    bool running = false;
    int sessions = 0;
    Gdiplus::FontFamily* monospace = nullptr;
    Gdiplus::FontFamily* sans = nullptr;
    bool looked_up = false;
};

Runtime& runtime() {
    static Runtime r;
    return r;
}

// GDI+'s generic family, as a family object of our own (null when GDI+ has
// none). The generic handle itself belongs to GDI+; the wrapper class cannot
// take it, so the family is made again by its name.
Gdiplus::FontFamily* genericFamily(Gdiplus::GpStatus (*get)(Gdiplus::GpFontFamily**)) {
    Gdiplus::GpFontFamily* native = nullptr;
    WCHAR name[LF_FACESIZE] = {};
    if (get(&native) != Gdiplus::Ok || !native ||
        Gdiplus::DllExports::GdipGetFamilyName(native, name, LANG_NEUTRAL) != Gdiplus::Ok)
        return nullptr;
    auto* family = new Gdiplus::FontFamily(name);
    if (family->GetLastStatus() != Gdiplus::Ok) {
        delete family;
        return nullptr;
    }
    return family;
}

struct Families {
    const Gdiplus::FontFamily* monospace;
    const Gdiplus::FontFamily* sans;
};

Families genericFamilies() {
    Runtime& r = runtime();
    std::lock_guard lock(r.mutex);
    if (!r.looked_up && r.running) {
        r.monospace = genericFamily(Gdiplus::DllExports::GdipGetGenericFontFamilyMonospace);
        r.sans = genericFamily(Gdiplus::DllExports::GdipGetGenericFontFamilySansSerif);
        r.looked_up = true;
    }
    return {r.monospace, r.sans};
}

// The first installed of the two families texts are meant for; empty when
// neither is, and the generic monospace family stands in.
const std::wstring& namedTextFamily() {
    static const std::wstring name = [] {
        for (const wchar_t* candidate : {L"Consolas", L"Courier New"}) {
            Gdiplus::FontFamily family(candidate);
            if (family.IsAvailable()) return std::wstring(candidate);
        }
        return std::wstring();
    }();
    return name;
}

// A font made for one call: the text family at `size` world units, else the
// generic sans-serif one. Null when not even that can be made.
std::unique_ptr<Gdiplus::Font> makeFont(double size, bool bold) {
    const INT style = bold ? Gdiplus::FontStyleBold : Gdiplus::FontStyleRegular;
    const auto em = static_cast<Gdiplus::REAL>(size);
    const Families generic = genericFamilies();
    auto made = [&](const Gdiplus::FontFamily* family) -> std::unique_ptr<Gdiplus::Font> {
        if (!family) return nullptr;
        auto font = std::make_unique<Gdiplus::Font>(family, em, style, Gdiplus::UnitWorld);
        if (font->GetLastStatus() != Gdiplus::Ok || !font->IsAvailable()) return nullptr;
        return font;
    };
    std::unique_ptr<Gdiplus::Font> font;
    if (!namedTextFamily().empty()) {
        Gdiplus::FontFamily family(namedTextFamily().c_str());
        font = made(&family);
    } else {
        font = made(generic.monospace);
    }
    return font ? std::move(font) : made(generic.sans);
}

// The distance from a line's top to its baseline, in the font's units.
double fontAscent(const Gdiplus::Font& font) {
    Gdiplus::FontFamily family;
    font.GetFamily(&family);
    const INT style = font.GetStyle();
    const double units = family.GetEmHeight(style);
    return units > 0 ? font.GetSize() * family.GetCellAscent(style) / units : 0.8 * font.GetSize();
}

}  // namespace

bool startGdiplus(std::string* error) {
    Runtime& r = runtime();
    std::lock_guard lock(r.mutex);
    if (r.running) return true;
    Gdiplus::GdiplusStartupInput input;
    const Gdiplus::Status status = Gdiplus::GdiplusStartup(&r.token, &input, nullptr);
    if (status != Gdiplus::Ok) {
        if (error) *error = "GDI+ could not be started (status " + std::to_string(static_cast<int>(status)) + ")";
        return false;
    }
    r.running = true;
    return true;
}

void stopGdiplus() {
    Runtime& r = runtime();
    std::lock_guard lock(r.mutex);
    if (!r.running || r.sessions > 0) return;
    delete r.monospace;
    delete r.sans;
    r.monospace = r.sans = nullptr;
    r.looked_up = false;
    Gdiplus::GdiplusShutdown(r.token);
    r.running = false;
}

GdiplusSession::GdiplusSession() {
    {
        Runtime& r = runtime();
        std::lock_guard lock(r.mutex);
        ++r.sessions;
    }
    ok_ = startGdiplus(&error_);
}

GdiplusSession::~GdiplusSession() {
    {
        Runtime& r = runtime();
        std::lock_guard lock(r.mutex);
        --r.sessions;
    }
    stopGdiplus();
}

Gdiplus::ARGB toArgb(const Color& c) {
    auto byte = [](double v) {
        return static_cast<BYTE>(std::isfinite(v) ? std::lround(std::clamp(v, 0.0, 1.0) * 255) : 0);
    };
    return Gdiplus::Color::MakeARGB(byte(c.a), byte(c.r), byte(c.g), byte(c.b));
}

GdiplusPainter::GdiplusPainter(Gdiplus::Graphics& graphics) : graphics_(graphics) {}

GdiplusPainter::~GdiplusPainter() {
    // The first saved state holds the graphics as the caller handed it over.
    if (!clips_.empty()) graphics_.Restore(clips_.front());
}

void GdiplusPainter::check(Gdiplus::Status status) {
    if (status != Gdiplus::Ok) status_ = status;
}

void GdiplusPainter::setPen(const Color& color, double width) {
    pen_color_ = color;
    pen_width_ = width;
    has_pen_ = true;
}

void GdiplusPainter::setBrush(const Color& color) {
    brush_color_ = color;
    has_brush_ = true;
}

// Outlines go out in device pixels: the shape is moved through the world
// transform, and the pen, made for the call, is as wide in pixels as its width
// in millimetres covers. On Windows this draws what stroking in world units
// draws; Wine's GDI+ (8.0) draws every pen narrower than one world unit one
// unit wide, which at sheet scale is a millimetre.
void GdiplusPainter::stroke(Gdiplus::GraphicsPath& path, bool roundJoins) {
    Gdiplus::Matrix world;
    check(graphics_.GetTransform(&world));
    Gdiplus::REAL m[6] = {};
    world.GetElements(m);
    const double scale = std::sqrt(std::fabs(double(m[0]) * m[3] - double(m[1]) * m[2]));
    const double mm = std::isfinite(pen_width_) ? std::max(pen_width_, kMinPenWidth) : kMinPenWidth;
    Gdiplus::Pen pen(Gdiplus::Color(toArgb(pen_color_)), static_cast<Gdiplus::REAL>(mm * scale));
    pen.SetStartCap(Gdiplus::LineCapRound);
    pen.SetEndCap(Gdiplus::LineCapRound);
    if (roundJoins) pen.SetLineJoin(Gdiplus::LineJoinRound);
    if (dashed_) pen.SetDashStyle(Gdiplus::DashStyleDash);
    check(path.Transform(&world));
    check(graphics_.ResetTransform());
    check(graphics_.DrawPath(&pen, &path));
    check(graphics_.SetTransform(&world));
}

void GdiplusPainter::drawLine(Point a, Point b) {
    if (!has_pen_ || !finite(a) || !finite(b)) return;
    Gdiplus::GraphicsPath path;
    path.AddLine(toPoint(a), toPoint(b));
    stroke(path, false);
}

void GdiplusPainter::drawPolyline(const std::vector<Point>& points, bool closed) {
    if (points.size() < 2 || !(has_pen_ || has_brush_)) return;
    if (!std::all_of(points.begin(), points.end(), finite)) return;
    std::vector<Gdiplus::PointF> pts;
    pts.reserve(points.size());
    for (Point p : points) pts.push_back(toPoint(p));
    const INT n = static_cast<INT>(pts.size());
    // An open shape with a brush is filled as if closed; only its outline stays open.
    if (has_brush_) {
        Gdiplus::SolidBrush brush(Gdiplus::Color(toArgb(brush_color_)));
        check(graphics_.FillPolygon(&brush, pts.data(), n, Gdiplus::FillModeAlternate));
    }
    if (has_pen_) {
        Gdiplus::GraphicsPath path;
        if (closed)
            path.AddPolygon(pts.data(), n);
        else
            path.AddLines(pts.data(), n);
        stroke(path, true);
    }
}

void GdiplusPainter::drawCircle(Point c, double radius) {
    if (!finite(c) || !std::isfinite(radius)) return;
    const auto r = static_cast<float>(std::max(radius, kMinRadius));
    const Gdiplus::RectF box(static_cast<float>(c.x) - r, static_cast<float>(c.y) - r, 2 * r, 2 * r);
    if (has_brush_) {
        Gdiplus::SolidBrush brush(Gdiplus::Color(toArgb(brush_color_)));
        check(graphics_.FillEllipse(&brush, box));
    }
    if (has_pen_) {
        Gdiplus::GraphicsPath path;
        path.AddEllipse(box);
        stroke(path, false);
    }
}

void GdiplusPainter::drawRect(Point a, Point b) {
    if (!finite(a) || !finite(b)) return;
    const Gdiplus::RectF box(static_cast<float>(std::min(a.x, b.x)), static_cast<float>(std::min(a.y, b.y)),
                             static_cast<float>(std::fabs(b.x - a.x)), static_cast<float>(std::fabs(b.y - a.y)));
    if (has_brush_) {
        Gdiplus::SolidBrush brush(Gdiplus::Color(toArgb(brush_color_)));
        check(graphics_.FillRectangle(&brush, box));
    }
    if (has_pen_) {
        Gdiplus::GraphicsPath path;
        path.AddRectangle(box);
        stroke(path, false);
    }
}

void GdiplusPainter::drawTextLine(std::span<const TextRun> runs, Point anchor, double size, double angle, int h, int v,
                                  bool bold, const Color& color) {
    if (!finite(anchor) || !std::isfinite(size) || size <= 0 || !std::isfinite(angle)) return;
    struct Piece {
        std::wstring text;
        std::unique_ptr<Gdiplus::Font> font;
        double size, advance, rise;
        bool overbar;
    };
    std::vector<Piece> pieces;
    pieces.reserve(runs.size());
    for (const TextRun& r : runs) {
        if (r.text.empty()) continue;
        const double pieceSize = r.scale() * size;
        auto font = makeFont(pieceSize, bold);
        if (!font) {
            check(Gdiplus::FontFamilyNotFound);
            return;
        }
        pieces.push_back({toWide(r.text), std::move(font), pieceSize, 0, r.rise() * size, r.overbar});
    }
    if (pieces.empty()) return;

    // The line's layout box as GDI+ measures it with the default format, which
    // pads the text by a fraction of an em at either end. A line of several
    // runs takes the runs' typographic advances plus that same padding, so
    // it lines up as a single run of the same text would.
    const Gdiplus::PointF origin(0, 0);
    Gdiplus::RectF box;
    const Piece& first = pieces.front();
    check(graphics_.MeasureString(first.text.c_str(), static_cast<INT>(first.text.size()), first.font.get(), origin,
                                  &box));
    double W = box.Width, H = box.Height, pad = 0, baseline = 0;
    const bool single = pieces.size() == 1 && first.rise == 0 && !first.overbar;
    std::unique_ptr<Gdiplus::StringFormat> typographic;
    if (!single) {
        typographic = std::make_unique<Gdiplus::StringFormat>(Gdiplus::StringFormat::GenericTypographic());
        typographic->SetFormatFlags(typographic->GetFormatFlags() | Gdiplus::StringFormatFlagsMeasureTrailingSpaces);
        W = 0;
        for (Piece& piece : pieces) {
            Gdiplus::RectF advance;
            check(graphics_.MeasureString(piece.text.c_str(), static_cast<INT>(piece.text.size()), piece.font.get(),
                                          origin, typographic.get(), &advance));
            piece.advance = advance.Width;
            W += piece.advance;
        }
        pad = std::max(0.0, (box.Width - first.advance) / 2);
        W += 2 * pad;
        // The line's height and baseline follow the base size, whatever size the first run has.
        const std::unique_ptr<Gdiplus::Font> base = first.size == size ? nullptr : makeFont(size, bold);
        const Gdiplus::Font& line = base ? *base : *first.font;
        H = line.GetHeight(&graphics_);
        baseline = fontAscent(line);
    }
    const double ox = h < 0 ? 0 : h == 0 ? -W / 2 : -W;
    const double oy = v < 0 ? -H : v == 0 ? -H / 2 : 0;

    const Gdiplus::GraphicsState state = graphics_.Save();
    graphics_.TranslateTransform(static_cast<float>(anchor.x), static_cast<float>(anchor.y),
                                 Gdiplus::MatrixOrderPrepend);
    if (angle != 0) graphics_.RotateTransform(static_cast<float>(-angle), Gdiplus::MatrixOrderPrepend);
    Gdiplus::SolidBrush brush(Gdiplus::Color(toArgb(color)));
    if (single) {
        check(graphics_.DrawString(first.text.c_str(), static_cast<INT>(first.text.size()), first.font.get(),
                                   Gdiplus::PointF(static_cast<float>(ox), static_cast<float>(oy)), &brush));
    } else {
        baseline += oy;
        double x = ox + pad;
        for (const Piece& piece : pieces) {
            // Each run's top is placed so that its baseline sits `rise` above the line's.
            const double top = baseline - piece.rise - fontAscent(*piece.font);
            check(graphics_.DrawString(piece.text.c_str(), static_cast<INT>(piece.text.size()), piece.font.get(),
                                       Gdiplus::PointF(static_cast<float>(x), static_cast<float>(top)),
                                       typographic.get(), &brush));
            if (piece.overbar) {
                // At the line's height, so a bar over a subscript joins its neighbours'; above a superscript.
                const double y = baseline - std::max(kOverbarRise * size, piece.rise + kOverbarRise * piece.size);
                // A filled bar rather than a stroke: square ends, and drawn alike by Wine.
                const double half = kOverbarWidth * size / 2;
                check(graphics_.FillRectangle(&brush, static_cast<float>(x), static_cast<float>(y - half),
                                              static_cast<float>(piece.advance), static_cast<float>(2 * half)));
            }
            x += piece.advance;
        }
    }
    graphics_.Restore(state);
}

void GdiplusPainter::pushClip(double min_x, double min_y, double max_x, double max_y) {
    clips_.push_back(graphics_.Save());
    check(graphics_.SetClip(Gdiplus::RectF(static_cast<float>(min_x), static_cast<float>(min_y),
                                           static_cast<float>(max_x - min_x), static_cast<float>(max_y - min_y)),
                            Gdiplus::CombineModeReplace));
}

void GdiplusPainter::popClip() {
    if (clips_.empty()) return;
    graphics_.Restore(clips_.back());
    clips_.pop_back();
}

namespace {

// Anti-aliased shapes and text, pixel centres where Cairo has them, so both
// builds draw a sheet alike.
void smooth(Gdiplus::Graphics& g) {
    g.SetSmoothingMode(Gdiplus::SmoothingModeAntiAlias);
    g.SetPixelOffsetMode(Gdiplus::PixelOffsetModeHalf);
    g.SetTextRenderingHint(Gdiplus::TextRenderingHintAntiAlias);
}

}  // namespace

void paintCanvas(Gdiplus::Graphics& graphics, WindowController& c) {
    graphics.Clear(Gdiplus::Color(toArgb(withAlpha(c.background(), 1))));
    if (!c.hasSchematic()) return;
    const Gdiplus::GraphicsState state = graphics.Save();
    smooth(graphics);
    const auto zoom = static_cast<float>(c.zoom());
    graphics.ScaleTransform(zoom, zoom, Gdiplus::MatrixOrderPrepend);
    graphics.TranslateTransform(static_cast<float>(-c.originX()), static_cast<float>(-c.originY()),
                                Gdiplus::MatrixOrderPrepend);
    {
        GdiplusPainter painter(graphics);
        painter.setZoom(c.zoom());
        c.paint(painter);
    }
    graphics.Restore(state);
}

std::unique_ptr<Gdiplus::Bitmap> renderSheetBitmap(const Schematic& s, int sheet, const Settings& settings,
                                                   const Highlight* highlight, int width_px, std::string* error,
                                                   bool frame) {
    const BBox view = exportViewBox(s, sheet, frame);
    const double scale = width_px / std::max(view.max_x - view.min_x, 1.0);
    const double w = width_px, h = std::round((view.max_y - view.min_y) * scale);
    if (!(w >= 1 && w <= kMaxImageSide && h >= 1 && h <= kMaxImageSide) || !(scale > 0 && std::isfinite(scale))) {
        if (error) *error = "image size out of range";
        return nullptr;
    }
    auto bitmap = std::make_unique<Gdiplus::Bitmap>(static_cast<INT>(w), static_cast<INT>(h), PixelFormat32bppARGB);
    if (bitmap->GetLastStatus() != Gdiplus::Ok) {
        if (error) *error = "cannot make an image of " + std::to_string(width_px) + " pixels";
        return nullptr;
    }
    Gdiplus::Graphics graphics(bitmap.get());
    const Theme& theme = themeByName(settings.theme);
    // The renderer's background ends at the view's edge, which rounding can put
    // inside the last pixel row; clearing under everything keeps the image opaque.
    graphics.Clear(Gdiplus::Color(toArgb(withAlpha(theme.background, 1))));
    smooth(graphics);
    graphics.ScaleTransform(static_cast<float>(scale), static_cast<float>(scale), Gdiplus::MatrixOrderPrepend);
    graphics.TranslateTransform(static_cast<float>(-view.min_x), static_cast<float>(-view.min_y),
                                Gdiplus::MatrixOrderPrepend);
    RenderContext ctx{&settings, &theme};
    GdiplusPainter painter(graphics);
    painter.setZoom(scale);
    renderPage(ctx, painter, s, sheet, view, highlight, frame);
    return bitmap;
}

namespace {

bool pngEncoder(CLSID* clsid) {
    UINT count = 0, bytes = 0;
    if (Gdiplus::GetImageEncodersSize(&count, &bytes) != Gdiplus::Ok || bytes == 0) return false;
    std::vector<unsigned char> buffer(bytes);
    auto* codecs = reinterpret_cast<Gdiplus::ImageCodecInfo*>(buffer.data());
    if (Gdiplus::GetImageEncoders(count, bytes, codecs) != Gdiplus::Ok) return false;
    for (UINT i = 0; i < count; ++i)
        if (codecs[i].MimeType && std::wstring(codecs[i].MimeType) == L"image/png") {
            *clsid = codecs[i].Clsid;
            return true;
        }
    return false;
}

// Every pixel fully opaque: the file needs no alpha channel.
bool opaque(Gdiplus::Bitmap& bitmap) {
    const Gdiplus::Rect all(0, 0, static_cast<INT>(bitmap.GetWidth()), static_cast<INT>(bitmap.GetHeight()));
    Gdiplus::BitmapData data;
    if (bitmap.LockBits(&all, Gdiplus::ImageLockModeRead, PixelFormat32bppARGB, &data) != Gdiplus::Ok) return false;
    bool result = true;
    for (UINT y = 0; y < data.Height && result; ++y) {
        const auto* px = reinterpret_cast<const uint32_t*>(static_cast<const unsigned char*>(data.Scan0) +
                                                           static_cast<ptrdiff_t>(y) * data.Stride);
        for (UINT x = 0; x < data.Width; ++x)
            if (px[x] < 0xff000000u) {
                result = false;
                break;
            }
    }
    bitmap.UnlockBits(&data);
    return result;
}

}  // namespace

bool writePng(Gdiplus::Bitmap& bitmap, const std::string& path, std::string* error) {
    CLSID png;
    if (!pngEncoder(&png)) {
        if (error) *error = "cannot write " + path + ": GDI+ has no PNG encoder";
        return false;
    }
    // Drawings are opaque but for their own translucent fills; without an
    // alpha channel the file is a quarter smaller.
    std::unique_ptr<Gdiplus::Bitmap> rgb;
    Gdiplus::Bitmap* source = &bitmap;
    if (bitmap.GetPixelFormat() != PixelFormat24bppRGB && opaque(bitmap)) {
        rgb.reset(bitmap.Clone(0, 0, static_cast<INT>(bitmap.GetWidth()), static_cast<INT>(bitmap.GetHeight()),
                               PixelFormat24bppRGB));
        if (rgb && rgb->GetLastStatus() == Gdiplus::Ok) source = rgb.get();
    }
    const std::wstring wide = toWide(path);
    if (source->Save(wide.c_str(), &png, nullptr) != Gdiplus::Ok) {
        if (error) *error = "cannot write " + path;
        return false;
    }
    return true;
}

DrawingWriters gdiplusDrawingWriters() {
    DrawingWriters writers;
    writers.png = [](const Schematic& s, int sheet, const Settings& settings, bool frame, int width_px,
                     const std::string& path, std::string* error) {
        if (!startGdiplus(error)) return false;
        std::unique_ptr<Gdiplus::Bitmap> bitmap =
            renderSheetBitmap(s, sheet, settings, nullptr, width_px, error, frame);
        return bitmap && writePng(*bitmap, path, error);
    };
    writers.release = stopGdiplus;
    return writers;
}

}  // namespace nl

#endif

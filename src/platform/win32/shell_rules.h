// The Win32 window's arithmetic and data, kept apart from the Win32 calls so
// that it can be checked on any system: where each control goes, how text
// changes line ends on its way into an edit control, and the bytes of an
// in-memory dialog template. No Windows header is needed here.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace nl::win32 {

struct Box {
    int x = 0, y = 0, w = 0, h = 0;
    bool operator==(const Box&) const = default;
};

// Pixels at 96 dots per inch scaled to the monitor's `dpi`, rounded to nearest.
inline int scaled(int px, int dpi) { return static_cast<int>((static_cast<int64_t>(px) * dpi + 48) / 96); }

inline constexpr int kSidePanel = 380;
inline constexpr int kStatusHeight = 24;
inline constexpr int kToolbarHeight = 32;   // sheet selector and Find, above canvas and panel
inline constexpr int kLocationWidth = 240;  // the sheet path at the status line's right end

struct MainLayout {
    Box toolbar, canvas, tabs, status, location;
};

// The main window's client area: the status line across the bottom, the side
// panel on the right, the canvas taking what is left. Nothing gets a negative size.
inline MainLayout mainLayout(int width, int height, int dpi) {
    const int status = scaled(kStatusHeight, dpi), bar = scaled(kToolbarHeight, dpi);
    const int panel = scaled(kSidePanel, dpi), location = scaled(kLocationWidth, dpi);
    width = width > 0 ? width : 0;
    height = height > 0 ? height : 0;
    auto clampPos = [](int v) { return v > 0 ? v : 0; };
    MainLayout l;
    const int top = bar < height ? bar : height;
    const int middle = clampPos(height - status - top);
    l.toolbar = {0, 0, width, top};
    l.canvas = {0, top, clampPos(width - panel), middle};
    l.tabs = {l.canvas.w, top, width - l.canvas.w, middle};
    const int statusTop = top + middle;
    const int locationWidth = location < width / 2 ? location : width / 2;
    l.status = {0, statusTop, width - locationWidth, height - statusTop};
    l.location = {width - locationWidth, statusTop, locationWidth, height - statusTop};
    return l;
}

struct PageLayout {
    Box inspector, erc, transcript, input, send;
};

// Inside the tab control's display area: the Inspector and the rule check
// fill it; the chat keeps a row for its input and Send below the transcript.
inline PageLayout pageLayout(const Box& page, int dpi) {
    auto s = [dpi](int px) { return scaled(px, dpi); };
    auto clampPos = [](int v) { return v > 0 ? v : 0; };
    PageLayout l;
    l.inspector = l.erc = page;
    l.transcript = {page.x, page.y, page.w, clampPos(page.h - s(38))};
    const int bottom = page.y + page.h;
    l.input = {page.x + s(4), bottom - s(30), clampPos(page.w - s(78)), s(26)};
    l.send = {page.x + page.w - s(74), bottom - s(30), s(66), s(26)};
    return l;
}

// Edit controls break lines only at "\r\n": every lone "\n" gets its "\r".
inline std::string toCrlf(std::string_view text) {
    std::string out;
    out.reserve(text.size() + text.size() / 16);
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) out += '\r';
        out += text[i];
    }
    return out;
}

// What a multi-line edit holds, back to the program's "\n" line ends.
inline std::string fromCrlf(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i)
        if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')) out += text[i];
    return out;
}

// A menu item shows '&' as the mark of its access key; a path's own '&' is doubled.
inline std::string menuText(std::string_view text) {
    std::string out;
    for (char c : text) {
        if (c == '&') out += '&';
        out += c;
    }
    return out;
}

// The header of an in-memory dialog template (DLGTEMPLATE) with no items and
// a font of its own, as 16-bit words: style and extended style (two words
// each, low word first), the item count, position and size in dialog units,
// no menu, the default class, the zero-ended title, then the point size and
// the zero-ended font name (the style must hold DS_SETFONT for those two).
// Texts are ASCII here. The system wants the result on a 4-byte boundary,
// which a std::vector's storage is.
inline std::vector<uint16_t> dialogTemplate(uint32_t style, int16_t x, int16_t y, int16_t cx, int16_t cy,
                                            std::string_view title, uint16_t points, std::string_view font) {
    std::vector<uint16_t> t;
    auto dword = [&t](uint32_t v) {
        t.push_back(static_cast<uint16_t>(v & 0xffff));
        t.push_back(static_cast<uint16_t>(v >> 16));
    };
    auto text = [&t](std::string_view s) {
        for (char c : s) t.push_back(static_cast<unsigned char>(c));
        t.push_back(0);
    };
    dword(style);
    dword(0);        // extended style
    t.push_back(0);  // no items: the dialog creates its controls when it starts
    for (int16_t v : {x, y, cx, cy}) t.push_back(static_cast<uint16_t>(v));
    t.push_back(0);  // no menu
    t.push_back(0);  // the predefined dialog class
    text(title);
    t.push_back(points);
    text(font);
    return t;
}

}  // namespace nl::win32

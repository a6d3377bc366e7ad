#include "render/text_layout.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "base/text.h"

namespace nl {

namespace {

bool isMarkupPrefix(char c) { return c == '~' || c == '_' || c == '^'; }

// Characters, not bytes: UTF-8 continuation bytes do not start one.
size_t characters(std::string_view s) {
    size_t n = 0;
    for (char c : s) n += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    return n;
}

constexpr int kTabStop = 4;

// One line with its tabs turned into blanks up to the next stop.
void appendExpanded(std::string& out, std::string_view line) {
    size_t column = 0;
    for (char c : line) {
        if (c == '\t') {
            do out += ' ';
            while (++column % kTabStop != 0);
        } else {
            out += c;
            column += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
        }
    }
}

struct Span {
    size_t begin, end;
    int shift;
    bool overbar;
};

// KiCad's markup within one line: a prefix and a brace open a span that the
// brace's partner closes; its content may hold further markup and balanced
// braces. Anything else, unbalanced braces and lone prefixes included, is text.
void markupSpans(std::string_view line, size_t offset, std::vector<Span>& out) {
    const size_t n = line.size();
    std::vector<size_t> open, closeOf(n, std::string_view::npos);
    for (size_t i = 0; i < n; ++i) {
        if (line[i] == '{') {
            open.push_back(i);
        } else if (line[i] == '}' && !open.empty()) {
            closeOf[open.back()] = i;
            open.pop_back();
        }
    }
    struct Style {
        size_t close;
        int shift;
        bool overbar;
    };
    std::vector<Style> styles{{std::string_view::npos, 0, false}};
    size_t start = 0;
    auto flush = [&](size_t end) {
        if (end > start) out.push_back({offset + start, offset + end, styles.back().shift, styles.back().overbar});
    };
    for (size_t i = 0; i < n;) {
        if (isMarkupPrefix(line[i]) && i + 1 < n && closeOf[i + 1] != std::string_view::npos) {
            flush(i);
            Style s = styles.back();
            s.close = closeOf[i + 1];
            if (line[i] == '~') s.overbar = true;
            if (line[i] == '_') s.shift = -1;
            if (line[i] == '^') s.shift = 1;
            styles.push_back(s);
            i += 2;
            start = i;
        } else if (i == styles.back().close) {
            flush(i);
            styles.pop_back();
            start = ++i;
        } else {
            ++i;
        }
    }
    flush(n);
}

}  // namespace

TextBlock::TextBlock(std::string_view text, TextSyntax syntax) {
    const std::string_view special = syntax == TextSyntax::Kicad ? "\n\r\t{" : "\n\r\t";
    if (text.find_first_of(special) == std::string_view::npos) {
        single_.text = text;
        return;
    }
    simple_ = false;
    layOut(text, syntax);
}

void TextBlock::layOut(std::string_view text, TextSyntax syntax) {
    const std::string resolved = syntax == TextSyntax::Kicad ? resolveKicadEscapes(text) : std::string(text);
    // Each line's part of storage_, without its break; runs refer to storage_ once it is complete.
    std::vector<std::pair<size_t, size_t>> lines;
    storage_.reserve(resolved.size());
    size_t from = 0;
    while (true) {
        const size_t end = std::min(resolved.find('\n', from), resolved.size());
        std::string_view line = std::string_view(resolved).substr(from, end - from);
        const size_t begin = storage_.size();
        if (line.find_first_of("\r\t") == std::string_view::npos) {
            storage_ += line;
        } else {
            std::string noReturns;
            for (char c : line)
                if (c != '\r') noReturns += c;
            appendExpanded(storage_, noReturns);
        }
        lines.push_back({begin, storage_.size()});
        if (end == resolved.size()) break;
        from = end + 1;
    }
    std::vector<Span> spans;
    for (const auto& [begin, end] : lines) {
        starts_.push_back(spans.size());
        if (syntax == TextSyntax::Kicad)
            markupSpans(std::string_view(storage_).substr(begin, end - begin), begin, spans);
        else if (end > begin)
            spans.push_back({begin, end, 0, false});
    }
    starts_.push_back(spans.size());
    runs_.reserve(spans.size());
    for (const Span& s : spans)
        runs_.push_back({std::string_view(storage_).substr(s.begin, s.end - s.begin), s.shift, s.overbar});
}

std::span<const TextRun> TextBlock::line(size_t i) const {
    if (simple_) return {&single_, i == 0 && !single_.text.empty() ? 1u : 0u};
    if (i + 1 >= starts_.size()) return {};
    return std::span<const TextRun>(runs_).subspan(starts_[i], starts_[i + 1] - starts_[i]);
}

Point lineAnchor(Point anchor, double size, double angle, int v, size_t index, size_t count) {
    if (count <= 1) return anchor;
    const double last = static_cast<double>(count - 1), k = static_cast<double>(index);
    const double lines = v < 0 ? k - last : v == 0 ? k - last / 2 : k;
    if (lines == 0) return anchor;
    // Down the glyphs: (0, 1) for upright text, turned with it.
    const double a = angle * std::numbers::pi / 180, d = lines * kLinePitch * size;
    return {anchor.x + d * std::sin(a), anchor.y + d * std::cos(a)};
}

BBox textBlockBox(const TextBlock& block, Point anchor, double size, double angle, int h, int v) {
    // In the text's own frame (x along the reading direction, y down the glyphs,
    // origin at the anchor), each line is 1.15 em tall with its baseline 0.9 em
    // from its top, as the painters place it.
    const size_t n = block.lineCount();
    double width = 0;
    for (size_t i = 0; i < n; ++i) {
        double w = 0;
        for (const TextRun& r : block.line(i)) w += characters(r.text) * kCharAdvance * r.scale();
        width = std::max(width, w);
    }
    width *= size;
    const double lineHeight = 1.15 * size, pitch = kLinePitch * size;
    const double firstTop = v < 0 ? -lineHeight - (n - 1) * pitch : v == 0 ? -lineHeight / 2 - (n - 1) * pitch / 2 : 0;
    const double bottom = firstTop + (n - 1) * pitch + lineHeight;
    const double left = h < 0 ? 0 : h == 0 ? -width / 2 : -width;
    const double a = angle * std::numbers::pi / 180, c = std::cos(a), s = std::sin(a);
    BBox box;
    for (double x : {left, left + width})
        for (double y : {firstTop, bottom}) box.add({anchor.x + x * c + y * s, anchor.y - x * s + y * c});
    return box;
}

void drawTextBlock(Painter& painter, std::string_view text, TextSyntax syntax, Point anchor, double size, double angle,
                   int h, int v, bool bold, const Color& color) {
    const TextBlock block(text, syntax);
    const size_t n = block.lineCount();
    for (size_t i = 0; i < n; ++i) {
        const std::span<const TextRun> runs = block.line(i);
        if (runs.empty()) continue;
        painter.drawTextLine(runs, lineAnchor(anchor, size, angle, v, i, n), size, angle, h, v, bold, color);
    }
}

}  // namespace nl

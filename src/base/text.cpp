#include "base/text.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <utility>
#include <vector>

namespace nl {

static char lowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

static bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

std::string toLower(std::string_view s) {
    std::string out(s);
    for (char& c : out) c = lowerAscii(c);
    return out;
}

std::string trim(std::string_view s) {
    size_t b = 0, e = s.size();
    while (b < e && isSpace(s[b])) ++b;
    while (e > b && isSpace(s[e - 1])) --e;
    return std::string(s.substr(b, e - b));
}

std::string validUtf8(std::string_view s) {
    std::string out;
    out.reserve(s.size());
    size_t i = 0;
    while (i < s.size()) {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        size_t len = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
        bool ok = len > 0 && i + len <= s.size();
        unsigned cp = len == 1 ? c : len == 2 ? c & 0x1f : len == 3 ? c & 0x0f : c & 0x07;
        for (size_t k = 1; ok && k < len; ++k) {
            const unsigned char cc = static_cast<unsigned char>(s[i + k]);
            ok = (cc >> 6) == 2;
            cp = (cp << 6) | (cc & 0x3f);
        }
        static const unsigned kMinForLength[] = {0, 0, 0x80, 0x800, 0x10000};
        ok = ok && c != 0 && cp >= kMinForLength[len] && cp <= 0x10ffff && (cp < 0xd800 || cp > 0xdfff);
        if (ok) {
            out.append(s.substr(i, len));
            i += len;
        } else {
            out += '?';
            ++i;
        }
    }
    return out;
}

std::string formatNumber(double value, int decimals) {
    if (decimals < 0) decimals = 0;
    if (decimals > 30) decimals = 30;
    char buf[400];  // "%.*f" of a huge double can exceed 64 characters; cut afterwards
    int n = std::snprintf(buf, sizeof buf, "%.*f", decimals, value);
    if (n < 0) return "0";
    std::string s(buf, static_cast<size_t>(n) < sizeof buf ? static_cast<size_t>(n) : sizeof buf - 1);
    if (s.size() > 63) s.resize(63);
    if (s.find('.') != std::string::npos) {
        while (!s.empty() && s.back() == '0') s.pop_back();
        if (!s.empty() && s.back() == '.') s.pop_back();
    }
    if (s == "-0") s = "0";
    return s;
}

bool equalsNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (lowerAscii(a[i]) != lowerAscii(b[i])) return false;
    return true;
}

bool containsNoCase(std::string_view text, std::string_view part) {
    if (part.empty()) return true;
    if (part.size() > text.size()) return false;
    for (size_t i = 0; i + part.size() <= text.size(); ++i)
        if (equalsNoCase(text.substr(i, part.size()), part)) return true;
    return false;
}

int compareNatural(std::string_view a, std::string_view b) {
    auto digit = [](char c) { return c >= '0' && c <= '9'; };
    size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        if (digit(a[i]) && digit(b[j])) {
            size_t ie = i, je = j;
            while (ie < a.size() && digit(a[ie])) ++ie;
            while (je < b.size() && digit(b[je])) ++je;
            // Leading zeros do not change a number; its remaining length orders it first.
            size_t is = i, js = j;
            while (is + 1 < ie && a[is] == '0') ++is;
            while (js + 1 < je && b[js] == '0') ++js;
            if (ie - is != je - js) return ie - is < je - js ? -1 : 1;
            if (int c = a.substr(is, ie - is).compare(b.substr(js, je - js))) return c;
            i = ie;
            j = je;
            continue;
        }
        const unsigned char x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[j]);
        if (x != y) return x < y ? -1 : 1;
        ++i;
        ++j;
    }
    if (i < a.size() || j < b.size()) return i < a.size() ? 1 : -1;
    return a.compare(b);  // equal as numbers ("R01", "R1"): byte order keeps the order total
}

bool parseDouble(std::string_view text, double& out) {
    const char* b = text.data();
    const char* e = b + text.size();
    while (b < e && isSpace(*b)) ++b;
    // from_chars takes no leading '+', strtod does
    if (b < e && *b == '+' && (b + 1 == e || b[1] != '-')) ++b;
    double v = 0;
    auto r = std::from_chars(b, e, v);
    if (r.ec != std::errc() || r.ptr == b) return false;
    out = v;
    return true;
}

namespace {

char escapedChar(std::string_view name) {
    static constexpr std::pair<std::string_view, char> kNames[] = {
        {"dblquote", '"'}, {"quote", '\''}, {"lt", '<'},      {"gt", '>'},    {"backslash", '\\'},
        {"slash", '/'},    {"bar", '|'},    {"comma", ','},   {"colon", ':'}, {"space", ' '},
        {"dollar", '$'},   {"tab", '\t'},   {"return", '\n'}, {"brace", '{'},
    };
    for (const auto& [n, c] : kNames)
        if (n == name) return c;
    return 0;
}

}  // namespace

std::string resolveKicadEscapes(std::string_view text) {
    if (text.find('{') == std::string_view::npos) return std::string(text);
    // Each brace's partner, found once, keeps hostile nesting linear.
    std::vector<size_t> partner(text.size(), std::string_view::npos), open;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '{') {
            open.push_back(i);
        } else if (text[i] == '}' && !open.empty()) {
            partner[open.back()] = i;
            open.pop_back();
        }
    }
    std::string out;
    out.reserve(text.size());
    char prev = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '{' && partner[i] != std::string_view::npos && prev != '~' && prev != '_' && prev != '^' &&
            prev != '$') {
            if (const char r = escapedChar(text.substr(i + 1, partner[i] - i - 1))) {
                out += r;
                i = partner[i];
                prev = '}';
                continue;
            }
        }
        out += c;
        prev = c;
    }
    return out;
}

std::string lineAndColumn(std::string_view text, size_t offset) {
    offset = std::min(offset, text.size());
    size_t line = 1, lineStart = 0;
    for (size_t i = 0; i < offset; ++i)
        if (text[i] == '\n') ++line, lineStart = i + 1;
    return "line " + std::to_string(line) + ", column " + std::to_string(offset - lineStart + 1);
}

size_t decodeUtf8(std::string_view text, size_t i, char32_t& code) {
    const auto byte = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char lead = byte(i);
    if (lead < 0x80) {
        code = lead;
        return 1;
    }
    size_t length;
    char32_t min;
    if ((lead & 0xE0) == 0xC0)
        length = 2, min = 0x80, code = lead & 0x1F;
    else if ((lead & 0xF0) == 0xE0)
        length = 3, min = 0x800, code = lead & 0x0F;
    else if ((lead & 0xF8) == 0xF0)
        length = 4, min = 0x10000, code = lead & 0x07;
    else
        return 0;
    if (i + length > text.size()) return 0;
    for (size_t k = 1; k < length; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80) return 0;
        code = (code << 6) | (byte(i + k) & 0x3F);
    }
    if (code < min || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return 0;
    return length;
}

std::string printableText(std::string_view text) {
    static const char kReplacement[] = "\xEF\xBF\xBD";
    std::string out;
    out.reserve(text.size());
    size_t i = 0;
    while (i < text.size()) {
        char32_t c;
        const size_t n = decodeUtf8(text, i, c);
        if (n == 0) {
            out += kReplacement;
            ++i;
            continue;
        }
        if (c == 0x1B || c == 0x9B || c == 0x9D) {
            // An escape sequence: ESC [ (or CSI) parameters and one final byte;
            // ESC ] (or OSC) up to BEL or ESC \; ESC and one more byte otherwise.
            size_t j = i + n;
            const bool csi = c == 0x9B || (c == 0x1B && j < text.size() && text[j] == '[');
            const bool osc = c == 0x9D || (c == 0x1B && j < text.size() && text[j] == ']');
            if (c == 0x1B && j < text.size()) ++j;
            if (csi) {
                while (j < text.size() && static_cast<unsigned char>(text[j]) >= 0x20 &&
                       static_cast<unsigned char>(text[j]) < 0x40)
                    ++j;
                if (j < text.size()) ++j;
            } else if (osc) {
                while (j < text.size() && text[j] != '\x07' && text[j] != '\x1B') ++j;
                if (j < text.size()) j += text[j] == '\x1B' ? 2 : 1;
            }
            i = std::min(j, text.size());
            continue;
        }
        const bool control = (c < 0x20 && c != '\n' && c != '\t') || (c >= 0x7F && c <= 0x9F);
        if (!control) out.append(text.substr(i, n));
        i += n;
    }
    return out;
}

std::string shortened(std::string_view text, size_t max_bytes) {
    if (text.size() <= max_bytes) return std::string(text);
    size_t cut = max_bytes;
    // Back up to the start of a character.
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
    return std::string(text.substr(0, cut)) + "... (" + std::to_string(text.size()) + " bytes in all)";
}

}  // namespace nl

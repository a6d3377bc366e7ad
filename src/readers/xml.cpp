#include "readers/xml.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "base/text.h"

namespace nl {

namespace {

// Elements may nest this deep below the root (the root is depth 0).
constexpr size_t kMaxDepth = 500;

inline bool isSpace(unsigned char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// Bytes of element and attribute names: ASCII letters and digits, "-", ".", ":" and "_".
struct NameBytes {
    bool in[256] = {};
    constexpr NameBytes() {
        for (int c = 'a'; c <= 'z'; ++c) in[c] = true;
        for (int c = 'A'; c <= 'Z'; ++c) in[c] = true;
        for (int c = '0'; c <= '9'; ++c) in[c] = true;
        for (char c : {'-', '.', ':', '_'}) in[static_cast<unsigned char>(c)] = true;
    }
};
constexpr NameBytes kName;

inline bool isNameByte(char c) { return kName.in[static_cast<unsigned char>(c)]; }

inline size_t skipSpace(const char* s, size_t pos, size_t n) {
    while (pos < n && isSpace(static_cast<unsigned char>(s[pos]))) ++pos;
    return pos;
}

inline bool startsWith(std::string_view s, size_t pos, std::string_view prefix) {
    return s.size() - pos >= prefix.size() && std::memcmp(s.data() + pos, prefix.data(), prefix.size()) == 0;
}

// Past a comment, processing instruction or document type declaration starting
// at `pos` (to the end of the text when it is not closed); npos when none starts there.
size_t skipMarkup(std::string_view s, size_t pos) {
    auto after = [&](size_t from, std::string_view close) {
        size_t e = s.find(close, from);
        return e == std::string_view::npos ? s.size() : e + close.size();
    };
    if (startsWith(s, pos, "<!--")) return after(pos + 4, "-->");
    if (startsWith(s, pos, "<?")) return after(pos + 2, "?>");
    if (startsWith(s, pos, "<!DOCTYPE") || startsWith(s, pos, "<!doctype")) {
        int brackets = 0;
        for (size_t i = pos + 9; i < s.size(); ++i) {
            if (s[i] == '[')
                ++brackets;
            else if (s[i] == ']')
                --brackets;
            else if (s[i] == '>' && brackets < 1)
                return i + 1;
        }
        return s.size();
    }
    return std::string_view::npos;
}

void appendUtf8(std::string& out, unsigned long cp) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | ((cp >> 18) & 0x07)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

int digitValue(char c, int base) {
    int v = c >= '0' && c <= '9'   ? c - '0'
            : c >= 'a' && c <= 'z' ? c - 'a' + 10
            : c >= 'A' && c <= 'Z' ? c - 'A' + 10
                                   : 99;
    return v < base ? v : -1;
}

// The replacement of the entity `name` (between "&" and ";").
void appendEntity(std::string& out, std::string_view name) {
    if (name == "lt") return out.push_back('<');
    if (name == "gt") return out.push_back('>');
    if (name == "amp") return out.push_back('&');
    if (name == "quot") return out.push_back('"');
    if (name == "apos") return out.push_back('\'');
    if (name.empty() || name[0] != '#') {
        out.push_back('&');
        out.append(name);
        out.push_back(';');
        return;
    }
    int base = 10;
    size_t i = 1;
    if (name.size() > 1 && (name[1] == 'x' || name[1] == 'X')) base = 16, i = 2;
    // Names are at most 9 bytes, so the value cannot overflow; digits are read as a prefix.
    unsigned long cp = 0;
    size_t start = i;
    for (int d; i < name.size() && (d = digitValue(name[i], base)) >= 0; ++i) cp = cp * base + d;
    if (i == start) return out.push_back('?');
    appendUtf8(out, cp);
}

void appendDecoded(std::string& out, std::string_view text) {
    size_t i = 0;
    while (i < text.size()) {
        const void* amp = std::memchr(text.data() + i, '&', text.size() - i);
        if (!amp) break;
        const size_t a = static_cast<const char*>(amp) - text.data();
        out.append(text.data() + i, a - i);
        // The ";" must lie within 10 bytes after the "&".
        const size_t window = std::min<size_t>(10, text.size() - a - 1);
        const void* semi = std::memchr(text.data() + a + 1, ';', window);
        if (!semi) {
            out.push_back('&');
            i = a + 1;
            continue;
        }
        const size_t s = static_cast<const char*>(semi) - text.data();
        appendEntity(out, text.substr(a + 1, s - a - 1));
        i = s + 1;
    }
    out.append(text.data() + i, text.size() - i);
}

inline bool hasAmp(std::string_view s) { return !s.empty() && std::memchr(s.data(), '&', s.size()) != nullptr; }

}  // namespace

std::string decodeXmlEntities(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    appendDecoded(out, text);
    return out;
}

// ---- parser ----

class XmlParser {
public:
    explicit XmlParser(XmlDocument& d) : d_(d), s_(d.src_.data()), n_(d.src_.size()) {}

    void parse() {
        if (n_ >= XmlDocument::kDecoded) throw std::runtime_error("file too large");
        d_.elements_.reserve(n_ / 40 + 16);
        // A byte-order mark is no part of the document.
        size_t pos = startsWith(d_.src_, 0, "\xEF\xBB\xBF") ? 3 : 0;
        for (;;) {
            pos_ = pos = skipSpace(s_, pos, n_);
            if (pos >= n_) throw std::runtime_error("empty XML document");
            const size_t next = skipMarkup(d_.src_, pos);
            if (next == std::string_view::npos) break;
            pos_ = pos = next;
        }
        if (s_[pos] != '<') throw std::runtime_error("junk before root element");
        pos_ = pos;
        // Elements are read with an explicit stack of the open ones, so hostile
        // nesting costs heap, never the C stack.
        bool atStartTag = true;
        for (;;) {
            if (atStartTag) {
                atStartTag = false;
                if (readStartTag()) continue;  // content follows
                if (close()) return;
                continue;
            }
            if (pos_ >= n_) throw std::runtime_error("unterminated element <" + std::string(openName()) + ">");
            if (s_[pos_] != '<') {
                const void* lt = std::memchr(s_ + pos_, '<', n_ - pos_);
                const size_t end = lt ? static_cast<const char*>(lt) - s_ : n_;
                addText(pos_, end - pos_, true);
                pos_ = end;
            } else if (pos_ + 1 < n_ && s_[pos_ + 1] == '/') {
                const void* gt = std::memchr(s_ + pos_ + 2, '>', n_ - pos_ - 2);
                pos_ = gt ? static_cast<const char*>(gt) - s_ + 1 : n_;
                if (close()) return;
            } else if (startsWith(d_.src_, pos_, "<![CDATA[")) {
                const size_t start = pos_ + 9;
                const size_t e = d_.src_.find("]]>", start);
                const size_t end = e == std::string_view::npos ? n_ : e;
                addText(start, end - start, false);
                pos_ = e == std::string_view::npos ? n_ : e + 3;
            } else if (size_t next = skipMarkup(d_.src_, pos_); next != std::string_view::npos) {
                pos_ = next;
            } else {
                atStartTag = true;
            }
        }
    }

    // Where reading stands (or stopped).
    size_t position() const { return pos_; }

private:
    struct Open {
        uint32_t element;
        int text_state = 0;  // 0 no text yet, 1 one run in place (run_off, run_len), 2 joined in scratch
        uint32_t run_off = 0, run_len = 0;
    };

    std::string_view openName() const {
        const XmlDocument::Element& e = d_.elements_[open_.back().element];
        return std::string_view(s_ + e.tag + 1, e.name_len);
    }

    // Reads "<name attributes" up to and including ">" (true: content follows)
    // or the empty-element "/" (false).
    bool readStartTag() {
        if (open_.size() > kMaxDepth) throw std::runtime_error("XML nesting too deep");
        if (pos_ >= n_ || s_[pos_] != '<') throw std::runtime_error("expected element");
        const size_t tag = pos_++;
        while (pos_ < n_ && isNameByte(s_[pos_])) ++pos_;
        const size_t nameLen = pos_ - tag - 1;
        if (nameLen == 0) throw std::runtime_error("bad element name");
        open_.push_back({static_cast<uint32_t>(d_.elements_.size())});
        d_.elements_.push_back({static_cast<uint32_t>(tag), static_cast<uint32_t>(nameLen), 0, 0, 0});
        for (;;) {
            pos_ = skipSpace(s_, pos_, n_);
            if (pos_ >= n_) throw std::runtime_error("unterminated tag");
            const char c = s_[pos_];
            if (c == '/') {
                pos_ = std::min(pos_ + 2, n_);
                return false;
            }
            if (c == '>') {
                ++pos_;
                return true;
            }
            const size_t attrStart = pos_;
            while (pos_ < n_ && isNameByte(s_[pos_])) ++pos_;
            if (pos_ == attrStart) throw std::runtime_error("bad attribute in <" + std::string(openName()) + ">");
            pos_ = skipSpace(s_, pos_, n_);
            if (pos_ >= n_ || s_[pos_] != '=') continue;  // a lone name: present with an empty value
            pos_ = skipSpace(s_, pos_ + 1, n_);
            if (pos_ >= n_ || (s_[pos_] != '"' && s_[pos_] != '\'')) throw std::runtime_error("unquoted attribute");
            const void* q = std::memchr(s_ + pos_ + 1, s_[pos_], n_ - pos_ - 1);
            if (!q) throw std::runtime_error("unterminated attribute");
            pos_ = static_cast<const char*>(q) - s_ + 1;
        }
    }

    // Character data of the innermost open element. A single run that needs no
    // decoding stays in place; anything else is joined in a scratch buffer.
    void addText(size_t off, size_t len, bool decode) {
        if (len == 0) return;
        decode = decode && hasAmp(std::string_view(s_ + off, len));
        Open& o = open_.back();
        if (o.text_state == 0 && !decode) {
            o.text_state = 1;
            o.run_off = static_cast<uint32_t>(off);
            o.run_len = static_cast<uint32_t>(len);
            return;
        }
        const size_t depth = open_.size() - 1;
        if (scratch_.size() <= depth) scratch_.resize(depth + 1);
        std::string& buf = scratch_[depth];
        if (o.text_state == 1) buf.assign(s_ + o.run_off, o.run_len);
        if (o.text_state == 0) buf.clear();
        o.text_state = 2;
        if (decode)
            appendDecoded(buf, std::string_view(s_ + off, len));
        else
            buf.append(s_ + off, len);
    }

    // Finishes the innermost open element; true when it was the root.
    bool close() {
        const Open& o = open_.back();
        XmlDocument::Element& e = d_.elements_[o.element];
        e.end = static_cast<uint32_t>(d_.elements_.size());
        if (o.text_state == 1) {
            e.text_off = o.run_off;
            e.text_len = o.run_len;
        } else if (o.text_state == 2) {
            const std::string& buf = scratch_[open_.size() - 1];
            e.text_off = static_cast<uint32_t>(d_.decoded_.size());
            e.text_len = static_cast<uint32_t>(buf.size()) | XmlDocument::kDecoded;
            d_.decoded_ += buf;
        }
        open_.pop_back();
        return open_.empty();
    }

    XmlDocument& d_;
    const char* s_;
    size_t n_;
    size_t pos_ = 0;
    std::vector<Open> open_;
    std::vector<std::string> scratch_;  // per depth
};

XmlDocument parseXml(std::shared_ptr<const void> owner, std::string_view text) {
    XmlDocument d;
    d.owner_ = std::move(owner);
    d.src_ = text;
    XmlParser parser(d);
    try {
        parser.parse();
    } catch (const std::runtime_error& e) {
        throw std::runtime_error(std::string(e.what()) + " at " + lineAndColumn(text, parser.position()));
    }
    return d;
}

XmlDocument parseXml(std::string text) {
    auto owned = std::make_shared<const std::string>(std::move(text));
    std::string_view view(*owned);
    return parseXml(std::shared_ptr<const void>(owned), view);
}

// ---- accessors ----

std::string_view XmlNode::name() const {
    if (!doc_) return {};
    const XmlDocument::Element& e = doc_->elements_[index_];
    return doc_->src_.substr(e.tag + 1, e.name_len);
}

std::string_view XmlNode::text() const {
    if (!doc_) return {};
    const XmlDocument::Element& e = doc_->elements_[index_];
    if (e.text_len & XmlDocument::kDecoded)
        return std::string_view(doc_->decoded_).substr(e.text_off, e.text_len & ~XmlDocument::kDecoded);
    return doc_->src_.substr(e.text_off, e.text_len);
}

// The start tag was checked by the parser, so this scan needs no error paths.
template <class Fn>
void XmlNode::forEachRawAttr(Fn&& fn) const {
    if (!doc_) return;
    const XmlDocument::Element& e = doc_->elements_[index_];
    const char* s = doc_->src_.data();
    const size_t n = doc_->src_.size();
    size_t pos = e.tag + 1 + e.name_len;
    for (;;) {
        pos = skipSpace(s, pos, n);
        if (pos >= n || s[pos] == '/' || s[pos] == '>') return;
        const size_t start = pos;
        while (pos < n && isNameByte(s[pos])) ++pos;
        if (pos == start) return;
        std::string_view name(s + start, pos - start), raw;
        pos = skipSpace(s, pos, n);
        if (pos < n && s[pos] == '=') {
            pos = skipSpace(s, pos + 1, n);
            const char* q = static_cast<const char*>(std::memchr(s + pos + 1, s[pos], n - pos - 1));
            raw = std::string_view(s + pos + 1, q - s - pos - 1);
            pos = q - s + 1;
        }
        fn(name, raw);
    }
}

bool XmlNode::rawAttr(std::string_view name, std::string_view& raw) const {
    bool found = false;
    forEachRawAttr([&](std::string_view n, std::string_view v) {
        if (n == name) found = true, raw = v;
    });
    return found;
}

std::map<std::string, std::string> XmlNode::attributes() const {
    std::map<std::string, std::string> out;
    forEachRawAttr([&](std::string_view n, std::string_view v) { out[std::string(n)] = decodeXmlEntities(v); });
    return out;
}

bool XmlNode::hasAttr(std::string_view name) const {
    std::string_view raw;
    return rawAttr(name, raw);
}

std::string XmlNode::attr(std::string_view name, std::string_view fallback) const {
    std::string_view raw;
    if (!rawAttr(name, raw)) return std::string(fallback);
    return hasAmp(raw) ? decodeXmlEntities(raw) : std::string(raw);
}

double XmlNode::attrNum(std::string_view name, double fallback) const {
    std::string_view raw;
    if (!rawAttr(name, raw)) return fallback;
    double v = 0;
    bool ok = hasAmp(raw) ? parseDouble(decodeXmlEntities(raw), v) : parseDouble(raw, v);
    // NaN and infinities are no use as coordinates; treat them as unreadable.
    return ok && v - v == 0 ? v : fallback;
}

XmlNode::Iterator& XmlNode::Iterator::operator++() {
    i_ = d_->elements_[i_].end;
    return *this;
}

XmlNode::Children XmlNode::children() const {
    if (!doc_) return {Iterator(nullptr, 0), Iterator(nullptr, 0)};
    return {Iterator(doc_, index_ + 1), Iterator(doc_, doc_->elements_[index_].end)};
}

XmlNode XmlNode::child(std::string_view name) const {
    for (XmlNode c : children())
        if (c.name() == name) return c;
    return {};
}

std::vector<XmlNode> XmlNode::childrenNamed(std::string_view name) const {
    std::vector<XmlNode> out;
    for (XmlNode c : children())
        if (c.name() == name) out.push_back(c);
    return out;
}

}  // namespace nl

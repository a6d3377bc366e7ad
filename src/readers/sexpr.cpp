#include "readers/sexpr.h"

#include <cstring>
#include <stdexcept>

#include "base/text.h"

namespace nl {

namespace {

constexpr int kMaxDepth = 2000;

// Node storage is recycled between files: touching fresh memory costs more than
// parsing, and designs are opened one after another.
thread_local std::vector<SExprTree::Node> spareNodes;
constexpr size_t kMaxSpareNodes = size_t(8) << 20;

inline bool isSpace(unsigned char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// Bytes that end an atom: white space and parentheses.
struct AtomStops {
    bool stop[256] = {};
    constexpr AtomStops() {
        stop[static_cast<unsigned char>(' ')] = true;
        for (int c = '\t'; c <= '\r'; ++c) stop[c] = true;
        stop[static_cast<unsigned char>('(')] = true;
        stop[static_cast<unsigned char>(')')] = true;
    }
};
constexpr AtomStops kAtomStops;

// A reading failure and the byte offset where it happened.
struct ParseFailure : std::runtime_error {
    ParseFailure(const char* what, size_t offset) : std::runtime_error(what), at(offset) {}
    size_t at;
};

}  // namespace

SExprTree::~SExprTree() {
    if (nodes_.capacity() > spareNodes.capacity() && nodes_.capacity() <= kMaxSpareNodes) {
        nodes_.clear();
        spareNodes.swap(nodes_);
    }
}

class SExprParser {
public:
    static void start(SExprTree& t, std::shared_ptr<const void> owner, std::string_view text) {
        t.owner_ = std::move(owner);
        t.src_ = text;
        t.nodes_.swap(spareNodes);
    }
    static void parse(SExprTree& t) {
        const char* const base = t.src_.data();
        const size_t n = t.src_.size();
        if (n >= (size_t(1) << 32)) throw std::runtime_error("file too large");
        std::vector<SExprTree::Node>& nodes = t.nodes_;
        nodes.clear();
        if (nodes.capacity() == 0) nodes.reserve(n / 5 + 16);
        std::vector<uint32_t> open;  // indices of the lists not yet closed
        // A byte-order mark is no part of the text.
        size_t pos = n >= 3 && std::memcmp(base, "\xEF\xBB\xBF", 3) == 0 ? 3 : 0;
        auto addAtom = [&](size_t off, size_t len, uint32_t flags) {
            if (len > SExprTree::kLenMask) throw ParseFailure("token too long", off);
            nodes.push_back({static_cast<uint32_t>(off), flags | static_cast<uint32_t>(len)});
        };
        for (;;) {
            while (pos < n && isSpace(static_cast<unsigned char>(base[pos]))) ++pos;
            if (pos >= n) throw ParseFailure(open.empty() ? "unexpected end of file" : "unbalanced parenthesis", pos);
            const char c = base[pos];
            if (c == '(') {
                if (open.size() > static_cast<size_t>(kMaxDepth)) throw ParseFailure("nesting too deep", pos);
                open.push_back(static_cast<uint32_t>(nodes.size()));
                nodes.push_back({0, SExprTree::kList});
                ++pos;
                continue;
            }
            if (open.empty()) throw ParseFailure("expected a list at top level", pos);
            if (c == ')') {
                nodes[open.back()].a = static_cast<uint32_t>(nodes.size());
                open.pop_back();
                ++pos;
                if (open.empty()) return;
                continue;
            }
            if (c == '"') {
                ++pos;
                const size_t start = pos;
                // Fast path: no backslash before the closing quote, so the text stays in the buffer.
                while (pos < n && base[pos] != '"' && base[pos] != '\\') ++pos;
                if (pos >= n || base[pos] == '"') {
                    addAtom(start, pos - start, SExprTree::kQuoted);
                    if (pos < n) ++pos;
                    continue;
                }
                const size_t off = t.escaped_.size();
                t.escaped_.append(base + start, pos - start);
                while (pos < n && base[pos] != '"') {
                    char ch = base[pos];
                    if (ch == '\\' && pos + 1 < n) {
                        char e = base[pos + 1];
                        ch = e == 'n' ? '\n' : e == 't' ? '\t' : e;
                        pos += 2;
                    } else {
                        ++pos;
                    }
                    t.escaped_.push_back(ch);
                }
                addAtom(off, t.escaped_.size() - off, SExprTree::kQuoted | SExprTree::kEscaped);
                if (pos < n) ++pos;
                continue;
            }
            const size_t start = pos;
            while (pos < n && !kAtomStops.stop[static_cast<unsigned char>(base[pos])]) ++pos;
            addAtom(start, pos - start, 0);
        }
    }
};

SExprTree parseSExpr(std::shared_ptr<const void> owner, std::string_view text) {
    SExprTree t;
    SExprParser::start(t, std::move(owner), text);
    try {
        SExprParser::parse(t);
    } catch (const ParseFailure& e) {
        throw std::runtime_error(std::string(e.what()) + " at " + lineAndColumn(text, e.at));
    }
    return t;
}

SExprTree parseSExpr(std::string text) {
    auto owned = std::make_shared<const std::string>(std::move(text));
    std::string_view view(*owned);
    return parseSExpr(std::shared_ptr<const void>(owned), view);
}

// ---- accessors ----

bool SExpr::is_list() const { return tree_ && (tree_->nodes_[index_].b & SExprTree::kList); }

bool SExpr::quoted() const { return tree_ && (tree_->nodes_[index_].b & SExprTree::kQuoted); }

std::string_view SExpr::text() const {
    if (!tree_) return {};
    const SExprTree::Node& nd = tree_->nodes_[index_];
    if (nd.b & SExprTree::kList) return {};
    const uint32_t len = nd.b & SExprTree::kLenMask;
    if (nd.b & SExprTree::kEscaped) return std::string_view(tree_->escaped_).substr(nd.a, len);
    return tree_->src_.substr(nd.a, len);
}

SExpr::Iterator& SExpr::Iterator::operator++() {
    const SExprTree::Node& nd = t_->nodes_[i_];
    i_ = (nd.b & SExprTree::kList) ? nd.a : i_ + 1;
    return *this;
}

SExpr::Children SExpr::children() const {
    if (!is_list()) return {Iterator(tree_, 0), Iterator(tree_, 0)};
    return {Iterator(tree_, index_ + 1), Iterator(tree_, tree_->nodes_[index_].a)};
}

size_t SExpr::childCount() const {
    size_t n = 0;
    for (auto it = children().begin(), e = children().end(); it != e; ++it) ++n;
    return n;
}

SExpr SExpr::child(size_t i) const {
    for (SExpr c : children()) {
        if (i == 0) return c;
        --i;
    }
    return {};
}

std::string_view SExpr::head() const {
    SExpr c = child(0);
    return c && !c.is_list() ? c.text() : std::string_view();
}

SExpr SExpr::find(std::string_view name) const {
    bool first = true;
    for (SExpr c : children()) {
        if (first) {
            first = false;
            continue;
        }
        if (c.is_list() && c.head() == name) return c;
    }
    return {};
}

std::vector<SExpr> SExpr::findAll(std::string_view name) const {
    std::vector<SExpr> out;
    bool first = true;
    for (SExpr c : children()) {
        if (first) {
            first = false;
            continue;
        }
        if (c.is_list() && c.head() == name) out.push_back(c);
    }
    return out;
}

std::string_view SExpr::view(size_t i, std::string_view fallback) const {
    if (!is_list()) return fallback;
    SExpr c = child(i);
    return c && !c.is_list() ? c.text() : fallback;
}

std::string SExpr::str(size_t i, std::string_view fallback) const { return std::string(view(i, fallback)); }

double SExpr::num(size_t i, double fallback) const {
    if (!is_list()) return fallback;
    SExpr c = child(i);
    if (!c || c.is_list()) return fallback;
    double v;
    return parseDouble(c.text(), v) ? v : fallback;
}

std::string SExpr::childStr(std::string_view name, size_t i, std::string_view fallback) const {
    SExpr c = find(name);
    return c ? c.str(i, fallback) : std::string(fallback);
}

}  // namespace nl

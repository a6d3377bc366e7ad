#include "readers/sexpr.h"

#include <cstring>
#include <stdexcept>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "base/text.h"

namespace nl {

namespace {

constexpr int kMaxDepth = 2000;

// Node storage is recycled between files: touching fresh memory costs more than
// parsing, and designs are opened one after another.
thread_local std::vector<SExprTree::Node> spareNodes;
constexpr size_t kMaxSpareNodes = size_t(8) << 20;
// The parser's stack of open lists, kept for the next parse like the nodes.
thread_local std::vector<uint32_t> openLists;

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

// The first quote or backslash at or after `pos`, or `n`: where a string's plain run stops.
size_t stringStop(const char* base, size_t pos, size_t n) {
#if defined(__SSE2__)
    const __m128i quote = _mm_set1_epi8('"'), backslash = _mm_set1_epi8('\\');
    for (; pos + 16 <= n; pos += 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(base + pos));
        const unsigned stops = static_cast<unsigned>(
            _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(v, quote), _mm_cmpeq_epi8(v, backslash))));
        if (stops) return pos + static_cast<size_t>(__builtin_ctz(stops));
    }
#endif
    while (pos < n && base[pos] != '"' && base[pos] != '\\') ++pos;
    return pos;
}

// Skips the rest of a list that starts `depth` lists deep (the open lists,
// itself included) from `pos`, a token's start, to just past its ")". It reads
// by the parser's rules without storing anything: a quote opens a string only
// where a token starts, and a backslash escapes only inside a string. Throws
// what the parser would throw on the same bytes.
class ListSkipper {
public:
    ListSkipper(const char* base, size_t n, size_t depth) : base_(base), n_(n), depth_(depth), outer_(depth - 1) {}

    size_t skip(size_t pos) {
        tokenStart_ = pos;
#if defined(__SSE2__)
        // Sixteen bytes at a time: only the bytes that matter in the current
        // state (parentheses and quotes, or in a string quotes and backslashes)
        // are visited, in order.
        const __m128i open = _mm_set1_epi8('('), close = _mm_set1_epi8(')');
        const __m128i quote = _mm_set1_epi8('"'), backslash = _mm_set1_epi8('\\');
        while (pos + 16 <= n_) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(base_ + pos));
            const __m128i isOpen = _mm_cmpeq_epi8(v, open), isClose = _mm_cmpeq_epi8(v, close);
            const unsigned quotes = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, quote)));
            if (!inString_ && quotes == 0) {
                // Only parentheses: counted at once, unless in some order they could close
                // the list or nest too deep, which is then found byte by byte.
                const size_t in = countOf(isOpen), out = countOf(isClose);
                if (depth_ > outer_ + out && depth_ + in <= static_cast<size_t>(kMaxDepth) + 1) {
                    depth_ = depth_ + in - out;
                    pos += 16;
                    continue;
                }
            }
            const unsigned parens = static_cast<unsigned>(_mm_movemask_epi8(_mm_or_si128(isOpen, isClose)));
            const unsigned escapes = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, backslash)));
            size_t next = pos + 16;
            unsigned todo = inString_ ? quotes | escapes : parens | quotes;
            while (todo) {
                const unsigned i = static_cast<unsigned>(__builtin_ctz(todo));
                const size_t at = pos + i;
                const unsigned later = ~((2u << i) - 1);  // the bits after i
                todo &= later;
                const char c = base_[at];
                if (inString_ && c == '\\') {
                    if (at + 1 >= n_) continue;  // a backslash at the very end is a plain one
                    if (i == 15) {               // the byte it escapes opens the next block
                        next = at + 2;
                        break;
                    }
                    todo &= ~(2u << i);
                    continue;
                }
                const bool wasString = inString_;
                if (structural(at, c)) return at + 1;
                if (inString_ != wasString) todo = (inString_ ? quotes | escapes : parens | quotes) & later;
            }
            pos = next;
        }
#endif
        for (; pos < n_; ++pos) {
            const char c = base_[pos];
            if (inString_) {
                if (c == '\\' && pos + 1 < n_)
                    ++pos;
                else if (c == '"')
                    structural(pos, c);
            } else if (c == '(' || c == ')' || c == '"') {
                if (structural(pos, c)) return pos + 1;
            }
        }
        throw ParseFailure("unbalanced parenthesis", n_);
    }

private:
#if defined(__SSE2__)
    // How many of the sixteen byte comparisons matched.
    static size_t countOf(__m128i matches) {
        const __m128i sums = _mm_sad_epu8(_mm_and_si128(matches, _mm_set1_epi8(1)), _mm_setzero_si128());
        return static_cast<size_t>(_mm_cvtsi128_si32(sums) + _mm_extract_epi16(sums, 4));
    }
#endif

    // Takes the parenthesis or quote at `at` (a closing quote when in a string);
    // true when it closes the list being skipped.
    bool structural(size_t at, char c) {
        if (inString_) {
            inString_ = false;
            tokenStart_ = at + 1;
            return false;
        }
        if (c == '(') {
            if (depth_ > static_cast<size_t>(kMaxDepth)) throw ParseFailure("nesting too deep", at);
            ++depth_;
            return false;
        }
        if (c == ')') return --depth_ == outer_;
        const unsigned char before = static_cast<unsigned char>(base_[at - 1]);
        if (at == tokenStart_ || isSpace(before) || before == '(' || before == ')') inString_ = true;
        return false;  // else a quote inside an atom
    }

    const char* base_;
    size_t n_;
    size_t depth_;
    size_t outer_;
    size_t tokenStart_ = 0;  // after a string, the next byte starts a token
    bool inString_ = false;
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

    // With `items` given, only the first expression and its own children are
    // stored (a child list keeps just its head), and each child's byte range is
    // appended to `items`. Every byte is still read by the same rules, so the
    // outline fails exactly where a full parse would.
    template <bool Shallow>
    static void parse(SExprTree& t, std::vector<SExprOutline::Item>* items) {
        const char* const base = t.src_.data();
        const size_t n = t.src_.size();
        if (n >= (size_t(1) << 32)) throw std::runtime_error("file too large");
        std::vector<SExprTree::Node>& nodes = t.nodes_;
        nodes.clear();
        // A full tree takes about one node per five bytes; an outline two per top-level item.
        if (nodes.capacity() == 0) nodes.reserve((Shallow ? n / 256 : n / 5) + 16);
        // Indices of the lists not yet closed; kNotStored for lists an outline skips.
        std::vector<uint32_t>& open = openLists;
        open.clear();
        constexpr uint32_t kNotStored = ~uint32_t(0);
        bool headPending = false;  // an outline's top-level list has had no child yet
        // Only a token as long as the whole file can reach the length limit.
        const bool checkLength = n > SExprTree::kLenMask;
        // A byte-order mark is no part of the text.
        size_t pos = n >= 3 && std::memcmp(base, "\xEF\xBB\xBF", 3) == 0 ? 3 : 0;
        // Whether the token starting at `begin` is stored; records the top-level items.
        auto keep = [&](size_t begin, bool atom) {
            if constexpr (!Shallow) return true;
            const size_t depth = open.size();
            const bool head = atom && depth == 2 && headPending;
            headPending = false;
            if (depth == 1) {
                items->push_back({static_cast<uint32_t>(nodes.size()), static_cast<uint32_t>(begin), 0});
                return true;
            }
            return head;
        };
        auto endItem = [&](size_t end) {
            if constexpr (Shallow)
                if (open.size() == 1) items->back().end = static_cast<uint32_t>(end);
        };
        auto addAtom = [&](size_t off, size_t len, uint32_t flags, bool stored) {
            if (checkLength && len > SExprTree::kLenMask) throw ParseFailure("token too long", off);
            if (stored) nodes.push_back({static_cast<uint32_t>(off), flags | static_cast<uint32_t>(len)});
        };
        for (;;) {
            while (pos < n && isSpace(static_cast<unsigned char>(base[pos]))) ++pos;
            if (pos >= n) throw ParseFailure(open.empty() ? "unexpected end of file" : "unbalanced parenthesis", pos);
            const char c = base[pos];
            if constexpr (Shallow) {
                // Past its head, the rest of an item is only read through.
                if (open.size() == 2 && (!headPending || c == '(') && !checkLength) {
                    headPending = false;
                    pos = ListSkipper(base, n, open.size()).skip(pos);
                    nodes[open.back()].a = static_cast<uint32_t>(nodes.size());
                    open.pop_back();
                    endItem(pos);
                    continue;
                }
            }
            if (c == '(') {
                if (open.size() > static_cast<size_t>(kMaxDepth)) throw ParseFailure("nesting too deep", pos);
                const bool stored = open.empty() || keep(pos, false);
                if (Shallow && open.size() == 1) headPending = true;
                open.push_back(stored ? static_cast<uint32_t>(nodes.size()) : kNotStored);
                if (stored) nodes.push_back({0, SExprTree::kList});
                ++pos;
                continue;
            }
            if (open.empty()) throw ParseFailure("expected a list at top level", pos);
            if (c == ')') {
                if (open.back() != kNotStored) nodes[open.back()].a = static_cast<uint32_t>(nodes.size());
                open.pop_back();
                ++pos;
                endItem(pos);
                if (open.empty()) return;
                continue;
            }
            const size_t begin = pos;
            const bool stored = keep(begin, true);
            if (c == '"') {
                ++pos;
                const size_t start = pos;
                // Fast path: no backslash before the closing quote, so the text stays in the buffer.
                pos = stringStop(base, pos, n);
                if (pos >= n || base[pos] == '"') {
                    addAtom(start, pos - start, SExprTree::kQuoted, stored);
                    if (pos < n) ++pos;
                    endItem(pos);
                    continue;
                }
                if (!stored) {
                    size_t len = pos - start;
                    while (pos < n && base[pos] != '"') {
                        pos += base[pos] == '\\' && pos + 1 < n ? 2 : 1;
                        ++len;
                    }
                    addAtom(0, len, 0, false);
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
                addAtom(off, t.escaped_.size() - off, SExprTree::kQuoted | SExprTree::kEscaped, true);
                if (pos < n) ++pos;
                endItem(pos);
                continue;
            }
            while (pos < n && !kAtomStops.stop[static_cast<unsigned char>(base[pos])]) ++pos;
            addAtom(begin, pos - begin, 0, stored);
            endItem(pos);
        }
    }
};

SExprTree parseSExpr(std::shared_ptr<const void> owner, std::string_view text) {
    SExprTree t;
    SExprParser::start(t, std::move(owner), text);
    try {
        SExprParser::parse<false>(t, nullptr);
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

SExprOutline outlineSExpr(std::shared_ptr<const void> owner, std::string_view text) {
    SExprOutline o;
    SExprParser::start(o.tree_, std::move(owner), text);
    try {
        SExprParser::parse<true>(o.tree_, &o.items_);
    } catch (const ParseFailure& e) {
        throw std::runtime_error(std::string(e.what()) + " at " + lineAndColumn(text, e.at));
    }
    return o;
}

SExpr SExprOutline::item(size_t i) const { return i < items_.size() ? SExpr(&tree_, items_[i].node) : SExpr(); }

SExprTree SExprOutline::parse(size_t i) const {
    if (!item(i).is_list()) return SExprTree();
    const Item& it = items_[i];
    return parseSExpr(tree_.owner_, tree_.src_.substr(it.begin, it.end - it.begin));
}

SExprTree SExprOutline::parseFirst(std::string_view name) const {
    for (size_t i = 1; i < items_.size(); ++i)
        if (item(i).is_list() && item(i).head() == name) return parse(i);
    return SExprTree();
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
    // A list's first child, when it has one, is the node right after it; loaders ask this of every list.
    if (!is_list() || tree_->nodes_[index_].a == index_ + 1) return {};
    const SExpr first(tree_, index_ + 1);
    return first.is_list() ? std::string_view() : first.text();
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

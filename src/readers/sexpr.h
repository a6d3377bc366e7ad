// S-expression reader. A parsed file is one SExprTree: a flat, pre-order array
// of 8-byte nodes whose texts point into the file buffer (only strings with
// escapes get bytes of their own), so the tree costs about twice the file.
// SExpr is a cheap handle to one node of a tree; the tree must outlive it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace nl {

class SExprTree;

class SExpr {
public:
    SExpr() = default;
    SExpr(const SExprTree* tree, uint32_t index) : tree_(tree), index_(index) {}

    explicit operator bool() const { return tree_ != nullptr; }
    bool is_list() const;
    bool quoted() const;
    // Atom text or decoded string content; empty for a list.
    std::string_view text() const;
    // The text of the first child when it is not a list, else empty.
    std::string_view head() const;

    class Iterator {
    public:
        Iterator(const SExprTree* t, uint32_t i) : t_(t), i_(i) {}
        SExpr operator*() const { return SExpr(t_, i_); }
        Iterator& operator++();
        bool operator!=(const Iterator& o) const { return i_ != o.i_; }
        bool operator==(const Iterator& o) const { return i_ == o.i_; }

    private:
        const SExprTree* t_;
        uint32_t i_;
    };
    struct Children {
        Iterator b, e;
        Iterator begin() const { return b; }
        Iterator end() const { return e; }
    };
    // Children in source order (none for an atom).
    Children children() const;
    size_t childCount() const;
    // Child i (0 is the head), or a null handle.
    SExpr child(size_t i) const;

    // First child list after the head whose head is `name`; null when none.
    SExpr find(std::string_view name) const;
    std::vector<SExpr> findAll(std::string_view name) const;
    std::string str(size_t i, std::string_view fallback = {}) const;
    // Like str, without copying: the view lives as long as the tree (or the fallback).
    std::string_view view(size_t i, std::string_view fallback = {}) const;
    double num(size_t i, double fallback) const;
    std::string childStr(std::string_view name, size_t i, std::string_view fallback = {}) const;

    // Tells nodes apart: equal for handles of the same node of the same tree.
    std::pair<const SExprTree*, uint32_t> identity() const { return {tree_, index_}; }

private:
    const SExprTree* tree_ = nullptr;
    uint32_t index_ = 0;
};

class SExprTree {
public:
    struct Node {
        uint32_t a;  // atom: text offset; list: index one past its last descendant
        uint32_t b;  // flags in the top bits; atom: text length
    };
    static constexpr uint32_t kList = 1u << 31, kQuoted = 1u << 30, kEscaped = 1u << 29, kLenMask = kEscaped - 1;

    SExprTree() = default;
    SExprTree(SExprTree&&) = default;
    SExprTree& operator=(SExprTree&&) = default;
    ~SExprTree();

    SExpr root() const { return nodes_.empty() ? SExpr() : SExpr(this, 0); }
    size_t nodeCount() const { return nodes_.size(); }
    // Bytes held by the tree itself (nodes and decoded strings), not the file buffer.
    size_t memoryBytes() const { return nodes_.capacity() * sizeof(Node) + escaped_.capacity(); }

private:
    friend class SExpr;
    friend class SExprParser;
    friend class SExprOutline;
    std::shared_ptr<const void> owner_;  // keeps the text alive
    std::string_view src_;
    std::vector<Node> nodes_;
    std::string escaped_;
};

// Parses the first expression of `text`. Throws std::runtime_error with
// "unexpected end of file", "nesting too deep", "unbalanced parenthesis" or
// "expected a list at top level". Text after the first expression is ignored.
SExprTree parseSExpr(std::string text);
// The same over a buffer kept alive by `owner` (a mapped file, say).
SExprTree parseSExpr(std::shared_ptr<const void> owner, std::string_view text);

// A file taken one top-level item at a time, so that a loader never holds the
// tree of a whole large file. The outline keeps the first expression and its
// children (the items), each child list holding nothing but its head atom;
// parse(i) builds the full tree of item i when it is needed. The whole text is
// read when the outline is made and fails exactly as parseSExpr would.
class SExprOutline {
public:
    // The first expression; its children are the items, child i being item i.
    SExpr root() const { return tree_.root(); }
    size_t size() const { return items_.size(); }
    // Item i as the outline keeps it (a list with only its head); null past the end.
    SExpr item(size_t i) const;
    // The full tree of item i; an empty tree when the item is an atom.
    SExprTree parse(size_t i) const;
    // The full tree of the first list after the head whose head is `name`, as
    // SExpr::find would find it; an empty tree (null root) when there is none.
    SExprTree parseFirst(std::string_view name) const;

    struct Item {
        uint32_t node;   // the item's node in the outline
        uint32_t begin;  // its text: [begin, end) of the source
        uint32_t end;
    };

private:
    friend class SExprParser;
    friend SExprOutline outlineSExpr(std::shared_ptr<const void> owner, std::string_view text);
    SExprTree tree_;
    std::vector<Item> items_;
};

// Outlines the first expression of `text`, kept alive by `owner`. Throws what parseSExpr throws.
SExprOutline outlineSExpr(std::shared_ptr<const void> owner, std::string_view text);

}  // namespace nl

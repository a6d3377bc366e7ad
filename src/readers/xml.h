// A small, forgiving XML reader for Eagle files: no namespaces, no DTD, no
// encoding conversion, closing tag names unchecked.
//
// A parsed document is one XmlDocument: a flat, pre-order array of 20-byte
// element records that point into the text. Attributes are not stored at all:
// the start tag is checked while parsing and scanned again on each lookup
// (tags are short), so the tree costs a fraction of the file. XmlNode is a
// cheap handle to one element; the document must outlive it.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace nl {

class XmlDocument;

class XmlNode {
public:
    XmlNode() = default;
    XmlNode(const XmlDocument* doc, uint32_t index) : doc_(doc), index_(index) {}

    explicit operator bool() const { return doc_ != nullptr; }
    std::string_view name() const;
    // All character data directly inside (text runs and CDATA), decoded, in order.
    std::string_view text() const;
    // Decoded attribute values by name; a repeated attribute keeps its last value.
    std::map<std::string, std::string> attributes() const;
    bool hasAttr(std::string_view name) const;
    std::string attr(std::string_view name, std::string_view fallback = {}) const;
    // Longest numeric prefix of the value; the fallback when absent, not a number or out of range.
    double attrNum(std::string_view name, double fallback) const;

    class Iterator {
    public:
        Iterator(const XmlDocument* d, uint32_t i) : d_(d), i_(i) {}
        XmlNode operator*() const { return XmlNode(d_, i_); }
        Iterator& operator++();
        bool operator!=(const Iterator& o) const { return i_ != o.i_; }
        bool operator==(const Iterator& o) const { return i_ == o.i_; }

    private:
        const XmlDocument* d_;
        uint32_t i_;
    };
    struct Children {
        Iterator b, e;
        Iterator begin() const { return b; }
        Iterator end() const { return e; }
    };
    // Child elements in document order.
    Children children() const;
    // The first child element with exactly this name, or a null handle.
    XmlNode child(std::string_view name) const;
    std::vector<XmlNode> childrenNamed(std::string_view name) const;

private:
    // Calls fn(name, raw value) for every attribute of the start tag, in order.
    template <class Fn>
    void forEachRawAttr(Fn&& fn) const;
    bool rawAttr(std::string_view name, std::string_view& raw) const;

    const XmlDocument* doc_ = nullptr;
    uint32_t index_ = 0;
};

class XmlDocument {
public:
    struct Element {
        uint32_t tag;       // offset of the '<' of the start tag
        uint32_t name_len;  // the name follows the '<'
        uint32_t end;       // one past the last descendant
        uint32_t text_off;  // into the text, or into decoded_ when text_len has kDecoded
        uint32_t text_len;
    };
    static constexpr uint32_t kDecoded = 1u << 31;

    XmlDocument() = default;
    XmlNode root() const { return elements_.empty() ? XmlNode() : XmlNode(this, 0); }
    size_t elementCount() const { return elements_.size(); }
    // Bytes held by the tree itself (records and decoded texts), not the text.
    size_t memoryBytes() const { return elements_.capacity() * sizeof(Element) + decoded_.capacity(); }

private:
    friend class XmlNode;
    friend class XmlParser;
    friend XmlDocument parseXml(std::shared_ptr<const void> owner, std::string_view text);
    std::shared_ptr<const void> owner_;  // keeps src_ alive, when the document owns it
    std::string_view src_;
    std::vector<Element> elements_;
    std::string decoded_;  // texts that needed decoding or joining
};

// Parses the root element of `text`; anything after it is ignored. Throws
// std::runtime_error with one of the reader's messages ("empty XML document",
// "junk before root element", "XML nesting too deep", "expected element",
// "bad element name", "bad attribute in <name>", "unquoted attribute",
// "unterminated attribute", "unterminated tag", "unterminated element <name>").
XmlDocument parseXml(std::string text);
// The same over a buffer kept alive by `owner`; a null owner means the caller
// keeps `text` alive for as long as the document is used.
XmlDocument parseXml(std::shared_ptr<const void> owner, std::string_view text);

// Replaces the five named entities and numeric character references; anything
// else (unknown names, a "&" without a ";" within 10 bytes) stays as written.
std::string decodeXmlEntities(std::string_view text);

}  // namespace nl

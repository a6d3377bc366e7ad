#include <gtest/gtest.h>

#include <map>
#include <stdexcept>
#include <string>
#include <utility>

#include "readers/xml.h"

using namespace nl;

namespace {

// The message without the position that follows it.
std::string failureOf(const std::string& text) {
    try {
        parseXml(text);
    } catch (const std::runtime_error& e) {
        const std::string what = e.what();
        return what.substr(0, what.find(" at line "));
    }
    return "";
}

std::string positionOf(const std::string& text) {
    try {
        parseXml(text);
    } catch (const std::runtime_error& e) {
        const std::string what = e.what();
        const size_t at = what.find(" at line ");
        return at == std::string::npos ? "" : what.substr(at + 4);
    }
    return "";
}

}  // namespace

TEST(XmlParse, ElementsAttributesNumbersTextAndPrologue) {
    XmlDocument d = parseXml(R"(<a x="1" y='two' flag z = "3" b="1" e="&lt;" b="2"><b/>one<c k="v">in</c>two</a>)");
    XmlNode a = d.root();
    EXPECT_EQ(a.name(), "a");
    // A lone word in a tag is an attribute with the empty value; a repeated one keeps its last value.
    const std::map<std::string, std::string> all{{"x", "1"}, {"y", "two"}, {"flag", ""},
                                                 {"z", "3"}, {"b", "2"},   {"e", "<"}};
    EXPECT_EQ(a.attributes(), all);
    for (const auto& [name, value] : all) EXPECT_EQ(a.attr(name, "fb"), value) << name;
    EXPECT_TRUE(a.hasAttr("flag"));
    EXPECT_EQ(a.attr("missing", "fb"), "fb");
    // Text runs on both sides of a child are joined; the child keeps its own.
    EXPECT_EQ(a.text(), "onetwo");
    EXPECT_EQ(a.child("c").attr("k") + std::string(a.child("c").text()), "vin");
    EXPECT_FALSE(a.child("zzz"));
    std::string names;
    for (XmlNode c : a.children()) names += c.name();
    EXPECT_EQ(names, "bc");

    // Siblings after a deep subtree are still found; childrenNamed sees direct children only.
    d = parseXml("<r><p n='1'><q><q><q/></q></q></p><x/><p n='2'/><p n='3'>t</p></r>");
    auto ps = d.root().childrenNamed("p");
    ASSERT_EQ(ps.size(), 3u);
    EXPECT_EQ(ps[2].attr("n") + std::string(ps[2].text()), "3t");
    EXPECT_TRUE(ps[0].child("q").child("q").child("q"));
    EXPECT_EQ(d.root().childrenNamed("q").size(), 0u);
    EXPECT_EQ(d.elementCount(), 8u);

    d = parseXml(R"(<a x="1.5" y="-2.54mm" z="abc" w="" big="1e999" e="&#49;0" n="nan" s=" 7"/>)");
    // Longest numeric prefix, entities decoded first; the fallback when empty, not a number or out of range.
    const std::pair<const char*, double> cases[] = {{"x", 1.5}, {"y", -2.54}, {"z", 9}, {"w", 9},      {"big", 9},
                                                    {"e", 10},  {"n", 9},     {"s", 7}, {"missing", 9}};
    for (auto [name, value] : cases) EXPECT_DOUBLE_EQ(d.root().attrNum(name, 9), value) << name;

    d = parseXml(
        "<?xml version=\"1.0\"?>\n<!-- c -->\n<!DOCTYPE e [ <!ENTITY x \"y\"> <!ATTLIST e a CDATA> ]>\n"
        "<e><!-- skipped --><?pi x?>a<![CDATA[<b>&amp;]]>c<f></g>d</h> trailing junk <<<");
    // CDATA is taken as it is; closing tag names are not checked.
    EXPECT_EQ(d.root().name(), "e");
    EXPECT_EQ(d.root().text(), "a<b>&amp;cd");
    EXPECT_TRUE(d.root().child("f"));
    EXPECT_EQ(parseXml("<!doctype x><r/>").root().name(), "r");
}

TEST(XmlEntities, NamedNumericAndLiteral) {
    const std::pair<const char*, const char*> cases[] = {
        {"&lt;&gt;&amp;&quot;&apos;", "<>&\"'"},
        {"&#65;&#x41;&#X41;", "AAA"},
        {"&#xE9;&#x20AC;&#x1F600;", "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80"},
        {"&#xZZ;&#;&#x;", "???"},
        {"&nbsp;&;&Amp;", "&nbsp;&;&Amp;"},
        // A ";" 10 bytes after the "&" still ends an entity, 11 or more do not (and decoding goes on).
        {"&#00000065;", "A"},
        {"&#000000065;", "&#000000065;"},
        {"&abcdefghijk;&lt;", "&abcdefghijk;<"},
        {"a & b &", "a & b &"},
    };
    for (auto [in, out] : cases) EXPECT_EQ(decodeXmlEntities(in), out) << in;
    XmlDocument d = parseXml("<t v=\"&quot;&#x3c;\">x &amp;&amp; y&#x2260;</t>");
    EXPECT_EQ(d.root().attr("v"), "\"<");
    EXPECT_EQ(d.root().text(), "x && y\xE2\x89\xA0");
}

TEST(XmlFailures, EveryMessageAndNestingLimit) {
    auto nested = [](int n) {
        std::string s;
        for (int i = 0; i < n; ++i) s += "<a>";
        for (int i = 0; i < n; ++i) s += "</a>";
        return s;
    };
    const std::pair<std::string, const char*> cases[] = {
        {"", "empty XML document"},
        {" \n<!-- only a comment --> <?pi?>", "empty XML document"},
        {"junk<a/>", "junk before root element"},
        {"<>", "bad element name"},
        {"<a><!x/></a>", "bad element name"},
        {"<a =\"1\"/>", "bad attribute in <a>"},
        {"<a b=1/>", "unquoted attribute"},
        {"<a b=\"1/>", "unterminated attribute"},
        {"<a b='1\"/>", "unterminated attribute"},
        {"<a b=\"1\"", "unterminated tag"},
        {"<a b", "unterminated tag"},
        {"<a><b>text", "unterminated element <b>"},
        {"<a><b></b>", "unterminated element <a>"},
        // Unclosed comment and CDATA run to the end of the text.
        {"<r><!-- never closed", "unterminated element <r>"},
        {"<r><![CDATA[ never closed", "unterminated element <r>"},
        // An empty-element "/" as the last byte still finishes the root.
        {"<a/", ""},
        {"<a></", ""},
        {nested(501), ""},
        {nested(502), "XML nesting too deep"},
        // A megabyte of opening tags is refused without recursing that deep.
        {nested(350000).substr(0, 3 * 350000), "XML nesting too deep"},
    };
    for (const auto& [text, message] : cases) EXPECT_EQ(failureOf(text), message) << text.substr(0, 40);
}

TEST(XmlParse, ByteOrderMarkAndFailurePositions) {
    XmlDocument d = parseXml("\xEF\xBB\xBF<?xml version=\"1.0\"?>\n<eagle version=\"9\"/>");
    EXPECT_EQ(d.root().name(), "eagle");
    EXPECT_EQ(positionOf("<a>\n  <b c=1/>\n</a>"), "line 2, column 8");
    EXPECT_EQ(positionOf("\n\njunk<a/>"), "line 3, column 1");
    EXPECT_EQ(positionOf("<a>\n<b>\n"), "line 3, column 1");
}

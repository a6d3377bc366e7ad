#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "xml.h"

using namespace nl;

namespace {

std::string failureOf(const std::string& text) {
    try {
        parseXml(text);
    } catch (const std::runtime_error& e) {
        return e.what();
    }
    return "";
}

}  // namespace

TEST(XmlParse, ElementsAttributesAndText) {
    XmlDocument d = parseXml(R"(<a x="1" y='two' flag z = "3"><b/>one<c k="v">inner</c>two</a>)");
    XmlNode a = d.root();
    ASSERT_TRUE(a);
    EXPECT_EQ(a.name(), "a");
    EXPECT_EQ(a.attr("x"), "1");
    EXPECT_EQ(a.attr("y"), "two");
    EXPECT_EQ(a.attr("z"), "3");
    // A lone word in a tag is an attribute with the empty value.
    EXPECT_TRUE(a.hasAttr("flag"));
    EXPECT_EQ(a.attr("flag", "fb"), "");
    EXPECT_EQ(a.attr("missing", "fb"), "fb");
    // Text runs on both sides of a child are joined; the child keeps its own.
    EXPECT_EQ(a.text(), "onetwo");
    ASSERT_TRUE(a.child("c"));
    EXPECT_EQ(a.child("c").text(), "inner");
    EXPECT_EQ(a.child("c").attr("k"), "v");
    EXPECT_FALSE(a.child("zzz"));
    int n = 0;
    for (XmlNode c : a.children()) EXPECT_EQ(c.name(), n++ == 0 ? "b" : "c");
    EXPECT_EQ(n, 2);
}

TEST(XmlParse, RepeatedAttributesAndOrderedMap) {
    XmlDocument d = parseXml(R"(<a b="1" a="&lt;" b="2"/>)");
    EXPECT_EQ(d.root().attr("b"), "2");
    auto m = d.root().attributes();
    ASSERT_EQ(m.size(), 2u);
    EXPECT_EQ(m.begin()->first, "a");
    EXPECT_EQ(m.begin()->second, "<");
    EXPECT_EQ(m["b"], "2");
}

TEST(XmlParse, ChildrenNamedAndSiblingsAfterDeepSubtrees) {
    XmlDocument d = parseXml("<r><p n='1'><q><q><q/></q></q></p><x/><p n='2'/><p n='3'>t</p></r>");
    auto ps = d.root().childrenNamed("p");
    ASSERT_EQ(ps.size(), 3u);
    EXPECT_EQ(ps[0].attr("n"), "1");
    EXPECT_EQ(ps[2].attr("n"), "3");
    EXPECT_EQ(ps[2].text(), "t");
    EXPECT_TRUE(ps[0].child("q").child("q").child("q"));
    EXPECT_EQ(d.root().childrenNamed("q").size(), 0u);  // only direct children
    EXPECT_EQ(d.elementCount(), 8u);
}

TEST(XmlParse, NumbersFromAttributes) {
    XmlDocument d = parseXml(R"(<a x="1.5" y="-2.54mm" z="abc" w="" big="1e999" e="&#49;0" n="nan" s=" 7"/>)");
    XmlNode a = d.root();
    EXPECT_DOUBLE_EQ(a.attrNum("x", 0), 1.5);
    EXPECT_DOUBLE_EQ(a.attrNum("y", 0), -2.54);  // longest numeric prefix
    EXPECT_DOUBLE_EQ(a.attrNum("z", 9), 9);
    EXPECT_DOUBLE_EQ(a.attrNum("w", 9), 9);
    EXPECT_DOUBLE_EQ(a.attrNum("big", 9), 9);  // out of range
    EXPECT_DOUBLE_EQ(a.attrNum("e", 0), 10);   // decoded before conversion
    EXPECT_DOUBLE_EQ(a.attrNum("n", 9), 9);
    EXPECT_DOUBLE_EQ(a.attrNum("s", 0), 7);
    EXPECT_DOUBLE_EQ(a.attrNum("missing", 3), 3);
}

TEST(XmlParse, PrologueCommentsCdataAndClosingNames) {
    XmlDocument d = parseXml(
        "<?xml version=\"1.0\"?>\n<!-- c -->\n<!DOCTYPE e [ <!ENTITY x \"y\"> <!ATTLIST e a CDATA> ]>\n"
        "<e><!-- skipped --><?pi x?>a<![CDATA[<b>&amp;]]>c<f></g>d</h> trailing junk <<<");
    XmlNode e = d.root();
    EXPECT_EQ(e.name(), "e");
    // CDATA is taken as it is; closing tag names are not checked.
    EXPECT_EQ(e.text(), "a<b>&amp;cd");
    ASSERT_TRUE(e.child("f"));
    EXPECT_EQ(parseXml("<!doctype x><r/>").root().name(), "r");
    // Unclosed comment and CDATA run to the end of the text.
    EXPECT_EQ(failureOf("<r><!-- never closed"), "unterminated element <r>");
    EXPECT_EQ(failureOf("<r><![CDATA[ never closed"), "unterminated element <r>");
    EXPECT_EQ(parseXml("<r a='1'/>").root().text(), "");
}

TEST(XmlEntities, NamedNumericAndLiteral) {
    EXPECT_EQ(decodeXmlEntities("&lt;&gt;&amp;&quot;&apos;"), "<>&\"'");
    EXPECT_EQ(decodeXmlEntities("&#65;&#x41;&#X41;"), "AAA");
    EXPECT_EQ(decodeXmlEntities("&#x20AC;"), "\xE2\x82\xAC");
    EXPECT_EQ(decodeXmlEntities("&#xE9;&#x1F600;"), "\xC3\xA9\xF0\x9F\x98\x80");
    EXPECT_EQ(decodeXmlEntities("&#xZZ;&#;&#x;"), "???");
    EXPECT_EQ(decodeXmlEntities("&nbsp;&;&Amp;"), "&nbsp;&;&Amp;");
    // The ";" 12 bytes after the "&" is too far: the "&" stays and decoding goes on.
    EXPECT_EQ(decodeXmlEntities("&abcdefghijk;&lt;"), "&abcdefghijk;<");
    // 10 bytes after is still an entity, 11 is not.
    EXPECT_EQ(decodeXmlEntities("&#00000065;"), "A");
    EXPECT_EQ(decodeXmlEntities("&#000000065;"), "&#000000065;");
    EXPECT_EQ(decodeXmlEntities("a & b &"), "a & b &");
    XmlDocument d = parseXml("<t v=\"&quot;&#x3c;\">x &amp;&amp; y&#x2260;</t>");
    EXPECT_EQ(d.root().attr("v"), "\"<");
    EXPECT_EQ(d.root().text(), "x && y\xE2\x89\xA0");
}

TEST(XmlFailures, EveryMessage) {
    EXPECT_EQ(failureOf(""), "empty XML document");
    EXPECT_EQ(failureOf(" \n<!-- only a comment --> <?pi?>"), "empty XML document");
    EXPECT_EQ(failureOf("junk<a/>"), "junk before root element");
    EXPECT_EQ(failureOf("<>"), "bad element name");
    EXPECT_EQ(failureOf("<a><!x/></a>"), "bad element name");
    EXPECT_EQ(failureOf("<a =\"1\"/>"), "bad attribute in <a>");
    EXPECT_EQ(failureOf("<a b=1/>"), "unquoted attribute");
    EXPECT_EQ(failureOf("<a b=\"1/>"), "unterminated attribute");
    EXPECT_EQ(failureOf("<a b='1\"/>"), "unterminated attribute");
    EXPECT_EQ(failureOf("<a b=\"1\""), "unterminated tag");
    EXPECT_EQ(failureOf("<a b"), "unterminated tag");
    EXPECT_EQ(failureOf("<a><b>text"), "unterminated element <b>");
    EXPECT_EQ(failureOf("<a><b></b>"), "unterminated element <a>");
    // An empty-element "/" as the last byte still finishes the root.
    EXPECT_EQ(failureOf("<a/"), "");
    EXPECT_EQ(failureOf("<a></"), "");
}

TEST(XmlFailures, NestingLimitWithoutDeepRecursion) {
    auto nested = [](int n) {
        std::string s;
        for (int i = 0; i < n; ++i) s += "<a>";
        for (int i = 0; i < n; ++i) s += "</a>";
        return s;
    };
    EXPECT_EQ(failureOf(nested(501)), "");
    EXPECT_EQ(failureOf(nested(502)), "XML nesting too deep");
    std::string huge;
    for (int i = 0; i < (1 << 20) / 3; ++i) huge += "<a>";
    EXPECT_EQ(failureOf(huge), "XML nesting too deep");
}

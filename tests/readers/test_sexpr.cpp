#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "readers/sexpr.h"

using namespace nl;

namespace {

// The message without the position that follows it.
std::string failureOf(const std::string& text) {
    try {
        parseSExpr(text);
    } catch (const std::runtime_error& e) {
        const std::string what = e.what();
        return what.substr(0, what.find(" at line "));
    }
    return "";
}

std::string positionOf(const std::string& text) {
    try {
        parseSExpr(text);
    } catch (const std::runtime_error& e) {
        const std::string what = e.what();
        const size_t at = what.find(" at line ");
        return at == std::string::npos ? "" : what.substr(at + 4);
    }
    return "";
}

}  // namespace

TEST(SExprParse, NestedListsStringsAndAtoms) {
    SExprTree t = parseSExpr(R"((a (b "x\"y") c))");
    SExpr r = t.root();
    ASSERT_TRUE(r.is_list());
    EXPECT_EQ(r.head(), "a");
    EXPECT_EQ(r.childCount(), 3u);
    SExpr b = r.child(1);
    EXPECT_EQ(b.head(), "b");
    EXPECT_TRUE(b.child(1).quoted());
    EXPECT_EQ(b.child(1).text(), "x\"y");
    EXPECT_FALSE(r.child(2).quoted());
    EXPECT_EQ(r.child(2).text(), "c");
    EXPECT_EQ(r.find("b").str(1), "x\"y");
}

TEST(SExprParse, EscapesAndUnterminatedStrings) {
    SExprTree t = parseSExpr("(s \"a\\nb\\tc\\\\d\\q\" plain\"quote)");
    EXPECT_EQ(t.root().str(1), "a\nb\tc\\dq");
    EXPECT_EQ(t.root().str(2), "plain\"quote");
    EXPECT_EQ(failureOf("(s \"never closed)"), "unbalanced parenthesis");
    // A backslash as the very last byte is a plain backslash.
    EXPECT_EQ(failureOf("(s \"x\\"), "unbalanced parenthesis");
}

TEST(SExprParse, FailureMessages) {
    EXPECT_EQ(failureOf(""), "unexpected end of file");
    EXPECT_EQ(failureOf(" \t\r\n"), "unexpected end of file");
    EXPECT_EQ(failureOf("word"), "expected a list at top level");
    EXPECT_EQ(failureOf("\"str\""), "expected a list at top level");
    EXPECT_EQ(failureOf(")"), "expected a list at top level");
    EXPECT_EQ(failureOf("(a (b)"), "unbalanced parenthesis");
    // Stray text after the first expression is ignored.
    EXPECT_EQ(failureOf("(a) ) (b"), "");
}

TEST(SExprParse, NestingLimitWithoutDeepRecursion) {
    auto nested = [](int n) { return std::string(n, '(') + std::string(n, ')'); };
    EXPECT_EQ(failureOf(nested(2001)), "");
    EXPECT_EQ(failureOf(nested(2002)), "nesting too deep");
    // Far beyond the limit must fail the same way, not exhaust the stack.
    EXPECT_EQ(failureOf(std::string(1 << 20, '(')), "nesting too deep");
}

TEST(SExprAccessors, NumbersStringsAndFallbacks) {
    SExprTree t = parseSExpr("(at 1.27 -2.54 90 12mm abc (x) +3 1e2)");
    SExpr at = t.root();
    EXPECT_DOUBLE_EQ(at.num(1, 0), 1.27);
    EXPECT_DOUBLE_EQ(at.num(2, 0), -2.54);
    EXPECT_DOUBLE_EQ(at.num(3, 0), 90);
    EXPECT_DOUBLE_EQ(at.num(4, 0), 12);
    EXPECT_DOUBLE_EQ(at.num(5, 7), 7);
    EXPECT_DOUBLE_EQ(at.num(6, 7), 7);
    EXPECT_DOUBLE_EQ(at.num(7, 0), 3);
    EXPECT_DOUBLE_EQ(at.num(8, 0), 100);
    EXPECT_DOUBLE_EQ(at.num(42, 7), 7);
    EXPECT_EQ(at.str(0), "at");
    EXPECT_EQ(at.str(6, "fb"), "fb");
    EXPECT_EQ(at.str(99, "fb"), "fb");
    EXPECT_DOUBLE_EQ(t.root().child(1).num(0, 5), 5);  // an atom has no children
}

TEST(SExprAccessors, FindSeesListsOnlyAfterTheHead) {
    SExprTree t = parseSExpr("(hide (hide yes) (a 1) (a 2) (b \"q\"))");
    SExpr r = t.root();
    SExpr h = r.find("hide");
    ASSERT_TRUE(h);
    EXPECT_EQ(h.str(1), "yes");
    EXPECT_EQ(r.findAll("a").size(), 2u);
    EXPECT_EQ(r.findAll("a")[1].num(1, 0), 2);
    EXPECT_FALSE(r.find("zzz"));
    EXPECT_EQ(r.childStr("b", 1, "none"), "q");
    EXPECT_EQ(r.childStr("c", 1, "none"), "none");
    SExprTree bare = parseSExpr("(x hide)");
    EXPECT_FALSE(bare.root().find("hide"));
    SExprTree listHead = parseSExpr("((a) (a))");
    EXPECT_EQ(listHead.root().head(), "");
    EXPECT_EQ(listHead.root().findAll("a").size(), 1u);  // child 0 is never searched
}

namespace {

// Atoms as A<text>/Q<text>, lists in parentheses: equal trees write equally.
std::string written(SExpr e) {
    if (!e.is_list()) return (e.quoted() ? "Q" : "A") + std::string(e.text()) + " ";
    std::string out = "(";
    for (SExpr c : e.children()) out += written(c);
    return out + ")";
}

// Whole messages, positions included: the outline must fail exactly as the full parse does.
std::string outlineFailureOf(const std::string& text) {
    try {
        outlineSExpr(nullptr, text);
    } catch (const std::runtime_error& e) {
        return e.what();
    }
    return "";
}

std::string fullFailureOf(const std::string& text) {
    try {
        parseSExpr(text);
    } catch (const std::runtime_error& e) {
        return e.what();
    }
    return "";
}

}  // namespace

// The outline reads every byte by the parser's rules: it fails where a full
// parse fails, and each item parsed on its own is the full tree's child. The
// long texts cross the sixteen-byte blocks the outline skips through.
TEST(SExprOutline, AgreesWithTheFullParse) {
    auto nested = [](int n) { return std::string(n, '(') + std::string(n, ')'); };
    std::vector<std::string> texts = {
        "(a (b \"x\\\"y\") c)",
        "(k (v 1) \"str\" atom (\"quoted head\" 1) ((list head) 2) () (x (y (z))) (s \"(\" \")\" \"\\\\\"))",
        "(a plain\"quote (b \") (c\" x) (d \"s\"\"t\" y\"z) (e \"\"))",  // quotes inside atoms, strings back to back
        "(a (b \"x\\",                                                   // ends in a backslash inside a string
        "(a (b \"never closed) (c))",
        "",
        "word",
        "(a (b)",
        "(a) ) (b",
        nested(2001),
        nested(2002),
        "(r " + nested(1999) + ")",  // an item nested to the limit, counted in blocks
        "(r " + nested(2001) + ")",
        "(r (" + std::string(40, ')'),
        "(r (x" + std::string(3000, '(') + "))",
    };
    // A backslash at every offset of a block, escaping a quote, a parenthesis or a backslash.
    for (int at = 0; at < 20; ++at)
        for (const char* escaped : {"\\\"", "\\(", "\\\\"})
            texts.push_back("(r (s \"" + std::string(at, 'a') + escaped + "b)c\" (t)) (u \"" + std::string(at, ' ') +
                            "\\\"\"(v) w)");
    for (const std::string& text : texts) {
        ASSERT_EQ(outlineFailureOf(text), fullFailureOf(text)) << text;
        if (!failureOf(text).empty()) continue;
        const SExprTree full = parseSExpr(text);
        const SExprOutline outline = outlineSExpr(nullptr, text);
        size_t i = 0;
        for (SExpr child : full.root().children()) {
            const SExpr item = outline.item(i);
            EXPECT_EQ(item.head(), child.head()) << text;
            EXPECT_EQ(written(child.is_list() ? outline.parse(i).root() : item), written(child)) << text;
            ++i;
        }
        EXPECT_EQ(outline.size(), i) << text;
    }
}

TEST(SExprOutline, HoldsHeadsOnlyAndFindsLikeFind) {
    const std::string text = "(k (a 1 (deep (deeper))) b (a 2) ((x) 3) (c \"q\"))";
    const SExprOutline outline = outlineSExpr(nullptr, text);
    ASSERT_EQ(outline.size(), 6u);
    EXPECT_EQ(outline.item(1).childCount(), 1u);  // the head only, not what follows it
    EXPECT_EQ(outline.item(4).childCount(), 0u);  // a list for a head is not kept
    EXPECT_FALSE(outline.item(6));
    EXPECT_DOUBLE_EQ(outline.parseFirst("a").root().num(1, 0), 1);
    EXPECT_EQ(outline.parseFirst("c").root().str(1), "q");
    EXPECT_FALSE(outline.parseFirst("k").root());  // child 0 is never searched
    EXPECT_FALSE(outline.parseFirst("zzz").root());
    EXPECT_FALSE(outline.parse(2).root());  // an atom has no tree of its own
}

TEST(SExprParse, ByteOrderMarkAndFailurePositions) {
    SExprTree t = parseSExpr("\xEF\xBB\xBF\n  (kicad_sch (version 1))");
    EXPECT_EQ(t.root().head(), "kicad_sch");
    EXPECT_EQ(failureOf("\xEF\xBB\xBF"), "unexpected end of file");
    EXPECT_EQ(positionOf("(a\n  (b)\n"), "line 3, column 1");  // the end: something was left open
    EXPECT_EQ(positionOf("\n\n  word"), "line 3, column 3");
    EXPECT_EQ(positionOf(std::string(3000, '(')), "line 1, column 2002");
}

// Feeds arbitrary bytes to the S-expression reader and walks the tree with its
// accessors; the outline of the same bytes must fail alike or agree item by item.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "readers/sexpr.h"

namespace {

// Equal trees give equal texts.
void write(nl::SExpr e, std::string& out) {
    if (!e.is_list()) {
        out += e.quoted() ? 'Q' : 'A';
        out += e.text();
        out += ' ';
        return;
    }
    // Iterative: the reader allows deep nesting.
    std::vector<std::pair<nl::SExpr::Iterator, nl::SExpr::Iterator>> stack;
    out += '(';
    stack.push_back({e.children().begin(), e.children().end()});
    while (!stack.empty()) {
        auto& [it, end] = stack.back();
        if (it == end) {
            out += ')';
            stack.pop_back();
            continue;
        }
        nl::SExpr c = *it;
        ++it;
        if (c.is_list()) {
            out += '(';
            stack.push_back({c.children().begin(), c.children().end()});
        } else {
            out += c.quoted() ? 'Q' : 'A';
            out += c.text();
            out += ' ';
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    auto text = std::make_shared<const std::string>(reinterpret_cast<const char*>(data), size);
    std::string failure, outlineFailure;
    nl::SExprTree t;
    nl::SExprOutline outline;
    try {
        t = nl::parseSExpr(text, *text);
    } catch (const std::runtime_error& e) {
        failure = e.what();
    }
    try {
        outline = nl::outlineSExpr(text, *text);
    } catch (const std::runtime_error& e) {
        outlineFailure = e.what();
    }
    if (failure != outlineFailure) __builtin_trap();
    if (!failure.empty()) return 0;

    size_t sum = 0, i = 0;
    // Iterative walk: the reader allows deep nesting.
    std::vector<nl::SExpr> stack{t.root()};
    while (!stack.empty()) {
        nl::SExpr e = stack.back();
        stack.pop_back();
        sum += e.text().size() + e.head().size() + e.childCount() + e.quoted();
        sum += e.str(1).size() + e.view(2, "f").size() + static_cast<size_t>(e.num(1, 0) != 0);
        sum += e.childStr("at", 1).size() + e.findAll("pin").size() + static_cast<size_t>(bool(e.find("at")));
        sum += static_cast<size_t>(bool(e.child(3)));
        for (nl::SExpr c : e.children())
            if (c.is_list()) stack.push_back(c);
    }
    for (nl::SExpr child : t.root().children()) {
        std::string whole, alone;
        write(child, whole);
        write(child.is_list() ? outline.parse(i).root() : outline.item(i), alone);
        if (whole != alone || child.head() != outline.item(i).head()) __builtin_trap();
        ++i;
    }
    if (i != outline.size()) __builtin_trap();
    volatile size_t sink = sum;
    (void)sink;
    return 0;
}

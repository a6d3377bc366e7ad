// Feeds arbitrary bytes to the S-expression reader and walks the tree with its accessors.
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "readers/sexpr.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    try {
        nl::SExprTree t = nl::parseSExpr(std::string(reinterpret_cast<const char*>(data), size));
        size_t sum = 0;
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
        volatile size_t sink = sum;
        (void)sink;
    } catch (const std::runtime_error&) {
    }
    return 0;
}

// Feeds arbitrary bytes to the XML reader and walks every element it returns.
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>

#include "readers/xml.h"

namespace {

size_t walk(nl::XmlNode n) {
    size_t sum = n.name().size() + n.text().size();
    for (const auto& [k, v] : n.attributes()) sum += k.size() + v.size();
    sum += n.attr("x").size() + static_cast<size_t>(n.attrNum("x", 0) != 0);
    for (nl::XmlNode c : n.children()) sum += walk(c);  // depth is bounded by the reader
    return sum + n.childrenNamed("a").size() + static_cast<size_t>(bool(n.child("b")));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    try {
        nl::XmlDocument d = nl::parseXml(text);
        volatile size_t sink = walk(d.root());
        (void)sink;
    } catch (const std::runtime_error&) {
    }
    volatile size_t sink = nl::decodeXmlEntities(text).size();
    (void)sink;
    return 0;
}

// Feeds arbitrary bytes to the Eagle loader and checks the cross-references of what it returns.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "formats/eagle_loader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    std::string error;
    auto s = nl::loadEagleSchematic(text, "fuzz.sch", &error);
    if (!s) {
        if (error.empty()) std::abort();  // every failure carries a message
        return 0;
    }
    const int nets = static_cast<int>(s->nets.size());
    const int components = static_cast<int>(s->components.size());
    for (const nl::Component& c : s->components)
        for (const nl::Pin& p : c.pins)
            if (p.net < 0 || p.net >= nets) std::abort();
    for (const nl::Net& n : s->nets)
        for (auto [ci, pi] : n.pins)
            if (ci < 0 || ci >= components || pi < 0 || pi >= static_cast<int>(s->components[ci].pins.size()))
                std::abort();
    for (const nl::Wire& w : s->wires)
        if (w.net < 0 || w.net >= nets || w.sheet < 0 || w.sheet >= static_cast<int>(s->sheets.size())) std::abort();
    return 0;
}

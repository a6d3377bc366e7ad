// Feeds arbitrary bytes to the text-layout step as KiCad and as Eagle text: every
// run must lie inside the laid-out text, and boxes must be made of finite numbers.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "render/text_layout.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    for (nl::TextSyntax syntax : {nl::TextSyntax::Kicad, nl::TextSyntax::Plain}) {
        const nl::TextBlock block(text, syntax);
        size_t characters = 0;
        for (size_t i = 0; i < block.lineCount(); ++i)
            for (const nl::TextRun& r : block.line(i)) {
                if (r.text.empty() || r.shift < -1 || r.shift > 1) std::abort();
                characters += r.text.size();
            }
        // Tabs widen a line by at most three blanks each; nothing else adds text.
        if (characters > 4 * size) std::abort();
        const nl::BBox box = nl::textBlockBox(block, {1, 2}, 1.5, 33, 0, 0);
        if (!std::isfinite(box.min_x) || !std::isfinite(box.max_y)) std::abort();
    }
    return 0;
}

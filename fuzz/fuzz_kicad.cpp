// Feeds arbitrary bytes to the file-level entry: format detection, the KiCad
// loader, the net builder, the sheet extents and the rule check must cope
// with anything.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "analysis/erc.h"
#include "open/schematic_open.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string error;
    // The path names a directory that does not exist, so sub-sheets never reach the disk.
    auto s = nl::loadSchematicText(std::string_view(reinterpret_cast<const char*>(data), size),
                                   "/nonexistent-netloom-fuzz/f.kicad_sch", &error);
    if (!s && error.empty()) __builtin_trap();
    if (s) nl::runErc(*s, {});
    return 0;
}

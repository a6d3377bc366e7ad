// Feeds arbitrary bytes as a KiCad project file: reading its rule settings and
// matching them against the demo's issues must cope with anything.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "analysis/erc.h"
#include "open/schematic_open.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const auto sample = nl::loadSampleSchematic();
    const nl::ErcProject project =
        nl::parseErcProject("f.kicad_pro", std::string_view(reinterpret_cast<const char*>(data), size));
    const nl::ErcReport report = nl::runErc(*sample, {}, project);
    if (report.hidden < 0) __builtin_trap();
    return 0;
}

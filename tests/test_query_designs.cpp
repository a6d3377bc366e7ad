// The design questions on every real KiCad design at hand (the installed
// demos and the shared corpus): invariants that must hold on any design.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "lookup.h"
#include "overview.h"
#include "schematic_open.h"
#include "text.h"
#include "trace.h"

using namespace nl;
namespace fs = std::filesystem;

namespace {

void checkDesign(const Schematic& s) {
    EXPECT_EQ(schematicSummary(s, 40).rfind("Schematic: ", 0), 0u);
    for (const Net& n : s.nets) {  // every net traces to itself in one net
        if (n.name.empty() || n.name != trim(n.name)) continue;
        TraceResult r = tracePath(s, "net:" + n.name, "net:" + n.name, {});
        EXPECT_EQ(r.text, "Path from net " + n.name + " to net " + n.name + ": 1 net(s), 0 component hop(s)");
    }
    size_t pairs = 0, listed = 0;
    for (const Net& n : s.nets)
        for (const auto& a : n.pins)
            for (const auto& b : n.pins) pairs += a.first != b.first;
    for (int i = 0; i < static_cast<int>(s.components.size()); ++i) {
        listed += componentNeighbours(s, i).size();
        const Component& c = s.components[i];
        EXPECT_EQ(describeComponent(s, i, "verbose").rfind(c.reference + "  ", 0), 0u);
        std::vector<int> nets, expected;
        std::string label;
        for (const Pin& p : c.pins)
            if (p.net >= 0 && std::find(expected.begin(), expected.end(), p.net) == expected.end())
                expected.push_back(p.net);
        // The first part with a reference answers for it: later units are skipped.
        const bool first = std::none_of(s.components.begin(), s.components.begin() + i,
                                        [&](const Component& o) { return o.reference == c.reference; });
        if (!first || c.reference.empty() || c.reference != trim(c.reference)) continue;
        EXPECT_EQ(resolveTarget(s, c.reference, nets, label), !expected.empty()) << c.reference;
        EXPECT_EQ(nets, expected) << c.reference;
    }
    EXPECT_EQ(listed, pairs);
    const std::vector<PowerRail> rails = powerRails(s);
    for (size_t i = 1; i < rails.size(); ++i) EXPECT_GE(rails[i - 1].pin_count, rails[i].pin_count);

    if (s.components.size() < 2) return;  // a found path is a chain of hops that never crosses a rail
    TraceOptions wide;
    wide.through_ics = true;
    TraceResult r = tracePath(s, s.components.front().reference, s.components.back().reference, wide);
    for (size_t i = 0; r.found && i < r.hops.size(); ++i) {
        const Component& c = s.components[r.hops[i].component];
        EXPECT_EQ(c.pins[r.hops[i].pin_in].net, r.nets[i]);
        EXPECT_EQ(c.pins[r.hops[i].pin_out].net, r.nets[i + 1]);
        EXPECT_TRUE(i == 0 || !s.nets[r.nets[i]].power);
    }
}

}  // namespace

TEST(QueryDesigns, InvariantsOnEveryRealDesign) {
    int opened = 0;
    for (const fs::path& base :
         {fs::path("/usr/share/kicad/demos"), fs::path(NETLOOM_SOURCE_DIR) / "../shared/corpus/kicad"}) {
        std::error_code ec;
        if (!fs::is_directory(base, ec)) continue;
        for (auto it = fs::recursive_directory_iterator(base, ec); !ec && it != fs::recursive_directory_iterator();
             it.increment(ec)) {
            // A root schematic shares its stem with the board or project file beside it.
            fs::path root = it->path();
            if (root.extension() != ".kicad_pcb" && root.extension() != ".kicad_pro") continue;
            if (!fs::exists(root.replace_extension(".kicad_sch"))) continue;
            SCOPED_TRACE(root.string());
            std::string error;
            std::shared_ptr<Schematic> s = openSchematicFile(root.string(), &error);
            ASSERT_TRUE(s) << error;
            checkDesign(*s);
            ++opened;
        }
    }
    if (opened == 0) GTEST_SKIP() << "no KiCad demos or corpus designs installed";
}

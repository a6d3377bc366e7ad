// The design questions on every real KiCad design at hand (the installed
// demos and the shared corpus): invariants that must hold on any design.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "analysis/lookup.h"
#include "analysis/trace.h"
#include "base/text.h"
#include "open/schematic_open.h"

using namespace nl;
namespace fs = std::filesystem;

namespace {

void checkDesign(const Schematic& s) {
    for (const Net& n : s.nets) {
        if (n.name.empty() || n.name != trim(n.name)) continue;  // every net traces to itself in one net
        EXPECT_EQ(tracePath(s, "net:" + n.name, "net:" + n.name, {}).text,
                  "Path from net " + n.name + " to net " + n.name + ": 1 net(s), 0 component hop(s)");
    }
    for (int i = 0; i < static_cast<int>(s.components.size()); ++i) {
        const Component& c = s.components[i];
        std::vector<int> nets, expected;
        std::string label;
        for (const Pin& p : c.pins)
            if (p.net >= 0 && std::find(expected.begin(), expected.end(), p.net) == expected.end())
                expected.push_back(p.net);
        // The first part with a reference answers for it: later units are skipped.
        if (c.reference.empty() || c.reference != trim(c.reference) ||
            std::any_of(s.components.begin(), s.components.begin() + i,
                        [&](const Component& o) { return o.reference == c.reference; }))
            continue;
        EXPECT_EQ(resolveTarget(s, c.reference, nets, label), !expected.empty()) << c.reference;
        EXPECT_EQ(nets, expected) << c.reference;
    }
    if (s.components.size() < 2) return;  // a found path is a chain of hops that never crosses a rail
    TraceResult r = tracePath(s, s.components.front().reference, s.components.back().reference, {.through_ics = true});
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

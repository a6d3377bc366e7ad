// The design questions on every real KiCad design at hand (the installed
// demos and the shared corpus): invariants that must hold on any design.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "lookup.h"
#include "overview.h"
#include "schematic_open.h"
#include "text.h"
#include "trace.h"

using namespace nl;
namespace fs = std::filesystem;

namespace {

// A root schematic shares its stem with the project or board file beside it.
std::vector<std::string> rootSchematics() {
    std::vector<std::string> roots;
    for (const fs::path& base :
         {fs::path("/usr/share/kicad/demos"), fs::path(NETLOOM_SOURCE_DIR) / "../shared/corpus/kicad"}) {
        std::error_code ec;
        if (!fs::is_directory(base, ec)) continue;
        for (auto it = fs::recursive_directory_iterator(base, ec); !ec && it != fs::recursive_directory_iterator();
             it.increment(ec)) {
            const fs::path& p = it->path();
            if (p.extension() != ".kicad_pro" && p.extension() != ".kicad_pcb") continue;
            fs::path sch = p;
            sch.replace_extension(".kicad_sch");
            if (fs::exists(sch) && std::find(roots.begin(), roots.end(), sch.string()) == roots.end())
                roots.push_back(sch.string());
        }
    }
    std::sort(roots.begin(), roots.end());
    return roots;
}

void checkDesign(const Schematic& s) {
    const std::string summary = schematicSummary(s, 40);
    EXPECT_EQ(summary.rfind("Schematic: ", 0), 0u);
    EXPECT_EQ(summary.back(), '\n');

    // Every net traces to itself in one net; describing it never breaks.
    for (int i = 0; i < static_cast<int>(s.nets.size()); ++i) {
        const Net& n = s.nets[i];
        EXPECT_EQ(describeNet(s, i, "verbose").rfind("Net " + n.name + (n.power ? "  [POWER]" : ""), 0), 0u);
        if (n.name.empty() || n.name != trim(n.name)) continue;
        TraceResult r = tracePath(s, "net:" + n.name, "net:" + n.name, {});
        EXPECT_TRUE(r.found) << n.name << ": " << r.text;
        EXPECT_EQ(r.nets.size(), 1u) << n.name;
        EXPECT_EQ(r.text, "Path from net " + n.name + " to net " + n.name + ": 1 net(s), 0 component hop(s)");
    }

    // A component resolves to the distinct nets of its pins, or to the no-pins message.
    std::set<std::string> seenRefs;
    for (int i = 0; i < static_cast<int>(s.components.size()); ++i) {
        const Component& c = s.components[i];
        EXPECT_EQ(describeComponent(s, i, "verbose").rfind(c.reference + "  ", 0), 0u);
        if (c.reference.empty() || c.reference != trim(c.reference) || !seenRefs.insert(c.reference).second) continue;
        std::vector<int> nets, expected;
        std::string label, error;
        for (const Pin& p : c.pins)
            if (p.net >= 0 && std::find(expected.begin(), expected.end(), p.net) == expected.end())
                expected.push_back(p.net);
        const bool ok = resolveTarget(s, c.reference, nets, label, &error);
        EXPECT_EQ(ok, !expected.empty()) << c.reference << ": " << error;
        if (ok) {
            EXPECT_EQ(nets, expected) << c.reference;
        }
    }

    // Neighbour lists pair every pin with every other component's pin on its net.
    size_t pairs = 0, listed = 0;
    for (const Net& n : s.nets)
        for (const auto& a : n.pins)
            for (const auto& b : n.pins) pairs += a.first != b.first;
    for (int i = 0; i < static_cast<int>(s.components.size()); ++i) listed += componentNeighbours(s, i).size();
    EXPECT_EQ(listed, pairs);

    const std::vector<PowerRail> rails = powerRails(s);
    for (size_t i = 1; i < rails.size(); ++i) EXPECT_GE(rails[i - 1].pin_count, rails[i].pin_count);
    for (const PowerRail& r : rails)
        for (const auto& [c, p] : r.sources) EXPECT_EQ(s.components[c].pins[p].net, r.net);

    // A trace from the first part to the last, when found, is a consistent chain.
    if (s.components.size() < 2) return;
    TraceOptions wide;
    wide.through_ics = true;
    TraceResult r = tracePath(s, s.components.front().reference, s.components.back().reference, wide);
    if (!r.found) return;
    ASSERT_EQ(r.hops.size() + 1, r.nets.size());
    for (size_t i = 0; i < r.hops.size(); ++i) {
        const Component& c = s.components[r.hops[i].component];
        EXPECT_EQ(c.pins[r.hops[i].pin_in].net, r.nets[i]);
        EXPECT_EQ(c.pins[r.hops[i].pin_out].net, r.nets[i + 1]);
        if (i > 0) {
            EXPECT_FALSE(s.nets[r.nets[i]].power) << "path runs through a rail";
        }
    }
    EXPECT_LE(static_cast<int>(r.hops.size()), wide.max_depth);
}

}  // namespace

TEST(QueryDesigns, InvariantsOnEveryRealDesign) {
    const std::vector<std::string> roots = rootSchematics();
    if (roots.empty()) GTEST_SKIP() << "no KiCad demos or corpus designs installed";
    for (const std::string& path : roots) {
        SCOPED_TRACE(path);
        std::string error;
        std::shared_ptr<Schematic> s = openSchematicFile(path, &error);
        ASSERT_TRUE(s) << error;
        checkDesign(*s);
    }
}

#include <gtest/gtest.h>

#include <functional>
#include <sstream>

#include "analysis/design_diff.h"
#include "fixtures/query_fixture.h"

using namespace nl;
using nltest::DesignBuilder;

namespace {

// Single-pin parts R<n> whose pin 1 lies on the net named for it ("" = unconnected).
void singles(DesignBuilder& d, const std::vector<std::pair<std::string, std::string>>& parts) {
    for (const auto& [ref, net] : parts) d.part(ref, "", {{"1"}}, {net});
}

// The lines of the "Nets:" section, without the count line.
std::string netLines(const Schematic& before, const Schematic& after) {
    std::istringstream text(diffText(diffDesigns(before, after)));
    std::string line, lines;
    bool in = false;
    while (std::getline(text, line)) {
        if (line.empty()) break;
        if (in) lines += line + "\n";
        in = in || line == "Nets:";
    }
    return lines;
}

}  // namespace

TEST(DesignDiff, PartsByReferenceLeavingOutPowerSymbolsAndLaterUnits) {
    DesignBuilder a, b;
    a.part("R1", "10k", {{"1"}}, {}, "Device:R");
    a.part("C1", "1u", {{"1"}});
    a.power("#PWR01", "VCC");
    for (int unit : {1, 2}) a.s.components[a.part("U1", "LM358", {{"1"}})].unit = unit;
    b.part("R1", "22k", {{"1"}}, {}, "Device:R_Small");
    b.s.components.back().footprint = "R_0603";
    b.part("C2", "100n", {{"1"}});
    b.power("#PWR07", "VCC");
    // Only the first unit describes the part, wherever it is stored.
    for (int unit : {2, 1}) b.s.components[b.part("U1", unit == 1 ? "LM358" : "other", {{"1"}})].unit = unit;
    EXPECT_EQ(diffText(diffDesigns(a.s, b.s)),
              "Components:\n"
              "  added    C2  100n\n"
              "  removed  C1  1u\n"
              "  changed  R1  value \"10k\" -> \"22k\"; footprint \"\" -> \"R_0603\"; library symbol \"Device:R\" -> "
              "\"Device:R_Small\"\n"
              "\nComponents: 1 added, 1 removed, 1 changed. Nets: 0 renamed, 0 changed, 0 split, 0 merged, 0 added, "
              "0 removed.\n");

    // Across formats only values compare; a reference used twice is said, not hidden.
    b.s.format = "eagle";
    a.part("R1", "10k", {{"1"}});
    const DesignDiff d = diffDesigns(a.s, b.s);
    ASSERT_EQ(d.changed_parts.size(), 1u);
    EXPECT_EQ(d.changed_parts[0].fields.size(), 1u);
    EXPECT_EQ(d.notes, (std::vector<std::string>{
                           "The designs are in different formats (kicad and eagle): library symbols and footprints "
                           "are not compared.",
                           "The old design uses R1 for more than one part; each reference is compared as one part."}));
}

TEST(DesignDiff, NetChangesMatchedByPins) {
    struct Case {
        const char* what;
        std::function<void(DesignBuilder&)> before, after;
        std::string lines;
    };
    const Case cases[] = {
        {"a pin joins from no net, another leaves for none",
         [](DesignBuilder& d) {
             singles(d, {{"R1", "SIG"}, {"R2", "SIG"}, {"R3", "SIG"}, {"C1", ""}});
         },
         [](DesignBuilder& d) {
             singles(d, {{"R1", "SIG"}, {"R2", "SIG"}, {"R3", ""}, {"C1", "SIG"}});
         },
         "  changed  SIG  joined C1.1  left R3.1\n"},
        {"removed parts: a net of only their pins is removed, their pins stay out of other lists",
         [](DesignBuilder& d) {
             d.part("R9", "", {{"1"}, {"2"}}, {"LOOP", "LOOP"});
             singles(d, {{"R8", "SIG"}, {"R1", "SIG"}, {"R2", "SIG"}});
         },
         [](DesignBuilder& d) {
             singles(d, {{"R1", "SIG"}, {"R2", "SIG"}});
         },
         "  removed  LOOP  R9.1 R9.2\n"},
        {"cutting a two-pin net removes it, wiring two loose pins adds one",
         [](DesignBuilder& d) { d.twoPin("R1", "", "A", ""), d.twoPin("R2", "", "A", ""); },
         [](DesignBuilder& d) { d.twoPin("R1", "", "", "B"), d.twoPin("R2", "", "", "B"); },
         "  added    B  R1.2 R2.2\n  removed  A  R1.1 R2.1\n"},
        {"a split, with a pin joining one part and another leaving",
         [](DesignBuilder& d) {
             singles(d, {{"R1", "X"}, {"R2", "X"}, {"R3", "X"}, {"R4", "X"}, {"R5", "X"}, {"R6", ""}});
         },
         [](DesignBuilder& d) {
             singles(d, {{"R1", "X"}, {"R2", "X"}, {"R3", "Y"}, {"R4", "Y"}, {"R5", ""}, {"R6", "X"}});
         },
         "  split    X  left R5.1\n"
         "             -> X  R1.1 R2.1  joined R6.1\n"
         "             -> Y  R3.1 R4.1\n"},
        {"a merge, with a pin joining it and one leaving a source",
         [](DesignBuilder& d) {
             singles(d, {{"R1", "P"}, {"R2", "P"}, {"R3", "Q"}, {"R4", "Q"}, {"R5", ""}, {"R6", "Q"}});
         },
         [](DesignBuilder& d) {
             singles(d, {{"R1", "PQ"}, {"R2", "PQ"}, {"R3", "PQ"}, {"R4", "PQ"}, {"R5", "PQ"}, {"R6", ""}});
         },
         "  merged   PQ  joined R5.1\n"
         "             <- P  R1.1 R2.1\n"
         "             <- Q  R3.1 R4.1  left R6.1\n"},
        {"swapping two connections splits both old nets and merges both new ones",
         [](DesignBuilder& d) {
             d.twoPin("J1", "", "A", "B");
             d.part("U1", "", {{"4"}, {"5"}, {"9"}}, {"B", "B", "A"});
         },
         [](DesignBuilder& d) {
             d.twoPin("J1", "", "A", "B");
             d.part("U1", "", {{"4"}, {"5"}, {"9"}}, {"A", "A", "B"});
         },
         "  split    A\n"
         "             -> A  J1.1\n"
         "             -> B  U1.9\n"
         "  split    B\n"
         "             -> A  U1.4 U1.5\n"
         "             -> B  J1.2\n"
         "  merged   A\n"
         "             <- A  J1.1\n"
         "             <- B  U1.4 U1.5\n"
         "  merged   B\n"
         "             <- A  U1.9\n"
         "             <- B  J1.2\n"},
        {"a part put in series splits the net it cuts",
         [](DesignBuilder& d) {
             singles(d, {{"R1", "X"}, {"R2", "X"}});
         },
         [](DesignBuilder& d) {
             singles(d, {{"R1", "X"}, {"R2", "Y"}});
             d.twoPin("R9", "", "X", "Y");
         },
         "  split    X\n             -> X  R1.1\n             -> Y  R2.1\n"},
        {"renamed: a relabelled net, a power rail, an automatic name given a label; not a renumbered one",
         [](DesignBuilder& d) {
             d.twoPin("R1", "", "SIG", "Net-(R1-Pad2)"), d.twoPin("R2", "", "SIG", "Net-(R1-Pad2)");
             d.twoPin("R3", "", "+5V", "Net-(R3-Pad2)"), d.twoPin("R4", "", "+5V", "Net-(R3-Pad2)");
             d.power("#PWR01", "+5V");
         },
         [](DesignBuilder& d) {
             d.twoPin("R1", "", "DATA", "Net-(R2-Pad2)"), d.twoPin("R2", "", "DATA", "Net-(R2-Pad2)");
             d.twoPin("R3", "", "+5V_SYS", "CLK"), d.twoPin("R4", "", "+5V_SYS", "CLK");
             d.power("#PWR02", "+5V_SYS");
         },
         "  renamed  +5V -> +5V_SYS\n  renamed  Net-(R3-Pad2) -> CLK\n  renamed  SIG -> DATA\n"},
        {"a pin repeated on the units of one part is one pad: its nets are one",
         [](DesignBuilder& d) {
             singles(d, {{"R1", "VCC"}, {"R2", "A"}});
             d.part("U1", "", {{"1"}, {"8"}}, {"A", "VCC"});
             d.s.components[d.part("U1", "", {{"7"}, {"8"}}, {"A", "Net-(U1-Pad8)"})].unit = 2;
         },
         [](DesignBuilder& d) {
             singles(d, {{"R1", "VCC"}, {"R2", "A"}});
             d.part("U1", "", {{"1"}, {"8"}}, {"A", ""});
             d.s.components[d.part("U1", "", {{"7"}, {"8"}}, {"A", "VCC"})].unit = 2;
         },
         ""},
    };
    for (const Case& c : cases) {
        DesignBuilder a, b;
        c.before(a);
        c.after(b);
        EXPECT_EQ(netLines(a.s, b.s), c.lines) << c.what;
        // Both directions hold the same differences, seen the other way round.
        const DesignDiff forward = diffDesigns(a.s, b.s), back = diffDesigns(b.s, a.s);
        EXPECT_EQ(forward.split.size(), back.merged.size()) << c.what;
        EXPECT_EQ(forward.added_nets.size(), back.removed_nets.size()) << c.what;
        EXPECT_EQ(forward.changed.size() + forward.renamed.size(), back.changed.size() + back.renamed.size()) << c.what;
        EXPECT_TRUE(diffDesigns(b.s, b.s).identical()) << c.what;
    }
}

TEST(DesignDiff, JsonHoldsTheSameContent) {
    DesignBuilder a, b;
    a.twoPin("J1", "1k", "A", "B"), a.part("U1", "", {{"4"}, {"9"}}, {"B", "A"});
    b.twoPin("J1", "2k", "A", "B"), b.part("U1", "", {{"4"}, {"9"}}, {"A", "B"});
    const nlohmann::json j = diffToJson(diffDesigns(a.s, b.s));
    EXPECT_EQ(j["identical"], false);
    EXPECT_EQ(j["counts"]["nets"]["split"], 2);
    EXPECT_EQ(j["counts"]["nets"]["renamed"], 0);
    EXPECT_EQ(j["components"]["changed"][0],
              nlohmann::json::parse(R"({"changes":{"value":{"new":"2k","old":"1k"}},"ref":"J1"})"));
    EXPECT_EQ(j["nets"]["merged"][1], nlohmann::json::parse(R"({"from":[
        {"left":[],"name":"A","pins":[{"pin":"9","ref":"U1"}]},
        {"left":[],"name":"B","pins":[{"pin":"2","ref":"J1"}]}],"joined":[],"name":"B"})"));
    const nlohmann::json same = diffToJson(diffDesigns(a.s, a.s));
    EXPECT_EQ(same["identical"], true);
    EXPECT_EQ(same["nets"]["changed"], nlohmann::json::array());
}

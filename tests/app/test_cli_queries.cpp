// The design questions on the command line, as whole texts on the built-in demo.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>

#include "fixtures/run_netloom.h"
#include "formats/sample_design.h"

TEST(QueryCommands, WholeOutputsAndStatuses) {
    struct Case {
        std::vector<std::string> args;
        int status;
        std::string out;  // "@name" reads tests/golden/name
        std::string err;
    };
    const std::string neither = "' is neither a component, a pin (REF.PIN) nor a net name\n";
    const Case cases[] = {
        {{"--summary", "sample"}, 0, "@summary_sample.txt", ""},
        {{"--summary", "--sample"}, 0, "@summary_sample.txt", ""},
        {{"--summary", "/nonexistent/x.kicad_sch"},
         1,
         "",
         "Error: Cannot read file: /nonexistent/x.kicad_sch (No such file or directory)\n"},
        {{"--component", "sample", "R1"}, 0, "@component_sample_R1.txt", ""},
        {{"--component", "sample", "u1"}, 0, "@component_sample_U1.txt", ""},
        {{"--component", "sample", "#pwr01"}, 0, "@component_sample_PWR01.txt", ""},
        {{"--component", "sample", "R1.1"}, 1, "", "Error: No component 'R1.1'\n"},
        {{"--net", "sample", "GND"}, 0, "@net_sample_GND.txt", ""},
        {{"--net", "sample", "U1"}, 0, "@net_sample_U1.txt", ""},
        {{"--net", "sample", "net:gnd"}, 1, "", "Error: net 'gnd' not found\n"},
        {{"--net", "sample", "R1.3"}, 1, "", "Error: R1 has no pin '3'\n"},
        {{"--trace", "sample", "U1.2", "U1.7"}, 0, "@trace_sample_U1.2_U1.7.txt", ""},
        {{"--trace", "sample", "R3", "GND"}, 0, "@trace_sample_R3_GND.txt", ""},
        {{"--trace", "sample", "R1", "C1"}, 0, "@trace_sample_R1_C1.txt", ""},
        // Only through GND or the NE555: neither is passable.
        {{"--trace", "sample", "C2.1", "R3.1"},
         1,
         "No path from C2.1 to R3.1 through passive components (max depth 14)\n",
         ""},
        // An end that names nothing is a mistake in the command, told apart from "no path".
        {{"--trace", "sample", "C2", "X9"}, 1, "", "Error: 'X9" + neither},
        {{"--trace", "sample", "Q7", "C2"}, 1, "", "Error: 'Q7" + neither},
    };
    for (const Case& c : cases) {
        const auto r = nltest::runNetloom(c.args);
        const std::string golden = std::string(NETLOOM_SOURCE_DIR) + "/tests/golden/";
        const std::string expected = c.out.starts_with("@") ? nltest::slurp(golden + c.out.substr(1)) : c.out;
        EXPECT_EQ(r.status, c.status) << c.args[0] << " " << c.args.back();
        EXPECT_EQ(r.out, expected) << c.args[0] << " " << c.args.back();
        EXPECT_EQ(r.err, c.err) << c.args[0] << " " << c.args.back();
    }
}

// The demo against an edited copy of itself: a value and a power rail's name
// changed; exit statuses as diff's.
TEST(QueryCommands, DiffReportsAndStatuses) {
    std::string text(nl::sampleSchematicText());
    auto replace = [&](const std::string& from, const std::string& to) {
        for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
            text.replace(at, from.size(), to);
    };
    replace("(property \"Value\" \"4.7k\"", "(property \"Value\" \"5.6k\"");
    replace("(property \"Value\" \"VCC\" (at ", "(property \"Value\" \"+5V\" (at ");
    const std::string edited = testing::TempDir() + "netloom_diff_edited.kicad_sch";
    std::ofstream(edited, std::ios::binary) << text;
    const std::string missing = "Error: Cannot read file: /nonexistent/x.kicad_sch (No such file or directory)\n";

    auto r = nltest::runNetloom({"--diff", "sample", edited});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out,
              "Components:\n"
              "  changed  R2  value \"4.7k\" -> \"5.6k\"\n"
              "Nets:\n"
              "  renamed  VCC -> +5V\n"
              "\nComponents: 0 added, 0 removed, 1 changed. Nets: 1 renamed, 0 changed, 0 split, 0 merged, 0 added, "
              "0 removed.\n");
    r = nltest::runNetloom({"--diff-json", "sample", edited});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("\n  \"identical\": false,\n"), std::string::npos) << r.out;
    for (const char* option : {"--diff", "--diff-json"}) {
        r = nltest::runNetloom({option, "--sample", "sample"});
        EXPECT_EQ(r.status, 0) << option;
        r = nltest::runNetloom({option, "sample", "/nonexistent/x.kicad_sch"});
        EXPECT_EQ(r.status, 2) << option;
        EXPECT_EQ(r.out + r.err, missing) << option;
    }
    EXPECT_EQ(nltest::runNetloom({"--diff", "sample", "sample"}).out, "No electrical differences.\n");
    std::remove(edited.c_str());
}

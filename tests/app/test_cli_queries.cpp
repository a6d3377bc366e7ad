// The design questions on the command line, as whole texts on the built-in demo.
#include <gtest/gtest.h>

#include "fixtures/run_netloom.h"

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

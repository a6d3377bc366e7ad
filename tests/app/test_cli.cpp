#include <gtest/gtest.h>

#include "fixtures/run_netloom.h"

using nltest::runNetloom;

namespace {

std::string expectedUsage() {
    const std::string p = std::string("  ") + NETLOOM_BINARY;
    const std::string rule(56, '=');
    return rule + "\n  \n  Interactive Schematic Viewer with AI-Assisted Analysis\n" + rule + "\n\nUsage:\n" + p +
           " [file.kicad_sch]           Launch the GUI, optionally opening a file\n" + p +
           " --gui [file]                Same as above, explicit\n\nHeadless analysis (no GUI needed):\n" + p +
           " --summary <file>            Print a schematic overview\n" + p +
           " --list-components <file>    List every component\n" + p +
           " --component <file> <ref>    Show one component's pins and net connections\n" + p +
           " --list-nets <file>           List every net\n" + p +
           " --net <file> <name>          Show one net's connections\n" + p +
           " --trace <file> <from> <to>   Trace the path between two points\n" + p +
           " --erc <file>                 Run electrical rule checks\n" + p +
           " --bom <file>                 Print the bill of materials as CSV\n" + p +
           " --netlist <file>              Print a plain-text netlist\n" + p +
           " --json <file>                 Dump the full schematic as JSON\n" + p +
           " --svg <file> <out.svg>        Render a sheet to SVG\n" + p +
           " --png <file> <out.png>        Render a sheet to PNG\n" + p +
           " --pdf <file> <out.pdf>        Draw every sheet into a PDF, one page each\n" + p +
           " --ask <file> \"question\"       Ask the configured AI about the schematic\n" + p +
           " --diff <old> <new>            Show what changed electrically between two designs\n" + p +
           " --diff-json <old> <new>       The same comparison as JSON\n" + p +
           " --sample                      Use the built-in demo instead of a file\n\n"
           "Drawing options (after --svg, --png or --pdf):\n"
           "    --sheet <S>               One sheet: its index, name or path (\"/\", \"/sub/\")\n"
           "    --theme <name>            dark, light, blueprint or paper, for this run only\n"
           "    --frame                   Add the page border and title block\n"
           "    --width <W>               PNG width in pixels, 100 to 20000 (default 2000)\n"
           "  With a folder as <out>, --svg and --png write every sheet into it.\n\nSettings:\n" +
           p + " --settings                    Print all current settings\n" + p +
           " --set <key> <value>           Change one setting (e.g. ai.provider ollama)\n";
}

}  // namespace

TEST(CommandLine, HelpPrintsUsageAndSucceeds) {
    for (const char* opt : {"--help", "-h"}) {
        auto r = runNetloom({opt, "ignored", "extra"});
        EXPECT_EQ(r.status, 0) << opt;
        EXPECT_EQ(r.out, expectedUsage()) << opt;
        EXPECT_EQ(r.err, "");
    }
}

TEST(CommandLine, UnknownOrIncompleteOptionsPrintUsageAndFail) {
    const std::vector<std::vector<std::string>> cases = {
        {"--bogus"},
        {"--HELP"},
        {"-x", "file"},
        {"--summary"},
        {"--trace", "sample", "R1"},
        {"--component", "sample"},
        {"--svg", "sample"},
        {"--png", "sample"},
        {"--pdf"},
        {"--svg", "sample", "out.svg", "--sheet"},
        {"--png", "sample", "out.png", "--width"},
        {"--pdf", "sample", "out.pdf", "--shet", "1"},
        {"--svg", "sample", "out.svg", "--width", "300"},
        {"--set", "ai.provider"},
        {"--ask", "sample"},
        {"--diff", "sample"},
    };
    for (const auto& args : cases) {
        auto r = runNetloom(args);
        EXPECT_EQ(r.status, 1) << args[0];
        EXPECT_EQ(r.out, expectedUsage()) << args[0];
    }
}

TEST(CommandLine, ErcHonoursTheProjectFileBesideTheDesign) {
    // All rules on, less what the project ignores or excludes; the counts are of what is shown.
    auto r = runNetloom({"--erc", std::string(NETLOOM_SOURCE_DIR) + "/tests/fixtures/kicad/erc/erc_project.kicad_sch"});
    EXPECT_EQ(r.status, 1);  // the undriven power input is an error
    EXPECT_EQ(r.out.substr(r.out.find("\n\n")),
              "\n\n1 error(s), 1 warning(s), 2 total.\n"
              "3 issue(s) hidden by the project's ERC settings (erc_project.kicad_pro).\n");
    EXPECT_EQ(r.err, "");
}

#include <fcntl.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <tuple>

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

TEST(CommandLine, MissingOrExtraArgumentsSayWhich) {
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"--trace", "sample", "R1"}, "Error: --trace needs <file> <from> <to>\n"},
        {{"--summary"}, "Error: --summary needs <file>\n"},
        {{"--set", "theme"}, "Error: --set needs <key> <value>\n"},
        {{"--bom", "sample", "extra"}, "Error: --bom takes only <file>; unexpected 'extra'\n"},
        {{"--net", "sample", "GND", "VCC"}, "Error: --net takes only <file> <name>; unexpected 'VCC'\n"},
        {{"--settings", "x"}, "Error: --settings takes no arguments; unexpected 'x'\n"},
    };
    for (const auto& [args, message] : cases) {
        auto r = runNetloom(args);
        EXPECT_EQ(r.status, 1) << args[0];
        EXPECT_EQ(r.err, message);
        EXPECT_EQ(r.out, expectedUsage()) << args[0];
    }
}

namespace {

// Runs netloom with its standard output on `fd` (which the caller closes);
// returns the exit status, or -1 when a signal ended it, and its standard error.
std::pair<int, std::string> runWithOutput(const std::vector<std::string>& args, int fd) {
    char errName[] = "/tmp/netloom_err_XXXXXX";
    const int fe = mkstemp(errName);
    std::vector<std::string> all = {NETLOOM_BINARY};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : all) argv.push_back(a.data());
    argv.push_back(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(fd, 1);
        dup2(fe, 2);
        execv(argv[0], argv.data());
        _exit(127);
    }
    int raw = 0;
    waitpid(pid, &raw, 0);
    close(fe);
    std::string err = nltest::slurp(errName);
    std::remove(errName);
    return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, err};
}

}  // namespace

TEST(CommandLine, OutputThatCannotBeWrittenFails) {
    // A full disk: nothing is reported as written.
    const int full = open("/dev/full", O_WRONLY);
    ASSERT_GE(full, 0);
    auto [status, err] = runWithOutput({"--json", "sample"}, full);
    EXPECT_EQ(status, 1);
    EXPECT_EQ(err, "Error: cannot write standard output: No space left on device\n");
    close(full);
    auto svg = runNetloom({"--svg", "sample", "/dev/full"});
    EXPECT_EQ(svg.status, 1);
    EXPECT_EQ(svg.out, "");
    EXPECT_EQ(svg.err, "Error: cannot write /dev/full: No space left on device\n");

    // A reader that went away: an error and status 1, not a silent death by signal.
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    close(fds[0]);
    std::tie(status, err) = runWithOutput({"--netlist", "sample"}, fds[1]);
    close(fds[1]);
    EXPECT_EQ(status, 1);
    EXPECT_EQ(err, "Error: cannot write standard output: Broken pipe\n");

    // --svg never writes over the design it draws.
    char dir[] = "/tmp/netloom_cli_XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    const std::string root = std::string(dir) + "/reuse_root.kicad_sch",
                      child = std::string(dir) + "/reuse_child.kicad_sch";
    for (const char* name : {"reuse_root.kicad_sch", "reuse_child.kicad_sch"})
        std::filesystem::copy_file(std::string(NETLOOM_SOURCE_DIR) + "/tests/fixtures/kicad/" + name,
                                   std::string(dir) + "/" + name);
    const std::string before = nltest::slurp(child);
    for (const std::string& target : {root, child, std::string(dir) + "/./reuse_child.kicad_sch"}) {
        auto r = runNetloom({"--svg", root, target});
        EXPECT_EQ(r.status, 1) << target;
        EXPECT_NE(r.err.find("Error: cannot write " + target + ": it is a file of the design being drawn\n"),
                  std::string::npos)
            << r.err;
    }
    EXPECT_EQ(nltest::slurp(child), before);
    std::filesystem::remove_all(dir);
}

TEST(CommandLine, LoadWarningsGoToStandardErrorOfEveryCommand) {
    // The fixture names a sub-sheet file that does not exist.
    const std::string root = std::string(NETLOOM_SOURCE_DIR) + "/tests/fixtures/kicad/reuse_root.kicad_sch";
    const std::string warning = "Warning: Sheet file 'missing_child.kicad_sch' not found next to the root schematic\n";
    for (const char* option : {"--bom", "--list-nets", "--netlist", "--erc", "--json", "--list-components"}) {
        auto r = runNetloom({option, root});
        EXPECT_NE(r.err.find(warning), std::string::npos) << option << ": " << r.err;
        EXPECT_EQ(r.out.find("Warning"), std::string::npos) << option;
    }
}

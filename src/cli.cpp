#include "cli.h"

#include <cstdio>
#include <string>
#include <vector>

#include "erc.h"
#include "reports.h"
#include "schematic_open.h"

namespace nl {

namespace {

using Args = std::vector<std::string>;

void out(const std::string& s) { std::fwrite(s.data(), 1, s.size(), stdout); }
void err(const std::string& s) { std::fwrite(s.data(), 1, s.size(), stderr); }

int notImplemented() {
    err("Error: not implemented yet\n");
    return 1;
}

// Opens the file argument of a headless command; on failure reports it and yields null.
SchematicPtr openForCommand(const Args& args) {
    std::string error;
    SchematicPtr s = openInput(args[1], error);
    if (!s) err("Error: " + error + "\n");
    return s;
}

int listNets(const Args& args, const std::string&) {
    SchematicPtr s = openForCommand(args);
    if (!s) return 1;
    std::string text;
    text.reserve(s->nets.size() * 48);
    for (const Net& n : s->nets) {
        text += n.name;
        text += n.power ? "\tpower\t" : "\tsignal\t";
        text += std::to_string(n.pins.size());
        text += " pins\t";
        text += std::to_string(n.wires.size());
        text += " wires\n";
    }
    out(text);
    return 0;
}

int cmdErc(const Args& args) {
    SchematicPtr s = openForCommand(args);
    if (!s) return 1;
    const std::vector<ErcIssue> issues = runErc(*s, ErcOptions{});
    out(ercReportText(*s, issues));
    for (const ErcIssue& i : issues)
        if (i.severity == "error") return 1;
    return 0;
}

int cmdReport(const Args& args, std::string (*report)(const Schematic&)) {
    SchematicPtr s = openForCommand(args);
    if (!s) return 1;
    out(report(*s));
    return 0;
}

int cmdJson(const Args& args) {
    SchematicPtr s = openForCommand(args);
    if (!s) return 1;
    std::string text = schematicJsonText(*s, 2);
    text += '\n';
    out(text);
    return 0;
}

struct Command {
    const char* option;
    size_t min_count;  // the option itself included
    int (*run)(const Args& args, const std::string& program);
};

const Command kCommands[] = {
    {"--summary", 2, [](const Args&, const std::string&) { return notImplemented(); }},
    {"--list-components", 2, [](const Args&, const std::string&) { return notImplemented(); }},
    {"--component", 3, [](const Args&, const std::string&) { return notImplemented(); }},
    {"--list-nets", 2, listNets},
    {"--net", 3, [](const Args&, const std::string&) { return notImplemented(); }},
    {"--trace", 4, [](const Args&, const std::string&) { return notImplemented(); }},
    {"--erc", 2, [](const Args& a, const std::string&) { return cmdErc(a); }},
    {"--bom", 2, [](const Args& a, const std::string&) { return cmdReport(a, bomCsv); }},
    {"--netlist", 2, [](const Args& a, const std::string&) { return cmdReport(a, netlistText); }},
    {"--json", 2, [](const Args& a, const std::string&) { return cmdJson(a); }},
    {"--svg", 3, [](const Args&, const std::string&) { return notImplemented(); }},
    {"--ask", 3, [](const Args&, const std::string&) { return notImplemented(); }},
    {"--settings", 1, [](const Args&, const std::string&) { return notImplemented(); }},
    {"--set", 3, [](const Args&, const std::string&) { return notImplemented(); }},
};

}  // namespace

SchematicPtr openInput(const std::string& arg, std::string& error) {
    if (arg == "--sample" || arg == "sample") return loadSampleSchematic();
    return openSchematicFile(arg, &error);
}

void printUsage(const std::string& program) {
    const std::string rule(56, '=');
    const std::string p = "  " + program;
    std::string u;
    u += rule + "\n";
    u += "  \n";
    u += "  Interactive Schematic Viewer with AI-Assisted Analysis\n";
    u += rule + "\n";
    u += "\n";
    u += "Usage:\n";
    u += p + " [file.kicad_sch]           Launch the GUI, optionally opening a file\n";
    u += p + " --gui [file]                Same as above, explicit\n";
    u += "\n";
    u += "Headless analysis (no GUI needed):\n";
    u += p + " --summary <file>            Print a schematic overview\n";
    u += p + " --list-components <file>    List every component\n";
    u += p + " --component <file> <ref>    Show one component's pins and net connections\n";
    u += p + " --list-nets <file>           List every net\n";
    u += p + " --net <file> <name>          Show one net's connections\n";
    u += p + " --trace <file> <from> <to>   Trace the path between two points\n";
    u += p + " --erc <file>                 Run electrical rule checks\n";
    u += p + " --bom <file>                 Print the bill of materials as CSV\n";
    u += p + " --netlist <file>              Print a plain-text netlist\n";
    u += p + " --json <file>                 Dump the full schematic as JSON\n";
    u += p + " --svg <file> <out.svg>        Render a sheet to SVG\n";
    u += p + " --ask <file> \"question\"       Ask the configured AI about the schematic\n";
    u += p + " --sample                      Use the built-in demo instead of a file\n";
    u += "\n";
    u += "Settings:\n";
    u += p + " --settings                    Print all current settings\n";
    u += p + " --set <key> <value>           Change one setting (e.g. ai.provider ollama)\n";
    out(u);
    std::fflush(stdout);
}

int runMain(int argc, char** argv, const WindowStarter& startWindow) {
    const std::string program = argc > 0 && argv[0] ? argv[0] : "";
    Args args;
    for (int i = 1; i < argc; ++i) args.emplace_back(argv[i] ? argv[i] : "");

    if (args.empty() || args[0] == "--gui") return startWindow(argc, argv);
    if (args[0] == "--help" || args[0] == "-h") {
        printUsage(program);
        return 0;
    }
    if (args[0].empty() || args[0][0] != '-') return startWindow(argc, argv);
    for (const Command& c : kCommands)
        if (args[0] == c.option && args.size() >= c.min_count) {
            int status = c.run(args, program);
            std::fflush(stdout);
            return status;
        }
    if (args[0] == "--sample") return startWindow(argc, argv);
    printUsage(program);
    return 1;
}

}  // namespace nl

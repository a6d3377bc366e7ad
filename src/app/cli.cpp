#include "app/cli.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "analysis/design_diff.h"
#include "analysis/erc.h"
#include "analysis/lookup.h"
#include "analysis/overview.h"
#include "analysis/reports.h"
#include "analysis/trace.h"
#include "app/drawing_commands.h"
#include "assistant/ai_chat.h"
#include "base/json_util.h"
#include "base/std_output.h"
#include "base/text.h"
#include "open/schematic_open.h"
#include "settings/settings.h"

namespace nl {

namespace {

using Args = std::vector<std::string>;

// The first failure to write standard output (a full disk, a closed pipe);
// the command then ends with an error instead of reporting success.
int outputErrno = 0;

void out(const std::string& s) {
    if (!writeStd(StdStream::out, s) && !outputErrno) outputErrno = errno ? errno : EIO;
}
void err(const std::string& s) { writeStd(StdStream::err, s); }

void flushOut() {
    if (!flushStd(StdStream::out) && !outputErrno) outputErrno = errno ? errno : EIO;
}

// At most this many load warnings are printed; a damaged design can have thousands.
constexpr size_t kMaxWarningsShown = 100;

// Opens the file argument of a headless command; on failure reports it and
// yields null. The design's load warnings go to standard error, so that no
// command's result hides that something was left out.
// The last design opened is never freed: the system takes a process's memory
// back at once, while freeing a large design's millions of records one by one
// costs tens of milliseconds at exit.
SchematicPtr openForCommand(const std::string& file) {
    static SchematicPtr* const lastOpened = new SchematicPtr();
    std::string error;
    SchematicPtr s = openInput(file, error);
    if (!s) {
        err("Error: " + printableText(error) + "\n");  // it may quote the file
        return s;
    }
    std::string warnings;
    for (size_t i = 0; i < s->warnings.size() && i < kMaxWarningsShown; ++i)
        warnings += "Warning: " + printableText(s->warnings[i]) + "\n";
    if (s->warnings.size() > kMaxWarningsShown)
        warnings += "Warning: ... and " + std::to_string(s->warnings.size() - kMaxWarningsShown) + " more\n";
    err(warnings);
    *lastOpened = s;
    return s;
}
SchematicPtr openForCommand(const Args& args) { return openForCommand(args[1]); }

// Settings for a command that only reads them: a damaged file is reported
// once and the defaults are used.
Settings settingsForCommand() {
    std::string warning;
    Settings settings = settingsForReading(&warning);
    if (!warning.empty()) err(warning + "\n");
    return settings;
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

// Power symbols and the later units of multi-unit parts are left out.
int listComponents(const Args& args, const std::string&) {
    SchematicPtr s = openForCommand(args);
    if (!s) return 1;
    std::string text;
    for (const Component& c : s->components) {
        if (c.power_symbol || c.unit > 1) continue;
        text += c.reference + "\t" + c.value + "\t" + componentKind(c) + "\t" + c.footprint + "\n";
    }
    out(text);
    return 0;
}

int cmdSummary(const Args& args, const std::string&) {
    SchematicPtr s = openForCommand(args);
    if (!s) return 1;
    std::string text = schematicSummary(*s, 200);
    for (const std::string& w : s->warnings) text += "Warning: " + w + "\n";
    out(text);
    return 0;
}

int cmdComponent(const Args& args, const std::string&) {
    SchematicPtr s = openForCommand(args);
    if (!s) return 1;
    const std::string& ref = args[2];
    const int found = findComponent(*s, ref);
    if (found < 0) {
        err("Error: No component '" + ref + "'\n");
        return 1;
    }
    out(describeComponent(*s, found, "verbose"));
    return 0;
}

int cmdNet(const Args& args, const std::string&) {
    SchematicPtr s = openForCommand(args);
    if (!s) return 1;
    std::vector<int> nets;
    std::string label, error;
    if (!resolveTarget(*s, args[2], nets, label, &error)) {
        err("Error: " + error + "\n");
        return 1;
    }
    std::string text;
    for (int n : nets) text += describeNet(*s, n, "verbose") + "\n";
    out(text);
    return 0;
}

int cmdTrace(const Args& args, const std::string&) {
    SchematicPtr s = openForCommand(args);
    if (!s) return 1;
    // An end that names nothing is a mistake in the command, not a missing path.
    for (const std::string* end : {&args[2], &args[3]}) {
        std::vector<int> nets;
        std::string label, error;
        if (!resolveTarget(*s, *end, nets, label, &error)) {
            err("Error: " + error + "\n");
            return 1;
        }
    }
    // Fixed defaults: the command line never reads the settings file here.
    const TraceResult r = tracePath(*s, args[2], args[3], TraceOptions{});
    out(formatTrace(r, *s));
    return r.found ? 0 : 1;
}

int cmdErc(const Args& args) {
    SchematicPtr s = openForCommand(args);
    if (!s) return 1;
    const ErcReport report = runProjectErc(*s, ErcOptions{});
    out(ercReportText(*s, report));
    for (const ErcIssue& i : report.issues)
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

// --svg, --png and --pdf; malformed modifiers get the usage, as other mistakes do.
int cmdDrawing(const Args& args, const std::string& program) {
    DrawingRequest request;
    if (!parseDrawingRequest(args, request)) {
        printUsage(program);
        return 1;
    }
    return runDrawingRequest(
        request, [](const std::string& file) { return openForCommand(file); }, settingsForCommand);
}

// One question to the assistant; the answer and each tool call are printed as
// the events arrive, so a slow model still shows progress.
int cmdAsk(const std::string& file, const std::string& question, const std::string& program) {
    SchematicPtr schematic = openForCommand(file);
    if (!schematic) return 1;
    Settings settings = settingsForCommand();
    if (settings.ai.base_url.empty()) {
        err("No AI provider configured. Run: " + program + " --set ai.provider ollama\n");
        return 1;
    }
    ToolContext context;
    context.schematic = schematic;
    context.settings = &settings;
    context.onView = [](const ViewCommand& v) {
        std::string line = "  [view: " + v.action;
        for (int32_t net : v.nets) line += " net#" + std::to_string(net);
        out(line + "]\n");
        flushOut();
    };
    bool failed = false;
    std::vector<ChatMessage> conversation;
    AiChat(settings.ai, context).send(conversation, question, [&](const ChatEvent& e) {
        if (e.kind == "text") {
            out(e.text + "\n");
        } else if (e.kind == "tool_call") {
            out("  [calling " + e.tool + "(" + dumpJson(e.args) + ")]\n");
        } else if (e.kind == "error") {
            err("Error: " + e.text + "\n");
            failed = true;
        } else if (e.kind == "notice") {
            err("Warning: " + e.text + "\n");
        }
        flushOut();
    });
    return failed ? 1 : 0;
}

// Exit statuses as diff's: 0 identical, 1 different, 2 a design did not open.
// Both designs are kept to the end, as openForCommand keeps its one.
int cmdDiff(const Args& args, bool json) {
    static std::vector<SchematicPtr>* const kept = new std::vector<SchematicPtr>();
    for (size_t i = 1; i <= 2; ++i) {
        std::string error;
        kept->push_back(openInput(args[i], error));
        if (!kept->back()) {
            err("Error: " + error + "\n");
            return 2;
        }
    }
    const DesignDiff d = diffDesigns(*(*kept)[kept->size() - 2], *kept->back());
    out(json ? dumpJson(diffToJson(d), 2) + "\n" : diffText(d));
    return d.identical() ? 0 : 1;
}

// A command whose trailing modifiers it checks itself.
constexpr size_t kAnyCount = ~size_t(0);

struct Command {
    const char* option;
    const char* arguments;  // as the usage text shows them
    size_t min_count;       // the option itself included
    size_t max_count;
    int (*run)(const Args& args, const std::string& program);
};

int cmdSettings(const Args&, const std::string&) {
    const Settings settings = settingsForCommand();
    std::string text;
    for (const auto& [key, value] : settings.flat()) text += key + " = " + value + "\n";
    text += "\n(settings file: " + settingsPath() + ")\n";
    out(text);
    return 0;
}

// Changes one setting under the settings lock and shows what is stored now:
// the key's value and any other setting the change moved (a provider's URL).
int cmdSet(const Args& a, const std::string&) {
    std::vector<std::pair<std::string, std::string>> before, after;
    std::string error;
    const bool ok = updateSettings(
        [&](Settings& settings, std::string* e) {
            before = settings.flat();
            if (!settings.setValue(a[1], a[2], e)) return false;
            after = settings.flat();
            return true;
        },
        &error);
    if (!ok) {
        err("Error: " + error + "\n");
        return 1;
    }
    const std::string key = canonicalSettingKey(a[1]);
    std::string text;
    for (size_t i = 0; i < after.size(); ++i)
        if (after[i].first == key || (i < before.size() && after[i].second != before[i].second))
            text += after[i].first + " = " + after[i].second + "\n";
    out(text);
    return 0;
}

const Command kCommands[] = {
    {"--summary", "<file>", 2, 2, cmdSummary},
    {"--list-components", "<file>", 2, 2, listComponents},
    {"--component", "<file> <ref>", 3, 3, cmdComponent},
    {"--list-nets", "<file>", 2, 2, listNets},
    {"--net", "<file> <name>", 3, 3, cmdNet},
    {"--trace", "<file> <from> <to>", 4, 4, cmdTrace},
    {"--erc", "<file>", 2, 2, [](const Args& a, const std::string&) { return cmdErc(a); }},
    {"--bom", "<file>", 2, 2, [](const Args& a, const std::string&) { return cmdReport(a, bomCsv); }},
    {"--netlist", "<file>", 2, 2, [](const Args& a, const std::string&) { return cmdReport(a, netlistText); }},
    {"--json", "<file>", 2, 2, [](const Args& a, const std::string&) { return cmdJson(a); }},
    // The drawing modifiers are checked by the drawing commands themselves.
    {"--svg", "<file> <out.svg>", 3, kAnyCount, cmdDrawing},
    {"--png", "<file> <out.png>", 3, kAnyCount, cmdDrawing},
    {"--pdf", "<file> <out.pdf>", 3, kAnyCount, cmdDrawing},
    {"--ask", "<file> \"question\"", 3, 3,
     [](const Args& a, const std::string& program) { return cmdAsk(a[1], a[2], program); }},
    {"--diff", "<old> <new>", 3, 3, [](const Args& a, const std::string&) { return cmdDiff(a, false); }},
    {"--diff-json", "<old> <new>", 3, 3, [](const Args& a, const std::string&) { return cmdDiff(a, true); }},
    {"--settings", "", 1, 1, cmdSettings},
    {"--set", "<key> <value>", 3, 3, cmdSet},
};

// Runs a headless command whose arguments are complete; for a missing or
// surplus argument says which, then prints the usage. Returns -1 when the
// option is no headless command.
int runCommand(const Args& args, const std::string& program) {
    for (const Command& c : kCommands) {
        if (args[0] != c.option) continue;
        if (args.size() < c.min_count || args.size() > c.max_count) {
            const std::string takes = *c.arguments ? std::string(" ") + c.arguments : std::string();
            if (args.size() < c.min_count)
                err("Error: " + args[0] + " needs" + (takes.empty() ? " nothing more" : takes) + "\n");
            else
                err("Error: " + args[0] + " takes " + (takes.empty() ? "no arguments" : "only" + takes) +
                    "; unexpected '" + args[c.max_count] + "'\n");
            printUsage(program);
            return 1;
        }
        int status = c.run(args, program);
        flushOut();
        if (outputErrno) {
            err(std::string("Error: cannot write standard output: ") + std::strerror(outputErrno) + "\n");
            return 1;
        }
        return status;
    }
    return -1;
}

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
    u += p + " --png <file> <out.png>        Render a sheet to PNG\n";
    u += p + " --pdf <file> <out.pdf>        Draw every sheet into a PDF, one page each\n";
    u += p + " --ask <file> \"question\"       Ask the configured AI about the schematic\n";
    u += p + " --diff <old> <new>            Show what changed electrically between two designs\n";
    u += p + " --diff-json <old> <new>       The same comparison as JSON\n";
    u += p + " --sample                      Use the built-in demo instead of a file\n";
    u += "\n";
    u += "Drawing options (after --svg, --png or --pdf):\n";
    u += "    --sheet <S>               One sheet: its index, name or path (\"/\", \"/sub/\")\n";
    u += "    --theme <name>            dark, light, blueprint or paper, for this run only\n";
    u += "    --frame                   Add the page border and title block\n";
    u += "    --width <W>               PNG width in pixels, 100 to 20000 (default 2000)\n";
    u += "  With a folder as <out>, --svg and --png write every sheet into it.\n";
    u += "\n";
    u += "Settings:\n";
    u += p + " --settings                    Print all current settings\n";
    u += p + " --set <key> <value>           Change one setting (e.g. ai.provider ollama)\n";
    out(u);
    flushStd(StdStream::out);
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
#ifdef SIGPIPE
    // A reader that goes away (a pipe into head) is a write error to report,
    // not a reason to die without a word.
    std::signal(SIGPIPE, SIG_IGN);
#endif
    if (const int status = runCommand(args, program); status >= 0) return status;
    if (args[0] == "--sample") return startWindow(argc, argv);
    printUsage(program);
    return 1;
}

}  // namespace nl

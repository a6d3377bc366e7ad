// Electrical rule check: counting rules over the built nets and the drawing
// that point at likely design mistakes, in agreement with what KiCad's own
// check reports. Never changes the design.
#pragma once

#include <nlohmann/json.hpp>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "model/model.h"

namespace nl {

struct ErcIssue {
    std::string severity;  // "error", "warning" or "info"
    std::string code;
    std::string message;
    Point position;  // on `sheet`, millimetres
    int sheet = 0;
    int component = -1;
    int net = -1;
};

// Which checks run; each field is named as its key in the settings' erc section.
struct ErcOptions {
    bool unconnected = true;
    bool power = true;
    bool dangling = true;
    bool single_pin = true;
    bool names = true;
    bool outputs = true;
    bool duplicates = true;
    bool labels = true;
};

// One excluded report of a KiCad project, as KiCad 9 writes it:
// "rule|x|y|uuid1|uuid2|sheet path|path1|path2", x and y in 0.1 µm.
struct ErcExclusion {
    std::string rule;
    long long x = 0;
    long long y = 0;
    ItemId uuid1;
    ItemId uuid2;
    std::vector<std::string> paths;  // the non-empty ones of the three
};

// The rule settings of the KiCad project file beside a design's root.
struct ErcProject {
    std::string file;  // its name ("board.kicad_pro"); empty when there is none
    std::set<std::string, std::less<>> ignored_rules;
    std::vector<ErcExclusion> exclusions;  // only entries that name a sheet path
};

// What a front end shows: the issues left after the project's settings, and
// how many those settings hid.
struct ErcReport {
    std::vector<ErcIssue> issues;
    int hidden = 0;
    std::string project_file;  // ErcProject::file
};

// Errors first, then warnings, then info; production order within each.
// The schematic must have been through the net builder.
std::vector<ErcIssue> runErc(const Schematic& s, const ErcOptions& options);
// The same, less what the project's settings hide.
ErcReport runErc(const Schematic& s, const ErcOptions& options, const ErcProject& project);
// With the project file beside the design's root: what every front end calls.
ErcReport runProjectErc(const Schematic& s, const ErcOptions& options);

// The project file of a KiCad design: FILE.kicad_pro beside the root
// FILE.kicad_sch. A file that is missing, unreadable or not JSON counts as
// none; Eagle designs and the built-in demo have none.
ErcProject readErcProject(const Schematic& s);
// `text` is the project file's content, `file` its name.
ErcProject parseErcProject(const std::string& file, std::string_view text);

// One object per issue: "at_mm", "code", "message", "severity", "sheet".
nlohmann::json issuesToJson(const Schematic& s, const std::vector<ErcIssue>& issues);

// The command line's listing: one "[severity] CODE  message  (sheet NAME)" line
// per issue, an empty line, then the error/warning/total count line.
std::string ercReportText(const Schematic& s, const std::vector<ErcIssue>& issues);
// The same, followed by ercHiddenText's line when the project hid anything.
std::string ercReportText(const Schematic& s, const ErcReport& report);
// "N issue(s) hidden by the project's ERC settings (FILE.kicad_pro)." or empty
// when nothing was hidden.
std::string ercHiddenText(const ErcReport& report);

}  // namespace nl

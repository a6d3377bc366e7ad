// Electrical rule check: simple counting rules over the built nets that point
// at likely design mistakes. Never changes the design.
#pragma once

#include <nlohmann/json.hpp>
#include <string>
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

// Errors first, then warnings, then info; production order within each.
// The schematic must have been through the net builder.
std::vector<ErcIssue> runErc(const Schematic& s, const ErcOptions& options);

// One object per issue: "at_mm", "code", "message", "severity", "sheet".
nlohmann::json issuesToJson(const Schematic& s, const std::vector<ErcIssue>& issues);

// The command line's listing: one "[severity] CODE  message  (sheet NAME)" line
// per issue, an empty line, then the error/warning/total count line.
std::string ercReportText(const Schematic& s, const std::vector<ErcIssue>& issues);

}  // namespace nl

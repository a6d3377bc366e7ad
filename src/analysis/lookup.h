// Small read-only questions every front end asks of a loaded design: which
// net has this name, what does a user's target text name, what kind of part
// is this, and the detail texts of one component or one net.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "model/model.h"

namespace nl {

// The first net named exactly `name`, else the first with that alias, else -1.
int findNet(const Schematic& s, std::string_view name);

// The component with this reference: exact, else in any case, else as KiCad
// shows it (escapes resolved); -1 when none.
int findComponent(const Schematic& s, std::string_view ref);

// The reference up to its first decimal digit: R12 -> R, #PWR01 -> #PWR, U3A -> U.
std::string referencePrefix(const Component& c);

// A human kind such as "resistor", "voltage regulator" or "power symbol".
std::string componentKind(const Component& c);

// "Power input" for "power_in" and so on; unknown tokens come back unchanged.
const std::string& pinTypeLabel(const std::string& type);

// Turns "R1", "R1.2", "R1 pin VCC", "net:GND" or a bare net name into nets.
// Names typed with or without KiCad's escapes ("SDI/out0", "SDI{slash}out0")
// find the same net, pin or part.
// `nets` is cleared first; `label` names what was found. On failure returns
// false with the reason in *error (when given).
bool resolveTarget(const Schematic& s, const std::string& target, std::vector<int>& nets, std::string& label,
                   std::string* error = nullptr);

// Detail levels: "minimal", "verbose"; anything else is the standard level.
// The index must be valid.
std::string describeComponent(const Schematic& s, int component, const std::string& detail);
std::string describeNet(const Schematic& s, int net, const std::string& detail);

}  // namespace nl

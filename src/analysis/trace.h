// How one point of a design reaches another: a breadth-first walk from net to
// net through passable components (two-pin parts and passive prefixes).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "model/model.h"

namespace nl {

struct TraceOptions {
    // Parts with these reference prefixes (compared ignoring case) may be
    // passed through even with more than two pins.
    std::vector<std::string> passthrough_prefixes = {"R", "C", "L", "D", "F", "FB", "JP", "TP", "SW", "RN", "FL", "T"};
    bool through_ics = false;  // pass through any component
    int32_t max_depth = 14;    // most component hops in a path
};

// One step through one component: pin indices are within the component's pins.
struct TraceHop {
    int32_t pin_out = -1;  // on the later net of the path
    int32_t pin_in = -1;   // on the earlier net
    int32_t component = -1;
};

struct TraceResult {
    bool found = false;
    std::vector<int32_t> nets;   // from the first target's side to the second's
    std::vector<TraceHop> hops;  // hop i leads from nets[i] to nets[i+1]
    std::string text;            // one-line summary, or the failure message
};

// Never fails by exception: unresolvable targets and missing paths come back
// with found == false and the reason in text.
TraceResult tracePath(const Schematic& s, const std::string& from, const std::string& to, const TraceOptions& options);

// The result's text and then, for a found path, one line per net and per hop.
std::string formatTrace(const TraceResult& result, const Schematic& s);

}  // namespace nl

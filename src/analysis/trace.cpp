#include "analysis/trace.h"

#include <algorithm>
#include <deque>
#include <utility>

#include "analysis/lookup.h"
#include "base/text.h"

namespace nl {

namespace {

struct Step {
    int net = -1;  // the earlier net; -1 for a start net
    TraceHop hop;
};

}  // namespace

TraceResult tracePath(const Schematic& s, const std::string& from, const std::string& to, const TraceOptions& options) {
    TraceResult result;
    std::vector<int> starts, targets;
    std::string fromLabel, toLabel, error;
    if (!resolveTarget(s, from, starts, fromLabel, &error)) {
        result.text = "From: " + error;
        return result;
    }
    if (!resolveTarget(s, to, targets, toLabel, &error)) {
        result.text = "To: " + error;
        return result;
    }

    const size_t netCount = s.nets.size();
    std::vector<char> isTarget(netCount, 0), visited(netCount, 0);
    for (int t : targets) isTarget[t] = 1;
    std::vector<Step> pred(netCount);
    // Passability is a property of the component alone; decided once each.
    // A component is also expanded at most once: its first expansion queues
    // every net on its pins, so any later one would find them all visited.
    enum : char { Unknown = 0, Passable, Blocked, Expanded };
    std::vector<char> state(s.components.size(), Unknown);

    auto passable = [&](const Component& c) {
        if (c.pins.size() == 2) return true;
        const std::string prefix = referencePrefix(c);
        for (const std::string& p : options.passthrough_prefixes)
            if (equalsNoCase(prefix, p)) return true;
        return options.through_ics;
    };

    std::deque<std::pair<int, int>> queue;  // (net, depth)
    for (int n : starts) {
        if (visited[n]) continue;
        visited[n] = 1;
        queue.emplace_back(n, 0);
    }

    int reached = -1;
    while (!queue.empty()) {
        const auto [n, depth] = queue.front();
        queue.pop_front();
        if (isTarget[n]) {
            reached = n;
            break;
        }
        if (depth >= options.max_depth) continue;
        const Net& net = s.nets[n];
        if (net.power && depth >= 1) continue;  // paths never run through a rail
        for (const auto& [ci, pi] : net.pins) {
            if (ci < 0 || static_cast<size_t>(ci) >= s.components.size()) continue;
            const Component& c = s.components[ci];
            if (c.power_symbol) continue;
            char& st = state[ci];
            if (st == Unknown) st = passable(c) ? Passable : Blocked;
            if (st != Passable) continue;
            st = Expanded;
            for (int q = 0; q < static_cast<int>(c.pins.size()); ++q) {
                const int m = c.pins[q].net;
                if (q == pi || m < 0 || static_cast<size_t>(m) >= netCount || visited[m]) continue;
                visited[m] = 1;
                pred[m] = {n, TraceHop{q, pi, ci}};
                queue.emplace_back(m, depth + 1);
            }
        }
    }

    if (reached < 0) {
        result.text = "No path from " + fromLabel + " to " + toLabel + " through passive components (max depth " +
                      std::to_string(options.max_depth) + ")";
        return result;
    }
    for (int n = reached; n >= 0; n = pred[n].net) {
        result.nets.push_back(n);
        if (pred[n].net >= 0) result.hops.push_back(pred[n].hop);
    }
    std::reverse(result.nets.begin(), result.nets.end());
    std::reverse(result.hops.begin(), result.hops.end());
    result.found = true;
    result.text = "Path from " + fromLabel + " to " + toLabel + ": " + std::to_string(result.nets.size()) +
                  " net(s), " + std::to_string(result.hops.size()) + " component hop(s)";
    return result;
}

std::string formatTrace(const TraceResult& result, const Schematic& s) {
    std::string out = result.text + "\n";
    if (!result.found) return out;
    for (size_t i = 0; i < result.nets.size(); ++i) {
        const Net& net = s.nets[result.nets[i]];
        out +=
            "  [" + std::to_string(i + 1) + "] net " + net.name + " (" + std::to_string(net.pins.size()) + " pins)\n";
        if (i >= result.hops.size()) continue;
        const TraceHop& h = result.hops[i];
        const Component& c = s.components[h.component];
        out += "      -> through " + c.reference + " (" + c.value + ") pin " + c.pins[h.pin_in].number + " -> pin " +
               c.pins[h.pin_out].number + "\n";
    }
    return out;
}

}  // namespace nl

// Between the rule check and the project settings that hide its issues: each
// issue with the KiCad rules that report it and the items that KiCad's
// exclusions name.
#pragma once

#include <memory>
#include <vector>

#include "analysis/erc.h"

namespace nl {

struct ErcFinding {
    ErcIssue issue;
    std::vector<const char*> rules;  // hidden only when the project ignores all of them
    // The one item of a one-item issue (a pin, sheet pin, wire or label); empty otherwise.
    ItemId item_uuid;
    // Output conflicts: the pin uuids of each pin stack the issue counts.
    std::vector<std::vector<ItemId>> stacks;
};

// Every issue in production order, each reported once per sheet file where
// the drawing is what is wrong.
std::vector<ErcFinding> collectErcFindings(const Schematic& s, const ErcOptions& options);

// Decides which findings a project's settings hide.
class ErcProjectFilter {
public:
    ErcProjectFilter(const Schematic& s, const ErcProject& project);
    ~ErcProjectFilter();
    bool hides(const ErcFinding& finding) const;

private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace nl

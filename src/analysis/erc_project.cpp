// The rule settings a KiCad project keeps beside its root schematic: rules
// switched to "ignore", and single reports the designer has excluded.
#include <algorithm>
#include <cmath>
#include <map>
#include <nlohmann/json.hpp>
#include <set>

#include "analysis/erc.h"
#include "analysis/erc_internal.h"
#include "base/file_io.h"

namespace nl {

namespace {

// The settings sit three levels down (erc, erc_exclusions, one entry); deeper
// values are dropped while parsing, so a hostile file cannot build a value
// whose destruction or copy recurses without bound.
constexpr int kMaxDepth = 8;

long long toLongLong(std::string_view text, bool& ok) {
    long long v = 0;
    size_t i = 0;
    const bool negative = !text.empty() && text[0] == '-';
    if (negative) ++i;
    ok = i < text.size();
    for (; ok && i < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9' || v > 100000000000000LL) ok = false;
        v = v * 10 + (text[i] - '0');
    }
    return negative ? -v : v;
}

bool parseExclusion(std::string_view text, ErcExclusion& out) {
    std::vector<std::string_view> fields;
    for (size_t start = 0;;) {
        const size_t bar = text.find('|', start);
        fields.push_back(text.substr(start, bar == std::string_view::npos ? std::string_view::npos : bar - start));
        if (bar == std::string_view::npos) break;
        start = bar + 1;
    }
    // Entries without a sheet path (KiCad 6 to 8) are not matched reliably even by KiCad.
    if (fields.size() < 6 || fields[5].empty()) return false;
    bool okX = false, okY = false;
    out.rule = std::string(fields[0]);
    out.x = toLongLong(fields[1], okX);
    out.y = toLongLong(fields[2], okY);
    out.uuid1 = ItemId::parse(fields[3]);
    out.uuid2 = ItemId::parse(fields[4]);
    for (size_t i = 5; i < fields.size() && i < 8; ++i)
        if (!fields[i].empty()) out.paths.emplace_back(fields[i]);
    return okX && okY;
}

// Issues about one item, which KiCad's exclusions name by uuid and position.
bool isOneItemCode(const std::string& code) {
    static const std::set<std::string, std::less<>> kCodes = {
        "PIN_UNCONNECTED",  "NET_SINGLE_PIN", "POWER_SYMBOL_FLOATING", "POWER_NOT_DRIVEN",
        "INPUT_NOT_DRIVEN", "WIRE_DANGLING",  "LABEL_FLOATING",        "LABEL_SINGLE"};
    return kCodes.count(code) > 0;
}

long long internalUnits(double mm) {
    const double v = std::round(mm * 10000.0);
    return std::isfinite(v) && std::fabs(v) < 9e15 ? (long long)v : 0;
}

}  // namespace

ErcProject parseErcProject(const std::string& file, std::string_view text) {
    using nlohmann::json;
    ErcProject project;
    const json root = json::parse(
        text.begin(), text.end(), [](int depth, json::parse_event_t, json&) { return depth <= kMaxDepth; }, false);
    if (root.is_discarded()) return project;
    project.file = file;
    if (!root.is_object()) return project;
    const auto erc = root.find("erc");
    if (erc == root.end() || !erc->is_object()) return project;
    const auto severities = erc->find("rule_severities");
    if (severities != erc->end() && severities->is_object())
        for (const auto& [rule, severity] : severities->items())
            if (severity.is_string() && severity.get_ref<const std::string&>() == "ignore")
                project.ignored_rules.insert(rule);
    const auto exclusions = erc->find("erc_exclusions");
    if (exclusions != erc->end() && exclusions->is_array())
        for (const json& entry : *exclusions) {
            // KiCad 9 writes [text, comment]; earlier versions the text alone.
            const json* text = entry.is_string() ? &entry : nullptr;
            if (entry.is_array() && !entry.empty() && entry[0].is_string()) text = &entry[0];
            ErcExclusion e;
            if (text && parseExclusion(text->get_ref<const std::string&>(), e)) project.exclusions.push_back(e);
        }
    return project;
}

ErcProject readErcProject(const Schematic& s) {
    if (s.format != "kicad") return {};
    const size_t slash = s.path.find_last_of("/\\");
    const size_t dot = s.path.rfind('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return {};
    const std::string path = s.path.substr(0, dot) + ".kicad_pro";
    FileData data;
    if (!readWholeFile(path, data)) return {};
    return parseErcProject(path.substr(slash == std::string::npos ? 0 : slash + 1), data.bytes);
}

struct ErcProjectFilter::State {
    const ErcProject& project;
    std::vector<std::string> files;                            // per sheet
    std::map<std::string, std::set<std::string>> pathsByFile;  // instance paths of the sheets of each file
};

ErcProjectFilter::ErcProjectFilter(const Schematic& s, const ErcProject& project)
    : state_(std::make_unique<State>(State{project, {}, {}})) {
    if (project.exclusions.empty()) return;
    // A sheet's instance path: the root's uuid, then the uuid of each sheet
    // symbol on the way down. Parents are loaded before their children.
    std::vector<std::string> paths(s.sheets.size());
    std::vector<int> symbolOf(s.sheets.size(), -1);
    for (int i = 0; i < (int)s.sheet_symbols.size(); ++i) {
        const int child = s.sheet_symbols[i].child;
        if (child >= 0 && child < (int)s.sheets.size()) symbolOf[child] = i;
    }
    for (size_t i = 0; i < s.sheets.size(); ++i) {
        const int sym = symbolOf[i];
        const int parent = s.sheets[i].parent;
        if (i == 0 || sym < 0 || parent < 0 || parent >= (int)i)
            paths[i] = "/" + s.sheets[i].uuid;
        else
            paths[i] = paths[parent] + "/" + s.sheet_symbols[sym].uuid;
        state_->files.push_back(s.sheets[i].file);
        state_->pathsByFile[s.sheets[i].file].insert(paths[i]);
    }
}

ErcProjectFilter::~ErcProjectFilter() = default;

bool ErcProjectFilter::hides(const ErcFinding& f) const {
    const ErcProject& p = state_->project;
    if (!f.rules.empty() && std::all_of(f.rules.begin(), f.rules.end(),
                                        [&](const char* r) { return p.ignored_rules.count(std::string_view(r)) > 0; }))
        return true;
    if (p.exclusions.empty()) return false;
    auto namesRule = [&](const ErcExclusion& e) {
        return std::any_of(f.rules.begin(), f.rules.end(), [&](const char* r) { return e.rule == r; });
    };
    const ErcIssue& issue = f.issue;
    if (isOneItemCode(issue.code) && !f.item_uuid.empty()) {
        if (issue.sheet < 0 || issue.sheet >= (int)state_->files.size()) return false;
        const auto found = state_->pathsByFile.find(state_->files[issue.sheet]);
        if (found == state_->pathsByFile.end()) return false;
        const std::set<std::string>& paths = found->second;
        const long long x = internalUnits(issue.position.x), y = internalUnits(issue.position.y);
        for (const ErcExclusion& e : p.exclusions)
            if (namesRule(e) && e.x == x && e.y == y && e.uuid1 == f.item_uuid &&
                std::any_of(e.paths.begin(), e.paths.end(), [&](const std::string& q) { return paths.count(q); }))
                return true;
        return false;
    }
    if (f.stacks.empty()) return false;
    // A conflict is excluded when every stack of it is in some excluded pair of its pins.
    auto stackOf = [&](const ItemId& uuid) {
        for (size_t k = 0; k < f.stacks.size(); ++k)
            if (!uuid.empty() && std::find(f.stacks[k].begin(), f.stacks[k].end(), uuid) != f.stacks[k].end())
                return (int)k;
        return -1;
    };
    std::vector<char> covered(f.stacks.size(), 0);
    for (const ErcExclusion& e : p.exclusions) {
        if (!namesRule(e)) continue;
        const int a = stackOf(e.uuid1), b = stackOf(e.uuid2);
        if (a >= 0 && b >= 0) covered[a] = covered[b] = 1;
    }
    return std::all_of(covered.begin(), covered.end(), [](char c) { return c != 0; });
}

}  // namespace nl

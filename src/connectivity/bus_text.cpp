#include "connectivity/bus_text.h"

#include <cstdint>

namespace nl {

namespace {

// Decimal digits only, at most 18 significant digits so the value fits.
bool parseIndex(std::string_view s, uint64_t& out) {
    if (s.empty()) return false;
    out = 0;
    int significant = 0;
    for (char c : s) {
        if (c < '0' || c > '9') return false;
        if (out != 0 || c != '0') ++significant;
        if (significant > 18) return false;
        out = out * 10 + static_cast<uint64_t>(c - '0');
    }
    return true;
}

// The members of prefix[M..N], or false when the text is not such a range
// or the range is too long.
bool vectorMembers(std::string_view text, std::vector<std::string>& out) {
    if (text.empty() || text.back() != ']') return false;
    const size_t open = text.rfind('[');
    if (open == std::string_view::npos || open == 0) return false;
    const std::string_view prefix = text.substr(0, open);
    if (prefix.find(' ') != std::string_view::npos) return false;
    const std::string_view range = text.substr(open + 1, text.size() - open - 2);
    const size_t dots = range.find("..");
    if (dots == std::string_view::npos) return false;
    uint64_t from = 0, to = 0;
    if (!parseIndex(range.substr(0, dots), from) || !parseIndex(range.substr(dots + 2), to)) return false;
    const uint64_t span = from > to ? from - to : to - from;
    if (span >= kMaxBusMembers) return false;
    out.clear();
    out.reserve(span + 1);
    for (uint64_t k = from;; k = from > to ? k - 1 : k + 1) {
        out.push_back(std::string(prefix) + std::to_string(k));
        if (k == to) break;
    }
    return true;
}

// Local names contributed by one group piece or alias member text.
void addVectorOrSelf(std::string_view piece, std::vector<std::string>& locals, std::vector<std::string>& scratch) {
    if (vectorMembers(piece, scratch))
        locals.insert(locals.end(), scratch.begin(), scratch.end());
    else
        locals.emplace_back(piece);
}

const std::vector<std::string>* findAlias(const BusAliases& aliases, std::string_view name) {
    if (aliases.empty()) return nullptr;
    auto it = aliases.find(std::string(name));
    return it == aliases.end() ? nullptr : &it->second;
}

bool addAliasMembers(const std::vector<std::string>& alias, std::vector<std::string>& locals,
                     std::vector<std::string>& scratch) {
    for (const std::string& m : alias) {
        addVectorOrSelf(m, locals, scratch);
        if (locals.size() > kMaxBusMembers) return false;
    }
    return true;
}

std::optional<BusText> groupOf(std::string_view prefix, const std::vector<std::string>& locals) {
    if (locals.empty() || locals.size() > kMaxBusMembers) return std::nullopt;
    BusText bt;
    bt.shape = BusShape::Group;
    bt.members.reserve(locals.size());
    for (const std::string& l : locals) {
        std::string name = prefix.empty() ? l : std::string(prefix) + "." + l;
        bt.members.push_back({std::move(name), l});
    }
    return bt;
}

// Overbar, subscript and superscript markup (~{...}, _{...}, ^{...}) is part
// of a name: its braces neither open nor close a group.
bool opensMarkup(std::string_view text, size_t i) {
    return i + 1 < text.size() && text[i + 1] == '{' && (text[i] == '~' || text[i] == '_' || text[i] == '^');
}

// The brace that opens a group (the first one outside markup), or npos.
size_t groupBrace(std::string_view text) {
    int depth = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        if (opensMarkup(text, i)) {
            ++depth;
            ++i;
        } else if (text[i] == '{') {
            if (depth == 0) return i;
            ++depth;
        } else if (text[i] == '}' && depth > 0) {
            --depth;
        }
    }
    return std::string_view::npos;
}

// The member texts of the group whose brace is at `open`, split at blanks and
// commas outside markup; false unless the group's own closing brace ends the text.
bool groupPieces(std::string_view text, size_t open, std::vector<std::string_view>& pieces) {
    int depth = 0;
    size_t start = open + 1;
    for (size_t i = open + 1; i < text.size(); ++i) {
        const char c = text[i];
        if (opensMarkup(text, i)) {
            ++depth;
            ++i;
        } else if (depth > 0) {
            if (c == '{') ++depth;
            if (c == '}') --depth;
        } else if (c == '{') {
            return false;  // groups do not nest
        } else if (c == ' ' || c == ',' || c == '}') {
            if (i > start) pieces.push_back(text.substr(start, i - start));
            start = i + 1;
            if (c == '}') return i + 1 == text.size();
        }
    }
    return false;
}

}  // namespace

std::optional<BusText> parseBusText(std::string_view text, const BusAliases& aliases) {
    if (text.empty()) return std::nullopt;
    std::vector<std::string> scratch;

    if (text.back() == ']') {
        std::vector<std::string> names;
        if (vectorMembers(text, names)) {
            BusText bt;
            bt.members.reserve(names.size());
            for (std::string& n : names) bt.members.push_back({n, n});
            return bt;
        }
    }

    if (text.back() == '}') {
        const size_t open = groupBrace(text);
        std::vector<std::string_view> pieces;
        if (open != std::string_view::npos && text.substr(0, open).find(' ') == std::string_view::npos &&
            groupPieces(text, open, pieces)) {
            std::vector<std::string> locals;
            for (std::string_view piece : pieces) {
                if (vectorMembers(piece, scratch))
                    locals.insert(locals.end(), scratch.begin(), scratch.end());
                else if (const std::vector<std::string>* alias = findAlias(aliases, piece)) {
                    if (!addAliasMembers(*alias, locals, scratch)) return std::nullopt;
                } else
                    locals.emplace_back(piece);
                if (locals.size() > kMaxBusMembers) return std::nullopt;
            }
            return groupOf(text.substr(0, open), locals);
        }
    }

    if (const std::vector<std::string>* alias = findAlias(aliases, text)) {
        std::vector<std::string> locals;
        if (!addAliasMembers(*alias, locals, scratch)) return std::nullopt;
        return groupOf({}, locals);
    }
    return std::nullopt;
}

}  // namespace nl

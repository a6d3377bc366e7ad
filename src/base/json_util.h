// JSON text output shared by every writer (dump, tool results, request bodies,
// settings). Design texts are not guaranteed to be valid UTF-8, and a report
// must never abort over one bad byte.
#pragma once

#include <nlohmann/json.hpp>
#include <string>

namespace nl {

// Compact when indent < 0, else indented by `indent` blanks per level.
// Non-ASCII stays UTF-8; invalid UTF-8 sequences come out as U+FFFD.
std::string dumpJson(const nlohmann::json& value, int indent = -1);

// Appends what dumpJson writes, as if the value stood `depth` levels deep in
// an enclosing document (its inner lines indented accordingly). Lets large
// documents be written one element at a time.
void appendJson(std::string& out, const nlohmann::json& value, int indent, int depth);

}  // namespace nl

#include "base/json_util.h"

namespace nl {

std::string dumpJson(const nlohmann::json& value, int indent) {
    return value.dump(indent, ' ', false, nlohmann::json::error_handler_t::replace);
}

void appendJson(std::string& out, const nlohmann::json& value, int indent, int depth) {
    // The library's own serializer, which json::dump uses too, so the text is
    // byte for byte the same; only the starting indentation is ours.
    nlohmann::detail::serializer<nlohmann::json> writer(nlohmann::detail::output_adapter<char, std::string>(out), ' ',
                                                        nlohmann::json::error_handler_t::replace);
    const unsigned step = indent < 0 ? 0u : (unsigned)indent;
    writer.dump(value, indent >= 0, false, step, step * (unsigned)(depth < 0 ? 0 : depth));
}

}  // namespace nl

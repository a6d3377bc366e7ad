// Label texts that stand for several signals at once: vectors such as
// D[0..7], groups such as USB{DP DM} or {Main-BUS}, and bus alias names.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace nl {

enum class BusShape { Vector, Group };

struct BusMember {
    std::string name;   // the signal's net-wide name, e.g. USB.DP
    std::string local;  // the name it is matched by inside its group, e.g. DP
};

struct BusText {
    BusShape shape = BusShape::Vector;
    std::vector<BusMember> members;
};

// Bus alias name -> member texts, in file order (Schematic::bus_aliases).
using BusAliases = std::map<std::string, std::vector<std::string>>;

// At most this many members per text; longer ranges are ordinary labels.
inline constexpr size_t kMaxBusMembers = 1024;

// Nothing when the text is an ordinary label.
std::optional<BusText> parseBusText(std::string_view text, const BusAliases& aliases);

}  // namespace nl

// Small text helpers shared across the program. ASCII rules on UTF-8 bytes.
#pragma once

#include <string>
#include <string_view>

namespace nl {

std::string toLower(std::string_view s);
std::string trim(std::string_view s);
// Fixed decimals, then trailing zeros (and a bare ".") removed; "-0" prints as "0".
std::string formatNumber(double value, int decimals);
bool equalsNoCase(std::string_view a, std::string_view b);
bool containsNoCase(std::string_view text, std::string_view part);
// Negative, zero or positive as a sorts before, with or after b, comparing runs
// of digits as numbers ("R2" before "R10") and everything else byte-wise.
int compareNatural(std::string_view a, std::string_view b);

// Locale-independent string-to-double over the longest numeric prefix.
// Returns false when no number starts the text or it is out of range.
bool parseDouble(std::string_view text, double& out);

}  // namespace nl

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

// The text with every malformed UTF-8 sequence (and NUL) replaced by '?'.
// Cairo and PDF writers refuse a whole string over one bad byte.
std::string validUtf8(std::string_view s);

// Locale-independent string-to-double over the longest numeric prefix.
// Returns false when no number starts the text or it is out of range.
bool parseDouble(std::string_view text, double& out);

// The text KiCad shows for what its files store: the brace escapes ({slash},
// {dblquote}, {lt}, {return}, ...) become their characters. Braces that open
// markup or variables (after ~ _ ^ $), unknown names and unbalanced braces
// stay as written. Names keep the file's spelling; this is for drawing and for
// matching what a user typed.
std::string resolveKicadEscapes(std::string_view text);

// "line L, column C" of a byte offset, both counted from 1 (columns in bytes).
std::string lineAndColumn(std::string_view text, size_t offset);

// The length of the well-formed UTF-8 sequence at text[i] with its code point,
// or 0 when the bytes there are not one (overlong forms and surrogates included).
size_t decodeUtf8(std::string_view text, size_t i, char32_t& code);

// Text fit for a terminal or a window: every byte that does not begin a
// well-formed UTF-8 sequence becomes U+FFFD, and control characters and
// terminal escape sequences are removed. Line breaks and tabs stay.
std::string printableText(std::string_view text);

// At most about `max_bytes` of the text, cut at a character boundary, with
// "... (N bytes in all)" appended when it was cut.
std::string shortened(std::string_view text, size_t max_bytes);

}  // namespace nl

// UTF-8 inside the program, UTF-16 at every Win32 call.
#pragma once

#include <string>
#include <string_view>

namespace nl::win32 {

// Invalid UTF-8 becomes U+FFFD rather than failing: a damaged name is still shown.
std::wstring widen(std::string_view utf8);
// Unpaired surrogates become U+FFFD.
std::string narrow(std::wstring_view utf16);

// The value of an environment variable as UTF-8; empty when it is not set.
std::string environmentText(const wchar_t* name);

}  // namespace nl::win32

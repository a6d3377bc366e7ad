// The built-in demo, a 555 LED blinker, as the text of a KiCad sheet file.
#pragma once

#include <string_view>

namespace nl {

// The demo's KiCad text, byte for byte as it is loaded.
std::string_view sampleSchematicText();

}  // namespace nl

// Eagle XML schematics (.sch): parts, sheets and their explicit nets.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "model.h"

namespace nl {

std::shared_ptr<Schematic> loadEagleSchematic(std::string_view text, const std::string& path, std::string* error);

}  // namespace nl

#include "eagle_loader.h"

namespace nl {

std::shared_ptr<Schematic> loadEagleSchematic(std::string_view, const std::string&, std::string* error) {
    if (error) *error = "Eagle files are not supported yet";
    return nullptr;
}

}  // namespace nl
